// Drawing a document off screen (the session's render), and its saved views.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cerrno>
#include <optional>

#include "view/bitmap.h"
#include "view/png.h"

#include "python/bindings.h"

using namespace pybind11::literals;

namespace {

py::array_t<uint8_t> renderView(PyDocument& self, const py::object& cameraArg, const py::object& sizeArg,
                                const py::object& pathArg) {
    if (!py::isinstance<py::sequence>(sizeArg) || py::isinstance<py::str>(sizeArg) || py::len(sizeArg) != 2)
        raise(PyExc_TypeError, "size must be (width, height)");
    py::sequence sz = py::reinterpret_borrow<py::sequence>(sizeArg);
    const int width = int(integerArgument(sz[0], "width", 1, 16384));
    const int height = int(integerArgument(sz[1], "height", 1, 16384));
    std::string path;
    if (!pathArg.is_none()) {
        path = pathArgument(pathArg, "path");
        requireRegularOutput(path);  // before drawing: a FIFO is refused at once
    }

    DocumentCall call(self);
    Session& session = call.session();
    Camera camera = session.firstViewCamera();
    if (py::isinstance<py::str>(cameraArg)) {
        // A saved view as the desktop recalls it: whole numbers.
        const std::string name = cameraArg.cast<std::string>();
        const std::optional<Camera> found = findSavedView(session.document().savedViews(), name);
        if (!found) raise(PyExc_ValueError, "no saved view is described as '" + name + "'");
        camera = *found;
    } else if (!cameraArg.is_none()) {
        camera = cameraFromTuple(cameraArg);
    }

    ScreenBitmap bm;
    std::string error;
    bool drawn = false;
    {
        NoGil nogil;
        drawn = session.render(camera, width, height, bm, error);
    }
    if (!drawn) raise(PyExc_RuntimeError, error);
    int err = 0;
    if (!path.empty() && !retryInterrupted([&] { return writePictureFile(bm, path); }, err))
        raiseOsError(err, path, "cannot write the picture");

    py::array_t<uint8_t> out({py::ssize_t(height), py::ssize_t(width), py::ssize_t(3)});
    uint8_t* dst = out.mutable_data();
    const uint32_t rowSize = bitmapRowSize(width, 24);
    {
        NoGil nogil;
        for (int row = 0; row < height; ++row) {
            const uint8_t* src = bm.pixels.data() + size_t(height - 1 - row) * rowSize;
            uint8_t* o = dst + size_t(row) * size_t(width) * 3;
            for (int x = 0; x < width; ++x) {
                o[3 * x] = src[3 * x + 2];
                o[3 * x + 1] = src[3 * x + 1];
                o[3 * x + 2] = src[3 * x];
            }
        }
    }
    return out;
}

}  // namespace

void bindDrawing(py::module_& m, py::class_<PyDocument>& doc) {
    (void)m;
    doc.def_property_readonly("views", [](PyDocument& self) {
            std::vector<SavedView> v;
            withDoc<void>(self, [&](CellforgeDocument& d, Universe&) {
                if (d.savedViews()) v = d.savedViews()->views;
            });
            py::list out;
            for (const SavedView& s : v)
                out.append(py::make_tuple(textOf(s.description), py::make_tuple(s.x, s.y, s.z, s.alt, s.az)));
            return out;
        }, "The saved views as a list of (description, (x, y, z, alt, az)).")
        .def("render", &renderView, "camera"_a = py::none(), "size"_a = py::make_tuple(640, 480),
             "path"_a = py::none(),
             "Draws the universe off screen as cellforge-run --render does and returns a (height, width, 3)\n"
             "uint8 RGB array, top row first. `camera` is (x, y, z, alt, az), a saved view's description,\n"
             "or None for the runner's default (a saved view is recalled as the desktop does: whole numbers).\n"
             "With `path`, also writes a .png (any case; else a .bmp) file; only a regular file or a new\n"
             "name is written, a FIFO or device raises OSError.");
}
