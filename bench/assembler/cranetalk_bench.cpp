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

// A program far beyond the image that redefines a label again and again:
// every definition reports every pending call's two bytes, so the messages
// grow as calls x definitions. The time per message line must stay flat
// (linear in the lines, nothing worse); the messages go to a sink so that
// only the assembler is timed.
class CountingSink : public std::streambuf {
public:
    std::size_t bytes = 0;

protected:
    std::streamsize xsputn(const char*, std::streamsize n) override {
        bytes += std::size_t(n);
        return n;
    }
    int_type overflow(int_type c) override {
        ++bytes;
        return c;
    }
};

void BM_RedefinitionsOutsideTheImage(benchmark::State& state) {
    const int n = int(state.range(0));
    std::string src = "ORG 9000\n";
    for (int i = 0; i < n; ++i) src += "CALL x\n";
    for (int i = 0; i < n; ++i) src += "x:\n";
    src += "END\n";
    std::size_t lines = 0;
    for (auto _ : state) {
        std::istringstream in(src);
        CountingSink sink;
        std::ostream err(&sink);
        auto r = cranetalk::assembleSource(in, err);
        benchmark::DoNotOptimize(r.image.data());
        lines = sink.bytes;
    }
    state.counters["message_bytes"] = double(lines);
    state.SetComplexityN(int64_t(n) * n);
}
BENCHMARK(BM_RedefinitionsOutsideTheImage)->RangeMultiplier(2)->Range(128, 1024)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();
