// The runner's read-back passes and their GL-free pieces: which objects the
// true set considers, the solid viewpoint, decoding, misses, and a tiny scene
// whose truly visible set is known by construction.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "BenchReport.h"
#include "OffscreenGl.h"
#include "Paths.h"
#include "SceneRender.h"
#include "TestWorld.h"
#include "VisibleSets.h"
#include "render/IdColor.h"
#include "grid/Grid.h"
#include "scene/Camera.h"
#include "visibility/Frustum.h"

namespace gridcull::bench {
namespace {

SceneObject Sphere(float x, float y, float z, float r) {
    SceneObject o;
    o.fPosition[0] = x;
    o.fPosition[1] = y;
    o.fPosition[2] = z;
    o.fRadius = o.fBoundRadius = r;
    return o;
}

TEST(VisibleSets, RegistrationCubeReachingIntoTheGrid) {
    // The cube's limits round half away from zero: 69.5 rounds to 70.
    EXPECT_TRUE(ReachesIntoGrid(Sphere(70.9f, 35, 35, 1.5f)));   // low limit 69.4 -> 69
    EXPECT_FALSE(ReachesIntoGrid(Sphere(71.0f, 35, 35, 1.5f)));  // 69.5 -> 70
    EXPECT_TRUE(ReachesIntoGrid(Sphere(-1.9f, 35, 35, 1.5f)));   // high limit -0.4 -> 0
    EXPECT_FALSE(ReachesIntoGrid(Sphere(-2.0f, 35, 35, 1.5f)));  // -0.5 -> -1
    EXPECT_FALSE(ReachesIntoGrid(Sphere(35, 35, 90, 3)));        // out on one axis is out
    EXPECT_TRUE(ReachesIntoGrid(Sphere(0, 69, 35, 0.1f)));
}

TEST(VisibleSets, ViewCellSolidOnlyWhenASphereFillsIt) {
    test::WorldPtr w = test::MakeEmptyWorld();
    w->iViewCellX = w->iViewCellY = w->iViewCellZ = 35;
    EXPECT_FALSE(ViewCellIsSolid(*w));
    // Farthest corner of cell 35 from (35, 35, 34): (0.5, 0.5, 1.5), sqrt(2.75) = 1.658.
    test::PlaceDynamic(*w, 3, 35, 35, 34, 0, 0, 0, 1.66f);
    EXPECT_TRUE(ViewCellIsSolid(*w));
    w->disks[3].fRadius = 1.65f;  // holds the eye but not the whole cell
    EXPECT_FALSE(ViewCellIsSolid(*w));
    // Static occluder cells count through Os.
    w->Os.Set(CellIndex(35, 35, 35));
    EXPECT_TRUE(ViewCellIsSolid(*w));
}

TEST(VisibleSets, ReadBackDecodingIgnoresTheBackdropAndCountsMisses) {
    std::vector<unsigned char> rgba;
    auto pixel = [&rgba](const unsigned char rgb[3]) {
        for (int k = 0; k < 4; ++k) rgba.push_back(k < 3 ? rgb[k] : 0);
    };
    unsigned char c[3];
    for (int n : {0, 4999, 17, 17}) {
        EncodeIdColor(n, c);
        pixel(c);
    }
    pixel(kIdBackdrop);
    const unsigned char over[3] = {0, 19, 136};  // 5000: no object
    pixel(over);
    std::vector<unsigned char> seen(kObjectCount, 7);
    EXPECT_EQ(MarkSeenRgba(rgba.data(), static_cast<int>(rgba.size() / 4), seen.data()), 3);
    EXPECT_TRUE(seen[0] && seen[4999] && seen[17]);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 0), kObjectCount - 3);

    std::vector<unsigned char> found(kObjectCount, 0);
    found[17] = 1;
    found[18] = 1;  // found but not truly visible: overestimation, not a miss
    EXPECT_EQ(CountMisses(seen.data(), found.data()), 2);
    found[0] = found[4999] = 1;
    EXPECT_EQ(CountMisses(seen.data(), found.data()), 0);
}

TEST(Paths, KeysOfEachPath) {
    EXPECT_EQ(PathKeys(PathKind::kStart, 5, 1), ".....");
    const std::string orbit = PathKeys(PathKind::kOrbit, PathLength(PathKind::kOrbit), 1);
    EXPECT_EQ(orbit.size(), 360u);
    EXPECT_EQ(orbit[0], '.');
    EXPECT_EQ(std::count(orbit.begin(), orbit.end(), '7'), 359);

    // The sweep reaches every face and returns to the start cell.
    const std::string sweep = PathKeys(PathKind::kSweep, PathLength(PathKind::kSweep), 1);
    test::WorldPtr w = test::MakeEmptyWorld();
    float lo[3] = {35, 35, 35}, hi[3] = {35, 35, 35};
    for (char k : sweep) {
        if (k != '.') ApplyKey(*w, static_cast<unsigned char>(k));
        const float v[3] = {w->fViewX, w->fViewY, w->fViewZ};
        for (int a = 0; a < 3; ++a) lo[a] = std::min(lo[a], v[a]), hi[a] = std::max(hi[a], v[a]);
    }
    for (int a = 0; a < 3; ++a) EXPECT_TRUE(lo[a] == 0 && hi[a] == 69) << "axis " << a;
    EXPECT_TRUE(w->fViewX == 35 && w->fViewY == 35 && w->fViewZ == 35);

    // A seed repeats exactly; another seed gives other keys.
    const std::string a = PathKeys(PathKind::kRandom, 300, 7), b = PathKeys(PathKind::kRandom, 300, 8);
    EXPECT_EQ(a, PathKeys(PathKind::kRandom, 300, 7));
    EXPECT_NE(a, b);
    EXPECT_EQ(a.find_first_not_of(".xXyYzZ0123456789"), std::string::npos);
    // Longer runs repeat the path.
    EXPECT_EQ(PathKeys(PathKind::kOrbit, 362, 1).substr(360), "77");
}

