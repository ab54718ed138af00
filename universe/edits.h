// Edits: what a user or a script does to a universe between generations.
//
// Design note
//   * One cell edit is exactly placeCell of the new cell, without the
//     conflict message: the old cell's links are cleared, the new one is
//     linked, and its block and the neighbours the wake mask names join the
//     current list (the list order that follows is the one placeCell gives).
//     Erasing is placing a cell of part type 0, and in addition clears the
//     bond bits that the face neighbours held toward the erased part, so no
//     later move honours a bond to nothing. Erasing a position that holds no
//     part changes nothing (no block is made for it).
//   * Bonds set or cleared by an edit change both sides and wake nothing:
//     bonds matter only to moves, which the actuators start.
//   * Outputs travel with a part: a placed cell keeps the outputs it is given
//     (a moved or turned part keeps its signals, turned with it).
//   * A set of parts is moved, turned or mirrored by reading every part,
//     erasing them all (in the order given), then placing the transformed
//     parts (in the same order) and dropping any bond bit whose partner does
//     not bond back: a structure keeps the bonds among its own parts.
//   * Every edit leaves the universe as verifyConsistency expects it; none
//     may run while a generation is under way (callers hold the worker).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "universe/universe.h"

struct CellPosition {
    int32_t x = 0, y = 0, z = 0;
    bool operator==(const CellPosition&) const = default;
};

// The part at a position (its full value, links aside); none when empty.
std::optional<UniverseCell> partAt(Universe& universe, int32_t x, int32_t y, int32_t z);

// Places `cell` (type 0 erases). False when the position is beyond the edge.
bool editCell(Universe& universe, const UniverseCell& cell);

// Sets or clears the bond between the part at (x, y, z) and its neighbour in
// `direction`, on both sides. False when either position holds no part.
bool editBond(Universe& universe, int32_t x, int32_t y, int32_t z, int32_t direction, bool on);

// Every part in the box (inclusive corners, any order), in bucket order.
std::vector<UniverseCell> partsInBox(const Universe& universe, const int32_t lo[3], const int32_t hi[3]);

// Erases every part in the box; returns how many.
size_t eraseBox(Universe& universe, const int32_t lo[3], const int32_t hi[3]);

// Quarter turns about x, then y, then z (each counted modulo 4, positive by
// the right-hand rule), then an optional mirror across one axis, then an
// offset. Applies to positions and to every direction a part carries: its
// frame (front, side, up), outputs, next outputs and bonds.
struct PartTransform {
    int turns[3] = {0, 0, 0};
    int mirror = -1;  // -1 none, 0 x, 1 y, 2 z
    int32_t offset[3] = {0, 0, 0};
};

// The direction `d` (0..5) becomes under the transform (its turns and mirror);
// other values are kept.
int32_t transformDirection(const PartTransform& t, int32_t d);
uint8_t transformMask(const PartTransform& t, uint8_t mask);
// False when the transformed position would leave the 64-bit-safe range.
bool transformCell(const PartTransform& t, UniverseCell& cell);

// Moves, turns or mirrors the parts at `positions` (empty positions are
// skipped). Returns the number of parts placed; parts that would land beyond
// the edge are dropped.
size_t transformParts(Universe& universe, const std::vector<CellPosition>& positions, const PartTransform& t);
