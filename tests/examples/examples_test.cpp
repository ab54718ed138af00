#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "files/grid_file.h"
#include "tools/demo_scenes.h"
#include "universe/universe.h"

namespace {

struct Found {
    int x, y, z, type, front, side;
    uint8_t bonds;
};

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Loads a demo's grid text; counts conflict messages.
void load(Universe& u, const std::string& grid, int& conflicts) {
    conflicts = 0;
    u.onConflict = [&conflicts](const std::string&) { ++conflicts; };
    std::istringstream in(grid);
    const GridReadResult r = readGridFile(u, in);
    EXPECT_TRUE(r.complete);
}

std::vector<Found> parts(const Universe& u, int type) {
    std::vector<Found> out;
    u.forEachBlock([&](UniverseBlock* b) {
        for (int s = 0; s < 12; ++s)
            if (b->partType(s) == type)
                out.push_back({b->cellX(s), b->cellY(s), b->cellZ(s), type, b->front(s), b->side(s), b->cells[s].bonds});
    });
    return out;
}

std::vector<Found> drivesInLane(const Universe& u, int z) {
    std::vector<Found> out;
    for (const Found& f : parts(u, Drive))
        if (f.z == z) out.push_back(f);
    return out;
}

void run(Universe& u, int n) {
    for (int i = 0; i < n; ++i) u.stepGeneration();
}

TEST(Examples, CommittedFilesEqualTheGeneratorOutput) {
    for (const auto& [folder, files] : {std::pair{"cars", demos::carsDemo()}, std::pair{"showcase", demos::showcaseDemo()}})
        for (const auto& [name, text] : files)
            EXPECT_EQ(readFile(std::string(CELLFORGE_EXAMPLES_DIR) + "/" + folder + "/" + name), text)
                << folder << "/" << name << " is stale: run cellforge-demos write examples";
}

TEST(Examples, ProjectsNameTheirGridAndViewsRelatively) {
    EXPECT_EQ(demos::carsDemo().at("cars.prj"), "cars.grd\ncars.uvw\n");
    EXPECT_EQ(demos::showcaseDemo().at("showcase.prj"), "showcase.grd\nshowcase.uvw\n");
}

TEST(Examples, EachLoadsWithoutConflictsAndWithRegions) {
    for (const auto& files : {demos::carsDemo(), demos::showcaseDemo()}) {
        const std::string grid = files.begin()->first.ends_with(".grd") ? files.begin()->second : "";
        ASSERT_FALSE(grid.empty());
        Universe u;
        int conflicts = 0;
        load(u, grid, conflicts);
        EXPECT_EQ(conflicts, 0);
        EXPECT_GT(u.partCount(), 40u);
        EXPECT_GE(u.regionEntries().size(), 5u);
        run(u, 1000);
        EXPECT_EQ(u.generation, 1000u);
    }
}

TEST(Examples, ShowcaseHasAViewPerStationAndOnePerOverview) {
    const std::string views = demos::showcaseDemo().at("showcase.uvw");
    int lines = 0;
    for (char c : views) lines += c == '\n';
    EXPECT_EQ(lines, 11);
}

TEST(Cars, CruiseCarsTravelOneCellPerGeneration) {
    Universe u;
    int conflicts;
    load(u, demos::carsDemo().at("cars.grd"), conflicts);
    const auto before = drivesInLane(u, demos::cars::kCruiseLaneZ);
    run(u, 50);
    const auto after = drivesInLane(u, demos::cars::kCruiseLaneZ);
    ASSERT_EQ(before.size(), 3u);
    ASSERT_EQ(after.size(), 3u);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(after[i].x - before[i].x, 50) << i;
}

TEST(Cars, TheRotatorTurnsEveryPassingCarOntoMinusZ) {
    using namespace demos::cars;
    Universe u;
    int conflicts;
    load(u, demos::carsDemo().at("cars.grd"), conflicts);
    run(u, 60);
    int turned = 0;
    for (const Found& f : parts(u, Drive))
        if (f.x >= kTurnX && f.x <= kTurnX + 1 && f.z < kTurnLaneZ && f.side == 5) ++turned;
    EXPECT_EQ(turned, 2);
    EXPECT_TRUE(drivesInLane(u, kTurnLaneZ).empty());
}

TEST(Cars, TheClockedPusherHoldsTheCarForSeveralGenerations) {
    using namespace demos::cars;
    Universe u;
    int conflicts;
    load(u, demos::carsDemo().at("cars.grd"), conflicts);
    int atPusher = 0;
    for (int g = 0; g < 80; ++g) {
        run(u, 1);
        const auto d = drivesInLane(u, kHoldLaneZ);
        ASSERT_EQ(d.size(), 1u);
        atPusher += d[0].x == kHoldX;
    }
    EXPECT_GE(atPusher, 4);  // a free car spends one generation on each cell
    EXPECT_GT(drivesInLane(u, kHoldLaneZ)[0].x, kHoldX + 20);
}

TEST(Cars, TheTrailerIsPickedUpByABinderAndDroppedByACutter) {
    using namespace demos::cars;
    Universe u;
    int conflicts;
    load(u, demos::carsDemo().at("cars.grd"), conflicts);
    const size_t count = u.partCount();
    auto trailerXs = [&] {
        std::vector<int> xs;
        for (const Found& f : parts(u, Conductor))
            if (f.z == kTrailerLaneZ + 1 && f.y == kRoadY + 1) xs.push_back(f.x);
        return xs;
    };
    ASSERT_EQ(trailerXs(), (std::vector<int>{kBindX, kBindX + 1}));
    run(u, 25);
    auto mid = trailerXs();
    ASSERT_EQ(mid.size(), 2u);
    EXPECT_GT(mid[0], kBindX + 5);  // on its way with a car
    run(u, 200);
    const auto end = trailerXs();
    ASSERT_EQ(end.size(), 2u);
    EXPECT_EQ(end[0], kCutX);  // left at the cutter
    const auto cars = drivesInLane(u, kTrailerLaneZ);
    ASSERT_EQ(cars.size(), 2u);
    EXPECT_GT(cars[0].x, kCutX + 100);  // both cars went on without it
    EXPECT_EQ(u.partCount(), count);
}

TEST(Cars, TheHeadOnCarsStopWhereTheyMeet) {
    using namespace demos::cars;
    Universe u;
    int conflicts;
    load(u, demos::carsDemo().at("cars.grd"), conflicts);
    run(u, 100);
    const auto a = drivesInLane(u, kCrashLaneZ);
    run(u, 100);
    const auto b = drivesInLane(u, kCrashLaneZ);
    ASSERT_EQ(a.size(), 2u);
    ASSERT_EQ(b.size(), 2u);
    EXPECT_EQ(a[0].x, b[0].x);
    EXPECT_EQ(a[1].x, b[1].x);
    EXPECT_EQ(a[1].x - a[0].x, 1);
}

TEST(Cars, MemoryStaysBoundedOverALongRun) {
    Universe u;
    int conflicts;
    load(u, demos::carsDemo().at("cars.grd"), conflicts);
    const size_t parts0 = u.partCount();
    std::vector<size_t> afterCleanUp;
    size_t peak = 0;
    for (int round = 0; round < 4; ++round) {
        for (uint32_t i = 0; i < Universe::kCleanUpPeriod; ++i) {
            u.stepGeneration();
            peak = std::max(peak, u.blockCount());
        }
        afterCleanUp.push_back(u.blockCount());
    }
    EXPECT_EQ(u.partCount(), parts0);
    // Between clean-ups the road behind the cars fills with empty blocks; each
    // clean-up removes them, so every clean-up comes back to the same level.
    for (size_t b : afterCleanUp) {
        EXPECT_LT(b, peak / 10);
        EXPECT_LE(b, afterCleanUp[0] + 8);
    }
}

TEST(Showcase, KPulseDrivesEveryActuatorStationOnce) {
    using demos::showcase::stationX;
    for (bool pulse : {false, true}) {
        Universe u;
        int conflicts;
        load(u, demos::showcaseDemo().at("showcase.grd"), conflicts);
        run(u, 5);
        if (pulse) u.inputPulse = 1;
        run(u, 15);
        auto at = [&](int type, int x, int z) -> const Found* {
            static std::vector<Found> keep;
            keep = parts(u, type);
            for (const Found& f : keep)
                if (f.x == x && f.y == 0 && f.z == z) return &f;
            return nullptr;
        };
        // Pusher: the row of three moved from z 5..7 to z 6..8.
        EXPECT_EQ(at(Conductor, stationX(3), 5) == nullptr, pulse);
        EXPECT_EQ(at(Conductor, stationX(3), 8) != nullptr, pulse);
        // Shifter: the part moved one step along +x.
        EXPECT_EQ(at(Conductor, stationX(4) + 1, 5) != nullptr, pulse);
        // Rotator: the Pusher in front turned from +y (0) to -x (3).
        const Found* r = at(Pusher, stationX(5), 5);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->front, pulse ? 3 : 0);
        // Binder: bonded along +x; Cutter: the bond is gone.
        const Found* bnd = at(Conductor, stationX(6), 5);
        ASSERT_NE(bnd, nullptr);
        EXPECT_EQ((bnd->bonds >> 1) & 1, pulse ? 1 : 0);
        const Found* cut = at(Conductor, stationX(7), 5);
        ASSERT_NE(cut, nullptr);
        EXPECT_EQ((cut->bonds >> 1) & 1, pulse ? 0 : 1);
    }
}

TEST(Showcase, ThePulseRunsDownThePulseInputLine) {
    using demos::showcase::stationX;
    Universe u;
    int conflicts;
    load(u, demos::showcaseDemo().at("showcase.grd"), conflicts);
    run(u, 5);
    u.inputPulse = 1;
    std::vector<int> lit;  // z of the lit conductor of the line after each generation
    for (int g = 0; g < 8; ++g) {
        run(u, 1);
        int z = -1;
        for (int c = 4; c <= 9; ++c)
            if (u.testOutput(stationX(8), 0, c, 4)) z = c;
        lit.push_back(z);
    }
    // One cell per generation down the line, then gone.
    EXPECT_EQ(lit, (std::vector<int>{-1, -1, 4, 5, 6, 7, 8, 9}));
}

}  // namespace
