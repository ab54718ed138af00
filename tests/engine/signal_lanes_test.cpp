// The rule classes that phase 1 keeps per block (which cells are evaluated
// as signal lanes, which run their rule in slot order) and the phase-1
// helper threads. A class that goes stale when a part arrives, leaves or
// turns silently changes results, so every way of changing a cell is
// followed by the consistency check, and the check itself is shown to
// catch a planted stale class.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "files/grid_file.h"
#include "random_universe.h"
#include "universe/driver.h"
#include "universe/universe.h"
#include "universe/universe_internal.h"

namespace {

UniverseCell part(int type, int32_t x, int32_t y, int32_t z, int front = 0, int side = 1, int up = 4,
                  uint8_t outputs = 0) {
    UniverseCell c;
    c.partType = type;
    c.x = x;
    c.y = y;
    c.z = z;
    c.front = front;
    c.side = side;
    c.up = up;
    c.outputs = outputs;
    return c;
}

uint16_t bitAt(int32_t x, int32_t y, int32_t z) { return uint16_t(1u << Universe::slotOf(x, y, z)); }

// The current active list as block origins, comparable across universes.
std::vector<int32_t> listed(const Universe& u) {
    std::vector<int32_t> out;
    for (const UniverseBlock* b : u.currentList()) out.insert(out.end(), {b->originX, b->originY, b->originZ});
    return out;
}

std::string text(const Universe& u) {
    std::ostringstream out;
    u.writeBlocks(out);
    return out.str();
}

TEST(RuleClasses, FollowPlacingMovingAndTurning) {
    Universe u;
    u.placeCell(part(Conductor, 0, 0, 0));
    u.placeCell(part(NorGate, 0, 0, 1));
    u.placeCell(part(NorGate, 0, 0, 2, 0, 0, 4));  // side along front: the general rule
    u.placeCell(part(NorGate, 1, 0, 0, 0, 9, 4));  // side outside the table: no rule at all
    u.placeCell(part(Pusher, 1, 0, 1));
    u.placeCell(part(11, 1, 0, 2));
    UniverseBlock* b = u.findBlock(0, 0, 0);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->conductorCells, bitAt(0, 0, 0));
    EXPECT_EQ(b->norCells, bitAt(0, 0, 1));
    EXPECT_EQ(b->orderedCells, bitAt(0, 0, 2) | bitAt(1, 0, 1));
    EXPECT_EQ(u.verifyConsistency(), "");

    // Placing over a part replaces its class.
    u.placeCell(part(NorGate, 0, 0, 0));
    u.placeCell(part(Empty, 0, 0, 1));
    EXPECT_EQ(b->conductorCells, 0);
    EXPECT_EQ(b->norCells, bitAt(0, 0, 0));
    EXPECT_EQ(u.verifyConsistency(), "");

    // A Drive moves the conductor in front of it one step along +x.
    Universe m;
    m.placeCell(part(Drive, 0, 4, 0, 0, 1, 4));
    m.placeCell(part(Conductor, 0, 5, 0));
    m.stepGeneration();
    const UniverseBlock* from = m.findBlock(0, 5, 0);
    ASSERT_NE(m.findBlock(1, 5, 0), nullptr);
    EXPECT_EQ(from->conductorCells & bitAt(0, 5, 0), 0) << "the cell the conductor left keeps its class";
    EXPECT_NE(from->conductorCells & bitAt(1, 5, 0), 0) << "the cell the conductor reached has no class";
    EXPECT_EQ(m.verifyConsistency(), "");

    // A Rotator fed by a Source turns a NorGate; it stays a signal lane.
    Universe r;
    r.placeCell(part(Source, 0, -1, 0, 0, 1, 4, 1));
    r.placeCell(part(Rotator, 0, 0, 0));
    r.placeCell(part(NorGate, 0, 1, 0));
    r.stepGeneration();
    const UniverseBlock* t = r.findBlock(0, 1, 0);
    EXPECT_EQ(t->side(Universe::slotOf(0, 1, 0)), 5) << "the turn did not happen";
    EXPECT_NE(t->norCells & bitAt(0, 1, 0), 0);
    EXPECT_EQ(r.verifyConsistency(), "");
}

