// Grid files: the three box forms, regions, the up rule, the written form,
// and what a malformed file may and may not do.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "files/grid_file.h"
#include "universe/universe.h"

namespace {

std::string entry(int type, int front, int side, int outBits = 0, int bondBits = 0) {
    std::ostringstream s;
    s << type << ' ' << front << ' ' << side;
    for (int d = 0; d < 6; ++d) s << ' ' << ((outBits >> d) & 1);
    for (int d = 0; d < 6; ++d) s << ' ' << ((bondBits >> d) & 1 ? (1 << d) : 0);
    return s.str() + "\n";
}

GridReadResult load(Universe& u, const std::string& text) {
    std::istringstream in(text);
    return readGridFile(u, in);
}

std::string save(const Universe& u) {
    std::ostringstream out;
    u.writeBlocks(out);
    return out.str();
}

UniverseCell at(Universe& u, int x, int y, int z) {
    UniverseBlock* b = u.findBlock(x, y, z);
    return b ? b->cell(Universe::slotOf(x, y, z)) : UniverseCell{};
}

}  // namespace

TEST(GridFile, UpRule) {
    EXPECT_EQ(deriveUp(0, 1), 4);
    EXPECT_EQ(deriveUp(1, 0), 5);
    EXPECT_EQ(deriveUp(4, 0), 1);
    EXPECT_EQ(deriveUp(5, 1), 0);
    // For every perpendicular pair the rule gives side x front.
    for (int f = 0; f < 6; ++f)
        for (int s = 0; s < 6; ++s) {
            if (s == f || s == directionTable.opposite[f]) continue;
            const int u = deriveUp(f, s);
            const int cx = directionTable.dy[s] * directionTable.dz[f] - directionTable.dz[s] * directionTable.dy[f];
            const int cy = directionTable.dz[s] * directionTable.dx[f] - directionTable.dx[s] * directionTable.dz[f];
            const int cz = directionTable.dx[s] * directionTable.dy[f] - directionTable.dy[s] * directionTable.dx[f];
            EXPECT_EQ(directionTable.dx[u], cx) << f << s;
            EXPECT_EQ(directionTable.dy[u], cy) << f << s;
            EXPECT_EQ(directionTable.dz[u], cz) << f << s;
        }
}

TEST(GridFile, BoxFormsAgreeAndEntryOrderIsYThenZThenX) {
    std::string cells;
    for (int k = 0; k < 12; ++k) cells += entry(k % 3 == 2 ? 0 : 20 + k, 0, 1, k);
    Universe plain, keyed, reused;
    load(plain, "4 6 3 2 2 3\n" + cells);
    load(keyed, "record region 4 6 3 2 2 3\n" + cells);
    // "record" followed by anything else reuses the previous box's x0.
    load(reused, "4 0 0 1 1 1 " + entry(0, 0, 1) + "record again 6 3 2 2 3\n" + cells);
    EXPECT_EQ(save(plain), save(keyed));
    EXPECT_EQ(save(plain), save(reused));
    // k-th entry: x0 + k mod nx, y0 + k div (nx nz), z0 + (k div nx) mod nz.
    for (int k = 0; k < 12; ++k) {
        if (k % 3 == 2) continue;
        UniverseCell c = at(plain, 4 + k % 2, 6 + k / 6, 3 + (k / 2) % 3);
        EXPECT_EQ(c.partType, 20 + k);
        EXPECT_EQ(c.outputs, k);
    }
    EXPECT_EQ(plain.partCount(), 8u);
}

TEST(GridFile, SavedBlockReloadsIdentically) {
    std::string cells;
    for (int k = 0; k < 12; ++k) cells += entry(30 + k, k % 6, (k + 1) % 6, (k * 7) % 64, 0);
    Universe u;
    load(u, "0 0 0 2 2 3\n" + cells);
    std::string first = save(u);
    EXPECT_EQ(first.substr(0, 14), "0 0 0\n2 2 3 \n3");
    Universe v;
    load(v, first);
    EXPECT_EQ(save(v), first);
}

