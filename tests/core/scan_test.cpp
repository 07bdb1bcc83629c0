#include "scan/Scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "TestWorld.h"
#include "visibility/Frustum.h"

namespace gridcull {
namespace {

using Cell = std::array<int, 3>;
using Cells = std::vector<Cell>;

class CellLog {
public:
    CellLog() { SetCellTestObserver(&Record, this); }
    ~CellLog() { SetCellTestObserver(nullptr, nullptr); }
    Cells calls;

private:
    static void Record(World&, int a, int b, int c, void* self) {
        static_cast<CellLog*>(self)->calls.push_back({a, b, c});
    }
};

// The empty grid seen from cell centre (x, y, z) along a grid axis (0 x, 1 y,
// 2 z) in direction sign, with the shell of distance d set up.
void AimShell(World& world, int x, int y, int z, int axis, int sign, float fov, int d) {
    World* w = &world;
    // Columns right, up, forward; up is y, or z when looking along y.
    float f[3] = {0, 0, 0}, u[3] = {0, 0, 0};
    f[axis] = static_cast<float>(sign);
    u[axis == 1 ? 2 : 1] = 1;
    const float r[3] = {u[1] * f[2] - u[2] * f[1], u[2] * f[0] - u[0] * f[2], u[0] * f[1] - u[1] * f[0]};
    std::fill_n(w->fViewMatrix, 16, 0.0f);
    for (int k = 0; k < 3; ++k) {
        w->fViewMatrix[4 * k] = r[k];
        w->fViewMatrix[4 * k + 1] = u[k];
        w->fViewMatrix[4 * k + 2] = f[k];
    }
    w->fViewMatrix[15] = 1;
    w->fViewX = static_cast<float>(x);
    w->fViewY = static_cast<float>(y);
    w->fViewZ = static_cast<float>(z);
    w->iViewCellX = x;
    w->iViewCellY = y;
    w->iViewCellZ = z;
    w->fFov = fov;
    SetupFrustum(world);
    w->iDist = d;
    w->iFaceStride = 2 * d + 3;
    std::fill_n(w->iFaceUMin, 6, 512);
    std::fill_n(w->iFaceVMin, 6, 512);
    std::fill_n(w->iFaceUMax, 6, 0);
    std::fill_n(w->iFaceVMax, 6, 0);
    w->bShellOccluded = 1;
}

// One empty grid for the suite; every test re-aims it. The scans only read
// it, and the cell test changes nothing in an empty grid but flags.
class Scans : public testing::Test {
protected:
    static void SetUpTestSuite() { world_ = test::MakeEmptyWorld().release(); }
    static void TearDownTestSuite() {
        DeleteWorld(world_);
        world_ = nullptr;
    }
    void SetUp() override { w = world_; }

