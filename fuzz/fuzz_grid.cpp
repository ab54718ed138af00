// The grid reader on arbitrary bytes; the universe it builds must be
// consistent and must save what it placed.
#include <sstream>

#include "files/grid_file.h"
#include "fuzz/fuzz_support.h"
#include "universe/universe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto in = fuzz::streamOf(data, size);
    Universe u;
    GridReadResult r = readGridFile(u, in);
    if (u.partCount() > r.placedParts) fuzz::fail("more parts than were placed");
    const std::string why = u.verifyConsistency();
    if (!why.empty()) fuzz::fail(why);
    std::ostringstream out;
    u.writeBlocks(out);
    return 0;
}
