// cranetalk's outputs read by the simulator's own readers: the initialiser
// list by readProgramImage and the stimulus file by readStimulusFile.
#include <gtest/gtest.h>

#include "files/memory_image.h"
#include "files/stimulus.h"
#include "test_support.h"
#include "universe/universe.h"

using namespace cranetalk_test;

TEST(Interop, MemoryFileReaderReadsTheInitialiserList) {
    SourceGenerator gen(2718);
    for (int i = 0; i < 200; ++i) {
        auto a = assemble(gen.source(static_cast<int>(gen.pick(200))));
        std::istringstream in(initialiserOf(a.r));
        const auto image = readProgramImage(in);
        expectSameImage(a.r, image);
        EXPECT_EQ(image, parseMemoryFile(initialiserOf(a.r)));
        if (HasFatalFailure()) return;
    }
    std::istringstream empty(initialiserOf(assemble("END").r));
    EXPECT_TRUE(readProgramImage(empty).empty());
}

#ifdef CRANETALK_BINARY
TEST(Interop, MemoryFileReaderReadsTheProgramsStandardOutput) {
    TempDir dir;
    const std::string src = "CALL sub O SF NOP sub: RETURN ORG 8000 GATHER MBK END";
    auto r = runProcess(CRANETALK_BINARY, {}, src, dir.path());
    ASSERT_EQ(r.exitStatus, 0);
    std::istringstream in(r.out);
    expectSameImage(assemble(src).r, readProgramImage(in));
}
#endif

TEST(Interop, StimulusReaderReadsTheStimulusFile) {
    // Every byte different, so that offsets and bit lines are all checked.
    auto a = assemble("ORG 8192 END");
    for (std::uint32_t i = 0; i < cranetalk::kImageSize; ++i)
        a.r.image[i] = static_cast<std::uint8_t>((i * 37u + i / 256u) % 64u);
    std::istringstream in(stimulusOf(a.r));
    Universe universe;
    auto stimulus = readStimulusFile(in, nullptr, universe);
    ASSERT_NE(stimulus, nullptr);
    ASSERT_EQ(stimulus->channels.size(), 192u);
    for (std::uint32_t d = 0; d < 32; ++d) {
        for (std::uint32_t j = 0; j < 6; ++j) {
            const StimulusChannel& ch = *stimulus->channels[6 * d + j];
            EXPECT_EQ(ch.loop, 1);
            ASSERT_EQ(ch.bitEvents.size(), 256u);
            EXPECT_TRUE(ch.partEvents.empty());
            const std::uint32_t start = (6 * d + j + 230) % 256;
            for (std::uint32_t k = 0; k < 256; ++k) {
                EXPECT_EQ(ch.bitEvents[k].time, k + 1);  // "t=0" then delays of 1
                const int bit = (a.r.image[256 * d + (start + k) % 256] >> j) & 1;
                ASSERT_EQ(ch.bitEvents[k].on, bit ? 0 : 1) << d << " " << j << " " << k;  // inverted
            }
        }
    }
}
