// Whole frames of the generated scene. Random views against the traversal's
// invariants are in random_views_test.cpp.
#include "visibility/Frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "TestWorld.h"
#include "grid/Grid.h"

namespace gridcull {
namespace {

TEST(Frame, FirstFrameRegistersEveryMovingObjectThenTradesThemForVolumes) {
    auto w = test::MakeSceneWorld();
    BeginFrame(*w);
    for (int j = 0; j < kDynamicCount; ++j) {
        const SceneObject& o = w->disks[j];
        ASSERT_EQ(o.bInTemporalVolume, 0);
        // Generation can place an object wholly beyond z = 69.5.
        if (o.fPosition[2] - o.fBoundRadius < 69.5f) {
            ASSERT_GT(o.iCellCount, 0) << j;
        }
    }
    RunVisibilityPass(*w);
    ResetGridAndCount(*w, 0);
    AdvanceFrame(*w);
    EXPECT_EQ(w->iFrame, 1);

    // Second frame: every object still exact gets a volume half as long.
    int expectedEnd[kDynamicCount];
    for (int j = 0; j < kDynamicCount; ++j) {
        const SceneObject& o = w->disks[j];
        expectedEnd[j] = o.bInTemporalVolume ? -1 : static_cast<int>((o.iTbvEndFrame - o.iTbvStartFrame) * 0.5 + 1);
    }
    BeginFrame(*w);
    for (int j = 0; j < kDynamicCount; ++j) {
        const SceneObject& o = w->disks[j];
        EXPECT_EQ(o.bInTemporalVolume, 1) << j;
        EXPECT_EQ(o.iTbvStartFrame, 1);
        // The volume rules may shorten the interval, never lengthen it.
        if (expectedEnd[j] >= 0) {
            EXPECT_LE(o.iTbvEndFrame, expectedEnd[j]) << j;
        }
    }
}

TEST(Frame, WithoutOccludersNothingIsHiddenAndTheWalkCrossesTheGrid) {
    auto w = test::MakeSceneWorld();
    w->Os.ClearAll();
    w->O.ClearAll();
    // Static objects no longer occlude; moving ones would, so stop them
    // registering occluders by shrinking their spheres.
    for (int j = 0; j < kDynamicCount; ++j) w->disks[j].fRadius = 0.1f;
    for (int frame = 0; frame < 3; ++frame) {
        BeginFrame(*w);
        RunVisibilityPass(*w);
        EXPECT_TRUE(w->H.IsEmpty()) << "frame " << frame;
        EXPECT_GE(w->iDist, 34) << "frame " << frame;  // reaches the far face z = 69
        EXPECT_EQ(std::count(w->PVS, w->PVS + kObjectCount, 1), std::count(w->PVSVF, w->PVSVF + kObjectCount, 1))
            << "frame " << frame;
        ResetGridAndCount(*w, 0);
        AdvanceFrame(*w);
    }
}

TEST(FrameCounts, AverageStartsAfterFrameHundred) {
    auto w = test::MakeEmptyWorld();
    w->iFrame = 100;
    EXPECT_EQ(ResetGridAndCount(*w, 50).fFpsAverage, 0);
    EXPECT_EQ(w->iFpsSamples, 0);
    w->iFrame = 101;
    EXPECT_DOUBLE_EQ(ResetGridAndCount(*w, 50).fFpsAverage, 50);
    w->iFrame = 102;
    EXPECT_DOUBLE_EQ(ResetGridAndCount(*w, 70).fFpsAverage, 60);
}

// Plays back a script of readings, one per call; the last reading repeats.
std::vector<int> gScript;
std::size_t gNext = 0;
int ScriptedClock() { return gScript[std::min(gNext++, gScript.size() - 1)]; }

// A reading comes once 500 ms have passed since the reference time: frames
// over the elapsed seconds. The clock is then re-read for the next window and
// the reading held until that window ends.
TEST(FpsMeter, ReadingAtTheWindowEndThenHeld) {
    gScript = {1000, 1100, 1300, 1499, 1500, 1510, 1800, 2009, 2010, 2020, 6020};
    FpsMeter meter;
    StartFpsMeter(meter, ScriptedClock);
    EXPECT_EQ(meter.iReferenceTime, 1000);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(UpdateFpsMeter(meter, ScriptedClock), 0.0);  // 499 ms: one short
    EXPECT_EQ(meter.iFrameCount, 3);
    EXPECT_DOUBLE_EQ(UpdateFpsMeter(meter, ScriptedClock), 4 / 0.5);
    EXPECT_TRUE(meter.iFrameCount == 0 && meter.iReferenceTime == 1510);
    EXPECT_DOUBLE_EQ(UpdateFpsMeter(meter, ScriptedClock), 8.0);
    EXPECT_DOUBLE_EQ(UpdateFpsMeter(meter, ScriptedClock), 8.0);  // 499 ms after the re-read
    EXPECT_DOUBLE_EQ(UpdateFpsMeter(meter, ScriptedClock), 3 / 0.5);
    EXPECT_EQ(meter.iReferenceTime, 2020);
    EXPECT_DOUBLE_EQ(UpdateFpsMeter(meter, ScriptedClock), 1 / 4.0);  // a long frame
}

}  // namespace
}  // namespace gridcull
