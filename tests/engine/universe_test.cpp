// Behaviour of the fast engine on hand-worked situations: addressing, the
// hash, placement conflicts, signal timing, moves, turns, bonds, clean-up.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <sstream>

#include "files/grid_file.h"
#include "universe/universe.h"

namespace {

UniverseCell part(int type, int x, int y, int z, int front = 0, int side = 1) {
    UniverseCell c;
    c.partType = type;
    c.front = front;
    c.side = side;
    c.up = deriveUp(front, side);
    c.x = x;
    c.y = y;
    c.z = z;
    return c;
}

struct Probe {
    Universe& u;
    int32_t type(int x, int y, int z) const {
        UniverseBlock* b = u.findBlock(x, y, z);
        return b ? b->partType(Universe::slotOf(x, y, z)) : 0;
    }
    uint8_t outputs(int x, int y, int z) const {
        UniverseBlock* b = u.findBlock(x, y, z);
        return b ? b->cells[Universe::slotOf(x, y, z)].outputs : 0;
    }
    UniverseCell cell(int x, int y, int z) const {
        UniverseBlock* b = u.findBlock(x, y, z);
        return b ? b->cell(Universe::slotOf(x, y, z)) : UniverseCell{};
    }
};

void step(Universe& u, int n = 1) {
    for (int i = 0; i < n; ++i) {
        u.stepGeneration();
        ASSERT_EQ(u.verifyConsistency(), "") << "after generation " << u.generation;
    }
}

std::string saved(const Universe& u) {
    std::ostringstream out;
    u.writeBlocks(out);
    return out.str();
}

}  // namespace

TEST(Addressing, BlocksAndSlotsUseFloorDivision) {
    Universe u;
    u.placeCell(part(1, -1, -1, -1));
    UniverseBlock* b = u.findBlock(-1, -1, -1);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->originX, -2);
    EXPECT_EQ(b->originY, -2);
    EXPECT_EQ(b->originZ, -3);
    EXPECT_EQ(Universe::slotOf(-1, -1, -1), 11);
    EXPECT_EQ(Universe::slotOf(0, 0, 0), 0);
    EXPECT_EQ(Universe::slotOf(1, 1, 2), 11);
    u.placeCell(part(1, 0, 0, 0));
    u.placeCell(part(1, 1, 1, 2));
    u.placeCell(part(1, 2, 0, 0));
    EXPECT_EQ(u.findBlock(0, 0, 0), u.findBlock(1, 1, 2));
    EXPECT_NE(u.findBlock(0, 0, 0), u.findBlock(2, 0, 0));
    EXPECT_EQ(u.findBlock(2, 0, 0)->originX, 2);
    EXPECT_EQ(u.blockCount(), 3u);
    // Far outside the range the floor rule still holds.
    EXPECT_EQ(Universe::floorDiv(-2000000001, 2), -1000000001);
    EXPECT_EQ(Universe::slotOf(-2000000001, 0, -2000000000), 1 * 6 + 0 + 1);
}

TEST(Addressing, CollidingKeysShareABucketAndAreBothFound) {
    // The key's shifted fields overlap, so nearby blocks collide: find a pair.
    int ax = 0, az = 0, cx = 0, cz = 0;
    bool have = false;
    for (int x1 = 0; x1 < 40 && !have; ++x1)
        for (int z1 = 0; z1 < 80 && !have; ++z1)
            if ((x1 || z1) && Universe::bucketOf(x1, 0, z1) == Universe::bucketOf(0, 0, 0)) {
                ax = x1;
                az = z1;
                have = true;
            }
    ASSERT_TRUE(have);
    Universe u;
    u.placeCell(part(1, cx * 2, 0, cz * 3));
    u.placeCell(part(2, ax * 2, 0, az * 3));
    EXPECT_EQ(Probe{u}.type(0, 0, 0), 1);
    EXPECT_EQ(Probe{u}.type(ax * 2, 0, az * 3), 2);
    // Chain order: the block inserted first is saved first.
    std::vector<UniverseBlock*> order;
    u.forEachBlock([&](UniverseBlock* b) { order.push_back(b); });
    ASSERT_EQ(order.size(), 2u);
    EXPECT_EQ(order[0]->originX, 0);
}

