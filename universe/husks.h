// Husks: blocks that machines left empty, kept in a compact form.
//
// Why
//   A moving machine leaves a trail of empty blocks that nothing refers to
//   again until the periodic clean-up removes them, and a crowd of movers
//   makes hundreds of them a generation. They cannot simply be dropped: a
//   block keeps its place in its bucket chain (the order of saving and of
//   checkpoints), its empty cells keep the frames, links and bonds the
//   parts left behind, and a part that comes back finds the old block, not
//   a new one at the end of the chain. A husk keeps exactly that: where the
//   block is, its place in the chain and its cells, in a few bytes instead
//   of a 224-byte block and a table entry.
//
// Layout
//   Trails are solid: the husks come in runs and slabs, not alone. So the
//   store keeps bricks of 2 x 2 x 2 block places, 40 bytes each: the
//   brick's coordinates packed into 63 bits (the top bit marks a free
//   brick) and, for each of its eight places, a word with the husk's chain
//   sequence number (23 bits) and the id of its cell columns (9 bits), or
//   kNone. Cell columns are interned (a trail holds a few dozen distinct
//   contents). A moving crowd fills three quarters of its bricks, which
//   makes about 8 bytes a husk, index included; a lone husk costs a whole
//   brick. Bricks sit in fixed chunks (no copy when the store grows), taken
//   from the blocks' own large-page memory, and a brick emptied by take()
//   goes on a free list. The index is open addressing over 32-bit entries:
//   the brick number plus one in the low 24 bits and an 8-bit tag of the
//   hash above, so that a probe reads a brick only when the tags agree.
//
//   A husk's record number is its brick number times eight plus its place
//   in the brick; it stays valid until the husk is taken.
//
// Limits
//   Coordinates beyond +-2^20 blocks, more than 2^24 - 2 bricks, a chain
//   sequence number from 2^23 - 1 or more than 512 distinct contents are
//   refused: add() returns false and the block simply stays a full block.
//   Nothing depends on a block being a husk.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "universe/block.h"
#include "universe/chunk_slabs.h"

class HuskStore {
public:
    static bool fits(int32_t bx, int32_t by, int32_t bz) {
        return inRange(bx) && inRange(by) && inRange(bz);
    }

    // Stores the husk of the block at (bx, by, bz); false when the store
    // cannot take it (see Limits). The block must not be stored already.
    bool add(int32_t bx, int32_t by, int32_t bz, uint32_t seq, const CellColumns& cells);
    // Whether add() would take this husk now (for the debug check).
    bool wouldTake(int32_t bx, int32_t by, int32_t bz, uint32_t seq, const CellColumns& cells) const;
    // The record of the husk at (bx, by, bz), or -1.
    int64_t find(int32_t bx, int32_t by, int32_t bz) const;
    bool contains(int32_t bx, int32_t by, int32_t bz) const { return live_ && find(bx, by, bz) >= 0; }
    // False when no husk was ever stored near (bx, by, bz) since the last
    // clear(): one bit per region of 8 x 8 x 8 blocks (hashed), so that the
    // lookups around every new block, nearly all of them in fresh space,
    // mostly end without touching the index.
    bool mayHold(int32_t bx, int32_t by, int32_t bz) const {
        if (regions_.empty()) return false;
        const uint64_t r = regionBit(bx, by, bz);
        return (regions_[r >> 6] >> (r & 63)) & 1;
    }
    // Removes the husk of record `rec` (from find), handing back its chain
    // sequence number and cells.
    void take(int64_t rec, uint32_t& seq, CellColumns& cells);

    size_t size() const { return live_; }
    bool empty() const { return live_ == 0; }
    void clear();
    size_t bytes() const;

    struct Entry {
        int32_t bx, by, bz;
        uint32_t seq;
        uint32_t record;
    };
    // Every husk, in no particular order.
    std::vector<Entry> entries() const;
    template <class F>
    void forEach(F&& f) const {  // f(bx, by, bz, seq, record)
        for (uint32_t i = 0; i < used_; ++i) {
            const Brick& b = brickAt(i);
            if (b.free()) continue;
            for (uint32_t place = 0; place < 8; ++place) {
                if (b.meta[place] == kNone) continue;
                int32_t bx, by, bz;
                coordsOf(i * 8 + place, bx, by, bz);
                f(bx, by, bz, b.meta[place] & (kSeqLimit - 1), i * 8 + place);
            }
        }
    }
    void coordsOf(uint32_t record, int32_t& bx, int32_t& by, int32_t& bz) const {
        unpack(brickAt(record / 8).key(), bx, by, bz);
        const uint32_t place = record % 8;
        bx = bx * 2 + int32_t(place & 1);
        by = by * 2 + int32_t(place >> 1 & 1);
        bz = bz * 2 + int32_t(place >> 2);
    }
    const CellColumns& cellsOf(uint32_t record) const {
        return contents_[brickAt(record / 8).meta[record % 8] >> 23];
    }

