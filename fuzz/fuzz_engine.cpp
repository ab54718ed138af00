// The engine on fuzzed universes: the first byte chooses how many
// generations to run (20 to 60) and where to put the grid (at the origin, or
// against one of the coordinate edges); the rest is a grid file. Every
// generation must leave the universe consistent, with no part beyond the
// coordinate range, and a save and reload must keep every part. Halfway,
// the run is checkpointed and resumed into a second universe: both must end
// in the same state, to the byte.
#include <memory>
#include <sstream>

#include "files/grid_file.h"
#include "fuzz/fuzz_support.h"
#include "universe/checkpoint.h"
#include "universe/universe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const int generations = 20 + data[0] % 41;
    const int placement = (data[0] / 41) % 4;
    std::string grid(reinterpret_cast<const char*>(data + 1), size - 1);
    auto u = std::make_unique<Universe>();
    {
        std::istringstream in(grid);
        readGridFile(*u, in);
    }
    if (placement != 0) {
        // Move every part next to an edge: the same machine, shifted.
        const int32_t shift[4] = {0, 999999990, -999999990, 999999000};
        auto edge = std::make_unique<Universe>();
        u->forEachBlock([&](UniverseBlock* b) {
            for (int s = 0; s < 12; ++s) {
                if (b->partType(s) == 0) continue;
                UniverseCell c = b->cell(s);
                const int64_t x = int64_t(c.x) + shift[placement], y = int64_t(c.y) - shift[placement];
                if (x > kCoordinateLimit || x < -kCoordinateLimit || y > kCoordinateLimit || y < -kCoordinateLimit)
                    continue;
                c.x = int32_t(x);
                c.y = int32_t(y);
                c.region = nullptr;
                c.terminalBinding = nullptr;
                edge->placeCell(c);
            }
        });
        edge->forEachBlock([&](UniverseBlock* b) { edge->checkBonds(b); });
        edge->forEachBlock([&](UniverseBlock* b) { edge->relinkBlock(b); });
        u = std::move(edge);
    }
    std::unique_ptr<Universe> resumed;
    for (int g = 0; g < generations; ++g) {
        if (g == generations / 2) {
            std::string snapshot, error;
            if (!UniverseCheckpoint::write(*u, {}, snapshot, error)) fuzz::fail("checkpoint refused: " + error);
            resumed = UniverseCheckpoint::load(snapshot, {}, error);
            if (!resumed) fuzz::fail("own checkpoint refused: " + error);
        }
        if (g % 7 == 3) {
            u->inputPulse = 1;
            if (resumed) resumed->inputPulse = 1;
        }
        u->stepGeneration();
        const std::string why = u->verifyConsistency();
        if (!why.empty()) fuzz::fail(why);
        if (resumed) resumed->stepGeneration();
    }
    if (resumed) {
        std::string a, b, error;
        if (!UniverseCheckpoint::write(*u, {}, a, error) || !UniverseCheckpoint::write(*resumed, {}, b, error))
            fuzz::fail("checkpoint refused: " + error);
        if (a != b) fuzz::fail("a resumed run ended in another state");
    }
    const size_t parts = u->partCount();
    std::ostringstream saved;
    u->writeBlocks(saved);
    Universe again;
    std::istringstream in(saved.str());
    GridReadResult r = readGridFile(again, in);
    if (r.skippedParts != 0) fuzz::fail("a part left the coordinate range");
    if (again.partCount() != parts) fuzz::fail("a saved part was lost on reading");
    return 0;
}
