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
#include "universe/universe.h"
#include "universe/universe_internal.h"

using namespace universe_detail;

Universe::Scratch& Universe::scratchOf(UniverseBlock* b) {
    if (b->scratch < 0) {
        // The record takes the place of the block's list position.
        positionedNext_ = ~size_t(0);
        if (scratchUsed_ == scratch_.size()) scratch_.emplace_back();
        b->scratch = int32_t(scratchUsed_++);
        scratch_[b->scratch].reset();
        scratchOwners_.push_back(b);
    }
    return scratch_[b->scratch];
}

bool Universe::claimCell(CellRef q, CellRef source, int32_t request, uint8_t& yielded) {
    yielded = 0;
    Scratch& sc = scratchOf(q.block);
    const int32_t held = sc.moveRequest[q.slot];
    if (held == request) return true;
    if (held >= 0 && moveRequests_[held].direction != moveRequests_[request].direction) {
        moveRequests_[held].blocked = 1;
        return false;
    }
    sc.moveRequest[q.slot] = request;
    sc.sourceBlock[q.slot] = source.block;
    sc.sourceSlot[q.slot] = uint8_t(source.slot);
    const CellCore c = q.core();
    if (c.type != 0) yielded = uint8_t((c.bonds & 63) | (1u << moveRequests_[request].direction));
    return true;
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
        CellRef source = stepCell(q, back, true);
        if (source.block != q.block) enlistForUpdate(source.block);
        uint8_t yielded;
        if (!claimCell(q, source, request, yielded)) {
            moveRequests_[request].blocked = 1;
            break;
        }
        for (int d = 0; d < 6; ++d)
            if (yielded & (1u << d)) queue_.push_back(QueuedClaim{q, int8_t(d)});
    }
}

void Universe::movePhase() {
    for (size_t i = 0; i < moveList_.size(); ++i) {
        UniverseBlock* b = moveList_[i];
        bool turned = false;
        if (b->scratch >= 0) {
            for (int s = 0; s < 12; ++s) {
                Scratch& sc = scratch_[b->scratch];
                const int32_t r = sc.moveRequest[s];
                if (r >= 0 && !moveRequests_[r].blocked) {
                    UniverseBlock* sb = sc.sourceBlock[s];
                    const int ss = sc.sourceSlot[s];
                    bool carried = false;
                    if (sb->scratch >= 0) {
                        const int32_t sr = scratch_[sb->scratch].moveRequest[ss];
                        carried = sr >= 0 && moveRequests_[sr].direction == moveRequests_[r].direction;
                    }
                    if (carried) {
                        b->setField(s, WInFront, sb->front(ss));
                        b->setField(s, WInSide, sb->side(ss));
                        b->setField(s, WInUp, sb->up(ss));
                        sc.incomingType[s] = sb->partType(ss);
                        sc.incomingRegion[s] = sb->region(ss);
                        sc.incomingTerminalBinding[s] = sb->terminalBinding(ss);
                        sc.incomingNextOutputs[s] = sb->cells[ss].nextOutputs;
                        sc.incomingBonds[s] = sb->cells[ss].bonds;
                    } else {
                        sc.incomingType[s] = 0;
                        sc.incomingBonds[s] = 0;
                        sc.incomingNextOutputs[s] = 0;
                        sc.incomingRegion[s] = nullptr;
                        sc.incomingTerminalBinding[s] = nullptr;
                    }
                }
                if (sc.rotatePending[s]) {
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
        if (i < copied && b->scratch < 0) continue;
        bool moved = false;
        if (b->scratch >= 0) {
            for (int s = 0; s < 12; ++s) {
                Scratch& sc = scratch_[b->scratch];
                const int32_t r = sc.moveRequest[s];
                // The claim and a pending turn end here: a block that relinking
                // puts back on the commit list later in this walk commits
                // signals only.
                sc.moveRequest[s] = -1;
                sc.rotatePending[s] = 0;
                if (r >= 0 && !moveRequests_[r].blocked) {
                    CellCore c = b->cells[s];
                    c.nextOutputs = sc.incomingNextOutputs[s];
                    b->setRegion(s, sc.incomingRegion[s]);
                    c.bonds = sc.incomingBonds[s];
                    StimulusChannel* binding = sc.incomingTerminalBinding[s];
                    b->setTerminalBinding(s, binding);
                    if (binding && moveTerminal && moveTerminal(binding, moveRequests_[r].direction)) {
                        trackedMoved = 1;
                        trackedDirection = moveRequests_[r].direction;
                    }
                    b->setPart(s, sc.incomingType[s], c.inFront != kEscape ? c.inFront : b->field(s, WInFront),
                               c.inSide != kEscape ? c.inSide : b->field(s, WInSide),
                               c.inUp != kEscape ? c.inUp : b->field(s, WInUp));
                    linkCell(CellRef{b, s});
                    moved = true;
                }
                b->cells[s].outputs = b->cells[s].nextOutputs;
            }
        } else {
            commitSignals(b);
        }
        b->listFlags &= ~uint32_t(OnCommit);
        if (moved) wakeBlocks(b, kAllFaces, WakeTarget::Next);
    }
    commitList_.clear();
    // Claims and pending turns end with the commit.
    for (UniverseBlock* b : scratchOwners_) b->scratch = -1;
    scratchOwners_.clear();
    scratchUsed_ = 0;
}
