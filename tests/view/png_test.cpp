#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "view/png.h"

namespace {

// Pixels in the capture layout: BGR, bottom row first, rows padded to 4 bytes.
ScreenBitmap pattern(int32_t w, int32_t h) {
    ScreenBitmap b;
    b.width = w;
    b.height = h;
    b.bitsPerPixel = 24;
    const uint32_t row = bitmapRowSize(w, 24);
    b.pixels.assign(size_t(row) * size_t(h), 0xEE);  // padding bytes must never show
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = b.pixels.data() + size_t(y) * row + size_t(3 * x);
            p[0] = uint8_t(x * 7);       // blue
            p[1] = uint8_t(y * 11);      // green
            p[2] = uint8_t(x + y + 1);   // red
        }
    return b;
}

struct Decoded {
    png_uint_32 width = 0, height = 0;
    std::vector<uint8_t> rgb;  // top row first
};

bool decode(const std::string& path, Decoded& out) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    image.format = PNG_FORMAT_RGB;
    out.width = image.width;
    out.height = image.height;
    out.rgb.assign(PNG_IMAGE_SIZE(image), 0);
    const bool ok = png_image_finish_read(&image, nullptr, out.rgb.data(), 0, nullptr) != 0;
    png_image_free(&image);
    return ok;
}

class PngFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() / ("view_png_" + std::to_string(getpid()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string path(const char* name) const { return (dir_ / name).string(); }
    std::filesystem::path dir_;
};

TEST_F(PngFile, ReadsBackTopRowFirstInRgbOrder) {
    // Odd widths exercise the row padding; a one-pixel image the edges.
    for (auto [w, h] : {std::pair{5, 3}, std::pair{1, 1}, std::pair{33, 17}}) {
        const ScreenBitmap b = pattern(w, h);
        ASSERT_TRUE(writePngFile(b, path("a.png")));
        Decoded d;
        ASSERT_TRUE(decode(path("a.png"), d));
        ASSERT_EQ(d.width, png_uint_32(w));
        ASSERT_EQ(d.height, png_uint_32(h));
        for (int row = 0; row < h; ++row)
            for (int x = 0; x < w; ++x) {
                const int y = h - 1 - row;  // file row 0 is the bitmap's top row
                const uint8_t* p = d.rgb.data() + (size_t(row) * size_t(w) + size_t(x)) * 3;
                ASSERT_EQ(p[0], uint8_t(x + y + 1)) << w << "x" << h << " at " << x << "," << row;
                ASSERT_EQ(p[1], uint8_t(y * 11));
                ASSERT_EQ(p[2], uint8_t(x * 7));
            }
    }
}

TEST_F(PngFile, RefusesUnusableBitmapsAndLeavesNoFile) {
    ScreenBitmap shortRows = pattern(8, 8);
    shortRows.pixels.resize(shortRows.pixels.size() - 1);
    ScreenBitmap wrongDepth = pattern(8, 8);
    wrongDepth.bitsPerPixel = 32;
    ScreenBitmap empty;
    for (const ScreenBitmap* b : {&shortRows, &wrongDepth, &empty}) {
        EXPECT_TRUE(encodePng(*b).empty());
        EXPECT_FALSE(writePngFile(*b, path("bad.png")));
        EXPECT_FALSE(std::filesystem::exists(path("bad.png")));
    }
    // A folder cannot be written as a file.
    EXPECT_FALSE(writePngFile(pattern(2, 2), dir_.string()));
}

TEST(PngSuffix, AnyCase) {
    EXPECT_TRUE(hasPngSuffix("a.png"));
    EXPECT_TRUE(hasPngSuffix("A.PNG"));
    EXPECT_FALSE(hasPngSuffix("a.bmp"));
    EXPECT_FALSE(hasPngSuffix("png"));
}

}  // namespace
