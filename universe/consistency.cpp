// The debug check behind verifyConsistency.
//
// Everything derived is recomputed from what is stored (the bucket chains
// and the cell columns) and compared, so a cache that drifted is caught at
// the generation where it drifted. The fuzzers call it after every
// generation, so list membership is counted in the one walk over the
// buckets rather than searched for block by block.
#include <algorithm>
#include <sstream>
#include <unordered_set>

#include "universe/universe.h"
#include "universe/universe_internal.h"

using namespace universe_detail;

std::string Universe::verifyConsistency() const {
    std::ostringstream err;
    size_t chained = 0;
    // Flag counts per list bit, gathered in the one walk over the buckets
    // (the fuzzers call this after every generation).
    size_t flagged[16] = {};
    // The table alone (findBlock would bring a husk back).
    auto tableAt = [&](int32_t x, int32_t y, int32_t z) -> const UniverseBlock* {
        if (!inLattice(x, y, z)) return nullptr;
        return tableBlock(tableIndex(floorDiv(x, 2), floorDiv(y, 2), floorDiv(z, 3)));
    };
    // The sweep's notes (see Husks in universe.h): outside a sweep no block
    // is marked, and unless the next sweep walks everything, a block that
    // qualifies as a husk is noted or beside a noted dormant block (or the
    // husk store would refuse it).
    std::unordered_set<const UniverseBlock*> noted(sweepCandidates_.begin(), sweepCandidates_.end());
    for (const ShareState& share : shareState_) noted.insert(share.left.begin(), share.left.end());
    auto qualifies = [&](const UniverseBlock* b) {
        if (!dormant(b)) return false;
        for (const UniverseBlock* n : b->neighbour)
            if (n && !dormant(n)) return false;
        return true;
    };
    auto followed = [&](const UniverseBlock* b) {
        if (noted.count(b)) return true;
        for (const UniverseBlock* n : b->neighbour)
            if (n && dormant(n) && noted.count(n)) return true;
        return false;
    };
    for (uint32_t i = 0; i < kBuckets; ++i) {
        const UniverseBlock* last = nullptr;
        for (const UniverseBlock* b = bucketHead_[i]; b; b = b->chainNext) {
            ++chained;
            if (last && chainSeq(last) >= chainSeq(b)) err << "chain places out of order in bucket " << i << "\n";
            if (chainSeq(b) >= bucketEnd_[i].seq) err << "chain place beyond the bucket's next one\n";
            last = b;
            for (uint32_t bit = 1; bit <= 8; bit <<= 1) flagged[bit] += (b->listFlags & bit) != 0;
            if (b->listFlags & kPhaseBits)
                err << "phase-1 bits left in the list flags\n";
            int32_t bx, by, bz;
            blockCoords(b, bx, by, bz);
            if (bucketOf(bx, by, bz) != i) err << "block " << b->originX << "," << b->originY << "," << b->originZ << " in wrong bucket\n";
            if (tableAt(b->originX, b->originY, b->originZ) != b) err << "block not found through the table\n";
            if (husks_.contains(bx, by, bz)) err << "block is a husk as well\n";
            for (int d = 0; d < 6; ++d) {
                const UniverseBlock* n = tableAt(b->originX + 2 * directionTable.dx[d], b->originY + 2 * directionTable.dy[d],
                                                 b->originZ + 3 * directionTable.dz[d]);
                if (b->neighbour[d] != n) err << "neighbour pointer " << d << " stale\n";
                const bool husk =
                    !n && husks_.contains(bx + directionTable.dx[d], by + directionTable.dy[d], bz + directionTable.dz[d]);
                if (husk != ((huskSides(b) >> d & 1) != 0)) err << "husk side " << d << " stale\n";
            }
            if (huskSides(b) && (b->listFlags & (OnCurrent | OnMove | OnCommit | OnNext)))
                err << "a listed block has a husk beside it\n";
            if (b->scratch >= 0) err << "scratch left between generations\n";
            if (sweepMark(b)) err << "sweep mark left between generations\n";
            if (!sweepAll_ && qualifies(b) && !followed(b) && husks_.wouldTake(bx, by, bz, chainSeq(b), b->cells))
                err << "block " << b->originX << "," << b->originY << "," << b->originZ
                    << " qualifies as a husk but the sweep would not look at it\n";
            {
                UniverseBlock fresh;
                fresh.cells = b->cells;
                fresh.classifyAll();
                if (fresh.occupied != b->occupied) err << "occupied set stale\n";
                if (fresh.conductorCells != b->conductorCells || fresh.norCells != b->norCells ||
                    fresh.orderedCells != b->orderedCells)
                    err << "rule classes stale at block " << b->originX << "," << b->originY << "," << b->originZ
                        << "\n";
            }
            for (int s = 0; s < 12; ++s) {
                const CellCore c = b->cells[s];
                if (c.type != 0 && !inCoordinateRange(b->cellX(s), b->cellY(s), b->cellZ(s)))
                    err << "part beyond the coordinate edge at " << b->cellX(s) << "," << b->cellY(s) << ","
                        << b->cellZ(s) << "\n";
                for (int d = 0; d < 6; ++d) {
                    if (!(c.links & (1u << d))) continue;
                    const NeighbourSlot& ns = neighbourSlots.at[s][d];
                    const UniverseBlock* nb = neighbourBlock(b, ns, d);
                    if (!nb && (huskSides(b) >> d & 1)) {
                        const int64_t h = husks_.find(bx + directionTable.dx[d], by + directionTable.dy[d],
                                                      bz + directionTable.dz[d]);
                        if (h >= 0 && !(husks_.cellsOf(uint32_t(h)).links[ns.slot] & (1u << directionTable.opposite[d])))
                            err << "one-sided link into a husk\n";
                    } else if (!nb)
                        err << "link to a missing block\n";
                    else if (!(nb->cells[ns.slot].links & (1u << directionTable.opposite[d])))
                        err << "one-sided link at " << b->cellX(s) << "," << b->cellY(s) << "," << b->cellZ(s) << " dir " << d << "\n";
                }
            }
        }
        if (bucketEnd_[i].tail != last) err << "bucket tail stale\n";
    }
    if (chained != blockCount_) err << "block count " << blockCount_ << " but " << chained << " chained\n";
    auto checkList = [&](const std::vector<UniverseBlock*>& list, uint32_t flag, const char* name) {
        if (flagged[flag] != list.size())
            err << name << " list holds " << list.size() << " but " << flagged[flag] << " flagged\n";
        for (const UniverseBlock* b : list)
            if (!(b->listFlags & flag)) err << name << " list member without flag\n";
    };
    for (const UniverseBlock* b : noted)
        if (tableAt(b->originX, b->originY, b->originZ) != b) {
            err << "the sweep notes a block that is not in the universe\n";
            break;
        }
    checkList(*current_, OnCurrent, "current");
    for (size_t i = 0; i < current_->size(); ++i)
        if ((*current_)[i]->listPos() != i) {
            err << "list position " << (*current_)[i]->listPos() << " stale at current index " << i << "\n";
            break;
        }
    checkList(*next_, OnNext, "next");
    checkList(moveList_, OnMove, "move");
    checkList(commitList_, OnCommit, "commit");
    if (partitionCurrent()) {
        if (shareCuts_.front() != 0 || !std::is_sorted(shareCuts_.begin(), shareCuts_.end()))
            err << "the threads' cuts do not split storage in order\n";
    }
    err << husks_.verify();
    for (const HuskStore::Entry& h : husks_.entries())
        if (tableAt(h.bx * 2, h.by * 2, h.bz * 3)) err << "husk " << h.bx << "," << h.by << "," << h.bz << " is in the table\n";
    return err.str();
}