TEST(Placement, ConflictMessageNamesBothRegionsAndNewPartWins) {
    Universe u;
    std::vector<std::string> messages;
    u.onConflict = [&](const std::string& m) { messages.push_back(m); };
    u.placeCell(part(1, 3, -1, 4));
    u.placeCell(part(0, 5, 5, 5));  // empty over empty: no message
    EXPECT_TRUE(messages.empty());
    RegionEntry* r = u.openRegion("a", nullptr);
    UniverseCell c = part(2, 3, -1, 4);
    c.region = r;
    u.placeCell(c);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0],
              "Error: UniverseCell at 2 -2 3, block 1 1 1 contains part type 1, replacing with type 2. Regions: ? a");
    u.placeCell(part(0, 3, -1, 4));  // even an empty cell replaces a part, with a message
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1],
              "Error: UniverseCell at 2 -2 3, block 1 1 1 contains part type 2, replacing with type 0. Regions: a ?");
    EXPECT_EQ(Probe{u}.type(3, -1, 4), 0);
    EXPECT_EQ(u.verifyConsistency(), "");
}

TEST(Lookup, TestOutputCreatesNothing) {
    Universe u;
    EXPECT_FALSE(u.testOutput(10, 10, 10, 0));
    EXPECT_EQ(u.blockCount(), 0u);
    EXPECT_FALSE(u.findCell(10, 10, 10));
    EXPECT_EQ(u.blockCount(), 0u);
    EXPECT_FALSE(u.testOutput(0, 0, 0, 7));
}

TEST(Generation, EmptyUniverseStillCounts) {
    Universe u;
    step(u, 3);
    EXPECT_EQ(u.generation, 3u);
    EXPECT_EQ(u.activeBlockCount, 0);
}

TEST(Generation, ConductorRowPassesOneCellPerGeneration) {
    Universe u;
    // The injecting cell must exist before the run: cells of a block made
    // later are not linked, and their signals are not seen.
    u.placeCell(part(30, 0, -1, 0));
    for (int y = 0; y < 3; ++y) u.placeCell(part(Conductor, 0, y, 0));
    step(u, 2);  // settle the placement wake-ups
    Probe p{u};
    ASSERT_EQ(p.outputs(0, 0, 0), 0);
    u.injectSignal(0, 0, 0, 2);  // from -y
    step(u);
    EXPECT_EQ(p.outputs(0, 0, 0), 63 ^ 4);
    EXPECT_EQ(p.outputs(0, 1, 0), 0);
    step(u);
    EXPECT_EQ(p.outputs(0, 1, 0), 63 ^ 4);
    EXPECT_EQ(p.outputs(0, 2, 0), 0);
    step(u);
    EXPECT_EQ(p.outputs(0, 2, 0), 63 ^ 4);
    // The injected signal was seen only once: the injecting cell committed its
    // (empty) next outputs in the first generation.
    EXPECT_EQ(p.outputs(0, 0, 0), 0);
}

TEST(Generation, QuietBlockDropsOffTheActiveList) {
    Universe u;
    u.placeCell(part(Pusher, 0, 0, 0));
    step(u);
    step(u);
    EXPECT_TRUE(u.currentList().empty());
    step(u);
    EXPECT_EQ(u.activeBlockCount, 0);
}

