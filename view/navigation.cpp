#include "view/navigation.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "universe/directions.h"
#include "universe/universe.h"
#include "view/part_geometry.h"
#include "view/snapshot.h"

namespace {

using V3 = std::array<double, 3>;

double dot(const V3& a, const V3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

double tanHalfFov() { return std::tan(degreesToRadians(kFieldOfViewDegrees / 2)); }

double aspectOf(int width, int height) { return height <= 0 ? 1.0 : double(width) / double(height); }

// A float eye coordinate stays finite and well inside the lattice, so a
// runaway wheel or pan can never produce a camera that draws nothing ever
// again (the keys cannot get there in any sensible time either).
float clampCoordinate(double v) {
    constexpr double kLimit = 1.0e9;
    if (!std::isfinite(v)) return 0.0f;
    return float(std::clamp(v, -kLimit, kLimit));
}

}  // namespace

bool drawnBounds(const SceneSnapshot& snapshot, Bounds& out) {
    if (snapshot.cells.empty()) return false;
    double lo[3] = {std::numeric_limits<double>::max(), std::numeric_limits<double>::max(),
                    std::numeric_limits<double>::max()};
    double hi[3] = {-lo[0], -lo[1], -lo[2]};
    for (const SceneCell& c : snapshot.cells) {
        const double p[3] = {double(c.x), double(c.y), double(c.z)};
        for (int i = 0; i < 3; ++i) {
            lo[i] = std::min(lo[i], p[i]);
            hi[i] = std::max(hi[i], p[i]);
        }
    }
    for (int i = 0; i < 3; ++i) {
        out.lo[i] = lo[i] - 0.5;
        out.hi[i] = hi[i] + 0.5;
    }
    return true;
}

CameraAxes cameraAxes(const Camera& c) {
    // The rows of the view matrix's rotation are the eye's axes in the world.
    const auto m = cameraViewMatrix(c);
    CameraAxes a;
    a.right = {m[0], m[4], m[8]};
    a.up = {m[1], m[5], m[9]};
    a.forward = {-m[2], -m[6], -m[10]};
    return a;
}

std::array<double, 3> pixelRay(const Camera& c, int width, int height, double px, double py) {
    const CameraAxes a = cameraAxes(c);
    const double t = tanHalfFov();
    const double w = width > 0 ? width : 1, h = height > 0 ? height : 1;
    const double sx = (2.0 * px / w - 1.0) * t * aspectOf(width, height);
    const double sy = (1.0 - 2.0 * py / h) * t;
    V3 d;
    for (int i = 0; i < 3; ++i) d[i] = a.right[i] * sx + a.up[i] * sy + a.forward[i];
    const double len = std::sqrt(dot(d, d));
    for (double& v : d) v /= len;
    return d;
}

std::optional<std::array<double, 2>> projectToPixel(const Camera& c, int width, int height, double x, double y,
                                                    double z) {
    const CameraAxes a = cameraAxes(c);
    const V3 d{x - c.x, y - c.y, z - c.z};
    const double depth = dot(d, a.forward);
    if (!(depth > 1e-9)) return std::nullopt;
    const double t = tanHalfFov();
    const double w = width > 0 ? width : 1, h = height > 0 ? height : 1;
    const double sx = dot(d, a.right) / depth / (t * aspectOf(width, height));
    const double sy = dot(d, a.up) / depth / t;
    return std::array<double, 2>{(sx + 1.0) * w / 2.0, (1.0 - sy) * h / 2.0};
}

void orbitAbout(Camera& camera, const std::array<double, 3>& pivot, double dAz, double dAlt) {
    const CameraAxes before = cameraAxes(camera);
    const V3 d{pivot[0] - camera.x, pivot[1] - camera.y, pivot[2] - camera.z};
    // The pivot in eye coordinates, kept through the turn.
    const double r = dot(d, before.right), u = dot(d, before.up), f = dot(d, before.forward);
    camera.az = float(double(camera.az) + dAz);
    camera.alt = float(double(camera.alt) + dAlt);
    const CameraAxes after = cameraAxes(camera);
    camera.x = clampCoordinate(pivot[0] - (after.right[0] * r + after.up[0] * u + after.forward[0] * f));
    camera.y = clampCoordinate(pivot[1] - (after.right[1] * r + after.up[1] * u + after.forward[1] * f));
    camera.z = clampCoordinate(pivot[2] - (after.right[2] * r + after.up[2] * u + after.forward[2] * f));
}

// ------------------------------------------------------------------ framing

namespace {

// The eye distance from the box centre that puts every corner inside the
// frustum with a margin, and the depth of the farthest corner from there.
void frameBox(const Bounds& box, const Camera& angles, int width, int height, double& distance, double& farthest) {
    const CameraAxes a = cameraAxes(angles);
    constexpr double kMargin = 0.92;
    const double tv = tanHalfFov() * kMargin;
    const double th = tanHalfFov() * aspectOf(width, height) * kMargin;
    const V3 centre = {(box.lo[0] + box.hi[0]) / 2, (box.lo[1] + box.hi[1]) / 2, (box.lo[2] + box.hi[2]) / 2};
    distance = kNearPlane + 1;
    double maxDepth = 0;
    for (int k = 0; k < 8; ++k) {
        const V3 q = {(k & 4 ? box.hi[0] : box.lo[0]) - centre[0], (k & 2 ? box.hi[1] : box.lo[1]) - centre[1],
                      (k & 1 ? box.hi[2] : box.lo[2]) - centre[2]};
        const double qf = dot(q, a.forward);
        // Corner depth from the eye is distance + qf; it must cover the
        // corner's sideways and upward offsets, and lie past the near plane.
        distance = std::max(distance, std::abs(dot(q, a.right)) / th - qf);
        distance = std::max(distance, std::abs(dot(q, a.up)) / tv - qf);
        distance = std::max(distance, kNearPlane + 1 - qf);
        maxDepth = std::max(maxDepth, qf);
    }
    farthest = distance + maxDepth;
}

Camera placeEye(const Bounds& box, Camera angles, double distance) {
    const CameraAxes a = cameraAxes(angles);
    for (int i = 0; i < 3; ++i) {
        const double c = (box.lo[i] + box.hi[i]) / 2 - distance * a.forward[i];
        (i == 0 ? angles.x : i == 1 ? angles.y : angles.z) = clampCoordinate(c);
    }
    return angles;
}

}  // namespace

Camera fitAllCamera(const Bounds& box, int width, int height) {
    Camera angled;
    angled.alt = kFitAllAlt;
    angled.az = kFitAllAz;
    double distance = 0, farthest = 0;
    frameBox(box, angled, width, height, distance, farthest);
    constexpr double kFarLimit = kFarPlane - 1;
    if (farthest > kFarLimit) {
        Camera front;
        front.alt = 0;
        front.az = 0;
        double d2 = 0, far2 = 0;
        frameBox(box, front, width, height, d2, far2);
        if (far2 < farthest) return placeEye(box, front, d2);
    }
    return placeEye(box, angled, distance);
}

// ------------------------------------------------------------------ mouse

void MouseNavigator::press(MouseButton button, int x, int y, double panDistance) {
    button_ = button;
    pressX_ = lastX_ = x;
    pressY_ = lastY_ = y;
    panDistance_ = std::isfinite(panDistance) && panDistance > kNearPlane ? panDistance : kNearPlane;
    dragging_ = false;
    pivot_.reset();
}

bool MouseNavigator::move(int x, int y, int viewHeight, Camera& camera, bool& movedEye) {
    movedEye = false;
    if (button_ == MouseButton::None) return false;
    if (!dragging_) {
        if (std::abs(x - pressX_) <= kDeadZone && std::abs(y - pressY_) <= kDeadZone) return false;
        dragging_ = true;
    }
    const int dx = x - lastX_, dy = y - lastY_;
    lastX_ = x;
    lastY_ = y;
    if (dx == 0 && dy == 0) return false;
    if (orbiting()) {
        orbitAbout(camera, *pivot_, dx * kDegreesPerPixel, dy * kDegreesPerPixel);
        movedEye = true;
        return true;
    }
    if (button_ == MouseButton::Left) {
        // Right turns right, down tilts down: the directions of P and Q.
        camera.az = float(double(camera.az) + dx * kDegreesPerPixel);
        camera.alt = float(double(camera.alt) + dy * kDegreesPerPixel);
        return true;
    }
    // Pan: the point at panDistance under the pointer stays under it, so the
    // eye moves against the pointer in the view plane.
    const double perPixel = 2.0 * panDistance_ * tanHalfFov() / double(viewHeight > 0 ? viewHeight : 1);
    const CameraAxes a = cameraAxes(camera);
    const double mr = -dx * perPixel, mu = dy * perPixel;
    camera.x = clampCoordinate(camera.x + a.right[0] * mr + a.up[0] * mu);
    camera.y = clampCoordinate(camera.y + a.right[1] * mr + a.up[1] * mu);
    camera.z = clampCoordinate(camera.z + a.right[2] * mr + a.up[2] * mu);
    movedEye = true;
    return true;
}

void MouseNavigator::release() {
    button_ = MouseButton::None;
    dragging_ = false;
    pivot_.reset();
}

void wheelStep(Camera& camera, double notches, double distance) {
    if (!std::isfinite(notches) || notches == 0) return;
    if (!std::isfinite(distance)) distance = kFarPlane;
    const double step = std::clamp(distance / 5.0, 0.25, 100.0) * notches;
    const auto f = cameraForward(camera);
    camera.x = clampCoordinate(camera.x + f[0] * step);
    camera.y = clampCoordinate(camera.y + f[1] * step);
    camera.z = clampCoordinate(camera.z + f[2] * step);
}

double distanceToBox(const Camera& camera, const Bounds& box) {
    const double p[3] = {camera.x, camera.y, camera.z};
    double s = 0;
    for (int i = 0; i < 3; ++i) {
        const double d = std::max({box.lo[i] - p[i], 0.0, p[i] - box.hi[i]});
        s += d * d;
    }
    return std::sqrt(s);
}

// ------------------------------------------------------------------ picking

std::optional<PickedPart> pickPart(const Camera& camera, int width, int height, double px, double py,
                                   const Universe& universe) {
    const V3 o = {camera.x, camera.y, camera.z};
    const V3 d = pixelRay(camera, width, height, px, py);
    for (double v : o)
        if (!std::isfinite(v) || std::abs(v) > 2.0e9) return std::nullopt;
    for (double v : d)
        if (!std::isfinite(v)) return std::nullopt;
    // Nothing beyond the far plane is drawn, so nothing there is picked.
    const double along = dot(d, cameraForward(camera));
    if (along <= 0) return std::nullopt;
    const double limit = kFarPlane / along;

    int64_t cell[3];
    double tMax[3], tDelta[3];
    int step[3];
    for (int i = 0; i < 3; ++i) {
        cell[i] = int64_t(std::floor(o[i] + 0.5));
        if (d[i] > 0) {
            step[i] = 1;
            tDelta[i] = 1.0 / d[i];
            tMax[i] = (double(cell[i]) + 0.5 - o[i]) / d[i];
        } else if (d[i] < 0) {
            step[i] = -1;
            tDelta[i] = -1.0 / d[i];
            tMax[i] = (double(cell[i]) - 0.5 - o[i]) / d[i];
        } else {
            step[i] = 0;
            tDelta[i] = tMax[i] = std::numeric_limits<double>::infinity();
        }
    }
    constexpr int64_t kMin = std::numeric_limits<int32_t>::min(), kMax = std::numeric_limits<int32_t>::max();
    double t = 0;
    while (t <= limit) {
        if (cell[0] < kMin || cell[0] > kMax || cell[1] < kMin || cell[1] > kMax || cell[2] < kMin || cell[2] > kMax)
            return std::nullopt;
        const int32_t x = int32_t(cell[0]), y = int32_t(cell[1]), z = int32_t(cell[2]);
        if (const UniverseBlock* b = universe.findPartBlock(x, y, z)) {
            const int s = Universe::slotOf(x, y, z);
            const RegionEntry* region = b->region(s);
            if (!b->empty(s) && !(region && !region->visible)) {
                // Slab test against the body, which is narrower than the cell.
                double enter = 0, leave = std::numeric_limits<double>::infinity();
                for (int i = 0; i < 3; ++i) {
                    const double lo = double(cell[i]) - double(kBodyHalfSize), hi = double(cell[i]) + double(kBodyHalfSize);
                    if (d[i] == 0) {
                        if (o[i] < lo || o[i] > hi) enter = leave + 1;
                        continue;
                    }
                    double t0 = (lo - o[i]) / d[i], t1 = (hi - o[i]) / d[i];
                    if (t0 > t1) std::swap(t0, t1);
                    enter = std::max(enter, t0);
                    leave = std::min(leave, t1);
                }
                if (enter <= leave && enter <= limit) {
                    PickedPart p;
                    p.x = x;
                    p.y = y;
                    p.z = z;
                    p.partType = b->partType(s);
                    p.front = b->front(s);
                    p.side = b->side(s);
                    p.up = b->up(s);
                    p.outputs = b->cells.outputs[s];
                    p.bonds = b->cells.bonds[s];
                    p.region = region;
                    p.binding = b->terminalBinding(s);
                    p.distance = enter;
                    return p;
                }
            }
        }
        // Into the neighbour across the nearest cell boundary.
        const int axis = tMax[0] < tMax[1] ? (tMax[0] < tMax[2] ? 0 : 2) : (tMax[1] < tMax[2] ? 1 : 2);
        t = tMax[axis];
        tMax[axis] += tDelta[axis];
        cell[axis] += step[axis];
    }
    return std::nullopt;
}

const char* directionName(int32_t d) {
    static const char* const names[6] = {"+y", "+x", "-y", "-x", "+z", "-z"};
    return validDirection(d) ? names[d] : "?";
}

std::string partTypeName(int32_t type) {
    static const char* const names[11] = {"empty",   "Conductor", "NorGate", "Pusher",     "Shifter", "Rotator",
                                          "Binder",  "Cutter",    "PulseInput", "Source", "Drive"};
    if (type >= 0 && type <= 10) return names[type];
    std::string s = "type ";
    s += std::to_string(type);
    return s;
}

namespace {
std::string faceList(uint8_t mask) {
    std::string s;
    for (int d : {0, 1, 2, 3, 4, 5}) {
        if (!(mask & (1u << d))) continue;
        if (!s.empty()) s += ' ';
        s += directionName(d);
    }
    return s.empty() ? "none" : s;
}
}  // namespace

std::string describePart(const PickedPart& p, const std::string& terminalName) {
    // Built by appending: chained temporaries here trip a false -Wrestrict.
    std::string s;
    s.reserve(128);
    s += '(';
    s += std::to_string(p.x);
    s += ", ";
    s += std::to_string(p.y);
    s += ", ";
    s += std::to_string(p.z);
    s += ") ";
    s += partTypeName(p.partType);
    s += "  front ";
    s += directionName(p.front);
    s += " side ";
    s += directionName(p.side);
    s += " up ";
    s += directionName(p.up);
    s += "  outputs ";
    s += faceList(p.outputs & 0x3F);
    s += "  bonds ";
    s += faceList(p.bonds & 0x3F);
    if (p.region) {
        s += "  region ";
        s += p.region->path;
    }
    if (!terminalName.empty()) {
        s += "  terminal ";
        s += terminalName;
    }
    return s;
}
