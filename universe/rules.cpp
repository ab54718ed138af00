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
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// The ordered cells of a block by what their rule needs. A Pusher, Shifter,
// Rotator, Binder or Cutter without a signal from behind does nothing at
// all (no lookup, no request, no report), and in a large machine most of
// them wait. Sources and PulseInputs only write their own nextOutputs, and
// a Drive always asks for a move: in a mixed machine these three are half
// the ordered cells. Sorting the cells by kind up front, from the type
// column at once, spares each of them the general rule's dispatch on the
// type, which no branch predictor can guess when the kinds are mixed.
struct OrderedKinds {
    unsigned waiting;   // Pusher to Cutter
    unsigned emitting;  // PulseInput, Source
    unsigned driving;   // Drive
};

inline OrderedKinds orderedKinds(const UniverseBlock* b) {
    const unsigned ordered = b->orderedCells;
#if defined(__SSE2__)
    // The type column is followed by another column, so 16 bytes can be
    // read; the lanes past the twelfth are masked off by `ordered`.
    const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b->cells.type));
    const auto inRange = [&](int lo, int count) {
        const __m128i d = _mm_sub_epi8(t, _mm_set1_epi8(char(lo)));
        return unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(d, _mm_set1_epi8(char(count - 1))), d)));
    };
    return {inRange(Pusher, 5) & ordered, inRange(PulseInput, 2) & ordered,
            unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(t, _mm_set1_epi8(char(Drive))))) & ordered};
#else
    OrderedKinds k{0, 0, 0};
    for (unsigned m = ordered; m; m &= m - 1) {
        const int s = __builtin_ctz(m);
        const unsigned t = b->cells.type[s];
        k.waiting |= unsigned(t - Pusher <= unsigned(Cutter - Pusher)) << s;
        k.emitting |= unsigned(t - PulseInput <= 1u) << s;
        k.driving |= unsigned(t == Drive) << s;
    }
    return k;
#endif
}

// The output bit of each front; none for a front outside the table.
struct FrontBitTable {
    uint8_t bit[256];
    constexpr FrontBitTable() : bit{} {
        for (int f = 0; f < 6; ++f) bit[f] = uint8_t(1u << f);
    }
};
constexpr FrontBitTable frontBits;

// The rules of the Sources and PulseInputs in `cells`, without a branch on
// the kind (the two alternate at random in a mixed machine). Each writes
// only its own nextOutputs, which nothing else in phase 1 reads, so they
// need not keep their place among the other ordered rules. Returns the
// wake bits of the PulseInputs whose front output changes.
inline unsigned applyEmitters(UniverseBlock* b, unsigned cells, uint8_t pulse) {
    unsigned ruled = 0;
    for (; cells; cells &= cells - 1) {
        const int s = __builtin_ctz(cells);
        const unsigned bit = frontBits.bit[b->cells.front[s]];
        const unsigned isPulse = b->cells.type[s] == PulseInput;
        const unsigned old = b->cells.nextOutputs[s];
        const unsigned cleared = bit & (0u - (isPulse & unsigned(pulse == 0)));
        const unsigned now = (old | bit) & ~cleared;
        b->cells.nextOutputs[s] = uint8_t(now);
        ruled |= wakeBits.bits[s] & (0u - (isPulse & unsigned(((old ^ now) & bit) != 0)));
    }
    return ruled;
}

// The waiting cells of b that receive their signal from behind. Only a
// linked cell reads its neighbour (a linked neighbour exists), as its rule
// would: the others would pay a miss on a block they do not need. A cell
// with a front outside the table has no effect.
inline unsigned signalledCells(const UniverseBlock* b, unsigned waiting) {
    unsigned acting = 0;
    for (unsigned m = waiting; m; m &= m - 1) {
        const int s = __builtin_ctz(m);
        const unsigned f = b->cells.front[s];
        if (f >= 6) continue;
        const int behind = directionTable.opposite[f];
        const NeighbourSlot& n = neighbourSlots.at[s][behind];
        // Chosen without a branch: whether the cell behind lies in this
        // block follows the random frames of a mixed machine.
        const uintptr_t same = 0 - uintptr_t(n.sameBlock);
        const auto* nb = reinterpret_cast<const UniverseBlock*>((reinterpret_cast<uintptr_t>(b) & same) |
                                                                (reinterpret_cast<uintptr_t>(b->neighbour[behind]) & ~same));
        const unsigned linked = (b->cells.links[s] >> behind) & 1;
        const uint8_t* out = linked ? nb->cells.outputs : kNoOutputs;
        acting |= ((out[n.slot] >> f) & 1) << s;
    }
    return acting;
}
}  // namespace

void Universe::applyDrive(UniverseBlock* b, int s) {
    const unsigned f = b->cells.front[s], side = b->cells.side[s];
    if (f >= 6 || side >= 6) return;
    CellRef t = stepCell(CellRef{b, s}, int(f), true);
    enlistForUpdate(t.block);
    requestMoveAt(int(side), t);
}

// The rule of any other ordered cell: an odd NorGate or a waiting kind that
// has its signal.
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
    case Source:
    case Drive:
        // The walk runs these itself (applyEmitters, applyDrive).
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
    //
    // On the calling thread alone, the pass pays only where the walk would
    // otherwise read a block for its signals alone: a block with ordered
    // cells is read whole by the walk anyway, and then the pass's second
    // sweep over storage is a cost (on a dense mixed machine, a third of
    // the generation). The last walk says which kind of block prevails.
    const size_t listed = cur.size();
    bool passed = false;
    if (listed > 0 && listed >= signalPassMinimum) {
        const bool dense = storageOrderPays(listed);
        if (dense && sharing()) {
            preparePartition();  // (may move the blocks to fresh storage)
            runStored(Pass::StorageSignals, storedBlocks());
            if (keyedWalk(wholeGeneration)) return wholeGeneration;
            passed = true;
        } else if (dense) {
            passed = orderedWalked_ * 2 < walked_;
            if (passed) runPass(Pass::StorageSignals, 0, 0, storedBlocks());
        } else if (sharedPassPays(listed)) {
            pool_->run(Pass::ListSignals, listed);
            passed = true;
        }
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
    // (Read once: only the worker thread changes it, between generations.)
    const uint8_t pulse = inputPulse.load(std::memory_order_relaxed);
    size_t i = 0, ordered = 0;
    for (; i < cur.size(); ++i) {
        UniverseBlock* b = cur[i];
        prefetchAhead(cur, i, i >= ahead);
        appendOnce(commitList_, b, OnCommit);
        unsigned mask = i < ahead ? (b->listFlags >> kSignalWakeShift) & 127 : evaluateSignals(b);
        // No rule changes a part type or frame in this phase, so the ordered
        // set can be read once.
        if (b->orderedCells) {
            ++ordered;
            flush();
            const OrderedKinds kinds = orderedKinds(b);
            unsigned ruled = applyEmitters(b, kinds.emitting, pulse);
            const unsigned acting = (b->orderedCells & ~kinds.waiting & ~kinds.emitting) | signalledCells(b, kinds.waiting);
            for (unsigned occ = acting; occ; occ &= occ - 1) {
                const int s = __builtin_ctz(occ);
                if ((kinds.driving >> s) & 1)
                    applyDrive(b, s);
                else if (applyRule(b, s))
                    ruled |= wakeBits.bits[s];
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
    walked_ = i;
    orderedWalked_ = ordered;
    cur.clear();
    return false;
}
