#include "tools/workloads.h"

#include <cmath>
#include <random>

#include "universe/directions.h"

namespace workloads {

namespace {
constexpr int kPlusY = 0, kPlusX = 1, kMinusY = 2, kPlusZ = 4, kMinusZ = 5;

void cellEntry(std::ostream& out, int type, int front, int side, uint8_t outputs, uint8_t bonds) {
    out << type << ' ' << front << ' ' << side;
    for (int d = 0; d < 6; ++d) out << ' ' << ((outputs >> d) & 1);
    for (int d = 0; d < 6; ++d) out << ' ' << ((bonds >> d) & 1 ? (1 << d) : 0);
    out << '\n';
}
}  // namespace

int loopStepDirection(int p) {
    if (p < 7) return kMinusZ;
    if (p < 38) return kMinusY;
    if (p < 45) return kPlusZ;
    const int r = (p - 45) % 14;
    if (r == 0 || r == 7) return kPlusY;
    return r < 7 ? kMinusZ : kPlusZ;
}

void loopPosition(int p, int& dy, int& dz) {
    dy = dz = 0;
    for (int i = 0; i < p; ++i) {
        const int d = loopStepDirection(i);
        dy += directionTable.dy[d];
        dz += directionTable.dz[d];
    }
}

RingPart ringPart(int p, bool v) {
    const bool raw = p < 7 ? v : !v;
    const bool gate = p == 0 || p == 7;
    // A conductor faces the way the signal arrives; a gate faces the way it
    // sends, so neither listens to the rings beside it.
    const int front = gate ? loopStepDirection(p) : loopStepDirection((p + 255) % 256);
    uint8_t outputs = 0;
    if (raw) outputs = gate ? uint8_t(1u << front) : uint8_t(63 ^ (1u << directionTable.opposite[front]));
    return RingPart{gate ? 2 : 1, front, kPlusX, outputs};
}

bool ringBit(const BankOptions& opt, int module, int bit, int p) {
    switch (opt.pattern) {
    case RingPattern::Ones: return true;
    case RingPattern::Alternating: return (p & 1) == 0;
    case RingPattern::Random: {
        uint32_t h = opt.seed * 2654435761u ^ uint32_t(module * 7919 + bit * 104729 + p * 15485863);
        h ^= h >> 13;
        h *= 0x5bd1e995u;
        h ^= h >> 15;
        return h & 1;
    }
    }
    return true;
}

void writeMemoryBank(std::ostream& out, const BankOptions& opt) {
    int dy[256], dz[256];
    for (int p = 0; p < 256; ++p) loopPosition(p, dy[p], dz[p]);
    for (int i = 0; i < opt.modules; ++i)
        for (int b = 0; b < 6; ++b) {
            const int x = opt.x0 + 6 * i + b;
            for (int p = 0; p < 256; ++p) {
                const RingPart part = ringPart(p, ringBit(opt, i, b, p));
                out << x << ' ' << opt.y0 + dy[p] << ' ' << opt.z0 + dz[p] << " 1 1 1\n";
                cellEntry(out, part.type, part.front, part.side, part.outputs, 0);
            }
        }
    (void)kPlusZ;
    (void)kPlusY;
    (void)kMinusY;
}

void writeDrivers(std::ostream& out, const DriverOptions& opt) {
    // Each group: Drive at (x, y, z) facing +y with side +x, bonded to its
    // target above it; the payload sits on the target's +z face. The whole
    // group fits in one block row, so a lane adds one block every two
    // generations ahead of it and leaves one empty block behind.
    const int lanes = int(std::ceil(std::sqrt(double(opt.groups))));
    for (int g = 0; g < opt.groups; ++g) {
        const int x = (g % 3) * 2;
        const int y = (g % lanes) * 6;
        const int z = (g / lanes) * 6;
        out << x << ' ' << y << ' ' << z << " 1 2 2\n";
        // Entry order: y outer, then z, then x.
        cellEntry(out, 10, kPlusY, kPlusX, 0, 1u << kPlusY);               // (x, y,   z)
        cellEntry(out, 0, 0, 1, 0, 0);                                      // (x, y,   z+1)
        cellEntry(out, 30, kPlusY, kPlusX, 0, (1u << kMinusY) | (1u << kPlusZ));  // (x, y+1, z) target
        cellEntry(out, 31, kPlusY, kPlusX, 0, 1u << kMinusZ);              // (x, y+1, z+1) payload
    }
}

const std::vector<CarPart>& carParts() {
    constexpr int kMinusX = 3;
    // Drive and body on z = 0 (the Drive moves the body, and with it the
    // car, along +x). The ring on z = 1: NOR -> c1 -> c2 -> c3 -> NOR.
    // c1 feeds the rotator (-y of it) and the pusher (+x); c2 the cutter,
    // c3 the binder, which make and break the bond between the two parts
    // at y = 4 one generation apart.
    static const std::vector<CarPart> parts = {
        {0, 0, 0, 10, kPlusY, kPlusX},   // Drive
        {0, 1, 0, 1, kPlusY, kPlusX},    // body: the Drive's target
        {0, 1, 1, 2, kPlusX, kPlusY},    // NOR gate
        {1, 1, 1, 1, kPlusX, kPlusY},    // c1
        {1, 2, 1, 1, kPlusY, kPlusX},    // c2
        {0, 2, 1, 1, kMinusX, kPlusY},   // c3
        {1, 0, 1, 5, kMinusY, kPlusX},   // rotator
        {1, -1, 1, 31, kPlusY, kPlusX},  // flag
        {0, 3, 1, 6, kPlusY, kPlusX},    // binder: bonds (0,4,1) to (1,4,1)
        {1, 3, 1, 7, kPlusY, kMinusX},   // cutter: breaks that bond
        {0, 4, 1, 31, kPlusY, kPlusX},
        {1, 4, 1, 31, kPlusY, kPlusX},
        {2, 1, 1, 3, kPlusX, kPlusY},    // pusher
        {3, 1, 1, 31, kPlusY, kPlusX},   // bumper
    };
    return parts;
}

void writeCars(std::ostream& out, const CarOptions& opt) {
    const std::vector<CarPart>& parts = carParts();
    const int lanes = int(std::ceil(std::sqrt(double(opt.cars))));
    for (int car = 0; car < opt.cars; ++car) {
        const int x0 = (car % 3) * 2, y0 = (car % lanes) * 8, z0 = (car / lanes) * 4;
        for (const CarPart& p : parts) {
            uint8_t bonds = 0;
            for (const CarPart& q : parts)
                for (int d = 0; d < 6; ++d)
                    if (q.x == p.x + directionTable.dx[d] && q.y == p.y + directionTable.dy[d] &&
                        q.z == p.z + directionTable.dz[d])
                        bonds |= uint8_t(1u << d);
            out << x0 + p.x << ' ' << y0 + p.y << ' ' << z0 + p.z << " 1 1 1\n";
            cellEntry(out, p.type, p.front, p.side, 0, bonds);
        }
    }
}

void writeRandomParts(std::ostream& out, const RandomOptions& opt) {
    std::mt19937 rng(opt.seed);
    // A cube of side n filled with the wanted density, written as one box.
    const int64_t cells = int64_t(double(opt.parts) / opt.density);
    const int n = int(std::ceil(std::cbrt(double(cells))));
    int64_t left = opt.parts;
    int64_t slots = int64_t(n) * n * n;
    out << -n / 2 << ' ' << -n / 2 << ' ' << -n / 2 << ' ' << n << ' ' << n << ' ' << n << '\n';
    for (int64_t k = 0; k < slots; ++k) {
        const bool place = left > 0 && int64_t(rng() % uint64_t(slots - k)) < left;
        if (!place) {
            out << "0 0 1 0 0 0 0 0 0 0 0 0 0 0 0\n";
            continue;
        }
        --left;
        const int front = int(rng() % 6);
        int side;
        do side = int(rng() % 6);
        while (side == front || side == directionTable.opposite[front]);
        cellEntry(out, 1 + int(rng() % 12), front, side, uint8_t(rng() % 64), 0);
    }
}

}  // namespace workloads
