// Frame cost of the view on a large structure, and what drawing costs the
// simulation.
//
//   view_bench [PARTS] [WIDTHxHEIGHT] [SECONDS] [box|sheet]
//
// Builds a structure of PARTS parts (default 50000) with signals, as a dense
// box (the worst case for fill: every pixel is covered many times) or as a
// sheet two parts thick, starts its worker, and reports medians of:
//   * frame time (renderFrame with the drawing finished) and the time the
//     worker stood still for the frame, while the worker runs;
//   * the frame time with the worker stopped (drawing cost alone);
//   * the same for a reference drawer that holds the worker for the whole
//     immediate-mode drawing (one begin/end per part), for comparison;
//   * generations per second with no view, and with a view drawing every
//     50 ms (the timer period) with each drawer.
#include <GL/gl.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "universe/driver.h"
#include "universe/universe.h"
#include "view/camera.h"
#include "view/offscreen.h"
#include "view/part_geometry.h"
#include "view/scene.h"
#include "view/snapshot.h"

namespace {

using Clock = std::chrono::steady_clock;
double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void buildStructure(Universe& u, int parts, bool sheet) {
    // A box about 2:1.6:1 (or a sheet 2 deep), filled with a mix of
    // signal-carrying parts so the worker has real work every generation.
    const int nz = sheet ? 2 : std::max(1, int(std::cbrt(parts / 3.2)));
    const int ny = sheet ? std::max(1, int(std::sqrt(parts / 2 / 1.33))) : std::max(1, int(nz * 1.6));
    const int nx = (parts + ny * nz - 1) / (ny * nz);
    std::mt19937 rng(7);
    const int32_t frames[][2] = {{0, 1}, {1, 0}, {2, 3}, {3, 2}, {4, 1}, {5, 1}};
    int placed = 0;
    for (int y = 0; y < ny && placed < parts; ++y)
        for (int z = 0; z < nz && placed < parts; ++z)
            for (int x = 0; x < nx && placed < parts; ++x, ++placed) {
                UniverseCell c;
                const unsigned r = rng();
                c.partType = (r % 10 < 6) ? Conductor : (r % 10 < 9) ? NorGate : Source;
                const auto& f = frames[(r >> 4) % 6];
                c.front = f[0];
                c.side = f[1];
                c.up = deriveUp(c.front, c.side);
                c.x = x;
                c.y = y;
                c.z = -z;
                c.outputs = uint8_t((r >> 8) & 0x3F);
                u.placeCell(c);
            }
}

// Reference: what a frame costs when the whole immediate-mode drawing runs
// with the worker held, one begin/end per part.
double referenceFrame(const Camera& cam, Universe& u, SteppingDriver& driver, double& held) {
    const auto start = Clock::now();
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glPushMatrix();
    applyCameraTransform(cam);
    const bool p = driver.pauseForRead();
    const auto holdStart = Clock::now();
    const auto& faces = bodyFaceCorners();
    int32_t count = 0;
    u.forEachBlock([&](const UniverseBlock* b) {
        for (int s = 0; s < 12; ++s) {
            if (b->cells[s].type == 0) continue;
            ++count;
            glPushMatrix();
            glTranslatef(float(b->cellX(s)), float(b->cellY(s)), float(b->cellZ(s)));
            const PartFrame f = drawingFrame(b->front(s), b->side(s), b->up(s));
            const auto cc = cornerColourIndex(f);
            const auto& colours = partColours(b->partType(s));
            glBegin(GL_QUADS);
            for (int i = 0; i < 24; ++i) {
                const Rgb& c = colours[cc[faces[i]]];
                const Vec3f p = cornerPosition(faces[i], kBodyHalfSize);
                glColor3f(c.r, c.g, c.b);
                glVertex3f(p.x, p.y, p.z);
            }
            const uint8_t out = b->cells[s].outputs;
            const SquareStyle& st = b->partType(s) == NorGate ? kNorSignalSquare : kSignalSquare;
            glColor3f(1, 0, 0);
            for (int d : kFaceOrder)
                if (out & (1u << d))
                    for (int i = 0; i < 4; ++i) {
                        const Vec3f p = faceVertex(d, i, st.distance, st.halfSize);
                        glVertex3f(p.x, p.y, p.z);
                    }
            glEnd();
            glPopMatrix();
        }
    });
    u.drawnCellCount = count;
    glFinish();  // the drawing is part of the held stretch here
    held = seconds(Clock::now() - holdStart);
    driver.resumeAfterRead(p);
    glPopMatrix();
    return seconds(Clock::now() - start);
}

uint32_t generationNow(Universe& u, SteppingDriver& d) {
    const bool p = d.pauseForRead();
    const uint32_t g = u.generation;
    d.resumeAfterRead(p);
    return g;
}

// Generations per second over `secs` while `frame` runs every 50 ms (or
// never when frame is null). Collects per-frame figures.
template <class Frame>
double runFor(double secs, Universe& u, SteppingDriver& d, Frame* frame) {
    const uint32_t g0 = generationNow(u, d);
    const auto start = Clock::now();
    auto tick = start;
    while (seconds(Clock::now() - start) < secs) {
        tick += std::chrono::milliseconds(50);
        if (frame) (*frame)();
        std::this_thread::sleep_until(tick);
    }
    const uint32_t g1 = generationNow(u, d);
    return double(g1 - g0) / seconds(Clock::now() - start);
}

}  // namespace

