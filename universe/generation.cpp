// The generation update: rules (phase 1), moves and turns (phase 2), commit
// (phase 3) and finish (phase 4).
//
// Every order here is observable: blocks are visited in list order and cells
// in slot order, and list appends made while a list is walked are visited by
// the same walk. Moves claim cells first-in first-out; requests with the same
// vector merge (the later claim wins), requests with different vectors that
// meet block each other.
#include <algorithm>
#include <cstring>
#include <thread>
#include <sstream>

#include "universe/universe.h"
#include "universe/universe_internal.h"

using namespace universe_detail;

Universe::Scratch& Universe::scratchOf(UniverseBlock* b) {
    if (b->scratch < 0) {
        // The record takes the place of the block's list position.
        positionedNext_ = ~size_t(0);
        if (scratchUsed_ == scratch_.size()) scratch_.emplace_back();
        b->scratch = int32_t(scratchUsed_++);
        scratch_[b->scratch].reset();
        scratchOwners_.push_back(b);
    }
    return scratch_[b->scratch];
}

// ---------------------------------------------------------------- rules

namespace {
// True when any face in `faces` receives a signal: the cell is linked that
// way and the neighbour drives toward it.
inline bool anyInput(const UniverseBlock* b, int s, unsigned faces) {
    faces &= b->cells[s].links;
    while (faces) {
        const int d = __builtin_ctz(faces);
        faces &= faces - 1;
        const NeighbourSlot& n = neighbourSlots.at[s][d];
        const UniverseBlock* nb = n.sameBlock ? b : b->neighbour[d];
        if ((nb->cells[n.slot].outputs >> directionTable.opposite[d]) & 1) return true;
    }
    return false;
}
inline bool hasInput(const UniverseBlock* b, int s, int d) { return anyInput(b, s, 1u << d); }
inline bool frontChange(const CellCore& c) { return ((c.outputs ^ c.nextOutputs) >> c.front) & 1; }
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

// ---------------------------------------------------------------- moves

bool Universe::claimCell(CellRef q, CellRef source, int32_t request, uint8_t& yielded) {
    yielded = 0;
    Scratch& sc = scratchOf(q.block);
    const int32_t held = sc.moveRequest[q.slot];
    if (held == request) return true;
    if (held >= 0 && moveRequests_[held].direction != moveRequests_[request].direction) {
        moveRequests_[held].blocked = 1;
        return false;
    }
    sc.moveRequest[q.slot] = request;
    sc.sourceBlock[q.slot] = source.block;
    sc.sourceSlot[q.slot] = uint8_t(source.slot);
    const CellCore c = q.core();
    if (c.type != 0) yielded = uint8_t((c.bonds & 63) | (1u << moveRequests_[request].direction));
    return true;
}

void Universe::requestMove(int32_t k, int32_t x, int32_t y, int32_t z) {
    if (!validDirection(k)) return;
    const CellRef target = cellForUpdate(x, y, z);
    if (target) requestMoveAt(k, target);
}

// `target` has been looked up for update already. The claim queue holds the
// claimed cell and the direction to the next one, so that a missing block is
// created when its cell is claimed, not when it is queued (creation appends
// to every list, and list order is observable).
void Universe::requestMoveAt(int32_t k, CellRef target) {
    if (target.core().type == 0) return;
    lastMoveTarget[0] = target.block->cellX(target.slot);
    lastMoveTarget[1] = target.block->cellY(target.slot);
    lastMoveTarget[2] = target.block->cellZ(target.slot);
    const int32_t request = int32_t(moveRequests_.size());
    moveRequests_.push_back(MoveRequest{k, directionTable.dx[k], directionTable.dy[k], directionTable.dz[k], 0});
    const int back = directionTable.opposite[k];
    queue_.clear();
    queue_.push_back(QueuedClaim{target, -1});
    for (size_t head = 0; head < queue_.size(); ++head) {
        const QueuedClaim qc = queue_[head];
        // A position beyond the edge fails its claim before its block is
        // looked up: a part would move there, so the whole request is blocked.
        if (qc.direction >= 0 && !farFromEdge(qc.from.block)) {
            const CellRef f = qc.from;
            if (!inCoordinateRange(int64_t(f.block->cellX(f.slot)) + directionTable.dx[qc.direction],
                                   int64_t(f.block->cellY(f.slot)) + directionTable.dy[qc.direction],
                                   int64_t(f.block->cellZ(f.slot)) + directionTable.dz[qc.direction])) {
                moveRequests_[request].blocked = 1;
                break;
            }
        }
        CellRef q = qc.direction < 0 ? qc.from : stepCell(qc.from, qc.direction, true);
        enlistForUpdate(q.block);
        CellRef source = stepCell(q, back, true);
        if (source.block != q.block) enlistForUpdate(source.block);
        uint8_t yielded;
        if (!claimCell(q, source, request, yielded)) {
            moveRequests_[request].blocked = 1;
            break;
        }
        for (int d = 0; d < 6; ++d)
            if (yielded & (1u << d)) queue_.push_back(QueuedClaim{q, int8_t(d)});
    }
}

// ---------------------------------------------------------------- phases

// ---------------------------------------------------------------- phase-1 threads

Universe::SignalPool::SignalPool(Universe& u, int helpers) : universe_(u), shares_(size_t(helpers) + 1) {
    for (int i = 0; i < helpers; ++i) helpers_.emplace_back([this, i] { helperLoop(i + 1); });
}

Universe::SignalPool::~SignalPool() {
    quit_.store(true);
    epoch_.fetch_add(1);
    epoch_.notify_all();
    for (std::thread& t : helpers_) t.join();
}

namespace {
// Share k of n of a list of `count` blocks.
inline void shareOf(size_t count, size_t k, size_t n, size_t& begin, size_t& end) {
    begin = count * k / n;
    end = count * (k + 1) / n;
}
}  // namespace

void Universe::SignalPool::helperLoop(int index) {
    uint32_t seen = 0;
    for (;;) {
        // Between generations the next pass usually comes within a few
        // microseconds, so yield for a while before sleeping.
        uint32_t now = epoch_.load(std::memory_order_acquire);
        for (int spin = 0; now == seen && spin < 4000; ++spin) {
            // (Not a processor spin: on a virtual machine a pause loop can
            // hand the virtual core back to the host for a long while.)
            std::this_thread::yield();
            now = epoch_.load(std::memory_order_acquire);
        }
        if (now == seen) {
            sleepers_.fetch_add(1);
            epoch_.wait(seen);
            sleepers_.fetch_sub(1);
            now = epoch_.load(std::memory_order_acquire);
        }
        seen = now;
        if (quit_.load()) return;
        size_t begin, end;
        shareOf(count_, size_t(index), shares_, begin, end);
        universe_.runPass(order_, size_t(index), begin, end);
        remaining_.fetch_sub(1, std::memory_order_release);
    }
}

void Universe::SignalPool::run(Pass order, size_t count) {
    order_ = order;
    count_ = count;
    remaining_.store(int32_t(helpers_.size()), std::memory_order_relaxed);
    epoch_.fetch_add(1);  // publishes the job
    if (sleepers_.load() != 0) epoch_.notify_all();
    size_t begin, end;
    shareOf(count, 0, shares_, begin, end);
    universe_.runPass(order, 0, begin, end);
    while (remaining_.load(std::memory_order_acquire) != 0) std::this_thread::yield();
}

namespace {
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
        // pass needs only their list flags, for the wake enlists.
        const UniverseBlock* b = list[i + kNeighboursAhead];
        for (const UniverseBlock* n : b->neighbour)
            if (n) {
                if (neighbours) {
                    prefetchLine(n->cells.outputs);
                    prefetchLine(n->cells.outputs + 11);
                } else {
                    prefetchLine(&n->listFlags);
                }
            }
    }
}

