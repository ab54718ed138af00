// Pixel tests on real off-screen renders.
#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

#include "universe/driver.h"
#include "universe/universe.h"
#include "view_test_parts.h"
#include "view/bitmap.h"
#include "view/drive_dump.h"
#include "view/offscreen.h"
#include "view/scene.h"

namespace {

constexpr int W = 160, H = 120;

struct Pixel {
    int r, g, b;
};


// Where a world point lands in the window, from the camera matrix and the
// standard 45-degree perspective, computed without OpenGL.
std::array<double, 2> project(const Camera& cam, double x, double y, double z, int w = W, int h = H) {
    const auto m = cameraViewMatrix(cam);
    const double ex = m[0] * x + m[4] * y + m[8] * z + m[12];
    const double ey = m[1] * x + m[5] * y + m[9] * z + m[13];
    const double ez = m[2] * x + m[6] * y + m[10] * z + m[14];
    const double f = 1.0 / std::tan(M_PI / 8);
    const double aspect = double(w) / h;
    return {(f / aspect * ex / -ez + 1) * w / 2, (f * ey / -ez + 1) * h / 2};
}

class Render : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ctx_ = OffscreenContext::create(W, H, error);
        ASSERT_TRUE(ctx_) << error;
        setUpViewState(W, H);
    }

    void draw(const Camera& cam = Camera{}) {
        const FrameResult r = renderer_.renderFrame(cam, u_, nullptr);
        ASSERT_TRUE(r.drawn);
        frame_ = captureFramebuffer(W, H);
        ASSERT_FALSE(frame_.pixels.empty());
    }
    Pixel at(int x, int y) const {
        const uint8_t* p = frame_.pixels.data() + size_t(y) * bitmapRowSize(W, 24) + size_t(x) * 3;
        return {p[2], p[1], p[0]};
    }
    Pixel at(std::array<double, 2> win) const { return at(int(win[0]), int(win[1])); }
    int countIf(bool (*pred)(Pixel)) const {
        int n = 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) n += pred(at(x, y));
        return n;
    }

    std::unique_ptr<OffscreenContext> ctx_;
    Universe u_;
    SceneRenderer renderer_;
    ScreenBitmap frame_;
};

bool nonBlack(Pixel p) { return p.r || p.g || p.b; }
bool pureRed(Pixel p) { return p.r > 240 && p.g < 10 && p.b < 10; }
bool white(Pixel p) { return p.r > 240 && p.g > 240 && p.b > 240; }

TEST_F(Render, EmptyUniverseIsBlackWithNothingCounted) {
    u_.drawnCellCount = 99;
    draw();
    EXPECT_EQ(countIf(nonBlack), 0);
    EXPECT_EQ(u_.drawnCellCount, 0);
}

