// Row scans, the cell test and visible-cell handling.
#include "scan/Scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <vector>

#include "TestWorld.h"
#include "grid/Grid.h"

namespace gridcull {
namespace {

using Cell = std::array<int, 3>;
using Cells = std::vector<Cell>;

// The empty grid seen from cell centre (x, y, z) along a grid axis in
// direction +1, on the shell of distance d; the cells a row scan from start
// hands to the cell test, in order.
struct ScanCase {
    const char* what;
    int x, y, z, axis;
    float fov;
    int d;
    ScanMember member;
    Cell start;
    int faceOutside;
    Cells expected;
};
class RowScan : public ::testing::TestWithParam<ScanCase> {};

void Record(World&, int a, int b, int c, void* log) { static_cast<Cells*>(log)->push_back({a, b, c}); }

TEST_P(RowScan, HandsOverTheCellsInOrder) {
    // One grid serves the suite: the scans only read it, and the cell test of
    // an empty cell changes nothing but flags.
    static test::WorldPtr grid = test::MakeEmptyWorld();
    const ScanCase& k = GetParam();
    float f[3] = {0, 0, 0};
    f[k.axis] = 1;
    test::AimCamera(*grid, k.x, k.y, k.z, f[0], f[1], f[2], k.fov);
    grid->iDist = k.d;
    Cells calls;
    SetCellTestObserver(&Record, &calls);
    ScanRow(*grid, k.member, k.start[0], k.start[1], k.start[2], k.faceOutside);
    SetCellTestObserver(nullptr, nullptr);
    EXPECT_EQ(calls, k.expected) << k.what;
}

// At 120 degrees the planes are padded by 0.683 along their normals; a ray
// along an axis at distance 1 to 3 off the view axis leaves them between 0
// and 1 in front of the viewpoint, so wraps and cap rows end at offset 0.
INSTANTIATE_TEST_SUITE_P(
    Scans, RowScan,
    ::testing::Values(
        ScanCase{"low run and its wrap onto y = -1, then the high run and its wrap", 35, 35, 35, 0, 120, 1, kFaceXPos,
                 {1, 0, 0}, 0, {{1, 0, 0}, {1, -1, 0}, {1, -1, 0}, {0, -1, 0}, {1, 0, 0}, {1, 1, 0}, {1, 1, 0}, {0, 1, 0}}},
        // Grid y = 0 is offset -1: the low run is clamped there, below the
        // start cell, and the low corner (3, -3, 0) lies outside, so it does not wrap.
        ScanCase{"clamped at the grid", 35, 1, 35, 0, 120, 3, kFaceXPos, {3, 0, 0}, 0,
                 {{3, -1, 0}, {3, 0, 0}, {3, 1, 0}, {3, 2, 0}, {3, 3, 0}, {3, 3, 0}, {2, 3, 0}, {1, 3, 0}, {0, 3, 0}}},
        ScanCase{"a narrow frustum ends the row inside the face: no corner, no wrap", 35, 35, 35, 0, 30, 3, kFaceXPos,
                 {3, 0, 0}, 0, {{3, 0, 0}, {3, -1, 0}, {3, 0, 0}, {3, 1, 0}}},
        ScanCase{"front face z = 70 lies outside; the wraps start at z = 69", 35, 35, 67, 2, 120, 3, kFaceZPos,
                 {0, 0, 3}, 1, {{0, -3, 2}, {0, -3, 1}, {0, -3, 0}, {0, 3, 2}, {0, 3, 1}, {0, 3, 0}}},
        // From x = 60 at 92 degrees the wraps of the row at x = 75 leave the
        // frustum at x = 73.5, outside the grid: the guarded face member skips
        // them, the edge member scans the grid's boundary.
        ScanCase{"guarded face member", 60, 35, 35, 0, 92, 15, kFaceXPos, {15, 0, 0}, 1, {}},
        ScanCase{"edge member", 60, 35, 35, 0, 92, 15, kEdgeXPos, {15, 0, 0}, 1, {{9, -15, 0}, {9, 15, 0}}}));

// Records what is drawn.
class CellHandling : public test::EmptyGrid {
protected:
    CellHandling() {
        w.pfnDrawObject = [](World& w, SceneObject& o, void* c) {
            static_cast<std::vector<int>*>(c)->push_back(static_cast<int>(&o - w.disks));
        };
        w.pDrawContext = &drawn_;
    }
    // Refreshed: out of the temporal-volume state and out of every column set.
    bool Refreshed(int j) const {
        return !w.disks[j].bInTemporalVolume && w.Txy[j].IsEmpty() && w.Tyz[j].IsEmpty() && w.Txz[j].IsEmpty() &&
               test::FootprintsAgree(w, j);
    }
    bool InCell(int j, int x, int y, int z) const { return w.I[CellIndex(x, y, z)].contains(j); }
    std::vector<int> drawn_;
};

// Shell 3 around viewpoint cell (35, 35, 35), every cell in the frustum.
class CellTestTest : public CellHandling {
protected:
    void SetUp() override {
        w.iViewCellX = w.iViewCellY = w.iViewCellZ = 35;
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
    // PVSVF and PVS of object j, the marked faces as bits, objects drawn, and whether the shell stays occluded.
    using State = std::array<int, 5>;
    State StateOf(int j) const {
        int faces = 0;
        for (int f = 0; f < 6; ++f) faces |= (w.bFaceMarked[f] != 0) << f;
        return {w.PVSVF[j], w.PVS[j], faces, static_cast<int>(drawn_.size()), w.bShellOccluded};
    }
    int tested_ = 0;
};

TEST_F(CellTestTest, CellsBeyondTheShellAreObservedButUntouched) {
    for (const Cell& o : {Cell{4, 0, 0}, Cell{-4, 0, 0}, Cell{0, 4, 0}, Cell{0, -4, 0}, Cell{2, 1, 4}, Cell{0, 0, -4}})
        Test(300, o[0], o[1], o[2], true);
    EXPECT_EQ(tested_, 6);
    EXPECT_EQ(StateOf(300), (State{0, 0, 0, 0, 1}));
    Test(300, 3, 0, 0, true);  // the same occluder on the shell is seen, on face 2
    EXPECT_EQ(StateOf(300), (State{1, 1, 1 << 2, 1, 1}));
    SetCellTestObserver(nullptr, nullptr);
    CellTest(w, 3, 0, 0);
    EXPECT_EQ(tested_, 7);
}

TEST_F(CellTestTest, HiddenVisibleOccluderAndOpenCells) {
    // Hidden occluder: its objects count for PVSVF only.
    w.H.Set(static_cast<unsigned>(CellIndex(38, 32, 38)));
    Test(301, 3, -3, 3, true);
    EXPECT_EQ(StateOf(301), (State{1, 0, 0, 0, 1}));
    // Visible occluder: marked on faces 0, 2 and 5 and drawn; the shell stays occluded.
    w.H.ClearAll();
    CellTest(w, 3, -3, 3);
    EXPECT_EQ(StateOf(301), (State{1, 1, 1 | 1 << 2 | 1 << 5, 1, 1}));
    // An open cell, even inside the shell, keeps the walk going.
    Test(302, 1, 2, -3, false);
    EXPECT_EQ(StateOf(302), (State{1, 1, 1 | 1 << 2 | 1 << 5, 2, 0}));
}

// Regression: an object refreshed into an open cell counts for PVSVF in the same call, though the cell's objects
// were marked before the refresh.
TEST_F(CellTestTest, ObjectBroughtBackIntoTheCellCountsForPvsvfAtOnce) {
    w.fViewX = w.fViewY = w.fViewZ = 60;  // far from the volume
    const int t = test::GiveVolume(w, 7, 20.5f, 35.5f, 32.5f, 0.3f, 0.0f, 0.4f, 1.0f, 0, 8);
    const int a = 20 - t - 35, c = 32 - 35;  // on the volume's face x = 20 - t
    SceneObject& o = w.disks[7];
    o.fPosition[0] = 35.0f + a, o.fPosition[1] = 35.0f, o.fPosition[2] = 35.0f + c;
    w.iDist = std::max(std::abs(a), std::abs(c)), w.iFaceStride = 2 * w.iDist + 3;
    CellTest(w, a, 0, c);
    EXPECT_EQ(o.bInTemporalVolume, 0);
    EXPECT_EQ(StateOf(7), (State{1, 0, 0, 0, 0}));
    CellTest(w, a, 0, c);
    EXPECT_EQ(drawn_, std::vector<int>{7});
}

// The viewpoint cell is the grid origin, so offsets are grid coordinates.
class VisibleCellTest : public CellHandling {
protected:
    void SetUp() override {
        w.iViewCellX = w.iViewCellY = w.iViewCellZ = 0;
        w.fViewX = w.fViewY = w.fViewZ = 60;  // far from every volume below
    }
    // A temporal volume centred on cell (x, y, z), the object at its centre; returns its half edge.
    int GiveVolume(int j, int x, int y, int z) {
        return test::GiveVolume(w, j, x + 0.5f, y + 0.5f, z + 0.5f, 0.3f, 0.0f, 0.4f, 1.0f, 0, 8);
    }
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
    ASSERT_TRUE(GiveVolume(9, 15, 15, 15 + 2 * t) == t && GiveVolume(10, 15, 15, 40) == t &&
                GiveVolume(11, 40, 15, 15) == t);
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
