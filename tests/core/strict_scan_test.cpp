// Strict culling's shell scan against brute force over the whole grid: the
// cells tested in a frame are exactly the grid cells that CellInStrictFrustum
// keeps, each once, on the shell it belongs to.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "TestWorld.h"
#include "grid/Grid.h"
#include "scan/Scan.h"
#include "scene/Camera.h"
#include "visibility/Frame.h"
#include "visibility/Frustum.h"

namespace gridcull {
namespace {

struct StrictView {
    const char* name;
    int x, y, z;
    float fx, fy, fz;           // view direction; all 0: the angles below
    float roll, yaw, pitch, fov;
};

void PrintTo(const StrictView& v, std::ostream* os) { *os << v.name; }

struct Tested {
    std::vector<int> count = std::vector<int>(kCellCount, 0);
    int offShell = 0;
};

void Record(World& w, int a, int b, int c, void* log) {
    Tested& t = *static_cast<Tested*>(log);
    if (std::max(std::abs(a), std::max(std::abs(b), std::abs(c))) != w.iDist) ++t.offShell;
    ++t.count[CellIndex(w.iViewCellX + a, w.iViewCellY + b, w.iViewCellZ + c)];
}

void Aim(World& w, const StrictView& v) {
    if (v.fx != 0 || v.fy != 0 || v.fz != 0) {
        test::AimCamera(w, v.x, v.y, v.z, v.fx, v.fy, v.fz, v.fov);
        return;
    }
    w.fRoll = v.roll;
    w.fYaw = v.yaw;
    w.fPitch = v.pitch;
    RebuildViewMatrix(w);
    w.fViewX = static_cast<float>(w.iViewCellX = v.x);
    w.fViewY = static_cast<float>(w.iViewCellY = v.y);
    w.fViewZ = static_cast<float>(w.iViewCellZ = v.z);
    w.fFov = v.fov;
    SetupFrustum(w);
}

Tested RunFrame(World& w, int strict) {
    w.bStrictCulling = static_cast<unsigned char>(strict);
    Tested t;
    SetCellTestObserver(&Record, &t);
    RunVisibilityPass(w);
    SetCellTestObserver(nullptr, nullptr);
    return t;
}

// Cells of the strict frustum (viewpoint cell aside: it is handled, not
// tested) that the frame never tested.
int Untested(const World& w, const Tested& t) {
    int missing = 0;
    for (int z = 0; z < kGridSize; ++z)
        for (int y = 0; y < kGridSize; ++y)
            for (int x = 0; x < kGridSize; ++x) {
                const int a = x - w.iViewCellX, b = y - w.iViewCellY, c = z - w.iViewCellZ;
                if ((a | b | c) != 0 && CellInStrictFrustum(w, a, b, c) && t.count[CellIndex(x, y, z)] == 0)
                    ++missing;
            }
    return missing;
}

class StrictScan : public ::testing::TestWithParam<StrictView> {
protected:
    static test::WorldPtr grid;
    static void SetUpTestSuite() { grid = test::MakeEmptyWorld(); }
    static void TearDownTestSuite() { grid.reset(); }
};
test::WorldPtr StrictScan::grid;

TEST_P(StrictScan, TestsExactlyTheFrustumCellsOnce) {
    World& w = *grid;
    Aim(w, GetParam());
    const Tested t = RunFrame(w, 1);
    EXPECT_EQ(t.offShell, 0);
    EXPECT_EQ(Untested(w, t), 0);
    int extra = 0, twice = 0;
    for (int g = 0; g < kCellCount; ++g) {
        if (t.count[g] == 0) continue;
        twice += t.count[g] > 1;
        const int x = g % kGridSize, y = g / kGridSize % kGridSize, z = g / kColumnCount;
        extra += !CellInStrictFrustum(w, x - w.iViewCellX, y - w.iViewCellY, z - w.iViewCellZ);
    }
    EXPECT_EQ(twice, 0);
    EXPECT_EQ(extra, 0);
}

const StrictView kViews[] = {
    {"StartCamera", 35, 35, 35, 0, 0, 0, 0, 0, 0, 55},
    {"Diagonal", 35, 35, 35, 1, 1, 1, 0, 0, 0, 55},
    {"DiagonalFromCorner", 0, 0, 0, 1, 1, 1, 0, 0, 0, 55},
    {"OutOfCorner", 0, 0, 0, -1, -1, -1, 0, 0, 0, 55},
    {"AlongWall", 35, 0, 35, 0, 0, 1, 0, 0, 0, 120},
    {"IntoWall", 35, 0, 35, 0, -1, 0, 0, 0, 0, 90},
    {"Fov179Yawed", 20, 35, 50, 0, 0, 0, 0, 33, 0, 179},
    {"Fov2Skew", 10, 60, 5, 1, -2, 3, 0, 0, 0, 2},
    {"RollPitchYaw", 35, 35, 35, 0, 0, 0, 30, 20, 40, 90},
};

INSTANTIATE_TEST_SUITE_P(Views, StrictScan, ::testing::ValuesIn(kViews),
                         [](const auto& info) { return std::string(info.param.name); });

// The holes strict mode closes: a turned view's section is wider off the walk
// line, and a wide view's cells level with the viewpoint lie on the literal
// near plane.
TEST(StrictScanHoles, LiteralMissesCellsTheStrictScanTests) {
    auto w = test::MakeEmptyWorld();
    for (const StrictView& v : {kViews[1], kViews[6]}) {
        Aim(*w, v);
        EXPECT_GT(Untested(*w, RunFrame(*w, 0)), 0) << v.name;
        EXPECT_EQ(Untested(*w, RunFrame(*w, 1)), 0) << v.name;
    }
}

// Eye inside an occluder cell: literal handles only that cell; strict walks
// on, and handles that cell as visible either way.
TEST(StrictScanHoles, ViewpointCellIsVisibleAndNeverEndsTheFrame) {
    auto w = test::MakeEmptyWorld();
    Aim(*w, kViews[0]);
    const int g = CellIndex(35, 35, 35), k = 4000;
    w->I[g].insert(k);
    for (int occluder = 0; occluder < 2; ++occluder) {
        if (occluder) w->O.Set(static_cast<unsigned>(g));
        w->PVS[k] = w->PVSVF[k] = 0;
        const Tested t = RunFrame(*w, 1);
        EXPECT_EQ(w->PVS[k], 1) << occluder;
        EXPECT_EQ(w->PVSVF[k], 1) << occluder;
        EXPECT_EQ(Untested(*w, t), 0) << occluder;
    }
    w->PVS[k] = w->PVSVF[k] = 0;
    EXPECT_GT(Untested(*w, RunFrame(*w, 0)), 0);
    EXPECT_EQ(w->PVSVF[k], 0);
}

}  // namespace
}  // namespace gridcull
