// Turning Python arguments into the values the libraries take, and library
// failures into Python exceptions.
//
// Design note
//   * Every check here raises the exception a Python user expects for the
//     kind of mistake: TypeError for a wrong kind of value, ValueError for a
//     value out of range, OSError (with the errno, so Python picks the
//     subclass) for a path. Nothing here knows about documents.
//   * Raising is done by setting the Python error and throwing
//     error_already_set, so pybind11 hands it to the interpreter unchanged.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>

#include "view/camera.h"

namespace py = pybind11;

[[noreturn]] void raise(PyObject* type, const std::string& message);

// OSError(errno, text, path): Python picks the subclass (FileNotFoundError, ...).
[[noreturn]] void raiseOsError(int err, const std::string& path, const std::string& what);

// The same with a text that already says why.
[[noreturn]] void raiseOsErrorText(int err, const std::string& path, const std::string& text);

// A str, bytes or os.PathLike argument as a file-system path.
std::string pathArgument(const py::handle& value, const char* name);

// Refuses, with the OSError a script expects, a path that is not a readable
// regular file (never blocking on a FIFO).
void requireReadableFile(const std::string& path, const char* what = "file");

// Refuses, without opening it, an output path where something other than a
// regular file stands: writing to a FIFO would block the script, and a
// device is no place for a file. IsADirectoryError for a folder, else
// OSError(EINVAL).
void requireRegularOutput(const std::string& path);

// An open problem of the session layer as the exception a script expects:
// OSError with the problem's errno (FileNotFoundError, IsADirectoryError,
// PermissionError, or plain OSError for a FIFO or device), else ValueError.
struct OpenProblem;
[[noreturn]] void raiseOpenProblem(const OpenProblem& problem);

// A Python integer within [lo, hi].
long long integerArgument(const py::handle& value, const char* name, long long lo, long long hi);

// A non-negative Python integer that fits 64 bits.
uint64_t countArgument(const py::handle& value, const char* name);

// Text that the engine produced from file bytes: kept byte for byte.
py::str textOf(const std::string& s);

std::string typeName(const py::handle& h);

// The bytes of a bytes, bytearray or memoryview object.
std::string bytesOf(const py::handle& h);

// (x, y, z, alt, az): five finite numbers, as the runner's --camera reads them.
Camera cameraFromTuple(const py::handle& value);

