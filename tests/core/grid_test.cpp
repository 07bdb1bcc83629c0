// Grid storage, registration of objects into cells and occluder cells, and
// temporal bounding volumes.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <tuple>
#include <vector>

#include "TestWorld.h"
#include "grid/BitSet.h"
#include "grid/Grid.h"
#include "grid/ObjectSet.h"

namespace gridcull {
namespace {

using test::FootprintsAgree;

struct Bits {
    std::vector<std::uint16_t> words;
    BitSet set;
    explicit Bits(int n) : words(n, 0) { set.pWords = words.data(), set.iWordCount = n; }
};

// Every range of a small set against a bit-by-bit reference, for both
// directions and on a background of the opposite value: partial first
// words, whole words and the most significant bits of the last word; copies,
// counts and comparisons of the result.
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
            Bits copy(4);
            copy.set.CopyFrom(s.set);
            ASSERT_TRUE(copy.set.Equals(s.set) && !copy.set.Equals(c.set) && s.set.IsEmpty() == (count == 0) &&
                        s.set.Count() == int(count));
            copy.set.ClearAll();
            ASSERT_TRUE(copy.set.IsEmpty());
        }
}

// A walk that steps its mask along reads the same bits as Test, for each
// stride of a grid run in both directions, from every bit of a word.
template <int kStep>
void ExpectSteppedMaskReadsEachBit(const BitSet& set, unsigned from, int steps) {
    std::uint32_t mask = BitSet::MaskOf(from);
    for (int i = 0; i < steps; ++i, mask = BitSet::StepMask<kStep>(mask)) {
        const unsigned b = from + static_cast<unsigned>(i * kStep);
        ASSERT_EQ(set.Test(b, mask), set.Test(b)) << "step " << kStep << " from " << from << " bit " << b;
    }
}

