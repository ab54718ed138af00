// Running a document from Python: generations, progress, Ctrl+C.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <chrono>
#include <exception>

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
    std::chrono::steady_clock::time_point start_;
};

void runGenerations(PyDocument& self, const py::object& nArg, const py::object& progressArg) {
    const uint64_t n = countArgument(nArg, "n");
    ProgressDisplay progress(progressArg, n);
    std::exception_ptr failure;
    {
        DocumentCall s(self);
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

}  // namespace

void bindRunning(py::module_& m, py::class_<PyDocument>& doc) {
    (void)m;
    // ---- running
    doc.def("run", &runGenerations, "n"_a, "progress"_a = py::none(),
            "Runs n generations exactly as the worker does (stimulus, four phases, monitor).\n\n"
            "progress=True shows a progress bar with generations/s (tqdm when installed); a callable\n"
            "is called with (done, total). Ctrl+C stops between two generations with KeyboardInterrupt\n"
            "and leaves a consistent universe.")
        .def("pulse", [](PyDocument& self) {
            withDoc<void>(self, [](CellforgeDocument&, Universe& u) { u.inputPulse.store(1); });
        }, "Sets the input pulse for the next generation (the K key).");
}
