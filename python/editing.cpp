// Editing from Python: the session's recorded edits (each one undo step),
// undo, redo, reset and rewind, the timeline's state, copies of a document,
// and transform() on parts arrays.
//
// Everything here ends in Session or universe/edits.h: the edits are applied
// and recorded there, so a rewind replays them exactly as the desktop's.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>
#include <string>
#include <vector>

#include "universe/directions.h"
#include "universe/edits.h"

#include "python/bindings.h"

using namespace pybind11::literals;

namespace {

int32_t coordinate(const py::handle& v, const char* name) {
    return int32_t(integerArgument(v, name, -Universe::kCoordinateLimit, Universe::kCoordinateLimit));
}

// (x, y, z) as three coordinates.
std::array<int32_t, 3> pointArgument(const py::handle& value, const char* name) {
    if (!py::isinstance<py::sequence>(value) || py::isinstance<py::str>(value) || py::len(value) != 3)
        raise(PyExc_TypeError, std::string(name) + " must be (x, y, z)");
    py::sequence s = py::reinterpret_borrow<py::sequence>(value);
    const std::string n(name);
    return {coordinate(s[0], (n + " x").c_str()), coordinate(s[1], (n + " y").c_str()),
            coordinate(s[2], (n + " z").c_str())};
}

// What the timeline's calls refuse, as ValueError with the timeline's reason.
void timelineCall(PyDocument& self, bool (Session::*what)(std::string&)) {
    DocumentCall call(self);
    std::string error;
    bool ok = false;
    {
        NoGil nogil;
        ok = (call.session().*what)(error);
    }
    if (!ok) raise(PyExc_ValueError, error);
}

PartTransform transformArgument(const py::object& turns, const py::object& mirror, const py::object& offset) {
    PartTransform t;
    if (!py::isinstance<py::sequence>(turns) || py::isinstance<py::str>(turns) || py::len(turns) != 3)
        raise(PyExc_TypeError, "turns must be (qx, qy, qz), quarter turns about x, y and z");
    py::sequence q = py::reinterpret_borrow<py::sequence>(turns);
    for (int a = 0; a < 3; ++a) {
        // Counted modulo 4, so any integer is a turn.
        const long long v = integerArgument(q[a], "a quarter-turn count", INT32_MIN, INT32_MAX);
        t.turns[a] = int(((v % 4) + 4) % 4);
    }
    if (!mirror.is_none()) {
        const std::string axis = py::isinstance<py::str>(mirror) ? mirror.cast<std::string>() : std::string();
        if (axis == "x") t.mirror = 0;
        else if (axis == "y") t.mirror = 1;
        else if (axis == "z") t.mirror = 2;
        else raise(PyExc_ValueError, "mirror must be \"x\", \"y\", \"z\" or None");
    }
    if (!py::isinstance<py::sequence>(offset) || py::isinstance<py::str>(offset) || py::len(offset) != 3)
        raise(PyExc_TypeError, "offset must be (dx, dy, dz)");
    py::sequence o = py::reinterpret_borrow<py::sequence>(offset);
    for (int a = 0; a < 3; ++a)
        t.offset[a] = int32_t(integerArgument(o[a], "an offset", -2 * Universe::kCoordinateLimit,
                                              2 * Universe::kCoordinateLimit));
    return t;
}

}  // namespace

// ---------------------------------------------------------------- parts arrays

py::array partsArray(const std::vector<UniverseCell>& cells) {
    py::array out(partDtype(), std::vector<py::ssize_t>{py::ssize_t(cells.size())});
    auto* rows = static_cast<PartRow*>(out.mutable_data());
    for (size_t i = 0; i < cells.size(); ++i) {
        const UniverseCell& c = cells[i];
        rows[i] = PartRow{c.x, c.y, c.z, c.partType, c.front, c.side, c.up, c.outputs, c.bonds};
    }
    return out;
}

