// What a universe holds, counted for the Statistics dialog.
//
// Design note
//   The count walks every block once and reads only the type column and the
//   occupied mask, so it is as cheap as the universe is sparse. It must run
//   with the worker held (CellforgeDocument::withUniverse): the worker
//   rewrites blocks while it runs. The dialog shows a copy, so the worker can
//   go on while it is open.
#pragma once

#include <QDialog>
#include <array>
#include <cstddef>
#include <cstdint>

class Universe;

struct UniverseStatistics {
    // Parts by type, 1..10; index 0 counts parts of any other stored type.
    std::array<size_t, 11> byType{};
    size_t parts = 0;
    size_t blocks = 0;
    int32_t activeBlocks = 0;
    bool haveParts = false;  // the box below is only meaningful with parts
    int32_t lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};  // inclusive cell bounds
    uint32_t generation = 0;
    double rate = 0;  // generations per second as the view last measured it
};

// Counts with the worker held by the caller.
UniverseStatistics gatherStatistics(const Universe& universe);

// One line per value; labels are named "stat<key>" (statParts, statBlocks,
// statActive, statBox, statGeneration, statRate, statType<1..10>, statOther).
class StatisticsDialog : public QDialog {
    Q_OBJECT
public:
    StatisticsDialog(const UniverseStatistics& stats, QWidget* parent = nullptr);
};
