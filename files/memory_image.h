// Memory files and the direct write of a program image into memory modules.
//
// A memory module is six columns (one per bit line) of a 256-position loop in
// the y-z plane; page i of the image sits 6*i cells along x from the corner.
// The write only changes the outputs of existing NorGate and Conductor parts.
// Positions whose coordinates fall outside the universe's range are skipped.
//
// The caller must own the universe (pause the worker; the document's
// writeMemory does that).
#pragma once

#include <cstdint>
#include <iosfwd>
#include <vector>

class Universe;

// Everything up to the first "{" is skipped; each comma-terminated item gives
// one word by leading-integer conversion. Reading stops after kMaxImageWords.
constexpr size_t kMaxImageWords = size_t(1) << 20;
std::vector<int32_t> readProgramImage(std::istream& in);

// Position (y, z) of loop position p (0..255) of the module with corner (y0, z0).
void memoryLoopPosition(int64_t y0, int64_t z0, int p, int64_t& y, int64_t& z);

// What a write found: the pages of the image, and how many of them met a
// module (at least one NorGate or Conductor on the page's loop, which is
// what the write changes). A caller says "nothing written" when it is 0.
struct MemoryWriteReport {
    size_t pages = 0;
    size_t modules = 0;
};

MemoryWriteReport writeMemoryImage(Universe& universe, int32_t x0, int32_t y0, int32_t z0, uint32_t offset,
                                   const std::vector<int32_t>& image);
