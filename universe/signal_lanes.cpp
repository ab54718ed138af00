// Phase-1 signal evaluation: the kernels and the choice between them.
//
// The vector kernels live in signal_lanes.inc. This file builds it for
// plain SSE2; signal_lanes_ssse3.cpp builds it again with byte shuffles,
// which replace most of the lane shifting and the front decoding, and is
// taken when the processor has them. The lane-by-lane form below is the
// reference the tests hold both against, and the kernel where there is no
// SSE2.
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "universe/universe_internal.h"

namespace universe_detail {

#define SIGNAL_KERNEL evaluateSignalsPlain
#include "universe/signal_lanes.inc"
#undef SIGNAL_KERNEL

unsigned evaluateSignalsLanewise(UniverseBlock* b) {
    const unsigned cond = b->conductorCells, nor = b->norCells;
    unsigned reports = 0;
    for (unsigned m = cond | nor; m; m &= m - 1) {
        const int s = __builtin_ctz(m);
        unsigned in = 0;
        for (int d = 0; d < 6; ++d) {
            const NeighbourSlot& n = neighbourSlots.at[s][d];
            const UniverseBlock* nb = neighbourBlock(b, n, d);
            const uint8_t* out = nb ? nb->cells.outputs : kNoOutputs;
            in |= unsigned((out[n.slot] >> directionTable.opposite[d]) & 1) << d;
        }
        in &= b->cells.links[s];
        const int f = b->cells.front[s], behind = directionTable.opposite[f];
        uint8_t next;
        if ((cond >> s) & 1)
            next = (in >> behind) & 1 ? uint8_t(63 ^ (1u << behind)) : uint8_t(0);
        else
            next = in & ~(1u << f) ? uint8_t(0) : uint8_t(1u << f);
        b->cells.nextOutputs[s] = next;
        reports |= unsigned(((b->cells.outputs[s] ^ next) >> f) & 1) << s;
    }
    return (wakeOfReports(reports) & presentFaces(b)) | unsigned(reports != 0) * kWakeSelf;
}

namespace {
SignalKernel chooseKernel() {
#if defined(CELLFORGE_SHUFFLE_KERNEL)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("ssse3")) return evaluateSignalsShuffled;
#endif
#if defined(__SSE2__)
    return evaluateSignalsPlain;
#else
    return evaluateSignalsLanewise;
#endif
}
}  // namespace

const SignalKernel signalKernel = chooseKernel();

unsigned evaluateSignals(UniverseBlock* b) { return signalKernel(b); }

}  // namespace universe_detail
