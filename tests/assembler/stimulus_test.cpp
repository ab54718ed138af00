// The stimulus file.
#include <gtest/gtest.h>

#include "test_support.h"

using namespace cranetalk_test;

namespace {

constexpr int kBlockLines = 261;

// An image where every byte differs from its neighbours.
cranetalk::AssemblyResult patternImage() {
    cranetalk::AssemblyResult r;
    for (std::uint32_t a = 0; a < cranetalk::kImageSize; ++a)
        r.image[a] = static_cast<std::uint8_t>((a * 37u + a / 256u) % 64u);
    return r;
}

// Reads back a block's value lines into the bytes' bit j, as the stimulus
// reader sees them: "0" is off (bit set), "1" is on (bit clear).
int bitOfValueLine(const std::string& line) {
    if (line == "  0 1") return 1;
    if (line == "  1 1") return 0;
    return -1;
}

}  // namespace

TEST(Stimulus, ModuleAndTerminalNames) {
    EXPECT_EQ(cranetalk::moduleName(0), "a");
    EXPECT_EQ(cranetalk::moduleName(25), "z");
    EXPECT_EQ(cranetalk::moduleName(26), "ba");
    EXPECT_EQ(cranetalk::moduleName(31), "bf");
    EXPECT_EQ(cranetalk::terminalName(0, 0), "pc1.mc.mad.mem.memory-module-a.m.i0");
    EXPECT_EQ(cranetalk::terminalName(31, 5), "pc1.mc.mad.mem.memory-module-bf.m.i5");
}

TEST(Stimulus, BlockStructure) {
    auto lines = splitLines(stimulusOf(assemble("END").r));
    ASSERT_EQ(lines.size(), 192u * kBlockLines);
    int block = 0;
    for (int d = 0; d < 32; ++d) {
        for (int j = 0; j < 6; ++j, ++block) {
            const std::size_t base = static_cast<std::size_t>(block) * kBlockLines;
            EXPECT_EQ(lines[base], cranetalk::terminalName(d, j));
            EXPECT_EQ(lines[base + 1], "{");
            EXPECT_EQ(lines[base + 2], "  t=0");
            for (int k = 0; k < 256; ++k) ASSERT_EQ(lines[base + 3 + k], "  1 1");  // empty image
            EXPECT_EQ(lines[base + 259], "  loop");
            EXPECT_EQ(lines[base + 260], "}");
        }
    }
    EXPECT_EQ(lines[0], "pc1.mc.mad.mem.memory-module-a.m.i0");
    EXPECT_EQ(lines[191 * kBlockLines], "pc1.mc.mad.mem.memory-module-bf.m.i5");
}

TEST(Stimulus, RunningOffsetStartsAtMinus26) {
    const auto r = patternImage();
    auto lines = splitLines(stimulusOf(r));
    ASSERT_EQ(lines.size(), 192u * kBlockLines);
    int block = 0;
    for (int d = 0; d < 32; ++d) {
        for (int j = 0; j < 6; ++j, ++block) {
            const int start = (6 * d + j + 230) % 256;
            for (int k = 0; k < 256; ++k) {
                const int byte = r.image[256 * d + (start + k) % 256];
                ASSERT_EQ(bitOfValueLine(lines[static_cast<std::size_t>(block) * kBlockLines + 3 + k]), (byte >> j) & 1)
                    << "d=" << d << " j=" << j << " k=" << k;
            }
        }
    }
}

TEST(Stimulus, FirstValueLinesOfSampleBytes) {
    // Mark single bytes with 63 and check which block's first line shows it.
    struct Case { int block; std::uint32_t byte; };
    const Case cases[] = {{0, 230}, {5, 235}, {6, 256 + 236}, {191, 31 * 256 + 165}};
    for (const Case& c : cases) {
        cranetalk::AssemblyResult r;
        r.image[c.byte] = 63;
        auto lines = splitLines(stimulusOf(r));
        EXPECT_EQ(lines[static_cast<std::size_t>(c.block) * kBlockLines + 3], "  0 1") << c.byte;
        // Every other value line of that block reads "  1 1".
        for (int k = 1; k < 256; ++k)
            ASSERT_EQ(lines[static_cast<std::size_t>(c.block) * kBlockLines + 3 + k], "  1 1");
    }
}

TEST(Stimulus, Byte63SetsAllSixLinesAndTheLengthPlaysNoPart) {
    auto a = assemble("ORG 1000 O SF ORG 0 END");  // length 1001, but write a byte outside the listed part
    a.r.programLength = 0;
    auto lines = splitLines(stimulusOf(a.r));
    const int d = 1000 / 256, offset = 1000 % 256;
    int count = 0;
    for (int j = 0; j < 6; ++j) {
        const int block = 6 * d + j;
        const int k = ((offset - (6 * d + j + 230)) % 256 + 256) % 256;
        EXPECT_EQ(lines[static_cast<std::size_t>(block) * kBlockLines + 3 + k], "  0 1");
    }
    for (const auto& l : lines) count += l == "  0 1";
    EXPECT_EQ(count, 6);
}

TEST(Stimulus, FileVersionAndUnopenableFile) {
    TempDir dir;
    const auto path = dir / "prog.sti";
    writeFile(path, std::string(1000000, 'x'));
    cranetalk::writeStimulus(path.string(), assemble("NOP END").r);
    EXPECT_EQ(readFile(path), stimulusOf(assemble("NOP END").r));
    cranetalk::writeStimulus((dir / "missing" / "x.sti").string(), assemble("NOP END").r);
    EXPECT_FALSE(fs::exists(dir / "missing"));
}
