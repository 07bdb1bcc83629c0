#include "visibility/Traversal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <set>
#include <vector>

#include "TestWorld.h"
#include "grid/Grid.h"
#include "scan/Scan.h"
#include "visibility/Frustum.h"

namespace gridcull {
namespace {

using Cell = std::array<int, 3>;

int Chebyshev(const Cell& c) { return std::max({std::abs(c[0]), std::abs(c[1]), std::abs(c[2])}); }

// Walks the empty grid from cell centre (x, y, z) toward the far rectangle's centre and checks the cells handed
// over against brute force: front to back from shell 1, inside the grid, nothing hidden. With covers, every cell
// lies on its shell, every grid cell whose centre lies in the frustum is handed over on its shell, and the walk
// ends at the first shell without such a cell. Returns the end shell.
int CheckView(World& w, int x, int y, int z, float fx, float fy, float fz, float fov, bool covers = true) {
    SCOPED_TRACE(testing::Message() << x << "," << y << "," << z << " along " << fx << "," << fy << "," << fz);
    test::AimCamera(w, x, y, z, fx, fy, fz, fov);
    std::vector<std::pair<Cell, int>> calls;  // offset, and the shell being walked
    SetCellTestObserver(
        [](World& v, int a, int b, int c, void* log) {
            static_cast<decltype(calls)*>(log)->push_back({{a, b, c}, v.iDist});
        },
        &calls);
    int end[3];
    for (int k = 0; k < 3; ++k) end[k] = static_cast<int>((w.fFarCorner[0][k] + w.fFarCorner[1][k]) * 0.5);
    WalkViewAxis(w, x, y, z, end[0], end[1], end[2]);
    SetCellTestObserver(nullptr, nullptr);
    std::vector<std::set<Cell>> tested(w.iDist + 1);
    int outsideGrid = 0, backwards = 0, offShell = 0, missing = 0;
    for (size_t i = 0; i < calls.size(); ++i) {
        const auto& [o, d] = calls[i];
        outsideGrid += !InGrid(x + o[0], y + o[1], z + o[2]);
        backwards += d < (i > 0 ? calls[i - 1].second : 1);
        offShell += Chebyshev(o) > d;
        if (Chebyshev(o) == d) tested[d].insert(o);
    }
    std::vector<bool> seen(3 * kGridSize, false);
    FrustumClamp clamp;
    for (int g = 0; g < kCellCount; ++g) {
        const int gx = g % kGridSize, gy = g / kGridSize % kGridSize, gz = g / kColumnCount;
        const float p[3] = {1.0f * gx, 1.0f * gy, 1.0f * gz};
        const Cell c = {gx - x, gy - y, gz - z};
        const int d = Chebyshev(c);
        if (d == 0 || !PointInFrustum(w, p, clamp)) continue;
        seen[d] = true;
        missing += d <= w.iDist && !tested[d].count(c);
    }
    int last = 1;
    while (seen[last]) ++last;
    EXPECT_FALSE(calls.empty());
    EXPECT_EQ(outsideGrid + backwards, 0) << outsideGrid << " outside the grid, " << backwards << " backwards";
    EXPECT_TRUE(w.H.IsEmpty());
    if (covers) {
        EXPECT_EQ(offShell + missing, 0) << offShell << " off their shell, " << missing << " missing";
        EXPECT_EQ(w.iDist, last);
        EXPECT_TRUE(calls.empty() || calls.back().second < last);
    }
    return w.iDist;
}

TEST(Traversal, WalkCoversTheFrustumAndEndsWhereItLeavesTheGrid) {
    test::WorldPtr w = test::MakeEmptyWorld();
    // The start camera: shell 35 reaches z = 70, beyond the grid, nothing is
    // open there and the walk ends.
    EXPECT_EQ(CheckView(*w, 35, 35, 35, 0, 0, 1, 55), 35);
    // Axis views along +x, and down -y from near the top at 120 degrees:
    // caps and wraps on every side, rows cut at the grid's x and z boundaries.
    CheckView(*w, 35, 35, 35, 1, 0, 0, 55);
    CheckView(*w, 3, 66, 64, 0, -1, 0, 120);
    // Walk points on the x-z, x-y and y-z edges of every shell; at 120
    // degrees the frustum reaches round the far side of the row face.
    CheckView(*w, 20, 30, 40, 1, 1, 0, 60);
    CheckView(*w, 20, 30, 40, 0, -1, 1, 60);
    CheckView(*w, 20, 30, 40, 1, 0, -1, 120);
    // Narrow views drifting out through a side long before the walk point
    // leaves the grid: the shell whose section lies beyond the grid is
    // abandoned, where scanning its clamped rows would find open cells.
    CheckView(*w, 40, 35, 10, 0.8f, 0, 1, 4);
    CheckView(*w, 20, 30, 50, 1, 0, 1, 4);
    CheckView(*w, 20, 50, 30, 1, 1, 0, 4);
    // Rows are found along the line through the walk point, so a tilted view,
    // or a walk point on a shell corner, can leave frustum cells at the rim of
    // a face's section unscanned; the walk still stays inside the grid.
    CheckView(*w, 0, 0, 0, 1, 1, 1, 2, false);
    CheckView(*w, 69, 69, 69, -1, -0.3f, -0.6f, 179, false);
}

}  // namespace
}  // namespace gridcull
