// Parts: the counters, the numpy array of all parts, one cell, placing.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "files/grid_file.h"
#include "universe/directions.h"
#include "universe/edits.h"
#include "universe/universe.h"

#include "python/bindings.h"

using namespace pybind11::literals;

namespace {


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

}  // namespace

py::dtype partDtype() {
    py::list fields;
    for (const char* name : {"x", "y", "z", "type", "front", "side", "up"}) fields.append(py::make_tuple(name, "<i4"));
    fields.append(py::make_tuple("outputs", "u1"));
    fields.append(py::make_tuple("bonds", "u1"));
    return py::dtype::from_args(fields);
}

void bindParts(py::module_& m, py::class_<PyDocument>& doc) {
    (void)m;
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
    doc.def("parts", [](PyDocument& self, const py::object& box) -> py::array {
            if (!box.is_none()) {
                if (!py::isinstance<py::sequence>(box) || py::isinstance<py::str>(box) || py::len(box) != 2)
                    raise(PyExc_TypeError, "box must be (lo, hi), two (x, y, z) corners");
                int32_t lo[3], hi[3];
                for (int i = 0; i < 2; ++i) {
                    py::object corner = box[py::int_(i)];
                    if (!py::isinstance<py::sequence>(corner) || py::isinstance<py::str>(corner) || py::len(corner) != 3)
                        raise(PyExc_TypeError, "box must be (lo, hi), two (x, y, z) corners");
                    for (int a = 0; a < 3; ++a)
                        (i ? hi : lo)[a] = int32_t(integerArgument(corner[py::int_(a)], "a box corner", INT32_MIN, INT32_MAX));
                }
                const std::vector<UniverseCell> cells =
                    withDoc<std::vector<UniverseCell>>(self, [&](CellforgeDocument&, Universe& u) {
                        return partsInBox(u, lo, hi);
                    });
                return partsArray(cells);
            }
            DocumentCall s(self);
            CellforgeDocument& d = s.doc();
            bool pausedHere = false;
            size_t count = 0;
            {
                NoGil nogil;
                pausedHere = d.pauseForRead();
                count = d.universe().partCount();
            }
            py::array out;
            try {
                out = py::array(partDtype(), std::vector<py::ssize_t>{py::ssize_t(count)});
            } catch (...) {
                NoGil nogil;
                d.resumeAfterRead(pausedHere);
                throw;
            }
            auto* rows = static_cast<PartRow*>(out.mutable_data());
            {
                NoGil nogil;
                size_t i = 0;
                forEachPart(d.universe(), [&](const UniverseBlock* b, int slot) {
                    if (i < count) rows[i] = rowOf(b, slot);
                    ++i;
                });
                d.resumeAfterRead(pausedHere);
            }
            return out;
        }, "box"_a = py::none(),
           "All parts in save order as a numpy structured array with fields\n"
           "x y z type front side up (int32) and outputs bonds (uint8). The array is a copy.\n"
           "box=(lo, hi) keeps the parts in that box (inclusive corners, any order), in bucket order.")
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
                const UniverseBlock* b = u.findPartBlock(cx, cy, cz);
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
                         const py::object& outputs, const py::object& bonds, bool allowAnyType) {
            UniverseCell c;
            c.x = int32_t(integerArgument(x, "x", -kCoordinateLimit, kCoordinateLimit));
            c.y = int32_t(integerArgument(y, "y", -kCoordinateLimit, kCoordinateLimit));
            c.z = int32_t(integerArgument(z, "z", -kCoordinateLimit, kCoordinateLimit));
            // Grid files hold a type as a decimal 32-bit number and cells keep
            // wide values beside their bytes, so every non-zero 32-bit type
            // saves and loads unchanged; only the named types have a rule.
            c.partType = int32_t(integerArgument(type, "type", INT32_MIN, INT32_MAX));
            if (c.partType == 0) raise(PyExc_ValueError, "type must not be 0 (that is an empty cell)");
            if (!allowAnyType && (c.partType < Conductor || c.partType > Drive))
                raise(PyExc_ValueError, "type " + std::to_string(c.partType) + " is not a part type (1 to " +
                                            std::to_string(int(Drive)) +
                                            ", see cellforge.PartType); pass allow_any_type=True to place a "
                                            "part without a rule");
            c.front = int32_t(integerArgument(front, "front", 0, 5));
            c.side = int32_t(integerArgument(side, "side", 0, 5));
            if (c.side == c.front || c.side == oppositeDirection(c.front))
                raise(PyExc_ValueError, "front " + std::to_string(c.front) + " and side " + std::to_string(c.side) +
                                            " are not perpendicular");
            c.up = deriveUp(c.front, c.side);
            c.outputs = uint8_t(integerArgument(outputs, "outputs", 0, 63));
            c.bonds = uint8_t(integerArgument(bonds, "bonds", 0, 63));
            {
                DocumentCall call(self);
                NoGil nogil;
                call.session().placeParts({c});
            }
            self.flushMessages();
        }, "x"_a, "y"_a, "z"_a, "type"_a, "front"_a = 0, "side"_a = 1, "outputs"_a = 0, "bonds"_a = 0,
           py::kw_only(), "allow_any_type"_a = false,
           "Places a part (up follows from front and side) as one undo step. An occupied cell is replaced\n"
           "and the conflict is reported as cellforge.ConflictWarning. `type` is a part type (1 to 10,\n"
           "cellforge.PartType); allow_any_type=True also takes any other non-zero 32-bit value, which\n"
           "is stored, drawn and saved but has no rule.");
}
