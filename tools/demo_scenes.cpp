#include "tools/demo_scenes.h"

#include <array>
#include <cstdint>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace demos {

namespace {

// Direction indices: 0 +y, 1 +x, 2 -y, 3 -x, 4 +z, 5 -z.
enum Dir { PY = 0, PX = 1, NY = 2, NX = 3, PZ = 4, NZ = 5 };
constexpr int kStep[6][3] = {{0, 1, 0}, {1, 0, 0}, {0, -1, 0}, {-1, 0, 0}, {0, 0, 1}, {0, 0, -1}};
constexpr int kOpposite[6] = {2, 3, 0, 1, 5, 4};

enum Type { Conductor = 1, NorGate, Pusher, Shifter, Rotator, Binder, Cutter, PulseInput, Source, Drive };

struct Part {
    int x, y, z;
    int type, front, side;
    uint8_t outputs = 0;
    uint8_t bonds = 0;
};

// A scene: parts grouped into nested regions, written as one-cell boxes in the
// order they were added. Region nesting is kept as a list of events.
class Scene {
public:
    void open(const std::string& name) { items_.push_back({Item::Open, name, 0}); }
    void close() { items_.push_back({Item::Close, "", 0}); }

    // Adds a part; a Source or PulseInput lit from the start has its front
    // output set, so it drives its neighbour from the first generation on.
    int add(int x, int y, int z, int type, int front, int side, bool lit = false) {
        for (const Part& p : parts_)
            if (p.x == x && p.y == y && p.z == z) throw std::logic_error("two parts at one position");
        Part p{x, y, z, type, front, side};
        if (lit) p.outputs = uint8_t(1u << front);
        parts_.push_back(p);
        items_.push_back({Item::Cell, "", int(parts_.size() - 1)});
        return int(parts_.size() - 1);
    }
    void bond(int a, int b) {
        Part& p = parts_[a];
        Part& q = parts_[b];
        for (int d = 0; d < 6; ++d)
            if (p.x + kStep[d][0] == q.x && p.y + kStep[d][1] == q.y && p.z + kStep[d][2] == q.z) {
                p.bonds |= uint8_t(1u << d);
                q.bonds |= uint8_t(1u << kOpposite[d]);
                return;
            }
        throw std::logic_error("bond between parts that do not touch");
    }

    std::string grid() const {
        std::ostringstream out;
        for (const Item& it : items_) {
            if (it.kind == Item::Open) {
                out << "record identifier " << it.name << '\n';
            } else if (it.kind == Item::Close) {
                out << "record up\n";
            } else {
                const Part& p = parts_[it.part];
                out << p.x << ' ' << p.y << ' ' << p.z << " 1 1 1  " << p.type << ' ' << p.front << ' ' << p.side;
                for (int d = 0; d < 6; ++d) out << ' ' << ((p.outputs >> d) & 1);
                for (int d = 0; d < 6; ++d) out << ' ' << ((p.bonds >> d) & 1 ? (1 << d) : 0);
                out << '\n';
            }
        }
        return out.str();
    }

private:
    struct Item {
        enum Kind { Open, Close, Cell } kind;
        std::string name;
        int part;
    };
    std::vector<Part> parts_;
    std::vector<Item> items_;
};

// A clock: a loop of 2n cells in the x-y plane at height z, corner (x, y),
// with one NorGate at (x, y + n - 1) and Conductors elsewhere. The left
// column carries the signal down, the right column up. A change runs once
// round the loop and comes back inverted, so every cell is on for 2n
// generations and off for 2n. The Conductors send the signal out of their
// free faces, which is where stations tap it: (x, y) drives -x, -y and +-z;
// (x + 1, y) drives +x, -y and +-z; the right column drives +x and +-z.
void clock(Scene& s, int x, int y, int z, int n) {
    s.add(x, y + n - 1, z, NorGate, NY, PX);
    for (int i = n - 2; i >= 0; --i) s.add(x, y + i, z, Conductor, NY, PX);
    s.add(x + 1, y, z, Conductor, PX, PY);
    for (int i = 1; i < n; ++i) s.add(x + 1, y + i, z, Conductor, PY, PX);
}

// A car at (x, y, z): a Drive facing +y, its body (a Conductor) on top and a
// payload (a Shifter, inert without a signal) on the body; all bonded. The
// Drive pushes its body, and with it the whole group, one step along `side`
// every generation.
void car(Scene& s, int x, int y, int z, int side = PX) {
    const int d = s.add(x, y, z, Drive, PY, side);
    const int b = s.add(x, y + 1, z, Conductor, PY, PX);
    const int p = s.add(x, y + 2, z, Shifter, PY, PX);
    s.bond(d, b);
    s.bond(b, p);
}

std::string viewLine(double x, double y, double z, double alt, double az, const std::string& text) {
    std::ostringstream out;
    out << x << ' ' << y << ' ' << z << ' ' << alt << ' ' << az << ' ' << text << '\n';
    return out.str();
}

}  // namespace

