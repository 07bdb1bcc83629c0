#include "Paths.h"

#include <random>

#include "scene/World.h"

namespace gridcull::bench {

namespace {

constexpr int kStartCell = 35;
constexpr int kStartFrames = 100;
constexpr int kRandomFrames = 1000;

// One axis of the sweep: up to the +face, down to the -face, back to the start.
std::string SweepAxis(char minus, char plus) {
    const int top = kGridSize - 1;
    return std::string(top - kStartCell, plus) + std::string(top, minus) + std::string(kStartCell, plus);
}

std::string SweepCycle() { return SweepAxis('x', 'X') + SweepAxis('y', 'Y') + SweepAxis('z', 'Z'); }

}  // namespace

int PathLength(PathKind path) {
    switch (path) {
        case PathKind::kOrbit:
            return 360;
        case PathKind::kSweep:
            return 1 + static_cast<int>(SweepCycle().size());
        case PathKind::kRandom:
            return kRandomFrames;
        case PathKind::kStart:
            break;
    }
    return kStartFrames;
}

std::string PathKeys(PathKind path, int frames, unsigned seed) {
    std::string keys(frames > 0 ? frames : 0, '.');
    if (keys.empty()) return keys;
    switch (path) {
        case PathKind::kStart:
            break;
        case PathKind::kOrbit:
            for (int k = 1; k < frames; ++k) keys[k] = '7';
            break;
        case PathKind::kSweep: {
            const std::string cycle = SweepCycle();
            for (int k = 1; k < frames; ++k) keys[k] = cycle[(k - 1) % cycle.size()];
            break;
        }
        case PathKind::kRandom: {
            // mt19937 is fixed by the standard; the distributions are not, so
            // the key is taken by a plain modulo.
            static const char kRandomKeys[] = "xXyYzZ56789012";
            constexpr unsigned kKeyCount = sizeof kRandomKeys - 1;
            std::mt19937 random(seed);
            for (int k = 1; k < frames; ++k) keys[k] = kRandomKeys[random() % kKeyCount];
            break;
        }
    }
    return keys;
}

}  // namespace gridcull::bench
