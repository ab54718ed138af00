// Google Benchmark of cranetalk's steps on a 100,000-token source.
#include <benchmark/benchmark.h>

#include <sstream>

#include "bench_source.h"
#include "cranetalk/cranetalk.h"

namespace {

const std::string& source() {
    static const std::string s = cranetalk_bench::makeSource(100000);
    return s;
}

void BM_Assemble(benchmark::State& state) {
    for (auto _ : state) {
        std::istringstream in(source());
        std::ostringstream err;
        auto r = cranetalk::assembleSource(in, err);
        benchmark::DoNotOptimize(r.image.data());
    }
}
BENCHMARK(BM_Assemble)->Unit(benchmark::kMillisecond);

void BM_AllOutputsToMemory(benchmark::State& state) {
    for (auto _ : state) {
        std::istringstream in(source());
        std::ostringstream err, listing, stimulus, out;
        auto r = cranetalk::assembleSource(in, err);
        cranetalk::writeListing(listing, r);
        cranetalk::writeStimulus(stimulus, r);
        cranetalk::printImage(out, r);
        benchmark::DoNotOptimize(out.str().size());
    }
}
BENCHMARK(BM_AllOutputsToMemory)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
