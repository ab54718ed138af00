// Labels, calls, forward references and patching.
#include <gtest/gtest.h>

#include <chrono>

#include "test_support.h"

using namespace cranetalk_test;

TEST(Labels, BackwardCall) {
    auto a = assemble("start: NOP CALL start END");
    EXPECT_EQ(a.err, "");
    EXPECT_EQ(a.r.labels.at("start"), 0u);
    EXPECT_EQ(bytes(a.r, 0, 3), (std::vector<int>{0, 32, 32}));
    EXPECT_EQ(a.r.programLength, 3u);
}

TEST(Labels, ForwardCallIsPatchedAtTheDefinition) {
    auto a = assemble("CALL sub NOP sub: RETURN END");
    EXPECT_EQ(a.err, "");
    EXPECT_EQ(bytes(a.r, 0, 5), (std::vector<int>{33, 32, 0, 0, 24}));
    EXPECT_EQ(a.r.programLength, 5u);
    EXPECT_EQ(a.r.labels.at("sub"), 4u);
    EXPECT_EQ(a.r.pending.at("sub"), (std::vector<std::uint32_t>{0}));  // entries stay
}

TEST(Labels, PendingByteIs32UntilDefined) {
    auto a = assemble("CALL sub END");
    EXPECT_EQ(a.err, "");
    EXPECT_EQ(bytes(a.r, 0, 2), (std::vector<int>{32, 0}));
    EXPECT_EQ(a.r.programLength, 2u);
}

TEST(Labels, UndefinedLabelLeavesSecondByteUntouched) {
    // The second byte keeps what an earlier statement wrote there.
    auto a = assemble("NOP DEL ORG 0 CALL nowhere END");
    EXPECT_EQ(a.err, "");
    EXPECT_EQ(bytes(a.r, 0, 2), (std::vector<int>{32, 5}));
}

TEST(Labels, AlignmentToMultiplesOfFour) {
    auto a = assemble("NOP one: two: NOP NOP NOP NOP three: NOP four: END");
    EXPECT_EQ(a.r.labels.at("one"), 4u);
    EXPECT_EQ(a.r.labels.at("two"), 4u);
    EXPECT_EQ(a.r.labels.at("three"), 8u);  // already a multiple of 4: no gap
    EXPECT_EQ(a.r.labels.at("four"), 12u);
    EXPECT_EQ(a.r.programLength, 12u);  // a label raises the counter and so the length
}

TEST(Labels, SkippedBytesKeepTheirContents) {
    auto a = assemble("NOR NOR NOR NOR ORG 1 x: END");
    EXPECT_EQ(bytes(a.r, 0, 4), (std::vector<int>{2, 2, 2, 2}));
    EXPECT_EQ(a.r.labels.at("x"), 4u);
}

TEST(Labels, RedefinitionPatchesEarlyCallsAgainButNotLaterOnes) {
    // c1 before any definition: patched at both definitions, ends at 16.
    // c2 between the definitions: keeps the first address 4.
    auto a = assemble("CALL x NOP x: CALL x ORG 16 x: CALL x END");
    EXPECT_EQ(a.err, "");
    EXPECT_EQ(a.r.labels.at("x"), 16u);
    EXPECT_EQ(bytes(a.r, 0, 2), (std::vector<int>{32 + 4, 32}));   // 16
    EXPECT_EQ(bytes(a.r, 4, 2), (std::vector<int>{32 + 1, 32}));   // 4
    EXPECT_EQ(bytes(a.r, 16, 2), (std::vector<int>{32 + 4, 32}));  // 16
}

TEST(Labels, PatchOverwritesLaterDirectWrites) {
    // The pending operand at 0 is overwritten by NOR NOR after ORG 0, then the
    // second definition patches it again.
    auto a = assemble("CALL x x: ORG 0 NOR NOR ORG 8 x: END");
    EXPECT_EQ(bytes(a.r, 0, 2), (std::vector<int>{32 + 2, 32}));
    // Without a further definition the direct writes stay.
    auto b = assemble("CALL x x: ORG 0 NOR NOR END");
    EXPECT_EQ(bytes(b.r, 0, 2), (std::vector<int>{2, 2}));
}

