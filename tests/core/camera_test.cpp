#include "scene/Camera.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace gridcull {
namespace {

struct WorldDeleter {
    void operator()(World* w) const { DeleteWorld(w); }
};
using WorldPtr = std::unique_ptr<World, WorldDeleter>;

// A constructed record with the option flags of a fresh set-up; no arrays.
WorldPtr MakeCameraWorld() {
    WorldPtr world(NewWorld());
    world->bOccluderFusion = 1;
    world->bRenderingDisabled = 0;
    world->bExactVisibility = 0;
    world->bObjectMotion = 1;
    world->bStructureDisplay = 0;
    RebuildViewMatrix(*world);
    return world;
}

void PressKey(World& world, unsigned char key, int times = 1) {
    for (int i = 0; i < times; ++i) ApplyKey(world, key);
}

void ExpectVec3(const float* v, float x, float y, float z, float eps = 1e-6f) {
    EXPECT_NEAR(v[0], x, eps);
    EXPECT_NEAR(v[1], y, eps);
    EXPECT_NEAR(v[2], z, eps);
}

// Column-major 4x4 helpers, independent of the code under test.
void ColumnMajorApply(const float m[16], const float v[3], float out[3]) {
    for (int i = 0; i < 3; ++i) out[i] = m[i] * v[0] + m[4 + i] * v[1] + m[8 + i] * v[2];
}

void ExpectRotation(const float m[16], float eps = 1e-5f) {
    for (int a = 0; a < 3; ++a)
        for (int b = 0; b < 3; ++b) {
            float dot = 0;
            for (int k = 0; k < 3; ++k) dot += m[4 * a + k] * m[4 * b + k];
            EXPECT_NEAR(dot, a == b ? 1.0f : 0.0f, eps) << "rows " << a << ", " << b;
        }
    const float det =
        m[0] * (m[5] * m[10] - m[6] * m[9]) - m[1] * (m[4] * m[10] - m[6] * m[8]) + m[2] * (m[4] * m[9] - m[5] * m[8]);
    EXPECT_NEAR(det, 1.0f, eps);
    EXPECT_NEAR(m[15], 1.0f, eps);
}

// Viewpoint and field of view stop at their limits; a step past one is
// ignored, and the value stays an integer.
// The overview's ball: the window's 600 x 300 area below the panel.
Trackball OverviewBall() {
    Trackball ball;
    ball.iBallWidth = 600;
    ball.iBallHeight = 300;
    ball.fBallScale = 0.85f;
    return ball;
}

TEST(CameraKeys, ClampedValuesStopAtTheirLimits) {
    struct Case {
        unsigned char down, up;
        float World::*value;
        float lo, hi;
    };
    const Case cases[] = {{'x', 'X', &World::fViewX, 0, 69},
                          {'y', 'Y', &World::fViewY, 0, 69},
                          {'z', 'Z', &World::fViewZ, 0, 69},
                          {'2', '1', &World::fFov, 2, 179}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.up);
        WorldPtr w = MakeCameraWorld();
        float& v = (*w).*c.value;
        PressKey(*w, c.up, static_cast<int>(c.hi - v) - 1);
        EXPECT_EQ(v, c.hi - 1);
        PressKey(*w, c.up);
        EXPECT_EQ(v, c.hi);
        PressKey(*w, c.up, 5);
        EXPECT_EQ(v, c.hi);
        PressKey(*w, c.down);
        EXPECT_EQ(v, c.hi - 1);
        PressKey(*w, c.down, static_cast<int>(c.hi - c.lo) - 2);
        EXPECT_EQ(v, c.lo + 1);
        PressKey(*w, c.down, 3);
        EXPECT_EQ(v, c.lo);
        PressKey(*w, c.up);
        EXPECT_EQ(v, c.lo + 1);
    }
    WorldPtr w = MakeCameraWorld();
    PressKey(*w, 'X', 40);
    EXPECT_EQ(w->fViewX, 69);
}

TEST(CameraKeys, AnglesWrapAround) {
    struct Case {
        unsigned char up, down;
        float World::*angle;
    };
    const Case cases[] = {{'5', '6', &World::fRoll}, {'7', '8', &World::fYaw}, {'9', '0', &World::fPitch}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.up);
        WorldPtr w = MakeCameraWorld();
        float& angle = (*w).*c.angle;
        PressKey(*w, c.down);
        EXPECT_EQ(angle, 359);
        PressKey(*w, c.up);
        EXPECT_EQ(angle, 0);
        PressKey(*w, c.up, 359);
        EXPECT_EQ(angle, 359);
        PressKey(*w, c.up, 3);
        PressKey(*w, c.down);
        EXPECT_EQ(angle, 1);
    }
}