// Blocks emptied by moving parts are removed by the clean-up and their
// storage reused for new blocks: a reused block must not keep old classes.
TEST(RuleClasses, SurviveCleanUpAndReuse) {
    Universe u;
    // A Drive bonded to a conductor travels along +x, leaving empty blocks.
    UniverseCell drive = part(Drive, 0, 0, 0, 0, 1, 4);
    drive.bonds = 1;  // +y
    UniverseCell load = part(Conductor, 0, 1, 0);
    load.bonds = 4;  // -y
    u.placeCell(drive);
    u.placeCell(load);
    for (int g = 0; g < 400; ++g) u.stepGeneration();
    const size_t before = u.blockCount();
    u.cleanUp();
    ASSERT_LT(u.blockCount(), before);
    // New conductors and gates now land in reused storage.
    for (int i = 0; i < 200; ++i) u.placeCell(part(i % 2 ? NorGate : Conductor, -100 - i, 50, 0));
    for (int g = 0; g < 50; ++g) u.stepGeneration();
    EXPECT_EQ(u.verifyConsistency(), "");
}

// The check catches a stale class, the class is what phase 1 goes by, and
// rebuildCaches recomputes it (and everything else derived) from the
// stored fields.
TEST(RuleClasses, StaleClassIsCaughtAndRebuilt) {
    auto build = [](Universe& u) {
        u.placeCell(part(Source, 0, -1, 0, 0, 1, 4, 1));
        for (int y = 0; y < 8; ++y) u.placeCell(part(Conductor, 0, y, 0));
    };
    Universe reference, u;
    build(reference);
    build(u);
    UniverseBlock* b = u.findBlock(0, 2, 0);
    b->conductorCells = uint16_t(b->conductorCells & ~bitAt(0, 2, 0));
    EXPECT_NE(u.verifyConsistency().find("rule classes stale"), std::string::npos);
    for (int g = 0; g < 6; ++g) {
        reference.stepGeneration();
        u.stepGeneration();
    }
    EXPECT_NE(text(u), text(reference)) << "phase 1 does not use the classes it keeps";

    // Wipe every derived field, as a restore of the stored fields would leave them.
    Universe restored, fresh;
    build(restored);
    build(fresh);
    for (int g = 0; g < 3; ++g) {
        restored.stepGeneration();
        fresh.stepGeneration();
    }
    restored.forEachBlock([](UniverseBlock* blk) {
        blk->occupied = blk->conductorCells = blk->norCells = blk->orderedCells = 0;
        for (auto& n : blk->neighbour) n = nullptr;
    });
    EXPECT_NE(restored.verifyConsistency(), "");
    restored.rebuildCaches();
    EXPECT_EQ(restored.verifyConsistency(), "");
    for (int g = 0; g < 10; ++g) {
        restored.stepGeneration();
        fresh.stepGeneration();
        ASSERT_EQ(text(restored), text(fresh)) << "after generation " << g;
        ASSERT_EQ(listed(restored), listed(fresh));
    }
}

// A universe large enough for the default thresholds to share phase 1 out:
// every thread count gives the same blocks, lists and counters, generation
// by generation, and the count can change between generations.
TEST(PhaseOneThreads, SameResultsForEveryThreadCount) {
    random_universe::Params params;
    params.minEdge = 30;
    params.maxEdge = 34;
    params.density = 0.5;
    for (int t = 0; t <= 10; ++t) params.typeWeights[t] = 0;
    params.typeWeights[Conductor] = 20;
    params.typeWeights[NorGate] = 12;
    params.typeWeights[Source] = 1;
    params.typeWeights[PulseInput] = 1;
    params.typeWeights[Drive] = 1;
    params.typeWeights[Pusher] = 1;
    params.outputChance = 0.3;
    params.malformedChance = 0;
    params.overlapChance = 0;
    const std::string grid = random_universe::generate(77, params);
    const std::vector<int> counts = {1, 2, 3, 4};
    std::vector<std::unique_ptr<Universe>> us;
    for (int n : counts) {
        us.push_back(std::make_unique<Universe>());
        us.back()->setThreads(n);
        std::istringstream in(grid);
        readGridFile(*us.back(), in);
    }
    // The reshuffled one changes its count every generation.
    us.push_back(std::make_unique<Universe>());
    {
        std::istringstream in(grid);
        readGridFile(*us.back(), in);
    }
    ASSERT_GE(us[0]->currentList().size(), 2 * us[0]->signalPassMinimum) << "too small to share phase 1 out";
    for (int g = 1; g <= 40; ++g) {
        us.back()->setThreads(1 + g % 3);
        for (auto& u : us) {
            if (g % 7 == 0) u->inputPulse = 1;
            u->stepGeneration();
        }
        for (size_t k = 1; k < us.size(); ++k) {
            ASSERT_EQ(us[k]->activeBlockCount, us[0]->activeBlockCount) << "universe " << k << " generation " << g;
            ASSERT_EQ(listed(*us[k]), listed(*us[0])) << "universe " << k << " generation " << g;
            if (g % 10 == 0) {
                ASSERT_EQ(text(*us[k]), text(*us[0])) << "universe " << k << " generation " << g;
            }
        }
    }
    EXPECT_EQ(us[1]->verifyConsistency(), "");
}

