// Block chunks come from shared slabs: every chunk handed out must be
// aligned, whole and nobody else's until it is given back, from any thread,
// and a slab whose chunks are all back must go back to the system.
#include <gtest/gtest.h>

#include <atomic>

#include <cstdint>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "universe/chunk_slabs.h"

#if defined(__linux__)
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

constexpr size_t kChunk = size_t(1) << 17;

// Takes and gives chunks at random, each filled with its owner's tag, and
// checks every chunk it gives still holds only its tag.
void churn(uint32_t seed, int rounds, bool& ok) {
    std::mt19937 rng(seed);
    std::vector<std::pair<uint64_t*, uint64_t>> held;
    auto check = [&](uint64_t* words, uint64_t tag) {
        for (size_t i = 0; i < kChunk / 8; i += 511)
            if (words[i] != tag) ok = false;
        if (words[kChunk / 8 - 1] != tag) ok = false;
    };
    for (int r = 0; r < rounds; ++r) {
        if (held.empty() || rng() % 3 != 0) {
            auto* words = static_cast<uint64_t*>(chunk_slabs::take());
            if (!words || reinterpret_cast<uintptr_t>(words) % kChunk != 0) {
                ok = false;
                return;
            }
            const uint64_t tag = (uint64_t(seed) << 32) | uint64_t(r);
            for (size_t i = 0; i < kChunk / 8; ++i) words[i] = tag;
            held.emplace_back(words, tag);
        } else {
            const size_t k = rng() % held.size();
            check(held[k].first, held[k].second);
            chunk_slabs::give(held[k].first);
            held[k] = held.back();
            held.pop_back();
        }
    }
    for (auto& [words, tag] : held) {
        check(words, tag);
        chunk_slabs::give(words);
    }
}

TEST(ChunkSlabs, ChunksAreDisjointAcrossThreadsAndSlabsGoBack) {
    const size_t before = chunk_slabs::mappedSlabs();
    bool ok[3] = {true, true, true};
    std::vector<std::thread> threads;
    for (uint32_t t = 0; t < 3; ++t) threads.emplace_back(churn, 11 + t, 600, std::ref(ok[t]));
    for (std::thread& t : threads) t.join();
    EXPECT_TRUE(ok[0] && ok[1] && ok[2]);
#if defined(__linux__)
    EXPECT_EQ(chunk_slabs::mappedSlabs(), before);
#endif
}

#if defined(__linux__)
// A child forked while other threads take and give chunks can still take
// and give its own (the lock is not left held in the child).
TEST(ChunkSlabs, AForkedChildCanTakeChunks) {
    std::atomic<bool> stop{false};
    std::thread busy([&] {
        while (!stop.load()) chunk_slabs::give(chunk_slabs::take());
    });
    bool allExited = true;
    for (int round = 0; round < 40 && allExited; ++round) {
        const pid_t child = fork();
        if (child == 0) {
            alarm(2);  // a child stuck on the lock dies instead of hanging the test
            chunk_slabs::give(chunk_slabs::take());
            _exit(0);
        }
        int status = 0;
        waitpid(child, &status, 0);
        allExited = allExited && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    stop = true;
    busy.join();
    EXPECT_TRUE(allExited);
}
#endif

TEST(ChunkSlabs, LargeTablesAreWholeAndTheirOwn) {
    // Sizes on both sides of the huge-page threshold, and one past it by a
    // page; each filled and checked after the others were written.
    std::vector<size_t> sizes = {1000, (size_t(2) << 20) - 8, size_t(2) << 20, (size_t(3) << 20) + 4096};
    std::vector<std::vector<uint64_t, chunk_slabs::LargePages<uint64_t>>> tables;
    for (size_t bytes : sizes) tables.emplace_back(bytes / 8);
    for (size_t k = 0; k < tables.size(); ++k)
        for (size_t i = 0; i < tables[k].size(); ++i) tables[k][i] = k * 1000003 + i;
    for (size_t k = 0; k < tables.size(); ++k) {
#if defined(__linux__)
        if (sizes[k] >= (size_t(2) << 20)) {
            EXPECT_EQ(reinterpret_cast<uintptr_t>(tables[k].data()) % (size_t(2) << 20), 0u) << sizes[k];
        }
#endif
        size_t wrong = 0;
        for (size_t i = 0; i < tables[k].size(); ++i) wrong += tables[k][i] != k * 1000003 + i;
        EXPECT_EQ(wrong, 0u) << sizes[k];
    }
    // Growing copies into a new table and gives the old one back.
    tables[2].resize(tables[2].size() * 3);
    EXPECT_EQ(tables[2][12345], 2 * 1000003 + 12345u);
    // A type aligned to a cache line keeps its alignment below the
    // threshold too, where the memory comes from the heap.
    struct alignas(64) Line {
        char bytes[64];
    };
    for (size_t n : {size_t(1), size_t(3), size_t(1000)}) {
        std::vector<std::vector<Line, chunk_slabs::LargePages<Line>>> some(8);
        for (auto& v : some) {
            v.resize(n);
            EXPECT_EQ(reinterpret_cast<uintptr_t>(v.data()) % 64, 0u) << n;
        }
    }
}

}  // namespace
