// The sparse universe: the block hash, the worklists and the generation
// update. A block's cells and rule classes: block.h.
//
// Layout
//   A block (2 x 2 x 3 cells, block.h) is created on first touch and
//   removed only by the periodic clean-up.
//   Blocks are threaded on two structures:
//   * 99991 bucket chains keyed by a deliberately weak hash. The chains are
//     never used for lookup; they exist because their order (bucket, then
//     insertion within the chain) is the order of saving, of the load passes,
//     of the marker search and of the clean-up, and those orders are visible
//     in results. Each bucket keeps a tail pointer so appends are O(1).
//   * an open-addressing table keyed by block coordinates for O(1) lookup;
//     an entry is one word, the block pointer with a 16-bit hash tag in its
//     unused top bits (the table is a sizeable share of a large universe's
//     memory). Lookups land anywhere in it, so once large it takes huge
//     pages of its own (chunk_slabs.h), and a new block asks for all seven
//     slots it reads before reading the first. The husk sweep and the
//     clean-up size it anew, but keep a table up to four times the size
//     needed: movers grow it again within a few dozen generations.
//   Each block also keeps pointers to its six face-neighbour blocks, so rules
//   and waking never hash.
//
// Threads
//   setThreads(n) starts n - 1 helper threads, the pool. They run passes:
//   a loop cut into one contiguous share per thread (the calling thread
//   takes the first), with one barrier at its end. A pass writes only its
//   own share's blocks or state, and what it computes does not depend on
//   where the cuts lie, so the results are the same for every thread
//   count. Phases 1, 3 and 4 use the pool. With L blocks on the list in
//   question, T threads and S = storedBlocks() (every block of every chunk,
//   free ones included):
//   * Signals (phase 1). The signal rules read nothing that phase 1
//     changes, so they can run ahead of the ordered walk, which then only
//     collects their wake masks. There is no such pass below
//     signalPassMinimum listed blocks. Otherwise it runs in storage order
//     when storageOrderPays(L) (3L >= S, or storageOrderAlways): on every
//     thread when the generation shares; on the calling one alone only
//     when fewer than half the blocks the last walk visited had ordered
//     cells (the walk reads those whole anyway, so a second sweep over
//     storage would cost more than it saves); else in list order on
//     every thread when sharedPassPays(L) (T > 1 and
//     L >= signalPassMinimum * T); else not at all.
//   * The keyed walk replaces the serial ordered walk right after a
//     storage-order signal pass on T > 1 threads, when no listed block has
//     an ordered cell, the next, commit and move lists are empty, no
//     scratch record is out, and L < 2^21 (the list position must fit
//     beside the wake mask). The walk would then only enlist, and a block
//     lands on the next list at the first (list index, candidate) pair that
//     wakes it; so the threads give each block its smallest such key
//     (WakeKeys) and its rank among all keys (WakeRanks). From
//     stepGeneration the commit and the list swap are folded into the rank
//     pass: three passes and no serial walk for the whole generation.
//   * Commit (phase 3), when sharedPassPays(C) for the C blocks on the
//     commit list: if no block holds claims or turns and
//     storageOrderPays(C), every commit in storage order; otherwise the
//     threads first commit, in list order, the blocks without claims or
//     turns (a copy of their signals), and the serial walk the rest.
//   * Promote (phase 4), when T > 1, the keyed walk wrote the next list's
//     positions and nothing was appended since (this happens only when the
//     phases are called one by one), and storageOrderPays(N) for the N
//     blocks on the next list: the list flags move in storage order.
//
// Storage order
//   A storage-order pass cuts storage into contiguous ranges, one per
//   thread. So that a range is a compact piece of space (a neighbour owned
//   by another thread is a cache line moving between the cores every
//   pass), preparePartition moves every block, on the calling thread, into
//   fresh storage sorted along the universe's longest axis, and places the
//   cuts where few neighbour pairs straddle them, within a tenth of an even
//   split of the listed blocks. It does so before a storage-order signal
//   pass on T > 1 threads whose cuts are out of date: at once when there
//   are none (the first such pass, and after setThreads or a checkpoint
//   exchange dropped them); after a block was created or rebuildCaches
//   ran, only once no block has been created for 256 generations and the
//   last move is 256 generations old, so that movers (which create blocks
//   all the time) do not pay for move after move. Until then the passes
//   cut storage evenly: the same results, only slower. Nothing else sees
//   storage order.
//
// Transient move state
//   The move claim and incoming fields live for one generation only and
//   only for touched cells, so they sit in a scratch record that a block
//   borrows from a pool while it has claims or turns (universe_internal.h:
//   the claim's source is not kept, it is the cell one step behind along
//   the request's way; slot masks say which slots have work). A move skips
//   queuing a claim of a cell it holds or has queued already, which would
//   change nothing. The pools, queues and
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
// Husks
//   Movers leave empty blocks behind them by the hundred each generation,
//   and the clean-up removes them only every kCleanUpPeriod generations.
//   Between generations (every kSweepPeriod generations) a sweep turns
//   every block that is empty, on no list, without extras and whose face
//   neighbours are all such blocks, missing or husks (dormant blocks), into
//   a husk (husks.h): off the chains, the table and storage, kept in the
//   husk store with its chain sequence number and cells. A block becomes
//   dormant only where it leaves its last list (at the commit) or comes
//   back from a husk, and it can newly qualify only then or when a
//   neighbour does; so the sweep looks only at the blocks noted there (the
//   candidates, duplicates allowed) and their neighbours, and walks every
//   chain only after something the notes do not follow (a load, placing,
//   the clean-up, a checkpoint, the move to spatial order), and then only
//   when anything was created, moved or placed since the last sweep. Its neighbours' pointers to it become null,
//   and their huskSides bit for that face says why. A husk comes back as
//   the very block it was (same cells, same place in its chain, on no
//   list) before anything can tell the difference:
//   * a lookup by position that misses the table (blockAt, findBlock)
//     looks in the husk store;
//   * neighbourCell and stepCell, on a null face with its huskSides bit;
//   * a new block brings back its husk neighbours (it is listed at once);
//   * a block that is listed (enlistSome, wakeBlocks, the promotion of the
//     next list) brings back its husk neighbours first, so that no listed
//     block ever has a husk beside it: phase 1's signal lanes and wake
//     masks read the neighbour pointers of listed blocks without a test.
//   The keyed walk and the shared promotion, which list blocks on the
//   helpers, do not run while there are husks. The clean-up drops every
//   husk (each is empty and on no list, so it would go anyway) before its
//   walk. Writers see husks through forEachStoredBlock, merged into their
//   chains by chainSeq; everything that looks for parts uses forEachBlock.
//
// Sharing
//   Whether a second thread pays depends on the machine as much as on the
//   universe, so with passSharing Adaptive stepGeneration measures it,
//   with trials of generations run each way (sharing_choice.h). The two
//   ways compute the same results; only the time differs.
//
// Threading: the universe has no lock. Only the worker thread (and, inside
// a phase, its helpers) touches it during a generation; everything else goes
// through the document's pause handshake. The one exception is `pulseRequest`,
// a single byte.
//
// Files
//   universe.cpp        blocks, chains, the table, cell operations, placing,
//                       queries, writing, clean-up and rebuildCaches
//   block.cpp           a block's fields and rule classes (block.h)
//   generation.cpp      the phase sequence (stepGeneration) and phase 4
//   sharing_choice.cpp  whether a generation shares its passes (timed trials)
//   rules.cpp           phase 1: the part rules and the ordered walk
//   moves.cpp           phases 2 and 3: claims, moves, turns and the commit
//   pass_pool.cpp       the helper threads, their passes and the keyed walk
//   storage_order.cpp   the move to spatial order and the threads' cuts
//   chunk_slabs.*       the memory the block chunks come from
//   husks.cpp           the husk store; the sweep and the revival are in
//                       universe.cpp
//   consistency.cpp     verifyConsistency
//   signal_lanes*       the signal-cell kernels
//   universe_internal.h what these files share
//   checkpoint.*        exact snapshots; driver.* the worker thread
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "universe/block.h"
#include "universe/chunk_slabs.h"
#include "universe/husks.h"
#include "universe/sharing_choice.h"
#include "universe/directions.h"

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
    // Blocks per storage chunk.
    static constexpr size_t kChunkBlocks = 512;

    Universe();
    ~Universe();
    Universe(const Universe&) = delete;
    Universe& operator=(const Universe&) = delete;

    // ---- state visible to the rest of the system
    // The pulse the rules read (PulseInput parts); set between generations,
    // cleared at the end of every generation.
    std::atomic<uint8_t> inputPulse{0};
    // The view's K key, written at any time: taken into inputPulse at the
    // start of the next generation, so that a whole generation sees the
    // pulse (a store in the middle of phase 1 would reach only the parts
    // after it) and a timeline can record it. A timeline takes it itself
    // and says so here (at every generation start), so that no request
    // escapes its record.
    std::atomic<uint8_t> pulseRequest{0};
    bool pulseRequestsTakenOutside = false;
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

    // Block lookup without effects on the lists (none when the block does
    // not exist; a husk comes back as its block).
    UniverseBlock* findBlock(int32_t x, int32_t y, int32_t z) const;
    // The same, but null for a husk, which it leaves as it is: for whoever
    // looks only for parts (a husk holds none), such as a ray picking a
    // part, which would otherwise bring back every husk it crosses.
    UniverseBlock* findPartBlock(int32_t x, int32_t y, int32_t z) const;
    // Region entries, in file order; the universe owns them.
    RegionEntry* openRegion(const std::string& name, RegionEntry* parent);
    const std::vector<std::unique_ptr<RegionEntry>>& regionEntries() const { return regions_; }

    // Every block but the husks (which hold no part), in bucket order, then
    // chain order.
    template <class F>
    void forEachBlock(F&& f) const {
        for (uint32_t i = 0; i < kBuckets; ++i)
            for (UniverseBlock* b = bucketHead_[i]; b; b = b->chainNext) f(b);
    }
    // Every block, husks included, in bucket order, then chain order: what
    // is saved. A husk is handed over as a temporary block, valid only
    // during the call.
    template <class F>
    void forEachStoredBlock(F&& f) const;
    // Blocks, husks included.
    size_t blockCount() const { return blockCount_ + husks_.size(); }
    size_t huskCount() const { return husks_.size(); }
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

    // Threads that run the shared passes of phases 1, 3 and 4 (1 = the
    // calling thread alone; see Threads above). Results are the same for
    // every count. Call between generations only. A change drops the
    // storage cuts, so the next storage-order signal pass moves the blocks.
    void setThreads(int count);
    int threads() const { return threads_; }
    // Pass tuning, so that tests can run the shared passes on small
    // universes: below `signalPassMinimum` listed blocks there is no signal
    // pass, and a list-order pass (signals, commits) is shared only from
    // that many blocks per thread (sharedPassPays); with
    // `storageOrderAlways` every pass that can run in storage order does,
    // whatever the share of active blocks (storageOrderPays).
    size_t signalPassMinimum = 1024;
    bool storageOrderAlways = false;
    // Whether the passes above may run on the helpers. Adaptive (the
    // default) times generations run each way now and then and keeps the
    // faster way (see Sharing below); Always and Never fix it, Alternate
    // switches every generation (tests: the switch itself must change
    // nothing). Without helpers every choice is the calling thread alone.
    enum class PassSharing { Adaptive, Always, Never, Alternate };
    PassSharing passSharing = PassSharing::Adaptive;
    // Generations that stepGeneration ran with the helpers allowed (for
    // tests and benchmarks).
    uint64_t sharedGenerations = 0;
    // Parts that moved into another cell, counted at the commit (for
    // benchmarks: time per moved part).
    uint64_t movedParts = 0;
    // How often the threads built the next list without the ordered walk,
    // and how often the blocks were moved to spatial order (for tests and
    // benchmarks: both change timing only).
    uint64_t keyedWalks = 0;
    uint64_t relocations = 0;
    // How often the threads' cuts were moved to even out their times.
    uint64_t cutMoves = 0;
    // Tests: when nonzero, every round of balancing puts the cuts at
    // random places drawn from this seed instead of following the times
    // (any cuts must give the same results).
    uint64_t scrambleCuts = 0;
    // Changes whenever a block may have been freed or moved (the clean-up,
    // the move to spatial order, the husk sweep, a checkpoint read in), so that a reader
    // outside the engine may keep block pointers while it stays the same.
    uint64_t layoutEpoch() const { return layoutEpoch_; }

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
    uint64_t layoutEpoch_ = 0;
    friend class UniverseCheckpoint;
    struct Scratch;
    struct PassPool;
    friend struct PassPool;

    UniverseBlock* blockAt(int32_t x, int32_t y, int32_t z, bool create);
    // Husks (see Husks above).
    // Two fields only the chains and the husks need live beside the blocks
    // of their chunk rather than in them, so that a block stays within 224
    // bytes: chainSeq, its place in its bucket chain (increasing along
    // every chain, so that a husk that comes back finds its place among the
    // blocks), and huskSides, bit d set when the face neighbour d is a husk
    // (its pointer is null). Chunks are aligned to their size, so a block
    // finds its chunk's head from its own address. The head and the blocks
    // after it start at an offset (a few dozen cache lines) that the chunk's
    // address decides: with every chunk laid out alike, block i and the head
    // of every chunk would fall into the same cache sets. Only blocks of
    // chunks have a head (not the wake sinks or temporaries).
    struct ChunkHead {
        uint32_t chainSeq[kChunkBlocks];
        uint8_t huskSides[kChunkBlocks];
        uint8_t sweepMark[kChunkBlocks];  // zero but during a sweep
    };
    static constexpr size_t kChunkBytes = size_t(1) << 17;
    static constexpr size_t kLine = 64;
    static constexpr size_t kHeadBytes = (sizeof(ChunkHead) + kLine - 1) / kLine * kLine;
    static constexpr size_t kSpareLines = (kChunkBytes - kHeadBytes - kChunkBlocks * sizeof(UniverseBlock)) / kLine;
    static uintptr_t chunkBase(const UniverseBlock* b) {
        return reinterpret_cast<uintptr_t>(b) & ~uintptr_t(kChunkBytes - 1);
    }
    // Where the head of the chunk at `base` starts; successive chunks step
    // by 37 lines (prime to the spare count).
    static uintptr_t headStart(uintptr_t base) { return base + (base / kChunkBytes * 37 % kSpareLines) * kLine; }
    static ChunkHead& headOf(const UniverseBlock* b) { return *reinterpret_cast<ChunkHead*>(headStart(chunkBase(b))); }
    static size_t indexInChunk(const UniverseBlock* b) {
        const uintptr_t at = reinterpret_cast<uintptr_t>(b);
        return (at - headStart(chunkBase(b)) - kHeadBytes) / sizeof(UniverseBlock);
    }
    static uint32_t& chainSeq(const UniverseBlock* b) { return headOf(b).chainSeq[indexInChunk(b)]; }
    static uint8_t& huskSides(const UniverseBlock* b) { return headOf(b).huskSides[indexInChunk(b)]; }
    static uint8_t& sweepMark(const UniverseBlock* b) { return headOf(b).sweepMark[indexInChunk(b)]; }
    static constexpr uint32_t kSweepPeriod = 32;
    void sweepHusks();
    // The whole walk over every chain, and the sweep of the candidates
    // alone (see Husks above).
    void sweepEveryBlock();
    void sweepCandidates();
    static bool dormant(const UniverseBlock* b) { return b->listFlags == 0 && b->occupied == 0 && !b->extras; }
    // A block that left its last list empty (and so may be a husk now);
    // helpers keep theirs in their ShareState until the sweep.
    void noteLeft(UniverseBlock* b) {
        if (dormant(b)) sweepCandidates_.push_back(b);
    }
    // Forgets the candidates, so that the next sweep walks every block:
    // for whatever moves or frees blocks, or changes them without the
    // lists (placing, loading, the clean-up, a checkpoint).
    void sweepEverything();
    bool becomeHusk(UniverseBlock* b);
    struct ChainLane {
        uint32_t bucket;
        UniverseBlock* prev;   // the last block kept
        UniverseBlock* block;  // the block at hand
        bool fetched;          // what its step reads was asked for
    };
    template <class Start, class Step>
    void walkChainsInTurn(Start&& start, Step&& step);
    bool advanceLane(ChainLane& lane, bool drop);
    void dropSwept(const std::vector<UniverseBlock*>& swept);
    // The blocks a sweep made husks; kept between sweeps, as a moving crowd
    // makes tens of thousands a sweep and fresh pages are dear.
    std::vector<UniverseBlock*> swept_;
    std::vector<UniverseBlock*> sweepCandidates_;
    bool sweepAll_ = true;
    UniverseBlock* reviveHusk(int32_t bx, int32_t by, int32_t bz);
    UniverseBlock* reviveBeside(const UniverseBlock* b, int d);
    void reviveAround(UniverseBlock* b);
    // Gives every live block of every chain its place anew (0, 1, ...);
    // only without husks.
    void renumberChains();
    HuskStore husks_;
    uint64_t changeEpoch_ = 0;         // counts moves requested and parts placed
    uint64_t sweptAt_ = ~uint64_t(0);  // blockEpoch_ + changeEpoch_ at the last sweep
    UniverseBlock* createBlock(int32_t bx, int32_t by, int32_t bz);
    // A block from storage at (bx, by, bz), empty of parts and on no list;
    // its cells, chain place and extras are the caller's to set.
    UniverseBlock* startBlock(int32_t bx, int32_t by, int32_t bz);
    void destroyBlock(UniverseBlock* b);
    void enlistForUpdate(UniverseBlock* b);
    void enlistSome(UniverseBlock* b);
    Scratch& scratchOf(UniverseBlock* b);
    Scratch& borrowScratch(UniverseBlock* b);
    void addScratch();
    void prefetchClaimWalk(const std::vector<UniverseBlock*>& list, size_t i, bool withOutputs) const;
    void relinkMoved(UniverseBlock* b, int s);
    CellRef neighbourCell(CellRef c, int d) const;
    // The cell next to c in direction d, reached through block neighbours;
    // creates the block when asked to (as a lookup for update would).
    CellRef stepCell(CellRef c, int d, bool create);
    // The face neighbour d of b, made (stepCell's rare path).
    UniverseBlock* createBeside(UniverseBlock* b, int d);
    void requestMoveAt(int32_t direction, CellRef target);
    void unlinkCell(CellRef c);
    bool applyRule(UniverseBlock* b, int slot);
    void applyDrive(UniverseBlock* b, int slot);
    bool claimCell(CellRef q, int32_t request, uint8_t& yielded);
    bool claimPending(CellRef n, int32_t request);

    // lookup table (open addressing, linear probing)
    void tableInsert(UniverseBlock* b);
    void tableErase(UniverseBlock* b);
    void tableGrow();
    // An empty table sized for `blocks` entries at most 70% full (its old
    // memory goes back).
    void resetTable(size_t blocks);
    size_t tableIndex(int32_t bx, int32_t by, int32_t bz) const;
    // Asks for the table slots and bucket fields that creating block
    // (bx, by, bz) reads.
    void prefetchPlace(int32_t bx, int32_t by, int32_t bz) const;
    // The block beside block (bx, by, bz) in direction d, by lookup.
    UniverseBlock* blockBeside(int32_t bx, int32_t by, int32_t bz, int d) const {
        return tableBlock(tableIndex(bx + directionTable.dx[d], by + directionTable.dy[d], bz + directionTable.dz[d]));
    }

    std::vector<UniverseBlock*> bucketHead_;
    // A new block reads both (one cache line, not two).
    struct BucketEnd {
        UniverseBlock* tail = nullptr;
        uint32_t seq = 0;  // the next chainSeq of the bucket
    };
    std::vector<BucketEnd> bucketEnd_;
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
    // Its own huge pages once large: lookups land anywhere in it.
    using Table = std::vector<TableEntry, chunk_slabs::LargePages<TableEntry>>;
    Table table_;
    size_t tableMask_ = 0;
    size_t blockCount_ = 0;

    std::vector<UniverseBlock*> lists_[2];
    std::vector<UniverseBlock*>* current_;
    std::vector<UniverseBlock*>* next_;
    std::vector<UniverseBlock*> moveList_;
    std::vector<UniverseBlock*> commitList_;

    std::vector<MoveRequest> moveRequests_;
    std::vector<Scratch, chunk_slabs::LargePages<Scratch>> scratch_;
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
    std::unique_ptr<PassPool> pool_;
    // Passes that helpers share out. The signal passes evaluate the signal
    // cells of every block on the current list, either in list order or,
    // when most stored blocks are active, in storage order (which the memory
    // system can follow); they leave each block's wake mask in the spare
    // high bits of its listFlags, where the ordered walk takes it. The
    // commit pass commits the blocks of the commit list that hold no moves
    // or turns (their commit is a plain copy) ahead of the serial commit.
    // The keyed passes build the next list without the ordered walk (see
    // Threads above): WakeKeys gives each stored block its smallest waking
    // key, WakeRanks turns keys into next-list positions and sets the
    // flags (WakeRanksCommitted also commits and leaves the flags of the
    // generation's end, for a whole generation in one go); StorageCommits
    // commits every block on the commit list when none holds claims or
    // turns; Promote moves the next list's flags to current.
    enum class Pass { ListSignals, StorageSignals, Commits, WakeKeys, WakeRanks, WakeRanksCommitted, StorageCommits, Promote };
    void runPass(Pass pass, size_t share, size_t begin, size_t end);
    // runPass for one thread of a shared pass: a pass over the cuts is
    // timed for balanceCuts.
    void runShare(Pass pass, size_t share, size_t begin, size_t end);
    // Every block of every chunk, free ones included: what a storage-order
    // pass visits, and the range its storage indices cover.
    size_t storedBlocks() const { return chunks_.size() * kChunkBlocks; }
    // A storage-order pass visits every stored block, so it pays for a list
    // of n blocks only when they are at least a third of storage.
    bool storageOrderPays(size_t n) const { return storageOrderAlways || n * 3 >= storedBlocks(); }
    // A list-order pass on every thread pays from signalPassMinimum blocks
    // per thread.
    bool sharedPassPays(size_t n) const { return pool_ && shareNow_ && n >= signalPassMinimum * size_t(threads_); }
    // The helpers may take part in this generation's passes.
    bool sharing() const { return pool_ && shareNow_; }
    bool shareNow_ = true;
    // The last walk: blocks it visited, and those with ordered cells (a
    // timing hint for phase 1's signal pass, rules.cpp; no result reads it).
    size_t walked_ = 0, orderedWalked_ = 0;
    // Chooses, for the adaptive mode, whether a generation shares its
    // passes (sharing_choice.h).
    SharingChoice sharingChoice_;
    bool evaluate(bool wholeGeneration);
    void stepGenerationOnce();
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
        uint64_t busyNs = 0;           // time in storage-order passes over the cuts since the last balance
        std::vector<UniverseBlock*> left;  // commit passes: blocks that left their last list empty (noteLeft)
    };
    static constexpr uint32_t kNoKey = ~0u;
    // Block storage comes in chunks of kChunkBlocks blocks after their
    // ChunkHead, each aligned to kChunkBytes (see Husks in the private part).
    struct ChunkFree {
        void operator()(UniverseBlock* blocks) const;
    };
    using Chunk = std::unique_ptr<UniverseBlock[], ChunkFree>;
    static Chunk newChunk();

