#include "cranetalk/command_line.h"

#include <string>

#include "cranetalk/array_output.h"
#include "cranetalk/assembler.h"
#include "cranetalk/line_writer.h"
#include "cranetalk/listing.h"
#include "cranetalk/stimulus.h"

namespace cranetalk {

int run(int argc, const char* const* argv, std::istream& in, std::ostream& out, std::ostream& err) {
    const int arguments = argc > 0 ? argc - 1 : 0;
    if (arguments > 2) {
        writeLine(err, kUsage);
        return -1;
    }
    const AssemblyResult result = assembleSource(in, err);
    // An output that cannot be opened costs one line, never the run.
    if (arguments >= 1 && !writeListing(std::string(argv[1]), result))
        writeLine(err, kCannotOpenListing, argv[1]);
    if (arguments >= 2 && !writeStimulus(std::string(argv[2]), result))
        writeLine(err, kCannotOpenStimulus, argv[2]);
    printImage(out, result);
    writeLine(err, std::to_string(result.programLength));
    return 0;
}

}  // namespace cranetalk
