// A part for the view tests: type, position and frame, with `up` from the
// up rule as a grid file would give it.
#pragma once

#include "universe/directions.h"
#include "universe/universe.h"

inline UniverseCell part(int32_t type, int32_t x, int32_t y, int32_t z, int32_t front = 0, int32_t side = 1) {
    UniverseCell c;
    c.partType = type;
    c.x = x;
    c.y = y;
    c.z = z;
    c.front = front;
    c.side = side;
    c.up = deriveUp(front, side);
    return c;
}