TEST(Rules, ConductorNorGateAndReports) {
    Universe u;
    UniverseCell behind = part(Conductor, 0, -1, 0);
    behind.outputs = 1;  // drives +y into (0,0,0)
    u.placeCell(behind);
    u.placeCell(part(Conductor, 0, 0, 0));
    UniverseCell gate = part(NorGate, 4, 0, 0);
    u.placeCell(gate);
    u.evaluatePhase();
    UniverseBlock* b = u.findBlock(0, 0, 0);
    EXPECT_EQ(b->cells[Universe::slotOf(0, 0, 0)].nextOutputs, 59);
    UniverseBlock* g = u.findBlock(4, 0, 0);
    EXPECT_EQ(g->cells[Universe::slotOf(4, 0, 0)].nextOutputs, 1);
    u.movePhase();
    u.commitPhase();
    u.finishGeneration();
    // An input on the gate's front face changes nothing; one on its side switches it off.
    UniverseCell front = part(Source, 4, 1, 0, 2, 1);  // faces -y into the gate's front
    u.placeCell(front);
    step(u, 3);
    EXPECT_EQ(Probe{u}.outputs(4, 0, 0), 1);
    UniverseCell side = part(Source, 5, 0, 0, 3, 0);  // faces -x into the gate's side
    u.placeCell(side);
    step(u, 3);
    EXPECT_EQ(Probe{u}.outputs(4, 0, 0) & 1, 0);
}

TEST(Rules, PulseInputDrivesForOneGeneration) {
    Universe u;
    u.placeCell(part(PulseInput, 0, 0, 0));
    u.placeCell(part(Conductor, 0, 1, 0));
    step(u, 3);
    ASSERT_TRUE(u.currentList().empty());
    u.inputPulse = 1;  // block asleep: no effect
    step(u);
    EXPECT_EQ(Probe{u}.outputs(0, 0, 0), 0);
    u.injectSignal(5, 5, 5, 0);  // unrelated; keeps nothing awake near the input
    u.placeCell(part(PulseInput, 0, 0, 0));  // wakes the block
    u.inputPulse = 1;
    step(u);
    EXPECT_EQ(Probe{u}.outputs(0, 0, 0), 1);
    EXPECT_EQ(u.inputPulse, 0);
    step(u);
    EXPECT_EQ(Probe{u}.outputs(0, 0, 0), 0);
    EXPECT_EQ(Probe{u}.outputs(0, 1, 0), 63 ^ 4);
    // The view's request is the same pulse, taken when the generation starts;
    // left waiting while someone else (a timeline) takes requests.
    u.placeCell(part(PulseInput, 0, 0, 0));
    u.pulseRequestsTakenOutside = true;
    u.pulseRequest = 1;
    step(u);
    EXPECT_EQ(Probe{u}.outputs(0, 0, 0), 0);
    EXPECT_EQ(u.pulseRequest, 1);
    u.placeCell(part(PulseInput, 0, 0, 0));
    u.pulseRequestsTakenOutside = false;
    step(u);
    EXPECT_EQ(Probe{u}.outputs(0, 0, 0), 1);
    EXPECT_EQ(u.pulseRequest, 0);
    EXPECT_EQ(u.inputPulse, 0);
}

TEST(Moves, PusherMovesARowOfThree) {
    Universe u;
    UniverseCell src = part(Source, 0, -1, 0);
    src.outputs = 1;
    u.placeCell(src);
    u.placeCell(part(Pusher, 0, 0, 0));
    for (int y = 1; y <= 3; ++y) u.placeCell(part(NorGate + 20, 0, y, 0));  // inert parts
    step(u);
    Probe p{u};
    EXPECT_EQ(p.type(0, 0, 0), Pusher);
    EXPECT_EQ(p.type(0, 1, 0), 0);
    for (int y = 2; y <= 4; ++y) EXPECT_EQ(p.type(0, y, 0), 22) << y;
    EXPECT_EQ(u.lastMoveTarget[1], 1);
    EXPECT_EQ(u.movedParts, 3u);  // the cell left empty behind them is no moved part
}

