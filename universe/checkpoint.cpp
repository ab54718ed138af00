// Universe snapshots; see checkpoint.h for what is kept and why.
#include "universe/checkpoint.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "universe/byte_codec.h"
#include "universe/universe.h"
#include "universe/universe_internal.h"

namespace {

constexpr uint8_t kHasRegions = 1, kHasBindings = 2, kHasWide = 4;
// Version 2: the block's cell columns are those of an earlier block,
// named by the index of their first appearance.
constexpr uint8_t kSameCells = 8;
// Smallest encoded block: coordinates, flags, the cell columns, the extras
// byte; in version 2 the columns may be a 4-byte reference.
constexpr size_t kMinBlockBytes[3] = {0, 3 * 4 + 4 + sizeof(CellColumns) + 1, 3 * 4 + 4 + 1 + 4};
// Version 2 names at most this many distinct column sets (the first ones
// met); later ones are always written out, so that a reader's index stays
// small whatever the universe.
constexpr uint32_t kMaxCellContents = 1u << 16;
constexpr size_t kMinRegionBytes = 4 + 4 + 2;

// Blocks lie within +-2^30 cells in every axis. That holds far more than
// a grid can fill (+-10^9) and leaves room for moves to step well beyond
// without any coordinate arithmetic leaving 32 bits.
constexpr int64_t kCellLimit = int64_t(1) << 30;
bool blockInRange(int32_t bx, int32_t by, int32_t bz) {
    auto fits = [](int32_t b, int64_t edge) { return int64_t(b) * edge >= -kCellLimit && (int64_t(b) + 1) * edge - 1 <= kCellLimit; };
    return fits(bx, 2) && fits(by, 2) && fits(bz, 3);
}

}  // namespace

