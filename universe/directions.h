// Face directions, quarter turns and the frame rule shared by the whole system.
//
// Directions 0..5 are +y, +x, -y, -x, +z, -z. Every file format, rule and
// drawing indexes this one table, so the numbering is part of the file
// formats and must never change. A face mask is a byte whose bit d stands for
// direction d (only the low six bits mean anything).
//
// Values outside 0..5 can only come from a malformed file. They are stored
// and written back unchanged, but nothing ever indexes a table with them:
// every user checks `validDirection` first.
#pragma once
#include <cstdint>

struct DirectionTable {
    int32_t dx[6];
    int32_t dy[6];
    int32_t dz[6];
    int32_t opposite[6];
};

inline constexpr DirectionTable directionTable = {
    {0, 1, 0, -1, 0, 0},
    {1, 0, -1, 0, 0, 0},
    {0, 0, 0, 0, 1, -1},
    {2, 3, 0, 1, 5, 4},
};

constexpr bool validDirection(int32_t d) { return d >= 0 && d < 6; }
constexpr int32_t oppositeDirection(int32_t d) { return directionTable.opposite[d]; }

// Right-handed quarter turn about axis k: quarterTurn[k][d] is where direction d goes.
inline constexpr int8_t quarterTurn[6][6] = {
    {0, 5, 2, 4, 1, 3},
    {4, 1, 5, 3, 2, 0},
    {0, 4, 2, 5, 3, 1},
    {5, 1, 4, 3, 0, 2},
    {3, 0, 1, 2, 4, 5},
    {1, 2, 3, 0, 4, 5},
};

// A direction field under a quarter turn; invalid values stay as they are.
constexpr int32_t turnDirection(int32_t axis, int32_t d) {
    return (validDirection(axis) && validDirection(d)) ? quarterTurn[axis][d] : d;
}

// Face mask under a quarter turn (bits 6 and 7 are dropped).
constexpr uint8_t turnMask(int32_t axis, uint8_t mask) {
    uint8_t r = 0;
    for (int d = 0; d < 6; ++d)
        if (mask & (1u << d)) r |= uint8_t(1u << quarterTurn[axis][d]);
    return r;
}

// The third axis of a part from its front and side, as the grid and stimulus
// files derive it (`up` is never stored). For perpendicular front and side it
// is side x front. The remainders are those of truncating division, so odd
// inputs give odd but well-defined answers.
constexpr int32_t deriveUp(int32_t front, int32_t side) {
    auto mod4 = [](int64_t v) { return int32_t(v % 4); };
    if (front == 5) return mod4(int64_t(side) + 3);
    if (side == 5) return front == 4 ? 2 : mod4(int64_t(front) + 1);
    if (front == 4) return mod4(int64_t(side) + 1);
    if (side == 4) return mod4(int64_t(front) + 3);
    return side == mod4(int64_t(front) + 1) ? 4 : 5;
}