TEST(GridFile, ValuesAndBonds) {
    Universe u;
    // Any non-zero bond value counts; one-sided bonds are cleared after the load.
    load(u,
         "0 0 0 1 2 1\n"
         "30 0 1 0 0 0 0 0 0  7 0 0 0 0 0\n"  // bond +y (value 7)
         "31 0 1 0 0 0 0 0 0  0 0 2 0 0 0\n"  // bond -y (value 2)
         "5 0 0 1 1 1\n"
         "32 0 1 0 0 0 0 0 0  0 0 0 0 0 32\n"  // bond -z to nothing
         "9 9 9 1 1 1\n"
         "0 0 1 1 1 1 1 1 1  1 1 1 1 1 1\n");  // type 0: nothing, whatever follows
    EXPECT_EQ(at(u, 0, 0, 0).bonds, 1);
    EXPECT_EQ(at(u, 0, 1, 0).bonds, 4);
    EXPECT_EQ(at(u, 5, 0, 0).bonds, 0);
    EXPECT_EQ(u.findBlock(9, 9, 9), nullptr);
    std::string text = save(u);
    EXPECT_NE(text.find("\n1\n0\n0\n0\n0\n0\n"), std::string::npos);  // bond +y written as 1
    EXPECT_NE(text.find("\n0\n0\n4\n0\n0\n0\n"), std::string::npos);  // bond -y written as 4
}

TEST(GridFile, RegionsNestAndFollowCells) {
    Universe u;
    std::vector<std::string> messages;
    u.onConflict = [&](const std::string& m) { messages.push_back(m); };
    load(u,
         "record identifier a record identifier b record identifier c\n"
         "0 0 0 1 1 1 " + entry(30, 0, 1) +
             "record up record identifier d\n"
             "1 0 0 1 1 1 " + entry(31, 0, 1) +
             "record up record up record up record up\n"
             "2 0 0 1 1 1 " + entry(32, 0, 1) +
             "record identifier a 0 0 0 1 1 1 " + entry(33, 0, 1));
    const auto& r = u.regionEntries();
    ASSERT_EQ(r.size(), 5u);
    EXPECT_EQ(r[0]->path, "a");
    EXPECT_EQ(r[1]->path, "a.b");
    EXPECT_EQ(r[2]->path, "a.b.c");
    EXPECT_EQ(r[3]->path, "a.b.d");
    EXPECT_EQ(r[4]->path, "a");
    EXPECT_EQ(at(u, 1, 0, 0).region, r[3].get());
    EXPECT_EQ(at(u, 2, 0, 0).region, nullptr);
    EXPECT_EQ(at(u, 0, 0, 0).region, r[4].get());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0],
              "Error: UniverseCell at 0 0 0, block 0 0 0 contains part type 30, replacing with type 33. Regions: a.b.c a");
}

TEST(GridFile, NumberConversions) {
    Universe u;
    // A plain box's x0 takes the leading integer of its word; later numbers
    // use stream extraction, so "5x" yields 5 and then fails on "x".
    load(u, "7abc 0 0 1 1 1 " + entry(30, 0, 1) + "-3 0 0 1 1 1 " + entry(31, 0, 1) + "zz 0 0 1 1 1 " + entry(32, 0, 1));
    EXPECT_EQ(at(u, 7, 0, 0).partType, 30);
    EXPECT_EQ(at(u, -3, 0, 0).partType, 31);
    EXPECT_EQ(at(u, 0, 0, 0).partType, 32);
    Universe v;
    load(v, "record region 2 0 0 1 1 1 " + entry(30, 0, 1) + "record region 5x 0 0 1 1 1 " + entry(31, 0, 1));
    EXPECT_EQ(at(v, 2, 0, 0).partType, 30);
    EXPECT_EQ(v.partCount(), 1u);
}

