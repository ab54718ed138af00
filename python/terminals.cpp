// Terminals: reading and driving the signals at named cells.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>
#include <utility>

#include "files/terminals.h"

#include "python/bindings.h"

using namespace pybind11::literals;

namespace {



}  // namespace

void bindTerminals(py::module_& m, py::class_<PyDocument>& doc) {
    (void)m;
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
            DocumentCall call(self);
            bool found = false;
            {
                NoGil nogil;
                // Where the terminal stands now: a bound terminal moves, and
                // the replay must inject where this call did.
                bool inRange = false;
                Terminal at;
                call.doc().withUniverse([&](Universe&) {
                    if (const Terminal* t = findTerminal(call.doc().terminals(), name)) {
                        found = true;
                        inRange = terminalInUniverseRange(*t);
                        at = *t;
                    }
                });
                if (found && inRange) call.session().injectSignal(at.x, at.y, at.z, at.direction);
            }
            if (!found) raise(PyExc_KeyError, name);
        }, "name"_a, "Feeds a signal in at a terminal (injectSignal); recorded, so a rewind replays it.");
}
