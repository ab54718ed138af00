// Helpers of the checkpoint tests: grid text in and out, engine snapshots,
// and a small project whose bound terminal rides on a self-propelled group.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "files/grid_file.h"
#include "universe/checkpoint.h"
#include "universe/universe.h"

inline std::string gridText(const Universe& u) {
    std::ostringstream out;
    u.writeBlocks(out);
    return out.str();
}

inline void loadGrid(Universe& u, const std::string& text) {
    std::istringstream in(text);
    readGridFile(u, in);
}

// The engine snapshot of a universe without bindings.
inline std::string snapshot(const Universe& u, uint32_t version = UniverseCheckpoint::kVersion) {
    std::string out, error;
    EXPECT_TRUE(UniverseCheckpoint::write(u, {}, out, error, version)) << error;
    return out;
}

inline bool restore(Universe& u, const std::string& bytes, std::string* errorOut = nullptr) {
    std::string error;
    const bool ok = UniverseCheckpoint::read(u, bytes, {}, error);
    if (errorOut) *errorOut = error;
    return ok;
}

// A Drive bonded behind a Conductor (so the pair carries itself along +y),
// a second group that turns (a Source feeding a Rotator beside a part), a
// terminal on the travelling Conductor with a looped stimulus and a part
// drop, and a monitor on it. The terminal moves with its part, so the saved
// terminal table changes every generation.
struct RideProject {
    static std::string grid() {
        return "0 0 0 2 1 1\n"
               "10 1 0 0 0 0 0 0 0 0 2 0 0 0 0\n"
               "1 1 0 0 0 0 0 0 0 0 0 0 8 0 0\n"
               "6 0 0 1 3 1\n"
               "9 0 1 0 0 0 0 0 0 0 0 0 0 0 0\n"
               "5 0 1 0 0 0 0 0 0 0 0 0 0 0 0\n"
               "2 0 1 0 0 0 0 0 0 0 0 0 0 0 0\n";
    }
    static std::string terminals() { return "object car { body 1 0 0 1 0 nose 0 0 0 3 0 }\nobject fixed { probe 6 2 0 0 1 }\n"; }
    static std::string stimulus() {
        return "car.body { t=0 1 1 0 2 1 1 0 3 loop }\n"
               "car.nose { b=40 1 1 0 }\n"
               "fixed.probe { t=2 1 4 0 5 loop }\n";
    }
    static std::string monitor() { return "ride.txt\nwatch car.body fixed.probe : car.nose end\n"; }
    static std::string project() { return "ride.grd\nride.trm\nride.sti\nride.mon\n"; }
};