TEST_F(Render, AnUnchangedFrameIsKeptOnlyWhenNothingItShowsHasChanged) {
    u_.placeCell(part(Conductor, 0, 0, 0, 0, 1));
    u_.placeCell(part(NorGate, 1, 0, -1, 1, 0));
    Camera cam;
    cam.x = 0.5f;
    cam.az = 5;
    draw(cam);
    const std::vector<uint8_t> full = frame_.pixels;

    renderer_.setReuseUnchangedFrames(true);
    FrameResult r = renderer_.renderFrame(cam, u_, nullptr);
    EXPECT_FALSE(r.reused);  // nothing remembered yet
    r = renderer_.renderFrame(cam, u_, nullptr);
    EXPECT_TRUE(r.reused);
    EXPECT_EQ(captureFramebuffer(W, H).pixels, full);
    EXPECT_EQ(u_.drawnCellCount, 2);  // still counted

    // Each thing the picture depends on makes it be drawn again, and the
    // picture is then what a full frame gives.
    auto redrawnLikeAFullFrame = [&](const Camera& c) {
        const FrameResult again = renderer_.renderFrame(c, u_, nullptr);
        EXPECT_FALSE(again.reused);
        const std::vector<uint8_t> kept = captureFramebuffer(W, H).pixels;
        SceneRenderer fresh;
        fresh.renderFrame(c, u_, nullptr);
        EXPECT_EQ(kept, captureFramebuffer(W, H).pixels);
        return kept;
    };
    Camera turned = cam;
    turned.az = 6;
    EXPECT_NE(redrawnLikeAFullFrame(turned), full);
    EXPECT_EQ(redrawnLikeAFullFrame(cam), full);
    CellRef gate = u_.findCell(1, 0, -1);
    gate.core().outputs = 1u << 4;  // a red square appears on the face towards the eye
    EXPECT_NE(redrawnLikeAFullFrame(cam), full);
    gate.core().outputs = 0;
    EXPECT_EQ(redrawnLikeAFullFrame(cam), full);
    RegionEntry* r2 = u_.openRegion("veil", nullptr);
    UniverseCell hidden = part(Pusher, 0, 0, 2);
    hidden.region = r2;
    u_.placeCell(hidden);
    EXPECT_NE(redrawnLikeAFullFrame(cam), full);
    r2->visible = 0;
    EXPECT_EQ(redrawnLikeAFullFrame(cam), full);
    glViewport(0, 0, W / 2, H);
    redrawnLikeAFullFrame(cam);
    setUpViewState(W, H);
    redrawnLikeAFullFrame(cam);
    EXPECT_TRUE(renderer_.renderFrame(cam, u_, nullptr).reused);
    renderer_.invalidate();
    EXPECT_FALSE(renderer_.renderFrame(cam, u_, nullptr).reused);
    // A NaN camera never counts as unchanged.
    Camera bad = cam;
    bad.x = std::numeric_limits<float>::quiet_NaN();
    renderer_.renderFrame(bad, u_, nullptr);
    EXPECT_FALSE(renderer_.renderFrame(bad, u_, nullptr).reused);
}

TEST_F(Render, ConductorFacingUpIsYellowAboveAndBlueBelow) {
    u_.placeCell(part(Conductor, 0, 0, 0, 0, 1));
    draw();
    EXPECT_EQ(u_.drawnCellCount, 1);
    const Camera cam;
    const Pixel top = at(project(cam, 0, 0.38, 0.45));
    const Pixel bottom = at(project(cam, 0, -0.38, 0.45));
    EXPECT_GT(top.r, 200);
    EXPECT_GT(top.g, 200);
    EXPECT_LT(top.b, 50);
    EXPECT_LT(bottom.r, 50);
    EXPECT_LT(bottom.g, 50);
    EXPECT_GT(bottom.b, 200);
    // Smooth shading blends the two halves across the face.
    const Pixel middle = at(project(cam, 0, 0, 0.45));
    EXPECT_NEAR(middle.r, 128, 12);
    EXPECT_NEAR(middle.b, 128, 12);
    // Outside the cube the frame stays black.
    EXPECT_FALSE(nonBlack(at(project(cam, 0, 0.6, 0.45))));

    // Turned upside down, the colours turn with it.
    u_.placeCell(part(Conductor, 0, 0, 0, 2, 1));
    draw();
    EXPECT_GT(at(project(cam, 0, -0.38, 0.45)).g, 200);
    EXPECT_GT(at(project(cam, 0, 0.38, 0.45)).b, 200);
}

TEST_F(Render, StateLeftByAToolkitDoesNotSpoilTheFrame) {
    u_.placeCell(part(Conductor, 0, 0, 0, 0, 1));
    // A toolkit sharing the context may leave buffers bound and odd
    // capabilities on; client-side arrays would then read from the buffer.
    GLuint buffers[2];
    glGenBuffers(2, buffers);
    const float junk[12] = {};
    glBindBuffer(GL_ARRAY_BUFFER, buffers[0]);
    glBufferData(GL_ARRAY_BUFFER, sizeof junk, junk, GL_STATIC_DRAW);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffers[1]);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, sizeof junk, junk, GL_STATIC_DRAW);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ZERO, GL_ZERO);
    glDisable(GL_DEPTH_TEST);
    glMatrixMode(GL_PROJECTION);
    draw();
    const Camera cam;
    EXPECT_GT(at(project(cam, 0, 0.38, 0.45)).g, 200);
    EXPECT_GT(at(project(cam, 0, -0.38, 0.45)).b, 200);
    glDeleteBuffers(2, buffers);
}

