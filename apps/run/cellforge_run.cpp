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
#include "session/session.h"
#include "universe/universe.h"
#include "view/bitmap.h"
#include "view/camera.h"
#include "view/drive_dump.h"
#include "view/offscreen.h"
#include "view/png.h"
#include "view/scene.h"

namespace {

const char* kUsage =
    "usage: cellforge-run [OPTIONS] FILE\n"
    "  FILE                    a grid file (*.grd) or a project file (*.prj)\n"
    "  -n, --generations N     run N generations\n"
    "  --pulse G               set the input pulse before generation G (repeatable)\n"
    "  --save PATH             write the universe as a grid file after the run\n"
    "  --memory FILE           write a memory file into the memory modules before the run\n"
    "  --corner X,Y,Z          corner of the first memory module (default 0,0,0)\n"
    "  --offset K              loop offset of the memory write (default 0)\n"
    "  --save-terminals PATH   write the terminal table after the run\n"
    "  --checkpoint PATH       write an exact checkpoint of the run after the run\n"
    "  --checkpoint-every N    also write it whenever the generation is a multiple of N\n"
    "  --resume PATH           load FILE as usual, then continue the run a checkpoint froze\n"
    "  --resume-any-source     resume even when FILE is not what the checkpointed run was loaded from\n"
    "  --run-until N           run the worker thread until generation N (instead of -n)\n"
    "  --render PATH           draw the first view after the run and save it as a bitmap (*.bmp, or *.png)\n"
    "  --camera X,Y,Z,ALT,AZ   camera of the first view (default: the centre of mass, 50 units in front)\n"
    "  --size WxH              size of the drawn view in pixels (default 640x480)\n"
    "  --write-eps             write the Drive coordinates of the first view to dump.eps after the run\n"
    "  --stats                 print generation, active blocks and speed after the run\n"
    "  --threads N             evaluate the rules on N threads (1 to 64, default 1; same results)\n"
    "  --progress              show a progress bar on stderr (default when stderr is a terminal)\n"
    "  --no-progress           never show the progress bar\n"
    "  -h, --help              show this help\n";

int usageError(const std::string& msg) {
    std::cerr << "cellforge-run: " << msg << "\n" << "Try 'cellforge-run --help'.\n";
    return 2;
}

bool parseUnsigned(const char* s, uint64_t max, uint64_t& out) {
    if (!s || !*s) return false;
    uint64_t v = 0;
    for (const char* p = s; *p; ++p) {
        if (*p < '0' || *p > '9') return false;
        v = v * 10 + uint64_t(*p - '0');
        if (v > max) return false;
    }
    out = v;
    return true;
}

struct Options {
    uint64_t generations = 0;
    std::set<uint32_t> pulses;
    std::string save;
    bool stats = false;
    int threads = 1;
    int progress = -1;  // -1: when stderr is a terminal
    std::string file;
    std::string memory;
    int32_t corner[3] = {0, 0, 0};
    uint32_t offset = 0;
    std::string saveTerminals;
    uint32_t runUntil = 0;
    std::string render;
    bool cameraGiven = false;
    Camera camera;
    int width = 640, height = 480;
    bool writeEps = false;
    std::string checkpoint;
    uint32_t checkpointEvery = 0;
    std::string resume;
    bool resumeAnySource = false;
};

// "WxH", each 1 to 16384.
bool parseSize(const char* s, int& w, int& h) {
    if (!s) return false;
    const std::string t = s;
    const size_t x = t.find('x');
    uint64_t a, b;
    if (x == std::string::npos || !parseUnsigned(t.substr(0, x).c_str(), 16384, a) ||
        !parseUnsigned(t.substr(x + 1).c_str(), 16384, b) || a == 0 || b == 0)
        return false;
    w = int(a);
    h = int(b);
    return true;
}

bool parseCorner(const char* s, int32_t out[3]) {
    if (!s) return false;
    std::string t = s;
    size_t start = 0;
    for (int k = 0; k < 3; ++k) {
        size_t end = k < 2 ? t.find(',', start) : t.size();
        if (end == std::string::npos) return false;
        std::string part = t.substr(start, end - start);
        bool negative = !part.empty() && part[0] == '-';
        uint64_t v;
        if (!parseUnsigned(part.c_str() + (negative ? 1 : 0), negative ? 2147483648ull : 2147483647ull, v))
            return false;
        out[k] = negative ? int32_t(-int64_t(v)) : int32_t(v);
        start = end + 1;
    }
    return true;
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
    Options opt;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) return nullptr;
            (void)name;
            return argv[++i];
        };
        if (a == "-h" || a == "--help") {
            std::cout << kUsage;
            return 0;
        } else if (a == "-n" || a == "--generations") {
            const char* v = value("-n");
            if (!v || !parseUnsigned(v, UINT64_MAX / 10, opt.generations))
                return usageError("option " + a + " needs a non-negative whole number");
        } else if (a == "--pulse") {
            const char* v = value("--pulse");
            uint64_t g;
            if (!v || !parseUnsigned(v, UINT32_MAX, g)) return usageError("option --pulse needs a generation number");
            opt.pulses.insert(uint32_t(g));
        } else if (a == "--save") {
            const char* v = value("--save");
            if (!v) return usageError("option --save needs a path");
            opt.save = v;
        } else if (a == "--memory" || a == "--save-terminals") {
            const char* v = value(a.c_str());
            if (!v || !*v) return usageError("option " + a + " needs a path");
            (a == "--memory" ? opt.memory : opt.saveTerminals) = v;
        } else if (a == "--checkpoint" || a == "--resume") {
            const char* v = value(a.c_str());
            if (!v || !*v) return usageError("option " + a + " needs a path");
            (a == "--checkpoint" ? opt.checkpoint : opt.resume) = v;
        } else if (a == "--checkpoint-every") {
            const char* v = value(a.c_str());
            uint64_t k;
            if (!v || !parseUnsigned(v, UINT32_MAX, k) || k == 0)
                return usageError("option --checkpoint-every needs a positive whole number");
            opt.checkpointEvery = uint32_t(k);
        } else if (a == "--corner") {
            if (!parseCorner(value("--corner"), opt.corner))
                return usageError("option --corner needs X,Y,Z (three whole numbers)");
        } else if (a == "--offset" || a == "--run-until") {
            const char* v = value(a.c_str());
            uint64_t k;
            if (!v || !parseUnsigned(v, UINT32_MAX, k)) return usageError("option " + a + " needs a non-negative whole number");
            (a == "--offset" ? opt.offset : opt.runUntil) = uint32_t(k);
        } else if (a == "--render") {
            const char* v = value("--render");
            if (!v || !*v) return usageError("option --render needs a path");
            opt.render = v;
        } else if (a == "--camera") {
            const std::optional<Camera> c = parseCameraText(value("--camera"));
            if (!c) return usageError("option --camera needs X,Y,Z,ALT,AZ (five numbers)");
            opt.camera = *c;
            opt.cameraGiven = true;
        } else if (a == "--size") {
            if (!parseSize(value("--size"), opt.width, opt.height))
                return usageError("option --size needs WxH (whole numbers from 1 to 16384)");
        } else if (a == "--resume-any-source") {
            opt.resumeAnySource = true;
        } else if (a == "--write-eps") {
            opt.writeEps = true;
        } else if (a == "--stats") {
            opt.stats = true;
        } else if (a == "--threads") {
            const char* v = value("--threads");
            uint64_t n;
            if (!v || !parseUnsigned(v, 64, n) || n == 0) return usageError("option --threads needs a number from 1 to 64");
            opt.threads = int(n);
        } else if (a == "--progress") {
            opt.progress = 1;
        } else if (a == "--no-progress") {
            opt.progress = 0;
        } else if (!a.empty() && a[0] == '-' && a != "-") {
            return usageError("unknown option " + a);
        } else if (opt.file.empty()) {
            opt.file = a;
        } else {
            return usageError("more than one file given");
        }
    }
    if (opt.file.empty()) return usageError("no file given");
    if (opt.checkpointEvery && opt.checkpoint.empty()) return usageError("option --checkpoint-every needs --checkpoint PATH");
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
    driver.setGenerationStart([&opt, &periodicCheckpoint](Universe& un) {
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
