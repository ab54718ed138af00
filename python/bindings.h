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

// The numpy dtype of one row of Document.parts().
py::dtype partDtype();
