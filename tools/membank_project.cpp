#include "tools/membank_project.h"

#include <fstream>

#include "tools/workloads.h"

namespace membank {

namespace {

constexpr int kPlusY = 0, kPlusX = 1, kPlusZ = 4;
constexpr int kRingDepth = 8;    // cells in -z
constexpr int kRingLength = 32;  // cells in -y

void cellEntry(std::ostream& out, int type, int front, int side, unsigned outputs) {
    out << type << ' ' << front << ' ' << side;
    for (int d = 0; d < 6; ++d) out << ' ' << ((outputs >> d) & 1);
    out << " 0 0 0 0 0 0\n";
}

// Ring position at (dy, dz) from the corner, for the y-outer, z, x-inner
// entry order of a grid box.
struct RingIndex {
    int at[kRingLength][kRingDepth];
    RingIndex() {
        for (int p = 0; p < kRing; ++p) {
            int dy, dz;
            workloads::loopPosition(p, dy, dz);
            at[dy + kRingLength - 1][dz + kRingDepth - 1] = p;
        }
    }
};

}  // namespace

std::string moduleName(int d) {
    std::string name;
    if (d >= 26) name += char('a' + d / 26);
    name += char('a' + d % 26);
    return name;
}

std::string inputTerminalName(int d, int bitLine) {
    return "pc1.mc.mad.mem.memory-module-" + moduleName(d) + ".m.i" + char('0' + bitLine);
}

Position ringPartPosition(int module, int bitLine, int p) {
    int dy, dz;
    workloads::loopPosition(p, dy, dz);
    return Position{6 * module + bitLine, dy, dz};
}

int ringOutputDirection(int p) { return workloads::loopStepDirection(p); }

const std::vector<Tap>& taps() {
    // Both gates and a conductor of the first ring, one tap per polarity
    // change; others spread over modules so a wrong module offset shows.
    static const std::vector<Tap> list = {
        {"taps.a0-p0", 0, 0, 0},     {"taps.a0-p7", 0, 0, 7},   {"taps.a0-p128", 0, 0, 128},
        {"taps.a5-p3", 0, 5, 3},     {"taps.q0-p0", 16, 0, 0},  {"taps.bf5-p255", 31, 5, 255},
    };
    return list;
}

Position clockPosition() { return Position{-4, 4, 0}; }

void writeGrid(std::ostream& out) {
    static const RingIndex ring;
    out << "record identifier membank\n";
    for (int i = 0; i < kModules; ++i) {
        out << "record identifier memory-module-" << moduleName(i) << '\n';
        // The all-ones state: a bank that holds nothing but set bits, which
        // is what a stimulus can only clear bits of.
        out << 6 * i << ' ' << 1 - kRingLength << ' ' << 1 - kRingDepth << ' ' << kBitLines << ' ' << kRingLength
            << ' ' << kRingDepth << '\n';
        for (int dy = 0; dy < kRingLength; ++dy)
            for (int dz = 0; dz < kRingDepth; ++dz)
                for (int b = 0; b < kBitLines; ++b) {
                    const workloads::RingPart part = workloads::ringPart(ring.at[dy][dz], true);
                    cellEntry(out, part.type, part.front, part.side, part.outputs);
                }
        out << "record up\n";
    }
    out << "record up\n";
    // A constant source away from the bank: the monitor's trigger, so that
    // every generation gets a line whatever the taps show.
    const Position c = clockPosition();
    out << "record identifier clock\n";
    out << c.x << ' ' << c.y << ' ' << c.z << " 1 1 1\n";
    cellEntry(out, 9, kPlusY, kPlusX, 1u << kPlusY);
    out << "record up\n";
}

void writeTerminals(std::ostream& out) {
    // The inputs sit on ring position 0 and face +z: the stimulus drives the
    // gate there from the empty cell above it, which forces a 0 into the
    // ring. That cell shares its block with the gate (z = 0 and 1 lie in one
    // block), so it exists and is linked from the load on.
    out << "object pc1\n{\n object mc\n {\n  object mad\n  {\n   object mem\n   {\n";
    for (int d = 0; d < kModules; ++d) {
        out << "    object memory-module-" << moduleName(d) << "\n    {\n     object m\n     {\n";
        for (int b = 0; b < kBitLines; ++b) {
            const Position p = ringPartPosition(d, b, 0);
            out << "      i" << b << ' ' << p.x << ' ' << p.y << ' ' << p.z << ' ' << kPlusZ << " 0\n";
        }
        out << "     }\n    }\n";
    }
    out << "   }\n  }\n }\n}\n";
    out << "object taps\n{\n";
    const Position c = clockPosition();
    out << " clock " << c.x << ' ' << c.y << ' ' << c.z << ' ' << kPlusY << " 0\n";
    for (const Tap& t : taps()) {
        const Position p = ringPartPosition(t.module, t.bitLine, t.position);
        out << ' ' << t.name.substr(t.name.find('.') + 1) << ' ' << p.x << ' ' << p.y << ' ' << p.z << ' '
            << ringOutputDirection(t.position) << " 0\n";
    }
    out << "}\n";
}

void writeMonitor(std::ostream& out) {
    out << kMonitorOutput << '\n';
    out << "taps " << kClockTerminal << " :";
    for (const Tap& t : taps()) out << ' ' << t.name;
    out << " END\n";
}

void writeViews(std::ostream& out) {
    // x y z alt az description. The bank's centre is near (95.5, -15.5, -3.5).
    out << "95.5 -15.5 190 0 0 Whole bank from above (modules a to bf, left to right)\n";
    out << "1.5 52.9 159.3 20 30 Whole bank from the front left\n";
    out << "-70 -15.5 -3.5 0 90 Module a, bit line 0: the ring face on\n";
    out << "261 -15.5 -3.5 0 -90 Module bf, bit line 5: the ring face on\n";
    out << "6 12 12 45 0 Input gates of modules a and b (ring position 0)\n";
}

void writeProject(std::ostream& out) {
    // Relative names: opening a project makes its folder current.
    out << kStem << ".grd\n"
        << kStem << ".trm\n"
        << kStimulusFile << '\n'
        << kStem << ".uvw\n"
        << kStem << ".mon\n";
}

bool writeProjectFiles(const std::string& dir, std::string& error) {
    const struct {
        const char* ext;
        void (*write)(std::ostream&);
    } files[] = {{".grd", writeGrid}, {".trm", writeTerminals}, {".mon", writeMonitor},
                 {".uvw", writeViews}, {".prj", writeProject}};
    for (const auto& f : files) {
        const std::string path = dir + "/" + kStem + f.ext;
        std::ofstream out(path, std::ios::out | std::ios::trunc);
        if (out) f.write(out);
        out.flush();
        if (!out) {
            error = path;
            return false;
        }
    }
    return true;
}

}  // namespace membank
