// Terminals added from code, and a document written back as a project: the
// project reopens as the same parts and the same terminals.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "files/terminals.h"
#include "session/session.h"
#include "view/navigation.h"

#include <cmath>

namespace fs = std::filesystem;

namespace {

struct Folder {
    fs::path dir = fs::temp_directory_path() / ("cellforge-project-" + std::to_string(::getpid()));
    Folder() { fs::create_directories(dir); }
    ~Folder() { fs::remove_all(dir); }
};

std::string gridText(Session& s, const fs::path& where) {
    EXPECT_TRUE(s.document().saveGrid(where.string()));
    std::ifstream in(where);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string terminalsText(Session& s) {
    std::ostringstream out;
    s.document().withUniverse([&](Universe&) { writeTerminalFile(s.document().terminals(), out); });
    return out.str();
}

}  // namespace

TEST(Project, TerminalsAddedFromCodeAreCheckedAndKeptByName) {
    Session s;
    std::string error;
    EXPECT_EQ(s.document().terminals(), nullptr);
    EXPECT_TRUE(s.addTerminal(Terminal{"in", 1, 2, 3, 0, 4}, error)) << error;
    ASSERT_NE(s.document().terminals(), nullptr);
    EXPECT_FALSE(s.addTerminal(Terminal{"in", 0, 0, 0, 0, 1}, error));
    EXPECT_NE(error.find("already"), std::string::npos);
    EXPECT_FALSE(s.addTerminal(Terminal{"two words", 0, 0, 0, 0, 1}, error));
    EXPECT_FALSE(s.addTerminal(Terminal{"", 0, 0, 0, 0, 1}, error));
    EXPECT_FALSE(s.addTerminal(Terminal{"d", 0, 0, 0, 0, 6}, error));
    for (const char* word : {"object", "a.object", "a.", ".a"}) EXPECT_FALSE(s.addTerminal(Terminal{word, 0, 0, 0, 0, 1}, error)) << word;
    EXPECT_EQ(s.document().terminals()->size(), 1u);
    const Terminal* t = findTerminal(s.document().terminals(), "in");
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->x * 100 + t->y * 10 + t->z, 123);
    EXPECT_EQ(t->direction, 4);
}

TEST(Project, SavedProjectsReopenAsTheSameUniverseAndTerminals) {
    Folder f;
    // A project with every kind of file, run a while, with a terminal added;
    // and a grid document with terminals from code only.
    const std::string membank = std::string(CELLFORGE_SOURCE) + "/examples/membank/membank.prj";
    OpenProblem problem;
    SessionOptions o;
    o.holdMonitorOutput = true;
    auto project = Session::open(membank, o, problem);
    ASSERT_NE(project, nullptr) << problem.message();
    project->run(40);
    std::string error;
    ASSERT_TRUE(project->addTerminal(Terminal{"probe", 3, 4, 5, 0, 2}, error)) << error;
    Session fresh;
    UniverseCell c;
    c.partType = 1;
    fresh.placeParts({c});
    // Names with and without dots: both read back as they were.
    ASSERT_TRUE(fresh.addTerminal(Terminal{"a", 0, 0, 0, 0, 1}, error)) << error;
    ASSERT_TRUE(fresh.addTerminal(Terminal{"in.b", 1, 0, 0, 0, 2}, error)) << error;

    int n = 0;
    for (Session* s : {project.get(), &fresh}) {
        const fs::path sub = f.dir / std::to_string(n++);
        fs::create_directories(sub);
        const std::string prj = (sub / "saved.prj").string();
        ASSERT_TRUE(s->saveProject(prj, error)) << error;
        auto again = Session::open(prj, o, problem);
        ASSERT_NE(again, nullptr) << problem.message();
        EXPECT_EQ(gridText(*again, sub / "a.grd"), gridText(*s, sub / "b.grd"));
        EXPECT_EQ(terminalsText(*again), terminalsText(*s));
        EXPECT_EQ(bool(again->document().stimulus()), bool(s->document().stimulus()));
        EXPECT_EQ(bool(again->document().monitor()), bool(s->document().monitor()));
        // Saving over itself keeps what it copies.
        ASSERT_TRUE(again->saveProject(prj, error)) << error;
        auto third = Session::open(prj, o, problem);
        ASSERT_NE(third, nullptr) << problem.message();
        EXPECT_EQ(terminalsText(*third), terminalsText(*s));
    }
    EXPECT_FALSE(fresh.saveProject((f.dir / "x.grd").string(), error));
}

// Fit All for scripts: every part's centre lies inside the picture the
// camera gives, for machines of any shape and place.
TEST(FitCamera, EveryPartLandsInsideTheView) {
    Session empty;
    EXPECT_FALSE(empty.fitCamera(640, 480).has_value());
    uint64_t seed = 7;
    auto next = [&](int lo, int hi) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        return lo + int((seed >> 33) % uint64_t(hi - lo + 1));
    };
    for (int round = 0; round < 20; ++round) {
        Session s;
        std::vector<UniverseCell> cells;
        const int cx = next(-5000, 5000), cy = next(-5000, 5000), cz = next(-5000, 5000);
        const int spread = next(0, 60);
        for (int i = next(1, 40); i > 0; --i) {
            UniverseCell c;
            c.x = cx + next(-spread, spread);
            c.y = cy + next(-spread / 3, spread / 3);
            c.z = cz + next(-spread, spread);
            c.partType = 1;
            cells.push_back(c);
        }
        s.placeParts(cells);
        const int w = next(100, 800), h = next(100, 800);
        const std::optional<Camera> cam = s.fitCamera(w, h);
        ASSERT_TRUE(cam.has_value());
        const std::array<double, 16> m = cameraViewMatrix(*cam);
        const double t = std::tan(degreesToRadians(kFieldOfViewDegrees) / 2);
        for (const UniverseCell& c : cells) {
            const double p[3] = {double(c.x), double(c.y), double(c.z)};
            double e[3];
            for (int r = 0; r < 3; ++r) e[r] = m[size_t(r)] * p[0] + m[size_t(4 + r)] * p[1] + m[size_t(8 + r)] * p[2] + m[size_t(12 + r)];
            ASSERT_LT(e[2], -kNearPlane) << round;
            ASSERT_GT(e[2], -kFarPlane) << round;
            EXPECT_LE(std::fabs(e[0] / -e[2]), t * w / h + 1e-6) << round;
            EXPECT_LE(std::fabs(e[1] / -e[2]), t + 1e-6) << round;
        }
    }
}
