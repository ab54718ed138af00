// Engine benchmarks on the standard workloads:
//   MemoryBank  - 49,152 Conductors and NorGates in 192 rings of 256 that all
//                 change every generation (an alternating bit pattern).
//   Drivers     - 200 self-propelled groups for 25,000 generations, through
//                 two clean-ups; reports the peak memory of the universe.
//   RandomLoad/RandomSave - a 1,000,000-part random universe through the
//                 grid reader and writer; reports MB/s and bytes per slot.
#include <benchmark/benchmark.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "files/grid_file.h"
#include "tools/workloads.h"
#include "universe/universe.h"

namespace {

size_t peakRssBytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return size_t(std::stoull(line.substr(6))) * 1024;
    return 0;
}

const std::string& bankText() {
    static const std::string text = [] {
        std::ostringstream out;
        workloads::BankOptions o;
        o.pattern = workloads::RingPattern::Alternating;
        workloads::writeMemoryBank(out, o);
        return out.str();
    }();
    return text;
}

const std::string& randomText() {
    static const std::string text = [] {
        std::ostringstream out;
        workloads::RandomOptions o;
        workloads::writeRandomParts(out, o);
        return out.str();
    }();
    return text;
}

void MemoryBank(benchmark::State& state) {
    Universe u;
    std::istringstream in(bankText());
    readGridFile(u, in);
    const size_t parts = u.partCount();
    for (auto _ : state) u.stepGeneration();
    state.counters["gen/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["cells/s"] = benchmark::Counter(double(state.iterations()) * double(parts), benchmark::Counter::kIsRate);
    state.counters["active"] = u.activeBlockCount;
}
BENCHMARK(MemoryBank)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

void Drivers(benchmark::State& state) {
    std::ostringstream text;
    workloads::writeDrivers(text, workloads::DriverOptions{});
    size_t peakUniverse = 0, generations = 0;
    for (auto _ : state) {
        Universe u;
        std::istringstream in(text.str());
        readGridFile(u, in);
        for (int g = 0; g < 25000; ++g) {
            u.stepGeneration();
            // Memory peaks just before each clean-up; sampling there keeps the
            // (whole-universe) measurement out of the timed loop otherwise.
            if (g % 10000 == 9998 || g == 24999) peakUniverse = std::max(peakUniverse, u.memoryBytes());
        }
        generations += 25000;
        benchmark::DoNotOptimize(u.blockCount());
    }
    state.counters["gen/s"] = benchmark::Counter(double(generations), benchmark::Counter::kIsRate);
    state.counters["peakUniverseMB"] = double(peakUniverse) / 1e6;
    state.counters["peakRssMB"] = double(peakRssBytes()) / 1e6;
}
BENCHMARK(Drivers)->Unit(benchmark::kMillisecond)->Iterations(1);

void RandomLoad(benchmark::State& state) {
    const std::string& text = randomText();
    size_t blocks = 0, bytes = 0, lists = 0;
    for (auto _ : state) {
        auto u = std::make_unique<Universe>();
        std::istringstream in(text);
        readGridFile(*u, in);
        state.PauseTiming();  // teardown is not part of loading
        blocks = u->blockCount();
        bytes = u->storageBytes();
        lists = u->worklistBytes();
        u.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
    state.counters["bytes/slot"] = double(bytes) / double(blocks * 12);
    state.counters["worklistMB"] = double(lists) / 1e6;
    state.counters["blocks"] = double(blocks);
}
BENCHMARK(RandomLoad)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void RandomSave(benchmark::State& state) {
    Universe u;
    std::istringstream in(randomText());
    readGridFile(u, in);
    size_t written = 0;
    for (auto _ : state) {
        std::ostringstream out;
        u.writeBlocks(out);
        written += out.str().size();
    }
    state.SetBytesProcessed(int64_t(written));
}
BENCHMARK(RandomSave)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
