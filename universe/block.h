// A block of the sparse universe: twelve cells stored column by column,
// and the rule classes phase 1 reads. How blocks are found, listed and
// updated: universe.h.
//
// Layout
//   Space is allocated in blocks of 2 x 2 x 3 cells. Cell (x, y, z) lives
//   in block (floor(x/2), floor(y/2), floor(z/3)) at slot xi*6 + yi*3 + zi.
//
// Cells
//   A cell is 11 bytes, stored field by field across its block (twelve
//   types, then twelve fronts, ...): part type, frame, the persistent
//   incoming frame, signals, bonds and a link mask. The rules and the commit
//   then index plain byte arrays by slot. Values that do not fit a byte (only
//   a malformed file makes them) are stored as the escape byte 255 with the
//   real value in the block's extras. Region and stimulus-binding references
//   are rare, so they too live in the extras, which most blocks never
//   allocate.
//
//   Links: a cell's link in direction d is either none or the cell object at
//   the adjacent position (cell objects never change position; they are only
//   replaced or freed, and both clear the back-links). So one bit per face is
//   enough, and the neighbour is reached through the block's neighbour
//   pointer. Links are set only by linking (placing, moving into, relinking)
//   and are part of the semantics: an unlinked face sees no input.
//
// Rule classes and signal lanes
//   Nearly all parts of a large machine are Conductors and NorGates, whose
//   rules only read the neighbours' outputs and write their own
//   nextOutputs. Each block keeps three slot masks derived from type and
//   frame: conductors, NOR gates with perpendicular axes, and every other
//   cell that has a rule ("ordered": actuators, sources, odd NOR gates).
//   setField and placing keep them current (the only ways a type or frame
//   changes: loading, placing, phase-2 turns, phase-3 moves); rebuildCaches
//   recomputes them, and verifyConsistency checks them. Phase 1 evaluates
//   the two signal classes of a block as twelve byte lanes with the same
//   instructions whatever the signals (the input gather is fixed by the slot
//   geometry; the links, read as they stand, select the inputs that count),
//   and runs the ordered cells' rules in slot order.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "universe/directions.h"

struct StimulusChannel;  // owned by the stimulus run object

enum PartType : int32_t {
    Empty = 0,
    Conductor = 1,
    NorGate = 2,
    Pusher = 3,
    Shifter = 4,
    Rotator = 5,
    Binder = 6,
    Cutter = 7,
    PulseInput = 8,
    Source = 9,
    Drive = 10,
};

// A named region of the structure; built while a grid file is read.
struct RegionEntry {
    std::string path;
    RegionEntry* parent = nullptr;
    uint8_t visible = 1;
    uint8_t ticked = 1;
};

// A full, uncompressed cell value: what placeCell takes and what readers get.
struct UniverseCell {
    int32_t front = 0;
    int32_t side = 1;
    int32_t up = 4;
    int32_t partType = 0;
    int32_t x = 0, y = 0, z = 0;
    uint8_t nextOutputs = 0;
    uint8_t outputs = 0;
    uint8_t bonds = 0;
    RegionEntry* region = nullptr;
    StimulusChannel* terminalBinding = nullptr;
};

// The cells of a block are stored field by field (twelve types, then twelve
// fronts, ...), so the hot loops index plain byte arrays by slot and the
// commit copies twelve signal bytes at once. `cells[s]` gives a view of one
// cell whose members refer into those arrays.
struct CellCore {
    uint8_t& type;  // 255: escaped, real value in the extras
    uint8_t& front;
    uint8_t& side;
    uint8_t& up;
    uint8_t& inFront;  // incoming frame, persistent
    uint8_t& inSide;
    uint8_t& inUp;
    uint8_t& outputs;
    uint8_t& nextOutputs;
    uint8_t& bonds;
    uint8_t& links;  // bit d: linked to the cell in direction d
};

//
// The column order in memory serves the signal evaluation, which loads 16
// bytes for a 12-byte column: each column it loads (outputs, links, front,
// nextOutputs) is followed by one that phase 1's parallel passes never
// write. Checkpoints store the columns in `forEachColumn` order, whatever
// the layout.
struct CellColumns {
    uint8_t type[12];
    uint8_t inFront[12];
    uint8_t inSide[12];
    uint8_t inUp[12];
    uint8_t nextOutputs[12];
    uint8_t bonds[12];
    uint8_t outputs[12];
    uint8_t links[12];
    uint8_t front[12];
    uint8_t side[12];
    uint8_t up[12];

    template <class F>
    void forEachColumn(F&& f) {
        for (uint8_t* column : {type, front, side, up, inFront, inSide, inUp, outputs, nextOutputs, bonds, links})
            f(column);
    }
    template <class F>
    void forEachColumn(F&& f) const {
        for (const uint8_t* column : {type, front, side, up, inFront, inSide, inUp, outputs, nextOutputs, bonds, links})
            f(column);
    }

    CellCore operator[](int s) {
        return CellCore{type[s],    front[s],   side[s],        up[s],    inFront[s], inSide[s],
                        inUp[s],    outputs[s], nextOutputs[s], bonds[s], links[s]};
    }
    const CellCore operator[](int s) const { return const_cast<CellColumns&>(*this)[s]; }
    // A fresh empty cell: type 0, frame and incoming frame (+y, +x, +z).
    void reset(int s) {
        type[s] = 0;
        front[s] = inFront[s] = 0;
        side[s] = inSide[s] = 1;
        up[s] = inUp[s] = 4;
        outputs[s] = nextOutputs[s] = bonds[s] = links[s] = 0;
    }
    void resetAll() {
        for (int s = 0; s < 12; ++s) reset(s);
    }
};
static_assert(sizeof(CellColumns) == 132);

constexpr uint8_t kEscape = 255;

