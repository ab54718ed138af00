// Distant views of the memory bank: the picture must not depend on how much
// depth precision is left 370 to 440 cells from the eye.
#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>
#include <GL/glu.h>
#include <gtest/gtest.h>

#include <cmath>

#include "files/grid_file.h"
#include "universe/universe.h"
#include "view/bitmap.h"
#include "view/depth_target.h"
#include "view/navigation.h"
#include "view/offscreen.h"
#include "view/scene.h"

namespace {

constexpr int W = 500, H = 325;

class FarView : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        bank_ = new Universe;
        ASSERT_TRUE(openGridDocument(*bank_, MEMBANK_GRID));
        ASSERT_GT(bank_->partCount(), 40000u);
    }
    static void TearDownTestSuite() {
        delete bank_;
        bank_ = nullptr;
    }
    void SetUp() override {
        std::string error;
        ctx_ = OffscreenContext::create(W, H, error);
        ASSERT_TRUE(ctx_) << error;
    }

    // The frame as the view draws it, or with the near plane pulled up to
    // just before the machine: the same picture with far more depth
    // resolution, since the window position of a point does not depend on
    // the near and far planes.
    ScreenBitmap draw(const Camera& cam, double nearPlane) {
        setUpViewState(W, H);
        if (nearPlane != 1.0) {
            glMatrixMode(GL_PROJECTION);
            glLoadIdentity();
            gluPerspective(45.0, double(W) / H, nearPlane, 500.0);
            glMatrixMode(GL_MODELVIEW);
        }
        renderer_.renderFrame(cam, *bank_, nullptr);
        return captureFramebuffer(W, H);
    }
    static int differing(const ScreenBitmap& a, const ScreenBitmap& b) {
        int n = 0;
        for (size_t i = 0; i + 2 < a.pixels.size(); i += 3)
            n += a.pixels[i] != b.pixels[i] || a.pixels[i + 1] != b.pixels[i + 1] || a.pixels[i + 2] != b.pixels[i + 2];
        return n;
    }
    static int lit(const ScreenBitmap& a) {
        int n = 0;
        for (size_t i = 0; i + 2 < a.pixels.size(); i += 3) n += a.pixels[i] || a.pixels[i + 1] || a.pixels[i + 2];
        return n;
    }

    // Cameras looking at the bank's centre from 370 to 440 cells away, with
    // every part at least 300 cells from the eye.
    std::vector<Camera> farCameras() {
        SceneSnapshot snap;
        takeSnapshot(*bank_, snap);
        Bounds box;
        EXPECT_TRUE(drawnBounds(snap, box));
        std::vector<Camera> out;
        for (double distance : {370.0, 405.0, 440.0})
            for (auto [alt, az] : {std::pair{20.0f, 30.0f}, std::pair{0.0f, 0.0f}, std::pair{35.0f, -20.0f}}) {
                Camera c;
                c.alt = alt;
                c.az = az;
                const auto f = cameraForward(c);
                c.x = float((box.lo[0] + box.hi[0]) / 2 - distance * f[0]);
                c.y = float((box.lo[1] + box.hi[1]) / 2 - distance * f[1]);
                c.z = float((box.lo[2] + box.hi[2]) / 2 - distance * f[2]);
                double nearest = 1e9;
                for (const SceneCell& s : snap.cells)
                    nearest = std::min(nearest, (s.x - c.x) * f[0] + (s.y - c.y) * f[1] + (s.z - c.z) * f[2]);
                EXPECT_GT(nearest, 300.0);
                out.push_back(c);
            }
        return out;
    }

    static Universe* bank_;
    std::unique_ptr<OffscreenContext> ctx_;
    SceneRenderer renderer_;
};
Universe* FarView::bank_ = nullptr;

TEST_F(FarView, TheOffscreenSurfaceHasTheDeepestDepthBufferOnOffer) {
    GLint bits = 0;
    glGetIntegerv(GL_DEPTH_BITS, &bits);
    EXPECT_GE(bits, 32);
}

TEST_F(FarView, TheBankLooksTheSameWithAndWithoutDepthToSpare) {
    for (const Camera& c : farCameras()) {
        const ScreenBitmap shown = draw(c, 1.0);
        const ScreenBitmap exact = draw(c, 290.0);
        EXPECT_GT(lit(shown), W * H / 50);
        EXPECT_EQ(differing(shown, exact), 0) << "camera " << c.x << " " << c.y << " " << c.z;
    }
}

// An 8-bit colour target with 24 depth bits packed with stencil, the kind a
// window toolkit hands a widget; it replaces the window in this check.
struct ToolkitTarget {
    GLuint fb = 0, colour = 0, depth = 0;
    explicit ToolkitTarget(GLenum depthFormat) {
        glGenFramebuffers(1, &fb);
        glBindFramebuffer(GL_FRAMEBUFFER, fb);
        glGenRenderbuffers(1, &colour);
        glBindRenderbuffer(GL_RENDERBUFFER, colour);
        glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, W, H);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour);
        glGenRenderbuffers(1, &depth);
        glBindRenderbuffer(GL_RENDERBUFFER, depth);
        glRenderbufferStorage(GL_RENDERBUFFER, depthFormat, W, H);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER,
                                  depthFormat == GL_DEPTH24_STENCIL8 ? GL_DEPTH_STENCIL_ATTACHMENT : GL_DEPTH_ATTACHMENT,
                                  GL_RENDERBUFFER, depth);
    }
    bool complete() const { return glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE; }
    ~ToolkitTarget() {
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glDeleteFramebuffers(1, &fb);
        glDeleteRenderbuffers(1, &colour);
        glDeleteRenderbuffers(1, &depth);
    }
};

TEST_F(FarView, TheViewsOwnTargetIsDeepAndChangesNoPixel) {
    ToolkitTarget window(GL_DEPTH24_STENCIL8);
    ASSERT_TRUE(window.complete());
    DepthTarget target;
    for (const Camera& c : farCameras()) {
        glBindFramebuffer(GL_FRAMEBUFFER, window.fb);
        const ScreenBitmap direct = draw(c, 1.0);
        ASSERT_TRUE(target.bind(W, H));
        EXPECT_GE(target.depthBits(), 32);
        const ScreenBitmap inTarget = draw(c, 1.0);
        target.copyTo(window.fb);
        const ScreenBitmap copied = captureFramebuffer(W, H);
        EXPECT_EQ(differing(copied, inTarget), 0);
        // Where 24 bits still suffice, the picture is the toolkit's own.
        EXPECT_EQ(differing(copied, direct), 0);
        ASSERT_TRUE(target.bind(W, H));
        EXPECT_EQ(differing(inTarget, draw(c, 290.0)), 0);
    }
    target.release();
}

TEST_F(FarView, AShallowDepthBufferWouldShowTheFault) {
    // The checks above are only worth something if too little depth shows:
    // with 16 bits the same frames differ visibly.
    ToolkitTarget shallow(GL_DEPTH_COMPONENT16);
    ASSERT_TRUE(shallow.complete());
    int worst = 0;
    for (const Camera& c : farCameras()) worst = std::max(worst, differing(draw(c, 1.0), draw(c, 290.0)));
    EXPECT_GT(worst, 100);
}

}  // namespace