TEST(Labels, OverlappingPendingPositionsPatchInListOrder) {
    // Pending list [1, 0]: entry 1 writes bytes 1 (low) and 2 (high), then
    // entry 0 writes bytes 0 (low) and 1 (high), so byte 1 ends high.
    auto a = assemble("ORG 1 CALL x ORG 0 CALL x ORG 132 x: END");
    EXPECT_EQ(bytes(a.r, 0, 3), (std::vector<int>{32 + 1, 32 + 1, 32 + 1}));
    // With x at 8 the halves differ: low 34, high 32.
    auto b = assemble("ORG 1 CALL x ORG 0 CALL x ORG 8 x: END");
    EXPECT_EQ(bytes(b.r, 0, 3), (std::vector<int>{34, 32, 32}));
    auto c = assemble("ORG 0 CALL x ORG 1 CALL x ORG 8 x: END");
    EXPECT_EQ(bytes(c.r, 0, 3), (std::vector<int>{34, 34, 32}));
}

TEST(Labels, AddressesAbove4096AliasLowerOnes) {
    auto a = assemble("ORG 4096 l: CALL l END");
    EXPECT_EQ(bytes(a.r, 4096, 2), (std::vector<int>{32, 32}));
    auto b = assemble("ORG 4100 l: ORG 0 CALL l END");
    EXPECT_EQ(bytes(b.r, 0, 2), (std::vector<int>{33, 32}));
}

TEST(Labels, NamesWithColons) {
    // "a:b:" defines a:b; "a::" defines "a:"; "CALL a:" names "a:".
    auto a = assemble("CALL a: CALL a:b CALL a a::   a:b: NOP a: END");
    EXPECT_EQ(a.err, "");
    EXPECT_EQ(a.r.labels.at("a:"), 8u);
    EXPECT_EQ(a.r.labels.at("a:b"), 8u);
    EXPECT_EQ(a.r.labels.at("a"), 12u);
    EXPECT_EQ(bytes(a.r, 0, 6), (std::vector<int>{34, 32, 34, 32, 35, 32}));
}

TEST(Labels, CallOfNameEndingInColonIsNotDefinedByTheSameToken) {
    auto a = assemble("CALL loop: loop: END");
    EXPECT_EQ(bytes(a.r, 0, 2), (std::vector<int>{32, 0}));
    EXPECT_EQ(a.r.labels.count("loop:"), 0u);
    EXPECT_EQ(a.r.labels.at("loop"), 4u);
}

TEST(Labels, EmptyLabel) {
    auto a = assemble("NOP : END");
    EXPECT_EQ(a.err, "");
    EXPECT_EQ(a.r.labels.at(""), 4u);
    EXPECT_EQ(a.r.programLength, 4u);
}

TEST(Labels, LabelNamesAreBytes) {
    std::string name("l\0\xff", 3);
    auto a = assemble("CALL " + name + " NOP " + name + ": END");
    EXPECT_EQ(a.r.labels.at(name), 4u);
    EXPECT_EQ(bytes(a.r, 0, 2), (std::vector<int>{33, 32}));
}

TEST(Labels, ManyDefinitionsOfALabelWithManyPendingCallsIsFast) {
    // 30000 pending calls at one address, then 30000 definitions: eagerly
    // that is 9e8 patch writes; the assembler must stay linear.
    std::string src;
    for (int i = 0; i < 30000; ++i) src += "ORG 0 CALL x\n";
    src += "ORG 4\n";
    for (int i = 0; i < 30000; ++i) src += "x:\n";
    src += "ORG 8 x: END";
    auto start = std::chrono::steady_clock::now();
    auto a = assemble(src);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(bytes(a.r, 0, 2), (std::vector<int>{34, 32}));
    EXPECT_EQ(a.r.programLength, 8u);
    EXPECT_LT(ms, 2000);
}
