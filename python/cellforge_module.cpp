// The Python module `cellforge`: bindings over the document, file and view
// libraries. Nothing here decides what a generation does; every call ends in
// the same library function the headless runner uses.
//
// Design note
//   * One `PyDocument` per Python `Document`. It owns either a headless
//     platform (which owns a project's document) or a document of its own.
//     Members are declared so that the message queue and the view centre
//     outlive the document's worker, which may touch both.
//   * One Python call at a time uses a document: `Session` takes the
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
//   * Every array handed to Python is numpy-owned memory, so it outlives the
//     document.
#include <fcntl.h>
#include <sys/stat.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cranetalk/array_output.h"
#include "cranetalk/assembler.h"
#include "cranetalk/line_writer.h"
#include "cranetalk/listing.h"
#include "cranetalk/stimulus.h"
#include "files/checkpoint.h"
#include "files/document.h"
#include "files/input_file.h"
#include "files/grid_file.h"
#include "files/memory_image.h"
#include "files/platform.h"
#include "files/project.h"
#include "universe/directions.h"
#include "universe/universe.h"
#include "view/bitmap.h"
#include "view/camera.h"
#include "view/offscreen.h"
#include "view/png.h"
#include "view/scene.h"

namespace py = pybind11;
using namespace pybind11::literals;

namespace {

// ---------------------------------------------------------------- helpers

std::mutex folderLock;  // the current folder is process-wide
std::mutex drawLock;    // one off-screen context at a time

[[noreturn]] void raise(PyObject* type, const std::string& message) {
    PyErr_SetString(type, message.c_str());
    throw py::error_already_set();
}

// OSError(errno, text, path): Python picks the subclass (FileNotFoundError, ...).
[[noreturn]] void raiseOsError(int err, const std::string& path, const std::string& what) {
    if (err == 0) err = EIO;
    py::object e = py::module_::import("builtins").attr("OSError")(err, what + ": " + std::strerror(err), path);
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(e.ptr())), e.ptr());
    throw py::error_already_set();
}

// A str, bytes or os.PathLike argument as a file-system path.
std::string pathArgument(const py::handle& value, const char* name) {
    py::module_ os = py::module_::import("os");
    if (!py::isinstance<py::str>(value) && !py::isinstance<py::bytes>(value) && !py::hasattr(value, "__fspath__"))
        raise(PyExc_TypeError, std::string(name) + " must be a path (str or os.PathLike), not " +
                                   std::string(py::str(py::type::handle_of(value).attr("__name__"))));
    std::string path = py::str(os.attr("fsdecode")(os.attr("fspath")(value)));
    if (path.empty()) raise(PyExc_ValueError, std::string(name) + " must not be empty");
    if (path.find('\0') != std::string::npos) raise(PyExc_ValueError, std::string(name) + " contains a NUL character");
    return path;
}

// Lets Python itself say why a file cannot be read (missing, a folder, no
// permission): the exception then names the path the way every other file
// error in a script does.
void requireReadableFile(const std::string& path) {
    // Python's own open would block on a FIFO until something writes to it,
    // so anything that is not a regular file is refused without opening it.
    if (checkInputFile(path) == FileCheck::NotRegular) {
        struct stat st {};
        const bool folder = ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        raiseOsError(folder ? EISDIR : EINVAL, path, "cannot read");
    }
    py::object f = py::module_::import("builtins").attr("open")(path, "rb");
    f.attr("close")();
}

// A Python integer within [lo, hi].
long long integerArgument(const py::handle& value, const char* name, long long lo, long long hi) {
    if (py::isinstance<py::bool_>(value) || !PyIndex_Check(value.ptr()))
        raise(PyExc_TypeError, std::string(name) + " must be an integer, not " +
                                   std::string(py::str(py::type::handle_of(value).attr("__name__"))));
    py::int_ v = py::reinterpret_steal<py::int_>(PyNumber_Index(value.ptr()));
    if (!v) throw py::error_already_set();
    int overflow = 0;
    const long long n = PyLong_AsLongLongAndOverflow(v.ptr(), &overflow);
    if (overflow != 0 || n < lo || n > hi)
        raise(PyExc_ValueError, std::string(name) + " must be from " + std::to_string(lo) + " to " +
                                    std::to_string(hi) + ", not " + std::string(py::str(v)));
    return n;
}

uint64_t countArgument(const py::handle& value, const char* name) {
    if (py::isinstance<py::bool_>(value) || !PyIndex_Check(value.ptr()))
        raise(PyExc_TypeError, std::string(name) + " must be an integer, not " +
                                   std::string(py::str(py::type::handle_of(value).attr("__name__"))));
    py::int_ v = py::reinterpret_steal<py::int_>(PyNumber_Index(value.ptr()));
    if (!v) throw py::error_already_set();
    if (PyObject_RichCompareBool(v.ptr(), py::int_(0).ptr(), Py_LT) == 1)
        raise(PyExc_ValueError, std::string(name) + " must not be negative, not " + std::string(py::str(v)));
    const unsigned long long n = PyLong_AsUnsignedLongLong(v.ptr());
    if (PyErr_Occurred()) {
        PyErr_Clear();
        raise(PyExc_OverflowError, std::string(name) + " is too large");
    }
    return n;
}

