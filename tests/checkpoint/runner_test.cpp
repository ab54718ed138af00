// cellforge-run --checkpoint / --checkpoint-every / --resume through the
// program's own command line: a resumed run saves exactly what one long run
// saves, the monitor record continues, and a checkpoint that cannot be used
// stops the program before anything is loaded or overwritten.
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "checkpoint_support.h"
#include "files/checkpoint.h"
#include "test_util.h"

namespace fs = std::filesystem;

namespace {

struct Result {
    int status = -1;
    std::string err;
};

class CheckpointRunner : public ::testing::Test {
protected:
    void SetUp() override {
        writeText(dir.file("ride.grd"), RideProject::grid());
        writeText(dir.file("ride.trm"), RideProject::terminals());
        writeText(dir.file("ride.sti"), RideProject::stimulus());
        writeText(dir.file("ride.mon"), RideProject::monitor());
        writeText(dir.file("ride.prj"), RideProject::project());
    }
    std::string q(const std::string& name) {
        std::string quoted(1, '\'');
        quoted.append(dir.file(name)).push_back('\'');
        return quoted;
    }
    Result run(const std::string& args) {
        const std::string errFile = dir.file("stderr.txt");
        std::string cmd = CELLFORGE_RUN_PATH;
        cmd.append(" --no-progress ").append(args).append(" >/dev/null 2>").append(q("stderr.txt"));
        const int status = std::system(cmd.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readText(errFile)};
    }
    // One run of 60 generations as the reference.
    void reference() {
        ASSERT_EQ(run(q("ride.prj") + " -n 60 --save " + q("whole.grd") + " --save-terminals " + q("whole.trm")).status, 0);
        whole = readText(dir.file("ride.txt"));
        ASSERT_FALSE(whole.empty());
    }
    void expectLikeReference(const std::string& grid, const std::string& trm) {
        EXPECT_EQ(readText(dir.file(grid)), readText(dir.file("whole.grd")));
        EXPECT_EQ(readText(dir.file(trm)), readText(dir.file("whole.trm")));
        EXPECT_EQ(readText(dir.file("ride.txt")), whole) << "the monitor record does not continue";
    }
    ScratchDir dir;
    std::string whole;
};

}  // namespace

TEST_F(CheckpointRunner, ResumedRunSavesWhatOneRunSaves) {
    reference();
    ASSERT_EQ(run(q("ride.prj") + " -n 25 --checkpoint " + q("run.ckpt")).status, 0);
    Result r = run(q("ride.prj") + " --resume " + q("run.ckpt") + " -n 35 --save " + q("a.grd") + " --save-terminals " +
                   q("a.trm"));
    ASSERT_EQ(r.status, 0) << r.err;
    expectLikeReference("a.grd", "a.trm");
    // The worker thread's run-until counts absolute generations and resumes as well.
    ASSERT_EQ(run(q("ride.prj") + " --run-until 25 --checkpoint " + q("w.ckpt")).status, 0);
    r = run(q("ride.prj") + " --resume " + q("w.ckpt") + " --run-until 60 --save " + q("b.grd") + " --save-terminals " +
            q("b.trm"));
    ASSERT_EQ(r.status, 0) << r.err;
    expectLikeReference("b.grd", "b.trm");
}

TEST_F(CheckpointRunner, PeriodicCheckpointSurvivesAFailedRun) {
    reference();
    // The run ends in an error before its final checkpoint (the grid cannot be
    // saved), so the file holds the last periodic one: generation 40 of 47.
    Result r = run(q("ride.prj") + " -n 47 --checkpoint-every 20 --checkpoint " + q("p.ckpt") + " --save " +
                   q("no/such/folder.grd"));
    EXPECT_EQ(r.status, 1);
    CheckpointImage image;
    std::string error;
    ASSERT_TRUE(readCheckpointFile(dir.file("p.ckpt"), image, error)) << error;
    EXPECT_EQ(image.generation(), 40u);
    r = run(q("ride.prj") + " --resume " + q("p.ckpt") + " -n 20 --save " + q("c.grd") + " --save-terminals " + q("c.trm"));
    ASSERT_EQ(r.status, 0) << r.err;
    expectLikeReference("c.grd", "c.trm");
    for (const auto& e : fs::directory_iterator(dir.path()))
        EXPECT_EQ(e.path().filename().string().find(".tmp-"), std::string::npos) << e.path();
    // The same with the worker thread writing the periodic checkpoints.
    r = run(q("ride.prj") + " --run-until 47 --checkpoint-every 20 --checkpoint " + q("pw.ckpt") + " --save " +
            q("no/such/folder.grd"));
    EXPECT_EQ(r.status, 1);
    ASSERT_TRUE(readCheckpointFile(dir.file("pw.ckpt"), image, error)) << error;
    EXPECT_EQ(image.generation(), 40u);
    EXPECT_EQ(readText(dir.file("pw.ckpt")), readText(dir.file("p.ckpt")));
}

