// What a part looks like: colours, cube corners, face squares and the Drive
// arrow, as plain numbers with no OpenGL.
//
// Design note
//   Everything the picture of a part depends on is computed here so it can be
//   checked without a context and so the scene code only copies numbers into
//   vertex arrays. A body vertex always takes the colour of the cube corner it
//   sits on, so the body of a cell is fully described by eight coloured
//   corners; the six faces then only index those corners. That is what lets
//   the scene submit 8 vertices per body instead of 24 with no change to the
//   picture.
//
//   A part's frame (front, side, up) comes from files and may be anything a
//   malformed file holds. Only a frame of three valid, mutually perpendicular
//   directions places eight distinct colours on eight corners; any other frame
//   is drawn in the frame of a new part (front +y, side +x, up +z) so no
//   corner is left without a colour and no table is indexed out of range.
#pragma once

#include <array>
#include <cstdint>

struct Rgb {
    float r, g, b;
    bool operator==(const Rgb&) const = default;
};

struct Vec3f {
    float x, y, z;
};

// Colour records: index 1..10 are the part types, index 0 is used for every
// other stored type value (see partColourRecord).
constexpr int kOtherPartRecord = 0;

// Eight colours per record; colour j belongs to the corner on the front half
// when bit 2 of j is set, on the side half when bit 1 is set and on the up
// half when bit 0 is set.
const std::array<Rgb, 8>& partColours(int32_t partType);
// The same by record index (0..10), as partColourRecord gives it.
const std::array<Rgb, 8>& colourRecord(int record);

// The record used for a stored part type: the type itself for 1..10,
// kOtherPartRecord for anything else (types without a rule are still drawn).
int partColourRecord(int32_t partType);

// A validated frame: directions 0..5 that are mutually perpendicular.
struct PartFrame {
    uint8_t front = 0, side = 1, up = 4;
};

// The frame to draw a part in: its own when valid, else the new-part frame.
PartFrame drawingFrame(int32_t front, int32_t side, int32_t up);

// Corners of the body are numbered by world-axis signs:
// bit 2 = +x, bit 1 = +y, bit 0 = +z.
Vec3f cornerPosition(int corner, float halfSize);

// For each world corner, which colour j of the record it takes in this frame.
std::array<uint8_t, 8> cornerColourIndex(PartFrame frame);

// Face order of every cell: +y, -y, +x, -x, +z, -z.
inline constexpr int kFaceOrder[6] = {0, 2, 1, 3, 4, 5};

// Vertex i (0..3) of the square for direction d at distance t with half-size
// s, counter-clockwise seen from outside.
Vec3f faceVertex(int direction, int i, float t, float s);

// The body's 24 face vertices as corner numbers, in face order.
const std::array<uint8_t, 24>& bodyFaceCorners();

struct SquareStyle {
    float distance;
    float halfSize;
    Rgb colour;
};
constexpr float kBodyHalfSize = 0.45f;
constexpr SquareStyle kNorSignalSquare{0.5f, 0.5f, {1, 0, 0}};
constexpr SquareStyle kSignalSquare{0.5f, 0.2f, {1, 0, 0}};
constexpr SquareStyle kBondSquare{0.475f, 0.3f, {0, 1, 0}};
constexpr Rgb kArrowColour{1, 1, 1};

// The Drive arrow: three segments (shaft, two barbs) relative to the cell
// centre, six points in segment order.
std::array<Vec3f, 6> driveArrow(PartFrame frame);

// Point of a Drive whose window position the coordinate dump writes,
// relative to the cell centre.
constexpr float kDriveDumpOffset = 0.455f;
