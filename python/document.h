// One Python `Document`: an open document and the lock that gives one Python
// call at a time the use of it.
//
// Design note
//   * One `PyDocument` per Python `Document`. It owns either a headless
//     platform (which owns a project's document) or a document of its own.
//     Members are declared so that the message queue and the view centre
//     outlive the document's worker, which may touch both.
//   * One Python call at a time uses a document: `DocumentCall` takes the
//     document's mutex without the GIL (so two Python threads cannot
//     deadlock), then holds the worker at its pause point through the
//     library's handshake. A call made from inside that same call (a
//     progress callback using its own document) is refused, not deadlocked.
//   * Placement conflicts can arise on the worker or inside a long run with
//     the GIL released, so they are queued as text and handed to `warnings`
//     once the GIL is held again, in the order they happened.
//   * Loading a project makes its folder current, as the runner does; the
//     caller's folder is restored afterwards (by descriptor, so a renamed
//     folder still comes back). A process-wide lock keeps two threads from
//     changing the folder at once.
#pragma once

#include <pybind11/pybind11.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "files/document.h"
#include "files/platform.h"
#include "python/arguments.h"
#include "universe/universe.h"
#include "view/camera.h"

class PyDocument;

// Exclusive use of one open document for the length of one Python call.
class DocumentCall {
public:
    explicit DocumentCall(PyDocument& d);
    ~DocumentCall();
    DocumentCall(const DocumentCall&) = delete;
    DocumentCall& operator=(const DocumentCall&) = delete;
    CellforgeDocument& doc();

private:
    PyDocument& d_;
};

class PyDocument {
public:
    PyDocument() {
        own_ = std::make_unique<CellforgeDocument>();
        doc_ = own_.get();
        attach();
    }
    ~PyDocument() {
        // Nobody else can hold a reference, so nobody holds the lock.
        std::lock_guard<std::mutex> g(lock_);
        release();
    }

    // ---- opening
    static std::unique_ptr<PyDocument> open(const std::string& path);

    void close() {
        if (owner_.load() == std::this_thread::get_id())
            raise(PyExc_RuntimeError, "a document cannot be closed from inside one of its own calls");
        if (!lock_.try_lock()) {
            py::gil_scoped_release nogil;
            lock_.lock();
        }
        std::lock_guard<std::mutex> g(lock_, std::adopt_lock);
        // The worker never needs the GIL, so joining it here is safe.
        release();
    }
    bool closed() const { return doc_ == nullptr; }
    // True inside one of this document's own calls on this thread (a progress callback).
    bool busyHere() const { return owner_.load() == std::this_thread::get_id(); }
    const std::string& source() const { return source_; }

    // Hands the queued conflict texts to `warnings`, oldest first.
    void flushMessages() {
        std::vector<std::string> m;
        {
            std::lock_guard<std::mutex> g(messagesLock_);
            m.swap(messages_);
        }
        if (m.empty()) return;
        py::object category = py::module_::import("cellforge").attr("ConflictWarning");
        for (size_t i = 0; i < m.size(); ++i) {
            if (PyErr_WarnEx(category.ptr(), m[i].c_str(), 1) != 0) {
                // Warnings turned into errors: the rest stay unreported, the error wins.
                throw py::error_already_set();
            }
        }
    }
    void queueMessage(const std::string& m) {
        std::lock_guard<std::mutex> g(messagesLock_);
        messages_.push_back(m);
    }

    Camera defaultCamera() const {
        Camera c = camera_;
        c.x = centre_.x.load();
        c.y = centre_.y.load();
        c.z = centre_.z.load();
        return c;
    }

private:
    friend class DocumentCall;
    void release() {
        if (doc_) doc_->setFirstViewCentre(nullptr);
        doc_ = nullptr;
        platform_.reset();
        own_.reset();
    }
    explicit PyDocument(std::unique_ptr<HeadlessPlatform> platform, CellforgeDocument* doc, std::string source)
        : platform_(std::move(platform)), doc_(doc), source_(std::move(source)) {
        attach();
    }
    // The runner's first view: centre of mass at load time, then it follows
    // the tracked terminal. Conflicts from now on go to the queue.
    void attach() {
        doc_->withUniverse([&](Universe& u) {
            u.onConflict = [this](const std::string& m) { queueMessage(m); };
            centreOfMass(camera_, u);
        });
        centre_.set(camera_.x, camera_.y, camera_.z);
        doc_->setFirstViewCentre(&centre_);
    }

    // Declared first: outlive the worker of the document below.
    std::mutex messagesLock_;
    std::vector<std::string> messages_;
    ViewCentre centre_;
    Camera camera_;

    std::mutex lock_;
    std::atomic<std::thread::id> owner_{};
    std::unique_ptr<HeadlessPlatform> platform_;
    std::unique_ptr<CellforgeDocument> own_;
    CellforgeDocument* doc_ = nullptr;
    std::string source_;
};

// Runs f(document, universe) with the worker held, the GIL released.
template <class R, class F>
R withDoc(PyDocument& self, F&& f) {
    DocumentCall s(self);
    CellforgeDocument& d = s.doc();
    if constexpr (std::is_void_v<R>) {
        py::gil_scoped_release nogil;
        d.withUniverse([&](Universe& u) { f(d, u); });
    } else {
        R r{};
        {
            py::gil_scoped_release nogil;
            d.withUniverse([&](Universe& u) { r = f(d, u); });
        }
        return r;
    }
}
