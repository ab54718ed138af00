// Universe storage: blocks, the bucket chains, the lookup table, lists and
// the cell operations used by loaders and rules alike.
#include "universe/universe.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <ostream>

#include "universe/chunk_slabs.h"
#include "universe/universe_internal.h"

using namespace universe_detail;

// ---------------------------------------------------------------- construction

Universe::Universe()
    : bucketHead_(kBuckets, nullptr),
      bucketEnd_(kBuckets),
      current_(&lists_[0]),
      next_(&lists_[1]) {
    table_.assign(1024, TableEntry{});
    tableMask_ = table_.size() - 1;
    for (UniverseBlock& sink : wakeSinks_) sink.listFlags = ~0u;
    shareState_.resize(1);
}

void Universe::setThreads(int count) {
    count = std::max(1, std::min(count, 64));
    if (count == threads_) return;
    pool_.reset();
    threads_ = count;
    sweepEverything();  // (the helpers' notes go with their states)
    shareState_.clear();
    shareState_.resize(size_t(count));
    dropPartition();
    sharingChoice_ = SharingChoice{};
    shareNow_ = true;
    if (count > 1) pool_ = std::make_unique<PassPool>(*this, count - 1);
}

Universe::~Universe() {
    // Cells hold no owning references, so blocks can simply go with their
    // chunks; region entries go with their vector.
}

Universe::Chunk Universe::newChunk() {
    static_assert(kSpareLines >= 64 && alignof(UniverseBlock) <= kLine);
    void* memory = chunk_slabs::take();
    if (!memory) throw std::bad_alloc();
    const uintptr_t head = headStart(reinterpret_cast<uintptr_t>(memory));
    new (reinterpret_cast<void*>(head)) ChunkHead{};
    UniverseBlock* blocks = reinterpret_cast<UniverseBlock*>(head + kHeadBytes);
    for (size_t i = 0; i < kChunkBlocks; ++i) new (blocks + i) UniverseBlock();
    return Chunk(blocks);
}

void Universe::ChunkFree::operator()(UniverseBlock* blocks) const {
    for (size_t i = 0; i < kChunkBlocks; ++i) blocks[i].~UniverseBlock();
    chunk_slabs::give(reinterpret_cast<void*>(chunkBase(blocks)));
}

// Free blocks are chained through chainNext, so a free block costs nothing
// beyond its own storage.
UniverseBlock* Universe::allocBlock() {
    if (!freeBlocks_) {
        constexpr size_t kChunk = kChunkBlocks;
        chunks_.push_back(newChunk());
        UniverseBlock* base = chunks_.back().get();
        if (tagged_ && (reinterpret_cast<uintptr_t>(base + kChunk) >> kTagShift) != 0) {
            for (TableEntry& e : table_) e.word &= kAddressBits;
            tagged_ = false;
        }
        for (size_t i = kChunk; i-- > 0;) {
            base[i].chainNext = freeBlocks_;
            freeBlocks_ = base + i;
        }
    }
    UniverseBlock* b = freeBlocks_;
    freeBlocks_ = b->chainNext;
    b->chainNext = nullptr;
    // Movers take blocks one after another, and a free block was last
    // touched long ago: fetch the next one now, so that taking it (its
    // chainNext) and filling it in do not wait for memory.
    if (freeBlocks_) {
        const char* p = reinterpret_cast<const char*>(freeBlocks_);
        for (size_t off = 0; off < sizeof(UniverseBlock); off += 64) __builtin_prefetch(p + off, 1);
    }
    return b;
}

void Universe::freeBlock(UniverseBlock* b) {
    b->extras.reset();
    b->listFlags = 0;
    b->scratch = -1;
    huskSides(b) = 0;
    for (auto& n : b->neighbour) n = nullptr;
    b->chainNext = freeBlocks_;
    freeBlocks_ = b;
}

// ---------------------------------------------------------------- lookup table

static inline uint64_t mixKey(int32_t bx, int32_t by, int32_t bz) {
    uint64_t h = uint64_t(uint32_t(bx)) * 0x9E3779B97F4A7C15ull;
    h ^= uint64_t(uint32_t(by)) * 0xC2B2AE3D27D4EB4Full;
    h ^= uint64_t(uint32_t(bz)) * 0x165667B19E3779F9ull;
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 32;
    return h;
}

// Entries keep a tag of the hash in the pointer's top bits: a probe only
// touches a block when the tags match.
size_t Universe::tableIndex(int32_t bx, int32_t by, int32_t bz) const {
    const uint64_t h = mixKey(bx, by, bz);
    size_t i = size_t(h) & tableMask_;
    const int32_t ox = bx * 2, oy = by * 2, oz = bz * 3;
    for (;;) {
        const TableEntry& e = table_[i];
        if (!e.word) return i;
        const UniverseBlock* b = entryBlock(e);
        if ((!tagged_ || (e.word >> kTagShift) == (h >> kTagShift)) && b->originX == ox && b->originY == oy &&
            b->originZ == oz)
            return i;
        i = (i + 1) & tableMask_;
    }
}

