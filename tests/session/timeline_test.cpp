// Undo, redo, reset and rewind: every position the timeline goes back to is
// byte for byte the state a straight run with the same inputs reached.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include <gtest/gtest.h>

#include "engine/random_universe.h"
#include "files/checkpoint.h"
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
    fs::path dir = fs::temp_directory_path() / ("cellforge-timeline-" + std::to_string(::getpid()));
    Scratch() { fs::create_directories(dir); }
    ~Scratch() { fs::remove_all(dir); }
    std::string grid(uint64_t seed) {
        const std::string p = (dir / ("r" + std::to_string(seed) + ".grd")).string();
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