// The worker drives a two-thread universe through "Go", readers' pauses,
// "Stop", "Step" and a run-until limit; it ends exactly where a one-thread
// universe stepped by hand ends.
TEST(PhaseOneThreads, DriverHandshakeWithHelpers) {
    random_universe::Params params;
    params.minEdge = 24;
    params.maxEdge = 26;
    params.malformedChance = 0;
    const std::string grid = random_universe::generate(91, params);
    Universe threaded, single;
    threaded.setThreads(2);
    threaded.signalPassMinimum = 1;
    for (Universe* u : {&threaded, &single}) {
        std::istringstream in(grid);
        readGridFile(*u, in);
    }
    {
        SteppingDriver driver(threaded);
        driver.startWorker();
        driver.setRunUntil(300);
        driver.runCommand();
        for (int i = 0; i < 20; ++i) {
            const bool p = driver.pauseForRead();
            EXPECT_FALSE(text(threaded).empty());
            driver.resumeAfterRead(p);
        }
        driver.waitUntilStopped();
        EXPECT_EQ(threaded.generation, 300u);
        driver.setRunUntil(0);
        driver.stepCommand();
        driver.waitUntilStopped();
        EXPECT_EQ(threaded.generation, 301u);
        driver.stopWorker();
    }
    for (int g = 0; g < 301; ++g) single.stepGeneration();
    EXPECT_EQ(text(threaded), text(single));
    EXPECT_EQ(listed(threaded), listed(single));
}

}  // namespace

// The vector kernels against the lane-by-lane one, on blocks no file would
// hold: random types and frames (escaped and out-of-table bytes included),
// random links and signals, neighbours present or missing at random.
TEST(SignalKernels, AgreeWithTheLanewiseFormOnRandomBlocks) {
    using namespace universe_detail;
    std::mt19937 rng(12345);
    auto byte = [&](int n) { return uint8_t(rng() % unsigned(n)); };
    auto fill = [&](UniverseBlock& b) {
        for (int s = 0; s < 12; ++s) {
            const unsigned pick = rng() % 16;
            b.cells.type[s] = pick < 6 ? uint8_t(Conductor) : pick < 12 ? uint8_t(NorGate) : pick < 15 ? byte(11) : kEscape;
            uint8_t* frame[3] = {b.cells.front, b.cells.side, b.cells.up};
            for (uint8_t* column : frame) column[s] = rng() % 8 == 0 ? (rng() % 2 ? kEscape : byte(40)) : byte(6);
            b.cells.links[s] = byte(64);
            b.cells.outputs[s] = byte(64);
            b.cells.nextOutputs[s] = byte(256);
            b.cells.bonds[s] = byte(64);
        }
        b.classifyAll();
    };
    std::vector<SignalKernel> kernels = {evaluateSignalsPlain};
#if defined(__x86_64__)
    if (__builtin_cpu_supports("ssse3")) kernels.push_back(evaluateSignalsShuffled);
#endif
    auto around = std::make_unique<UniverseBlock[]>(6);
    for (int round = 0; round < 4000; ++round) {
        UniverseBlock reference;
        fill(reference);
        for (int d = 0; d < 6; ++d) {
            fill(around[d]);
            reference.neighbour[d] = rng() % 4 == 0 ? nullptr : &around[d];
        }
        auto copyOf = [&](UniverseBlock& to) {
            to.cells = reference.cells;
            to.classifyAll();
            for (int d = 0; d < 6; ++d) to.neighbour[d] = reference.neighbour[d];
        };
        UniverseBlock lanewise;
        copyOf(lanewise);
        const unsigned expected = evaluateSignalsLanewise(&lanewise);
        for (size_t k = 0; k < kernels.size(); ++k) {
            UniverseBlock vector;
            copyOf(vector);
            ASSERT_EQ(kernels[k](&vector), expected) << "kernel " << k << " round " << round;
            ASSERT_EQ(0, std::memcmp(&vector.cells, &lanewise.cells, sizeof vector.cells))
                << "kernel " << k << " round " << round;
        }
    }
}
