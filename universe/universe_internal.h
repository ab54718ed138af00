// Internals shared by the engine's files: the slot tables, the wake-mask
// forms, the small list and storage helpers the hot loops inline, the
// thread pool and the per-generation scratch record.
#pragma once
#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

#include "universe/universe.h"

namespace universe_detail {

// Fetches the cache line at p ahead of use. GCC's dead-code pass drops a
// plain __builtin_prefetch whose address comes from a load in a loop like
// ours, so on x86 the instruction is written out.
inline void prefetchLine(const void* p) {
#if defined(__x86_64__) || defined(__i386__)
    asm volatile("prefetcht0 %0" : : "m"(*static_cast<const char*>(p)));
#else
    __builtin_prefetch(p);
#endif
}

// For slot s and direction d: the neighbour's slot and whether it lies in
// the same block (otherwise it lies in the face-neighbour block d).
struct NeighbourSlot {
    uint8_t slot;
    bool sameBlock;
};

struct NeighbourSlotTable {
    NeighbourSlot at[12][6];
    constexpr NeighbourSlotTable() : at{} {
        for (int s = 0; s < 12; ++s) {
            const int xi = s / 6, yi = (s / 3) % 2, zi = s % 3;
            for (int d = 0; d < 6; ++d) {
                int nx = xi + directionTable.dx[d], ny = yi + directionTable.dy[d], nz = zi + directionTable.dz[d];
                const bool same = nx >= 0 && nx < 2 && ny >= 0 && ny < 2 && nz >= 0 && nz < 3;
                nx = (nx + 2) % 2;
                ny = (ny + 2) % 2;
                nz = (nz + 3) % 3;
                at[s][d] = NeighbourSlot{uint8_t(nx * 6 + ny * 3 + nz), same};
            }
        }
    }
};
inline constexpr NeighbourSlotTable neighbourSlots{};

// The block holding neighbour n of a cell of b (n = neighbourSlots.at[s][d]):
// b itself or its face neighbour d, which may be missing.
template <class Block>
inline Block* neighbourBlock(Block* b, const NeighbourSlot& n, int d) {
    return n.sameBlock ? b : b->neighbour[d];
}

// Wake-mask bits that a reporting cell in slot s contributes.
struct WakeBitsTable {
    uint8_t bits[12];
    constexpr WakeBitsTable() : bits{} {
        for (int s = 0; s < 12; ++s) {
            const int xi = s / 6, yi = (s / 3) % 2, zi = s % 3;
            uint8_t m = xi == 0 ? 8 : 4;
            m |= yi == 0 ? 2 : 1;
            if (zi == 0) m |= 32;
            if (zi == 2) m |= 16;
            bits[s] = m;
        }
    }
};
inline constexpr WakeBitsTable wakeBits{};

// The block coordinates of b (its origin over the block edges).
inline void blockCoords(const UniverseBlock* b, int32_t& bx, int32_t& by, int32_t& bz) {
    bx = Universe::floorDiv(b->originX, 2);
    by = Universe::floorDiv(b->originY, 2);
    bz = Universe::floorDiv(b->originZ, 3);
}

// Storage index k: block k % kChunkBlocks of chunk k / kChunkBlocks.
inline UniverseBlock* storageBlock(const Universe::Chunk* chunks, size_t k) {
    return chunks[k / Universe::kChunkBlocks].get() + k % Universe::kChunkBlocks;
}

// Appends b to a list unless its flag says it is on it already. Every
// append to the worklists but a new block's goes through here.
inline void appendOnce(std::vector<UniverseBlock*>& list, UniverseBlock* b, uint32_t flag) {
    if (!(b->listFlags & flag)) {
        list.push_back(b);
        b->listFlags |= flag;
    }
}

// The flags of a block moving from the next list to the current one.
inline uint32_t promotedFlags(uint32_t flags) { return (flags | OnCurrent) & ~uint32_t(OnNext); }

// The commit of a block without claims or turns: its signals become its
// outputs, twelve bytes at once. Nothing else changes, so the helper
// threads can do it for such blocks in any order.
inline void commitSignals(UniverseBlock* b) {
    std::memcpy(b->cells.outputs, b->cells.nextOutputs, sizeof b->cells.outputs);
}

// A wake mask naming every face (wakeBlocks wakes the block itself too).
constexpr unsigned kAllFaces = 63;

// Appends the block and the face neighbours named in the wake mask to a
// list, skipping those already on it, in the visiting order -x, -y, -z, the
// block, +z, +y, +x. Inline because phase 1 calls it for nearly every block.
inline void wakeInto(UniverseBlock* b, unsigned mask, std::vector<UniverseBlock*>& list, uint32_t flag) {
    auto add = [&](UniverseBlock* n) {
        if (n) appendOnce(list, n, flag);
    };
    if (mask & 8) add(b->neighbour[3]);
    if (mask & 2) add(b->neighbour[2]);
    if (mask & 32) add(b->neighbour[5]);
    add(b);
    if (mask & 16) add(b->neighbour[4]);
    if (mask & 1) add(b->neighbour[0]);
    if (mask & 4) add(b->neighbour[1]);
}

// Wake masks as phase 1 carries them: bits 0..5 name the face neighbours
// to wake in wakeInto's bit order, counting only neighbours that exist, and
// kWakeSelf stands for the block itself (set whenever anything reported).
// A neighbour that does not exist when the mask is formed needs no bit: a
// block created later in the phase is put on the next list at once.
constexpr unsigned kWakeSelf = 64;

// The faces of b that have a neighbour block, as wake-mask bits.
inline unsigned presentFaces(const UniverseBlock* b) {
    return unsigned(b->neighbour[0] != nullptr) | unsigned(b->neighbour[2] != nullptr) << 1 |
           unsigned(b->neighbour[1] != nullptr) << 2 | unsigned(b->neighbour[3] != nullptr) << 3 |
           unsigned(b->neighbour[4] != nullptr) << 4 | unsigned(b->neighbour[5] != nullptr) << 5;
}

// The walk of wakeInto for a mask in the form above, without branches on
// it: each candidate is written at out[n] and kept (n advances) only when
// it is wanted and not on the list yet. An unwanted candidate is replaced by
// one of seven sinks (one per position, so that consecutive candidates do
// not wait on each other's flag stores), whose flags are all set. out must
// have room for n + 7 entries; returns the new length.
inline size_t wakeIntoFlat(UniverseBlock* b, unsigned mask, UniverseBlock** out, size_t n, uint32_t flag,
                           UniverseBlock* sinks) {
    auto add = [&](UniverseBlock* c, unsigned wanted, UniverseBlock* sink) {
        UniverseBlock* t = wanted ? c : sink;
        const uint32_t f = t->listFlags;
        out[n] = t;
        n += (f & flag) == 0;
        t->listFlags = f | flag;
    };
    add(b->neighbour[3], mask & 8, sinks + 0);
    add(b->neighbour[2], mask & 2, sinks + 1);
    add(b->neighbour[5], mask & 32, sinks + 2);
    add(b, mask & kWakeSelf, sinks + 3);
    add(b->neighbour[4], mask & 16, sinks + 4);
    add(b->neighbour[0], mask & 1, sinks + 5);
    add(b->neighbour[1], mask & 4, sinks + 6);
    return n;
}

// Phase-1 signal evaluation of one block: writes `nextOutputs` of its
// conductor and NOR cells (the other cells keep theirs) and returns the wake
// mask of their reports, in the form above. Reads only the block, its neighbours' `outputs` and
// its own frame and links, so blocks can be evaluated in any order and on
// any thread.
unsigned evaluateSignals(UniverseBlock* b);

// The kernels behind evaluateSignals; every one gives the same results.
// signalKernel is the one this processor runs.
using SignalKernel = unsigned (*)(UniverseBlock*);
unsigned evaluateSignalsLanewise(UniverseBlock* b);  // one lane at a time
unsigned evaluateSignalsPlain(UniverseBlock* b);     // SSE2
unsigned evaluateSignalsShuffled(UniverseBlock* b);  // SSSE3 byte shuffles
extern const SignalKernel signalKernel;

// What the storage-order signal pass leaves in a listed block's listFlags,
// set and cleared within phase 1: the wake mask in bits 4..10 and the low
// 21 bits of the block's list position in bits 11..31, so that a neighbour
// reads both with one load.
constexpr int kSignalWakeShift = 4;
constexpr int kListPosShift = 11;
constexpr uint32_t kAllListFlags = OnNext | OnCommit | OnMove | OnCurrent;
constexpr uint32_t kPhaseBits = ~kAllListFlags;
constexpr size_t kKeyedListLimit = size_t(1) << (32 - kListPosShift);
// The flags of a listed block once phase 1 is done with it: off the
// current list, and the signal pass's bits gone.
inline uint32_t leavingCurrent(uint32_t flags) { return flags & ~(uint32_t(OnCurrent) | kPhaseBits); }

// The ordered walk (rules.cpp) and the list-order signal pass
// (pass_pool.cpp) call this for every block, so it is inline in both.
// The walk is memory-bound on large machines, and the list order follows
// the signals, so the hardware cannot guess it: fetch the block a few steps
// ahead, and the outputs of the neighbours of one whose pointers have
// arrived by now.
constexpr size_t kBlockAhead = 6, kNeighboursAhead = 3;
inline void prefetchAhead(const std::vector<UniverseBlock*>& list, size_t i, bool neighbours) {
    if (i + kBlockAhead < list.size()) {
        const char* p = reinterpret_cast<const char*>(list[i + kBlockAhead]);
        for (size_t off = 0; off < sizeof(UniverseBlock); off += 64) prefetchLine(p + off);
    }
    if (i + kNeighboursAhead < list.size()) {
        // The signals need the neighbours' outputs; the walk after a signal
        // pass needs only their list flags, for the wake enlists, unless
        // the block has ordered cells, whose rules read inputs too.
        const UniverseBlock* b = list[i + kNeighboursAhead];
        const bool outputs = neighbours || b->orderedCells;
        for (const UniverseBlock* n : b->neighbour)
            if (n) {
                if (outputs) {
                    prefetchLine(n->cells.outputs);
                    prefetchLine(n->cells.outputs + 11);
                } else {
                    prefetchLine(&n->listFlags);
                }
            }
    }
}

}  // namespace universe_detail