TEST(BenchReport, PercentilesAndSummaryOfMisses) {
    auto percentile = [](std::initializer_list<double> ms, double p) {
        TimeHistogram h;
        for (double v : ms) h.Add(v);
        return h.Percentile(p);
    };
    EXPECT_EQ(percentile({}, 0.5), 0);
    EXPECT_NEAR(percentile({5, 1, 3}, 0.5), 3, 0.001);
    EXPECT_NEAR(percentile({1, 2, 3, 4}, 0.5), 2, 0.001);  // nearest rank
    EXPECT_NEAR(percentile({0.0014, 0.0016}, 1), 0.0015, 1e-9);  // 1 microsecond bins
    EXPECT_EQ(percentile({1, 2500, 1500}, 1), 2500);  // beyond the bins: exact
    EXPECT_EQ(percentile({1, 2500, 1500}, 0.6), 1500);
    TimeHistogram hundred;
    for (int i = 1; i <= 100; ++i) hundred.Add(i);
    EXPECT_NEAR(hundred.Percentile(0.95), 95, 0.001);

    FrameRecord records[3];
    records[0].iPvs = 40, records[0].iTruth = 10, records[0].iMisses = 0, records[0].iMissesVf = 1;
    records[1].iPvs = 30, records[1].iTruth = 20, records[1].iMisses = 2, records[1].iMissesVf = 0;
    records[2].iPvs = 10, records[2].iTruth = 0, records[2].iMisses = 0, records[2].iMissesVf = 0;
    RunStats stats;
    for (const FrameRecord& r : records) stats.Add(r);
    const RunSummary s = stats.Summary();
    EXPECT_EQ(s.iTruthFrames, 3);
    EXPECT_EQ(s.iRatioFrames, 2);  // a frame that sees nothing has no ratio
    EXPECT_DOUBLE_EQ(s.fOverestimation, (4.0 + 1.5) / 2);
    EXPECT_EQ(s.iMisses, 2);
    EXPECT_EQ(s.iMissesVf, 1);
    EXPECT_EQ(s.iFramesWithMisses, 1);
    RunStats noTruth;
    noTruth.Add(FrameRecord{});
    EXPECT_LT(noTruth.Summary().fOverestimation, 0);  // no truth measured
}

// A tiny scene drawn for real: start camera (35, 35, 35) looking along +z
// with a 55 degree field of view.
class TruthScene : public ::testing::Test {
protected:
    static constexpr int kLargeSize = 1024;
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(gl_.Create(kLargeSize, error)) << error;
        w_ = test::MakeEmptyWorld();
        for (int n = 0; n < kObjectCount; ++n) EncodeIdColor(n, w_->disks[n].ucIdColor);
        w_->iViewCellX = w_->iViewCellY = w_->iViewCellZ = 35;
        SetupFrustum(*w_);
        renderer_ = std::make_unique<SceneRenderer>(kLargeSize);
    }
    void Put(int n, float x, float y, float z, float r) {
        SceneObject& o = w_->disks[n];
        o.fPosition[0] = x, o.fPosition[1] = y, o.fPosition[2] = z;
        o.fRadius = o.fBoundRadius = r;
    }
    std::vector<int> Truth(int size = kReadBackSide) {
        std::vector<unsigned char> seen(kObjectCount);
        const int count = renderer_->RunTruthPass(*w_, size, seen.data());
        std::vector<int> list;
        for (int n = 0; n < kObjectCount; ++n)
            if (seen[n]) list.push_back(n);
        EXPECT_EQ(count, static_cast<int>(list.size()));
        return list;
    }

    OffscreenGl gl_;
    test::WorldPtr w_;
    std::unique_ptr<SceneRenderer> renderer_;
};

TEST_F(TruthScene, KnownVisibleSetByConstruction) {
    Put(300, 35, 35, 45, 2);        // in front: seen
    Put(301, 35, 35, 60, 1);        // straight behind 300, smaller in view: hidden
    Put(302, 45.4f, 35, 55, 1.5f);  // across the +x edge of the view: seen in part
    Put(303, 55, 35, 55, 1);        // 45 degrees off the axis: outside the view
    Put(304, 35, 35, 25, 1);        // behind the eye
    Put(305, 35, 45, 69.8f, 1.5f);  // straddles the grid's far face: its inner part is seen
    Put(306, 35, 45, 71.2f, 1);     // cube entirely past the far face: not part of the grid
    Put(307, 35, 35, 33.6f, 1.5f);  // holds the eye, back faces culled: blocks nothing
    EXPECT_EQ(Truth(), (std::vector<int>{300, 302, 305}));

    // Without the occluder in front, the one behind it is seen.
    Put(300, -1000, -1000, -1000, 0);
    EXPECT_EQ(Truth(), (std::vector<int>{301, 302, 305}));
    // A sphere of 0.17 degrees needs more pixels than the 3D view has.
    Put(308, 40, 35, 69, 0.05f);
    const std::vector<int> large = Truth(kLargeSize);
    EXPECT_TRUE(std::find(large.begin(), large.end(), 308) != large.end());
}

TEST_F(TruthScene, ViewerInsideASolidSeesNothing) {
    Put(300, 35, 35, 45, 2);
    EXPECT_EQ(Truth(), std::vector<int>{300});
    test::PlaceDynamic(*w_, 4, 35, 35, 35, 0, 0, 0, 3);
    EXPECT_TRUE(Truth().empty());
}

}  // namespace
}  // namespace gridcull::bench
