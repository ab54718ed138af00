// Husks, the compact form of the blocks movers leave empty, must change
// nothing but memory. A checkpoint read back gives the same universe with
// every block full, so the two are run side by side: the same edits, lookups
// and generations, and the saved text must agree throughout.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <tuple>
#include <sstream>

#include "files/grid_file.h"
#include "tools/workloads.h"
#include "universe/checkpoint.h"
#include "universe/husks.h"
#include "universe/universe.h"

namespace {

std::string savedText(const Universe& u) {
    std::ostringstream out;
    u.writeBlocks(out);
    return out.str();
}

void loadCars(Universe& u, int cars) {
    std::ostringstream grid;
    workloads::CarOptions options;
    options.cars = cars;
    workloads::writeCars(grid, options);
    std::istringstream in(grid.str());
    readGridFile(u, in);
}

std::unique_ptr<Universe> copyOf(const Universe& u, bool keepBlocksFull) {
    std::string bytes, error;
    EXPECT_TRUE(UniverseCheckpoint::write(u, {}, bytes, error)) << error;
    auto copy = UniverseCheckpoint::load(bytes, {}, error, nullptr, keepBlocksFull);
    EXPECT_TRUE(copy) << error;
    return copy;
}

std::unique_ptr<Universe> fullCopy(const Universe& u) { return copyOf(u, true); }

// Cars running into their own trails: after the trails have become husks,
// random parts (actuators among them) are dropped along them, signals
// injected and cells looked up, in both universes alike.
void runAgainstFullBlocks(uint32_t seed, int threads) {
    Universe husked;
    loadCars(husked, 12);
    husked.setThreads(threads);
    for (int g = 0; g < 300; ++g) husked.stepGeneration();
    ASSERT_GT(husked.huskCount(), 50u);
    std::unique_ptr<Universe> full = fullCopy(husked);
    ASSERT_TRUE(full);
    full->setThreads(threads);
    ASSERT_EQ(full->huskCount(), 0u);
    ASSERT_EQ(savedText(husked), savedText(*full));
    // Read back as usual, the trails come back as husks at once.
    std::unique_ptr<Universe> reread = copyOf(husked, false);
    ASSERT_TRUE(reread);
    reread->setThreads(threads);
    ASSERT_GT(reread->huskCount(), husked.huskCount() / 2);
    ASSERT_EQ(reread->verifyConsistency(), "");
    const std::vector<Universe*> all = {&husked, full.get(), reread.get()};

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
            for (Universe* u : all) u->placeCell(cell);
        }
        const int x = pick(0, 250), y = pick(-2, 30), z = pick(-1, 14), d = pick(0, 5);
        EXPECT_EQ(husked.testOutput(x, y, z, d), full->testOutput(x, y, z, d));
        EXPECT_EQ(reread->testOutput(x, y, z, d), full->testOutput(x, y, z, d));
        for (Universe* u : all) u->injectSignal(x, y, z, d);
        const int gens = pick(1, 80);
        for (int g = 0; g < gens; ++g)
            for (Universe* u : all) u->stepGeneration();
        ASSERT_EQ(husked.blockCount(), full->blockCount()) << "round " << round;
        ASSERT_EQ(savedText(husked), savedText(*full)) << "round " << round;
        ASSERT_EQ(savedText(*reread), savedText(*full)) << "round " << round;
        std::string rereadState, fullState, error;
        ASSERT_TRUE(UniverseCheckpoint::write(*reread, {}, rereadState, error)) << error;
        ASSERT_TRUE(UniverseCheckpoint::write(*full, {}, fullState, error)) << error;
        ASSERT_EQ(rereadState, fullState) << "round " << round;
        ASSERT_EQ(husked.verifyConsistency(), "") << "round " << round;
        ASSERT_EQ(reread->verifyConsistency(), "") << "round " << round;
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

// Between loads and edits the sweep looks only at the blocks that left
// their lists empty and at their neighbours; the debug check says when a
// block that qualifies is not among them. Cars on one thread and on three
// (with every shared commit and storage-order pass forced, so that the
// helpers' notes count too), checked after every generation, through
// sweeps, revivals of husks the cars run back into, and a checkpoint
// exchanged in the middle. Once the trails are long, most of what the
// cars left behind must be husks.
TEST(Husks, SweepLooksAtEveryBlockThatQualifies) {
    for (int threads : {1, 3}) {
        Universe u, other;
        loadCars(u, 12);
        u.setThreads(threads);
        u.signalPassMinimum = 1;
        u.storageOrderAlways = true;
        u.passSharing = Universe::PassSharing::Always;
        for (int g = 0; g < 700; ++g) {
            u.stepGeneration();
            ASSERT_EQ(u.verifyConsistency(), "") << threads << " threads, generation " << u.generation;
            if (g == 350) {
                std::unique_ptr<Universe> copy = copyOf(u, false);
                ASSERT_TRUE(copy);
                UniverseCheckpoint::exchange(u, *copy);
                ASSERT_EQ(u.verifyConsistency(), "");
            }
        }
        EXPECT_GT(u.huskCount() * 2, u.blockCount()) << threads << " threads";
    }
}

// A checkpoint of a universe with husks holds every block in chain order,
// and reads back into the same saved text and the same future.
TEST(Husks, CheckpointsHoldThemAsBlocks) {
    Universe u;
    loadCars(u, 6);
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

// The store against a map: husks added and taken at random in a small box
// around the origin (so that bricks fill, empty, go on the free list and
// come back, on both sides of zero), with the index grown along the way.
TEST(Husks, StoreAgreesWithAMap) {
    std::mt19937 rng(11);
    HuskStore store;
    using Place = std::tuple<int32_t, int32_t, int32_t>;
    std::map<Place, std::pair<uint32_t, uint8_t>> model;  // seq, first type byte
    CellColumns cells;
    cells.resetAll();
    auto coord = [&] { return int32_t(rng() % 40) - 20; };
    for (int round = 0; round < 40; ++round) {
        for (int k = 0; k < 2000; ++k) {
            const Place p{coord(), coord(), coord()};
            const auto [x, y, z] = p;
            auto it = model.find(p);
            const int64_t rec = store.find(x, y, z);
            ASSERT_EQ(rec >= 0, it != model.end());
            if (it == model.end()) {
                const uint32_t seq = rng() % 5000;
                cells.type[0] = uint8_t(rng() % 50);  // a few dozen contents
                ASSERT_TRUE(store.add(x, y, z, seq, cells));
                model[p] = {seq, cells.type[0]};
            } else if (rng() % 2) {
                int32_t bx, by, bz;
                store.coordsOf(uint32_t(rec), bx, by, bz);
                EXPECT_EQ(Place(bx, by, bz), p);
                EXPECT_EQ(store.cellsOf(uint32_t(rec)).type[0], it->second.second);
                uint32_t seq;
                CellColumns back;
                store.take(rec, seq, back);
                EXPECT_EQ(seq, it->second.first);
                EXPECT_EQ(back.type[0], it->second.second);
                model.erase(it);
            }
        }
        ASSERT_EQ(store.verify(), "");
        ASSERT_EQ(store.size(), model.size());
        size_t seen = 0;
        for (const HuskStore::Entry& e : store.entries()) {
            auto it = model.find(Place(e.bx, e.by, e.bz));
            ASSERT_NE(it, model.end());
            EXPECT_EQ(e.seq, it->second.first);
            ++seen;
        }
        EXPECT_EQ(seen, model.size());
    }
    // What cannot be stored is refused, and changes nothing.
    EXPECT_FALSE(store.add(1 << 20, 0, 0, 1, cells));
    EXPECT_FALSE(store.add(0, 0, 0, (1u << 23) - 1, cells));
    size_t taken = 0;
    for (int c = 0; c < 600; ++c) {
        cells.type[1] = uint8_t(c);
        cells.type[2] = uint8_t(c >> 8);
        taken += store.add(100 + c, 100, 100, 1, cells);
    }
    EXPECT_LT(taken, 512u);  // the contents above are already in use
    EXPECT_FALSE(store.find(100 + 599, 100, 100) >= 0);
    EXPECT_EQ(store.verify(), "");
    store.clear();
    EXPECT_TRUE(store.empty());
    EXPECT_LT(store.find(0, 0, 0), 0);
}

}  // namespace
