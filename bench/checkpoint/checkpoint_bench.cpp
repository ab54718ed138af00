// Checkpoint size and speed on the standard large cases: the 32-module
// memory bank project (with its stimulus and monitor), a 1,000,000-part
// random universe, and 200 cars with timer units run to just before the
// clean-up (2,800 parts and the millions of empty blocks they left behind,
// most of them husks). Prints the median of several runs of each step:
//   snapshot  - the document's state as checkpoint bytes, in memory;
//   write     - the same through the atomic file write (temporary file,
//               fsync, rename);
//   parse     - reading the file back and checking it (checksum, every
//               count, the consistency check of the restored universe);
//   apply     - matching the run objects and exchanging the universe.
//   checkpoint_bench [RUNS] [FOLDER]   (defaults: 7 runs, the system's temporary folder)
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "files/checkpoint.h"
#include "files/document.h"
#include "files/grid_file.h"
#include "files/platform.h"
#include "files/project.h"
#include "tools/workloads.h"

namespace fs = std::filesystem;

namespace {

double medianMs(int runs, const std::function<void()>& step) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        step();
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

void fail(const std::string& what) {
    std::fprintf(stderr, "checkpoint_bench: %s\n", what.c_str());
    std::exit(1);
}

void measure(const char* name, CellforgeDocument& doc, const std::string& path, int runs) {
    std::string bytes, error;
    size_t parts = 0, blocks = 0;
    doc.withUniverse([&](Universe& u) {
        parts = u.partCount();
        blocks = u.blockCount();
    });
    const double snap = medianMs(runs, [&] {
        bytes.clear();
        if (!writeCheckpointBytes(doc, bytes, error)) fail(error);
    });
    const double write = medianMs(runs, [&] {
        if (!writeCheckpoint(doc, path, error)) fail(error);
    });
    CheckpointImage image;
    const double parse = medianMs(runs, [&] {
        if (!readCheckpointFile(path, image, error)) fail(error);
    });
    std::vector<double> applyMs;
    for (int i = 0; i < runs; ++i) {
        if (!readCheckpointFile(path, image, error)) fail(error);
        const auto t0 = std::chrono::steady_clock::now();
        if (!applyCheckpoint(doc, image, error)) fail(error);
        applyMs.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
    std::sort(applyMs.begin(), applyMs.end());
    std::string after;
    if (!writeCheckpointBytes(doc, after, error) || after != bytes) fail("the round trip changed the state");
    std::printf("%-22s parts %9zu blocks %8zu size %10zu B (%.1f B/part)  snapshot %8.2f ms  write %8.2f ms  "
                "parse %8.2f ms  apply %8.2f ms\n",
                name, parts, blocks, bytes.size(), parts ? double(bytes.size()) / double(parts) : 0.0, snap, write,
                parse, applyMs[applyMs.size() / 2]);
}

// A document holding a grid, run for `generations`, then measured.
void measureGrid(const char* name, const std::string& grid, uint32_t generations, const std::string& path, int runs) {
    CellforgeDocument doc;
    doc.withUniverse([&](Universe& u) {
        std::istringstream in(grid);
        readGridFile(u, in);
    });
    const bool p = doc.pauseForRead();
    for (uint32_t g = 0; g < generations; ++g) doc.driver().runGeneration();
    doc.resumeAfterRead(p);
    measure(name, doc, path, runs);
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    const fs::path folder = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path();
    const fs::path work = folder / ("cellforge-checkpoint-bench-" + std::to_string(::getpid()));
    fs::create_directories(work);
    const fs::path keepCwd = fs::current_path();
    {
        fs::copy(std::string(CELLFORGE_EXAMPLES_DIR) + "/membank", work / "membank", fs::copy_options::recursive);
        HeadlessPlatform platform;
        ProjectLoadResult r;
        if (!loadProjectFromPath(platform, (work / "membank/membank.prj").string(), &r) || !r.document)
            fail("cannot load the memory bank project");
        const bool p = r.document->pauseForRead();
        for (int i = 0; i < 100; ++i) r.document->driver().runGeneration();
        r.document->resumeAfterRead(p);
        measure("membank (32 modules)", *r.document, (work / "membank.ckpt").string(), runs);
    }
    fs::current_path(keepCwd);
    {
        std::ostringstream grid;
        workloads::RandomOptions o;
        o.parts = 1000000;
        workloads::writeRandomParts(grid, o);
        measureGrid("random 1,000,000 parts", grid.str(), 10, (work / "random.ckpt").string(), runs);
    }
    {
        std::ostringstream grid;
        workloads::CarOptions o;
        o.cars = 200;
        workloads::writeCars(grid, o);
        measureGrid("200 cars, 9,990 gens", grid.str(), Universe::kCleanUpPeriod - 10, (work / "cars.ckpt").string(),
                    runs);
    }
    fs::remove_all(work);
    return 0;
}
