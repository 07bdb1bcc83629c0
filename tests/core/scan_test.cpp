#include "scan/Scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

#include "TestWorld.h"
#include "visibility/Frustum.h"

namespace gridcull {
namespace {

using Cell = std::array<int, 3>;
using Cells = std::vector<Cell>;

// The empty grid seen from cell centre (x, y, z) along a grid axis (0 x, 1 y,
// 2 z) in direction sign, on the shell of distance d. One grid serves the
// suite: the scans only read it, and the cell test of an empty cell changes
// nothing but flags.
World& AimShell(int x, int y, int z, int axis, int sign, float fov, int d) {
    static test::WorldPtr grid = test::MakeEmptyWorld();
    float f[3] = {0, 0, 0};
    f[axis] = static_cast<float>(sign);
    test::AimCamera(*grid, x, y, z, f[0], f[1], f[2], fov);
    grid->iDist = d;
    return *grid;
}

void Record(World&, int a, int b, int c, void* log) { static_cast<Cells*>(log)->push_back({a, b, c}); }

// The cells a row scan hands to the cell test, in order.
Cells Scan(World& w, ScanMember m, const Cell& s, int faceOutside) {
    Cells calls;
    SetCellTestObserver(&Record, &calls);
    ScanRow(w, m, s[0], s[1], s[2], faceOutside);
    SetCellTestObserver(nullptr, nullptr);
    return calls;
}

// At 120 degrees the planes are padded by 0.683 along their normals; a ray
// along an axis at distance 1 to 3 off the view axis leaves them between 0
// and 1 in front of the viewpoint, so wraps and cap rows end at offset 0.

TEST(Scans, RowScanTurnsAroundBothEdgesInOrder) {
    World& w = AimShell(35, 35, 35, 0, 1, 120, 1);
    // Low run and its wrap onto y = -1, then the high run and its wrap.
    const Cells expected = {{1, 0, 0}, {1, -1, 0}, {1, -1, 0}, {0, -1, 0}, {1, 0, 0}, {1, 1, 0}, {1, 1, 0}, {0, 1, 0}};
    EXPECT_EQ(Scan(w, kFaceXPos, {1, 0, 0}, 0), expected);
}

TEST(Scans, RowEndsAtTheGridOrTheFrustum) {
    // Grid y = 0 is offset -1: the low run is clamped there, below the start
    // cell, and the low corner (3, -3, 0) lies outside, so it does not wrap.
    World& w = AimShell(35, 1, 35, 0, 1, 120, 3);
    EXPECT_EQ(
        Scan(w, kFaceXPos, {3, 0, 0}, 0),
        (Cells{{3, -1, 0}, {3, 0, 0}, {3, 1, 0}, {3, 2, 0}, {3, 3, 0}, {3, 3, 0}, {2, 3, 0}, {1, 3, 0}, {0, 3, 0}}));
    // A narrow frustum ends the row inside the face: no corner, no wrap.
    AimShell(35, 35, 35, 0, 1, 30, 3);
    EXPECT_EQ(Scan(w, kFaceXPos, {3, 0, 0}, 0), (Cells{{3, 0, 0}, {3, -1, 0}, {3, 0, 0}, {3, 1, 0}}));
}

TEST(Scans, FaceBeyondTheGridWrapsOnlyFromTheGridAndOnlyWhenUnguarded) {
    // Front face z = 70 lies outside; the wraps start at z = 69 (offset 2).
    World& w = AimShell(35, 35, 67, 2, 1, 120, 3);
    EXPECT_EQ(Scan(w, kFaceZPos, {0, 0, 3}, 1),
              (Cells{{0, -3, 2}, {0, -3, 1}, {0, -3, 0}, {0, 3, 2}, {0, 3, 1}, {0, 3, 0}}));
    // From x = 60 at 92 degrees the wraps of the row at x = 75 leave the
    // frustum at x = 73.5, outside the grid: the guarded face member skips
    // them, the edge member scans the grid's boundary.
    AimShell(60, 35, 35, 0, 1, 92, 15);
    EXPECT_TRUE(Scan(w, kFaceXPos, {15, 0, 0}, 1).empty());
    EXPECT_EQ(Scan(w, kEdgeXPos, {15, 0, 0}, 1), (Cells{{9, -15, 0}, {9, 15, 0}}));
}

}  // namespace
}  // namespace gridcull
