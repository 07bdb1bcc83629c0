// The truth pass skips objects outside the drawn frustum: the plane test on
// its own boundaries, and the whole pass against drawing every object.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "OffscreenGl.h"
#include "TestWorld.h"
#include "render/CameraView.h"
#include "render/TruthPass.h"
#include "scene/Camera.h"
#include "visibility/Frame.h"

namespace gridcull {
namespace {

// Start camera, (35, 35, 35) looking along +z, up +y, 55 degrees. Each case
// puts a sphere of radius 2 just beyond one plane: by 2 slacks it is skipped,
// by half a slack it is kept.
struct PlaneCase {
    const char* name;
    int axis;      // 0: x, 1: y, 2: along the view (near, far)
    double sign;   // side of the axis, or near (-1) / far (+1)
};
class SphereOutsideViewTest : public testing::TestWithParam<PlaneCase> {};

TEST_P(SphereOutsideViewTest, SkippedJustBeyondThePlaneKeptWithinTheSlack) {
    const PlaneCase c = GetParam();
    test::WorldPtr w = test::MakeEmptyWorld();
    test::AimCamera(*w, 35, 35, 35, 0, 0, 1, 55);
    const ViewPlanes planes = DrawnFrustum(*w);
    const double r = 2, half = 27.5 * kDegToRad, depth = 20;
    for (const double beyond : {2 * kViewSlack, 0.5 * kViewSlack}) {
        float centre[3] = {35, 35, 35};
        if (c.axis < 2) {
            // Distance to the side plane of a point (x, depth): x cos - depth sin.
            centre[c.axis] += static_cast<float>(c.sign * (depth * std::sin(half) + r + beyond) / std::cos(half));
            centre[2] += static_cast<float>(depth);
        } else {
            centre[2] += static_cast<float>(c.sign < 0 ? kNearPlane - r - beyond : w->fFarDist + r + beyond);
        }
        // Floats carry about 4e-6 at 35: far below the slack.
        EXPECT_EQ(SphereOutsideView(planes, centre, r), beyond > kViewSlack) << c.name << " beyond " << beyond;
    }
}

INSTANTIATE_TEST_SUITE_P(Planes, SphereOutsideViewTest,
                         testing::Values(PlaneCase{"right", 0, 1}, PlaneCase{"left", 0, -1}, PlaneCase{"top", 1, 1},
                                         PlaneCase{"bottom", 1, -1}, PlaneCase{"near", 2, -1},
                                         PlaneCase{"far", 2, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

// Seeded random views of the generated scene, the degenerate fields of view
// 2 and 179 among them: the skip leaves the true set exactly as drawing
// every object gives it, in both culling modes.
TEST(TruthPass, SkipOutsideTheViewKeepsTheSetOfDrawingEverything) {
    bench::OffscreenGl gl;
    std::string error;
    ASSERT_TRUE(gl.Create(kReadBackSide, error)) << error;
    test::WorldPtr w = test::MakeSceneWorld();
    TruthPass pass;
    std::mt19937 random(5);
    std::vector<unsigned char> skipped(kObjectCount), everything(kObjectCount);
    const float fovs[] = {2, 179, 55, 55, 90, 20, 55, 130};
    for (int k = 0; k < 8; ++k) {
        w->fViewX = static_cast<float>(random() % kGridSize);
        w->fViewY = static_cast<float>(random() % kGridSize);
        w->fViewZ = static_cast<float>(random() % kGridSize);
        w->fRoll = static_cast<float>(random() % 360), w->fYaw = static_cast<float>(random() % 360);
        w->fPitch = static_cast<float>(random() % 360), w->fFov = fovs[k];
        w->bStrictCulling = k % 2;
        RebuildViewMatrix(*w);
        BeginFrame(*w);
        pass.bSkipOutsideView = true;
        const int count = pass.Run(*w, 0, kReadBackSide, skipped.data());
        pass.bSkipOutsideView = false;
        EXPECT_EQ(pass.Run(*w, 0, kReadBackSide, everything.data()), count) << "view " << k;
        EXPECT_TRUE(skipped == everything) << "view " << k;
        ResetGridAndCount(*w, 0);
        AdvanceFrame(*w);
    }
}

}  // namespace
}  // namespace gridcull
