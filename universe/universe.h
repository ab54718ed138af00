// The sparse universe: cells, blocks, the block hash and the worklists.
//
// Layout
//   Space is allocated in blocks of 2 x 2 x 3 cells. A block is created on
//   first touch and removed only by the periodic clean-up. Cell (x, y, z)
//   lives in block (floor(x/2), floor(y/2), floor(z/3)) at slot
//   xi*6 + yi*3 + zi.
//
//   Blocks are threaded on two structures:
//   * 99991 bucket chains keyed by a deliberately weak hash. The chains are
//     never used for lookup; they exist because their order (bucket, then
//     insertion within the chain) is the order of saving, of the load passes,
//     of the marker search and of the clean-up, and those orders are visible
//     in results. Each bucket keeps a tail pointer so appends are O(1).
//   * an open-addressing table keyed by block coordinates for O(1) lookup;
//     an entry is one word, the block pointer with a 16-bit hash tag in its
//     unused top bits (the table is a sizeable share of a large universe's
//     memory).
//   Each block also keeps pointers to its six face-neighbour blocks, so rules
//   and waking never hash.
//
// Cells
//   A cell is 11 bytes, stored field by field across its block (twelve
//   types, then twelve fronts, ...): part type, frame, the persistent
//   incoming frame, signals, bonds and a link mask. The rules and the commit
//   then index plain byte arrays by slot. Values that do not fit a byte (only
//   a malformed file makes them) are stored as the escape byte 255 with the
//   real value in the block's extras. Region and stimulus-binding references
//   are rare, so they too live in the extras, which most blocks never
//   allocate.
//
//   Links: a cell's link in direction d is either none or the cell object at
//   the adjacent position (cell objects never change position; they are only
//   replaced or freed, and both clear the back-links). So one bit per face is
//   enough, and the neighbour is reached through the block's neighbour
//   pointer. Links are set only by linking (placing, moving into, relinking)
//   and are part of the semantics: an unlinked face sees no input.
//
// Rule classes and signal lanes
//   Nearly all parts of a large machine are Conductors and NorGates, whose
//   rules only read the neighbours' outputs and write their own
//   nextOutputs. Each block keeps three slot masks derived from type and
//   frame: conductors, NOR gates with perpendicular axes, and every other
//   cell that has a rule ("ordered": actuators, sources, odd NOR gates).
//   setField and placing keep them current (the only ways a type or frame
//   changes: loading, placing, phase-2 turns, phase-3 moves); rebuildCaches
//   recomputes them, and verifyConsistency checks them. Phase 1 evaluates
//   the two signal classes of a block as twelve byte lanes with the same
//   instructions whatever the signals (the input gather is fixed by the slot
//   geometry; the links, read as they stand, select the inputs that count),
//   and runs the ordered cells' rules in slot order.
//
// Threads
//   Because the signal rules read nothing that phase 1 changes, they can run
//   before the ordered walk, in any order and on several threads; the walk
//   then enlists, runs the ordered rules and appends in exactly the list
//   order. When no listed block has an ordered cell, the walk has nothing to
//   do but enlist, and the next list is a pure function of the wake masks:
//   a block lands there at the first (list index, candidate) pair that wakes
//   it. Then the threads build it without the walk, each over its own range
//   of storage (which keeps neighbours on one core): every block computes
//   its smallest waking key from its neighbours' masks and list positions,
//   marks it in a bitmap, and learns its rank in the key order from the
//   union of the bitmaps. stepGeneration then folds the commit and the
//   list swap into that last pass, so such a generation is three shared
//   passes (three barriers) and no serial walk at all.
//   The storage-order passes split storage into contiguous ranges, one per
//   thread. So that a range is a compact piece of space (a neighbour owned
//   by the other thread means a cache line moving between the cores every
//   pass), the blocks are moved once, with helpers, into storage sorted
//   along the universe's longest axis, and the cuts are placed where few
//   neighbour pairs straddle them. Storage order is seen by nothing else.
//   The results are the same for every thread count.
//
// Transient move state
//   The move claim, source and incoming fields live for one generation only
//   and only for touched cells, so they sit in a scratch record that a block
//   borrows from a pool while it has claims or turns. The pools, queues and
//   lists keep their storage between generations: a steady-state generation
//   allocates nothing.
//
// Lists
//   current/next active, move and commit lists are vectors walked by index
//   (appends during a walk are visited by the same walk). listFlags bit
//   1 = next, 2 = commit, 4 = move, 8 = current; a bit is set exactly while
//   the block is on that list. Every block on the current list knows its
//   index there (listPos(), kept in the scratch field while the block has
//   no scratch record): whatever appends to the current list sets it, and
//   so does the end of a generation when the next list becomes current.
//   Borrowing a scratch record overwrites it; that happens only where the
//   positions are not read again before phase 4 writes them anew.
//
// The coordinate edge
//   Parts live within +-kCoordinateLimit on every axis: placeCell refuses a
//   part beyond it, and a move whose group would carry a part across it is
//   blocked like a move that meets a different vector. So every position a
//   rule or a move computes stays within a few cells of the limit. The
//   public lookups take any 32-bit position but act only inside the lattice
//   bound (2^30, well past the limit): beyond it nothing is found or made, so
//   block arithmetic (origins, neighbour keys) never leaves 32 bits.
//
// Threading: the universe has no lock. Only the worker thread (and, inside
// a phase, its helpers) touches it during a generation; everything else goes
// through the document's pause handshake. The one exception is `inputPulse`,
// a single byte.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "universe/directions.h"

