#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "TestWorld.h"
#include "grid/Grid.h"
#include "scan/Scan.h"

namespace gridcull {
namespace {

// Shell 3 around viewpoint cell (35, 35, 35), every cell in the frustum; records what is drawn and tested.
class CellTestTest : public ::testing::Test {
protected:
    void SetUp() override {
        w.iViewCellX = w.iViewCellY = w.iViewCellZ = 35;
        w.pfnDrawObject = [](World& w, SceneObject& o, void* c) {
            static_cast<std::vector<int>*>(c)->push_back(static_cast<int>(&o - w.disks));
        };
        w.pDrawContext = &drawn_;
        w.iDist = 3, w.iFaceStride = 9, w.bShellOccluded = 1;
        for (int f = 0; f < 6; ++f) w.iFaceUMin[f] = w.iFaceVMin[f] = 512, w.iFaceUMax[f] = w.iFaceVMax[f] = 0;
        SetCellTestObserver([](World&, int, int, int, void* n) { ++*static_cast<int*>(n); }, &tested_);
    }
    void TearDown() override { SetCellTestObserver(nullptr, nullptr); }

    // Puts object j into the cell at offset (a, b, c), an occluder cell or not, and tests that cell.
    void Test(int j, int a, int b, int c, bool occluder) {
        const unsigned cell = static_cast<unsigned>(CellIndex(35 + a, 35 + b, 35 + c));
        if (occluder) w.O.Set(cell);
        w.I[cell].insert(j);
        CellTest(w, a, b, c);
    }
    int MarkedFaces() const {
        int n = 0;
        for (unsigned char m : w.bFaceMarked) n += m;
        return n;
    }

    test::WorldPtr world_ = test::MakeEmptyWorld();
    World& w = *world_;
    std::vector<int> drawn_;
    int tested_ = 0;
};

TEST_F(CellTestTest, CellsBeyondTheShellAreObservedButUntouched) {
    for (const auto& o : {std::vector<int>{4, 0, 0}, {-4, 0, 0}, {0, 4, 0}, {0, -4, 0}, {2, 1, 4}, {0, 0, -4}})
        Test(300, o[0], o[1], o[2], true);
    EXPECT_EQ(tested_, 6);
    EXPECT_EQ(w.PVSVF[300] + w.PVS[300] + MarkedFaces(), 0);
    EXPECT_EQ(w.bShellOccluded, 1);

    Test(300, 3, 0, 0, true);  // the same occluder on the shell is seen
    EXPECT_EQ(w.PVSVF[300] + w.PVS[300] + w.bFaceMarked[2], 3);
    SetCellTestObserver(nullptr, nullptr);
    CellTest(w, 3, 0, 0);
    EXPECT_EQ(tested_, 7);
}

TEST_F(CellTestTest, HiddenVisibleOccluderAndOpenCells) {
    // Hidden occluder: its objects count for PVSVF only.
    w.H.Set(static_cast<unsigned>(CellIndex(38, 32, 38)));
    Test(301, 3, -3, 3, true);
    EXPECT_EQ(w.PVSVF[301], 1);
    EXPECT_EQ(w.PVS[301] + MarkedFaces() + static_cast<int>(drawn_.size()), 0);
    EXPECT_EQ(w.bShellOccluded, 1);

    // Visible occluder: marked on faces 0, 2 and 5 and drawn; the shell stays occluded.
    w.H.ClearAll();
    CellTest(w, 3, -3, 3);
    EXPECT_EQ(MarkedFaces(), 3);
    EXPECT_EQ(w.FaceMap[0][6 * 9 + 0] + w.FaceMap[2][6 * 9 + 6] + w.FaceMap[5][0], 3);
    EXPECT_EQ(drawn_, std::vector<int>{301});
    EXPECT_EQ(w.bShellOccluded, 1);

    // An open cell, even inside the shell, keeps the walk going.
    Test(302, 1, 2, -3, false);
    EXPECT_EQ(w.bShellOccluded, 0);
    EXPECT_EQ(w.PVS[302] + w.PVSVF[302], 2);
    EXPECT_EQ(MarkedFaces(), 3);
}

// Regression: an object refreshed into an open cell counts for PVSVF in the same call, though the cell's objects
// were marked before the refresh.
TEST_F(CellTestTest, ObjectBroughtBackIntoTheCellCountsForPvsvfAtOnce) {
    test::PlaceDynamic(w, 7, 0, 0, 0, 0.3f, 0.0f, 0.4f, 1.0f);
    SceneObject& o = w.disks[7];
    o.fTbvOrigin[0] = 20.5f, o.fTbvOrigin[1] = 35.5f, o.fTbvOrigin[2] = 32.5f;
    o.iTbvStartFrame = 0, o.iTbvEndFrame = 8;
    w.fViewX = w.fViewY = w.fViewZ = 60;  // far from the volume
    InsertTbv(w, 7);
    o.bInTemporalVolume = 1;
    const int a = 20 - static_cast<int>(o.fTbvHalfSize) - 35, c = 32 - 35;  // on the volume's face x = 20 - t
    o.fPosition[0] = 35.0f + a, o.fPosition[1] = 35.0f, o.fPosition[2] = 35.0f + c;
    w.iDist = std::max(std::abs(a), std::abs(c)), w.iFaceStride = 2 * w.iDist + 3;
    CellTest(w, a, 0, c);
    EXPECT_EQ(o.bInTemporalVolume + w.PVS[7], 0);
    EXPECT_EQ(w.PVSVF[7], 1);
    CellTest(w, a, 0, c);
    EXPECT_EQ(drawn_, std::vector<int>{7});
}

}  // namespace
}  // namespace gridcull
