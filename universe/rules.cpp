// Phase 1: the part rules and the walk that applies them.
//
// The walk visits the current list in order and each block's ordered cells
// in slot order, because what the rules ask for (moves, turns, bonds, new
// blocks) lands on lists whose order is part of the results. The signal
// cells are not ordered: they read only outputs, which nothing changes in
// this phase, so a pass on several threads (pass_pool.cpp) may have
// evaluated them already and the walk then only collects their wake masks.
// Wake enlists go through a staging buffer without branches because whether
// a block reports follows the signals, which no branch predictor can guess.
#include <algorithm>

#include "universe/universe.h"
#include "universe/universe_internal.h"

using namespace universe_detail;

namespace {
// True when any face in `faces` receives a signal: the cell is linked that
// way and the neighbour drives toward it.
inline bool anyInput(const UniverseBlock* b, int s, unsigned faces) {
    faces &= b->cells[s].links;
    while (faces) {
        const int d = __builtin_ctz(faces);
        faces &= faces - 1;
        const NeighbourSlot& n = neighbourSlots.at[s][d];
        const UniverseBlock* nb = neighbourBlock(b, n, d);
        if ((nb->cells[n.slot].outputs >> directionTable.opposite[d]) & 1) return true;
    }
    return false;
}
inline bool hasInput(const UniverseBlock* b, int s, int d) { return anyInput(b, s, 1u << d); }
inline bool frontChange(const CellCore& c) { return ((c.outputs ^ c.nextOutputs) >> c.front) & 1; }

// The outputs of a missing neighbour.
constexpr uint8_t kNoOutputs[12] = {};

// The ordered cells of b whose rule may do anything. A Pusher, Shifter,
// Rotator, Binder or Cutter without a signal from behind does nothing at
// all (no lookup, no request, no report), and in a large machine most of
// them wait; telling them apart here, without a branch on the signals,
// saves their rule's dispatch, which no branch predictor can guess. A cell
// with a front outside the table has no effect either.
inline unsigned actingCells(const UniverseBlock* b) {
    unsigned acting = 0;
    for (unsigned m = b->orderedCells; m; m &= m - 1) {
        const int s = __builtin_ctz(m);
        const unsigned f = b->cells.front[s];
        if (f >= 6) continue;
        const int behind = directionTable.opposite[f];
        const NeighbourSlot& n = neighbourSlots.at[s][behind];
        const UniverseBlock* nb = neighbourBlock(b, n, behind);
        const unsigned waits = unsigned(b->cells.type[s]) - unsigned(Pusher) <= unsigned(Cutter - Pusher);
        // Only a waiting, linked cell reads its neighbour (a linked
        // neighbour exists), as its rule would: the others would pay a
        // miss on a block they do not need.
        const unsigned linked = (b->cells.links[s] >> behind) & 1;
        const uint8_t* out = (linked & waits) ? nb->cells.outputs : kNoOutputs;
        const unsigned input = (out[n.slot] >> f) & 1;
        acting |= (input | (waits ^ 1)) << s;
    }
    return acting;
}
}  // namespace

