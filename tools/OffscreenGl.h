// An OpenGL context without a window: EGL on Mesa's surfaceless platform, so
// no X server or display is needed, drawing into one framebuffer object.
#pragma once

#include <string>

namespace gridcull::bench {

class OffscreenGl {
public:
    OffscreenGl() = default;
    OffscreenGl(const OffscreenGl&) = delete;
    OffscreenGl& operator=(const OffscreenGl&) = delete;
    ~OffscreenGl();

    // A compatibility-profile context made current, with a bound framebuffer
    // of size x size pixels: RGBA8 colour and a depth buffer. On failure
    // returns false with the reason, and nothing is left current.
    bool Create(int size, std::string& error);
    int Size() const { return iSize_; }
    std::string Renderer() const;

private:
    void* pDisplay_ = nullptr;
    void* pContext_ = nullptr;
    unsigned uFramebuffer_ = 0;
    unsigned uRenderbuffers_[2] = {0, 0};
    int iSize_ = 0;
};

}  // namespace gridcull::bench