// The keyed walk (which follows only the storage-order pass) also needs
// the list position beside the mask.
template <bool WithPosition>
inline void keepSignalWake(UniverseBlock* b) {
    b->listFlags |= evaluateSignals(b) << kSignalWakeShift | (WithPosition ? b->listPos() << kListPosShift : 0);
}

// Wake keys: candidate `index` of the block at list index `pos` has key
// pos * 8 + index, in wakeIntoFlat's order; a block joins the next list at
// its smallest key. For the neighbour in direction d, the face of that
// neighbour's mask that points back, and its candidate index.
struct WakeFaceTable {
    uint32_t bit[6];
    uint32_t index[6];
    constexpr WakeFaceTable() : bit{}, index{} {
        constexpr uint32_t faceBit[6] = {1, 4, 2, 8, 16, 32};
        constexpr uint32_t candidate[6] = {5, 6, 1, 0, 4, 2};
        for (int d = 0; d < 6; ++d) {
            bit[d] = faceBit[directionTable.opposite[d]] << kSignalWakeShift;
            index[d] = candidate[directionTable.opposite[d]];
        }
    }
};
constexpr WakeFaceTable wakeFaces{};
constexpr uint32_t kSelfCandidate = 3;
constexpr size_t kKeysAhead = 8;
// Stands in for a missing neighbour: on no list, so it wakes nothing.
const UniverseBlock noNeighbour{};

inline UniverseBlock* blockIn(const std::unique_ptr<UniverseBlock[]>* chunks, size_t k) {
    return chunks[k / Universe::kChunkBlocks].get() + k % Universe::kChunkBlocks;
}

// The key pass over a share of storage: each block's smallest waking key
// (kNoKey when nothing wakes it), and the key's bit.
struct KeyJob {
    const std::unique_ptr<UniverseBlock[]>* chunks;
    Universe::Span span;
    uint32_t* keys;
    uint64_t* bits;
    size_t spare;  // the bit word unwoken blocks write to
    size_t woken;
};

