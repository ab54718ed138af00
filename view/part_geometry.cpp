#include "view/part_geometry.h"

#include "universe/directions.h"
#include "universe/universe.h"

namespace {

using Record = std::array<Rgb, 8>;

constexpr Record record(Rgb a, Rgb b, Rgb c, Rgb d) { return {a, a, b, b, c, c, d, d}; }

// Index 0: part types without a rule. They can only come from a hand-edited
// or damaged file, so they are drawn in colours no real part uses (purple
// back, orange front) to stand out while still showing which way they face.
const std::array<Record, 11> kRecords = {
    record({0.5f, 0, 0.5f}, {0.5f, 0, 0.5f}, {1, 0.5f, 0}, {1, 0.5f, 0}),
    record({0, 0, 1}, {0, 0, 1}, {1, 1, 0}, {1, 1, 0}),                                // Conductor
    record({0, 0, 1}, {0, 0, 1}, {0, 1, 0}, {0, 1, 0}),                                // NorGate
    record({0, 0, 1}, {0, 0, 1}, {1, 0, 1}, {1, 0, 1}),                                // Pusher
    record({0, 0, 1}, {0.5f, 0, 1}, {1, 0, 0}, {1, 0, 0}),                             // Shifter
    record({0, 0, 1}, {0, 0, 1}, {0, 1, 1}, {0, 1, 1}),                                // Rotator
    record({0, 0, 1}, {0.05f, 0.5f, 1}, {1, 1, 1}, {1, 1, 1}),                         // Binder
    record({0, 0, 1}, {0.5f, 0.5f, 0.1f}, {0.1f, 0.1f, 0.1f}, {0.1f, 0.1f, 0.1f}),     // Cutter
    record({0, 0, 0.5f}, {0, 0, 0.5f}, {0, 0.5f, 1}, {0, 0.5f, 1}),                    // PulseInput
    record({0, 0.5f, 0}, {0, 0.5f, 0}, {0, 1, 0}, {0, 1, 0}),                          // Source
    record({0.5f, 0.5f, 0.5f}, {0.5f, 0.5f, 0.5f}, {0.3f, 0.3f, 0.3f}, {0.1f, 0.1f, 0.1f}),  // Drive
};

int axisOf(int d) { return d == 1 || d == 3 ? 0 : d == 0 || d == 2 ? 1 : 2; }

Vec3f step(int d) {
    return {float(directionTable.dx[d]), float(directionTable.dy[d]), float(directionTable.dz[d])};
}

}  // namespace

int partColourRecord(int32_t partType) {
    return partType >= Conductor && partType <= Drive ? partType : kOtherPartRecord;
}

const std::array<Rgb, 8>& partColours(int32_t partType) { return kRecords[partColourRecord(partType)]; }

const std::array<Rgb, 8>& colourRecord(int record) {
    return kRecords[record >= 0 && record <= Drive ? record : kOtherPartRecord];
}

PartFrame drawingFrame(int32_t front, int32_t side, int32_t up) {
    if (validDirection(front) && validDirection(side) && validDirection(up)) {
        const int a = axisOf(front), b = axisOf(side), c = axisOf(up);
        if (a != b && b != c && a != c) return {uint8_t(front), uint8_t(side), uint8_t(up)};
    }
    return {};
}

Vec3f cornerPosition(int corner, float h) {
    return {corner & 4 ? h : -h, corner & 2 ? h : -h, corner & 1 ? h : -h};
}

std::array<uint8_t, 8> cornerColourIndex(PartFrame f) {
    const Vec3f F = step(f.front), S = step(f.side), U = step(f.up);
    std::array<uint8_t, 8> out{};
    for (int k = 0; k < 8; ++k) {
        const Vec3f p = cornerPosition(k, 1);
        auto positive = [&](Vec3f a) { return a.x * p.x + a.y * p.y + a.z * p.z > 0; };
        out[k] = uint8_t((positive(F) ? 4 : 0) | (positive(S) ? 2 : 0) | (positive(U) ? 1 : 0));
    }
    return out;
}

Vec3f faceVertex(int d, int i, float t, float s) {
    // Sign patterns of the two in-plane coordinates, counter-clockwise seen
    // from outside for each face.
    static const int8_t kSigns[6][4][2] = {
        {{-1, 1}, {1, 1}, {1, -1}, {-1, -1}},    // +y: (x, z)
        {{1, 1}, {-1, 1}, {-1, -1}, {1, -1}},    // +x: (y, z)
        {{-1, 1}, {-1, -1}, {1, -1}, {1, 1}},    // -y: (x, z)
        {{1, 1}, {1, -1}, {-1, -1}, {-1, 1}},    // -x: (y, z)
        {{1, 1}, {-1, 1}, {-1, -1}, {1, -1}},    // +z: (x, y)
        {{1, 1}, {1, -1}, {-1, -1}, {-1, 1}},    // -z: (x, y)
    };
    const float u = kSigns[d][i][0] * s, v = kSigns[d][i][1] * s;
    switch (d) {
        case 0: return {u, t, v};
        case 2: return {u, -t, v};
        case 1: return {t, u, v};
        case 3: return {-t, u, v};
        case 4: return {u, v, t};
        default: return {u, v, -t};
    }
}

const std::array<uint8_t, 24>& bodyFaceCorners() {
    static const std::array<uint8_t, 24> corners = [] {
        std::array<uint8_t, 24> c{};
        for (int f = 0; f < 6; ++f)
            for (int i = 0; i < 4; ++i) {
                const Vec3f p = faceVertex(kFaceOrder[f], i, 1, 1);
                c[f * 4 + i] = uint8_t((p.x > 0 ? 4 : 0) | (p.y > 0 ? 2 : 0) | (p.z > 0 ? 1 : 0));
            }
        return c;
    }();
    return corners;
}

std::array<Vec3f, 6> driveArrow(PartFrame f) {
    const Vec3f F = step(f.front), S = step(f.side), U = step(f.up);
    auto point = [&](float s, float u) {
        const float k = kDriveDumpOffset;
        return Vec3f{(F.x + s * S.x + u * U.x) * k, (F.y + s * S.y + u * U.y) * k, (F.z + s * S.z + u * U.z) * k};
    };
    const Vec3f tip = point(0.95f, 0);
    return {point(-0.95f, 0), tip, tip, point(0.75f, -0.2f), tip, point(0.75f, 0.2f)};
}
