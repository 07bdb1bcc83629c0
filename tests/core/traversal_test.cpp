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

struct TestedCell {
    Cell offset;
    int iDist;  // shell being traversed when the cell was handed over
};

// Records every CellTest call while alive.
class CellLog {
public:
    CellLog() { SetCellTestObserver(&Record, this); }
    ~CellLog() { SetCellTestObserver(nullptr, nullptr); }
    std::vector<TestedCell> calls;

private:
    static void Record(World& w, int a, int b, int c, void* self) {
        static_cast<CellLog*>(self)->calls.push_back({{a, b, c}, w.iDist});
    }
};

int Chebyshev(const Cell& c) { return std::max(std::abs(c[0]), std::max(std::abs(c[1]), std::abs(c[2]))); }

// Camera on cell centre (x, y, z) looking along forward, up y (z when
// looking along y).
void Aim(World& w, int x, int y, int z, float fx, float fy, float fz, float fov) {
    const float len = std::sqrt(fx * fx + fy * fy + fz * fz);
    const float f[3] = {fx / len, fy / len, fz / len};
    const float up[3] = {0, std::fabs(f[1]) > 0.99f ? 0.0f : 1.0f, std::fabs(f[1]) > 0.99f ? 1.0f : 0.0f};
    float r[3] = {up[1] * f[2] - up[2] * f[1], up[2] * f[0] - up[0] * f[2], up[0] * f[1] - up[1] * f[0]};
    const float rl = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
    for (float& v : r) v /= rl;
    const float u[3] = {f[1] * r[2] - f[2] * r[1], f[2] * r[0] - f[0] * r[2], f[0] * r[1] - f[1] * r[0]};
    std::fill_n(w.fViewMatrix, 16, 0.0f);
    for (int k = 0; k < 3; ++k) {
        w.fViewMatrix[4 * k] = r[k];
        w.fViewMatrix[4 * k + 1] = u[k];
        w.fViewMatrix[4 * k + 2] = f[k];
    }
    w.fViewMatrix[15] = 1;
    w.fViewX = static_cast<float>(x);
    w.fViewY = static_cast<float>(y);
    w.fViewZ = static_cast<float>(z);
    w.iViewCellX = x;
    w.iViewCellY = y;
    w.iViewCellZ = z;
    w.fFov = fov;
    SetupFrustum(w);
}

// The walk of one frame: from the viewpoint cell to the far rectangle's
// centre, truncated.
void Walk(World& w) {
    int end[3];
    for (int k = 0; k < 3; ++k) end[k] = static_cast<int>((w.fFarCorner[0][k] + w.fFarCorner[1][k]) * 0.5);
    std::fill_n(w.bFaceDone, 6, 0);
    WalkViewAxis(w, w.iViewCellX, w.iViewCellY, w.iViewCellZ, end[0], end[1], end[2]);
}

bool CentreInFrustum(const World& w, const Cell& c) {
    const float p[3] = {static_cast<float>(w.iViewCellX + c[0]), static_cast<float>(w.iViewCellY + c[1]),
                        static_cast<float>(w.iViewCellZ + c[2])};
    FrustumClamp clamp;
    return PointInFrustum(w, p, clamp) != 0;
}

// Brute force over the grid: the walk must hand over, on each shell it
// reaches, every grid cell whose centre lies in the frustum. Any other cell it
// hands over must touch such a cell (a frustum end rounded toward zero) or
// lie on the grid's boundary (the run of an unguarded scan from a face
// beyond the grid).
void ExpectShellsCoverFrustum(const World& w, const CellLog& log) {
    std::vector<std::set<Cell>> tested(w.iDist + 1);
    for (const TestedCell& t : log.calls)
        if (Chebyshev(t.offset) == t.iDist) tested[t.iDist].insert(t.offset);
    int missing = 0, stray = 0;
    for (int z = 0; z < kGridSize; ++z)
        for (int y = 0; y < kGridSize; ++y)
            for (int x = 0; x < kGridSize; ++x) {
                const Cell c = {x - w.iViewCellX, y - w.iViewCellY, z - w.iViewCellZ};
                const int d = Chebyshev(c);
                if (d == 0 || d > w.iDist) continue;
                missing += CentreInFrustum(w, c) && !tested[d].count(c);
            }
    for (const std::set<Cell>& shell : tested)
        for (const Cell& c : shell) {
            if (CentreInFrustum(w, c)) continue;
            bool touches = false;
            for (int k = 0; k < 3; ++k) {
                const int g = (k == 0 ? w.iViewCellX : k == 1 ? w.iViewCellY : w.iViewCellZ) + c[k];
                touches = touches || g == 0 || g == kGridSize - 1;
            }
            for (int k = 0; k < 3 && !touches; ++k)
                for (int s = -1; s <= 1 && !touches; s += 2) {
                    Cell n = c;
                    n[k] += s;
                    touches = CentreInFrustum(w, n);
                }
            stray += !touches;
        }
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(stray, 0);
}

