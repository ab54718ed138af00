// Terminals: reading and driving the signals at named cells.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>
#include <cerrno>
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
        }, "name"_a, "Feeds a signal in at a terminal (injectSignal); recorded, so a rewind replays it.")
        .def("add_terminal", [](PyDocument& self, const std::string& name, const py::object& x, const py::object& y,
                                const py::object& z, const py::object& direction) {
            Terminal t;
            t.name = name;
            t.x = int32_t(integerArgument(x, "x", INT32_MIN, INT32_MAX));
            t.y = int32_t(integerArgument(y, "y", INT32_MIN, INT32_MAX));
            t.z = int32_t(integerArgument(z, "z", INT32_MIN, INT32_MAX));
            t.direction = int32_t(integerArgument(direction, "direction", 0, 5));
            DocumentCall call(self);
            std::string error;
            bool ok = false;
            {
                NoGil nogil;
                ok = call.session().addTerminal(t, error);
            }
            if (!ok) raise(PyExc_ValueError, error);
        }, "name"_a, "x"_a, "y"_a, "z"_a, "direction"_a,
        "Adds a terminal: a named cell face that signal() reads, inject() drives and run(record=...)\n"
        "records. ValueError for a name that is taken, empty or holds white space. Terminals are not\n"
        "edits: undo and rewind leave them. save_project writes them.")
        .def("save_project", [](PyDocument& self, const py::object& pathArg) {
            const std::string path = pathArgument(pathArg, "path");
            requireRegularOutput(path);
            DocumentCall call(self);
            std::string error;
            int err = 0;
            if (!retryInterrupted([&] { return call.session().saveProject(path, error); }, err)) {
                if (err == 0 || err == EINVAL) raise(PyExc_ValueError, error);
                raiseOsErrorText(err, path, error);
            }
        }, "path"_a,
        "Writes the document as a project: NAME.prj naming, beside it, NAME.grd (the universe now),\n"
        "NAME.trm (the terminals where they stand now, when there are any), copies of the stimulus,\n"
        "monitor and ini files of an opened project, and its saved views as NAME.uvw. Opening it gives\n"
        "the same parts and terminals. ValueError when the name does not end in .prj.");
}