TEST(Moves, OpposingPushesBlockBothAndEqualPushesMergeOnce) {
    for (int same = 0; same < 2; ++same) {
        Universe u;
        // Target at (0,0,0); pusher A below it pushing +y.
        UniverseCell sa = part(Source, 0, -2, 0);
        sa.outputs = 1;
        u.placeCell(sa);
        u.placeCell(part(Pusher, 0, -1, 0));
        if (same) {
            // A shifter at (1,-1,0) facing -x... simpler: a second pusher line
            // pushing the part next to the target, bonded to it, also +y.
            UniverseCell sb = part(Source, 1, -2, 0);
            sb.outputs = 1;
            u.placeCell(sb);
            u.placeCell(part(Pusher, 1, -1, 0));
            UniverseCell t = part(30, 0, 0, 0);
            t.bonds = 2;
            u.placeCell(t);
            UniverseCell t2 = part(30, 1, 0, 0);
            t2.bonds = 8;
            u.placeCell(t2);
            u.forEachBlock([&](UniverseBlock* b) { u.checkBonds(b); });
        } else {
            // A pusher at (1,0,0) facing -x pushes the same part sideways.
            UniverseCell sb = part(Source, 2, 0, 0, 3, 0);
            sb.outputs = 8;
            u.placeCell(sb);
            u.placeCell(part(Pusher, 1, 0, 0, 3, 0));
            u.placeCell(part(30, 0, 0, 0));
        }
        step(u);
        Probe p{u};
        if (same) {
            EXPECT_EQ(p.type(0, 1, 0), 30);
            EXPECT_EQ(p.type(1, 1, 0), 30);
            EXPECT_EQ(p.type(0, 2, 0), 0);
            EXPECT_EQ(p.type(0, 0, 0), 0);
            EXPECT_EQ(u.movedParts, 2u);  // merged: each part moves once
        } else {
            EXPECT_EQ(p.type(0, 0, 0), 30);
            EXPECT_EQ(p.type(0, 1, 0), 0);
            EXPECT_EQ(p.type(-1, 0, 0), 0);
            EXPECT_EQ(u.movedParts, 0u);  // blocked
        }
    }
}

TEST(Moves, MovedPartKeepsItsStateAndLeavesAnEmptyCell) {
    Universe u;
    RegionEntry* r = u.openRegion("cargo", nullptr);
    UniverseCell cargo = part(Conductor, 0, 1, 0, 4, 1);
    cargo.region = r;
    cargo.bonds = 1;  // bonded to the part above
    u.placeCell(cargo);
    UniverseCell top = part(25, 0, 2, 0);
    top.bonds = 4;
    u.placeCell(top);
    u.placeCell(part(Drive, 0, 0, 0, 0, 1));  // pushes its target along +x every generation
    step(u);
    Probe p{u};
    EXPECT_EQ(p.type(0, 1, 0), 0);
    EXPECT_EQ(p.type(1, 1, 0), Conductor);
    EXPECT_EQ(p.type(1, 2, 0), 25);
    UniverseCell moved = p.cell(1, 1, 0);
    EXPECT_EQ(moved.region, r);
    EXPECT_EQ(moved.front, 4);
    EXPECT_EQ(moved.bonds, 1);
    EXPECT_EQ(u.movedParts, 2u);  // the cargo and the part bonded to it
    UniverseCell left = p.cell(0, 1, 0);
    EXPECT_EQ(left.bonds, 0);
    EXPECT_EQ(left.region, nullptr);
    // The emptied cell never received a part: it keeps the fresh frame.
    EXPECT_EQ(left.front, 0);
    EXPECT_EQ(left.side, 1);
}

TEST(Turns, RotatorTurnsTheFrameAndPendingOutputs) {
    Universe u;
    UniverseCell src = part(Source, 0, 0, -2, 4, 1);
    src.outputs = 16;
    u.placeCell(src);
    u.placeCell(part(Rotator, 0, 0, -1, 4, 1));  // faces +z
    UniverseCell target = part(Conductor, 0, 0, 0, 0, 1);
    u.placeCell(target);
    u.findBlock(0, 0, 0)->cells[0].nextOutputs = 1;
    u.evaluatePhase();
    // The conductor's own rule ran in the same phase: give it back the pending bit.
    u.findBlock(0, 0, 0)->cells[0].nextOutputs = 1;
    u.movePhase();
    UniverseCell c = Probe{u}.cell(0, 0, 0);
    EXPECT_EQ(c.front, 3);
    EXPECT_EQ(c.side, 0);
    EXPECT_EQ(c.up, 4);
    EXPECT_EQ(c.nextOutputs, 8);
    u.commitPhase();
    u.finishGeneration();
    EXPECT_EQ(u.verifyConsistency(), "");
}

