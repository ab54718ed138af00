// cellforge-run: the headless runner. Loads a grid, runs generations, and
// writes what was asked for. Doubles as benchmark and regression driver.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "files/grid_file.h"
#include "universe/universe.h"

namespace {

const char* kUsage =
    "usage: cellforge-run [OPTIONS] FILE\n"
    "  FILE                    a grid file (*.grd)\n"
    "  -n, --generations N     run N generations\n"
    "  --pulse G               set the input pulse before generation G (repeatable)\n"
    "  --save PATH             write the universe as a grid file after the run\n"
    "  --stats                 print generation, active blocks and speed after the run\n"
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
    int progress = -1;  // -1: when stderr is a terminal
    std::string file;
};

class Progress {
public:
    Progress(bool on, uint64_t total) : on_(on), total_(total), start_(clock::now()), last_(start_) {}
    void update(uint64_t done) {
        if (!on_) return;
        auto now = clock::now();
        if (now - last_ < std::chrono::milliseconds(200) && done != total_) return;
        last_ = now;
        double secs = std::chrono::duration<double>(now - start_).count();
        double rate = secs > 0 ? double(done) / secs : 0.0;
        int width = 40;
        int filled = total_ ? int(double(done) / double(total_) * width) : width;
        std::fprintf(stderr, "\r[%.*s%*s] %llu/%llu  %.0f gen/s", filled, "########################################",
                     width - filled, "", (unsigned long long)done, (unsigned long long)total_, rate);
        std::fflush(stderr);
    }
    void finish() {
        if (on_) std::fprintf(stderr, "\n");
    }

private:
    using clock = std::chrono::steady_clock;
    bool on_;
    uint64_t total_;
    clock::time_point start_, last_;
};

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
        } else if (a == "--stats") {
            opt.stats = true;
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
    if (!hasGridSuffix(opt.file)) return usageError("'" + opt.file + "' is not a grid file (*.grd)");

    Universe u;
    u.onConflict = [](const std::string& msg) { std::cerr << msg << "\n"; };
    GridReadResult rr;
    openGridDocument(u, opt.file, &rr);
    if (rr.skippedParts)
        std::cerr << "cellforge-run: skipped " << rr.skippedParts
                  << " parts outside the coordinate range of +-1000000000\n";

    const bool showProgress = opt.progress == 1 || (opt.progress == -1 && isatty(2) && opt.generations >= 1000);
    Progress progress(showProgress, opt.generations);
    auto t0 = std::chrono::steady_clock::now();
    for (uint64_t i = 0; i < opt.generations; ++i) {
        u.trackedMoved = 0;
        if (opt.pulses.count(u.generation)) u.inputPulse = 1;
        u.stepGeneration();
        if ((i & 255) == 0) progress.update(i + 1);
    }
    progress.update(opt.generations);
    progress.finish();
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

    if (!opt.save.empty() && !writeGridFile(u, opt.save)) {
        std::cerr << "cellforge-run: cannot write '" << opt.save << "'\n";
        return 1;
    }
    if (opt.stats) {
        std::printf("generation %u active %d parts %zu blocks %zu seconds %.3f gen/s %.1f\n", u.generation,
                    u.activeBlockCount, u.partCount(), u.blockCount(), secs,
                    secs > 0 ? double(opt.generations) / secs : 0.0);
    }
    return 0;
}