// Text that the engine produced from file bytes: kept byte for byte.
py::str textOf(const std::string& s) {
    PyObject* o = PyUnicode_DecodeUTF8(s.data(), Py_ssize_t(s.size()), "surrogateescape");
    if (!o) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(o);
}

std::string typeName(const py::handle& h) { return py::str(py::type::handle_of(h).attr("__name__")); }

// The bytes of a bytes, bytearray or memoryview object.
std::string bytesOf(const py::handle& h) {
    py::bytes b = py::reinterpret_steal<py::bytes>(PyBytes_FromObject(h.ptr()));
    if (!b) throw py::error_already_set();
    return b.cast<std::string>();
}

// "X,Y,Z,ALT,AZ" as the runner reads it: five finite numbers.
Camera cameraFromTuple(const py::handle& value) {
    if (!py::isinstance<py::sequence>(value) || py::isinstance<py::str>(value) || py::len(value) != 5)
        raise(PyExc_TypeError, "camera must be (x, y, z, alt, az) or a saved view's description");
    float v[5];
    py::sequence s = py::reinterpret_borrow<py::sequence>(value);
    for (size_t k = 0; k < 5; ++k) {
        py::object item = s[k];
        if (py::isinstance<py::bool_>(item) || !(py::isinstance<py::float_>(item) || PyIndex_Check(item.ptr()) ||
                                                 PyFloat_Check(item.ptr()) || py::hasattr(item, "__float__")))
            raise(PyExc_TypeError, "camera values must be numbers, not " + typeName(item));
        const double d = PyFloat_AsDouble(item.ptr());
        if (d == -1.0 && PyErr_Occurred()) throw py::error_already_set();
        if (!std::isfinite(d) || std::fabs(d) > 3.0e38)
            raise(PyExc_ValueError, "camera values must be finite numbers within +-3e38");
        v[k] = float(d);
    }
    return Camera{v[0], v[1], v[2], v[4], v[3]};
}

// --------------------------------------------------------------- document

class PyDocument;