// The helper threads (pass_pool.cpp). Each pass hands every helper one
// contiguous share of [0, count) (of a list, or of storage); the caller
// runs the first share itself and then waits for the others (the barrier
// of the pass). Phases 1, 3 and 4 all run passes here.
struct Universe::PassPool {
    explicit PassPool(Universe& u, int helpers);
    ~PassPool();
    // Runs `pass` over [0, count), cut into one share per thread.
    void run(Pass pass, size_t count);

private:
    void helperLoop(int index);
    Universe& universe_;
    const size_t shares_;  // helpers + the caller
    std::vector<std::thread> helpers_;
    Pass pass_ = Pass::ListSignals;  // both published by the epoch bump
    size_t count_ = 0;
    std::atomic<uint32_t> epoch_{0};
    std::atomic<int32_t> remaining_{0};
    std::atomic<int32_t> sleepers_{0};
    std::atomic<bool> quit_{false};
};

// The claim state of one block for one generation. Phase 2 walks the
// move list and phase 3 the commit list long after the claims were made,
// so the records are mostly out of the cache by then: what decides whether
// a slot has anything to do sits in the first cache line, the incoming
// state every carried part writes in the second, and the rare fields
// (regions, bindings, escaped types) apart, written and read only for the
// slots that `extraSlots` names. The source of a claimed cell is not
// stored: it is always the cell one step behind along its request's way.
struct alignas(64) Universe::Scratch {
    int32_t moveRequest[12];
    // Slots that may hold a claim or a turn, and that may hold a turn
    // (supersets: placing a part clears a claim without clearing its bits).
    uint16_t busySlots;
    uint16_t turnSlots;
    // Slots whose incoming region, binding and wide type below are written.
    uint16_t extraSlots;
    // Slots that request `queuedFor` has queued but not yet claimed.
    uint16_t queuedSlots;
    int32_t queuedFor;
    uint8_t rotatePending[12];
    int8_t rotateAxis[12];
    uint8_t incomingNextOutputs[12];
    uint8_t incomingBonds[12];
    uint8_t incomingType[12];  // kEscape: the value is in incomingWideType
    int32_t incomingWideType[12];
    RegionEntry* incomingRegion[12];
    StimulusChannel* incomingTerminalBinding[12];

