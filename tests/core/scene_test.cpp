#include "scene/Scene.h"

#include <gtest/gtest.h>

#include "TestWorld.h"
#include "grid/Grid.h"
#include "scene/Random.h"

using namespace gridcull;

TEST(NextRandom, StartsFromTheFixedState) {
    std::uint32_t state = kRandomSeed;
    EXPECT_EQ(NextRandom(state), 41);
    EXPECT_EQ(NextRandom(state), 18467);
    EXPECT_EQ(NextRandom(state), 6334);
    EXPECT_EQ(NextRandom(state), 26500);
}

class GeneratedScene : public ::testing::Test {
protected:
    static void SetUpTestSuite() { world_ = test::MakeSceneWorld().release(); }
    static void TearDownTestSuite() { DeleteWorld(world_); }
    static World* world_;
};
World* GeneratedScene::world_ = nullptr;

TEST_F(GeneratedScene, FirstObjectHasItsKnownFields) {
    const SceneObject& o = world_->disks[0];
    EXPECT_FLOAT_EQ(o.fRadius, 4.9f);
    EXPECT_FLOAT_EQ(o.fBoundRadius, 4.9f);
    EXPECT_NEAR(o.fVelocity[0], 0.0611111, 1e-6);
    EXPECT_NEAR(o.fVelocity[1], 0.0071429, 1e-6);
    EXPECT_FLOAT_EQ(o.fVelocity[2], 1.95f);
    EXPECT_FLOAT_EQ(o.fPosition[0], 12.187567f);
    EXPECT_FLOAT_EQ(o.fPosition[1], 60.126041f);
    EXPECT_FLOAT_EQ(o.fPosition[2], 58.485100f);
    EXPECT_EQ(o.fAngle[0], 131);
    EXPECT_EQ(o.fAngle[1], 241);
    EXPECT_EQ(o.fAngle[2], 267);
    EXPECT_EQ(o.fAngularVelocity[0], -2);
    EXPECT_EQ(o.fAngularVelocity[1], 3);
    EXPECT_EQ(o.fAngularVelocity[2], 0);
    EXPECT_FLOAT_EQ(o.fColor[0], 0.4f);
    EXPECT_EQ(o.fColor[3], 1);
    EXPECT_EQ(o.iTbvEndFrame, 36);
    EXPECT_EQ(o.iTbvStartFrame, 0);
    EXPECT_EQ(o.iCellCount, 0);  // moving objects wait for the first frame
}

TEST_F(GeneratedScene, ObjectsFollowTheirDrawRanges) {
    for (int i = 0; i < kObjectCount; ++i) {
        const SceneObject& o = world_->disks[i];
        ASSERT_EQ(o.ucIdColor[0] * 65536 + o.ucIdColor[1] * 256 + o.ucIdColor[2], i);
        ASSERT_GE(o.fPosition[2], 8.75f - 1e-4f);
        ASSERT_LE(o.fPosition[2], 78.75f + 1e-4f);
        ASSERT_GE(o.iTbvEndFrame - o.iTbvStartFrame, 5);
        ASSERT_LE(o.iTbvEndFrame - o.iTbvStartFrame, 44);
        if (i < kDynamicCount) {
            ASSERT_GE(o.fRadius, 4.05f);
            ASSERT_LE(o.fRadius, 6.31f);
        } else {
            ASSERT_EQ(o.fVelocity[0], 0);
            ASSERT_GE(o.fRadius, 0.825f);
            ASSERT_LE(o.fRadius, 7.0f);
            // Static objects are registered at once, unless wholly outside the grid.
            const float* p = o.fPosition;
            bool outside = false;
            for (int k = 0; k < 3; ++k) outside |= p[k] - o.fBoundRadius >= 69.5f;
            EXPECT_EQ(o.iCellCount == 0, outside) << i;
        }
    }
    EXPECT_EQ(world_->disks[4999].ucIdColor[1], 19);
    EXPECT_EQ(world_->disks[4999].ucIdColor[2], 135);
    EXPECT_EQ(world_->disks[256].ucIdColor[1], 1);
    EXPECT_EQ(world_->disks[256].ucIdColor[2], 0);
}

// A draw too many or too few shifts every later object: the last object's
// fields pin the whole sequence of 95400 draws.
TEST_F(GeneratedScene, LastObjectMatchesAnIndependentReplayOfTheDraws) {
    std::uint32_t state = kRandomSeed;
    for (int k = 0; k < 200 * 21 + 4799 * 19; ++k) NextRandom(state);
    int v = NextRandom(state) % 50 + 1;
    for (int k = 0; k < 7; ++k) NextRandom(state);
    const float c = 1.0f / 32767.0f;
    float x = static_cast<float>(NextRandom(state) * c) * 70;
    const SceneObject& last = world_->disks[4999];
    EXPECT_FLOAT_EQ(last.fRadius, static_cast<float>((4.5 / v + 0.5) * 70 * 0.02));
    EXPECT_EQ(last.fPosition[0], x);
}

TEST(MoveObject, FirstObjectBouncesOffItsUpperLimit) {
    test::WorldPtr w = test::MakeSceneWorld();
    SceneObject& o = w->disks[0];
    MoveObject(o);
    EXPECT_NEAR(o.fPosition[2], 60.4351, 1e-4);
    EXPECT_FLOAT_EQ(o.fVelocity[2], 1.95f);
    MoveObject(o);
    EXPECT_NEAR(o.fPosition[2], 62.3851, 1e-4);  // beyond 70 - 4.9 - 3 = 62.1
    EXPECT_FLOAT_EQ(o.fVelocity[2], -1.95f);
    MoveObject(o);
    EXPECT_NEAR(o.fPosition[2], 60.4351, 1e-4);
}

TEST(MoveObject, ObjectBeyondALimitAlternatesAndZeroVelocityStays) {
    SceneObject o;
    o.fBoundRadius = 4;
    o.fBounds[0] = o.fBounds[1] = o.fBounds[2] = 70;
    o.fPosition[0] = 10;
    o.fPosition[1] = 10;
    o.fPosition[2] = 75;  // above 70 - 4 - 3
    o.fVelocity[0] = 0;
    o.fVelocity[1] = 0.5f;
    o.fVelocity[2] = 1;
    MoveObject(o);
    EXPECT_EQ(o.fPosition[2], 76);
    EXPECT_EQ(o.fVelocity[2], -1);
    MoveObject(o);
    EXPECT_EQ(o.fPosition[2], 75);
    EXPECT_EQ(o.fVelocity[2], 1);  // still beyond: reverses again
    EXPECT_EQ(o.fPosition[0], 10);
    EXPECT_EQ(o.fVelocity[0], 0);
}
