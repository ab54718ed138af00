// The memory-bank demo end to end, through the real programs: cranetalk
// assembles a program; the bank receives it once through its stimulus file
// (the slow way, generation by generation) and once through the memory
// writer (at once); the ring outputs of both must agree.
//
// Which memory-writer offset K matches G generations of stimulus:
//
//  * A block's bit events have the times 1..256 after "t=0". Generation g
//    applies its channel with clock g, so generation 0 and generation 1 both
//    apply event 0, and from then on generation g applies event (g - 1) mod
//    256 (after the last event the loop restarts it, the clock runs on).
//  * An "on" event drives the position-0 gate from the cell above it in the
//    same generation, so that gate's output, committed at the end of
//    generation g, holds bit v = 0; an "off" event lets the gate pass the bit
//    coming round the ring. The bit then moves one position per generation:
//    after G generations, position p holds what position 0 took in
//    generation G - 1 - p, that is event k = (G - 2 - p) mod 256.
//  * Event k of the block for page d, bit line j carries bit j of page byte
//    (s + k) mod 256 with the running offset s = -26 + 6d + j ("on" for a
//    clear bit, which is the 0 the gate writes). So position p holds bit j of
//    byte (G - 28 + 6d + j - p) mod 256.
//  * The memory writer at offset K puts bit j of byte (K + 6d + j - p) mod
//    256 of page d at position p.
//
// Hence K = (G - 28) mod 256, whatever the page and bit line.
//
// Two cases where the paths cannot agree:
//
//  * The stimulus can only clear bits (the gate ANDs the ring with the
//    inverted event), and generation 0 applies event 0 where the loop would
//    have applied event 255. That slot is ANDed with both events for good,
//    so after G >= 257 generations ring (d, j) holds bit(event 0) AND
//    bit(event 255) at position (G - 1) mod 256, while the memory writer
//    holds bit(event 255) there. They differ when bit j of page byte
//    (229 + 6d + j) mod 256 is set and bit j of the next byte is clear.
//  * The stimulus file covers all 32 pages (bytes past the program are 0,
//    so it clears those rings), but the memory writer writes only the pages
//    the image reaches and leaves the other modules as they were: the
//    all-ones state. The image must reach into the last page.
//
// The demo program avoids both: page 0 ends before byte 229, the code after
// ORG 4096 (page 16) before byte 69, and a short routine at ORG 7936 puts
// the program length into page 31 (before byte 159). The last test shows
// both exceptions.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "tools/membank_project.h"
#include "tools/workloads.h"

namespace fs = std::filesystem;