void ExpectInsideGridAndShell(const World& w, const CellLog& log) {
    int outsideGrid = 0, beyondShell = 0;
    for (const TestedCell& t : log.calls) {
        outsideGrid += !InGrid(w.iViewCellX + t.offset[0], w.iViewCellY + t.offset[1], w.iViewCellZ + t.offset[2]);
        beyondShell += Chebyshev(t.offset) > t.iDist;
    }
    EXPECT_EQ(outsideGrid, 0);
    EXPECT_EQ(beyondShell, 0);
}

TEST(Traversal, StartCameraOnAnEmptyGridScansEveryFrustumCellFrontToBack) {
    test::WorldPtr w = test::MakeEmptyWorld();
    Aim(*w, 35, 35, 35, 0, 0, 1, 55);
    CellLog log;
    Walk(*w);

    ASSERT_FALSE(log.calls.empty());
    EXPECT_EQ(log.calls.front().iDist, 1);
    for (size_t i = 1; i < log.calls.size(); ++i) ASSERT_GE(log.calls[i].iDist, log.calls[i - 1].iDist);
    // Shell 35 reaches z = 70, beyond the grid: nothing open, the walk ends.
    EXPECT_EQ(w->iDist, kGridSize - 35);
    EXPECT_EQ(log.calls.back().iDist, kGridSize - 35 - 1);
    ExpectInsideGridAndShell(*w, log);
    ExpectShellsCoverFrustum(*w, log);
    EXPECT_TRUE(w->H.IsEmpty());
}

TEST(Traversal, AxisViewsUseOnlyTheirFrontFace) {
    test::WorldPtr w = test::MakeEmptyWorld();
    Aim(*w, 35, 35, 35, 1, 0, 0, 55);
    CellLog log;
    Walk(*w);
    // Only the x case: past shell 1, where the caps reach round the face's
    // edges, every cell lies on the face x = +D.
    int offFront = 0;
    for (const TestedCell& t : log.calls) offFront += t.iDist > 1 && t.offset[0] != t.iDist;
    EXPECT_EQ(offFront, 0);
    ExpectShellsCoverFrustum(*w, log);

    // Looking down -y from near the top at a wide angle: caps and wraps on
    // every side, rows cut at the grid's x and z boundaries.
    log.calls.clear();
    Aim(*w, 3, 66, 64, 0, -1, 0, 120);
    Walk(*w);
    EXPECT_EQ(w->iDist, 66 + 1);
    ExpectInsideGridAndShell(*w, log);
    ExpectShellsCoverFrustum(*w, log);
}

// Rows are found along the line through the walk point, so a tilted view
// whose section of a face reaches past that line's ends, or a walk point on
// a shell corner, can leave frustum cells at the section's rim unscanned;
// every cell handed over must still lie in the grid.
TEST(Traversal, TiltedAndDiagonalViewsStayInsideTheGrid) {
    test::WorldPtr w = test::MakeEmptyWorld();
    const struct {
        int x, y, z;
        float fx, fy, fz, fov;
    } views[] = {{35, 35, 35, 1, 1, 1, 55},           {0, 0, 0, 1, 1, 1, 2},
                 {69, 69, 69, -1, -0.3f, -0.6f, 179}, {5, 60, 30, 0.5f, -1, 0.2f, 80},
                 {35, 35, 35, 0.7f, 0.5f, 1, 120},    {3, 4, 5, 1, 1, 1, 30}};
    for (const auto& v : views) {
        CellLog log;
        Aim(*w, v.x, v.y, v.z, v.fx, v.fy, v.fz, v.fov);
        Walk(*w);
        SCOPED_TRACE(testing::Message() << "view from " << v.x << "," << v.y << "," << v.z);
        int outsideGrid = 0;
        for (const TestedCell& t : log.calls)
            outsideGrid += !InGrid(v.x + t.offset[0], v.y + t.offset[1], v.z + t.offset[2]);
        EXPECT_EQ(outsideGrid, 0);
        EXPECT_FALSE(log.calls.empty());
    }
}

