#include "session/recorder.h"

#include <algorithm>
#include <cstring>

#include "files/terminals.h"
#include "universe/directions.h"
#include "universe/universe.h"

bool SignalRecorder::addTerminal(const TerminalTable* table, const std::string& name, std::string& error) {
    const Terminal* t = findTerminal(table, name);
    if (!t) {
        error = table ? "no terminal is named '" + name + "'" : "the document has no terminals";
        return false;
    }
    SignalProbe p;
    p.name = name;
    p.terminal = t;
    probes_.push_back(p);
    return true;
}

bool SignalRecorder::addCell(int32_t x, int32_t y, int32_t z, int32_t direction, std::string& error) {
    if (!validDirection(direction)) {
        error = "a direction is 0 to 5, not " + std::to_string(direction);
        return false;
    }
    SignalProbe p;
    p.name = std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(z) + ":" + std::to_string(direction);
    p.x = x;
    p.y = y;
    p.z = z;
    p.direction = direction;
    probes_.push_back(p);
    return true;
}

void SignalRecorder::setCapacity(size_t rows, bool rolling) {
    capacity_ = rows;
    rolling_ = rolling;
    values_.assign(rows * probes_.size(), 0);
    counterValues_.assign(counters_ ? rows * CounterCount : 0, 0);
    start_ = rows_ = 0;
}

void SignalRecorder::clear() { start_ = rows_ = 0; }

void SignalRecorder::sample(const Universe& u) {
    if (capacity_ == 0) return;
    size_t r;
    if (rows_ < capacity_) {
        r = physical(rows_++);
    } else if (rolling_) {
        r = start_;
        start_ = (start_ + 1) % capacity_;
    } else {
        return;
    }
    uint8_t* row = values_.data() + r * probes_.size();
    const uint64_t epoch = u.layoutEpoch();
    for (size_t i = 0; i < probes_.size(); ++i) {
        const SignalProbe& p = probes_[i];
        int32_t x = p.x, y = p.y, z = p.z, d = p.direction;
        if (p.terminal) {
            const Terminal& t = *p.terminal;
            if (!terminalInUniverseRange(t)) {
                row[i] = 0;
                continue;
            }
            x = t.x;
            y = t.y;
            z = t.z;
            d = t.direction;
        }
        // What testOutput reads, with the block found once for as long as it stays put.
        if (!validDirection(d)) {
            row[i] = 0;
            continue;
        }
        if (!p.block || p.epoch != epoch || p.bx != x || p.by != y || p.bz != z) {
            p.block = u.findBlock(x, y, z);
            p.bx = x;
            p.by = y;
            p.bz = z;
            p.epoch = epoch;
        }
        row[i] = p.block && (p.block->cells.outputs[Universe::slotOf(x, y, z)] >> d) & 1;
    }
    if (counters_) {
        int64_t* c = counterValues_.data() + r * CounterCount;
        c[Generation] = u.generation;
        c[ActiveBlocks] = u.activeBlockCount;
        c[Blocks] = int64_t(u.blockCount());
    }
}

uint8_t SignalRecorder::value(size_t r, size_t p) const { return values_[physical(r) * probes_.size() + p]; }

int64_t SignalRecorder::counter(size_t r, Counter c) const {
    return counters_ ? counterValues_[physical(r) * CounterCount + c] : 0;
}

void SignalRecorder::copyValues(uint8_t* out) const {
    const size_t k = probes_.size();
    if (k == 0) return;  // counters alone: no values, and no buffer to copy from
    for (size_t r = 0; r < rows_; ++r) std::memcpy(out + r * k, values_.data() + physical(r) * k, k);
}

void SignalRecorder::copyCounters(int64_t* out) const {
    if (!counters_) return;
    for (size_t r = 0; r < rows_; ++r)
        std::memcpy(out + r * CounterCount, counterValues_.data() + physical(r) * CounterCount,
                    CounterCount * sizeof(int64_t));
}