bool Universe::applyRule(UniverseBlock* b, int s) {
    CellCore c = b->cells[s];
    const int type = c.type;
    if (type == 0 || type > Drive) return false;
    const int f = c.front;
    if (f >= 6) return false;
    const int behind = directionTable.opposite[f];
    // The target is looked up for update: its block is created if missing
    // and enlisted for moves, commit and the next generation.
    auto target = [&]() {
        CellRef t = stepCell(CellRef{b, s}, f, true);
        enlistForUpdate(t.block);
        return t;
    };
    switch (type) {
    case Conductor:
        // Evaluated with the signal cells of its block.
        return false;
    case NorGate: {
        // Only a NorGate whose axes are not perpendicular gets here (the
        // others are signal cells). Behind, side, up and their opposites;
        // with such a frame this can include the front face, as the rule says.
        if (c.side >= 6 || c.up >= 6) return false;
        const unsigned watched = (1u << behind) | (1u << c.side) | (1u << c.up) |
                                 (1u << directionTable.opposite[c.side]) | (1u << directionTable.opposite[c.up]);
        c.nextOutputs = anyInput(b, s, watched) ? uint8_t(0) : uint8_t(1u << f);
        return frontChange(c);
    }
    case Pusher:
        if (hasInput(b, s, behind)) requestMoveAt(f, target());
        return false;
    case Shifter:
        if (c.side < 6 && hasInput(b, s, behind)) requestMoveAt(c.side, target());
        return false;
    case Rotator:
        if (hasInput(b, s, behind)) {
            CellRef t = target();
            if (t.core().type != 0) {
                Scratch& sc = scratchOf(t.block);
                sc.rotatePending[t.slot] = 1;
                sc.rotateAxis[t.slot] = int8_t(f);
                sc.busySlots = uint16_t(sc.busySlots | (1u << t.slot));
                sc.turnSlots = uint16_t(sc.turnSlots | (1u << t.slot));
            }
        }
        return false;
    case Binder:
    case Cutter: {
        if (c.side >= 6) return false;
        if (!hasInput(b, s, behind)) return false;
        // setBond looks up both cells for update, the target first.
        CellRef t = target();
        CellRef n = stepCell(t, c.side, true);
        enlistForUpdate(n.block);
        if (t.core().type != 0 && n.core().type != 0) {
            const uint8_t bt = uint8_t(1u << c.side), bn = uint8_t(1u << directionTable.opposite[c.side]);
            if (type == Binder) {
                t.core().bonds |= bt;
                n.core().bonds |= bn;
            } else {
                t.core().bonds &= uint8_t(~bt);
                n.core().bonds &= uint8_t(~bn);
            }
        }
        return true;
    }
    case PulseInput:
        if (inputPulse)
            c.nextOutputs |= uint8_t(1u << f);
        else
            c.nextOutputs &= uint8_t(~(1u << f));
        return frontChange(c);
    case Source:
        c.nextOutputs |= uint8_t(1u << f);
        return false;
    case Drive:
        if (c.side < 6) requestMoveAt(c.side, target());
        return false;
    }
    return false;
}

// Phase 1; true when it did the whole generation but its last step (only
// when asked to: the keyed walk with the commit folded in).
bool Universe::evaluate(bool wholeGeneration) {
    std::vector<UniverseBlock*>& cur = *current_;
    // The signal cells read only outputs, which nothing changes in phase 1,
    // and write only their own nextOutputs, so they can be evaluated ahead
    // of the ordered walk, in any order and on any thread; the walk then
    // only picks up their wake masks. Blocks appended during the walk are
    // new and evaluated by it. Small lists are not worth a separate pass.
    const size_t listed = cur.size();
    bool passed = false;
    if (listed > 0 && listed >= signalPassMinimum) {
        const bool dense = storageOrderPays(listed);
        const bool shared = sharedPassPays(listed);
        if (dense && sharing()) {
            preparePartition();  // (may move the blocks to fresh storage)
            runStored(Pass::StorageSignals, storedBlocks());
            if (keyedWalk(wholeGeneration)) return wholeGeneration;
        } else if (dense) {
            runPass(Pass::StorageSignals, 0, 0, storedBlocks());
        } else if (shared) {
            pool_->run(Pass::ListSignals, listed);
        }
        passed = dense || shared;
    }
    const size_t ahead = passed ? listed : 0;
    // The wake enlists go to a staging buffer first, where each candidate
    // is written and kept or not without a branch; the buffer joins the
    // next list when it fills and before any rule appends to the list.
    std::vector<UniverseBlock*>& next = *next_;
    if (wakeStage_.size() < kWakeStage) wakeStage_.resize(kWakeStage);
    UniverseBlock** stage = wakeStage_.data();
    size_t staged = 0;
    auto flush = [&] {
        if (staged) next.insert(next.end(), stage, stage + staged);
        staged = 0;
    };
    size_t i = 0;
    for (; i < cur.size(); ++i) {
        UniverseBlock* b = cur[i];
        prefetchAhead(cur, i, i >= ahead);
        appendOnce(commitList_, b, OnCommit);
        unsigned mask = i < ahead ? (b->listFlags >> kSignalWakeShift) & 127 : evaluateSignals(b);
        // No rule changes a part type or frame in this phase, so the ordered
        // set can be read once.
        if (b->orderedCells) {
            flush();
            unsigned ruled = 0;
            for (unsigned occ = actingCells(b); occ; occ &= occ - 1) {
                const int s = __builtin_ctz(occ);
                if (applyRule(b, s)) ruled |= wakeBits.bits[s];
            }
            if (ruled) mask |= (ruled & presentFaces(b)) | kWakeSelf;
        }
        b->listFlags = leavingCurrent(b->listFlags);
        // Only "any report at all" is a branch; it goes the same way for
        // nearly every block of a given machine (signal blocks report,
        // movers do not).
        if (mask) {
            staged = wakeIntoFlat(b, mask, stage, staged, OnNext, wakeSinks_);
            if (staged > kWakeStage - 7) flush();
        }
    }
    flush();
    activeBlockCount = int32_t(i);
    cur.clear();
    return false;
}
