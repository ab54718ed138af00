// Mouse navigation, Fit All framing and picking, without a window.
#include <gtest/gtest.h>

#include <cmath>

#include "universe/universe.h"
#include "view_test_parts.h"
#include "view/navigation.h"
#include "view/snapshot.h"

namespace {


// Window position of a world point through the view's projection, and its
// depth along the viewing direction.
struct Projected {
    double px, py, depth;
};
Projected project(const Camera& cam, int w, int h, double x, double y, double z) {
    const auto m = cameraViewMatrix(cam);
    const double ex = m[0] * x + m[4] * y + m[8] * z + m[12];
    const double ey = m[1] * x + m[5] * y + m[9] * z + m[13];
    const double ez = m[2] * x + m[6] * y + m[10] * z + m[14];
    const double f = 1.0 / std::tan(M_PI / 8);
    const double aspect = double(w) / h;
    return {(f / aspect * ex / -ez + 1) * w / 2, (1 - f * ey / -ez) * h / 2, -ez};
}

bool sameCamera(const Camera& a, const Camera& b) {
    return a.x == b.x && a.y == b.y && a.z == b.z && a.alt == b.alt && a.az == b.az;
}

}  // namespace

TEST(MouseNavigation, AClickOrATwitchInsideTheDeadZoneLeavesTheCameraAlone) {
    for (MouseButton button : {MouseButton::Left, MouseButton::Right, MouseButton::Middle}) {
        MouseNavigator nav;
        Camera cam;
        cam.az = 15;
        const Camera before = cam;
        bool moved = true;
        nav.press(button, 100, 100, 20);
        EXPECT_FALSE(nav.move(102, 97, 480, cam, moved));
        EXPECT_FALSE(nav.move(100, 100, 480, cam, moved));
        nav.release();
        EXPECT_FALSE(moved);
        EXPECT_TRUE(sameCamera(cam, before));
        // Movement without a button held is hover, not navigation.
        EXPECT_FALSE(nav.move(300, 300, 480, cam, moved));
        EXPECT_TRUE(sameCamera(cam, before));
    }
}

TEST(MouseNavigation, LeftDragTurnsAndTiltsInPlaceLikeTheKeys) {
    MouseNavigator nav;
    Camera cam;
    cam.x = 3;
    cam.y = 4;
    cam.z = 7;
    bool moved = true;
    nav.press(MouseButton::Left, 50, 50, 10);
    // The first move past the dead zone already counts from the press point.
    ASSERT_TRUE(nav.move(90, 50, 480, cam, moved));
    EXPECT_FALSE(moved);
    EXPECT_FLOAT_EQ(cam.az, 10.0f);  // 40 px right = one P press
    EXPECT_FLOAT_EQ(cam.alt, 0.0f);
    ASSERT_TRUE(nav.move(90, 10, 480, cam, moved));
    EXPECT_FLOAT_EQ(cam.alt, -10.0f);  // up tilts up, like A
    EXPECT_EQ(cam.x, 3.0f);
    EXPECT_EQ(cam.y, 4.0f);
    EXPECT_EQ(cam.z, 7.0f);
    // Angles are not wrapped or clamped, as with the keys.
    for (int i = 0; i < 40; ++i) nav.move(90 + 40 * (i + 1), 10, 480, cam, moved);
    EXPECT_FLOAT_EQ(cam.az, 410.0f);
}

TEST(MouseNavigation, PanKeepsThePointUnderThePointerUnderIt) {
    const int w = 640, h = 480;
    for (MouseButton button : {MouseButton::Right, MouseButton::Middle}) {
        Camera cam;
        cam.x = 10;
        cam.y = -4;
        cam.z = 30;
        cam.alt = 25;
        cam.az = -40;
        const double distance = 35;
        // The world point 35 units in front of the eye through pixel (200, 150)...
        const auto ray = pixelRay(cam, w, h, 200, 150);
        const auto fwd = cameraForward(cam);
        const double along = ray[0] * fwd[0] + ray[1] * fwd[1] + ray[2] * fwd[2];
        const double t = distance / along;
        const double p[3] = {cam.x + ray[0] * t, cam.y + ray[1] * t, cam.z + ray[2] * t};
        MouseNavigator nav;
        bool moved = false;
        nav.press(button, 200, 150, distance);
        ASSERT_TRUE(nav.move(260, 190, h, cam, moved));
        EXPECT_TRUE(moved);
        EXPECT_FLOAT_EQ(cam.alt, 25.0f);
        EXPECT_FLOAT_EQ(cam.az, -40.0f);
        // ...is now under the pointer's new position.
        const Projected q = project(cam, w, h, p[0], p[1], p[2]);
        EXPECT_NEAR(q.px, 260, 0.05);
        EXPECT_NEAR(q.py, 190, 0.05);
        EXPECT_NEAR(q.depth, distance, 1e-3);  // in the view plane: depth kept
    }
}

