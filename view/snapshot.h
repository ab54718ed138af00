// A compact copy of what one frame draws, taken while the worker is paused.
//
// Design note
//   The worker may only be stopped while the universe is read, so a frame is
//   split in two: the snapshot copies every visible part into a flat array
//   (about 20 bytes a part, in the walk order the picture depends on), the
//   worker is released, and only then are vertices built and submitted. The
//   copy is the only work done with the worker stopped, so it is kept to a
//   single pass over the blocks with no allocation once the arrays have grown.
//
//   Validation of part frames happens here, once per part, so the geometry
//   code can index its tables without checks.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "view/part_geometry.h"

class Universe;

struct SceneCell {
    int32_t x, y, z;
    uint8_t record;  // colour record: part type 1..10, or kOtherPartRecord
    PartFrame frame;
    uint8_t outputs;
    uint8_t bonds;
};

struct SceneSnapshot {
    std::vector<SceneCell> cells;  // visible parts in bucket, chain, slot order
    // Counters read inside the same paused stretch, so they agree with the
    // cells (the status line shows them).
    int32_t activeBlockCount = 0;
    int32_t drawnCellCount = 0;
    uint32_t generation = 0;
    int32_t lastMoveTarget[3] = {0, 0, 0};
};

// Copies the visible parts (non-empty, not in a hidden region) and sets the
// universe's drawnCellCount to their number. Call only while the universe is
// not being changed.
void takeSnapshot(Universe& universe, SceneSnapshot& out);

// Positions of every Drive part, hidden regions included, in walk order (the
// coordinate dump's input).
void collectDrivePositions(const Universe& universe, std::vector<std::array<int32_t, 3>>& out);
