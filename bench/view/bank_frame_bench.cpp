// Frame cost of the 32-module memory bank drawn whole, as the desktop view
// draws it in a maximised window.
//
//   bank_frame_bench [GRID] [WIDTHxHEIGHT] [FRAMES]
//
// Defaults: the bank of examples/membank, 1000x650, 15 frames. For the bank's
// "whole bank" saved view and the Fit All camera it reports medians of:
//   * a full frame (copy, vertex arrays, drawing, finished), split into the
//     copy, the array building and what is left for OpenGL;
//   * the same frame at 100x65, which separates geometry from fill cost;
//   * a frame kept because nothing changed (what a stopped universe costs).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "files/grid_file.h"
#include "universe/universe.h"
#include "view/navigation.h"
#include "view/offscreen.h"
#include "view/scene.h"

namespace {

using Clock = std::chrono::steady_clock;

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Figures {
    double frame = 0, copy = 0, build = 0;
};

Figures measure(Universe& u, const Camera& cam, int w, int h, int frames, bool reuse) {
    std::string error;
    auto ctx = OffscreenContext::create(w, h, error);
    if (!ctx) {
        std::fprintf(stderr, "bank_frame_bench: %s\n", error.c_str());
        std::exit(2);
    }
    setUpViewState(w, h);
    SceneRenderer r;
    r.setReuseUnchangedFrames(reuse);
    std::vector<double> frame, copy, build;
    r.renderFrame(cam, u, nullptr);  // warm-up: arrays grown, shaders compiled
    for (int i = 0; i < frames; ++i) {
        const FrameResult f = r.renderFrame(cam, u, nullptr);
        frame.push_back(f.totalSeconds * 1e3);
        copy.push_back(f.copySeconds * 1e3);
        const auto t = Clock::now();
        r.buildArrays(r.lastSnapshot(), &cam, true);
        build.push_back(std::chrono::duration<double>(Clock::now() - t).count() * 1e3);
    }
    return {median(frame), median(copy), median(build)};
}

}  // namespace

int main(int argc, char** argv) {
    const std::string grid = argc > 1 ? argv[1] : CELLFORGE_MEMBANK_GRID;
    int w = 1000, h = 650;
    if (argc > 2 && std::sscanf(argv[2], "%dx%d", &w, &h) != 2) return 2;
    const int frames = argc > 3 ? std::max(3, std::atoi(argv[3])) : 15;
    Universe u;
    if (!openGridDocument(u, grid)) {
        std::fprintf(stderr, "bank_frame_bench: cannot read %s\n", grid.c_str());
        return 2;
    }
    SceneSnapshot snap;
    takeSnapshot(u, snap);
    Bounds box;
    drawnBounds(snap, box);
    Camera whole;  // the bank's first saved view
    whole.x = 95.5f;
    whole.y = -15.5f;
    whole.z = 190.0f;
    const Camera fit = fitAllCamera(box, w, h);
    std::printf("parts %zu, view %dx%d, %d frames each, medians in ms\n", u.partCount(), w, h, frames);
    for (const auto& [name, cam] : {std::pair{"whole bank", whole}, std::pair{"fit all", fit}}) {
        const Figures full = measure(u, cam, w, h, frames, false);
        const Figures small = measure(u, cam, 100, 65, frames, false);
        const Figures kept = measure(u, cam, w, h, frames, true);
        std::printf("%-10s full %.1f (copy %.1f, arrays %.1f, OpenGL %.1f); at 100x65 %.1f; unchanged frame %.1f\n", name,
                    full.frame, full.copy, full.build, full.frame - full.copy - full.build, small.frame, kept.frame);
    }
    return 0;
}