struct StimulusChannel;  // owned by the stimulus run object

enum PartType : int32_t {
    Empty = 0,
    Conductor = 1,
    NorGate = 2,
    Pusher = 3,
    Shifter = 4,
    Rotator = 5,
    Binder = 6,
    Cutter = 7,
    PulseInput = 8,
    Source = 9,
    Drive = 10,
};

// A named region of the structure; built while a grid file is read.
struct RegionEntry {
    std::string path;
    RegionEntry* parent = nullptr;
    uint8_t visible = 1;
    uint8_t ticked = 1;
};

// A full, uncompressed cell value: what placeCell takes and what readers get.
struct UniverseCell {
    int32_t front = 0;
    int32_t side = 1;
    int32_t up = 4;
    int32_t partType = 0;
    int32_t x = 0, y = 0, z = 0;
    uint8_t nextOutputs = 0;
    uint8_t outputs = 0;
    uint8_t bonds = 0;
    RegionEntry* region = nullptr;
    StimulusChannel* terminalBinding = nullptr;
};

// The cells of a block are stored field by field (twelve types, then twelve
// fronts, ...), so the hot loops index plain byte arrays by slot and the
// commit copies twelve signal bytes at once. `cells[s]` gives a view of one
// cell whose members refer into those arrays.
struct CellCore {
    uint8_t& type;  // 255: escaped, real value in the extras
    uint8_t& front;
    uint8_t& side;
    uint8_t& up;
    uint8_t& inFront;  // incoming frame, persistent
    uint8_t& inSide;
    uint8_t& inUp;
    uint8_t& outputs;
    uint8_t& nextOutputs;
    uint8_t& bonds;
    uint8_t& links;  // bit d: linked to the cell in direction d
};

//
// The column order in memory serves the signal evaluation, which loads 16
// bytes for a 12-byte column: each column it loads (outputs, links, front,
// nextOutputs) is followed by one that phase 1's parallel passes never
// write. Checkpoints store the columns in `forEachColumn` order, whatever
// the layout.
struct CellColumns {
    uint8_t type[12];
    uint8_t inFront[12];
    uint8_t inSide[12];
    uint8_t inUp[12];
    uint8_t nextOutputs[12];
    uint8_t bonds[12];
    uint8_t outputs[12];
    uint8_t links[12];
    uint8_t front[12];
    uint8_t side[12];
    uint8_t up[12];

    template <class F>
    void forEachColumn(F&& f) {
        for (uint8_t* column : {type, front, side, up, inFront, inSide, inUp, outputs, nextOutputs, bonds, links})
            f(column);
    }
    template <class F>
    void forEachColumn(F&& f) const {
        for (const uint8_t* column : {type, front, side, up, inFront, inSide, inUp, outputs, nextOutputs, bonds, links})
            f(column);
    }

