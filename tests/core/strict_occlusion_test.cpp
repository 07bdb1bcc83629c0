#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "TestWorld.h"
#include "grid/Grid.h"
#include "visibility/FaceOcclusion.h"
#include "visibility/Traversal.h"

namespace gridcull {
namespace {

using Cell = std::array<int, 3>;

// Offset from the viewpoint cell of face entry (u, v) of face f on shell d.
Cell FaceOffset(int f, int d, int u, int v) {
    const Cell o[6] = {{d - u, d - v, d},  {u - d, d - v, -d}, {d, d - v, u - d},
                       {-d, d - v, d - u}, {d - u, d, v - d},  {d - u, -d, d - v}};
    return o[f];
}

class StrictOcclusionTest : public ::testing::Test {
protected:
    World& w() { return *world_; }
    unsigned Index(const Cell& o) {
        return static_cast<unsigned>(CellIndex(w().iViewCellX + o[0], w().iViewCellY + o[1], w().iViewCellZ + o[2]));
    }
    bool Hidden(int f, int d, int u, int v) { return w().H.Test(Index(FaceOffset(f, d, u, v))); }
    void BeginShell(int d) {
        w().iDist = d, w().iFaceStride = 2 * d + 3;
        for (int f = 0; f < 6; ++f) {
            w().iFaceUMin[f] = w().iFaceVMin[f] = 512, w().iFaceUMax[f] = w().iFaceVMax[f] = 0;
            std::fill_n(w().FaceMap[f], w().iFaceStride * w().iFaceStride, 0);
        }
    }
    void MarkRect(int f, int u0, int u1, int v0, int v1) {
        for (int v = v0; v <= v1; ++v)
            for (int u = u0; u <= u1; ++u) {
                const Cell o = FaceOffset(f, w().iDist, u, v);
                MarkOccluderFaces(w(), o[0], o[1], o[2]);
            }
    }
    void Propagate(int f) {
        w().iFace = f;
        w().fFaceUMin = float(w().iFaceUMin[f]), w().fFaceUMax = float(w().iFaceUMax[f]);
        w().fFaceVMin = float(w().iFaceVMin[f]), w().fFaceVMax = float(w().iFaceVMax[f]);
        PropagateFaceStrict(w(), w().FaceMap[f], w().iFaceStride);
    }

