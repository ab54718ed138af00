// The command line of cranetalk.
#pragma once

#include <istream>
#include <ostream>
#include <string_view>

namespace cranetalk {

inline constexpr std::string_view kUsage = "USAGE: cranetalk [<listing> [<stimulus>]]";
// Followed by the file name as given.
inline constexpr std::string_view kCannotOpenListing = "Cannot open listing file ";
inline constexpr std::string_view kCannotOpenStimulus = "Cannot open stimulus file ";

// Runs cranetalk with the program's argv (argv[0] is the program name).
// Zero, one or two arguments: assemble `in`, write the listing (first
// argument) and the stimulus (second), print the image on `out` and the
// program length on `err`; returns 0. A listing or stimulus file that
// cannot be opened is reported with one line on `err` before the image.  Any other count: the usage line on
// `err`, nothing read, returns -1.
int run(int argc, const char* const* argv, std::istream& in, std::ostream& out, std::ostream& err);

}  // namespace cranetalk