// projectToPixel is pixelRay's inverse and agrees with the plain matrix
// projection; an orbit, by any angles and from any camera, leaves its pivot
// at the same pixel and the same distance while the angles move as a turn's.
TEST(MouseNavigation, OrbitKeepsThePivotWhereItIsOnTheScreen) {
    const int w = 640, h = 480;
    uint32_t seed = 12345;
    auto next = [&seed](double lo, double hi) {
        seed = seed * 1664525u + 1013904223u;
        return lo + (hi - lo) * double(seed >> 8) / double(1u << 24);
    };
    for (int trial = 0; trial < 200; ++trial) {
        Camera cam;
        cam.x = float(next(-500, 500));
        cam.y = float(next(-500, 500));
        cam.z = float(next(-500, 500));
        cam.alt = float(next(-89, 89));
        cam.az = float(next(-720, 720));
        const double px = next(0, w), py = next(0, h), distance = next(2, 300);
        const auto ray = pixelRay(cam, w, h, px, py);
        const std::array<double, 3> pivot{cam.x + ray[0] * distance, cam.y + ray[1] * distance,
                                          cam.z + ray[2] * distance};
        const auto back = projectToPixel(cam, w, h, pivot[0], pivot[1], pivot[2]);
        ASSERT_TRUE(back);
        EXPECT_NEAR((*back)[0], px, 1e-6);
        EXPECT_NEAR((*back)[1], py, 1e-6);
        const Projected q = project(cam, w, h, pivot[0], pivot[1], pivot[2]);
        EXPECT_NEAR(q.px, px, 1e-6);
        EXPECT_NEAR(q.py, py, 1e-6);

        MouseNavigator nav;
        nav.press(MouseButton::Left, int(px), int(py), distance);
        nav.orbitAround(pivot);
        EXPECT_TRUE(nav.orbiting());
        const int dx = int(next(-300, 300)), dy = int(next(-300, 300));
        const Camera before = cam;
        bool moved = false;
        if (!nav.move(int(px) + dx, int(py) + dy, h, cam, moved)) continue;  // inside the dead zone
        EXPECT_TRUE(moved);
        EXPECT_FLOAT_EQ(cam.az, float(double(before.az) + dx * MouseNavigator::kDegreesPerPixel));
        EXPECT_FLOAT_EQ(cam.alt, float(double(before.alt) + dy * MouseNavigator::kDegreesPerPixel));
        const auto after = projectToPixel(cam, w, h, pivot[0], pivot[1], pivot[2]);
        ASSERT_TRUE(after);
        // The eye is stored in floats: a few thousandths of a pixel at most
        // for eyes within a thousand cells.
        EXPECT_NEAR((*after)[0], px, 0.05) << trial;
        EXPECT_NEAR((*after)[1], py, 0.05) << trial;
        const double ex = pivot[0] - cam.x, ey = pivot[1] - cam.y, ez = pivot[2] - cam.z;
        EXPECT_NEAR(std::sqrt(ex * ex + ey * ey + ez * ez), distance, 1e-3 * distance + 1e-3);
        nav.release();
        EXPECT_FALSE(nav.orbiting());
    }
    // Behind the eye there is no pixel.
    Camera cam;
    EXPECT_FALSE(projectToPixel(cam, w, h, 0, 0, 10));
    // A plain left drag after an orbit turns in place again.
    MouseNavigator nav;
    nav.press(MouseButton::Left, 10, 10, 5);
    nav.orbitAround({0, 0, 0});
    nav.release();
    nav.press(MouseButton::Left, 10, 10, 5);
    EXPECT_FALSE(nav.orbiting());
    bool moved = true;
    ASSERT_TRUE(nav.move(50, 10, h, cam, moved));
    EXPECT_FALSE(moved);
}

