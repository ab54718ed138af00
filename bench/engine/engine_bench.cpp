// Engine benchmark: the standard workloads, each run in a process of its
// own (so that its peak resident memory is its own), several times; prints
// medians as a table, with the literal model's rate on the same workload
// from the same run: the two take turns (the literal model in a process of
// its own), so that both meet the same machine, and "vs literal" is the
// median of the runs' ratios.
//
//   bank random    - the 32-module memory bank (49,152 Conductors and
//                    NorGates) holding a random bit pattern: the headline
//   bank program   - the same bank after a random 8192-byte program image
//                    was written into it
//   bank alternating - every cell flips every generation
//   drivers 200    - 200 self-propelled groups for 25,000 generations,
//                    through two clean-ups
//   drivers 2000   - 2,000 groups
//   cars 2000      - 2,000 self-propelled cars, each carrying a timer unit
//                    (a ring oscillator driving a rotator, a binder/cutter
//                    pair and a pusher), 150 generations
//   cars 200       - 200 cars for 25,000 generations, through two clean-ups
//   random 68k     - 68,000 parts of every type, densely packed
//   load / save    - a 1,000,000-part universe through the grid reader and
//                    writer
//
// Cycles per evaluation are time-stamp-counter ticks, which count at the
// processor's nominal clock whatever its current one.
//
// A cell evaluation is one part's rule run in phase 1 (a part in a block on
// the current active list). A moved part is a part that a committed move
// carried into another cell; "ns/moved part" divides the whole run's time
// by them, as "ns/eval" divides it by the evaluations. The literal model is
// the test oracle, a direct rendering of the rules; it runs the same
// generations, or on the two 25,000-generation workloads the first tenth,
// and "vs literal" sets it against the engine's time for those same
// generations: the first generations after a load list every block, so a
// rate over a few of them is no rate over the whole run (on the random
// universe, 100 generations against 1,000 made a 2x difference).
//
// With --baseline PATH, each run of a workload is paired with one run of
// the same workload by another engine_bench binary (say, one built from
// the commit before), alternately after and before it, so that both see
// the same machine load; the table
// then shows both medians and their ratio. A baseline that does not know
// a workload shows "-" for it.
//
// With --sharing always or never, the helpers take part in every
// generation's passes or in none (by default the engine chooses by timing).
//
// --no-literal leaves the literal model out (for profiling runs).
//
// usage: engine_bench [--runs K] [--threads N] [--quick] [--no-literal] [--only NAME]
//                     [--baseline PATH] [--sharing adaptive|always|never]
#include <sched.h>
#include <sys/resource.h>
#if defined(__x86_64__)
#include <x86intrin.h>
#endif
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "files/grid_file.h"
#include "files/memory_image.h"
#include "naive_model.h"
#include "tools/workloads.h"
#include "universe/universe.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

uint64_t ticks() {
#if defined(__x86_64__)
    return __rdtsc();
#else
    return 0;
#endif
}

size_t peakRssKb() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return size_t(ru.ru_maxrss);
}

struct Result {
    double genPerSec = 0, evalPerSec = 0, nsPerEval = 0;
    double cyclesPerEval = 0;  // time-stamp counter ticks (the nominal clock), x86 only
    double peakMb = 0;        // resident, whole process
    double literalGenPerSec = 0;
    double literalRatio = 0;  // literal time over engine time, same generations
    double extra = 0;         // MB/s for load and save
    double bytesPerSlot = 0;  // persistent storage per cell slot, after loading
    double sharedShare = 0;   // generations run with the helpers allowed, of all
    double movesPerGen = 0;   // parts moved into another cell, per generation
};

// Time per moved part, the whole generation's time counted: what a moving
// machine costs per step of its parts.
double nsPerMove(double genPerSec, double movesPerGen) {
    return genPerSec > 0 && movesPerGen > 0 ? 1e9 / (genPerSec * movesPerGen) : 0;
}

std::string bankText(workloads::RingPattern pattern) {
    std::ostringstream out;
    workloads::BankOptions o;
    o.pattern = pattern;
    workloads::writeMemoryBank(out, o);
    return out.str();
}