UniverseBlock* Universe::findBlock(int32_t x, int32_t y, int32_t z) const {
    if (!inLattice(x, y, z)) return nullptr;
    const int32_t bx = floorDiv(x, 2), by = floorDiv(y, 2), bz = floorDiv(z, 3);
    UniverseBlock* b = tableBlock(tableIndex(bx, by, bz));
    // Bringing a husk back changes storage only, never what anyone reads.
    if (!b && !husks_.empty()) b = const_cast<Universe*>(this)->reviveHusk(bx, by, bz);
    return b;
}

UniverseBlock* Universe::findPartBlock(int32_t x, int32_t y, int32_t z) const {
    if (!inLattice(x, y, z)) return nullptr;
    return tableBlock(tableIndex(floorDiv(x, 2), floorDiv(y, 2), floorDiv(z, 3)));
}

// The full hash is not kept, so the home slot comes from the block's
// coordinates (only growing and erasing need it).
size_t Universe::homeOf(const TableEntry& e) const {
    int32_t bx, by, bz;
    blockCoords(entryBlock(e), bx, by, bz);
    return size_t(mixKey(bx, by, bz)) & tableMask_;
}

void Universe::tableGrow() {
    Table old;
    old.swap(table_);
    table_.assign(old.size() * 2, TableEntry{});
    tableMask_ = table_.size() - 1;
    // An entry's home comes from its block's coordinates, and the blocks
    // lie anywhere: fetch them a few entries ahead so that their misses
    // overlap.
    constexpr size_t kAhead = 8;
    for (size_t k = 0; k < old.size(); ++k) {
        if (k + kAhead < old.size() && old[k + kAhead].word) __builtin_prefetch(entryBlock(old[k + kAhead]));
        const TableEntry& e = old[k];
        if (e.word) {
            size_t i = homeOf(e);
            while (table_[i].word) i = (i + 1) & tableMask_;
            table_[i] = e;
        }
    }
}

void Universe::tableInsert(UniverseBlock* b) {
    // Linear probing stays short up to about 70% load.
    if ((blockCount_ + 1) * 10 > table_.size() * 7) tableGrow();
    int32_t bx, by, bz;
    blockCoords(b, bx, by, bz);
    table_[tableIndex(bx, by, bz)] = makeEntry(mixKey(bx, by, bz), b);
}

void Universe::tableErase(UniverseBlock* b) {
    int32_t bx, by, bz;
    blockCoords(b, bx, by, bz);
    size_t i = tableIndex(bx, by, bz);
    if (tableBlock(i) != b) return;
    table_[i] = TableEntry{};
    // Backward-shift deletion keeps probe sequences unbroken without tombstones.
    size_t j = i;
    for (;;) {
        j = (j + 1) & tableMask_;
        const TableEntry e = table_[j];
        if (!e.word) break;
        const size_t home = homeOf(e);
        const bool between = (i <= j) ? (i < home && home <= j) : (i < home || home <= j);
        if (!between) {
            table_[i] = e;
            table_[j] = TableEntry{};
            i = j;
        }
    }
}

// ---------------------------------------------------------------- blocks

UniverseBlock* Universe::startBlock(int32_t bx, int32_t by, int32_t bz) {
    UniverseBlock* b = allocBlock();
    ++blockEpoch_;
    lastCreation_ = generation;
    b->originX = bx * 2;
    b->originY = by * 2;
    b->originZ = bz * 3;
    b->listFlags = 0;
    b->scratch = -1;
    huskSides(b) = 0;
    b->occupied = b->conductorCells = b->norCells = b->orderedCells = 0;
    return b;
}

// A new block reads seven table slots (its own and its face neighbours'),
// and the hash scatters them over the whole table; asking for all of them
// first lets their misses overlap instead of following one another. The
// same goes for its bucket's tail and counter.
void Universe::prefetchPlace(int32_t bx, int32_t by, int32_t bz) const {
    __builtin_prefetch(&table_[size_t(mixKey(bx, by, bz)) & tableMask_]);
    for (int d = 0; d < 6; ++d)
        __builtin_prefetch(&table_[size_t(mixKey(bx + directionTable.dx[d], by + directionTable.dy[d],
                                                 bz + directionTable.dz[d])) &
                                   tableMask_]);
    const uint32_t bucket = bucketOf(bx, by, bz);
    __builtin_prefetch(&bucketEnd_[bucket]);
}