// Without branches on the masks, which follow the signals: a candidate
// that does not wake is or-ed up to kNoKey. The position bits shifted down
// to bit 3 are position * 8.
inline uint32_t wakeCandidate(uint32_t flags, uint32_t bit, uint32_t index) {
    return ((flags >> (kListPosShift - 3)) & ~7u) | index | (uint32_t((flags & bit) == 0) * Universe::kNoKey);
}

void keyShare(KeyJob& j) {
    size_t woken = 0;
    for (size_t k = j.span.begin; k < j.span.end; ++k) {
        const UniverseBlock* c = blockIn(j.chunks, k);
        // Neighbours may lie anywhere in storage: fetch the flags of those
        // of a block a few steps ahead.
        if (k + kKeysAhead < j.span.end)
            for (const UniverseBlock* n : blockIn(j.chunks, k + kKeysAhead)->neighbour)
                if (n) prefetchLine(&n->listFlags);
        uint32_t key = wakeCandidate(c->listFlags, kWakeSelf << kSignalWakeShift, kSelfCandidate);
        for (int d = 0; d < 6; ++d) {
            const UniverseBlock* n = c->neighbour[d] ? c->neighbour[d] : &noNeighbour;
            key = std::min(key, wakeCandidate(n->listFlags, wakeFaces.bit[d], wakeFaces.index[d]));
        }
        j.keys[k] = key;
        // Unwoken blocks set their bit in the spare word at the end.
        const bool found = key != Universe::kNoKey;
        j.bits[found ? key >> 6 : j.spare] |= uint64_t(found) << (key & 63);
        woken += found;
    }
    j.woken = woken;
}

// The rank pass: each share merges every share's key bits, then gives
// each of its woken blocks its place on the next list (the keys before its
// own) and the flags the ordered walk would have left.
struct RankJob {
    const Universe::ShareState* shares;
    size_t shareCount, words;
    uint64_t* merged;
    uint32_t* below;
    const uint32_t* keys;
    UniverseBlock** next;
    const std::unique_ptr<UniverseBlock[]>* chunks;
    Universe::Span span;
};

template <bool Committed>
__attribute__((always_inline)) inline void rankBody(const RankJob& j) {
    uint32_t run = 0;
    for (size_t w = 0; w < j.words; ++w) {
        uint64_t m = 0;
        for (size_t s = 0; s < j.shareCount; ++s) m |= j.shares[s].keys[w];
        j.merged[w] = m;
        j.below[w] = run;
        run += uint32_t(__builtin_popcountll(m));
    }
    for (size_t k = j.span.begin; k < j.span.end; ++k) {
        UniverseBlock* b = blockIn(j.chunks, k);
        const uint32_t f = b->listFlags, key = j.keys[k];
        if (f == 0 && key == Universe::kNoKey) continue;
        // The walk would have put each listed block on the commit list
        // (which was empty) in list order, and dropped its phase bits;
        // with the whole generation, the commit of such a block is the
        // copy of its signals (nothing reads them any more in this
        // phase), and the next list is current at once.
        uint32_t g = f;
        if (f & OnCurrent) {
            g = f & ~(uint32_t(OnCurrent) | kPhaseBits);
            if (Committed)
                std::memcpy(b->cells.outputs, b->cells.nextOutputs, sizeof b->cells.outputs);
            else
                g |= OnCommit;
        }
        if (key != Universe::kNoKey) {
            const size_t w = key >> 6;
            const uint32_t pos =
                j.below[w] + uint32_t(__builtin_popcountll(j.merged[w] & ((uint64_t(1) << (key & 63)) - 1)));
            b->setListPos(pos);
            j.next[pos] = b;
            g |= Committed ? OnCurrent : OnNext;
        }
        if (g != f) b->listFlags = g;
    }
}

// Built twice: with the processor's population count where it has one
// (chosen once), and portably.
using RankPass = void (*)(const RankJob&);
template <bool Committed>
void rankPortable(const RankJob& j) {
    rankBody<Committed>(j);
}
#if defined(__x86_64__) || defined(__i386__)
template <bool Committed>
__attribute__((target("popcnt"))) void rankPopcount(const RankJob& j) {
    rankBody<Committed>(j);
}
const bool hasPopcount = __builtin_cpu_supports("popcnt");
const RankPass rankShare[2] = {hasPopcount ? rankPopcount<false> : rankPortable<false>,
                               hasPopcount ? rankPopcount<true> : rankPortable<true>};
#else
const RankPass rankShare[2] = {rankPortable<false>, rankPortable<true>};
#endif
}  // namespace

// Visits a share's stored blocks in storage order, free ones included
// (their flags are 0 and they have no neighbours).
template <class F>
inline void Universe::forSpan(const Span& span, F&& f) {
    for (size_t k = span.begin; k < span.end;) {
        UniverseBlock* chunk = chunks_[k / kChunkBlocks].get();
        const size_t stop = std::min(span.end, (k / kChunkBlocks + 1) * kChunkBlocks);
        for (; k < stop; ++k) f(k, chunk + k % kChunkBlocks);
    }
}

