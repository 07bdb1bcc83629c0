#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <tuple>

#include "TestWorld.h"
#include "grid/Grid.h"
#include "visibility/Frame.h"

using namespace gridcull;

namespace {

int CellsHolding(const World& w, int j) {
    int n = 0;
    for (int c = 0; c < kCellCount; ++c) n += w.I[c].contains(j);
    return n;
}

int ColumnSetsHolding(const World& w, int j) {
    int n = 0;
    for (int c = 0; c < kColumnCount; ++c) n += w.TxyN[c].contains(j) + w.TyzN[c].contains(j) + w.TxzN[c].contains(j);
    return n;
}

// Sets and bits of one object's outline agree on every plane.
void ExpectFootprintConsistent(const World& w, int j) {
    for (int c = 0; c < kColumnCount; ++c) {
        ASSERT_EQ(w.Txy[j].Test(c), w.TxyN[c].contains(j)) << "xy " << c;
        ASSERT_EQ(w.Tyz[j].Test(c), w.TyzN[c].contains(j)) << "yz " << c;
        ASSERT_EQ(w.Txz[j].Test(c), w.TxzN[c].contains(j)) << "xz " << c;
    }
}

// Dynamic object j at p, about to get a volume for frames start..end.
SceneObject& PrepareVolume(World& w, int j, float px, float py, float pz, float vx, float vy, float R, int start,
                           int end) {
    test::PlaceDynamic(w, j, px, py, pz, vx, vy, 0, R);
    SceneObject& o = w.disks[j];
    o.fTbvOrigin[0] = px;
    o.fTbvOrigin[1] = py;
    o.fTbvOrigin[2] = pz;
    o.iTbvStartFrame = start;
    o.iTbvEndFrame = end;
    return o;
}

}  // namespace

TEST(RegisterObject, CoversTheRoundedCubeAndBothCentreCells) {
    auto w = test::MakeEmptyWorld();
    test::PlaceDynamic(*w, 5, 10.4f, 20.6f, 30.5f, 0, 0, 0, 1.2f);
    RegisterObject(*w, 5, false, false);
    EXPECT_EQ(w->disks[5].iCellCount, 66);
    EXPECT_EQ(CellsHolding(*w, 5), 64);
    EXPECT_TRUE(w->I[CellIndex(9, 19, 29)].contains(5));
    EXPECT_TRUE(w->I[CellIndex(12, 22, 32)].contains(5));  // rnd(31.7) = 32
    EXPECT_FALSE(w->I[CellIndex(13, 22, 32)].contains(5));
    EXPECT_FALSE(w->I[CellIndex(12, 22, 33)].contains(5));

    // Registering again at the same place changes nothing.
    RegisterObject(*w, 5, false, false);
    EXPECT_EQ(w->disks[5].iCellCount, 66);
    EXPECT_EQ(CellsHolding(*w, 5), 64);

    // Remove-only takes it out everywhere; a second one is harmless.
    RegisterObject(*w, 5, false, true);
    EXPECT_EQ(CellsHolding(*w, 5), 0);
    RegisterObject(*w, 5, false, true);
    EXPECT_EQ(CellsHolding(*w, 5), 0);
}

TEST(RegisterObject, ClipsToTheGrid) {
    auto w = test::MakeEmptyWorld();
    test::PlaceDynamic(*w, 1, 0.2f, 69.0f, 35.0f, 0, 0, 0, 2.0f);
    RegisterObject(*w, 1, false, false);
    // x -2..2 -> 0..2, y 67..71 -> 67..69, z 33..37: 3 * 3 * 5 cells + 2 centres.
    EXPECT_EQ(w->disks[1].iCellCount, 47);
    EXPECT_EQ(CellsHolding(*w, 1), 45);

    test::PlaceDynamic(*w, 2, 100, 100, 100, 0, 0, 0, 3);
    RegisterObject(*w, 2, false, false);
    EXPECT_EQ(w->disks[2].iCellCount, 0);
    EXPECT_EQ(CellsHolding(*w, 2), 0);
}

