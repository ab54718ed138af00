#include "universe/edits.h"

#include <array>

#include "universe/directions.h"

namespace {

// Unlike placeCell, an edit says nothing about replacing a part: the user
// asked for it.
void placeQuietly(Universe& u, const UniverseCell& cell) {
    auto handler = std::move(u.onConflict);
    u.onConflict = nullptr;
    u.placeCell(cell);
    u.onConflict = std::move(handler);
}

// The cell at a position without touching any list (findCell enlists its
// block for the commit, as the rules need).
CellRef lookUp(const Universe& u, int32_t x, int32_t y, int32_t z) {
    UniverseBlock* b = u.findBlock(x, y, z);
    return b ? CellRef{b, Universe::slotOf(x, y, z)} : CellRef{};
}

std::array<int64_t, 3> vectorOf(int32_t d) {
    return {directionTable.dx[d], directionTable.dy[d], directionTable.dz[d]};
}

int32_t directionOf(const std::array<int64_t, 3>& v) {
    for (int32_t d = 0; d < 6; ++d)
        if (vectorOf(d) == v) return d;
    return -1;
}

// The transform's linear part on a vector (turns about x, y, z, then the mirror).
std::array<int64_t, 3> turned(const PartTransform& t, std::array<int64_t, 3> v) {
    for (int axis = 0; axis < 3; ++axis) {
        const int n = ((t.turns[axis] % 4) + 4) % 4;
        for (int k = 0; k < n; ++k) {
            const auto [x, y, z] = v;
            if (axis == 0) v = {x, -z, y};       // y goes to z
            else if (axis == 1) v = {z, y, -x};  // z goes to x
            else v = {-y, x, z};                 // x goes to y
        }
    }
    if (t.mirror >= 0 && t.mirror < 3) v[size_t(t.mirror)] = -v[size_t(t.mirror)];
    return v;
}

}  // namespace

static void eraseAt(Universe& u, const UniverseCell& where) {
    UniverseCell empty;
    empty.x = where.x;
    empty.y = where.y;
    empty.z = where.z;
    editCell(u, empty);
}

std::optional<UniverseCell> partAt(Universe& u, int32_t x, int32_t y, int32_t z) {
    CellRef c = lookUp(u, x, y, z);
    if (!c || c.block->empty(c.slot)) return std::nullopt;
    return c.block->cell(c.slot);
}

bool editCell(Universe& u, const UniverseCell& cell) {
    if (!Universe::inCoordinateRange(cell.x, cell.y, cell.z)) return false;
    if (cell.partType != 0) {
        placeQuietly(u, cell);
        return true;
    }
    CellRef c = lookUp(u, cell.x, cell.y, cell.z);
    if (!c || c.block->empty(c.slot)) return true;
    placeQuietly(u, cell);
    for (int32_t d = 0; d < 6; ++d) {
        const int64_t nx = int64_t(cell.x) + directionTable.dx[d], ny = int64_t(cell.y) + directionTable.dy[d],
                      nz = int64_t(cell.z) + directionTable.dz[d];
        if (!Universe::inCoordinateRange(nx, ny, nz)) continue;
        CellRef n = lookUp(u, int32_t(nx), int32_t(ny), int32_t(nz));
        if (n) n.core().bonds &= uint8_t(~(1u << oppositeDirection(d)));
    }
    return true;
}

bool editBond(Universe& u, int32_t x, int32_t y, int32_t z, int32_t direction, bool on) {
    if (!validDirection(direction)) return false;
    const int64_t nx = int64_t(x) + directionTable.dx[direction], ny = int64_t(y) + directionTable.dy[direction],
                  nz = int64_t(z) + directionTable.dz[direction];
    if (!Universe::inCoordinateRange(x, y, z) || !Universe::inCoordinateRange(nx, ny, nz)) return false;
    CellRef a = lookUp(u, x, y, z);
    CellRef b = lookUp(u, int32_t(nx), int32_t(ny), int32_t(nz));
    if (!a || !b || a.block->empty(a.slot) || b.block->empty(b.slot)) return false;
    const uint8_t ba = uint8_t(1u << direction), bb = uint8_t(1u << oppositeDirection(direction));
    if (on) {
        a.core().bonds |= ba;
        b.core().bonds |= bb;
    } else {
        a.core().bonds &= uint8_t(~ba);
        b.core().bonds &= uint8_t(~bb);
    }
    return true;
}

