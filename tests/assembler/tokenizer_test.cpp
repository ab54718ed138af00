// Tokenizer, dispatch, messages.
#include <gtest/gtest.h>

#include "test_support.h"

using namespace cranetalk_test;
using cranetalk::Tokenizer;

namespace {

std::vector<std::string> tokensOf(const std::string& s) {
    std::istringstream in(s);
    Tokenizer t(in);
    std::vector<std::string> out;
    while (t.readToken()) out.push_back(t.token());
    return out;
}

const std::string kMissingEndNop = "Assembly finished before END found\nLast token was 'NOP'\n";

}  // namespace

TEST(Tokenizer, SixWhitespaceBytesSeparateTokens) {
    EXPECT_EQ(tokensOf("a b\tc\nd\ve\ff\rg"),
              (std::vector<std::string>{"a", "b", "c", "d", "e", "f", "g"}));
}

TEST(Tokenizer, EveryOtherByteBelongsToTheToken) {
    std::string s("x\0y", 3);
    s += " \x01;#\xff\x80,.: \x1f\x7f";
    auto t = tokensOf(s);
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0], std::string("x\0y", 3));
    EXPECT_EQ(t[1], "\x01;#\xff\x80,.:");
    EXPECT_EQ(t[2], "\x1f\x7f");
}

TEST(Tokenizer, TokenBufferKeepsTheLastTokenAfterAFailedRead) {
    std::istringstream in("  CALL   \n");
    Tokenizer t(in);
    EXPECT_EQ(t.token(), "");
    ASSERT_TRUE(t.readToken());
    EXPECT_EQ(t.token(), "CALL");
    EXPECT_FALSE(t.failed());
    EXPECT_FALSE(t.readToken());
    EXPECT_TRUE(t.failed());
    EXPECT_EQ(t.token(), "CALL");
}

TEST(Tokenizer, TokenAtEndOfInputSetsEofButNotFail) {
    std::istringstream in("NOP");
    Tokenizer t(in);
    ASSERT_TRUE(t.readToken());
    EXPECT_FALSE(t.failed());
    EXPECT_TRUE(in.eof());
    EXPECT_FALSE(t.readToken());
}

TEST(Tokenizer, MegabyteTokenIsReadWhole) {
    std::string big(3 << 20, 'Q');
    big[12345] = '\0';
    auto a = assemble(big + " END");
    EXPECT_EQ(a.err, "Unrecognised token " + big + "\n");
    EXPECT_TRUE(a.r.endFound);
}

TEST(AssemblyLoop, EmptyInputReportsMissingEndWithEmptyLastToken) {
    for (const char* src : {"", " ", "\n\t\r\v\f  \n"}) {
        auto a = assemble(src);
        EXPECT_EQ(a.err, "Assembly finished before END found\nLast token was ''\n") << src;
        EXPECT_EQ(a.r.programLength, 0u);
        EXPECT_FALSE(a.r.endFound);
    }
}

TEST(AssemblyLoop, LineStructureHasNoMeaning) {
    auto one = assemble("NOP NOP END");
    auto three = assemble("NOP\nNOP\nEND\n");
    EXPECT_EQ(one.r.image, three.r.image);
    EXPECT_EQ(one.r.programLength, 2u);
    EXPECT_EQ(three.r.programLength, 2u);
    EXPECT_EQ(one.err, "");
    EXPECT_EQ(three.err, "");
}

TEST(AssemblyLoop, NothingAfterEndIsRead) {
    auto a = assemble("NOP END NOP garbage");
    EXPECT_EQ(a.r.programLength, 1u);
    EXPECT_EQ(a.err, "");
    EXPECT_EQ(a.rest, " NOP garbage");
}

TEST(AssemblyLoop, EndGluedToOtherBytesIsNotEnd) {
    auto a = assemble("END; ENDX end");
    EXPECT_EQ(a.err,
              "Unrecognised token END;\nUnrecognised token ENDX\nUnrecognised token end\n"
              "Assembly finished before END found\nLast token was 'end'\n");
}

