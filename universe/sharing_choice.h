// Whether a generation shares its passes with the helper threads.
//
// Design note
//   * Sharing pays or not depending on the machine as much as on the
//     universe: a helper that has to wait for a core costs every pass a
//     wait, and a helper's half of the blocks is fast only once it sits in
//     that helper's cache. So the choice is measured, never guessed; both
//     ways compute the same results, only the time differs.
//   * A trial runs four runs of kRun generations, serial, shared, shared,
//     serial (so that a drift over the trial falls on both ways alike), and
//     compares the time per listed block of each way, summed over the runs.
//     The first kWarm generations of a run are not counted: they pay for
//     the switch (helpers waking, blocks moving between the caches). Runs
//     are long enough to span a machine's short cycles (timers of period 8
//     make a generation's cost swing by 4x), which runs of a few
//     generations sampled unevenly.
//   * When the first two runs already differ by more than kClear, the trial
//     ends there: a clearly losing way is not run any longer than needed.
//     The serial way comes first because it is the one that costs nothing
//     against a single thread: sharing is then probed for kProbe counted
//     generations, and a probe more than kHopeless slower ends the trial at
//     once (on a machine where sharing loses, that is what every trial
//     costs). Sharing is chosen only when it is at least 5% faster.
//   * The choice stays for kFirstStay generations, twice as long each time
//     the next trial confirms it (up to kLongestStay), before the next trial.
//   * Moves are serial: where a generation moves at least one part for
//     every four listed blocks, the passes the helpers could take are a
//     small part of it, and a probe is nearly always lost (on 2,000 cars a
//     shared generation costs 1.4 times a serial one). The same holds where
//     at least half the listed blocks have ordered cells: the serial walk
//     reads those blocks whole anyway, so the signal pass on the helpers
//     saves it little and moves their cache lines between the cores (on
//     the 68,000-part random universe a shared generation costs twice a
//     serial one). So until a trial first probes, and while the stay is
//     shorter than kMoverStay, a trial whose serial run was such ends
//     there, the serial way kept: a short run of such a machine never pays
//     for a probe, and a long one probes from about generation 2,000 on
//     like any other.
#pragma once

#include <cstddef>
#include <cstdint>

class SharingChoice {
public:
    static constexpr uint32_t kRun = 20;   // generations per run of one way
    static constexpr uint32_t kWarm = 4;   // of them not counted
    static constexpr uint32_t kFirstStay = 128, kLongestStay = 4096;
    static constexpr double kClear = 1.10;
    static constexpr uint32_t kProbe = 8;
    static constexpr double kHopeless = 1.25;
    static constexpr uint32_t kMoverStay = 1024;

    // The way of the coming generation (true: shared).
    bool next() const { return inTrial_ ? kOrder[step_ / kRun] : shared_; }
    // The generation just run: its way, its time, how many blocks its list
    // held, how many parts it moved and how many of its blocks had ordered
    // cells.
    void record(bool way, double nanoseconds, size_t blocks, uint64_t moved = 0, size_t ordered = 0);

    bool inTrial() const { return inTrial_; }
    uint32_t stay() const { return stay_; }

private:
    static constexpr bool kOrder[4] = {false, true, true, false};
    void decide(bool shareWins);
    double perBlock(int way) const { return blocks_[way] > 0 ? nanoseconds_[way] / blocks_[way] : 0; }

    bool inTrial_ = true;
    bool shared_ = true;  // the way chosen by the last trial
    uint32_t step_ = 0;   // generations into the trial or the stay
    uint32_t stay_ = kFirstStay;
    double nanoseconds_[2] = {0, 0}, blocks_[2] = {0, 0};
    double movedInRun_ = 0, listedInRun_ = 0, orderedInRun_ = 0;  // over the trial's first (serial) run
    bool probed_ = false;                       // a trial has gone past its serial run
};
