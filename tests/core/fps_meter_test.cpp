#include <gtest/gtest.h>

#include <vector>

#include "visibility/Frame.h"

namespace gridcull {
namespace {

// A clock that plays back a script of readings, one per call; the last
// reading repeats.
std::vector<int> gScript;
std::size_t gNext = 0;
int ScriptedClock() {
    const int t = gScript[gNext < gScript.size() ? gNext : gScript.size() - 1];
    if (gNext < gScript.size()) ++gNext;
    return t;
}
void Play(std::vector<int> readings) {
    gScript = std::move(readings);
    gNext = 0;
}

TEST(FpsMeter, NoReadingBeforeHalfASecond) {
    FpsMeter meter;
    Play({1000, 1100, 1300, 1499});
    StartFpsMeter(meter, ScriptedClock);
    EXPECT_EQ(meter.iReferenceTime, 1000);
    EXPECT_EQ(UpdateFpsMeter(meter, ScriptedClock), 0.0);
    EXPECT_EQ(UpdateFpsMeter(meter, ScriptedClock), 0.0);
    EXPECT_EQ(UpdateFpsMeter(meter, ScriptedClock), 0.0);  // 499 ms: one short
    EXPECT_EQ(meter.iFrameCount, 3);
    EXPECT_EQ(meter.iCurrentTime, 1499);
}

TEST(FpsMeter, ReadingAtTheWindowEndThenHeld) {
    FpsMeter meter;
    // Start at 0; frames at 100, 300, 500 (reading, then the fresh re-read
    // gives 510); frames at 600, 800 and 1009 stay in the new window; 1010
    // ends it with four frames.
    Play({0, 100, 300, 500, 510, 600, 800, 1009, 1010, 1020});
    StartFpsMeter(meter, ScriptedClock);
    UpdateFpsMeter(meter, ScriptedClock);
    UpdateFpsMeter(meter, ScriptedClock);
    EXPECT_DOUBLE_EQ(UpdateFpsMeter(meter, ScriptedClock), 3 / 0.5);
    EXPECT_EQ(meter.iFrameCount, 0);
    EXPECT_EQ(meter.iReferenceTime, 510);
    EXPECT_DOUBLE_EQ(UpdateFpsMeter(meter, ScriptedClock), 6.0);
    EXPECT_DOUBLE_EQ(UpdateFpsMeter(meter, ScriptedClock), 6.0);
    EXPECT_DOUBLE_EQ(UpdateFpsMeter(meter, ScriptedClock), 6.0);  // 499 ms after the re-read
    EXPECT_DOUBLE_EQ(UpdateFpsMeter(meter, ScriptedClock), 4 / 0.5);
    EXPECT_EQ(meter.iReferenceTime, 1020);
}

TEST(FpsMeter, LongFrameGivesAFractionalRate) {
    FpsMeter meter;
    Play({0, 4000, 4000});
    StartFpsMeter(meter, ScriptedClock);
    EXPECT_DOUBLE_EQ(UpdateFpsMeter(meter, ScriptedClock), 0.25);
}

}  // namespace
}  // namespace gridcull