TEST(AssemblyLoop, KeywordsMatchExactly) {
    auto a = assemble("nop Nop NOP; PSH NOP END");
    EXPECT_EQ(a.err,
              "Unrecognised token nop\nUnrecognised token Nop\nUnrecognised token NOP;\n"
              "Unrecognised token PSH\n");
    EXPECT_EQ(a.r.programLength, 1u);
}

TEST(AssemblyLoop, NoCommentSyntax) {
    auto a = assemble("NOP ; a remark # too\nEND");
    EXPECT_EQ(a.err,
              "Unrecognised token ;\nUnrecognised token a\nUnrecognised token remark\n"
              "Unrecognised token #\nUnrecognised token too\n");
}

TEST(AssemblyLoop, MissingEndNamesLastToken) {
    auto a = assemble("NOP");
    EXPECT_EQ(a.err, kMissingEndNop);
    EXPECT_EQ(a.r.programLength, 1u);
    EXPECT_EQ(a.r.image[0], 0);
    EXPECT_EQ(assemble("NOP\n\n").err, kMissingEndNop);
}

TEST(AssemblyLoop, LastTokenIncludesOperands) {
    EXPECT_EQ(assemble("CALL foo").err, "Assembly finished before END found\nLast token was 'foo'\n");
    EXPECT_EQ(assemble("O SF\n").err, "Assembly finished before END found\nLast token was 'SF'\n");
    // The number after ORG is not a token.
    EXPECT_EQ(assemble("ORG 5").err, "Assembly finished before END found\nLast token was 'ORG'\n");
    EXPECT_EQ(assemble("NOP ORG 5 \n").err, "Assembly finished before END found\nLast token was 'ORG'\n");
}

TEST(AssemblyLoop, CallAndLabelOnDifferentLines) {
    auto a = assemble("CALL\n\n  target\nNOP\ntarget:\nEND");
    EXPECT_EQ(a.err, "");
    EXPECT_EQ(bytes(a.r, 0, 3), (std::vector<int>{33, 32, 0}));
}

TEST(AssemblyLoop, KeywordWithColonIsALabel) {
    auto a = assemble("NOP END: NOP: CALL END END");
    EXPECT_EQ(a.err, "");
    EXPECT_TRUE(a.r.endFound);
    EXPECT_EQ(a.r.labels.at("END"), 4u);
    EXPECT_EQ(a.r.labels.at("NOP"), 4u);
    EXPECT_EQ(bytes(a.r, 4, 2), (std::vector<int>{33, 32}));
}

TEST(AssemblyLoop, TruncatedStatementsAtEndOfInputAreDropped) {
    for (const char* kw : {"CALL", "ORIENT", "O"}) {
        auto a = assemble(std::string("NOP NOP ") + kw + "  \n");
        EXPECT_EQ(a.err, std::string("Assembly finished before END found\nLast token was '") + kw + "'\n");
        EXPECT_EQ(a.r.programLength, 2u) << kw;
        EXPECT_EQ(a.r.locationCounter, 2u) << kw;
        EXPECT_TRUE(a.r.pending.empty());
        // Also without trailing whitespace.
        auto b = assemble(std::string("NOP ") + kw);
        EXPECT_EQ(b.r.locationCounter, 1u) << kw;
        EXPECT_EQ(b.r.image[1], 0) << kw;
    }
}

TEST(AssemblyLoop, OperandsAreTakenWholeEvenIfKeywords) {
    auto a = assemble("CALL END ORIENT END O ORG END");
    EXPECT_EQ(a.err, "Unrecognised direction string END\nUnrecognised direction string ORG\n");
    EXPECT_EQ(bytes(a.r, 0, 4), (std::vector<int>{32, 0, 32, 32}));
    EXPECT_EQ(a.r.pending.at("END"), (std::vector<std::uint32_t>{0}));
}

TEST(AssemblyLoop, MessagesComeInSourceOrder) {
    auto a = assemble("x O XY y ORG 8192 NOP z");
    EXPECT_EQ(a.err,
              "Unrecognised token x\nUnrecognised direction string XY\nUnrecognised token y\n"
              "Address 8192 is outside the 8192-byte program image\nUnrecognised token z\n"
              "Assembly finished before END found\nLast token was 'z'\n");
}