    CellCore operator[](int s) {
        return CellCore{type[s],    front[s],   side[s],        up[s],    inFront[s], inSide[s],
                        inUp[s],    outputs[s], nextOutputs[s], bonds[s], links[s]};
    }
    const CellCore operator[](int s) const { return const_cast<CellColumns&>(*this)[s]; }
    // A fresh empty cell: type 0, frame and incoming frame (+y, +x, +z).
    void reset(int s) {
        type[s] = 0;
        front[s] = inFront[s] = 0;
        side[s] = inSide[s] = 1;
        up[s] = inUp[s] = 4;
        outputs[s] = nextOutputs[s] = bonds[s] = links[s] = 0;
    }
    void resetAll() {
        for (int s = 0; s < 12; ++s) reset(s);
    }
};
static_assert(sizeof(CellColumns) == 132);

constexpr uint8_t kEscape = 255;

// Fields that may be escaped, as indexes into BlockExtras::wide.
enum WideField { WType, WFront, WSide, WUp, WInFront, WInSide, WInUp, WCount };

struct BlockExtras {
    RegionEntry* region[12] = {};
    StimulusChannel* binding[12] = {};
    std::unique_ptr<int32_t[]> wide;  // 12 * WCount, allocated on first escape
};

struct UniverseBlock {
private:
    void setEscaped(int slot, WideField f, int32_t v);

public:
    int32_t originX = 0, originY = 0, originZ = 0;
    uint32_t listFlags = 0;
    UniverseBlock* neighbour[6] = {};  // face-neighbour blocks by direction
    UniverseBlock* chainNext = nullptr;
    std::unique_ptr<BlockExtras> extras;
    // At least 0: the index of this generation's scratch record (phases 1
    // to 3 only). Otherwise ~index on the current list, while on it: the
    // two are never needed at once, and a large universe is mostly blocks.
    int32_t scratch = -1;
    uint32_t listPos() const { return ~uint32_t(scratch); }
    void setListPos(uint32_t i) { scratch = int32_t(~i); }
    uint16_t occupied = 0;  // bit s: cell s holds a part (type != 0)
    // Rule classes, derived from each cell's type and frame (classify()):
    // phase 1 evaluates the two signal classes for all twelve slots at once
    // and runs the rule of each ordered cell in slot order.
    uint16_t conductorCells = 0;  // Conductor whose front is in the table
    uint16_t norCells = 0;        // NorGate whose three axes are perpendicular
    uint16_t orderedCells = 0;    // any other cell with a rule (actuators, odd NorGates)
    CellColumns cells;

    int32_t field(int slot, WideField f) const;
    int32_t partType(int s) const { return cells.type[s] != kEscape ? cells.type[s] : field(s, WType); }
    int32_t front(int s) const { return cells.front[s] != kEscape ? cells.front[s] : field(s, WFront); }
    int32_t side(int s) const { return cells.side[s] != kEscape ? cells.side[s] : field(s, WSide); }
    int32_t up(int s) const { return cells.up[s] != kEscape ? cells.up[s] : field(s, WUp); }
    bool empty(int s) const { return cells.type[s] == 0; }
    RegionEntry* region(int s) const { return extras ? extras->region[s] : nullptr; }
    StimulusChannel* terminalBinding(int s) const { return extras ? extras->binding[s] : nullptr; }
    int32_t cellX(int s) const { return originX + s / 6; }
    int32_t cellY(int s) const { return originY + (s / 3) % 2; }
    int32_t cellZ(int s) const { return originZ + s % 3; }

    // Full value of one cell, for readers outside the hot path.
    UniverseCell cell(int s) const;

