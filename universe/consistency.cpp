// The debug check behind verifyConsistency.
//
// Everything derived is recomputed from what is stored (the bucket chains
// and the cell columns) and compared, so a cache that drifted is caught at
// the generation where it drifted. The fuzzers call it after every
// generation, so list membership is counted in the one walk over the
// buckets rather than searched for block by block.
#include <sstream>

#include "universe/universe.h"
#include "universe/universe_internal.h"

using namespace universe_detail;

std::string Universe::verifyConsistency() const {
    std::ostringstream err;
    size_t chained = 0;
    // Flag counts per list bit, gathered in the one walk over the buckets
    // (the fuzzers call this after every generation).
    size_t flagged[16] = {};
    for (uint32_t i = 0; i < kBuckets; ++i) {
        const UniverseBlock* last = nullptr;
        for (const UniverseBlock* b = bucketHead_[i]; b; b = b->chainNext) {
            ++chained;
            last = b;
            for (uint32_t bit = 1; bit <= 8; bit <<= 1) flagged[bit] += (b->listFlags & bit) != 0;
            if (b->listFlags & kPhaseBits)
                err << "phase-1 bits left in the list flags\n";
            int32_t bx, by, bz;
            blockCoords(b, bx, by, bz);
            if (bucketOf(bx, by, bz) != i) err << "block " << b->originX << "," << b->originY << "," << b->originZ << " in wrong bucket\n";
            if (findBlock(b->originX, b->originY, b->originZ) != b) err << "block not found through the table\n";
            for (int d = 0; d < 6; ++d) {
                const UniverseBlock* n = findBlock(b->originX + 2 * directionTable.dx[d], b->originY + 2 * directionTable.dy[d],
                                                   b->originZ + 3 * directionTable.dz[d]);
                if (b->neighbour[d] != n) err << "neighbour pointer " << d << " stale\n";
            }
            if (b->scratch >= 0) err << "scratch left between generations\n";
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
                    if (!nb)
                        err << "link to a missing block\n";
                    else if (!(nb->cells[ns.slot].links & (1u << directionTable.opposite[d])))
                        err << "one-sided link at " << b->cellX(s) << "," << b->cellY(s) << "," << b->cellZ(s) << " dir " << d << "\n";
                }
            }
        }
        if (bucketTail_[i] != last) err << "bucket tail stale\n";
    }
    if (chained != blockCount_) err << "block count " << blockCount_ << " but " << chained << " chained\n";
    auto checkList = [&](const std::vector<UniverseBlock*>& list, uint32_t flag, const char* name) {
        if (flagged[flag] != list.size())
            err << name << " list holds " << list.size() << " but " << flagged[flag] << " flagged\n";
        for (const UniverseBlock* b : list)
            if (!(b->listFlags & flag)) err << name << " list member without flag\n";
    };
    checkList(*current_, OnCurrent, "current");
    for (size_t i = 0; i < current_->size(); ++i)
        if ((*current_)[i]->listPos() != i) {
            err << "list position " << (*current_)[i]->listPos() << " stale at current index " << i << "\n";
            break;
        }
    checkList(*next_, OnNext, "next");
    checkList(moveList_, OnMove, "move");
    checkList(commitList_, OnCommit, "commit");
    return err.str();
}