TEST_F(Render, NorGateOutputIsAFullRedFaceOnTheRight) {
    // Looking from the front right so the +x face is in view.
    const Camera cam{3, 0, 3, -45, 0};
    UniverseCell nor = part(NorGate, 0, 0, 0);
    nor.outputs = 1u << 1;  // +x
    u_.placeCell(nor);
    draw(cam);
    const auto centre = project(cam, 0, 0, 0);
    const auto face = project(cam, 0.5, 0, 0);
    EXPECT_GT(face[0], centre[0]);
    EXPECT_TRUE(pureRed(at(face)));
    // Near the corner of the face it is still red: the square covers it all.
    const auto corner = project(cam, 0.5, 0.4, -0.3);
    EXPECT_TRUE(pureRed(at(corner)));
    // Nothing red on the left of the part.
    int redLeft = 0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < int(centre[0]) - 2; ++x) redLeft += pureRed(at(x, y));
    EXPECT_EQ(redLeft, 0);

    // Another type shows only a small square: the same corner is body colour.
    UniverseCell con = part(Conductor, 0, 0, 0);
    con.outputs = 1u << 1;
    u_.placeCell(con);
    draw(cam);
    EXPECT_TRUE(pureRed(at(face)));
    EXPECT_FALSE(pureRed(at(corner)));
    EXPECT_GT(at(corner).g, 150);
}

TEST_F(Render, DriveShowsAWhiteArrowAndNoSquares) {
    UniverseCell d = part(Drive, 0, 0, 0, 4, 1);  // front towards the eye
    d.outputs = 0x3F;
    d.bonds = 0x3F;
    u_.placeCell(d);
    draw();
    EXPECT_EQ(countIf(pureRed), 0);
    EXPECT_EQ(countIf([](Pixel p) { return p.g > 240 && p.r < 10; }), 0);
    // The shaft crosses the middle of the face horizontally.
    const auto mid = project(Camera{}, 0, 0, 0.455);
    int whiteNearShaft = 0;
    for (int dy = -2; dy <= 2; ++dy) whiteNearShaft += white(at(int(mid[0]), int(mid[1]) + dy));
    EXPECT_GE(whiteNearShaft, 1);
    EXPECT_GT(countIf(white), 30);
}

TEST_F(Render, HiddenRegionIsNotDrawn) {
    RegionEntry* r = u_.openRegion("arm", nullptr);
    UniverseCell c = part(Conductor, 0, 0, 0);
    c.region = r;
    u_.placeCell(c);
    r->visible = 0;
    draw();
    EXPECT_EQ(countIf(nonBlack), 0);
    EXPECT_EQ(u_.drawnCellCount, 0);
    r->visible = 1;
    draw();
    EXPECT_GT(countIf(nonBlack), 100);
    EXPECT_EQ(u_.drawnCellCount, 1);
}

TEST_F(Render, NearerPartHidesFartherOneWhateverTheOrder) {
    // Two parts on the line of sight, looked at from both ends, so the nearer
    // one is drawn first once and last once.
    for (int flip = 0; flip < 2; ++flip) {
        Universe u;
        u.placeCell(part(Conductor, 0, 0, flip ? -2 : 0));
        u.placeCell(part(Source, 0, 0, flip ? 0 : -2));
        const Camera cam = flip ? Camera{0, 0, -7, 180, 0} : Camera{};
        renderer_.renderFrame(cam, u, nullptr);
        frame_ = captureFramebuffer(W, H);
        const Pixel p = at(W / 2, H / 2);
        EXPECT_NEAR(p.r, 128, 12) << flip;  // the Conductor's blend; a Source has no red
    }
}

TEST_F(Render, BackFacesAreCulled) {
    // From inside a cube every face is seen from behind, so nothing shows.
    u_.placeCell(part(Conductor, 0, 0, 5));
    draw();
    EXPECT_EQ(countIf(nonBlack), 0);
    EXPECT_EQ(u_.drawnCellCount, 1);
}

