// Bounded randomised input for every reader: structured fragments, random
// bytes and mutations of valid files. Each reader must return without crash
// or hang and keep its structures sane. Every input that ever broke a reader
// is kept as a fixture and replayed first.
#include <cstdlib>
#include <filesystem>
#include <random>
#include <sstream>

#include "files/memory_image.h"
#include "files/monitor.h"
#include "files/project.h"
#include "files/saved_views.h"
#include "files/stimulus.h"
#include "files/terminals.h"
#include "test_util.h"
#include "universe/universe.h"

namespace {

const char* kWords[] = {"object", "{", "}", "loop", "t=0", "t=-5", "b=3", "b=", "1", "0", "-1", "end", "END",
                        ":", "a", "a.b", "x.grd", "y.trm", "z.sti", "5", "99999999999", "2147483648", ",",
                        "\n", "\r\n", "{", "}", "pc1.mc.mad.mem.memory-module-a.m.i0", "t=99999999999"};

std::string randomInput(std::mt19937& rng) {
    std::string s;
    const int kind = int(rng() % 3);
    const size_t n = rng() % 400;
    if (kind == 0) {
        for (size_t i = 0; i < n; ++i) s += char(rng() % 256);
    } else {
        for (size_t i = 0; i < n; ++i) {
            s += kWords[rng() % (sizeof kWords / sizeof *kWords)];
            s += (rng() % 5 == 0) ? '\n' : ' ';
            if (rng() % 50 == 0) s += std::string(rng() % 3000, char('a' + rng() % 26));
        }
    }
    return s;
}

class AllReaders {
public:
    explicit AllReaders(const ScratchDir& dir) : dir_(dir) {}

    void run(const std::string& text) {
        std::istringstream t1(text);
        auto terms = readTerminalFile(t1);
        for (auto& t : terms->terminals) ASSERT_LE(t->name.size(), kMaxTerminalName);

        Universe u;
        std::istringstream t2(text);
        auto stim = readStimulusFile(t2, terms.get(), u);
        for (int g = 0; g < 3; ++g) applyStimulus(*stim, &u);
        advanceStimulus(*stim, 1000000);

        // The monitor's first word names its output: keep it inside the scratch folder.
        std::istringstream t3(dir_.file("mon.txt") + " " + text);
        auto mon = readMonitorFile(t3, terms.get());
        sampleMonitor(*mon, &u);

        std::istringstream t4(text);
        ProjectFiles f = readProjectLines(t4);
        (void)f;

        std::istringstream t5(text);
        auto image = readProgramImage(t5);
        ASSERT_LE(image.size(), kMaxImageWords);
        writeMemoryImage(u, 0, 0, 0, uint32_t(text.size()), image);

        writeText(dir_.file("v.uvw"), text);
        ViewList views = readViewFile(dir_.file("v.uvw"));
        for (auto& v : views.views) ASSERT_LE(v.description.size(), 255u);

        stim.reset();  // unbinds: no cell may keep a freed channel
        u.forEachBlock([](UniverseBlock* b) {
            for (int s = 0; s < 12; ++s) ASSERT_EQ(b->terminalBinding(s), nullptr);
        });
        ASSERT_EQ(u.verifyConsistency(), "");
    }

private:
    const ScratchDir& dir_;
};

}  // namespace

TEST(RandomInput, FixturesStillRead) {
    ScratchDir dir;
    AllReaders readers(dir);
    const std::filesystem::path fixtures = CELLFORGE_DRIVER_FIXTURES;
    size_t count = 0;
    for (const auto& e : std::filesystem::directory_iterator(fixtures)) {
        SCOPED_TRACE(e.path().string());
        readers.run(readText(e.path().string()));
        ++count;
    }
    EXPECT_GT(count, 0u);
}

TEST(RandomInput, EveryReaderSurvivesBoundedRandomInput) {
    ScratchDir dir;
    AllReaders readers(dir);
    // CI runs the default; a longer soak sets CELLFORGE_RANDOM_ROUNDS and CELLFORGE_RANDOM_SEED.
    const char* rounds = std::getenv("CELLFORGE_RANDOM_ROUNDS");
    const char* seed = std::getenv("CELLFORGE_RANDOM_SEED");
    const int n = rounds ? std::atoi(rounds) : 300;
    std::mt19937 rng(seed ? uint32_t(std::strtoul(seed, nullptr, 10)) : 20261207u);
    for (int i = 0; i < n; ++i) {
        const std::string text = randomInput(rng);
        SCOPED_TRACE("case " + std::to_string(i));
        readers.run(text);
        if (HasFatalFailure()) {
            writeText(dir.file("failing-input"), text);
            std::filesystem::copy_file(dir.file("failing-input"), "/tmp/cellforge-failing-input",
                                       std::filesystem::copy_options::overwrite_existing);
            return;
        }
    }
}