TEST(MouseNavigation, WheelStepsAlongTheViewScaledByDistance) {
    Camera cam;
    cam.alt = 90;  // looking straight down
    wheelStep(cam, 1, 100);
    EXPECT_NEAR(cam.y, -20, 1e-4);
    EXPECT_NEAR(cam.x, 0, 1e-4);
    EXPECT_NEAR(cam.z, 5, 1e-4);
    EXPECT_FLOAT_EQ(cam.alt, 90.0f);

    Camera near;
    wheelStep(near, 1, 2);  // two cells away: a fine step
    EXPECT_NEAR(near.z, 5 - 0.4, 1e-5);
    wheelStep(near, -1, 2);  // back out returns
    EXPECT_NEAR(near.z, 5, 1e-5);

    Camera touching;
    wheelStep(touching, 1, 0);  // never a step of nothing
    EXPECT_NEAR(touching.z, 5 - 0.25, 1e-5);
    Camera far;
    wheelStep(far, 2, 1e6);  // never a jump past the far plane in one notch
    EXPECT_NEAR(far.z, 5 - 200, 1e-3);
    Camera nan;
    wheelStep(nan, 1, std::nan(""));
    EXPECT_TRUE(std::isfinite(nan.z));
    wheelStep(nan, std::nan(""), 10);
    EXPECT_TRUE(std::isfinite(nan.z));
}

TEST(MouseNavigation, DistanceToABoxIsZeroInsideAndEuclideanOutside) {
    Bounds b;
    b.lo[0] = b.lo[1] = b.lo[2] = -1;
    b.hi[0] = b.hi[1] = b.hi[2] = 1;
    Camera c;
    c.x = c.y = c.z = 0;
    EXPECT_EQ(distanceToBox(c, b), 0);
    c.x = 4;
    c.y = 5;
    c.z = 1;
    EXPECT_DOUBLE_EQ(distanceToBox(c, b), 5.0);
}

TEST(FitAll, EveryCornerOfTheBoxIsInsideTheViewAndBeforeTheFarPlane) {
    struct Case {
        double lo[3], hi[3];
        int w, h;
    };
    const Case cases[] = {
        {{-0.5, -0.5, -0.5}, {0.5, 0.5, 0.5}, 640, 480},       // one part
        {{-70.5, -40.5, -10.5}, {261.5, 10.5, 5.5}, 1000, 650},  // a long flat machine
        {{0, 0, 0}, {2, 300, 2}, 400, 600},                    // a tall mast, portrait view
        {{-5, -5, -5}, {5, 5, 5}, 100, 1},                     // a very wide sliver
    };
    for (const Case& k : cases) {
        Bounds b;
        for (int i = 0; i < 3; ++i) {
            b.lo[i] = k.lo[i];
            b.hi[i] = k.hi[i];
        }
        const Camera cam = fitAllCamera(b, k.w, k.h);
        double farthest = 0;
        for (int c = 0; c < 8; ++c) {
            const Projected q =
                project(cam, k.w, k.h, c & 4 ? b.hi[0] : b.lo[0], c & 2 ? b.hi[1] : b.lo[1], c & 1 ? b.hi[2] : b.lo[2]);
            EXPECT_GT(q.depth, kNearPlane);
            EXPECT_GE(q.px, 0);
            EXPECT_LE(q.px, k.w);
            EXPECT_GE(q.py, 0);
            EXPECT_LE(q.py, k.h);
            farthest = std::max(farthest, q.depth);
        }
        EXPECT_LT(farthest, kFarPlane) << "box " << k.hi[0] - k.lo[0];
    }
    // A small machine is seen from the fixed angle, and not from miles away.
    Bounds small;
    for (int i = 0; i < 3; ++i) {
        small.lo[i] = -3;
        small.hi[i] = 3;
    }
    const Camera cam = fitAllCamera(small, 640, 480);
    EXPECT_EQ(cam.alt, kFitAllAlt);
    EXPECT_EQ(cam.az, kFitAllAz);
    EXPECT_LT(std::sqrt(cam.x * cam.x + cam.y * cam.y + cam.z * cam.z), 40);
}

TEST(FitAll, BoundsCoverTheDrawnPartsOnly) {
    Universe u;
    u.placeCell(part(Conductor, -3, 2, 7));
    u.placeCell(part(NorGate, 12, -8, 0));
    UniverseCell hidden = part(Conductor, 500, 500, 500);
    RegionEntry* r = u.openRegion("far", nullptr);
    r->visible = 0;
    hidden.region = r;
    u.placeCell(hidden);
    SceneSnapshot snap;
    Bounds b;
    EXPECT_FALSE(drawnBounds(snap, b));
    takeSnapshot(u, snap);
    ASSERT_TRUE(drawnBounds(snap, b));
    EXPECT_EQ(b.lo[0], -3.5);
    EXPECT_EQ(b.hi[0], 12.5);
    EXPECT_EQ(b.lo[1], -8.5);
    EXPECT_EQ(b.hi[1], 2.5);
    EXPECT_EQ(b.lo[2], -0.5);
    EXPECT_EQ(b.hi[2], 7.5);
}