// Exclusive use of one open document for the length of one Python call.
class Session {
public:
    explicit Session(PyDocument& d);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
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
    friend class Session;
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

Session::Session(PyDocument& d) : d_(d) {
    if (d.closed()) raise(PyExc_ValueError, "the document is closed");
    if (d.owner_.load() == std::this_thread::get_id())
        raise(PyExc_RuntimeError, "the document is busy with another call on this thread "
                                  "(a progress callback cannot use the document it reports on)");
    if (!d.lock_.try_lock()) {
        py::gil_scoped_release nogil;
        d.lock_.lock();
    }
    if (d.closed()) {
        d.lock_.unlock();
        raise(PyExc_ValueError, "the document is closed");
    }
    d.owner_.store(std::this_thread::get_id());
}

Session::~Session() {
    d_.owner_.store(std::thread::id{});
    d_.lock_.unlock();
}

CellforgeDocument& Session::doc() { return *d_.doc_; }

// Restores the current folder when it goes out of scope.
class FolderKeeper {
public:
    FolderKeeper() : fd_(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
    ~FolderKeeper() {
        if (fd_ >= 0) {
            if (fchdir(fd_) != 0) {
                // The folder went away while we were elsewhere; nothing to go back to.
            }
            ::close(fd_);
        }
    }
    FolderKeeper(const FolderKeeper&) = delete;
    FolderKeeper& operator=(const FolderKeeper&) = delete;

private:
    int fd_;
};

bool endsWith(const std::string& s, const char* ext) {
    const size_t n = std::strlen(ext);
    return s.size() >= n && s.compare(s.size() - n, n, ext) == 0;
}

std::unique_ptr<PyDocument> PyDocument::open(const std::string& path) {
    const bool isProject = endsWith(path, ".prj");
    if (!isProject && !hasGridSuffix(path))
        raise(PyExc_ValueError, "'" + path + "' is neither a grid file (*.grd) nor a project file (*.prj)");
    requireReadableFile(path);
    const std::string full = fullPath(path);

    if (!isProject) {
        auto d = std::unique_ptr<PyDocument>(new PyDocument());
        GridReadResult rr;
        {
            py::gil_scoped_release nogil;
            d->doc_->withUniverse([&](Universe& u) { openGridDocument(u, full, &rr); });
            d->doc_->setPath(full);
            // The default camera is that of the loaded universe.
            d->doc_->withUniverse([&](Universe& u) { centreOfMass(d->camera_, u); });
            d->centre_.set(d->camera_.x, d->camera_.y, d->camera_.z);
        }
        d->source_ = full;
        d->flushMessages();
        if (rr.skippedParts) {
            // Not a placement conflict: the runner's note, as a plain warning.
            const std::string note = "skipped " + std::to_string(rr.skippedParts) +
                                     " parts outside the coordinate range of +-1000000000";
            if (PyErr_WarnEx(PyExc_UserWarning, note.c_str(), 1) != 0) throw py::error_already_set();
        }
        return d;
    }

    // Check the project's input files first, so a script hears which one is
    // missing instead of getting the desktop's silent empty universe.
    ProjectFiles files;
    {
        std::ifstream in(full);
        files = readProjectLines(in);
    }
    if (!files.grid) raise(PyExc_ValueError, "project '" + path + "' names no grid file (*.grd)");
    const std::string folder = folderOf(full);
    for (const auto* name : {&files.grid, &files.terminals, &files.stimulus, &files.monitor}) {
        if (!*name) continue;
        const std::string& n = **name;
        requireReadableFile(!n.empty() && n[0] == '/' ? n : folder + "/" + n);
    }

    auto platform = std::make_unique<HeadlessPlatform>();
    auto messages = std::make_shared<std::vector<std::string>>();
    auto messagesLock = std::make_shared<std::mutex>();
    platform->messageSink = [messages, messagesLock](const std::string& m) {
        std::lock_guard<std::mutex> g(*messagesLock);
        messages->push_back(m);
    };
    ProjectLoadResult loaded;
    bool ok = false;
    {
        py::gil_scoped_release nogil;
        std::lock_guard<std::mutex> g(folderLock);
        FolderKeeper keep;
        ok = loadProjectFromPath(*platform, full, &loaded);
    }
    if (!ok) raiseOsError(errno, path, "cannot open project");
    if (!loaded.document) raise(PyExc_OSError, "cannot open grid '" + *loaded.files.grid + "'");
    auto d = std::unique_ptr<PyDocument>(new PyDocument(std::move(platform), loaded.document, full));
    {
        std::lock_guard<std::mutex> g(*messagesLock);
        for (const auto& m : *messages) d->queueMessage(m);
    }
    // From here on the platform's sink is not needed: conflicts go to the queue.
    d->platform_->messageSink = [raw = d.get()](const std::string& m) { raw->queueMessage(m); };
    d->flushMessages();
    return d;
}

// ------------------------------------------------------------------ parts

#pragma pack(push, 1)
struct PartRow {
    int32_t x, y, z, type, front, side, up;
    uint8_t outputs, bonds;
};
#pragma pack(pop)
static_assert(sizeof(PartRow) == 30);

py::dtype partDtype() {
    py::list fields;
    for (const char* name : {"x", "y", "z", "type", "front", "side", "up"}) fields.append(py::make_tuple(name, "<i4"));
    fields.append(py::make_tuple("outputs", "u1"));
    fields.append(py::make_tuple("bonds", "u1"));
    return py::dtype::from_args(fields);
}

// Cells in the order the grid file is written: blocks in bucket and chain
// order, then y, z, x within the block.
template <class F>
void forEachPart(const Universe& u, F&& f) {
    u.forEachBlock([&](const UniverseBlock* b) {
        if (!b->occupied) return;
        for (int iy = 0; iy < 2; ++iy)
            for (int iz = 0; iz < 3; ++iz)
                for (int ix = 0; ix < 2; ++ix) {
                    const int s = ix * 6 + iy * 3 + iz;
                    if (b->cells.type[s] != 0) f(b, s);
                }
    });
}

PartRow rowOf(const UniverseBlock* b, int s) {
    return PartRow{b->cellX(s), b->cellY(s), b->cellZ(s), b->partType(s), b->front(s), b->side(s), b->up(s),
                   b->cells.outputs[s], b->cells.bonds[s]};
}

// -------------------------------------------------------------- assembler

struct Assembly {
    py::bytes image;
    py::str listing;
    py::str stimulus;
    py::str array;
    py::list messages;
    uint32_t length = 0;
};

Assembly assemble(const py::handle& source) {
    std::string text;
    if (py::isinstance<py::str>(source)) {
        text = source.cast<std::string>();
    } else if (py::isinstance<py::bytes>(source) || py::isinstance<py::bytearray>(source)) {
        text = bytesOf(source);
    } else {
        raise(PyExc_TypeError, "source must be str or bytes, not " + typeName(source));
    }
    std::string listing, stimulus, array, err, image;
    uint32_t length = 0;
    {
        py::gil_scoped_release nogil;
        // The steps and their order are those of cranetalk's command line.
        std::istringstream in(text);
        std::ostringstream errOut, listOut, stimOut, arrayOut;
        const cranetalk::AssemblyResult r = cranetalk::assembleSource(in, errOut);
        cranetalk::writeListing(listOut, r);
        cranetalk::writeStimulus(stimOut, r);
        cranetalk::printImage(arrayOut, r);
        cranetalk::writeLine(errOut, std::to_string(r.programLength));
        length = r.programLength;
        image.assign(reinterpret_cast<const char*>(r.image.data()), r.programLength);
        listing = listOut.str();
        stimulus = stimOut.str();
        array = arrayOut.str();
        err = errOut.str();
    }
    Assembly a;
    a.image = py::bytes(image);
    a.listing = textOf(listing);
    a.stimulus = textOf(stimulus);
    a.array = textOf(array);
    a.length = length;
    size_t start = 0;
    while (start < err.size()) {
        size_t end = err.find('\n', start);
        if (end == std::string::npos) end = err.size();
        a.messages.append(textOf(err.substr(start, end - start)));
        start = end + 1;
    }
    return a;
}

// ----------------------------------------------------------------- memory

std::vector<int32_t> memoryImage(const py::handle& image) {
    std::vector<int32_t> words;
    if (py::isinstance<py::str>(image) || py::hasattr(image, "__fspath__")) {
        const std::string path = pathArgument(image, "image");
        requireReadableFile(path);
        py::gil_scoped_release nogil;
        std::ifstream in(path);
        words = readProgramImage(in);
        return words;
    }
    if (py::isinstance<py::bytes>(image) || py::isinstance<py::bytearray>(image) ||
        py::isinstance<py::memoryview>(image)) {
        const std::string b = bytesOf(image);
        if (b.size() > kMaxImageWords)
            raise(PyExc_ValueError, "a memory image holds at most " + std::to_string(kMaxImageWords) + " words");
        for (unsigned char c : b) words.push_back(int32_t(c));
        return words;
    }
    if (py::isinstance<py::array>(image)) {
        py::array a = py::reinterpret_borrow<py::array>(image);
        const char kind = a.dtype().kind();
        if (kind != 'i' && kind != 'u' && kind != 'b')
            raise(PyExc_TypeError, "a memory image array must hold integers");
        if (a.ndim() != 1) raise(PyExc_ValueError, "a memory image array must be one-dimensional");
    }
    if (!py::isinstance<py::sequence>(image) && !py::isinstance<py::array>(image))
        raise(PyExc_TypeError, "image must be a path, bytes or a sequence of integers, not " + typeName(image));
    const size_t n = py::len(image);
    if (n > kMaxImageWords)
        raise(PyExc_ValueError, "a memory image holds at most " + std::to_string(kMaxImageWords) + " words");
    words.reserve(n);
    for (py::handle item : image)
        words.push_back(int32_t(integerArgument(item, "a memory word", INT32_MIN, INT32_MAX)));
    return words;
}

// ----------------------------------------------------------------- render

py::array_t<uint8_t> renderView(PyDocument& self, const py::object& cameraArg, const py::object& sizeArg,
                                const py::object& pathArg) {
    if (!py::isinstance<py::sequence>(sizeArg) || py::isinstance<py::str>(sizeArg) || py::len(sizeArg) != 2)
        raise(PyExc_TypeError, "size must be (width, height)");
    py::sequence sz = py::reinterpret_borrow<py::sequence>(sizeArg);
    const int width = int(integerArgument(sz[0], "width", 1, 16384));
    const int height = int(integerArgument(sz[1], "height", 1, 16384));
    std::string path;
    if (!pathArg.is_none()) path = pathArgument(pathArg, "path");

    Session s(self);
    CellforgeDocument& d = s.doc();
    Camera camera = self.defaultCamera();
    if (py::isinstance<py::str>(cameraArg)) {
        const std::string name = cameraArg.cast<std::string>();
        const ViewList* views = d.savedViews();
        const SavedView* found = nullptr;
        if (views)
            for (const SavedView& v : views->views)
                if (v.description == name) {
                    found = &v;
                    break;
                }
        if (!found) raise(PyExc_ValueError, "no saved view is described as '" + name + "'");
        camera = Camera{found->x, found->y, found->z, found->az, found->alt};
    } else if (!cameraArg.is_none()) {
        camera = cameraFromTuple(cameraArg);
    }

    ScreenBitmap bm;
    std::string error;
    bool written = true;
    int writeErrno = 0;
    {
        py::gil_scoped_release nogil;
        std::lock_guard<std::mutex> g(drawLock);
        std::unique_ptr<OffscreenContext> context = OffscreenContext::create(width, height, error);
        if (context) {
            setUpViewState(width, height);
            SceneRenderer renderer;
            renderer.renderFrame(camera, d.universe(), &d.driver());
            bm = captureFramebuffer(width, height);
            if (!bm.pixels.empty() && !path.empty()) {
                errno = 0;
                if (hasPngSuffix(path)) {
                    written = writePngFile(bm, path);
                } else {
                    const std::vector<uint8_t> dib = bitmapToDib(bm, kUncompressedRgb, nullptr);
                    written = !dib.empty() && writeBitmapFile(dib, path);
                }
                writeErrno = errno;
            }
        }
    }
    if (!error.empty() || bm.pixels.empty())
        raise(PyExc_RuntimeError, "cannot draw the view: " + (error.empty() ? std::string("no pixels") : error));
    if (!written) raiseOsError(writeErrno, path, "cannot write the picture");

    py::array_t<uint8_t> out({py::ssize_t(height), py::ssize_t(width), py::ssize_t(3)});
    uint8_t* dst = out.mutable_data();
    const uint32_t rowSize = bitmapRowSize(width, 24);
    {
        py::gil_scoped_release nogil;
        for (int row = 0; row < height; ++row) {
            const uint8_t* src = bm.pixels.data() + size_t(height - 1 - row) * rowSize;
            uint8_t* o = dst + size_t(row) * size_t(width) * 3;
            for (int x = 0; x < width; ++x) {
                o[3 * x] = src[3 * x + 2];
                o[3 * x + 1] = src[3 * x + 1];
                o[3 * x + 2] = src[3 * x];
            }
        }
    }
    return out;
}

// -------------------------------------------------------------------- run

// Shows a run's progress: a tqdm bar when tqdm is there, else a line on
// stderr; or calls the user's function with (done, total).
class RunProgress {
public:
    RunProgress(const py::object& progress, uint64_t total) : total_(total) {
        if (progress.is_none() || (py::isinstance<py::bool_>(progress) && !progress.cast<bool>())) return;
        if (py::isinstance<py::bool_>(progress)) {
            try {
                py::module_ tqdm = py::module_::import("tqdm");
                py::dict kw;
                kw["total"] = py::int_(total);
                kw["unit"] = "gen";
                kw["unit_scale"] = true;
                bar_ = tqdm.attr("tqdm")(**kw);
            } catch (py::error_already_set& e) {
                if (!e.matches(PyExc_ImportError)) throw;
                plain_ = true;
                start_ = std::chrono::steady_clock::now();
            }
        } else if (PyCallable_Check(progress.ptr())) {
            callback_ = progress;
        } else {
            raise(PyExc_TypeError, "progress must be None, True/False or a callable taking (done, total)");
        }
    }
    void update(uint64_t done) {
        if (bar_) {
            bar_.attr("update")(py::int_(done - shown_));
        } else if (callback_) {
            callback_(py::int_(done), py::int_(total_));
        } else if (plain_) {
            const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
            py::print(py::str("\r{}/{} generations  {:.0f} gen/s")
                          .format(done, total_, secs > 0 ? double(done) / secs : 0.0),
                      "end"_a = "", "file"_a = py::module_::import("sys").attr("stderr"), "flush"_a = true);
        }
        shown_ = done;
    }
    void finish() {
        if (bar_) {
            py::object b = bar_;
            bar_ = py::object();
            b.attr("close")();
        } else if (plain_) {
            plain_ = false;
            py::print("", "file"_a = py::module_::import("sys").attr("stderr"));
        }
    }
    ~RunProgress() {
        if (bar_) {
            // Unwinding from an error: close the bar without masking that error.
            PyObject *t, *v, *tb;
            PyErr_Fetch(&t, &v, &tb);
            try {
                bar_.attr("close")();
            } catch (py::error_already_set&) {
            }
            PyErr_Restore(t, v, tb);
        }
    }
    bool active() const { return bar_ || callback_ || plain_; }

private:
    uint64_t total_;
    uint64_t shown_ = 0;
    py::object bar_, callback_;
    bool plain_ = false;
    std::chrono::steady_clock::time_point start_;
};

void runGenerations(PyDocument& self, const py::object& nArg, const py::object& progressArg) {
    const uint64_t n = countArgument(nArg, "n");
    RunProgress progress(progressArg, n);
    std::exception_ptr failure;
    {
        Session s(self);
        CellforgeDocument& d = s.doc();
        SteppingDriver& driver = d.driver();
        bool pausedHere = false;
        {
            py::gil_scoped_release nogil;
            pausedHere = d.pauseForRead();
        }
        // Generations run in slices of about 50 ms without the GIL; between
        // slices a pending Ctrl+C or the progress display gets its turn. The
        // clock is read every `stride` generations, a stride that adapts so
        // that fast universes do not pay for the reading.
        using clock = std::chrono::steady_clock;
        const auto slice = std::chrono::milliseconds(50);
        uint64_t done = 0, stride = 1;
        try {
            while (done < n) {
                {
                    py::gil_scoped_release nogil;
                    const auto sliceStart = clock::now();
                    auto lastCheck = sliceStart;
                    while (done < n) {
                        const uint64_t batch = std::min<uint64_t>(stride, n - done);
                        for (uint64_t i = 0; i < batch; ++i) driver.runGeneration();
                        done += batch;
                        const auto now = clock::now();
                        if (now - lastCheck < std::chrono::microseconds(500) && stride < 65536) stride *= 2;
                        else if (now - lastCheck > std::chrono::milliseconds(10) && stride > 1) stride /= 2;
                        lastCheck = now;
                        if (now - sliceStart >= slice) break;
                    }
                }
                if (PyErr_CheckSignals() != 0) throw py::error_already_set();
                if (progress.active()) progress.update(done);
                self.flushMessages();
            }
        } catch (...) {
            failure = std::current_exception();
        }
        {
            py::gil_scoped_release nogil;
            d.resumeAfterRead(pausedHere);
        }
    }
    if (failure) std::rethrow_exception(failure);
    progress.finish();
    self.flushMessages();
}

// ---------------------------------------------------------------- binding

template <class R, class F>
R withDoc(PyDocument& self, F&& f) {
    Session s(self);
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

}  // namespace

PYBIND11_MODULE(cellforge, m) {
    m.doc() =
        "Cellforge from Python: open, run, inspect, draw and save universes, and assemble programs.\n\n"
        "Every call ends in the same library code as cellforge-run and cranetalk, so a script\n"
        "that runs N generations gets exactly the universe `cellforge-run -n N` saves.";

    py::object userWarning = py::module_::import("builtins").attr("UserWarning");
    py::object conflictWarning = py::reinterpret_steal<py::object>(
        PyErr_NewExceptionWithDoc("cellforge.ConflictWarning",
                                  "A placement landed on an occupied cell (the text is the one the desktop shows).",
                                  userWarning.ptr(), nullptr));
    m.attr("ConflictWarning") = conflictWarning;

    py::object namedtuple = py::module_::import("collections").attr("namedtuple");
    py::object cellType = namedtuple("Cell", "x y z type front side up outputs bonds");
    cellType.attr("__module__") = "cellforge";
    cellType.attr("__doc__") = "One part: position, type, frame (front, side, up) and the output and bond masks.";
    m.attr("Cell") = cellType;
    m.attr("PART_DTYPE") = partDtype();

    py::class_<Assembly>(m, "Assembly", "What cranetalk writes for one source.")
        .def_readonly("image", &Assembly::image, "The program image, `length` bytes (one 6-bit value each).")
        .def_readonly("listing", &Assembly::listing, "The listing file's text.")
        .def_readonly("stimulus", &Assembly::stimulus, "The stimulus file's text.")
        .def_readonly("array", &Assembly::array, "The image as cranetalk prints it (a memory file's text).")
        .def_readonly("messages", &Assembly::messages, "The lines cranetalk writes to standard error.")
        .def_readonly("length", &Assembly::length, "The program length.")
        .def("__repr__", [](const Assembly& a) {
            return "<cellforge.Assembly length " + std::to_string(a.length) + ", " +
                   std::to_string(py::len(a.messages)) + " messages>";
        });

    m.def("assemble", &assemble, "source"_a,
          "Assembles program source text (str or bytes) as cranetalk does and returns an Assembly\n"
          "with `image`, `listing`, `stimulus`, `array` and `messages`.");

    py::class_<PyDocument> doc(m, "Document",
                               "One universe with its stepping driver and the run objects of a project.\n\n"
                               "Use as a context manager to stop the worker and free the universe on exit.");
    doc.def(py::init<>(), "An empty universe.");
    m.def(
        "open",
        [](const py::object& path) { return PyDocument::open(pathArgument(path, "path")); }, "path"_a,
        "Opens a grid (*.grd) or a project (*.prj) as a Document.\n\n"
        "A project's names are read from its folder; the caller's current folder is left as it was.\n"
        "Missing or unreadable files raise OSError (FileNotFoundError, IsADirectoryError, ...);\n"
        "placement conflicts are reported as cellforge.ConflictWarning.");

    doc.def("close", &PyDocument::close, "Stops the worker and frees the universe. Later calls raise ValueError.")
        .def_property_readonly("closed", &PyDocument::closed)
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__", [](PyDocument& self, py::args) {
            self.close();
            return false;
        })
        .def("__repr__", [](PyDocument& self) -> std::string {
            const std::string where = self.source().empty() ? "" : " '" + self.source() + "'";
            if (self.closed()) return "<cellforge.Document" + where + " (closed)>";
            if (self.busyHere()) return "<cellforge.Document" + where + " (running)>";
            struct C {
                uint32_t g;
                size_t parts, blocks;
                int32_t active;
            };
            const C c = withDoc<C>(self, [](CellforgeDocument&, Universe& u) {
                return C{u.generation, u.partCount(), u.blockCount(), u.activeBlockCount};
            });
            return "<cellforge.Document" + where + " generation " + std::to_string(c.g) + ", " +
                   std::to_string(c.parts) + " parts in " + std::to_string(c.blocks) + " blocks, " +
                   std::to_string(c.active) + " active>";
        })
        .def_property_readonly("path", [](PyDocument& self) -> py::object {
            if (self.source().empty()) return py::none();
            return py::str(self.source());
        }, "The file the document was opened from, or None.");

