#include "render/VisibleSets.h"

#include <cstring>

#include "render/IdColor.h"
#include "grid/Grid.h"

namespace gridcull {

bool ReachesIntoGrid(const SceneObject& o) {
    for (int k = 0; k < 3; ++k) {
        const float p = o.fPosition[k], r = o.fBoundRadius;
        if (RoundHalfAway(p + r) < 0 || RoundHalfAway(p - r) > kGridSize - 1) return false;
    }
    return true;
}

bool ViewCellIsSolid(const World& world) {
    const int cell[3] = {world.iViewCellX, world.iViewCellY, world.iViewCellZ};
    for (int k = 0; k < 3; ++k)
        if (cell[k] < 0 || cell[k] >= kGridSize) return false;
    if (world.Os.Test(static_cast<unsigned>(CellIndex(cell[0], cell[1], cell[2])))) return true;
    for (int j = 0; j < kDynamicCount; ++j) {
        const SceneObject& o = world.disks[j];
        const double r2 = o.fRadius * o.fRadius;  // as registration rounds it
        // The corner farthest from the centre decides: all eight are within
        // the sphere exactly when it is.
        double far2 = 0;
        for (int k = 0; k < 3; ++k) {
            const float d = cell[k] - o.fPosition[k];
            const double e = d >= 0 ? d + 0.5 : d - 0.5;
            far2 += e * e;
        }
        if (far2 <= r2) return true;
    }
    return false;
}

int MarkSeenRgba(const unsigned char* rgba, int pixels, unsigned char* seen) {
    std::memset(seen, 0, kObjectCount);
    for (int k = 0; k < pixels; ++k) {
        const unsigned char* p = rgba + 4 * k;
        const int n = DecodeIdColor(p[0], p[1], p[2]);
        if (n < kObjectCount) seen[n] = 1;
    }
    int count = 0;
    for (int n = 0; n < kObjectCount; ++n) count += seen[n] != 0;
    return count;
}

int CountMisses(const unsigned char* truth, const unsigned char* found) {
    int misses = 0;
    for (int n = 0; n < kObjectCount; ++n) misses += truth[n] && !found[n];
    return misses;
}

}  // namespace gridcull
