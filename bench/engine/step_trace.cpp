// step-trace: runs one standard workload for a number of generations and
// prints a fingerprint of the exact state (the checkpoint bytes, which hold
// every list in order, every flag and every cell column) every K
// generations. Two engine builds that print the same lines computed the
// same universe; the plain loop is also what a profiler should watch
// (callgrind --toggle-collect='Universe::stepGeneration()').
//
// With --time, prints the processor time of the stepping loop alone (the
// calling thread's, so a loaded machine costs it little) instead of the
// fingerprints.
//
// usage: step-trace cars|random|drivers|bank COUNT GENERATIONS [--threads N]
//                   [--every K] [--sharing adaptive|always|never|alternate] [--time 1]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sstream>
#include <string>

#include "files/grid_file.h"
#include "tools/workloads.h"
#include "universe/checkpoint.h"
#include "universe/universe.h"

namespace {

uint64_t fingerprint(const std::string& bytes) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

std::string workloadText(const std::string& kind, long count) {
    std::ostringstream out;
    if (kind == "cars") {
        workloads::CarOptions o;
        o.cars = int(count);
        workloads::writeCars(out, o);
    } else if (kind == "random") {
        workloads::RandomOptions o;
        o.parts = count;
        workloads::writeRandomParts(out, o);
    } else if (kind == "drivers") {
        workloads::DriverOptions o;
        o.groups = int(count);
        workloads::writeDrivers(out, o);
    } else if (kind == "bank") {  // COUNT is the seed of its random rings
        workloads::BankOptions o;
        o.pattern = workloads::RingPattern::Random;
        o.seed = uint32_t(count);
        workloads::writeMemoryBank(out, o);
    }
    return out.str();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr,
                     "usage: step-trace cars|random|drivers|bank COUNT GENERATIONS [--threads N] [--every K] "
                     "[--sharing adaptive|always|never|alternate]\n");
        return 2;
    }
    const std::string text = workloadText(argv[1], std::atol(argv[2]));
    if (text.empty()) {
        std::fprintf(stderr, "step-trace: unknown workload %s\n", argv[1]);
        return 2;
    }
    const long generations = std::atol(argv[3]);
    int threads = 1;
    long every = 0;
    bool timeOnly = false;
    Universe::PassSharing sharing = Universe::PassSharing::Adaptive;
    for (int i = 4; i + 1 < argc; i += 2) {
        const std::string a = argv[i], v = argv[i + 1];
        if (a == "--threads") threads = std::atoi(v.c_str());
        else if (a == "--every") every = std::atol(v.c_str());
        else if (a == "--time") timeOnly = v != "0";
        else if (a == "--sharing")
            sharing = v == "always"      ? Universe::PassSharing::Always
                      : v == "never"     ? Universe::PassSharing::Never
                      : v == "alternate" ? Universe::PassSharing::Alternate
                                         : Universe::PassSharing::Adaptive;
    }
    Universe u;
    u.setThreads(threads);
    u.passSharing = sharing;
    std::istringstream in(text);
    readGridFile(u, in);
    auto report = [&] {
        std::string bytes, error;
        if (!UniverseCheckpoint::write(u, {}, bytes, error)) {
            std::fprintf(stderr, "step-trace: %s\n", error.c_str());
            std::exit(1);
        }
        std::printf("%u %016llx %d %d %d %d\n", u.generation, (unsigned long long)fingerprint(bytes),
                    u.activeBlockCount, u.lastMoveTarget[0], u.lastMoveTarget[1], u.lastMoveTarget[2]);
    };
    if (timeOnly) {
        timespec t0{}, t1{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t0);
        for (long g = 0; g < generations; ++g) u.stepGeneration();
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t1);
        std::printf("%.3f\n", double(t1.tv_sec - t0.tv_sec) * 1e3 + double(t1.tv_nsec - t0.tv_nsec) * 1e-6);
        return 0;
    }
    for (long g = 0; g < generations; ++g) {
        u.stepGeneration();
        if (every > 0 && (g + 1) % every == 0) report();
    }
    report();
    return 0;
}
