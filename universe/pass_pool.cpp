// The helper threads and the passes they share.
//
// A pass is cut into one contiguous share per thread, the caller taking
// the first, and ends when every share is done: no locks, one barrier per
// pass. A pass writes only its own share's blocks, their own entries of
// shared arrays and its per-share state, and what it computes does not
// depend on where the cuts lie, which is why the results are the same for
// every thread count. Between passes helpers yield for a while, then
// sleep; they never spin, since on a virtual machine a pause loop can hand
// the virtual core back to the host for a long while.
//
// The keyed passes exist because the ordered walk is serial: when it would
// do nothing but enlist, its next list is a function of the wake masks
// alone, and that the threads can compute without it.
#include <algorithm>
#include <chrono>
#include <thread>

#include "universe/universe.h"
#include "universe/universe_internal.h"

using namespace universe_detail;

Universe::PassPool::PassPool(Universe& u, int helpers) : universe_(u), shares_(size_t(helpers) + 1) {
    for (int i = 0; i < helpers; ++i) helpers_.emplace_back([this, i] { helperLoop(i + 1); });
}

Universe::PassPool::~PassPool() {
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

void Universe::PassPool::helperLoop(int index) {
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
        universe_.runShare(pass_, size_t(index), begin, end);
        remaining_.fetch_sub(1, std::memory_order_release);
    }
}

void Universe::PassPool::run(Pass pass, size_t count) {
    pass_ = pass;
    count_ = count;
    remaining_.store(int32_t(helpers_.size()), std::memory_order_relaxed);
    epoch_.fetch_add(1);  // publishes the job
    if (sleepers_.load() != 0) epoch_.notify_all();
    size_t begin, end;
    shareOf(count, 0, shares_, begin, end);
    universe_.runShare(pass, 0, begin, end);
    while (remaining_.load(std::memory_order_acquire) != 0) std::this_thread::yield();
}

namespace {
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

// The key pass over a share of storage: each block's smallest waking key
// (kNoKey when nothing wakes it), and the key's bit.
struct KeyJob {
    const Universe::Chunk* chunks;
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
        const UniverseBlock* c = storageBlock(j.chunks, k);
        // Neighbours may lie anywhere in storage: fetch the flags of those
        // of a block a few steps ahead.
        if (k + kKeysAhead < j.span.end)
            for (const UniverseBlock* n : storageBlock(j.chunks, k + kKeysAhead)->neighbour)
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
    const Universe::Chunk* chunks;
    Universe::Span span;
    std::vector<UniverseBlock*>* left;  // blocks that leave their last list empty (Committed)
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
        UniverseBlock* b = storageBlock(j.chunks, k);
        const uint32_t f = b->listFlags, key = j.keys[k];
        if (f == 0 && key == Universe::kNoKey) continue;
        // The walk would have put each listed block on the commit list
        // (which was empty) in list order, and dropped its phase bits;
        // with the whole generation, the commit of such a block is the
        // copy of its signals (nothing reads them any more in this
        // phase), and the next list is current at once.
        uint32_t g = f;
        if (f & OnCurrent) {
            g = leavingCurrent(f);
            if (Committed)
                commitSignals(b);
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
        if (g != f) {
            b->listFlags = g;
            if (Committed && g == 0 && !b->occupied && !b->extras) j.left->push_back(b);
        }
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

void Universe::runShare(Pass pass, size_t share, size_t begin, size_t end) {
    if (!usePartition_) {
        runPass(pass, share, begin, end);
        return;
    }
    const auto t0 = std::chrono::steady_clock::now();
    runPass(pass, share, begin, end);
    shareState_[share].busyNs += uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - t0).count());
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
            commitSignals(b);
            b->listFlags &= ~uint32_t(OnCommit);
            if (dormant(b)) mine.left.push_back(b);
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
                          wakeKey_.data(),    next_->data(),      chunks_.data(), spanOf(share, begin, end), &mine.left};
        rankShare[pass == Pass::WakeRanksCommitted](job);
        return;
    }
    case Pass::StorageCommits:
        forSpan(spanOf(share, begin, end), [&](size_t, UniverseBlock* b) {
            if (b->listFlags & OnCommit) {
                commitSignals(b);
                b->listFlags &= ~uint32_t(OnCommit);
                if (dormant(b)) mine.left.push_back(b);
            }
        });
        return;
    case Pass::Promote:
        forSpan(spanOf(share, begin, end), [](size_t, UniverseBlock* b) {
            const uint32_t f = b->listFlags;
            if (f & OnNext) b->listFlags = promotedFlags(f);
        });
        return;
    }
}

// The next list without the ordered walk, when the walk would only have
// enlisted: the signal pass (in storage order) has left every listed
// block's wake mask, no listed block has an ordered cell, the next, commit
// and move lists are empty and no scratch record is out, so that the
// walk's appends are exactly the commit list in list order and the next
// list in key order; and the list positions fit beside the masks
// (kKeyedListLimit). False (with nothing changed but the masks) when that
// does not hold. (The same rules, with when the pass before runs: Threads
// in universe.h.)
bool Universe::keyedWalk(bool wholeGeneration) {
    for (const ShareState& s : shareState_)
        if (s.ordered) return false;
    std::vector<UniverseBlock*>& cur = *current_;
    const size_t listed = cur.size();
    // (It lists blocks on the helpers, where no husk can be brought back.)
    if (!next_->empty() || !commitList_.empty() || !moveList_.empty() || !scratchOwners_.empty() ||
        listed >= kKeyedListLimit || !husks_.empty())
        return false;
    const size_t stored = storedBlocks();
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
    walked_ = listed;
    orderedWalked_ = 0;
    cur.clear();
    positionedNext_ = woken;
    ++keyedWalks;
    return true;
}