TEST(Bonds, BinderWithEmptyPartnerStillReportsAndCutterCuts) {
    Universe u;
    UniverseCell src = part(Source, 0, -1, 0);
    src.outputs = 1;
    u.placeCell(src);
    u.placeCell(part(Binder, 0, 0, 0, 0, 1));
    u.placeCell(part(30, 0, 1, 0));
    step(u);
    EXPECT_EQ(Probe{u}.cell(0, 1, 0).bonds, 0);
    u.placeCell(part(30, 1, 1, 0));
    step(u);
    EXPECT_EQ(Probe{u}.cell(0, 1, 0).bonds, 2);
    EXPECT_EQ(Probe{u}.cell(1, 1, 0).bonds, 8);
    u.placeCell(part(Cutter, 0, 0, 0, 0, 1));
    step(u);
    EXPECT_EQ(Probe{u}.cell(0, 1, 0).bonds, 0);
    EXPECT_EQ(Probe{u}.cell(1, 1, 0).bonds, 0);
}

TEST(Rules, TypesWithoutRulesAndInvalidFramesAreInert) {
    Universe u;
    UniverseCell odd = part(11, 0, 0, 0);
    odd.outputs = 1;
    u.placeCell(odd);
    u.placeCell(part(-1, 0, 1, 0));
    u.placeCell(part(Drive, 3, 0, 0, 9, 1));  // front outside the table
    u.placeCell(part(30, 3, 1, 0));
    u.placeCell(part(Conductor, 5, 0, 0, 0, 1000000));
    step(u, 2);
    Probe p{u};
    EXPECT_EQ(p.outputs(0, 0, 0), 0);  // committed its (empty) next outputs
    EXPECT_EQ(p.type(0, 1, 0), -1);
    EXPECT_EQ(p.type(3, 1, 0), 30);
    EXPECT_EQ(p.cell(3, 0, 0).front, 9);
    EXPECT_EQ(p.cell(5, 0, 0).side, 1000000);
    std::string text = saved(u);
    EXPECT_NE(text.find("\n1000000\n"), std::string::npos);
}

TEST(CleanUp, EmptyTrailBlocksGoAndPartsStay) {
    Universe u;
    // A drive carrying a payload along +x leaves empty blocks behind it.
    UniverseCell d = part(Drive, 0, 0, 0, 0, 1);
    d.bonds = 1;
    u.placeCell(d);
    UniverseCell load = part(30, 0, 1, 0);
    load.bonds = 4;
    u.placeCell(load);
    u.forEachBlock([&](UniverseBlock* b) { u.checkBonds(b); });
    for (int i = 0; i < 9999; ++i) u.stepGeneration();
    size_t before = u.blockCount();
    EXPECT_GT(before, 100u);
    u.stepGeneration();
    EXPECT_EQ(u.generation, 10000u);
    EXPECT_LT(u.blockCount(), 20u);
    EXPECT_EQ(u.partCount(), 2u);
    EXPECT_EQ(u.verifyConsistency(), "");
    // The group keeps travelling after the clean-up.
    int32_t x = 0;
    u.forEachBlock([&](UniverseBlock* b) {
        for (int s = 0; s < 12; ++s)
            if (b->partType(s) == Drive) x = b->cellX(s);
    });
    step(u, 5);
    int32_t x2 = 0;
    u.forEachBlock([&](UniverseBlock* b) {
        for (int s = 0; s < 12; ++s)
            if (b->partType(s) == Drive) x2 = b->cellX(s);
    });
    EXPECT_EQ(x2, x + 5);
}

TEST(Queries, CentroidAndMarker) {
    Universe u;
    double x, y, z;
    EXPECT_FALSE(u.centroid(x, y, z));
    u.placeCell(part(Rotator, 0, 5, 2, 0, 1));
    u.placeCell(part(Rotator, 4, 3, 2, 0, 1));  // same z, smaller y: wins
    u.placeCell(part(Rotator, 8, 0, 9, 1, 0));  // faces +x: ignored
    ASSERT_TRUE(u.centroid(x, y, z));
    EXPECT_DOUBLE_EQ(x, 4.0);
    EXPECT_NEAR(y, 8.0 / 3.0, 1e-6);
    int32_t mx, my, mz;
    u.findMarker(mx, my, mz);
    EXPECT_EQ(mx, 4);
    EXPECT_EQ(my, 3);
    EXPECT_EQ(mz, 2);
}