    // Stores one field; a value that does not fit a byte is escaped.
    void setField(int slot, WideField f, int32_t v) {
        if (v >= 0 && v < kEscape) {
            uint8_t& byte = column(f)[slot];
            if (f == WType) occupied = uint16_t(v != 0 ? occupied | (1u << slot) : occupied & ~(1u << slot));
            // Moves rewrite every field of a claimed cell, mostly with the
            // values it has; only a real change of a field the rules read
            // (not the incoming frame) needs a new class.
            const bool changed = byte != uint8_t(v);
            byte = uint8_t(v);
            if (f <= WUp && changed) classify(slot);
            return;
        }
        setEscaped(slot, f, v);
    }
    // Type and frame together, classified once (the commit of a move).
    void setPart(int slot, int32_t type, int32_t front, int32_t side, int32_t up) {
        if (uint32_t(type) < kEscape && uint32_t(front) < kEscape && uint32_t(side) < kEscape &&
            uint32_t(up) < kEscape) {
            const bool changed = cells.type[slot] != type || cells.front[slot] != front ||
                                 cells.side[slot] != side || cells.up[slot] != up;
            occupied = uint16_t(type != 0 ? occupied | (1u << slot) : occupied & ~(1u << slot));
            cells.type[slot] = uint8_t(type);
            cells.front[slot] = uint8_t(front);
            cells.side[slot] = uint8_t(side);
            cells.up[slot] = uint8_t(up);
            if (changed) classify(slot);
            return;
        }
        setField(slot, WType, type);
        setField(slot, WFront, front);
        setField(slot, WSide, side);
        setField(slot, WUp, up);
    }
    uint8_t* column(WideField f) {
        switch (f) {
        case WType: return cells.type;
        case WFront: return cells.front;
        case WSide: return cells.side;
        case WUp: return cells.up;
        case WInFront: return cells.inFront;
        case WInSide: return cells.inSide;
        default: return cells.inUp;
        }
    }
    // Recomputes slot s's rule class from its type and frame bytes.
    void classify(int s);
    // Recomputes `occupied` and the rule classes of all twelve slots.
    void classifyAll();
    void setRegion(int s, RegionEntry* r);
    void setTerminalBinding(int s, StimulusChannel* c);
};

// A large universe is mostly blocks: keep one within 224 bytes (the rule
// classes fill what was padding).
static_assert(sizeof(void*) != 8 || sizeof(UniverseBlock) <= 224);

struct CellRef {
    UniverseBlock* block = nullptr;
    int slot = 0;
    explicit operator bool() const { return block != nullptr; }
    CellCore core() const { return block->cells[slot]; }
};

struct MoveRequest {
    int32_t direction;
    int32_t dx, dy, dz;
    uint8_t blocked;
};

enum ListFlag : uint32_t { OnNext = 1, OnCommit = 2, OnMove = 4, OnCurrent = 8 };
enum class WakeTarget { Current, Next };

class Universe {
public:
    static constexpr uint32_t kBuckets = 99991;
    static constexpr uint32_t kCleanUpPeriod = 10000;

    Universe();
    ~Universe();
    Universe(const Universe&) = delete;
    Universe& operator=(const Universe&) = delete;

    // ---- state visible to the rest of the system
    std::atomic<uint8_t> inputPulse{0};  // written by the user-interface thread at any time
    uint32_t generation = 0;
    int32_t drawnCellCount = 0;
    int32_t lastMoveTarget[3] = {0, 0, 0};
    int32_t activeBlockCount = 0;
    uint8_t trackedMoved = 0;
    int32_t trackedDirection = 0;

    // Placement conflicts are reported here (the GUI shows a message box, the
    // runner prints a line). Without a handler they are dropped.
    std::function<void(const std::string&)> onConflict;
    // Called when a committed move carries a terminal binding; returns true if
    // the moved terminal is the tracked one.
    bool (*moveTerminal)(StimulusChannel*, int32_t direction) = nullptr;

    // ---- cell and block operations
    void placeCell(const UniverseCell& cell);
    CellRef cellForUpdate(int32_t x, int32_t y, int32_t z);
    CellRef findCell(int32_t x, int32_t y, int32_t z);
    bool testOutput(int32_t x, int32_t y, int32_t z, int32_t direction) const;
    void injectSignal(int32_t x, int32_t y, int32_t z, int32_t direction);
    void setBond(int32_t x, int32_t y, int32_t z, int32_t direction, bool on);
    void linkCell(CellRef c);
    void relinkBlock(UniverseBlock* b);
    void checkBonds(UniverseBlock* b);
    void wakeBlocks(UniverseBlock* b, unsigned mask, WakeTarget target);
    // Mean position of all parts; false (and nothing written) when there are none.
    bool centroid(double& x, double& y, double& z) const;
    void findMarker(int32_t& x, int32_t& y, int32_t& z) const;
    void writeBlocks(std::ostream& out) const;
    void cleanUp();

    // Block lookup without side effects (none when the block does not exist).
    UniverseBlock* findBlock(int32_t x, int32_t y, int32_t z) const;
    // Region entries, in file order; the universe owns them.
    RegionEntry* openRegion(const std::string& name, RegionEntry* parent);
    const std::vector<std::unique_ptr<RegionEntry>>& regionEntries() const { return regions_; }

