// cellforge-run end to end: projects, the real worker, memory images and
// the output files, through the program's own command line.
#include <sys/wait.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>

#include "files/grid_file.h"
#include "files/memory_image.h"
#include "test_util.h"
#include "universe/universe.h"

namespace {

// The runner's status and what it wrote on standard error.
int runnerErr(const std::string& args, std::string& err, const std::string& errPath) {
    const std::string cmd = std::string(CELLFORGE_RUN_PATH) + " " + args + " >/dev/null 2>'" + errPath + "'";
    const int status = std::system(cmd.c_str());
    err = readText(errPath);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int runner(const std::string& args) {
    const std::string cmd = std::string(CELLFORGE_RUN_PATH) + " " + args + " >/dev/null 2>&1";
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class RunnerCli : public ::testing::Test {
protected:
    void SetUp() override {
        // A conductor at (1,0,0) facing +x, fed from (0,0,0) through terminal io.in.
        writeText(dir.file("g.grd"),
                  "0 0 0 2 1 1\n0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n1 1 0 0 0 0 0 0 0 0 0 0 0 0 0\n");
        writeText(dir.file("t.trm"), "object io { in 1 0 0 3 0 probe 1 0 0 1 1 }\n");
        writeText(dir.file("s.sti"), "io.in { t=0 1 1 0 2 1 1 0 3 loop }\n");
        writeText(dir.file("m.mon"), "mon.txt\nwatch io.probe : io.in end\n");
        writeText(dir.file("p.prj"), "g.grd\nt.trm\ns.sti\nm.mon\n2");
    }
    std::string q(const std::string& name) {
        std::string quoted(1, '\'');
        quoted.append(dir.file(name)).push_back('\'');
        return quoted;
    }
    ScratchDir dir;
};

}  // namespace

TEST_F(RunnerCli, WorkerRunUntilMatchesDirectStepping) {
    ASSERT_EQ(runner(q("p.prj") + " -n 40 --save-terminals " + q("direct.trm") + " --save " + q("direct.grd")), 0);
    const std::string direct = readText(dir.file("mon.txt"));
    ASSERT_EQ(runner(q("p.prj") + " --run-until 40 --save-terminals " + q("worker.trm") + " --save " + q("worker.grd")),
              0);
    const std::string worker = readText(dir.file("mon.txt"));
    EXPECT_FALSE(direct.empty()) << "the monitor recorded nothing";
    EXPECT_EQ(direct, worker);
    EXPECT_EQ(readText(dir.file("direct.grd")), readText(dir.file("worker.grd")));
    EXPECT_EQ(readText(dir.file("direct.trm")), readText(dir.file("worker.trm")));
    EXPECT_EQ(readText(dir.file("direct.trm")).substr(0, 9), "object io");
    size_t pos = 0, lines = 0;
    for (size_t nl; (nl = direct.find('\n', pos)) != std::string::npos; pos = nl + 1, ++lines)
        EXPECT_EQ(direct.substr(pos, nl - pos), "watch 1 0");
    EXPECT_EQ(pos, direct.size()) << "every line is complete";

    // The advance count shifts the stimulus: without it the record differs.
    writeText(dir.file("p.prj"), "g.grd\nt.trm\ns.sti\nm.mon\n2\n");
    ASSERT_EQ(runner(q("p.prj") + " -n 40"), 0);
    EXPECT_NE(readText(dir.file("mon.txt")), direct);
}

TEST_F(RunnerCli, ProjectErrorsAndOutputFiles) {
    EXPECT_EQ(runner(q("missing.prj")), 2);
    writeText(dir.file("nogrid.prj"), "t.trm\ns.sti\n");
    EXPECT_EQ(runner(q("nogrid.prj")), 2);
    EXPECT_EQ(runner(q("p.prj") + " --save-terminals " + q("no/such/dir/x.trm")), 1);
    EXPECT_EQ(runner(q("p.prj") + " --save " + q("no/such/dir/x.grd")), 1);
    EXPECT_EQ(runner(q("p.prj") + " --corner 1,2"), 2);
    EXPECT_EQ(runner(q("p.prj") + " --offset -1"), 2);
    EXPECT_EQ(runner(q("p.prj") + " --bogus"), 2);

    // A grid alone has no terminal table: the written file is empty.
    writeText(dir.file("t.trm.out"), "old contents");
    ASSERT_EQ(runner(q("g.grd") + " -n 3 --save-terminals " + q("t.trm.out")), 0);
    EXPECT_EQ(readText(dir.file("t.trm.out")), "");
}

TEST_F(RunnerCli, MemoryOptionWritesTheImageAtCornerAndOffset) {
    // One module of conductors at corner (4, 40, 10).
    std::string grid = "4 9 3 6 32 8\n";
    for (int i = 0; i < 6 * 32 * 8; ++i) grid += "1 0 1 0 0 0 0 0 0 0 0 0 0 0 0\n";
    writeText(dir.file("mem.grd"), grid);
    writeText(dir.file("image.txt"), "{\n63,\n1,\n42,\n};\n");
    ASSERT_EQ(runner(q("mem.grd") + " --memory " + q("image.txt") + " --corner 4,40,10 --offset 5 -n 0 --save " +
                     q("out.grd")),
              0);

    Universe u;
    ASSERT_TRUE(openGridDocument(u, dir.file("mem.grd")));
    writeMemoryImage(u, 4, 40, 10, 5, {63, 1, 42});
    ASSERT_TRUE(writeGridFile(u, dir.file("expected.grd")));
    EXPECT_EQ(readText(dir.file("out.grd")), readText(dir.file("expected.grd")));
    EXPECT_NE(readText(dir.file("out.grd")), grid) << "the write changed outputs";
}

// Inputs that are no files (a directory, a FIFO, a device) or do not exist:
// one line naming the input, status 2, nothing run. A FIFO must not block.
TEST_F(RunnerCli, UnreadableInputsGiveOneLineAndStatusTwo) {
    std::filesystem::create_directory(dir.file("folder.prj"));
    std::filesystem::create_directory(dir.file("folder.grd"));
    ASSERT_EQ(::mkfifo(dir.file("pipe.grd").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(dir.file("pipe.prj").c_str(), 0600), 0);
    writeText(dir.file("dirgrid.prj"), "folder.grd\nt.trm\n");
    writeText(dir.file("pipegrid.prj"), "pipe.grd\n");
    writeText(dir.file("nogridfile.prj"), "absent.grd\n");
    std::filesystem::create_directory(dir.file("d.trm"));
    writeText(dir.file("dirtrm.prj"), "g.grd\nd.trm\n");
    writeText(dir.file("pipemon.prj"), "g.grd\nt.trm\npipe.mon\n");
    ASSERT_EQ(::mkfifo(dir.file("pipe.mon").c_str(), 0600), 0);
    const std::string errFile = dir.file("err.txt");
    const std::pair<std::string, std::string> cases[] = {
        {q("folder.prj"), "cannot read project"},
        {q("pipe.prj"), "cannot read project"},
        {q("folder.grd"), "cannot read grid"},
        {q("pipe.grd"), "cannot read grid"},
        {q("absent.grd"), "cannot read grid"},
        {q("dirgrid.prj"), "cannot read grid"},
        {q("pipegrid.prj"), "cannot read grid"},
        {q("nogridfile.prj"), "cannot read grid"},
        {q("dirtrm.prj"), "cannot read terminals file"},
        {q("pipemon.prj"), "cannot read monitor file"},
        {q("g.grd") + " --memory " + q("folder.grd"), "cannot read memory file"},
        {q("g.grd") + " --memory /dev/zero", "cannot read memory file"},
        {q("g.grd") + " --memory /dev/null", "cannot read memory file"},
        {q("g.grd") + " --memory " + q("pipe.grd"), "cannot read memory file"},
        {q("g.grd") + " --memory " + q("absent.txt"), "cannot read memory file"},
    };
    for (const auto& [args, message] : cases) {
        std::string err;
        EXPECT_EQ(runnerErr(args + " -n 3", err, errFile), 2) << args;
        EXPECT_EQ(err.find("cellforge-run: " + message), 0u) << args << ": " << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << args << ": " << err;
    }
    // Outputs may be FIFOs and devices (a script may read them).
    std::string err;
    EXPECT_EQ(runnerErr(q("g.grd") + " -n 3 --save /dev/null", err, errFile), 0) << err;
}