    // ---- running
    doc.def("run", &runGenerations, "n"_a, "progress"_a = py::none(),
            "Runs n generations exactly as the worker does (stimulus, four phases, monitor).\n\n"
            "progress=True shows a progress bar with generations/s (tqdm when installed); a callable\n"
            "is called with (done, total). Ctrl+C stops between two generations with KeyboardInterrupt\n"
            "and leaves a consistent universe.")
        .def("pulse", [](PyDocument& self) {
            withDoc<void>(self, [](CellforgeDocument&, Universe& u) { u.inputPulse.store(1); });
        }, "Sets the input pulse for the next generation (the K key).");

    // ---- counters
    doc.def_property_readonly("generation", [](PyDocument& self) {
            return withDoc<uint32_t>(self, [](CellforgeDocument&, Universe& u) { return u.generation; });
        })
        .def_property_readonly("active_blocks", [](PyDocument& self) {
            return withDoc<int32_t>(self, [](CellforgeDocument&, Universe& u) { return u.activeBlockCount; });
        })
        .def_property_readonly("part_count", [](PyDocument& self) {
            return withDoc<size_t>(self, [](CellforgeDocument&, Universe& u) { return u.partCount(); });
        })
        .def_property_readonly("block_count", [](PyDocument& self) {
            return withDoc<size_t>(self, [](CellforgeDocument&, Universe& u) { return u.blockCount(); });
        });