    // Every block in bucket order, then chain order.
    template <class F>
    void forEachBlock(F&& f) const {
        for (uint32_t i = 0; i < kBuckets; ++i)
            for (UniverseBlock* b = bucketHead_[i]; b; b = b->chainNext) f(b);
    }
    size_t blockCount() const { return blockCount_; }
    size_t partCount() const;
    // Bytes of persistent storage: blocks (free ones included), extras, the
    // lookup table and the bucket chains.
    size_t storageBytes() const;
    // Bytes of the per-generation worklists, claims and scratch records;
    // they scale with how much a generation touches, not with the universe.
    size_t worklistBytes() const;
    size_t memoryBytes() const { return storageBytes() + worklistBytes(); }

    // Clears every cell's binding for which pred(channel) is true.
    void clearTerminalBindings(const std::function<bool(StimulusChannel*)>& pred);

    // ---- the generation update
    void evaluatePhase();
    void movePhase();
    void commitPhase();
    void finishGeneration();
    // The four phases back to back. With helpers, a generation whose rules
    // are all signal rules runs as three shared passes (the commit and the
    // list swap folded into the last), with the same results.
    void stepGeneration();
    void requestMove(int32_t direction, int32_t x, int32_t y, int32_t z);

    // Threads that evaluate phase 1 (1 = the calling thread alone). Results
    // are the same for every count. Call between generations only.
    void setThreads(int count);
    int threads() const { return threads_; }
    // Phase-1 tuning, so that tests can run the separate signal pass on
    // small universes: below `signalPassMinimum` listed blocks (per thread,
    // with helpers) there is none, and with `storageOrderAlways` it runs in
    // storage order whatever the share of active blocks.
    size_t signalPassMinimum = 1024;
    bool storageOrderAlways = false;
    // How often the threads built the next list without the ordered walk,
    // and how often they moved the blocks to spatial order (for tests and
    // benchmarks: both change timing only).
    uint64_t keyedWalks = 0;
    uint64_t relocations = 0;

    // Debug check: rebuilds list flags, links, neighbour pointers, rule
    // classes, chain and table membership from scratch and compares them
    // with the kept ones.
    // Returns an empty string when everything agrees, else a description.
    std::string verifyConsistency() const;

    // Recomputes every derived structure (occupied masks, rule classes, bucket
    // tails, the block count, the lookup table and neighbour pointers) from the stored
    // ones: the bucket chains and the cell columns. Anything that replaces
    // stored state wholesale (a checkpoint restore) goes through here.
    void rebuildCaches();

    // List views for tests and tools.
    const std::vector<UniverseBlock*>& currentList() const { return *current_; }
    const std::vector<UniverseBlock*>& nextList() const { return *next_; }
    const std::vector<UniverseBlock*>& moveList() const { return moveList_; }
    const std::vector<UniverseBlock*>& commitList() const { return commitList_; }

    static constexpr int64_t kCoordinateLimit = 1000000000;
    static bool inCoordinateRange(int64_t x, int64_t y, int64_t z) {
        return x >= -kCoordinateLimit && x <= kCoordinateLimit && y >= -kCoordinateLimit && y <= kCoordinateLimit &&
               z >= -kCoordinateLimit && z <= kCoordinateLimit;
    }
    // True when every cell of the block and every cell one step from it lie
    // within the edge, so that no step from the block needs the test above.
    static bool farFromEdge(const UniverseBlock* b) {
        const int64_t x = b->originX, y = b->originY, z = b->originZ;
        return x - 1 >= -kCoordinateLimit && x + 2 <= kCoordinateLimit && y - 1 >= -kCoordinateLimit &&
               y + 2 <= kCoordinateLimit && z - 1 >= -kCoordinateLimit && z + 3 <= kCoordinateLimit;
    }
    static constexpr int64_t kLatticeBound = int64_t(1) << 30;
    static bool inLattice(int64_t x, int64_t y, int64_t z) {
        return x >= -kLatticeBound && x <= kLatticeBound && y >= -kLatticeBound && y <= kLatticeBound &&
               z >= -kLatticeBound && z <= kLatticeBound;
    }

