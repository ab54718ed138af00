// The parts of the module `cellforge`, one file per concern; module.cpp
// puts them together. Each bindX adds its calls to the module and to the
// Document class.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "python/arguments.h"
#include "python/document.h"

void bindAssembling(py::module_& m, py::class_<PyDocument>& doc);
void bindParts(py::module_& m, py::class_<PyDocument>& doc);
void bindRunning(py::module_& m, py::class_<PyDocument>& doc);
void bindDrawing(py::module_& m, py::class_<PyDocument>& doc);
void bindStoring(py::module_& m, py::class_<PyDocument>& doc);
void bindTerminals(py::module_& m, py::class_<PyDocument>& doc);
void bindEditing(py::module_& m, py::class_<PyDocument>& doc);

// The numpy dtype of one row of Document.parts(), and the row itself.
py::dtype partDtype();
#pragma pack(push, 1)
struct PartRow {
    int32_t x, y, z, type, front, side, up;
    uint8_t outputs, bonds;
};
#pragma pack(pop)
static_assert(sizeof(PartRow) == 30);

// Cells as a parts() array, and a parts-like array back as cells (checked:
// TypeError for an array without the fields, ValueError for a value out of
// range). `placing` also refuses type 0 and, unless anyType, the types
// without a rule.
py::array partsArray(const std::vector<UniverseCell>& cells);
std::vector<UniverseCell> cellsOfArray(const py::handle& parts, bool placing, bool anyType);
