// Grids that drive machines against the coordinate edge (+-1e9), shared by
// the engine's edge tests and the differential suite.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace edge_grids {

constexpr int64_t kEdge = 1000000000;
constexpr int kDx[6] = {0, 1, 0, -1, 0, 0}, kDy[6] = {1, 0, -1, 0, 0, 0}, kDz[6] = {0, 0, 0, 0, 1, -1};
constexpr int kOpposite[6] = {2, 3, 0, 1, 5, 4};

struct Part {
    int64_t x, y, z;
    int type, front, side, outputs = 0, bonds = 0;
};

// One single-cell box per part: the simplest form that can stand anywhere.
inline std::string grid(const std::vector<Part>& parts) {
    std::ostringstream s;
    for (const Part& p : parts) {
        s << p.x << ' ' << p.y << ' ' << p.z << " 1 1 1  " << p.type << ' ' << p.front << ' ' << p.side;
        for (int d = 0; d < 6; ++d) s << ' ' << ((p.outputs >> d) & 1);
        for (int d = 0; d < 6; ++d) s << ' ' << ((p.bonds >> d) & 1);
        s << '\n';
    }
    return s.str();
}

// The point `gap` cells inside the edge that direction d runs into.
inline void nearEdge(int d, int64_t gap, int64_t& x, int64_t& y, int64_t& z) {
    x = kDx[d] * (kEdge - gap);
    y = kDy[d] * (kEdge - gap);
    z = kDz[d] * (kEdge - gap);
}

// A direction perpendicular to d.
inline int across(int d) { return d < 4 ? 4 : 0; }

// A self-propelled pair: a Drive facing a conductor it is bonded to, moving
// both in direction d every generation, starting `gap` cells from the edge.
inline std::vector<Part> drivePair(int d, int64_t gap) {
    int64_t x, y, z;
    nearEdge(d, gap, x, y, z);
    const int f = across(d);
    return {{x, y, z, 10, f, d, 0, 1 << f},
            {x + kDx[f], y + kDy[f], z + kDz[f], 1, f, d, 0, 1 << kOpposite[f]}};
}

// A source feeding a pusher that pushes a row of `row` unbonded parts in
// direction d; the row's front part stands `gap` cells inside the edge.
inline std::vector<Part> pusherRow(int d, int64_t gap, int row) {
    int64_t x, y, z;
    nearEdge(d, gap, x, y, z);
    std::vector<Part> parts;
    for (int i = 0; i < row; ++i) parts.push_back({x - i * kDx[d], y - i * kDy[d], z - i * kDz[d], 11 + i, across(d), d});
    const int64_t px = x - row * kDx[d], py = y - row * kDy[d], pz = z - row * kDz[d];
    parts.push_back({px, py, pz, 3, d, across(d)});
    parts.push_back({px - kDx[d], py - kDy[d], pz - kDz[d], 9, d, across(d), 1 << d});
    return parts;
}

// A source feeding a shifter whose front part, bonded to a second one,
// is shifted in direction d; the pair stands `gap` cells inside the edge.
inline std::vector<Part> shifterPair(int d, int64_t gap) {
    int64_t x, y, z;
    nearEdge(d, gap, x, y, z);
    const int f = across(d), b = kOpposite[f];
    // Target T at the edge point; shifter behind it (against f), source behind that.
    std::vector<Part> parts;
    parts.push_back({x, y, z, 12, f, d, 0, 1 << kOpposite[d]});
    parts.push_back({x - kDx[d], y - kDy[d], z - kDz[d], 13, f, d, 0, 1 << d});
    parts.push_back({x + kDx[b], y + kDy[b], z + kDz[b], 4, f, d});
    parts.push_back({x + 2 * kDx[b], y + 2 * kDy[b], z + 2 * kDz[b], 9, f, d, 1 << f});
    return parts;
}

// Every machine in every direction, at gaps that reach the edge at once,
// after a few generations, and never.
inline std::vector<std::pair<std::string, std::string>> all() {
    std::vector<std::pair<std::string, std::string>> grids;
    for (int d = 0; d < 6; ++d) {
        const std::string dir = " towards direction " + std::to_string(d);
        for (int64_t gap : {0, 1, 4})
            grids.push_back({"drive pair " + std::to_string(gap) + " from the edge" + dir, grid(drivePair(d, gap))});
        for (int64_t gap : {0, 1, 2})
            grids.push_back({"pusher row " + std::to_string(gap) + " from the edge" + dir, grid(pusherRow(d, gap, 3))});
        for (int64_t gap : {0, 1})
            grids.push_back({"shifter pair " + std::to_string(gap) + " from the edge" + dir, grid(shifterPair(d, gap))});
    }
    return grids;
}

}  // namespace edge_grids
