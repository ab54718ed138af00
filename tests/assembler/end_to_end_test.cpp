// End-to-end: the built cranetalk program with real standard streams and
// files.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>

#include "reference_model.h"
#include "test_support.h"

using namespace cranetalk_test;

#ifdef CRANETALK_BINARY

namespace {
const std::string kBin = CRANETALK_BINARY;
}

TEST(EndToEnd, NopEnd) {
    TempDir dir;
    auto r = runProcess(kBin, {}, "NOP END\n", dir.path());
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, "unsigned prog[] = {\n0,\n};\n");
    EXPECT_EQ(r.err, "1\n");
}

TEST(EndToEnd, EmptyInput) {
    TempDir dir;
    auto r = runProcess(kBin, {}, "", dir.path());
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, "unsigned prog[] = {\n};\n");
    EXPECT_EQ(r.err, "Assembly finished before END found\nLast token was ''\n0\n");
}

TEST(EndToEnd, UsageExitStatusAndStdinUnread) {
    TempDir dir;
    const auto a = dir / "a", b = dir / "b", c = dir / "c";
    auto r = runProcess(kBin, {a.string(), b.string(), c.string()}, "NOP END\n", dir.path());
    EXPECT_EQ(r.exitStatus, 255);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "USAGE: cranetalk [<listing> [<stimulus>]]\n");
    EXPECT_EQ(r.stdinOffset, 0);
    EXPECT_FALSE(fs::exists(a));
    EXPECT_FALSE(fs::exists(b));
    EXPECT_FALSE(fs::exists(c));
}

TEST(EndToEnd, ListingAndStimulusFiles) {
    TempDir dir;
    const auto lst = dir / "prog.lst", sti = dir / "prog.sti";
    const std::string src = "CALL sub NOP sub: RETURN\nORIENT XY\nEND\n";
    auto r = runProcess(kBin, {lst.string(), sti.string()}, src, dir.path());
    auto ref = reference::run(src);
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, ref.out);
    EXPECT_EQ(r.err, "Unrecognised direction string XY\n6\n");
    EXPECT_EQ(readFile(lst), "0000 CALL 4 ()\n0002 NOP\n0003 NOP\n     sub:\n0004 RETURN\n0005 ORIENT EB\n");
    EXPECT_EQ(readFile(sti), ref.stimulus);
}

TEST(EndToEnd, ListingInMissingDirectory) {
    TempDir dir;
    const std::string lst = (dir / "nope" / "x.lst").string();
    auto r = runProcess(kBin, {lst}, "NOP END", dir.path());
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.err, "Cannot open listing file " + lst + "\n1\n");
}

// Standard input that is no file (a directory, a device) reads as an empty
// source; a device as an output is written like a file. Run through the
// shell, since only a redirection can hand the program such a stream.
TEST(EndToEnd, NonRegularFilesAsInputAndOutput) {
    TempDir dir;
    const auto out = dir / "out.txt", err = dir / "err.txt";
    auto run = [&](const std::string& args, const std::string& input) {
        const std::string cmd = "'" + kBin + "' " + args + " < '" + input + "' > '" + out.string() + "' 2> '" +
                                err.string() + "'";
        const int status = std::system(cmd.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    const std::string empty = "Assembly finished before END found\nLast token was ''\n0\n";
    EXPECT_EQ(run("", dir.path().string()), 0) << "a directory as standard input";
    EXPECT_EQ(readFile(err), empty);
    EXPECT_EQ(readFile(out), "unsigned prog[] = {\n};\n");
    EXPECT_EQ(run("", "/dev/null"), 0);
    EXPECT_EQ(readFile(err), empty);
    EXPECT_EQ(run("/dev/null /dev/null", "/dev/null"), 0) << "devices as the listing and the stimulus";
    EXPECT_EQ(readFile(err), empty);
    EXPECT_EQ(run("'" + dir.path().string() + "'", "/dev/null"), 0);
    EXPECT_EQ(readFile(err), "Assembly finished before END found\nLast token was ''\nCannot open listing file " +
                                 dir.path().string() + "\n0\n");
}

TEST(EndToEnd, MergedStreamsKeepLineOrder) {
    // Standard output and standard error into one file: the flushes put the
    // messages first, then the initialiser list, then the length.
    TempDir dir;
    auto r = runProcess(kBin, {}, "ORIENT XY junk NOP", dir.path(), /*mergeStreams=*/true);
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out,
              "Unrecognised direction string XY\nUnrecognised token junk\n"
              "Assembly finished before END found\nLast token was 'NOP'\n"
              "unsigned prog[] = {\n32,\n0,\n};\n2\n");
}

TEST(EndToEnd, NothingAfterEndIsNeeded) {
    // Binary garbage after END is never looked at.
    TempDir dir;
    std::string src = "NOR END ";
    src += std::string("\0\xff\x01 \n", 5);
    auto r = runProcess(kBin, {}, src, dir.path());
    EXPECT_EQ(r.out, "unsigned prog[] = {\n2,\n};\n");
    EXPECT_EQ(r.err, "1\n");
}

TEST(EndToEnd, BinaryBytesAndHugeToken) {
    TempDir dir;
    std::string src("A\0B\xff", 4);
    src += " " + std::string(5 << 20, 'T') + " NOP";
    auto r = runProcess(kBin, {(dir / "l").string(), (dir / "s").string()}, src, dir.path());
    auto ref = reference::run(src);
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, ref.out);
    EXPECT_EQ(r.err, ref.err);
    EXPECT_EQ(readFile(dir / "l"), ref.listing);
}

TEST(EndToEnd, MatchesReferenceModelOnRandomSources) {
    TempDir dir;
    SourceGenerator gen(20240607);
    for (int i = 0; i < 40; ++i) {
        const std::string src = gen.source(static_cast<int>(gen.pick(300)));
        auto ref = reference::run(src);
        const auto lst = dir / "r.lst", sti = dir / "r.sti";
        fs::remove(lst);
        fs::remove(sti);
        auto r = runProcess(kBin, {lst.string(), sti.string()}, src, dir.path());
        ASSERT_EQ(r.exitStatus, 0) << src;
        ASSERT_EQ(r.out, ref.out) << src;
        ASSERT_EQ(r.err, ref.err) << src;
        ASSERT_EQ(readFile(lst), ref.listing) << src;
        ASSERT_EQ(readFile(sti), ref.stimulus) << src;
    }
}

TEST(EndToEnd, ClosedStandardOutputStillExitsZero) {
    // A reader that has gone away: writes fail, the program goes on.
    TempDir dir;
    writeFile(dir / "in.txt", "ORG 8000 END");
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    ::close(pipeFds[0]);
    pid_t pid = ::fork();
    if (pid == 0) {
        int in = ::open((dir / "in.txt").c_str(), O_RDONLY);
        int err = ::open("/dev/null", O_WRONLY);
        ::dup2(in, 0);
        ::dup2(pipeFds[1], 1);
        ::dup2(err, 2);
        ::execl(kBin.c_str(), kBin.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

#else

TEST(EndToEnd, DISABLED_BinaryNotBuilt) {}

#endif