// The bank after a random program image was written into its modules, as
// grid text (so that the literal model reads the same universe).
std::string programBankText() {
    Universe u;
    std::istringstream in(bankText(workloads::RingPattern::Ones));
    readGridFile(u, in);
    std::mt19937 rng(7);
    std::vector<int32_t> image(8192);
    for (int32_t& v : image) v = int32_t(rng() % 64);
    writeMemoryImage(u, 0, 0, 0, 0, image);
    std::ostringstream out;
    u.writeBlocks(out);
    return out.str();
}

std::string driversText(int groups) {
    std::ostringstream out;
    workloads::DriverOptions o;
    o.groups = groups;
    workloads::writeDrivers(out, o);
    return out.str();
}

std::string randomText(int64_t parts) {
    std::ostringstream out;
    workloads::RandomOptions o;
    o.parts = parts;
    workloads::writeRandomParts(out, o);
    return out.str();
}

std::string carsText(int cars) {
    std::ostringstream out;
    workloads::CarOptions o;
    o.cars = cars;
    workloads::writeCars(out, o);
    return out.str();
}

// Runs the baseline binary on one workload once and reads gen/s and ns/eval
// from its table row; false when it fails or has no such row.
bool runBaseline(const std::string& path, const std::string& name, int threads, bool quick, double& genPerSec,
                 double& nsPerEval) {
    std::string command = "'" + path + "' --runs 1 --threads " + std::to_string(threads) + " --only '" + name + "'";
    if (quick) command += " --quick";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return false;
    char line[1024];
    bool found = false;
    const std::string prefix = "| " + name + " |";
    while (std::fgets(line, sizeof line, pipe)) {
        if (std::strncmp(line, prefix.c_str(), prefix.size()) != 0) continue;
        // | name | generations | gen/s | evals/s | ns/eval | ...
        std::vector<std::string> cols;
        std::string cell;
        for (const char* p = line + 1; *p && *p != '\n'; ++p) {
            if (*p == '|') {
                cols.push_back(cell);
                cell.clear();
            } else {
                cell += *p;
            }
        }
        if (cols.size() >= 5) {
            genPerSec = std::atof(cols[2].c_str());
            nsPerEval = std::atof(cols[4].c_str());
            found = genPerSec > 0;
        }
    }
    const int status = pclose(pipe);
    return found && status == 0;
}

size_t evaluationsNow(const Universe& u) {
    size_t n = 0;
    for (const UniverseBlock* b : u.currentList()) n += size_t(__builtin_popcount(b->occupied));
    return n;
}

// Keeps the calling process on one processor (none: cpu < 0).
void pinTo(int cpu) {
    if (cpu < 0) return;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    (void)sched_setaffinity(0, sizeof set, &set);
}

