#include "view/bitmap.h"

#include <GL/gl.h>

#include <cstdio>
#include <fstream>
#include <limits>

namespace {

void put16(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    out[at] = uint8_t(v);
    out[at + 1] = uint8_t(v >> 8);
}
void put32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = uint8_t(v >> (8 * i));
}
uint32_t get16(const std::vector<uint8_t>& in, size_t at) { return uint32_t(in[at]) | uint32_t(in[at + 1]) << 8; }
uint32_t get32(const std::vector<uint8_t>& in, size_t at) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t(in[at + i]) << (8 * i);
    return v;
}

bool knownDepth(int bits) { return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32; }

// Largest image block we build: the file size field is 32 bits.
constexpr uint64_t kMaxBlock = std::numeric_limits<uint32_t>::max() - kFileHeaderSize;

}  // namespace

uint32_t bitmapRowSize(int32_t width, int bitsPerPixel) {
    if (width < 0 || bitsPerPixel <= 0) return 0;
    const uint64_t bits = uint64_t(width) * uint64_t(bitsPerPixel);
    const uint64_t bytes = ((bits + 31) / 32) * 4;
    return bytes > kMaxBlock ? 0 : uint32_t(bytes);
}

uint32_t colourTableEntries(int bitsPerPixel) {
    return bitsPerPixel > 0 && bitsPerPixel <= 8 ? (1u << bitsPerPixel) : 0;
}

std::vector<uint8_t> bitmapToDib(const ScreenBitmap& bm, uint32_t compression, const Palette* palette) {
    const int bits = int(bm.planes) * int(bm.bitsPerPixel);
    if (compression != kUncompressedRgb || bm.planes != 1 || !knownDepth(bits) || bm.width < 0 || bm.height < 0)
        return {};
    const uint32_t entries = colourTableEntries(bits);
    const uint64_t rowSize = bitmapRowSize(bm.width, bits);
    const uint64_t imageSize = rowSize * uint64_t(bm.height);
    const uint64_t blockSize = kImageHeaderSize + 4ull * entries + imageSize;
    if ((bm.width > 0 && rowSize == 0) || blockSize > kMaxBlock || bm.pixels.size() < imageSize) return {};

    std::vector<uint8_t> dib(size_t(blockSize), 0);
    put32(dib, 0, kImageHeaderSize);
    put32(dib, 4, uint32_t(bm.width));
    put32(dib, 8, uint32_t(bm.height));
    put16(dib, 12, 1);
    put16(dib, 14, uint32_t(bits));
    put32(dib, 16, compression);
    put32(dib, 20, uint32_t(imageSize));
    // Resolutions, colours used and important colours stay 0.

    for (uint32_t i = 0; i < entries; ++i) {
        PaletteEntry e;
        if (palette) {
            if (i < palette->size()) e = (*palette)[i];
        } else {
            const uint8_t grey = uint8_t(i * 255 / (entries - 1));
            e = {grey, grey, grey};
        }
        const size_t at = kImageHeaderSize + 4 * i;
        dib[at] = e.blue;
        dib[at + 1] = e.green;
        dib[at + 2] = e.red;
    }
    std::copy(bm.pixels.begin(), bm.pixels.begin() + ptrdiff_t(imageSize),
              dib.begin() + ptrdiff_t(kImageHeaderSize + 4ull * entries));
    return dib;
}

bool writeBitmapFile(const std::vector<uint8_t>& dib, const std::string& path) {
    if (dib.size() < kImageHeaderSize || get32(dib, 0) != kImageHeaderSize || dib.size() > kMaxBlock) return false;
    const uint32_t entries = colourTableEntries(int(get16(dib, 14)));
    if (dib.size() < kImageHeaderSize + 4ull * entries) return false;

    std::vector<uint8_t> header(kFileHeaderSize, 0);
    header[0] = 'B';
    header[1] = 'M';
    put32(header, 2, uint32_t(kFileHeaderSize + dib.size()));
    put32(header, 10, uint32_t(kFileHeaderSize + kImageHeaderSize + 4 * entries));

    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(reinterpret_cast<const char*>(header.data()), std::streamsize(header.size()));
    out.write(reinterpret_cast<const char*>(dib.data()), std::streamsize(dib.size()));
    out.close();
    if (!out) {
        std::remove(path.c_str());
        return false;
    }
    return true;
}

ScreenBitmap captureFramebuffer(int width, int height) {
    ScreenBitmap bm;
    if (width <= 0 || height <= 0) return bm;
    bm.width = width;
    bm.height = height;
    bm.bitsPerPixel = 24;
    const uint32_t rowSize = bitmapRowSize(width, 24);
    bm.pixels.assign(size_t(rowSize) * size_t(height), 0);
    // Drop errors left by earlier calls so the check below sees only ours.
    for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; ++i) {
    }
    GLint alignment = 4;
    glGetIntegerv(GL_PACK_ALIGNMENT, &alignment);
    // Rows padded to 4 bytes and bottom row first is exactly the file's layout.
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, bm.pixels.data());
    glPixelStorei(GL_PACK_ALIGNMENT, alignment);
    if (glGetError() != GL_NO_ERROR) return {};
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bm.pixels.data() + size_t(y) * rowSize;
        for (int x = 0; x < width; ++x) std::swap(row[3 * x], row[3 * x + 2]);
    }
    return bm;
}

bool saveWindowBitmap(int width, int height, const std::string& path) {
    const ScreenBitmap bm = captureFramebuffer(width, height);
    if (bm.pixels.empty()) return false;
    const std::vector<uint8_t> dib = bitmapToDib(bm, kUncompressedRgb, nullptr);
    return !dib.empty() && writeBitmapFile(dib, path);
}
