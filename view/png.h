// The picture of a view as a .png file.
//
// Design note
//   The framebuffer capture (bitmap.h) already gives 24-bit rows in the
//   bitmap file's layout: blue, green, red, bottom row first, each row padded
//   to four bytes. The PNG writer takes exactly that buffer and lets libpng's
//   simplified interface flip and reorder it (a negative row stride means
//   bottom row first, the BGR format flag swaps the channels), so the bitmap
//   and PNG paths share one capture and cannot disagree about the pixels.
//   The file is encoded in memory first and then written in one go; a
//   half-written file is removed, as for bitmaps.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "view/bitmap.h"

// True when the path ends in ".png" (any case).
bool hasPngSuffix(const std::string& path);

// Encodes a 24-bit bitmap as an 8-bit RGB PNG, top row first. Empty when the
// bitmap is not a well-formed 24-bit bitmap or encoding fails.
std::vector<uint8_t> encodePng(const ScreenBitmap& bitmap);

// Writes the bitmap as a PNG file. False when it cannot be encoded or
// written; a partly written file is removed.
bool writePngFile(const ScreenBitmap& bitmap, const std::string& path);

// The whole save from the current framebuffer: capture, encode, file.
bool saveWindowPng(int width, int height, const std::string& path);

// A picture in the format its name asks for: PNG for ".png" (any case), the
// bitmap file otherwise. Every front end saves pictures through these two.
bool writePictureFile(const ScreenBitmap& bitmap, const std::string& path);
bool saveWindowPicture(int width, int height, const std::string& path);
