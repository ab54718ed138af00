// Engine snapshots: a universe restored from a snapshot continues exactly as
// the original does - same grid text, same snapshot, generation after
// generation - across random universes, the clean-up, moves, turns and the
// one-sided bonds a Binder can leave.
#include <fstream>
#include <sstream>

#include "checkpoint_support.h"
#include "random_universe.h"

namespace {

// Runs `a` and a copy restored from its snapshot side by side for `m`
// generations and reports the first generation at which they differ.
void expectSameFuture(Universe& a, int m, const std::string& label) {
    Universe b;
    const std::string taken = snapshot(a);
    std::string error;
    ASSERT_TRUE(restore(b, taken, &error)) << label << ": " << error;
    ASSERT_EQ(snapshot(b), taken) << label << ": the restored universe writes another snapshot";
    ASSERT_EQ(b.verifyConsistency(), "") << label;
    for (int g = 0; g < m; ++g) {
        a.stepGeneration();
        b.stepGeneration();
        ASSERT_EQ(gridText(a), gridText(b)) << label << ": grids differ " << g + 1 << " generations after the restore";
        ASSERT_EQ(snapshot(a), snapshot(b)) << label << ": state differs " << g + 1 << " generations after the restore";
    }
    ASSERT_EQ(b.verifyConsistency(), "") << label;
}

bool hasOneSidedBond(const Universe& u) {
    bool found = false;
    u.forEachBlock([&](const UniverseBlock* b) {
        for (int s = 0; s < 12 && !found; ++s) {
            const uint8_t bonds = b->cells.bonds[s];
            for (int d = 0; d < 6 && !found; ++d) {
                if (!(bonds & (1u << d))) continue;
                const int32_t x = b->cellX(s) + directionTable.dx[d], y = b->cellY(s) + directionTable.dy[d],
                              z = b->cellZ(s) + directionTable.dz[d];
                const UniverseBlock* n = u.findBlock(x, y, z);
                const int ns = Universe::slotOf(x, y, z);
                found = !n || !(n->cells.bonds[ns] & (1u << oppositeDirection(d)));
            }
        }
    });
    return found;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

TEST(CheckpointIdentity, RandomUniversesContinueExactly) {
    random_universe::Params params;
    int moved = 0;
    for (uint64_t seed = 1; seed <= 60; ++seed) {
        Universe a;
        loadGrid(a, random_universe::generate(seed, params));
        random_universe::Rng rng(seed * 7919);
        const int n = int(rng.range(0, 30));
        for (int g = 0; g < n; ++g) {
            if (rng.chance(0.2)) a.inputPulse = 1;
            a.stepGeneration();
        }
        // Some generations end with blocks left on the move and commit lists
        // (relinking enlists neighbours); the snapshot must carry them.
        moved += !a.moveList().empty() || !a.commitList().empty();
        expectSameFuture(a, 25, "seed " + std::to_string(seed));
        if (HasFatalFailure()) return;
    }
    EXPECT_GT(moved, 0) << "no universe ended a generation with pending move or commit lists";
}

TEST(CheckpointIdentity, StateRightAfterLoadingAndPlacing) {
    // Before the first generation every block is on every list, and a part
    // placed or a signal injected between generations is pending.
    Universe a;
    loadGrid(a, random_universe::generate(4242));
    UniverseCell c;
    c.x = 3;
    c.y = -7;
    c.z = 40;
    c.partType = Source;
    c.front = 4;
    c.side = 0;
    c.up = deriveUp(4, 0);
    a.placeCell(c);
    a.injectSignal(3, -7, 39, 4);
    a.inputPulse = 1;
    expectSameFuture(a, 30, "fresh load");
}

TEST(CheckpointIdentity, AcrossTheCleanUp) {
    int cleaned = 0;
    for (uint64_t seed = 100; seed < 120; ++seed) {
        Universe a;
        loadGrid(a, random_universe::generate(seed));
        a.generation = Universe::kCleanUpPeriod - 6;
        for (int g = 0; g < 3; ++g) a.stepGeneration();
        const size_t before = a.blockCount();
        Universe probe;
        ASSERT_TRUE(restore(probe, snapshot(a)));
        for (int g = 0; g < 3; ++g) probe.stepGeneration();  // the third ends on the clean-up
        cleaned += probe.blockCount() < before;
        expectSameFuture(a, 10, "seed " + std::to_string(seed));
        if (HasFatalFailure()) return;
        EXPECT_EQ(a.generation, Universe::kCleanUpPeriod + 7);
    }
    EXPECT_GT(cleaned, 0) << "no clean-up removed a block: the boundary was not exercised";
}

TEST(CheckpointIdentity, WideValuesAndRegionsSurvive) {
    Universe a;
    RegionEntry* outer = a.openRegion("outer", nullptr);
    RegionEntry* inner = a.openRegion("inner", outer);
    inner->visible = 0;
    UniverseCell c;
    c.x = 1;
    c.y = 2;
    c.z = 3;
    c.partType = 700;  // escaped type
    c.front = -4;      // escaped direction
    c.side = 300;
    c.up = 9;
    c.region = inner;
    c.bonds = 0x41;
    c.nextOutputs = 0x85;
    a.placeCell(c);
    Universe b;
    ASSERT_TRUE(restore(b, snapshot(a)));
    const UniverseBlock* blk = b.findBlock(1, 2, 3);
    ASSERT_NE(blk, nullptr);
    const UniverseCell r = blk->cell(Universe::slotOf(1, 2, 3));
    EXPECT_EQ(r.partType, 700);
    EXPECT_EQ(r.front, -4);
    EXPECT_EQ(r.side, 300);
    EXPECT_EQ(r.up, 9);
    EXPECT_EQ(r.bonds, 0x41);
    EXPECT_EQ(r.nextOutputs, 0x85);
    ASSERT_NE(r.region, nullptr);
    EXPECT_EQ(r.region->path, "outer.inner");
    EXPECT_EQ(r.region->visible, 0);
    ASSERT_NE(r.region->parent, nullptr);
    EXPECT_EQ(r.region->parent, b.regionEntries()[0].get());
    EXPECT_EQ(b.regionEntries().size(), 2u);
    // The restore exchanged states: what `b` held is nowhere in `a`.
    EXPECT_NE(r.region, inner);
}

TEST(CheckpointIdentity, CarsTrailerKeepsItsOneSidedBond) {
    // The cars demo pulls a trailer by a bond only one side of the pair
    // holds. A saved grid drops that bond; a checkpoint must not.
    Universe a;
    loadGrid(a, readFile(std::string(CELLFORGE_EXAMPLES_DIR) + "/cars/cars.grd"));
    ASSERT_GT(a.partCount(), 0u);
    int g = 0;
    while (g < 400 && !hasOneSidedBond(a)) {
        a.stepGeneration();
        ++g;
    }
    ASSERT_TRUE(hasOneSidedBond(a)) << "the cars demo made no one-sided bond in 400 generations";

    Universe viaGrid;
    loadGrid(viaGrid, gridText(a));
    EXPECT_FALSE(hasOneSidedBond(viaGrid)) << "the grid reader keeps only mutual bonds";
    Universe viaCheckpoint;
    ASSERT_TRUE(restore(viaCheckpoint, snapshot(a)));
    EXPECT_TRUE(hasOneSidedBond(viaCheckpoint));

    // The grid round trip is a different machine after a while; the checkpoint is not.
    Universe reference;
    ASSERT_TRUE(restore(reference, snapshot(a)));
    bool gridDiverged = false;
    for (int k = 0; k < 200; ++k) {
        reference.stepGeneration();
        viaGrid.stepGeneration();
        gridDiverged = gridDiverged || gridText(reference) != gridText(viaGrid);
    }
    EXPECT_TRUE(gridDiverged) << "the one-sided bond made no difference; the case tests nothing";
    expectSameFuture(a, 200, "cars");
}

TEST(CheckpointIdentity, ResumingTwiceChainsLikeOneRun) {
    // Checkpoint, resume, checkpoint again: the chain ends where one run does.
    Universe whole, part;
    loadGrid(whole, random_universe::generate(77));
    loadGrid(part, random_universe::generate(77));
    for (int leg = 0; leg < 4; ++leg) {
        Universe next;
        ASSERT_TRUE(restore(next, snapshot(part)));
        for (int g = 0; g < 9; ++g) next.stepGeneration();
        ASSERT_TRUE(restore(part, snapshot(next)));
    }
    for (int g = 0; g < 36; ++g) whole.stepGeneration();
    EXPECT_EQ(snapshot(whole), snapshot(part));
    EXPECT_EQ(gridText(whole), gridText(part));
}

TEST(CheckpointIdentity, BothRecordVersionsRestoreTheSameState) {
    // Records of the first version (every block's columns written out) still
    // read, and restore exactly what the current version restores. The cars
    // leave a trail of emptied blocks whose columns repeat, which the current
    // version writes once each.
    struct Case {
        std::string label, grid;
        int generations;
    };
    const std::vector<Case> cases = {
        {"random 31", random_universe::generate(31), 40},
        {"random 32, fresh", random_universe::generate(32), 0},
        {"cars", readFile(std::string(CELLFORGE_EXAMPLES_DIR) + "/cars/cars.grd"), 600},
    };
    for (const Case& c : cases) {
        Universe a;
        loadGrid(a, c.grid);
        for (int g = 0; g < c.generations; ++g) a.stepGeneration();
        const std::string first = snapshot(a, 1), current = snapshot(a);
        Universe fromFirst, fromCurrent;
        ASSERT_TRUE(restore(fromFirst, first)) << c.label;
        ASSERT_TRUE(restore(fromCurrent, current)) << c.label;
        EXPECT_EQ(snapshot(fromFirst), current) << c.label;
        EXPECT_EQ(snapshot(fromCurrent, 1), first) << c.label;
        EXPECT_LE(current.size(), first.size()) << c.label;
        if (c.label == "cars") {
            EXPECT_LT(current.size() * 4, first.size()) << "the trail was not written compactly";
        }
        for (int g = 0; g < 50; ++g) {
            fromFirst.stepGeneration();
            fromCurrent.stepGeneration();
        }
        EXPECT_EQ(snapshot(fromFirst), snapshot(fromCurrent)) << c.label;
    }
}
