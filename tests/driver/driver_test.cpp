// The worker thread and its flags, seen through the document. Every wait is
// a handshake with the worker (waitUntilStopped, pauseForRead), never a sleep.
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <sstream>

#include "files/document.h"
#include "files/grid_file.h"
#include "files/platform.h"
#include "files/stimulus.h"
#include "files/terminals.h"
#include "test_util.h"

namespace {

uint32_t generationOf(CellforgeDocument& doc) {
    uint32_t g = 0;
    doc.withUniverse([&](Universe& u) { g = u.generation; });
    return g;
}

}  // namespace

TEST(Driver, NewDocumentWaitsWithGoStepAndSlowEnabled) {
    CellforgeDocument doc;
    doc.driver().waitUntilStopped();
    EXPECT_TRUE(doc.canGo());
    EXPECT_TRUE(doc.canStep());
    EXPECT_TRUE(doc.canGoSlow());
    EXPECT_FALSE(doc.canStop());
    EXPECT_EQ(doc.driver().idle.load(), 1);
    EXPECT_EQ(doc.driver().runUntil.load(), 0u);
    EXPECT_EQ(generationOf(doc), 0u);
}

// The lowered priority reaches the running worker at once, and a restarted
// worker takes it again; the document's own thread keeps its priority.
TEST(Driver, WorkerNiceReachesTheRunningAndTheRestartedWorker) {
    CellforgeDocument doc;
    doc.driver().waitUntilStopped();
    errno = 0;
    const int own = getpriority(PRIO_PROCESS, 0);  // the test may itself run niced
    EXPECT_EQ(doc.driver().workerNiceNow(), own);
    const int lower = std::min(own + 5, 19);
    doc.driver().setWorkerNice(lower);
    EXPECT_EQ(doc.driver().workerNiceNow(), lower);
    ASSERT_TRUE(doc.restartWorker());
    doc.driver().waitUntilStopped();
    EXPECT_EQ(doc.driver().workerNiceNow(), lower);
    EXPECT_EQ(getpriority(PRIO_PROCESS, 0), own);
    // Still a working worker.
    doc.stepCommand();
    doc.driver().waitUntilStopped();
    EXPECT_EQ(generationOf(doc), 1u);
}

TEST(Driver, RunUntilStopsExactlyAtTheLimitAndUndoesGoAndStep) {
    CellforgeDocument doc;
    doc.setRunUntil(100);
    doc.runCommand();
    EXPECT_TRUE(doc.canStop());
    doc.driver().waitUntilStopped();
    EXPECT_EQ(generationOf(doc), 100u);
    EXPECT_EQ(doc.driver().paused.load(), 1);
    EXPECT_TRUE(doc.canGo());

    doc.stepCommand();
    doc.driver().waitUntilStopped();
    EXPECT_EQ(generationOf(doc), 100u);
    doc.runCommand();
    doc.driver().waitUntilStopped();
    EXPECT_EQ(generationOf(doc), 100u);

    // Raising the limit lets it continue.
    doc.setRunUntil(130);
    doc.runCommand();
    doc.driver().waitUntilStopped();
    EXPECT_EQ(generationOf(doc), 130u);
}

TEST(Driver, StepRunsOneGenerationPerCommand) {
    CellforgeDocument doc;
    for (uint32_t i = 1; i <= 5; ++i) {
        doc.stepCommand();
        doc.driver().waitUntilStopped();
        EXPECT_EQ(generationOf(doc), i);
    }
}

TEST(Driver, GoSlowAdvancesOneGenerationPerDrawnFrameUntilStop) {
    CellforgeDocument doc;
    doc.slowCommand();
    EXPECT_FALSE(doc.canGo());
    EXPECT_FALSE(doc.canStep());
    EXPECT_FALSE(doc.canGoSlow());
    EXPECT_TRUE(doc.canStop());
    doc.driver().waitUntilStopped();
    EXPECT_EQ(generationOf(doc), 1u);
    for (uint32_t i = 2; i <= 4; ++i) {
        doc.frameDrawn();
        doc.driver().waitUntilStopped();
        EXPECT_EQ(generationOf(doc), i);
    }
    doc.stopCommand();
    EXPECT_EQ(doc.driver().slow.load(), 0);
    EXPECT_TRUE(doc.canGo());
    doc.frameDrawn();  // no longer slow: nothing runs
    doc.driver().waitUntilStopped();
    EXPECT_EQ(generationOf(doc), 4u);
}

