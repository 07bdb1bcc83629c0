// Grid storage, registration of objects into cells and occluder cells, and
// temporal bounding volumes.
#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <vector>

#include "TestWorld.h"
#include "grid/BitSet.h"
#include "grid/Grid.h"
#include "grid/ObjectSet.h"
#include "visibility/Frame.h"

namespace gridcull {
namespace {

using test::CellsHolding;
using test::FootprintsAgree;

struct Bits {
    std::vector<std::uint16_t> words;
    BitSet set;
    explicit Bits(int n) : words(n, 0) { set.pWords = words.data(), set.iWordCount = n; }
};

TEST(BitSet, NumbersBitsMostSignificantFirstAndCopiesWholeWords) {
    Bits b(4), c(4);
    b.set.Set(0);
    b.set.Set(17);
    EXPECT_TRUE(b.words[0] == 0x8000 && b.words[1] == 0x4000 && !b.set.Test(16));
    b.set.Clear(0);
    EXPECT_EQ(b.words[0], 0);
    c.set.CopyFrom(b.set);
    EXPECT_TRUE(c.set.Equals(b.set));
    b.set.ClearAll();
    EXPECT_TRUE(b.set.IsEmpty() && !c.set.Equals(b.set));
}

// Every range of a small set against a bit-by-bit reference, for both
// directions and on a background of the opposite value: partial first
// words, whole words and the most significant bits of the last word.
TEST(BitSet, RangeOperationsMatchBitwiseReference) {
    for (unsigned first = 0; first < 48; ++first)
        for (unsigned count = 0; first + count <= 64; ++count) {
            Bits s(4), c(4);
            c.set.SetRange(0, 64);
            s.set.SetRange(first, count);
            c.set.ClearRange(first, count);
            for (unsigned bit = 0; bit < 64; ++bit) {
                const bool inside = bit >= first && bit < first + count;
                ASSERT_TRUE(s.set.Test(bit) == inside && c.set.Test(bit) != inside)
                    << first << "+" << count << " bit " << bit;
            }
        }
}

TEST(ObjectSet, SortedUniqueAcrossGrowthAndShrink) {
    ObjectSet s;
    for (int i : {40, 7, 4999, 7, 0, 123}) s.insert(i);
    EXPECT_EQ(std::vector<int>(s.begin(), s.end()), (std::vector<int>{0, 7, 40, 123, 4999}));
    EXPECT_EQ(s.erase(8) + 2 * s.erase(7) + 4 * s.erase(7), 2);  // absent, present, gone
    EXPECT_FALSE(s.contains(7));
    // Past the inline entries onto the heap, and back inline when small again.
    for (int i = 100; i > 0; --i) s.insert(i * 3);
    EXPECT_EQ(s.size(), 103);  // 0, 40 and 4999 besides the multiples of 3 (123 is one)
    for (int i = 1; i <= 100; ++i) ASSERT_EQ(s.erase(i * 3), 1);
    EXPECT_EQ(std::vector<int>(s.begin(), s.end()), (std::vector<int>{0, 40, 4999}));
    for (int i = 1; i <= 20; ++i) s.insert(i);
    EXPECT_TRUE(s.size() == 23 && *s.begin() == 0);
}

using Registration = test::EmptyGrid;

TEST_F(Registration, CoversTheRoundedCubeAndBothCentreCellsOnceAndRemovesAgain) {
    test::PlaceDynamic(w, 5, 10.4f, 20.6f, 30.5f, 0, 0, 0, 1.2f);
    for (int pass = 0; pass < 2; ++pass) {  // registering again at the same place changes nothing
        RegisterObject(w, 5, false, false);
        EXPECT_EQ(w.disks[5].iCellCount, 66);
        EXPECT_EQ(CellsHolding(w, 5), 64);
    }
    // Opposite corners of 9..12 x 19..22 x 29..32 (rnd(31.7) = 32): with 64 cells, exactly that cube.
    EXPECT_TRUE(w.I[CellIndex(9, 19, 29)].contains(5) && w.I[CellIndex(12, 22, 32)].contains(5));
    for (int pass = 0; pass < 2; ++pass) {  // remove-only takes it out everywhere; a second one is harmless
        RegisterObject(w, 5, false, true);
        EXPECT_EQ(CellsHolding(w, 5), 0);
    }
}

TEST_F(Registration, ClipsToTheGrid) {
    // x -2..2 -> 0..2, y 67..71 -> 67..69, z 33..37: 3 * 3 * 5 cells + 2 centres; then wholly outside.
    test::PlaceDynamic(w, 1, 0.2f, 69.0f, 35.0f, 0, 0, 0, 2.0f);
    test::PlaceDynamic(w, 2, 100, 100, 100, 0, 0, 0, 3);
    RegisterObject(w, 1, false, false);
    RegisterObject(w, 2, false, false);
    EXPECT_TRUE(w.disks[1].iCellCount == 47 && CellsHolding(w, 1) == 45);
    EXPECT_TRUE(w.disks[2].iCellCount == 0 && CellsHolding(w, 2) == 0);
}

TEST_F(Registration, OccluderCellsLieWhollyInsideTheSphere) {
    // Radius 1 on a cell centre: only that cell (corners sqrt(0.75) away).
    test::PlaceDynamic(w, 3, 20, 20, 20, 0, 0, 0, 1.0f);
    RegisterObject(w, 3, false, false);
    EXPECT_TRUE(w.O.Count() == 1 && w.O.Test(CellIndex(20, 20, 20)) && w.Os.IsEmpty());
    // A radius just short of sqrt(0.75) leaves every corner outside.
    w.O.ClearAll();
    test::PlaceDynamic(w, 4, 30, 30, 30, 0, 0, 0, 0.866f);
    RegisterObject(w, 4, false, false);
    EXPECT_TRUE(w.O.IsEmpty());

    // Static registrations go to Os, checked against the cells whose
    // farthest corner is within the sphere.
    test::PlaceDynamic(w, 300, 40, 40, 40, 0, 0, 0, 2.5f);
    RegisterObject(w, 300, true, false);
    EXPECT_TRUE(w.O.IsEmpty());
    int count = 0;
    for (int z = 37; z <= 43; ++z)
        for (int y = 37; y <= 43; ++y)
            for (int x = 37; x <= 43; ++x) {
                double far = 0;
                for (int d : {x - 40, y - 40, z - 40}) far += (std::abs(d) + 0.5) * (std::abs(d) + 0.5);
                ASSERT_EQ(w.Os.Test(CellIndex(x, y, z)), far <= 6.25) << x << "," << y << "," << z;
                count += far <= 6.25;
            }
    EXPECT_TRUE(w.Os.Count() == count && count > 1);
}

TEST_F(Registration, OutlineOfAFarVolumeHasSeventyTwoColumnsPerPlaneAndIsRemovedWhole) {
    w.fViewX = w.fViewY = w.fViewZ = 1000;
    EXPECT_EQ(test::GiveVolume(w, 7, 20.7f, 30.2f, 40.9f, 0.3f, 0.4f, 0, 4.06f, 100, 110), 9);  // speed 0.5
    EXPECT_EQ(w.disks[7].iTbvEndFrame, 110);
    EXPECT_TRUE(w.Txy[7].Count() == 72 && w.Tyz[7].Count() == 72 && w.Txz[7].Count() == 72);
    // Corners and an edge of the square x 11..29, y 21..39; its inside and beyond it.
    for (auto [x, y, on] : {std::tuple{11, 21, 1}, {29, 39, 1}, {20, 21, 1}, {20, 30, 0}, {10, 21, 0}})
        EXPECT_EQ(w.Txy[7].Test(XyColumn(x, y)), on == 1) << x << "," << y;
    EXPECT_TRUE(FootprintsAgree(w));
    RemoveTbv(w, 7);
    EXPECT_TRUE(w.Txy[7].IsEmpty() && w.Tyz[7].IsEmpty() && w.Txz[7].IsEmpty());
    EXPECT_TRUE(FootprintsAgree(w));
}

TEST_F(Registration, VolumeNearAFaceKeepsOnlyItsInGridPart) {
    w.fViewX = w.fViewY = w.fViewZ = 1000;
    ASSERT_EQ(test::GiveVolume(w, 10, 3.5f, 30.5f, 30.5f, 0.3f, 0.4f, 0, 4.06f, 0, 10), 9);
    // xy square x -6..12, y 21..39: the edge x = -6 is gone, rows clipped to 0..12.
    EXPECT_FALSE(w.Txy[10].Test(XyColumn(0, 30)));
    EXPECT_TRUE(w.Txy[10].Test(XyColumn(0, 21)) && w.Txy[10].Test(XyColumn(12, 30)));
    EXPECT_EQ(w.Txy[10].Count(), 13 * 2 + 17);
    EXPECT_TRUE(FootprintsAgree(w));
    RemoveTbv(w, 10);
    EXPECT_TRUE(w.Txy[10].IsEmpty() && FootprintsAgree(w));
}

// The half size and end frame that the size cap and the viewpoint rule give.
struct VolumeCase {
    const char* what;
    float origin, vx, vy, R;
    int start, end;
    float view[3];
    int t, newEnd;
};
class VolumeSize : public test::EmptyGrid, public ::testing::WithParamInterface<VolumeCase> {};

TEST_P(VolumeSize, CapAndViewpointRule) {
    const VolumeCase& k = GetParam();
    SCOPED_TRACE(k.what);
    w.fViewX = k.view[0], w.fViewY = k.view[1], w.fViewZ = k.view[2];
    EXPECT_EQ(test::GiveVolume(w, 8, k.origin, k.origin, k.origin, k.vx, k.vy, 0, k.R, k.start, k.end), k.t);
    EXPECT_EQ(w.disks[8].iTbvEndFrame, k.newEnd);
    EXPECT_TRUE(FootprintsAgree(w, 8));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VolumeSize,
    ::testing::Values(
        // t would be rnd(2 * 10 + 5) = 25: capped, end at rnd((15 - 5) / 2 + 50).
        VolumeCase{"size cap", 35, 2.0f, 0, 5, 50, 60, {1000, 1000, 1000}, 15, 55},
        // Viewer 6 cells away: t = trunc(6 / sqrt 3) - 1 = 2 < R, so trunc(R) = 4,
        // end rnd((4 - 4.06) / 0.5 + 100) = 100.
        VolumeCase{"viewpoint rule", 30.2f, 0.3f, 0.4f, 4.06f, 100, 110, {36.2f, 30.2f, 30.2f}, 4, 100},
        // A motionless object: no cap, no division by zero; near the viewer the
        // volume is the object itself and runs out at the next frame.
        VolumeCase{"zero speed, far", 30, 0, 0, 4.9f, 20, 40, {1000, 1000, 1000}, 5, 40},
        VolumeCase{"zero speed, near", 30, 0, 0, 4.9f, 20, 40, {33, 30, 30}, 4, 20}));

// The viewpoint rule can end an interval long before it starts. Renewals
// must treat that as an empty interval: the volume never shrinks below the
// object and its outline stays on the grid.
TEST_F(Registration, SlowObjectNextToTheViewerKeepsAValidVolume) {
    w.fViewX = 30, w.fViewY = 30, w.fViewZ = 33;
    test::PlaceDynamic(w, 12, 30, 30, 30, 0.005f, 0, 0, 4.9f);
    w.PVS[12] = 1;  // first frame: registered exactly
    SceneObject& o = w.disks[12];
    o.iTbvStartFrame = 0, o.iTbvEndFrame = 40;
    for (int frame = 0; frame < 400; ++frame, o.fPosition[0] += o.fVelocity[0]) {
        w.iFrame = frame;
        RefreshDynamicObject(w, 12);
        w.PVS[12] = 0;
        if (frame == 0) continue;
        ASSERT_TRUE(o.bInTemporalVolume && o.fTbvHalfSize >= 4 && o.iTbvEndFrame > frame - 1000) << frame;
        const int cx = static_cast<int>(o.fTbvOrigin[0]), cy = static_cast<int>(o.fTbvOrigin[1]);
        ASSERT_TRUE(w.Txy[12].Test(XyColumn(cx - static_cast<int>(o.fTbvHalfSize), cy))) << "frame " << frame;
    }
    EXPECT_EQ(CellsHolding(w, 12), 0);
    EXPECT_TRUE(FootprintsAgree(w, 12));
}

}  // namespace
}  // namespace gridcull
