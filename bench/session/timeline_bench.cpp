// Timeline benchmark: what undo and rewind cost on the 32-module bank holding
// a random program (8192 random words written into its modules).
//
//   run rate      - generations per second without a timeline and with one
//                   (keyframes in the default budget), side by side
//   rewind        - to generations spread over a run of 20,000 generations
//   reset         - back to the state as loaded
//   edit held     - how long one edit holds a running worker
//   paste         - 10,000 parts placed as one step
//   history       - bytes kept by 10,000 single-part edits
//   recorder      - the demo bank project with 192 of its terminals recorded
//                   every generation, against the same run unrecorded
//   signal lanes  - the same project run by its worker thread with 32 of its
//                   terminals recorded through the document's run watcher
//                   into 512 rolling rows with counters (what the desktop's
//                   Signals pane records), against the worker unwatched
//
// Medians of --runs runs (default 5). Usage: timeline_bench [--runs N] [--generations N]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "files/grid_file.h"
#include "files/memory_image.h"
#include "files/document.h"
#include "files/terminals.h"
#include "session/session.h"
#include "tools/workloads.h"

namespace {

using Clock = std::chrono::steady_clock;
double since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

std::string bankPath() {
    const std::string path = (std::filesystem::temp_directory_path() / "cellforge-timeline-bank.grd").string();
    Universe u;
    std::ostringstream text;
    workloads::BankOptions o;
    o.pattern = workloads::RingPattern::Ones;
    workloads::writeMemoryBank(text, o);
    std::istringstream in(text.str());
    readGridFile(u, in);
    std::mt19937 rng(7);
    std::vector<int32_t> image(8192);
    for (int32_t& v : image) v = int32_t(rng() % 64);
    writeMemoryImage(u, 0, 0, 0, 0, image);
    std::ofstream out(path);
    u.writeBlocks(out);
    return path;
}

std::unique_ptr<Session> open(const std::string& path, size_t budget) {
    SessionOptions o;
    o.historyBudget = budget;
    OpenProblem p;
    auto s = Session::open(path, o, p);
    if (!s) {
        std::fprintf(stderr, "timeline_bench: %s\n", p.message().c_str());
        std::exit(2);
    }
    return s;
}

// What the desktop's signal lanes hang on the document: one rolling row per
// generation, sampled by the worker.
class LaneWatcher : public RunWatcher {
public:
    SignalRecorder recorder;
    void generationDone(const Universe& u) override { recorder.sample(u); }
    void runObjectsGoing() override {}
};

// The median of a[i] / b[i]: runs taken side by side, compared pair by pair.
double pairedRatio(const std::vector<double>& a, const std::vector<double>& b) {
    std::vector<double> r;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) r.push_back(a[i] / b[i]);
    return median(r);
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
    uint32_t generations = 20000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--runs")) runs = std::max(1, std::atoi(argv[i + 1]));
        if (!std::strcmp(argv[i], "--generations")) generations = uint32_t(std::max(100, std::atoi(argv[i + 1])));
    }
    const std::string bank = bankPath();
    std::vector<double> keyframeMs, interval, plain, keyed, rewind, rewindWorst, reset, held, paste, historyMb, keyframes;
    for (int r = 0; r < runs; ++r) {
        // The run rate without a timeline and with one, one after the other,
        // in turns first (whichever runs second in a process runs differently).
        auto runPlain = [&] {
            auto s = open(bank, 0);
            const auto t = Clock::now();
            s->run(generations);
            plain.push_back(generations / since(t));
        };
        if (r % 2 == 0) runPlain();
        auto s = open(bank, Timeline::defaultBudget());
        auto t = Clock::now();
        s->run(generations);
        keyed.push_back(generations / since(t));
        if (r % 2 == 1) runPlain();
        keyframes.push_back(double(s->timeline()->history().keyframes));
        keyframeMs.push_back(1e3 * s->timeline()->history().keyframeSeconds);
        interval.push_back(double(s->timeline()->history().interval));
        // Rewinds to generations spread over the run, newest first.
        std::vector<double> each;
        std::string error;
        for (uint32_t g : {generations - 1, generations * 3 / 4 + 37, generations / 2 + 11, generations / 4 + 5, 1u}) {
            t = Clock::now();
            if (!s->rewind(g, error)) std::fprintf(stderr, "timeline_bench: %s\n", error.c_str());
            each.push_back(since(t));
        }
        rewind.push_back(median(each));
        rewindWorst.push_back(*std::max_element(each.begin(), each.end()));
        t = Clock::now();
        s->reset(error);
        reset.push_back(since(t));

        // One edit while the worker runs: from the call to its return.
        s->document().runCommand();
        usleep(50000);
        std::vector<double> holds;
        for (int k = 0; k < 20; ++k) {
            UniverseCell c;
            c.x = -10 - k;
            c.partType = 1;
            t = Clock::now();
            s->placeParts({c});
            holds.push_back(since(t));
            usleep(5000);
        }
        s->document().stopCommand();
        held.push_back(median(holds));

        // 10,000 parts in one step.
        std::vector<UniverseCell> cells;
        for (int k = 0; k < 10000; ++k) {
            UniverseCell c;
            c.x = -100 - k % 100;
            c.y = k / 100;
            c.z = 40;
            c.partType = 1 + k % 2;
            cells.push_back(c);
        }
        t = Clock::now();
        s->placeParts(cells, "paste");
        paste.push_back(since(t));

        // 10,000 single-part edits: what the history keeps for them.
        const size_t before = s->timeline()->history().bytes;
        for (int k = 0; k < 10000; ++k) {
            UniverseCell c;
            c.x = 300 + k % 100;
            c.y = k / 100;
            c.partType = 1;
            s->placeParts({c});
        }
        historyMb.push_back(double(s->timeline()->history().bytes - before) / 1e6);
    }
    // The recorder on the demo bank's project (its terminals), interleaved.
    std::vector<double> unrecorded, recorded;
    const std::string project = std::string(CELLFORGE_SOURCE_DIR) + "/examples/membank/membank.prj";
    for (int r = 0; r < runs; ++r) {
        for (bool record : {false, true}) {
            OpenProblem p;
            auto s = Session::open(project, {}, p);
            if (!s) break;
            SignalRecorder rec;
            std::string error;
            const TerminalTable* table = s->document().terminals();
            for (size_t i = 0; table && i < table->size() && rec.probes().size() < 192; ++i)
                rec.addTerminal(table, table->at(i).name, error);
            rec.setCapacity(generations, false);
            RunControl control;
            if (record) control.recorder = &rec;
            const auto t = Clock::now();
            s->run(generations, control);
            (record ? recorded : unrecorded).push_back(generations / since(t));
        }
    }

    // 32 lanes through the worker's hook, interleaved with the worker alone.
    std::vector<double> workerAlone, workerWatched;
    for (int r = 0; r < runs; ++r) {
        for (bool watch : {false, true}) {
            OpenProblem p;
            auto s = Session::open(project, {}, p);
            if (!s) break;
            CellforgeDocument& doc = s->document();
            LaneWatcher watcher;
            std::string error;
            const TerminalTable* table = doc.terminals();
            for (size_t i = 0; table && i < table->size() && watcher.recorder.probes().size() < 32; ++i)
                watcher.recorder.addTerminal(table, table->at(i).name, error);
            watcher.recorder.recordCounters(true);
            watcher.recorder.setCapacity(512, true);
            if (watch) doc.setRunWatcher(&watcher);
            uint32_t start = 0;
            doc.withUniverse([&](Universe& u) { start = u.generation; });
            doc.setRunUntil(start + generations);
            const auto t = Clock::now();
            doc.runCommand();
            doc.driver().waitUntilStopped();
            (watch ? workerWatched : workerAlone).push_back(generations / since(t));
            doc.setRunWatcher(nullptr);
        }
    }

    std::printf("timeline_bench: the bank holding a random program, %u generations, medians of %d runs\n\n",
                generations, runs);
    std::printf("| measure | value | target |\n|---|---:|---:|\n");
    std::printf("| run rate without a timeline | %.0f gen/s | |\n", median(plain));
    std::printf("| run rate with keyframes (%.0f kept) | %.0f gen/s (%.1f%% slower) | at most 3%% slower |\n",
                median(keyframes), median(keyed), 100.0 * (1.0 - pairedRatio(keyed, plain)));
    std::printf("| one keyframe | %.1f ms, every %.0f generations | |\n", median(keyframeMs), median(interval));
    std::printf("| rewind, median of 5 targets | %.3f s | |\n", median(rewind));
    std::printf("| rewind, slowest of 5 targets | %.3f s | at most 0.5 s |\n", median(rewindWorst));
    std::printf("| reset | %.4f s | at most 0.1 s |\n", median(reset));
    std::printf("| one edit holds a running worker | %.2f ms | at most 5 ms |\n", 1e3 * median(held));
    std::printf("| paste 10,000 parts | %.1f ms | at most 100 ms |\n", 1e3 * median(paste));
    std::printf("| demo bank project, unrecorded | %.0f gen/s | |\n", median(unrecorded));
    std::printf("| demo bank project, 192 terminals recorded | %.0f gen/s (%.1f%% slower) | at most 10%% slower |\n",
                median(recorded), 100.0 * (1.0 - median(recorded) / median(unrecorded)));
    std::printf("| demo bank project, its worker alone | %.0f gen/s | |\n", median(workerAlone));
    std::printf("| demo bank project, its worker with 32 signal lanes | %.0f gen/s (%.1f%% slower) | at most 5%% slower |\n",
                median(workerWatched), 100.0 * (1.0 - median(workerWatched) / median(workerAlone)));
    std::printf("| history of 10,000 single-part edits | %.2f MB | at most 10 MB |\n", median(historyMb));
    std::filesystem::remove(bank);
    return 0;
}
