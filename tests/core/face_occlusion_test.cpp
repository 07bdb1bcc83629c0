#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "TestWorld.h"
#include "grid/Grid.h"
#include "visibility/FaceOcclusion.h"

namespace gridcull {
namespace {

using XY = std::set<std::pair<int, int>>;

class FaceOcclusionTest : public ::testing::Test {
protected:
    void SetUp() override {
        world_ = test::MakeEmptyWorld();
        SetView(35, 35, 35);
    }
    World& w() { return *world_; }

    void SetView(int x, int y, int z) { w().iViewCellX = x, w().iViewCellY = y, w().iViewCellZ = z; }

    void BeginShell(int d) {
        w().iDist = d;
        w().iFaceStride = 2 * d + 3;
        for (int f = 0; f < 6; ++f) {
            w().iFaceUMin[f] = w().iFaceVMin[f] = 512;
            w().iFaceUMax[f] = w().iFaceVMax[f] = 0;
            w().bFaceMarked[f] = 0;
            std::fill(w().FaceMap[f], w().FaceMap[f] + w().iFaceStride * w().iFaceStride, 0);
        }
    }

    // The face step after a shell: outline, propagation.
    void ProcessFace(int f, bool propagate = true) {
        w().fFaceUMin = static_cast<float>(w().iFaceUMin[f]);
        w().fFaceUMax = static_cast<float>(w().iFaceUMax[f]);
        w().fFaceVMin = static_cast<float>(w().iFaceVMin[f]);
        w().fFaceVMax = static_cast<float>(w().iFaceVMax[f]);
        w().iFace = f;
        ExtractFaceOutline(w(), w().FaceMap[f], w().iFaceStride);
        if (propagate) kPropagateFace[f](w());
    }

    // Offsets of map entry (u, v) of face f at the current distance.
    void FaceOffset(int f, int u, int v, int off[3]) {
        const int D = w().iDist;
        const int table[6][3] = {{D - u, D - v, D},  {u - D, D - v, -D}, {D, D - v, u - D},
                                 {-D, D - v, D - u}, {D - u, D, v - D},  {D - u, -D, D - v}};
        std::copy(table[f], table[f] + 3, off);
    }

    void MarkRect(int f, int u0, int u1, int v0, int v1) {
        int off[3];
        for (int v = v0; v <= v1; ++v)
            for (int u = u0; u <= u1; ++u) FaceOffset(f, u, v, off), MarkOccluderFaces(w(), off[0], off[1], off[2]);
    }

    bool Hidden(int x, int y, int z) { return w().H.Test(static_cast<unsigned>(CellIndex(x, y, z))); }

    XY HiddenXyAtZ(int z) {
        XY cells;
        for (int y = 0; y < kGridSize; ++y)
            for (int x = 0; x < kGridSize; ++x)
                if (Hidden(x, y, z)) cells.emplace(x, y);
        return cells;
    }

    // For a marked rectangle u0..u1 x v0..v1 on face 0 or 1: every hidden cell
    // lies beyond shell D, and the ray from the viewpoint cell through its
    // centre crosses shell D within 1/8 cell of the rectangle's cell centres,
    // so nothing seen past the rectangle is hidden.
    void ExpectShadowInside(int f, int u0, int u1, int v0, int v1) {
        const int D = w().iDist, sign = f == 0 ? 1 : -1;
        for (int z = 0; z < kGridSize; ++z)
            for (const auto& [x, y] : HiddenXyAtZ(z)) {
                const int d = sign * (z - w().iViewCellZ);
                ASSERT_GT(d, D);
                const double u = D - sign * (x - w().iViewCellX) * double(D) / d;
                const double v = D - (y - w().iViewCellY) * double(D) / d;
                EXPECT_TRUE(u >= u0 - 0.125 && u <= u1 + 0.125 && v >= v0 - 0.125 && v <= v1 + 0.125)
                    << x << "," << y << "," << z;
            }
    }

