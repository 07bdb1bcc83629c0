#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "render/CameraView.h"
#include "scene/Camera.h"
#include "visibility/Frustum.h"

namespace gridcull {
namespace {

struct WorldDeleter {
    void operator()(World* w) const { DeleteWorld(w); }
};

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
    std::unique_ptr<World, WorldDeleter> world(NewWorld());
    const float angles[][3] = {
        {0, 0, 0},   {0, 0, 45},  {0, 0, 90},     {0, 0, 301}, {90, 0, 0},
        {270, 0, 0}, {90, 0, 30}, {33, 217, 301}, {0, 90, 10},
    };
    for (const auto& a : angles) {
        SCOPED_TRACE(testing::Message() << "roll " << a[0] << " yaw " << a[1] << " pitch " << a[2]);
        world->fRoll = a[0];
        world->fYaw = a[1];
        world->fPitch = a[2];
        RebuildViewMatrix(*world);
        SetupFrustum(*world);
        const LookAt v = CameraLookAt(*world);

        const double dir[3] = {v.centre[0] - v.eye[0], v.centre[1] - v.eye[1], v.centre[2] - v.eye[2]};
        const float* m = world->fViewMatrix;
        const double axis[3] = {m[2], m[6], m[10]};
        EXPECT_LT(SinBetween(dir, axis), 1e-4);
        EXPECT_NEAR(Length(v.up), 1.0, 1e-5);
        EXPECT_NEAR(SinBetween(v.up, dir), 1.0, 1e-5);

        const int sides[2][2] = {{0, 2}, {2, 1}};
        double best = 1;
        for (const auto& s : sides) {
            double edge[3];
            for (int k = 0; k < 3; ++k) edge[k] = world->fFarCorner[s[1]][k] - world->fFarCorner[s[0]][k];
            best = std::min(best, SinBetween(v.up, edge));
        }
        EXPECT_LT(best, 1e-4);
    }
}

}  // namespace
}  // namespace gridcull