    static int32_t floorDiv(int32_t a, int32_t b) {
        int32_t q = a / b;
        return (a % b != 0 && (a < 0)) ? q - 1 : q;
    }
    static int slotOf(int32_t x, int32_t y, int32_t z) {
        return int(x - int64_t(floorDiv(x, 2)) * 2) * 6 + int(y - int64_t(floorDiv(y, 2)) * 2) * 3 +
               int(z - int64_t(floorDiv(z, 3)) * 3);
    }
    static uint32_t bucketOf(int32_t bx, int32_t by, int32_t bz) {
        uint32_t key = ((uint32_t(by) + 30u) << 10) ^ ((uint32_t(bx) + 30u) << 5) ^ (uint32_t(bz) + 30u);
        return key % kBuckets;
    }

private:
    friend class UniverseCheckpoint;
    struct Scratch;
    struct SignalPool;
    friend struct SignalPool;

    UniverseBlock* blockAt(int32_t x, int32_t y, int32_t z, bool create);
    UniverseBlock* createBlock(int32_t bx, int32_t by, int32_t bz);
    void destroyBlock(UniverseBlock* b);
    void enlistForUpdate(UniverseBlock* b);
    Scratch& scratchOf(UniverseBlock* b);
    CellRef neighbourCell(CellRef c, int d) const;
    // The cell next to c in direction d, reached through block neighbours;
    // creates the block when asked to (as a lookup for update would).
    CellRef stepCell(CellRef c, int d, bool create);
    void requestMoveAt(int32_t direction, CellRef target);
    void unlinkCell(CellRef c);
    bool applyRule(UniverseBlock* b, int slot);
    bool claimCell(CellRef q, CellRef source, int32_t request, uint8_t& yielded);

    // lookup table (open addressing, linear probing)
    void tableInsert(UniverseBlock* b);
    void tableErase(UniverseBlock* b);
    void tableGrow();
    size_t tableIndex(int32_t bx, int32_t by, int32_t bz) const;

    std::vector<UniverseBlock*> bucketHead_;
    std::vector<UniverseBlock*> bucketTail_;
    // One word per entry: the block pointer, with the top 16 bits of the
    // key's hash in the pointer's unused top bits, so that a probe touches a
    // block only when the tags match. (Should the system ever hand out
    // addresses that use those bits, the table drops the tags: `tagged_`.)
    struct TableEntry {
        uintptr_t word = 0;
    };
    static constexpr int kTagShift = 48;
    static constexpr uintptr_t kAddressBits = (uintptr_t(1) << kTagShift) - 1;
    bool tagged_ = true;
    UniverseBlock* entryBlock(const TableEntry& e) const {
        return reinterpret_cast<UniverseBlock*>(tagged_ ? e.word & kAddressBits : e.word);
    }
    UniverseBlock* tableBlock(size_t i) const { return entryBlock(table_[i]); }
    TableEntry makeEntry(uint64_t hash, UniverseBlock* b) const {
        const uintptr_t p = reinterpret_cast<uintptr_t>(b);
        return TableEntry{tagged_ ? p | uintptr_t(hash >> kTagShift << kTagShift) : p};
    }
    size_t homeOf(const TableEntry& e) const;
    std::vector<TableEntry> table_;
    size_t tableMask_ = 0;
    size_t blockCount_ = 0;

    std::vector<UniverseBlock*> lists_[2];
    std::vector<UniverseBlock*>* current_;
    std::vector<UniverseBlock*>* next_;
    std::vector<UniverseBlock*> moveList_;
    std::vector<UniverseBlock*> commitList_;

    std::vector<MoveRequest> moveRequests_;
    std::vector<Scratch> scratch_;
    size_t scratchUsed_ = 0;
    std::vector<UniverseBlock*> scratchOwners_;
    struct QueuedClaim {
        CellRef from;
        int8_t direction;  // -1: `from` itself is the cell to claim
    };
    std::vector<QueuedClaim> queue_;  // move-claim FIFO

    std::vector<std::unique_ptr<RegionEntry>> regions_;