    // Debug check: the index, the bricks and the free list agree; empty
    // when they do.
    std::string verify() const;

private:
    static constexpr int32_t kCoordBias = 1 << 20;
    static bool inRange(int32_t v) { return v >= -kCoordBias && v < kCoordBias; }
    static constexpr uint32_t kBrickLimit = (1u << 24) - 2;
    static constexpr uint32_t kSeqLimit = 1u << 23;
    static constexpr uint32_t kContentLimit = 512;
    static constexpr uint32_t kNone = 0xFFFFFFFFu;  // seq 2^23 - 1 is refused, so no husk has it
    // Bricks come in chunks of the universe's block memory (chunk_slabs.h):
    // large pages, as a trail's bricks are read at random.
    static constexpr size_t kChunkBytes = size_t(1) << 17;
    // Words rather than a 64-bit field, so that a brick is 40 bytes.
    struct Brick {
        uint32_t keyLow, keyHigh;  // packed brick coordinates; bit 63: free (keyLow: next free)
        uint32_t meta[8];          // seq | content << 23, or kNone
        uint64_t key() const { return uint64_t(keyHigh) << 32 | keyLow; }
        bool free() const { return keyHigh >> 31; }
    };
    static_assert(sizeof(Brick) == 40);
    static constexpr size_t kChunkBricks = kChunkBytes / sizeof(Brick);
    struct ChunkFree {
        void operator()(Brick* p) const { chunk_slabs::give(p); }
    };
    static uint32_t placeOf(int32_t bx, int32_t by, int32_t bz) {
        return uint32_t(bx & 1) | uint32_t(by & 1) << 1 | uint32_t(bz & 1) << 2;
    }
    static uint64_t pack(int32_t bx, int32_t by, int32_t bz) {
        return uint64_t(uint32_t(bx + kCoordBias)) << 42 | uint64_t(uint32_t(by + kCoordBias)) << 21 |
               uint64_t(uint32_t(bz + kCoordBias));
    }
    static void unpack(uint64_t key, int32_t& bx, int32_t& by, int32_t& bz) {
        const uint64_t m = (uint64_t(1) << 21) - 1;
        bx = int32_t(key >> 42 & m) - kCoordBias;
        by = int32_t(key >> 21 & m) - kCoordBias;
        bz = int32_t(key & m) - kCoordBias;
    }
    // The key of the brick holding block (bx, by, bz): arithmetic shifts,
    // so that the bricks tile negative coordinates too.
    static uint64_t brickKey(int32_t bx, int32_t by, int32_t bz) { return pack(bx >> 1, by >> 1, bz >> 1); }
    static uint64_t hashOf(uint64_t key) {
        uint64_t h = key * 0x9E3779B97F4A7C15ull;
        h ^= h >> 31;
        h *= 0xBF58476D1CE4E5B9ull;
        h ^= h >> 29;
        return h;
    }
    size_t homeOf(uint64_t h) const { return size_t(h >> 8) & mask_; }
    static uint32_t tagOf(uint64_t h) { return uint32_t(h & 0xFF) << 24; }
    Brick& brickAt(uint32_t i) { return chunks_[i / kChunkBricks][i % kChunkBricks]; }
    const Brick& brickAt(uint32_t i) const { return chunks_[i / kChunkBricks][i % kChunkBricks]; }
    // The brick with this key, or -1.
    int64_t findBrick(uint64_t key) const;
    void grow();
    void rebuildIndex(size_t slots);

    std::vector<std::unique_ptr<Brick[], ChunkFree>> chunks_;
    uint32_t used_ = 0;            // bricks written, free ones included
    uint32_t freeHead_ = kNone;    // a free brick, linked through keyLow
    size_t liveBricks_ = 0;
    size_t live_ = 0;              // husks
    // Over the live bricks. A crowd of movers doubles it every few sweeps,
    // each time into fresh memory: large pages spare a fault per 4 KiB.
    std::vector<uint32_t, chunk_slabs::LargePages<uint32_t>> index_;
    size_t mask_ = 0;
    static constexpr size_t kRegionBits = size_t(1) << 21;
    static uint64_t regionBit(int32_t bx, int32_t by, int32_t bz) {
        return hashOf(pack(bx >> 3, by >> 3, bz >> 3)) >> (64 - 21);
    }
    std::vector<uint64_t> regions_;  // allocated with the first husk
    // Interned cell columns: ids by a hash of the bytes (open addressing,
    // at most half full), compared in full.
    uint32_t intern(const CellColumns& cells);
    // The id of these cell columns, or -1 when they are not interned.
    int32_t internedId(const CellColumns& cells, uint64_t& hash) const;
    std::vector<CellColumns> contents_;
    std::vector<int32_t> contentSlots_;
};
