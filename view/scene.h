// Drawing one frame of a view with OpenGL 1.1.
//
// Design note
//   The frame is built in three stages so that the worker stands still only
//   while the universe is copied:
//     1. pause the worker, copy the visible parts (snapshot.h), release it;
//     2. turn the copy into vertex arrays: 8 shared corner vertices per body
//        plus 4 per signal or bond square, and one index stream that lists the
//        quads in exactly the order a cell-by-cell drawing would emit them;
//     3. submit the quads with one glDrawElements and the Drive arrows with
//        one glDrawArrays.
//   Quads that face away from the eye are left out of the index stream in
//   stage 2. Back-face culling would discard them anyway: a planar quad is
//   front-facing in the window exactly when the eye lies on the outer side of
//   its plane, so the test on the eye position drops the same quads (an
//   edge-on quad covers no pixels either way) and only saves the software
//   renderer from transforming and culling them.
//   Submission order shows in the picture only where two fragments tie in
//   depth. Front-facing quads of different cells never overlap in a common
//   plane (same-plane faces of neighbours are disjoint or share an edge,
//   which the rasteriser's fill rule gives to one of them, and facing pairs
//   are culled), and an arrow lies 0.005 in front of its body face where no
//   quad lies. So the order is free, and cells are submitted roughly nearest
//   first: the software renderer then rejects hidden fragments by the depth
//   test before shading them, which is most of the fill cost of a dense
//   structure. Within a cell the quads keep their face order.
//
//   A caller whose framebuffer keeps its contents may ask for unchanged
//   frames to be kept (setReuseUnchangedFrames): the copy is still taken
//   and compared with the last drawn one, cell by cell, together with the
//   camera, viewport and projection; only when all agree is the drawing
//   skipped, so the picture is the one a full frame would give.
//
//   No OpenGL state outside this file is assumed beyond a current context:
//   the desktop view calls these functions from its widget's paint handler,
//   the runner and the tests from an off-screen context. A view uses them as
//   setUpViewState once the context exists, resizeView on every resize,
//   renderFrame on every paint (then the document's frameDrawn and
//   statusLine(lastSnapshot())), and saveWindowBitmap or
//   writeDriveCoordinates with its context current.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "view/camera.h"
#include "view/snapshot.h"

class SteppingDriver;
class Universe;

// Sets the fixed drawing state (depth test, back-face culling, smooth shading,
// line width) and the viewport and projection for a surface of this size.
// Called once after the context is created.
void setUpViewState(int width, int height);

// Viewport and projection after a resize. Tracks the last size and returns
// true when the surface shrank, which is when the view must repaint at once.
// A height of 0 or less changes nothing.
struct ViewSize {
    int lastWidth = 0;
    int lastHeight = 0;
};
bool resizeView(ViewSize& size, int width, int height);

struct FrameResult {
    bool drawn = false;  // false when a frame was already being drawn
    bool reused = false;  // the picture already in the framebuffer was kept
    double waitSeconds = 0;   // waiting for the worker to reach its pause point
    double copySeconds = 0;   // reading the universe (the snapshot)
    double holdSeconds = 0;   // copy plus release until the worker runs again
    double totalSeconds = 0;  // the whole frame, drawing finished
};

// Keeps the vertex storage of a view between frames so a frame allocates
// nothing once the universe has stopped growing. One per view.
class SceneRenderer {
public:
    // Draws one frame into the current context and framebuffer and waits for
    // the drawing to finish. The universe is read with the driver's pause
    // handshake; pass no driver when nothing else runs the universe. lastSnapshot() then holds the counters for the
    // status line and the generation for the frame-output check, all read in
    // the paused stretch.
    FrameResult renderFrame(const Camera& camera, Universe& universe, SteppingDriver* driver);

    // With reuse on, a frame whose copy of the universe, camera, viewport
    // and projection all equal the last drawn frame's is not drawn again:
    // the picture already in the framebuffer is kept. Only for a caller
    // whose framebuffer keeps its contents between frames and is drawn by
    // nothing else (the desktop view's own target). Off by default.
    void setReuseUnchangedFrames(bool on) {
        reuse_ = on;
        lastValid_ = false;
    }
    // Forget the last frame, so the next one is drawn in full (after the
    // framebuffer was remade or drawn into by someone else).
    void invalidate() { lastValid_ = false; }

    // The vertex stage alone, for a snapshot already taken, with the camera
    // transform already applied. With an eye camera, quads facing away from
    // it are not submitted.
    void drawSnapshot(const SceneSnapshot& snapshot, const Camera* eye, bool nearestFirst = true);

    const SceneSnapshot& lastSnapshot() const { return snapshot_; }

    struct Vertex {
        float x, y, z;
        float r, g, b;
    };
    // Builds the arrays for a snapshot; exposed for the benchmark.
    // With an eye and nearestFirst, cells are emitted in order of distance
    // along the view direction (whole units); otherwise in walk order.
    void buildArrays(const SceneSnapshot& snapshot, const Camera* eye = nullptr, bool nearestFirst = false);
    const std::vector<Vertex>& quadVertices() const { return quadVertices_; }
    const std::vector<uint32_t>& quadIndices() const { return quadIndices_; }
    const std::vector<Vertex>& lineVertices() const { return lineVertices_; }

private:
    SceneSnapshot snapshot_;
    std::vector<Vertex> quadVertices_;
    std::vector<uint32_t> quadIndices_;
    std::vector<Vertex> lineVertices_;
    void sortNearestFirst(const SceneSnapshot& snapshot, const Camera& eye);
    std::vector<uint32_t> order_;
    std::vector<uint32_t> bucketStart_;

    // What the last drawn frame showed, for reuse.
    bool sameAsLastFrame(const Camera& camera) const;
    void rememberFrame(const Camera& camera);
    bool reuse_ = false;
    bool lastValid_ = false;
    Camera lastCamera_;
    std::vector<SceneCell> lastCells_;
    double lastProjection_[16] = {};
    int lastViewport_[4] = {};
};

// The status bar text: active blocks, drawn cells, generation and the last
// move target.
std::string statusLine(const SceneSnapshot& snapshot);
