#include "TestWorld.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "grid/Grid.h"
#include "scene/Camera.h"
#include "visibility/Frustum.h"

namespace gridcull::test {

WorldPtr MakeEmptyWorld() {
    WorldPtr w(NewWorld());
    if (!w || !AllocateWorldArrays(*w, {})) throw std::runtime_error("cannot allocate a test world");
    w->bOccluderFusion = w->bObjectMotion = 1, w->bRenderingDisabled = w->bExactVisibility = 0;
    w->iFrame = w->iDist = 0, w->iGridSize = kGridSize;
    std::memset(w->bFaceMarked, 0, sizeof w->bFaceMarked);
    std::memset(w->bFaceDone, 0, sizeof w->bFaceDone);
    for (int j = 0; j < kObjectCount; ++j) {
        SceneObject& o = w->disks[j];
        o.bInTemporalVolume = 0;
        o.fRadius = o.fBoundRadius = 0;
        // Far outside the grid: registers nowhere.
        o.fPosition[0] = o.fPosition[1] = o.fPosition[2] = -1000;
        o.fVelocity[0] = o.fVelocity[1] = o.fVelocity[2] = 0;
    }
    RebuildViewMatrix(*w);
    return w;
}

WorldPtr MakeSceneWorld() {
    WorldPtr w(NewWorld());
    if (!w || !SetupScene(*w, {})) throw std::runtime_error("cannot set up the scene");
    return w;
}

void PlaceDynamic(World& w, int j, float px, float py, float pz, float vx, float vy, float vz, float R) {
    SceneObject& o = w.disks[j];
    const float p[3] = {px, py, pz}, v[3] = {vx, vy, vz};
    std::copy(p, p + 3, o.fPosition), std::copy(v, v + 3, o.fVelocity);
    o.fRadius = o.fBoundRadius = R;
    o.fBounds[0] = o.fBounds[1] = o.fBounds[2] = 70;
    o.iCellCount = o.bInTemporalVolume = 0;
}

int GiveVolume(World& w, int j, float px, float py, float pz, float vx, float vy, float vz, float R, int start,
               int end) {
    PlaceDynamic(w, j, px, py, pz, vx, vy, vz, R);
    SceneObject& o = w.disks[j];
    std::copy(o.fPosition, o.fPosition + 3, o.fTbvOrigin);
    o.iTbvStartFrame = start, o.iTbvEndFrame = end;
    InsertTbv(w, j);
    o.bInTemporalVolume = 1;
    return static_cast<int>(o.fTbvHalfSize);
}

// Right = up x forward, normalised; up recomputed as forward x right.
void AimCamera(World& w, int x, int y, int z, float fx, float fy, float fz, float fov) {
    const float len = std::sqrt(fx * fx + fy * fy + fz * fz), f[3] = {fx / len, fy / len, fz / len};
    const bool upZ = std::fabs(f[1]) > 0.99f;  // right = up x forward, normalised
    const float rl = std::sqrt(upZ ? f[1] * f[1] + f[0] * f[0] : f[2] * f[2] + f[0] * f[0]);
    const float r[3] = {upZ ? -f[1] / rl : f[2] / rl, upZ ? f[0] / rl : 0, upZ ? 0 : -f[0] / rl};
    const float u[3] = {f[1] * r[2] - f[2] * r[1], f[2] * r[0] - f[0] * r[2], f[0] * r[1] - f[1] * r[0]};
    const float* columns[3] = {r, u, f};
    std::fill_n(w.fViewMatrix, 16, 0.0f);
    w.fViewMatrix[15] = 1;
    for (int k = 0; k < 3; ++k)
        for (int j = 0; j < 3; ++j) w.fViewMatrix[4 * k + j] = columns[j][k];
    w.fViewX = static_cast<float>(w.iViewCellX = x);
    w.fViewY = static_cast<float>(w.iViewCellY = y);
    w.fViewZ = static_cast<float>(w.iViewCellZ = z);
    w.fFov = fov;
    SetupFrustum(w);
}

::testing::AssertionResult FootprintsAgree(const World& w, int only) {
    const BitSet* bits[3] = {w.Txy, w.Tyz, w.Txz};
    const ColumnObjects* columns[3] = {w.TxyN, w.TyzN, w.TxzN};
    for (int p = 0; p < 3; ++p) {
        // Every column of j's outline bitset holds j, and the columns hold no
        // more entries than the bitsets have bits.
        long long bitCount = 0, entryCount = 0;
        for (int j = 0; j < kDynamicCount; ++j) {
            const int count = bits[p][j].Count();
            bitCount += count;
            const bool checked = only < 0 || j == only;
            if (count && !w.disks[j].bInTemporalVolume && checked)
                return ::testing::AssertionFailure() << "object " << j << ": plane " << p << " bits without a volume";
            for (int col = 0; checked && count && col < kColumnCount; ++col)
                if (bits[p][j].Test(static_cast<unsigned>(col)) && !(columns[p][col].iWord[j / 64] >> (j % 64) & 1))
                    return ::testing::AssertionFailure() << "plane " << p << " column " << col << " lacks " << j;
        }
        for (int col = 0; col < kColumnCount; ++col)
            for (std::uint64_t word : columns[p][col].iWord) entryCount += __builtin_popcountll(word);
        if (entryCount != bitCount)
            return ::testing::AssertionFailure() << "plane " << p << ": " << entryCount << " column entries, " << bitCount
                                                 << " outline bits";
    }
    return ::testing::AssertionSuccess();
}

int CellsHolding(const World& w, int j) {
    int n = 0;
    for (int c = 0; c < kCellCount; ++c) n += w.I[c].contains(j);
    return n;
}

}  // namespace gridcull::test
