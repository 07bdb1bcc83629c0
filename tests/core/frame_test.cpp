// Frame counts and the frame-rate meter.
#include "visibility/Frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "TestWorld.h"
#include "grid/Grid.h"

namespace gridcull {
namespace {

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
