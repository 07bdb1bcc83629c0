#include <gtest/gtest.h>

#include <vector>

#include "TestWorld.h"
#include "grid/Grid.h"
#include "scan/Scan.h"

namespace gridcull {
namespace {

// The viewpoint cell is the grid origin, so offsets are grid coordinates.
class VisibleCellTest : public ::testing::Test {
protected:
    void SetUp() override {
        w.iViewCellX = w.iViewCellY = w.iViewCellZ = 0;
        w.fViewX = w.fViewY = w.fViewZ = 60;  // far from every volume below
        w.pfnDrawObject = [](World& w, SceneObject& o, void* drawn) {
            static_cast<std::vector<int>*>(drawn)->push_back(static_cast<int>(&o - w.disks));
        };
        w.pDrawContext = &drawn_;
    }
    // Gives dynamic object j a temporal volume centred on cell (x, y, z), the object at its centre; returns the
    // volume's half edge.
    int GiveVolume(int j, int x, int y, int z) {
        test::PlaceDynamic(w, j, x + 0.5f, y + 0.5f, z + 0.5f, 0.3f, 0.0f, 0.4f, 1.0f);
        SceneObject& o = w.disks[j];
        o.fTbvOrigin[0] = x + 0.5f, o.fTbvOrigin[1] = y + 0.5f, o.fTbvOrigin[2] = z + 0.5f;
        o.iTbvStartFrame = 0, o.iTbvEndFrame = 8;
        InsertTbv(w, j);
        o.bInTemporalVolume = 1;
        return static_cast<int>(o.fTbvHalfSize);
    }
    // Refreshed: out of the temporal-volume state and out of every column set.
    bool Refreshed(int j) const {
        for (int k = 0; k < kColumnCount; ++k)
            if (w.TxyN[k].contains(j) || w.TyzN[k].contains(j) || w.TxzN[k].contains(j)) return false;
        return !w.disks[j].bInTemporalVolume && w.Txy[j].IsEmpty() && w.Tyz[j].IsEmpty() && w.Txz[j].IsEmpty();
    }
    bool InCell(int j, int x, int y, int z) const { return w.I[CellIndex(x, y, z)].contains(j); }

    test::WorldPtr world_ = test::MakeEmptyWorld();
    World& w = *world_;
    std::vector<int> drawn_;
};

TEST_F(VisibleCellTest, EachObjectIsDrawnOnceInOrderOfFirstMeetingUnlessDrawingIsOff) {
    for (int z : {5, 6, 7}) w.I[CellIndex(5, 5, z)].insert(300);
    w.I[CellIndex(5, 5, 6)].insert(250);
    for (int pass = 0; pass < 2; ++pass)
        for (int z = 5; z <= 7; ++z) HandleVisibleCell(w, 5, 5, z);
    EXPECT_EQ(drawn_, (std::vector<int>{300, 250}));
    EXPECT_EQ(w.PVS[300] + w.PVS[250] + w.PVS[251], 2);

    // Rendering disabled or exact visibility: marked, not drawn.
    w.I[CellIndex(1, 2, 3)].insert(400);
    for (unsigned char* flag : {&w.bRenderingDisabled, &w.bExactVisibility}) {
        *flag = 1, w.PVS[400] = 0;
        HandleVisibleCell(w, 1, 2, 3);
        EXPECT_EQ(w.PVS[400], 1);
        *flag = 0;
    }
    EXPECT_EQ(drawn_.size(), 2u);
}

TEST_F(VisibleCellTest, OnlyCellsOnTheVolumeSurfaceBringTheObjectBack) {
    const int c = 20, t = GiveVolume(5, c, c, c);
    ASSERT_GE(t, 2);
    HandleVisibleCell(w, c, c, c);  // inside the cube: no outline
    HandleVisibleCell(w, c, c, c + t - 1);
    HandleVisibleCell(w, c - t, c, c + t + 3);  // in line with a face, outside: one outline
    HandleVisibleCell(w, c - t - 1, c, c);      // just outside the face
    EXPECT_FALSE(Refreshed(5));

    // The object has moved onto the face x = c - t, whose cells lie on two outlines. It is drawn only when the
    // cell is handled again: the cell's objects were taken before the refresh.
    w.disks[5].fPosition[0] = static_cast<float>(c - t);
    HandleVisibleCell(w, c - t, c, c);
    EXPECT_TRUE(Refreshed(5) && InCell(5, c - t, c, c) && !InCell(5, c, c, c));
    EXPECT_EQ(w.PVS[5], 0);
    HandleVisibleCell(w, c - t, c, c);
    EXPECT_EQ(drawn_, std::vector<int>{5});

    // Edge and corner cells lie on three outlines.
    for (int corner : {0, 1}) {
        GiveVolume(6, c, c, c);
        HandleVisibleCell(w, c + t, c - t, corner ? c + t : c + 1);
        EXPECT_TRUE(Refreshed(6)) << corner;
    }
}

TEST_F(VisibleCellTest, EveryVolumeThroughTheCellIsRefreshedInOneCall) {
    // Volumes 8 and 9 meet at z = 15 + t: the cell (15 - t, 15, 15 + t) is on the surface of both. The xy outline
    // of volume 10 and the yz outline of volume 11 pass the cell's columns too, but the cell is outside their cubes.
    const int t = GiveVolume(8, 15, 15, 15), x = 15 - t, y = 15, z = 15 + t;
    ASSERT_EQ(GiveVolume(9, 15, 15, 15 + 2 * t), t);
    ASSERT_EQ(GiveVolume(10, 15, 15, 40), t);
    ASSERT_EQ(GiveVolume(11, 40, 15, 15), t);
    auto passing = [&] { return w.TxyN[XyColumn(x, y)].contains(10) && w.TyzN[YzColumn(y, z)].contains(11); };
    ASSERT_TRUE(passing());

    HandleVisibleCell(w, x, y, z);
    EXPECT_TRUE(Refreshed(8) && Refreshed(9));
    EXPECT_EQ(w.disks[10].bInTemporalVolume + w.disks[11].bInTemporalVolume, 2);
    EXPECT_TRUE(passing());
    EXPECT_TRUE(InCell(8, 15, 15, 15) && InCell(9, 15, 15, 15 + 2 * t));
}

}  // namespace
}  // namespace gridcull
