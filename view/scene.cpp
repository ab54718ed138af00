#include "view/scene.h"

#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>
#include <GL/glu.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "universe/driver.h"
#include "universe/universe.h"

namespace {

// Re-entry guard: a paint that arrives while a frame is drawn (a message box
// pumping events, say) must not start a second frame.
std::atomic<int> drawingFlag{0};

void setProjection(int width, int height) {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45.0, height == 0 ? 1.0 : double(width) / double(height), 1.0, 500.0);
    glMatrixMode(GL_MODELVIEW);
}

// Which record colour each world corner takes depends only on the part's
// frame, so the table is made once for all 216 (front, side, up) triples.
struct FrameTables {
    std::array<std::array<uint8_t, 8>, 216> cornerColour;
    FrameTables() {
        for (int f = 0; f < 6; ++f)
            for (int s = 0; s < 6; ++s)
                for (int u = 0; u < 6; ++u) {
                    const PartFrame pf = drawingFrame(f, s, u);
                    cornerColour[f * 36 + s * 6 + u] = cornerColourIndex(pf);
                }
    }
};
const FrameTables& frameTables() {
    static const FrameTables t;
    return t;
}

using Clock = std::chrono::steady_clock;
double since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// The fixed drawing state. A desktop toolkit may share the context with its
// own drawing, which can leave buffer objects, a shader program or extra
// capabilities behind; those would turn client-side vertex arrays into
// offsets or bypass the fixed pipeline. So every frame puts back the state
// the picture depends on (in a context of our own this changes nothing).
void fixedDrawingState() {
    glClearDepth(1.0);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glDepthMask(GL_TRUE);
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glFrontFace(GL_CCW);
    glShadeModel(GL_SMOOTH);
    glLineWidth(1.0f);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    glDisable(GL_SCISSOR_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    int major = 1, minor = 1;
    if (version) std::sscanf(version, "%d.%d", &major, &minor);
    if (major > 1 || minor >= 5) {
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    }
    if (major >= 2) glUseProgram(0);
    if (major >= 3) glBindVertexArray(0);
    glMatrixMode(GL_MODELVIEW);
}

}  // namespace

void setUpViewState(int width, int height) {
    fixedDrawingState();
    glViewport(0, 0, width, height);
    setProjection(width, height);
}

bool resizeView(ViewSize& size, int width, int height) {
    if (height <= 0) return false;
    glViewport(0, 0, width, height);
    const bool shrank = width < size.lastWidth || height < size.lastHeight;
    size.lastWidth = width;
    size.lastHeight = height;
    setProjection(width, height);
    return shrank;
}

// A counting sort on whole units of distance along the view direction: a
// rough order is all the depth test needs, and it costs two passes.
void SceneRenderer::sortNearestFirst(const SceneSnapshot& snap, const Camera& eye) {
    const auto f = cameraForward(eye);
    const size_t n = snap.cells.size();
    order_.resize(n);
    auto depth = [&](const SceneCell& c) {
        return (double(c.x) - eye.x) * f[0] + (double(c.y) - eye.y) * f[1] + (double(c.z) - eye.z) * f[2];
    };
    double lo = depth(snap.cells[0]), hi = lo;
    for (const SceneCell& c : snap.cells) {
        const double d = depth(c);
        lo = std::min(lo, d);
        hi = std::max(hi, d);
    }
    constexpr double kMaxBuckets = 65536;
    if (!std::isfinite(lo) || !std::isfinite(hi)) {
        // A camera with a non-finite field has no meaningful depth order.
        for (size_t i = 0; i < n; ++i) order_[i] = uint32_t(i);
        return;
    }
    const double scale = hi - lo < kMaxBuckets ? 1.0 : (kMaxBuckets - 1) / (hi - lo);
    const size_t buckets = size_t((hi - lo) * scale) + 1;
    bucketStart_.assign(buckets + 1, 0);
    auto bucketOf = [&](const SceneCell& c) { return std::min(size_t((depth(c) - lo) * scale), buckets - 1); };
    for (const SceneCell& c : snap.cells) ++bucketStart_[bucketOf(c) + 1];
    for (size_t b = 0; b < buckets; ++b) bucketStart_[b + 1] += bucketStart_[b];
    for (size_t i = 0; i < n; ++i) order_[bucketStart_[bucketOf(snap.cells[i])]++] = uint32_t(i);
}