UniverseBlock* Universe::createBlock(int32_t bx, int32_t by, int32_t bz) {
    prefetchPlace(bx, by, bz);
    UniverseBlock* b = startBlock(bx, by, bz);
    b->chainNext = nullptr;
    b->cells.resetAll();
    next_->push_back(b);
    b->listFlags |= OnNext;
    b->setListPos(uint32_t(current_->size()));
    current_->push_back(b);
    b->listFlags |= OnCurrent;
    commitList_.push_back(b);
    b->listFlags |= OnCommit;
    moveList_.push_back(b);
    b->listFlags |= OnMove;
    // (The bond pass over fresh empty cells has nothing to do.)
    const uint32_t bucket = bucketOf(bx, by, bz);
    chainSeq(b) = bucketEnd_[bucket].seq++;
    if (bucketEnd_[bucket].tail)
        bucketEnd_[bucket].tail->chainNext = b;
    else
        bucketHead_[bucket] = b;
    bucketEnd_[bucket].tail = b;
    tableInsert(b);
    ++blockCount_;
    const bool husks = !husks_.empty();
    for (int d = 0; d < 6; ++d) {
        UniverseBlock* n = blockBeside(bx, by, bz, d);
        // The new block is listed: no husk may stay beside it.
        if (!n && husks)
            n = reviveHusk(bx + directionTable.dx[d], by + directionTable.dy[d], bz + directionTable.dz[d]);
        b->neighbour[d] = n;
        if (n) n->neighbour[directionTable.opposite[d]] = b;
    }
    return b;
}

void Universe::destroyBlock(UniverseBlock* b) {
    for (int s = 0; s < 12; ++s) unlinkCell(CellRef{b, s});
    for (int d = 0; d < 6; ++d)
        if (b->neighbour[d]) b->neighbour[d]->neighbour[directionTable.opposite[d]] = nullptr;
    tableErase(b);
    --blockCount_;
    freeBlock(b);
}

UniverseBlock* Universe::blockAt(int32_t x, int32_t y, int32_t z, bool create) {
    if (!inLattice(x, y, z)) return nullptr;
    const int32_t bx = floorDiv(x, 2), by = floorDiv(y, 2), bz = floorDiv(z, 3);
    UniverseBlock* b = tableBlock(tableIndex(bx, by, bz));
    if (!b && !husks_.empty()) b = reviveHusk(bx, by, bz);
    if (!b && create) b = createBlock(bx, by, bz);
    return b;
}

CellRef Universe::cellForUpdate(int32_t x, int32_t y, int32_t z) {
    UniverseBlock* b = blockAt(x, y, z, true);
    if (!b) return {};  // beyond the lattice bound; no rule reaches there
    enlistForUpdate(b);
    return CellRef{b, slotOf(x, y, z)};
}

CellRef Universe::findCell(int32_t x, int32_t y, int32_t z) {
    UniverseBlock* b = blockAt(x, y, z, false);
    if (!b) return {};
    enlistForUpdate(b);
    return CellRef{b, slotOf(x, y, z)};
}

bool Universe::testOutput(int32_t x, int32_t y, int32_t z, int32_t direction) const {
    if (!validDirection(direction)) return false;
    const UniverseBlock* b = findBlock(x, y, z);
    return b && (b->cells[slotOf(x, y, z)].outputs >> direction) & 1;
}

// (The appends in this order: move, commit, next.)
void Universe::enlistSome(UniverseBlock* b) {
    // A block on any list has no husk beside it already; only an unlisted
    // one needs its husk sides read (they sit in the chunk's head, a line
    // of their own).
    constexpr uint32_t anyList = OnNext | OnCommit | OnMove | OnCurrent;
    if (!husks_.empty() && !(b->listFlags & anyList) && huskSides(b)) reviveAround(b);
    appendOnce(moveList_, b, OnMove);
    appendOnce(commitList_, b, OnCommit);
    appendOnce(*next_, b, OnNext);
}

UniverseBlock* Universe::createBeside(UniverseBlock* b, int d) {
    int32_t bx, by, bz;
    blockCoords(b, bx, by, bz);
    return createBlock(bx + directionTable.dx[d], by + directionTable.dy[d], bz + directionTable.dz[d]);
}

void Universe::unlinkCell(CellRef c) {
    uint8_t links = c.core().links;
    for (int d = 0; d < 6; ++d)
        if (links & (1u << d)) {
            CellRef n = neighbourCell(c, d);
            if (n) n.core().links &= uint8_t(~(1u << directionTable.opposite[d]));
        }
    c.core().links = 0;
}

void Universe::linkCell(CellRef c) {
    for (int d = 0; d < 6; ++d) {
        CellRef n = neighbourCell(c, d);
        if (n) {
            enlistForUpdate(n.block);
            c.core().links |= uint8_t(1u << d);
            n.core().links |= uint8_t(1u << directionTable.opposite[d]);
        } else {
            c.core().links &= uint8_t(~(1u << d));
        }
    }
}

void Universe::relinkBlock(UniverseBlock* b) {
    for (int s = 0; s < 12; ++s) linkCell(CellRef{b, s});
}

void Universe::checkBonds(UniverseBlock* b) {
    for (int s = 0; s < 12; ++s) {
        CellCore c = b->cells[s];
        for (int d = 0; d < 6; ++d) {
            if (!(c.bonds & (1u << d))) continue;
            CellRef n = neighbourCell(CellRef{b, s}, d);
            if (n) enlistForUpdate(n.block);
            if (!n || n.core().type == 0 || !(n.core().bonds & (1u << directionTable.opposite[d])))
                c.bonds &= uint8_t(~(1u << d));
        }
    }
}