bool UniverseCheckpoint::write(const Universe& u, const std::vector<const StimulusChannel*>& channels,
                               std::string& out, std::string& error, uint32_t version) {
    if (version < kOldestVersion || version > kVersion) {
        error = "universe record version " + std::to_string(version) + " cannot be written";
        return false;
    }
    ByteWriter w{out};
    w.u32(version);
    w.u32(u.generation);
    w.i32(u.drawnCellCount);
    for (int32_t v : u.lastMoveTarget) w.i32(v);
    w.i32(u.activeBlockCount);
    w.u8(u.trackedMoved);
    w.i32(u.trackedDirection);
    w.u8(u.inputPulse.load());

    std::unordered_map<const RegionEntry*, uint32_t> regionIndex;
    regionIndex.reserve(u.regions_.size());
    w.u32(uint32_t(u.regions_.size()));
    for (const auto& r : u.regions_) {
        const uint32_t index = uint32_t(regionIndex.size());
        w.u32(uint32_t(r->path.size()));
        w.bytes(r->path.data(), r->path.size());
        int32_t parent = -1;
        if (r->parent) {
            auto it = regionIndex.find(r->parent);
            if (it == regionIndex.end()) {
                error = "region '" + r->path + "' has a parent that is not an earlier region";
                return false;
            }
            parent = int32_t(it->second);
        }
        w.i32(parent);
        w.u8(r->visible);
        w.u8(r->ticked);
        regionIndex.emplace(r.get(), index);
    }
    std::unordered_map<const StimulusChannel*, uint32_t> channelIndex;
    channelIndex.reserve(channels.size());
    for (size_t i = 0; i < channels.size(); ++i) channelIndex.emplace(channels[i], uint32_t(i));

    // Only listed blocks are named again (by the lists below); a husk is
    // never listed, and the block it is handed over as is a temporary.
    std::unordered_map<const UniverseBlock*, uint32_t> blockIndex;
    blockIndex.reserve(u.current_->size() + u.next_->size() + u.moveList_.size() + u.commitList_.size());
    w.u64(u.blockCount());
    bool ok = true;
    uint32_t written = 0;
    // Version 2 writes each distinct set of cell columns once: the blocks a
    // moving machine leaves empty (millions before a clean-up) share a few
    // dozen.
    // (By the hash of the columns: where they were written, and their index.)
    struct Literal {
        size_t offset;
        uint32_t index;
    };
    std::unordered_multimap<size_t, Literal> contents;
    uint32_t literals = 0;
    u.forEachStoredBlock([&](const UniverseBlock* b) {
        if (!ok) return;
        const uint32_t index = written++;
        if (b->listFlags) blockIndex.emplace(b, index);
        int32_t bx, by, bz;
        universe_detail::blockCoords(b, bx, by, bz);
        if (!blockInRange(bx, by, bz)) {
            error = "parts lie beyond the coordinate range a checkpoint holds (+-2^30)";
            ok = false;
            return;
        }
        w.i32(bx);
        w.i32(by);
        w.i32(bz);
        w.u32(b->listFlags);
        uint8_t mask = 0;
        if (const BlockExtras* x = b->extras.get()) {
            for (int s = 0; s < 12; ++s) {
                if (x->region[s]) mask |= kHasRegions;
                if (x->binding[s]) mask |= kHasBindings;
            }
            if (x->wide) mask |= kHasWide;
        }
        if (version == 1) {
            b->cells.forEachColumn([&](const uint8_t* column) { w.bytes(column, 12); });
            w.u8(mask);
        } else {
            char cells[sizeof(CellColumns)];
            size_t at = 0;
            b->cells.forEachColumn([&](const uint8_t* column) {
                std::memcpy(cells + at, column, 12);
                at += 12;
            });
            const std::string_view key(cells, sizeof cells);
            const size_t hash = std::hash<std::string_view>{}(key);
            uint32_t same = ~0u;
            for (auto [it, end] = contents.equal_range(hash); it != end && same == ~0u; ++it)
                if (key == std::string_view(out.data() + it->second.offset, sizeof cells)) same = it->second.index;
            if (same != ~0u) {
                w.u8(mask | kSameCells);
                w.u32(same);
            } else {
                w.u8(mask);
                if (literals < kMaxCellContents) contents.emplace(hash, Literal{out.size(), literals++});
                w.bytes(cells, sizeof cells);
            }
        }
        if (mask & kHasRegions)
            for (const RegionEntry* r : b->extras->region) {
                uint32_t ref = 0;
                if (r) {
                    auto it = regionIndex.find(r);
                    if (it == regionIndex.end()) {
                        error = "a cell refers to a region the universe does not own";
                        ok = false;
                        return;
                    }
                    ref = it->second + 1;
                }
                w.u32(ref);
            }
        if (mask & kHasBindings)
            for (const StimulusChannel* c : b->extras->binding) {
                uint32_t ref = 0;
                if (c) {
                    auto it = channelIndex.find(c);
                    if (it == channelIndex.end()) {
                        error = "a cell is bound to a stimulus channel that is not loaded";
                        ok = false;
                        return;
                    }
                    ref = it->second + 1;
                }
                w.u32(ref);
            }
        if (mask & kHasWide)
            for (int i = 0; i < 12 * WCount; ++i) w.i32(b->extras->wide[i]);
    });
    if (!ok) return false;
    const std::vector<UniverseBlock*>* lists[4] = {u.current_, u.next_, &u.moveList_, &u.commitList_};
    for (const std::vector<UniverseBlock*>* list : lists) {
        w.u64(list->size());
        for (const UniverseBlock* b : *list) {
            auto it = blockIndex.find(b);
            if (it == blockIndex.end()) {
                error = "a list holds a block that is not chained";
                return false;
            }
            w.u32(it->second);
        }
    }
    return true;
}

bool UniverseCheckpoint::read(Universe& target, std::string_view bytes, const std::vector<StimulusChannel*>& channels,
                              std::string& error, size_t* consumed) {
    std::unique_ptr<Universe> fresh = load(bytes, channels, error, consumed);
    if (!fresh) return false;
    exchange(target, *fresh);
    return true;
}

