// The terminals reader; what it read must write back and read again the same.
#include <sstream>

#include "files/terminals.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto in = fuzz::streamOf(data, size);
    auto table = readTerminalFile(in);
    if (!table) fuzz::fail("no table");
    std::ostringstream out;
    writeTerminalFile(table.get(), out);
    std::istringstream again(out.str());
    auto reread = readTerminalFile(again);
    if (!reread || reread->size() != table->size()) fuzz::fail("terminals do not survive a write and read");
    return 0;
}
