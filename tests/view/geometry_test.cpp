#include <gtest/gtest.h>

#include <set>

#include "universe/directions.h"
#include "universe/universe.h"
#include "view/part_geometry.h"
#include "view/scene.h"
#include "view/snapshot.h"

namespace {

const Rgb kBlue{0, 0, 1}, kYellow{1, 1, 0}, kRed{1, 0, 0}, kViolet{0.5f, 0, 1};

Vec3f sub(Vec3f a, Vec3f b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3f cross(Vec3f a, Vec3f b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }

// Colour the body corner at world signs (sx, sy, sz) gets.
Rgb cornerColour(int32_t type, PartFrame f, int sx, int sy, int sz) {
    const int corner = (sx > 0 ? 4 : 0) | (sy > 0 ? 2 : 0) | (sz > 0 ? 1 : 0);
    return partColours(type)[cornerColourIndex(f)[corner]];
}

TEST(FaceGeometry, EveryQuadIsCounterClockwiseSeenFromOutside) {
    for (int d = 0; d < 6; ++d)
        for (float s : {0.45f, 0.2f, 0.5f}) {
            const float t = 0.475f;
            Vec3f v[4];
            for (int i = 0; i < 4; ++i) v[i] = faceVertex(d, i, t, s);
            const Vec3f outward{float(directionTable.dx[d]), float(directionTable.dy[d]),
                                float(directionTable.dz[d])};
            for (int i = 0; i < 4; ++i) {
                // Every vertex lies in the face plane at distance t ...
                EXPECT_FLOAT_EQ(v[i].x * outward.x + v[i].y * outward.y + v[i].z * outward.z, t);
                // ... and each turn of the outline goes counter-clockwise.
                const Vec3f n = cross(sub(v[(i + 1) % 4], v[i]), sub(v[(i + 2) % 4], v[(i + 1) % 4]));
                EXPECT_GT(n.x * outward.x + n.y * outward.y + n.z * outward.z, 0) << "face " << d << " vertex " << i;
            }
        }
}

TEST(BodyColours, ConductorShowsItsFrontHalfYellow) {
    // Facing +y: yellow above, blue below.
    const PartFrame up = drawingFrame(0, 1, deriveUp(0, 1));
    for (int sx : {-1, 1})
        for (int sz : {-1, 1}) {
            EXPECT_EQ(cornerColour(Conductor, up, sx, 1, sz), kYellow);
            EXPECT_EQ(cornerColour(Conductor, up, sx, -1, sz), kBlue);
        }
    // Turned to face -z, the yellow half is the far one.
    const PartFrame away = drawingFrame(5, 1, deriveUp(5, 1));
    for (int sx : {-1, 1})
        for (int sy : {-1, 1}) {
            EXPECT_EQ(cornerColour(Conductor, away, sx, sy, -1), kYellow);
            EXPECT_EQ(cornerColour(Conductor, away, sx, sy, 1), kBlue);
        }
}

TEST(BodyColours, ShifterAlsoShowsItsSide) {
    // Front +x, side +y: the back half is split by side into violet (towards
    // side) and blue.
    const PartFrame f = drawingFrame(1, 0, deriveUp(1, 0));
    ASSERT_EQ(f.front, 1);
    ASSERT_EQ(f.side, 0);
    for (int sz : {-1, 1}) {
        EXPECT_EQ(cornerColour(Shifter, f, 1, 1, sz), kRed);
        EXPECT_EQ(cornerColour(Shifter, f, 1, -1, sz), kRed);
        EXPECT_EQ(cornerColour(Shifter, f, -1, 1, sz), kViolet);
        EXPECT_EQ(cornerColour(Shifter, f, -1, -1, sz), kBlue);
    }
    // Drive: front +z, side -x, up: the three greys sit on the front half by side.
    const PartFrame d = drawingFrame(4, 3, deriveUp(4, 3));
    EXPECT_EQ(cornerColour(Drive, d, -1, 1, 1), (Rgb{0.1f, 0.1f, 0.1f}));
    EXPECT_EQ(cornerColour(Drive, d, 1, 1, 1), (Rgb{0.3f, 0.3f, 0.3f}));
    EXPECT_EQ(cornerColour(Drive, d, 1, 1, -1), (Rgb{0.5f, 0.5f, 0.5f}));
}

TEST(BodyColours, EveryProperFrameGivesEachCornerItsOwnColour) {
    int frames = 0;
    for (int f = 0; f < 6; ++f)
        for (int s = 0; s < 6; ++s)
            for (int u = 0; u < 6; ++u) {
                const PartFrame pf = drawingFrame(f, s, u);
                if (pf.front != f || pf.side != s || pf.up != u) continue;  // not a proper frame
                ++frames;
                const auto idx = cornerColourIndex(pf);
                EXPECT_EQ(std::set<int>(idx.begin(), idx.end()).size(), 8u) << f << s << u;
            }
    EXPECT_EQ(frames, 48);
}

TEST(BodyColours, BrokenFramesAreDrawnInTheNewPartFrame) {
    for (auto [f, s, u] : {std::array{0, 0, 4}, std::array{0, 2, 4}, std::array{7, 1, 4}, std::array{-1, 1, 4},
                           std::array{0, 1, 1}, std::array{0, 1, 255}}) {
        const PartFrame pf = drawingFrame(f, s, u);
        EXPECT_EQ(pf.front, 0);
        EXPECT_EQ(pf.side, 1);
        EXPECT_EQ(pf.up, 4);
    }
    // An up that points the other way is still a proper frame.
    EXPECT_EQ(drawingFrame(0, 1, 5).up, 5);
}

TEST(BodyColours, TypesWithoutARuleShareOneRecord) {
    for (int t : {0, 11, 42, -3, 255, 100000}) EXPECT_EQ(partColourRecord(t), kOtherPartRecord) << t;
    for (int t = 1; t <= 10; ++t) EXPECT_EQ(partColourRecord(t), t);
    // ... and it differs from every real part's colours.
    for (int t = 1; t <= 10; ++t) EXPECT_NE(partColours(42), partColours(t));
}

TEST(DriveArrow, NewPartFrame) {
    const auto a = driveArrow(PartFrame{});
    const float expected[6][3] = {{-0.43225f, 0.455f, 0},       {0.43225f, 0.455f, 0},
                                  {0.43225f, 0.455f, 0},        {0.34125f, 0.455f, -0.091f},
                                  {0.43225f, 0.455f, 0},        {0.34125f, 0.455f, 0.091f}};
    for (int i = 0; i < 6; ++i) {
        EXPECT_NEAR(a[i].x, expected[i][0], 1e-6) << i;
        EXPECT_NEAR(a[i].y, expected[i][1], 1e-6) << i;
        EXPECT_NEAR(a[i].z, expected[i][2], 1e-6) << i;
    }
}

// ---- snapshot and arrays

UniverseCell part(int32_t type, int32_t x, int32_t y, int32_t z) {
    UniverseCell c;
    c.partType = type;
    c.x = x;
    c.y = y;
    c.z = z;
    return c;
}

TEST(Snapshot, StatusLineCarriesTheCountersReadWithTheCells) {
    Universe u;
    u.placeCell(part(Conductor, 0, 0, 0));
    u.generation = 77;
    u.lastMoveTarget[0] = -4;
    u.lastMoveTarget[2] = 9;
    SceneSnapshot s;
    takeSnapshot(u, s);
    EXPECT_EQ(statusLine(s), std::to_string(u.activeBlockCount) + " 1 77 -4 0 9");
}

TEST(VertexArrays, SquaresFollowTheBodyInFaceOrder) {
    Universe u;
    UniverseCell nor = part(NorGate, 2, 0, 0);
    nor.outputs = 0b000010;  // +x
    nor.bonds = 0b100001;    // +y, -z
    u.placeCell(nor);
    SceneSnapshot s;
    takeSnapshot(u, s);
    SceneRenderer r;
    r.buildArrays(s);
    // 8 corners, one signal square, two bond squares.
    ASSERT_EQ(r.quadVertices().size(), 8u + 12u);
    ASSERT_EQ(r.quadIndices().size(), 24u + 12u);
    const auto& v = r.quadVertices();
    // Full-face red square on +x at distance 0.5.
    for (int i = 8; i < 12; ++i) {
        EXPECT_FLOAT_EQ(v[i].x, 2.5f);
        EXPECT_FLOAT_EQ(std::abs(v[i].y), 0.5f);
        EXPECT_EQ(v[i].r, 1);
        EXPECT_EQ(v[i].g, 0);
    }
    // Bonds: +y first, then -z, green at 0.475 with half-size 0.3.
    EXPECT_FLOAT_EQ(v[12].y, 0.475f);
    EXPECT_FLOAT_EQ(std::abs(v[12].x - 2), 0.3f);
    EXPECT_FLOAT_EQ(v[16].z, -0.475f);
    EXPECT_EQ(v[16].g, 1);
    EXPECT_TRUE(r.lineVertices().empty());

    // The same output on a Conductor is a 0.4 x 0.4 square.
    UniverseCell con = part(Conductor, 2, 0, 0);
    con.outputs = 0b000010;
    u.placeCell(con);
    takeSnapshot(u, s);
    r.buildArrays(s);
    ASSERT_EQ(r.quadVertices().size(), 12u);
    EXPECT_FLOAT_EQ(std::abs(r.quadVertices()[8].y), 0.2f);
}

}  // namespace