private:
    // Shares of storage for the storage-order passes: contiguous ranges of
    // storage, cut where few neighbour pairs straddle the cut (the cache
    // lines of such pairs move between the cores every pass), within a
    // tenth of an even split of the listed blocks. Out of date once a block
    // was created or the caches rebuilt; then rebuilt (with a move to
    // spatial order) once none has been created for kPartitionGap
    // generations and the last rebuild is that old, at once when there are
    // no cuts at all (see Storage order above). Until then the passes split
    // storage evenly, which is as exact, only slower. While they are
    // current, balanceCuts moves them to even out the shares' measured
    // times (a share's time follows its signal work, not its block count).
    std::vector<size_t> shareCuts_;           // shares + 1 storage indices
    uint64_t blockEpoch_ = 0;                 // counts block creations and rebuilds
    uint64_t partitionEpoch_ = ~uint64_t(0);  // blockEpoch_ when shareCuts_ was chosen
    uint32_t partitionGeneration_ = 0;
    uint32_t lastCreation_ = 0;  // generation of the last block creation
    bool partitionBuilt_ = false;
    bool usePartition_ = false;  // for the pass being run (published by the pool)
    static constexpr uint32_t kPartitionGap = 256;
    uint32_t balanceGeneration_ = 0;  // generation of the last balanceCuts
    static constexpr uint32_t kBalanceGap = 32;
    static constexpr double kBalanceMinNs = 2e5;  // less is noise
    bool partitionCurrent() const {
        return partitionBuilt_ && partitionEpoch_ == blockEpoch_ && shareCuts_.size() == shareState_.size() + 1 &&
               shareCuts_.back() == storedBlocks();
    }
    void preparePartition();
    void balanceCuts();
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
    std::vector<Chunk> chunks_;
    UniverseBlock* freeBlocks_ = nullptr;
    UniverseBlock* allocBlock();
    void freeBlock(UniverseBlock* b);
};

