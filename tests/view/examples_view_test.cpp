// The demos seen through the view: Fit All frames every part of each, and
// the part under the pointer is named right for every station of the
// showcase.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "files/grid_file.h"
#include "universe/directions.h"
#include "universe/universe.h"
#include "view/bitmap.h"
#include "view/navigation.h"
#include "view/offscreen.h"
#include "view/scene.h"

namespace {

constexpr int W = 400, H = 260;

struct Win {
    double px, py, depth;
};
Win project(const Camera& cam, double x, double y, double z) {
    const auto m = cameraViewMatrix(cam);
    const double ex = m[0] * x + m[4] * y + m[8] * z + m[12];
    const double ey = m[1] * x + m[5] * y + m[9] * z + m[13];
    const double ez = m[2] * x + m[6] * y + m[10] * z + m[14];
    const double f = 1.0 / std::tan(M_PI / 8);
    return {(f / (double(W) / H) * ex / -ez + 1) * W / 2, (1 - f * ey / -ez) * H / 2, -ez};
}

class ExampleView : public ::testing::TestWithParam<const char*> {};

TEST_P(ExampleView, FitAllShowsEveryPartInsideTheFrame) {
    Universe u;
    ASSERT_TRUE(openGridDocument(u, std::string(EXAMPLES_DIR) + "/" + GetParam()));
    const size_t parts = u.partCount();
    ASSERT_GT(parts, 0u);
    std::string error;
    auto ctx = OffscreenContext::create(W, H, error);
    ASSERT_TRUE(ctx) << error;
    setUpViewState(W, H);
    SceneSnapshot snap;
    takeSnapshot(u, snap);
    Bounds box;
    ASSERT_TRUE(drawnBounds(snap, box));
    const Camera cam = fitAllCamera(box, W, H);

    // Every part's centre lands inside the window, between the planes.
    for (const SceneCell& c : snap.cells) {
        const Win w = project(cam, c.x, c.y, c.z);
        ASSERT_GT(w.depth, kNearPlane);
        ASSERT_LT(w.depth, kFarPlane);
        ASSERT_GT(w.px, 0);
        ASSERT_LT(w.px, W);
        ASSERT_GT(w.py, 0);
        ASSERT_LT(w.py, H);
    }

    // And in the picture read back: everything drawn and counted, nothing
    // cut by the window's edge, the machine filling a good part of it.
    SceneRenderer renderer;
    ASSERT_TRUE(renderer.renderFrame(cam, u, nullptr).drawn);
    EXPECT_EQ(size_t(u.drawnCellCount), parts);
    const ScreenBitmap frame = captureFramebuffer(W, H);
    const size_t row = bitmapRowSize(W, 24);
    auto lit = [&](int x, int y) {
        const uint8_t* p = frame.pixels.data() + size_t(y) * row + size_t(x) * 3;
        return p[0] || p[1] || p[2];
    };
    int loX = W, hiX = -1, loY = H, hiY = -1;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            if (lit(x, y)) {
                loX = std::min(loX, x);
                hiX = std::max(hiX, x);
                loY = std::min(loY, y);
                hiY = std::max(hiY, y);
            }
    ASSERT_GE(hiX, 0) << "nothing drawn";
    EXPECT_GT(loX, 0);
    EXPECT_LT(hiX, W - 1);
    EXPECT_GT(loY, 0);
    EXPECT_LT(hiY, H - 1);
    EXPECT_TRUE(hiX - loX > W / 2 || hiY - loY > H / 2) << loX << ".." << hiX << " x " << loY << ".." << hiY;
}

INSTANTIATE_TEST_SUITE_P(Demos, ExampleView,
                         ::testing::Values("showcase/showcase.grd", "cars/cars.grd", "membank/membank.grd"));

// A camera three cells off the part along a face whose three cells out are
// empty, looking straight at it; false when every side is built up.
bool cameraFacing(const Universe& u, int32_t x, int32_t y, int32_t z, Camera& cam) {
    for (int d : {4, 5, 1, 3, 0, 2}) {
        const int32_t dx = directionTable.dx[d], dy = directionTable.dy[d], dz = directionTable.dz[d];
        bool clear = true;
        for (int k = 1; k <= 3 && clear; ++k) {
            const UniverseBlock* b = u.findBlock(x + k * dx, y + k * dy, z + k * dz);
            clear = !b || b->empty(Universe::slotOf(x + k * dx, y + k * dy, z + k * dz));
        }
        if (!clear) continue;
        cam.x = float(x + 3 * dx);
        cam.y = float(y + 3 * dy);
        cam.z = float(z + 3 * dz);
        // Angles that turn the viewing direction onto -d.
        switch (d) {
        case 4: cam.az = 0, cam.alt = 0; break;      // from +z, looking along -z
        case 5: cam.az = 180, cam.alt = 0; break;    // from -z
        case 1: cam.az = -90, cam.alt = 0; break;    // from +x, looking along -x
        case 3: cam.az = 90, cam.alt = 0; break;     // from -x
        case 0: cam.az = 0, cam.alt = 90; break;     // from above
        case 2: cam.az = 0, cam.alt = -90; break;    // from below
        }
        return true;
    }
    return false;
}

TEST(ShowcaseHover, EveryStationsPartsAreNamedWithTheirPositionFrameAndRegion) {
    Universe u;
    ASSERT_TRUE(openGridDocument(u, std::string(EXAMPLES_DIR) + "/showcase/showcase.grd"));
    const char* stations[11] = {"",        "1-conductor", "2-norgate", "3-pusher",     "4-shifter", "5-rotator",
                                "6-binder", "7-cutter",    "8-pulseinput", "9-source", "10-drive"};
    int checked[11] = {};
    u.forEachBlock([&](const UniverseBlock* b) {
        for (int s = 0; s < 12; ++s) {
            if (b->empty(s)) continue;
            const int32_t type = b->partType(s);
            if (type < 1 || type > 10 || checked[type] >= 3) continue;
            // The station's own part type, not the conductors around it.
            const RegionEntry* region = b->region(s);
            if (!region || region->path.find(stations[type]) == std::string::npos) continue;
            Camera cam;
            if (!cameraFacing(u, b->cellX(s), b->cellY(s), b->cellZ(s), cam)) continue;
            const auto hit = pickPart(cam, W, H, W / 2.0, H / 2.0, u);
            ASSERT_TRUE(hit) << partTypeName(type) << " at " << b->cellX(s) << " " << b->cellY(s) << " " << b->cellZ(s);
            EXPECT_EQ(hit->x, b->cellX(s));
            EXPECT_EQ(hit->y, b->cellY(s));
            EXPECT_EQ(hit->z, b->cellZ(s));
            const std::string text = describePart(*hit, "");
            // Appended piece by piece: chained temporaries trip a false -Wrestrict.
            std::string expect = "(";
            expect += std::to_string(b->cellX(s));
            expect += ", ";
            expect += std::to_string(b->cellY(s));
            expect += ", ";
            expect += std::to_string(b->cellZ(s));
            expect += ") ";
            expect += partTypeName(type);
            expect += "  front ";
            expect += directionName(b->front(s));
            EXPECT_EQ(text.rfind(expect, 0), 0u) << text;
            std::string regionItem = "region ";
            regionItem += region->path;
            EXPECT_NE(text.find(regionItem), std::string::npos) << text;
            ++checked[type];
        }
    });
    for (int t = 1; t <= 10; ++t) EXPECT_GT(checked[t], 0) << "no " << partTypeName(t) << " could be looked at";
}

}  // namespace
