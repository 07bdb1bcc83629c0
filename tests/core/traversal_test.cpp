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
#include "visibility/Frame.h"
#include "visibility/Frustum.h"

namespace gridcull {
namespace {

using Cell = std::array<int, 3>;

struct TestedCell {
    Cell offset;
    int iDist;  // shell being traversed when the cell was handed over
};

// Records every CellTest call while alive.
struct CellLog {
    CellLog() { SetCellTestObserver(&Record, this); }
    ~CellLog() { SetCellTestObserver(nullptr, nullptr); }
    static void Record(World& w, int a, int b, int c, void* self) {
        static_cast<CellLog*>(self)->calls.push_back({{a, b, c}, w.iDist});
    }
    std::vector<TestedCell> calls;
};

int Chebyshev(const Cell& c) { return std::max(std::abs(c[0]), std::max(std::abs(c[1]), std::abs(c[2]))); }

// The walk of one frame: from the viewpoint cell to the far rectangle's
// centre, truncated.
void Walk(World& w) {
    int end[3];
    for (int k = 0; k < 3; ++k) end[k] = static_cast<int>((w.fFarCorner[0][k] + w.fFarCorner[1][k]) * 0.5);
    WalkViewAxis(w, w.iViewCellX, w.iViewCellY, w.iViewCellZ, end[0], end[1], end[2]);
}

// Walks the empty grid and checks the cells handed over against brute force:
// front to back from shell 1, inside the grid, nothing hidden. With covers,
// every cell lies on its shell, every grid cell whose centre lies in the
// frustum is handed over on its shell, and the walk ends at the first shell
// without such a cell. Returns the end shell.
int CheckView(World& w, int x, int y, int z, float fx, float fy, float fz, float fov, bool covers = true) {
    SCOPED_TRACE(testing::Message() << x << "," << y << "," << z << " along " << fx << "," << fy << "," << fz);
    test::AimCamera(w, x, y, z, fx, fy, fz, fov);
    CellLog log;
    Walk(w);
    std::vector<std::set<Cell>> tested(w.iDist + 1);
    int outsideGrid = 0, backwards = 0, offShell = 0, missing = 0;
    for (size_t i = 0; i < log.calls.size(); ++i) {
        const TestedCell& t = log.calls[i];
        outsideGrid += !InGrid(x + t.offset[0], y + t.offset[1], z + t.offset[2]);
        backwards += t.iDist < (i > 0 ? log.calls[i - 1].iDist : 1);
        offShell += Chebyshev(t.offset) > t.iDist;
        if (Chebyshev(t.offset) == t.iDist) tested[t.iDist].insert(t.offset);
    }
    std::vector<bool> seen(3 * kGridSize, false);
    FrustumClamp clamp;
    for (int gz = 0; gz < kGridSize; ++gz)
        for (int gy = 0; gy < kGridSize; ++gy)
            for (int gx = 0; gx < kGridSize; ++gx) {
                const float p[3] = {1.0f * gx, 1.0f * gy, 1.0f * gz};
                const Cell c = {gx - x, gy - y, gz - z};
                const int d = Chebyshev(c);
                if (d == 0 || !PointInFrustum(w, p, clamp)) continue;
                seen[d] = true;
                missing += d <= w.iDist && !tested[d].count(c);
            }
    int last = 1;
    while (seen[last]) ++last;
    EXPECT_FALSE(log.calls.empty());
    EXPECT_EQ(outsideGrid + backwards, 0) << outsideGrid << " outside the grid, " << backwards << " backwards";
    EXPECT_TRUE(w.H.IsEmpty());
    if (covers) {
        EXPECT_EQ(offShell + missing, 0) << offShell << " off their shell, " << missing << " missing";
        EXPECT_EQ(w.iDist, last);
        EXPECT_TRUE(log.calls.empty() || log.calls.back().iDist < last);
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

// The start camera's walk towards a wall of occluders at grid z = z0 over x
// and y in lo..hi.
test::WorldPtr WalkTowardsWall(int z0, int lo, int hi, float fov) {
    test::WorldPtr w = test::MakeEmptyWorld();
    test::AimCamera(*w, 35, 35, 35, 0, 0, 1, fov);
    for (int y = lo; y <= hi; ++y)
        for (int x = lo; x <= hi; ++x) w->O.Set(static_cast<unsigned>(CellIndex(x, y, z0)));
    Walk(*w);
    return w;
}

TEST(Traversal, OccluderWallEndsTheWalkFromShellTwoOn) {
    test::WorldPtr w = WalkTowardsWall(40, 0, kGridSize - 1, 55);
    EXPECT_EQ(w->iDist, 5);
    // The wall's face was propagated before the walk ended.
    EXPECT_TRUE(w->H.Test(static_cast<unsigned>(CellIndex(35, 35, 41))));

    // Occluders on shell 1 are not propagated and leave no marks; the same
    // block one shell farther is.
    w = WalkTowardsWall(36, 34, 36, 55);
    EXPECT_TRUE(w->H.IsEmpty());
    EXPECT_EQ(w->iDist, 35);
    const int widest = (2 * kGridSize + 3) * (2 * kGridSize + 3);
    for (int k = 0; k < 6; ++k)
        EXPECT_TRUE(!w->bFaceMarked[k] && std::all_of(w->FaceMap[k], w->FaceMap[k] + widest, [](int v) { return !v; }));
    EXPECT_FALSE(WalkTowardsWall(37, 34, 36, 55)->H.IsEmpty());

    // At 120 degrees the wall covers the whole face z = +2 while the side
    // faces stay open: that face is done for the frame, the walk goes on.
    w = WalkTowardsWall(37, 30, 40, 120);
    EXPECT_EQ(std::vector<int>(w->bFaceDone, w->bFaceDone + 6), (std::vector<int>{1, 0, 0, 0, 0, 0}));
    EXPECT_GT(w->iDist, 2);
}

// The walk's points are the Bresenham line's: toward (4, 2, 1) the y error
// term starts at 0 and must not step at once.
TEST(Traversal, WalkPointsFollowTheBresenhamLine) {
    test::WorldPtr w = test::MakeEmptyWorld();
    test::AimCamera(*w, 35, 35, 35, 4, 2, 1, 90);
    // The offsets handed over while run runs.
    auto offsets = [](auto run) {
        CellLog log;
        run();
        std::vector<Cell> cells;
        for (const TestedCell& t : log.calls) cells.push_back(t.offset);
        return cells;
    };
    const std::vector<Cell> walked = offsets([&] { WalkViewAxis(*w, 35, 35, 35, 39, 37, 36); });
    EXPECT_EQ(w->iDist, 4);
    EXPECT_EQ(walked, offsets([&] {
                  for (const Cell& p : {Cell{0, 0, 0}, Cell{1, 0, 0}, Cell{2, 1, 0}, Cell{3, 1, 1}, Cell{4, 2, 1}})
                      TraverseShell(*w, p[0], p[1], p[2]);
              }));
}

// A view along (1, 1, 1): its frustum's section of a shell is wider away from
// the line through the walk point, where literal culling finds its rows, so
// literal leaves frustum cells untested; strict culling tests them all.
TEST(Traversal, TurnedViewHasEveryFrustumCellTestedOnlyInStrictMode) {
    test::WorldPtr world = test::MakeEmptyWorld();
    World& w = *world;
    for (const unsigned char strict : {0, 1}) {
        w.bStrictCulling = strict;
        test::AimCamera(w, 35, 35, 35, 1, 1, 1, 55);
        std::set<int> tested;
        SetCellTestObserver(
            [](World& v, int a, int b, int c, void* out) {
                static_cast<std::set<int>*>(out)->insert(CellIndex(v.iViewCellX + a, v.iViewCellY + b, v.iViewCellZ + c));
            },
            &tested);
        RunVisibilityPass(w);
        SetCellTestObserver(nullptr, nullptr);
        int untested = 0;
        for (int z = 0; z < kGridSize; ++z)
            for (int y = 0; y < kGridSize; ++y)
                for (int x = 0; x < kGridSize; ++x)
                    untested += (x != 35 || y != 35 || z != 35) && CellInStrictFrustum(w, x - 35, y - 35, z - 35) &&
                                !tested.count(CellIndex(x, y, z));
        if (strict)
            EXPECT_EQ(untested, 0);
        else
            EXPECT_GT(untested, 500);
    }
}

}  // namespace
}  // namespace gridcull
