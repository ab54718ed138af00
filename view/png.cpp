#include "view/png.h"

#include <png.h>

#include <cctype>
#include <cstdio>

#include "view/bitmap.h"

bool hasPngSuffix(const std::string& path) {
    if (path.size() < 4) return false;
    std::string ext = path.substr(path.size() - 4);
    for (auto& c : ext) c = char(std::tolower((unsigned char)c));
    return ext == ".png";
}

std::vector<uint8_t> encodePng(const ScreenBitmap& bitmap) {
    if (bitmap.bitsPerPixel != 24 || bitmap.width <= 0 || bitmap.height <= 0) return {};
    const uint32_t rowSize = bitmapRowSize(bitmap.width, 24);
    if (rowSize == 0 || bitmap.pixels.size() / rowSize < size_t(bitmap.height)) return {};
    // libpng's stride is an int; refuse rows it cannot describe.
    if (rowSize > uint32_t(INT32_MAX)) return {};

    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = png_uint_32(bitmap.width);
    image.height = png_uint_32(bitmap.height);
    image.format = PNG_FORMAT_BGR;
    // Negative stride: the buffer starts with the bottom row.
    const png_int_32 stride = -png_int_32(rowSize);
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&image, nullptr, &size, 0, bitmap.pixels.data(), stride, nullptr) || size == 0) {
        png_image_free(&image);
        return {};
    }
    std::vector<uint8_t> out(size);
    if (!png_image_write_to_memory(&image, out.data(), &size, 0, bitmap.pixels.data(), stride, nullptr)) {
        png_image_free(&image);
        return {};
    }
    out.resize(size);
    return out;
}

bool writePngFile(const ScreenBitmap& bitmap, const std::string& path) {
    const std::vector<uint8_t> data = encodePng(bitmap);
    if (data.empty()) return false;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool written = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    const bool closed = std::fclose(f) == 0;
    if (written && closed) return true;
    std::remove(path.c_str());
    return false;
}

bool saveWindowPng(int width, int height, const std::string& path) {
    const ScreenBitmap bm = captureFramebuffer(width, height);
    if (bm.pixels.empty()) return false;
    return writePngFile(bm, path);
}

bool writePictureFile(const ScreenBitmap& bitmap, const std::string& path) {
    if (hasPngSuffix(path)) return writePngFile(bitmap, path);
    const std::vector<uint8_t> dib = bitmapToDib(bitmap, kUncompressedRgb, nullptr);
    return !dib.empty() && writeBitmapFile(dib, path);
}

bool saveWindowPicture(int width, int height, const std::string& path) {
    const ScreenBitmap bm = captureFramebuffer(width, height);
    return !bm.pixels.empty() && writePictureFile(bm, path);
}
