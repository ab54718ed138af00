// The assembler from Python: cranetalk on a source text, in memory.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <sstream>

#include "cranetalk/array_output.h"
#include "cranetalk/assembler.h"
#include "cranetalk/line_writer.h"
#include "cranetalk/listing.h"
#include "cranetalk/stimulus.h"

#include "python/bindings.h"

using namespace pybind11::literals;

namespace {

struct Assembly {
    py::bytes image;
    py::str listing;
    py::str stimulus;
    py::str array;
    py::list messages;
    py::list errors;  // the assembler's own messages: every one is an error
    uint32_t length = 0;
};

py::list linesOf(const std::string& text) {
    py::list out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        out.append(textOf(text.substr(start, end - start)));
        start = end + 1;
    }
    return out;
}

py::object assemble(const py::handle& source, bool strict) {
    std::string text;
    if (py::isinstance<py::str>(source)) {
        text = source.cast<std::string>();
    } else if (py::isinstance<py::bytes>(source) || py::isinstance<py::bytearray>(source)) {
        text = bytesOf(source);
    } else {
        raise(PyExc_TypeError, "source must be str or bytes, not " + typeName(source));
    }
    std::string listing, stimulus, array, err, errors, image;
    uint32_t length = 0;
    {
        NoGil nogil;
        // The steps and their order are those of cranetalk's command line.
        std::istringstream in(text);
        std::ostringstream errOut, listOut, stimOut, arrayOut;
        const cranetalk::AssemblyResult r = cranetalk::assembleSource(in, errOut);
        errors = errOut.str();
        cranetalk::writeListing(listOut, r);
        cranetalk::writeStimulus(stimOut, r);
        cranetalk::printImage(arrayOut, r);
        cranetalk::writeLine(errOut, std::to_string(r.programLength));
        length = r.programLength;
        image.assign(reinterpret_cast<const char*>(r.image.data()), r.programLength);
        listing = listOut.str();
        stimulus = stimOut.str();
        array = arrayOut.str();
        err = errOut.str();
    }
    Assembly a;
    a.image = py::bytes(image);
    a.listing = textOf(listing);
    a.stimulus = textOf(stimulus);
    a.array = textOf(array);
    a.length = length;
    a.messages = linesOf(err);
    a.errors = linesOf(errors);
    py::object result = py::cast(std::move(a));
    if (strict && !errors.empty()) {
        const Assembly& made = result.cast<const Assembly&>();
        py::object cls = py::module_::import("cellforge").attr("AssemblyError");
        const size_t n = py::len(made.errors);
        py::object e = cls(std::to_string(n) + (n == 1 ? " error" : " errors") + " in the program source; the first: " +
                           std::string(py::str(made.errors[0])));
        e.attr("messages") = made.errors;
        e.attr("assembly") = result;
        PyErr_SetObject(cls.ptr(), e.ptr());
        throw py::error_already_set();
    }
    return result;
}

}  // namespace

void bindAssembling(py::module_& m, py::class_<PyDocument>& doc) {
    (void)doc;
    py::class_<Assembly>(m, "Assembly", "What cranetalk writes for one source.")
        .def_readonly("image", &Assembly::image, "The program image, `length` bytes (one 6-bit value each).")
        .def_readonly("listing", &Assembly::listing, "The listing file's text.")
        .def_readonly("stimulus", &Assembly::stimulus, "The stimulus file's text.")
        .def_readonly("array", &Assembly::array, "The image as cranetalk prints it (a memory file's text).")
        .def_readonly("messages", &Assembly::messages, "The lines cranetalk writes to standard error.")
        .def_readonly("errors", &Assembly::errors,
                      "The assembler's error lines: `messages` without the program length line.")
        .def_readonly("length", &Assembly::length, "The program length.")
        .def("__repr__", [](const Assembly& a) {
            return "<cellforge.Assembly length " + std::to_string(a.length) + ", " +
                   std::to_string(py::len(a.messages)) + " messages>";
        });

    py::object assemblyError = py::reinterpret_steal<py::object>(PyErr_NewExceptionWithDoc(
        "cellforge.AssemblyError",
        "The program source has errors (assemble(..., strict=True)). `messages` holds the assembler's\n"
        "error lines, `assembly` what was assembled anyway.",
        PyExc_ValueError, nullptr));
    assemblyError.attr("messages") = py::list();
    assemblyError.attr("assembly") = py::none();
    m.attr("AssemblyError") = assemblyError;

    m.def("assemble", &assemble, "source"_a, py::kw_only(), "strict"_a = false,
          "Assembles program source text (str or bytes) as cranetalk does and returns an Assembly\n"
          "with `image`, `listing`, `stimulus`, `array`, `messages` and `errors`. With strict=True,\n"
          "errors raise cellforge.AssemblyError (a ValueError) carrying them as `messages`.");
}
