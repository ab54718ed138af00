#include "files/memory_image.h"

#include <istream>
#include <limits>
#include <string>

#include "files/grid_file.h"
#include "files/input_file.h"
#include "files/text_scanner.h"
#include "universe/directions.h"
#include "universe/universe.h"

std::vector<int32_t> readProgramImage(std::istream& in) {
    std::vector<int32_t> image;
    std::streambuf* sb = in.rdbuf();
    if (!sb) return image;
    using Traits = std::char_traits<char>;
    int c;
    while ((c = nextByteOrEnd(sb)) != Traits::eof() && c != '{') {
    }
    // Only the start of an item matters to the conversion, and the value
    // saturates long before 64 characters, so a bounded prefix suffices.
    constexpr size_t kKeep = 64;
    std::string item;
    bool started = false;
    while ((c = nextByteOrEnd(sb)) != Traits::eof()) {
        if (c == ',') {
            image.push_back(TextScanner::leadingInt(item));
            if (image.size() >= kMaxImageWords) break;
            item.clear();
            started = false;
        } else if (!started && TextScanner::isSpace(c)) {
            continue;
        } else {
            started = true;
            if (item.size() < kKeep) item.push_back(char(c));
        }
    }
    return image;
}

void memoryLoopPosition(int64_t y0, int64_t z0, int p, int64_t& y, int64_t& z) {
    y = y0;
    z = z0;
    int left = p;
    auto walk = [&](int64_t dy, int64_t dz, int count) {
        for (int i = 0; i < count && left > 0; ++i, --left) {
            y += dy;
            z += dz;
        }
    };
    walk(0, -1, 7);
    walk(-1, 0, 31);
    walk(0, 1, 7);
    for (int r = 0; r < 15 && left > 0; ++r) {
        walk(1, 0, 1);
        walk(0, -1, 6);
        walk(1, 0, 1);
        walk(0, 1, 6);
    }
}

MemoryWriteReport writeMemoryImage(Universe& universe, int32_t x0, int32_t y0, int32_t z0, uint32_t offset,
                                   const std::vector<int32_t>& image) {
    const uint64_t n = image.size();
    const uint64_t pages = (n + 255) / 256;
    MemoryWriteReport report;
    report.pages = size_t(pages);
    auto inRange = [](int64_t v) { return v >= -kCoordinateLimit && v <= kCoordinateLimit; };
    // The loop is the same for every page: walk it once.
    int64_t loopY[256], loopZ[256];
    for (int p = 0; p < 256; ++p) memoryLoopPosition(y0, z0, p, loopY[p], loopZ[p]);
    for (uint64_t i = 0; i < pages; ++i) {
        bool met = false;
        for (int p = 0; p < 256; ++p) {
            const int64_t y = loopY[p], z = loopZ[p];
            if (!inRange(y) || !inRange(z)) continue;
            for (int b = 0; b < 6; ++b) {
                const int64_t k = int64_t((uint64_t(offset) + 6 * i + 256 - uint64_t(p) + uint64_t(b)) % 256);
                const uint64_t index = 256 * i + uint64_t(k);
                const bool v = index < n && ((image[index] >> b) & 1);
                const bool s = p < 7 ? v : !v;
                const int64_t x = int64_t(x0) + 6 * int64_t(i) + b;
                if (!inRange(x)) continue;
                CellRef c = universe.findCell(int32_t(x), int32_t(y), int32_t(z));
                if (!c) continue;
                const int32_t type = c.block->partType(c.slot);
                const int32_t front = c.block->front(c.slot);
                met = met || type == NorGate || type == Conductor;
                if (type == NorGate) {
                    c.core().outputs = s && validDirection(front) ? uint8_t(1u << front) : 0;
                } else if (type == Conductor) {
                    uint8_t out = 255;
                    if (validDirection(front)) out = uint8_t(out & ~(1u << oppositeDirection(front)));
                    c.core().outputs = s ? out : 0;
                }
            }
        }
        report.modules += met;
    }
    return report;
}
