#include "shell/signal_watch.h"

#include <algorithm>

#include "files/monitor.h"
#include "files/terminals.h"
#include "universe/directions.h"
#include "universe/universe.h"
#include "view/navigation.h"

long SignalRows::rowOf(uint32_t generation) const {
    // Rows are in run order, so generations rise along them.
    auto it = std::lower_bound(generations.begin(), generations.end(), generation);
    if (it == generations.end() || *it != generation) return -1;
    return long(it - generations.begin());
}

SignalWatch::SignalWatch(CellforgeDocument& document) : doc_(document) {}

SignalWatch::~SignalWatch() { setActive(false); }

void SignalWatch::setActive(bool on) {
    if (on == active_) return;
    active_ = on;
    if (on) {
        // Nothing told an inactive watch about loads: start from the monitor.
        // The first row and the hook go in within one hold, so the worker's
        // next generation is the next row.
        doc_.withUniverse([this](Universe& u) {
            stale_ = true;
            rebuild(u);
            doc_.setRunWatcher(this);  // a nested hold: the worker stays where it is
        });
    } else {
        doc_.setRunWatcher(nullptr);
        // The worker no longer reaches the recorder.
        recorder_.reset();
    }
}

bool SignalWatch::watchCell(int32_t x, int32_t y, int32_t z, int32_t direction) {
    if (!validDirection(direction)) return false;
    for (const SignalLane& c : cells_)
        if (c.x == x && c.y == y && c.z == z && c.direction == direction) return false;
    SignalLane lane;
    // Built by appending: GCC 12 mistakes a literal-first concatenation for
    // an overlapping copy (-Wrestrict).
    lane.name = "(";
    lane.name += std::to_string(x);
    lane.name += ", ";
    lane.name += std::to_string(y);
    lane.name += ", ";
    lane.name += std::to_string(z);
    lane.name += ") ";
    lane.name += directionName(direction);
    lane.x = x;
    lane.y = y;
    lane.z = z;
    lane.direction = direction;
    cells_.push_back(lane);
    doc_.withUniverse([this](Universe& u) {
        stale_ = true;
        rebuild(u);
    });
    return true;
}

bool SignalWatch::removeLane(size_t index) {
    bool removed = false;
    doc_.withUniverse([&](Universe& u) {
        if (stale_) rebuild(u);
        if (index >= lanes_.size()) return;
        const SignalLane lane = lanes_[index];
        if (lane.terminal) {
            removedTerminals_.insert(lane.name);
        } else {
            std::erase_if(cells_, [&](const SignalLane& c) {
                return c.x == lane.x && c.y == lane.y && c.z == lane.z && c.direction == lane.direction;
            });
        }
        stale_ = true;
        rebuild(u);
        removed = true;
    });
    return removed;
}

std::vector<SignalLane> SignalWatch::lanes() {
    std::vector<SignalLane> out;
    doc_.withUniverse([&](Universe& u) {
        if (stale_) rebuild(u);
        out = lanes_;
    });
    return out;
}

SignalRows SignalWatch::copyRows() {
    SignalRows out;
    if (!active_) return out;
    doc_.withUniverse([&](Universe& u) {
        if (stale_) rebuild(u);
        out.lanes = lanes_;
        if (!recorder_) return;
        const size_t rows = recorder_->rows();
        out.values.resize(rows * lanes_.size());
        recorder_->copyValues(out.values.data());
        std::vector<int64_t> counters(rows * SignalRecorder::CounterCount);
        recorder_->copyCounters(counters.data());
        out.generations.resize(rows);
        for (size_t r = 0; r < rows; ++r)
            out.generations[r] = uint32_t(counters[r * SignalRecorder::CounterCount + SignalRecorder::Generation]);
    });
    return out;
}

void SignalWatch::loadChanged(const Universe& universe) {
    stale_ = true;
    removedTerminals_.clear();
    if (active_) rebuild(universe);
}

void SignalWatch::dropRows() {
    if (recorder_) recorder_->clear();
}

void SignalWatch::catchUp(const Universe& universe) {
    if (!recorder_) return;
    const size_t rows = recorder_->rows();
    if (rows > 0 && recorder_->counter(rows - 1, SignalRecorder::Generation) == int64_t(universe.generation)) return;
    recorder_->sample(universe);
}

void SignalWatch::generationDone(const Universe& universe) {
    if (recorder_) recorder_->sample(universe);
}

void SignalWatch::runObjectsGoing() {
    // The terminal probes point into the table about to be freed.
    recorder_.reset();
    removedTerminals_.clear();
    stale_ = true;
}

void SignalWatch::rebuild(const Universe& universe) {
    std::vector<SignalLane> lanes;
    std::set<std::string> seen;
    if (const Monitor* m = doc_.monitor()) {
        auto take = [&](const Terminal* t) {
            if (!t || removedTerminals_.count(t->name) || !seen.insert(t->name).second) return;
            SignalLane lane;
            lane.name = t->name;
            lane.terminal = true;
            lanes.push_back(lane);
        };
        for (const MonitorGroup& g : m->groups) {
            for (const Terminal* t : g.triggers) take(t);
            for (const Terminal* t : g.values) take(t);
        }
    }
    lanes.insert(lanes.end(), cells_.begin(), cells_.end());
    lanes_ = std::move(lanes);
    stale_ = false;
    recorder_.reset();
    if (!active_) return;
    auto recorder = std::make_unique<SignalRecorder>();
    recorder->recordCounters(true);
    std::string error;
    // The names come from the table and the directions were checked when
    // the parts were watched; a lane that still found no probe is left out,
    // so lanes and probes stay one to one.
    std::vector<SignalLane> kept;
    for (const SignalLane& lane : lanes_) {
        const bool added = lane.terminal ? recorder->addTerminal(doc_.terminals(), lane.name, error)
                                         : recorder->addCell(lane.x, lane.y, lane.z, lane.direction, error);
        if (added) kept.push_back(lane);
    }
    lanes_ = std::move(kept);
    recorder->setCapacity(kRows, true);
    recorder->sample(universe);
    recorder_ = std::move(recorder);
}