std::vector<UniverseCell> partsInBox(const Universe& u, const int32_t lo[3], const int32_t hi[3]) {
    int32_t a[3], b[3];
    for (int k = 0; k < 3; ++k) {
        a[k] = std::min(lo[k], hi[k]);
        b[k] = std::max(lo[k], hi[k]);
    }
    std::vector<UniverseCell> out;
    u.forEachBlock([&](const UniverseBlock* blk) {
        if (blk->originX > b[0] || int64_t(blk->originX) + 1 < a[0] || blk->originY > b[1] ||
            int64_t(blk->originY) + 1 < a[1] || blk->originZ > b[2] || int64_t(blk->originZ) + 2 < a[2])
            return;
        for (int s = 0; s < 12; ++s) {
            if (blk->empty(s)) continue;
            const int32_t x = blk->cellX(s), y = blk->cellY(s), z = blk->cellZ(s);
            if (x >= a[0] && x <= b[0] && y >= a[1] && y <= b[1] && z >= a[2] && z <= b[2])
                out.push_back(blk->cell(s));
        }
    });
    return out;
}

size_t eraseBox(Universe& u, const int32_t lo[3], const int32_t hi[3]) {
    const std::vector<UniverseCell> parts = partsInBox(u, lo, hi);
    for (const UniverseCell& c : parts) eraseAt(u, c);
    return parts.size();
}

int32_t transformDirection(const PartTransform& t, int32_t d) {
    if (!validDirection(d)) return d;
    const int32_t r = directionOf(turned(t, vectorOf(d)));
    return r >= 0 ? r : d;
}

uint8_t transformMask(const PartTransform& t, uint8_t mask) {
    uint8_t out = uint8_t(mask & 0xC0);  // bits beyond the six faces are kept as they are
    for (int32_t d = 0; d < 6; ++d)
        if (mask & (1u << d)) out |= uint8_t(1u << transformDirection(t, d));
    return out;
}

bool transformCell(const PartTransform& t, UniverseCell& c) {
    const auto p = turned(t, {c.x, c.y, c.z});
    const int64_t x = p[0] + t.offset[0], y = p[1] + t.offset[1], z = p[2] + t.offset[2];
    if (!Universe::inCoordinateRange(x, y, z)) return false;
    c.x = int32_t(x);
    c.y = int32_t(y);
    c.z = int32_t(z);
    c.front = transformDirection(t, c.front);
    c.side = transformDirection(t, c.side);
    c.up = transformDirection(t, c.up);
    c.outputs = transformMask(t, c.outputs);
    c.nextOutputs = transformMask(t, c.nextOutputs);
    c.bonds = transformMask(t, c.bonds);
    return true;
}

size_t transformParts(Universe& u, const std::vector<CellPosition>& positions, const PartTransform& t) {
    std::vector<UniverseCell> parts;
    parts.reserve(positions.size());
    for (const CellPosition& p : positions)
        if (auto c = partAt(u, p.x, p.y, p.z)) parts.push_back(*c);
    for (const UniverseCell& c : parts) eraseAt(u, c);
    std::vector<UniverseCell> placed;
    placed.reserve(parts.size());
    for (UniverseCell c : parts) {
        // A copy in a new place is not the terminal's cell.
        c.terminalBinding = nullptr;
        if (!transformCell(t, c)) continue;
        editCell(u, c);
        placed.push_back(c);
    }
    for (const UniverseCell& c : placed) {
        CellRef r = lookUp(u, c.x, c.y, c.z);
        if (!r) continue;
        for (int32_t d = 0; d < 6; ++d) {
            if (!(r.core().bonds & (1u << d))) continue;
            const int64_t nx = int64_t(c.x) + directionTable.dx[d], ny = int64_t(c.y) + directionTable.dy[d],
                          nz = int64_t(c.z) + directionTable.dz[d];
            CellRef n = Universe::inCoordinateRange(nx, ny, nz) ? lookUp(u, int32_t(nx), int32_t(ny), int32_t(nz))
                                                               : CellRef{};
            if (!n || n.block->empty(n.slot) || !(n.core().bonds & (1u << oppositeDirection(d))))
                r.core().bonds &= uint8_t(~(1u << d));
        }
    }
    return placed.size();
}
