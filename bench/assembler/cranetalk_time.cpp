// Times assembleSource + writeListing + writeStimulus + printImage on a
// 100,000-token source, writing the files into a temporary directory, and
// prints the figure.  Usage: cranetalk_time [tokens] [repetitions]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "bench_source.h"
#include "cranetalk/cranetalk.h"

int main(int argc, char** argv) {
    const int tokens = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int reps = argc > 2 ? std::atoi(argv[2]) : 5;
    const std::string source = cranetalk_bench::makeSource(tokens);
    const auto dir = std::filesystem::temp_directory_path();
    const std::string listing = (dir / "cranetalk_time.lst").string();
    const std::string stimulus = (dir / "cranetalk_time.sti").string();
    double best = 1e30;
    for (int i = 0; i < reps; ++i) {
        std::istringstream in(source);
        std::ostringstream out, err;
        const auto t0 = std::chrono::steady_clock::now();
        const auto r = cranetalk::assembleSource(in, err);
        cranetalk::writeListing(listing, r);
        cranetalk::writeStimulus(stimulus, r);
        cranetalk::printImage(out, r);
        const auto t1 = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double, std::milli>(t1 - t0).count());
        if (i == 0)
            std::printf("source: %d tokens, %zu bytes; program length %u; %zu message bytes\n", tokens,
                        source.size(), r.programLength, err.str().size());
    }
    std::printf("assemble + listing + stimulus + initialiser list: best of %d = %.1f ms\n", reps, best);
    std::filesystem::remove(listing);
    std::filesystem::remove(stimulus);
    return 0;
}