TEST(Traversal, EdgeViewsScanEveryFrustumCell) {
    test::WorldPtr w = test::MakeEmptyWorld();
    // Walk points on the x-z, x-y and y-z edges of every shell; at 120
    // degrees the frustum reaches round the far side of the row face.
    const float views[][4] = {{1, 0, 1, 60}, {-1, 0, -1, 60}, {1, 1, 0, 60}, {0, -1, 1, 60}, {1, 0, -1, 120}};
    for (const auto& f : views) {
        SCOPED_TRACE(testing::Message() << "looking along " << f[0] << "," << f[1] << "," << f[2]);
        CellLog log;
        Aim(*w, 20, 30, 40, f[0], f[1], f[2], f[3]);
        Walk(*w);
        ExpectInsideGridAndShell(*w, log);
        ExpectShellsCoverFrustum(*w, log);
    }
}

// First shell without a grid cell whose centre lies in the frustum.
int FirstShellOutsideGrid(const World& w) {
    std::vector<bool> seen(3 * kGridSize, false);
    for (int z = 0; z < kGridSize; ++z)
        for (int y = 0; y < kGridSize; ++y)
            for (int x = 0; x < kGridSize; ++x) {
                const Cell c = {x - w.iViewCellX, y - w.iViewCellY, z - w.iViewCellZ};
                if (CentreInFrustum(w, c)) seen[Chebyshev(c)] = true;
            }
    int d = 1;
    while (seen[d]) ++d;
    return d;
}

TEST(Traversal, WalkEndsWhereTheFrustumLeavesTheGrid) {
    // Narrow views that drift out through a side of the grid long before the
    // walk reaches the far side: walk points on one face, then on x-z and
    // x-y edges. Once the frustum's section lies beyond the grid, the shell is
    // abandoned; scanning its clamped rows would find open cells there.
    test::WorldPtr w = test::MakeEmptyWorld();
    const struct {
        int x, y, z;
        float fx, fy, fz;
    } views[] = {{40, 35, 10, 0.8f, 0, 1}, {20, 30, 50, 1, 0, 1}, {20, 50, 30, 1, 1, 0}};
    for (const auto& v : views) {
        SCOPED_TRACE(testing::Message() << "looking along " << v.fx << "," << v.fy << "," << v.fz);
        Aim(*w, v.x, v.y, v.z, v.fx, v.fy, v.fz, 4);
        CellLog log;
        Walk(*w);
        const int last = FirstShellOutsideGrid(*w);
        EXPECT_EQ(w->iDist, last);
        EXPECT_LT(log.calls.back().iDist, last);
        ExpectInsideGridAndShell(*w, log);
        ExpectShellsCoverFrustum(*w, log);
    }
}