void Universe::wakeBlocks(UniverseBlock* b, unsigned mask, WakeTarget target) {
    const bool husks = !husks_.empty();
    if (husks && huskSides(b)) reviveAround(b);
    std::vector<UniverseBlock*>& list = target == WakeTarget::Current ? *current_ : *next_;
    const size_t before = list.size();
    wakeInto(b, mask, list, target == WakeTarget::Current ? OnCurrent : OnNext);
    for (size_t i = before; i < list.size(); ++i) {
        if (husks && huskSides(list[i])) reviveAround(list[i]);
        if (target == WakeTarget::Current) list[i]->setListPos(uint32_t(i));
    }
}

// ---------------------------------------------------------------- placing

static const char* regionName(const RegionEntry* r) { return r ? r->path.c_str() : "?"; }

void Universe::placeCell(const UniverseCell& cell) {
    // Beyond the edge no move could ever carry the part back, and its
    // neighbours' positions would approach the 32-bit range.
    if (!inCoordinateRange(cell.x, cell.y, cell.z)) return;
    ++changeEpoch_;
    sweepAll_ = true;
    UniverseBlock* b = blockAt(cell.x, cell.y, cell.z, true);
    const int s = slotOf(cell.x, cell.y, cell.z);
    if (b->cells[s].type != 0) {
        if (onConflict) {
            const int32_t oldType = b->partType(s);
            std::string oldRegion = regionName(b->region(s));
            std::string newRegion = regionName(cell.region);
            std::vector<char> buf(160 + oldRegion.size() + newRegion.size());
            std::snprintf(buf.data(), buf.size(),
                          "Error: UniverseCell at %d %d %d, block %d %d %d contains part type %d, replacing with type %d. "
                          "Regions: %s %s",
                          b->originX, b->originY, b->originZ, s / 6, (s / 3) % 2, s % 3, oldType, cell.partType,
                          oldRegion.c_str(), newRegion.c_str());
            onConflict(std::string(buf.data()));
        }
    }
    CellRef ref{b, s};
    unlinkCell(ref);
    b->cells.reset(s);
    b->classify(s);
    CellCore c = b->cells[s];
    b->setField(s, WType, cell.partType);
    b->setField(s, WFront, cell.front);
    b->setField(s, WSide, cell.side);
    b->setField(s, WUp, cell.up);
    c.outputs = cell.outputs;
    c.nextOutputs = cell.nextOutputs;
    c.bonds = cell.bonds;
    b->setRegion(s, cell.region);
    b->setTerminalBinding(s, cell.terminalBinding);
    if (b->scratch >= 0) {
        scratch_[b->scratch].moveRequest[s] = -1;
        scratch_[b->scratch].rotatePending[s] = 0;
    }
    linkCell(ref);
    wakeBlocks(b, kAllFaces, WakeTarget::Current);
}

void Universe::injectSignal(int32_t x, int32_t y, int32_t z, int32_t direction) {
    if (!validDirection(direction) || !inLattice(x, y, z)) return;
    CellRef c = cellForUpdate(x + directionTable.dx[direction], y + directionTable.dy[direction],
                              z + directionTable.dz[direction]);
    if (!c) return;
    c.core().outputs |= uint8_t(1u << directionTable.opposite[direction]);
    wakeBlocks(c.block, kAllFaces, WakeTarget::Current);
}

void Universe::setBond(int32_t x, int32_t y, int32_t z, int32_t direction, bool on) {
    if (!validDirection(direction) || !inLattice(x, y, z)) return;
    CellRef a = cellForUpdate(x, y, z);
    CellRef b = cellForUpdate(x + directionTable.dx[direction], y + directionTable.dy[direction],
                              z + directionTable.dz[direction]);
    if (!a || !b) return;
    if (a.core().type == 0 || b.core().type == 0) return;
    const uint8_t ba = uint8_t(1u << direction), bb = uint8_t(1u << directionTable.opposite[direction]);
    if (on) {
        a.core().bonds |= ba;
        b.core().bonds |= bb;
    } else {
        a.core().bonds &= uint8_t(~ba);
        b.core().bonds &= uint8_t(~bb);
    }
}

RegionEntry* Universe::openRegion(const std::string& name, RegionEntry* parent) {
    auto r = std::make_unique<RegionEntry>();
    r->path = parent ? parent->path + "." + name : name;
    r->parent = parent;
    regions_.push_back(std::move(r));
    return regions_.back().get();
}

void Universe::clearTerminalBindings(const std::function<bool(StimulusChannel*)>& pred) {
    forEachBlock([&](UniverseBlock* b) {
        if (!b->extras) return;
        for (auto& ch : b->extras->binding)
            if (ch && pred(ch)) ch = nullptr;
    });
}

// ---------------------------------------------------------------- queries