TEST(Driver, StopHaltsARunningWorkerAndReadersSeeAStillUniverse) {
    CellforgeDocument doc;
    doc.runCommand();
    // Borrow the universe a few times while it runs: each time the
    // generation must not change under the reader.
    for (int i = 0; i < 20; ++i) {
        doc.withUniverse([&](Universe& u) {
            const uint32_t g = u.generation;
            for (int k = 0; k < 100; ++k) ASSERT_EQ(u.generation, g);
        });
    }
    EXPECT_EQ(doc.driver().paused.load(), 0) << "a reader that paused the worker releases it";
    doc.stopCommand();
    doc.driver().waitUntilStopped();
    const uint32_t g = generationOf(doc);
    EXPECT_EQ(generationOf(doc), g);
    EXPECT_TRUE(doc.canGo());
}

TEST(Driver, ReaderAfterStepWaitsForThatGenerationToFinish) {
    // "Step" then an immediate read: the reader must not overlap the step,
    // and the step still runs once the reader lets go.
    CellforgeDocument doc;
    for (uint32_t i = 1; i <= 50; ++i) {
        doc.stepCommand();
        doc.withUniverse([&](Universe& u) {
            const uint32_t g = u.generation;
            for (int k = 0; k < 50; ++k) ASSERT_EQ(u.generation, g);
        });
        doc.driver().waitUntilStopped();
        ASSERT_EQ(generationOf(doc), i) << "no step may be lost to a reader";
    }
}

TEST(Driver, DestroyingARunningDocumentEndsItsWorkerAndFreesRunObjectsOnce) {
    auto doc = std::make_unique<CellforgeDocument>();
    std::istringstream terms("t 0 0 0 1 0\n");
    auto table = readTerminalFile(terms);
    std::istringstream sti("t { t=0 1 1 loop }\n");
    auto stim = readStimulusFile(sti, table.get(), doc->universe());
    doc->setRunObjects(std::move(table), std::move(stim), nullptr, nullptr);
    doc->runCommand();
    doc->withUniverse([](Universe& u) { EXPECT_NE(u.findCell(0, 0, 0).block, nullptr); });
    doc.reset();  // ASan reports a double free or a use after free of the channels
}

namespace {
struct CountingHooks : GenerationHooks {
    std::atomic<int> before{0}, after{0};
    void beforeGeneration(Universe&) override { before.fetch_add(1); }
    void afterGeneration(Universe&) override { after.fetch_add(1); }
};
}  // namespace

TEST(Driver, DestroyedDriverLeavesNoWorkerBehind) {
    Universe u;
    CountingHooks hooks;
    auto driver = std::make_unique<SteppingDriver>(u);
    driver->setHooks(&hooks);
    driver->startWorker();
    driver->runCommand();
    while (hooks.after.load() < 3) std::this_thread::yield();
    driver.reset();
    const int frozen = hooks.after.load();
    EXPECT_EQ(hooks.before.load(), frozen) << "a generation was cut in half";
    for (int i = 0; i < 1000; ++i) std::this_thread::yield();
    EXPECT_EQ(hooks.after.load(), frozen) << "a worker outlived its driver";
    EXPECT_EQ(u.generation, uint32_t(frozen));
}

TEST(Driver, StopWorkerReturnsAfterExitAndRestartKeepsTheUniverse) {
    CellforgeDocument doc;
    doc.setRunUntil(7);
    doc.runCommand();
    doc.driver().waitUntilStopped();
    doc.stopWorker();
    EXPECT_EQ(doc.driver().exited.load(), 1);
    EXPECT_FALSE(doc.driver().workerStarted());
    EXPECT_FALSE(doc.restartWorker([] { return false; }));
    EXPECT_TRUE(doc.restartWorker());
    EXPECT_EQ(doc.driver().runUntil.load(), 0u) << "a restarted worker has no limit";
    EXPECT_EQ(generationOf(doc), 7u);
    doc.stepCommand();
    doc.driver().waitUntilStopped();
    EXPECT_EQ(generationOf(doc), 8u);
}