namespace {

const fs::path kWork = E2E_WORK_DIR;
const fs::path kProject = kWork / "membank";
const fs::path kExamples = MEMBANK_SOURCE_DIR;

std::string quoted(const fs::path& p) {
    std::string q(1, '\'');
    q.append(p.string()).push_back('\'');
    return q;
}

// Runs a shell command line; returns its exit status.
int run(const std::string& cmd) {
    const int rc = std::system(cmd.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

std::string readText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The initialiser list as words: everything after "{", one value per comma.
std::vector<int> readImage(const fs::path& p) {
    const std::string text = readText(p);
    std::vector<int> image;
    size_t at = text.find('{');
    if (at == std::string::npos) return image;
    ++at;
    for (size_t comma; (comma = text.find(',', at)) != std::string::npos; at = comma + 1)
        image.push_back(std::atoi(text.substr(at, comma - at).c_str()));
    return image;
}

struct Part {
    int type = 0;
    unsigned outputs = 0;
};
using Key = std::tuple<int, int, int>;

// A saved grid: plain boxes of 15-number cell entries.
std::map<Key, Part> readSavedGrid(const fs::path& p) {
    std::ifstream in(p);
    std::map<Key, Part> cells;
    long x0, y0, z0, nx, ny, nz;
    while (in >> x0 >> y0 >> z0 >> nx >> ny >> nz) {
        for (long iy = 0; iy < ny; ++iy)
            for (long iz = 0; iz < nz; ++iz)
                for (long ix = 0; ix < nx; ++ix) {
                    int v[15];
                    for (int& k : v) in >> k;
                    if (!in) return cells;
                    if (v[0] == 0) continue;
                    Part part{v[0], 0};
                    for (int d = 0; d < 6; ++d)
                        if (v[3 + d]) part.outputs |= 1u << d;
                    cells[Key(int(x0 + ix), int(y0 + iy), int(z0 + iz))] = part;
                }
    }
    return cells;
}

// The ring parts' raw outputs, module by module, bit line by bit line,
// position by position.
std::vector<unsigned> ringOutputs(const std::map<Key, Part>& cells) {
    std::vector<unsigned> out;
    for (int d = 0; d < membank::kModules; ++d)
        for (int b = 0; b < membank::kBitLines; ++b)
            for (int p = 0; p < membank::kRing; ++p) {
                const membank::Position at = membank::ringPartPosition(d, b, p);
                auto it = cells.find(Key(at.x, at.y, at.z));
                out.push_back(it == cells.end() ? 0xFFu : it->second.outputs);
            }
    return out;
}
size_t ringIndex(int d, int b, int p) { return (size_t(d) * membank::kBitLines + b) * membank::kRing + p; }

// The circulating bit a ring part's raw outputs stand for.
bool bitOf(unsigned outputs, int p) {
    const bool raw = outputs != 0;
    return p < 7 ? raw : !raw;
}

unsigned wordBit(const std::vector<int>& image, int page, int index, int bit) {
    const size_t w = size_t(page) * 256 + size_t(((index % 256) + 256) % 256);
    return w < image.size() ? (unsigned(image[w]) >> bit) & 1u : 0u;
}

// The agreement condition above: the image reaches the last page, and no
// bit j of byte 229 + 6d + j is set while that of the next byte is clear.
bool mustAgree(const std::vector<int>& image) {
    if (image.size() <= size_t(membank::kModules - 1) * 256) return false;
    for (int d = 0; d < membank::kModules; ++d)
        for (int j = 0; j < membank::kBitLines; ++j)
            if (wordBit(image, d, 229 + 6 * d + j, j) && !wordBit(image, d, 230 + 6 * d + j, j)) return false;
    return true;
}

class MembankEndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        fs::remove_all(kProject);
        fs::create_directories(kProject);
        ASSERT_EQ(run(std::string(CELLFORGE_MEMBANK) + " " + quoted(kProject)), 0);
        assemble(kExamples / "membank.ct", kProject);
    }

    // cranetalk LISTING STIMULUS < SOURCE > MEMORY, in the project folder.
    static void assemble(const fs::path& source, const fs::path& dir) {
        ASSERT_EQ(run("cd " + quoted(dir) + " && " + CRANETALK + " membank.lst membank.sti < " + quoted(source) +
                      " > membank.mem 2> cranetalk.err"),
                  0);
    }

    // Path (a): the project with its stimulus for G generations.
    static std::vector<unsigned> viaStimulus(const fs::path& dir, uint32_t G) {
        const fs::path saved = dir / ("stimulus-" + std::to_string(G) + ".grd");
        EXPECT_EQ(run(std::string(CELLFORGE_RUN) + " " + quoted(dir / "membank.prj") + " -n " + std::to_string(G) +
                      " --no-progress --save " + quoted(saved) + " 2> " + quoted(dir / "run.err")),
                  0);
        EXPECT_EQ(readText(dir / "run.err"), "");
        return ringOutputs(readSavedGrid(saved));
    }

    // Path (b): the same grid, the memory writer at offset K, no generation.
    static std::vector<unsigned> viaMemoryWriter(const fs::path& dir, uint32_t K) {
        const fs::path saved = dir / ("memory-" + std::to_string(K) + ".grd");
        EXPECT_EQ(run(std::string(CELLFORGE_RUN) + " " + quoted(dir / "membank.grd") + " --memory " +
                      quoted(dir / "membank.mem") + " --offset " + std::to_string(K) + " --no-progress --save " +
                      quoted(saved) + " 2> " + quoted(dir / "run.err")),
                  0);
        EXPECT_EQ(readText(dir / "run.err"), "");
        return ringOutputs(readSavedGrid(saved));
    }

    static uint32_t offsetFor(uint32_t G) { return (G + 256 - 28) % 256; }
};

TEST_F(MembankEndToEnd, CommittedProjectFilesMatchTheGenerators) {
    for (const char* name : {"membank.grd", "membank.trm", "membank.mon", "membank.uvw", "membank.prj",
                             "membank.sti", "membank.lst", "membank.mem"}) {
        ASSERT_TRUE(fs::exists(kExamples / name)) << name;
        EXPECT_TRUE(readText(kExamples / name) == readText(kProject / name))
            << "examples/membank/" << name << " differs from what the build writes; regenerate it";
    }
    EXPECT_EQ(readText(kProject / "cranetalk.err"), std::to_string(readImage(kProject / "membank.mem").size()) + "\n")
        << "the demo program assembles with messages";
}

TEST_F(MembankEndToEnd, DemoProgramIsOneForWhichThePathsMustAgree) {
    const std::vector<int> image = readImage(kProject / "membank.mem");
    ASSERT_GT(image.size(), 7936u) << "the demo program places code on the last page";
    EXPECT_TRUE(mustAgree(image));
}

TEST_F(MembankEndToEnd, StimulusAndMemoryWriterAgreeOnEveryRingPart) {
    const std::vector<int> image = readImage(kProject / "membank.mem");
    for (uint32_t G : {257u, 300u, 512u, 1000u}) {
        SCOPED_TRACE("G = " + std::to_string(G));
        const std::vector<unsigned> a = viaStimulus(kProject, G);
        const std::vector<unsigned> b = viaMemoryWriter(kProject, offsetFor(G));
        ASSERT_EQ(a.size(), b.size());
        size_t differing = 0, cleared = 0;
        for (int d = 0; d < membank::kModules; ++d)
            for (int j = 0; j < membank::kBitLines; ++j)
                for (int p = 0; p < membank::kRing; ++p) {
                    const size_t i = ringIndex(d, j, p);
                    ASSERT_NE(a[i], 0xFFu) << "ring part missing after the run";
                    if (a[i] != b[i] && ++differing <= 5)
                        ADD_FAILURE() << "module " << membank::moduleName(d) << " bit line " << j << " position " << p
                                      << ": stimulus " << a[i] << ", memory writer " << b[i];
                    // Independent of both programs: the byte the derivation
                    // puts there.
                    const unsigned want = wordBit(image, d, int(G) - 28 + 6 * d + j - p, j);
                    EXPECT_EQ(bitOf(a[i], p), want != 0) << "module " << d << " bit " << j << " position " << p;
                    if (!bitOf(a[i], p)) ++cleared;
                }
        EXPECT_EQ(differing, 0u);
        // The program must have gone in: a bank of set bits would agree too.
        EXPECT_GT(cleared, 40000u);
    }
}

// The comparison is sharp: one position off, the parts that differ are
// exactly those whose bit differs from its neighbour's along the loop.
TEST_F(MembankEndToEnd, NeighbouringOffsetsDisagree) {
    const std::vector<int> image = readImage(kProject / "membank.mem");
    const uint32_t G = 300;
    const std::vector<unsigned> a = viaStimulus(kProject, G);
    for (int shift : {1, -1}) {
        const uint32_t K = offsetFor(G) + shift;
        const std::vector<unsigned> b = viaMemoryWriter(kProject, K);
        size_t differing = 0, want = 0;
        for (int d = 0; d < membank::kModules; ++d)
            for (int j = 0; j < membank::kBitLines; ++j)
                for (int p = 0; p < membank::kRing; ++p) {
                    const int k = int(K) + 6 * d + j - p;
                    want += wordBit(image, d, k, j) != wordBit(image, d, k - shift, j);
                    differing += a[ringIndex(d, j, p)] != b[ringIndex(d, j, p)];
                }
        EXPECT_GT(want, 100u);
        EXPECT_EQ(differing, want) << "offset " << K;
    }
}

// One monitor line per generation (the clock terminal triggers every time);
// each tap shows the raw output of its ring part, predicted here from the
// stimulus rules alone: the bit position 0 takes in generation w is the
// event applied then ANDed with what came round the ring.
TEST_F(MembankEndToEnd, MonitorRecordsTheBitStreamAtTheTaps) {
    const std::vector<int> image = readImage(kProject / "membank.mem");
    const uint32_t G = 600;
    viaStimulus(kProject, G);
    std::ifstream in(kProject / membank::kMonitorOutput);
    ASSERT_TRUE(in) << "no monitor output in the project's folder";
    const auto& taps = membank::taps();
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), G);
    for (size_t t = 0; t < taps.size(); ++t) {
        const membank::Tap& tap = taps[t];
        const int s = -26 + 6 * tap.module + tap.bitLine;
        std::vector<bool> taken;  // bit position 0 of this ring holds after generation w
        auto eventBit = [&](uint32_t w) {
            const int event = w == 0 ? 0 : int((w - 1) % 256);
            return wordBit(image, tap.module, s + event, tap.bitLine) != 0;
        };
        std::string want, got;
        for (uint32_t g = 0; g < G; ++g) {
            taken.push_back(eventBit(g) && (g < 256 ? true : taken[g - 256]));
            const int w = int(g) - tap.position;  // generation in which this bit passed position 0
            const bool v = w < 0 ? true : taken[size_t(w)];
            want += (tap.position < 7 ? v : !v) ? '1' : '0';
            const std::string& line = lines[g];
            ASSERT_EQ(line.size(), 7 + taps.size()) << line;
            ASSERT_EQ(line.substr(0, 7), "taps 1 ") << line;
            got += line[7 + t];
        }
        EXPECT_EQ(got, want) << tap.name;
        EXPECT_NE(want.find('0'), std::string::npos);
        EXPECT_NE(want.find('1'), std::string::npos);
    }
}

