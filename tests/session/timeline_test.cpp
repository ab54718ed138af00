// Undo, redo, reset and rewind: every position the timeline goes back to is
// byte for byte the state a straight run with the same inputs reached.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include <gtest/gtest.h>

#include "engine/random_universe.h"
#include "files/checkpoint.h"
#include "files/terminals.h"
#include "session/session.h"

namespace fs = std::filesystem;

namespace {

std::string bytesOf(Session& s) {
    std::string out, error;
    EXPECT_TRUE(writeCheckpointBytes(s.document(), out, error)) << error;
    return out;
}

uint32_t generationOf(Session& s) {
    uint32_t g = 0;
    s.document().withUniverse([&](Universe& u) { g = u.generation; });
    return g;
}

std::string consistency(Session& s) {
    std::string e;
    s.document().withUniverse([&](Universe& u) { e = u.verifyConsistency(); });
    return e;
}

struct Scratch {
    fs::path dir = fs::temp_directory_path() / std::string("cellforge-timeline-").append(std::to_string(::getpid()));
    Scratch() { fs::create_directories(dir); }
    ~Scratch() { fs::remove_all(dir); }
    std::string grid(uint64_t seed) {
        const std::string p = (dir / std::string("r").append(std::to_string(seed)).append(".grd")).string();
        random_universe::Params params;
        params.malformedChance = 0;
        params.farChance = 0;
        std::ofstream(p) << random_universe::generate(seed, params);
        return p;
    }
};

std::unique_ptr<Session> openWithHistory(const std::string& path, size_t budget = size_t(64) << 20) {
    SessionOptions o;
    o.historyBudget = budget;
    OpenProblem problem;
    auto s = Session::open(path, o, problem);
    EXPECT_NE(s, nullptr) << problem.message();
    return s;
}

// One random edit through the session, as a user or script makes them.
void randomEdit(Session& s, random_universe::Rng& rng) {
    const int32_t x = int32_t(rng.range(-12, 12)), y = int32_t(rng.range(-12, 12)), z = int32_t(rng.range(-12, 12));
    switch (rng.range(0, 4)) {
    case 0: {
        UniverseCell c;
        c.x = x;
        c.y = y;
        c.z = z;
        c.partType = int32_t(rng.range(1, 10));
        c.front = 1;
        c.side = 0;
        c.up = 5;
        c.outputs = uint8_t(rng.range(0, 63));
        s.placeParts({c});
        break;
    }
    case 1: {
        const int32_t lo[3] = {x, y, z}, hi[3] = {x + 2, y + 3, z + 2};
        s.eraseBox(lo, hi);
        break;
    }
    case 2: {
        PartTransform t;
        t.turns[1] = 1;
        t.offset[0] = 3;
        std::vector<CellPosition> box;
        for (int dx = 0; dx < 3; ++dx)
            for (int dz = 0; dz < 3; ++dz) box.push_back({x + dx, y, z + dz});
        s.transformParts(box, t);
        break;
    }
    case 3: s.pulse(); break;
    default: s.injectSignal(x, y, z, int32_t(rng.range(0, 5))); break;
    }
}

}  // namespace

TEST(Timeline, RewindGivesWhatTheStraightRunGave) {
    Scratch scratch;
    for (uint64_t seed : {3u, 8u, 21u}) {
        for (int threads : {1, 2}) {
            SCOPED_TRACE(std::to_string(seed) + " at " + std::to_string(threads) + " threads");
            auto s = openWithHistory(scratch.grid(seed));
            std::string error;
            ASSERT_TRUE(s->setThreads(threads, error));
            random_universe::Rng rng(seed);
            std::map<uint32_t, std::string> seen;  // generation -> bytes once its inputs were made
            for (int round = 0; round < 30; ++round) {
                if (rng.chance(0.6)) randomEdit(*s, rng);
                seen[generationOf(*s)] = bytesOf(*s);
                s->run(uint64_t(rng.range(1, 90)));
            }
            seen[generationOf(*s)] = bytesOf(*s);
            const uint32_t end = generationOf(*s);
            for (auto it = seen.rbegin(); it != seen.rend(); ++it) {
                ASSERT_TRUE(s->rewind(it->first, error)) << error;
                ASSERT_EQ(generationOf(*s), it->first);
                ASSERT_EQ(bytesOf(*s), it->second) << "rewound to " << it->first;
                ASSERT_EQ(consistency(*s), "");
            }
            // Forward again without edits: the run that was there.
            s->run(end - generationOf(*s));
            EXPECT_EQ(bytesOf(*s), seen[end]);
            // An edit after a rewind starts a new branch.
            ASSERT_TRUE(s->rewind(seen.begin()->first + 1, error)) << error;
            randomEdit(*s, rng);
            s->placeParts({UniverseCell{}});
            EXPECT_EQ(s->timeline()->history().last, generationOf(*s));
            EXPECT_FALSE(s->rewind(end, error));
        }
    }
}

