// The picture of a view as a .bmp file.
//
// Design note
//   A bitmap file is a 14-byte file header followed by an "image block": a
//   40-byte image header, a colour table (only for 8 bits per pixel or fewer)
//   and the pixel rows, bottom row first, each padded to a multiple of four
//   bytes. The block is built in memory in one piece (bitmapToDib) and then
//   written behind the file header (writeBitmapFile); keeping the two apart
//   lets the header arithmetic be checked byte for byte without any pixels
//   from a real surface.
//
//   Pixels are read back from the current OpenGL framebuffer rather than from
//   the screen, so windows lying over the view never end up in the picture.
//   A framebuffer read gives 24-bit pixels; the format code handles every
//   depth a screen could have (1, 4, 8, 16, 24, 32).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Pixels as a screen device would hand them over: rows bottom first, each
// row padded to a multiple of 4 bytes.
struct ScreenBitmap {
    int32_t width = 0;
    int32_t height = 0;
    uint16_t planes = 1;
    uint16_t bitsPerPixel = 24;
    std::vector<uint8_t> pixels;
};

struct PaletteEntry {
    uint8_t red = 0, green = 0, blue = 0;
};
using Palette = std::vector<PaletteEntry>;

constexpr uint32_t kUncompressedRgb = 0;
constexpr size_t kFileHeaderSize = 14;
constexpr size_t kImageHeaderSize = 40;

// Bytes in one padded pixel row; 0 for a negative width or depth.
uint32_t bitmapRowSize(int32_t width, int bitsPerPixel);

// Colour-table entries for a depth: 2^bits up to 256, otherwise none.
uint32_t colourTableEntries(int bitsPerPixel);

// Builds the image block. Only uncompressed RGB is supported. The colour
// table comes from the palette (missing entries black) or, without one, is a
// grey ramp. Returns an empty vector when the bitmap is unusable: unknown
// depth, negative size, fewer pixel bytes than the rows need, or a size that
// does not fit the format.
std::vector<uint8_t> bitmapToDib(const ScreenBitmap& bitmap, uint32_t compression, const Palette* palette);

// Writes the file header and the block. Returns false when the block is not
// a well-formed image block or the file cannot be written; a partly written
// file is removed.
bool writeBitmapFile(const std::vector<uint8_t>& dib, const std::string& path);

// Reads width x height pixels of the current OpenGL read buffer as a 24-bit
// bitmap.
ScreenBitmap captureFramebuffer(int width, int height);

// The whole save: capture, image block, file. True when the file was written.
bool saveWindowBitmap(int width, int height, const std::string& path);