TEST(RegisterObject, OccluderCellsLieWhollyInsideTheSphere) {
    auto w = test::MakeEmptyWorld();
    // Radius 1 on a cell centre: only that cell (corners sqrt(0.75) away).
    test::PlaceDynamic(*w, 3, 20, 20, 20, 0, 0, 0, 1.0f);
    RegisterObject(*w, 3, false, false);
    EXPECT_EQ(w->O.Count(), 1);
    EXPECT_TRUE(w->O.Test(CellIndex(20, 20, 20)));
    EXPECT_TRUE(w->Os.IsEmpty());

    // A corner exactly on the sphere counts: radius sqrt(0.75) = all corners on it.
    w->O.ClearAll();
    test::PlaceDynamic(*w, 4, 30, 30, 30, 0, 0, 0, 0.8660254f);
    w->disks[4].fRadius = std::sqrt(0.75f);
    RegisterObject(*w, 4, false, false);
    bool onSphere = 3 * 0.25 <= static_cast<double>(w->disks[4].fRadius * w->disks[4].fRadius);
    EXPECT_EQ(w->O.Test(CellIndex(30, 30, 30)), onSphere);

    // Static registrations go to Os and are never removed.
    w->O.ClearAll();
    test::PlaceDynamic(*w, 300, 40, 40, 40, 0, 0, 0, 2.5f);
    RegisterObject(*w, 300, true, false);
    EXPECT_TRUE(w->O.IsEmpty());
    // |d| + 0.5 <= 2.5 on two axes and on the third: 3 x 3 x 3 minus corners that miss.
    int count = 0;
    for (int z = 37; z <= 43; ++z)
        for (int y = 37; y <= 43; ++y)
            for (int x = 37; x <= 43; ++x) {
                double far = 0;
                for (int d : {x - 40, y - 40, z - 40}) far += (std::abs(d) + 0.5) * (std::abs(d) + 0.5);
                bool inside = far <= 6.25;
                ASSERT_EQ(w->Os.Test(CellIndex(x, y, z)), inside) << x << "," << y << "," << z;
                count += inside;
            }
    EXPECT_EQ(w->Os.Count(), count);
    EXPECT_GT(count, 1);
}

TEST(InsertTbv, OutlineOfAFarVolumeHasSeventyTwoColumnsPerPlane) {
    auto w = test::MakeEmptyWorld();
    w->fViewX = w->fViewY = w->fViewZ = 1000;                                                 // far away
    SceneObject& o = PrepareVolume(*w, 7, 20.7f, 30.2f, 40.9f, 0.3f, 0.4f, 4.06f, 100, 110);  // speed 0.5
    InsertTbv(*w, 7);
    EXPECT_EQ(o.fTbvHalfSize, 9);
    EXPECT_EQ(o.iTbvEndFrame, 110);
    EXPECT_EQ(w->Txy[7].Count(), 72);
    EXPECT_TRUE(w->Txy[7].Test(XyColumn(11, 21)));
    EXPECT_TRUE(w->Txy[7].Test(XyColumn(29, 39)));
    EXPECT_TRUE(w->Txy[7].Test(XyColumn(20, 21)));
    EXPECT_FALSE(w->Txy[7].Test(XyColumn(20, 30)));  // inside the square
    EXPECT_FALSE(w->Txy[7].Test(XyColumn(10, 21)));
    EXPECT_EQ(w->Tyz[7].Count(), 72);
    EXPECT_EQ(w->Txz[7].Count(), 72);
    ExpectFootprintConsistent(*w, 7);

    RemoveTbv(*w, 7);
    EXPECT_TRUE(w->Txy[7].IsEmpty());
    EXPECT_TRUE(w->Tyz[7].IsEmpty());
    EXPECT_TRUE(w->Txz[7].IsEmpty());
    EXPECT_EQ(ColumnSetsHolding(*w, 7), 0);
}

