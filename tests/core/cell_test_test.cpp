#include <gtest/gtest.h>

#include <vector>

#include "TestWorld.h"
#include "grid/Grid.h"
#include "scan/Scan.h"

namespace gridcull {
namespace {

struct Calls {
    std::vector<int> drawn;
    int tested = 0;
};

class CellTestTest : public ::testing::Test {
protected:
    void SetUp() override {
        world_ = test::MakeEmptyWorld();
        World& w = *world_;
        w.iViewCellX = w.iViewCellY = w.iViewCellZ = 35;
        w.pfnDrawObject = [](World& w, SceneObject& o, void* c) {
            static_cast<Calls*>(c)->drawn.push_back(static_cast<int>(&o - w.disks));
        };
        w.pDrawContext = &calls_;
        w.iDist = 3;
        w.iFaceStride = 9;
        w.bShellOccluded = 1;
        for (int f = 0; f < 6; ++f) w.iFaceUMin[f] = w.iFaceVMin[f] = 512, w.iFaceUMax[f] = w.iFaceVMax[f] = 0;
        SetCellTestObserver([](World&, int, int, int, void* c) { ++static_cast<Calls*>(c)->tested; }, &calls_);
    }
    void TearDown() override { SetCellTestObserver(nullptr, nullptr); }

    unsigned Cell(int a, int b, int c) const { return static_cast<unsigned>(CellIndex(35 + a, 35 + b, 35 + c)); }
    int MarkedFaces() const {
        int n = 0;
        for (int f = 0; f < 6; ++f) n += world_->bFaceMarked[f];
        return n;
    }

    test::WorldPtr world_;
    Calls calls_;
};

TEST_F(CellTestTest, CellsBeyondTheShellAreObservedButUntouched) {
    World& w = *world_;
    const int beyond[6][3] = {{4, 0, 0}, {-4, 0, 0}, {0, 4, 0}, {0, -4, 0}, {2, 1, 4}, {0, 0, -4}};
    for (const auto& o : beyond) {
        w.O.Set(Cell(o[0], o[1], o[2]));
        w.I[Cell(o[0], o[1], o[2])].insert(300);
        CellTest(w, o[0], o[1], o[2]);
    }
    EXPECT_EQ(calls_.tested, 6);
    EXPECT_EQ(w.PVSVF[300] + w.PVS[300] + MarkedFaces(), 0);
    EXPECT_EQ(w.bShellOccluded, 1);

    w.O.Set(Cell(3, 0, 0));  // the same occluder on the shell is seen
    w.I[Cell(3, 0, 0)].insert(300);
    CellTest(w, 3, 0, 0);
    EXPECT_EQ(w.PVSVF[300] + w.PVS[300] + w.bFaceMarked[2], 3);

    SetCellTestObserver(nullptr, nullptr);
    CellTest(w, 3, 0, 0);
    EXPECT_EQ(calls_.tested, 7);
}

TEST_F(CellTestTest, HiddenVisibleOccluderAndOpenCells) {
    World& w = *world_;
    // Hidden occluder: its objects count for PVSVF only.
    w.H.Set(Cell(3, -3, 3));
    w.O.Set(Cell(3, -3, 3));
    w.I[Cell(3, -3, 3)].insert(301);
    CellTest(w, 3, -3, 3);
    EXPECT_EQ(w.PVSVF[301], 1);
    EXPECT_EQ(w.PVS[301] + MarkedFaces(), 0);
    EXPECT_TRUE(calls_.drawn.empty());
    EXPECT_EQ(w.bShellOccluded, 1);

    // Visible occluder: marked on faces 0, 2 and 5 and drawn; the shell stays occluded.
    w.H.Clear(Cell(3, -3, 3));
    CellTest(w, 3, -3, 3);
    EXPECT_EQ(MarkedFaces(), 3);
    EXPECT_EQ(w.FaceMap[0][6 * 9 + 0] + w.FaceMap[2][6 * 9 + 6] + w.FaceMap[5][0], 3);
    EXPECT_EQ(calls_.drawn, std::vector<int>{301});
    EXPECT_EQ(w.bShellOccluded, 1);

    // An open cell, even inside the shell, keeps the walk going.
    w.I[Cell(1, 2, -3)].insert(302);
    CellTest(w, 1, 2, -3);
    EXPECT_EQ(w.bShellOccluded, 0);
    EXPECT_EQ(w.PVS[302] + w.PVSVF[302], 2);
    EXPECT_EQ(MarkedFaces(), 3);
}

TEST_F(CellTestTest, ObjectBroughtBackIntoTheCellCountsForPvsvfAtOnce) {
    World& w = *world_;
    // Dynamic object 7: a volume around (20, 35, 32) whose face x = 20 - t
    // passes through the cell the object has moved to.
    test::PlaceDynamic(w, 7, 0, 0, 0, 0.3f, 0.0f, 0.4f, 1.0f);
    SceneObject& o = w.disks[7];
    o.fTbvOrigin[0] = 20.5f, o.fTbvOrigin[1] = 35.5f, o.fTbvOrigin[2] = 32.5f;
    o.iTbvStartFrame = 0, o.iTbvEndFrame = 8;
    w.fViewX = w.fViewY = w.fViewZ = 60;  // far from the volume
    InsertTbv(w, 7);
    o.bInTemporalVolume = 1;
    const int t = static_cast<int>(o.fTbvHalfSize);
    ASSERT_GE(t, 2);
    const int a = 20 - t - 35, c = 32 - 35;
    o.fPosition[0] = 35.0f + a, o.fPosition[1] = 35.0f, o.fPosition[2] = 35.0f + c;
    w.iDist = std::max(std::abs(a), std::abs(c));
    w.iFaceStride = 2 * w.iDist + 3;

    CellTest(w, a, 0, c);
    EXPECT_EQ(o.bInTemporalVolume, 0);
    EXPECT_EQ(w.PVSVF[7], 1);
    EXPECT_EQ(w.PVS[7], 0);  // the cell's objects were marked before the refresh
    CellTest(w, a, 0, c);
    EXPECT_EQ(calls_.drawn, std::vector<int>{7});
}

}  // namespace
}  // namespace gridcull