bool Universe::centroid(double& x, double& y, double& z) const {
    double sx = 0, sy = 0, sz = 0;
    uint64_t count = 0;
    forEachBlock([&](const UniverseBlock* b) {
        for (int s = 0; s < 12; ++s)
            if (b->cells[s].type != 0) {
                sx += b->cellX(s);
                sy += b->cellY(s);
                sz += b->cellZ(s);
                ++count;
            }
    });
    if (count == 0) return false;
    const double n = double(float(count));
    x = sx / n;
    y = sy / n;
    z = sz / n;
    return true;
}

void Universe::findMarker(int32_t& x, int32_t& y, int32_t& z) const {
    bool found = false;
    x = y = z = 0;
    forEachBlock([&](const UniverseBlock* b) {
        for (int s = 0; s < 12; ++s) {
            if (b->cells[s].type != Rotator || b->cells[s].front != 0) continue;
            const int32_t cx = b->cellX(s), cy = b->cellY(s), cz = b->cellZ(s);
            if (!found || cz > z || (cz == z && cy < y)) {
                x = cx;
                y = cy;
                z = cz;
                found = true;
            }
        }
    });
}

size_t Universe::partCount() const {
    size_t n = 0;
    forEachBlock([&](const UniverseBlock* b) {
        n += size_t(__builtin_popcount(b->occupied));
    });
    return n;
}

size_t Universe::storageBytes() const {
    size_t bytes = storedBlocks() * sizeof(UniverseBlock);
    bytes += table_.capacity() * sizeof(TableEntry) + kBuckets * (sizeof(void*) + sizeof(BucketEnd));
    bytes += husks_.bytes();
    forEachBlock([&](const UniverseBlock* b) {
        if (b->extras) bytes += sizeof(BlockExtras) + (b->extras->wide ? 12 * WCount * sizeof(int32_t) : 0);
    });
    return bytes;
}

size_t Universe::worklistBytes() const {
    size_t bytes = (lists_[0].capacity() + lists_[1].capacity() + moveList_.capacity() + commitList_.capacity() +
                    scratchOwners_.capacity()) * sizeof(void*);
    bytes += scratch_.capacity() * sizeof(Scratch) + moveRequests_.capacity() * sizeof(MoveRequest);
    bytes += queue_.capacity() * sizeof(QueuedClaim) + wakeKey_.capacity() * sizeof(uint32_t);
    for (const ShareState& s : shareState_)
        bytes += (s.keys.capacity() + s.merged.capacity()) * sizeof(uint64_t) + s.below.capacity() * sizeof(uint32_t);
    return bytes;
}

// ---------------------------------------------------------------- writing

namespace {
struct OutBuffer {
    std::ostream& out;
    char buf[1 << 16];
    size_t n = 0;
    explicit OutBuffer(std::ostream& o) : out(o) {}
    ~OutBuffer() { flush(); }
    void flush() {
        if (n) out.write(buf, std::streamsize(n));
        n = 0;
    }
    void reserve(size_t k) {
        if (n + k > sizeof buf) flush();
    }
    void put(char c) { buf[n++] = c; }
    void putInt(int32_t v) {
        char tmp[12];
        int len = 0;
        uint32_t u = v < 0 ? 0u - uint32_t(v) : uint32_t(v);
        do {
            tmp[len++] = char('0' + u % 10);
            u /= 10;
        } while (u);
        if (v < 0) buf[n++] = '-';
        while (len) buf[n++] = tmp[--len];
    }
};
}  // namespace

void Universe::writeBlocks(std::ostream& out) const {
    OutBuffer w(out);
    forEachStoredBlock([&](const UniverseBlock* b) {
        w.reserve(64);
        w.putInt(b->originX);
        w.put(' ');
        w.putInt(b->originY);
        w.put(' ');
        w.putInt(b->originZ);
        w.put('\n');
        for (const char* p = "2 2 3 \n"; *p; ++p) w.put(*p);
        for (int iy = 0; iy < 2; ++iy)
            for (int iz = 0; iz < 3; ++iz)
                for (int ix = 0; ix < 2; ++ix) {
                    const int s = ix * 6 + iy * 3 + iz;
                    const CellCore c = b->cells[s];
                    w.reserve(3 * 13 + 12 * 3);
                    w.putInt(b->partType(s));
                    w.put('\n');
                    w.putInt(b->front(s));
                    w.put('\n');
                    w.putInt(b->side(s));
                    w.put('\n');
                    for (int d = 0; d < 6; ++d) {
                        w.put((c.outputs >> d) & 1 ? '1' : '0');
                        w.put('\n');
                    }
                    for (int d = 0; d < 6; ++d) {
                        if (c.bonds & (1u << d))
                            w.putInt(1 << d);
                        else
                            w.put('0');
                        w.put('\n');
                    }
                }
    });
    w.flush();
    out.flush();
}

// ---------------------------------------------------------------- clean-up