std::vector<UniverseCell> cellsOfArray(const py::handle& parts, bool placing, bool anyType) {
    py::module_ np = py::module_::import("numpy");
    py::object a = np.attr("asarray")(parts);
    py::object names = a.attr("dtype").attr("names");
    static const char* fields[] = {"x", "y", "z", "type", "front", "side", "up", "outputs", "bonds"};
    if (names.is_none()) raise(PyExc_TypeError, "parts must be an array with the fields of cellforge.PART_DTYPE");
    for (const char* f : fields)
        if (!names.contains(py::str(f)))
            raise(PyExc_TypeError, std::string("parts has no field '") + f + "' (see cellforge.PART_DTYPE)");
    if (py::cast<int>(a.attr("ndim")) != 1) raise(PyExc_ValueError, "parts must be one-dimensional");
    // Each field as 64-bit integers, so out-of-range values are seen, not wrapped.
    std::vector<py::array_t<int64_t, py::array::c_style | py::array::forcecast>> columns;
    for (const char* f : fields) {
        py::object col = a[py::str(f)];
        const char kind = py::cast<std::string>(col.attr("dtype").attr("kind"))[0];
        if (kind != 'i' && kind != 'u' && kind != 'b')
            raise(PyExc_TypeError, std::string("parts field '") + f + "' must hold integers");
        columns.emplace_back(np.attr("asarray")(col, "dtype"_a = np.attr("int64")));
    }
    const size_t n = size_t(py::len(a));
    std::vector<UniverseCell> cells(n);
    auto need = [](bool ok, size_t row, const std::string& what) {
        if (!ok) raise(PyExc_ValueError, "parts row " + std::to_string(row) + ": " + what);
    };
    for (size_t i = 0; i < n; ++i) {
        int64_t v[9];
        for (int f = 0; f < 9; ++f) v[f] = columns[size_t(f)].at(py::ssize_t(i));
        for (int f = 0; f < 3; ++f)
            need(v[f] >= -Universe::kCoordinateLimit && v[f] <= Universe::kCoordinateLimit, i,
                 std::string(fields[f]) + " " + std::to_string(v[f]) + " is beyond +-1000000000");
        need(v[3] >= INT32_MIN && v[3] <= INT32_MAX, i, "type does not fit 32 bits");
        for (int f = 4; f < 7; ++f)
            need(v[f] >= 0 && v[f] <= 5, i, std::string(fields[f]) + " must be a direction (0 to 5)");
        for (int f = 7; f < 9; ++f) need(v[f] >= 0 && v[f] <= 63, i, std::string(fields[f]) + " must be 0 to 63");
        UniverseCell& c = cells[i];
        c.x = int32_t(v[0]);
        c.y = int32_t(v[1]);
        c.z = int32_t(v[2]);
        c.partType = int32_t(v[3]);
        c.front = int32_t(v[4]);
        c.side = int32_t(v[5]);
        c.up = int32_t(v[6]);
        c.outputs = uint8_t(v[7]);
        c.bonds = uint8_t(v[8]);
        if (placing) {
            need(c.partType != 0, i, "type 0 is an empty cell (use erase_box or remove)");
            need(anyType || (c.partType >= Conductor && c.partType <= Drive), i,
                 "type " + std::to_string(c.partType) + " is not a part type (pass allow_any_type=True)");
            // A mirrored part has the other hand, so up is taken as given,
            // only required to stand square to front and side.
            auto square = [](int32_t a, int32_t b) { return a != b && a != oppositeDirection(b); };
            need(square(c.front, c.side) && square(c.front, c.up) && square(c.side, c.up), i,
                 "front, side and up must be perpendicular");
        }
    }
    return cells;
}

// ---------------------------------------------------------------- bindings

