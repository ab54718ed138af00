// The runner's command line: one table of options drives both the parsing
// and the --help text, so the two cannot disagree.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>

#include "session/session.h"
#include "view/camera.h"

struct RunOptions {
    uint64_t generations = 0;
    std::set<uint32_t> pulses;
    std::string save;
    bool stats = false;
    int threads = 1;
    int progress = -1;  // -1: when stderr is a terminal
    std::string file;
    std::string memory;
    int32_t corner[3] = {0, 0, 0};
    uint32_t offset = 0;
    std::string saveTerminals;
    uint32_t runUntil = 0;
    std::string render;
    bool cameraGiven = false;
    Camera camera;
    int width = 640, height = 480;
    bool writeEps = false;
    std::string checkpoint;
    uint32_t checkpointEvery = 0;
    std::string resume;
    bool resumeAnySource = false;
    bool help = false;
};

// The whole --help text, built from the table.
std::string runUsage();

// Parses argv. On a usage error, returns its one-line message (without the
// program name); otherwise none, with `out` filled (help set for -h).
std::optional<std::string> parseRunOptions(int argc, char** argv, RunOptions& out);
