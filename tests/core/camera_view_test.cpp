#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "TestWorld.h"
#include "render/CameraView.h"
#include "scene/Camera.h"
#include "visibility/Frustum.h"

namespace gridcull {
namespace {

double Length(const double v[3]) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

// |a x b| / (|a| |b|): 0 when parallel, 1 when perpendicular.
double SinBetween(const double a[3], const double b[3]) {
    const double c[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
    return Length(c) / (Length(a) * Length(b));
}

// The image is the culled frustum when the image's up lies along one side of
// the frustum's far rectangle (corners 0-2, 2-1, 1-3, 3-0) and across the
// view direction.
TEST(CameraView, ImageUpFollowsTheFrustumForEveryAngle) {
    test::WorldPtr world(NewWorld());
    const float angles[][3] = {{0, 0, 0},   {0, 0, 45},  {0, 0, 90},     {0, 0, 301}, {90, 0, 0},
                               {270, 0, 0}, {90, 0, 30}, {33, 217, 301}, {0, 90, 10}};
    for (const auto& a : angles) {
        SCOPED_TRACE(testing::Message() << "roll " << a[0] << " yaw " << a[1] << " pitch " << a[2]);
        world->fRoll = a[0], world->fYaw = a[1], world->fPitch = a[2];
        RebuildViewMatrix(*world);
        SetupFrustum(*world);
        const LookAt v = CameraLookAt(*world);

        const double dir[3] = {v.centre[0] - v.eye[0], v.centre[1] - v.eye[1], v.centre[2] - v.eye[2]};
        const double axis[3] = {world->fViewMatrix[2], world->fViewMatrix[6], world->fViewMatrix[10]};
        EXPECT_LT(SinBetween(dir, axis), 1e-4);
        EXPECT_NEAR(Length(v.up), 1.0, 1e-5);
        EXPECT_NEAR(SinBetween(v.up, dir), 1.0, 1e-5);

        const float(*c)[3] = world->fFarCorner;
        const double side02[3] = {c[2][0] - c[0][0], c[2][1] - c[0][1], c[2][2] - c[0][2]};
        const double side21[3] = {c[1][0] - c[2][0], c[1][1] - c[2][1], c[1][2] - c[2][2]};
        EXPECT_LT(std::min(SinBetween(v.up, side02), SinBetween(v.up, side21)), 1e-4);
    }
}

}  // namespace
}  // namespace gridcull
