#include "view/depth_target.h"

#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdio>
#include <initializer_list>

namespace {
bool hasFramebufferObjects() {
    const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    int major = 1, minor = 0;
    if (version) std::sscanf(version, "%d.%d", &major, &minor);
    return major >= 3;
}
}  // namespace

DepthTarget::~DepthTarget() { release(); }

void DepthTarget::release() {
    if (framebuffer_) glDeleteFramebuffers(1, &framebuffer_);
    if (colour_) glDeleteRenderbuffers(1, &colour_);
    if (depth_) glDeleteRenderbuffers(1, &depth_);
    framebuffer_ = colour_ = depth_ = 0;
    width_ = height_ = depthBits_ = 0;
}

bool DepthTarget::bind(int width, int height) {
    if (failed_ || width <= 0 || height <= 0) return false;
    if (framebuffer_ && width == width_ && height == height_) {
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
        return true;
    }
    release();
    if (!hasFramebufferObjects()) {
        failed_ = true;
        return false;
    }
    GLint previous = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &previous);
    glGenFramebuffers(1, &framebuffer_);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glGenRenderbuffers(1, &colour_);
    glBindRenderbuffer(GL_RENDERBUFFER, colour_);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour_);
    glGenRenderbuffers(1, &depth_);
    glBindRenderbuffer(GL_RENDERBUFFER, depth_);
    for (GLenum format : {GLenum(GL_DEPTH_COMPONENT32), GLenum(GL_DEPTH_COMPONENT32F), GLenum(GL_DEPTH_COMPONENT24)}) {
        while (glGetError() != GL_NO_ERROR) {
        }
        glRenderbufferStorage(GL_RENDERBUFFER, format, width, height);
        if (glGetError() != GL_NO_ERROR) continue;
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth_);
        if (glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE) {
            GLint bits = 0;
            glGetRenderbufferParameteriv(GL_RENDERBUFFER, GL_RENDERBUFFER_DEPTH_SIZE, &bits);
            depthBits_ = bits;
            break;
        }
    }
    glBindRenderbuffer(GL_RENDERBUFFER, 0);
    if (depthBits_ == 0) {
        glBindFramebuffer(GL_FRAMEBUFFER, GLuint(previous));
        release();
        failed_ = true;
        return false;
    }
    width_ = width;
    height_ = height;
    return true;
}

void DepthTarget::copyTo(uint32_t target) {
    if (!framebuffer_) return;
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer_);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, target);
    glBlitFramebuffer(0, 0, width_, height_, 0, 0, width_, height_, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    glBindFramebuffer(GL_FRAMEBUFFER, target);
}
