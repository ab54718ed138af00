#include "shell/edit_ops.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>

#include "files/grid_file.h"
#include "universe/directions.h"
#include "view/navigation.h"

CellBox CellBox::spanning(const CellPosition& a, const CellPosition& b) {
    CellBox box;
    const int32_t pa[3] = {a.x, a.y, a.z}, pb[3] = {b.x, b.y, b.z};
    for (int k = 0; k < 3; ++k) {
        box.lo[k] = std::min(pa[k], pb[k]);
        box.hi[k] = std::max(pa[k], pb[k]);
    }
    return box;
}

bool CellBox::contains(const CellPosition& p) const {
    const int32_t v[3] = {p.x, p.y, p.z};
    for (int k = 0; k < 3; ++k)
        if (v[k] < lo[k] || v[k] > hi[k]) return false;
    return true;
}

namespace {
std::optional<CellBox> boxAround(const std::vector<UniverseCell>& parts) {
    constexpr int32_t kMin = std::numeric_limits<int32_t>::min(), kMax = std::numeric_limits<int32_t>::max();
    if (parts.empty()) return std::nullopt;
    CellBox box;
    box.lo = {kMax, kMax, kMax};
    box.hi = {kMin, kMin, kMin};
    for (const UniverseCell& c : parts) {
        const int32_t v[3] = {c.x, c.y, c.z};
        for (int k = 0; k < 3; ++k) {
            box.lo[k] = std::min(box.lo[k], v[k]);
            box.hi[k] = std::max(box.hi[k], v[k]);
        }
    }
    return box;
}
}  // namespace

std::optional<CellBox> boxAroundParts(const Universe& universe) {
    constexpr int32_t kMin = std::numeric_limits<int32_t>::min(), kMax = std::numeric_limits<int32_t>::max();
    const int32_t lo[3] = {kMin, kMin, kMin}, hi[3] = {kMax, kMax, kMax};
    return boxAround(partsInBox(universe, lo, hi));
}

std::optional<CellBox> clipToParts(const Universe& universe, const CellBox& box) {
    return boxAround(partsInBox(universe, box.lo.data(), box.hi.data()));
}

namespace {
// Drops bonds toward positions that hold none of `parts`.
void keepInnerBonds(std::vector<UniverseCell>& parts) {
    auto holds = [&](int64_t x, int64_t y, int64_t z) {
        return std::any_of(parts.begin(), parts.end(),
                           [&](const UniverseCell& c) { return c.x == x && c.y == y && c.z == z; });
    };
    for (UniverseCell& c : parts)
        for (int d = 0; d < 6; ++d)
            if ((c.bonds >> d & 1) && !holds(int64_t(c.x) + directionTable.dx[d], int64_t(c.y) + directionTable.dy[d],
                                             int64_t(c.z) + directionTable.dz[d]))
                c.bonds = uint8_t(c.bonds & ~(1u << d));
}
}  // namespace

std::string selectionGridText(const Universe& universe, const CellBox& box) {
    std::vector<UniverseCell> parts = partsInBox(universe, box.lo.data(), box.hi.data());
    if (parts.empty()) return {};
    keepInnerBonds(parts);
    Universe copy;
    for (UniverseCell c : parts) {
        c.x -= box.lo[0];
        c.y -= box.lo[1];
        c.z -= box.lo[2];
        c.region = nullptr;
        c.terminalBinding = nullptr;
        editCell(copy, c);
    }
    std::ostringstream out;
    copy.writeBlocks(out);
    return out.str();
}

std::optional<std::vector<UniverseCell>> cellsFromGridText(const std::string& text, const CellPosition& at) {
    Universe read;
    std::istringstream in(text);
    const GridReadResult r = readGridFile(read, in);
    // Text that is not grid text from its start reads nothing; a grid that
    // stops partway still gives what came before, as opening one does.
    if (r.placedParts == 0) return std::nullopt;
    const std::optional<CellBox> box = boxAroundParts(read);
    if (!box) return std::nullopt;
    std::vector<UniverseCell> parts = partsInBox(read, box->lo.data(), box->hi.data());
    std::vector<UniverseCell> out;
    out.reserve(parts.size());
    for (UniverseCell c : parts) {
        const int64_t x = int64_t(c.x) - box->lo[0] + at.x, y = int64_t(c.y) - box->lo[1] + at.y,
                      z = int64_t(c.z) - box->lo[2] + at.z;
        if (!Universe::inCoordinateRange(x, y, z)) continue;
        c.x = int32_t(x);
        c.y = int32_t(y);
        c.z = int32_t(z);
        c.region = nullptr;
        c.terminalBinding = nullptr;
        out.push_back(c);
    }
    return out;
}

