// The monitor reader. The first word of a monitor file names a file to
// create; the harness fixes that word so fuzzed input never names a path.
#include <string>

#include "files/monitor.h"
#include "files/terminals.h"
#include "fuzz/fuzz_support.h"
#include "universe/universe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TerminalTable terminals;
    terminals.add(Terminal{"a", 0, 0, 0, 0, 1});
    terminals.add(Terminal{"b", 1, 0, 0, 0, 3});
    terminals.add(Terminal{"far", 2000000000, 0, 0, 0, 2});
    std::string text = fuzz::scratchPath("monitor.out") + "\n";
    text.append(reinterpret_cast<const char*>(data), size);
    std::istringstream in(text);
    auto monitor = readMonitorFile(in, &terminals);
    Universe u;
    u.injectSignal(0, 0, 0, 1);
    sampleMonitor(*monitor, &u);
    return 0;
}