void Universe::cleanUp() {
    ++layoutEpoch_;
    sweepEverything();
    // Every husk is empty and on no list, so the walk below would remove it
    // anyway; and nothing it keeps lies beside one (a block beside a husk
    // is on no list and empty), so no kept cell loses a link to it either.
    if (!husks_.empty()) {
        husks_.clear();
        forEachBlock([](UniverseBlock* b) { huskSides(b) = 0; });
    }
    for (uint32_t i = 0; i < kBuckets; ++i) {
        UniverseBlock* prev = nullptr;
        UniverseBlock* b = bucketHead_[i];
        while (b) {
            UniverseBlock* next = b->chainNext;
            bool keep = b->listFlags != 0;  // on any list: still referenced
            for (int s = 0; s < 12 && !keep; ++s) keep = b->cells[s].type != 0;
            if (keep) {
                prev = b;
            } else {
                if (prev)
                    prev->chainNext = next;
                else
                    bucketHead_[i] = next;
                if (bucketEnd_[i].tail == b) bucketEnd_[i].tail = prev;
                destroyBlock(b);
            }
            b = next;
        }
    }
    renumberChains();
}

void Universe::renumberChains() {
    for (uint32_t i = 0; i < kBuckets; ++i) {
        uint32_t seq = 0;
        for (UniverseBlock* b = bucketHead_[i]; b; b = b->chainNext) chainSeq(b) = seq++;
        bucketEnd_[i].seq = seq;
    }
}

// ---------------------------------------------------------------- husks

// The sweeps walk several bucket chains at once, a step of each in turn,
// so that the fetch of a lane's next block has a whole turn to arrive: one
// chain at a time would wait on memory at every block. start(lane, lanes,
// active) puts the next chain on a lane (false when there is none);
// step(lane) does one step and says whether the lane goes on.
template <class Start, class Step>
void Universe::walkChainsInTurn(Start&& start, Step&& step) {
    constexpr int kLanes = 8;
    ChainLane lanes[kLanes];
    int active = 0;
    while (active < kLanes && start(lanes[active], lanes, active)) ++active;
    while (active > 0)
        for (int k = 0; k < active;) {
            if (step(lanes[k]) || start(lanes[k], lanes, active))
                ++k;
            else
                lanes[k] = lanes[--active];  // the last lane takes this one's place
        }
}

// Moves a lane past its block, taking the block out of the chain when
// `drop`; false at the chain's end, where the bucket's tail is set.
bool Universe::advanceLane(ChainLane& lane, bool drop) {
    UniverseBlock* next = lane.block->chainNext;
    if (drop)
        (lane.prev ? lane.prev->chainNext : bucketHead_[lane.bucket]) = next;
    else
        lane.prev = lane.block;
    if (!next) {
        bucketEnd_[lane.bucket].tail = lane.prev;
        return false;
    }
    lane.block = next;
    lane.fetched = false;
    return true;
}

void Universe::sweepHusks() {
    if (!sweepAll_) {
        sweepCandidates();
        return;
    }
    // Only moves, placing and new blocks make empty blocks.
    const uint64_t mark = blockEpoch_ + changeEpoch_;
    if (mark == sweptAt_) return;
    sweptAt_ = mark;
    for (ShareState& share : shareState_) share.left.clear();
    sweepCandidates_.clear();
    sweepAll_ = false;
    sweepEveryBlock();
}

void Universe::sweepEverything() {
    for (ShareState& share : shareState_) share.left.clear();
    sweepCandidates_.clear();
    sweepAll_ = true;
}

// Makes a husk of b if the store takes it: out of its neighbours' pointers
// (the chain, the table and storage are the caller's).
bool Universe::becomeHusk(UniverseBlock* b) {
    int32_t bx, by, bz;
    blockCoords(b, bx, by, bz);
    if (!husks_.add(bx, by, bz, chainSeq(b), b->cells)) return false;
    --blockCount_;
    for (int d = 0; d < 6; ++d)
        if (UniverseBlock* n = b->neighbour[d]) {
            const int o = directionTable.opposite[d];
            n->neighbour[o] = nullptr;
            huskSides(n) = uint8_t(huskSides(n) | (1u << o));
        }
    return true;
}

// Out of the table, then freed (nothing above looks anything up). When
// most of the table goes, building it again from the chains beats erasing
// entry by entry.
void Universe::dropSwept(const std::vector<UniverseBlock*>& swept) {
    if (swept.empty()) return;
    if (swept.size() > blockCount_) {
        resetTable(blockCount_);
        forEachBlock([&](UniverseBlock* b) {
            int32_t bx, by, bz;
            blockCoords(b, bx, by, bz);
            table_[tableIndex(bx, by, bz)] = makeEntry(mixKey(bx, by, bz), b);
        });
    } else {
        for (UniverseBlock* b : swept) tableErase(b);
    }
    for (UniverseBlock* b : swept) freeBlock(b);
    ++layoutEpoch_;
}

