#include "files/grid_file.h"

#include <cctype>
#include <fstream>

#include "files/text_scanner.h"
#include "universe/universe.h"

GridReadResult readGridFile(Universe& u, std::istream& in) {
    GridReadResult result;
    TextScanner sc(in);
    RegionEntry* current = nullptr;
    int depth = 0;
    size_t regionBytes = 0;
    int32_t x0 = 0;
    bool boxReady = false;
    std::string w, k;
    for (;;) {
        if (!sc.readWord(w)) break;
        if (w != "record") {
            x0 = TextScanner::leadingInt(w);
            boxReady = true;
        } else {
            if (!sc.readWord(k)) break;
            if (k == "region") {
                if (!sc.readInt(x0)) break;
                boxReady = true;
            } else if (k == "identifier") {
                if (!sc.readWord(w)) break;
                const size_t bytes = (current ? current->path.size() + 1 : 0) + w.size();
                if (depth >= kMaxRegionDepth || bytes > kMaxRegionPathBytes - regionBytes) {
                    result.regionsTooDeep = true;
                    break;
                }
                regionBytes += bytes;
                ++depth;
                current = u.openRegion(w, current);
                boxReady = false;
                continue;
            } else if (k == "up") {
                if (current) {
                    current = current->parent;
                    --depth;
                }
                boxReady = false;
                continue;
            } else if (!boxReady) {
                continue;
            }
        }
        int32_t y0, z0;
        uint32_t nx, ny, nz;
        if (!sc.readInt(y0) || !sc.readInt(z0) || !sc.readUnsigned(nx) || !sc.readUnsigned(ny) || !sc.readUnsigned(nz))
            break;
        if (nx == 0 || ny == 0 || nz == 0) continue;
        bool stop = false;
        for (uint64_t iy = 0; iy < ny && !stop; ++iy)
            for (uint64_t iz = 0; iz < nz && !stop; ++iz)
                for (uint64_t ix = 0; ix < nx && !stop; ++ix) {
                    int32_t type, front, side, v;
                    uint8_t outputs = 0, bonds = 0;
                    if (!sc.readInt(type) || !sc.readInt(front) || !sc.readInt(side)) {
                        stop = true;
                        break;
                    }
                    for (int d = 0; d < 12 && !stop; ++d) {
                        if (!sc.readInt(v)) {
                            stop = true;
                            break;
                        }
                        if (v != 0) {
                            if (d < 6)
                                outputs |= uint8_t(1u << d);
                            else
                                bonds |= uint8_t(1u << (d - 6));
                        }
                    }
                    if (stop) break;
                    if (type == 0) continue;
                    const long long x = (long long)x0 + (long long)ix, y = (long long)y0 + (long long)iy,
                                    z = (long long)z0 + (long long)iz;
                    if (x > kCoordinateLimit || x < -kCoordinateLimit || y > kCoordinateLimit || y < -kCoordinateLimit ||
                        z > kCoordinateLimit || z < -kCoordinateLimit) {
                        ++result.skippedParts;
                        continue;
                    }
                    UniverseCell cell;
                    cell.partType = type;
                    cell.front = front;
                    cell.side = side;
                    cell.up = deriveUp(front, side);
                    cell.x = int32_t(x);
                    cell.y = int32_t(y);
                    cell.z = int32_t(z);
                    cell.outputs = outputs;
                    cell.bonds = bonds;
                    cell.region = current;
                    u.placeCell(cell);
                    ++result.placedParts;
                }
        if (stop) break;
    }
    result.complete = !result.regionsTooDeep && (!sc.failed() || sc.atEnd());
    if (!result.complete) result.stoppedAtLine = sc.line();
    u.forEachBlock([&](UniverseBlock* b) { u.checkBonds(b); });
    u.forEachBlock([&](UniverseBlock* b) { u.relinkBlock(b); });
    return result;
}

bool hasGridSuffix(const std::string& path) {
    if (path.size() < 4) return false;
    std::string ext = path.substr(path.size() - 4);
    for (auto& c : ext) c = char(std::tolower((unsigned char)c));
    return ext == ".grd";
}

bool openGridDocument(Universe& u, const std::string& path, GridReadResult* result) {
    if (!hasGridSuffix(path)) return false;
    InputFile in(path);
    GridReadResult r;
    if (in.isOpen()) r = readGridFile(u, in);
    r.file = in.check();
    if (result) *result = r;
    return true;
}

bool writeGridFile(const Universe& u, const std::string& path, OutputPolicy policy) {
    if (!outputAllowed(path, policy)) return false;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    u.writeBlocks(out);
    out.close();
    return !out.fail();
}