// A program that breaks both conditions: bit 0 of byte 229 set (FUS is
// code 3) and of byte 230 clear, and an image of one page. Ring (a, 0)
// differs at the one slot generation 0 wrote, where the stimulus kept
// bit(event 0) AND bit(event 255) = 0 and the memory writer holds 1; the
// other rings of module a agree; every ring of the other modules holds 0s
// from the stimulus and the untouched 1s of the grid from the memory writer.
TEST_F(MembankEndToEnd, ExceptionsAreExactlyThePredictedOnes) {
    const fs::path dir = kWork / "membank-exception";
    fs::remove_all(dir);
    fs::create_directories(dir);
    ASSERT_EQ(run(std::string(CELLFORGE_MEMBANK) + " " + quoted(dir)), 0);
    {
        std::ofstream src(dir / "exception.ct");
        src << "ORG 229\nFUS\nEND\n";
    }
    assemble(dir / "exception.ct", dir);
    ASSERT_EQ(readImage(dir / "membank.mem").size(), 230u);
    for (uint32_t G : {257u, 300u}) {
        SCOPED_TRACE("G = " + std::to_string(G));
        const std::vector<unsigned> a = viaStimulus(dir, G);
        const std::vector<unsigned> b = viaMemoryWriter(dir, offsetFor(G));
        const int slot = int((G - 1) % 256);
        size_t unexpected = 0;
        for (int d = 0; d < membank::kModules; ++d)
            for (int j = 0; j < membank::kBitLines; ++j)
                for (int p = 0; p < membank::kRing; ++p) {
                    const size_t i = ringIndex(d, j, p);
                    bool ok;
                    if (d > 0)
                        ok = !bitOf(a[i], p) && bitOf(b[i], p);
                    else if (j == 0 && p == slot)
                        ok = !bitOf(a[i], p) && bitOf(b[i], p);
                    else
                        ok = a[i] == b[i];
                    if (!ok && ++unexpected <= 5)
                        ADD_FAILURE() << "module " << d << " bit " << j << " position " << p << ": stimulus " << a[i]
                                      << ", memory writer " << b[i];
                }
        EXPECT_EQ(unexpected, 0u);
    }
}

}  // namespace