void Universe::sweepCandidates() {
    std::vector<UniverseBlock*>& cand = sweepCandidates_;
    for (ShareState& share : shareState_) {
        cand.insert(cand.end(), share.left.begin(), share.left.end());
        share.left.clear();
    }
    if (cand.empty()) return;
    // Marks: 1 looked at, 2 a husk now (still chained), 3 unchained.
    // The candidates were last touched generations ago, so each is fetched
    // a few turns ahead, and its neighbours (which the test reads) once it
    // has arrived.
    auto fetchBlock = [](const UniverseBlock* b) {
        __builtin_prefetch(&b->listFlags);
        __builtin_prefetch(&b->extras);
        __builtin_prefetch(&sweepMark(b));
    };
    size_t n = 0;
    for (size_t i = 0; i < cand.size(); ++i) {
        if (i + 16 < cand.size()) __builtin_prefetch(&sweepMark(cand[i + 16]));
        UniverseBlock* b = cand[i];
        if (!sweepMark(b)) {
            sweepMark(b) = 1;
            cand[n++] = b;
        }
    }
    cand.resize(n);
    // One walk over a list that grows: a block beside one that became
    // dormant may qualify now as well. Which become husks does not depend
    // on the order: a husk's neighbours see a null pointer, which counts
    // as dormant.
    std::vector<UniverseBlock*>& swept = swept_;
    swept.clear();
    for (size_t i = 0; i < cand.size(); ++i) {
        if (i + 8 < cand.size()) fetchBlock(cand[i + 8]);
        if (i + 4 < cand.size()) {
            const UniverseBlock* ahead = cand[i + 4];
            for (const UniverseBlock* nb : ahead->neighbour)
                if (nb) fetchBlock(nb);
            // And what a husk keeps (most candidates become one).
            for (size_t at = 0; at < sizeof ahead->cells; at += 64)
                __builtin_prefetch(reinterpret_cast<const char*>(&ahead->cells) + at);
            __builtin_prefetch(&chainSeq(ahead));
        }
        UniverseBlock* b = cand[i];
        if (!dormant(b)) continue;
        bool husk = true;
        for (UniverseBlock* nb : b->neighbour) {
            if (!nb) continue;
            if (!dormant(nb)) {
                husk = false;
            } else if (!sweepMark(nb)) {
                sweepMark(nb) = 1;
                cand.push_back(nb);
            }
        }
        if (husk && becomeHusk(b)) {
            sweepMark(b) = 2;
            swept.push_back(b);
        }
    }
    // Out of the chains: each chain that lost a block is walked once.
    size_t nextSwept = 0;
    auto start = [&](ChainLane& lane, const ChainLane* lanes, int active) {
        while (nextSwept < swept.size()) {
            UniverseBlock* b = swept[nextSwept++];
            if (sweepMark(b) != 2) continue;  // its chain is done
            int32_t bx, by, bz;
            blockCoords(b, bx, by, bz);
            const uint32_t bucket = bucketOf(bx, by, bz);
            bool underWay = false;  // a lane on this chain will unchain it
            for (int k = 0; k < active; ++k) underWay |= &lanes[k] != &lane && lanes[k].bucket == bucket;
            if (underWay) continue;
            lane = ChainLane{bucket, nullptr, bucketHead_[bucket], false};
            __builtin_prefetch(&lane.block->chainNext);
            __builtin_prefetch(&sweepMark(lane.block));
            return true;
        }
        return false;
    };
    walkChainsInTurn(start, [&](ChainLane& lane) {
        uint8_t& m = sweepMark(lane.block);
        const bool drop = m == 2;
        if (drop) m = 3;
        if (!advanceLane(lane, drop)) return false;
        __builtin_prefetch(&lane.block->chainNext);
        __builtin_prefetch(&sweepMark(lane.block));
        return true;
    });
    for (UniverseBlock* b : cand) sweepMark(b) = 0;
    cand.clear();
    dropSwept(swept);
}

void Universe::sweepEveryBlock() {
    auto fetch = [](const UniverseBlock* b) {
        __builtin_prefetch(&b->listFlags);
        __builtin_prefetch(&b->occupied);
        __builtin_prefetch(&b->extras);
        __builtin_prefetch(&b->neighbour[0]);
        __builtin_prefetch(&b->chainNext);
    };
    std::vector<UniverseBlock*>& swept = swept_;
    swept.clear();
    // A dormant block's neighbours and what a husk keeps are fetched a turn
    // ahead too (the block stays where it is for one turn). Which blocks
    // become husks does not depend on the order (a husk counts as dormant).
    uint32_t nextBucket = 0;
    auto start = [&](ChainLane& lane, const ChainLane*, int) {
        while (nextBucket < kBuckets) {
            const uint32_t i = nextBucket++;
            if (UniverseBlock* b = bucketHead_[i]) {
                lane = ChainLane{i, nullptr, b, false};
                fetch(b);
                return true;
            }
        }
        return false;
    };
    walkChainsInTurn(start, [&](ChainLane& lane) {
        UniverseBlock* b = lane.block;
        bool husk = dormant(b);
        if (husk && !lane.fetched) {
            for (UniverseBlock* n : b->neighbour)
                if (n) __builtin_prefetch(&n->listFlags), __builtin_prefetch(&n->extras);
            for (size_t at = 0; at < sizeof b->cells; at += 64)
                __builtin_prefetch(reinterpret_cast<const char*>(&b->cells) + at);
            __builtin_prefetch(&chainSeq(b));
            lane.fetched = true;
            return true;
        }
        for (int d = 0; d < 6 && husk; ++d) husk = !b->neighbour[d] || dormant(b->neighbour[d]);
        husk = husk && becomeHusk(b);
        if (husk) swept.push_back(b);
        if (!advanceLane(lane, husk)) return false;
        fetch(lane.block);
        return true;
    });
    dropSwept(swept);
}