// The half size and end frame that the size cap and the viewpoint rule give.
TEST(InsertTbv, SizeCapViewpointRuleAndZeroSpeed) {
    struct Case {
        const char* what;
        float origin, vx, vy, R;
        int start, end;
        float view[3];
        int t, newEnd;
    } cases[] = {
        // t would be rnd(2 * 10 + 5) = 25: capped, end at rnd((15 - 5) / 2 + 50).
        {"size cap", 35, 2.0f, 0, 5, 50, 60, {1000, 1000, 1000}, 15, 55},
        // Viewer 6 cells away: t = trunc(6 / sqrt 3) - 1 = 2 < R, so trunc(R) = 4,
        // end rnd((4 - 4.06) / 0.5 + 100) = 100.
        {"viewpoint rule", 30.2f, 0.3f, 0.4f, 4.06f, 100, 110, {36.2f, 30.2f, 30.2f}, 4, 100},
        // A motionless object: no cap, no division by zero; near the viewer the
        // volume is the object itself and runs out at the next frame.
        {"zero speed, far", 30, 0, 0, 4.9f, 20, 40, {1000, 1000, 1000}, 5, 40},
        {"zero speed, near", 30, 0, 0, 4.9f, 20, 40, {33, 30, 30}, 4, 20},
    };
    for (const Case& k : cases) {
        auto w = test::MakeEmptyWorld();
        w->fViewX = k.view[0];
        w->fViewY = k.view[1];
        w->fViewZ = k.view[2];
        SceneObject& o = PrepareVolume(*w, 8, k.origin, k.origin, k.origin, k.vx, k.vy, k.R, k.start, k.end);
        InsertTbv(*w, 8);
        EXPECT_EQ(o.fTbvHalfSize, k.t) << k.what;
        EXPECT_EQ(o.iTbvEndFrame, k.newEnd) << k.what;
        ExpectFootprintConsistent(*w, 8);
    }
}

TEST(InsertTbv, VolumeNearAFaceKeepsOnlyItsInGridPart) {
    auto w = test::MakeEmptyWorld();
    w->fViewX = w->fViewY = w->fViewZ = 1000;
    SceneObject& o = PrepareVolume(*w, 10, 3.5f, 30.5f, 30.5f, 0.3f, 0.4f, 4.06f, 0, 10);
    InsertTbv(*w, 10);
    ASSERT_EQ(o.fTbvHalfSize, 9);
    // xy square x -6..12, y 21..39: the edge x = -6 is gone, rows clipped to 0..12.
    EXPECT_FALSE(w->Txy[10].Test(XyColumn(0, 30)));
    EXPECT_TRUE(w->Txy[10].Test(XyColumn(0, 21)));
    EXPECT_TRUE(w->Txy[10].Test(XyColumn(12, 30)));
    EXPECT_EQ(w->Txy[10].Count(), 13 * 2 + 17);
    ExpectFootprintConsistent(*w, 10);
    RemoveTbv(*w, 10);
    EXPECT_EQ(ColumnSetsHolding(*w, 10), 0);
}

// The viewpoint rule can end an interval long before it starts. Renewals
// must treat that as an empty interval: the volume never shrinks below the
// object and its outline stays on the grid.
TEST(RefreshDynamicObject, SlowObjectNextToTheViewerKeepsAValidVolume) {
    auto w = test::MakeEmptyWorld();
    w->fViewX = 30;
    w->fViewY = 30;
    w->fViewZ = 33;
    test::PlaceDynamic(*w, 12, 30, 30, 30, 0.005f, 0, 0, 4.9f);
    w->PVS[12] = 1;  // first frame: registered exactly
    SceneObject& o = w->disks[12];
    o.iTbvStartFrame = 0;
    o.iTbvEndFrame = 40;
    for (int frame = 0; frame < 400; ++frame) {
        w->iFrame = frame;
        RefreshDynamicObject(*w, 12);
        w->PVS[12] = 0;
        if (frame == 0) continue;
        ASSERT_EQ(o.bInTemporalVolume, 1);
        ASSERT_GE(o.fTbvHalfSize, 4) << "frame " << frame;
        const int cx = static_cast<int>(o.fTbvOrigin[0]), cy = static_cast<int>(o.fTbvOrigin[1]);
        ASSERT_TRUE(w->Txy[12].Test(XyColumn(cx - static_cast<int>(o.fTbvHalfSize), cy))) << "frame " << frame;
        ASSERT_GT(o.iTbvEndFrame, frame - 1000) << "frame " << frame;
        o.fPosition[0] += o.fVelocity[0];
    }
    EXPECT_EQ(CellsHolding(*w, 12), 0);
    ExpectFootprintConsistent(*w, 12);
}
