#include "OffscreenGl.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdio>

namespace gridcull::bench {

namespace {

// Framebuffer objects are core since GL 3.0 but not exported by every GL
// library's ABI; they are looked up through EGL.
struct FboFunctions {
    PFNGLGENFRAMEBUFFERSPROC GenFramebuffers;
    PFNGLBINDFRAMEBUFFERPROC BindFramebuffer;
    PFNGLDELETEFRAMEBUFFERSPROC DeleteFramebuffers;
    PFNGLGENRENDERBUFFERSPROC GenRenderbuffers;
    PFNGLBINDRENDERBUFFERPROC BindRenderbuffer;
    PFNGLDELETERENDERBUFFERSPROC DeleteRenderbuffers;
    PFNGLRENDERBUFFERSTORAGEPROC RenderbufferStorage;
    PFNGLFRAMEBUFFERRENDERBUFFERPROC FramebufferRenderbuffer;
    PFNGLCHECKFRAMEBUFFERSTATUSPROC CheckFramebufferStatus;
};

template <typename Fn>
bool Load(Fn& fn, const char* name) {
    fn = reinterpret_cast<Fn>(eglGetProcAddress(name));
    return fn != nullptr;
}

bool LoadFboFunctions(FboFunctions& f) {
    return Load(f.GenFramebuffers, "glGenFramebuffers") && Load(f.BindFramebuffer, "glBindFramebuffer") &&
           Load(f.DeleteFramebuffers, "glDeleteFramebuffers") && Load(f.GenRenderbuffers, "glGenRenderbuffers") &&
           Load(f.BindRenderbuffer, "glBindRenderbuffer") && Load(f.DeleteRenderbuffers, "glDeleteRenderbuffers") &&
           Load(f.RenderbufferStorage, "glRenderbufferStorage") &&
           Load(f.FramebufferRenderbuffer, "glFramebufferRenderbuffer") &&
           Load(f.CheckFramebufferStatus, "glCheckFramebufferStatus");
}

FboFunctions gFbo;

std::string EglError(const char* what) {
    char text[96];
    std::snprintf(text, sizeof text, "%s failed (EGL error 0x%04x)", what, static_cast<unsigned>(eglGetError()));
    return text;
}

}  // namespace

bool OffscreenGl::Create(int size, std::string& error) {
    auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    EGLDisplay display = EGL_NO_DISPLAY;
    if (getPlatformDisplay) display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (display == EGL_NO_DISPLAY) {
        error = "no EGL display on the surfaceless platform (is Mesa's EGL installed?)";
        return false;
    }
    EGLint major = 0, minor = 0;
    if (!eglInitialize(display, &major, &minor)) {
        error = EglError("eglInitialize");
        return false;
    }
    pDisplay_ = display;
    if (!eglBindAPI(EGL_OPENGL_API)) {
        error = EglError("eglBindAPI(OpenGL)");
        return false;
    }
    // No attributes: a compatibility-profile context, which keeps the fixed
    // function pipeline the drawing uses.
    EGLContext context = eglCreateContext(display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, nullptr);
    if (context == EGL_NO_CONTEXT) {
        error = EglError("eglCreateContext");
        return false;
    }
    pContext_ = context;
    if (!eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
        error = EglError("eglMakeCurrent without a surface");
        return false;
    }
    if (!LoadFboFunctions(gFbo)) {
        error = "the OpenGL context has no framebuffer objects";
        return false;
    }
    gFbo.GenFramebuffers(1, &uFramebuffer_);
    gFbo.BindFramebuffer(GL_FRAMEBUFFER, uFramebuffer_);
    gFbo.GenRenderbuffers(2, uRenderbuffers_);
    const GLenum formats[2] = {GL_RGBA8, GL_DEPTH_COMPONENT24};
    const GLenum attachments[2] = {GL_COLOR_ATTACHMENT0, GL_DEPTH_ATTACHMENT};
    for (int i = 0; i < 2; ++i) {
        gFbo.BindRenderbuffer(GL_RENDERBUFFER, uRenderbuffers_[i]);
        gFbo.RenderbufferStorage(GL_RENDERBUFFER, formats[i], size, size);
        gFbo.FramebufferRenderbuffer(GL_FRAMEBUFFER, attachments[i], GL_RENDERBUFFER, uRenderbuffers_[i]);
    }
    if (gFbo.CheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        error = "the offscreen framebuffer of " + std::to_string(size) + " pixels is incomplete";
        return false;
    }
    glDrawBuffer(GL_COLOR_ATTACHMENT0);
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    iSize_ = size;
    return true;
}

std::string OffscreenGl::Renderer() const {
    const GLubyte* renderer = glGetString(GL_RENDERER);
    return renderer ? reinterpret_cast<const char*>(renderer) : "unknown";
}

OffscreenGl::~OffscreenGl() {
    if (!pDisplay_) return;
    EGLDisplay display = static_cast<EGLDisplay>(pDisplay_);
    if (uFramebuffer_) {
        gFbo.BindFramebuffer(GL_FRAMEBUFFER, 0);
        gFbo.DeleteRenderbuffers(2, uRenderbuffers_);
        gFbo.DeleteFramebuffers(1, &uFramebuffer_);
    }
    eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (pContext_) eglDestroyContext(display, static_cast<EGLContext>(pContext_));
    eglTerminate(display);
}

}  // namespace gridcull::bench
