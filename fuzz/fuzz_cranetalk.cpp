// cranetalk on arbitrary source: the assembly, then every output it makes
// (listing, stimulus, initialiser list) into memory. The files themselves
// are the command line's business and have their own tests; a stimulus file
// is 50,000 flushed lines, which would make the fuzzer crawl.
#include <sstream>

#include "cranetalk/cranetalk.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto in = fuzz::streamOf(data, size);
    std::ostringstream err, listing, stimulus, out;
    const cranetalk::AssemblyResult r = cranetalk::assembleSource(in, err);
    if (r.programLength > cranetalk::kImageSize) fuzz::fail("program longer than the image");
    cranetalk::writeListing(listing, r);
    cranetalk::writeStimulus(stimulus, r);
    cranetalk::printImage(out, r);
    return 0;
}