std::unique_ptr<Universe> UniverseCheckpoint::load(std::string_view bytes,
                                                   const std::vector<StimulusChannel*>& channels, std::string& error,
                                                   size_t* consumed, bool keepBlocksFull) {
    ByteReader r{reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()};
    const uint32_t version = r.u32();
    if (r.failed) {
        error = "the universe record is cut off";
        return nullptr;
    }
    if (version < kOldestVersion || version > kVersion) {
        error = "universe record version " + std::to_string(version) + ", this program reads versions " +
                std::to_string(kOldestVersion) + " to " + std::to_string(kVersion);
        return nullptr;
    }
    auto fresh = std::make_unique<Universe>();
    Universe& u = *fresh;
    u.generation = r.u32();
    u.drawnCellCount = r.i32();
    for (int32_t& v : u.lastMoveTarget) v = r.i32();
    u.activeBlockCount = r.i32();
    u.trackedMoved = r.u8();
    u.trackedDirection = r.i32();
    u.inputPulse = r.u8();
    auto cutOff = [&]() -> std::unique_ptr<Universe> {
        error = "the universe record is cut off";
        return nullptr;
    };
    if (r.failed) return cutOff();

    const uint32_t regionCount = r.u32();
    if (r.failed) return cutOff();
    if (regionCount > r.left / kMinRegionBytes) return cutOff();
    u.regions_.reserve(regionCount);
    for (uint32_t i = 0; i < regionCount; ++i) {
        const uint32_t len = r.u32();
        if (!r.take(len)) return cutOff();
        auto entry = std::make_unique<RegionEntry>();
        entry->path.assign(reinterpret_cast<const char*>(r.p), len);
        r.p += len;
        r.left -= len;
        const int32_t parent = r.i32();
        entry->visible = r.u8();
        entry->ticked = r.u8();
        if (r.failed) return cutOff();
        if (parent < -1 || parent >= int32_t(i)) {
            error = "region " + std::to_string(i) + " names parent " + std::to_string(parent) +
                    ", which is not an earlier region";
            return nullptr;
        }
        entry->parent = parent < 0 ? nullptr : u.regions_[size_t(parent)].get();
        u.regions_.push_back(std::move(entry));
    }

    const uint64_t blockCount = r.u64();
    if (r.failed) return cutOff();
    if (blockCount > r.left / kMinBlockBytes[version]) return cutOff();

    // One block record, checked; its columns stay in the input.
    struct Record {
        int32_t bx, by, bz;
        uint32_t flags;
        const unsigned char* cells;
        std::unique_ptr<BlockExtras> extras;
        // Nothing lists it, it holds no part and has no extras: what a
        // husk may be made of.
        bool dormant() const {
            if (flags || extras) return false;
            for (int s = 0; s < 12; ++s)
                if (cells[s]) return false;  // (the type column comes first)
            return true;
        }
    };
    // Version 2: where each named set of cell columns lies in the input.
    std::vector<const unsigned char*> contents;
    auto readBlock = [&](uint64_t i, Record& rec) -> bool {
        rec.bx = r.i32();
        rec.by = r.i32();
        rec.bz = r.i32();
        rec.flags = r.u32();
        rec.extras.reset();
        if (r.failed) return false;
        if (!blockInRange(rec.bx, rec.by, rec.bz)) {
            error = "block " + std::to_string(i) + " lies outside the coordinate range";
            return false;
        }
        if (rec.flags & ~universe_detail::kAllListFlags) {
            error = "block " + std::to_string(i) + " has unknown list flags";
            return false;
        }
        uint8_t mask = 0;
        if (version == 1) {
            if (!r.take(sizeof(CellColumns))) return false;
            rec.cells = r.p;
            r.p += sizeof(CellColumns);
            r.left -= sizeof(CellColumns);
            mask = r.u8();
        } else {
            mask = r.u8();
            if (mask & kSameCells) {
                const uint32_t index = r.u32();
                if (r.failed) return false;
                if (index >= contents.size()) {
                    error = "block " + std::to_string(i) + " names cell contents " + std::to_string(index) +
                            ", of which only " + std::to_string(contents.size()) + " came before";
                    return false;
                }
                rec.cells = contents[index];
            } else {
                if (!r.take(sizeof(CellColumns))) return false;
                rec.cells = r.p;
                r.p += sizeof(CellColumns);
                r.left -= sizeof(CellColumns);
                if (contents.size() < kMaxCellContents) contents.push_back(rec.cells);
            }
            mask &= uint8_t(~kSameCells);
        }
        if (r.failed) return false;
        if (mask & ~(kHasRegions | kHasBindings | kHasWide)) {
            error = "block " + std::to_string(i) + " has unknown extras";
            return false;
        }
        if (mask) rec.extras = std::make_unique<BlockExtras>();
        if (mask & kHasRegions)
            for (auto& ref : rec.extras->region) {
                const uint32_t v = r.u32();
                if (r.failed) return false;
                if (v > u.regions_.size()) {
                    error = "a cell refers to region " + std::to_string(v - 1) + " of " +
                            std::to_string(u.regions_.size());
                    return false;
                }
                ref = v ? u.regions_[v - 1].get() : nullptr;
            }
        if (mask & kHasBindings)
            for (auto& ref : rec.extras->binding) {
                const uint32_t v = r.u32();
                if (r.failed) return false;
                if (v > channels.size()) {
                    error = "a cell is bound to stimulus channel " + std::to_string(v - 1) + " of " +
                            std::to_string(channels.size());
                    return false;
                }
                ref = v ? channels[v - 1] : nullptr;
            }
        if (mask & kHasWide) {
            if (!r.take(size_t(12 * WCount) * 4)) return false;
            rec.extras->wide = std::make_unique<int32_t[]>(12 * WCount);
            for (int k = 0; k < 12 * WCount; ++k) rec.extras->wide[k] = r.i32();
        }
        return true;
    };
    auto failed = [&]() -> std::unique_ptr<Universe> {
        if (error.empty()) error = "the universe record is cut off";
        return nullptr;
    };

    // The blocks are read twice. The first reading finds the blocks that
    // are not dormant; the second makes a dormant block whose neighbours
    // are all dormant (or absent) a husk at once, as the sweep would, and
    // every other block a full one. A checkpoint of a moving crowd holds
    // millions of such blocks, which would otherwise all be built in full
    // first.
    error.clear();
    const ByteReader blocksStart = r;
    std::vector<std::array<int32_t, 3>> awake;
    Record rec;
    for (uint64_t i = 0; i < blockCount; ++i) {
        if (!readBlock(i, rec)) return failed();
        if (!rec.dormant()) awake.push_back({rec.bx, rec.by, rec.bz});
    }
    std::sort(awake.begin(), awake.end());
    auto awakeAt = [&](int32_t bx, int32_t by, int32_t bz) {
        return std::binary_search(awake.begin(), awake.end(), std::array<int32_t, 3>{bx, by, bz});
    };
    r = blocksStart;
    contents.clear();
    // The blocks by record index; a husk has none.
    std::vector<UniverseBlock*> blocks;
    blocks.reserve(size_t(blockCount));
    for (uint64_t i = 0; i < blockCount; ++i) {
        if (!readBlock(i, rec)) return failed();
        const int32_t bx = rec.bx, by = rec.by, bz = rec.bz;
        if (u.tableBlock(u.tableIndex(bx, by, bz)) || u.husks_.contains(bx, by, bz)) {
            error = "block " + std::to_string(i) + " appears twice";
            return nullptr;
        }
        const uint32_t bucket = Universe::bucketOf(bx, by, bz);
        const uint32_t seq = u.bucketEnd_[bucket].seq++;
        bool husk = !keepBlocksFull && rec.dormant();
        for (int d = 0; d < 6 && husk; ++d)
            husk = !awakeAt(bx + directionTable.dx[d], by + directionTable.dy[d], bz + directionTable.dz[d]);
        if (husk) {
            CellColumns cells;
            const unsigned char* from = rec.cells;
            cells.forEachColumn([&](uint8_t* column) {
                std::memcpy(column, from, 12);
                from += 12;
            });
            if (u.husks_.add(bx, by, bz, seq, cells)) {
                blocks.push_back(nullptr);
                continue;
            }
        }
        UniverseBlock* b = u.allocBlock();
        b->originX = bx * 2;
        b->originY = by * 2;
        b->originZ = bz * 3;
        b->listFlags = rec.flags;
        b->scratch = -1;
        b->chainNext = nullptr;
        for (auto& n : b->neighbour) n = nullptr;
        const unsigned char* from = rec.cells;
        b->cells.forEachColumn([&](uint8_t* column) {
            std::memcpy(column, from, 12);
            from += 12;
        });
        b->extras = std::move(rec.extras);
        Universe::chainSeq(b) = seq;
        // Chain it at once, so a failure below still leaves a universe the
        // destructor (and nobody else) sees.
        if (u.bucketEnd_[bucket].tail)
            u.bucketEnd_[bucket].tail->chainNext = b;
        else
            u.bucketHead_[bucket] = b;
        u.bucketEnd_[bucket].tail = b;
        u.tableInsert(b);
        ++u.blockCount_;
        blocks.push_back(b);
    }

    // Lists: each member exactly once and exactly the blocks flagged for it.
    std::vector<uint8_t> seen(blocks.size(), 0);
    const uint32_t listFlag[4] = {OnCurrent, OnNext, OnMove, OnCommit};
    std::vector<UniverseBlock*>* lists[4] = {u.current_, u.next_, &u.moveList_, &u.commitList_};
    static const char* const listName[4] = {"current", "next", "move", "commit"};
    for (int k = 0; k < 4; ++k) {
        const uint64_t n = r.u64();
        if (r.failed) return cutOff();
        if (n > blocks.size() || n > r.left / 4) {
            error = std::string("the ") + listName[k] + " list is longer than the universe";
            return nullptr;
        }
        lists[k]->reserve(size_t(n));
        for (uint64_t j = 0; j < n; ++j) {
            const uint32_t index = r.u32();
            if (r.failed) return cutOff();
            if (index >= blocks.size() || !blocks[index] || (seen[index] & listFlag[k]) ||
                !(blocks[index]->listFlags & listFlag[k])) {
                error = std::string("the ") + listName[k] + " list does not match the block flags";
                return nullptr;
            }
            seen[index] = uint8_t(seen[index] | listFlag[k]);
            lists[k]->push_back(blocks[index]);
        }
    }
    for (size_t i = 0; i < blocks.size(); ++i)
        if (seen[i] != (blocks[i] ? blocks[i]->listFlags : 0)) {
            error = "block " + std::to_string(i) + " is flagged for a list it is not on";
            return nullptr;
        }

    u.rebuildCaches();
    const std::string problem = u.verifyConsistency();
    if (!problem.empty()) {
        error = "the universe record is inconsistent: " + problem.substr(0, problem.find('\n'));
        return nullptr;
    }
    if (consumed) *consumed = bytes.size() - r.left;
    return fresh;
}

