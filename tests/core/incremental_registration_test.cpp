// Registration by difference: wherever an object moves from, the cell sets
// must end exactly as a registration from scratch leaves them.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <set>
#include <vector>

#include "TestWorld.h"
#include "grid/Grid.h"
#include "grid/ObjectSet.h"
#include "scan/Scan.h"

namespace gridcull {
namespace {

// Reference, written from the rule rather than the code: the cube of the
// bounds rounded half away from zero, clipped, plus both centre cells.
bool ShouldHold(const float p[3], float R, int x, int y, int z) {
    const int c[3] = {x, y, z};
    bool cube = true, rounded = true, truncated = true;
    for (int a = 0; a < 3; ++a) {
        auto rnd = [](float v) { return static_cast<int>(v >= 0 ? v + 0.5f : v - 0.5f); };
        cube = cube && rnd(p[a] - R) <= c[a] && c[a] <= rnd(p[a] + R);
        rounded = rounded && rnd(p[a]) == c[a];
        truncated = truncated && static_cast<int>(p[a]) == c[a];
    }
    return cube || rounded || truncated;
}

::testing::AssertionResult HoldsExactly(const World& w, int j) {
    const SceneObject& o = w.disks[j];
    int expected = 0;
    for (int g = 0; g < kCellCount; ++g) {
        const bool want = ShouldHold(o.fPosition, o.fBoundRadius, g % kGridSize, g / kGridSize % kGridSize,
                                     g / kColumnCount);
        expected += want;
        if (w.I[g].contains(j) != want) return ::testing::AssertionFailure() << "cell " << g << " wrong";
    }
    if (test::CellsHolding(w, j) != expected) return ::testing::AssertionFailure() << "count";
    // The removal list: the clipped cube z outermost, x innermost, then the
    // in-grid centres.
    auto rnd = [](float v) { return static_cast<int>(v >= 0 ? v + 0.5f : v - 0.5f); };
    int lo[3], hi[3], k = 0;
    for (int a = 0; a < 3; ++a)
        lo[a] = std::max(rnd(o.fPosition[a] - o.fBoundRadius), 0),
        hi[a] = std::min(rnd(o.fPosition[a] + o.fBoundRadius), kGridSize - 1);
    for (int z = lo[2]; z <= hi[2]; ++z)
        for (int y = lo[1]; y <= hi[1]; ++y)
            for (int x = lo[0]; x <= hi[0]; ++x, ++k)
                if (o.fCells[k][0] != x || o.fCells[k][1] != y || o.fCells[k][2] != z)
                    return ::testing::AssertionFailure() << "removal list entry " << k;
    const float* p = o.fPosition;
    const int centres = InGrid(rnd(p[0]), rnd(p[1]), rnd(p[2])) + InGrid(int(p[0]), int(p[1]), int(p[2]));
    if (o.iCellCount != k + centres) return ::testing::AssertionFailure() << "removal list length";
    return ::testing::AssertionSuccess();
}

constexpr float kFrom[3] = {30.3f, 40.6f, 20.5f};  // .5 exercises the half-away rounding

// Steps 0..25: the 26 neighbouring cell steps; 26: a jump far beyond the
// cube; 27: onto the grid's border, where the cube is clipped and the
// truncated centre falls outside; 28: wholly outside the grid.
std::array<float, 3> MoveTo(int step) {
    const std::array<float, 3> jumps[3] = {{55.3f, 40.6f, 8.5f}, {-0.4f, 69.4f, 1.0f}, {100, 100, 100}};
    if (step >= 26) return jumps[step - 26];
    const int code = step < 13 ? step : step + 1;  // skip the null step 13
    std::array<float, 3> to;
    for (int a = 0; a < 3; ++a) to[a] = kFrom[a] + static_cast<float>(code / (a == 0 ? 1 : a == 1 ? 3 : 9) % 3 - 1);
    return to;
}

class MovedRegistration : public test::EmptyGrid, public ::testing::WithParamInterface<int> {};

TEST_P(MovedRegistration, LeavesTheCellsOfAFreshRegistration) {
    const std::array<float, 3> to = MoveTo(GetParam());
    for (bool deferred : {false, true}) {
        test::PlaceDynamic(w, 7, kFrom[0], kFrom[1], kFrom[2], 0, 0, 0, 2.6f);
        RegisterObject(w, 7, false, false);
        ASSERT_TRUE(HoldsExactly(w, 7));
        if (deferred) {
            // The frame's refresh: removed, entries left for the pass.
            DeferCellRemoval(w, 7);
            w.iDist = 0;
            w.iViewCellX = static_cast<int>(kFrom[0]), w.iViewCellY = static_cast<int>(kFrom[1] + 0.5f);
            w.iViewCellZ = static_cast<int>(kFrom[2] + 0.5f);
            CellTest(w, 0, 0, 0);
            EXPECT_FALSE(w.PVSVF[7]) << "a stale entry was read";
        }
        std::copy(to.begin(), to.end(), w.disks[7].fPosition);
        RegisterObject(w, 7, false, false);
        EXPECT_TRUE(HoldsExactly(w, 7)) << (deferred ? "after deferred removal" : "direct");
        RegisterObject(w, 7, false, true);
        EXPECT_EQ(test::CellsHolding(w, 7), 0);
    }
}
INSTANTIATE_TEST_SUITE_P(Steps, MovedRegistration, ::testing::Range(0, 29));

// Under half a cell across, the truncated centre lies outside the cube, and
// a move can put it in a cell that only the old cube held.
TEST_F(MovedRegistration, StrayCentreStaysEntered) {
    const float path[][3] = {{5.9f, 5.9f, 5.9f}, {6.9f, 6.9f, 6.9f}, {6.9f, 5.9f, 7.9f}, {5.9f, 6.9f, 6.9f}};
    test::PlaceDynamic(w, 4, path[0][0], path[0][1], path[0][2], 0, 0, 0, 0.3f);
    for (const auto& p : path) {
        std::copy(p, p + 3, w.disks[4].fPosition);
        RegisterObject(w, 4, false, false);
        EXPECT_TRUE(HoldsExactly(w, 4)) << p[0] << "," << p[1] << "," << p[2];
    }
}

// Moves that keep the cube but take the rounded or the truncated centre to
// another cell: the cube's entries stay, the centres' are written anew.
TEST_F(MovedRegistration, CentresMoveInsideTheSameCube) {
    const float path[][3] = {{30.3f, 40.6f, 20.9f}, {30.55f, 40.6f, 20.9f}, {30.55f, 40.4f, 20.9f},
                             {30.55f, 40.4f, 21.05f}};
    test::PlaceDynamic(w, 4, path[0][0], path[0][1], path[0][2], 0, 0, 0, 2.6f);
    for (const auto& p : path) {
        std::copy(p, p + 3, w.disks[4].fPosition);
        RegisterObject(w, 4, false, false);
        const SceneObject& o = w.disks[4];
        EXPECT_TRUE(HoldsExactly(w, 4) && o.iCubeLo[0] == 28 && o.iCubeHi[2] == 24) << p[0] << "," << p[1];
        const float* rounded = o.fCells[o.iCellCount - 2];
        for (int a = 0; a < 3; ++a)
            EXPECT_TRUE(rounded[a] == std::round(p[a]) && o.fCells[o.iCellCount - 1][a] == p[a]) << a;
    }
}

// Cell sets under registration traffic: indices inserted present or absent
// and erased present or absent among neighbours on both sides, the set
// growing past its inline entries and shrinking back, against an ordered set;
// the same traffic through the run operations that registration uses.
TEST(CellSet, AgreesWithAnOrderedSet) {
    std::mt19937 random(5);
    ObjectSet set, run;
    std::set<int> reference;
    for (int step = 0; step < 4000; ++step) {
        const int i = static_cast<int>(random() % 16);
        if (random() % 4 < (step / 500 % 2 ? 1u : 3u)) {  // mostly inserts, then mostly erases
            set.insert(i);
            ObjectSet::InsertEach(&run, 1, i);
            reference.insert(i);
        } else {
            ASSERT_EQ(set.erase(i), static_cast<int>(reference.erase(i)));
            ObjectSet::EraseEach(&run, 1, i);
        }
        const std::vector<int> want(reference.begin(), reference.end());
        ASSERT_EQ(std::vector<int>(set.begin(), set.end()), want) << "step " << step;
        ASSERT_EQ(std::vector<int>(run.begin(), run.end()), want) << "run, step " << step;
    }
}

}  // namespace
}  // namespace gridcull