// Runs a storage-order pass on every thread, over the spatial shares when
// they describe the blocks as they are.
void Universe::runStored(Pass pass, size_t stored) {
    usePartition_ = partitionCurrent();
    pool_->run(pass, stored);
    usePartition_ = false;
}

// Moves every block to new storage in spatial order (slices across the
// universe's longest axis, then the next longest), so that storage ranges
// are compact pieces of space: the threads' shares then share few
// neighbours, and a block's neighbours lie near it in memory. Storage
// order is seen by nothing but the storage-order passes, which give the
// same results in any order; every pointer to a block is rewritten (there
// are none outside the universe between generations). Free blocks are
// left behind.
void Universe::relocateSpatially() {
    std::vector<UniverseBlock*> live;
    live.reserve(blockCount_);
    forEachBlock([&](UniverseBlock* b) { live.push_back(b); });
    if (live.empty()) return;
    int64_t lo[3] = {INT64_MAX, INT64_MAX, INT64_MAX}, hi[3] = {INT64_MIN, INT64_MIN, INT64_MIN};
    auto coord = [](const UniverseBlock* b, int a) {
        return a == 0 ? int64_t(b->originX) / 2 : a == 1 ? int64_t(b->originY) / 2 : int64_t(b->originZ) / 3;
    };
    for (const UniverseBlock* b : live)
        for (int a = 0; a < 3; ++a) {
            lo[a] = std::min(lo[a], coord(b, a));
            hi[a] = std::max(hi[a], coord(b, a));
        }
    int axes[3] = {0, 1, 2};
    std::sort(axes, axes + 3, [&](int a, int b) { return hi[a] - lo[a] > hi[b] - lo[b]; });
    std::sort(live.begin(), live.end(), [&](const UniverseBlock* a, const UniverseBlock* b) {
        for (int i = 0; i < 3; ++i)
            if (coord(a, axes[i]) != coord(b, axes[i])) return coord(a, axes[i]) < coord(b, axes[i]);
        return false;
    });
    const size_t n = live.size(), chunkCount = (n + kChunkBlocks - 1) / kChunkBlocks;
    std::vector<std::unique_ptr<UniverseBlock[]>> fresh;
    fresh.reserve(chunkCount);
    for (size_t c = 0; c < chunkCount; ++c) fresh.push_back(std::make_unique<UniverseBlock[]>(kChunkBlocks));
    // The new index rides in the old block's scratch field (which holds
    // its list position between generations: kept aside), and the old
    // blocks go away.
    std::vector<int32_t> positions(n);
    for (size_t i = 0; i < n; ++i) {
        positions[i] = live[i]->scratch;
        live[i]->scratch = int32_t(i);
    }
    auto moved = [&](UniverseBlock* old) -> UniverseBlock* {
        return old ? fresh[size_t(old->scratch) / kChunkBlocks].get() + size_t(old->scratch) % kChunkBlocks : nullptr;
    };
    for (size_t i = 0; i < n; ++i) {
        UniverseBlock* to = fresh[i / kChunkBlocks].get() + i % kChunkBlocks;
        UniverseBlock* from = live[i];
        *to = std::move(*from);
        to->scratch = positions[i];
        to->chainNext = moved(from->chainNext);
        for (int d = 0; d < 6; ++d) to->neighbour[d] = moved(from->neighbour[d]);
    }
    for (uint32_t i = 0; i < kBuckets; ++i) {
        bucketHead_[i] = moved(bucketHead_[i]);
        bucketTail_[i] = moved(bucketTail_[i]);
    }
    for (std::vector<UniverseBlock*>* list : {current_, next_, &moveList_, &commitList_, &scratchOwners_})
        for (UniverseBlock*& b : *list) b = moved(b);
    // The table keeps its tags; the new addresses may need them dropped.
    bool fits = true;
    for (const auto& chunk : fresh)
        fits = fits && (reinterpret_cast<uintptr_t>(chunk.get() + kChunkBlocks) >> kTagShift) == 0;
    for (TableEntry& e : table_) {
        UniverseBlock* old = entryBlock(e);
        if (!old) continue;
        const uintptr_t p = reinterpret_cast<uintptr_t>(moved(old));
        e.word = tagged_ && fits ? (e.word & ~kAddressBits) | p : p;
    }
    if (!fits) tagged_ = false;
    chunks_ = std::move(fresh);
    freeBlocks_ = nullptr;
    UniverseBlock* last = chunks_.back().get();
    for (size_t i = kChunkBlocks; i-- > n - (chunkCount - 1) * kChunkBlocks;) {
        last[i].chainNext = freeBlocks_;
        freeBlocks_ = last + i;
    }
    ++blockEpoch_;
    ++relocations;
}