void UniverseCheckpoint::exchange(Universe& a, Universe& b) {
    using std::swap;
    // Each side's notes name the other side's blocks from here on.
    a.sweepEverything();
    b.sweepEverything();
    swap(a.generation, b.generation);
    swap(a.drawnCellCount, b.drawnCellCount);
    swap(a.lastMoveTarget, b.lastMoveTarget);
    swap(a.activeBlockCount, b.activeBlockCount);
    swap(a.walked_, b.walked_);
    swap(a.orderedWalked_, b.orderedWalked_);
    swap(a.trackedMoved, b.trackedMoved);
    swap(a.trackedDirection, b.trackedDirection);
    a.inputPulse = b.inputPulse.exchange(a.inputPulse.load());

    swap(a.bucketHead_, b.bucketHead_);
    swap(a.bucketEnd_, b.bucketEnd_);
    swap(a.table_, b.table_);
    swap(a.tableMask_, b.tableMask_);
    swap(a.blockCount_, b.blockCount_);
    swap(a.husks_, b.husks_);
    // current_ and next_ point into the universe's own pair of lists.
    const int aCurrent = a.current_ == &a.lists_[0] ? 0 : 1;
    const int bCurrent = b.current_ == &b.lists_[0] ? 0 : 1;
    swap(a.lists_[0], b.lists_[0]);
    swap(a.lists_[1], b.lists_[1]);
    a.current_ = &a.lists_[bCurrent];
    a.next_ = &a.lists_[1 - bCurrent];
    b.current_ = &b.lists_[aCurrent];
    b.next_ = &b.lists_[1 - aCurrent];
    swap(a.moveList_, b.moveList_);
    swap(a.commitList_, b.commitList_);
    swap(a.moveRequests_, b.moveRequests_);
    swap(a.scratch_, b.scratch_);
    swap(a.scratchUsed_, b.scratchUsed_);
    swap(a.scratchOwners_, b.scratchOwners_);
    swap(a.queue_, b.queue_);
    swap(a.regions_, b.regions_);
    swap(a.chunks_, b.chunks_);
    a.dropPartition();
    b.dropPartition();
    ++a.layoutEpoch_;
    ++b.layoutEpoch_;
    swap(a.freeBlocks_, b.freeBlocks_);
    // Whether table entries may carry tags depends on where the chunks lie.
    swap(a.tagged_, b.tagged_);
    // What is derived travels with what it is derived from: the table,
    // bucket tails, husks and tags are swapped above, and neighbours, list
    // positions and husk sides live in the blocks. Rebuilding would look up
    // every block's six neighbours again (seconds for the millions of
    // emptied blocks a moving crowd leaves before a clean-up); each side
    // only learns that its blocks changed.
    for (Universe* v : {&a, &b}) {
        v->positionedNext_ = ~size_t(0);
        ++v->blockEpoch_;
    }
}
