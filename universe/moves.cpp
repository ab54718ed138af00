// Phase 2 (claims, moves and turns) and phase 3 (the commit).
//
// A move claims its cells first-in first-out from a queue, not by
// recursion, because the claim order decides which of two meeting requests
// wins and when a missing block is created (creation appends to every
// list, and list order is observable). The claim state lives in scratch
// records that a block borrows for one generation, since only touched
// cells need it. A block without claims or turns commits by one copy of
// its signals, which is why the helper threads can commit such blocks
// ahead of the serial walk.
#include <algorithm>

#include "universe/universe.h"
#include "universe/universe_internal.h"

using namespace universe_detail;

// A generation that moves much of the machine (the first after a load
// claims in most blocks) needs a record for most blocks at once. Grown by
// doubling, the records would be copied and their pages faulted in again
// at each step; the stored blocks bound what one generation needs (but for
// blocks it creates). The records live on large pages (chunk_slabs.h): a
// first touch then costs a fault per 2 MiB, not per 4 KiB, and capacity
// never touched costs no memory.
void Universe::addScratch() {
    if (scratch_.size() == scratch_.capacity()) scratch_.reserve(std::max(scratch_.size() * 2, blockCount_ + 64));
    scratch_.emplace_back();
}

// The borrowing itself is rare (once per block and generation), so it
// stays out of line and the common case inlines into the claim loop.
Universe::Scratch& Universe::borrowScratch(UniverseBlock* b) {
    // The record takes the place of the block's list position.
    positionedNext_ = ~size_t(0);
    if (scratchUsed_ == scratch_.size()) addScratch();
    b->scratch = int32_t(scratchUsed_++);
    scratch_[b->scratch].reset();
    scratchOwners_.push_back(b);
    return scratch_[b->scratch];
}

bool Universe::claimCell(CellRef q, int32_t request, uint8_t& yielded) {
    yielded = 0;
    Scratch& sc = scratchOf(q.block);
    const int32_t held = sc.moveRequest[q.slot];
    if (held == request) return true;
    const int32_t k = moveRequests_[request].direction;
    if (held >= 0 && moveRequests_[held].direction != k) {
        moveRequests_[held].blocked = 1;
        return false;
    }
    sc.moveRequest[q.slot] = request;
    sc.busySlots = uint16_t(sc.busySlots | (1u << q.slot));
    const CellCore c = q.core();
    if (c.type != 0) yielded = uint8_t((c.bonds & 63) | (1u << k));
    return true;
}

// Whether the claim of cell n by `request` is held or queued already; if
// not, it is marked queued (when its block has a record to mark it in).
// Such a claim would change nothing when it came up: a held cell yields
// nothing, its block and its source's block were enlisted (or made) when
// it was first claimed, its position passed the edge test then, and a
// queued duplicate comes up only after the first entry, which either
// stopped the request or left the cell held. So skipping it leaves every
// list, claim and block exactly as they would be.
bool Universe::claimPending(CellRef n, int32_t request) {
    if (!n.block || n.block->scratch < 0) return false;
    Scratch& sc = scratch_[n.block->scratch];
    if (sc.moveRequest[n.slot] == request) return true;
    if (sc.queuedFor != request) {
        sc.queuedFor = request;
        sc.queuedSlots = 0;
    }
    const uint16_t bit = uint16_t(1u << n.slot);
    if (sc.queuedSlots & bit) return true;
    sc.queuedSlots = uint16_t(sc.queuedSlots | bit);
    return false;
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
    ++changeEpoch_;
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
        // The source (the cell behind) is not kept: phase 2 finds it again
        // from the claim's direction. Its block must exist and be enlisted
        // now all the same.
        const CellRef source = stepCell(q, back, true);
        if (source.block != q.block) enlistForUpdate(source.block);
        uint8_t yielded;
        if (!claimCell(q, request, yielded)) {
            moveRequests_[request].blocked = 1;
            break;
        }
        for (unsigned m = yielded; m; m &= m - 1) {
            const int d = __builtin_ctz(m);
            const CellRef n = neighbourCell(q, d);
            if (claimPending(n, request)) continue;
            queue_.push_back(QueuedClaim{q, int8_t(d)});
            // A block that its claim will create reads its table slots and
            // bucket; ask for them now, while the claims ahead are done.
            if (!n.block) {
                int32_t bx, by, bz;
                blockCoords(q.block, bx, by, bz);
                prefetchPlace(bx + directionTable.dx[d], by + directionTable.dy[d], bz + directionTable.dz[d]);
            }
        }
    }
}