// Chooses the cuts when they are out of date and may be rechosen. The
// number of neighbour pairs straddling each possible cut comes from one
// walk over the pairs (a difference array over storage indices).
void Universe::preparePartition() {
    if (!pool_ || partitionCurrent()) return;
    // A universe that keeps making blocks (movers) would move its storage
    // again and again for little: wait until creation has paused.
    if (partitionBuilt_ && (generation - partitionGeneration_ < kPartitionGap || generation - lastCreation_ < kPartitionGap))
        return;
    relocateSpatially();
    const size_t stored = chunks_.size() * kChunkBlocks;
    // Storage index of a block: its chunk, found by address.
    std::vector<std::pair<const UniverseBlock*, size_t>> bases;
    for (size_t c = 0; c < chunks_.size(); ++c) bases.emplace_back(chunks_[c].get(), c);
    std::sort(bases.begin(), bases.end());
    auto indexOf = [&](const UniverseBlock* b) {
        auto it = std::upper_bound(bases.begin(), bases.end(), std::make_pair(b, ~size_t(0))) - 1;
        return it->second * kChunkBlocks + size_t(b - it->first);
    };
    std::vector<int64_t> straddling(stored + 1, 0);
    std::vector<size_t> listedBefore(stored + 1, 0);
    for (size_t k = 0; k < stored; ++k) {
        const UniverseBlock* b = blockAtStorage(k);
        listedBefore[k + 1] = listedBefore[k] + ((b->listFlags & OnCurrent) != 0);
        for (const UniverseBlock* n : b->neighbour) {
            if (!n) continue;
            const size_t j = indexOf(n);
            if (j > k) {  // the pair straddles every cut in (k, j]
                ++straddling[k + 1];
                --straddling[j + 1];
            }
        }
    }
    for (size_t k = 1; k <= stored; ++k) straddling[k] += straddling[k - 1];
    const size_t shares = shareState_.size(), listed = listedBefore[stored];
    shareCuts_.assign(shares + 1, 0);
    shareCuts_[shares] = stored;
    size_t from = 0;
    for (size_t t = 1; t < shares; ++t) {
        // Among the cuts that give this share between 90% and 110% of an
        // even share of the listed blocks, the one fewest pairs straddle.
        const size_t even = listed * t / shares, slack = listed / shares / 10;
        size_t best = from, bestCount = ~size_t(0);
        for (size_t k = from; k <= stored; ++k) {
            if (listedBefore[k] + slack < even) continue;
            if (listedBefore[k] > even + slack) break;
            if (size_t(straddling[k]) < bestCount) {
                bestCount = size_t(straddling[k]);
                best = k;
            }
        }
        shareCuts_[t] = from = best;
    }
    partitionBuilt_ = true;
    partitionEpoch_ = blockEpoch_;
    partitionGeneration_ = generation;
}

void Universe::runPass(Pass pass, size_t share, size_t begin, size_t end) {
    ShareState& mine = shareState_[share];
    switch (pass) {
    case Pass::Commits: {
        UniverseBlock* const* list = commitList_.data();
        for (size_t i = begin; i < end; ++i) {
            UniverseBlock* b = list[i];
            if (i + 4 < end) prefetchLine(list[i + 4]->cells.outputs);
            if (b->scratch >= 0) continue;
            std::memcpy(b->cells.outputs, b->cells.nextOutputs, sizeof b->cells.outputs);
            b->listFlags &= ~uint32_t(OnCommit);
        }
        return;
    }
    case Pass::ListSignals: {
        // (The keyed walk follows only the storage-order pass, so this
        // one needs neither positions nor the ordered-cell check.)
        const std::vector<UniverseBlock*>& list = *current_;
        for (size_t i = begin; i < end; ++i) {
            prefetchAhead(list, i, true);
            keepSignalWake<false>(list[i]);
        }
        return;
    }
    case Pass::StorageSignals: {
        unsigned ordered = 0;
        forSpan(spanOf(share, begin, end), [&](size_t, UniverseBlock* b) {
            if (b->listFlags & OnCurrent) {
                keepSignalWake<true>(b);
                ordered |= b->orderedCells;
            }
        });
        mine.ordered = ordered;
        return;
    }
    case Pass::WakeKeys: {
        // Reads the masks and list positions that the signal pass left on
        // this block and its neighbours; writes only this share's keys.
        std::fill(mine.keys.begin(), mine.keys.end(), 0);
        KeyJob job{chunks_.data(), spanOf(share, begin, end), wakeKey_.data(), mine.keys.data(), keyWords_, 0};
        keyShare(job);
        mine.woken = job.woken;
        return;
    }
    case Pass::WakeRanks:
    case Pass::WakeRanksCommitted: {
        // Every share builds the union of the key bits for itself (a few
        // words per listed block), so that no pass waits for another.
        const size_t words = keyWords_;
        mine.merged.resize(words);
        mine.below.resize(words);
        const RankJob job{shareState_.data(), shareState_.size(), words, mine.merged.data(), mine.below.data(),
                          wakeKey_.data(),    next_->data(),      chunks_.data(), spanOf(share, begin, end)};
        rankShare[pass == Pass::WakeRanksCommitted](job);
        return;
    }
    case Pass::StorageCommits:
        forSpan(spanOf(share, begin, end), [](size_t, UniverseBlock* b) {
            if (b->listFlags & OnCommit) {
                std::memcpy(b->cells.outputs, b->cells.nextOutputs, sizeof b->cells.outputs);
                b->listFlags &= ~uint32_t(OnCommit);
            }
        });
        return;
    case Pass::Promote:
        forSpan(spanOf(share, begin, end), [](size_t, UniverseBlock* b) {
            const uint32_t f = b->listFlags;
            if (f & OnNext) b->listFlags = (f | OnCurrent) & ~uint32_t(OnNext);
        });
        return;
    }
}

