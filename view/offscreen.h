// An OpenGL context that needs no window system.
//
// Design note
//   The runner and the tests draw views on machines without an X server or a
//   DISPLAY. Mesa's EGL offers a "surfaceless" platform for exactly that; on
//   it we create a pbuffer surface, which behaves like a window's back buffer
//   for OpenGL 1.1 (draw, then glReadPixels), so the drawing and bitmap code
//   need no framebuffer-object path of their own. A desktop GL context
//   (compatibility profile) is requested because the scene uses the fixed
//   pipeline.
//
//   Failures are reported as text with the same two first words the desktop
//   view uses for a window whose surface cannot be set up ("ChoosePixelFormat
//   failed" when no suitable configuration exists, "SetPixelFormat failed"
//   when the surface or context cannot be made), followed by the EGL detail.
#pragma once

#include <memory>
#include <string>

class OffscreenContext {
public:
    // A context with an RGBA surface of at least 8 bits per channel and a
    // depth buffer, width x height pixels, made current on this thread.
    // Returns nullptr and sets error on failure.
    static std::unique_ptr<OffscreenContext> create(int width, int height, std::string& error);
    ~OffscreenContext();
    OffscreenContext(const OffscreenContext&) = delete;
    OffscreenContext& operator=(const OffscreenContext&) = delete;

    bool makeCurrent();
    int width() const { return width_; }
    int height() const { return height_; }

private:
    OffscreenContext() = default;
    void* display_ = nullptr;
    void* surface_ = nullptr;
    void* context_ = nullptr;
    int width_ = 0;
    int height_ = 0;
};