TEST_F(CheckpointRunner, UnusableCheckpointsStopBeforeLoading) {
    ASSERT_EQ(run(q("ride.prj") + " -n 30 --checkpoint " + q("run.ckpt")).status, 0);
    const std::string record = readText(dir.file("ride.txt"));
    ASSERT_FALSE(record.empty());
    const std::string good = readText(dir.file("run.ckpt"));
    writeText(dir.file("cut.ckpt"), good.substr(0, good.size() / 2));
    std::string flipped = good;
    flipped[flipped.size() / 3] ^= 0x10;
    writeText(dir.file("flip.ckpt"), flipped);
    fs::create_directories(dir.file("folder.ckpt"));
    for (const char* name : {"cut.ckpt", "flip.ckpt", "folder.ckpt", "missing.ckpt"}) {
        Result r = run(q("ride.prj") + " --resume " + q(name) + " -n 5");
        EXPECT_EQ(r.status, 2) << name;
        EXPECT_NE(r.err.find("cellforge-run: cannot resume from"), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << "one clear line: " << r.err;
        EXPECT_EQ(readText(dir.file("ride.txt")), record) << name << ": the monitor record was touched";
    }
    // A grid-only run cannot take a project's checkpoint: refused for its
    // source, and, when told to take any source, for its run objects.
    Result r = run(q("ride.grd") + " --resume " + q("run.ckpt") + " -n 5");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("loaded from other files: only the checkpoint's run has a terminals"), std::string::npos)
        << r.err;
    r = run(q("ride.grd") + " --resume " + q("run.ckpt") + " --resume-any-source -n 5");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("does not match the loaded run objects"), std::string::npos) << r.err;
    r = run(q("ride.prj") + " -n 5 --checkpoint-every 2");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--checkpoint-every needs --checkpoint"), std::string::npos) << r.err;
    r = run(q("ride.prj") + " -n 5 --checkpoint " + q("folder.ckpt"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot write checkpoint"), std::string::npos) << r.err;
}

TEST_F(CheckpointRunner, HelpNamesTheOptions) {
    const std::string out = dir.file("help.txt");
    std::string cmd = CELLFORGE_RUN_PATH;
    cmd.append(" --help > ").append(q("help.txt"));
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const std::string help = readText(out);
    for (const char* opt : {"--checkpoint PATH", "--checkpoint-every N", "--resume PATH"})
        EXPECT_NE(help.find(opt), std::string::npos) << opt;
}

TEST_F(CheckpointRunner, RefusedResumeLeavesTheMonitorRecordAlone) {
    // The monitor output is opened only once the checkpoint is accepted, so
    // no refusal - for the source, the run objects, or a checkpoint that
    // never had a monitor - can cut the record a good checkpoint continues.
    ASSERT_EQ(run(q("ride.prj") + " -n 30 --checkpoint " + q("run.ckpt")).status, 0);
    ASSERT_EQ(run(q("ride.grd") + " -n 10 --checkpoint " + q("bare.ckpt")).status, 0);
    const std::string record = readText(dir.file("ride.txt"));
    ASSERT_FALSE(record.empty());
    Result r = run(q("ride.prj") + " --resume " + q("bare.ckpt") + " -n 5");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(readText(dir.file("ride.txt")), record);
    r = run(q("ride.prj") + " --resume " + q("bare.ckpt") + " --resume-any-source -n 5");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(readText(dir.file("ride.txt")), record);

    std::string stimulus = RideProject::stimulus();
    stimulus.replace(stimulus.find("b=40"), 4, "b=44");
    writeText(dir.file("ride.sti"), stimulus);
    r = run(q("ride.prj") + " --resume " + q("run.ckpt") + " -n 5");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("loaded from other files: the stimulus differs"), std::string::npos) << r.err;
    EXPECT_EQ(readText(dir.file("ride.txt")), record);
    r = run(q("ride.prj") + " --resume " + q("run.ckpt") + " --resume-any-source -n 5");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("stimulus channel 'car.nose' has other events"), std::string::npos) << r.err;
    EXPECT_EQ(readText(dir.file("ride.txt")), record);

    // With the files as they were, the record is still there to continue.
    writeText(dir.file("ride.sti"), RideProject::stimulus());
    r = run(q("ride.prj") + " --resume " + q("run.ckpt") + " -n 5");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readText(dir.file("ride.txt")).substr(0, record.size()), record);
}

TEST_F(CheckpointRunner, AGridChangedSinceTheCheckpointIsNamed) {
    ASSERT_EQ(run(q("ride.grd") + " -n 10 --checkpoint " + q("a.ckpt")).status, 0);
    std::string grid = readText(dir.file("ride.grd"));
    writeText(dir.file("other.grd"), grid + "\n");
    Result r = run(q("other.grd") + " --resume " + q("a.ckpt") + " -n 5");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("the grid differs"), std::string::npos) << r.err;
    EXPECT_EQ(run(q("other.grd") + " --resume " + q("a.ckpt") + " --resume-any-source -n 5").status, 0);
}
