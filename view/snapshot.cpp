#include "view/snapshot.h"

#include <array>

#include "universe/universe.h"

void takeSnapshot(Universe& universe, SceneSnapshot& out) {
    out.cells.clear();
    universe.forEachBlock([&](const UniverseBlock* b) {
        for (int s = 0; s < 12; ++s) {
            const CellCore& c = b->cells[s];
            if (c.type == 0) continue;
            if (b->extras) {
                const RegionEntry* r = b->extras->region[s];
                if (r && !r->visible) continue;
            }
            SceneCell sc;
            sc.x = b->cellX(s);
            sc.y = b->cellY(s);
            sc.z = b->cellZ(s);
            const int32_t type = b->partType(s);
            sc.record = uint8_t(partColourRecord(type));
            sc.frame = drawingFrame(b->front(s), b->side(s), b->up(s));
            // A Drive never shows squares; clearing its masks here keeps that
            // rule out of the vertex loop.
            sc.outputs = type == Drive ? 0 : c.outputs & 0x3F;
            sc.bonds = type == Drive ? 0 : c.bonds & 0x3F;
            out.cells.push_back(sc);
        }
    });
    universe.drawnCellCount = int32_t(out.cells.size());
    out.drawnCellCount = universe.drawnCellCount;
    out.activeBlockCount = universe.activeBlockCount;
    out.generation = universe.generation;
    for (int i = 0; i < 3; ++i) out.lastMoveTarget[i] = universe.lastMoveTarget[i];
}

void collectDrivePositions(const Universe& universe, std::vector<std::array<int32_t, 3>>& out) {
    out.clear();
    universe.forEachBlock([&](const UniverseBlock* b) {
        for (int s = 0; s < 12; ++s)
            if (b->cells[s].type != 0 && b->partType(s) == Drive) out.push_back({b->cellX(s), b->cellY(s), b->cellZ(s)});
    });
}