TEST(CameraKeys, TogglesFlipBetweenZeroAndOne) {
    struct Case {
        unsigned char key;
        unsigned char World::*flag;
    };
    const Case cases[] = {{'t', &World::bOccluderFusion},
                          {'h', &World::bRenderingDisabled},
                          {'e', &World::bExactVisibility},
                          {'4', &World::bObjectMotion}};
    WorldPtr w = MakeCameraWorld();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        unsigned char& flag = (*w).*c.flag;
        const int start = flag;
        PressKey(*w, c.key);
        EXPECT_EQ(flag, 1 - start);
        PressKey(*w, c.key);
        EXPECT_EQ(flag, start);
        flag = 2;  // any nonzero value counts as set
        PressKey(*w, c.key);
        EXPECT_EQ(flag, 0);
    }
    PressKey(*w, '3');
    EXPECT_EQ(w->bStructureDisplay, 1);
    w->bStructureDisplay = 7;
    PressKey(*w, '3');
    EXPECT_EQ(w->bStructureDisplay, 0);
}

TEST(CameraKeys, EscQuitsWithoutTouchingStateAndOtherKeysRebuild) {
    WorldPtr w = MakeCameraWorld();
    w->fYaw = 90;  // not yet folded into the matrix
    EXPECT_EQ(ApplyKey(*w, 27), KeyResult::kQuit);
    EXPECT_EQ(w->fViewMatrix[0], 1.0f);
    EXPECT_EQ(w->fViewMatrix[2], 0.0f);

    EXPECT_EQ(ApplyKey(*w, 'q'), KeyResult::kHandled);
    EXPECT_NEAR(w->fViewMatrix[2], -1.0f, 1e-6f);
    EXPECT_EQ(w->fViewX, 35);
    EXPECT_EQ(w->fViewY, 35);
    EXPECT_EQ(w->fViewZ, 35);
    EXPECT_EQ(w->fFov, 55);
    EXPECT_EQ(w->fYaw, 90);
    EXPECT_EQ(w->bStructureDisplay, 0);
}

TEST(CameraKeys, BoundKeys) {
    for (unsigned char k : {'x', 'X', 'y', 'Y', 'z', 'Z', '0', '5', '9', 't', 'h', 'e'})
        EXPECT_TRUE(IsBoundKey(k)) << k;
    EXPECT_TRUE(IsBoundKey(27));
    for (unsigned char k : {'q', 'T', 'H', 'E', 'a', ' ', '\r'}) EXPECT_FALSE(IsBoundKey(k)) << k;
}

