// cellforge-run: the headless runner. Loads a grid, runs generations, and
// writes what was asked for. Doubles as benchmark and regression driver.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "files/checkpoint.h"
#include "files/document.h"
#include "files/grid_file.h"
#include "files/input_file.h"
#include "files/memory_image.h"
#include "files/platform.h"
#include "files/project.h"
#include "apps/run/run_options.h"
#include "session/session.h"
#include "universe/universe.h"
#include "view/bitmap.h"
#include "view/camera.h"
#include "view/drive_dump.h"
#include "view/offscreen.h"
#include "view/png.h"
#include "view/scene.h"

namespace {

int usageError(const std::string& msg) {
    std::cerr << "cellforge-run: " << msg << "\n" << "Try 'cellforge-run --help'.\n";
    return 2;
}

// One line for an input that cannot be read; the run does not start.
int unreadableInput(const std::string& what, const std::string& path, FileCheck check) {
    std::cerr << "cellforge-run: cannot read " << what << " '" << path << "': " << describeFileCheck(check) << "\n";
    return 2;
}


// The bar on stderr, fed by the session's throttled progress.
void drawProgressBar(uint64_t done, uint64_t total, double rate) {
    const int width = 40;
    const int filled = total ? int(double(done) / double(total) * width) : width;
    std::fprintf(stderr, "\r[%.*s%*s] %llu/%llu  %.0f gen/s", filled, "########################################",
                 width - filled, "", (unsigned long long)done, (unsigned long long)total, rate);
    std::fflush(stderr);
}

}  // namespace