FileSet carsDemo() {
    using namespace cars;
    Scene s;
    const int y = kRoadY;
    s.open("cars");

    // Turn lane: a Rotator under the road, fed by a Source, gives every Drive
    // that passes over it a quarter turn about +y: its side turns from +x to
    // -z, so the car leaves the lane and heads off along -z.
    s.open("turn-lane");
    car(s, 0, y, kTurnLaneZ);
    car(s, 8, y, kTurnLaneZ);
    s.open("rotator");
    s.add(kTurnX, y - 2, kTurnLaneZ, Source, PY, PX, true);
    s.add(kTurnX, y - 1, kTurnLaneZ, Rotator, PY, PX);
    s.close();
    s.close();

    // Cruise lane: plain traffic.
    s.open("cruise-lane");
    for (int x : {0, 6, 12}) car(s, x, y, kCruiseLaneZ);
    s.close();

    // Hold lane: a Pusher beside the road, facing it, is driven by a clock.
    // While the clock is on, the pusher's move (-z) and the Drive's move (+x)
    // claim the same parts and block each other: the car waits in front of
    // the pusher until the clock goes off.
    s.open("hold-lane");
    car(s, -4, y, kHoldLaneZ);
    s.open("pusher");
    s.add(kHoldX, y, kHoldLaneZ + 1, Pusher, NZ, PX);
    s.add(kHoldX, y, kHoldLaneZ + 2, Conductor, NZ, PX);
    s.close();
    s.open("clock");
    clock(s, kHoldX, y, kHoldLaneZ + 3, 5);
    s.close();
    s.close();

    // Trailer lane: a two-part trailer is parked beside the road. A Binder
    // above its front part, fed by a Source, bonds it to the body of the first
    // car that passes. The bond is made after that generation's move has been
    // claimed, so the car moves on one step first; from then on the body's
    // bond reaches the trailer's rear part, and every later move takes the
    // trailer along. A Cutter further on removes the bond and the trailer
    // stays there.
    s.open("trailer-lane");
    car(s, 0, y, kTrailerLaneZ);
    car(s, 8, y, kTrailerLaneZ);
    s.open("trailer");
    const int front = s.add(kBindX, y + 1, kTrailerLaneZ + 1, Conductor, PX, PY);
    const int rear = s.add(kBindX + 1, y + 1, kTrailerLaneZ + 1, Conductor, PX, PY);
    s.bond(front, rear);
    s.close();
    s.open("binder");
    s.add(kBindX, y + 3, kTrailerLaneZ + 1, Source, NY, PX, true);
    s.add(kBindX, y + 2, kTrailerLaneZ + 1, Binder, NY, NZ);
    s.close();
    s.open("cutter");
    s.add(kCutX, y + 3, kTrailerLaneZ + 1, Source, NY, PX, true);
    s.add(kCutX, y + 2, kTrailerLaneZ + 1, Cutter, NY, NZ);
    s.close();
    s.close();

    // Crash lane: two cars drive at each other. Where they meet, their moves
    // have different directions and claim the same parts, so neither moves
    // again.
    s.open("crash-lane");
    car(s, 0, y, kCrashLaneZ, PX);
    car(s, 17, y, kCrashLaneZ, NX);
    s.close();

    s.close();

    FileSet files;
    files["cars.grd"] = s.grid();
    files["cars.uvw"] = viewLine(20, 30, 60, 30, 0, "All lanes from the front, looking down") +
                        viewLine(-12, 12, 12, 30, 90, "Lanes from behind the start line") +
                        viewLine(kTurnX, 6, kTurnLaneZ + 14, 20, 0, "Turn lane: the rotator under the road") +
                        viewLine(kHoldX, 8, kHoldLaneZ + 14, 30, 0, "Hold lane: the clocked pusher") +
                        viewLine(kBindX + 12, 10, kTrailerLaneZ + 16, 30, 0, "Trailer lane: binder and cutter") +
                        viewLine(8, 8, kCrashLaneZ + 12, 30, 0, "Crash lane: two cars meet head-on");
    files["cars.prj"] = "cars.grd\ncars.uvw\n";
    return files;
}

