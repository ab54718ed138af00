// Drawing a document off screen (the session's render), and its saved views.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <optional>

#include "view/bitmap.h"
#include "view/navigation.h"
#include "view/part_geometry.h"
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

// Fit All's camera for the document (the session's), or none when it is empty.
std::optional<Camera> fittingCamera(PyDocument& self, int width, int height) {
    DocumentCall call(self);
    NoGil nogil;
    return call.session().fitCamera(width, height);
}

py::tuple cameraTuple(const Camera& c) { return py::make_tuple(c.x, c.y, c.z, c.alt, c.az); }

std::pair<int, int> sizeArgument(const py::object& sizeArg) {
    if (!py::isinstance<py::sequence>(sizeArg) || py::isinstance<py::str>(sizeArg) || py::len(sizeArg) != 2)
        raise(PyExc_TypeError, "size must be (width, height)");
    py::sequence sz = py::reinterpret_borrow<py::sequence>(sizeArg);
    return {int(integerArgument(sz[0], "width", 1, 16384)), int(integerArgument(sz[1], "height", 1, 16384))};
}

}  // namespace

void bindDrawing(py::module_& m, py::class_<PyDocument>& doc) {
    m.def("look_at", [](const py::object& target, double distance, double alt, double az) {
        const Camera c = cameraFromTuple(py::make_tuple(0, 0, 0, alt, az));
        if (!py::isinstance<py::sequence>(target) || py::isinstance<py::str>(target) || py::len(target) != 3)
            raise(PyExc_TypeError, "target must be (x, y, z)");
        py::sequence t = py::reinterpret_borrow<py::sequence>(target);
        const std::array<double, 3> f = cameraForward(c);
        double p[3];
        for (int a = 0; a < 3; ++a) {
            const double v = t[a].cast<double>();
            p[a] = v - distance * f[a];
        }
        return cameraTuple(cameraFromTuple(py::make_tuple(p[0], p[1], p[2], alt, az)));
    }, "target"_a, "distance"_a, "alt"_a = double(kFitAllAlt), "az"_a = double(kFitAllAz),
       "The camera (x, y, z, alt, az) that looks at `target` from `distance` cells away: the eye is\n"
       "at target - distance * forward, where forward is the direction a camera with those angles\n"
       "looks along (alt 0, az 0 looks along -z; az turns right about +y, alt tilts down).");

    m.def("part_colours", [](const py::object& type) {
        const int32_t t = int32_t(integerArgument(type, "type", INT32_MIN, INT32_MAX));
        const std::array<Rgb, 8>& c = partColours(t);
        py::array_t<uint8_t> out({py::ssize_t(8), py::ssize_t(3)});
        uint8_t* o = out.mutable_data();
        auto byte = [](float v) { return uint8_t(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f)); };
        for (int j = 0; j < 8; ++j) {
            o[3 * j] = byte(c[size_t(j)].r);
            o[3 * j + 1] = byte(c[size_t(j)].g);
            o[3 * j + 2] = byte(c[size_t(j)].b);
        }
        return out;
    }, "type"_a,
       "The eight corner colours the view paints a part of this type with, as an (8, 3) uint8 RGB\n"
       "array: row j is the corner on the front half when bit 2 of j is set, the side half for bit 1\n"
       "and the up half for bit 0. Types without a rule share one record.");

    doc.def("fit_camera", [](PyDocument& self, const py::object& sizeArg) {
            const auto [w, h] = sizeArgument(sizeArg);
            std::optional<Camera> c = fittingCamera(self, w, h);
            if (!c) {
                DocumentCall call(self);
                c = call.session().firstViewCamera();
            }
            return cameraTuple(*c);
        }, "size"_a = py::make_tuple(640, 480),
        "The camera (x, y, z, alt, az) the desktop's Fit All takes for a view of that size: every part\n"
        "in the frame, seen from 20 degrees above and 30 to the right. The first view's camera when\n"
        "the universe is empty.")
        .def("_repr_png_", [](PyDocument& self) -> py::object {
            if (self.closed() || self.busyHere()) return py::none();
            const int w = 480, h = 360;
            std::optional<Camera> c = fittingCamera(self, w, h);
            DocumentCall call(self);
            const Camera camera = c ? *c : call.session().firstViewCamera();
            ScreenBitmap bm;
            std::string error;
            std::vector<uint8_t> png;
            bool drawn = false;
            {
                NoGil nogil;
                drawn = call.session().render(camera, w, h, bm, error);
                if (drawn) png = encodePng(bm);
            }
            // A notebook falls back on repr() when there is no picture.
            if (!drawn || png.empty()) return py::none();
            return py::bytes(reinterpret_cast<const char*>(png.data()), png.size());
        }, "A 480 x 360 PNG of the whole machine (fit_camera), for notebooks.");
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
