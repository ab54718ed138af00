// One Python `Document`: a session of the session layer, and the lock that
// gives one Python call at a time the use of it.
//
// Design note
//   * One `PyDocument` per Python `Document`, owning one `Session` (which
//     owns the headless platform, the document and its worker). The message
//     queue is declared before the session, so it outlives the worker,
//     which may report conflicts into it.
//   * One Python call at a time uses a document: `DocumentCall` takes the
//     document's mutex without the GIL (so two Python threads cannot
//     deadlock). A call made from inside that same call (a progress callback
//     using its own document) is refused, not deadlocked.
//   * Stopping never waits for the lock: `stop` sets the run's cancel flag,
//     which the session's run reads between two generations. `close` from
//     another thread stops the run first, then takes the lock.
//   * Every stretch of native work without the GIL is a `NoGil`, and the
//     stretches are counted: at interpreter exit, every run is cancelled and
//     the exit waits until no thread is inside one (a thread that took the
//     GIL back after the interpreter began to finalize would be ended inside
//     our frames, which aborts the process). Once the exit has begun, no new
//     stretch starts.
//   * Placement conflicts can arise on the worker or inside a long run with
//     the GIL released, so they are queued as text and handed to `warnings`
//     once the GIL is held again: one warning per call, carrying them all.
#pragma once

#include <pybind11/pybind11.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "files/document.h"
#include "python/arguments.h"
#include "session/session.h"
#include "universe/universe.h"

// ---------------------------------------------------------------- the GIL

// Releases the GIL for a stretch of native work. Once the interpreter's
// exit has begun it raises SystemExit instead (see raiseStopped).
class NoGil {
public:
    NoGil();
    ~NoGil();
    NoGil(const NoGil&) = delete;
    NoGil& operator=(const NoGil&) = delete;

private:
    PyThreadState* state_;
};

// Calls write() again while it fails with EINTR, after Python's signal
// handlers have had their turn (their exception wins), as Python's own file
// calls do. `err` is errno after the last try.
template <class F>
bool retryInterrupted(F&& write, int& err) {
    for (;;) {
        bool ok;
        {
            NoGil nogil;
            errno = 0;
            ok = write();
            err = errno;
        }
        if (ok || err != EINTR) return ok;
        if (PyErr_CheckSignals() != 0) throw py::error_already_set();
    }
}

// The interpreter's exit: stops every run and waits for every NoGil to end.
void registerExitHook(py::module_& m);

// ---------------------------------------------------------------- documents

// A `history=` argument: None is the timeline's default budget, else bytes (0: none).
size_t historyArgument(const py::object& value);

// Why a run ended early.
enum class StopReason : int { None, Stop, Timeout, Close, Exit };

// cellforge.Stopped, carrying the reason ("stop", "timeout", "close", "exit") and the
// generations the run made; `result` is what the run recorded so far (None without record).
[[noreturn]] void raiseStopped(const std::string& message, StopReason reason, uint64_t generations,
                               const py::object& result = py::none());

class PyDocument;

// Exclusive use of one open document for the length of one Python call.
class DocumentCall {
public:
    explicit DocumentCall(PyDocument& d);
    ~DocumentCall();
    DocumentCall(const DocumentCall&) = delete;
    DocumentCall& operator=(const DocumentCall&) = delete;
    Session& session();
    CellforgeDocument& doc() { return session().document(); }
    PyDocument& owner() { return d_; }

private:
    PyDocument& d_;
};

class PyDocument {
public:
    PyDocument();  // no session yet: use empty() or open()
    ~PyDocument();

    // An empty universe. `history` is the timeline's budget in bytes (0: none).
    static std::unique_ptr<PyDocument> empty(size_t history);

    // Opens under the session layer's rules; raises what the problem calls for.
    static std::unique_ptr<PyDocument> open(const std::string& path, bool strict, int threads, size_t history);

    // An independent document in the same state (see copyOf in document.cpp).
    std::unique_ptr<PyDocument> copy();

    // Stops a run, then frees the session. From inside one of its own calls: RuntimeError.
    void close();
    bool closed() const { return !open_.load(); }
    // True inside one of this document's own calls on this thread (a progress callback).
    bool busyHere() const { return owner_.load() == std::this_thread::get_id(); }
    const std::string& source() const { return source_; }

    // ---- runs: the cancel flag the session's run reads, and why it was set.
    // The running call (holding the lock) marks the start and end of its run.
    void beginRun();
    void endRun();
    void requestStop(StopReason why);
    const std::atomic<bool>* cancelFlag() const { return &cancel_; }
    StopReason stopReason() const { return StopReason(reason_.load()); }

    // Hands the queued conflict texts to `warnings` as one ConflictWarning
    // carrying them all (the first kKeptMessages in detail).
    void flushMessages();
    static constexpr size_t kKeptMessages = 100000;
    void queueMessage(const std::string& m);

private:
    friend class DocumentCall;
    SessionOptions options(bool strict, size_t history);
    size_t history_ = 0;

    // Declared first: outlives the worker of the session below.
    std::mutex messagesLock_;
    std::vector<std::string> messages_;
    size_t droppedMessages_ = 0;

    std::mutex lock_;
    std::atomic<std::thread::id> owner_{};
    std::atomic<bool> open_{false};
    std::atomic<bool> cancel_{false};
    std::atomic<int> reason_{0};
    std::atomic<bool> running_{false};
    std::unique_ptr<Session> session_;
    std::string source_;
};

// Runs f(document, universe) with the worker held, the GIL released.
template <class R, class F>
R withDoc(PyDocument& self, F&& f) {
    DocumentCall s(self);
    CellforgeDocument& d = s.doc();
    if constexpr (std::is_void_v<R>) {
        NoGil nogil;
        d.withUniverse([&](Universe& u) { f(d, u); });
    } else {
        R r{};
        {
            NoGil nogil;
            d.withUniverse([&](Universe& u) { r = f(d, u); });
        }
        return r;
    }
}