// The literal model in a process of its own (so that the engine's peak
// resident memory stays its own), run a slice at a time on request.
class LiteralSlices {
public:
    // With cpu >= 0 the literal model's process runs on that processor only.
    LiteralSlices(const std::string& text, uint64_t generations, int cpu) : left_(generations) {
        int down[2], up[2];
        if (!generations || pipe(down) != 0) return;
        if (pipe(up) != 0) {
            close(down[0]);
            close(down[1]);
            return;
        }
        pid_ = fork();
        if (pid_ == 0) {
            close(down[1]);
            close(up[0]);
            pinTo(cpu);
            naive::Model model;
            model.readGridText(text);
            uint64_t done = 0;
            double budget = 0;
            while (read(down[0], &budget, sizeof budget) == ssize_t(sizeof budget) && budget > 0) {
                const auto t0 = Clock::now();
                double s = 0;
                uint64_t n = 0;
                do {
                    model.step();
                    ++n;
                    s = seconds(t0, Clock::now());
                } while (done + n < generations && s < budget);
                done += n;
                const double reply[2] = {double(n), s};
                if (write(up[1], reply, sizeof reply) != ssize_t(sizeof reply)) break;
            }
            _exit(0);
        }
        close(down[0]);
        close(up[1]);
        if (pid_ < 0) {
            close(down[1]);
            close(up[0]);
            return;
        }
        toChild_ = down[1];
        fromChild_ = up[0];
    }
    ~LiteralSlices() {
        if (pid_ <= 0) return;
        const double stop = -1;
        (void)!write(toChild_, &stop, sizeof stop);
        close(toChild_);
        close(fromChild_);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
    bool running() const { return pid_ > 0 && left_ > 0; }
    // Runs generations for about `budget` seconds (at least one); false
    // when the child failed.
    bool slice(double budget) {
        double reply[2];
        if (write(toChild_, &budget, sizeof budget) != ssize_t(sizeof budget) ||
            read(fromChild_, reply, sizeof reply) != ssize_t(sizeof reply)) {
            left_ = 0;
            failed_ = true;
            return false;
        }
        const uint64_t n = uint64_t(reply[0]);
        left_ -= std::min(left_, n);
        done_ += n;
        seconds_ += reply[1];
        return true;
    }
    uint64_t left() const { return left_; }
    uint64_t done() const { return done_; }
    double elapsed() const { return seconds_; }
    bool failed() const { return failed_; }

private:
    pid_t pid_ = -1;
    int toChild_ = -1, fromChild_ = -1;
    uint64_t left_, done_ = 0;
    double seconds_ = 0;
    bool failed_ = false;
};

// Runs `generations` generations on the engine and `literalGenerations` on
// the literal model. Evaluations and moves are counted on a separate engine
// copy, so the timed loop is the plain loop.
Universe::PassSharing sharingMode = Universe::PassSharing::Adaptive;

Result runStepping(const std::string& text, uint64_t generations, uint64_t literalGenerations, int threads) {
    Result r;
    // Forked first, while this process holds little beyond the text: memory
    // the engine freed would otherwise be shared with the child, which then
    // pays a copy for every page of it that its allocator reuses.
    //
    // Both sides run on one processor: left to the scheduler, the literal
    // model's rate on the bank swung between about 160 and 380 gen/s from
    // run to run while the engine's held within 10%, so that the ratios of
    // one build ranged from 16x to 35x. The engine's helpers, if any, keep
    // the other processors.
    const int cpu = sched_getcpu();
    if (threads == 1) pinTo(cpu);
    LiteralSlices literal(text, literalGenerations, cpu);
    {
        double evaluations = 0;
        {
            Universe counter;
            std::istringstream in(text);
            readGridFile(counter, in);
            for (uint64_t g = 0; g < generations; ++g) {
                evaluations += double(evaluationsNow(counter));
                counter.stepGeneration();
            }
            r.movesPerGen = double(counter.movedParts) / double(generations);
        }
        Universe u;
        u.setThreads(threads);
        u.passSharing = sharingMode;
        std::istringstream in2(text);
        readGridFile(u, in2);
        // The engine and the literal model take turns in slices of a tenth
        // of a second or so, sized so that both end at about the same time:
        // this machine's speed changes by half or more from one minute to
        // the next, and a ratio of two runs made minutes apart says more
        // about that than about the engine.
        double engineS = 0, engineSlice = 0.1, literalSlice = 0.1, prefixS = 0;
        uint64_t engineTicks = 0, g = 0;
        while (g < generations || literal.running()) {
            if (g < generations) {
                const auto t0 = Clock::now();
                const uint64_t c0 = ticks();
                double s = 0;
                do {
                    u.stepGeneration();
                    ++g;
                    s = seconds(t0, Clock::now());
                } while (g < generations && g != literalGenerations && s < engineSlice);
                engineTicks += ticks() - c0;
                engineS += s;
                if (g == literalGenerations) prefixS = engineS;
            }
            if (literal.running()) literal.slice(literalSlice);
            // The next slices take the proportion of the time each side
            // still needs, the shorter one a tenth of a second. The literal
            // model sweeps the cache between any two of the engine's slices,
            // so those must not be short: in slices of 10 ms (two generations
            // of 2,000 cars) the engine ran a quarter slower than alone.
            const double leftE = double(generations - g) * engineS / double(g);
            const double leftL =
                literal.running() ? double(literal.left()) * literal.elapsed() / double(literal.done()) : 0;
            const double least = std::min(leftE, leftL);
            if (least > 0) {
                engineSlice = 0.1 * leftE / least;
                literalSlice = 0.1 * leftL / least;
            }
        }
        r.cyclesPerEval = evaluations > 0 ? double(engineTicks) / evaluations : 0;
        r.genPerSec = double(generations) / engineS;
        r.evalPerSec = evaluations / engineS;
        r.nsPerEval = evaluations > 0 ? engineS * 1e9 / evaluations : 0;
        r.sharedShare = double(u.sharedGenerations) / double(generations);
        if (literalGenerations && !literal.failed() && prefixS > 0) {
            r.literalGenPerSec = double(literal.done()) / literal.elapsed();
            r.literalRatio = literal.elapsed() / prefixS;
        }
    }
    r.peakMb = double(peakRssKb()) / 1000.0;
    return r;
}

Result runLoad(const std::string& text) {
    Result r;
    const auto t0 = Clock::now();
    Universe u;
    std::istringstream in(text);
    readGridFile(u, in);
    r.extra = double(text.size()) / 1e6 / seconds(t0, Clock::now());
    r.peakMb = double(peakRssKb()) / 1000.0;
    r.bytesPerSlot = double(u.storageBytes()) / double(u.blockCount() * 12);
    return r;
}

Result runSave(const std::string& text) {
    Result r;
    Universe u;
    std::istringstream in(text);
    readGridFile(u, in);
    std::ostringstream out;
    const auto t0 = Clock::now();
    u.writeBlocks(out);
    r.extra = double(out.str().size()) / 1e6 / seconds(t0, Clock::now());
    r.peakMb = double(peakRssKb()) / 1000.0;
    return r;
}

// Runs one measurement in a child process and reads its result back.
bool inChild(const std::function<Result()>& f, Result& out) {
    int fd[2];
    if (pipe(fd) != 0) return false;
    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        close(fd[0]);
        const Result r = f();
        const ssize_t w = write(fd[1], &r, sizeof r);
        _exit(w == ssize_t(sizeof r) ? 0 : 1);
    }
    close(fd[1]);
    const ssize_t n = read(fd[0], &out, sizeof out);
    close(fd[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return n == ssize_t(sizeof out) && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

struct Workload {
    const char* name;
    std::function<std::string()> text;
    uint64_t generations, literalGenerations;  // 0 generations: load or save
    bool save = false;
};

}  // namespace

int main(int argc, char** argv) {
    int runs = 5, threads = 1;
    bool quick = false, withLiteral = true;
    std::string only, baseline;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (a == "--threads" && i + 1 < argc)
            threads = std::max(1, std::atoi(argv[++i]));
        else if (a == "--quick")
            quick = true;
        else if (a == "--no-literal")
            withLiteral = false;
        else if (a == "--only" && i + 1 < argc)
            only = argv[++i];
        else if (a == "--baseline" && i + 1 < argc)
            baseline = argv[++i];
        else if (a == "--sharing" && i + 1 < argc) {
            const std::string m = argv[++i];
            sharingMode = m == "always" ? Universe::PassSharing::Always
                          : m == "never" ? Universe::PassSharing::Never
                                         : Universe::PassSharing::Adaptive;
        }
        else {
            std::fprintf(stderr, "usage: engine_bench [--runs K] [--threads N] [--quick] [--no-literal] [--only NAME] [--baseline PATH] [--sharing adaptive|always|never]\n");
            return 2;
        }
    }
    const uint64_t q = quick ? 10 : 1;
    const std::vector<Workload> workloads = {
        {"bank random", [] { return bankText(workloads::RingPattern::Random); }, 3000 / q, 3000 / q},
        {"bank program", [] { return programBankText(); }, 3000 / q, 3000 / q},
        {"bank alternating", [] { return bankText(workloads::RingPattern::Alternating); }, 3000 / q, 3000 / q},
        {"drivers 200", [] { return driversText(200); }, uint64_t(quick ? 2500 : 25000), 2500 / q},
        {"drivers 2000", [] { return driversText(2000); }, 1000 / q, 1000 / q},
        {"cars 2000", [] { return carsText(2000); }, uint64_t(quick ? 50 : 150), uint64_t(quick ? 15 : 150)},
        {"cars 200", [] { return carsText(200); }, uint64_t(quick ? 2500 : 25000), 2500 / q},
        {"random 68k", [] { return randomText(68000); }, 1000 / q, 1000 / q},
        {"load 1M parts", [quick] { return randomText(quick ? 100000 : 1000000); }, 0, 0},
        {"save 1M parts", [quick] { return randomText(quick ? 100000 : 1000000); }, 0, 0, true},
    };
    std::printf("engine_bench: %d run(s) per workload, %d thread(s), medians\n\n", runs, threads);
    if (!baseline.empty()) {
        std::printf("baseline: %s, one run beside each of ours\n\n", baseline.c_str());
        std::printf("| workload | generations | gen/s | baseline gen/s | vs baseline | ns/eval | baseline ns/eval | ns/moved part | baseline ns/moved part | literal gen/s |\n");
        std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    } else {
        // (Baseline runs read gen/s and ns/eval from columns 3 and 5.)
        std::printf("| workload | generations | gen/s | cell evals/s | ns/eval | cycles/eval | peak RSS MB | literal gen/s | vs literal | shared gens | moved parts/gen | ns/moved part |\n");
        std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    }
    for (const Workload& w : workloads) {
        if (!only.empty() && only != w.name) continue;
        std::vector<double> gen, eval, ns, cycles, peak, literal, versus, extra, perSlot, baseGen, baseNs, shared, moves;
        for (int k = 0; k < runs; ++k) {
            // The baseline runs before ours on odd runs, after it on even
            // ones, so that neither always meets a warmer or busier machine.
            const auto runBaselineOnce = [&] {
                double bg = 0, bn = 0;
                if (!baseline.empty() && runBaseline(baseline, w.name, threads, quick, bg, bn)) {
                    baseGen.push_back(bg);
                    baseNs.push_back(bn);
                }
            };
            if (k % 2) runBaselineOnce();
            Result r;
            const bool ok = inChild(
                [&]() -> Result {
                    const std::string text = w.text();
                    if (w.generations) return runStepping(text, w.generations, withLiteral ? w.literalGenerations : 0, threads);
                    return w.save ? runSave(text) : runLoad(text);
                },
                r);
            if (!ok) {
                std::fprintf(stderr, "engine_bench: %s: the measuring process failed\n", w.name);
                return 1;
            }
            gen.push_back(r.genPerSec);
            eval.push_back(r.evalPerSec);
            ns.push_back(r.nsPerEval);
            cycles.push_back(r.cyclesPerEval);
            peak.push_back(r.peakMb);
            if (r.literalGenPerSec > 0) {
                literal.push_back(r.literalGenPerSec);
                versus.push_back(r.literalRatio);
            }
            extra.push_back(r.extra);
            perSlot.push_back(r.bytesPerSlot);
            shared.push_back(r.sharedShare);
            moves.push_back(r.movesPerGen);
            if (k % 2 == 0) runBaselineOnce();
        }
        if (!baseline.empty()) {
            const double lit = median(literal), mine = w.generations ? median(gen) : median(extra);
            // Both builds move the same parts (the results are the same),
            // so the baseline's time per moved part uses our count.
            const double perGen = median(moves);
            if (baseGen.empty())
                std::printf("| %s | %llu | %.0f | - | - | %.2f | - | %.1f | - | %.0f |\n", w.name,
                            static_cast<unsigned long long>(w.generations), mine, median(ns),
                            nsPerMove(mine, perGen), lit);
            else
                std::printf("| %s | %llu | %.0f | %.0f | %.3fx | %.2f | %.2f | %.1f | %.1f | %.0f |\n", w.name,
                            static_cast<unsigned long long>(w.generations), mine, median(baseGen),
                            mine / median(baseGen), median(ns), median(baseNs), nsPerMove(mine, perGen),
                            nsPerMove(median(baseGen), perGen), lit);
        } else if (w.generations) {
            const double lit = median(literal);
            std::printf("| %s | %llu | %.0f | %.3g | %.2f | %.1f | %.0f | %.0f | %.1fx | %.0f%% | %.0f | %.1f |\n", w.name,
                        static_cast<unsigned long long>(w.generations), median(gen), median(eval), median(ns),
                        median(cycles), median(peak), lit, median(versus), 100 * median(shared),
                        median(moves), nsPerMove(median(gen), median(moves)));
        } else {
            if (w.save)
                std::printf("| %s | - | %.0f MB/s | | | | %.0f | | |\n", w.name, median(extra), median(peak));
            else
                std::printf("| %s | - | %.0f MB/s | %.1f bytes/slot | | | %.0f | | |\n", w.name, median(extra),
                            median(perSlot), median(peak));
        }
        std::fflush(stdout);
    }
    return 0;
}
