// Row scans, the cell test and visible-cell handling.
#include "scan/Scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
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

TEST_P(RowScan, HandsOverTheCellsInOrder) {
    // One grid serves the suite: the scans only read it, and the cell test of
    // an empty cell changes nothing but flags.
    static test::WorldPtr grid = test::MakeEmptyWorld();
    const ScanCase& k = GetParam();
    test::AimCamera(*grid, k.x, k.y, k.z, k.axis == 0, k.axis == 1, k.axis == 2, k.fov);
    grid->iDist = k.d;
    Cells calls;
    SetCellTestObserver([](World&, int a, int b, int c, void* log) { static_cast<Cells*>(log)->push_back({a, b, c}); },
                        &calls);
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
        // Grid y = 0 is offset -1: the low run is clamped there, below the
        // start cell, and the low corner (3, -3, 0) lies outside, so it does not wrap.
        ScanCase{"clamped at the grid", 35, 1, 35, 0, 120, 3, kFaceXPos, {3, 0, 0}, 0,
                 {{3, -1, 0}, {3, 0, 0}, {3, 1, 0}, {3, 2, 0}, {3, 3, 0}, {3, 3, 0}, {2, 3, 0}, {1, 3, 0}, {0, 3, 0}}},
        ScanCase{"front face z = 70 lies outside; the wraps start at z = 69", 35, 35, 67, 2, 120, 3, kFaceZPos,
                 {0, 0, 3}, 1, {{0, -3, 2}, {0, -3, 1}, {0, -3, 0}, {0, 3, 2}, {0, 3, 1}, {0, 3, 0}}},
        // From x = 60 at 92 degrees the wraps of the row at x = 75 leave the
        // frustum at x = 73.5, outside the grid: the guarded face member skips
        // them, the edge member scans the grid's boundary.
        ScanCase{"guarded face member", 60, 35, 35, 0, 92, 15, kFaceXPos, {15, 0, 0}, 1, {}},
        ScanCase{"edge member", 60, 35, 35, 0, 92, 15, kEdgeXPos, {15, 0, 0}, 1, {{9, -15, 0}, {9, 15, 0}}}));

// An empty grid that records what is drawn.
class CellHandling : public test::EmptyGrid {
protected:
    CellHandling() {
        w.pfnDrawObject = [](World& w, SceneObject& o, void* c) {
            static_cast<std::vector<int>*>(c)->push_back(static_cast<int>(&o - w.disks));
        };
        w.pDrawContext = &drawn_;
    }
    std::vector<int> drawn_;
};

// Scans may run past the shell's edge: a cell beyond the shell is observed, but neither drawn nor marked nor
// counted for PVSVF, and does not open the shell; the same occluder cell on shell 3 is seen, on face 2.
TEST_F(CellHandling, CellsBeyondTheShellAreObservedButUntouched) {
    w.iViewCellX = w.iViewCellY = w.iViewCellZ = 35;
    w.iDist = 3, w.iFaceStride = 9, w.bShellOccluded = 1;
    for (int f = 0; f < 6; ++f) w.iFaceUMin[f] = w.iFaceVMin[f] = 512, w.iFaceUMax[f] = w.iFaceVMax[f] = 0;
    int tested = 0;
    SetCellTestObserver([](World&, int, int, int, void* n) { ++*static_cast<int*>(n); }, &tested);
    // PVSVF, PVS, marked faces as bits, objects drawn, and whether the shell stays occluded.
    auto state = [&] {
        int faces = 0;
        for (int f = 0; f < 6; ++f) faces |= (w.bFaceMarked[f] != 0) << f;
        return std::array<int, 5>{w.PVSVF[300], w.PVS[300], faces, int(drawn_.size()), w.bShellOccluded};
    };
    for (const Cell& o : {Cell{4, 0, 0}, Cell{-4, 0, 0}, Cell{0, 4, 0}, Cell{0, -4, 0}, Cell{2, 1, 4}, Cell{0, 0, -4},
                          Cell{3, 0, 0}}) {
        const unsigned cell = static_cast<unsigned>(CellIndex(35 + o[0], 35 + o[1], 35 + o[2]));
        w.O.Set(cell), w.I[cell].insert(300);
        CellTest(w, o[0], o[1], o[2]);
        EXPECT_EQ(state(), (o[0] == 3 ? std::array<int, 5>{1, 1, 1 << 2, 1, 1} : std::array<int, 5>{0, 0, 0, 0, 1}))
            << o[0] << "," << o[1] << "," << o[2];
    }
    SetCellTestObserver(nullptr, nullptr);
    CellTest(w, 3, 0, 0);
    EXPECT_EQ(tested, 7);
}

TEST_F(CellHandling, EachObjectIsDrawnOnceInOrderOfFirstMeetingUnlessDrawingIsOff) {
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

}  // namespace
}  // namespace gridcull