void bindEditing(py::module_& m, py::class_<PyDocument>& doc) {
    py::object namedtuple = py::module_::import("collections").attr("namedtuple");
    py::object history = namedtuple("History", "first last undo redo keyframes bytes");
    history.attr("__module__") = "cellforge";
    history.attr("__doc__") =
        "A document's timeline: the reachable generations first..last, the undo and redo depths,\n"
        "the keyframes kept and the bytes the timeline holds.";
    m.attr("History") = history;

    m.def("transform", [](const py::object& parts, const py::object& turns, const py::object& mirror,
                          const py::object& offset) {
        const PartTransform t = transformArgument(turns, mirror, offset);
        std::vector<UniverseCell> cells = cellsOfArray(parts, false, true);
        for (size_t i = 0; i < cells.size(); ++i)
            if (!transformCell(t, cells[i]))
                raise(PyExc_ValueError, "parts row " + std::to_string(i) + " would leave the coordinate range");
        return partsArray(cells);
    }, "parts"_a, "turns"_a = py::make_tuple(0, 0, 0), "mirror"_a = py::none(), "offset"_a = py::make_tuple(0, 0, 0),
       "A new parts array: each part turned qx, qy, qz quarter turns (right-hand rule) about x, then y,\n"
       "then z, about the origin; then mirrored across the plane normal to `mirror` (\"x\", \"y\", \"z\" or\n"
       "None); then moved by `offset`. Positions and every direction a part carries (front, side, up,\n"
       "outputs, bonds) are transformed. No document is touched: place the result with place_parts.");

    doc.def("remove", [](PyDocument& self, const py::object& x, const py::object& y, const py::object& z) {
            const int32_t cx = coordinate(x, "x"), cy = coordinate(y, "y"), cz = coordinate(z, "z");
            DocumentCall call(self);
            NoGil nogil;
            return call.session().erase(cx, cy, cz);
        }, "x"_a, "y"_a, "z"_a,
        "Erases the part at (x, y, z), with the bonds its neighbours held to it; one undo step.\n"
        "Returns False (and records nothing) when the cell is empty.")
        .def("place_parts", [](PyDocument& self, const py::object& parts, bool anyType) {
            const std::vector<UniverseCell> cells = cellsOfArray(parts, true, anyType);
            if (cells.empty()) return;
            {
                DocumentCall call(self);
                NoGil nogil;
                call.session().placeParts(cells);
            }
            self.flushMessages();
        }, "parts"_a, py::kw_only(), "allow_any_type"_a = false,
        "Places every row of a parts array (the dtype of parts(), cellforge.PART_DTYPE) in order, as one\n"
        "undo step. Each row's front, side and up are kept (they must stand square to each other), as\n"
        "are its outputs and bonds. Parts landing on occupied cells are reported once for the call,\n"
        "as one cellforge.ConflictWarning carrying the count and the conflicts.")
        .def("erase_box", [](PyDocument& self, const py::object& lo, const py::object& hi) {
            const std::array<int32_t, 3> a = pointArgument(lo, "lo"), b = pointArgument(hi, "hi");
            DocumentCall call(self);
            NoGil nogil;
            return call.session().eraseBox(a.data(), b.data());
        }, "lo"_a, "hi"_a,
        "Erases every part in the box with corners lo and hi (inclusive, any order) as one undo\n"
        "step; returns how many.")
        .def("set_bond", [](PyDocument& self, const py::object& x, const py::object& y, const py::object& z,
                            const py::object& direction, bool on) {
            const int32_t cx = coordinate(x, "x"), cy = coordinate(y, "y"), cz = coordinate(z, "z");
            const int32_t d = int32_t(integerArgument(direction, "direction", 0, 5));
            bool ok = false;
            {
                DocumentCall call(self);
                NoGil nogil;
                ok = call.session().setBond(cx, cy, cz, d, on);
            }
            if (!ok)
                raise(PyExc_ValueError, "no bond can be set there: (" + std::to_string(cx) + ", " + std::to_string(cy) +
                                            ", " + std::to_string(cz) + ") or its neighbour in direction " +
                                            std::to_string(d) + " holds no part");
        }, "x"_a, "y"_a, "z"_a, "direction"_a, "on"_a = true,
        "Sets (on=True) or clears the bond between the part at (x, y, z) and its neighbour in\n"
        "`direction`, on both sides; one undo step. ValueError when either cell is empty.")
        .def("undo", [](PyDocument& self) { timelineCall(self, &Session::undo); },
             "Takes back the newest edit: the document goes back to the generation it was made at, with the\n"
             "edit left out. ValueError when there is nothing to undo or the document keeps no history.")
        .def("redo", [](PyDocument& self) { timelineCall(self, &Session::redo); },
             "Puts back the newest undone edit (to the position just after it). ValueError when there is none.")
        .def("reset", [](PyDocument& self) { timelineCall(self, &Session::reset); },
             "Back to the state as loaded; the record of edits and inputs is forgotten.")
        .def("rewind", [](PyDocument& self, const py::object& generation) {
            const uint32_t g = uint32_t(integerArgument(generation, "generation", 0, UINT32_MAX));
            DocumentCall call(self);
            std::string error;
            bool ok = false;
            {
                NoGil nogil;
                ok = call.session().rewind(g, error);
            }
            if (!ok) raise(PyExc_ValueError, error);
        }, "generation"_a,
        "Goes back (or forward again) to `generation`, with every edit and input recorded up to it\n"
        "replayed: byte for byte the state the run had there. Any generation in history.first to\n"
        "history.last; ValueError otherwise. Running on from there and editing starts a new branch.")
        .def_property_readonly("history", [](PyDocument& self) -> py::object {
            bool any = false;
            Timeline::History h;
            {
                DocumentCall call(self);
                NoGil nogil;
                call.doc().withUniverse([&](Universe&) {
                    if (Timeline* t = call.session().timeline()) {
                        any = true;
                        h = t->history();
                    }
                });
            }
            if (!any) return py::none();
            return py::module_::import("cellforge").attr("History")(h.first, h.last, h.undo, h.redo, h.keyframes,
                                                                    h.bytes);
        }, "The timeline as cellforge.History(first, last, undo, redo, keyframes, bytes), or None when the\n"
           "document keeps none (history=0).")
        .def("copy", [](PyDocument& self) { return self.copy(); },
             "An independent document in the same state (checkpoint-exact, same threads and view). A project\n"
             "is opened again from its path for its terminals, stimulus and monitor, then set to this\n"
             "state; the copy never opens the monitor's output file. The copy's history starts now.");
}
