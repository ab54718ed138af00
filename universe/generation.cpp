// The generation update: rules (phase 1, rules.cpp), moves and turns
// (phase 2) and commit (phase 3, moves.cpp), and finish (phase 4, here).
//
// Every order here is observable: blocks are visited in list order and cells
// in slot order, and list appends made while a list is walked are visited by
// the same walk. Moves claim cells first-in first-out; requests with the same
// vector merge (the later claim wins), requests with different vectors that
// meet block each other.
#include <algorithm>
#include <chrono>
#include <utility>

#include "universe/universe.h"
#include "universe/universe_internal.h"

using namespace universe_detail;

void Universe::stepGeneration() {
    if (!pulseRequestsTakenOutside && pulseRequest.load(std::memory_order_relaxed) != 0 && pulseRequest.exchange(0) != 0)
        inputPulse = 1;
    if (!pool_) {
        stepGenerationOnce();
        return;
    }
    const bool adaptive = passSharing == PassSharing::Adaptive;
    switch (passSharing) {
    case PassSharing::Adaptive: shareNow_ = sharingChoice_.next(); break;
    case PassSharing::Always: shareNow_ = true; break;
    case PassSharing::Never: shareNow_ = false; break;
    case PassSharing::Alternate: shareNow_ = generation % 2 == 0; break;
    }
    sharedGenerations += shareNow_;
    const size_t listed = current_->size();
    const uint64_t movedBefore = movedParts;
    const auto t0 = adaptive ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point{};
    stepGenerationOnce();
    if (adaptive) {
        const double ns = double(std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - t0).count());
        sharingChoice_.record(shareNow_, ns, listed, movedParts - movedBefore, orderedWalked_);
    }
}

void Universe::stepGenerationOnce() {
    if (evaluate(true)) {
        // Phases 2 to 4 were done by the keyed walk: nothing moves, the
        // commit and the flags are done.
        moveList_.clear();
        moveRequests_.clear();
        endGeneration();
        return;
    }
    movePhase();
    commitPhase();
    finishGeneration();
}

void Universe::evaluatePhase() { evaluate(false); }

void Universe::finishGeneration() {
    moveRequests_.clear();
    // The next list becomes current; its blocks learn their positions,
    // unless the keyed walk wrote them and nothing was appended since.
    // Phase 1 reads the neighbours of the blocks it lists without asking
    // for husks, so the husks beside them come back here (universe.h).
    std::vector<UniverseBlock*>& next = *next_;
    if (sharing() && husks_.empty() && next.size() == positionedNext_ && storageOrderPays(next.size())) {
        runStored(Pass::Promote, storedBlocks());
    } else {
        for (size_t i = 0; i < next.size(); ++i) {
            UniverseBlock* b = next[i];
            if (!husks_.empty() && huskSides(b)) [[unlikely]]
                reviveAround(b);
            b->listFlags = promotedFlags(b->listFlags);
            b->setListPos(uint32_t(i));
        }
    }
    endGeneration();
}

// The end of every generation: the next list becomes current.
void Universe::endGeneration() {
    positionedNext_ = ~size_t(0);
    ++generation;
    std::swap(current_, next_);
    next_->clear();
    inputPulse = 0;
    if (generation % kCleanUpPeriod == 0) cleanUp();
    if (generation % kSweepPeriod == 0) sweepHusks();
    // A load puts every block on every list once; give that storage back
    // when the lists have shrunk well below it (with enough hysteresis that
    // a steady workload never reallocates).
    auto trim = [](std::vector<UniverseBlock*>& list, size_t peak) {
        if (list.capacity() > 4096 && peak * 8 < list.capacity()) {
            std::vector<UniverseBlock*> smaller;
            smaller.reserve(peak * 2);
            smaller.assign(list.begin(), list.end());
            list.swap(smaller);
        }
    };
    const size_t active = current_->size();
    trim(*current_, active);
    trim(*next_, active);
    trim(moveList_, active);
    trim(commitList_, active);
}
