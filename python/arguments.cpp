#include "python/arguments.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstring>

#include "files/input_file.h"
#include "session/session.h"

[[noreturn]] void raise(PyObject* type, const std::string& message) {
    PyErr_SetString(type, message.c_str());
    throw py::error_already_set();
}

// OSError(errno, text, path): Python picks the subclass (FileNotFoundError, ...).
[[noreturn]] void raiseOsError(int err, const std::string& path, const std::string& what) {
    if (err == 0) err = EIO;
    py::object e = py::module_::import("builtins").attr("OSError")(err, what + ": " + std::strerror(err), path);
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(e.ptr())), e.ptr());
    throw py::error_already_set();
}

[[noreturn]] void raiseOsErrorText(int err, const std::string& path, const std::string& text) {
    if (err == 0) err = EIO;
    py::object e = py::module_::import("builtins").attr("OSError")(err, text, path);
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(e.ptr())), e.ptr());
    throw py::error_already_set();
}

// A str, bytes or os.PathLike argument as a file-system path.
std::string pathArgument(const py::handle& value, const char* name) {
    py::module_ os = py::module_::import("os");
    if (!py::isinstance<py::str>(value) && !py::isinstance<py::bytes>(value) && !py::hasattr(value, "__fspath__"))
        raise(PyExc_TypeError, std::string(name) + " must be a path (str or os.PathLike), not " +
                                   std::string(py::str(py::type::handle_of(value).attr("__name__"))));
    std::string path = py::str(os.attr("fsdecode")(os.attr("fspath")(value)));
    if (path.empty()) raise(PyExc_ValueError, std::string(name) + " must not be empty");
    if (path.find('\0') != std::string::npos) raise(PyExc_ValueError, std::string(name) + " contains a NUL character");
    return path;
}

void requireReadableFile(const std::string& path, const char* what) {
    // Judged without opening: a FIFO would block a reader until something writes to it.
    const OpenProblem p = judgeInputPath(path, what);
    if (p) raiseOpenProblem(p);
}

void requireRegularOutput(const std::string& path) {
    if (outputAllowed(path, OutputPolicy::RegularOnly)) return;
    struct stat st {};
    const bool folder = ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    raiseOsErrorText(folder ? EISDIR : EINVAL, path,
                     folder ? "cannot write into a folder"
                            : "cannot write: not a regular file (a FIFO, device or socket is never written)");
}

void raiseOpenProblem(const OpenProblem& problem) {
    const int err = problem.errorNumber();
    if (err == 0) raise(PyExc_ValueError, problem.message());
    py::object e = py::module_::import("builtins").attr("OSError")(err, problem.message(), problem.path);
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(e.ptr())), e.ptr());
    throw py::error_already_set();
}

// A Python integer within [lo, hi].
long long integerArgument(const py::handle& value, const char* name, long long lo, long long hi) {
    if (py::isinstance<py::bool_>(value) || !PyIndex_Check(value.ptr()))
        raise(PyExc_TypeError, std::string(name) + " must be an integer, not " +
                                   std::string(py::str(py::type::handle_of(value).attr("__name__"))));
    py::int_ v = py::reinterpret_steal<py::int_>(PyNumber_Index(value.ptr()));
    if (!v) throw py::error_already_set();
    int overflow = 0;
    const long long n = PyLong_AsLongLongAndOverflow(v.ptr(), &overflow);
    if (overflow != 0 || n < lo || n > hi)
        raise(PyExc_ValueError, std::string(name) + " must be from " + std::to_string(lo) + " to " +
                                    std::to_string(hi) + ", not " + std::string(py::str(v)));
    return n;
}

uint64_t countArgument(const py::handle& value, const char* name) {
    if (py::isinstance<py::bool_>(value) || !PyIndex_Check(value.ptr()))
        raise(PyExc_TypeError, std::string(name) + " must be an integer, not " +
                                   std::string(py::str(py::type::handle_of(value).attr("__name__"))));
    py::int_ v = py::reinterpret_steal<py::int_>(PyNumber_Index(value.ptr()));
    if (!v) throw py::error_already_set();
    if (PyObject_RichCompareBool(v.ptr(), py::int_(0).ptr(), Py_LT) == 1)
        raise(PyExc_ValueError, std::string(name) + " must not be negative, not " + std::string(py::str(v)));
    const unsigned long long n = PyLong_AsUnsignedLongLong(v.ptr());
    if (PyErr_Occurred()) {
        PyErr_Clear();
        raise(PyExc_OverflowError, std::string(name) + " is too large");
    }
    return n;
}

// Text that the engine produced from file bytes: kept byte for byte.
py::str textOf(const std::string& s) {
    PyObject* o = PyUnicode_DecodeUTF8(s.data(), Py_ssize_t(s.size()), "surrogateescape");
    if (!o) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(o);
}

std::string typeName(const py::handle& h) { return py::str(py::type::handle_of(h).attr("__name__")); }

// The bytes of a bytes, bytearray or memoryview object.
std::string bytesOf(const py::handle& h) {
    py::bytes b = py::reinterpret_steal<py::bytes>(PyBytes_FromObject(h.ptr()));
    if (!b) throw py::error_already_set();
    return b.cast<std::string>();
}

// "X,Y,Z,ALT,AZ" as the runner reads it: five finite numbers.
Camera cameraFromTuple(const py::handle& value) {
    if (!py::isinstance<py::sequence>(value) || py::isinstance<py::str>(value) || py::len(value) != 5)
        raise(PyExc_TypeError, "camera must be (x, y, z, alt, az) or a saved view's description");
    float v[5];
    py::sequence s = py::reinterpret_borrow<py::sequence>(value);
    for (size_t k = 0; k < 5; ++k) {
        py::object item = s[k];
        if (py::isinstance<py::bool_>(item) || !(py::isinstance<py::float_>(item) || PyIndex_Check(item.ptr()) ||
                                                 PyFloat_Check(item.ptr()) || py::hasattr(item, "__float__")))
            raise(PyExc_TypeError, "camera values must be numbers, not " + typeName(item));
        const double d = PyFloat_AsDouble(item.ptr());
        if (d == -1.0 && PyErr_Occurred()) throw py::error_already_set();
        if (!std::isfinite(d) || std::fabs(d) > 3.0e38)
            raise(PyExc_ValueError, "camera values must be finite numbers within +-3e38");
        v[k] = float(d);
    }
    return Camera{v[0], v[1], v[2], v[4], v[3]};
}

