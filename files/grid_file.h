// Grid files: the word format that holds a universe's initial contents.
//
// Records: plain boxes ("x0 y0 z0 nx ny nz" + cell entries), boxes after
// "record region", region starts ("record identifier NAME") and ends
// ("record up"). A cell entry is 15 integers: type, front, side, six output
// flags, six bond flags. Entries run y outermost, then z, then x.
//
// Reading is forgiving but never invents data: the first failed read ends the
// load, and a cell whose 15 values were not all read is not placed. Parts
// beyond +-1,000,000,000 in any axis are skipped and counted, so coordinate
// arithmetic cannot overflow. At the end every block's bonds are checked and
// every block relinked, in bucket order, so the result does not depend on the
// order in which boxes were written.
#pragma once
#include <cstddef>
#include <iosfwd>
#include <string>

#include "files/input_file.h"

class Universe;

struct GridReadResult {
    size_t placedParts = 0;
    size_t skippedParts = 0;  // outside the coordinate limit
    bool complete = true;     // false when a read failed before the end of input
    size_t stoppedAtLine = 0; // when not complete: the line (from 1) where reading stopped
    bool regionsTooDeep = false;  // reading stopped at a region past the limits below
    FileCheck file = FileCheck::Regular;  // what openGridDocument found at the path
};

constexpr long long kCoordinateLimit = 1000000000LL;

// Region entries keep their whole dotted path, so nesting costs memory
// quadratic in its depth: a few megabytes of nested "record identifier"
// lines would ask for gigabytes. Real machines nest a handful of levels; a
// grid that opens a region deeper than kMaxRegionDepth, or whose paths add
// up to more than kMaxRegionPathBytes, stops being read there and says so.
constexpr int kMaxRegionDepth = 1000;
constexpr size_t kMaxRegionPathBytes = size_t(64) << 20;

GridReadResult readGridFile(Universe& universe, std::istream& in);

// The document-open rule: the path must end in ".grd" (any case). A file that
// cannot be opened (missing, not a regular file) leaves the universe as it
// is and still counts as opened; the result says why.
// Returns false only for a path that is not a grid.
bool openGridDocument(Universe& universe, const std::string& path, GridReadResult* result = nullptr);

// True when the path ends in ".grd", compared without regard to case.
bool hasGridSuffix(const std::string& path);

// Writes the universe in the grid form; false when the file cannot be
// written or the policy refuses the path.
bool writeGridFile(const Universe& universe, const std::string& path, OutputPolicy policy = OutputPolicy::AnyFile);
