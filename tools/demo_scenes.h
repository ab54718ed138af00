// Generators for the two demo projects in examples/: "cars" (self-propelled
// groups in lanes, with stations that turn, hold up, bond and cut them) and
// "showcase" (one small station per part type, each with a saved view).
//
// Each demo is a set of files (grid, saved views, project) kept as text in
// memory, so the program that writes them and the test that compares them
// with the committed copies share one source.
#pragma once
#include <map>
#include <string>

namespace demos {

// File name (relative to the demo's folder) -> file contents.
using FileSet = std::map<std::string, std::string>;

FileSet carsDemo();
FileSet showcaseDemo();

// Where things stand in the demos, for tests and the guide.
namespace cars {
constexpr int kRoadY = 0;        // every Drive runs at this height
constexpr int kTurnLaneZ = 0;    // lane whose cars a rotator turns onto -z
constexpr int kCruiseLaneZ = 6;  // lane with plain traffic
constexpr int kHoldLaneZ = 12;   // lane with a clocked pusher beside it
constexpr int kTrailerLaneZ = 18;  // lane with a binder and a cutter
constexpr int kCrashLaneZ = 24;  // lane with two cars meeting head-on
constexpr int kTurnX = 16;       // x of the rotator under the turn lane
constexpr int kHoldX = 24;       // x of the pusher beside the hold lane
constexpr int kBindX = 14;       // x of the binder (and the parked trailer)
constexpr int kCutX = 40;        // x of the cutter
}  // namespace cars

namespace showcase {
constexpr int kSpacing = 12;  // station t (1..10) starts at x = kSpacing * (t - 1)
inline int stationX(int type) { return kSpacing * (type - 1); }
}  // namespace showcase

}  // namespace demos