TEST(Driver, TrackedTerminalMoveShiftsTheFirstViewCentre) {
    ScratchDir dir;
    // A Drive at the origin facing +y with side +z pushes the part in front
    // of it one step up; the tracked terminal sits on that part.
    writeText(dir.file("d.grd"),
              "0 0 0 1 2 1\n"
              "10 0 4 0 0 0 0 0 0 0 0 0 0 0 0\n"
              "1 0 1 0 0 0 0 0 0 0 0 0 0 0 0\n");
    CellforgeDocument doc;
    doc.withUniverse([&](Universe& u) { ASSERT_TRUE(openGridDocument(u, dir.file("d.grd"))); });
    std::istringstream terms(std::string(kTrackedTerminalName) + " 0 1 0 1 0\n");
    auto table = readTerminalFile(terms);
    Terminal* tracked = &table->at(0);
    std::istringstream sti(std::string(kTrackedTerminalName) + " { }\n");
    auto stim = readStimulusFile(sti, table.get(), doc.universe());
    doc.setRunObjects(std::move(table), std::move(stim), nullptr, nullptr);

    ViewCentre centre;
    centre.set(10.5f, -2.0f, 3.25f);
    doc.setFirstViewCentre(&centre);
    doc.stepCommand();
    doc.driver().waitUntilStopped();
    doc.stepCommand();
    doc.driver().waitUntilStopped();
    EXPECT_EQ(tracked->z, 1);
    EXPECT_EQ(tracked->y, 1);
    EXPECT_FLOAT_EQ(centre.z.load(), 4.25f);
    EXPECT_FLOAT_EQ(centre.x.load(), 10.5f);
    EXPECT_FLOAT_EQ(centre.y.load(), -2.0f);
    doc.setFirstViewCentre(nullptr);
}

TEST(Driver, ReplacingTheStimulusUnbindsItsCells) {
    CellforgeDocument doc;
    std::istringstream terms("a 4 4 4 0 0\n");
    auto table = readTerminalFile(terms);
    Terminal& a = table->at(0);
    std::istringstream sti("a { 1 1 }\n");
    auto stim = readStimulusFile(sti, table.get(), doc.universe());
    StimulusChannel* ch = stim->channels.at(0).get();
    doc.withUniverse([&](Universe& u) {
        CellRef c = u.findCell(a.x, a.y, a.z);
        ASSERT_TRUE(c);
        EXPECT_EQ(c.block->terminalBinding(c.slot), ch);
    });
    doc.setRunObjects(std::move(table), std::move(stim), nullptr, nullptr);
    doc.setRunObjects(nullptr, nullptr, nullptr, nullptr);
    doc.withUniverse([&](Universe& u) {
        CellRef c = u.findCell(4, 4, 4);
        ASSERT_TRUE(c);
        EXPECT_EQ(c.block->terminalBinding(c.slot), nullptr);
    });
}

TEST(Driver, HookOnTheWorkerMayUseTheHandshakeWithoutDeadlock) {
    Universe u;
    SteppingDriver driver(u);
    struct Borrowing : GenerationHooks {
        SteppingDriver* d = nullptr;
        int calls = 0;
        void beforeGeneration(Universe&) override {
            const bool p = d->pauseForRead();
            EXPECT_FALSE(p);
            d->resumeAfterRead(p);
            ++calls;
        }
        void afterGeneration(Universe&) override {}
    } hooks;
    hooks.d = &driver;
    driver.setHooks(&hooks);
    driver.startWorker();
    driver.stepCommand();
    driver.waitUntilStopped();
    driver.stopWorker();
    EXPECT_EQ(hooks.calls, 1);
    EXPECT_EQ(u.generation, 1u);
}

TEST(Platform, RecentListAndMessagesOfTheHeadlessPlatform) {
    HeadlessPlatform p;
    for (const char* f : {"/1", "/2", "/3", "/4", "/5", "/3"}) p.addRecentFile(f);
    EXPECT_EQ(p.recentFiles(), (std::vector<std::string>{"/3", "/5", "/4", "/2"}));
    EXPECT_EQ(p.openDocument("/nowhere/not-a-grid.txt"), nullptr);
    EXPECT_EQ(p.recentFiles().size(), 4u);
    EXPECT_EQ(p.recentFiles()[0], "/3");
    // A grid that cannot be read still opens, empty, and is found again by path.
    CellforgeDocument* d = p.openDocument("/nowhere/x.GRD");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(p.openDocument("/nowhere/../nowhere/x.GRD"), d);
    EXPECT_EQ(p.recentFiles()[0], "/nowhere/x.GRD");
    p.closeDocument(d);
    EXPECT_TRUE(p.documents().empty());
    std::vector<std::string> sunk;
    p.messageSink = [&](const std::string& m) { sunk.push_back(m); };
    p.messageBox("hello");
    EXPECT_EQ(p.messages(), (std::vector<std::string>{"hello"}));
    EXPECT_EQ(sunk, p.messages());
}