int main(int argc, char** argv) {
    const int parts = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50000;
    int w = 800, h = 600;
    if (argc > 2 && std::sscanf(argv[2], "%dx%d", &w, &h) != 2) return 2;
    const double secs = argc > 3 ? std::max(0.5, std::atof(argv[3])) : 4.0;
    const bool sheet = argc > 4 && std::string(argv[4]) == "sheet";

    std::string error;
    auto ctx = OffscreenContext::create(w, h, error);
    if (!ctx) {
        std::fprintf(stderr, "view_bench: %s\n", error.c_str());
        return 2;
    }
    setUpViewState(w, h);
    std::printf("renderer: %s\n", reinterpret_cast<const char*>(glGetString(GL_RENDERER)));

    Universe u;
    buildStructure(u, parts, sheet);
    Camera cam;
    centreOfMass(cam, u);
    std::printf("%s: parts %zu, view %dx%d, camera %.1f %.1f %.1f\n", sheet ? "sheet" : "box", u.partCount(), w, h, cam.x, cam.y, cam.z);

    SteppingDriver driver(u);
    driver.startWorker();
    driver.runCommand();

    SceneRenderer renderer;
    std::vector<double> frame, hold, copy, wait, build, refFrame, refHold;
    auto viewFrame = [&] {
        const FrameResult r = renderer.renderFrame(cam, u, &driver);
        frame.push_back(r.totalSeconds);
        hold.push_back(r.holdSeconds);
        copy.push_back(r.copySeconds);
        wait.push_back(r.waitSeconds);
    };
    auto refViewFrame = [&] {
        double held = 0;
        refFrame.push_back(referenceFrame(cam, u, driver, held));
        refHold.push_back(held);
    };
    // Warm up caches, the JIT of the software renderer and the vertex storage.
    for (int i = 0; i < 3; ++i) {
        viewFrame();
        refViewFrame();
    }
    frame.clear();
    hold.clear();
    copy.clear();
    wait.clear();
    refFrame.clear();
    refHold.clear();
    for (int i = 0; i < 5; ++i) {
        const auto t = Clock::now();
        renderer.buildArrays(renderer.lastSnapshot(), &cam, true);
        build.push_back(seconds(Clock::now() - t));
    }

    const double none = runFor<decltype(viewFrame)>(secs, u, driver, nullptr);
    const double withView = runFor(secs, u, driver, &viewFrame);
    const double withReference = runFor(secs, u, driver, &refViewFrame);

    // The same frame with the worker stopped: the drawing alone, with no
    // simulation competing for the processors.
    driver.stopCommand();
    driver.waitUntilStopped();
    std::vector<double> stoppedFrame;
    for (int i = 0; i < 7; ++i) stoppedFrame.push_back(renderer.renderFrame(cam, u, &driver).totalSeconds);
    driver.stopWorker();

    std::printf("drawn cells %d, quads %zu, vertices %zu\n", u.drawnCellCount, renderer.quadIndices().size() / 4,
                renderer.quadVertices().size());
    std::printf("view:      frame %.1f ms, universe copy %.2f ms, worker held %.2f ms, wait for pause point %.2f ms, "
                "arrays %.1f ms (%zu frames)\n",
                1e3 * median(frame), 1e3 * median(copy), 1e3 * median(hold), 1e3 * median(wait), 1e3 * median(build),
                frame.size());
    std::printf("view, worker stopped: frame %.1f ms\n", 1e3 * median(stoppedFrame));
    std::printf("reference: frame %.1f ms, worker held %.1f ms (%zu frames)\n", 1e3 * median(refFrame),
                1e3 * median(refHold), refFrame.size());
    std::printf("generations/s: no view %.1f, view every 50 ms %.1f, reference every 50 ms %.1f\n", none, withView,
                withReference);
    return 0;
}
