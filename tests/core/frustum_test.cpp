#include "visibility/Frustum.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>

#include "TestWorld.h"

namespace gridcull {
namespace {

// A record without arrays: the frustum needs only the camera fields. The
// camera sits on cell centre (x, y, z) and looks along (fx, 0, fz), y up.
test::WorldPtr MakeFrustum(float fov, int x = 35, int y = 35, int z = 35, float fx = 0, float fz = 1) {
    test::WorldPtr w(NewWorld());
    const float len = std::sqrt(fx * fx + fz * fz);
    // Columns right, up, forward.
    const float m[16] = {fz / len, 0, fx / len, 0, 0, 1, 0, 0, -fx / len, 0, fz / len, 0, 0, 0, 0, 1};
    std::copy(m, m + 16, w->fViewMatrix);
    w->fViewX = static_cast<float>(w->iViewCellX = x);
    w->fViewY = static_cast<float>(w->iViewCellY = y);
    w->fViewZ = static_cast<float>(w->iViewCellZ = z);
    w->fFov = fov;
    w->fFarDist = kFarDist;
    SetupFrustum(*w);
    return w;
}

// Hit and miss pairs of the point test, as offsets from the viewpoint.
TEST(Frustum, PointTestAtExtremeFieldsOnPlanesAndWithPadding) {
    const float kDiag = std::sqrt(0.5f);
    const struct {
        float fov, fx, fz, in[3], out[3];
    } cases[] = {
        // 179 degrees: 89.4 degrees off the axis is inside, 89.7 is not.
        {179, 0, 1, {100, 0, 1}, {200, 0, 1}},
        {179, 0, 1, {0, -100, 1}, {0, -200, 1}},
        // 2 degrees: at distance 50 the section is 1.75 cells wide, plus padding.
        {2, 0, 1, {1, 0, 50}, {2, 0, 50}},
        {2, 0, 1, {0, 1, 50}, {0, -2, 50}},
        // Above 90 degrees the near plane passes through the viewpoint, which
        // therefore lies exactly on a plane, and outside.
        {90, 0, 1, {0, 0, 0.002f}, {0, 0, 0.0005f}},
        {91, 0, 1, {0, 0, 0.0005f}, {0, 0, 0}},
        // Side planes move out by half a cell along their normal: looking
        // along (-1, 0, 1) the +x plane's normal is the x axis (pad 0.5),
        // looking along z it is a face diagonal (pad 0.707).
        {90, -1, 1, {0.4f, 0, 10}, {0.6f, 0, 10}},
        {90, 0, 1, {10 + 0.69f * kDiag, 0, 10 - 0.69f * kDiag}, {10 + 0.72f * kDiag, 0, 10 - 0.72f * kDiag}},
    };
    for (const auto& c : cases) {
        test::WorldPtr w = MakeFrustum(c.fov, 35, 35, 35, c.fx, c.fz);
        const float in[3] = {35 + c.in[0], 35 + c.in[1], 35 + c.in[2]};
        const float out[3] = {35 + c.out[0], 35 + c.out[1], 35 + c.out[2]};
        FrustumClamp clamp;
        EXPECT_EQ(PointInFrustum(*w, in, clamp), 1) << "fov " << c.fov << " at " << c.in[0] << "," << c.in[2];
        EXPECT_EQ(PointInFrustum(*w, out, clamp), 0) << "fov " << c.fov << " at " << c.out[0] << "," << c.out[2];
    }
}

TEST(Frustum, PointClampingNamesTheGridBoundary) {
    test::WorldPtr w = MakeFrustum(90, 10, 20, 30);
    FrustumClamp clamp;
    const float onGrid[3] = {0.0f, 69.0f, 35.0f}, beyond[3] = {-0.5f, 69.5f, 35.0f};
    // Flags: any axis, then x, y and z.
    auto outside = [&](const float* p) {
        PointInFrustum(*w, p, clamp);
        return std::array<int, 4>{clamp.iAnyOutside, clamp.iOutside[0], clamp.iOutside[1], clamp.iOutside[2]};
    };
    EXPECT_EQ(outside(onGrid), (std::array<int, 4>{0, 0, 0, 0}));
    EXPECT_EQ(outside(beyond), (std::array<int, 4>{1, 1, 1, 0}));
    EXPECT_EQ(clamp.fClamp[0], -10.0f);  // grid 0, as an offset from the viewpoint cell
    EXPECT_EQ(clamp.fClamp[1], 49.0f);   // grid 69
}

TEST(Frustum, RayStopsAtTheFirstPlaneItCrosses) {
    test::WorldPtr w = MakeFrustum(90);
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

    // From a point outside the frustum the crossing and the point one unit
    // before it are outside too: the result is the origin, and the clamping
    // describes the origin (grid x = 75).
    const float outside[3] = {40, 0, 10};
    FrustumRayHit(*w, result, outside, up, clamp);
    EXPECT_EQ((std::array<float, 3>{result[0], result[1], result[2]}), (std::array<float, 3>{40, 0, 10}));
    EXPECT_EQ(clamp.iOutside[0], 1);
    EXPECT_EQ(clamp.fClamp[0], 34.0f);
}

}  // namespace
}  // namespace gridcull
