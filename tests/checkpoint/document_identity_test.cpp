// Document checkpoints: run N, checkpoint, load the project again, resume,
// run M gives the grid, terminal table and monitor record of a run of N + M,
// with terminals that ride on moving parts, looped stimuli and part drops,
// and for the memory bank with its stimulus and monitor.
#include <chrono>
#include <filesystem>
#include <thread>
#include <fstream>
#include <sstream>

#include "checkpoint_support.h"
#include "files/checkpoint.h"
#include "files/document.h"
#include "files/platform.h"
#include "files/project.h"
#include "test_util.h"

namespace fs = std::filesystem;

namespace {

// One loaded project with its own platform (so documents never meet).
struct Loaded {
    HeadlessPlatform platform;
    CellforgeDocument* doc = nullptr;

    explicit Loaded(const std::string& project) {
        ProjectLoadResult r;
        EXPECT_TRUE(loadProjectFromPath(platform, project, &r)) << project;
        doc = r.document;
        EXPECT_NE(doc, nullptr) << project;
    }
    void run(int n) {
        const bool p = doc->pauseForRead();
        for (int i = 0; i < n; ++i) doc->driver().runGeneration();
        doc->resumeAfterRead(p);
    }
    std::string grid() {
        std::string text;
        doc->withUniverse([&](Universe& u) { text = gridText(u); });
        return text;
    }
    std::string terminals() {
        std::ostringstream out;
        doc->saveTerminals(out);
        return out.str();
    }
    std::string state() {
        std::string bytes, error;
        EXPECT_TRUE(writeCheckpointBytes(*doc, bytes, error)) << error;
        return bytes;
    }
};

void writeRide(const std::string& folder) {
    fs::create_directories(folder);
    writeText(folder + "/ride.grd", RideProject::grid());
    writeText(folder + "/ride.trm", RideProject::terminals());
    writeText(folder + "/ride.sti", RideProject::stimulus());
    writeText(folder + "/ride.mon", RideProject::monitor());
    writeText(folder + "/ride.prj", RideProject::project());
}

struct Outcome {
    std::string grid, terminals, monitor, state;
};

// A run of n + m generations in `folder`, in one go or resumed from a
// checkpoint file written after n (in a second document, as a new process would).
Outcome runProject(const std::string& folder, const std::string& project, const std::string& monitorName, int n,
                   int m, bool resume) {
    KeepCwd keep;
    Outcome o;
    const std::string prj = folder + "/" + project;
    const std::string ck = folder + "/run.ckpt";
    {
        Loaded first(prj);
        if (!first.doc) return o;
        first.run(resume ? n : n + m);
        if (!resume) {
            o = {first.grid(), first.terminals(), "", first.state()};
        } else {
            std::string error;
            EXPECT_TRUE(writeCheckpoint(*first.doc, ck, error)) << error;
        }
    }
    if (resume) {
        CheckpointImage image;
        std::string error;
        EXPECT_TRUE(readCheckpointFile(ck, image, error)) << error;
        EXPECT_EQ(image.generation(), uint32_t(n));
        EXPECT_TRUE(keepMonitorOutput(image, folder, error)) << error;
        Loaded second(prj);
        if (!second.doc) return o;
        EXPECT_TRUE(applyCheckpoint(*second.doc, image, error)) << error;
        second.run(m);
        o = {second.grid(), second.terminals(), "", second.state()};
    }
    o.monitor = readText(folder + "/" + monitorName);
    return o;
}

void expectSame(const Outcome& whole, const Outcome& resumed) {
    EXPECT_EQ(whole.grid, resumed.grid) << "the saved grids differ";
    EXPECT_EQ(whole.terminals, resumed.terminals) << "the terminal tables differ";
    EXPECT_EQ(whole.monitor, resumed.monitor) << "the monitor records differ";
    EXPECT_EQ(whole.state, resumed.state) << "the checkpoints at the end differ";
}

}  // namespace

