#include <gtest/gtest.h>

#include <cmath>

#include "universe/universe.h"
#include "view/camera.h"

namespace {

void pressTimes(Camera& c, int key, int times) {
    for (int i = 0; i < times; ++i) handleCameraKey(c, key, nullptr);
}

std::array<double, 3> transformDirection(const std::array<double, 16>& m, const std::array<double, 3>& v) {
    std::array<double, 3> r{};
    for (int row = 0; row < 3; ++row) r[row] = m[row] * v[0] + m[4 + row] * v[1] + m[8 + row] * v[2];
    return r;
}

TEST(CameraKeys, TurnAndTiltInTensOfDegreesWithoutWrapping) {
    Camera c;
    EXPECT_TRUE(handleCameraKey(c, KeyTurnRight, nullptr));
    EXPECT_FLOAT_EQ(c.az, 10);
    EXPECT_TRUE(handleCameraKey(c, KeyTiltDown, nullptr));
    EXPECT_FLOAT_EQ(c.alt, 10);
    pressTimes(c, KeyTiltUp, 3);
    EXPECT_FLOAT_EQ(c.alt, -20);
    pressTimes(c, KeyTurnRight, 36);
    EXPECT_FLOAT_EQ(c.az, 370);

    Camera left;
    pressTimes(left, KeyTurnLeft, 36);
    EXPECT_FLOAT_EQ(left.az, -360);
    // A full turn looks exactly like no turn.
    const auto a = cameraViewMatrix(left);
    const auto b = cameraViewMatrix(Camera{});
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(a[i], b[i], 1e-9) << i;
}

TEST(CameraKeys, OnlyTheViewKeysAreHandled) {
    Camera c;
    // Lower-case letters are not virtual-key codes; shift state never matters
    // because the shell hands over the upper-case code.
    EXPECT_FALSE(handleCameraKey(c, 'o', nullptr));
    EXPECT_FALSE(handleCameraKey(c, 'Z', nullptr));
    EXPECT_FALSE(handleCameraKey(c, 0, nullptr));
    EXPECT_EQ(c.x, 0);
    EXPECT_EQ(c.z, 5);
    EXPECT_EQ(c.az, 0);
}

TEST(CameraKeys, PulseKeyRequestsThePulseAndLeavesTheCamera) {
    Universe u;
    Camera c{1, 2, 3, 40, 50};
    EXPECT_TRUE(handleCameraKey(c, KeyPulse, &u));
    EXPECT_EQ(u.pulseRequest.load(), 1);  // for the next generation to take
    EXPECT_EQ(c.x, 1);
    EXPECT_EQ(c.y, 2);
    EXPECT_EQ(c.z, 3);
    EXPECT_EQ(c.az, 40);
    EXPECT_EQ(c.alt, 50);
    // Without a document the key is still the view's, and nothing breaks.
    EXPECT_TRUE(handleCameraKey(c, KeyPulse, nullptr));
}

TEST(CameraSteps, ForwardAndBack) {
    Camera c;
    handleCameraKey(c, KeyForward, nullptr);
    EXPECT_FLOAT_EQ(c.x, 0);
    EXPECT_FLOAT_EQ(c.y, 0);
    EXPECT_FLOAT_EQ(c.z, 4);

    Camera down;
    down.alt = 90;
    stepForward(down);
    EXPECT_NEAR(down.x, 0, 1e-6);
    EXPECT_FLOAT_EQ(down.y, -1);
    EXPECT_NEAR(down.z, 5, 1e-6);

    Camera right;
    right.az = 90;
    stepForward(right);
    EXPECT_FLOAT_EQ(right.x, 1);
    EXPECT_NEAR(right.z, 5, 1e-6);

    for (float az : {0.f, 33.f, -120.f, 370.f})
        for (float alt : {0.f, 17.f, -80.f}) {
            Camera s{3.5f, -2.25f, 11, az, alt};
            const Camera start = s;
            handleCameraKey(s, KeyForward, nullptr);
            handleCameraKey(s, KeyBack, nullptr);
            EXPECT_NEAR(s.x, start.x, 1e-5);
            EXPECT_NEAR(s.y, start.y, 1e-5);
            EXPECT_NEAR(s.z, start.z, 1e-5);
        }
}

TEST(CameraTransform, ForwardVectorIsTheViewAxis) {
    // Whatever the angles, the transform must turn the forward direction into
    // the eye's -z axis, or the steps would not go where the eye looks.
    for (float az : {0.f, 90.f, -45.f, 200.f, 370.f})
        for (float alt : {0.f, 30.f, 90.f, -60.f}) {
            const Camera c{0, 0, 0, az, alt};
            const auto f = cameraForward(c);
            EXPECT_NEAR(f[0] * f[0] + f[1] * f[1] + f[2] * f[2], 1.0, 1e-12);
            const auto e = transformDirection(cameraViewMatrix(c), f);
            EXPECT_NEAR(e[0], 0, 1e-9) << az << " " << alt;
            EXPECT_NEAR(e[1], 0, 1e-9) << az << " " << alt;
            EXPECT_NEAR(e[2], -1, 1e-9) << az << " " << alt;
        }
}

TEST(CentreOfMass, LooksAtTheMeanPositionFromFiftyUnits) {
    Universe u;
    UniverseCell cell;
    cell.partType = Conductor;
    cell.x = 10;
    cell.y = 20;
    cell.z = 30;
    u.placeCell(cell);
    Camera c{1, 1, 1, 30, 40};
    EXPECT_TRUE(centreOfMass(c, u));
    EXPECT_FLOAT_EQ(c.x, 10);
    EXPECT_FLOAT_EQ(c.y, 20);
    EXPECT_FLOAT_EQ(c.z, 80);
    EXPECT_EQ(c.az, 0);
    EXPECT_EQ(c.alt, 0);

    cell.x = 11;
    cell.y = -20;
    cell.z = -31;
    u.placeCell(cell);
    EXPECT_TRUE(centreOfMass(c, u));
    EXPECT_FLOAT_EQ(c.x, 10.5f);
    EXPECT_FLOAT_EQ(c.y, 0);
    EXPECT_FLOAT_EQ(c.z, 49.5f);
}

TEST(CentreOfMass, EmptyUniverseLeavesTheCameraAlone) {
    Universe u;
    Camera c{1, 2, 3, 4, 5};
    EXPECT_FALSE(centreOfMass(c, u));
    EXPECT_EQ(c.x, 1);
    EXPECT_EQ(c.y, 2);
    EXPECT_EQ(c.z, 3);
    EXPECT_EQ(c.az, 4);
    EXPECT_EQ(c.alt, 5);
    EXPECT_FALSE(std::isnan(c.x));
}

}  // namespace
