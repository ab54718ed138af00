// Files a document writes and reads after opening: grids, checkpoints,
// memory images.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cerrno>

#include "files/checkpoint.h"
#include "files/input_file.h"
#include "files/memory_image.h"

#include "python/bindings.h"

using namespace pybind11::literals;

namespace {

std::vector<int32_t> memoryImage(const py::handle& image) {
    std::vector<int32_t> words;
    if (py::isinstance<py::str>(image) || py::hasattr(image, "__fspath__")) {
        const std::string path = pathArgument(image, "image");
        requireReadableFile(path, "memory file");
        NoGil nogil;
        InputFile in(path);
        words = readProgramImage(in);
        return words;
    }
    if (py::isinstance<py::bytes>(image) || py::isinstance<py::bytearray>(image) ||
        py::isinstance<py::memoryview>(image)) {
        const std::string b = bytesOf(image);
        if (b.size() > kMaxImageWords)
            raise(PyExc_ValueError, "a memory image holds at most " + std::to_string(kMaxImageWords) + " words");
        for (unsigned char c : b) words.push_back(int32_t(c));
        return words;
    }
    if (py::isinstance<py::array>(image)) {
        py::array a = py::reinterpret_borrow<py::array>(image);
        const char kind = a.dtype().kind();
        if (kind != 'i' && kind != 'u' && kind != 'b')
            raise(PyExc_TypeError, "a memory image array must hold integers");
        if (a.ndim() != 1) raise(PyExc_ValueError, "a memory image array must be one-dimensional");
    }
    if (!py::isinstance<py::sequence>(image) && !py::isinstance<py::array>(image))
        raise(PyExc_TypeError, "image must be a path, bytes or a sequence of integers, not " + typeName(image));
    const size_t n = py::len(image);
    if (n > kMaxImageWords)
        raise(PyExc_ValueError, "a memory image holds at most " + std::to_string(kMaxImageWords) + " words");
    words.reserve(n);
    for (py::handle item : image)
        words.push_back(int32_t(integerArgument(item, "a memory word", INT32_MIN, INT32_MAX)));
    return words;
}

}  // namespace

void bindStoring(py::module_& m, py::class_<PyDocument>& doc) {
    (void)m;
    // ---- files
    doc.def("save", [](PyDocument& self, const py::object& pathArg) {
            const std::string path = pathArgument(pathArg, "path");
            requireRegularOutput(path);
            DocumentCall s(self);
            int err = 0;
            if (!retryInterrupted([&] { return s.doc().saveGrid(path, OutputPolicy::RegularOnly); }, err))
                raiseOsError(err, path, "cannot write the grid");
        }, "path"_a, "Writes the universe as a grid file, byte for byte as cellforge-run --save.\n"
           "Only a regular file (or a new name) is written: a FIFO or device raises OSError.")
        .def("checkpoint", [](PyDocument& self, const py::object& pathArg) {
            const std::string path = pathArgument(pathArg, "path");
            DocumentCall s(self);
            int err = 0;
            std::string error;
            const bool ok = retryInterrupted([&] { return writeCheckpoint(s.doc(), path, error); }, err);
            if (!ok) raiseOsErrorText(err, path, "cannot write the checkpoint: " + error);
        }, "path"_a,
        "Writes an exact checkpoint of the run (universe, list orders, generation, stimulus and\n"
        "monitor positions) to path, atomically; the same file as cellforge-run --checkpoint.\n"
        "A symbolic link is followed (the file it names is replaced); a folder, FIFO or device in\n"
        "the way raises OSError (IsADirectoryError, or errno EINVAL) and is left as it is.")
        .def("resume", [](PyDocument& self, const py::object& pathArg) {
            const std::string path = pathArgument(pathArg, "path");
            requireReadableFile(path, "checkpoint");
            DocumentCall s(self);
            bool ok = false;
            std::string error;
            {
                NoGil nogil;
                ok = readCheckpoint(s.doc(), path, error);
                // The first view starts again from the resumed universe, as in the runner.
                if (ok) s.session().centreFirstView();
            }
            if (!ok) raise(PyExc_ValueError, "cannot resume from '" + path + "': " + error);
        }, "path"_a,
        "Continues the run a checkpoint froze. Open the same project (or grid) first: its run\n"
        "objects are matched by terminal name. A refused checkpoint (another version, cut off,\n"
        "damaged, or run objects that do not match) raises ValueError and changes nothing.\n"
        "The monitor continues in the file the open started.")
        .def("write_memory", [](PyDocument& self, const py::object& image, const py::object& corner,
                                const py::object& offset) {
            const std::vector<int32_t> words = memoryImage(image);
            for (size_t i = 0; i < words.size(); ++i)
                if (words[i] < 0 || words[i] > 63)
                    raise(PyExc_ValueError, "memory word " + std::to_string(i) + " is " + std::to_string(words[i]) +
                                                ", not a 6-bit value (0 to 63)");
            if (!py::isinstance<py::sequence>(corner) || py::isinstance<py::str>(corner) || py::len(corner) != 3)
                raise(PyExc_TypeError, "corner must be (x, y, z)");
            py::sequence c = py::reinterpret_borrow<py::sequence>(corner);
            const int32_t x0 = int32_t(integerArgument(c[0], "corner x", INT32_MIN, INT32_MAX));
            const int32_t y0 = int32_t(integerArgument(c[1], "corner y", INT32_MIN, INT32_MAX));
            const int32_t z0 = int32_t(integerArgument(c[2], "corner z", INT32_MIN, INT32_MAX));
            const uint32_t k = uint32_t(integerArgument(offset, "offset", 0, UINT32_MAX));
            MemoryWriteReport report;
            {
                DocumentCall s(self);
                NoGil nogil;
                report = s.session().writeMemory(x0, y0, z0, k, words);
            }
            if (report.pages > 0 && report.modules == 0) {
                const std::string note = "no memory module at corner (" + std::to_string(x0) + ", " +
                                         std::to_string(y0) + ", " + std::to_string(z0) + "): nothing was written";
                if (PyErr_WarnEx(PyExc_UserWarning, note.c_str(), 1) != 0) throw py::error_already_set();
            }
            return py::module_::import("cellforge").attr("MemoryWrite")(report.pages, report.modules);
        }, "image"_a, "corner"_a = py::make_tuple(0, 0, 0), "offset"_a = 0,
           "Writes a program image into the memory modules (the memory writer). `image` is a path to\n"
           "a memory file, bytes, or a sequence or array of integers, each a 6-bit value (0 to 63).\n"
           "Returns MemoryWrite(pages, modules): the image's pages and how many met a module; a\n"
           "UserWarning says so when none did.");
}
