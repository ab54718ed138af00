// Generators for the standard workloads and demo structures. They write grid
// text, so every consumer (benchmarks, tests, demos) goes through the same
// reader as a user's file would.
//
//  * memoryBank: rings of signal parts laid out exactly like the machine's
//    memory modules (module i, bit line b at x0 + 6i + b; 256 positions per
//    ring in the y-z plane). NorGates at positions 0 and 7, Conductors
//    elsewhere; a bit v shows as output v on positions 0..6 and as not-v from
//    7 on, and moves one position per generation.
//  * drivers: self-propelled groups (a Drive bonded to its target and a
//    payload) travelling along +x in separate lanes.
//  * cars: self-propelled cars (a Drive under a body part, as in drivers)
//    that each carry a timer unit: a four-part NOR ring oscillator whose
//    conductors drive a rotator (turning a flag), a binder/cutter pair
//    (making and breaking one bond of the car) and a pusher (pushing the
//    car's bumper along its own way). Every adjacent pair of a car's parts
//    starts bonded, so the whole car is one group that moves every
//    generation, and its actuators fire on the ring's period of 8.
//  * randomParts: a dense random universe for load/save and memory figures.
#pragma once
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace workloads {

// Direction of step p -> p+1 of the memory-module loop (p = 0..255; step 255
// closes the loop back to position 0).
int loopStepDirection(int p);
// Position p of the loop relative to its corner: dy, dz.
void loopPosition(int p, int& dy, int& dz);

enum class RingPattern { Ones, Alternating, Random };

struct BankOptions {
    int modules = 32;
    int x0 = 0, y0 = 0, z0 = 0;
    RingPattern pattern = RingPattern::Ones;
    uint32_t seed = 1;
};
// Writes the bank's grid text; `bits[i][b][p]`, if given, receives the
// circulating bit v of each ring position.
void writeMemoryBank(std::ostream& out, const BankOptions& opt);

// The part at ring position p holding the circulating bit v: type, front,
// side and the raw output mask (v on positions 0..6, not-v from 7 on).
struct RingPart {
    int type, front, side;
    uint8_t outputs;
};
RingPart ringPart(int p, bool v);

// The bit v that ring position p of a bank made with this pattern holds.
bool ringBit(const BankOptions& opt, int module, int bit, int p);

struct DriverOptions {
    int groups = 200;
    uint32_t seed = 1;
};
void writeDrivers(std::ostream& out, const DriverOptions& opt);

struct CarOptions {
    int cars = 2000;
};
// Cars travel along +x in lanes of their own (8 apart in y, 4 in z).
void writeCars(std::ostream& out, const CarOptions& opt);
// The parts of one car at the origin, relative positions: x, y, z, type,
// front, side (for tests that check what the generator promises).
struct CarPart {
    int x, y, z, type, front, side;
};
const std::vector<CarPart>& carParts();

struct RandomOptions {
    int64_t parts = 1000000;
    uint32_t seed = 1;
    double density = 0.5;
};
void writeRandomParts(std::ostream& out, const RandomOptions& opt);

}  // namespace workloads