TEST(Timeline, TheViewsPulseKeyDuringARunIsRecordedWhole) {
    // K pressed at any moment while the worker runs: each press pulses one
    // whole generation and is recorded with it, so the run rewinds exactly.
    Scratch scratch;
    for (uint64_t seed : {5u, 13u}) {
        SCOPED_TRACE(seed);
        auto s = openWithHistory(scratch.grid(seed));
        Universe* u = nullptr;
        s->document().withUniverse([&](Universe& v) { u = &v; });
        std::atomic<bool> done{false};
        std::thread presser([&] {
            random_universe::Rng rng(seed);
            while (!done) {
                u->pulseRequest = 1;  // what the view's K key does, from another thread
                std::this_thread::sleep_for(std::chrono::microseconds(rng.range(10, 400)));
            }
        });
        for (int round = 0; round < 200 && s->timeline()->history().inputs < 10; ++round) s->run(200);
        done = true;
        presser.join();
        s->document().withUniverse([&](Universe& v) { v.pulseRequest = 0; });
        const std::string end = bytesOf(*s);
        const uint32_t last = generationOf(*s);
        EXPECT_GE(s->timeline()->history().inputs, 10u);  // nothing else is recorded here
        std::string error;
        ASSERT_TRUE(s->rewind(0, error)) << error;
        s->run(last);
        EXPECT_EQ(bytesOf(*s), end);
    }
}

TEST(Timeline, TheGenerationARunStoppedAtCanBeRewoundToAgain) {
    Scratch scratch;
    auto s = openWithHistory(scratch.grid(21));
    s->run(40);
    const std::string end = bytesOf(*s);
    std::string error;
    ASSERT_TRUE(s->rewind(35, error)) << error;
    EXPECT_EQ(s->timeline()->history().last, 40u);
    ASSERT_TRUE(s->rewind(40, error)) << error;
    EXPECT_EQ(generationOf(*s), 40u);
    EXPECT_EQ(bytesOf(*s), end);
}

TEST(Timeline, UndoingEveryEditReturnsTheUniverseBeforeTheFirst) {
    Scratch scratch;
    for (uint64_t seed : {5u, 13u, 34u}) {
        SCOPED_TRACE(seed);
        auto s = openWithHistory(scratch.grid(seed));
        s->run(17);
        const std::string before = bytesOf(*s);
        random_universe::Rng rng(seed + 100);
        std::vector<std::string> afterEach;
        int edits = 0;
        for (int round = 0; round < 25; ++round) {
            const size_t undoBefore = s->timeline()->history().undo;
            randomEdit(*s, rng);
            if (s->timeline()->history().undo > undoBefore) {
                ++edits;
                afterEach.push_back(bytesOf(*s));
            }
            if (rng.chance(0.3)) s->run(uint64_t(rng.range(1, 40)));
            ASSERT_EQ(consistency(*s), "");
        }
        ASSERT_GT(edits, 5);
        std::string error;
        // Undo and redo the newest edit: the state just after it, again.
        if (s->timeline()->history().undo > 0) {
            const uint32_t g = generationOf(*s);
            ASSERT_TRUE(s->undo(error)) << error;
            ASSERT_TRUE(s->redo(error)) << error;
            if (generationOf(*s) == g) {
                EXPECT_EQ(bytesOf(*s), afterEach.back());
            }
        }
        while (s->timeline()->history().undo > 0) {
            ASSERT_TRUE(s->undo(error)) << error;
            ASSERT_EQ(consistency(*s), "");
        }
        EXPECT_FALSE(s->undo(error));
        EXPECT_EQ(bytesOf(*s), before);
        ASSERT_TRUE(s->reset(error));
        EXPECT_EQ(generationOf(*s), 0u);
    }
}

TEST(Timeline, AKeyframeBudgetThinsButRewindStaysExact) {
    Scratch scratch;
    auto s = openWithHistory(scratch.grid(55), 256 * 1024);
    std::map<uint32_t, std::string> seen;
    for (int i = 0; i < 40; ++i) {
        s->run(25);
        seen[generationOf(*s)] = bytesOf(*s);
    }
    const Timeline::History h = s->timeline()->history();
    EXPECT_LE(h.bytes, 256u * 1024 + 64 * 1024) << h.keyframes << " keyframes";
    std::string error;
    for (uint32_t g : {1000u, 25u, 500u, 975u}) {
        ASSERT_TRUE(s->rewind(g, error)) << error;
        EXPECT_EQ(bytesOf(*s), seen[g]) << g;
    }
}

TEST(Timeline, SingleEditsCostTheirSizeNotTheUniverses) {
    Scratch scratch;
    auto s = openWithHistory(scratch.grid(2));
    const size_t start = s->timeline()->history().bytes;
    for (int i = 0; i < 2000; ++i) {
        UniverseCell c;
        c.x = i % 50;
        c.y = 30 + i / 50;
        c.partType = 1;
        s->placeParts({c});
    }
    const size_t perEdit = (s->timeline()->history().bytes - start) / 2000;
    EXPECT_LT(perEdit, 1024u);
}

