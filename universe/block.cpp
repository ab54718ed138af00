// A block's fields and rule classes (see block.h).
//
// The rule class of a cell is derived from its type and frame bytes alone
// and recomputed whenever one of them really changes, so that phase 1 can
// pick a block's signal lanes and ordered cells from three masks without
// looking at a single cell. Everything rare (escaped values, regions,
// bindings) lives in extras allocated on first use, so a plain block stays
// small.
#include "universe/block.h"

#include <memory>

int32_t UniverseBlock::field(int slot, WideField f) const {
    return extras && extras->wide ? extras->wide[slot * WCount + f] : kEscape;
}

void UniverseBlock::setEscaped(int slot, WideField f, int32_t v) {
    if (f == WType) setOccupied(slot, v != 0);
    if (!extras) extras = std::make_unique<BlockExtras>();
    if (!extras->wide) {
        extras->wide = std::make_unique<int32_t[]>(12 * WCount);
        for (int i = 0; i < 12 * WCount; ++i) extras->wide[i] = kEscape;
    }
    column(f)[slot] = kEscape;
    extras->wide[slot * WCount + f] = v;
    if (f <= WUp) classify(slot);
}

namespace {
// The lattice axis of a direction: 0 for y, 1 for x, 2 for z.
constexpr int axisOf(int d) { return d < 4 ? d & 1 : 2; }
}  // namespace

// Escaped bytes (255) are never in the table, so an escaped type has no rule
// and an escaped frame makes a signal element fall back to the ordered path
// (or to nothing, as its rule says).
void UniverseBlock::classify(int s) {
    const uint16_t bit = uint16_t(1u << s);
    conductorCells = uint16_t(conductorCells & ~bit);
    norCells = uint16_t(norCells & ~bit);
    orderedCells = uint16_t(orderedCells & ~bit);
    const int t = cells.type[s], f = cells.front[s], sd = cells.side[s], u = cells.up[s];
    if (t == Conductor) {
        if (f < 6) conductorCells |= bit;
    } else if (t == NorGate) {
        // With three perpendicular axes the watched faces are all but the
        // front; any other frame in the table takes the general rule.
        if (f < 6 && sd < 6 && u < 6) {
            const int a = axisOf(f), b = axisOf(sd), c = axisOf(u);
            if (a != b && a != c && b != c)
                norCells |= bit;
            else
                orderedCells |= bit;
        }
    } else if (t >= Pusher && t <= Drive) {
        orderedCells |= bit;
    }
}

void UniverseBlock::classifyAll() {
    occupied = 0;
    for (int s = 0; s < 12; ++s) {
        if (cells.type[s] != 0) occupied = uint16_t(occupied | (1u << s));
        classify(s);
    }
}

void UniverseBlock::storeRegion(int s, RegionEntry* r) {
    if (!extras) extras = std::make_unique<BlockExtras>();
    extras->region[s] = r;
}

void UniverseBlock::storeTerminalBinding(int s, StimulusChannel* c) {
    if (!extras) extras = std::make_unique<BlockExtras>();
    extras->binding[s] = c;
}

UniverseCell UniverseBlock::cell(int s) const {
    UniverseCell c;
    c.front = front(s);
    c.side = side(s);
    c.up = up(s);
    c.partType = partType(s);
    c.x = cellX(s);
    c.y = cellY(s);
    c.z = cellZ(s);
    c.nextOutputs = cells[s].nextOutputs;
    c.outputs = cells[s].outputs;
    c.bonds = cells[s].bonds;
    c.region = region(s);
    c.terminalBinding = terminalBinding(s);
    return c;
}
