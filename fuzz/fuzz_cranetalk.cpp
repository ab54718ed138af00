// cranetalk on arbitrary source: the whole program, with a listing and a
// stimulus file written into the scratch folder.
#include <sstream>

#include "cranetalk/command_line.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string listing = fuzz::scratchPath("listing.txt"), stimulus = fuzz::scratchPath("program.sti");
    auto in = fuzz::streamOf(data, size);
    std::ostringstream out, err;
    const char* argv[] = {"cranetalk", listing.c_str(), stimulus.c_str()};
    cranetalk::run(3, argv, in, out, err);
    return 0;
}