TEST_F(Render, CullingAndNearestFirstOrderChangeNoPixel) {
    // A jumble of every part type, frames, signals and bonds, seen from
    // inside, outside and along the gaps between cells.
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
    for (int i = 0; i < 300; ++i) {
        UniverseCell c = part(int32_t(1 + next() % 11), int32_t(next() % 9) - 4, int32_t(next() % 7) - 3,
                              -int32_t(next() % 6));
        const int32_t frames[][2] = {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 0}, {5, 3}};
        const auto& f = frames[next() % 6];
        c.front = f[0];
        c.side = f[1];
        c.up = deriveUp(c.front, c.side);
        c.outputs = uint8_t(next() & 0x3F);
        c.bonds = uint8_t(next() & 0x3F);
        u_.placeCell(c);
    }
    SceneSnapshot snap;
    takeSnapshot(u_, snap);
    for (const Camera& cam : {Camera{0, 0, 12, 0, 0}, Camera{0.5f, 0.5f, 3, 0, 0}, Camera{-8, 6, 6, 55, 30},
                              Camera{0, 0, -2.5f, 130, -10}, Camera{2.5f, -0.5f, 9, 3, 2}}) {
        // Walk order with every face, then culled, then culled nearest first.
        ScreenBitmap pictures[3];
        for (int pass = 0; pass < 3; ++pass) {
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
            glPushMatrix();
            applyCameraTransform(cam);
            renderer_.drawSnapshot(snap, pass ? &cam : nullptr, pass == 2);
            glPopMatrix();
            pictures[pass] = captureFramebuffer(W, H);
        }
        const ScreenBitmap& all = pictures[0];
        ASSERT_FALSE(all.pixels.empty());
        EXPECT_EQ(all.pixels, pictures[1].pixels) << cam.x << " " << cam.y << " " << cam.z;
        EXPECT_EQ(all.pixels, pictures[2].pixels) << cam.x << " " << cam.y << " " << cam.z;
        EXPECT_GT(std::count_if(all.pixels.begin(), all.pixels.end(), [](uint8_t b) { return b != 0; }), 1000) << cam.x << " " << cam.z;
    }
}

TEST_F(Render, ResizeTracksTheSizeAndIgnoresZeroHeight) {
    ViewSize size{W, H};
    EXPECT_FALSE(resizeView(size, W + 10, H));
    EXPECT_TRUE(resizeView(size, W, H));  // narrower than last time
    EXPECT_TRUE(resizeView(size, W, H - 1));
    EXPECT_FALSE(resizeView(size, W, 0));
    EXPECT_EQ(size.lastHeight, H - 1);
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], W);
    EXPECT_EQ(viewport[3], H - 1);
    resizeView(size, W, H);
}

TEST_F(Render, NonFiniteCameraDrawsWithoutHarm) {
    for (int x = -3; x <= 3; ++x) u_.placeCell(part(Conductor, x, 0, 0));
    const float inf = std::numeric_limits<float>::infinity();
    for (const Camera& c : {Camera{std::nanf(""), 0, 5, 0, 0}, Camera{0, 0, 5, inf, 0}, Camera{inf, -inf, inf, 0, 0}}) {
        EXPECT_TRUE(renderer_.renderFrame(c, u_, nullptr).drawn);
        EXPECT_EQ(u_.drawnCellCount, 7);
    }
}

TEST_F(Render, CameraTransformMatchesTheMatrixMath) {
    for (const Camera& c : {Camera{}, Camera{1, -2, 7, 30, 20}, Camera{-5, 3, 0, 370, -45}}) {
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        applyCameraTransform(c);
        double gl[16];
        glGetDoublev(GL_MODELVIEW_MATRIX, gl);
        const auto m = cameraViewMatrix(c);
        for (int i = 0; i < 16; ++i) EXPECT_NEAR(gl[i], m[i], 1e-5) << i;
    }
    glLoadIdentity();
}