TEST(Traversal, ShortWalkVisitsEachShellOnceAndEndsOnTheEndPoint) {
    test::WorldPtr w = test::MakeEmptyWorld();
    Aim(*w, 35, 35, 35, 4, 2, 1, 90);
    CellLog log;
    WalkViewAxis(*w, 35, 35, 35, 39, 37, 36);
    std::vector<int> shells;
    for (const TestedCell& t : log.calls)
        if (shells.empty() || shells.back() != t.iDist) shells.push_back(t.iDist);
    EXPECT_EQ(shells, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(w->iDist, 4);

    // The Bresenham points of the line to (4, 2, 1), worked out by hand; the
    // y error term starts at 0 and must not step yet.
    CellLog byHand;
    const int points[][3] = {{0, 0, 0}, {1, 0, 0}, {2, 1, 0}, {3, 1, 1}, {4, 2, 1}};
    for (const auto& p : points) TraverseShell(*w, p[0], p[1], p[2]);
    ASSERT_EQ(byHand.calls.size(), log.calls.size());
    for (size_t i = 0; i < log.calls.size(); ++i) ASSERT_EQ(byHand.calls[i].offset, log.calls[i].offset) << i;
}

TEST(Traversal, ShellCornerIsScannedAsAnXZEdge) {
    test::WorldPtr w = test::MakeEmptyWorld();
    Aim(*w, 35, 35, 35, 1, 1, 1, 120);
    CellLog log;
    TraverseShell(*w, 2, 2, 2);
    // Rows of the face x = 2 along y, beginning with the row next to the
    // edge z = 2, which itself goes to the cap scan of the face z = 2.
    ASSERT_GE(log.calls.size(), 2u);
    EXPECT_EQ(log.calls[0].offset, (Cell{2, 2, 1}));
    EXPECT_EQ(log.calls[1].offset, (Cell{2, 1, 1}));
}

TEST(Traversal, FrustumReachingRoundTheFarEdgeGetsACapScan) {
    test::WorldPtr w = test::MakeEmptyWorld();
    Aim(*w, 35, 35, 35, 1, 0.5f, 1, 179);
    CellLog log;
    TraverseShell(*w, 3, 1, 3);
    // The face z = -3 beyond the rows' far end: its cells off the row face
    // come only from a cap scan.
    EXPECT_TRUE(std::any_of(log.calls.begin(), log.calls.end(), [](const TestedCell& t) {
        return t.offset[2] == -3 && t.offset[0] < 3 && std::abs(t.offset[1]) < 3;
    }));
    std::set<Cell> tested;
    for (const TestedCell& t : log.calls) tested.insert(t.offset);
    for (int z = -3; z <= 3; ++z)
        for (int y = -3; y <= 3; ++y)
            for (int x = -3; x <= 3; ++x) {
                const Cell c = {x, y, z};
                if (Chebyshev(c) == 3 && CentreInFrustum(*w, c)) {
                    EXPECT_TRUE(tested.count(c)) << x << "," << y << "," << z;
                }
            }
}

// Occluder cells: every cell with grid z = z0 whose x and y lie in lo..hi.
void FillOccluders(World& w, int z0, int lo, int hi) {
    for (int y = lo; y <= hi; ++y)
        for (int x = lo; x <= hi; ++x) w.O.Set(static_cast<unsigned>(CellIndex(x, y, z0)));
}

TEST(Traversal, WalkStopsAfterAShellWithoutOpenCells) {
    test::WorldPtr w = test::MakeEmptyWorld();
    Aim(*w, 35, 35, 35, 0, 0, 1, 55);
    FillOccluders(*w, 40, 0, kGridSize - 1);
    CellLog log;
    Walk(*w);
    EXPECT_EQ(w->iDist, 5);
    EXPECT_EQ(log.calls.back().iDist, 5);
    EXPECT_EQ(w->bShellOccluded, 1);
    // The wall's face was propagated before the walk ended.
    EXPECT_TRUE(w->H.Test(static_cast<unsigned>(CellIndex(35, 35, 41))));
}

TEST(Traversal, FaceFoundWhollyCoveredIsDoneForTheFrame) {
    // At 120 degrees the whole face z = +2 lies in the frustum; the wall
    // covers all of it, while the side faces of the shell stay open.
    test::WorldPtr w = test::MakeEmptyWorld();
    Aim(*w, 35, 35, 35, 0, 0, 1, 120);
    FillOccluders(*w, 37, 30, 40);
    Walk(*w);
    EXPECT_EQ(w->bFaceDone[0], 1);
    for (int k = 1; k < 6; ++k) EXPECT_EQ(w->bFaceDone[k], 0) << k;
    EXPECT_GT(w->iDist, 2);
}

TEST(Traversal, ShellOneMarksAreClearedWithoutPropagation) {
    test::WorldPtr w = test::MakeEmptyWorld();
    Aim(*w, 35, 35, 35, 0, 0, 1, 55);
    FillOccluders(*w, 36, 34, 36);
    Walk(*w);
    EXPECT_TRUE(w->H.IsEmpty());
    EXPECT_EQ(w->iDist, kGridSize - 35);  // the walk went on past the block
    const int widest = (2 * kGridSize + 3) * (2 * kGridSize + 3);
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(w->bFaceMarked[k], 0);
        EXPECT_TRUE(std::all_of(w->FaceMap[k], w->FaceMap[k] + widest, [](int v) { return v == 0; }));
    }

    // The same block one shell farther is propagated.
    test::WorldPtr far = test::MakeEmptyWorld();
    Aim(*far, 35, 35, 35, 0, 0, 1, 55);
    FillOccluders(*far, 37, 34, 36);
    Walk(*far);
    EXPECT_FALSE(far->H.IsEmpty());
}

}  // namespace
}  // namespace gridcull