// Phases 2 and 3 walk lists whose blocks and claim records were last
// touched in phase 1, long enough ago on a large machine for them to have
// left the cache, and each step's addresses come from the step before
// (list, block, record). So fetch the block a few entries ahead (its list
// flags, its record index and, for the commit, its signals), and the
// record of one whose index has arrived by now.
void Universe::prefetchClaimWalk(const std::vector<UniverseBlock*>& list, size_t i, bool withOutputs) const {
    constexpr size_t kBlockAhead = 8, kRecordAhead = 4;
    if (i + kBlockAhead < list.size()) {
        const char* p = reinterpret_cast<const char*>(list[i + kBlockAhead]);
        prefetchLine(p);
        prefetchLine(&list[i + kBlockAhead]->scratch);
        if (withOutputs) prefetchLine(list[i + kBlockAhead]->cells.outputs);
    }
    if (i + kRecordAhead < list.size()) {
        const UniverseBlock* b = list[i + kRecordAhead];
        const int32_t r = b->scratch;
        if (r >= 0) {
            const char* p = reinterpret_cast<const char*>(&scratch_[size_t(r)]);
            prefetchLine(p);
            prefetchLine(p + 64);
            // A block with claims mostly commits a move, which relinks its
            // cells and wakes its neighbours: both read their list flags.
            if (withOutputs)
                for (const UniverseBlock* n : b->neighbour)
                    if (n) prefetchLine(n);
        }
    }
}

// linkCell for a cell that took over a move, inline in the commit loop:
// the same enlists in the same order, and the cell's links written once.
inline void Universe::relinkMoved(UniverseBlock* b, int s) {
    uint8_t links = 0;
#pragma GCC unroll 6
    for (int d = 0; d < 6; ++d) {
        const NeighbourSlot& n = neighbourSlots.at[s][d];
        UniverseBlock* nb = neighbourBlock(b, n, d);
        if (!nb) continue;
        enlistForUpdate(nb);
        links = uint8_t(links | (1u << d));
        nb->cells.links[n.slot] = uint8_t(nb->cells.links[n.slot] | (1u << directionTable.opposite[d]));
    }
    b->cells.links[s] = links;
}

