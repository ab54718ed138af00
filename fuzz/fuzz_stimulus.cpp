// The stimulus reader against a small terminal table, then a few generations
// of the stimulus into a real universe, the skip-ahead, and the unbinding.
#include "files/stimulus.h"
#include "files/terminals.h"
#include "fuzz/fuzz_support.h"
#include "universe/universe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TerminalTable terminals;
    terminals.add(Terminal{"a", 0, 0, 0, 0, 1});
    terminals.add(Terminal{"b", 3, -2, 5, 1, 4});
    terminals.add(Terminal{"edge", 1000000000, -1000000000, 1000000000, 0, 0});
    terminals.add(Terminal{"far", 2000000000, 0, 0, 0, 2});
    Universe u;
    {
        auto in = fuzz::streamOf(data, size);
        auto stimulus = readStimulusFile(in, &terminals, u);
        for (int g = 0; g < 8; ++g) {
            applyStimulus(*stimulus, &u);
            u.stepGeneration();
        }
        advanceStimulus(*stimulus, size * 977u);
        applyStimulus(*stimulus, &u);
    }
    const std::string why = u.verifyConsistency();
    if (!why.empty()) fuzz::fail(why);
    return 0;
}
