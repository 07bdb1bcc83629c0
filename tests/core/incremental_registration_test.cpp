// Registration by difference: wherever an object moves from, the cell sets
// must end exactly as a registration from scratch leaves them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "TestWorld.h"
#include "grid/Grid.h"
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
    for (int z = 0; z < kGridSize; ++z)
        for (int y = 0; y < kGridSize; ++y)
            for (int x = 0; x < kGridSize; ++x) {
                const bool want = ShouldHold(o.fPosition, o.fBoundRadius, x, y, z);
                expected += want;
                if (w.I[CellIndex(x, y, z)].contains(j) != want)
                    return ::testing::AssertionFailure() << "cell " << x << "," << y << "," << z << " wrong";
            }
    if (test::CellsHolding(w, j) != expected) return ::testing::AssertionFailure() << "count";
    return ::testing::AssertionSuccess();
}

// Steps 0..25: the 26 neighbouring cell steps; 26: a jump far beyond the
// cube; 27: onto the grid's border, where the cube is clipped and the
// truncated centre falls outside; 28: wholly outside the grid.
struct Move {
    float from[3], to[3];
};
Move MoveOf(int step) {
    const float base[3] = {30.3f, 40.6f, 20.5f};  // .5 exercises the half-away rounding
    Move m{{base[0], base[1], base[2]}, {base[0], base[1], base[2]}};
    if (step == 26) {
        m.to[0] += 25.0f;
        m.to[2] -= 12.0f;
    } else if (step == 27) {
        m.to[0] = -0.4f, m.to[1] = 69.4f, m.to[2] = 1.0f;
    } else if (step == 28) {
        m.to[0] = m.to[1] = m.to[2] = 100;
    } else {
        const int code = step < 13 ? step : step + 1;  // skip the null step 13
        for (int a = 0; a < 3; ++a) m.to[a] += static_cast<float>(code / (a == 0 ? 1 : a == 1 ? 3 : 9) % 3 - 1);
    }
    return m;
}

class MovedRegistration : public test::EmptyGrid, public ::testing::WithParamInterface<int> {};

TEST_P(MovedRegistration, LeavesTheCellsOfAFreshRegistration) {
    const Move m = MoveOf(GetParam());
    for (bool deferred : {false, true}) {
        test::PlaceDynamic(w, 7, m.from[0], m.from[1], m.from[2], 0, 0, 0, 2.6f);
        RegisterObject(w, 7, false, false);
        ASSERT_TRUE(HoldsExactly(w, 7));
        if (deferred) {
            // The frame's refresh: removed, entries left for the pass.
            DeferCellRemoval(w, 7);
            w.iDist = 0;
            w.iViewCellX = static_cast<int>(m.from[0]), w.iViewCellY = static_cast<int>(m.from[1] + 0.5f);
            w.iViewCellZ = static_cast<int>(m.from[2] + 0.5f);
            CellTest(w, 0, 0, 0);
            EXPECT_FALSE(w.PVSVF[7]) << "a stale entry was read";
        }
        std::copy(m.to, m.to + 3, w.disks[7].fPosition);
        RegisterObject(w, 7, false, false);
        EXPECT_TRUE(HoldsExactly(w, 7)) << (deferred ? "after deferred removal" : "direct");
        RegisterObject(w, 7, false, true);
        EXPECT_EQ(test::CellsHolding(w, 7), 0);
    }
}
INSTANTIATE_TEST_SUITE_P(Steps, MovedRegistration, ::testing::Range(0, 29));

}  // namespace
}  // namespace gridcull