int nearestAxis(const std::array<double, 3>& d) {
    const double a[3] = {std::abs(d[0]), std::abs(d[1]), std::abs(d[2])};
    return a[0] >= a[1] ? (a[0] >= a[2] ? 0 : 2) : (a[1] >= a[2] ? 1 : 2);
}

namespace {
// Anchors `t` (turns and mirror, no offset yet) so the box's image has the
// box's low corner; returns the image.
CellBox anchor(PartTransform& t, const CellBox& box) {
    CellBox image;
    bool first = true;
    for (int corner = 0; corner < 8; ++corner) {
        UniverseCell c;
        c.x = (corner & 1) ? box.hi[0] : box.lo[0];
        c.y = (corner & 2) ? box.hi[1] : box.lo[1];
        c.z = (corner & 4) ? box.hi[2] : box.lo[2];
        transformCell(t, c);
        const int32_t v[3] = {c.x, c.y, c.z};
        for (int k = 0; k < 3; ++k) {
            image.lo[k] = first ? v[k] : std::min(image.lo[k], v[k]);
            image.hi[k] = first ? v[k] : std::max(image.hi[k], v[k]);
        }
        first = false;
    }
    for (int k = 0; k < 3; ++k) {
        t.offset[k] = box.lo[k] - image.lo[k];
        image.hi[k] += t.offset[k];
        image.lo[k] = box.lo[k];
    }
    return image;
}
}  // namespace

PartTransform turnInView(const Camera& camera, const CellBox& box, bool clockwise, CellBox& turned) {
    const CameraAxes axes = cameraAxes(camera);
    const int axis = nearestAxis(axes.up);
    const int sign = axes.up[axis] >= 0 ? 1 : -1;
    // A positive quarter turn is anticlockwise seen from the axis' tip.
    PartTransform t;
    t.turns[axis] = ((clockwise ? -sign : sign) + 4) % 4;
    turned = anchor(t, box);
    return t;
}

PartTransform mirrorInView(const Camera& camera, const CellBox& box) {
    PartTransform t;
    t.mirror = nearestAxis(cameraAxes(camera).right);
    anchor(t, box);
    return t;
}

CellPosition cellInFrontOf(const Camera& camera, int width, int height, double px, double py,
                           const CellPosition& hit) {
    const std::array<double, 3> d = pixelRay(camera, width, height, px, py);
    const double o[3] = {camera.x, camera.y, camera.z};
    const int32_t c[3] = {hit.x, hit.y, hit.z};
    // The slab the ray enters last is the face it comes in through.
    int faceAxis = 0;
    double enter = -std::numeric_limits<double>::infinity();
    for (int k = 0; k < 3; ++k) {
        if (d[k] == 0) continue;
        const double t0 = (c[k] - 0.5 - o[k]) / d[k], t1 = (c[k] + 0.5 - o[k]) / d[k];
        const double near = std::min(t0, t1);
        if (near > enter) {
            enter = near;
            faceAxis = k;
        }
    }
    int32_t out[3] = {c[0], c[1], c[2]};
    out[faceAxis] += d[faceAxis] > 0 ? -1 : 1;
    return {out[0], out[1], out[2]};
}

CellPosition cellAlongRay(const Camera& camera, int width, int height, double px, double py, double distance) {
    const std::array<double, 3> d = pixelRay(camera, width, height, px, py);
    return {int32_t(std::floor(camera.x + d[0] * distance + 0.5)), int32_t(std::floor(camera.y + d[1] * distance + 0.5)),
            int32_t(std::floor(camera.z + d[2] * distance + 0.5))};
}

UniverseCell makePart(int32_t type, int32_t front, int32_t side, const CellPosition& at) {
    if (!validDirection(front)) front = 0;
    if (!validDirection(side)) side = 1;
    for (int i = 0; i < 6 && (side == front || side == oppositeDirection(front)); ++i) side = (side + 1) % 6;
    UniverseCell c;
    c.partType = type;
    c.front = front;
    c.side = side;
    c.up = deriveUp(front, side);
    c.x = at.x;
    c.y = at.y;
    c.z = at.z;
    return c;
}
