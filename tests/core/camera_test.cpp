#include "scene/Camera.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <utility>

#include "TestWorld.h"

namespace gridcull {
namespace {

// v[0], v[step], v[2 step]: step 4 reads a row of a column-major matrix.
void ExpectVec3(const float* v, std::initializer_list<float> want, int step = 1) {
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(v[k * step], want.begin()[k], 1e-6f) << "element " << k;
}

// Viewpoint and field of view stop at their limits, a step past one being
// ignored; the angles wrap around.
TEST(CameraKeys, LimitsWrapAroundsAndToggles) {
    struct Case {
        unsigned char key;
        float World::*value;
        float before, after;
    };
    const Case cases[] = {{'X', &World::fViewX, 68, 69},   {'X', &World::fViewX, 69, 69}, {'x', &World::fViewX, 1, 0},
                          {'x', &World::fViewX, 0, 0},     {'Y', &World::fViewY, 69, 69}, {'y', &World::fViewY, 0, 0},
                          {'Z', &World::fViewZ, 69, 69},   {'z', &World::fViewZ, 0, 0},   {'1', &World::fFov, 178, 179},
                          {'1', &World::fFov, 179, 179},   {'2', &World::fFov, 3, 2},     {'2', &World::fFov, 2, 2},
                          {'5', &World::fRoll, 359, 0},    {'6', &World::fRoll, 0, 359},  {'7', &World::fYaw, 359, 0},
                          {'8', &World::fYaw, 0, 359},     {'9', &World::fPitch, 359, 0}, {'0', &World::fPitch, 0, 359},
                          {'9', &World::fPitch, 358, 359}, {'0', &World::fPitch, 1, 0}};
    test::WorldPtr w = test::MakeEmptyWorld();
    for (const Case& c : cases) {
        (*w).*c.value = c.before;
        ApplyKey(*w, c.key);
        EXPECT_EQ((*w).*c.value, c.after) << "key " << c.key << " at " << c.before;
    }
    w = test::MakeEmptyWorld();
    for (int i = 0; i < 40; ++i) ApplyKey(*w, 'X');
    EXPECT_EQ(w->fViewX, 69);
    for (auto [key, flag] : {std::pair{'t', &World::bOccluderFusion}, std::pair{'h', &World::bRenderingDisabled},
                             std::pair{'e', &World::bExactVisibility}, std::pair{'4', &World::bObjectMotion}}) {
        SCOPED_TRACE(key);
        (*w).*flag = 2;  // any nonzero value counts as set
        ApplyKey(*w, key);
        EXPECT_EQ((*w).*flag, 0);
        ApplyKey(*w, key);
        EXPECT_EQ((*w).*flag, 1);
    }
}

TEST(CameraKeys, EscOnlyReportsQuitAndAnUnboundKeyRebuildsTheMatrix) {
    test::WorldPtr w = test::MakeEmptyWorld();
    w->fYaw = 90;  // not yet folded into the matrix
    EXPECT_EQ(ApplyKey(*w, 27), KeyResult::kQuit);
    EXPECT_EQ(w->fViewMatrix[2], 0.0f);
    EXPECT_TRUE(IsBoundKey(27));
    EXPECT_FALSE(IsBoundKey('q'));
    EXPECT_EQ(ApplyKey(*w, 'q'), KeyResult::kHandled);
    EXPECT_NEAR(w->fViewMatrix[2], -1.0f, 1e-6f);
    EXPECT_TRUE(w->fViewX == 35 && w->fViewY == 35 && w->fViewZ == 35 && w->fFov == 55 && w->fYaw == 90);
}

// Roll, then pitch about the view axis, then yaw. Rows 1 and 2 of the matrix
// are the camera's up and its view direction.
TEST(CameraMatrix, IdentityAtStartAndViewDirectionsOfTheAngles) {
    test::WorldPtr w = test::MakeEmptyWorld();
    const float* m = w->fViewMatrix;
    for (int i = 0; i < 16; ++i) EXPECT_EQ(m[i], i % 5 == 0 ? 1.0f : 0.0f) << i;
    struct Case {
        float roll, yaw, pitch;
        std::initializer_list<float> dir, up;
    };
    const Case cases[] = {{0, 90, 0, {-1, 0, 0}, {0, 1, 0}},
                          {90, 0, 0, {0, 1, 0}, {0, 0, -1}},
                          {90, 90, 0, {0, 1, 0}, {}},  // yaw cannot turn a straight-up view
                          {0, 0, 90, {0, 0, 1}, {1, 0, 0}},
                          {0, 90, 90, {-1, 0, 0}, {0, 0, 1}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "roll " << c.roll << " yaw " << c.yaw << " pitch " << c.pitch);
        w->fRoll = c.roll, w->fYaw = c.yaw, w->fPitch = c.pitch;
        RebuildViewMatrix(*w);
        ExpectVec3(m + 2, c.dir, 4);
        if (c.up.size()) ExpectVec3(m + 1, c.up, 4);
    }
}

TEST(Trackball, CentreRimAndADragBackToThePressPoint) {
    Trackball ball;
    ball.iBallWidth = 600, ball.iBallHeight = 300, ball.fBallScale = 0.85f;  // the overview's area below the panel
    float p[3];
    ProjectToBall(ball, 300, 150, p);
    ExpectVec3(p, {0, 0, 1});
    // Half-axes of 255 and 127.5 pixels; screen y points down.
    ProjectToBall(ball, 300 + 153, 150, p);
    ExpectVec3(p, {0.6f, 0, 0.8f});
    ProjectToBall(ball, 300, 150 + 51, p);
    ExpectVec3(p, {0, -0.4f, std::sqrt(0.84f)});
    ProjectToBall(ball, 599, 150, p);  // outside: onto the rim
    EXPECT_TRUE(p[0] == 1 && p[1] == 0 && p[2] == 0) << p[0] << " " << p[1] << " " << p[2];

    TrackballPress(ball, 350, 100);
    TrackballDrag(ball, 350, 100);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(ball.fBallRotation[i], i % 5 == 0 ? 1.0f : 0.0f, 1e-6f) << i;
    // From the centre to x = 0.6 the front turns by twice the angle to it;
    // dragging back undoes the turn.
    TrackballPress(ball, 300, 150);
    TrackballDrag(ball, 453, 150);
    EXPECT_NEAR(ball.fBallRotation[8], std::sin(2 * std::atan2(0.6f, 0.8f)), 1e-5f);
    EXPECT_NEAR(ball.fBallRotation[10], std::cos(2 * std::atan2(0.6f, 0.8f)), 1e-5f);
    TrackballDrag(ball, 300, 150);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(ball.fBallRotation[i], i % 5 == 0 ? 1.0f : 0.0f, 1e-5f) << i;
}

}  // namespace
}  // namespace gridcull
