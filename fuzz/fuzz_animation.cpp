// The animation-file (.asf) reader.
#include "fuzz/fuzz_support.h"
#include "shell/animation_run.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto in = fuzz::streamOf(data, size);
    AnimationSpec plan = readAnimationSpec(in);
    if (plan.entries.size() > size) fuzz::fail("more entries than input bytes");
    return 0;
}
