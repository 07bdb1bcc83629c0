// Object indices as colours for the exact-visibility read-back. GL-free, so
// the encoding and the decoding of the read-back planes are tested without a
// window.
#pragma once

#include <cstring>

#include "scene/World.h"

namespace gridcull {

inline void EncodeIdColor(int n, unsigned char rgb[3]) {
    rgb[0] = static_cast<unsigned char>((n >> 16) & 255);
    rgb[1] = static_cast<unsigned char>((n >> 8) & 255);
    rgb[2] = static_cast<unsigned char>(n & 255);
}

constexpr int DecodeIdColor(unsigned char r, unsigned char g, unsigned char b) { return r * 65536 + g * 256 + b; }

// Backdrop of the identifier pass. Black would decode to object 0; every
// object index fits in green and blue, so a red of 1 is never an object and
// still looks black.
constexpr unsigned char kIdBackdrop[3] = {1, 0, 0};
static_assert(DecodeIdColor(kIdBackdrop[0], kIdBackdrop[1], kIdBackdrop[2]) >= kObjectCount,
              "the identifier backdrop must not decode to an object");

// Rebuilds seen[0..kObjectCount) from the three read-back planes: an object
// is seen when at least one pixel carries its index. Values of kObjectCount
// and above (the backdrop, anything not drawn by the pass) are ignored.
// Returns the number of objects seen.
inline int MarkSeenObjects(const unsigned char* r, const unsigned char* g, const unsigned char* b, int pixels,
                           unsigned char* seen) {
    std::memset(seen, 0, kObjectCount);
    for (int k = 0; k < pixels; ++k) {
        const int n = DecodeIdColor(r[k], g[k], b[k]);
        if (n < kObjectCount) seen[n] = 1;
    }
    int count = 0;
    for (int n = 0; n < kObjectCount; ++n) count += seen[n] != 0;
    return count;
}

}  // namespace gridcull