    test::WorldPtr world_;
};

TEST_F(FaceOcclusionTest, MarkingPutsACellOnEveryFaceItLiesOn) {
    BeginShell(3);
    MarkOccluderFaces(w(), 3, -3, 3);  // corner of faces 0, 2 and 5
    MarkOccluderFaces(w(), 3, -3, 3);  // a second mark changes nothing
    MarkOccluderFaces(w(), -3, 3, 1);  // edge of faces 3 and 4
    MarkOccluderFaces(w(), 1, -1, 1);  // inside the shell: no face
    const int expect[6] = {6 * 9 + 0, -1, 6 * 9 + 6, 0 * 9 + 2, 4 * 9 + 6, 0 * 9 + 0};
    for (int f = 0; f < 6; ++f) {
        SCOPED_TRACE(f);
        EXPECT_EQ(std::count(w().FaceMap[f], w().FaceMap[f] + 81, 1), expect[f] < 0 ? 0 : 1);
        EXPECT_EQ(w().bFaceMarked[f], expect[f] < 0 ? 0 : 1);
        if (expect[f] < 0) continue;
        EXPECT_EQ(w().FaceMap[f][expect[f]], 1);
        EXPECT_EQ(w().iFaceVMin[f] * 9 + w().iFaceUMin[f], expect[f]);
        EXPECT_EQ(w().iFaceVMax[f] * 9 + w().iFaceUMax[f], expect[f]);
    }
    BeginShell(2);
    MarkOccluderFaces(w(), 0, 1, -2);
    EXPECT_EQ(w().FaceMap[1][1 * 7 + 2], 1);
    EXPECT_EQ(w().bFaceMarked[0] + w().bFaceMarked[1] + w().bFaceMarked[4], 1);
}

TEST_F(FaceOcclusionTest, OutlineHasRunsPerLineAndOneStopPerBottomRow) {
    //   u: 01234
    // v=0  XX.XX
    // v=1  X...X
    // v=2  .....   no band
    // v=3  XXXXX
    BeginShell(5);
    MarkRect(1, 0, 1, 0, 0), MarkRect(1, 3, 4, 0, 0), MarkRect(1, 0, 0, 1, 1), MarkRect(1, 4, 4, 1, 1);
    MarkRect(1, 0, 4, 3, 3);
    ProcessFace(1, false);
    auto at = [&](int k) { return std::make_pair(w().FaceVertex[k].fU, w().FaceVertex[k].fV); };
    using P = std::pair<float, float>;
    const SpanList* rs = w().RowSpanList;
    ASSERT_EQ(w().iRowListCount, 3);
    EXPECT_EQ((std::vector<int>{rs[0].iCount, rs[1].iCount, rs[2].iCount}), (std::vector<int>{2, 2, 1}));
    EXPECT_EQ(at(rs[0].iFirst[1]), P(3, 0));
    EXPECT_EQ(at(rs[0].iSecond[1]), P(4, 0));
    EXPECT_EQ(at(rs[2].iSecond[0]), P(4, 3));
    // Runs starting in row 0 end in rows 1, 0, 0, 1.
    EXPECT_EQ(w().RowStopList[0].iCount, 2);
    EXPECT_EQ(w().RowStopList[1].iCount, 0);
    ASSERT_EQ(w().iColListCount, 5);
    const int colSpans[5] = {2, 2, 1, 2, 2}, colStops[5] = {3, 0, 0, 1, 1};
    for (int u = 0; u < 5; ++u) {
        EXPECT_EQ(w().ColSpanList[u].iCount, colSpans[u]) << u;
        EXPECT_EQ(w().ColStopList[u].iCount, colStops[u]) << u;
    }
    EXPECT_EQ(at(w().ColSpanList[0].iSecond[0]), P(0, 1));
    EXPECT_FALSE(w().bFaceFull);
}

TEST_F(FaceOcclusionTest, CentreCellCastsAlongTheAxisOnFace1ButNotOnFace0) {
    BeginShell(5);
    MarkOccluderFaces(w(), 0, 0, -5);
    ProcessFace(1);
    for (int d = 6; d <= 35; ++d) EXPECT_TRUE(Hidden(35, 35, 35 - d)) << d;  // down to the grid's z = 0
    EXPECT_EQ(w().H.Count(), 30);

    w().H.ClearAll();
    BeginShell(5);
    MarkOccluderFaces(w(), 0, 0, 5);
    ProcessFace(0);
    EXPECT_TRUE(w().H.IsEmpty());
}

TEST_F(FaceOcclusionTest, BlockOfFourHidesFourBehindItOnFace1AndThreeOnFace0) {
    BeginShell(10);
    MarkRect(1, 10, 11, 10, 11);
    ProcessFace(1);
    EXPECT_EQ(HiddenXyAtZ(35 - 11), (XY{{35, 35}, {36, 35}, {35, 34}, {36, 34}}));
    EXPECT_EQ(HiddenXyAtZ(35 - 12), HiddenXyAtZ(35 - 11));
    ExpectShadowInside(1, 10, 11, 10, 11);

    w().H.ClearAll();
    BeginShell(10);
    MarkRect(0, 10, 11, 10, 11);
    ProcessFace(0);
    EXPECT_EQ(HiddenXyAtZ(35 + 11), (XY{{35, 35}, {34, 35}, {35, 34}}));  // (u, v) = (11, 11) stays open
    ExpectShadowInside(0, 10, 11, 10, 11);
}

TEST_F(FaceOcclusionTest, ShadowReachesTheEdgeOfTheFacePyramid) {
    SetView(35, 35, 20);
    BeginShell(5);
    MarkRect(0, 0, 4, 3, 7);  // touches the edge u = 0 shared with face 2
    ProcessFace(0);
    ExpectShadowInside(0, 0, 4, 3, 7);
    // After k shells the edge u = 0 has moved to u = -k, the cell x = cX + d.
    for (int d = 6; 35 + d < kGridSize; ++d) {
        bool onEdge = false;
        for (int y = 0; y < kGridSize; ++y) onEdge = onEdge || Hidden(35 + d, y, 20 + d);
        EXPECT_TRUE(onEdge) << d;
    }
}

TEST_F(FaceOcclusionTest, NothingIsWrittenOnceTheFacePlaneLeavesTheGrid) {
    for (int f : {0, 1}) {
        SetView(35, 35, f == 0 ? 60 : 9);  // the next plane is z = 70 or z = -1
        BeginShell(9);
        MarkRect(f, 8, 10, 8, 10);
        ProcessFace(f);
        EXPECT_TRUE(w().H.IsEmpty()) << f;
    }
    SetView(35, 35, 59);  // the next plane is z = 69, the last one
    BeginShell(9);
    MarkRect(0, 8, 10, 8, 10);
    ProcessFace(0);
    EXPECT_GT(w().H.Count(), 0);
    EXPECT_EQ(static_cast<int>(HiddenXyAtZ(69).size()), w().H.Count());
    ExpectShadowInside(0, 8, 10, 8, 10);
}

TEST_F(FaceOcclusionTest, FusionClosesAShadowedGapBetweenOccluders) {
    // Two blocks on face 0 at shell 10, rows 5-8 and 12-15 of columns 5-15;
    // the rows between them are already hidden by nearer occluders.
    for (unsigned char fusion : {1, 0}) {
        w().H.ClearAll();
        for (int v = 9; v <= 11; ++v)
            for (int u = 5; u <= 15; ++u) w().H.Set(static_cast<unsigned>(CellIndex(45 - u, 45 - v, 45)));
        w().bOccluderFusion = fusion;
        BeginShell(10);
        MarkRect(0, 5, 15, 5, 8);
        MarkRect(0, 5, 15, 12, 15);
        ProcessFace(0);
        // The gap's centre row on the next shell: covered only when fused.
        EXPECT_EQ(Hidden(35, 35, 46), fusion == 1) << int(fusion);
        EXPECT_TRUE(Hidden(35, 35 + 3, 46)) << int(fusion);  // inside the upper block's shadow
    }
}

TEST_F(FaceOcclusionTest, FacesOneToFiveDrawABandUntilTheNextBandBegins) {
    // Two bars on face 4 with open rows between them. Faces 1 to 5 stop a
    // band only at the stop rows of the band they leave, so the open rows
    // between the bars are drawn with the first bar's spans: the gap's
    // shadow is closed (a known overestimate of the hidden region).
    BeginShell(10);
    MarkRect(4, 5, 15, 5, 5);
    MarkRect(4, 5, 15, 15, 15);
    ProcessFace(4);
    for (int d = 11; 35 + d < kGridSize; ++d) EXPECT_TRUE(Hidden(35, 35 + d, 35)) << d;
}

TEST_F(FaceOcclusionTest, FaceFullOnlyWhenEveryEntryOfTheWholeFaceIsMarked) {
    auto full = [&](auto mark) {
        BeginShell(2);
        mark();
        ProcessFace(1, false);
        return w().bFaceFull;
    };
    EXPECT_EQ(full([&] { MarkRect(1, 0, 4, 0, 4); }), 1);
    EXPECT_EQ(full([&] { MarkRect(1, 0, 4, 0, 1), MarkRect(1, 0, 1, 2, 4), MarkRect(1, 2, 4, 3, 4); }), 0);
    EXPECT_EQ(full([&] { MarkRect(1, 0, 3, 0, 4); }), 0);  // every mark, not the whole face
    // Two corner marks and hidden cells everywhere else: full only with fusion.
    for (int y = 33; y <= 37; ++y)
        for (int x = 33; x <= 37; ++x) w().H.Set(static_cast<unsigned>(CellIndex(x, y, 33)));
    for (unsigned char fusion : {1, 0}) {
        w().bOccluderFusion = fusion;
        EXPECT_EQ(full([&] { MarkRect(1, 0, 0, 0, 0), MarkRect(1, 4, 4, 4, 4); }), fusion);
    }
}

// Hand-made maps larger than a face of the grid reach the capacities of the
// outline lists. Over capacity a face propagates nothing, rather than a
// truncated outline, and is never full.
TEST_F(FaceOcclusionTest, OutlineOverCapacityIsDroppedWhole) {
    struct Pattern {
        const char* name;
        int at, over;        // largest size that fits, and one that does not
        int (*side)(int n);  // rect is side x side
        bool (*marked)(int n, int u, int v);
        int (*filled)(const World& w);  // the list that reaches its capacity,
        bool bFilledByMarks;            // to n or to the number of marks
    };
    const Pattern patterns[] = {
        {"spans per band", kMaxBandEntries, kMaxBandEntries + 1, [](int n) { return 2 * n - 1; },
         [](int, int u, int v) { return v == 0 && u % 2 == 0; }, [](const World& w) { return w.RowSpanList[0].iCount; },
         false},
        {"bands", kMaxBands, kMaxBands + 1, [](int n) { return n; }, [](int, int u, int) { return u == 0; },
         [](const World& w) { return w.iRowListCount; }, false},
        {"stops per band", kMaxBandEntries, kMaxBandEntries + 1, [](int n) { return n; },
         [](int, int u, int v) { return v <= u; },  // staircase: n runs from row 0, n bottoms
         [](const World& w) { return w.RowStopList[0].iCount; }, false},
        {"vertices", 180, 182, [](int n) { return n; }, [](int, int u, int v) { return (u + v) % 2 == 0; },
         [](const World& w) { return w.iFaceVertexCount; }, true},
    };
    for (const Pattern& p : patterns) {
        for (int n : {p.at, p.over}) {
            SCOPED_TRACE(std::string(p.name) + " " + std::to_string(n));
            const int side = p.side(n), stride = side + 2;
            std::vector<int> map(static_cast<size_t>(stride) * side, 0);
            int marks = 0;
            for (int v = 0; v < side; ++v)
                for (int u = 0; u < side; ++u)
                    if (p.marked(n, u, v)) map[v * stride + u] = 1, ++marks;
            w().iDist = side;  // far beyond any face of the grid: never full
            w().bOccluderFusion = 0;
            w().iFace = 1;
            w().fFaceUMin = w().fFaceVMin = 0;
            w().fFaceUMax = w().fFaceVMax = static_cast<float>(side - 1);
            ExtractFaceOutline(w(), map.data(), stride);
            if (n == p.over) {
                EXPECT_EQ(w().iRowListCount + w().iColListCount + w().bFaceFull, 0);
            } else {
                EXPECT_EQ(p.filled(w()), p.bFilledByMarks ? marks : n);
                EXPECT_GT(w().iColListCount, 0);
            }
        }
    }
    // Closing the last band at capacity must not disturb band 0's stop, the
    // bottom of a run through all rows.
    std::vector<int> column(3 * kMaxBands, 0);
    for (int v = 0; v < kMaxBands; ++v) column[3 * v] = 1;
    w().fFaceUMin = w().fFaceVMin = 0;
    w().fFaceUMax = 0, w().fFaceVMax = kMaxBands - 1;
    ExtractFaceOutline(w(), column.data(), 3);
    EXPECT_EQ(w().iRowListCount, kMaxBands);
    ASSERT_EQ(w().RowStopList[0].iCount, 1);
    EXPECT_EQ(w().FaceVertex[w().RowStopList[0].iVertex[0]].fV, kMaxBands - 1);

    // A wholly marked face with more rows than bands is not full either.
    const int D = kMaxBands / 2, side = 2 * D + 1;
    std::vector<int> face(static_cast<size_t>(side) * side, 1);
    w().iDist = D;
    w().fFaceUMax = w().fFaceVMax = static_cast<float>(side - 1);
    ExtractFaceOutline(w(), face.data(), side);
    EXPECT_EQ(w().bFaceFull, 0);
}

TEST_F(FaceOcclusionTest, OverCapacityFaceHidesNothing) {
    // Row 0 alternates marks (n spans); a 3 x 3 block at the centre casts a
    // shadow on its own as long as the outline fits.
    for (int spans : {kMaxBandEntries, kMaxBandEntries + 1}) {
        w().H.ClearAll();
        BeginShell(10);
        const int width = 2 * spans - 1, stride = width + 2;
        std::vector<int> map(static_cast<size_t>(stride) * 12, 0);
        for (int u = 0; u < width; u += 2) map[u] = 1;
        for (int v = 9; v <= 11; ++v) std::fill(map.begin() + v * stride + 9, map.begin() + v * stride + 12, 1);
        w().bOccluderFusion = 0;
        w().iFace = 1;
        w().fFaceUMin = w().fFaceVMin = 0;
        w().fFaceUMax = static_cast<float>(width - 1), w().fFaceVMax = 11;
        ExtractFaceOutline(w(), map.data(), stride);
        kPropagateFace[1](w());
        EXPECT_EQ(Hidden(35, 35, 35 - 11), spans == kMaxBandEntries) << spans;
        EXPECT_EQ(w().H.IsEmpty(), spans > kMaxBandEntries) << spans;
    }
}

}  // namespace
}  // namespace gridcull
