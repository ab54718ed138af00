// The coordinate edge: machines pushed against +-1e9 keep every part in
// range, so a saved universe reads back whole; lookups anywhere in the
// 32-bit lattice are defined (the sanitizer builds check the arithmetic).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <sstream>

#include "edge_grids.h"
#include "files/grid_file.h"
#include "universe/universe.h"

namespace {

struct Extent {
    int64_t lo[3] = {INT64_MAX, INT64_MAX, INT64_MAX}, hi[3] = {INT64_MIN, INT64_MIN, INT64_MIN};
    size_t parts = 0;
};

Extent extentOf(const Universe& u) {
    Extent e;
    u.forEachBlock([&](const UniverseBlock* b) {
        for (int s = 0; s < 12; ++s) {
            if (b->partType(s) == 0) continue;
            const int64_t p[3] = {b->cellX(s), b->cellY(s), b->cellZ(s)};
            for (int a = 0; a < 3; ++a) {
                e.lo[a] = std::min(e.lo[a], p[a]);
                e.hi[a] = std::max(e.hi[a], p[a]);
            }
            ++e.parts;
        }
    });
    return e;
}

// Every part with its position and fields, in block order.
std::vector<std::vector<int64_t>> partsOf(const Universe& u) {
    std::vector<std::vector<int64_t>> parts;
    u.forEachBlock([&](const UniverseBlock* b) {
        for (int s = 0; s < 12; ++s) {
            if (b->partType(s) == 0) continue;
            const UniverseCell c = b->cell(s);
            parts.push_back({c.x, c.y, c.z, c.partType, c.front, c.side, c.up, c.outputs, c.bonds});
        }
    });
    std::sort(parts.begin(), parts.end());
    return parts;
}

std::string saved(const Universe& u) {
    std::ostringstream out;
    u.writeBlocks(out);
    return out.str();
}

// The coordinate of the axis direction d runs along, signed so that larger
// means nearer the edge d runs into.
int64_t towards(const Extent& e, int d) {
    const int axis = edge_grids::kDx[d] ? 0 : edge_grids::kDy[d] ? 1 : 2;
    const int sign = edge_grids::kDx[d] + edge_grids::kDy[d] + edge_grids::kDz[d];
    return sign > 0 ? e.hi[axis] : -e.lo[axis];
}

}  // namespace

TEST(CoordinateEdge, MachinesStopAtTheEdgeAndSaveWhole) {
    for (int d = 0; d < 6; ++d) {
        struct Case {
            const char* name;
            std::vector<edge_grids::Part> parts;
            int64_t stopGap;  // where the front part ends, cells inside the edge
        };
        const Case cases[] = {
            {"drive pair", edge_grids::drivePair(d, 4), 0},
            {"drive pair at the edge", edge_grids::drivePair(d, 0), 0},
            {"pusher row at the edge", edge_grids::pusherRow(d, 0, 3), 0},
            {"pusher row one inside", edge_grids::pusherRow(d, 1, 3), 0},
            {"shifter pair at the edge", edge_grids::shifterPair(d, 0), 0},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + " towards direction " + std::to_string(d));
            Universe u;
            std::istringstream in(edge_grids::grid(c.parts));
            const GridReadResult r = readGridFile(u, in);
            ASSERT_EQ(r.skippedParts, 0u);
            ASSERT_EQ(u.partCount(), c.parts.size());
            for (int g = 0; g < 12; ++g) {
                u.stepGeneration();
                ASSERT_EQ(u.verifyConsistency(), "") << "after generation " << g + 1;
            }
            const Extent e = extentOf(u);
            EXPECT_EQ(e.parts, c.parts.size()) << "no part created or destroyed";
            EXPECT_EQ(towards(e, d), edge_grids::kEdge - c.stopGap) << "the group stands against the edge";

            Universe again;
            std::istringstream back(saved(u));
            const GridReadResult rr = readGridFile(again, back);
            EXPECT_EQ(rr.skippedParts, 0u) << "no part was carried past the edge";
            EXPECT_EQ(again.partCount(), c.parts.size());
            EXPECT_EQ(partsOf(again), partsOf(u));
        }
    }
}

// The blocked request is blocked like one that meets a different vector: a
// Drive pair touching the edge does not move, and its bonds and orientation
// stay as they were, generation after generation.
TEST(CoordinateEdge, BlockedGroupStaysExactlyAsItWas) {
    for (int d = 0; d < 6; ++d) {
        Universe u;
        std::istringstream in(edge_grids::grid(edge_grids::drivePair(d, 0)));
        readGridFile(u, in);
        const auto before = partsOf(u);
        for (int g = 0; g < 5; ++g) u.stepGeneration();
        EXPECT_EQ(partsOf(u), before) << "direction " << d;
        EXPECT_EQ(u.verifyConsistency(), "");
    }
}

// Inside the range nothing changes: one cell short of the edge the pair
// still moves one step.
TEST(CoordinateEdge, OneStepShortOfTheEdgeStillMoves) {
    Universe u;
    std::istringstream in(edge_grids::grid(edge_grids::drivePair(1, 1)));
    readGridFile(u, in);
    u.stepGeneration();
    EXPECT_EQ(extentOf(u).hi[0], edge_grids::kEdge);
    u.stepGeneration();
    EXPECT_EQ(extentOf(u).hi[0], edge_grids::kEdge);
}

TEST(CoordinateEdge, LookupsAnywhereInTheLatticeAreDefined) {
    constexpr int32_t lo = std::numeric_limits<int32_t>::min(), hi = std::numeric_limits<int32_t>::max();
    Universe u;
    // Parts beyond the edge are refused, so the range invariant holds.
    UniverseCell far;
    far.partType = Conductor;
    far.x = hi;
    u.placeCell(far);
    far.x = 1000000001;
    u.placeCell(far);
    EXPECT_EQ(u.partCount(), 0u);
    far.x = 1000000000;
    far.y = -1000000000;
    far.z = 1000000000;
    u.placeCell(far);
    EXPECT_EQ(u.partCount(), 1u);

    const int32_t corners[] = {lo, lo + 1, lo + 2, -1, 0, hi - 2, hi - 1, hi};
    for (int32_t x : corners)
        for (int32_t z : corners) {
            if (const CellRef c = u.findCell(x, 0, z)) {
                EXPECT_EQ(c.core().type, 0);
            }
            u.findBlock(x, x, z);
            for (int d = 0; d < 6; ++d) {
                u.injectSignal(x, z, x, d);
                u.setBond(x, x, z, d, true);
                (void)u.testOutput(z, x, z, d);
            }
            u.requestMove(1, x, 0, z);
        }
    for (int g = 0; g < 3; ++g) u.stepGeneration();
    EXPECT_EQ(u.partCount(), 1u);
    EXPECT_EQ(u.verifyConsistency(), "");
}
