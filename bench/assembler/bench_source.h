// A reproducible 100,000-token cranetalk source: plain instructions, short
// forms, orientations, forward and backward calls, label definitions and
// redefinitions, ORGs that wrap the program around the 8192-byte image.
#pragma once

#include <cstdint>
#include <random>
#include <string>

namespace cranetalk_bench {

inline std::string makeSource(int tokens, std::uint32_t seed = 1) {
    static const char* plain[] = {"NOP", "NOR", "FUS", "ROT", "DEL", "UFS", "SLI", "GATHER", "N", "E", "S", "W",
                                  "F", "B", "NORTH", "EAST", "SOUTH", "WEST", "FRONT", "BACK", "RET", "MBK"};
    static const char* orients[] = {"SF", "SB", "NB", "NF", "SW", "SE", "NE", "NW", "FN", "FS", "BS", "BN",
                                    "WN", "WS", "ES", "EN", "FW", "FE", "BE", "BW", "WB", "WF", "EF", "EB"};
    std::mt19937 rng(seed);
    auto pick = [&](std::uint32_t n) { return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(rng); };
    std::string s;
    int count = 0;
    while (count < tokens - 1) {
        const std::uint32_t r = pick(100);
        if (r < 8) {
            s += "CALL l";
            s += std::to_string(pick(400));
            s += "\n";
            count += 2;
        } else if (r < 12) {
            s += "l";
            s += std::to_string(pick(400));
            s += ":\n";
            count += 1;
        } else if (r < 20) {
            s += std::string("ORIENT ") + orients[pick(24)] + "\n";
            count += 2;
        } else if (r < 21) {
            s += "ORG ";
            s += std::to_string(pick(8000));
            s += "\n";
            count += 2;
        } else {
            s += std::string(plain[pick(22)]) + (pick(4) ? " " : "\n");
            count += 1;
        }
    }
    s += "END\n";
    return s;
}

}  // namespace cranetalk_bench
