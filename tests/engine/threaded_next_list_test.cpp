// The next list built by several threads without the ordered walk (when no
// listed block has an ordered cell), and the move of the blocks to spatial
// storage order that keeps the threads' shares apart. The list order is
// part of the results (it is the order of the next generation's rules and
// of a checkpoint), so every comparison here includes it: a universe on one
// thread is the reference, generation by generation.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "files/grid_file.h"
#include "universe/checkpoint.h"
#include "universe/universe.h"

namespace {

std::vector<int32_t> listed(const std::vector<UniverseBlock*>& list) {
    std::vector<int32_t> out;
    for (const UniverseBlock* b : list) out.insert(out.end(), {b->originX, b->originY, b->originZ});
    return out;
}

std::string checkpoint(const Universe& u) {
    std::string bytes, error;
    EXPECT_TRUE(UniverseCheckpoint::write(u, {}, bytes, error)) << error;
    return bytes;
}

// A box of conductors and NOR gates only (perpendicular frames, so every
// part is a signal element) with random signals, above it rings of
// conductors whose random bit patterns go round for ever (as in a memory
// bank), as grid text. Pushers, if asked for, hang under the lowest ring
// facing down into the box: their blocks join the list only when a bit
// of the ring passes over them.
std::string signalBox(uint32_t seed, int edge, int pushers = 0) {
    std::mt19937 rng(seed);
    Universe u;
    auto towards = [](int dx, int dy) {
        for (int d = 0; d < 6; ++d)
            if (directionTable.dx[d] == dx && directionTable.dy[d] == dy && directionTable.dz[d] == 0) return d;
        return 0;
    };
    // The rings start on a block boundary, so that a pusher under the
    // lowest one lies in a block of its own.
    const int base = (edge + 4) / 3 * 3;
    for (int ring = 0; ring < 48; ++ring) {
        // (With pushers, the lowest ring has its layer of blocks to itself
        // and one bit: the pushers' blocks are woken only now and then.)
        const int z = base + ring + (pushers > 0 && ring > 0 ? 2 : 0);
        const int x0 = int(rng() % unsigned(edge)), y0 = int(rng() % unsigned(edge));
        const int w = 3 + int(rng() % 8), h = 3 + int(rng() % 8);
        // The perimeter, anticlockwise; each conductor faces away from the
        // one before it (a conductor passes on what comes from behind).
        std::vector<std::pair<int, int>> path;
        for (int i = 0; i < w; ++i) path.emplace_back(x0 + i, y0);
        for (int i = 0; i < h; ++i) path.emplace_back(x0 + w, y0 + i);
        for (int i = w; i > 0; --i) path.emplace_back(x0 + i, y0 + h);
        for (int i = h; i > 0; --i) path.emplace_back(x0, y0 + i);
        for (size_t i = 0; i < path.size(); ++i) {
            const auto [x, y] = path[i];
            const auto [px, py] = path[(i + path.size() - 1) % path.size()];
            UniverseCell c;
            c.partType = Conductor;
            c.x = x;
            c.y = y;
            c.z = z;
            c.front = towards(x - px, y - py);
            c.side = towards(py - y, x - px);
            for (int d = 0; d < 6; ++d)
                if (directionTable.dz[d] == 1) c.up = d;
            const bool lit = pushers > 0 && ring == 0 ? i == 0 : rng() % 2 != 0;
            c.outputs = uint8_t(lit ? 1u << c.front : 0);
            u.placeCell(c);
            if (ring == 0 && pushers > 0 && rng() % 3 == 0) {
                --pushers;
                UniverseCell p;
                p.partType = Pusher;
                p.x = x;
                p.y = y;
                p.z = z - 1;
                for (int d = 0; d < 6; ++d) {
                    if (directionTable.dz[d] == -1) p.front = d;
                    if (directionTable.dx[d] == 1) p.side = d;
                    if (directionTable.dy[d] == 1) p.up = d;
                }
                u.placeCell(p);
                UniverseCell load;
                load.partType = Conductor;
                load.x = x;
                load.y = y;
                load.z = z - 2;
                u.placeCell(load);
            }
        }
    }
    auto dot = [](int a, int b) {
        return directionTable.dx[a] * directionTable.dx[b] + directionTable.dy[a] * directionTable.dy[b] +
               directionTable.dz[a] * directionTable.dz[b];
    };
    for (int x = 0; x < edge; ++x)
        for (int y = 0; y < edge; ++y)
            for (int z = 0; z < edge; ++z) {
                if (rng() % 100 >= 55) continue;
                UniverseCell c;
                c.x = x;
                c.y = y;
                c.z = z;
                c.partType = rng() % 3 ? Conductor : NorGate;
                c.front = int32_t(rng() % 6);
                do c.side = int32_t(rng() % 6);
                while (dot(c.side, c.front) != 0);
                do c.up = int32_t(rng() % 6);
                while (dot(c.up, c.front) != 0 || dot(c.up, c.side) != 0);
                c.outputs = uint8_t(rng() % 3 == 0 ? 1u << c.front : 0);
                u.placeCell(c);
            }
    std::ostringstream out;
    u.writeBlocks(out);
    return out.str();
}

struct Engines {
    std::vector<std::unique_ptr<Universe>> u;  // u[0]: one thread, the reference

