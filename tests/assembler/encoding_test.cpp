// Instruction codes, orientations, call operands, image bounds.
#include <gtest/gtest.h>

#include "test_support.h"

using namespace cranetalk_test;

TEST(Encoding, PlainInstructionsAndShortForms) {
    const std::vector<std::pair<std::string, int>> cases = {
        {"NOP", 0},     {"NOR", 2},   {"FUS", 3},      {"ROT", 4},     {"DEL", 5},    {"UFS", 6},
        {"SLI", 7},     {"NORTH", 8}, {"N", 8},        {"WEST", 9},    {"W", 9},      {"BACK", 10},
        {"B", 10},      {"SOUTH", 12}, {"S", 12},      {"EAST", 13},   {"E", 13},     {"FRONT", 14},
        {"F", 14},      {"GATHER", 16}, {"RETURN", 24}, {"RET", 24},   {"MEMBANK", 28}, {"MBK", 28}};
    std::string src;
    for (const auto& [t, c] : cases) src += t + " ";
    auto a = assemble(src + "END");
    EXPECT_EQ(a.err, "");
    ASSERT_EQ(a.r.programLength, cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(a.r.image[i], cases[i].second) << cases[i].first;
}

TEST(Encoding, OppositeDirectionsDifferInBit2) {
    EXPECT_EQ(cranetalk::code::North ^ cranetalk::code::South, 4);
    EXPECT_EQ(cranetalk::code::West ^ cranetalk::code::East, 4);
    EXPECT_EQ(cranetalk::code::Back ^ cranetalk::code::Front, 4);
}

TEST(Encoding, OrientationTableRows) {
    // Name, table code, orientation code, byte: the full orientation table.
    struct Row { const char* name; int table; int oc; int byte; };
    const Row rows[24] = {
        {"SF", 0, 31, 63},  {"SB", 1, 15, 47},  {"NB", 2, 23, 55},  {"NF", 3, 7, 39},
        {"SW", 4, 27, 59},  {"SE", 5, 11, 43},  {"NE", 6, 19, 51},  {"NW", 7, 3, 35},
        {"FN", 8, 29, 61},  {"FS", 9, 13, 45},  {"BS", 10, 21, 53}, {"BN", 11, 5, 37},
        {"WN", 12, 25, 57}, {"WS", 13, 9, 41},  {"ES", 14, 17, 49}, {"EN", 15, 1, 33},
        {"FW", 20, 26, 58}, {"FE", 21, 10, 42}, {"BE", 22, 18, 50}, {"BW", 23, 2, 34},
        {"WB", 28, 24, 56}, {"WF", 29, 8, 40},  {"EF", 30, 16, 48}, {"EB", 31, 0, 32}};
    std::string src;
    for (int i = 0; i < 24; ++i) {
        EXPECT_EQ(cranetalk::kOrientationTable[i].name, rows[i].name);
        EXPECT_EQ(cranetalk::kOrientationTable[i].tableCode, rows[i].table);
        EXPECT_EQ(cranetalk::orientationCodeOf(static_cast<std::uint8_t>(rows[i].table)), rows[i].oc);
        EXPECT_EQ(cranetalk::orientationName(static_cast<unsigned>(rows[i].oc)), rows[i].name);
        src += std::string(i % 2 ? "O " : "ORIENT ") + rows[i].name + "\n";
    }
    auto a = assemble(src + "END");
    EXPECT_EQ(a.err, "");
    for (int i = 0; i < 24; ++i) EXPECT_EQ(a.r.image[i], rows[i].byte) << rows[i].name;
}

TEST(Encoding, OrientationCodesWithoutName) {
    for (unsigned oc : {4u, 6u, 12u, 14u, 20u, 22u, 28u, 30u}) EXPECT_EQ(cranetalk::orientationName(oc), "??");
    EXPECT_EQ(cranetalk::orientationName(32), "??");
}

TEST(Encoding, UnrecognisedOrientationReportsAndEmitsCodeZero) {
    auto a = assemble("ORIENT XY O sf O EB ORIENT SF END");
    EXPECT_EQ(a.err, "Unrecognised direction string XY\nUnrecognised direction string sf\n");
    EXPECT_EQ(bytes(a.r, 0, 4), (std::vector<int>{32, 32, 32, 63}));
    EXPECT_EQ(a.r.programLength, 4u);
}

TEST(Encoding, CallOperandEncodingAndDecoding) {
    for (std::uint32_t address = 0; address < 8192; address += 4) {
        const std::uint8_t lo = cranetalk::callOperandLow(address);
        const std::uint8_t hi = cranetalk::callOperandHigh(address);
        EXPECT_GE(lo, 32);
        EXPECT_LT(lo, 64);
        EXPECT_GE(hi, 32);
        EXPECT_LT(hi, 64);
        EXPECT_EQ(cranetalk::decodeCallTarget(lo, hi), address % 4096);
    }
    EXPECT_EQ(cranetalk::callOperandLow(4), 33);
    EXPECT_EQ(cranetalk::callOperandHigh(4), 32);
    EXPECT_EQ(cranetalk::callOperandLow(4092), 63);
    EXPECT_EQ(cranetalk::callOperandHigh(4092), 63);
    EXPECT_EQ(cranetalk::callOperandLow(128), 32);
    EXPECT_EQ(cranetalk::callOperandHigh(128), 33);
    // Address bits 0, 1 and 12 and up are dropped.
    EXPECT_EQ(cranetalk::callOperandLow(4096 + 7), cranetalk::callOperandLow(4));
    EXPECT_EQ(cranetalk::decodeCallTarget(63, 39), 1020u);
}

TEST(ImageBounds, WritesAtOrBeyond8192AreReportedAndDropped) {
    auto a = assemble("ORG 8191 NOR NOR O SF END");
    EXPECT_EQ(a.err,
              "Address 8192 is outside the 8192-byte program image\n"
              "Address 8193 is outside the 8192-byte program image\n");
    EXPECT_EQ(a.r.image[8191], 2);
    EXPECT_EQ(a.r.programLength, 8192u);
    EXPECT_EQ(a.r.locationCounter, 8194u);
}

TEST(ImageBounds, ResolvedCallAcrossTheEnd) {
    auto a = assemble("sub: ORG 8191 CALL sub CALL sub END");
    EXPECT_EQ(a.err,
              "Address 8192 is outside the 8192-byte program image\n"
              "Address 8193 is outside the 8192-byte program image\n"
              "Address 8194 is outside the 8192-byte program image\n");
    EXPECT_EQ(a.r.image[8191], 32);
}

TEST(ImageBounds, PendingReferencesOutsideArePatchedAtEveryDefinition) {
    // Call at 8191: the first byte fits; at 8193 nothing fits.  Each
    // definition patches both again.
    auto a = assemble("ORG 8191 CALL x CALL x ORG 0 x: x: END");
    const std::string m = " is outside the 8192-byte program image\n";
    EXPECT_EQ(a.err, "Address 8193" + m +                                               // call at 8193
                         "Address 8192" + m + "Address 8193" + m + "Address 8194" + m +  // first x:
                         "Address 8192" + m + "Address 8193" + m + "Address 8194" + m);  // second x:
    EXPECT_EQ(a.r.image[8191], 32);
    EXPECT_EQ(a.r.programLength, 8192u);
}

TEST(ImageBounds, ProgramLengthNeverExceeds8192) {
    EXPECT_EQ(assemble("ORG 100000 END").r.programLength, 8192u);
    EXPECT_EQ(assemble("ORG 4294967295 END").r.programLength, 8192u);
    auto a = assemble("ORG 4294967295 NOP NOP END");
    // The counter wraps modulo 2^32 (unsigned 32-bit): the second NOP lands at 0.
    EXPECT_EQ(a.err, "Address 4294967295 is outside the 8192-byte program image\n");
    EXPECT_EQ(a.r.locationCounter, 1u);
    EXPECT_EQ(a.r.programLength, 8192u);
}
