// The compact store of emptied blocks (husks.h).
#include "universe/husks.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <sstream>

int64_t HuskStore::findBrick(uint64_t key) const {
    const uint64_t h = hashOf(key);
    const uint32_t tag = tagOf(h);
    for (size_t i = homeOf(h);; i = (i + 1) & mask_) {
        const uint32_t e = index_[i];
        if (!e) return -1;
        if ((e & 0xFF000000u) == tag && brickAt((e & 0xFFFFFFu) - 1).key() == key) return int64_t((e & 0xFFFFFFu) - 1);
    }
}

bool HuskStore::add(int32_t bx, int32_t by, int32_t bz, uint32_t seq, const CellColumns& cells) {
    if (!fits(bx, by, bz) || seq >= kSeqLimit - 1) return false;
    const uint64_t key = brickKey(bx, by, bz);
    int64_t found = index_.empty() ? -1 : findBrick(key);
    if (found < 0 && freeHead_ == kNone && used_ >= kBrickLimit) return false;
    const uint32_t content = intern(cells);
    if (content == kContentLimit) return false;
    if (found < 0) {
        if ((liveBricks_ + 1) * 4 > index_.size() * 3) grow();
        uint32_t n;
        if (freeHead_ != kNone) {
            n = freeHead_;
            freeHead_ = brickAt(n).keyLow;
        } else {
            if (used_ % kChunkBricks == 0 && used_ / kChunkBricks == chunks_.size()) {
                void* memory = chunk_slabs::take();
                if (!memory) return false;  // the block stays a full block
                // (Every brick is written before it is read: only bricks below
                // used_ are ever looked at.)
                Brick* bricks = static_cast<Brick*>(memory);
                std::uninitialized_default_construct_n(bricks, kChunkBricks);
                chunks_.emplace_back(bricks);
            }
            n = used_++;
        }
        Brick& b = brickAt(n);
        b.keyLow = uint32_t(key);
        b.keyHigh = uint32_t(key >> 32);
        std::fill(std::begin(b.meta), std::end(b.meta), kNone);
        const uint64_t h = hashOf(key);
        size_t i = homeOf(h);
        while (index_[i]) i = (i + 1) & mask_;
        index_[i] = tagOf(h) | (n + 1);
        ++liveBricks_;
        found = n;
    }
    brickAt(uint32_t(found)).meta[placeOf(bx, by, bz)] = seq | content << 23;
    if (regions_.empty()) regions_.assign(kRegionBits / 64, 0);
    const uint64_t region = regionBit(bx, by, bz);
    regions_[region >> 6] |= uint64_t(1) << (region & 63);
    ++live_;
    return true;
}

// Four independent lanes, so that the multiplications overlap: every husk
// the sweep makes is hashed.
static uint64_t contentHash(const CellColumns& cells) {
    constexpr size_t kWords = (sizeof(CellColumns) + 7) / 8;
    uint64_t words[(kWords + 3) / 4 * 4] = {};
    std::memcpy(words, &cells, sizeof cells);
    constexpr uint64_t k = 0x9E3779B97F4A7C15ull;
    uint64_t lane[4] = {0, 1, 2, 3};
    for (size_t i = 0; i < std::size(words); i += 4)
        for (size_t j = 0; j < 4; ++j) lane[j] = (lane[j] ^ words[i + j]) * k;
    return (((lane[0] * k) ^ lane[1]) * k ^ lane[2]) * k ^ lane[3];
}

int32_t HuskStore::internedId(const CellColumns& cells, uint64_t& h) const {
    h = contentHash(cells);
    if (contentSlots_.empty()) return -1;
    const size_t mask = contentSlots_.size() - 1;
    for (size_t i = size_t(h >> 40) & mask;; i = (i + 1) & mask) {
        const int32_t id = contentSlots_[i];
        if (id < 0) return -1;
        if (std::memcmp(&contents_[size_t(id)], &cells, sizeof cells) == 0) return id;
    }
}

bool HuskStore::wouldTake(int32_t bx, int32_t by, int32_t bz, uint32_t seq, const CellColumns& cells) const {
    if (!fits(bx, by, bz) || seq >= kSeqLimit - 1) return false;
    if ((index_.empty() || findBrick(brickKey(bx, by, bz)) < 0) && freeHead_ == kNone && used_ >= kBrickLimit)
        return false;
    uint64_t hash;
    return internedId(cells, hash) >= 0 || contents_.size() < kContentLimit;
}

uint32_t HuskStore::intern(const CellColumns& cells) {
    if (contentSlots_.empty()) contentSlots_.assign(2 * kContentLimit, -1);
    uint64_t h;
    const int32_t id = internedId(cells, h);
    if (id >= 0) return uint32_t(id);
    if (contents_.size() >= kContentLimit) return kContentLimit;
    const size_t mask = contentSlots_.size() - 1;
    size_t i = size_t(h >> 40) & mask;
    while (contentSlots_[i] >= 0) i = (i + 1) & mask;
    contentSlots_[i] = int32_t(contents_.size());
    contents_.push_back(cells);
    return uint32_t(contents_.size() - 1);
}