TEST(Timeline, PlacementConflictsAreReportedOnceNotOnReplay) {
    Scratch scratch;
    std::vector<std::string> messages;
    SessionOptions o;
    o.historyBudget = size_t(16) << 20;
    o.messages = [&](const std::string& m) { messages.push_back(m); };
    OpenProblem problem;
    auto s = Session::open(scratch.grid(7), o, problem);
    ASSERT_NE(s, nullptr) << problem.message();
    messages.clear();  // what the load said
    UniverseCell a;
    a.x = 4000;
    a.partType = 1;
    a.front = 1;
    UniverseCell b = a;
    b.partType = 2;
    UniverseCell far = a;
    far.x = 4001;
    s->placeParts({a, far});
    EXPECT_TRUE(messages.empty());
    // One call: the second cell lands on the first (a conflict within the
    // call) and the old part at x = 4001 is replaced too.
    s->placeParts({b, a, far});
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_NE(messages[0].find("contains part type 1, replacing with type 2"), std::string::npos) << messages[0];
    const std::string after = bytesOf(*s);
    s->run(5);
    std::string error;
    ASSERT_TRUE(s->rewind(0, error)) << error;
    ASSERT_TRUE(s->undo(error)) << error;
    ASSERT_TRUE(s->redo(error)) << error;
    EXPECT_EQ(messages.size(), 3u);
    EXPECT_EQ(bytesOf(*s), after);
}

TEST(Timeline, TheGenerationARunEndedAtStaysReachable) {
    Scratch scratch;
    auto s = openWithHistory(scratch.grid(12));
    s->run(10);
    const std::string end = bytesOf(*s);
    std::string error;
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(s->rewind(3, error)) << error;
        ASSERT_TRUE(s->rewind(10, error)) << error;
        EXPECT_EQ(bytesOf(*s), end);
        EXPECT_EQ(s->timeline()->history().last, 10u);
    }
}

TEST(Recorder, TracesEqualTheSignalsReadAfterEachGeneration) {
    // The membank project's terminals, recorded over a run, against the same
    // terminals read one generation at a time.
    const std::string project = std::string(CELLFORGE_SOURCE) + "/examples/membank/membank.prj";
    OpenProblem problem;
    auto a = Session::open(project, {}, problem);
    auto b = Session::open(project, {}, problem);
    ASSERT_TRUE(a && b) << problem.message();
    SignalRecorder rec;
    std::string error;
    const TerminalTable* table = a->document().terminals();
    ASSERT_NE(table, nullptr);
    for (size_t i = 0; i < table->size(); i += 7) ASSERT_TRUE(rec.addTerminal(table, table->at(i).name, error));
    ASSERT_TRUE(rec.addCell(0, 0, 0, 1, error));
    EXPECT_FALSE(rec.addCell(0, 0, 0, 6, error));
    EXPECT_FALSE(rec.addTerminal(table, "no such terminal", error));
    rec.recordCounters(true);
    const size_t n = 300;
    rec.setCapacity(n, false);
    RunControl control;
    control.recorder = &rec;
    ASSERT_EQ(a->run(n, control).generations, n);
    ASSERT_EQ(rec.rows(), n);
    size_t ones = 0;
    for (size_t g = 0; g < n; ++g) {
        b->run(1);
        b->document().withUniverse([&](Universe& u) {
            for (size_t p = 0; p < rec.probes().size(); ++p) {
                const SignalProbe& probe = rec.probes()[p];
                bool on;
                if (!probe.name.empty() && probe.name.find(':') == std::string::npos) {
                    const Terminal* t = findTerminal(b->document().terminals(), probe.name);
                    on = terminalInUniverseRange(*t) && u.testOutput(t->x, t->y, t->z, t->direction);
                } else {
                    on = u.testOutput(probe.x, probe.y, probe.z, probe.direction);
                }
                ASSERT_EQ(rec.value(g, p), on) << "generation " << g + 1 << ", " << probe.name;
                ones += on;
            }
            EXPECT_EQ(rec.counter(g, SignalRecorder::Generation), int64_t(u.generation));
            EXPECT_EQ(rec.counter(g, SignalRecorder::ActiveBlocks), u.activeBlockCount);
        });
    }
    EXPECT_GT(ones, 0u) << "a trace of nothing but zeros proves nothing";
    // A rolling recorder keeps the newest rows.
    SignalRecorder rolling;
    ASSERT_TRUE(rolling.addTerminal(table, table->at(0).name, error));
    rolling.recordCounters(true);
    rolling.setCapacity(10, true);
    control.recorder = &rolling;
    a->run(25, control);
    ASSERT_EQ(rolling.rows(), 10u);
    EXPECT_EQ(rolling.counter(9, SignalRecorder::Generation) - rolling.counter(0, SignalRecorder::Generation), 9);
}
