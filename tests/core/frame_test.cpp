// Whole frames of the generated scene, checked against invariants that any
// correct traversal keeps, whatever the camera does.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "TestWorld.h"
#include "grid/Grid.h"
#include "scan/Scan.h"
#include "scene/Camera.h"
#include "visibility/Frame.h"

using namespace gridcull;

namespace {

struct CellLog {
    long long calls = 0;
    long long outsideGrid = 0;
};

void LogCell(World& w, int a, int b, int c, void* context) {
    auto* log = static_cast<CellLog*>(context);
    ++log->calls;
    if (!InGrid(w.iViewCellX + a, w.iViewCellY + b, w.iViewCellZ + c)) ++log->outsideGrid;
}

struct ObserverGuard {
    explicit ObserverGuard(CellLog& log) { SetCellTestObserver(LogCell, &log); }
    ~ObserverGuard() { SetCellTestObserver(nullptr, nullptr); }
};

// Runs one frame and checks the per-frame invariants; returns the pvs count.
int CheckedFrame(World& w, const std::string& where) {
    CellLog log;
    ObserverGuard guard(log);
    BeginFrame(w);
    RunVisibilityPass(w);
    const bool insideOccluder =
        w.O.Test(static_cast<unsigned>(CellIndex(w.iViewCellX, w.iViewCellY, w.iViewCellZ)));
    int pvs = 0;
    for (int i = 0; i < kObjectCount; ++i) {
        pvs += w.PVS[i];
        if (!insideOccluder) {
            EXPECT_TRUE(!w.PVS[i] || w.PVSVF[i]) << where << ": object " << i;
        }
    }
    EXPECT_EQ(log.outsideGrid, 0) << where;
    ResetGridAndCount(w, 0);
    EXPECT_TRUE(w.H.IsEmpty()) << where;
    EXPECT_TRUE(w.O.Equals(w.Os)) << where;
    AdvanceFrame(w);
    for (int i = 0; i < kObjectCount; ++i) {
        if (w.PVS[i] || w.PVSVF[i]) {
            ADD_FAILURE() << where << ": flags left set for object " << i;
            break;
        }
    }
    return pvs;
}

}  // namespace

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

TEST(Frame, StartCameraLooksDownTheZAxis) {
    auto w = test::MakeSceneWorld();
    BeginFrame(*w);
    EXPECT_EQ(w->iViewCellX, 35);
    EXPECT_EQ(w->iViewCellZ, 35);
    for (int k = 0; k < 2; ++k) {
        EXPECT_NEAR((w->fFarCorner[0][k] + w->fFarCorner[1][k]) * 0.5, 35, 1e-3);
    }
    EXPECT_NEAR((w->fFarCorner[0][2] + w->fFarCorner[1][2]) * 0.5, 35 + 121.24355, 1e-3);
}

TEST(Frame, InvariantsHoldOverScriptedViews) {
    auto w = test::MakeSceneWorld();
    // A turn in yaw, then roll and pitch, a walk to a grid corner, a wide and
    // a narrow field of view, fusion off.
    std::string keys;
    keys += std::string(12, '7') + std::string(6, '5') + std::string(6, '9');
    keys += std::string(40, 'X') + std::string(40, 'y') + std::string(40, 'Z');
    keys += std::string(130, '1') + std::string(8, '7') + "t" + std::string(180, '2') + std::string(4, '0');
    for (size_t k = 0; k < keys.size(); ++k) {
        ApplyKey(*w, static_cast<unsigned char>(keys[k]));
        CheckedFrame(*w, "key " + std::to_string(k) + " '" + keys[k] + "'");
        if (HasFailure()) return;
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
        int pvs = 0, pvsvf = 0;
        for (int i = 0; i < kObjectCount; ++i) {
            pvs += w->PVS[i];
            pvsvf += w->PVSVF[i];
        }
        EXPECT_EQ(pvs, pvsvf) << "frame " << frame;
        ResetGridAndCount(*w, 0);
        AdvanceFrame(*w);
    }
}

TEST(Frame, ViewpointInsideAnOccluderSeesOnlyItsOwnCell) {
    auto w = test::MakeSceneWorld();
    RunFrame(*w, 0);  // generation leaves every PVS flag set for the first frame
    // Find a static occluder cell and stand in it.
    int cell = -1;
    for (int c = 0; c < kCellCount && cell < 0; ++c)
        if (w->Os.Test(static_cast<unsigned>(c))) cell = c;
    ASSERT_GE(cell, 0);
    w->fViewX = static_cast<float>(cell % 70);
    w->fViewY = static_cast<float>(cell / 70 % 70);
    w->fViewZ = static_cast<float>(cell / 4900);
    BeginFrame(*w);
    RunVisibilityPass(*w);
    for (int i = 0; i < kObjectCount; ++i) EXPECT_EQ(w->PVS[i] != 0, w->I[cell].contains(i)) << i;
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