// The next list without the ordered walk, when the walk would only have
// enlisted: the signal pass (in storage order) has left every listed
// block's wake mask, no listed block has an ordered cell, and the next,
// commit and move lists are empty, so that the walk's appends are exactly
// the commit list in list order and the next list in key order. False
// (with nothing changed but the masks) when that does not hold.
bool Universe::keyedWalk(bool wholeGeneration) {
    for (const ShareState& s : shareState_)
        if (s.ordered) return false;
    std::vector<UniverseBlock*>& cur = *current_;
    const size_t listed = cur.size();
    if (!next_->empty() || !commitList_.empty() || !moveList_.empty() || !scratchOwners_.empty() ||
        listed >= kKeyedListLimit)
        return false;
    const size_t stored = chunks_.size() * kChunkBlocks;
    wakeKey_.resize(stored);
    keyWords_ = (listed * 8 + 63) / 64;
    for (ShareState& s : shareState_) s.keys.resize(keyWords_ + 1);
    runStored(Pass::WakeKeys, stored);
    size_t woken = 0;
    for (const ShareState& s : shareState_) woken += s.woken;
    next_->resize(woken);
    const Pass ranks = wholeGeneration ? Pass::WakeRanksCommitted : Pass::WakeRanks;
    runStored(ranks, stored);
    // (With the whole generation, the commit list is filled and emptied
    // within the pass.)
    if (!wholeGeneration) commitList_.assign(cur.begin(), cur.end());
    activeBlockCount = int32_t(listed);
    cur.clear();
    positionedNext_ = woken;
    ++keyedWalks;
    return true;
}


// ---------------------------------------------------------------- phase 1

void Universe::stepGeneration() {
    if (evaluate(true)) {
        // Phases 2 to 4 were done by the keyed walk: nothing moves, the
        // commit and the flags are done.
        moveList_.clear();
        moveRequests_.clear();
        endGeneration();
        return;
    }
    movePhase();
    commitPhase();
    finishGeneration();
}

