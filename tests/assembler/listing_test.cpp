// The listing.
#include <gtest/gtest.h>

#include "test_support.h"

using namespace cranetalk_test;

namespace {

std::string listingOfSource(const std::string& src) { return listingOf(assemble(src).r); }

// An image built by hand, for bytes that the assembler never writes.
cranetalk::AssemblyResult handImage(const std::vector<int>& values) {
    cranetalk::AssemblyResult r;
    for (std::size_t i = 0; i < values.size(); ++i) r.image[i] = static_cast<std::uint8_t>(values[i]);
    r.programLength = static_cast<std::uint32_t>(values.size());
    return r;
}

}  // namespace

TEST(Listing, EmptyProgramListsNothing) {
    EXPECT_EQ(listingOfSource("END"), "");
    EXPECT_EQ(listingOfSource("x: END"), "");  // a label at 0, length 0
}

TEST(Listing, ForwardCallExample) {
    EXPECT_EQ(listingOfSource("CALL sub NOP sub: RETURN END"),
              "0000 CALL 4 ()\n"
              "0002 NOP\n"
              "0003 NOP\n"
              "     sub:\n"
              "0004 RETURN\n");
}

TEST(Listing, CallInTheUpperHalfNamesTheLabelAtTargetPlus4096) {
    const std::string l = listingOfSource("ORG 4096 CALL sub NOP sub: RETURN END");
    auto lines = splitLines(l);
    ASSERT_EQ(lines.size(), 4096u + 5u);
    for (int a = 0; a < 4096; ++a) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%04d NOP", a);
        ASSERT_EQ(lines[a], buf);
    }
    EXPECT_EQ(lines[4096], "4096 CALL 4 (sub)");
    EXPECT_EQ(lines[4097], "4098 NOP");
    EXPECT_EQ(lines[4098], "4099 NOP");
    EXPECT_EQ(lines[4099], "     sub:");
    EXPECT_EQ(lines[4100], "4100 RETURN");
}

TEST(Listing, AddressFormat) {
    auto lines = splitLines(listingOfSource("ORG 4100 NOP END"));
    EXPECT_EQ(lines[0], "0000 NOP");
    EXPECT_EQ(lines[7], "0007 NOP");
    EXPECT_EQ(lines[120], "0120 NOP");
    EXPECT_EQ(lines[4100], "4100 NOP");
    auto last = splitLines(listingOfSource("ORG 8191 GATHER END"));
    EXPECT_EQ(last.back(), "8191 GATHER");
}

TEST(Listing, EveryPlainName) {
    EXPECT_EQ(listingOfSource("NOP NOR FUS ROT DEL UFS SLI N W B S E F GATHER RET MBK END"),
              "0000 NOP\n0001 NOR\n0002 FUS\n0003 ROT\n0004 DEL\n0005 UFS\n0006 SLI\n0007 NORTH\n"
              "0008 WEST\n0009 BACK\n0010 SOUTH\n0011 EAST\n0012 FRONT\n0013 GATHER\n0014 RETURN\n"
              "0015 MEMBANK\n");
    EXPECT_EQ(listingOf(handImage({1})), "0000 PSH\n");
}

TEST(Listing, CodesWithoutNameAreWrittenAsDb) {
    std::vector<int> unused = {11, 15, 17, 18, 19, 20, 21, 22, 23, 25, 26, 27, 29, 30, 31};
    std::string expected;
    for (std::size_t i = 0; i < unused.size(); ++i) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%04zu DB %d\n", i, unused[i]);
        expected += buf;
    }
    EXPECT_EQ(listingOf(handImage(unused)), expected);
}

TEST(Listing, TwoLabelsAtOneAddressShowTheLastSorted) {
    EXPECT_EQ(listingOfSource("beta: alpha: gamma: Zeta: NOP END"), "     gamma:\n0000 NOP\n");
    // Byte-wise order: "\xff" sorts after ASCII.
    EXPECT_EQ(listingOfSource("b: \xff: NOP END"), "     \xff:\n0000 NOP\n");
}

TEST(Listing, EmptyLabelLine) { EXPECT_EQ(listingOfSource(": NOP END"), "     :\n0000 NOP\n"); }

TEST(Listing, RedefinedLabelShowsAtItsLastAddressOnly) {
    EXPECT_EQ(listingOfSource("x: NOP x: NOP END"), "0000 NOP\n0001 NOP\n0002 NOP\n0003 NOP\n     x:\n0004 NOP\n");
}

