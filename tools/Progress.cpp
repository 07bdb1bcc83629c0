#include "Progress.h"

#include <unistd.h>

#include <cstdio>

namespace gridcull::bench {

namespace {

// Short runs finish before a progress line would help.
constexpr int kMinFrames = 50;
constexpr double kRedrawSeconds = 0.25;

}  // namespace

Progress::Progress(const std::string& label, int total)
    : label_(label), iTotal_(total), bActive_(total >= kMinFrames && isatty(STDERR_FILENO)) {
    start_ = lastDraw_ = Clock::now();
}

void Progress::Update(int done) {
    if (!bActive_) return;
    const Clock::time_point now = Clock::now();
    if (done < iTotal_ && std::chrono::duration<double>(now - lastDraw_).count() < kRedrawSeconds) return;
    lastDraw_ = now;
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    const double rate = elapsed > 0 ? done / elapsed : 0;
    const double left = rate > 0 ? (iTotal_ - done) / rate : 0;
    std::fprintf(stderr, "\r%s: %d/%d frames  %.1f frames/s  %.0f s left   ", label_.c_str(), done, iTotal_, rate,
                 left);
    std::fflush(stderr);
}

Progress::~Progress() {
    if (bActive_) std::fputs("\r\033[K", stderr);
}

}  // namespace gridcull::bench