TEST(BitSet, SteppedMaskMatchesLookup) {
    Bits s(2 * 4900 / 16 + 8);
    for (unsigned b = 0; b < 2 * 4900 + 64; b += 3) s.set.Set(b * 7 % (2 * 4900 + 64));
    for (unsigned from = 4900; from < 4916; ++from) {
        ExpectSteppedMaskReadsEachBit<1>(s.set, from, 64);
        ExpectSteppedMaskReadsEachBit<-1>(s.set, from, 64);
        ExpectSteppedMaskReadsEachBit<70>(s.set, from, 64);
        ExpectSteppedMaskReadsEachBit<-70>(s.set, from, 64);
        ExpectSteppedMaskReadsEachBit<4900>(s.set, from - 4900, 3);
        ExpectSteppedMaskReadsEachBit<-4900>(s.set, from, 2);
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

// An occluder cell lies wholly inside the sphere: radius 1 on a cell centre takes that cell only (corners
// sqrt(0.75) away), a radius just short of sqrt(0.75) none. Static registrations go to Os, against the cells whose
// farthest corner is within the sphere.
TEST_F(Registration, OccluderCellsLieWhollyInsideTheSphere) {
    for (auto [R, cells] : {std::pair{1.0f, 1}, {0.866f, 0}}) {
        w.O.ClearAll();
        test::PlaceDynamic(w, 3, 20, 20, 20, 0, 0, 0, R);
        RegisterObject(w, 3, false, false);
        EXPECT_TRUE(w.O.Count() == cells && w.O.Test(CellIndex(20, 20, 20)) == (cells > 0) && w.Os.IsEmpty()) << R;
    }
    w.O.ClearAll();
    test::PlaceDynamic(w, 300, 40, 40, 40, 0, 0, 0, 2.5f);
    RegisterObject(w, 300, true, false);
    EXPECT_TRUE(w.O.IsEmpty());
    int count = 0;
    for (int g = 0; g < kCellCount; ++g) {
        double far = 0;
        for (int d : {g % kGridSize - 40, g / kGridSize % kGridSize - 40, g / kColumnCount - 40})
            far += (std::abs(d) + 0.5) * (std::abs(d) + 0.5);
        ASSERT_EQ(w.Os.Test(static_cast<unsigned>(g)), far <= 6.25) << g;
        count += far <= 6.25;
    }
    EXPECT_GT(count, 1);
}

// A moving sphere's occluder cells against the farthest-corner test cell by cell, summed as registration sums
// it: on cell centres and corners (ties with the radius), beside the coordinate 2 below which the row test takes
// the general path, across the grid's border, and at random.
TEST_F(Registration, MovingOccluderCellsPassTheFarthestCornerTest) {
    std::vector<std::array<float, 4>> cases = {{20, 20, 20, 2.5f},      {30.5f, 30.5f, 30.5f, 3},
                                               {2, 2.0000002f, 9, 4.9f}, {1.9999999f, 5.25f, 40, 4.2f},
                                               {0.3f, 68.7f, 35, 6.3f},  {69.5f, 3.5f, 72.25f, 7}};
    std::uint32_t seed = 7;
    auto next = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
    for (int k = 0; k < 40; ++k)
        cases.push_back({next() % 7100 * 0.01f, next() % 7100 * 0.01f + 1e-3f, next() % 7100 * 0.01f,
                         4 + next() % 240 * 0.0125f});
    for (const auto& [x, y, z, R] : cases) {
        w.O.ClearAll();
        test::PlaceDynamic(w, 5, x, y, z, 0, 0, 0, R);
        RegisterObject(w, 5, false, false);
        const float p[3] = {x, y, z};
        int lo[3], hi[3], count = 0;
        ASSERT_TRUE(RegistrationCube(p, R, lo, hi));
        for (int c = lo[2]; c <= hi[2]; ++c)
            for (int b = lo[1]; b <= hi[1]; ++b)
                for (int a = lo[0]; a <= hi[0]; ++a) {
                    double far[3];
                    for (int i : {0, 1, 2}) {
                        const float d = std::fabs((i == 0 ? a : i == 1 ? b : c) - p[i]);
                        far[i] = (d + 0.5) * (d + 0.5);
                    }
                    const bool inside = far[0] + far[1] + far[2] <= static_cast<double>(R * R);
                    ASSERT_EQ(w.O.Test(CellIndex(a, b, c)), inside) << x << ' ' << y << ' ' << z << ' ' << R;
                    count += inside;
                }
        EXPECT_EQ(w.O.Count(), count);
    }
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

// A renewed volume leaves the outline of a fresh one and nothing of the old,
// whether the cube stayed (a move within the origin's cell), moved by a cell
// along one axis (one plane keeps its outline) or two, or far, or (strict,
// eye at the object) no volume can be had.
TEST_F(Registration, RenewedVolumeLeavesOnlyTheNewOutline) {
    const float moves[][3] = {{0.2f, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {9, 0, 0}, {-1, 0, 0}};
    for (bool strict : {false, true})
        for (const float* move : moves) {
            SCOPED_TRACE(::testing::Message()
                         << (strict ? "strict " : "literal ") << move[0] << "," << move[1] << "," << move[2]);
            w.fViewX = w.fViewY = w.fViewZ = 1000;
            test::GiveVolume(w, 12, 30.3f, 30.3f, 30.3f, 0.01f, 0, 0, 2.0f, 0, 10);
            SceneObject& o = w.disks[12];
            for (int a = 0; a < 3; ++a) o.fPosition[a] += std::fabs(move[a]);
            const bool eyeAtObject = move[0] < 0;
            if (eyeAtObject) w.fViewX = o.fPosition[0], w.fViewY = w.fViewZ = 30.3f;
            w.iFrame = 10;
            const bool kept = RenewTbv(w, 12, strict, 23);
            EXPECT_TRUE(FootprintsAgree(w, 12));
            BitSet* planes[3] = {&w.Txy[12], &w.Tyz[12], &w.Txz[12]};
            std::vector<std::uint16_t> renewed[3];
            for (int p = 0; p < 3; ++p)
                renewed[p].assign(planes[p]->pWords, planes[p]->pWords + planes[p]->iWordCount);
            RemoveTbv(w, 12);
            for (BitSet* plane : planes) EXPECT_TRUE(plane->IsEmpty());
            o.iTbvEndFrame = 23;
            EXPECT_EQ(strict ? InsertStrictTbv(w, 12) : (InsertTbv(w, 12), true), kept);
            EXPECT_EQ(kept, !eyeAtObject || !strict);
            for (int p = 0; p < 3; ++p)
                EXPECT_TRUE(std::equal(renewed[p].begin(), renewed[p].end(), planes[p]->pWords)) << "plane " << p;
            RemoveTbv(w, 12);
        }
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

}  // namespace
}  // namespace gridcull