// Fields that may be escaped, as indexes into BlockExtras::wide.
enum WideField { WType, WFront, WSide, WUp, WInFront, WInSide, WInUp, WCount };

struct BlockExtras {
    RegionEntry* region[12] = {};
    StimulusChannel* binding[12] = {};
    std::unique_ptr<int32_t[]> wide;  // 12 * WCount, allocated on first escape
};

struct UniverseBlock {
private:
    void setEscaped(int slot, WideField f, int32_t v);
    void setOccupied(int slot, bool on) {
        occupied = uint16_t(on ? occupied | (1u << slot) : occupied & ~(1u << slot));
    }

public:
    int32_t originX = 0, originY = 0, originZ = 0;
    uint32_t listFlags = 0;
    UniverseBlock* neighbour[6] = {};  // face-neighbour blocks by direction
    UniverseBlock* chainNext = nullptr;
    std::unique_ptr<BlockExtras> extras;
    // At least 0: the index of this generation's scratch record (phases 1
    // to 3 only). Otherwise ~index on the current list, while on it: the
    // two are never needed at once, and a large universe is mostly blocks.
    int32_t scratch = -1;
    uint32_t listPos() const { return ~uint32_t(scratch); }
    void setListPos(uint32_t i) { scratch = int32_t(~i); }
    uint16_t occupied = 0;  // bit s: cell s holds a part (type != 0)
    // Rule classes, derived from each cell's type and frame (classify()):
    // phase 1 evaluates the two signal classes for all twelve slots at once
    // and runs the rule of each ordered cell in slot order.
    uint16_t conductorCells = 0;  // Conductor whose front is in the table
    uint16_t norCells = 0;        // NorGate whose three axes are perpendicular
    uint16_t orderedCells = 0;    // any other cell with a rule (actuators, odd NorGates)
    CellColumns cells;

    int32_t field(int slot, WideField f) const;
    int32_t partType(int s) const { return cells.type[s] != kEscape ? cells.type[s] : field(s, WType); }
    int32_t front(int s) const { return cells.front[s] != kEscape ? cells.front[s] : field(s, WFront); }
    int32_t side(int s) const { return cells.side[s] != kEscape ? cells.side[s] : field(s, WSide); }
    int32_t up(int s) const { return cells.up[s] != kEscape ? cells.up[s] : field(s, WUp); }
    bool empty(int s) const { return cells.type[s] == 0; }
    RegionEntry* region(int s) const { return extras ? extras->region[s] : nullptr; }
    StimulusChannel* terminalBinding(int s) const { return extras ? extras->binding[s] : nullptr; }
    int32_t cellX(int s) const { return originX + s / 6; }
    int32_t cellY(int s) const { return originY + (s / 3) % 2; }
    int32_t cellZ(int s) const { return originZ + s % 3; }

    // Full value of one cell, for readers outside the hot path.
    UniverseCell cell(int s) const;

    // Stores one field; a value that does not fit a byte is escaped.
    void setField(int slot, WideField f, int32_t v) {
        if (v >= 0 && v < kEscape) {
            uint8_t& byte = column(f)[slot];
            if (f == WType) setOccupied(slot, v != 0);
            // Moves rewrite every field of a claimed cell, mostly with the
            // values it has; only a real change of a field the rules read
            // (not the incoming frame) needs a new class.
            const bool changed = byte != uint8_t(v);
            byte = uint8_t(v);
            if (f <= WUp && changed) classify(slot);
            return;
        }
        setEscaped(slot, f, v);
    }
    // Type and frame together, classified once (the commit of a move).
    void setPart(int slot, int32_t type, int32_t front, int32_t side, int32_t up) {
        if (uint32_t(type) < kEscape && uint32_t(front) < kEscape && uint32_t(side) < kEscape &&
            uint32_t(up) < kEscape) {
            const bool changed = cells.type[slot] != type || cells.front[slot] != front ||
                                 cells.side[slot] != side || cells.up[slot] != up;
            setOccupied(slot, type != 0);
            cells.type[slot] = uint8_t(type);
            cells.front[slot] = uint8_t(front);
            cells.side[slot] = uint8_t(side);
            cells.up[slot] = uint8_t(up);
            if (changed) classify(slot);
            return;
        }
        setField(slot, WType, type);
        setField(slot, WFront, front);
        setField(slot, WSide, side);
        setField(slot, WUp, up);
    }
    uint8_t* column(WideField f) {
        switch (f) {
        case WType: return cells.type;
        case WFront: return cells.front;
        case WSide: return cells.side;
        case WUp: return cells.up;
        case WInFront: return cells.inFront;
        case WInSide: return cells.inSide;
        default: return cells.inUp;
        }
    }
    // Recomputes slot s's rule class from its type and frame bytes.
    void classify(int s);
    // Recomputes `occupied` and the rule classes of all twelve slots.
    void classifyAll();
    // (Nearly every call sets nothing on a block without extras: a move
    // carries no region or binding. That test stays inline.)
    void setRegion(int s, RegionEntry* r) {
        if (r || extras) storeRegion(s, r);
    }
    void setTerminalBinding(int s, StimulusChannel* c) {
        if (c || extras) storeTerminalBinding(s, c);
    }
    void storeRegion(int s, RegionEntry* r);
    void storeTerminalBinding(int s, StimulusChannel* c);
};

// A large universe is mostly blocks: keep one within 224 bytes (the rule
// classes fill what was padding; a block's chain place and husk sides live
// beside it in its chunk, universe.h).
static_assert(sizeof(void*) != 8 || sizeof(UniverseBlock) <= 224);

struct CellRef {
    UniverseBlock* block = nullptr;
    int slot = 0;
    explicit operator bool() const { return block != nullptr; }
    CellCore core() const { return block->cells[slot]; }
};
