// The memory-bank demo project: 32 memory modules of ring parts, the input
// terminals the assembler's stimulus files name, output taps, a monitor that
// records the taps, saved camera positions and the project file that ties
// them together. Everything is written as text through the same readers a
// user's files go through.
//
// The bank's corner is (0, 0, 0): module i, bit line b is the ring at
// x = 6i + b; ring position 0 is at (y, z) = (0, 0) and the ring fills
// y = -31..0, z = -7..0.
#pragma once
#include <ostream>
#include <string>
#include <vector>

namespace membank {

constexpr int kModules = 32;
constexpr int kBitLines = 6;
constexpr int kRing = 256;

// Stem of the files in the project's folder.
inline const char* const kStem = "membank";
// The monitor writes here, relative to the project's folder.
inline const char* const kMonitorOutput = "membank-taps.txt";
// The stimulus file comes from the assembler, not from this generator.
inline const char* const kStimulusFile = "membank.sti";

// Module name of page d: "a".."z", then "ba".."bf".
std::string moduleName(int d);
// "pc1.mc.mad.mem.memory-module-" + module name + ".m.i" + bit line.
std::string inputTerminalName(int d, int bitLine);

struct Position {
    int x, y, z;
};
Position ringPartPosition(int module, int bitLine, int p);

// A monitored output: the raw output of one ring part, read on the face the
// part drives its successor through.
struct Tap {
    std::string name;  // full dotted terminal name
    int module, bitLine, position;
};
const std::vector<Tap>& taps();
// An always-on terminal that makes the monitor write one line per generation.
inline const char* const kClockTerminal = "taps.clock";
Position clockPosition();
// Direction the ring part at p drives its successor through.
int ringOutputDirection(int p);

void writeGrid(std::ostream& out);
void writeTerminals(std::ostream& out);
void writeMonitor(std::ostream& out);
void writeViews(std::ostream& out);
void writeProject(std::ostream& out);

// Writes membank.grd, .trm, .mon, .uvw and .prj into `dir` (which must
// exist). False, with the failing path in `error`, when a file cannot be
// written.
bool writeProjectFiles(const std::string& dir, std::string& error);

}  // namespace membank
