// Husks, the compact form of the blocks movers leave empty, must change
// nothing but memory. A checkpoint read back gives the same universe with
// every block full, so the two are run side by side: the same edits, lookups
// and generations, and the saved text must agree throughout.
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "files/grid_file.h"
#include "tools/workloads.h"
#include "universe/checkpoint.h"
#include "universe/universe.h"

namespace {

std::string savedText(const Universe& u) {
    std::ostringstream out;
    u.writeBlocks(out);
    return out.str();
}

std::unique_ptr<Universe> fullCopy(const Universe& u) {
    std::string bytes, error;
    EXPECT_TRUE(UniverseCheckpoint::write(u, {}, bytes, error)) << error;
    auto copy = UniverseCheckpoint::load(bytes, {}, error);
    EXPECT_TRUE(copy) << error;
    return copy;
}

// Cars running into their own trails: after the trails have become husks,
// random parts (actuators among them) are dropped along them, signals
// injected and cells looked up, in both universes alike.
void runAgainstFullBlocks(uint32_t seed, int threads) {
    Universe husked;
    {
        std::ostringstream grid;
        workloads::CarOptions options;
        options.cars = 12;
        workloads::writeCars(grid, options);
        std::istringstream in(grid.str());
        readGridFile(husked, in);
    }
    husked.setThreads(threads);
    for (int g = 0; g < 300; ++g) husked.stepGeneration();
    ASSERT_GT(husked.huskCount(), 50u);
    std::unique_ptr<Universe> full = fullCopy(husked);
    ASSERT_TRUE(full);
    full->setThreads(threads);
    ASSERT_EQ(full->huskCount(), 0u);
    ASSERT_EQ(savedText(husked), savedText(*full));

    std::mt19937 rng(seed);
    auto pick = [&](int lo, int hi) { return lo + int(rng() % uint32_t(hi - lo + 1)); };
    for (int round = 0; round < 12; ++round) {
        // Positions along the lanes the cars have left behind them.
        for (int k = 0; k < 6; ++k) {
            UniverseCell cell;
            cell.x = pick(0, 250);
            cell.y = pick(-2, 30);
            cell.z = pick(-1, 14);
            cell.partType = pick(0, 10);
            cell.front = pick(0, 5);
            do cell.side = pick(0, 5);
            while (cell.side == cell.front || cell.side % 3 == cell.front % 3);
            cell.outputs = uint8_t(rng() % 64);
            for (Universe* u : {&husked, full.get()}) u->placeCell(cell);
        }
        const int x = pick(0, 250), y = pick(-2, 30), z = pick(-1, 14), d = pick(0, 5);
        EXPECT_EQ(husked.testOutput(x, y, z, d), full->testOutput(x, y, z, d));
        for (Universe* u : {&husked, full.get()}) u->injectSignal(x, y, z, d);
        const int gens = pick(1, 80);
        for (int g = 0; g < gens; ++g) {
            husked.stepGeneration();
            full->stepGeneration();
        }
        ASSERT_EQ(husked.blockCount(), full->blockCount()) << "round " << round;
        ASSERT_EQ(savedText(husked), savedText(*full)) << "round " << round;
        ASSERT_EQ(husked.verifyConsistency(), "") << "round " << round;
    }
    // And through a clean-up, which drops the husks with the other idle blocks.
    while (husked.generation % Universe::kCleanUpPeriod != Universe::kCleanUpPeriod - 3) {
        husked.stepGeneration();
        full->stepGeneration();
    }
    const size_t before = husked.blockCount();
    for (int g = 0; g < 6; ++g) {
        husked.stepGeneration();
        full->stepGeneration();
    }
    EXPECT_LT(husked.blockCount(), before);
    EXPECT_EQ(savedText(husked), savedText(*full));
    EXPECT_EQ(husked.verifyConsistency(), "");
}

TEST(Husks, ChangeNothingAgainstFullBlocks) {
    for (uint32_t seed = 1; seed <= 4; ++seed) runAgainstFullBlocks(seed, 1);
}

TEST(Husks, ChangeNothingAgainstFullBlocksOnThreeThreads) { runAgainstFullBlocks(7, 3); }

// A checkpoint of a universe with husks holds every block in chain order,
// and reads back into the same saved text and the same future.
TEST(Husks, CheckpointsHoldThemAsBlocks) {
    Universe u;
    std::ostringstream grid;
    workloads::CarOptions options;
    options.cars = 6;
    workloads::writeCars(grid, options);
    std::istringstream in(grid.str());
    readGridFile(u, in);
    for (int g = 0; g < 200; ++g) u.stepGeneration();
    ASSERT_GT(u.huskCount(), 0u);
    std::unique_ptr<Universe> copy = fullCopy(u);
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->blockCount(), u.blockCount());
    std::unique_ptr<Universe> again = fullCopy(*copy);
    std::string a, b, error;
    ASSERT_TRUE(UniverseCheckpoint::write(u, {}, a, error));
    ASSERT_TRUE(UniverseCheckpoint::write(*again, {}, b, error));
    EXPECT_EQ(a, b);
}

}  // namespace
