// The stimulus file that feeds the image into the 32 memory modules (in the
// format that the simulator's stimulus reader takes).
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "cranetalk/assembler.h"

namespace cranetalk {

// Module name of page d (0-31): "a".."z", then "ba".."bf".
std::string moduleName(std::uint32_t page);

// Terminal name of page d and bit line j:
// "pc1.mc.mad.mem.memory-module-" + module name + ".m.i" + digit j.
std::string terminalName(std::uint32_t page, std::uint32_t bitLine);

// The whole stimulus, on a stream: 192 blocks of 261 lines.  Reads the
// program image only (the program length plays no part).
void writeStimulus(std::ostream& os, const AssemblyResult& r);

// writeStimulus(file name): creates or truncates the file and writes the
// stimulus; a file that cannot be opened is skipped, and false returned (the
// command line reports it).
bool writeStimulus(const std::string& fileName, const AssemblyResult& r);

}  // namespace cranetalk