TEST(GridFile, FailedReadInsideABoxPlacesOnlyWholeEntries) {
    Universe u;
    GridReadResult r = load(u, "0 0 0 3 1 1\n" + entry(30, 0, 1) + entry(31, 0, 1) + "32 0 1 0 0 x");
    EXPECT_FALSE(r.complete);
    EXPECT_EQ(at(u, 0, 0, 0).partType, 30);
    EXPECT_EQ(at(u, 1, 0, 0).partType, 31);
    EXPECT_EQ(at(u, 2, 0, 0).partType, 0);
    // Nothing after the failure is read.
    Universe v;
    load(v, "0 0 0 2 1 1\n" + entry(30, 0, 1) + "x " + "5 5 5 1 1 1 " + entry(31, 0, 1));
    EXPECT_EQ(v.partCount(), 1u);
}

TEST(GridFile, HostileInputsEndInOrder) {
    {
        // A zero count makes an empty box even when the others are huge.
        Universe u;
        load(u, "0 0 0 0 4294967295 4294967295 1 0 0 1 1 1 " + entry(30, 0, 1));
        EXPECT_EQ(at(u, 1, 0, 0).partType, 30);
    }
    {
        // Huge counts only read what is there.
        Universe u;
        load(u, "0 0 0 -1 -1 -1 " + entry(30, 0, 1) + entry(31, 0, 1));
        EXPECT_EQ(u.partCount(), 2u);
    }
    {
        // A word longer than 127 characters ends the load.
        Universe u;
        load(u, "0 0 0 1 1 1 " + entry(30, 0, 1) + std::string(128, '7') + " 0 0 1 1 1 " + entry(31, 0, 1));
        EXPECT_EQ(u.partCount(), 1u);
        Universe v;
        load(v, "record identifier " + std::string(200, 'a') + " 0 0 0 1 1 1 " + entry(30, 0, 1));
        EXPECT_EQ(v.partCount(), 0u);
        EXPECT_TRUE(v.regionEntries().empty());
    }
    {
        // Parts beyond the coordinate limit are skipped and counted.
        Universe u;
        GridReadResult r = load(u, "record region 2147483646 0 0 3 1 1 " + entry(30, 0, 1) + entry(31, 0, 1) +
                                       entry(32, 0, 1) + "0 -1000000001 0 1 2 1 " + entry(33, 0, 1) + entry(34, 0, 1));
        EXPECT_EQ(r.skippedParts, 4u);
        EXPECT_EQ(u.partCount(), 1u);
        EXPECT_EQ(at(u, 0, -1000000000, 0).partType, 34);
        EXPECT_EQ(u.verifyConsistency(), "");
    }
    {
        // Binary noise and overflowing numbers.
        std::string noise;
        for (int i = 0; i < 5000; ++i) noise.push_back(char((i * 7919) % 256));
        Universe u;
        load(u, noise);
        load(u, "99999999999999999999 1 1 1 1 1 " + entry(30, 0, 1));
        load(u, "0 0 0 1 1 1 30 0 99999999999 0 0 0 0 0 0 0 0 0 0 0 0");
        EXPECT_EQ(u.verifyConsistency(), "");
    }
}

TEST(GridFile, DocumentOpenRule) {
    Universe u;
    EXPECT_FALSE(openGridDocument(u, "machine.txt"));
    EXPECT_FALSE(openGridDocument(u, "grd"));
    EXPECT_TRUE(openGridDocument(u, "/nonexistent/folder/missing.GRD"));
    EXPECT_EQ(u.blockCount(), 0u);
    const std::string path = ::testing::TempDir() + "open_rule.Grd";
    {
        std::ofstream f(path);
        f << "0 0 0 1 1 1 " << entry(30, 0, 1);
    }
    EXPECT_TRUE(openGridDocument(u, path));
    EXPECT_EQ(u.partCount(), 1u);
    // The universe is not cleared first.
    EXPECT_TRUE(openGridDocument(u, path));
    EXPECT_EQ(u.partCount(), 1u);
    const std::string out = ::testing::TempDir() + "written.grd";
    ASSERT_TRUE(writeGridFile(u, out));
    EXPECT_FALSE(writeGridFile(u, "/nonexistent/folder/x.grd"));
    Universe v;
    openGridDocument(v, out);
    EXPECT_EQ(v.partCount(), 1u);
}