    Engines(const std::string& grid, const std::vector<int>& threads, bool storageOrder) {
        for (int n : threads) {
            u.push_back(std::make_unique<Universe>());
            Universe& e = *u.back();
            e.setThreads(n);
            if (n > 1) {
                e.signalPassMinimum = 1;
                e.passSharing = Universe::PassSharing::Always;
                e.storageOrderAlways = storageOrder;
            }
            std::istringstream in(grid);
            readGridFile(e, in);
        }
    }
    // With `byPhase`, the engines after the reference run the four phases
    // one call at a time instead of stepGeneration.
    void step(bool pulse = false, bool byPhase = false) {
        for (size_t k = 0; k < u.size(); ++k) {
            Universe& e = *u[k];
            if (pulse) e.inputPulse = 1;
            if (byPhase && k > 0) {
                e.evaluatePhase();
                e.movePhase();
                e.commitPhase();
                e.finishGeneration();
            } else {
                e.stepGeneration();
            }
        }
    }
    // Empty when every engine agrees with the reference.
    std::string compare(bool full) const {
        const Universe& r = *u[0];
        for (size_t k = 1; k < u.size(); ++k) {
            const Universe& e = *u[k];
            std::ostringstream where;
            where << "engine " << k << " (" << e.threads() << " threads), generation " << e.generation << ": ";
            if (e.activeBlockCount != r.activeBlockCount) return where.str() + "active block count";
            if (listed(e.currentList()) != listed(r.currentList())) return where.str() + "current list";
            const std::string kept = e.verifyConsistency();
            if (!kept.empty()) return where.str() + kept;
            if (full && checkpoint(e) != checkpoint(r)) return where.str() + "checkpoint bytes";
        }
        return {};
    }
};

TEST(ThreadedNextList, SignalUniversesKeepTheListOrder) {
    for (uint32_t seed : {11u, 12u, 13u}) {
        for (bool storageOrder : {false, true}) {
            Engines es(signalBox(seed, 10), {1, 2, 3}, storageOrder);
            for (int g = 1; g <= 40; ++g) {
                es.step(g % 9 == 0);
                const std::string problem = es.compare(g % 8 == 0);
                ASSERT_EQ(problem, "") << "seed " << seed;
            }
            for (size_t k = 1; k < es.u.size(); ++k) {
                EXPECT_GT(es.u[k]->keyedWalks, 30u) << "the threads did not build the list themselves";
                EXPECT_GE(es.u[k]->relocations, 1u);
            }
        }
    }
}

TEST(ThreadedNextList, MixedUniversesSwitchBetweenTheWalks) {
    for (uint32_t seed : {21u, 22u, 23u, 24u}) {
        Engines es(signalBox(seed, 10, 3), {1, 2}, true);
        for (int g = 1; g <= 60; ++g) {
            es.step(g % 5 == 0);
            const std::string problem = es.compare(g % 10 == 0);
            ASSERT_EQ(problem, "") << "seed " << seed;
        }
        const Universe& threaded = *es.u[1];
        EXPECT_LT(threaded.keyedWalks, 60u) << "seed " << seed << ": the ordered walk never ran";
        EXPECT_GT(threaded.keyedWalks, 0u) << "seed " << seed << ": the threads never built the list";
    }
}

// Whether a generation's passes are shared changes only the time: the
// adaptive choice (timed, so its switches fall anywhere), a switch every
// generation and no sharing at all give the one-thread results; and each
// knob does what it says.
TEST(ThreadedNextList, SharingChoicesKeepTheListOrder) {
    for (uint32_t seed : {71u, 72u}) {
        Engines es(signalBox(seed, 10, seed == 72u ? 3 : 0), {1, 2, 2, 2, 3}, true);
        es.u[1]->passSharing = Universe::PassSharing::Adaptive;
        es.u[2]->passSharing = Universe::PassSharing::Alternate;
        es.u[3]->passSharing = Universe::PassSharing::Never;
        es.u[4]->passSharing = Universe::PassSharing::Adaptive;
        const int kGenerations = 120;
        for (int g = 1; g <= kGenerations; ++g) {
            es.step(g % 11 == 0);
            const std::string problem = es.compare(g % 6 == 0);
            ASSERT_EQ(problem, "") << "seed " << seed;
        }
        // The first trial probes sharing, whatever it then decides.
        EXPECT_GE(es.u[1]->sharedGenerations, SharingChoice::kWarm + SharingChoice::kProbe) << "seed " << seed;
        EXPECT_GE(es.u[4]->sharedGenerations, SharingChoice::kWarm + SharingChoice::kProbe) << "seed " << seed;
        EXPECT_EQ(es.u[2]->sharedGenerations, uint64_t(kGenerations / 2)) << "seed " << seed;
        EXPECT_GT(es.u[2]->keyedWalks, 0u) << "seed " << seed;
        EXPECT_EQ(es.u[3]->sharedGenerations, 0u) << "seed " << seed;
        EXPECT_EQ(es.u[3]->keyedWalks, 0u) << "seed " << seed;
        EXPECT_EQ(es.u[3]->relocations, 0u) << "seed " << seed;
    }
}

// The threads' cuts follow their measured times, so they may lie anywhere:
// cuts moved to random places every round give the one-thread results,
// with empty shares, cuts inside a chunk and cuts on free blocks among them.
TEST(ThreadedNextList, CutsAnywhereKeepTheResults) {
    for (uint32_t seed : {41u, 42u}) {
        Engines es(signalBox(seed, 10, seed == 42u ? 3 : 0), {1, 2, 3, 4}, true);
        for (size_t k = 1; k < es.u.size(); ++k) es.u[k]->scrambleCuts = seed * 977 + k;
        for (int g = 1; g <= 300; ++g) {
            es.step(g % 13 == 0);
            const std::string problem = es.compare(g % 25 == 0);
            ASSERT_EQ(problem, "") << "seed " << seed;
        }
        for (size_t k = 1; k < es.u.size(); ++k) EXPECT_GE(es.u[k]->cutMoves, 5u) << "seed " << seed;
    }
}

// Edits between generations put blocks on the lists outside the walks (and
// the current list's positions must follow); a checkpoint taken and
// restored mid-run carries on exactly.
TEST(ThreadedNextList, EditsAndCheckpointsBetweenGenerations) {
    const std::string grid = signalBox(31, 10);
    Engines es(grid, {1, 2}, true);
    for (int g = 1; g <= 12; ++g) es.step();
    UniverseCell c;
    c.partType = Conductor;
    c.x = -3;
    c.y = 2;
    c.z = 1;
    c.outputs = 1;
    for (auto& e : es.u) {
        e->placeCell(c);
        e->injectSignal(1, 1, 1, 0);
    }
    ASSERT_EQ(es.compare(true), "");
    for (int g = 1; g <= 12; ++g) {
        es.step();
        ASSERT_EQ(es.compare(true), "");
    }
    // Restore the reference's state into the threaded engine, then go on.
    std::string error;
    ASSERT_TRUE(UniverseCheckpoint::read(*es.u[1], checkpoint(*es.u[0]), {}, error)) << error;
    ASSERT_EQ(es.compare(true), "");
    for (int g = 1; g <= 20; ++g) {
        es.step();
        ASSERT_EQ(es.compare(g % 5 == 0), "");
    }
}

// Called one by one, the phases leave the keyed walk's commit and list
// swap to phases 3 and 4 (their storage-order commit and promote passes)
// instead of folding them into the rank pass; the results are the same.
TEST(ThreadedNextList, PhasesCalledOneByOneKeepTheListOrder) {
    for (uint32_t seed : {51u, 52u}) {
        Engines es(signalBox(seed, 10, seed == 52u ? 3 : 0), {1, 2, 3}, true);
        for (int g = 1; g <= 40; ++g) {
            es.step(g % 7 == 0, true);
            const std::string problem = es.compare(g % 5 == 0);
            ASSERT_EQ(problem, "") << "seed " << seed;
        }
        for (size_t k = 1; k < es.u.size(); ++k)
            EXPECT_GT(es.u[k]->keyedWalks, 0u) << "seed " << seed << ": the threads never built the list";
    }
}

// When the blocks move to spatial order: at the first storage-order pass
// with helpers, again after setThreads and after a checkpoint is read in,
// and after a block was created only once creation has paused for 256
// generations. (Only timing depends on this; the rules are stated in
// universe.h, and this holds the code to them.)
TEST(ThreadedNextList, BlocksMoveToSpatialOrderWhenTheRulesSay) {
    Universe u;
    u.setThreads(2);
    u.signalPassMinimum = 1;
    u.passSharing = Universe::PassSharing::Always;
    u.storageOrderAlways = true;
    std::istringstream in(signalBox(61, 8));
    readGridFile(u, in);
    u.stepGeneration();
    EXPECT_EQ(u.relocations, 1u) << "the first storage-order pass";
    for (int g = 0; g < 300; ++g) u.stepGeneration();
    EXPECT_EQ(u.relocations, 1u) << "nothing changed, yet the blocks moved";
    ASSERT_FALSE(u.currentList().empty());
    u.setThreads(3);
    u.stepGeneration();
    EXPECT_EQ(u.relocations, 2u) << "after setThreads";
    for (int g = 0; g < 300; ++g) u.stepGeneration();
    // A part far from the rest makes a block between generations.
    const size_t blocks = u.blockCount();
    UniverseCell c;
    c.partType = Conductor;
    c.x = 500;
    c.y = 500;
    c.z = 500;
    u.placeCell(c);
    ASSERT_EQ(u.blockCount(), blocks + 1);
    const uint32_t created = u.generation;
    while (u.generation < created + 256) {
        u.stepGeneration();
        ASSERT_EQ(u.relocations, 2u) << "moved at generation " << u.generation << " although a block was made at "
                                     << created;
    }
    u.stepGeneration();
    EXPECT_EQ(u.relocations, 3u) << "256 generations after the last creation";
    std::string error;
    ASSERT_TRUE(UniverseCheckpoint::read(u, checkpoint(u), {}, error)) << error;
    u.stepGeneration();
    EXPECT_EQ(u.relocations, 4u) << "after a checkpoint was read in";
    EXPECT_EQ(u.verifyConsistency(), "");
}

// The check reads every current block's list position, which the threaded
// walk depends on.
TEST(ThreadedNextList, StaleListPositionIsCaught) {
    Universe u;
    std::istringstream in(signalBox(41, 8));
    readGridFile(u, in);
    u.stepGeneration();
    ASSERT_GE(u.currentList().size(), 2u);
    ASSERT_EQ(u.verifyConsistency(), "");
    std::swap(u.currentList()[0]->scratch, u.currentList()[1]->scratch);
    EXPECT_NE(u.verifyConsistency().find("list position"), std::string::npos);
}

}  // namespace