TEST_F(Render, FrameBorrowsTheUniverseFromARunningWorkerAndGivesItBack) {
    u_.placeCell(part(Conductor, 0, 0, 0));
    SteppingDriver driver(u_);
    driver.startWorker();
    driver.runCommand();
    ASSERT_TRUE(renderer_.renderFrame(Camera{}, u_, &driver).drawn);
    EXPECT_EQ(driver.paused.load(), 0);
    EXPECT_EQ(renderer_.lastSnapshot().drawnCellCount, 1);
    // Still running: a limit ahead of it is reached.
    const bool p = driver.pauseForRead();
    const uint32_t g = u_.generation;
    driver.resumeAfterRead(p);
    driver.setRunUntil(g + 20);
    driver.waitUntilStopped();
    EXPECT_GE(u_.generation, g + 20);

    // A stopped worker stays stopped and its flags are left alone.
    const uint32_t stoppedAt = u_.generation;
    for (int i = 0; i < 3; ++i) renderer_.renderFrame(Camera{}, u_, &driver);
    EXPECT_EQ(driver.paused.load(), 1);
    EXPECT_EQ(driver.slow.load(), 0);
    EXPECT_EQ(u_.generation, stoppedAt);
    EXPECT_EQ(renderer_.lastSnapshot().generation, stoppedAt);
    driver.stopWorker();
}

// ---- the Drive coordinate dump

class Dump : public Render {
protected:
    void SetUp() override {
        Render::SetUp();
        path_ = (std::filesystem::temp_directory_path() / ("view_dump_" + std::to_string(getpid()) + ".eps")).string();
    }
    void TearDown() override { std::filesystem::remove(path_); }
    std::vector<std::array<double, 2>> lines() {
        std::ifstream in(path_);
        std::vector<std::array<double, 2>> out;
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream ls(line);
            double x, y;
            std::string rest;
            EXPECT_TRUE(ls >> x >> y) << line;
            EXPECT_FALSE(ls >> rest) << line;
            out.push_back({x, y});
        }
        return out;
    }
    std::string path_;
};

TEST_F(Dump, WritesWindowCoordinatesOfVisibleDrives) {
    u_.placeCell(part(Drive, 0, 0, 0));
    u_.placeCell(part(Drive, 1, -1, 0));
    u_.placeCell(part(Drive, 0, 0, 10));   // behind the eye
    u_.placeCell(part(Drive, 900, 0, 0));  // far off to the side
    u_.placeCell(part(Conductor, 2, 2, 0));
    // The eye straight in front of the first Drive's dump point.
    const Camera cam{0.455f, 0.455f, 5.455f, 0, 0};
    ASSERT_TRUE(writeDriveCoordinates(cam, u_, nullptr, path_));
    auto got = lines();
    ASSERT_EQ(got.size(), 2u);
    // Lines follow the block walk; order them by x to compare.
    if (got[0][0] > got[1][0]) std::swap(got[0], got[1]);
    EXPECT_NEAR(got[0][0], W / 2.0, 1e-3);
    EXPECT_NEAR(got[0][1], H / 2.0, 1e-3);
    const auto second = project(cam, 1.455, -0.545, 0.455);
    EXPECT_NEAR(got[1][0], second[0], 1e-2);
    EXPECT_NEAR(got[1][1], second[1], 1e-2);
    // Whole pixels are written without decimals, as a text stream does.
    std::ifstream in(path_);
    std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_TRUE(text.rfind("80 60\n", 0) == 0 || text.find("\n80 60\n") != std::string::npos) << text;
}

TEST_F(Dump, HiddenDrivesAreWrittenAndTurningAwayEmptiesTheFile) {
    RegionEntry* r = u_.openRegion("hidden", nullptr);
    r->visible = 0;
    UniverseCell d = part(Drive, 0, 0, 0);
    d.region = r;
    u_.placeCell(d);
    ASSERT_TRUE(writeDriveCoordinates(Camera{}, u_, nullptr, path_));
    EXPECT_EQ(lines().size(), 1u);
    ASSERT_TRUE(writeDriveCoordinates(Camera{0, 0, 5, 180, 0}, u_, nullptr, path_));
    EXPECT_EQ(std::filesystem::file_size(path_), 0u);
    Universe empty;
    ASSERT_TRUE(writeDriveCoordinates(Camera{}, empty, nullptr, path_));
    EXPECT_EQ(std::filesystem::file_size(path_), 0u);
    EXPECT_FALSE(writeDriveCoordinates(Camera{}, u_, nullptr, "/nonexistent-dir/dump.eps"));
}

}  // namespace