TEST(Picking, TheRayStopsAtTheFirstVisibleBodyAndPassesThroughGaps) {
    Universe u;
    u.placeCell(part(Conductor, 0, 0, 0));
    u.placeCell(part(NorGate, 1, 0, -4, 1, 0));
    const int w = 200, h = 100;
    Camera cam;  // at (0, 0, 5) looking along -z
    auto hit = pickPart(cam, w, h, w / 2.0, h / 2.0, u);
    ASSERT_TRUE(hit);
    EXPECT_EQ(hit->partType, Conductor);
    EXPECT_EQ(hit->z, 0);
    EXPECT_NEAR(hit->distance, 5 - 0.45, 1e-6);

    // A ray that passes just beside the conductor's body (it would cross
    // the conductor's cell, not its body) goes on to the gate behind.
    cam.x = 0.48f;
    cam.az = 5;
    hit = pickPart(cam, w, h, w / 2.0, h / 2.0, u);
    ASSERT_TRUE(hit);
    EXPECT_EQ(hit->partType, NorGate);
    EXPECT_EQ(hit->x, 1);
    EXPECT_EQ(hit->z, -4);
    EXPECT_EQ(hit->front, 1);

    // A part in a hidden region is looked through.
    cam.x = 0;
    cam.az = 0;
    UniverseCell veiled = part(Pusher, 0, 0, 2);
    RegionEntry* r = u.openRegion("veil", nullptr);
    veiled.region = r;
    u.placeCell(veiled);
    EXPECT_EQ(pickPart(cam, w, h, w / 2.0, h / 2.0, u)->partType, Pusher);
    r->visible = 0;
    EXPECT_EQ(pickPart(cam, w, h, w / 2.0, h / 2.0, u)->partType, Conductor);

    // Empty sky, a ray pointing away and a camera far out of range find nothing.
    EXPECT_FALSE(pickPart(cam, w, h, 2, 2, u));
    Camera away = cam;
    away.az = 180;
    EXPECT_FALSE(pickPart(away, w, h, w / 2.0, h / 2.0, u));
    Camera wild = cam;
    wild.x = std::nanf("");
    EXPECT_FALSE(pickPart(wild, w, h, w / 2.0, h / 2.0, u));
    wild.x = 3e9f;
    EXPECT_FALSE(pickPart(wild, w, h, w / 2.0, h / 2.0, u));
}

TEST(Picking, NothingBeyondTheFarPlaneIsPicked) {
    Universe u;
    u.placeCell(part(Conductor, 0, 0, -498));
    u.placeCell(part(Conductor, 5, 0, -520));
    Camera cam;
    cam.z = 0;
    EXPECT_TRUE(pickPart(cam, 100, 100, 50, 50, u));
    cam.x = 5;
    EXPECT_FALSE(pickPart(cam, 100, 100, 50, 50, u));
}

TEST(Picking, ThePartLineNamesPositionTypeFrameFacesRegionAndTerminal) {
    Universe u;
    UniverseCell c = part(NorGate, 3, 0, -2, 0, 1);
    c.outputs = 0b000010;  // +x
    c.bonds = 0b110000;    // +z, -z
    RegionEntry* a = u.openRegion("a", nullptr);
    RegionEntry* ab = u.openRegion("b", a);
    c.region = ab;
    u.placeCell(c);
    Camera cam;
    cam.x = 3;
    cam.z = 3;
    auto hit = pickPart(cam, 100, 100, 50, 50, u);
    ASSERT_TRUE(hit);
    EXPECT_EQ(describePart(*hit, "in0"),
              "(3, 0, -2) NorGate  front +y side +x up " + std::string(directionName(deriveUp(0, 1))) +
                  "  outputs +x  bonds +z -z  region a.b  terminal in0");
    hit->region = nullptr;
    hit->outputs = 0;
    hit->partType = 42;
    hit->front = 9;
    EXPECT_EQ(describePart(*hit, ""), "(3, 0, -2) type 42  front ? side +x up " +
                                          std::string(directionName(deriveUp(0, 1))) + "  outputs none  bonds +z -z");
    EXPECT_EQ(partTypeName(Drive), "Drive");
    EXPECT_EQ(partTypeName(PulseInput), "PulseInput");
}