UniverseBlock* Universe::reviveHusk(int32_t bx, int32_t by, int32_t bz) {
    const int64_t record = husks_.find(bx, by, bz);
    if (record < 0) return nullptr;
    UniverseBlock* b = startBlock(bx, by, bz);
    b->extras.reset();
    husks_.take(record, chainSeq(b), b->cells);
    // Back on no list: if nothing lists it, the next sweep makes it a husk again.
    sweepCandidates_.push_back(b);
    // Back into its chain at its old place.
    const uint32_t bucket = bucketOf(bx, by, bz);
    UniverseBlock* prev = nullptr;
    for (UniverseBlock* c = bucketHead_[bucket]; c && chainSeq(c) < chainSeq(b); c = c->chainNext) prev = c;
    UniverseBlock*& link = prev ? prev->chainNext : bucketHead_[bucket];
    b->chainNext = link;
    link = b;
    if (!b->chainNext) bucketEnd_[bucket].tail = b;
    tableInsert(b);
    ++blockCount_;
    for (int d = 0; d < 6; ++d) {
        UniverseBlock* n = blockBeside(bx, by, bz, d);
        b->neighbour[d] = n;
        if (n) {
            const int o = directionTable.opposite[d];
            n->neighbour[o] = b;
            huskSides(n) = uint8_t(huskSides(n) & ~(1u << o));
        } else if (husks_.contains(bx + directionTable.dx[d], by + directionTable.dy[d], bz + directionTable.dz[d])) {
            huskSides(b) = uint8_t(huskSides(b) | (1u << d));
        }
    }
    return b;
}

UniverseBlock* Universe::reviveBeside(const UniverseBlock* b, int d) {
    int32_t bx, by, bz;
    blockCoords(b, bx, by, bz);
    return reviveHusk(bx + directionTable.dx[d], by + directionTable.dy[d], bz + directionTable.dz[d]);
}

void Universe::reviveAround(UniverseBlock* b) {
    for (unsigned m = huskSides(b); m; m &= m - 1) reviveBeside(b, __builtin_ctz(m));
}

// ---------------------------------------------------------------- derived state

void Universe::resetTable(size_t blocks) {
    size_t size = 1024;
    while ((blocks + 1) * 10 > size * 7) size *= 2;
    // The husk sweep shrinks the table every few dozen generations and
    // movers grow it again in between: a table up to four times the size
    // needed is cleared and kept rather than mapped anew each time.
    if (table_.size() >= size && table_.size() <= 4 * size) {
        std::fill(table_.begin(), table_.end(), TableEntry{});
    } else {
        Table(size, TableEntry{}).swap(table_);
    }
    tableMask_ = table_.size() - 1;
}

void Universe::rebuildCaches() {
    sweepEverything();
    // Size the table once for the chained blocks rather than growing it step by step.
    size_t chained = 0;
    forEachBlock([&](const UniverseBlock*) { ++chained; });
    resetTable(chained);
    blockCount_ = 0;
    if (husks_.empty()) renumberChains();
    for (uint32_t i = 0; i < kBuckets; ++i) {
        UniverseBlock* last = nullptr;
        for (UniverseBlock* b = bucketHead_[i]; b; b = b->chainNext) {
            uint16_t occ = 0;
            for (int s = 0; s < 12; ++s)
                if (b->cells.type[s] != 0) occ = uint16_t(occ | (1u << s));
            b->occupied = occ;
            b->classifyAll();
            tableInsert(b);
            ++blockCount_;
            last = b;
        }
        bucketEnd_[i].tail = last;
    }
    forEachBlock([&](UniverseBlock* b) {
        int32_t bx, by, bz;
        blockCoords(b, bx, by, bz);
        huskSides(b) = 0;
        for (int d = 0; d < 6; ++d) {
            b->neighbour[d] = blockBeside(bx, by, bz, d);
            if (!b->neighbour[d] &&
                husks_.contains(bx + directionTable.dx[d], by + directionTable.dy[d], bz + directionTable.dz[d]))
                huskSides(b) = uint8_t(huskSides(b) | (1u << d));
        }
    });
    for (size_t i = 0; i < current_->size(); ++i) (*current_)[i]->setListPos(uint32_t(i));
    positionedNext_ = ~size_t(0);
    ++blockEpoch_;
}
