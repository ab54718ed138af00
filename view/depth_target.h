// An off-screen colour and depth target with the deepest depth buffer the
// context offers.
//
// Design note
//   A window toolkit decides the depth buffer of its own surfaces, and the
//   usual choice is 24 bits packed with stencil. With the near plane at 1
//   that leaves about a hundredth of a cell of depth resolution 400 cells
//   out, too coarse for the squares that stand 0.025 in front of a face, so
//   distant machines show stripes and squares that do not belong there. The
//   view therefore draws into a framebuffer object of its own, with a 32-bit
//   depth attachment (fixed point first, then floating point, then 24 bits),
//   and copies only the colour to the window. The colour attachment is
//   8 bits a channel like the window's, so the copy changes no pixel.
//
//   All calls need the owning context current; the object must be released
//   (or destroyed) while that context is still current.
#pragma once

#include <cstdint>

class DepthTarget {
public:
    DepthTarget() = default;
    ~DepthTarget();
    DepthTarget(const DepthTarget&) = delete;
    DepthTarget& operator=(const DepthTarget&) = delete;

    // Makes (or remakes, after a size change) the target and binds it for
    // drawing and reading. False when the context offers no complete
    // framebuffer; nothing is then bound and the caller draws as before.
    bool bind(int width, int height);
    // Copies the colour into the framebuffer `target` (0: the window's own)
    // and binds that one again.
    void copyTo(uint32_t target);
    // Deletes the objects.
    void release();
    // Forgets the objects without a call: their context has gone (and took
    // them with it).
    void abandon() {
        framebuffer_ = colour_ = depth_ = 0;
        width_ = height_ = depthBits_ = 0;
    }

    // Depth bits of the attachment in use; 0 before the first bind.
    int depthBits() const { return depthBits_; }

private:
    uint32_t framebuffer_ = 0;
    uint32_t colour_ = 0;
    uint32_t depth_ = 0;
    int width_ = 0;
    int height_ = 0;
    int depthBits_ = 0;
    bool failed_ = false;
};
