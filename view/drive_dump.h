// "Write EPS...": the window coordinates of every Drive part, one line each.
//
// Design note
//   The positions come from OpenGL's own raster-position transform in the
//   current context, so they match the picture of the view pixel for pixel
//   whatever projection and viewport the view has. The universe is read only
//   to copy the Drive positions; the transform work happens after the worker
//   has been released. Region visibility does not matter here: a Drive in a
//   hidden region is still written.
//
//   The file is "dump.eps" in the current directory, text with one
//   "x y" line per Drive whose point lies inside the view volume, numbers in
//   the stream's default float format.
#pragma once

#include <string>

#include "view/camera.h"

class Universe;
class SteppingDriver;

inline constexpr const char* kDriveDumpFile = "dump.eps";

// Writes the dump with the current context's projection and viewport.
// Returns false when the file cannot be written (nothing is reported).
bool writeDriveCoordinates(const Camera& camera, Universe& universe, SteppingDriver* driver,
                           const std::string& path = kDriveDumpFile);