template <class F>
void Universe::forEachStoredBlock(F&& f) const {
    if (husks_.empty()) {
        forEachBlock(f);
        return;
    }
    struct Place {
        uint32_t bucket, seq, record;
    };
    std::vector<Place> husks;
    husks.reserve(husks_.size());
    husks_.forEach([&](int32_t bx, int32_t by, int32_t bz, uint32_t seq, uint32_t record) {
        husks.push_back(Place{bucketOf(bx, by, bz), seq, record});
    });
    std::sort(husks.begin(), husks.end(),
              [](const Place& a, const Place& b) { return a.bucket != b.bucket ? a.bucket < b.bucket : a.seq < b.seq; });
    UniverseBlock shell;
    size_t k = 0;
    for (uint32_t i = 0; i < kBuckets; ++i) {
        UniverseBlock* b = bucketHead_[i];
        for (;;) {
            if (k < husks.size() && husks[k].bucket == i && (!b || husks[k].seq < chainSeq(b))) {
                const Place& h = husks[k++];
                int32_t bx, by, bz;
                husks_.coordsOf(h.record, bx, by, bz);
                shell.originX = bx * 2;
                shell.originY = by * 2;
                shell.originZ = bz * 3;
                shell.cells = husks_.cellsOf(h.record);
                f(&shell);
            } else if (b) {
                f(b);
                b = b->chainNext;
            } else {
                break;
            }
        }
    }
}
