// The compact store of emptied blocks (husks.h).
#include "universe/husks.h"

#include <cstring>
#include <sstream>

bool HuskStore::add(int32_t bx, int32_t by, int32_t bz, uint32_t seq, const CellColumns& cells) {
    if (!fits(bx, by, bz) || seq >= kSeqLimit) return false;
    if (used_ >= kRecordLimit) {
        if (live_ * 2 > used_) return false;  // mostly live: no room to win back
        squeeze();
    }
    const uint32_t content = intern(cells);
    if (content == kContentLimit) return false;
    if ((live_ + 1) * 4 > index_.size() * 3) grow();
    if (used_ % kChunkRecords == 0 && used_ / kChunkRecords == chunks_.size())
        chunks_.push_back(std::make_unique<Record[]>(kChunkRecords));
    const uint64_t key = pack(bx, by, bz);
    const uint32_t rec = used_++;
    recordAt(rec).set(key, seq, content);
    if (regions_.empty()) regions_.assign(kRegionBits / 64, 0);
    const uint64_t region = regionBit(bx, by, bz);
    regions_[region >> 6] |= uint64_t(1) << (region & 63);
    const uint64_t h = hashOf(key);
    size_t i = homeOf(h);
    while (index_[i]) i = (i + 1) & mask_;
    index_[i] = tagOf(h) | (rec + 1);
    ++live_;
    return true;
}

uint32_t HuskStore::intern(const CellColumns& cells) {
    if (contentSlots_.empty()) contentSlots_.assign(2 * kContentLimit, -1);
    uint64_t words[sizeof cells / 8 + 1] = {};
    std::memcpy(words, &cells, sizeof cells);
    uint64_t h = 0;
    for (uint64_t w : words) h = (h ^ w) * 0x9E3779B97F4A7C15ull;
    const size_t mask = contentSlots_.size() - 1;
    for (size_t i = size_t(h >> 40) & mask;; i = (i + 1) & mask) {
        const int32_t id = contentSlots_[i];
        if (id < 0) {
            if (contents_.size() >= kContentLimit) return kContentLimit;
            contentSlots_[i] = int32_t(contents_.size());
            contents_.push_back(cells);
            return uint32_t(contents_.size() - 1);
        }
        if (std::memcmp(&contents_[size_t(id)], &cells, sizeof cells) == 0) return uint32_t(id);
    }
}

int64_t HuskStore::find(int32_t bx, int32_t by, int32_t bz) const {
    if (!live_ || !fits(bx, by, bz) || !mayHold(bx, by, bz)) return -1;
    const uint64_t key = pack(bx, by, bz);
    const uint64_t h = hashOf(key);
    const uint32_t tag = tagOf(h);
    for (size_t i = homeOf(h);; i = (i + 1) & mask_) {
        const uint32_t e = index_[i];
        if (!e) return -1;
        if ((e & 0xFF000000u) == tag && recordAt((e & 0xFFFFFFu) - 1).key() == key) return int64_t((e & 0xFFFFFFu) - 1);
    }
}

void HuskStore::take(int64_t rec, uint32_t& seq, CellColumns& cells) {
    Record& r = recordAt(uint32_t(rec));
    seq = r.seq();
    cells = contents_[r.content()];
    size_t i = homeOf(hashOf(r.key()));
    while ((index_[i] & 0xFFFFFFu) != uint32_t(rec) + 1) i = (i + 1) & mask_;
    r.kill();
    --live_;
    index_[i] = 0;
    // Backward-shift deletion keeps every probe run unbroken.
    size_t j = i;
    for (;;) {
        j = (j + 1) & mask_;
        const uint32_t e = index_[j];
        if (!e) break;
        const size_t home = homeOf(hashOf(recordAt((e & 0xFFFFFFu) - 1).key()));
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
    live_ = 0;
    std::vector<uint32_t>().swap(index_);
    mask_ = 0;
    contents_.clear();
    contents_.shrink_to_fit();
    std::vector<int32_t>().swap(contentSlots_);
    std::vector<uint64_t>().swap(regions_);
}

size_t HuskStore::bytes() const {
    return chunks_.size() * kChunkRecords * sizeof(Record) + index_.capacity() * sizeof(uint32_t) +
           contents_.capacity() * sizeof(CellColumns) + contentSlots_.capacity() * sizeof(int32_t) +
           regions_.size() * sizeof(uint64_t);
}

void HuskStore::grow() { rebuildIndex(index_.empty() ? 1024 : index_.size() * 2); }

void HuskStore::rebuildIndex(size_t slots) {
    // The old index goes first, so that growing never holds both.
    std::vector<uint32_t>().swap(index_);
    index_.assign(slots, 0);
    mask_ = slots - 1;
    for (uint32_t rec = 0; rec < used_; ++rec) {
        const Record& r = recordAt(rec);
        if (r.dead()) continue;
        const uint64_t h = hashOf(r.key());
        size_t i = homeOf(h);
        while (index_[i]) i = (i + 1) & mask_;
        index_[i] = tagOf(h) | (rec + 1);
    }
}

void HuskStore::squeeze() {
    uint32_t to = 0;
    for (uint32_t rec = 0; rec < used_; ++rec) {
        const Record r = recordAt(rec);
        if (!r.dead()) recordAt(to++) = r;
    }
    used_ = to;
    chunks_.resize((size_t(used_) + kChunkRecords - 1) / kChunkRecords);
    rebuildIndex(index_.size());
}

std::vector<HuskStore::Entry> HuskStore::entries() const {
    std::vector<Entry> out;
    out.reserve(live_);
    for (uint32_t rec = 0; rec < used_; ++rec) {
        const Record& r = recordAt(rec);
        if (r.dead()) continue;
        Entry e{};
        unpack(r.key(), e.bx, e.by, e.bz);
        e.seq = r.seq();
        e.record = rec;
        out.push_back(e);
    }
    return out;
}

std::string HuskStore::verify() const {
    std::ostringstream err;
    size_t indexed = 0;
    for (size_t i = 0; i < index_.size(); ++i) {
        const uint32_t e = index_[i];
        if (!e) continue;
        ++indexed;
        const uint32_t rec = (e & 0xFFFFFFu) - 1;
        if (rec >= used_ || recordAt(rec).dead()) {
            err << "husk index entry names a dead record\n";
            continue;
        }
        int32_t bx, by, bz;
        unpack(recordAt(rec).key(), bx, by, bz);
        if (find(bx, by, bz) != int64_t(rec)) err << "husk " << bx << "," << by << "," << bz << " not found\n";
        if (recordAt(rec).content() >= contents_.size()) err << "husk content id out of range\n";
    }
    if (indexed != live_) err << "husk index holds " << indexed << " but " << live_ << " husks are live\n";
    return err.str();
}
