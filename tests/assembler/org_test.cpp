// "ORG" and the program length.
#include <gtest/gtest.h>

#include "test_support.h"

using namespace cranetalk_test;

namespace {
const std::string kMissingEndOrg = "Assembly finished before END found\nLast token was 'ORG'\n";
}

TEST(Org, SetsCounterWithoutAlignmentOrWrites) {
    auto a = assemble("ORG 100 NOR END");
    EXPECT_EQ(a.err, "");
    EXPECT_EQ(a.r.image[100], 2);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(a.r.image[i], 0);
    EXPECT_EQ(a.r.programLength, 101u);
    EXPECT_EQ(assemble("ORG 7 END").r.programLength, 7u);
}

TEST(Org, AloneRaisesTheProgramLength) {
    auto a = assemble("ORG 100 END");
    EXPECT_EQ(a.r.programLength, 100u);
}

TEST(Org, MovingBackOverwritesAndKeepsTheLength) {
    auto a = assemble("NOR NOR NOR ORG 1 DEL END");
    EXPECT_EQ(bytes(a.r, 0, 3), (std::vector<int>{2, 5, 2}));
    EXPECT_EQ(a.r.programLength, 3u);
    EXPECT_EQ(a.r.locationCounter, 2u);
}

TEST(Org, NumberStopsAtTheFirstNonDigit) {
    auto a = assemble("ORG 64X NOP END");
    EXPECT_EQ(a.err, "Unrecognised token X\n");
    EXPECT_EQ(a.r.programLength, 65u);
    auto b = assemble("ORG 8:NOP END");  // ":NOP" does not end in a colon
    EXPECT_EQ(b.err, "Unrecognised token :NOP\n");
    auto c = assemble("ORG 3x: NOP END");  // "x:" is a label at 4
    EXPECT_EQ(c.r.labels.at("x"), 4u);
    EXPECT_EQ(c.r.programLength, 5u);
}

TEST(Org, NumberMayBeOnAnotherLineAndHaveLeadingZeros) {
    auto a = assemble("ORG\n\n   0010\nEND");
    EXPECT_EQ(a.r.programLength, 10u);
}

TEST(Org, WithoutReadableNumberEndsTheLoop) {
    for (const char* src : {"NOP ORG", "NOP ORG   \n", "NOP ORG END", "NOP ORG X NOP END", "NOP ORG - 5 END",
                            "NOP ORG + END", "NOP ORG 4294967296 NOP END"}) {
        auto a = assemble(src);
        EXPECT_EQ(a.err, kMissingEndOrg) << src;
        EXPECT_EQ(a.r.locationCounter, 1u) << src;  // unchanged
        EXPECT_EQ(a.r.programLength, 1u) << src;
        EXPECT_FALSE(a.r.endFound) << src;
    }
}

TEST(Org, StreamSignRules) {
    // The stream's unsigned extraction accepts a sign: "+5" is 5 and "-5"
    // wraps modulo 2^32.
    EXPECT_EQ(assemble("ORG +5 END").r.programLength, 5u);
    auto a = assemble("ORG -5 END");
    EXPECT_EQ(a.err, "");
    EXPECT_EQ(a.r.locationCounter, 4294967291u);
    EXPECT_EQ(a.r.programLength, 8192u);
    EXPECT_EQ(assemble("ORG -0 END").r.programLength, 0u);
    EXPECT_EQ(assemble("ORG 4294967295 END").r.locationCounter, 4294967295u);
    auto b = assemble("ORG -4 NOP END");
    EXPECT_EQ(b.err, "Address 4294967292 is outside the 8192-byte program image\n");
}

TEST(Org, HexIsNotRead) {
    auto a = assemble("ORG 0x10 END");
    EXPECT_EQ(a.err, "Unrecognised token x10\n");
    EXPECT_EQ(a.r.programLength, 0u);
}

TEST(Org, LabelAfterOrgInTheUpperHalf) {
    auto a = assemble("ORG 4096 lab: CALL lab END");
    EXPECT_EQ(a.r.labels.at("lab"), 4096u);
    EXPECT_EQ(bytes(a.r, 4096, 2), (std::vector<int>{32, 32}));
    EXPECT_EQ(a.r.programLength, 4098u);
}

TEST(Org, LabelAlignmentWrapsWithTheCounter) {
    auto a = assemble("ORG 4294967294 x: CALL x END");
    EXPECT_EQ(a.r.labels.at("x"), 0u);
    EXPECT_EQ(bytes(a.r, 0, 2), (std::vector<int>{32, 32}));
}

TEST(Org, CallAtTheTopOfTheAddressSpaceWraps) {
    // Positions are unsigned 32-bit: the second operand byte of a call at
    // 4294967295 is address 0.
    auto a = assemble("ORG 128 x: ORG 4294967295 CALL x END");
    EXPECT_EQ(a.err, "Address 4294967295 is outside the 8192-byte program image\n");
    EXPECT_EQ(a.r.image[0], 33);  // the high half of 128
    EXPECT_EQ(a.r.locationCounter, 1u);
}