    // The helper threads (threads_ - 1 of them) and the passes they share.
    int threads_ = 1;
    std::unique_ptr<SignalPool> pool_;
    // Passes that helpers share out. The signal passes evaluate the signal
    // cells of every block on the current list, either in list order or,
    // when most stored blocks are active, in storage order (which the memory
    // system can follow); they leave each block's wake mask in the spare
    // high bits of its listFlags, where the ordered walk takes it. The
    // commit pass commits the blocks of the commit list that hold no moves
    // or turns (their commit is a plain copy) ahead of the ordered walk.
    // The keyed passes build the next list without the ordered walk (see
    // Threads above): WakeKeys gives each stored block its smallest waking
    // key, WakeRanks turns keys into next-list positions and sets the
    // flags (WakeRanksCommitted also commits and leaves the flags of the
    // generation's end, for a whole generation in one go); StorageCommits
    // commits every block on the commit list when none holds claims or
    // turns; Promote moves the next list's flags to current.
    enum class Pass { ListSignals, StorageSignals, Commits, WakeKeys, WakeRanks, WakeRanksCommitted, StorageCommits, Promote };
    void runPass(Pass pass, size_t share, size_t begin, size_t end);
    UniverseBlock* blockAtStorage(size_t k) const { return chunks_[k / kChunkBlocks].get() + k % kChunkBlocks; }
    bool evaluate(bool wholeGeneration);
    bool keyedWalk(bool wholeGeneration);
    void endGeneration();
public:
    // The storage indices [begin, end) of one share of a storage-order pass.
    struct Span {
        size_t begin, end;
    };
    // What one share of a pass leaves for the others (its own cache lines).
    struct alignas(64) ShareState {
        uint32_t ordered = 0;          // signal pass: an ordered cell was seen
        size_t woken = 0;              // WakeKeys: blocks given a key
        std::vector<uint64_t> keys;    // WakeKeys: bit per key of this share's blocks
        std::vector<uint64_t> merged;  // WakeRanks: the union of every share's bits
        std::vector<uint32_t> below;   // WakeRanks: keys before each word of `merged`
    };
    static constexpr uint32_t kNoKey = ~0u;
    static constexpr size_t kChunkBlocks = 512;

private:
    // Shares of storage for the storage-order passes: contiguous ranges of
    // storage, cut where few neighbour pairs straddle the cut (the cache
    // lines of such pairs move between the cores every pass), within a
    // tenth of an even split of the listed blocks. Rebuilt when blocks were
    // created since, once none has been for kPartitionGap generations (and
    // not more often than that); until then the passes split storage
    // evenly, which is as exact, only slower.
    std::vector<size_t> shareCuts_;           // shares + 1 storage indices
    uint64_t blockEpoch_ = 0;                 // counts block creations and rebuilds
    uint64_t partitionEpoch_ = ~uint64_t(0);  // blockEpoch_ when shareCuts_ was chosen
    uint32_t partitionGeneration_ = 0;
    uint32_t lastCreation_ = 0;  // generation of the last block creation
    bool partitionBuilt_ = false;
    bool usePartition_ = false;  // for the pass being run (published by the pool)
    static constexpr uint32_t kPartitionGap = 256;
    bool partitionCurrent() const {
        return partitionBuilt_ && partitionEpoch_ == blockEpoch_ && shareCuts_.size() == shareState_.size() + 1 &&
               shareCuts_.back() == chunks_.size() * kChunkBlocks;
    }
    void preparePartition();
    void relocateSpatially();
    void dropPartition() { partitionBuilt_ = false; }
    Span spanOf(size_t share, size_t begin, size_t end) const {
        if (usePartition_) return Span{shareCuts_[share], shareCuts_[share + 1]};
        return Span{begin, end};
    }
    void runStored(Pass pass, size_t stored);
    template <class F>
    void forSpan(const Span& span, F&& f);

    std::vector<ShareState> shareState_;
    std::vector<uint32_t> wakeKey_;  // by storage index; kNoKey when not woken
    size_t keyWords_ = 0;
    // Size of the next list when the keyed walk wrote its positions; any
    // other append changes it, and then phase 4 writes them itself.
    size_t positionedNext_ = ~size_t(0);
    // Phase 1's staging buffer for wake enlists (see evaluatePhase).
    static constexpr size_t kWakeStage = 1024;
    std::vector<UniverseBlock*> wakeStage_;
    // Stand in for unwanted wake candidates; every list flag is set, so
    // they are never appended. Not part of the universe.
    UniverseBlock wakeSinks_[7];

    // Block storage: blocks come from chunks and go back to a free list.
    std::vector<std::unique_ptr<UniverseBlock[]>> chunks_;
    UniverseBlock* freeBlocks_ = nullptr;
    UniverseBlock* allocBlock();
    void freeBlock(UniverseBlock* b);
};
