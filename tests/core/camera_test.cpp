// The camera: keys, trackball, the image's orientation, and the view
// frustum built from it.
#include "scene/Camera.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <utility>

#include "TestWorld.h"
#include "render/CameraView.h"
#include "visibility/Frustum.h"

namespace gridcull {
namespace {

void ExpectIdentity(const float* m, float tolerance) {
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(m[i], i % 5 == 0 ? 1.0f : 0.0f, tolerance) << i;
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
    for (auto [key, flag] : {std::pair{'t', &World::bOccluderFusion}, std::pair{'h', &World::bRenderingDisabled},
                             std::pair{'e', &World::bExactVisibility}, std::pair{'4', &World::bObjectMotion}}) {
        (*w).*flag = 2;  // any nonzero value counts as set
        ApplyKey(*w, key);
        const int once = (*w).*flag;
        ApplyKey(*w, key);
        EXPECT_TRUE(once == 0 && (*w).*flag == 1) << key;
    }
}

TEST(Trackball, CentreRimAndADragBackToThePressPoint) {
    Trackball ball;
    ball.iBallWidth = 600, ball.iBallHeight = 300, ball.fBallScale = 0.85f;  // the overview's area below the panel
    // Half-axes of 255 and 127.5 pixels; screen y points down; outside, onto the rim.
    const struct {
        int x, y;
        float want[3];
    } points[] = {{300, 150, {0, 0, 1}}, {453, 150, {0.6f, 0, 0.8f}}, {300, 201, {0, -0.4f, std::sqrt(0.84f)}},
                  {599, 150, {1, 0, 0}}};
    for (const auto& k : points) {
        float p[3];
        ProjectToBall(ball, k.x, k.y, p);
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(p[i], k.want[i], 1e-6f) << k.x << "," << k.y << " element " << i;
    }
    TrackballPress(ball, 350, 100);
    TrackballDrag(ball, 350, 100);
    ExpectIdentity(ball.fBallRotation, 1e-6f);
    // From the centre to x = 0.6 the front turns by twice the angle to it;
    // dragging back undoes the turn.
    TrackballPress(ball, 300, 150);
    TrackballDrag(ball, 453, 150);
    EXPECT_NEAR(ball.fBallRotation[8], std::sin(2 * std::atan2(0.6f, 0.8f)), 1e-5f);
    EXPECT_NEAR(ball.fBallRotation[10], std::cos(2 * std::atan2(0.6f, 0.8f)), 1e-5f);
    TrackballDrag(ball, 300, 150);
    ExpectIdentity(ball.fBallRotation, 1e-5f);
}

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
    test::WorldPtr w(NewWorld());  // the frustum needs only the camera fields
    for (const auto& c : cases) {
        test::AimCamera(*w, 35, 35, 35, c.fx, 0, c.fz, c.fov);
        const float in[3] = {35 + c.in[0], 35 + c.in[1], 35 + c.in[2]};
        const float out[3] = {35 + c.out[0], 35 + c.out[1], 35 + c.out[2]};
        FrustumClamp clamp;
        EXPECT_EQ(PointInFrustum(*w, in, clamp), 1) << "fov " << c.fov << " at " << c.in[0] << "," << c.in[2];
        EXPECT_EQ(PointInFrustum(*w, out, clamp), 0) << "fov " << c.fov << " at " << c.out[0] << "," << c.out[2];
    }
}

// The scans' axis rays against the general ray: the same end on the ray's
// axis, with origins and ends inside and beyond the grid, along both
// directions of every axis.
TEST(Frustum, AxisRaysEndWhereTheGeneralRayEnds) {
    test::WorldPtr w(NewWorld());
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> cell(0, 69), offset(-40, 40);
    std::uniform_real_distribution<float> aim(-1, 1);
    int checked = 0, clamped = 0;
    for (int view = 0; view < 40; ++view) {
        test::AimCamera(*w, cell(rng), cell(rng), cell(rng), aim(rng), aim(rng), aim(rng), view % 2 ? 120 : 50);
        for (int i = 0; i < 50; ++i) {
            const int origin[3] = {offset(rng), offset(rng), offset(rng)};
            const float from[3] = {1.0f * origin[0], 1.0f * origin[1], 1.0f * origin[2]};
            for (int axis = 0; axis < 3; ++axis) {
                // A row's two runs in one evaluation, against the runs one by one.
                AxisRunEnd low, high, lowEvery, highEvery;
                FindRowRunEnds(*w, origin, axis, 1 + i % 30, low, high);
                FindRowRunEndsEveryAxis(*w, origin, axis, 1 + i % 30, lowEvery, highEvery);
                // The same rows found together, stepped across the axis.
                for (int step = 0; step < 3; ++step) {
                    if (step == axis) continue;
                    AxisRunEnd lows[5], highs[5];
                    FindRowRunEndsAcross(*w, origin, axis, 1 + i % 30, step, origin[step] - 2, origin[step] + 2, lows,
                                         highs);
                    for (int s = 0; s < 5; ++s) {
                        int at[3] = {origin[0], origin[1], origin[2]};
                        at[step] = origin[step] - 2 + s;
                        AxisRunEnd one[2];
                        FindRowRunEnds(*w, at, axis, 1 + i % 30, one[0], one[1]);
                        for (const auto& [together, alone] :
                             {std::pair(lows[s], one[0]), std::pair(highs[s], one[1])}) {
                            EXPECT_EQ(together.iLimit, alone.iLimit);
                            EXPECT_EQ(together.iCorner, alone.iCorner);
                            EXPECT_EQ(together.iClamped, alone.iClamped);
                        }
                    }
                }
                for (int direction : {-1, 1}) {
                    float general[3], full[3], alone[3], unit[3] = {0, 0, 0};
                    unit[axis] = static_cast<float>(direction);
                    FrustumClamp g, f, a;
                    FrustumRayHit(*w, general, from, unit, g);
                    AxisRayHit(*w, full, from, axis, direction, f);
                    AxisRayHitOnAxis(*w, alone, from, axis, direction, a);
                    EXPECT_EQ(full[axis], general[axis]);
                    EXPECT_EQ(alone[axis], general[axis]);
                    EXPECT_EQ(f.iOutside[axis], g.iOutside[axis]);
                    EXPECT_EQ(a.iOutside[axis], g.iOutside[axis]);
                    if (g.iOutside[axis]) {
                        EXPECT_EQ(a.fClamp[axis], g.fClamp[axis]);
                    }
                    clamped += g.iOutside[axis];

                    // The same rays cast together from origins stepped across the axis.
                    for (int step = 0; step < 3; ++step) {
                        if (step == axis) continue;
                        AxisRayReach reach[5];
                        AxisRayReaches(*w, origin, axis, direction, step, origin[step] - 2, origin[step] + 2, reach);
                        for (int s = 0; s < 5; ++s) {
                            float at[3] = {from[0], from[1], from[2]}, one[3];
                            at[step] = static_cast<float>(origin[step] - 2 + s);
                            FrustumClamp c;
                            AxisRayHitOnAxis(*w, one, at, axis, direction, c);
                            EXPECT_EQ(reach[s].fHit, one[axis]);
                            EXPECT_EQ(reach[s].iEnd, static_cast<int>(c.iOutside[axis] ? c.fClamp[axis] : one[axis]));
                        }
                    }

                    AxisRunEnd whole;
                    const int corner = direction * (1 + i % 30);
                    FindAxisRunEnd(*w, origin, axis, corner, direction, whole);
                    const AxisRunEnd& row = direction < 0 ? low : high;
                    EXPECT_EQ(row.iLimit, whole.iLimit);
                    EXPECT_EQ(row.iCorner, whole.iCorner);
                    EXPECT_EQ(row.iClamped, whole.iClamped);
                    const AxisRunEnd& every = direction < 0 ? lowEvery : highEvery;
                    EXPECT_EQ(every.iLimit, whole.iLimit);
                    EXPECT_EQ(every.iCorner, whole.iCorner);
                    for (int k = 0; k < 3; ++k) EXPECT_EQ(every.clamp.iOutside[k], whole.clamp.iOutside[k]);
                    ++checked;
                }
            }
        }
    }
    EXPECT_GT(clamped, checked / 20);
}

}  // namespace
}  // namespace gridcull
