// The eye of one view: a position and two angles, and everything that moves it.
//
// Design note
//   The camera is a plain value with no OpenGL in it, so navigation can be
//   tested without a context and shared by the desktop view, the off-screen
//   runner and the coordinate dump. Angles are degrees and are never wrapped:
//   a user who turns left 36 times sees az = -360, and a saved position keeps
//   whatever was typed. Arithmetic is done in double and stored as float, so
//   a step forward followed by a step back returns to the start up to float
//   rounding rather than drifting by double-to-float-to-double noise.
//
//   Keys arrive as virtual-key codes (the letter's upper-case code point), so
//   the shell maps its key events once and the meaning never depends on
//   shift state. The centre-of-mass jump reads the universe; callers that
//   have a running worker bracket it with the pause handshake.
#pragma once

#include <array>
#include <optional>

class Universe;

struct Camera {
    float x = 0, y = 0, z = 5;
    float az = 0;   // degrees about the vertical axis; positive turns right
    float alt = 0;  // degrees about the turned horizontal axis; positive tilts down
};

// The order every outside form uses (the runner's --camera, Python's tuples,
// saved views, the Settings dialog): position, then altitude, then azimuth.
// The struct stores azimuth first, so build cameras from that order here.
inline Camera cameraAt(float x, float y, float z, float alt, float az) {
    Camera c;
    c.x = x;
    c.y = y;
    c.z = z;
    c.alt = alt;
    c.az = az;
    return c;
}

// "X,Y,Z,ALT,AZ": five finite numbers within +-3e38, comma-separated, nothing
// else. None when the text is not of that form.
std::optional<Camera> parseCameraText(const char* text);

// Degrees to radians with the constant the view transform has always used.
constexpr double degreesToRadians(double degrees) { return degrees * 6.283185307179586 / 360.0; }

// Unit vector the eye looks along.
std::array<double, 3> cameraForward(const Camera& c);

// The model-view matrix of the camera (column-major, as OpenGL loads it):
// rotate az about +y, then alt about (cos az, 0, sin az), then translate by
// minus the eye. Used for the pure-math projection of the coordinate dump's
// checks and by anything that wants the transform without a context.
std::array<double, 16> cameraViewMatrix(const Camera& c);

// Multiplies the current OpenGL matrix by the camera transform.
void applyCameraTransform(const Camera& c);

void stepForward(Camera& c);
void stepBack(Camera& c);

// Virtual-key codes the view reacts to.
enum CameraKey : int {
    KeyTurnLeft = 0x4F,   // O
    KeyTurnRight = 0x50,  // P
    KeyTiltDown = 0x51,   // Q
    KeyTiltUp = 0x41,     // A
    KeyForward = 0x20,    // Space
    KeyBack = 0x42,       // B
    KeyPulse = 0x4B,      // K
};

// Applies one key-down. K sets the universe's input pulse (when there is a
// universe) and leaves the camera alone. Returns true when the key is one of
// the view's keys; the caller passes every key on to its default handling
// either way.
bool handleCameraKey(Camera& c, int virtualKey, Universe* universe);

// "Centre of Mass": eye 50 units in front (+z) of the parts' mean position,
// looking along -z. A universe without parts has no centre; the camera is then
// left as it is and false is returned.
bool centreOfMass(Camera& c, const Universe& universe);