FileSet showcaseDemo() {
    using namespace showcase;
    Scene s;
    s.open("showcase");

    // A heartbeat: a two-by-two clock that fills one layer of a block, so
    // some part of that block changes every generation and the block is
    // evaluated every generation; a PulseInput in the same block therefore
    // always sees the input pulse of the K key. It drives +z into a
    // Conductor at z + 3, which feeds the part at z + 4.
    auto pulsed = [&](int x) {
        clock(s, x, 0, 0, 2);
        s.add(x, 0, 2, PulseInput, PZ, PX);
        s.add(x, 0, 3, Conductor, PZ, PX);
    };

    // 1: Conductor. A clock sends a blinking signal into a line of
    // Conductors; the one at the junction passes it on through all four free
    // faces, into the line ahead and the two branches.
    {
        const int x = stationX(1);
        s.open("1-conductor");
        clock(s, x, 0, 0, 3);
        s.add(x + 2, 0, 0, Conductor, PX, PY);
        s.add(x + 3, 0, 0, Conductor, PX, PY);
        s.add(x + 4, 0, 0, Conductor, PX, PY);
        s.add(x + 5, 0, 0, Conductor, PX, PY);
        s.add(x + 4, 1, 0, Conductor, PY, PX);
        s.add(x + 4, -1, 0, Conductor, NY, PX);
        s.close();
    }
    // 2: NorGate. The gate in front has no input and drives its front face:
    // the Conductors after it are lit. The gate behind has a Source on its
    // side: it is off, and its Conductors stay dark.
    {
        const int x = stationX(2);
        s.open("2-norgate");
        s.add(x, 0, 0, NorGate, PX, PY);
        s.add(x + 1, 0, 0, Conductor, PX, PY);
        s.add(x + 2, 0, 0, Conductor, PX, PY);
        s.add(x, 0, -3, NorGate, PX, PY);
        s.add(x, 1, -3, Source, NY, PX, true);
        s.add(x + 1, 0, -3, Conductor, PX, PY);
        s.add(x + 2, 0, -3, Conductor, PX, PY);
        s.close();
    }
    // 3: Pusher. On each K pulse it moves the part in front, and every part in
    // the way, one step forward (+z): the row of three moves by one.
    {
        const int x = stationX(3);
        s.open("3-pusher");
        pulsed(x);
        s.add(x, 0, 4, Pusher, PZ, PX);
        for (int z = 5; z <= 7; ++z) s.add(x, 0, z, Conductor, PX, PY);
        s.close();
    }
    // 4: Shifter. On a K pulse it moves the part in front one step along its
    // side (+x).
    {
        const int x = stationX(4);
        s.open("4-shifter");
        pulsed(x);
        s.add(x, 0, 4, Shifter, PZ, PX);
        s.add(x, 0, 5, Conductor, PX, PY);
        s.close();
    }
    // 5: Rotator. On a K pulse it turns the part in front a quarter turn about
    // its own front (+z): the Pusher standing there turns from facing +y to
    // facing -x, then -y, then +x.
    {
        const int x = stationX(5);
        s.open("5-rotator");
        pulsed(x);
        s.add(x, 0, 4, Rotator, PZ, PX);
        s.add(x, 0, 5, Pusher, PY, PX);
        s.close();
    }
    // 6: Binder. On a K pulse it bonds the part in front to its neighbour
    // along its side (+x).
    {
        const int x = stationX(6);
        s.open("6-binder");
        pulsed(x);
        s.add(x, 0, 4, Binder, PZ, PX);
        s.add(x, 0, 5, Conductor, PX, PY);
        s.add(x + 1, 0, 5, Conductor, PX, PY);
        s.close();
    }
    // 7: Cutter. On a K pulse it removes the bond between the part in front
    // and its neighbour along its side (+x).
    {
        const int x = stationX(7);
        s.open("7-cutter");
        pulsed(x);
        s.add(x, 0, 4, Cutter, PZ, PX);
        const int a = s.add(x, 0, 5, Conductor, PX, PY);
        const int b = s.add(x + 1, 0, 5, Conductor, PX, PY);
        s.bond(a, b);
        s.close();
    }
    // 8: PulseInput. K lights it for one generation; the pulse then runs down
    // a line of Conductors, one cell per generation.
    {
        const int x = stationX(8);
        s.open("8-pulseinput");
        pulsed(x);
        for (int z = 4; z <= 9; ++z) s.add(x, 0, z, Conductor, PZ, PX);
        s.close();
    }
    // 9: Source. It keeps its front face driven: the line after it stays lit.
    {
        const int x = stationX(9);
        s.open("9-source");
        s.add(x, 0, 0, Source, PX, PY, true);
        for (int i = 1; i <= 4; ++i) s.add(x + i, 0, 0, Conductor, PX, PY);
        s.close();
    }
    // 10: Drive. Every generation it moves the part in front one step along
    // its side (+x). The lone Drive moves its loose target once and then has
    // nothing in front; the Drive bonded to its target takes itself along and
    // travels on along +x.
    {
        const int x = stationX(10);
        s.open("10-drive");
        s.add(x, 0, 0, Drive, PY, PX);
        s.add(x, 1, 0, Conductor, PX, PY);
        car(s, x, 0, 4);
        s.close();
    }
    s.close();

    static const char* const kTitles[10] = {"Conductor: a clocked signal fans out",
                                            "NorGate: on without input, off with one",
                                            "Pusher (press K): the row moves forward",
                                            "Shifter (press K): the part moves sideways",
                                            "Rotator (press K): the part turns a quarter",
                                            "Binder (press K): two parts get bonded",
                                            "Cutter (press K): the bond is removed",
                                            "PulseInput (press K): a pulse runs down the line",
                                            "Source: the line stays lit",
                                            "Drive: one loose target, one car driving off"};
    std::string views = viewLine(stationX(5) + 6, 30, 55, 30, 0, "All stations");
    for (int t = 1; t <= 10; ++t) {
        const double cx = stationX(t) + 1.5;
        views += viewLine(cx, 7, 18, 25, 0, std::to_string(t) + " " + kTitles[t - 1]);
    }
    FileSet files;
    files["showcase.grd"] = s.grid();
    files["showcase.uvw"] = views;
    files["showcase.prj"] = "showcase.grd\nshowcase.uvw\n";
    return files;
}

}  // namespace demos