    // ---- cells
    doc.def("parts", [](PyDocument& self) {
            Session s(self);
            CellforgeDocument& d = s.doc();
            bool pausedHere = false;
            size_t count = 0;
            {
                py::gil_scoped_release nogil;
                pausedHere = d.pauseForRead();
                count = d.universe().partCount();
            }
            py::array out;
            try {
                out = py::array(partDtype(), std::vector<py::ssize_t>{py::ssize_t(count)});
            } catch (...) {
                py::gil_scoped_release nogil;
                d.resumeAfterRead(pausedHere);
                throw;
            }
            auto* rows = static_cast<PartRow*>(out.mutable_data());
            {
                py::gil_scoped_release nogil;
                size_t i = 0;
                forEachPart(d.universe(), [&](const UniverseBlock* b, int slot) {
                    if (i < count) rows[i] = rowOf(b, slot);
                    ++i;
                });
                d.resumeAfterRead(pausedHere);
            }
            return out;
        }, "All parts in save order as a numpy structured array with fields\n"
           "x y z type front side up (int32) and outputs bonds (uint8). The array is a copy.")
        .def("cell", [](PyDocument& self, const py::object& x, const py::object& y, const py::object& z) -> py::object {
            const int32_t cx = int32_t(integerArgument(x, "x", INT32_MIN, INT32_MAX));
            const int32_t cy = int32_t(integerArgument(y, "y", INT32_MIN, INT32_MAX));
            const int32_t cz = int32_t(integerArgument(z, "z", INT32_MIN, INT32_MAX));
            struct Found {
                bool any = false;
                PartRow row{};
            };
            const Found f = withDoc<Found>(self, [&](CellforgeDocument&, Universe& u) {
                Found r;
                const UniverseBlock* b = u.findBlock(cx, cy, cz);
                const int s = Universe::slotOf(cx, cy, cz);
                if (b && b->cells.type[s] != 0) {
                    r.any = true;
                    r.row = rowOf(b, s);
                }
                return r;
            });
            if (!f.any) return py::none();
            // Copies: the packed row's members cannot be bound to references.
            const PartRow r = f.row;
            return py::module_::import("cellforge").attr("Cell")(int32_t{r.x}, int32_t{r.y}, int32_t{r.z},
                                                                 int32_t{r.type}, int32_t{r.front}, int32_t{r.side},
                                                                 int32_t{r.up}, int{r.outputs}, int{r.bonds});
        }, "x"_a, "y"_a, "z"_a, "The part at (x, y, z) as a Cell, or None for an empty or absent cell.")
        .def("place", [](PyDocument& self, const py::object& x, const py::object& y, const py::object& z,
                         const py::object& type, const py::object& front, const py::object& side,
                         const py::object& outputs, const py::object& bonds) {
            UniverseCell c;
            c.x = int32_t(integerArgument(x, "x", -kCoordinateLimit, kCoordinateLimit));
            c.y = int32_t(integerArgument(y, "y", -kCoordinateLimit, kCoordinateLimit));
            c.z = int32_t(integerArgument(z, "z", -kCoordinateLimit, kCoordinateLimit));
            c.partType = int32_t(integerArgument(type, "type", INT32_MIN, INT32_MAX));
            if (c.partType == 0) raise(PyExc_ValueError, "type must not be 0 (that is an empty cell)");
            c.front = int32_t(integerArgument(front, "front", 0, 5));
            c.side = int32_t(integerArgument(side, "side", 0, 5));
            if (c.side == c.front || c.side == oppositeDirection(c.front))
                raise(PyExc_ValueError, "front " + std::to_string(c.front) + " and side " + std::to_string(c.side) +
                                            " are not perpendicular");
            c.up = deriveUp(c.front, c.side);
            c.outputs = uint8_t(integerArgument(outputs, "outputs", 0, 63));
            c.bonds = uint8_t(integerArgument(bonds, "bonds", 0, 63));
            withDoc<void>(self, [&](CellforgeDocument&, Universe& u) { u.placeCell(c); });
            self.flushMessages();
        }, "x"_a, "y"_a, "z"_a, "type"_a, "front"_a = 0, "side"_a = 1, "outputs"_a = 0, "bonds"_a = 0,
           "Places a part (placeCell; up follows from front and side). An occupied cell is replaced\n"
           "and the conflict text is reported as cellforge.ConflictWarning.");

