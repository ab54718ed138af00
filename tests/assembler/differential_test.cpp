// Random sources: cranetalk_lib against the naive reference model (eager
// patching, own tokenizer and number reader), and a time-bounded fuzz run
// over random bytes.
#include <gtest/gtest.h>

#include <chrono>

#include "reference_model.h"
#include "test_support.h"

using namespace cranetalk_test;

namespace {

struct LibOutputs {
    std::string out, err, listing, stimulus;
    cranetalk::AssemblyResult r;
};

LibOutputs runLib(const std::string& source, bool withStimulus) {
    std::istringstream in(source);
    std::ostringstream out, err;
    LibOutputs o;
    o.r = cranetalk::assembleSource(in, err);
    o.listing = listingOf(o.r);
    if (withStimulus) o.stimulus = stimulusOf(o.r);
    cranetalk::printImage(out, o.r);
    o.out = out.str();
    o.err = err.str() + std::to_string(o.r.programLength) + "\n";
    return o;
}

void expectSame(const std::string& src, bool withStimulus) {
    auto lib = runLib(src, withStimulus);
    auto ref = reference::run(src, withStimulus);
    ASSERT_EQ(lib.err, ref.err) << src;
    ASSERT_EQ(lib.out, ref.out) << src;
    ASSERT_EQ(lib.r.programLength, ref.length) << src;
    ASSERT_TRUE(std::equal(lib.r.image.begin(), lib.r.image.end(), ref.image.begin())) << src;
    ASSERT_EQ(lib.r.labels, ref.labels) << src;
    ASSERT_EQ(lib.listing, ref.listing) << src;
    if (withStimulus) {
        ASSERT_EQ(lib.stimulus, ref.stimulus) << src;
    }
}

}  // namespace

TEST(Differential, RandomTokenSources) {
    SourceGenerator gen(12345);
    for (int i = 0; i < 2000; ++i) {
        expectSame(gen.source(static_cast<int>(gen.pick(120))), i % 50 == 0);
        if (HasFatalFailure()) return;
    }
}

TEST(Differential, ManyRedefinitionsAndOverlappingCalls) {
    // Small address range so that calls, patches and direct writes collide.
    SourceGenerator gen(777);
    const char* names[] = {"p", "q", "r"};
    for (int i = 0; i < 1500; ++i) {
        std::string src;
        const int n = static_cast<int>(gen.pick(80));
        for (int t = 0; t < n; ++t) {
            switch (gen.pick(6)) {
                case 0: src += "ORG " + std::to_string(gen.pick(24)) + " "; break;
                case 1: src += std::string("CALL ") + names[gen.pick(3)] + " "; break;
                case 2: src += std::string(names[gen.pick(3)]) + ": "; break;
                case 3: src += "ORG " + std::to_string(8186 + gen.pick(10)) + " "; break;
                case 4: src += "O SF "; break;
                default: src += "NOR "; break;
            }
        }
        expectSame(src + "END", false);
        if (HasFatalFailure()) return;
    }
}

TEST(Fuzz, RandomBytesDoNotCrashAndMatchTheReference) {
    // Bounded in time: random binary sources, random mixes of keywords and
    // bytes, for about two seconds.
    SourceGenerator gen(4242);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    int runs = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        std::string src;
        switch (gen.pick(3)) {
            case 0: src = gen.binary(gen.pick(400)); break;
            case 1: src = gen.source(static_cast<int>(gen.pick(60))) + gen.binary(gen.pick(50)); break;
            default: {
                for (int k = 0; k < 40; ++k) src += gen.pick(2) ? gen.source(2) : gen.binary(gen.pick(8));
            }
        }
        expectSame(src, false);
        if (HasFatalFailure()) return;
        ++runs;
    }
    EXPECT_GT(runs, 100);
}
