// The Python module `cellforge`: bindings over the document, file and view
// libraries. Nothing here decides what a generation does; every call ends in
// the same library function the headless runner uses.
//
// Design note
//   * This file registers the module: its exception and warning classes, the
//     named tuples and enums, the Document's life cycle and the exit hook;
//     each concern's calls live in their own file (bindings.h lists them).
//   * Every array handed to Python is numpy-owned memory, so it outlives the
//     document.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <string>
#include <utility>

#include "universe/directions.h"
#include "universe/universe.h"

#include "python/bindings.h"

using namespace pybind11::literals;

PYBIND11_MODULE(cellforge, m) {
    m.doc() =
        "Cellforge from Python: open, run, inspect, draw and save universes, and assemble programs.\n\n"
        "Every call ends in the same library code as cellforge-run and cranetalk, so a script\n"
        "that runs N generations gets exactly the universe `cellforge-run -n N` saves.";

    py::object userWarning = py::module_::import("builtins").attr("UserWarning");
    py::object conflictWarning = py::reinterpret_steal<py::object>(
        PyErr_NewExceptionWithDoc("cellforge.ConflictWarning",
                                  "Placements landed on occupied cells during one call. The text is the desktop's for the\n"
                                  "first one; x, y, z, old and new describe it (the cell's position, the type that\n"
                                  "was there and the type that replaced it), count says how many there were and\n"
                                  "conflicts lists them as cellforge.Conflict.",
                                  userWarning.ptr(), nullptr));
    m.attr("ConflictWarning") = conflictWarning;
    for (const char* name : {"x", "y", "z", "old", "new"}) conflictWarning.attr(name) = py::none();
    conflictWarning.attr("count") = 0;
    conflictWarning.attr("conflicts") = py::list();
    py::object stopped = py::reinterpret_steal<py::object>(PyErr_NewExceptionWithDoc(
        "cellforge.Stopped",
        "A run ended before its last generation: stop(), a timeout, close() or the interpreter's exit.\n\n"
        "`reason` is \"stop\", \"timeout\", \"close\" or \"exit\"; `generations` is how many the call ran;\n"
        "`result` is what run(record=..., counters=...) recorded up to there (None otherwise).\n"
        "The universe is consistent and can keep running.",
        PyExc_Exception, nullptr));
    stopped.attr("reason") = py::none();
    stopped.attr("generations") = 0;
    stopped.attr("result") = py::none();
    m.attr("Stopped") = stopped;

    py::object namedtuple = py::module_::import("collections").attr("namedtuple");
    py::object cellType = namedtuple("Cell", "x y z type front side up outputs bonds");
    cellType.attr("__module__") = "cellforge";
    cellType.attr("__doc__") = "One part: position, type, frame (front, side, up) and the output and bond masks.";
    m.attr("Cell") = cellType;
    // The numbering every file format uses (universe.h and directions.h).
    py::object intEnum = py::module_::import("enum").attr("IntEnum");
    const std::pair<const char*, int> partTypes[] = {
        {"EMPTY", Empty},     {"CONDUCTOR", Conductor}, {"NOR_GATE", NorGate},       {"PUSHER", Pusher},
        {"SHIFTER", Shifter}, {"ROTATOR", Rotator},     {"BINDER", Binder},          {"CUTTER", Cutter},
        {"PULSE_INPUT", PulseInput}, {"SOURCE", Source}, {"DRIVE", Drive}};
    py::list partMembers;
    for (const auto& [name, value] : partTypes) partMembers.append(py::make_tuple(name, value));
    py::object partType = intEnum("PartType", partMembers, "module"_a = "cellforge");
    partType.attr("__doc__") = "The part types of cells, as grid files number them (other values have no rule).";
    m.attr("PartType") = partType;
    // Directions by their unit vectors, so the names follow from the table.
    py::list directionMembers;
    for (int d = 0; d < 6; ++d) {
        const int v[3] = {directionTable.dx[d], directionTable.dy[d], directionTable.dz[d]};
        const int axis = v[0] ? 0 : v[1] ? 1 : 2;
        const std::string name = std::string(v[axis] > 0 ? "PLUS_" : "MINUS_") + "XYZ"[axis];
        directionMembers.append(py::make_tuple(name, d));
    }
    py::object direction = intEnum("Direction", directionMembers, "module"_a = "cellforge");
    direction.attr("__doc__") = "The six face directions, as every file numbers them; bit d of a mask is direction d.";
    m.attr("Direction") = direction;

    py::object conflictType = namedtuple("Conflict", "x y z old new text");
    conflictType.attr("__module__") = "cellforge";
    conflictType.attr("__doc__") = "One placement conflict: the cell, the type that was there, the new type, the text.";
    m.attr("Conflict") = conflictType;
    py::object memoryWrite = namedtuple("MemoryWrite", "pages modules");
    memoryWrite.attr("__module__") = "cellforge";
    memoryWrite.attr("__doc__") = "What write_memory did: the image's pages, and how many of them met a memory module.";
    m.attr("MemoryWrite") = memoryWrite;
    m.attr("PART_DTYPE") = partDtype();

    py::class_<PyDocument> doc(m, "Document",
                               "One universe with its stepping driver and the run objects of a project.\n\n"
                               "Use as a context manager to stop the worker and free the universe on exit.");
    doc.def(py::init([](const py::object& history) { return PyDocument::empty(historyArgument(history)); }),
            py::kw_only(), "history"_a = py::none(),
            "An empty universe. `history` is the bytes the timeline may keep for undo and rewind\n"
            "(None: a quarter of the memory or 1 GiB, whichever is smaller; 0: no timeline).");
    m.def(
        "open",
        [](const py::object& path, bool strict, const py::object& threads, const py::object& history) {
            const int n = threads.is_none() ? 0 : int(integerArgument(threads, "threads", 1, Session::kMaxThreads));
            const size_t budget = historyArgument(history);
            return PyDocument::open(pathArgument(path, "path"), strict, n, budget);
        },
        "path"_a, py::kw_only(), "strict"_a = false, "threads"_a = py::none(), "history"_a = py::none(),
        "Opens a grid (*.grd, any case) or a project (*.prj) as a Document, under the runner's rules.\n\n"
        "What stands at the path is judged first: missing, a folder, a FIFO or device, or unreadable raise\n"
        "FileNotFoundError, IsADirectoryError, OSError(EINVAL) or PermissionError naming it, as do the\n"
        "grid, terminals, stimulus and monitor files a project names. Then the suffix: anything else\n"
        "raises ValueError. strict=True also raises ValueError, naming the line, when the grid stopped\n"
        "being read before its end. threads sets Document.threads; history is the timeline's budget in\n"
        "bytes (None: the default, 0: none), as for Document(). A project's names are read from its\n"
        "folder; the current folder is never changed. Placement conflicts are cellforge.ConflictWarning.");

    doc.def("close", &PyDocument::close, "Stops a run of the document (it raises cellforge.Stopped), then the worker, and frees the\n"
            "universe. Later calls raise ValueError.")
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

    bindAssembling(m, doc);
    bindRunning(m, doc);
    bindParts(m, doc);
    bindStoring(m, doc);
    bindTerminals(m, doc);
    bindDrawing(m, doc);
    bindEditing(m, doc);

    registerExitHook(m);

    doc.def("_verify", [](PyDocument& self) {
        return withDoc<std::string>(self, [](CellforgeDocument&, Universe& u) { return u.verifyConsistency(); });
    }, "The engine's consistency check: an empty string when every cache agrees.");

    m.attr("__version__") = CELLFORGE_VERSION;
}
