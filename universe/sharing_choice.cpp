#include "universe/sharing_choice.h"

#include <algorithm>

void SharingChoice::record(bool way, double nanoseconds, size_t blocks, uint64_t moved, size_t ordered) {
    if (!inTrial_) {
        if (++step_ >= stay_) {
            inTrial_ = true;
            step_ = 0;
            nanoseconds_[0] = nanoseconds_[1] = blocks_[0] = blocks_[1] = 0;
            movedInRun_ = listedInRun_ = orderedInRun_ = 0;
        }
        return;
    }
    if (step_ % kRun >= kWarm) {
        nanoseconds_[way] += nanoseconds;
        blocks_[way] += double(blocks) + 1;
    }
    if (step_ < kRun) {
        movedInRun_ += double(moved);
        listedInRun_ += double(blocks);
        orderedInRun_ += double(ordered);
    }
    ++step_;
    if (step_ == kRun) {
        const bool serialWork = (movedInRun_ > 0 && movedInRun_ * 4 >= listedInRun_) ||
                                (orderedInRun_ > 0 && orderedInRun_ * 2 >= listedInRun_);
        if (!probed_ && stay_ < kMoverStay && serialWork)
            decide(false);
        else
            probed_ = true;
    } else if (step_ == kRun + kWarm + kProbe) {
        if (perBlock(1) > kHopeless * perBlock(0)) decide(false);
    } else if (step_ == 2 * kRun) {
        const double shared = perBlock(1), serial = perBlock(0);
        if (shared * kClear < serial || serial * kClear < shared) decide(shared < serial);
    } else if (step_ == 4 * kRun) {
        decide(perBlock(1) < 0.95 * perBlock(0));
    }
}

void SharingChoice::decide(bool shareWins) {
    stay_ = shareWins == shared_ ? std::min(stay_ * 2, kLongestStay) : kFirstStay;
    shared_ = shareWins;
    inTrial_ = false;
    step_ = 0;
}
