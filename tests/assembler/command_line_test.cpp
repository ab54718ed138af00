// Command line, array output and exit status (in-process).
#include <gtest/gtest.h>

#include "test_support.h"

using namespace cranetalk_test;

namespace {

struct CliRun {
    int status;
    std::string out, err, rest;
};

CliRun runCli(const std::string& source, const std::vector<std::string>& args) {
    std::vector<std::string> store{"cranetalk"};
    store.insert(store.end(), args.begin(), args.end());
    std::vector<const char*> argv;
    for (auto& s : store) argv.push_back(s.c_str());
    argv.push_back(nullptr);
    std::istringstream in(source);
    std::ostringstream out, err;
    CliRun r;
    r.status = cranetalk::run(static_cast<int>(store.size()), argv.data(), in, out, err);
    r.out = out.str();
    r.err = err.str();
    in.clear();
    r.rest.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return r;
}

}  // namespace

TEST(CommandLine, NopEnd) {
    auto r = runCli("NOP END", {});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "unsigned prog[] = {\n0,\n};\n");
    EXPECT_EQ(r.err, "1\n");
}

TEST(CommandLine, EmptyProgram) {
    auto r = runCli("END", {});
    EXPECT_EQ(r.out, "unsigned prog[] = {\n};\n");
    EXPECT_EQ(r.err, "0\n");
}

TEST(CommandLine, OrgOnly) {
    auto r = runCli("ORG 100 END", {});
    std::string expected = "unsigned prog[] = {\n";
    for (int i = 0; i < 100; ++i) expected += "0,\n";
    expected += "};\n";
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.err, "100\n");
}

TEST(CommandLine, ValuesInDecimal) {
    auto r = runCli("CALL sub NOP sub: RETURN O SF MBK END", {});
    EXPECT_EQ(r.out, "unsigned prog[] = {\n33,\n32,\n0,\n0,\n24,\n63,\n28,\n};\n");
    EXPECT_EQ(r.err, "7\n");
}

TEST(CommandLine, MessagesThenLength) {
    auto r = runCli("nop NOP", {});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Unrecognised token nop\nAssembly finished before END found\nLast token was 'NOP'\n1\n");
    EXPECT_EQ(r.out, "unsigned prog[] = {\n0,\n};\n");
}

TEST(CommandLine, ThreeOrMoreArgumentsGiveUsage) {
    TempDir dir;
    for (int n : {3, 4, 7}) {
        std::vector<std::string> args;
        for (int i = 0; i < n; ++i) {
            std::string name = "f";
            name += std::to_string(i);
            args.push_back((dir / name).string());
        }
        auto r = runCli("NOP END", args);
        EXPECT_EQ(r.status, -1);
        EXPECT_EQ(r.err, "USAGE: cranetalk [<listing> [<stimulus>]]\n");
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.rest, "NOP END");  // standard input not read
        for (const auto& a : args) EXPECT_FALSE(fs::exists(a));
    }
}

TEST(CommandLine, ListingAndStimulusFiles) {
    TempDir dir;
    const auto lst = dir / "p.lst", sti = dir / "p.sti";
    auto r = runCli("CALL sub NOP sub: RETURN END", {lst.string()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(readFile(lst), "0000 CALL 4 ()\n0002 NOP\n0003 NOP\n     sub:\n0004 RETURN\n");
    EXPECT_FALSE(fs::exists(sti));
    auto r2 = runCli("CALL sub NOP sub: RETURN END", {lst.string(), sti.string()});
    EXPECT_EQ(r2.status, 0);
    EXPECT_EQ(splitLines(readFile(sti)).size(), 192u * 261u);
    EXPECT_EQ(r2.out, r.out);
    EXPECT_EQ(r2.err, "5\n");
}

TEST(CommandLine, UnopenableFilesCostOneLineEach) {
    TempDir dir;
    const std::string bad = (dir / "no" / "such.lst").string();
    const std::string badSti = (dir / "no" / "such.sti").string();
    auto r = runCli("NOP END", {bad, badSti});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Cannot open listing file " + bad + "\nCannot open stimulus file " + badSti + "\n1\n");
    EXPECT_EQ(r.out, "unsigned prog[] = {\n0,\n};\n");
    // A stimulus file is still written when only the listing cannot be opened.
    const auto sti = dir / "ok.sti";
    auto r2 = runCli("NOP END", {bad, sti.string()});
    EXPECT_EQ(r2.status, 0);
    EXPECT_TRUE(fs::exists(sti));
    // Empty names are file names that cannot be opened.
    auto r3 = runCli("NOP END", {"", ""});
    EXPECT_EQ(r3.status, 0);
    EXPECT_EQ(r3.err, "Cannot open listing file \nCannot open stimulus file \n1\n");
    // A directory is no file either.
    auto r4 = runCli("NOP END", {dir.path().string()});
    EXPECT_EQ(r4.err, "Cannot open listing file " + dir.path().string() + "\n1\n");
}

TEST(CommandLine, SameFileForBothGetsTheStimulus) {
    TempDir dir;
    const auto f = dir / "both";
    runCli("NOP END", {f.string(), f.string()});
    EXPECT_EQ(readFile(f), stimulusOf(assemble("NOP END").r));
}

TEST(CommandLine, EmptyListingFileIsCreated) {
    TempDir dir;
    const auto lst = dir / "empty.lst";
    runCli("", {lst.string()});
    EXPECT_TRUE(fs::exists(lst));
    EXPECT_EQ(readFile(lst), "");
}