// Random universes full of movers: the kept lists, flags and links must agree
// with a from-scratch rebuild after every generation, and saving must be
// stable across a reload.
TEST(Randomised, ListsFlagsAndLinksStayConsistent) {
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        std::mt19937 rng(seed);
        Universe u;
        const int n = 8;
        const int types[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 1, 2, 3, 10, 10, 5};
        for (int i = 0; i < 120; ++i) {
            int f = int(rng() % 6), s;
            do s = int(rng() % 6); while (s == f || s == directionTable.opposite[f]);
            UniverseCell c = part(types[rng() % 16], int(rng() % n) - n / 2, int(rng() % n) - n / 2, int(rng() % n) - n / 2, f, s);
            c.outputs = uint8_t(rng() % 64);
            c.bonds = uint8_t(rng() % 64) & uint8_t(rng() % 64);
            u.placeCell(c);
        }
        u.forEachBlock([&](UniverseBlock* b) { u.checkBonds(b); });
        u.forEachBlock([&](UniverseBlock* b) { u.relinkBlock(b); });
        for (int g = 0; g < 60; ++g) {
            if (rng() % 7 == 0) u.inputPulse = 1;
            u.stepGeneration();
            ASSERT_EQ(u.verifyConsistency(), "") << "seed " << seed << " generation " << g;
        }
        // The first reload drops empty blocks and one-sided bonds; from then
        // on saving and reloading is the identity.
        std::string text = saved(u);
        std::string again;
        for (int round = 0; round < 2; ++round) {
            Universe v;
            std::istringstream in(text);
            readGridFile(v, in);
            EXPECT_EQ(v.verifyConsistency(), "");
            again = saved(v);
            if (round == 1) {
                EXPECT_EQ(again, text) << "seed " << seed;
            }
            text = again;
        }
    }
}

// A part that is pushed and turned in the same generation: phase 2 reads the
// source in its state at that moment, so the destination gets the turned
// frame when the source's block comes first on the move list and the
// unturned one otherwise. After a load the move list is in block-creation
// order, so placing a part in the destination block first decides it.
TEST(Turns, MovedSourceHandsOverTheFrameItHasWhenRead) {
    for (int destinationFirst = 0; destinationFirst < 2; ++destinationFirst) {
        Universe u;
        if (destinationFirst) u.placeCell(part(20, 3, 1, 2));  // creates the destination's block (x 2..3)
        UniverseCell feedPusher = part(Source, -1, 0, 0, 1, 0);
        feedPusher.outputs = 1u << 1;
        u.placeCell(feedPusher);
        u.placeCell(part(Pusher, 0, 0, 0, 1, 0));  // pushes (1,0,0) along +x
        u.placeCell(part(20, 1, 0, 0, 0, 1));      // the part: frame (+y, +x, +z)
        UniverseCell feedRotator = part(Source, 1, 0, -2, 4, 1);
        feedRotator.outputs = 1u << 4;
        u.placeCell(feedRotator);
        u.placeCell(part(Rotator, 1, 0, -1, 4, 1));  // turns (1,0,0) about +z
        if (!destinationFirst) u.placeCell(part(20, 3, 1, 2));
        step(u);
        const UniverseCell moved = Probe{u}.cell(2, 0, 0);
        ASSERT_EQ(moved.partType, 20);
        if (destinationFirst) {
            EXPECT_EQ(moved.front, 0) << "read before its own block turned it";
            EXPECT_EQ(moved.side, 1);
        } else {
            EXPECT_EQ(moved.front, 3) << "read after the quarter turn about +z";
            EXPECT_EQ(moved.side, 0);
        }
        EXPECT_EQ(Probe{u}.type(1, 0, 0), 0);
    }
}