void Universe::evaluatePhase() { evaluate(false); }

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
    const size_t stored = chunks_.size() * kChunkBlocks;
    bool passed = false;
    if (listed > 0 && listed >= signalPassMinimum) {
        const bool dense = storageOrderAlways || listed * 3 >= stored;
        const bool shared = pool_ && listed >= signalPassMinimum * size_t(threads_);
        if (dense && pool_) {
            preparePartition();  // (may move the blocks to fresh storage)
            runStored(Pass::StorageSignals, chunks_.size() * kChunkBlocks);
            if (keyedWalk(wholeGeneration)) return wholeGeneration;
        } else if (dense) {
            runPass(Pass::StorageSignals, 0, 0, stored);
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
        if (!(b->listFlags & OnCommit)) {
            commitList_.push_back(b);
            b->listFlags |= OnCommit;
        }
        unsigned mask = i < ahead ? (b->listFlags >> kSignalWakeShift) & 127 : evaluateSignals(b);
        // No rule changes a part type or frame in this phase, so the ordered
        // set can be read once.
        if (b->orderedCells) {
            flush();
            unsigned ruled = 0;
            for (unsigned occ = b->orderedCells; occ; occ &= occ - 1) {
                const int s = __builtin_ctz(occ);
                if (applyRule(b, s)) ruled |= wakeBits.bits[s];
            }
            if (ruled) mask |= (ruled & presentFaces(b)) | kWakeSelf;
        }
        b->listFlags &= ~(uint32_t(OnCurrent) | kPhaseBits);
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

void Universe::movePhase() {
    for (size_t i = 0; i < moveList_.size(); ++i) {
        UniverseBlock* b = moveList_[i];
        bool turned = false;
        if (b->scratch >= 0) {
            for (int s = 0; s < 12; ++s) {
                Scratch& sc = scratch_[b->scratch];
                const int32_t r = sc.moveRequest[s];
                if (r >= 0 && !moveRequests_[r].blocked) {
                    UniverseBlock* sb = sc.sourceBlock[s];
                    const int ss = sc.sourceSlot[s];
                    bool carried = false;
                    if (sb->scratch >= 0) {
                        const int32_t sr = scratch_[sb->scratch].moveRequest[ss];
                        carried = sr >= 0 && moveRequests_[sr].direction == moveRequests_[r].direction;
                    }
                    if (carried) {
                        b->setField(s, WInFront, sb->front(ss));
                        b->setField(s, WInSide, sb->side(ss));
                        b->setField(s, WInUp, sb->up(ss));
                        sc.incomingType[s] = sb->partType(ss);
                        sc.incomingRegion[s] = sb->region(ss);
                        sc.incomingTerminalBinding[s] = sb->terminalBinding(ss);
                        sc.incomingNextOutputs[s] = sb->cells[ss].nextOutputs;
                        sc.incomingBonds[s] = sb->cells[ss].bonds;
                    } else {
                        sc.incomingType[s] = 0;
                        sc.incomingBonds[s] = 0;
                        sc.incomingNextOutputs[s] = 0;
                        sc.incomingRegion[s] = nullptr;
                        sc.incomingTerminalBinding[s] = nullptr;
                    }
                }
                if (sc.rotatePending[s]) {
                    const int axis = sc.rotateAxis[s];
                    CellCore c = b->cells[s];
                    c.nextOutputs = turnMask(axis, c.nextOutputs);
                    b->setField(s, WFront, turnDirection(axis, b->front(s)));
                    b->setField(s, WSide, turnDirection(axis, b->side(s)));
                    b->setField(s, WUp, turnDirection(axis, b->up(s)));
                    turned = true;
                }
            }
        }
        b->listFlags &= ~uint32_t(OnMove);
        if (turned) wakeBlocks(b, 63, WakeTarget::Next);
    }
    moveList_.clear();
}

void Universe::commitPhase() {
    // With helpers, the blocks without moves or turns are committed first,
    // in parallel: their commit only copies their own signals, and clearing
    // their flag early changes nothing that outlives this phase (a relink
    // below may put such a block on the list again, and committing it twice
    // copies the same signals twice).
    const size_t stored = chunks_.size() * kChunkBlocks;
    const bool many = pool_ && commitList_.size() >= signalPassMinimum * size_t(threads_);
    // With no claims or turns at all, every commit is that copy, in any
    // order: done in storage order, the threads keep to their own blocks.
    if (many && scratchOwners_.empty() && (storageOrderAlways || commitList_.size() * 3 >= stored)) {
        runStored(Pass::StorageCommits, stored);
        commitList_.clear();
        scratchUsed_ = 0;
        return;
    }
    const size_t copied = many ? commitList_.size() : 0;
    if (copied) pool_->run(Pass::Commits, copied);
    for (size_t i = 0; i < commitList_.size(); ++i) {
        UniverseBlock* b = commitList_[i];
        if (i < copied && b->scratch < 0) continue;
        bool moved = false;
        if (b->scratch >= 0) {
            for (int s = 0; s < 12; ++s) {
                Scratch& sc = scratch_[b->scratch];
                const int32_t r = sc.moveRequest[s];
                // The claim and a pending turn end here: a block that relinking
                // puts back on the commit list later in this walk commits
                // signals only.
                sc.moveRequest[s] = -1;
                sc.rotatePending[s] = 0;
                if (r >= 0 && !moveRequests_[r].blocked) {
                    CellCore c = b->cells[s];
                    c.nextOutputs = sc.incomingNextOutputs[s];
                    b->setRegion(s, sc.incomingRegion[s]);
                    c.bonds = sc.incomingBonds[s];
                    StimulusChannel* binding = sc.incomingTerminalBinding[s];
                    b->setTerminalBinding(s, binding);
                    if (binding && moveTerminal && moveTerminal(binding, moveRequests_[r].direction)) {
                        trackedMoved = 1;
                        trackedDirection = moveRequests_[r].direction;
                    }
                    b->setPart(s, sc.incomingType[s], c.inFront != kEscape ? c.inFront : b->field(s, WInFront),
                               c.inSide != kEscape ? c.inSide : b->field(s, WInSide),
                               c.inUp != kEscape ? c.inUp : b->field(s, WInUp));
                    linkCell(CellRef{b, s});
                    moved = true;
                }
                b->cells[s].outputs = b->cells[s].nextOutputs;
            }
        } else {
            std::memcpy(b->cells.outputs, b->cells.nextOutputs, sizeof b->cells.outputs);
        }
        b->listFlags &= ~uint32_t(OnCommit);
        if (moved) wakeBlocks(b, 63, WakeTarget::Next);
    }
    commitList_.clear();
    // Claims and pending turns end with the commit.
    for (UniverseBlock* b : scratchOwners_) b->scratch = -1;
    scratchOwners_.clear();
    scratchUsed_ = 0;
}

void Universe::finishGeneration() {
    moveRequests_.clear();
    // The next list becomes current; its blocks learn their positions,
    // unless the keyed walk wrote them and nothing was appended since.
    std::vector<UniverseBlock*>& next = *next_;
    const size_t stored = chunks_.size() * kChunkBlocks;
    if (pool_ && next.size() == positionedNext_ && (storageOrderAlways || next.size() * 3 >= stored)) {
        runStored(Pass::Promote, stored);
    } else {
        for (size_t i = 0; i < next.size(); ++i) {
            UniverseBlock* b = next[i];
            b->listFlags = (b->listFlags | OnCurrent) & ~uint32_t(OnNext);
            b->setListPos(uint32_t(i));
        }
    }
    endGeneration();
}

// The end of every generation: the next list becomes current.
void Universe::endGeneration() {
    positionedNext_ = ~size_t(0);
    ++generation;
    std::swap(current_, next_);
    next_->clear();
    inputPulse = 0;
    if (generation % kCleanUpPeriod == 0) cleanUp();
    // A load puts every block on every list once; give that storage back
    // when the lists have shrunk well below it (with enough hysteresis that
    // a steady workload never reallocates).
    auto trim = [](std::vector<UniverseBlock*>& list, size_t peak) {
        if (list.capacity() > 4096 && peak * 8 < list.capacity()) {
            std::vector<UniverseBlock*> smaller;
            smaller.reserve(peak * 2);
            smaller.assign(list.begin(), list.end());
            list.swap(smaller);
        }
    };
    const size_t active = current_->size();
    trim(*current_, active);
    trim(*next_, active);
    trim(moveList_, active);
    trim(commitList_, active);
}

// ---------------------------------------------------------------- debug check

std::string Universe::verifyConsistency() const {
    std::ostringstream err;
    size_t chained = 0;
    // Flag counts per list bit, gathered in the one walk over the buckets
    // (the fuzzers call this after every generation).
    size_t flagged[16] = {};
    for (uint32_t i = 0; i < kBuckets; ++i) {
        const UniverseBlock* last = nullptr;
        for (const UniverseBlock* b = bucketHead_[i]; b; b = b->chainNext) {
            ++chained;
            last = b;
            for (uint32_t bit = 1; bit <= 8; bit <<= 1) flagged[bit] += (b->listFlags & bit) != 0;
            if (b->listFlags & ~uint32_t(OnNext | OnCommit | OnMove | OnCurrent))
                err << "phase-1 bits left in the list flags\n";
            int32_t bx = floorDiv(b->originX, 2), by = floorDiv(b->originY, 2), bz = floorDiv(b->originZ, 3);
            if (bucketOf(bx, by, bz) != i) err << "block " << b->originX << "," << b->originY << "," << b->originZ << " in wrong bucket\n";
            if (findBlock(b->originX, b->originY, b->originZ) != b) err << "block not found through the table\n";
            for (int d = 0; d < 6; ++d) {
                const UniverseBlock* n = findBlock(b->originX + 2 * directionTable.dx[d], b->originY + 2 * directionTable.dy[d],
                                                   b->originZ + 3 * directionTable.dz[d]);
                if (b->neighbour[d] != n) err << "neighbour pointer " << d << " stale\n";
            }
            if (b->scratch >= 0) err << "scratch left between generations\n";
            {
                UniverseBlock fresh;
                fresh.cells = b->cells;
                fresh.classifyAll();
                if (fresh.occupied != b->occupied) err << "occupied set stale\n";
                if (fresh.conductorCells != b->conductorCells || fresh.norCells != b->norCells ||
                    fresh.orderedCells != b->orderedCells)
                    err << "rule classes stale at block " << b->originX << "," << b->originY << "," << b->originZ
                        << "\n";
            }
            for (int s = 0; s < 12; ++s) {
                const CellCore c = b->cells[s];
                if (c.type != 0 && !inCoordinateRange(b->cellX(s), b->cellY(s), b->cellZ(s)))
                    err << "part beyond the coordinate edge at " << b->cellX(s) << "," << b->cellY(s) << ","
                        << b->cellZ(s) << "\n";
                for (int d = 0; d < 6; ++d) {
                    if (!(c.links & (1u << d))) continue;
                    const NeighbourSlot& ns = neighbourSlots.at[s][d];
                    const UniverseBlock* nb = ns.sameBlock ? b : b->neighbour[d];
                    if (!nb)
                        err << "link to a missing block\n";
                    else if (!(nb->cells[ns.slot].links & (1u << directionTable.opposite[d])))
                        err << "one-sided link at " << b->cellX(s) << "," << b->cellY(s) << "," << b->cellZ(s) << " dir " << d << "\n";
                }
            }
        }
        if (bucketTail_[i] != last) err << "bucket tail stale\n";
    }
    if (chained != blockCount_) err << "block count " << blockCount_ << " but " << chained << " chained\n";
    auto checkList = [&](const std::vector<UniverseBlock*>& list, uint32_t flag, const char* name) {
        if (flagged[flag] != list.size())
            err << name << " list holds " << list.size() << " but " << flagged[flag] << " flagged\n";
        for (const UniverseBlock* b : list)
            if (!(b->listFlags & flag)) err << name << " list member without flag\n";
    };
    checkList(*current_, OnCurrent, "current");
    for (size_t i = 0; i < current_->size(); ++i)
        if ((*current_)[i]->listPos() != i) {
            err << "list position " << (*current_)[i]->listPos() << " stale at current index " << i << "\n";
            break;
        }
    checkList(*next_, OnNext, "next");
    checkList(moveList_, OnMove, "move");
    checkList(commitList_, OnCommit, "commit");
    return err.str();
}