TEST(CameraMatrix, ProductFollowsRowTimesColumn) {
    float a[16] = {1, 0, 0, 2, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    float b[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 3, 0, 0, 1};
    float ab[16], ba[16];
    MultiplyMatrix(a, b, ab);
    MultiplyMatrix(b, a, ba);
    EXPECT_EQ(ab[0], 7);  // 1 + a[3] b[12]
    EXPECT_EQ(ab[15], 1);
    EXPECT_EQ(ba[0], 1);
    EXPECT_EQ(ba[15], 7);  // 1 + b[12] a[3]
    EXPECT_EQ(ba[12], 3);
    EXPECT_EQ(ba[3], 2);
    // The result may overwrite an operand.
    MultiplyMatrix(a, b, a);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(a[i], ab[i]) << i;
}

TEST(CameraMatrix, ViewDirectionsOfTheAngles) {
    WorldPtr w = MakeCameraWorld();
    for (int i = 0; i < 16; ++i) EXPECT_EQ(w->fViewMatrix[i], i % 5 == 0 ? 1.0f : 0.0f) << i;

    const float* m = w->fViewMatrix;
    w->fYaw = 90;
    RebuildViewMatrix(*w);
    const float yawDir[3] = {m[2], m[6], m[10]};
    ExpectVec3(yawDir, -1, 0, 0);

    w->fYaw = 0;
    w->fRoll = 90;
    RebuildViewMatrix(*w);
    const float rollDir[3] = {m[2], m[6], m[10]};
    ExpectVec3(rollDir, 0, 1, 0);

    // Pitch turns about the view axis: direction kept, camera x and y turned.
    w->fRoll = 0;
    w->fPitch = 90;
    RebuildViewMatrix(*w);
    const float pitchDir[3] = {m[2], m[6], m[10]};
    const float pitchUp[3] = {m[1], m[5], m[9]};
    ExpectVec3(pitchDir, 0, 0, 1);
    ExpectVec3(pitchUp, 1, 0, 0);

    // Yaw is applied last: with pitch 90 and yaw 90 the camera's up is +z.
    w->fYaw = 90;
    RebuildViewMatrix(*w);
    const float bothDir[3] = {m[2], m[6], m[10]};
    const float bothUp[3] = {m[1], m[5], m[9]};
    ExpectVec3(bothDir, -1, 0, 0);
    ExpectVec3(bothUp, 0, 0, 1);

    // Roll before yaw: yaw cannot turn a straight-up view direction.
    w->fPitch = 0;
    w->fRoll = 90;
    RebuildViewMatrix(*w);
    const float upDir[3] = {m[2], m[6], m[10]};
    ExpectVec3(upDir, 0, 1, 0);

    w->fRoll = 33;
    w->fYaw = 217;
    w->fPitch = 301;
    RebuildViewMatrix(*w);
    ExpectRotation(m);
}

TEST(Trackball, ProjectionCentreInsideAndRim) {
    Trackball ball = OverviewBall();
    float p[3];
    ProjectToBall(ball, 300, 150, p);
    ExpectVec3(p, 0, 0, 1);

    // Half-axes of the ball are 255 and 127.5 pixels.
    ProjectToBall(ball, 300 + 153, 150, p);
    ExpectVec3(p, 0.6f, 0, 0.8f);
    ProjectToBall(ball, 300, 150 + 51, p);
    ExpectVec3(p, 0, -0.4f, std::sqrt(0.84f));

    // Outside: pulled onto the rim, direction kept.
    ProjectToBall(ball, 599, 150, p);
    ExpectVec3(p, 1, 0, 0);
    ProjectToBall(ball, -5000, 150 + 5000, p);
    EXPECT_NEAR(p[0] * p[0] + p[1] * p[1], 1.0f, 1e-6f);
    EXPECT_LT(p[0], 0);
    EXPECT_LT(p[1], 0);
    EXPECT_EQ(p[2], 0);

    TrackballPress(ball, 300, 150);
    EXPECT_EQ(ball.bDragging, 1);
    ExpectVec3(ball.fLastPoint, 0, 0, 1);
}

TEST(Trackball, DragToThePressPointTurnsNothing) {
    Trackball ball = OverviewBall();
    TrackballPress(ball, 350, 100);
    TrackballDrag(ball, 350, 100);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(ball.fBallRotation[i], i % 5 == 0 ? 1.0f : 0.0f, 1e-6f) << i;

    // Also after an earlier turn: the accumulated rotation is kept.
    TrackballDrag(ball, 420, 130);
    float before[16];
    for (int i = 0; i < 16; ++i) before[i] = ball.fBallRotation[i];
    TrackballDrag(ball, 420, 130);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(ball.fBallRotation[i], before[i], 1e-6f) << i;
    TrackballRelease(ball);
    EXPECT_EQ(ball.bDragging, 0);
}

TEST(Trackball, FrontOfTheBallFollowsTheMouse) {
    Trackball ball = OverviewBall();
    // From the centre to x = 0.6: a turn about screen y by twice the angle
    // between (0, 0, 1) and (0.6, 0, 0.8).
    TrackballPress(ball, 300, 150);
    TrackballDrag(ball, 453, 150);
    ExpectRotation(ball.fBallRotation);
    const float front[3] = {0, 0, 1};
    float moved[3];
    ColumnMajorApply(ball.fBallRotation, front, moved);
    const float theta = std::atan2(0.6f, 0.8f);
    ExpectVec3(moved, std::sin(2 * theta), 0, std::cos(2 * theta), 1e-5f);
    const float screenY[3] = {0, 1, 0};
    ColumnMajorApply(ball.fBallRotation, screenY, moved);
    ExpectVec3(moved, 0, 1, 0, 1e-5f);

    // Dragging back undoes the turn.
    TrackballDrag(ball, 300, 150);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(ball.fBallRotation[i], i % 5 == 0 ? 1.0f : 0.0f, 1e-5f) << i;
}

TEST(Trackball, LaterStepsTurnAboutScreenAxes) {
    Trackball ball = OverviewBall();
    TrackballPress(ball, 300, 150);
    TrackballDrag(ball, 453, 150);  // about screen y
    float first[16];
    for (int i = 0; i < 16; ++i) first[i] = ball.fBallRotation[i];
    TrackballRelease(ball);
    TrackballPress(ball, 300, 150);
    TrackballDrag(ball, 300, 100);  // straight up: about screen x

    // total = step x first (column-major), so total x first^T leaves x fixed.
    float step[3];
    const float screenX[3] = {1, 0, 0};
    float firstInvX[3];
    for (int i = 0; i < 3; ++i)
        firstInvX[i] = first[4 * i] * screenX[0] + first[4 * i + 1] * screenX[1] + first[4 * i + 2] * screenX[2];
    ColumnMajorApply(ball.fBallRotation, firstInvX, step);
    ExpectVec3(step, 1, 0, 0, 1e-5f);
    ExpectRotation(ball.fBallRotation);
    // and it really turned: the front tilts upward.
    const float front[3] = {0, 0, 1};
    float firstInvFront[3];
    for (int i = 0; i < 3; ++i)
        firstInvFront[i] = first[4 * i] * front[0] + first[4 * i + 1] * front[1] + first[4 * i + 2] * front[2];
    float moved[3];
    ColumnMajorApply(ball.fBallRotation, firstInvFront, moved);
    EXPECT_GT(moved[1], 0.1f);
}

}  // namespace
}  // namespace gridcull