void SceneRenderer::buildArrays(const SceneSnapshot& snap, const Camera* eye, bool nearestFirst) {
    quadVertices_.clear();
    quadIndices_.clear();
    lineVertices_.clear();
    const FrameTables& tables = frameTables();
    const auto& faceCorners = bodyFaceCorners();
    Vec3f corners[8];
    for (int k = 0; k < 8; ++k) corners[k] = cornerPosition(k, kBodyHalfSize);

    // Outward distance of the eye from the cell centre along each direction;
    // a face at distance t faces the eye when this exceeds t.
    double eyeOffset[6] = {1e300, 1e300, 1e300, 1e300, 1e300, 1e300};
    const size_t n = snap.cells.size();
    if (eye && nearestFirst && n > 1) {
        sortNearestFirst(snap, *eye);
    } else {
        order_.resize(n);
        for (size_t i = 0; i < n; ++i) order_[i] = uint32_t(i);
    }
    for (uint32_t index : order_) {
        const SceneCell& c = snap.cells[index];
        const float cx = float(c.x), cy = float(c.y), cz = float(c.z);
        if (eye) {
            const double ex = double(eye->x) - double(cx), ey = double(eye->y) - double(cy),
                         ez = double(eye->z) - double(cz);
            eyeOffset[0] = ey;
            eyeOffset[1] = ex;
            eyeOffset[2] = -ey;
            eyeOffset[3] = -ex;
            eyeOffset[4] = ez;
            eyeOffset[5] = -ez;
        }
        const auto& colours = colourRecord(c.record);
        if (c.record == Drive) {
            const auto arrow = driveArrow(c.frame);
            for (const Vec3f& p : arrow)
                lineVertices_.push_back({cx + p.x, cy + p.y, cz + p.z, kArrowColour.r, kArrowColour.g, kArrowColour.b});
        }
        const auto& cc = tables.cornerColour[c.frame.front * 36 + c.frame.side * 6 + c.frame.up];
        const uint32_t base = uint32_t(quadVertices_.size());
        for (int k = 0; k < 8; ++k) {
            const Rgb& col = colours[cc[k]];
            quadVertices_.push_back({cx + corners[k].x, cy + corners[k].y, cz + corners[k].z, col.r, col.g, col.b});
        }
        for (int f = 0; f < 6; ++f) {
            if (eyeOffset[kFaceOrder[f]] <= double(kBodyHalfSize)) continue;
            for (int i = 0; i < 4; ++i) quadIndices_.push_back(base + faceCorners[f * 4 + i]);
        }

        auto squares = [&](uint8_t mask, const SquareStyle& st) {
            if (!mask) return;
            for (int d : kFaceOrder) {
                if (!(mask & (1u << d)) || eyeOffset[d] <= double(st.distance)) continue;
                const uint32_t first = uint32_t(quadVertices_.size());
                for (int i = 0; i < 4; ++i) {
                    const Vec3f p = faceVertex(d, i, st.distance, st.halfSize);
                    quadVertices_.push_back({cx + p.x, cy + p.y, cz + p.z, st.colour.r, st.colour.g, st.colour.b});
                    quadIndices_.push_back(first + uint32_t(i));
                }
            }
        };
        squares(c.outputs, c.record == NorGate ? kNorSignalSquare : kSignalSquare);
        squares(c.bonds, kBondSquare);
    }
}

