// Running a document from Python: generations through the session's run,
// with progress, Ctrl+C, stop(), a timeout, and the thread count.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <chrono>
#include <cmath>
#include <exception>

#include "files/terminals.h"
#include "session/recorder.h"

#include "python/bindings.h"

using namespace pybind11::literals;

namespace {

// Shows a run's progress: a tqdm bar when tqdm is there, else a line on
// stderr; or calls the user's function with (done, total).
class ProgressDisplay {
public:
    ProgressDisplay(const py::object& progress, uint64_t total) : total_(total) {
        if (progress.is_none() || (py::isinstance<py::bool_>(progress) && !progress.cast<bool>())) return;
        if (py::isinstance<py::bool_>(progress)) {
            try {
                py::module_ tqdm = py::module_::import("tqdm.auto");
                py::dict kw;
                kw["total"] = py::int_(total);
                kw["unit"] = "gen";
                kw["unit_scale"] = true;
                bar_ = tqdm.attr("tqdm")(**kw);
            } catch (py::error_already_set& e) {
                if (!e.matches(PyExc_ImportError)) throw;
                plain_ = true;
            }
        } else if (PyCallable_Check(progress.ptr())) {
            callback_ = progress;
        } else {
            raise(PyExc_TypeError, "progress must be None, True/False or a callable taking (done, total)");
        }
    }
    void update(uint64_t done, double rate) {
        if (bar_) {
            bar_.attr("update")(py::int_(done - shown_));
        } else if (callback_) {
            callback_(py::int_(done), py::int_(total_));
        } else if (plain_) {
            py::print(py::str("\r{}/{} generations  {:.0f} gen/s").format(done, total_, rate), "end"_a = "",
                      "file"_a = py::module_::import("sys").attr("stderr"), "flush"_a = true);
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
    ~ProgressDisplay() {
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
};

// Seconds as a Python number, or none.
double timeoutArgument(const py::object& value) {
    if (value.is_none()) return -1.0;
    if (py::isinstance<py::bool_>(value) || !(PyFloat_Check(value.ptr()) || PyIndex_Check(value.ptr())))
        raise(PyExc_TypeError, "timeout must be a number of seconds or None, not " + typeName(value));
    const double t = PyFloat_AsDouble(value.ptr());
    if (t == -1.0 && PyErr_Occurred()) throw py::error_already_set();
    if (std::isnan(t) || t < 0) raise(PyExc_ValueError, "timeout must not be negative");
    return std::isinf(t) ? -1.0 : t;
}

// The probes of run(record=...): terminal names and (x, y, z, direction) faces.
void addProbes(SignalRecorder& recorder, const py::object& record, const TerminalTable* table) {
    if (py::isinstance<py::str>(record) || !py::isinstance<py::iterable>(record))
        raise(PyExc_TypeError, "record must be a list of terminal names and (x, y, z, direction) tuples");
    std::string error;
    for (py::handle item : record) {
        if (py::isinstance<py::str>(item)) {
            const std::string name = item.cast<std::string>();
            if (!recorder.addTerminal(table, name, error)) raise(PyExc_KeyError, name);
        } else if (py::isinstance<py::sequence>(item) && py::len(item) == 4) {
            py::sequence f = py::reinterpret_borrow<py::sequence>(item);
            const int32_t x = int32_t(integerArgument(f[0], "x", INT32_MIN, INT32_MAX));
            const int32_t y = int32_t(integerArgument(f[1], "y", INT32_MIN, INT32_MAX));
            const int32_t z = int32_t(integerArgument(f[2], "z", INT32_MIN, INT32_MAX));
            const int32_t d = int32_t(integerArgument(f[3], "direction", 0, 5));
            if (!recorder.addCell(x, y, z, d, error)) raise(PyExc_ValueError, error);
        } else {
            raise(PyExc_TypeError, "a recorded probe is a terminal name or (x, y, z, direction), not " +
                                       typeName(item));
        }
    }
}

// What the recorder holds as the run's result: the (rows, probes) array, the
// counters, or Trace(signals, generation, active_blocks, blocks) for both.
py::object recordedResult(const SignalRecorder& rec, bool signals, bool counters) {
    const size_t rows = rec.rows(), k = rec.probes().size();
    py::array_t<uint8_t> values({py::ssize_t(rows), py::ssize_t(k)});
    rec.copyValues(values.mutable_data());
    if (!counters) return values;
    py::array_t<int64_t> all({py::ssize_t(rows), py::ssize_t(SignalRecorder::CounterCount)});
    rec.copyCounters(all.mutable_data());
    py::module_ np = py::module_::import("numpy");
    auto column = [&](int c) {
        return np.attr("ascontiguousarray")(all[py::make_tuple(py::slice(py::none(), py::none(), py::none()), c)]);
    };
    py::module_ cellforge = py::module_::import("cellforge");
    if (!signals)
        return cellforge.attr("Counters")(column(SignalRecorder::Generation), column(SignalRecorder::ActiveBlocks),
                                          column(SignalRecorder::Blocks));
    return cellforge.attr("Trace")(values, column(SignalRecorder::Generation), column(SignalRecorder::ActiveBlocks),
                                   column(SignalRecorder::Blocks));
}

py::object runGenerations(PyDocument& self, const py::object& nArg, const py::object& progressArg,
                          const py::object& timeoutArg, const py::object& record, bool counters) {
    const uint64_t n = countArgument(nArg, "n");
    const double timeout = timeoutArgument(timeoutArg);
    ProgressDisplay display(progressArg, n);

    DocumentCall call(self);
    Session& session = call.session();
    const bool recording = !record.is_none() || counters;
    SignalRecorder recorder;
    if (!record.is_none()) addProbes(recorder, record, session.document().terminals());
    if (recording) {
        recorder.recordCounters(counters);
        NoGil nogil;
        recorder.setCapacity(size_t(n), false);
    }
    self.beginRun();
    struct EndRun {
        PyDocument& d;
        ~EndRun() { d.endRun(); }
    } endRun{self};

    // Python is called with the GIL taken back inside the run: the progress
    // display when the session reports, and every 50 ms a pending Ctrl+C.
    // Conflicts are reported once, at the end of the call. The first Python error ends the run before the
    // next generation and is raised once the run has handed the worker back.
    std::exception_ptr failure;
    auto fail = [&failure] { failure = std::current_exception(); };
    RunProgress progress(n, display.active() ? RunProgress::Report([&](uint64_t done, uint64_t, double rate) {
                                                   if (failure) return;
                                                   py::gil_scoped_acquire gil;
                                                   try {
                                                       display.update(done, rate);
                                                   } catch (const std::exception&) {
                                                       fail();
                                                   }
                                               })
                                             : RunProgress::Report(),
                         0.05);
    // The clock is read every `stride` generations, a stride that adapts so
    // that fast universes do not pay for the reading.
    using clock = std::chrono::steady_clock;
    const auto start = clock::now();
    const auto deadline = start + std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(
                                      timeout < 0 ? 0.0 : timeout));
    auto lastCheck = start, lastTurn = start;
    uint64_t stride = 1, untilCheck = 1;
    bool timedOut = false;

    RunControl control;
    control.cancel = self.cancelFlag();
    control.progress = &progress;
    if (recording) control.recorder = &recorder;
    control.beforeGeneration = [&](Universe&) {
        if (failure) return false;
        if (--untilCheck != 0) return true;
        const auto now = clock::now();
        if (now - lastCheck < std::chrono::microseconds(500) && stride < 65536) stride *= 2;
        else if (now - lastCheck > std::chrono::milliseconds(10) && stride > 1) stride /= 2;
        untilCheck = stride;
        lastCheck = now;
        if (timeout >= 0 && now >= deadline) {
            timedOut = true;
            return false;
        }
        if (now - lastTurn < std::chrono::milliseconds(50)) return true;
        lastTurn = now;
        py::gil_scoped_acquire gil;
        try {
            if (PyErr_CheckSignals() != 0) throw py::error_already_set();
        } catch (const std::exception&) {
            fail();
            return false;
        }
        return true;
    };
    RunOutcome outcome;
    {
        NoGil nogil;
        outcome = session.run(n, control);
    }
    if (failure) std::rethrow_exception(failure);
    self.flushMessages();
    if (outcome.cancelled || timedOut) {
        const StopReason why = outcome.cancelled ? self.stopReason() : StopReason::Timeout;
        const std::string what = why == StopReason::Timeout ? "the timeout ended the run"
                                 : why == StopReason::Close ? "the document was closed during the run"
                                 : why == StopReason::Exit  ? "the interpreter is exiting"
                                                            : "stop() ended the run";
        raiseStopped(what + " after " + std::to_string(outcome.generations) + " of " + std::to_string(n) +
                         " generations",
                     why, outcome.generations,
                     recording ? recordedResult(recorder, !record.is_none(), counters) : py::object(py::none()));
    }
    display.finish();
    if (!recording) return py::none();
    return recordedResult(recorder, !record.is_none(), counters);
}

}  // namespace

void bindRunning(py::module_& m, py::class_<PyDocument>& doc) {
    py::object namedtuple = py::module_::import("collections").attr("namedtuple");
    py::object counters = namedtuple("Counters", "generation active_blocks blocks");
    counters.attr("__module__") = "cellforge";
    counters.attr("__doc__") = "Per-generation counters of a run: int64 arrays, one entry per generation run.";
    m.attr("Counters") = counters;
    py::object trace = namedtuple("Trace", "signals generation active_blocks blocks");
    trace.attr("__module__") = "cellforge";
    trace.attr("__doc__") = "A run's recorded signals ((n, k) uint8) and its per-generation counters.";
    m.attr("Trace") = trace;

    doc.def("run", &runGenerations, "n"_a, "progress"_a = py::none(), "timeout"_a = py::none(), py::kw_only(),
            "record"_a = py::none(), "counters"_a = false,
            "Runs n generations exactly as the worker does (stimulus, four phases, monitor).\n\n"
            "record=[...] (terminal names and (x, y, z, direction) faces) returns an (n, k) uint8 array:\n"
            "row g is what each probe showed after generation g of the run (a terminal is read where it\n"
            "stands then). counters=True returns Counters(generation, active_blocks, blocks), int64\n"
            "arrays after each generation; both return Trace(signals, generation, active_blocks, blocks).\n"
            "Without either, returns None. A stopped run raises Stopped with `result` holding the rows\n"
            "recorded so far.\n\n"
            "progress=True shows a progress bar with generations/s (tqdm when installed); a callable\n"
            "is called with (done, total). Ctrl+C stops between two generations with KeyboardInterrupt;\n"
            "stop() from another thread, closing the document, or `timeout` seconds passing raise\n"
            "cellforge.Stopped. Each leaves a consistent universe that can keep running.")
        .def("stop", [](PyDocument& self) {
            if (!self.closed()) self.requestStop(StopReason::Stop);
        }, "Ends a run of this document, from any thread, between two generations: the run raises\n"
           "cellforge.Stopped. Does nothing when no run is running.")
        .def("pulse", [](PyDocument& self) {
            DocumentCall call(self);
            NoGil nogil;
            call.session().pulse();
        }, "Sets the input pulse for the next generation (the K key); recorded, so a rewind replays it.")
        .def_property("threads", [](PyDocument& self) {
            DocumentCall call(self);
            NoGil nogil;
            return call.session().threads();
        }, [](PyDocument& self, const py::object& value) {
            const int n = int(integerArgument(value, "threads", 1, Session::kMaxThreads));
            DocumentCall call(self);
            std::string error;
            NoGil nogil;
            call.session().setThreads(n, error);
        }, "The threads the rules are evaluated on, 1 to 64 (the runner's --threads; same results).");
}
