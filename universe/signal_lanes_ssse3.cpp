// The vector signal kernel built with byte shuffles (compiled with -mssse3;
// signal_lanes.cpp takes it only when the processor has them). Only the
// kernel lives here, so that nothing else in the program is built for
// instructions the processor may lack.
#include <cstring>
#include <tmmintrin.h>

#include "universe/universe_internal.h"

namespace universe_detail {

#define SIGNAL_KERNEL evaluateSignalsShuffled
#include "universe/signal_lanes.inc"
#undef SIGNAL_KERNEL

}  // namespace universe_detail