void SceneRenderer::drawSnapshot(const SceneSnapshot& snap, const Camera* eye, bool nearestFirst) {
    buildArrays(snap, eye, nearestFirst);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    if (!quadIndices_.empty()) {
        glVertexPointer(3, GL_FLOAT, sizeof(Vertex), &quadVertices_[0].x);
        glColorPointer(3, GL_FLOAT, sizeof(Vertex), &quadVertices_[0].r);
        glDrawElements(GL_QUADS, GLsizei(quadIndices_.size()), GL_UNSIGNED_INT, quadIndices_.data());
    }
    if (!lineVertices_.empty()) {
        glVertexPointer(3, GL_FLOAT, sizeof(Vertex), &lineVertices_[0].x);
        glColorPointer(3, GL_FLOAT, sizeof(Vertex), &lineVertices_[0].r);
        glDrawArrays(GL_LINES, 0, GLsizei(lineVertices_.size()));
    }
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
}

FrameResult SceneRenderer::renderFrame(const Camera& camera, Universe& universe, SteppingDriver* driver) {
    FrameResult result;
    int expected = 0;
    if (!drawingFlag.compare_exchange_strong(expected, 1)) return result;
    const auto start = Clock::now();

    fixedDrawingState();
    // The clear waits until the copy shows whether the frame is drawn at all.
    glPushMatrix();
    applyCameraTransform(camera);

    const auto waitStart = Clock::now();
    const bool pausedHere = driver && driver->pauseForRead();
    const auto holdStart = Clock::now();
    takeSnapshot(universe, snapshot_);
    result.copySeconds = since(holdStart);
    if (driver) driver->resumeAfterRead(pausedHere);
    result.holdSeconds = since(holdStart);
    result.waitSeconds = std::chrono::duration<double>(holdStart - waitStart).count();

    if (reuse_ && sameAsLastFrame(camera)) {
        result.reused = true;
    } else {
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        drawSnapshot(snapshot_, &camera);
        if (reuse_) rememberFrame(camera);
    }
    glPopMatrix();
    glFinish();
    drawingFlag.store(0);
    result.drawn = true;
    result.totalSeconds = since(start);
    return result;
}

namespace {
bool sameCell(const SceneCell& a, const SceneCell& b) {
    return a.x == b.x && a.y == b.y && a.z == b.z && a.record == b.record && a.frame.front == b.frame.front &&
           a.frame.side == b.frame.side && a.frame.up == b.frame.up && a.outputs == b.outputs && a.bonds == b.bonds;
}
}  // namespace

bool SceneRenderer::sameAsLastFrame(const Camera& camera) const {
    if (!lastValid_) return false;
    // Bitwise camera equality: a NaN camera is never "the same".
    if (!(camera.x == lastCamera_.x && camera.y == lastCamera_.y && camera.z == lastCamera_.z &&
          camera.alt == lastCamera_.alt && camera.az == lastCamera_.az))
        return false;
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    GLdouble projection[16];
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    for (int i = 0; i < 4; ++i)
        if (viewport[i] != lastViewport_[i]) return false;
    for (int i = 0; i < 16; ++i)
        if (projection[i] != lastProjection_[i]) return false;
    const auto& cells = snapshot_.cells;
    if (cells.size() != lastCells_.size()) return false;
    for (size_t i = 0; i < cells.size(); ++i)
        if (!sameCell(cells[i], lastCells_[i])) return false;
    return true;
}

void SceneRenderer::rememberFrame(const Camera& camera) {
    lastCamera_ = camera;
    lastCells_ = snapshot_.cells;
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    GLdouble projection[16];
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    for (int i = 0; i < 4; ++i) lastViewport_[i] = viewport[i];
    for (int i = 0; i < 16; ++i) lastProjection_[i] = projection[i];
    lastValid_ = true;
}

std::string statusLine(const SceneSnapshot& s) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%d %d %d %d %d %d", s.activeBlockCount, s.drawnCellCount, int(s.generation),
                  s.lastMoveTarget[0], s.lastMoveTarget[1], s.lastMoveTarget[2]);
    return buf;
}
