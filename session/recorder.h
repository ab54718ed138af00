// Per-generation recording of signals: the values a set of probes (named
// terminals or cell faces) show after each generation, and the universe's
// counters, as flat arrays - what scripts turn into traces and what the
// desktop's signal lanes draw.
//
// Design note
//   * A probe reads what the monitor reads: the output bit toward its face
//     direction of the part at its position (testOutput). A terminal probe
//     keeps a pointer to the terminal, so it follows a bound terminal that
//     travels with its part; the table must outlive the recorder.
//   * One row per generation, one byte per probe, appended after the
//     generation by whoever runs it (the session's run loop or the worker's
//     hook): no locks, no allocation once the rows are reserved.
//   * Rows beyond `capacity` drop the oldest when `rolling` (a view's lanes
//     over the last N generations), and are refused otherwise (a script's
//     run reserves exactly what it asks for).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class Universe;
struct UniverseBlock;
struct Terminal;
struct TerminalTable;

struct SignalProbe {
    std::string name;
    const Terminal* terminal = nullptr;  // or a fixed cell face:
    int32_t x = 0, y = 0, z = 0, direction = 0;
    // The block last found for the probe's position, kept while the
    // universe's layout epoch and the position stay the same: a table
    // lookup per probe and generation would cost a small machine a third
    // of its run.
    mutable const UniverseBlock* block = nullptr;
    mutable int32_t bx = 0, by = 0, bz = 0;
    mutable uint64_t epoch = ~uint64_t(0);
};

class SignalRecorder {
public:
    // Counters recorded beside the probes, per generation.
    enum Counter { Generation, ActiveBlocks, Blocks, CounterCount };

    // The terminal of that name in the table (the first of the name); false
    // with a message when there is none.
    bool addTerminal(const TerminalTable* table, const std::string& name, std::string& error);
    // A cell face; false with a message when the direction is not 0..5.
    bool addCell(int32_t x, int32_t y, int32_t z, int32_t direction, std::string& error);

    void setCapacity(size_t rows, bool rolling);
    void recordCounters(bool on) { counters_ = on; }

    // Appends the row for the universe as it stands (after a generation).
    void sample(const Universe& u);

    const std::vector<SignalProbe>& probes() const { return probes_; }
    size_t rows() const { return rows_; }
    // Row r (0 = oldest kept), probe p.
    uint8_t value(size_t r, size_t p) const;
    int64_t counter(size_t r, Counter c) const;
    // The kept rows in order, row-major: rows() x probes().size() bytes.
    void copyValues(uint8_t* out) const;
    void copyCounters(int64_t* out) const;  // rows() x CounterCount
    void clear();

private:
    size_t physical(size_t r) const { return (start_ + r) % capacity_; }

    std::vector<SignalProbe> probes_;
    std::vector<uint8_t> values_;
    std::vector<int64_t> counterValues_;
    size_t capacity_ = 0, start_ = 0, rows_ = 0;
    bool rolling_ = false, counters_ = false;
};
