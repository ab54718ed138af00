#include "cranetalk/encoding.h"

namespace cranetalk {

std::string_view listingName(std::uint8_t value) {
    switch (value) {
        case code::Nop: return "NOP";
        case code::Psh: return "PSH";
        case code::Nor: return "NOR";
        case code::Fus: return "FUS";
        case code::Rot: return "ROT";
        case code::Del: return "DEL";
        case code::Ufs: return "UFS";
        case code::Sli: return "SLI";
        case code::North: return "NORTH";
        case code::West: return "WEST";
        case code::Back: return "BACK";
        case code::South: return "SOUTH";
        case code::East: return "EAST";
        case code::Front: return "FRONT";
        case code::Gather: return "GATHER";
        case code::Return: return "RETURN";
        case code::Membank: return "MEMBANK";
        default: return {};
    }
}

const std::array<OrientationRow, 24> kOrientationTable = {{
    {"SF", 0},  {"SB", 1},  {"NB", 2},  {"NF", 3},  {"SW", 4},  {"SE", 5},
    {"NE", 6},  {"NW", 7},  {"FN", 8},  {"FS", 9},  {"BS", 10}, {"BN", 11},
    {"WN", 12}, {"WS", 13}, {"ES", 14}, {"EN", 15}, {"FW", 20}, {"FE", 21},
    {"BE", 22}, {"BW", 23}, {"WB", 28}, {"WF", 29}, {"EF", 30}, {"EB", 31},
}};

std::optional<std::uint8_t> findOrientation(std::string_view name) {
    for (const OrientationRow& row : kOrientationTable) {
        if (row.name == name) return orientationCodeOf(row.tableCode);
    }
    return std::nullopt;
}

std::string_view orientationName(unsigned code) {
    for (const OrientationRow& row : kOrientationTable) {
        if (orientationCodeOf(row.tableCode) == code) return row.name;
    }
    return "??";
}

}  // namespace cranetalk
