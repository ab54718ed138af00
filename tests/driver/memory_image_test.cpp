// Memory files and the direct write into memory modules.
#include <set>
#include <sstream>

#include "files/document.h"
#include "files/memory_image.h"
#include "test_util.h"
#include "universe/universe.h"

namespace {

std::vector<int32_t> imageOf(const std::string& text) {
    std::istringstream in(text);
    return readProgramImage(in);
}

// Fills module columns with conductors (front +y) so every write is visible.
void buildModules(Universe& u, int32_t x0, int32_t y0, int32_t z0, int pages) {
    for (int i = 0; i < pages; ++i)
        for (int b = 0; b < 6; ++b)
            for (int p = 0; p < 256; ++p) {
                int64_t y, z;
                memoryLoopPosition(y0, z0, p, y, z);
                UniverseCell c;
                c.x = x0 + 6 * i + b;
                c.y = int32_t(y);
                c.z = int32_t(z);
                c.partType = Conductor;
                c.front = 0;
                c.side = 1;
                c.up = 4;
                u.placeCell(c);
            }
}

bool signalAt(Universe& u, int32_t x0, int32_t y0, int32_t z0, int page, int b, int p) {
    int64_t y, z;
    memoryLoopPosition(y0, z0, p, y, z);
    CellRef c = u.findCell(x0 + 6 * page + b, int32_t(y), int32_t(z));
    return c && c.core().outputs != 0;
}

}  // namespace

TEST(MemoryFile, ItemsBetweenCommasAfterTheFirstBrace) {
    EXPECT_EQ(imageOf("junk, 9, {\n12,\n -3 ,\n+7x,\nabc,\n5"), (std::vector<int32_t>{12, -3, 7, 0}));
    EXPECT_EQ(imageOf("{\n1,\n2,\n};\n"), (std::vector<int32_t>{1, 2}));
    EXPECT_TRUE(imageOf("1, 2, 3,").empty()) << "no brace";
    EXPECT_TRUE(imageOf("{ 1 2 3 }").empty()) << "no comma";
    EXPECT_EQ(imageOf("{" + std::string(10000, ' ') + std::string(5000, '9') + ",").size(), 1u);
}

TEST(MemoryFile, LoopVisitsEveryCellOfItsRectangleOnce) {
    std::set<std::pair<int64_t, int64_t>> seen;
    for (int p = 0; p < 256; ++p) {
        int64_t y, z;
        memoryLoopPosition(100, 50, p, y, z);
        EXPECT_TRUE(y <= 100 && y > 100 - 32 && z <= 50 && z > 50 - 8) << p;
        seen.insert({y, z});
    }
    EXPECT_EQ(seen.size(), 256u);
    int64_t y, z;
    memoryLoopPosition(100, 50, 255, y, z);
    EXPECT_EQ(y, 99);
    EXPECT_EQ(z, 50);
}

TEST(MemoryWrite, OneFullWordAtOffsetsZeroAndOne) {
    for (uint32_t offset : {0u, 1u, 257u}) {
        Universe u;
        buildModules(u, 10, -4, 3, 1);
        writeMemoryImage(u, 10, -4, 3, offset, {63});
        const uint32_t shift = offset % 256;
        for (int b = 0; b < 6; ++b)
            for (int p = 0; p < 256; ++p) {
                const bool expected = p >= 7 || p == int(b + shift);
                ASSERT_EQ(signalAt(u, 10, -4, 3, 0, b, p), expected) << "offset " << offset << " b " << b << " p " << p;
            }
    }
}

TEST(MemoryWrite, ThreeHundredWordsFillTwoModulesReadingZeroPastTheEnd) {
    Universe u;
    buildModules(u, 0, 0, 0, 2);
    std::vector<int32_t> image(300, 0);
    image[256] = 1;  // page 1, index 0: bit 0 at position (6 + 0 - 0) = 6
    image[299] = 2;  // page 1, index 43: bit 1 at position (6 + 1 - 43) mod 256 = 220
    writeMemoryImage(u, 0, 0, 0, 0, image);
    EXPECT_TRUE(signalAt(u, 0, 0, 0, 1, 0, 6));
    EXPECT_FALSE(signalAt(u, 0, 0, 0, 1, 0, 5));
    EXPECT_FALSE(signalAt(u, 0, 0, 0, 1, 1, 220)) << "a set bit past position 6 is stored inverted";
    EXPECT_TRUE(signalAt(u, 0, 0, 0, 1, 1, 221));
    // Index 300..511 read as 0, stored inverted from position 7 on.
    EXPECT_TRUE(signalAt(u, 0, 0, 0, 1, 5, 100));
}

TEST(MemoryWrite, OutputsByPartTypeAndEmptyImageWritesNothing) {
    Universe u;
    UniverseCell nor;
    nor.partType = NorGate;
    nor.front = 3;
    nor.side = 0;
    u.placeCell(nor);
    UniverseCell con;
    con.partType = Conductor;
    con.front = 0;
    con.x = 1;  // bit line 1 holds word 0 at loop position 1
    con.z = -1;
    u.placeCell(con);
    UniverseCell src;
    src.partType = Source;
    src.x = 2;
    src.outputs = 5;
    u.placeCell(src);
    writeMemoryImage(u, 0, 0, 0, 0, {});
    EXPECT_EQ(u.findCell(0, 0, 0).core().outputs, 0);
    writeMemoryImage(u, 0, 0, 0, 0, {63});
    EXPECT_EQ(u.findCell(0, 0, 0).core().outputs, 8);
    EXPECT_EQ(u.findCell(1, 0, -1).core().outputs, 255 & ~(1 << 2));
    EXPECT_EQ(u.findCell(2, 0, 0).core().outputs, 5) << "other part types are left alone";
    const size_t blocks = u.blockCount();
    writeMemoryImage(u, 2000000000, 0, 0, 0, std::vector<int32_t>(600, 63));
    EXPECT_EQ(u.blockCount(), blocks) << "no blocks are created, even at the edge of the range";
}

TEST(MemoryWrite, DocumentWritesWhileTheWorkerRuns) {
    CellforgeDocument doc;
    doc.withUniverse([](Universe& u) { buildModules(u, 0, 0, 0, 1); });
    doc.runCommand();
    doc.writeMemory(0, 0, 0, 0, {63});
    doc.stopCommand();
    doc.driver().waitUntilStopped();
    double x, y, z;
    EXPECT_TRUE(doc.centreOfMass(x, y, z));
    EXPECT_DOUBLE_EQ(x, 2.5);
}
