// Edit sequences with undo, redo, reset and rewind. The input is a grid
// file, a NUL byte, then operations of eight bytes each: a kind and seven
// arguments (small coordinates around the grid, directions, counts). After
// every operation the universe must be consistent; at the end, rewinding to
// every generation the current branch passed through must give the bytes the
// run had there.
#include <algorithm>
#include <cstring>
#include <vector>
#include <map>
#include <sstream>

#include "files/checkpoint.h"
#include "files/document.h"
#include "files/grid_file.h"
#include "fuzz/fuzz_support.h"
#include "session/timeline.h"
#include "universe/directions.h"
#include "universe/edits.h"

namespace {

std::string bytesOf(CellforgeDocument& doc) {
    std::string out, error;
    if (!writeCheckpointBytes(doc, out, error)) fuzz::fail("checkpoint refused: " + error);
    return out;
}

void check(Universe& u, const char* after) {
    const std::string problem = u.verifyConsistency();
    if (!problem.empty()) fuzz::fail(std::string("inconsistent after ") + after + ": " + problem);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint8_t* nul = static_cast<const uint8_t*>(std::memchr(data, 0, size));
    const size_t gridSize = nul ? size_t(nul - data) : size;
    const uint8_t* ops = nul ? nul + 1 : data + size;
    const size_t opCount = std::min<size_t>((size - gridSize - (nul ? 1 : 0)) / 8, 48);

    CellforgeDocument doc;
    // The worker waits at its pause point throughout: this thread owns the universe.
    const bool held = doc.pauseForRead();
    Universe& u = doc.universe();
    {
        std::istringstream in(std::string(reinterpret_cast<const char*>(data), gridSize));
        readGridFile(u, in);
    }
    Timeline timeline(doc, size_t(8) << 20);
    doc.driver().setGenerationStart([&timeline](Universe& v) { timeline.atGenerationStart(v); });
    std::map<uint32_t, std::string> seen;  // generation -> bytes, on the current branch
    auto forgetFrom = [&seen](uint32_t g) { seen.erase(seen.lower_bound(g), seen.end()); };
    std::string error;
    for (size_t i = 0; i < opCount; ++i) {
        const uint8_t* o = ops + 8 * i;
        const int32_t x = int8_t(o[1]) / 8, y = int8_t(o[2]) / 8, z = int8_t(o[3]) / 8;
        const uint32_t g = u.generation;
        switch (o[0] % 9) {
        case 0: {
            UniverseCell c;
            c.x = x;
            c.y = y;
            c.z = z;
            c.partType = o[4] % 12;
            c.front = o[5] % 6;
            c.side = (c.front + 1 + o[6] % 4) % 6;
            if (c.side == c.front || c.side == oppositeDirection(c.front)) c.side = (c.front + 2) % 6;
            c.up = deriveUp(c.front, c.side);
            c.outputs = uint8_t(o[7] & 63);
            forgetFrom(g);
            timeline.record(u, "place", [c](Universe& v) { editCell(v, c); }, sizeof c, true);
            break;
        }
        case 1: {
            UniverseCell c;
            c.x = x;
            c.y = y;
            c.z = z;
            forgetFrom(g);
            timeline.record(u, "erase", [c](Universe& v) { editCell(v, c); }, sizeof c, true);
            break;
        }
        case 2: {
            const int32_t d = o[4] % 6;
            const bool on = o[5] & 1;
            forgetFrom(g);
            timeline.record(u, "bond", [=](Universe& v) { editBond(v, x, y, z, d, on); }, 16, true);
            break;
        }
        case 3: {
            const int32_t lo[3] = {x, y, z}, hi[3] = {x + o[4] % 5, y + o[5] % 5, z + o[6] % 5};
            forgetFrom(g);
            timeline.record(u, "erase box", [lo, hi](Universe& v) {
                const int32_t a[3] = {lo[0], lo[1], lo[2]}, b[3] = {hi[0], hi[1], hi[2]};
                eraseBox(v, a, b);
            }, 24, true);
            break;
        }
        case 4: {
            PartTransform t;
            t.turns[o[4] % 3] = 1 + o[5] % 3;
            t.mirror = int(o[6] % 4) - 1;
            t.offset[0] = int8_t(o[7]) / 16;
            std::vector<CellPosition> box;
            for (int dx = 0; dx < 3; ++dx)
                for (int dy = 0; dy < 3; ++dy) box.push_back({x + dx, y + dy, z});
            forgetFrom(g);
            timeline.record(u, "transform", [box, t](Universe& v) { transformParts(v, box, t); }, 128, true);
            break;
        }
        case 5: {
            const int n = 1 + o[4] % 24;
            for (int k = 0; k < n; ++k) {
                if (seen.count(u.generation) == 0) seen[u.generation] = bytesOf(doc);
                doc.driver().runGeneration();
            }
            break;
        }
        case 6:
            if (timeline.undo(error)) forgetFrom(0);  // where it goes depends on the record
            break;
        case 7:
            if (timeline.redo(error)) forgetFrom(0);
            break;
        default:
            if (o[4] & 1) {
                timeline.reset(error);
                seen.clear();
            } else {
                const Timeline::History h = timeline.history();
                const uint32_t target = h.first + (h.last > h.first ? o[5] % (h.last - h.first + 1) : 0);
                if (!timeline.rewind(target, error)) fuzz::fail("rewind within the record refused: " + error);
            }
            break;
        }
        check(u, "an operation");
    }
    // A handful of the generations passed, newest first (each rewind replays
    // from a keyframe, so all of them would cost the square of the run).
    std::vector<std::pair<uint32_t, std::string>> checks(seen.rbegin(), seen.rend());
    const size_t stride = std::max<size_t>(1, checks.size() / 6);
    for (size_t k = 0; k < checks.size(); k += stride) {
        const auto* it = &checks[k];
        if (!timeline.rewind(it->first, error)) fuzz::fail("rewind refused: " + error);
        check(u, "a rewind");
        if (bytesOf(doc) != it->second) fuzz::fail("rewind to " + std::to_string(it->first) + " differs from the run");
    }
    doc.driver().setGenerationStart(nullptr);
    doc.resumeAfterRead(held);
    return 0;
}
