// SignalWatch: the lanes of a document's Signals pane and the recorder they
// are recorded into, generation by generation.
//
// Design note
//   * The lanes are the monitor's terminals (the triggers and values of every
//     group, in group order, each name once) followed by the parts the user
//     watches. A watched part is a fixed cell face: the part's front face as
//     it stood when it was picked (what a conductor or a NOR gate drives).
//   * The recorder is sampled by the worker after each generation (the
//     document's RunWatcher hook, after the monitor). It is built, swapped,
//     read and dropped only with the worker held, so the worker never sees
//     it half built and a copy never meets a row being written. It keeps the
//     last kRows generations, rolling, with each row's generation.
//   * Terminal probes point into the document's terminal table. The hook is
//     told before the run objects go, with the worker held or ended, and
//     drops the recorder there; the lanes are built again from the new
//     monitor at the next copy.
//   * A change of lanes starts the record afresh (a row holds one byte per
//     lane) and takes one row at once, so a stopped universe shows its
//     values straight away.
//   * Nothing is recorded while the watch is inactive (no Signals pane
//     open): the hook is then not installed and costs the worker nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "files/document.h"
#include "session/recorder.h"

struct SignalLane {
    std::string name;
    bool terminal = false;  // a monitored terminal; else a watched cell face
    int32_t x = 0, y = 0, z = 0, direction = 0;
};

// A copy of the record: rows oldest first, one byte per lane.
struct SignalRows {
    std::vector<SignalLane> lanes;
    std::vector<uint8_t> values;       // rows x lanes.size()
    std::vector<uint32_t> generations;  // one per row
    size_t rows() const { return generations.size(); }
    uint8_t value(size_t row, size_t lane) const { return values[row * lanes.size() + lane]; }
    // The row of a generation, or -1 when it is not kept.
    long rowOf(uint32_t generation) const;
};

class SignalWatch : private RunWatcher {
public:
    static constexpr size_t kRows = 512;

    explicit SignalWatch(CellforgeDocument& document);
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

    // Installs or removes the recording hook (holds the worker).
    void setActive(bool on);
    bool active() const { return active_; }

    // A lane for the cell face; false when that face is watched already or
    // the direction is not 0..5.
    bool watchCell(int32_t x, int32_t y, int32_t z, int32_t direction);
    // Takes a lane away (a monitored terminal stays away until the next
    // project load); false for no such lane.
    bool removeLane(size_t index);
    // The lanes as they stand (built from the monitor when due).
    std::vector<SignalLane> lanes();

    // Copies the record with the worker held; empty while inactive.
    SignalRows copyRows();

    // ---- with the worker held (the document calls these)
    // The load state changed (open, new, project objects): lanes are built
    // again from the monitor.
    void loadChanged(const Universe& universe);
    // Before a timeline move: the rows describe a run that is being undone.
    void dropRows();
    // After it: one row for where the universe now stands unless the replay
    // has just taken it.
    void catchUp(const Universe& universe);

private:
    void generationDone(const Universe& universe) override;
    void runObjectsGoing() override;
    // Worker held: lanes from the monitor when stale, a new recorder when
    // active, with one row taken.
    void rebuild(const Universe& universe);

    CellforgeDocument& doc_;
    std::unique_ptr<SignalRecorder> recorder_;  // the worker samples it; changed only with the worker held
    std::vector<SignalLane> lanes_;
    std::vector<SignalLane> cells_;          // the watched parts, in the order picked
    std::set<std::string> removedTerminals_;  // until the next load
    bool stale_ = true;
    bool active_ = false;
};