TEST(DocumentCheckpoint, RidingTerminalsLoopsAndDrops) {
    ScratchDir dir;
    for (int n : {0, 1, 13, 39, 40, 41}) {
        const std::string a = dir.file("whole" + std::to_string(n)), b = dir.file("split" + std::to_string(n));
        writeRide(a);
        writeRide(b);
        const Outcome whole = runProject(a, "ride.prj", "ride.txt", n, 70 - n, false);
        const Outcome resumed = runProject(b, "ride.prj", "ride.txt", n, 70 - n, true);
        SCOPED_TRACE("checkpoint after generation " + std::to_string(n));
        expectSame(whole, resumed);
        EXPECT_FALSE(whole.monitor.empty());
        // The terminal rode along: the table is not the one in the file.
        EXPECT_EQ(whole.terminals.find("0 0 0\n"), std::string::npos);
    }
}

TEST(DocumentCheckpoint, MemoryBankWithStimulusAndMonitor) {
    ScratchDir dir;
    const std::string src = std::string(CELLFORGE_EXAMPLES_DIR) + "/membank";
    const std::string a = dir.file("whole"), b = dir.file("split");
    for (const std::string& d : {a, b}) fs::copy(src, d, fs::copy_options::recursive);
    const Outcome whole = runProject(a, "membank.prj", "membank-taps.txt", 130, 170, false);
    const Outcome resumed = runProject(b, "membank.prj", "membank-taps.txt", 130, 170, true);
    expectSame(whole, resumed);
    EXPECT_FALSE(whole.monitor.empty()) << "the bank's monitor recorded nothing";
}

TEST(DocumentCheckpoint, BytesRoundTripInOneProcess) {
    ScratchDir dir;
    KeepCwd keep;
    writeRide(dir.file("p"));
    // Without the monitor: rewinding in place cannot take back lines already written.
    writeText(dir.file("p/nomon.prj"), "ride.grd\nride.trm\nride.sti\n");
    Loaded doc(dir.file("p/nomon.prj"));
    ASSERT_NE(doc.doc, nullptr);
    doc.run(17);
    const std::string at17 = doc.state();
    const std::string grid17 = doc.grid();
    doc.run(20);
    const std::string at37 = doc.state();
    std::string error;
    ASSERT_TRUE(readCheckpointBytes(*doc.doc, at17, error)) << error;
    EXPECT_EQ(doc.state(), at17);
    EXPECT_EQ(doc.grid(), grid17);
    doc.run(20);
    EXPECT_EQ(doc.state(), at37);
    // Appended after other bytes, into a buffer with room of its own or with
    // too little (the writer patches its length field in place): the same bytes.
    for (size_t room : {size_t(0), size_t(64), at37.size() / 2, at37.size() + 100}) {
        std::string buffer = "prefix";
        buffer.reserve(room);
        ASSERT_TRUE(readCheckpointBytes(*doc.doc, at37, error)) << error;
        ASSERT_TRUE(writeCheckpointBytes(*doc.doc, buffer, error)) << error;
        EXPECT_EQ(buffer.substr(0, 6), "prefix");
        EXPECT_TRUE(buffer.compare(6, std::string::npos, at37) == 0) << "room " << room;
    }
}

TEST(DocumentCheckpoint, TakenWhileTheWorkerRuns) {
    // The pause handshake makes a checkpoint show one generation, whenever
    // it is taken: each one, resumed and run to the limit, ends where the
    // worker did.
    ScratchDir dir;
    KeepCwd keep;
    fs::copy(std::string(CELLFORGE_EXAMPLES_DIR) + "/membank", dir.file("p"), fs::copy_options::recursive);
    const std::string project = dir.file("p/quiet.prj");
    writeText(project, "membank.grd\nmembank.trm\nmembank.sti\n");
    constexpr uint32_t kLimit = 1500;
    std::vector<std::string> taken;
    std::string final;
    {
        Loaded live(project);
        ASSERT_NE(live.doc, nullptr);
        live.doc->setRunUntil(kLimit);
        live.doc->runCommand();
        for (int i = 0; i < 5; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(15));
            taken.push_back(live.state());
        }
        live.doc->driver().waitUntilStopped();
        final = live.state();
    }
    for (const std::string& bytes : taken) {
        Loaded again(project);
        ASSERT_NE(again.doc, nullptr);
        std::string error;
        CheckpointImage image;
        ASSERT_TRUE(parseCheckpoint(bytes, image, error)) << error;
        const uint32_t at = image.generation();
        ASSERT_LE(at, kLimit);
        ASSERT_TRUE(applyCheckpoint(*again.doc, image, error)) << error;
        again.run(int(kLimit - at));
        EXPECT_EQ(again.state(), final) << "checkpoint taken at generation " << at;
    }
}
