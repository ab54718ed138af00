// The memory-file reader, and the write of its image into a small memory
// bank of conductors and gates (and at the coordinate edge).
#include "files/grid_file.h"
#include "files/memory_image.h"
#include "fuzz/fuzz_support.h"
#include "universe/universe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto in = fuzz::streamOf(data, size);
    std::vector<int32_t> image = readProgramImage(in);
    if (image.size() > kMaxImageWords) fuzz::fail("image beyond its limit");
    if (image.size() > 4096) image.resize(4096);
    Universe u;
    for (int i = 0; i < 12; ++i) {
        UniverseCell c;
        c.partType = i % 2 ? NorGate : Conductor;
        c.x = i % 6;
        c.y = -(i / 6);
        c.z = -1;
        u.placeCell(c);
    }
    writeMemoryImage(u, 0, 0, 0, size ? data[0] : 0, image);
    writeMemoryImage(u, 999999990, 999999999, -999999999, 3, image);
    const std::string why = u.verifyConsistency();
    if (!why.empty()) fuzz::fail(why);
    return 0;
}
