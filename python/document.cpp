#include "python/document.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <set>
#include <utility>

#include "files/checkpoint.h"
#include "files/terminals.h"

using namespace pybind11::literals;

namespace {

// ---------------------------------------------------------------- the exit

// Guarded by exitLock: the documents that exist, the number of threads
// inside a NoGil, and whether the interpreter's exit has begun.
std::mutex exitLock;
std::condition_variable exitChanged;
std::set<PyDocument*> liveDocuments;
size_t withoutGil = 0;
bool exiting = false;

}  // namespace

void raiseStopped(const std::string& message, StopReason reason, uint64_t generations, const py::object& result) {
    if (reason == StopReason::Exit) {
        // Only a daemon thread can be here, and the interpreter is going
        // away: SystemExit ends that thread without a traceback and is not
        // caught by `except Exception`.
        PyErr_SetString(PyExc_SystemExit, message.c_str());
        throw py::error_already_set();
    }
    py::object cls = py::module_::import("cellforge").attr("Stopped");
    static const char* names[] = {"", "stop", "timeout", "close", "exit"};
    py::object e = cls(message);
    e.attr("reason") = names[int(reason)];
    e.attr("generations") = generations;
    e.attr("result") = result;
    PyErr_SetObject(cls.ptr(), e.ptr());
    throw py::error_already_set();
}

NoGil::NoGil() {
    {
        std::lock_guard<std::mutex> g(exitLock);
        if (!exiting) {
            ++withoutGil;
            state_ = PyEval_SaveThread();
            return;
        }
    }
    raiseStopped("the interpreter is exiting", StopReason::Exit, 0);
}

NoGil::~NoGil() {
    // The GIL first: until this thread holds it again, the exit must wait.
    PyEval_RestoreThread(state_);
    std::lock_guard<std::mutex> g(exitLock);
    --withoutGil;
    exitChanged.notify_all();
}

void registerExitHook(py::module_& m) {
    py::cpp_function hook([]() {
        {
            std::lock_guard<std::mutex> g(exitLock);
            exiting = true;
            for (PyDocument* d : liveDocuments) d->requestStop(StopReason::Exit);
        }
        // Threads inside a NoGil need the GIL to leave it.
        PyThreadState* state = PyEval_SaveThread();
        {
            std::unique_lock<std::mutex> g(exitLock);
            exitChanged.wait(g, [] { return withoutGil == 0; });
        }
        PyEval_RestoreThread(state);
    });
    m.attr("_stop_everything_at_exit") = hook;
    py::module_::import("atexit").attr("register")(hook);
}

size_t historyArgument(const py::object& value) {
    if (value.is_none()) return Timeline::defaultBudget();
    return size_t(countArgument(value, "history"));
}

// ---------------------------------------------------------------- the call lock

DocumentCall::DocumentCall(PyDocument& d) : d_(d) {
    if (d.closed()) raise(PyExc_ValueError, "the document is closed");
    if (d.owner_.load() == std::this_thread::get_id())
        raise(PyExc_RuntimeError, "the document is busy with another call on this thread "
                                  "(a progress callback cannot use the document it reports on)");
    if (!d.lock_.try_lock()) {
        NoGil nogil;
        d.lock_.lock();
    }
    if (d.closed()) {
        d.lock_.unlock();
        raise(PyExc_ValueError, "the document is closed");
    }
    d.owner_.store(std::this_thread::get_id());
}

DocumentCall::~DocumentCall() {
    d_.owner_.store(std::thread::id{});
    d_.lock_.unlock();
}

Session& DocumentCall::session() { return *d_.session_; }

// ---------------------------------------------------------------- the document

SessionOptions PyDocument::options(bool strict, size_t history) {
    SessionOptions o;
    history_ = history;
    o.historyBudget = history;
    // A script must never hang on a monitor output that is a FIFO.
    o.outputPolicy = OutputPolicy::RegularOnly;
    o.strict = strict;
    o.messages = [this](const std::string& m) { queueMessage(m); };
    return o;
}

PyDocument::PyDocument() {
    std::lock_guard<std::mutex> g(exitLock);
    liveDocuments.insert(this);
}

