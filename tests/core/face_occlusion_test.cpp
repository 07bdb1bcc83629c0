#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <tuple>
#include <vector>

#include "TestWorld.h"
#include "grid/Grid.h"
#include "visibility/FaceOcclusion.h"
#include "visibility/ProjectedCoords.h"

namespace gridcull {
namespace {

using Cell = std::array<int, 3>;

// Offset from the viewpoint cell of face entry (u, v) of face f on shell d.
Cell FaceOffset(int f, int d, int u, int v) {
    const Cell o[6] = {{d - u, d - v, d},  {u - d, d - v, -d}, {d, d - v, u - d},
                       {-d, d - v, d - u}, {d - u, d, v - d},  {d - u, -d, d - v}};
    return o[f];
}

// An empty grid seen from cell (35, 35, 35): shells with hand-marked face maps.
class FaceOcclusionTest : public test::EmptyGrid {
protected:
    void SetUp() override { w.iViewCellX = w.iViewCellY = w.iViewCellZ = 35; }
    // Shell d, rectangle u0..u1 x v0..v1 marked on face f through the cells that lie there.
    void MarkShell(int f, int d, int u0, int u1, int v0, int v1) {
        w.iDist = d, w.iFaceStride = 2 * d + 3, w.iFace = f;
        std::fill_n(w.FaceMap[f], w.iFaceStride * w.iFaceStride, 0);
        w.iFaceUMin[f] = w.iFaceVMin[f] = 512, w.iFaceUMax[f] = w.iFaceVMax[f] = 0;
        for (int v = v0; v <= v1; ++v)
            for (int u = u0; u <= u1; ++u) {
                const Cell o = FaceOffset(f, d, u, v);
                MarkOccluderFaces(w, o[0], o[1], o[2]);
            }
        w.fFaceUMin = float(w.iFaceUMin[f]), w.fFaceUMax = float(w.iFaceUMax[f]);
        w.fFaceVMin = float(w.iFaceVMin[f]), w.fFaceVMax = float(w.iFaceVMax[f]);
    }
    // Outline of face 1 from a hand-made width x height map; returns the number of marks.
    template <class Marked>
    int ExtractMap(int width, int height, Marked marked) {
        const int stride = width + 2;
        map_.assign(static_cast<size_t>(stride) * height, 0);
        int marks = 0;
        for (int v = 0; v < height; ++v)
            for (int u = 0; u < width; ++u)
                if (marked(u, v)) map_[v * stride + u] = 1, ++marks;
        w.iFace = 1, w.fFaceUMin = w.fFaceVMin = 0, w.fFaceUMax = float(width - 1), w.fFaceVMax = float(height - 1);
        ExtractFaceOutline(w, map_.data(), stride);
        return marks;
    }
    bool HiddenOn(int f, int d, int u, int v) {
        const Cell o = FaceOffset(f, d, u, v);
        return w.H.Test(static_cast<unsigned>(CellIndex(w.iViewCellX + o[0], w.iViewCellY + o[1], w.iViewCellZ + o[2])));
    }
    std::vector<int> map_;
};

// The block's shadow lies beyond the grid's last plane, or only on it: nothing is written outside the grid.
TEST_F(FaceOcclusionTest, NothingIsWrittenOnceTheFacePlaneLeavesTheGrid) {
    for (auto [z, f, lastPlane] : {std::tuple{60, 0, false}, {9, 1, false}, {59, 0, true}}) {
        w.H.ClearAll();
        w.iViewCellZ = z;
        MarkShell(f, 9, 8, 10, 8, 10);
        ExtractFaceOutline(w, w.FaceMap[f], w.iFaceStride);
        kPropagateFace[f](w);
        WriteStagedHidden(w);
        int onLast = 0;
        for (int g = CellIndex(0, 0, 69); g < kCellCount; ++g) onLast += w.H.Test(static_cast<unsigned>(g));
        EXPECT_EQ(w.H.Count(), onLast) << z;
        EXPECT_EQ(onLast > 0, lastPlane) << z;
    }
}

// Maps larger than a face of the grid reach the capacities of the outline lists. Over capacity a face keeps no
// outline at all, rather than a truncated one: it hides nothing and is never full.
TEST_F(FaceOcclusionTest, OutlineOverCapacityIsDroppedWhole) {
    auto expectFilled = [&](int n, int capacity, int filled, int expect) {
        if (n > capacity)
            EXPECT_EQ(w.iRowListCount + w.iColListCount + w.bFaceFull, 0) << n;
        else
            EXPECT_TRUE(filled == expect && w.iColListCount > 0) << n << ": " << filled << " of " << expect;
    };
    w.bOccluderFusion = 0;
    for (int n : {kMaxBandEntries, kMaxBandEntries + 1}) {
        // n spans in row 0; a 3 x 3 block at the centre of shell 10 casts a shadow while the outline fits.
        w.H.ClearAll();
        w.iDist = 10;
        ExtractMap(2 * n - 1, 12, [](int u, int v) { return (v == 0 && u % 2 == 0) || (v >= 9 && u >= 9 && u <= 11); });
        expectFilled(n, kMaxBandEntries, w.RowSpanList[0].iCount, n);
        kPropagateFace[1](w);
        WriteStagedHidden(w);
        EXPECT_EQ(w.H.Test(static_cast<unsigned>(CellIndex(35, 35, 35 - 11))), n == kMaxBandEntries) << n;
        EXPECT_EQ(w.H.IsEmpty(), n > kMaxBandEntries) << n;
        w.iDist = 1000;                                       // far beyond any face of the grid: never full
        ExtractMap(n, n, [](int u, int v) { return v <= u; });  // staircase: n runs from row 0, n bottoms
        expectFilled(n, kMaxBandEntries, w.RowStopList[0].iCount, n);
    }
    for (int n : {kMaxBands, kMaxBands + 1}) {
        ExtractMap(n, n, [](int u, int) { return u == 0; });
        expectFilled(n, kMaxBands, w.iRowListCount, n);
    }
    // Closing the last band at capacity must not disturb band 0's stop, the bottom of a run through all rows.
    ExtractMap(1, kMaxBands, [](int, int) { return true; });
    ASSERT_EQ(w.RowStopList[0].iCount, 1);
    EXPECT_EQ(w.FaceVertex[w.RowStopList[0].iVertex[0]].fV, kMaxBands - 1);
    for (int n : {180, 182}) {  // a checkerboard of 16200 or 16562 cells
        const int marks = ExtractMap(n, n, [](int u, int v) { return (u + v) % 2 == 0; });
        expectFilled(n, 181, w.iFaceVertexCount, marks);
    }
    w.iDist = kMaxBands / 2;  // a wholly marked face with more rows than bands is not full either
    ExtractMap(kMaxBands + 1, kMaxBands + 1, [](int, int) { return true; });
    EXPECT_EQ(w.bFaceFull, 0);
}

// The sweeps settle once per propagation which stop line ends each band. That holds only if on every plane past
// the shell the projected lines rise strictly with the coordinate, and a whole-line bound, scaled on its own,
// lands on its coordinate's lines. Every shell and plane of the grid, every coordinate of the shell's face; the
// shells' table must hold the same lines.
TEST(ProjectedCoords, LinesRiseWithTheCoordinateOnEveryFartherPlane) {
    ProjectedCoords at;
    const ShellProjections& table = ShellProjections::Get();
    for (int D = 1; D < kGridSize; ++D) {
        const float fD = float(D);
        std::vector<float> bound(2 * D + 1), step(2 * D + 1);
        for (int c = 0; c <= 2 * D; ++c) bound[c] = float(c), step[c] = (bound[c] - fD) / fD;
        at.Start(0, 2 * D, fD);
        for (int d = D + 1; d < kGridSize; ++d) {
            at.Step();
            for (int c = 0; c <= 2 * D; ++c) {
                bound[c] += step[c];
                ASSERT_EQ(at.iStart[c], RoundHalfAway(bound[c] + 0.375)) << D << " " << d << " " << c;
                ASSERT_EQ(at.iEnd[c], RoundHalfAway(bound[c] - 0.375)) << D << " " << d << " " << c;
                const int k = d - D - 1;
                ASSERT_TRUE(table.Starts(D, c)[k] == at.iStart[c] && table.Ends(D, c)[k] == at.iEnd[c])
                    << D << " " << d;
                if (c > 0) {
                    ASSERT_TRUE(at.iStart[c] > at.iStart[c - 1] && at.iEnd[c] > at.iEnd[c - 1]) << D << " " << d;
                }
            }
        }
    }
}

// A first bound nudged a hair past its line leaves the sweeps line by line, and the planned sweeps must draw the
// same, on every face: ragged blocks, with many stop lines and skipped bands, and runs stopping on the last line;
// and stripes, whose equal lines the plan draws as one band, with lone cells between them, each a band that face 0
// skips. The shells are no multiple of 8 away, so every whole coordinate projects at least 1 / (8 D) from a
// rounding edge, far more than the nudge grows to.
TEST_F(FaceOcclusionTest, PlannedSweepsDrawWhatTheLineByLineSweepDraws) {
    using Pattern = bool (*)(int u, int v, int f, int block, int last);
    auto ragged = [](int u, int v, int f, int block, int last) {
        // The last three rows: runs ending on the one before the last, which they skip, and runs from it to the
        // last, so that only that band's own stops lie on the last line.
        if (v >= last - 2) return (v < last && u % 3 == 1) || (v > last - 2 && u % 3 == 0);
        return (u / block * 5 + v / block * 3 + u / block * (v / block) + f) % 7 < 4;
    };
    auto stripes = [](int u, int v, int, int block, int) {
        return u / block % 3 != 2 || (v % 4 == 2 && u % block == 0);
    };
    auto bars = [](int u, int v, int, int block, int) { return v / block % 3 != 2 || (u % 4 == 2 && v % block == 0); };
    for (int f = 0; f < 6; ++f)
        for (auto [d, block] : {std::pair{3, 1}, {10, 2}, {17, 3}, {29, 2}})
            for (Pattern marked : {Pattern(ragged), Pattern(stripes), Pattern(bars)}) {
                auto hidden = [&](bool nudged) {
                    w.H.ClearAll();
                    MarkShell(f, d, 0, -1, 0, -1);
                    for (int v = 1; v < 2 * d; ++v)
                        for (int u = 1; u < 2 * d; ++u)
                            if (marked(u, v, f, block, 2 * d - 1)) {
                                const Cell o = FaceOffset(f, d, u, v);
                                MarkOccluderFaces(w, o[0], o[1], o[2]);
                            }
                    w.fFaceUMin = float(w.iFaceUMin[f]), w.fFaceUMax = float(w.iFaceUMax[f]);
                    w.fFaceVMin = float(w.iFaceVMin[f]), w.fFaceVMax = float(w.iFaceVMax[f]);
                    if (nudged) w.fFaceVMin = std::nextafter(w.fFaceVMin, 1e9f);
                    ExtractFaceOutline(w, w.FaceMap[f], w.iFaceStride);
                    kPropagateFace[f](w);
                    WriteStagedHidden(w);
                    return std::vector<std::uint16_t>(w.H.pWords, w.H.pWords + w.H.iWordCount);
                };
                const std::vector<std::uint16_t> planned = hidden(false);
                EXPECT_GT(w.H.Count(), 50) << "face " << f << ", shell " << d;
                EXPECT_TRUE(planned == hidden(true)) << "face " << f << ", shell " << d;
            }
}

// A map of at most 64 by 64 entries is outlined a word per line; one more empty column or row takes the general
// path, which must give the same lists, vertices and coordinates. Runs reach the words' last bits both ways.
TEST_F(FaceOcclusionTest, OneWordOutlineMatchesTheGeneralOne) {
    w.bOccluderFusion = 0;
    w.iDist = 1000;
    auto marked = [](int u, int v) { return u < 64 && v < 64 && ((u * 7 + v * 13) % 11 < 6 || v == 63 || u == 63); };
    struct Outline {
        std::vector<int> lists;
        std::vector<float> vertices;
    };
    auto outline = [&](int width, int height) {
        ExtractMap(width, height, marked);
        Outline o;
        for (auto [count, spans, stops, coords] :
             {std::tuple{w.iRowListCount, w.RowSpanList, w.RowStopList, &w.RowBandCoords},
              std::tuple{w.iColListCount, w.ColSpanList, w.ColStopList, &w.ColBandCoords}}) {
            o.lists.push_back(count);
            for (int b = 0; b < count; ++b) {
                o.lists.insert(o.lists.end(), {coords->iBandLine[b], spans[b].iCount, stops[b].iCount});
                for (int i = 0; i < spans[b].iCount; ++i) {
                    const int k = coords->iSpanFrom[b] + i;
                    o.lists.insert(o.lists.end(), {spans[b].iFirst[i], spans[b].iSecond[i], coords->iSpanEnds[k][0],
                                                   coords->iSpanEnds[k][1]});
                }
                for (int i = 0; i < stops[b].iCount; ++i)
                    o.lists.insert(o.lists.end(), {stops[b].iVertex[i], coords->iStopLine[coords->iStopFrom[b] + i]});
            }
        }
        for (int k = 0; k < w.iFaceVertexCount; ++k)
            o.vertices.insert(o.vertices.end(), {w.FaceVertex[k].fU, w.FaceVertex[k].fV, w.FaceVertex[k].fDU,
                                                 w.FaceVertex[k].fDV});
        return o;
    };
    const Outline oneWord = outline(64, 64);
    ASSERT_GT(oneWord.vertices.size(), 0u);
    for (auto [width, height] : {std::pair{65, 64}, {64, 65}}) {
        const Outline general = outline(width, height);
        EXPECT_EQ(general.lists, oneWord.lists) << width << " x " << height;
        EXPECT_EQ(general.vertices, oneWord.vertices) << width << " x " << height;
    }
}

// With fusion a face's gaps close where their cells are hidden; H is read many cells at a time along x. Gaps at both
// ends of one such read, and in the grid's last row, close only together; a narrow face there reads the set's last words.
TEST_F(FaceOcclusionTest, FusionClosesGapsOnlyWhereEveryCellIsHidden) {
    const std::array<std::array<int, 2>, 4> gaps = {{{9, 0}, {47, 68}, {48, 68}, {60, 34}}};
    for (int strict : {0, 1})
        for (int f : {0, 1, 4, 5})
            for (int hiddenCount = 0; hiddenCount <= 4; ++hiddenCount) {
                w.H.ClearAll();
                MarkShell(f, 34, 0, 68, 0, 68);
                for (int i = 0; i < 4; ++i) {
                    const auto [u, v] = gaps[i];
                    w.FaceMap[f][v * w.iFaceStride + u] = 0;
                    const Cell o = FaceOffset(f, 34, u, v);
                    if (i < hiddenCount) w.H.Set(static_cast<unsigned>(CellIndex(35 + o[0], 35 + o[1], 35 + o[2])));
                }
                if (strict)
                    PropagateFaceStrict(w, w.FaceMap[f], w.iFaceStride);
                else
                    ExtractFaceOutline(w, w.FaceMap[f], w.iFaceStride);
                EXPECT_EQ(w.bFaceFull, hiddenCount == 4) << "strict " << strict << " face " << f << " " << hiddenCount;
            }
    for (bool hidden : {false, true}) {
        w.H.ClearAll();
        MarkShell(0, 34, 0, 20, 0, 2);
        w.FaceMap[0][9] = 0;  // entry (9, 0): cell (60, 69, 69)
        if (hidden) w.H.Set(static_cast<unsigned>(CellIndex(60, 69, 69)));
        ExtractFaceOutline(w, w.FaceMap[0], w.iFaceStride);
        EXPECT_EQ(w.RowSpanList[0].iCount, hidden ? 1 : 2);
    }
}

// Strict: block u 12..16, v 4..8 on shell 10. Cell (15, 7) of shell 11 projects onto entries 13..14 x 6..7: an
// open entry among those leaves it visible, one just beside them does not. Each face, for its axes and signs.
class StrictHitMissTest : public FaceOcclusionTest, public ::testing::WithParamInterface<int> {};

TEST_P(StrictHitMissTest, BlockHidesTheCellBehindItAndAGapOpensIt) {
    const int f = GetParam();
    w.bStrictCulling = 1;
    for (auto [gapU, gapV, hidden] : {std::tuple{-1, -1, true}, {12, 6, true}, {14, 8, true}, {13, 7, false},
                                      {14, 6, false}}) {
        w.H.ClearAll();
        MarkShell(f, 10, 12, 16, 4, 8);
        if (gapU >= 0) w.FaceMap[f][gapV * w.iFaceStride + gapU] = 0;
        PropagateFaceStrict(w, w.FaceMap[f], w.iFaceStride);
        WriteStagedHidden(w);
        EXPECT_EQ(HiddenOn(f, 11, 15, 7), hidden) << "gap " << gapU << "," << gapV;
        EXPECT_EQ(w.bFaceFull, 0);
    }
    // A wholly marked face hides its whole pyramid, edges included, and is full.
    w.H.ClearAll();
    MarkShell(f, 3, 0, 6, 0, 6);
    PropagateFaceStrict(w, w.FaceMap[f], w.iFaceStride);
    WriteStagedHidden(w);
    EXPECT_EQ(w.bFaceFull, 1);
    for (int d = 4; d <= 34; ++d)
        for (int u : {0, d, 2 * d}) EXPECT_TRUE(HiddenOn(f, d, u, 0) && HiddenOn(f, d, u, 2 * d)) << d << " " << u;
}

INSTANTIATE_TEST_SUITE_P(Faces, StrictHitMissTest, ::testing::Range(0, 6));

}  // namespace
}  // namespace gridcull