int main(int argc, char** argv) {
    RunOptions opt;
    if (const std::optional<std::string> error = parseRunOptions(argc, argv, opt)) return usageError(*error);
    if (opt.help) {
        std::cout << runUsage();
        return 0;
    }
    // The path first (missing, a folder, a FIFO), then its suffix.
    DocumentKind kind = DocumentKind::Grid;
    if (const OpenProblem p = judgeDocumentPath(opt.file, kind)) {
        if (p.fault == OpenFault::WrongSuffix) return usageError(p.message());
        std::cerr << "cellforge-run: " << p.message() << "\n";
        return 2;
    }
    const bool isProject = kind == DocumentKind::Project;
    const std::string dumpPath = fullPath(kDriveDumpFile);
    if (!opt.memory.empty())
        if (const FileCheck c = checkInputFile(opt.memory); c != FileCheck::Regular)
            return unreadableInput("memory file", opt.memory, c);

    // The view needs an OpenGL context; without one there is no point running.
    std::unique_ptr<OffscreenContext> glContext;
    if (!opt.render.empty() || opt.writeEps) {
        std::string error;
        glContext = OffscreenContext::create(opt.width, opt.height, error);
        if (!glContext) {
            std::cerr << "cellforge-run: cannot draw the view: " << error << "\n";
            return 2;
        }
        setUpViewState(opt.width, opt.height);
    }

    // A checkpoint is checked in full before anything is loaded, and the
    // monitor output it continues is kept before the project load restarts it.
    CheckpointImage resumeImage;
    if (!opt.resume.empty()) {
        std::string error;
        if (!readCheckpointFile(opt.resume, resumeImage, error) ||
            (isProject && !keepMonitorOutput(resumeImage, folderOf(fullPath(opt.file)), error))) {
            std::cerr << "cellforge-run: cannot resume from '" << opt.resume << "': " << error << "\n";
            return 2;
        }
    }

    SessionOptions sessionOptions;
    sessionOptions.messages = [](const std::string& msg) { std::cerr << msg << "\n"; };
    // A resume may still be refused after the load: the monitor output it
    // continues is opened only once the checkpoint has been accepted.
    sessionOptions.holdMonitorOutput = !opt.resume.empty();
    OpenProblem problem;
    std::unique_ptr<Session> session = Session::open(opt.file, sessionOptions, problem);
    if (!session) {
        std::cerr << "cellforge-run: " << problem.message() << "\n";
        return 2;
    }
    // The file format keeps what was read before a bad record; say where that was.
    if (session->loadNote()) std::cerr << "cellforge-run: note: " << session->loadNote().message() << "\n";
    if (session->skippedParts())
        std::cerr << "cellforge-run: skipped " << session->skippedParts()
                  << " parts outside the coordinate range of +-1000000000\n";
    CellforgeDocument* doc = &session->document();
    if (!opt.resume.empty()) {
        std::string error;
        if (!applyCheckpoint(*doc, resumeImage, error, opt.resumeAnySource)) {
            std::cerr << "cellforge-run: cannot resume from '" << opt.resume << "': " << error << "\n";
            return 2;
        }
        session->centreFirstView();
    }
    if (Monitor* m = doc->monitor()) startMonitorOutput(*m);
    // The first view's camera: as given, else the "Centre of Mass" position.
    // Its centre then follows the tracked terminal through the run.
    if (opt.cameraGiven) session->setFirstViewCamera(opt.camera);

    if (!opt.memory.empty()) {
        InputFile in(opt.memory);
        if (!in.isOpen()) return unreadableInput("memory file", opt.memory, in.check());
        doc->writeMemory(opt.corner[0], opt.corner[1], opt.corner[2], opt.offset, readProgramImage(in));
    }

    if (std::string error; !session->setThreads(opt.threads, error)) return usageError(error);
    Universe& u = doc->universe();
    SteppingDriver& driver = doc->driver();
    uint32_t startGeneration = 0;
    doc->withUniverse([&](Universe& un) { startGeneration = un.generation; });
    // Periodic checkpoints: after every generation that ends on a multiple of
    // N, written at the start of the following one (before anything changes),
    // whether the worker or this loop runs it. The last one is the final write.
    std::atomic<bool> checkpointFailed{false};
    auto periodicCheckpoint = [&](Universe& un) {
        if (!opt.checkpointEvery || checkpointFailed || un.generation == startGeneration ||
            un.generation % opt.checkpointEvery != 0)
            return;
        std::string error;
        if (!writeCheckpoint(*doc, opt.checkpoint, error)) {
            std::cerr << "cellforge-run: cannot write checkpoint: " << error << "\n";
            checkpointFailed = true;
        }
    };
    session->setGenerationStart([&opt, &periodicCheckpoint](Universe& un) {
        periodicCheckpoint(un);
        if (opt.pulses.count(un.generation)) un.inputPulse = 1;
    });
    auto t0 = std::chrono::steady_clock::now();
    if (opt.runUntil != 0) {
        // The real worker: "Go", then wait until the limit stops it.
        doc->setRunUntil(opt.runUntil);
        doc->runCommand();
        driver.waitUntilStopped();
    } else {
        const bool showProgress = opt.progress == 1 || (opt.progress == -1 && isatty(2) && opt.generations >= 1000);
        RunProgress progress(opt.generations, showProgress ? RunProgress::Report(drawProgressBar) : nullptr);
        RunControl control;
        control.progress = &progress;
        control.beforeGeneration = [&checkpointFailed](Universe&) { return !checkpointFailed.load(); };
        session->run(opt.generations, control);
        if (showProgress) std::fprintf(stderr, "\n");
    }
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (checkpointFailed) return 1;

    if (!opt.save.empty() && !doc->saveGrid(opt.save)) {
        std::cerr << "cellforge-run: cannot write '" << opt.save << "'\n";
        return 1;
    }
    if (!opt.checkpoint.empty()) {
        std::string error;
        if (!writeCheckpoint(*doc, opt.checkpoint, error)) {
            std::cerr << "cellforge-run: cannot write checkpoint: " << error << "\n";
            return 1;
        }
    }
    if (!opt.saveTerminals.empty()) {
        std::ofstream out(opt.saveTerminals, std::ios::out | std::ios::trunc);
        if (!out || !doc->saveTerminals(out)) {
            std::cerr << "cellforge-run: cannot write '" << opt.saveTerminals << "'\n";
            return 1;
        }
    }
    if (glContext) {
        const Camera camera = session->firstViewCamera();
        std::string error;
        if (!opt.render.empty() &&
            !session->renderToFile(camera, opt.width, opt.height, opt.render, error, glContext.get())) {
            std::cerr << "cellforge-run: " << error << "\n";
            return 1;
        }
        glContext->makeCurrent();
        if (opt.writeEps && !writeDriveCoordinates(camera, u, &driver, dumpPath)) {
            std::cerr << "cellforge-run: cannot write '" << dumpPath << "'\n";
            return 1;
        }
    }
    const bool pausedForStats = doc->pauseForRead();
    const uint64_t ran = uint64_t(u.generation - startGeneration);
    if (opt.stats) {
        std::printf("generation %u active %d parts %zu blocks %zu seconds %.3f gen/s %.1f\n", u.generation,
                    u.activeBlockCount, u.partCount(), u.blockCount(), secs,
                    secs > 0 ? double(ran) / secs : 0.0);
    }
    doc->resumeAfterRead(pausedForStats);
    return 0;
}