    // A new record is not cleared: reset() writes what says whether a slot
    // has anything to do, and the rest is written before it is read (the
    // incoming state by the move phase for every claim that stands, the
    // axis with its pending turn). A record reused from an earlier
    // generation holds that generation's values just the same.
    Scratch() {}
    void reset() {
        for (int s = 0; s < 12; ++s) {
            moveRequest[s] = -1;
            rotatePending[s] = 0;
        }
        busySlots = turnSlots = extraSlots = queuedSlots = 0;
        queuedFor = -1;
    }
};

// The hot helpers of the cell and move operations, here so that every
// engine file inlines them (they run for every claim and every link).
// Mostly the block is on all three lists already: one test.
inline void Universe::enlistForUpdate(UniverseBlock* b) {
    constexpr uint32_t all = OnMove | OnCommit | OnNext;
    if ((b->listFlags & all) != all) enlistSome(b);
}

inline Universe::Scratch& Universe::scratchOf(UniverseBlock* b) {
    return b->scratch >= 0 ? scratch_[b->scratch] : borrowScratch(b);
}

inline CellRef Universe::neighbourCell(CellRef c, int d) const {
    const universe_detail::NeighbourSlot& n = universe_detail::neighbourSlots.at[c.slot][d];
    UniverseBlock* b = universe_detail::neighbourBlock(c.block, n, d);
    if (!b && !husks_.empty() && (huskSides(c.block) >> d & 1)) [[unlikely]]
        b = const_cast<Universe*>(this)->reviveBeside(c.block, d);
    return CellRef{b, n.slot};
}

inline CellRef Universe::stepCell(CellRef c, int d, bool create) {
    const universe_detail::NeighbourSlot& n = universe_detail::neighbourSlots.at[c.slot][d];
    if (n.sameBlock) return CellRef{c.block, n.slot};
    UniverseBlock* nb = c.block->neighbour[d];
    if (!nb) [[unlikely]] {
        if (!husks_.empty() && (huskSides(c.block) >> d & 1))
            nb = reviveBeside(c.block, d);
        else if (create)
            nb = createBeside(c.block, d);
    }
    return CellRef{nb, n.slot};
}