PyDocument::~PyDocument() {
    {
        std::lock_guard<std::mutex> g(exitLock);
        liveDocuments.erase(this);
    }
    // Nobody else can hold a reference, so nobody holds the lock.
    std::lock_guard<std::mutex> g(lock_);
    open_ = false;
    session_.reset();
}

std::unique_ptr<PyDocument> PyDocument::empty(size_t history) {
    auto d = std::make_unique<PyDocument>();
    {
        NoGil nogil;
        d->session_ = std::make_unique<Session>(d->options(false, history));
        std::string unused;
        d->session_->setThreads(Session::defaultThreads(0), unused);
    }
    d->open_ = true;
    return d;
}

std::unique_ptr<PyDocument> PyDocument::open(const std::string& path, bool strict, int threads, size_t history) {
    auto d = std::make_unique<PyDocument>();
    OpenProblem problem;
    std::string threadError;
    bool threadsSet = true;
    {
        NoGil nogil;
        d->session_ = Session::open(path, d->options(strict, history), problem);
        // (A script draws no view while it runs: every core is offered.)
        if (d->session_) threadsSet = d->session_->setThreads(threads > 0 ? threads : Session::defaultThreads(0), threadError);
    }
    if (!d->session_) raiseOpenProblem(problem);
    if (!threadsSet) raise(PyExc_ValueError, threadError);
    d->source_ = d->session_->path();
    d->open_ = true;
    d->flushMessages();
    if (const Monitor* m = d->session_->document().monitor(); m && !m->outputName.empty() && !m->output.is_open()) {
        // The policy refused it (a FIFO would block the run) or it could not be created.
        const std::string note = "the monitor's output '" + m->outputPath +
                                 "' is not a regular file that can be written; the monitor writes nothing";
        if (PyErr_WarnEx(PyExc_UserWarning, note.c_str(), 1) != 0) throw py::error_already_set();
    }
    if (const OpenProblem& note = d->session_->loadNote()) {
        // The file format's rule: what was read before the fault opens.
        const std::string text = note.message() + "; opened what was read before it";
        if (PyErr_WarnEx(PyExc_UserWarning, text.c_str(), 1) != 0) throw py::error_already_set();
    }
    if (const size_t skipped = d->session_->skippedParts()) {
        // Not a placement conflict: the runner's note, as a plain warning.
        const std::string note =
            "skipped " + std::to_string(skipped) + " parts outside the coordinate range of +-1000000000";
        if (PyErr_WarnEx(PyExc_UserWarning, note.c_str(), 1) != 0) throw py::error_already_set();
    }
    return d;
}

// A copy is a second session in the same state: the checkpoint bytes of this
// one applied to a fresh session with the same run objects. A grid or new
// document starts empty and takes the source fingerprint over; a project is
// opened again from its path (its terminals, stimulus and monitor), so the
// checkpoint's own check refuses a project whose files changed since. The
// copy's monitor output is never opened: two documents appending to one file
// would garble it. Terminals added from code are added to the copy by name.
// The copy's timeline starts at the copied state.
std::unique_ptr<PyDocument> PyDocument::copy() {
    DocumentCall call(*this);
    Session& from = call.session();
    auto d = std::make_unique<PyDocument>();
    std::string bytes, error;
    OpenProblem problem;
    bool ok = false;
    {
        NoGil nogil;
        ok = writeCheckpointBytes(from.document(), bytes, error);
        if (ok) {
            SessionOptions o = d->options(false, history_);
            if (from.kind() == DocumentKind::Project && !from.path().empty()) {
                o.holdMonitorOutput = true;
                d->session_ = Session::open(from.path(), o, problem);
            } else {
                d->session_ = std::make_unique<Session>(o);
                d->session_->document().setSource(from.document().source());
                d->session_->document().setPath(from.document().path());
            }
            if (d->session_) {
                // Terminals added from code are not in the files: the same
                // table, by name, before the checkpoint is matched against it.
                std::vector<Terminal> added;
                from.document().withUniverse([&](Universe&) {
                    if (const TerminalTable* t = from.document().terminals())
                        for (size_t i = 0; i < t->size(); ++i)
                            if (!findTerminal(d->session_->document().terminals(), t->at(i).name))
                                added.push_back(t->at(i));
                });
                std::string ignored;
                for (const Terminal& t : added) d->session_->addTerminal(t, ignored);
                ok = readCheckpointBytes(d->session_->document(), bytes, error);
                if (ok) {
                    d->session_->restartTimeline();
                    d->session_->setFirstViewCamera(from.firstViewCamera());
                    std::string threadError;
                    d->session_->setThreads(from.threads(), threadError);
                }
            }
        }
    }
    if (!d->session_) raiseOpenProblem(problem);
    if (!ok) raise(PyExc_RuntimeError, "cannot copy the document: " + error);
    d->source_ = source_;
    d->open_ = true;
    {
        // The reopen's load notes were already told for the original.
        std::lock_guard<std::mutex> g(d->messagesLock_);
        d->messages_.clear();
        d->droppedMessages_ = 0;
    }
    return d;
}

