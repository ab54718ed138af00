// Mouse navigation, framing and picking for a view's camera.
//
// Design note
//   Everything here is plain arithmetic on a Camera and a universe, with no
//   toolkit or OpenGL in it, so the desktop view only forwards its mouse
//   events and the behaviour is tested without a window.
//
//   The mouse follows the keys' conventions: angles are degrees, never
//   wrapped or clamped, a turn leaves the eye where it is and a move changes
//   only the eye. A press followed by a release without the pointer having
//   left a small dead zone changes nothing, so a click (to focus the view or
//   dismiss a menu) never nudges the camera.
//
//   Picking casts the ray through a pixel cell by cell (a 3-D digital
//   differential analyser over the unit lattice) and stops at the first
//   visible part whose 0.9-wide body the ray actually meets, so the gaps
//   between cubes let the ray through as they let the eye through. It walks
//   no further than the far plane, so its cost is bounded by about 1,500
//   block look-ups whatever the universe holds. The caller holds the worker
//   at its pause point while it runs.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "view/camera.h"

class Universe;
struct RegionEntry;
struct StimulusChannel;
struct SceneSnapshot;

// The projection every view uses: 45 degrees vertically, near 1, far 500.
inline constexpr double kFieldOfViewDegrees = 45.0;
inline constexpr double kNearPlane = 1.0;
inline constexpr double kFarPlane = 500.0;

// Axis-aligned box in lattice units.
struct Bounds {
    double lo[3] = {0, 0, 0};
    double hi[3] = {0, 0, 0};
};

// The box around every part a frame drew (cell centres widened by half a
// cell, which covers the bodies and their squares). False when none was drawn.
bool drawnBounds(const SceneSnapshot& snapshot, Bounds& out);

// Eye-space axes of a camera in world coordinates.
struct CameraAxes {
    std::array<double, 3> right, up, forward;
};
CameraAxes cameraAxes(const Camera& c);

// World-space direction (unit) of the ray through pixel (px, py) of a
// width x height view, py counted from the top.
std::array<double, 3> pixelRay(const Camera& c, int width, int height, double px, double py);

// Where a world point lands in a width x height view: pixel coordinates
// (py counted from the top, pixel centres at +0.5), the inverse of
// pixelRay. None for a point level with or behind the eye.
std::optional<std::array<double, 2>> projectToPixel(const Camera& c, int width, int height, double x, double y,
                                                    double z);

// Turns the camera by the given degrees about a pivot rather than about the
// eye: the eye moves so that the pivot keeps its place in eye space, and so
// its place on the screen.
void orbitAbout(Camera& camera, const std::array<double, 3>& pivot, double dAz, double dAlt);

// ---- framing

// Angles "Fit All" looks from: turned 30 degrees right and tilted 20 down,
// so the front, the top and one side of a machine all show.
inline constexpr float kFitAllAlt = 20.0f;
inline constexpr float kFitAllAz = 30.0f;

// Places the eye on the line through the box centre along the fixed angles,
// just far enough that all eight corners lie inside the frustum with a
// margin. When the far side would then lie beyond the far plane and a
// straight front view fits, the front view (alt 0, az 0) is taken instead,
// so the whole machine stays drawn. Returns the camera.
Camera fitAllCamera(const Bounds& box, int width, int height);

// ---- mouse

enum class MouseButton { None, Left, Right, Middle };

class MouseNavigator {
public:
    // Pixels the pointer must travel from the press before a drag starts.
    static constexpr int kDeadZone = 3;
    // Degrees per pixel of a turning drag.
    static constexpr double kDegreesPerPixel = 0.25;

    // A press starts a possible drag. panDistance is the distance from the
    // eye to what the drag should move with the pointer (what lies under
    // the cursor, else the universe); it sets how far one pixel pans.
    void press(MouseButton button, int x, int y, double panDistance);
    // Makes the left drag that was just pressed an orbit: it turns the
    // camera by the same angles as a turn, about `pivot` instead of the eye
    // (orbitAbout), so the pivot keeps its place on the screen.
    void orbitAround(const std::array<double, 3>& pivot) { pivot_ = pivot; }
    bool orbiting() const { return button_ == MouseButton::Left && pivot_.has_value(); }
    // Applies the pointer's movement since the last call to the camera.
    // Returns false (camera untouched) while no drag is under way.
    // movedEye tells whether the position changed (a pan) or only the angles.
    bool move(int x, int y, int viewHeight, Camera& camera, bool& movedEye);
    void release();
    bool dragging() const { return dragging_; }
    MouseButton button() const { return button_; }

private:
    MouseButton button_ = MouseButton::None;
    int pressX_ = 0, pressY_ = 0, lastX_ = 0, lastY_ = 0;
    double panDistance_ = 10;
    bool dragging_ = false;
    std::optional<std::array<double, 3>> pivot_;
};

// One wheel turn: `notches` steps of 120 units each (positive: away from the
// user, which moves forward). Each notch moves the eye along the viewing
// direction by a fifth of `distance` (what is under the cursor, or the
// universe), at least 0.25 and at most 100 cells, so the wheel is useful at
// a cell's distance and at the far plane alike. Only the position changes.
void wheelStep(Camera& camera, double notches, double distance);

// Distance from the eye to the nearest point of a box (0 inside it).
double distanceToBox(const Camera& camera, const Bounds& box);

// ---- picking

struct PickedPart {
    int32_t x = 0, y = 0, z = 0;
    int32_t partType = 0;
    int32_t front = 0, side = 1, up = 4;
    uint8_t outputs = 0;
    uint8_t bonds = 0;
    const RegionEntry* region = nullptr;
    const StimulusChannel* binding = nullptr;
    double distance = 0;  // from the eye to where the ray enters the body
};

// The first visible part along the ray through pixel (px, py), or none.
// Call only while the universe is not being changed.
std::optional<PickedPart> pickPart(const Camera& camera, int width, int height, double px, double py,
                                   const Universe& universe);

// "+x", "-y", ... for directions 0..5; "?" for anything else.
const char* directionName(int32_t d);
// "Conductor" ... "Drive" for types 1..10, "type N" otherwise.
std::string partTypeName(int32_t type);
// The status-bar line for a picked part, e.g.
// "(3, 0, -2) NorGate  front +y side +x up +z  outputs +x  bonds none  region a.b  terminal in0".
// The region and terminal items are left out when the part has none.
std::string describePart(const PickedPart& part, const std::string& terminalName);