    // ---- files
    doc.def("save", [](PyDocument& self, const py::object& pathArg) {
            const std::string path = pathArgument(pathArg, "path");
            Session s(self);
            bool ok = false;
            int err = 0;
            {
                py::gil_scoped_release nogil;
                errno = 0;
                ok = s.doc().saveGrid(path);
                err = errno;
            }
            if (!ok) raiseOsError(err, path, "cannot write the grid");
        }, "path"_a, "Writes the universe as a grid file, byte for byte as cellforge-run --save.")
        .def("checkpoint", [](PyDocument& self, const py::object& pathArg) {
            const std::string path = pathArgument(pathArg, "path");
            Session s(self);
            bool ok = false;
            std::string error;
            {
                py::gil_scoped_release nogil;
                ok = writeCheckpoint(s.doc(), path, error);
            }
            if (!ok) raise(PyExc_OSError, error);
        }, "path"_a,
        "Writes an exact checkpoint of the run (universe, list orders, generation, stimulus and\n"
        "monitor positions) to path, atomically; the same file as cellforge-run --checkpoint.")
        .def("resume", [](PyDocument& self, const py::object& pathArg) {
            const std::string path = pathArgument(pathArg, "path");
            requireReadableFile(path);
            Session s(self);
            bool ok = false;
            std::string error;
            {
                py::gil_scoped_release nogil;
                ok = readCheckpoint(s.doc(), path, error);
            }
            if (!ok) raise(PyExc_ValueError, "cannot resume from '" + path + "': " + error);
        }, "path"_a,
        "Continues the run a checkpoint froze. Open the same project (or grid) first: its run\n"
        "objects are matched by terminal name. A refused checkpoint (another version, cut off,\n"
        "damaged, or run objects that do not match) raises ValueError and changes nothing.\n"
        "The monitor continues in the file the open started.")
        .def("write_memory", [](PyDocument& self, const py::object& image, const py::object& corner,
                                const py::object& offset) {
            const std::vector<int32_t> words = memoryImage(image);
            if (!py::isinstance<py::sequence>(corner) || py::isinstance<py::str>(corner) || py::len(corner) != 3)
                raise(PyExc_TypeError, "corner must be (x, y, z)");
            py::sequence c = py::reinterpret_borrow<py::sequence>(corner);
            const int32_t x0 = int32_t(integerArgument(c[0], "corner x", INT32_MIN, INT32_MAX));
            const int32_t y0 = int32_t(integerArgument(c[1], "corner y", INT32_MIN, INT32_MAX));
            const int32_t z0 = int32_t(integerArgument(c[2], "corner z", INT32_MIN, INT32_MAX));
            const uint32_t k = uint32_t(integerArgument(offset, "offset", 0, UINT32_MAX));
            Session s(self);
            py::gil_scoped_release nogil;
            s.doc().writeMemory(x0, y0, z0, k, words);
        }, "image"_a, "corner"_a = py::make_tuple(0, 0, 0), "offset"_a = 0,
           "Writes a program image into the memory modules (the memory writer). `image` is a path to\n"
           "a memory file, bytes, or a sequence or array of integers.");

