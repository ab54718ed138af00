// Edits between generations: every edit keeps the engine's caches right,
// a turned or mirrored machine runs as the turned or mirrored original, and
// the transforms compose as they should.
#include <algorithm>
#include <sstream>
#include <tuple>

#include <gtest/gtest.h>

#include "engine/random_universe.h"
#include "files/grid_file.h"
#include "universe/directions.h"
#include "universe/edits.h"

namespace {

using Part = std::tuple<int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int, int>;

Part partOf(const UniverseCell& c) {
    return {c.x, c.y, c.z, c.partType, c.front, c.side, c.up, c.outputs, c.bonds};
}

std::vector<Part> partsOf(const Universe& u) {
    std::vector<Part> out;
    u.forEachBlock([&](const UniverseBlock* b) {
        for (int s = 0; s < 12; ++s)
            if (!b->empty(s)) out.push_back(partOf(b->cell(s)));
    });
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<Part> transformed(std::vector<Part> parts, const PartTransform& t) {
    for (Part& p : parts) {
        UniverseCell c;
        std::tie(c.x, c.y, c.z, c.partType, c.front, c.side, c.up, std::ignore, std::ignore) = p;
        c.outputs = uint8_t(std::get<7>(p));
        c.bonds = uint8_t(std::get<8>(p));
        EXPECT_TRUE(transformCell(t, c));
        p = partOf(c);
    }
    std::sort(parts.begin(), parts.end());
    return parts;
}

void load(Universe& u, const std::string& grid) {
    std::istringstream in(grid);
    readGridFile(u, in);
}

void run(Universe& u, int n) {
    for (int i = 0; i < n; ++i) u.stepGeneration();
}

std::vector<CellPosition> positionsOf(const Universe& u) {
    std::vector<CellPosition> out;
    for (const Part& p : partsOf(u)) out.push_back({std::get<0>(p), std::get<1>(p), std::get<2>(p)});
    return out;
}

// A NOR gate whose output comes back to its side through three conductors
// (each passes a signal from behind to its other faces): it blinks for ever.
std::string ringOscillator() {
    std::string g;
    auto cell = [&g](int x, int y, int z, int type, int front, int side) {
        g += std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(z) + " 1 1 1 " + std::to_string(type) +
             " " + std::to_string(front) + " " + std::to_string(side) + " 0 0 0 0 0 0 0 0 0 0 0 0\n";
    };
    cell(0, 0, 0, 2, 1, 0);  // NOR gate facing +x, side +y
    cell(1, 0, 0, 1, 1, 0);  // conductor facing +x
    cell(1, 1, 0, 1, 0, 3);  // facing +y
    cell(0, 1, 0, 1, 3, 0);  // facing -x: down into the gate's side
    return g;
}

// One lane of the cars example on its own: a machine with no second mover
// to race, so its result cannot depend on the order the blocks are visited.
std::vector<UniverseCell> laneOfCars(const char* lane) {
    Universe u;
    EXPECT_TRUE(openGridDocument(u, std::string(CELLFORGE_SOURCE) + "/examples/cars/cars.grd"));
    std::vector<UniverseCell> out;
    u.forEachBlock([&](const UniverseBlock* b) {
        for (int s = 0; s < 12; ++s)
            if (!b->empty(s) && b->region(s) && b->region(s)->path.find(lane) != std::string::npos) {
                UniverseCell c = b->cell(s);
                c.region = nullptr;
                out.push_back(c);
            }
    });
    return out;
}

std::vector<PartTransform> someTransforms() {
    std::vector<PartTransform> ts;
    for (int qx = 0; qx < 4; ++qx)
        for (int qy = 0; qy < 4; ++qy)
            for (int qz = 0; qz < 4; qz += 3) {
                PartTransform t;
                t.turns[0] = qx;
                t.turns[1] = qy;
                t.turns[2] = qz;
                t.offset[0] = 5 * qx - 7;
                t.offset[1] = 3 * qy;
                t.offset[2] = -11 + qz;
                ts.push_back(t);
            }
    for (int m = 0; m < 3; ++m) {
        PartTransform t;
        t.mirror = m;
        t.turns[1] = m;
        t.offset[2] = 40;
        ts.push_back(t);
    }
    return ts;
}

}  // namespace

TEST(Edits, TransformsComposeLikeTheCubesSymmetries) {
    // Four turns about any axis, and a mirror twice, are the identity; a
    // turn keeps a frame's handedness, so the up rule still holds after it.
    for (int axis = 0; axis < 3; ++axis) {
        PartTransform quarter;
        quarter.turns[axis] = 1;
        PartTransform mirror;
        mirror.mirror = axis;
        for (int32_t d = 0; d < 6; ++d) {
            int32_t e = d;
            for (int k = 0; k < 4; ++k) e = transformDirection(quarter, e);
            EXPECT_EQ(e, d);
            EXPECT_EQ(transformDirection(mirror, transformDirection(mirror, d)), d);
            EXPECT_EQ(transformDirection(quarter, d) == d, directionTable.dx[d] * (axis == 0) +
                                                                   directionTable.dy[d] * (axis == 1) +
                                                                   directionTable.dz[d] * (axis == 2) !=
                                                               0);
        }
        for (int32_t f = 0; f < 6; ++f)
            for (int32_t s = 0; s < 6; ++s) {
                if (f == s || f == oppositeDirection(s)) continue;
                const int32_t tf = transformDirection(quarter, f), ts = transformDirection(quarter, s);
                EXPECT_EQ(transformDirection(quarter, deriveUp(f, s)), deriveUp(tf, ts)) << axis << f << s;
            }
    }
    EXPECT_EQ(transformMask(PartTransform{}, 0x2D), 0x2D);
}

TEST(Edits, RandomEditsKeepEveryCacheRight) {
    for (uint64_t seed = 1; seed <= 12; ++seed) {
        SCOPED_TRACE(seed);
        Universe u;
        load(u, random_universe::generate(seed));
        random_universe::Rng rng(seed * 7919);
        for (int step = 0; step < 40; ++step) {
            const auto parts = positionsOf(u);
            const int op = int(rng.range(0, 5));
            const CellPosition p = parts.empty() ? CellPosition{} : parts[size_t(rng.range(0, int64_t(parts.size()) - 1))];
            if (op == 0) {
                UniverseCell c;
                c.x = p.x + int32_t(rng.range(-2, 2));
                c.y = p.y + int32_t(rng.range(-2, 2));
                c.z = p.z + int32_t(rng.range(-2, 2));
                c.partType = int32_t(rng.range(0, 10));
                c.front = int32_t(rng.range(0, 5));
                c.side = transformDirection(PartTransform{{1, 0, 0}, -1, {}}, c.front);
                if (c.side == c.front) c.side = transformDirection(PartTransform{{0, 1, 0}, -1, {}}, c.front);
                c.up = deriveUp(c.front, c.side);
                c.outputs = uint8_t(rng.range(0, 63));
                c.bonds = uint8_t(rng.range(0, 63));
                EXPECT_TRUE(editCell(u, c));
            } else if (op == 1) {
                UniverseCell erase;
                erase.x = p.x;
                erase.y = p.y;
                erase.z = p.z;
                editCell(u, erase);
                // No neighbour keeps a bond toward the erased position.
                for (int32_t d = 0; d < 6; ++d) {
                    auto n = partAt(u, p.x + directionTable.dx[d], p.y + directionTable.dy[d], p.z + directionTable.dz[d]);
                    if (n) {
                        EXPECT_FALSE(n->bonds & (1u << oppositeDirection(d)));
                    }
                }
            } else if (op == 2) {
                editBond(u, p.x, p.y, p.z, int32_t(rng.range(0, 5)), rng.chance(0.5));
            } else if (op == 3) {
                const int32_t lo[3] = {p.x - 1, p.y - 1, p.z - 1}, hi[3] = {p.x + 1, p.y, p.z + 2};
                eraseBox(u, lo, hi);
                EXPECT_TRUE(partsInBox(u, lo, hi).empty());
            } else {
                PartTransform t;
                t.turns[size_t(rng.range(0, 2))] = int(rng.range(1, 3));
                t.mirror = int(rng.range(-1, 2));
                t.offset[0] = int32_t(rng.range(-20, 20));
                std::vector<CellPosition> some;
                for (const CellPosition& q : parts)
                    if (rng.chance(0.3)) some.push_back(q);
                transformParts(u, some, t);
            }
            ASSERT_EQ(u.verifyConsistency(), "") << "after op " << op << " of step " << step;
            if (step % 8 == 7) {
                run(u, 3);
                ASSERT_EQ(u.verifyConsistency(), "");
            }
        }
    }
}

TEST(Edits, ATurnedOrMirroredRingOscillatorBlinksLikeTheOriginal) {
    Universe original;
    load(original, ringOscillator());
    std::vector<std::vector<Part>> states;
    for (int g = 0; g <= 24; ++g) {
        states.push_back(partsOf(original));
        original.stepGeneration();
    }
    ASSERT_NE(states[3], states[4]) << "the ring must blink for the comparison to mean anything";
    for (const PartTransform& t : someTransforms()) {
        SCOPED_TRACE(std::to_string(t.turns[0]) + std::to_string(t.turns[1]) + std::to_string(t.turns[2]) + " m" +
                     std::to_string(t.mirror));
        Universe u;
        load(u, ringOscillator());
        transformParts(u, positionsOf(u), t);
        ASSERT_EQ(u.verifyConsistency(), "");
        for (int g = 0; g <= 24; ++g) {
            ASSERT_EQ(partsOf(u), transformed(states[size_t(g)], t)) << "generation " << g;
            u.stepGeneration();
        }
    }
}

TEST(Edits, ATurnedCarDrivesTheTurnedWay) {
    // Not the trailer lane: its binder and its drive claim the same parts in
    // one generation, and which claim comes first follows the order of the
    // blocks, which a turn changes. That race is the machine's, not the turn's.
    for (const char* lane : {"cruise-lane", "hold-lane"}) {
        SCOPED_TRACE(lane);
        const std::vector<UniverseCell> cars = laneOfCars(lane);
        ASSERT_FALSE(cars.empty());
        auto build = [&cars](Universe& u) {
            for (const UniverseCell& c : cars) editCell(u, c);
        };
        Universe original;
        build(original);
        std::vector<std::vector<Part>> states;
        for (int g = 0; g <= 60; ++g) {
            states.push_back(partsOf(original));
            original.stepGeneration();
        }
        ASSERT_NE(states[0], states[60]) << "the cars must move";
        for (int turns : {1, 2, 3}) {
            for (int axis : {1, 0, 2}) {
                PartTransform t;
                t.turns[size_t(axis)] = turns;
                t.offset[0] = 100;
                Universe u;
                build(u);
                transformParts(u, positionsOf(u), t);
                for (int g = 0; g <= 60; ++g) {
                    ASSERT_EQ(partsOf(u), transformed(states[size_t(g)], t))
                        << "axis " << axis << ", " << turns << " turns, generation " << g;
                    u.stepGeneration();
                }
            }
        }
    }
}
