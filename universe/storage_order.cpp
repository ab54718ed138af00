// Spatial storage order and the threads' shares of storage.
//
// Storage order is seen by nothing but the storage-order passes, so the
// blocks may be moved at will. They are moved so that a thread's share is
// a compact piece of space: a neighbour owned by another thread means a
// cache line moving between the cores every pass. Moving is a serial walk
// over the whole universe on the calling thread, so it is done only when
// the cuts are out of date and block creation has paused (the rules are in
// universe.h).
#include <algorithm>

#include "universe/universe.h"
#include "universe/universe_internal.h"

using namespace universe_detail;

// Moves every block to new storage in spatial order (slices across the
// universe's longest axis, then the next longest), so that storage ranges
// are compact pieces of space: the threads' shares then share few
// neighbours, and a block's neighbours lie near it in memory. Storage
// order is seen by nothing but the storage-order passes, which give the
// same results in any order; every pointer to a block is rewritten (there
// are none outside the universe between generations). Free blocks are
// left behind.
void Universe::relocateSpatially() {
    sweepEverything();  // the notes name blocks where they were
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
    std::vector<Chunk> fresh;
    fresh.reserve(chunkCount);
    for (size_t c = 0; c < chunkCount; ++c) fresh.push_back(newChunk());
    // The new index rides in the old block's scratch field (which holds
    // its list position between generations: kept aside), and the old
    // blocks go away.
    std::vector<int32_t> positions(n);
    for (size_t i = 0; i < n; ++i) {
        positions[i] = live[i]->scratch;
        live[i]->scratch = int32_t(i);
    }
    auto moved = [&](UniverseBlock* old) -> UniverseBlock* {
        return old ? storageBlock(fresh.data(), size_t(old->scratch)) : nullptr;
    };
    for (size_t i = 0; i < n; ++i) {
        UniverseBlock* to = storageBlock(fresh.data(), i);
        UniverseBlock* from = live[i];
        *to = std::move(*from);
        chainSeq(to) = chainSeq(from);
        huskSides(to) = huskSides(from);
        to->scratch = positions[i];
        to->chainNext = moved(from->chainNext);
        for (int d = 0; d < 6; ++d) to->neighbour[d] = moved(from->neighbour[d]);
    }
    for (uint32_t i = 0; i < kBuckets; ++i) {
        bucketHead_[i] = moved(bucketHead_[i]);
        bucketEnd_[i].tail = moved(bucketEnd_[i].tail);
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
    ++layoutEpoch_;
}

// Chooses the cuts when they are out of date and may be rechosen. The
// number of neighbour pairs straddling each possible cut comes from one
// walk over the pairs (a difference array over storage indices).
void Universe::preparePartition() {
    if (!pool_) return;
    if (partitionCurrent()) {
        balanceCuts();
        return;
    }
    // A universe that keeps making blocks (movers) would move its storage
    // again and again for little: wait until creation has paused.
    if (partitionBuilt_ && (generation - partitionGeneration_ < kPartitionGap || generation - lastCreation_ < kPartitionGap))
        return;
    relocateSpatially();
    const size_t stored = storedBlocks();
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
        const UniverseBlock* b = storageBlock(chunks_.data(), k);
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
    partitionGeneration_ = balanceGeneration_ = generation;
    for (ShareState& share : shareState_) share.busyNs = 0;
}

// Moves the cuts so that the shares' times (measured over the last
// kBalanceGap generations or more) come out even, taking each share's time
// as spread evenly over its storage, and going halfway there: a share that
// was slow because its core was busy elsewhere moves the cuts back in the
// next round. The cuts change only which thread walks which blocks.
void Universe::balanceCuts() {
    if (generation - balanceGeneration_ < kBalanceGap) return;
    const size_t n = shareState_.size();
    std::vector<double> busy(n);
    double total = 0, longest = 0, shortest = 1e300;
    for (size_t k = 0; k < n; ++k) {
        busy[k] = double(shareState_[k].busyNs);
        total += busy[k];
        longest = std::max(longest, busy[k]);
        shortest = std::min(shortest, busy[k]);
    }
    if (total < kBalanceMinNs && !scrambleCuts) return;  // keep measuring
    balanceGeneration_ = generation;
    for (ShareState& share : shareState_) share.busyNs = 0;
    std::vector<size_t> cuts = shareCuts_;
    if (scrambleCuts) {
        for (size_t t = 1; t < n; ++t) {
            scrambleCuts = scrambleCuts * 6364136223846793005ull + 1442695040888963407ull;
            cuts[t] = size_t((scrambleCuts >> 33) % (shareCuts_[n] + 1));
        }
        std::sort(cuts.begin(), cuts.end());
        shareCuts_ = std::move(cuts);
        ++cutMoves;
        return;
    }
    if (longest <= shortest * 1.04) return;
    size_t k = 0;
    double before = 0;  // time of the shares before share k
    for (size_t t = 1; t < n; ++t) {
        const double target = total * double(t) / double(n);
        while (k + 1 < n && before + busy[k] < target) before += busy[k++];
        const double width = double(shareCuts_[k + 1] - shareCuts_[k]);
        const double within = busy[k] > 0 ? std::min(1.0, (target - before) / busy[k]) : 0.5;
        const double even = double(shareCuts_[k]) + within * width;
        const double halfway = (double(shareCuts_[t]) + even) / 2;
        cuts[t] = std::clamp(size_t(halfway), cuts[t - 1], shareCuts_[n]);
    }
    shareCuts_ = std::move(cuts);
    ++cutMoves;
}