void PyDocument::close() {
    if (owner_.load() == std::this_thread::get_id())
        raise(PyExc_RuntimeError, "a document cannot be closed from inside one of its own calls");
    if (closed()) return;
    requestStop(StopReason::Close);
    if (!lock_.try_lock()) {
        NoGil nogil;
        lock_.lock();
    }
    std::lock_guard<std::mutex> g(lock_, std::adopt_lock);
    if (!session_) return;
    open_ = false;
    // The worker never needs the GIL, so joining it here is safe.
    NoGil nogil;
    session_.reset();
}

void PyDocument::beginRun() {
    // A stop that came while no run was running is not for this one; a
    // close or the exit still is.
    const StopReason r = stopReason();
    if (r != StopReason::Close && r != StopReason::Exit) {
        reason_ = int(StopReason::None);
        cancel_ = false;
    }
    running_ = true;
}

void PyDocument::endRun() { running_ = false; }

void PyDocument::requestStop(StopReason why) {
    // A close or the exit outranks a stop or a timeout.
    int was = reason_.load();
    while (int(why) > was && !reason_.compare_exchange_weak(was, int(why))) {
    }
    cancel_ = true;
}

void PyDocument::queueMessage(const std::string& m) {
    std::lock_guard<std::mutex> g(messagesLock_);
    if (messages_.size() < kKeptMessages)
        messages_.push_back(m);
    else
        ++droppedMessages_;
}

namespace {

// The engine's conflict text names the block's origin and the slot within
// it; a script wants the cell's own position.
py::object conflictOf(const py::object& conflictType, const std::string& text) {
    int ox, oy, oz, ix, iy, iz, oldType, newType;
    if (std::sscanf(text.c_str(), "Error: UniverseCell at %d %d %d, block %d %d %d contains part type %d, replacing with type %d.",
                    &ox, &oy, &oz, &ix, &iy, &iz, &oldType, &newType) == 8)
        return conflictType(int64_t(ox) + ix, int64_t(oy) + iy, int64_t(oz) + iz, oldType, newType, textOf(text));
    return conflictType(py::none(), py::none(), py::none(), py::none(), py::none(), textOf(text));
}

}  // namespace

void PyDocument::flushMessages() {
    std::vector<std::string> m;
    size_t dropped = 0;
    {
        std::lock_guard<std::mutex> g(messagesLock_);
        m.swap(messages_);
        std::swap(dropped, droppedMessages_);
    }
    if (m.empty()) return;
    py::module_ cellforge = py::module_::import("cellforge");
    py::object conflictType = cellforge.attr("Conflict");
    py::list conflicts;
    for (const std::string& text : m) conflicts.append(conflictOf(conflictType, text));
    const size_t count = m.size() + dropped;
    std::string message = m.front();
    if (count > 1) message += " (and " + std::to_string(count - 1) + " more placement conflicts)";
    py::object warning = cellforge.attr("ConflictWarning")(textOf(message));
    py::object first = conflicts[0];
    for (const char* name : {"x", "y", "z", "old", "new"}) warning.attr(name) = first.attr(name);
    warning.attr("count") = count;
    warning.attr("conflicts") = conflicts;
    // Raises when the filters turn it into an error.
    py::module_::import("warnings").attr("warn")(warning, "stacklevel"_a = 1);
}
