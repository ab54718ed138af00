#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "view/bitmap.h"

namespace {

ScreenBitmap blank(int32_t w, int32_t h, uint16_t bits) {
    ScreenBitmap b;
    b.width = w;
    b.height = h;
    b.bitsPerPixel = bits;
    b.pixels.assign(size_t(bitmapRowSize(w, bits)) * size_t(h), 0);
    return b;
}

std::vector<uint8_t> readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t le32(const std::vector<uint8_t>& v, size_t at) {
    return uint32_t(v[at]) | uint32_t(v[at + 1]) << 8 | uint32_t(v[at + 2]) << 16 | uint32_t(v[at + 3]) << 24;
}

class BitmapFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() / ("view_bitmap_" + std::to_string(getpid()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string path(const char* name) const { return (dir_ / name).string(); }
    std::filesystem::path dir_;
};

TEST_F(BitmapFile, ThirtyTwoBitHeadersAreByteExact) {
    ScreenBitmap b = blank(101, 2, 32);
    b.pixels[0] = 0xAB;
    const auto dib = bitmapToDib(b, kUncompressedRgb, nullptr);
    ASSERT_EQ(dib.size(), 40u + 808u);
    ASSERT_TRUE(writeBitmapFile(dib, path("a.bmp")));
    const auto file = readAll(path("a.bmp"));
    const uint8_t expected[54] = {
        'B', 'M', 0x5E, 0x03, 0, 0,  // file size 14 + 40 + 808 = 862
        0, 0, 0, 0,                   // reserved
        54, 0, 0, 0,                  // pixel offset
        40, 0, 0, 0,                  // image header size
        101, 0, 0, 0,                 // width
        2, 0, 0, 0,                   // height
        1, 0,                         // planes
        32, 0,                        // bits per pixel
        0, 0, 0, 0,                   // uncompressed
        0x28, 0x03, 0, 0,             // image size 808
        0, 0, 0, 0, 0, 0, 0, 0,       // resolutions
        0, 0, 0, 0, 0, 0, 0, 0};      // colours used, important
    ASSERT_EQ(file.size(), 862u);
    EXPECT_TRUE(std::equal(std::begin(expected), std::end(expected), file.begin()));
    EXPECT_EQ(file[54], 0xAB);  // pixel rows follow directly
}

TEST_F(BitmapFile, TwentyFourBitRowsArePadded) {
    const auto dib = bitmapToDib(blank(101, 3, 24), kUncompressedRgb, nullptr);
    ASSERT_TRUE(writeBitmapFile(dib, path("b.bmp")));
    const auto file = readAll(path("b.bmp"));
    ASSERT_EQ(file.size(), 54u + 3 * 304u);
    EXPECT_EQ(le32(file, 2), file.size());
    EXPECT_EQ(le32(file, 10), 54u);
    EXPECT_EQ(file[28], 24);
    EXPECT_EQ(le32(file, 34), 912u);
}

TEST_F(BitmapFile, PaletteDepthsCarryAColourTable) {
    Palette pal(256);
    pal[3] = {128, 0, 0};
    pal[255] = {1, 2, 3};
    const auto dib = bitmapToDib(blank(101, 2, 8), kUncompressedRgb, &pal);
    ASSERT_TRUE(writeBitmapFile(dib, path("c.bmp")));
    const auto file = readAll(path("c.bmp"));
    EXPECT_EQ(le32(file, 10), 1078u);
    ASSERT_EQ(file.size(), 1078u + 2 * 104u);
    EXPECT_EQ(le32(file, 2), file.size());
    // Entries are blue, green, red, 0.
    EXPECT_EQ(file[54 + 12], 0);
    EXPECT_EQ(file[54 + 14], 128);
    EXPECT_EQ(file[54 + 4 * 255], 3);
    EXPECT_EQ(file[54 + 4 * 255 + 1], 2);
    EXPECT_EQ(file[54 + 4 * 255 + 2], 1);
    EXPECT_EQ(file[54 + 4 * 255 + 3], 0);

    // A short palette leaves the remaining entries black; no palette gives a
    // grey ramp from black to white.
    Palette two{{10, 20, 30}};
    const auto four = bitmapToDib(blank(5, 1, 4), kUncompressedRgb, &two);
    ASSERT_EQ(four.size(), 40u + 64u + 4u);
    EXPECT_EQ(four[40], 30);
    EXPECT_EQ(four[44], 0);
    const auto mono = bitmapToDib(blank(101, 1, 1), kUncompressedRgb, nullptr);
    ASSERT_EQ(mono.size(), 40u + 8u + 16u);
    EXPECT_EQ(mono[40], 0);
    EXPECT_EQ(mono[44], 255);
    EXPECT_EQ(mono[46], 255);
    ASSERT_TRUE(writeBitmapFile(mono, path("d.bmp")));
    EXPECT_EQ(le32(readAll(path("d.bmp")), 10), 62u);
}

TEST(BitmapToDib, RejectsWhatItCannotDescribe) {
    EXPECT_TRUE(bitmapToDib(blank(4, 4, 24), 1, nullptr).empty());   // compressed
    EXPECT_TRUE(bitmapToDib(blank(4, 4, 7), 0, nullptr).empty());    // no such depth
    ScreenBitmap shortRows = blank(4, 4, 24);
    shortRows.pixels.pop_back();
    EXPECT_TRUE(bitmapToDib(shortRows, 0, nullptr).empty());
    ScreenBitmap negative = blank(4, 4, 24);
    negative.height = -4;
    EXPECT_TRUE(bitmapToDib(negative, 0, nullptr).empty());
    ScreenBitmap huge;
    huge.width = 0x7FFFFFFF;
    huge.height = 0x7FFFFFFF;
    EXPECT_TRUE(bitmapToDib(huge, 0, nullptr).empty());
    ScreenBitmap twoPlanes = blank(4, 4, 24);
    twoPlanes.planes = 2;
    EXPECT_TRUE(bitmapToDib(twoPlanes, 0, nullptr).empty());
}

TEST_F(BitmapFile, UnwritablePathsAndBrokenBlocksFail) {
    const auto dib = bitmapToDib(blank(4, 4, 24), kUncompressedRgb, nullptr);
    EXPECT_FALSE(writeBitmapFile(dib, path("missing/dir/x.bmp")));
    EXPECT_FALSE(writeBitmapFile({}, path("e.bmp")));
    EXPECT_FALSE(std::filesystem::exists(path("e.bmp")));
    std::vector<uint8_t> wrongHeader = dib;
    wrongHeader[0] = 12;
    EXPECT_FALSE(writeBitmapFile(wrongHeader, path("e.bmp")));
    // An 8-bit header without room for its colour table.
    auto cut = bitmapToDib(blank(4, 1, 8), kUncompressedRgb, nullptr);
    cut.resize(100);
    EXPECT_FALSE(writeBitmapFile(cut, path("e.bmp")));
    // Writing over an existing file replaces it.
    ASSERT_TRUE(writeBitmapFile(bitmapToDib(blank(64, 64, 24), 0, nullptr), path("f.bmp")));
    ASSERT_TRUE(writeBitmapFile(dib, path("f.bmp")));
    EXPECT_EQ(readAll(path("f.bmp")).size(), 14u + dib.size());
}

}  // namespace