    // ---- terminals and views
    doc.def_property_readonly("terminals", [](PyDocument& self) {
            std::vector<std::pair<std::string, std::array<int32_t, 4>>> t;
            withDoc<void>(self, [&](CellforgeDocument& d, Universe&) {
                if (const TerminalTable* table = d.terminals())
                    for (size_t i = 0; i < table->size(); ++i) {
                        const Terminal& x = table->at(i);
                        t.push_back({x.name, {x.x, x.y, x.z, x.direction}});
                    }
            });
            py::dict out;
            for (const auto& [name, v] : t) {
                py::str key = textOf(name);
                if (!out.contains(key)) out[key] = py::make_tuple(v[0], v[1], v[2], v[3]);  // first one wins
            }
            return py::module_::import("types").attr("MappingProxyType")(out);
        }, "A read-only mapping name -> (x, y, z, direction), as of now (bound terminals move).")
        .def("signal", [](PyDocument& self, const std::string& name) {
            int found = 0;
            bool on = false;
            withDoc<void>(self, [&](CellforgeDocument& d, Universe& u) {
                const Terminal* t = findTerminal(d.terminals(), name);
                if (!t) return;
                found = 1;
                on = terminalInUniverseRange(*t) && u.testOutput(t->x, t->y, t->z, t->direction);
            });
            if (!found) raise(PyExc_KeyError, name);
            return on;
        }, "name"_a, "The signal at a terminal (testOutput at its position and direction).")
        .def("inject", [](PyDocument& self, const std::string& name) {
            int found = 0;
            withDoc<void>(self, [&](CellforgeDocument& d, Universe& u) {
                const Terminal* t = findTerminal(d.terminals(), name);
                if (!t) return;
                found = 1;
                if (terminalInUniverseRange(*t)) u.injectSignal(t->x, t->y, t->z, t->direction);
            });
            if (!found) raise(PyExc_KeyError, name);
        }, "name"_a, "Feeds a signal in at a terminal (injectSignal).")
        .def_property_readonly("views", [](PyDocument& self) {
            std::vector<SavedView> v;
            withDoc<void>(self, [&](CellforgeDocument& d, Universe&) {
                if (d.savedViews()) v = d.savedViews()->views;
            });
            py::list out;
            for (const SavedView& s : v)
                out.append(py::make_tuple(textOf(s.description), py::make_tuple(s.x, s.y, s.z, s.alt, s.az)));
            return out;
        }, "The saved views as a list of (description, (x, y, z, alt, az)).")
        .def("render", &renderView, "camera"_a = py::none(), "size"_a = py::make_tuple(640, 480),
             "path"_a = py::none(),
             "Draws the universe off screen as cellforge-run --render does and returns a (height, width, 3)\n"
             "uint8 RGB array, top row first. `camera` is (x, y, z, alt, az), a saved view's description,\n"
             "or None for the runner's default. With `path`, also writes a .png (or else a .bmp) file.");

    doc.def("_verify", [](PyDocument& self) {
        return withDoc<std::string>(self, [](CellforgeDocument&, Universe& u) { return u.verifyConsistency(); });
    }, "The engine's consistency check: an empty string when every cache agrees.");

    m.attr("__version__") = "0.1";
}
