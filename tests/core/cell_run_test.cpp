// The cell test by runs against the cell test one cell at a time: with an
// observer set every run goes through CellTest cell by cell, with only the
// counter set it takes the clipped run loop. Whole passes must agree.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "TestWorld.h"
#include "scan/Scan.h"
#include "visibility/Frame.h"

namespace gridcull {
namespace {

struct View {
    int x, y, z;
    float fx, fy, fz, fov;
};

void CountCell(World&, int, int, int, void* n) { ++*static_cast<long long*>(n); }

class CellRuns : public ::testing::TestWithParam<int> {};

TEST_P(CellRuns, AgreeWithCellByCellTesting) {
    auto byRun = test::MakeSceneWorld(), byCell = test::MakeSceneWorld();
    std::vector<View> views = {
        {35, 35, 35, 0, 0, 1, 60},  {0, 0, 0, 1, 1, 1, 90},    {69, 69, 0, -1, -1, 1, 179},
        {10, 60, 30, 1, 0, 0, 2},   {35, 0, 35, 0.3f, 1, 0.2f, 120},
    };
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> cell(0, 69);
    std::uniform_real_distribution<float> axis(-1, 1);
    while (views.size() < 20) views.push_back({cell(rng), cell(rng), cell(rng), axis(rng), axis(rng), axis(rng), 75});

    long long total = 0;
    for (const View& v : views) {
        long long counted = 0, observed = 0;
        for (World* w : {byRun.get(), byCell.get()}) {
            w->bStrictCulling = static_cast<unsigned char>(GetParam());
            test::AimCamera(*w, v.x, v.y, v.z, v.fx, v.fy, v.fz, v.fov);
            if (w == byRun.get())
                SetCellTestCounter(&counted);
            else
                SetCellTestObserver(&CountCell, &observed);
            BeginFrame(*w);
            RunVisibilityPass(*w);
            SetCellTestCounter(nullptr);
            SetCellTestObserver(nullptr, nullptr);
        }
        const std::string where = "view at " + std::to_string(v.x) + "," + std::to_string(v.y) + "," +
                                  std::to_string(v.z) + " fov " + std::to_string(v.fov);
        EXPECT_EQ(counted, observed) << where;
        EXPECT_EQ(byRun->iDist, byCell->iDist) << where;
        EXPECT_EQ(std::memcmp(byRun->PVS, byCell->PVS, kObjectCount), 0) << where;
        EXPECT_EQ(std::memcmp(byRun->PVSVF, byCell->PVSVF, kObjectCount), 0) << where;
        total += counted;
        for (World* w : {byRun.get(), byCell.get()}) {
            ResetGridAndCount(*w, 0);
            AdvanceFrame(*w);
        }
    }
    EXPECT_GT(total, 10000);
}

INSTANTIATE_TEST_SUITE_P(Modes, CellRuns, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int>& i) { return i.param ? "Strict" : "Literal"; });

}  // namespace
}  // namespace gridcull
