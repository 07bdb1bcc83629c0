#include "visibility/Frustum.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace gridcull {
namespace {

struct WorldDeleter {
    void operator()(World* w) const { DeleteWorld(w); }
};
using WorldPtr = std::unique_ptr<World, WorldDeleter>;

// A record without arrays: the frustum needs only the camera fields. The
// camera sits on cell centre (x, y, z) and looks along forward, y up.
WorldPtr MakeFrustum(float fov, float x = 35, float y = 35, float z = 35, float fx = 0, float fy = 0, float fz = 1) {
    WorldPtr w(NewWorld());
    const float len = std::sqrt(fx * fx + fy * fy + fz * fz);
    const float f[3] = {fx / len, fy / len, fz / len};
    // right = up x forward with up = y, normalised; columns: right, up, forward
    float r[3] = {f[2], 0, -f[0]};
    const float rl = std::sqrt(r[0] * r[0] + r[2] * r[2]);
    r[0] /= rl;
    r[2] /= rl;
    const float u[3] = {f[1] * r[2] - f[2] * r[1], f[2] * r[0] - f[0] * r[2], f[0] * r[1] - f[1] * r[0]};
    float* m = w->fViewMatrix;
    for (int i = 0; i < 16; ++i) m[i] = 0;
    for (int k = 0; k < 3; ++k) {
        m[4 * k] = r[k];
        m[4 * k + 1] = u[k];
        m[4 * k + 2] = f[k];
    }
    m[15] = 1;
    w->fViewX = x;
    w->fViewY = y;
    w->fViewZ = z;
    w->iViewCellX = static_cast<int>(x);
    w->iViewCellY = static_cast<int>(y);
    w->iViewCellZ = static_cast<int>(z);
    w->fFov = fov;
    w->fFarDist = kFarDist;
    SetupFrustum(*w);
    return w;
}

// Point test at an offset from the viewpoint.
int Inside(const World& w, float dx, float dy, float dz) {
    const float p[3] = {w.fViewX + dx, w.fViewY + dy, w.fViewZ + dz};
    FrustumClamp clamp;
    return PointInFrustum(w, p, clamp);
}

constexpr double kPi = 3.14159265358979323846;

TEST(Frustum, FarRectangleFromNarrowToWideField) {
    WorldPtr w90 = MakeFrustum(90);
    const float n = kFarDist;
    const float expected[4][2] = {{-n, -n}, {n, n}, {n, -n}, {-n, n}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(w90->fFarCorner[i][0], 35 + expected[i][0], 1e-3f) << "corner " << i;
        EXPECT_NEAR(w90->fFarCorner[i][1], 35 + expected[i][1], 1e-3f) << "corner " << i;
        EXPECT_NEAR(w90->fFarCorner[i][2], 35 + n, 1e-3f) << "corner " << i;
    }

    // 179 degrees: over a hundred times wider, and the tests still separate
    // a point at 89.4 degrees off the axis from one at 89.7.
    WorldPtr w179 = MakeFrustum(179);
    const double half = std::tan(89.5 * kPi / 180) * n;
    EXPECT_GT(half, 100.0 * n);
    EXPECT_NEAR(w179->fFarCorner[1][0] - 35, half, half * 1e-5);
    EXPECT_EQ(Inside(*w179, 100, 0, 1), 1);
    EXPECT_EQ(Inside(*w179, 200, 0, 1), 0);
    EXPECT_EQ(Inside(*w179, 0, -100, 1), 1);
    EXPECT_EQ(Inside(*w179, 0, -200, 1), 0);

    // 2 degrees: at distance 50 the section is 1.75 cells wide, plus padding.
    WorldPtr w2 = MakeFrustum(2);
    EXPECT_EQ(Inside(*w2, 1, 0, 50), 1);
    EXPECT_EQ(Inside(*w2, 2, 0, 50), 0);
    EXPECT_EQ(Inside(*w2, 0, 1, 50), 1);
    EXPECT_EQ(Inside(*w2, 0, -2, 50), 0);
    EXPECT_EQ(Inside(*w2, 0, 0, -50), 0);
}

TEST(Frustum, NearPlaneAndPointsOnAPlane) {
    WorldPtr w90 = MakeFrustum(90);
    EXPECT_EQ(Inside(*w90, 0, 0, 0.0005f), 0);
    EXPECT_EQ(Inside(*w90, 0, 0, 0.002f), 1);
    WorldPtr w91 = MakeFrustum(91);
    EXPECT_EQ(Inside(*w91, 0, 0, 0.0005f), 1);
    // Above 90 degrees the near plane passes through the viewpoint, which is
    // therefore exactly on a plane, and outside.
    EXPECT_EQ(Inside(*w91, 0, 0, 0), 0);
}

TEST(Frustum, SidePlanesArePaddedByHalfACellAlongTheirNormal) {
    // Looking along (-1, 0, 1) at 90 degrees, the +x side plane is x = 35.
    WorldPtr axis = MakeFrustum(90, 35, 35, 35, -1, 0, 1);
    EXPECT_NEAR(axis->fFrustumPlane[0][0], 1.0f, 1e-6f);
    EXPECT_EQ(Inside(*axis, 0.4f, 0, 10), 1);
    EXPECT_EQ(Inside(*axis, 0.6f, 0, 10), 0);

    // Looking along z, its normal is a face diagonal: the padding is 0.707.
    WorldPtr diagonal = MakeFrustum(90);
    const float k = std::sqrt(0.5f);
    EXPECT_EQ(Inside(*diagonal, 10 + 0.69f * k, 0, 10 - 0.69f * k), 1);
    EXPECT_EQ(Inside(*diagonal, 10 + 0.72f * k, 0, 10 - 0.72f * k), 0);
}

TEST(Frustum, PointClampingNamesTheGridBoundary) {
    WorldPtr w = MakeFrustum(90, 10, 20, 30);
    FrustumClamp clamp;
    const float onGrid[3] = {0.0f, 69.0f, 35.0f};
    PointInFrustum(*w, onGrid, clamp);
    EXPECT_EQ(clamp.iAnyOutside, 0);
    EXPECT_EQ(clamp.iOutside[0] + clamp.iOutside[1] + clamp.iOutside[2], 0);

    const float beyond[3] = {-0.5f, 69.5f, 35.0f};
    PointInFrustum(*w, beyond, clamp);
    EXPECT_EQ(clamp.iAnyOutside, 1);
    EXPECT_EQ(clamp.iOutside[0], 1);
    EXPECT_EQ(clamp.iOutside[1], 1);
    EXPECT_EQ(clamp.iOutside[2], 0);
    EXPECT_EQ(clamp.fClamp[0], -10.0f);  // grid 0, as an offset from the viewpoint cell
    EXPECT_EQ(clamp.fClamp[1], 49.0f);   // grid 69
}

TEST(Frustum, RayStopsAtTheFirstPlaneItCrosses) {
    WorldPtr w = MakeFrustum(90);
    float result[3];
    FrustumClamp clamp;
    // Along +y the ray is parallel to both x side planes; it leaves through
    // the +y plane, padded to y = z + 1.
    const float origin[3] = {0, 0, 10}, up[3] = {0, 1, 0};
    FrustumRayHit(*w, result, origin, up, clamp);
    EXPECT_EQ(result[0], 0.0f);
    EXPECT_NEAR(result[1], 11.0f, 1e-3f);
    EXPECT_EQ(result[2], 10.0f);
    EXPECT_EQ(clamp.iAnyOutside, 0);

    // From a point outside the frustum the ray's crossing and the point one
    // unit before it are outside too: the result is the origin, and the
    // clamping describes the origin (grid x = 75).
    const float outside[3] = {40, 0, 10};
    FrustumRayHit(*w, result, outside, up, clamp);
    EXPECT_EQ(result[0], 40.0f);
    EXPECT_EQ(result[1], 0.0f);
    EXPECT_EQ(result[2], 10.0f);
    EXPECT_EQ(clamp.iOutside[0], 1);
    EXPECT_EQ(clamp.fClamp[0], 34.0f);
    EXPECT_EQ(clamp.iOutside[1], 0);

    // A crossing beyond the grid keeps its coordinate relative to the view
    // position and is clamped to the boundary row.
    WorldPtr high = MakeFrustum(90, 35, 60, 35);
    FrustumRayHit(*high, result, origin, up, clamp);
    EXPECT_NEAR(result[1], 11.0f, 1e-3f);
    EXPECT_EQ(clamp.iOutside[1], 1);
    EXPECT_EQ(clamp.fClamp[1], 9.0f);

    // A ray along the view axis never leaves the open far end.
    const float ahead[3] = {0, 0, 1};
    FrustumRayHit(*w, result, origin, ahead, clamp);
    EXPECT_GT(result[2], 1e30f);
    EXPECT_EQ(clamp.iOutside[2], 1);
    EXPECT_EQ(clamp.fClamp[2], 34.0f);
}

TEST(Frustum, AxisRunEndsAtCornerFrustumOrGrid) {
    WorldPtr w = MakeFrustum(90, 35, 60, 35);
    AxisRunEnd end;
    const int row[3] = {0, 0, 5};
    // The corner (0, -5, 5) is inside: the run ends there.
    FindAxisRunEnd(*w, row, 1, -5, -1, end);
    EXPECT_EQ(end.iCorner, 1);
    EXPECT_EQ(end.iClamped, 0);
    EXPECT_EQ(end.iLimit, -5);
    // Looking along x at 60 degrees, the -y plane padded by 0.683 along its
    // normal lies at |y| = (0.683 + x / 2) / 0.866: 2.52 at x = 3, 6.56 at 10.
    WorldPtr side = MakeFrustum(60, 35, 35, 35, 1, 0, 0);
    const int close[3] = {3, 0, 0};
    FindAxisRunEnd(*side, close, 1, -6, -1, end);
    EXPECT_EQ(end.iCorner, 0);
    EXPECT_EQ(end.iClamped, 0);
    EXPECT_EQ(end.iLimit, -2);  // truncated toward zero
    const int ahead[3] = {10, 0, 0};
    FindAxisRunEnd(*side, ahead, 1, -6, -1, end);
    EXPECT_EQ(end.iCorner, 1);
    EXPECT_EQ(end.iLimit, -6);
    // Beyond the grid the run ends at the boundary: grid y 69 is offset 9.
    const int up[3] = {0, 0, 20};
    FindAxisRunEnd(*w, up, 1, 20, +1, end);
    EXPECT_EQ(end.iCorner, 1);
    EXPECT_EQ(end.iClamped, 1);
    EXPECT_EQ(end.iLimit, 9);
}

}  // namespace
}  // namespace gridcull