    test::WorldPtr world_ = test::MakeEmptyWorld();
    void SetUp() override {
        w().iViewCellX = w().iViewCellY = w().iViewCellZ = 35;
        w().bStrictCulling = 1;
    }
};

// Two bars on face y = +10 with open rows between them: the band sweep closes the gap's shadow, strict culling
// leaves the row behind the gap open. Goes through the shell's face step.
TEST_F(StrictOcclusionTest, OpenRowBetweenBarsStaysVisible) {
    for (unsigned char strict : {0, 1}) {
        test::AimCamera(w(), 35, 35, 35, 0, 1, 0, 90);
        w().H.ClearAll();
        w().bStrictCulling = strict;
        for (int x = 30; x <= 40; ++x)
            for (int z : {30, 40}) w().O.Set(static_cast<unsigned>(CellIndex(x, 45, z)));
        for (int d = 1; d <= 10; ++d) TraverseShell(w(), 0, d, 0);
        for (int d = 11; 35 + d < kGridSize; ++d)
            EXPECT_EQ(w().H.Test(static_cast<unsigned>(CellIndex(35, 35 + d, 35))), strict == 0) << d;
    }
}

// Block u 12..16, v 4..8 on shell 10. Cell (15, 7) of shell 11 projects onto entries 13..14 x 6..7: an open
// entry among those leaves it visible, one just beside them does not. Each face, to exercise its axes and signs.
class StrictHitMissTest : public StrictOcclusionTest, public ::testing::WithParamInterface<int> {};

TEST_P(StrictHitMissTest, BlockHidesTheCellBehindItAndAGapOpensIt) {
    const int f = GetParam();
    struct Case {
        int iGapU, iGapV;
        bool bHidden;
    };
    for (const Case& c : {Case{-1, -1, true}, Case{12, 6, true}, Case{14, 8, true}, Case{13, 7, false},
                          Case{14, 6, false}}) {
        w().H.ClearAll();
        BeginShell(10);
        MarkRect(f, 12, 16, 4, 8);
        if (c.iGapU >= 0) w().FaceMap[f][c.iGapV * w().iFaceStride + c.iGapU] = 0;
        Propagate(f);
        EXPECT_EQ(Hidden(f, 11, 15, 7), c.bHidden) << "gap " << c.iGapU << "," << c.iGapV;
        EXPECT_EQ(w().bFaceFull, 0);
    }
    // A wholly marked face hides its whole pyramid, edges included, and is full.
    w().H.ClearAll();
    BeginShell(3);
    MarkRect(f, 0, 6, 0, 6);
    Propagate(f);
    EXPECT_EQ(w().bFaceFull, 1);
    for (int d = 4; d <= 34; ++d)
        for (int u : {0, d, 2 * d}) EXPECT_TRUE(Hidden(f, d, u, 0) && Hidden(f, d, u, 2 * d)) << d << " " << u;
}

INSTANTIATE_TEST_SUITE_P(Faces, StrictHitMissTest, ::testing::Range(0, 6));

// Random marks and fused hidden cells on a shell face from random viewpoints: every cell that strict culling
// hides lies on the face's pyramid beyond the shell, and every sample ray from the eye to its cube crosses the
// plane D - 0.5 inside the square of a marked or hidden entry.
TEST_F(StrictOcclusionTest, EveryHiddenCellIsCoveredAlongSampleRays) {
    std::mt19937 rng(7);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    long hiddenCells = 0, failedCells = 0;
    for (int trial = 0; trial < 40; ++trial) {
        w().H.ClearAll();
        w().iViewCellX = pick(0, 69), w().iViewCellY = pick(0, 69), w().iViewCellZ = pick(0, 69);
        w().bOccluderFusion = static_cast<unsigned char>(trial % 2);
        const int f = pick(0, 5), D = pick(2, 12), side = 2 * D + 1;
        BeginShell(D);
        std::vector<char> covered(static_cast<size_t>(side * side), 0);
        auto inGrid = [&](const Cell& o) {
            return InGrid(w().iViewCellX + o[0], w().iViewCellY + o[1], w().iViewCellZ + o[2]);
        };
        for (int b = pick(2, 6); b > 0; --b) {  // blocks of marks, then hidden cells to fuse
            const int u0 = pick(0, 2 * D), v0 = pick(0, 2 * D);
            const int u1 = std::min(2 * D, u0 + pick(0, D)), v1 = std::min(2 * D, v0 + pick(0, D));
            for (int v = v0; v <= v1; ++v)
                for (int u = u0; u <= u1; ++u) {
                    const Cell o = FaceOffset(f, D, u, v);
                    if (!inGrid(o)) continue;
                    covered[v * side + u] = 1;
                    if (b % 2) w().H.Set(Index(o));
                    else MarkOccluderFaces(w(), o[0], o[1], o[2]);
                }
        }
        if (!w().bFaceMarked[f]) continue;
        if (!w().bOccluderFusion)
            for (int i = 0; i < side * side; ++i) covered[i] = w().FaceMap[f][(i / side) * w().iFaceStride + i % side];
        const std::vector<std::uint16_t> before(w().H.pWords, w().H.pWords + w().H.iWordCount);
        const long hiddenBefore = hiddenCells, countBefore = w().H.Count();
        Propagate(f);

        // Entry of plane coordinate s (offset from the face centre), either one when s lies on a square's edge.
        auto coveredAt = [&](double s, double t) {
            const int u[2] = {int(std::floor(D + s + 0.5 - 1e-9)), int(std::floor(D + s + 0.5 + 1e-9))};
            const int v[2] = {int(std::floor(D + t + 0.5 - 1e-9)), int(std::floor(D + t + 0.5 + 1e-9))};
            for (int i = 0; i < 4; ++i) {
                const int a = u[i % 2], c = v[i / 2];
                if (a >= 0 && c >= 0 && a < side && c < side && covered[c * side + a]) return true;
            }
            return false;
        };
        for (int d = 0; d < kGridSize; ++d)
            for (int v = 0; v <= 2 * d; ++v)
                for (int u = 0; u <= 2 * d; ++u) {
                    const Cell o = FaceOffset(f, d, u, v);
                    if (!inGrid(o) || !w().H.Test(Index(o))) continue;
                    if (before[Index(o) >> 4] & kBitMask[Index(o) & 15]) continue;
                    ++hiddenCells;
                    bool ok = d > D;
                    for (int k = 0; ok && k < 64; ++k) {  // a 4 x 4 x 4 lattice over the closed cube
                        const double p = u - d - 0.5 + (k % 4) / 3.0, q = v - d - 0.5 + (k / 4 % 4) / 3.0;
                        const double scale = (D - 0.5) / (d - 0.5 + (k / 16) / 3.0);
                        ok = coveredAt(p * scale, q * scale);
                    }
                    if (!ok && ++failedCells <= 5)
                        ADD_FAILURE() << "face " << f << " D " << D << " cell " << u << "," << v << " at " << d;
                }
        EXPECT_EQ(hiddenCells - hiddenBefore, w().H.Count() - countBefore) << "cells hidden off the face's pyramid";
    }
    EXPECT_EQ(failedCells, 0);
    EXPECT_GT(hiddenCells, 1000);
    std::printf("%ld / %ld hidden cells covered\n", hiddenCells - failedCells, hiddenCells);
}

}  // namespace
}  // namespace gridcull
