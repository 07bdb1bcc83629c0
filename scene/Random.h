// The scene's own pseudo-random generator. The platform's rand() differs
// between C libraries, and every object of the scene depends on the exact
// sequence, so the generator is part of the program.
#pragma once

#include <cstdint>

namespace gridcull {

constexpr std::uint32_t kRandomSeed = 1;

// Advances state and returns a value in 0..32767.
inline int NextRandom(std::uint32_t& state) {
    state = state * 214013u + 2531011u;
    return static_cast<int>((state >> 16) & 32767u);
}

}  // namespace gridcull
