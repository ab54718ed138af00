// The assembly pass and the program image.
#pragma once

#include <array>
#include <cstdint>
#include <istream>
#include <map>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "cranetalk/encoding.h"

namespace cranetalk {

// The state that the assembly pass builds and the output steps read.
struct AssemblyResult {
    // Program image: 8192 bytes, each holding a 6-bit value; 0 where never
    // written.
    std::array<std::uint8_t, kImageSize> image{};
    // Location counter after the pass (unsigned 32-bit, wraps).
    std::uint32_t locationCounter = 0;
    // Program length: the highest location counter at the end of any
    // statement, at most 8192.
    std::uint32_t programLength = 0;
    // Label table: name (byte-wise order) -> address of its last definition.
    std::map<std::string, std::uint32_t> labels;
    // Pending-reference table: name -> positions of unresolved call operands,
    // in the order met.  Entries are never removed.
    std::map<std::string, std::vector<std::uint32_t>> pending;
    // Whether "END" was read.
    bool endFound = false;
    // The token read last with success (empty if none).
    std::string lastToken;
};

// parseOrientation(name): the orientation code (0-31) of the row named
// exactly `name`.  When no row matches, writes
// "Unrecognised direction string " + name on `err` and returns 0.
std::uint8_t parseOrientation(std::string_view name, std::ostream& err);

// assembleSource(): reads the whole source from `in` (to "END" or the end of
// the input) and returns the program image, counters and tables.  Messages
// (unrecognised tokens and orientation names, addresses outside the image,
// the missing "END") go to `err`, one flushed line each.
AssemblyResult assembleSource(std::istream& in, std::ostream& err);

}  // namespace cranetalk
