#include "view/offscreen.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

std::string eglErrorText(const char* what) {
    char buf[128];
    std::snprintf(buf, sizeof buf, "%s (EGL error 0x%04X)", what, unsigned(eglGetError()));
    return buf;
}

bool hasExtension(const char* list, const char* name) {
    if (!list) return false;
    const size_t n = std::strlen(name);
    for (const char* p = list; (p = std::strstr(p, name)) != nullptr; p += n)
        if ((p == list || p[-1] == ' ') && (p[n] == ' ' || p[n] == '\0')) return true;
    return false;
}

// One display for the process. EGL reference-counts nothing, so terminating
// it while another context lives would pull the ground from under that one;
// it is therefore initialised once and left to process exit.
EGLDisplay sharedDisplay(std::string& error) {
    static std::once_flag once;
    static EGLDisplay display = EGL_NO_DISPLAY;
    static std::string initError;
    std::call_once(once, [] {
        const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
        if (!hasExtension(clientExtensions, "EGL_MESA_platform_surfaceless")) {
            initError = "the EGL library offers no surfaceless platform";
            return;
        }
        auto getPlatformDisplay =
            reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
        if (!getPlatformDisplay) {
            initError = "eglGetPlatformDisplayEXT is missing";
            return;
        }
        EGLDisplay d = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        EGLint major = 0, minor = 0;
        if (d == EGL_NO_DISPLAY || !eglInitialize(d, &major, &minor)) {
            initError = eglErrorText("cannot initialise the surfaceless EGL display");
            return;
        }
        display = d;
    });
    if (display == EGL_NO_DISPLAY) error = "ChoosePixelFormat failed: " + initError;
    return display;
}

}  // namespace

std::unique_ptr<OffscreenContext> OffscreenContext::create(int width, int height, std::string& error) {
    if (width <= 0 || height <= 0) {
        error = "SetPixelFormat failed: the surface size must be positive";
        return nullptr;
    }
    EGLDisplay display = sharedDisplay(error);
    if (display == EGL_NO_DISPLAY) return nullptr;

    // The deepest depth buffer on offer: a 24-bit one makes distant parts
    // fight with the squares 0.025 in front of their faces. EGL sorts the
    // matches with the smallest sufficient depth first, so asking for 32
    // bits, then 24, keeps the same colour format either way.
    EGLConfig config = nullptr;
    EGLint count = 0;
    for (EGLint depth : {32, 24}) {
        const EGLint configAttributes[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                                           EGL_RED_SIZE,     8,               EGL_GREEN_SIZE,      8,
                                           EGL_BLUE_SIZE,    8,               EGL_DEPTH_SIZE,      depth,
                                           EGL_NONE};
        if (eglChooseConfig(display, configAttributes, &config, 1, &count) && count >= 1) break;
        count = 0;
    }
    if (count < 1) {
        error = "ChoosePixelFormat failed: no EGL configuration with 24 colour bits and a depth buffer";
        return nullptr;
    }
    if (!eglBindAPI(EGL_OPENGL_API)) {
        error = eglErrorText("SetPixelFormat failed: desktop OpenGL is not available");
        return nullptr;
    }
    const EGLint surfaceAttributes[] = {EGL_WIDTH, width, EGL_HEIGHT, height, EGL_NONE};
    EGLSurface surface = eglCreatePbufferSurface(display, config, surfaceAttributes);
    if (surface == EGL_NO_SURFACE) {
        error = eglErrorText("SetPixelFormat failed: cannot create the off-screen surface");
        return nullptr;
    }
    EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, nullptr);
    if (context == EGL_NO_CONTEXT) {
        error = eglErrorText("SetPixelFormat failed: cannot create the OpenGL context");
        eglDestroySurface(display, surface);
        return nullptr;
    }
    std::unique_ptr<OffscreenContext> c(new OffscreenContext);
    c->display_ = display;
    c->surface_ = surface;
    c->context_ = context;
    c->width_ = width;
    c->height_ = height;
    if (!c->makeCurrent()) {
        error = eglErrorText("SetPixelFormat failed: cannot make the OpenGL context current");
        return nullptr;
    }
    return c;
}

OffscreenContext::~OffscreenContext() {
    if (eglGetCurrentContext() == context_) eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (context_) eglDestroyContext(display_, context_);
    if (surface_) eglDestroySurface(display_, surface_);
}

bool OffscreenContext::makeCurrent() {
    return eglMakeCurrent(display_, surface_, surface_, context_) == EGL_TRUE;
}