TEST(Listing, AdjacentOrientationsReadAsACall) {
    EXPECT_EQ(listingOfSource("ORIENT SF ORIENT NF END"), "0000 CALL 1020 ()\n");
    EXPECT_EQ(listingOfSource("O SF O NF O EB END"), "0000 CALL 1020 ()\n0002 ORIENT EB\n");
}

TEST(Listing, OperandByteAtTheEndOfTheProgramIsAnOrientation) {
    // The pair rule needs a + 1 below the program length.
    EXPECT_EQ(listingOfSource("O SF ORG 0 END"), "0000 ORIENT SF\n");
    EXPECT_EQ(listingOfSource("O NE O NE ORG 0 NOP ORG 1 END"), "0000 NOP\n0001 ORIENT NE\n");
    auto r = assemble("ORIENT WB ORIENT BE ORG 1 END").r;  // length 2: a pair
    EXPECT_EQ(listingOf(r), "0000 CALL 2400 ()\n");
}

TEST(Listing, UnresolvedCallReadsAsOrientEb) {
    EXPECT_EQ(listingOfSource("CALL nowhere END"), "0000 ORIENT EB\n0001 NOP\n");
}

TEST(Listing, OrientationNamesAndQuestionMarks) {
    EXPECT_EQ(listingOfSource("O EN NOP O SW NOP O NB END"),
              "0000 ORIENT EN\n0001 NOP\n0002 ORIENT SW\n0003 NOP\n0004 ORIENT NB\n");
    EXPECT_EQ(listingOf(handImage({36, 0, 38, 0, 44, 0, 46, 0, 52, 0, 54, 0, 60, 0, 62})),
              "0000 ORIENT ??\n0001 NOP\n0002 ORIENT ??\n0003 NOP\n0004 ORIENT ??\n0005 NOP\n"
              "0006 ORIENT ??\n0007 NOP\n0008 ORIENT ??\n0009 NOP\n0010 ORIENT ??\n0011 NOP\n"
              "0012 ORIENT ??\n0013 NOP\n0014 ORIENT ??\n");
}

TEST(Listing, LabelAtTheSecondByteOfACallPairHasNoLine) {
    // Bytes 3 and 4 form a call pair, so the label "mid" at 4 is skipped.
    EXPECT_EQ(listingOfSource("ORG 3 O SF mid: O SF NOP END"), "0000 NOP\n0001 NOP\n0002 NOP\n0003 CALL 4092 ()\n0005 NOP\n");
}

TEST(Listing, CallTargetNameLookupUsesTheNameTable) {
    // Two labels at 4100: the parentheses hold the name that sorts last.
    EXPECT_EQ(splitLines(listingOfSource("CALL b ORG 4100 a: b: END"))[0], "0000 CALL 4 (b)");
    // A label at exactly the target (below 4096) does not show in parentheses.
    EXPECT_EQ(listingOfSource("CALL t NOP NOP t: NOP END"), "0000 CALL 4 ()\n0002 NOP\n0003 NOP\n     t:\n0004 NOP\n");
}

TEST(Listing, LabelsOutsideTheImageDoNotCrash) {
    auto a = assemble("NOP ORG 100000 far: ORG 4294967292 top: END");
    EXPECT_EQ(a.r.labels.at("far"), 100000u);
    EXPECT_EQ(a.r.labels.at("top"), 4294967292u);
    auto lines = splitLines(listingOf(a.r));
    ASSERT_EQ(lines.size(), 8192u);
    for (const auto& line : lines) ASSERT_EQ(line.substr(4), " NOP");
}

TEST(Listing, FileVersionCreatesAndTruncates) {
    TempDir dir;
    const auto path = dir / "list.txt";
    writeFile(path, "old contents that must go\n");
    cranetalk::writeListing(path.string(), assemble("NOP END").r);
    EXPECT_EQ(readFile(path), "0000 NOP\n");
    cranetalk::writeListing(path.string(), assemble("END").r);
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(readFile(path), "");
}

TEST(Listing, UnopenableFileIsSkippedSilently) {
    TempDir dir;
    cranetalk::writeListing((dir / "no" / "such" / "dir.txt").string(), assemble("NOP END").r);
    cranetalk::writeListing(dir.path().string(), assemble("NOP END").r);  // a directory
    EXPECT_FALSE(fs::exists(dir / "no"));
}