    World* w = nullptr;

private:
    static World* world_;
};
World* Scans::world_ = nullptr;

// At 120 degrees the planes are padded by 0.683 along their normals; a ray
// along an axis at distance 1 to 3 off the view axis leaves them between 0
// and 1 in front of the viewpoint, so wraps and cap rows end at offset 0.

TEST_F(Scans, RowScanTurnsAroundBothEdgesInOrder) {
    AimShell(*w, 35, 35, 35, 0, 1, 120, 1);
    CellLog log;
    ScanRow(*w, kFaceXPos, 1, 0, 0, 0);
    const Cells expected = {{1, 0, 0}, {1, -1, 0}, {1, -1, 0}, {0, -1, 0},  // low run, wrap onto y = -1
                            {1, 0, 0}, {1, 1, 0},  {1, 1, 0},  {0, 1, 0}};  // high run, wrap onto y = +1
    EXPECT_EQ(log.calls, expected);
}

TEST_F(Scans, RowCutAtTheGridStartsBelowTheStartCellAndDoesNotWrap) {
    // Grid y = 0 is offset -1: the low corner (3, -3, 0) lies outside.
    AimShell(*w, 35, 1, 35, 0, 1, 120, 3);
    CellLog log;
    ScanRow(*w, kFaceXPos, 3, 0, 0, 0);
    const Cells expected = {{3, -1, 0}, {3, 0, 0}, {3, 1, 0}, {3, 2, 0}, {3, 3, 0},
                            {3, 3, 0},  {2, 3, 0}, {1, 3, 0}, {0, 3, 0}};
    EXPECT_EQ(log.calls, expected);

    // A narrow frustum ends the row inside the face: no corner, no wrap.
    AimShell(*w, 35, 35, 35, 0, 1, 30, 3);
    CellLog narrowLog;
    ScanRow(*w, kFaceXPos, 3, 0, 0, 0);
    const Cells inside = {{3, 0, 0}, {3, -1, 0}, {3, 0, 0}, {3, 1, 0}};
    EXPECT_EQ(narrowLog.calls, inside);
}

TEST_F(Scans, FaceBeyondTheGridOnlyWrapsFromTheGridBoundary) {
    // Front face z = 70 lies outside; the wraps start at z = 69 (offset 2).
    AimShell(*w, 35, 35, 67, 2, 1, 120, 3);
    CellLog log;
    ScanRow(*w, kFaceZPos, 0, 0, 3, 1);
    const Cells expected = {{0, -3, 2}, {0, -3, 1}, {0, -3, 0}, {0, 3, 2}, {0, 3, 1}, {0, 3, 0}};
    EXPECT_EQ(log.calls, expected);
}

TEST_F(Scans, GuardSkipsWrapsWhoseFrustumEndsShortOfTheGrid) {
    // From x = 60 at 92 degrees the wraps of the row at x = 75 leave the
    // frustum at x = 73.5, outside the grid.
    AimShell(*w, 60, 35, 35, 0, 1, 92, 15);
    CellLog guarded;
    ScanRow(*w, kFaceXPos, 15, 0, 0, 1);
    EXPECT_TRUE(guarded.calls.empty());

    CellLog unguarded;
    ScanRow(*w, kEdgeXPos, 15, 0, 0, 1);
    const Cells boundary = {{9, -15, 0}, {9, 15, 0}};
    EXPECT_EQ(unguarded.calls, boundary);
}

TEST_F(Scans, CapRowsRunBelowThenAboveTheStart) {
    AimShell(*w, 35, 35, 35, 2, 1, 120, 2);
    CellLog log;
    ScanCap(*w, kFaceZPos, -2, 0, 2, 0, 0);
    Cells expected;
    for (int r : {-1, -2, 0, 1, 2})
        for (int q = 2; q >= 0; --q) expected.push_back({-2, r, q});
    EXPECT_EQ(log.calls, expected);

    // A start below the grid is clamped first; the low corner lies outside the
    // grid too, so no row is scanned below the clamped start.
    AimShell(*w, 35, 1, 35, 2, 1, 120, 2);
    CellLog lowLog;
    ScanCap(*w, kFaceZPos, -2, -2, 2, 0, 1);
    expected.clear();
    for (int r : {-1, 0, 1, 2})
        for (int q = 2; q >= 0; --q) expected.push_back({-2, r, q});
    EXPECT_EQ(lowLog.calls, expected);
}

TEST_F(Scans, EveryRowMemberRunsAlongItsAxes) {
    const struct {
        ScanMember member;
        int front, sign, run;
    } members[] = {{kFaceXPos, 0, 1, 1}, {kFaceXNeg, 0, -1, 1}, {kFaceYPos, 1, 1, 0},  {kFaceYNeg, 1, -1, 0},
                   {kFaceZPos, 2, 1, 1}, {kFaceZNeg, 2, -1, 1}, {kEdgeXPos, 0, 1, 1},  {kEdgeXNeg, 0, -1, 1},
                   {kEdgeYPos, 1, 1, 0}, {kEdgeYNeg, 1, -1, 0}, {kYEdgeXPos, 0, 1, 2}, {kYEdgeXNeg, 0, -1, 2}};
    const int d = 2;
    for (const auto& m : members) {
        SCOPED_TRACE(testing::Message() << "member " << m.member);
        AimShell(*w, 35, 35, 35, m.front, m.sign, 120, d);
        CellLog log;
        Cell start = {0, 0, 0};
        start[m.front] = m.sign * d;
        ScanRow(*w, m.member, start[0], start[1], start[2], 0);
        ASSERT_FALSE(log.calls.empty());
        EXPECT_EQ(log.calls.front(), start);
        std::vector<int> runs;
        for (const Cell& c : log.calls) {
            Cell along = c;
            if (c[m.front] == start[m.front]) {
                along[m.run] = 0;
                runs.push_back(c[m.run]);
            } else {
                // Wraps leave the front face only at the row's two ends and
                // head for the opposite face.
                EXPECT_EQ(std::abs(c[m.run]), d);
                EXPECT_LT(c[m.front] * m.sign, d);
                along[m.front] = start[m.front];
                along[m.run] = 0;
            }
            EXPECT_EQ(along, start);
        }
        std::sort(runs.begin(), runs.end());
        runs.erase(std::unique(runs.begin(), runs.end()), runs.end());
        EXPECT_EQ(runs, (std::vector<int>{-2, -1, 0, 1, 2}));
    }
}

}  // namespace
}  // namespace gridcull