int64_t HuskStore::find(int32_t bx, int32_t by, int32_t bz) const {
    if (!live_ || !fits(bx, by, bz) || !mayHold(bx, by, bz)) return -1;
    const int64_t n = findBrick(brickKey(bx, by, bz));
    if (n < 0) return -1;
    const uint32_t place = placeOf(bx, by, bz);
    if (brickAt(uint32_t(n)).meta[place] == kNone) return -1;
    return n * 8 + place;
}

void HuskStore::take(int64_t rec, uint32_t& seq, CellColumns& cells) {
    const uint32_t n = uint32_t(rec / 8);
    Brick& b = brickAt(n);
    uint32_t& meta = b.meta[rec % 8];
    seq = meta & (kSeqLimit - 1);
    cells = contents_[meta >> 23];
    meta = kNone;
    --live_;
    for (uint32_t m : b.meta)
        if (m != kNone) return;
    // The brick is empty: out of the index and onto the free list.
    size_t i = homeOf(hashOf(b.key()));
    while ((index_[i] & 0xFFFFFFu) != n + 1) i = (i + 1) & mask_;
    index_[i] = 0;
    --liveBricks_;
    b.keyHigh = 1u << 31;
    b.keyLow = freeHead_;
    freeHead_ = n;
    // Backward-shift deletion keeps every probe run unbroken.
    size_t j = i;
    for (;;) {
        j = (j + 1) & mask_;
        const uint32_t e = index_[j];
        if (!e) break;
        const size_t home = homeOf(hashOf(brickAt((e & 0xFFFFFFu) - 1).key()));
        const bool between = (i <= j) ? (i < home && home <= j) : (i < home || home <= j);
        if (!between) {
            index_[i] = e;
            index_[j] = 0;
            i = j;
        }
    }
}

void HuskStore::clear() {
    chunks_.clear();
    chunks_.shrink_to_fit();
    used_ = 0;
    freeHead_ = kNone;
    liveBricks_ = 0;
    live_ = 0;
    decltype(index_)().swap(index_);
    mask_ = 0;
    contents_.clear();
    contents_.shrink_to_fit();
    std::vector<int32_t>().swap(contentSlots_);
    std::vector<uint64_t>().swap(regions_);
}

size_t HuskStore::bytes() const {
    return chunks_.size() * kChunkBricks * sizeof(Brick) + index_.capacity() * sizeof(uint32_t) +
           contents_.capacity() * sizeof(CellColumns) + contentSlots_.capacity() * sizeof(int32_t) +
           regions_.size() * sizeof(uint64_t);
}

void HuskStore::grow() { rebuildIndex(index_.empty() ? 1024 : index_.size() * 2); }

void HuskStore::rebuildIndex(size_t slots) {
    // The old index goes first, so that growing never holds both.
    decltype(index_)().swap(index_);
    index_.assign(slots, 0);
    mask_ = slots - 1;
    for (uint32_t n = 0; n < used_; ++n) {
        const Brick& b = brickAt(n);
        if (b.free()) continue;
        const uint64_t h = hashOf(b.key());
        size_t i = homeOf(h);
        while (index_[i]) i = (i + 1) & mask_;
        index_[i] = tagOf(h) | (n + 1);
    }
}

std::vector<HuskStore::Entry> HuskStore::entries() const {
    std::vector<Entry> out;
    out.reserve(live_);
    forEach([&](int32_t bx, int32_t by, int32_t bz, uint32_t seq, uint32_t record) {
        out.push_back(Entry{bx, by, bz, seq, record});
    });
    return out;
}

std::string HuskStore::verify() const {
    std::ostringstream err;
    size_t indexed = 0;
    for (size_t i = 0; i < index_.size(); ++i) {
        const uint32_t e = index_[i];
        if (!e) continue;
        ++indexed;
        const uint32_t n = (e & 0xFFFFFFu) - 1;
        if (n >= used_ || brickAt(n).free()) {
            err << "husk index entry names a free brick\n";
            continue;
        }
        if (findBrick(brickAt(n).key()) != int64_t(n)) err << "husk brick " << n << " not found by its key\n";
    }
    size_t bricks = 0, husks = 0;
    for (uint32_t n = 0; n < used_; ++n) {
        const Brick& b = brickAt(n);
        if (b.free()) continue;
        ++bricks;
        size_t here = 0;
        for (uint32_t m : b.meta) {
            if (m == kNone) continue;
            ++here;
            if ((m >> 23) >= contents_.size()) err << "husk content id out of range\n";
        }
        if (!here) err << "husk brick " << n << " is empty but not free\n";
        husks += here;
    }
    size_t freeBricks = 0;
    for (uint32_t n = freeHead_; n != kNone && freeBricks <= used_; n = brickAt(n).keyLow) {
        if (n >= used_ || !brickAt(n).free()) {
            err << "husk free list names a brick in use\n";
            break;
        }
        ++freeBricks;
    }
    if (indexed != liveBricks_ || bricks != liveBricks_)
        err << "husk index holds " << indexed << " bricks, " << bricks << " are in use, " << liveBricks_
            << " counted\n";
    if (husks != live_) err << "husk bricks hold " << husks << " husks but " << live_ << " are counted\n";
    if (bricks + freeBricks != used_) err << "husk free list holds " << freeBricks << " of " << used_ - bricks << " free bricks\n";
    return err.str();
}