// The chooser on made-up machines: a generation's cost swings with a cycle
// of 8 (timers), and a way is slow for the first generations after a switch
// (helpers waking, caches refilling). It must find the faster way settled,
// not the one that looks faster in the switch, and not run a clear loser
// longer than one run per trial.
TEST(ThreadedNextList, SharingChoiceFindsTheSettledFasterWay) {
    struct Machine {
        double sharedFactor;  // settled cost of a shared generation, serial = 1
        double switchFactor;  // cost right after a switch, either way
        double movedPerBlock = 0;  // parts moved a generation per listed block
        double orderedShare = 0;   // listed blocks with ordered cells
    };
    uint32_t firstShared = 0;
    auto run = [&firstShared](Machine m, uint32_t generations, uint32_t& decidedAt) {
        firstShared = 0;
        SharingChoice choice;
        uint32_t shared = 0, sinceSwitch = 0;
        bool last = false;
        decidedAt = 0;
        for (uint32_t g = 0; g < generations; ++g) {
            const bool way = choice.next();
            sinceSwitch = g == 0 || way != last ? 0 : sinceSwitch + 1;
            last = way;
            const double cycle = g % 8 == 5 ? 4.0 : 1.0;
            const size_t blocks = 1000 + (g % 8) * 50;
            double ns = double(blocks) * 20 * cycle * (way ? m.sharedFactor : 1.0);
            if (sinceSwitch < 3) ns *= m.switchFactor;
            choice.record(way, ns, blocks, uint64_t(double(blocks) * m.movedPerBlock),
                          size_t(double(blocks) * m.orderedShare));
            shared += way;
            if (decidedAt == 0 && !choice.inTrial()) decidedAt = g + 1;
            if (way && firstShared == 0) firstShared = g + 1;
        }
        return shared;
    };
    uint32_t decidedAt = 0;
    // Sharing 30% faster once settled, but 2x slower in its first generations.
    EXPECT_GT(run({0.7, 2.0}, 20000, decidedAt), 19000u);
    EXPECT_EQ(decidedAt, 2 * SharingChoice::kRun);
    // Sharing 30% slower: decided by the probe, and each later trial runs
    // it for no more than the probe.
    const uint32_t probe = SharingChoice::kRun + SharingChoice::kWarm + SharingChoice::kProbe;
    const uint32_t losing = run({1.3, 1.5}, 20000, decidedAt);
    EXPECT_EQ(decidedAt, probe);
    EXPECT_LT(losing, 20000u / 100);
    // 15% slower: within the probe's doubt, decided after the first pair.
    run({1.15, 1.0}, 20000, decidedAt);
    EXPECT_EQ(decidedAt, 2 * SharingChoice::kRun);
    // No difference: the serial way (sharing must be 5% faster to be kept).
    EXPECT_LT(run({1.0, 1.0}, 20000, decidedAt), 20000u / 20);
    EXPECT_EQ(decidedAt, 4 * SharingChoice::kRun);
    // 8% faster: not clear after one pair, kept after the whole trial.
    EXPECT_GT(run({0.92, 1.0}, 20000, decidedAt), 19000u);
    EXPECT_EQ(decidedAt, 4 * SharingChoice::kRun);

    // A machine that moves a part for every listed block: its first trials
    // end after their serial run, so a short run never shares...
    const uint32_t losing2 = run({1.4, 1.5, 1.0}, 20000, decidedAt);
    EXPECT_EQ(decidedAt, SharingChoice::kRun);
    EXPECT_GT(firstShared, 1900u);
    EXPECT_LT(losing2, 20000u / 100);
    // ...while a long one still finds sharing where it pays, and one that
    // moves less than a part for every four blocks probes at once.
    EXPECT_GT(run({0.7, 1.0, 1.0}, 20000, decidedAt), 17000u);
    EXPECT_GT(run({0.7, 1.0, 0.2}, 20000, decidedAt), 19000u);
    EXPECT_EQ(firstShared, SharingChoice::kRun + 1);
    // Likewise a machine that moves little but whose listed blocks mostly
    // have ordered cells; with fewer than half, it probes at once.
    run({2.0, 1.5, 0.01, 0.9}, 20000, decidedAt);
    EXPECT_EQ(decidedAt, SharingChoice::kRun);
    EXPECT_GT(firstShared, 1900u);
    run({2.0, 1.5, 0.01, 0.4}, 20000, decidedAt);
    EXPECT_EQ(firstShared, SharingChoice::kRun + 1);
}