void Universe::movePhase() {
    for (size_t i = 0; i < moveList_.size(); ++i) {
        UniverseBlock* b = moveList_[i];
        prefetchClaimWalk(moveList_, i, false);
        bool turned = false;
        if (b->scratch >= 0) {
            Scratch& sc = scratch_[b->scratch];
            for (unsigned m = sc.busySlots; m; m &= m - 1) {
                const int s = __builtin_ctz(m);
                const uint16_t bit = uint16_t(1u << s);
                const int32_t r = sc.moveRequest[s];
                if (r >= 0 && !moveRequests_[r].blocked) {
                    // The source is the cell behind along the request's way;
                    // its block was made when the cell was claimed.
                    const int k = moveRequests_[r].direction;
                    const int back = directionTable.opposite[k];
                    const NeighbourSlot& n = neighbourSlots.at[s][back];
                    UniverseBlock* sb = neighbourBlock(b, n, back);
                    const int ss = n.slot;
                    bool carried = false;
                    if (sb && sb->scratch >= 0) {
                        const int32_t sr = scratch_[sb->scratch].moveRequest[ss];
                        carried = sr >= 0 && moveRequests_[sr].direction == k;
                    }
                    if (carried) {
                        b->setField(s, WInFront, sb->front(ss));
                        b->setField(s, WInSide, sb->side(ss));
                        b->setField(s, WInUp, sb->up(ss));
                        const uint8_t type = sb->cells.type[ss];
                        sc.incomingType[s] = type;
                        if (type == kEscape || sb->extras) {
                            sc.incomingWideType[s] = sb->partType(ss);
                            sc.incomingRegion[s] = sb->region(ss);
                            sc.incomingTerminalBinding[s] = sb->terminalBinding(ss);
                            sc.extraSlots = uint16_t(sc.extraSlots | bit);
                        } else {
                            sc.extraSlots = uint16_t(sc.extraSlots & ~bit);
                        }
                        sc.incomingNextOutputs[s] = sb->cells.nextOutputs[ss];
                        sc.incomingBonds[s] = sb->cells.bonds[ss];
                    } else {
                        sc.incomingType[s] = 0;
                        sc.incomingBonds[s] = 0;
                        sc.incomingNextOutputs[s] = 0;
                        sc.extraSlots = uint16_t(sc.extraSlots & ~bit);
                    }
                }
                if (((sc.turnSlots >> s) & 1) && sc.rotatePending[s]) {
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
        // (Every block here is on the commit list too: it leaves its
        // lists at the commit, which notes it for the sweep.)
        if (turned) wakeBlocks(b, kAllFaces, WakeTarget::Next);
    }
    moveList_.clear();
}

void Universe::commitPhase() {
    // With helpers, the blocks without moves or turns are committed first,
    // in parallel: their commit only copies their own signals, and clearing
    // their flag early changes nothing that outlives this phase (a relink
    // below may put such a block on the list again, and committing it twice
    // copies the same signals twice).
    const bool many = sharedPassPays(commitList_.size());
    // With no claims or turns at all, every commit is that copy, in any
    // order: done in storage order, the threads keep to their own blocks.
    if (many && scratchOwners_.empty() && storageOrderPays(commitList_.size())) {
        runStored(Pass::StorageCommits, storedBlocks());
        commitList_.clear();
        scratchUsed_ = 0;
        return;
    }
    const size_t copied = many ? commitList_.size() : 0;
    if (copied) pool_->run(Pass::Commits, copied);
    for (size_t i = 0; i < commitList_.size(); ++i) {
        UniverseBlock* b = commitList_[i];
        prefetchClaimWalk(commitList_, i, true);
        if (i < copied && b->scratch < 0) continue;
        bool moved = false;
        if (b->scratch >= 0) {
            Scratch& sc = scratch_[b->scratch];
            // The claims and pending turns end here: a block that relinking
            // puts back on the commit list later in this walk commits
            // signals only. (Relinking touches links and lists, never
            // signals, so the signals can be copied after the loop.)
            const unsigned busy = sc.busySlots, turns = sc.turnSlots;
            sc.busySlots = sc.turnSlots = 0;
            for (unsigned m = turns; m; m &= m - 1) sc.rotatePending[__builtin_ctz(m)] = 0;
            for (unsigned m = busy; m; m &= m - 1) {
                const int s = __builtin_ctz(m);
                const int32_t r = sc.moveRequest[s];
                sc.moveRequest[s] = -1;
                if (r >= 0 && !moveRequests_[r].blocked) {
                    CellCore c = b->cells[s];
                    const bool extra = (sc.extraSlots >> s) & 1;
                    c.nextOutputs = sc.incomingNextOutputs[s];
                    b->setRegion(s, extra ? sc.incomingRegion[s] : nullptr);
                    c.bonds = sc.incomingBonds[s];
                    StimulusChannel* binding = extra ? sc.incomingTerminalBinding[s] : nullptr;
                    b->setTerminalBinding(s, binding);
                    if (binding && moveTerminal && moveTerminal(binding, moveRequests_[r].direction)) {
                        trackedMoved = 1;
                        trackedDirection = moveRequests_[r].direction;
                    }
                    const uint8_t type = sc.incomingType[s];
                    movedParts += type != 0;
                    b->setPart(s, type != kEscape ? int32_t(type) : sc.incomingWideType[s],
                               c.inFront != kEscape ? c.inFront : b->field(s, WInFront),
                               c.inSide != kEscape ? c.inSide : b->field(s, WInSide),
                               c.inUp != kEscape ? c.inUp : b->field(s, WInUp));
                    relinkMoved(b, s);
                    moved = true;
                }
            }
        }
        commitSignals(b);
        b->listFlags &= ~uint32_t(OnCommit);
        if (moved)
            wakeInto(b, kAllFaces, *next_, OnNext);
        else
            noteLeft(b);
    }
    commitList_.clear();
    // Claims and pending turns end with the commit.
    for (UniverseBlock* b : scratchOwners_) b->scratch = -1;
    scratchOwners_.clear();
    scratchUsed_ = 0;
}
