// The runner's read-back passes and their GL-free pieces: which objects the
// true set considers, the solid viewpoint, decoding, misses, the frustum
// skip, and a tiny scene whose truly visible set is known by construction.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "BenchReport.h"
#include "OffscreenGl.h"
#include "Paths.h"
#include "SceneRender.h"
#include "TestWorld.h"
#include "grid/Grid.h"
#include "render/CameraView.h"
#include "render/IdColor.h"
#include "render/TruthPass.h"
#include "render/VisibleSets.h"
#include "scene/Camera.h"
#include "visibility/Frame.h"
#include "visibility/Frustum.h"

namespace gridcull::bench {
namespace {

// o centred at (x, y, z) with drawn and bounding radius r.
SceneObject At(float x, float y, float z, float r, SceneObject o = {}) {
    o.fPosition[0] = x, o.fPosition[1] = y, o.fPosition[2] = z;
    o.fRadius = o.fBoundRadius = r;
    return o;
}

TEST(VisibleSets, RegistrationCubeReachingIntoTheGrid) {
    // The cube's limits round half away from zero: 69.5 rounds to 70.
    EXPECT_TRUE(ReachesIntoGrid(At(70.9f, 35, 35, 1.5f)));   // low limit 69.4 -> 69
    EXPECT_FALSE(ReachesIntoGrid(At(71.0f, 35, 35, 1.5f)));  // 69.5 -> 70
    EXPECT_TRUE(ReachesIntoGrid(At(-1.9f, 35, 35, 1.5f)));   // high limit -0.4 -> 0
    EXPECT_FALSE(ReachesIntoGrid(At(-2.0f, 35, 35, 1.5f)));  // -0.5 -> -1
    EXPECT_FALSE(ReachesIntoGrid(At(35, 35, 90, 3)));        // out on one axis is out
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
    w->Os.Set(CellIndex(35, 35, 35));  // static occluder cells count through Os
    EXPECT_TRUE(ViewCellIsSolid(*w));
}

// Identifier colours keep every index in green and blue. Both read-back
// decoders, on planes and on RGBA: each object counts once however many
// pixels it covers, the backdrop and values of 5000 and above mark nothing,
// and stale marks are cleared. Then the misses among them.
TEST(IdColor, ReadBackDecodingIgnoresTheBackdropAndCountsMisses) {
    std::vector<unsigned char> rgba, r, g, b;
    for (int n : {4999, 17, 17, -1, 5000, 65535, 0xFFFFFF, 256, 0}) {  // -1: the backdrop
        unsigned char c[3] = {kIdBackdrop[0], kIdBackdrop[1], kIdBackdrop[2]};
        if (n >= 0) EncodeIdColor(n, c);
        EXPECT_TRUE(n < 0 || n >= 65536 || (c[0] == 0 && c[1] == n / 256 && c[2] == n % 256)) << n;
        rgba.insert(rgba.end(), {c[0], c[1], c[2], 0});
        r.push_back(c[0]), g.push_back(c[1]), b.push_back(c[2]);
    }
    EXPECT_EQ(DecodeIdColor(1, 0, 0), 65536);
    std::vector<unsigned char> seen(kObjectCount, 7), planes(kObjectCount, 7);
    EXPECT_EQ(MarkSeenRgba(rgba.data(), static_cast<int>(r.size()), seen.data()), 4);
    EXPECT_EQ(MarkSeenObjects(r.data(), g.data(), b.data(), static_cast<int>(r.size()), planes.data()), 4);
    EXPECT_TRUE(seen[0] && seen[4999] && seen[17] && seen[256]);
    EXPECT_EQ(planes, seen);

    std::vector<unsigned char> found(kObjectCount, 0);
    found[17] = found[18] = found[256] = 1;  // 18 found but not truly visible: overestimation, not a miss
    EXPECT_EQ(CountMisses(seen.data(), found.data()), 2);
    found[0] = found[4999] = 1;
    EXPECT_EQ(CountMisses(seen.data(), found.data()), 0);
}

// A run longer than its path repeats the path.
TEST(Paths, LongerRunsRepeatThePath) {
    const int n = PathLength(PathKind::kSweep);
    const std::string keys = PathKeys(PathKind::kSweep, 2 * n - 1, 1);
    EXPECT_EQ(keys.substr(n), keys.substr(1, n - 1));
}

TEST(BenchReport, PercentilesAndSummaryOfMisses) {
    auto percentile = [](std::initializer_list<double> ms, double p) {
        TimeHistogram h;
        for (double v : ms) h.Add(v);
        return h.Percentile(p);
    };
    EXPECT_EQ(percentile({}, 0.5), 0);
    EXPECT_NEAR(percentile({5, 1, 3}, 0.5), 3, 0.001);
    EXPECT_NEAR(percentile({1, 2, 3, 4}, 0.5), 2, 0.001);        // nearest rank
    EXPECT_NEAR(percentile({0.0014, 0.0016}, 1), 0.0015, 1e-9);  // 1 microsecond bins
    EXPECT_EQ(percentile({1, 2500, 1500}, 1), 2500);             // beyond the bins: exact
    EXPECT_EQ(percentile({1, 2500, 1500}, 0.6), 1500);

    RunStats stats, noTruth;
    for (auto [pvs, truth, misses, missesVf] : {std::array{40, 10, 0, 1}, {30, 20, 2, 0}, {10, 0, 0, 0}}) {
        FrameRecord r;
        r.iPvs = pvs, r.iTruth = truth, r.iMisses = misses, r.iMissesVf = missesVf;
        stats.Add(r);
    }
    const RunSummary s = stats.Summary();
    EXPECT_TRUE(s.iTruthFrames == 3 && s.iRatioFrames == 2);  // a frame that sees nothing has no ratio
    EXPECT_DOUBLE_EQ(s.fOverestimation, (4.0 + 1.5) / 2);
    EXPECT_TRUE(s.iMisses == 2 && s.iMissesVf == 1 && s.iFramesWithMisses == 1);
    noTruth.Add(FrameRecord{});
    EXPECT_LT(noTruth.Summary().fOverestimation, 0);  // no truth measured
}

// Start camera, (35, 35, 35) looking along +z, up +y, 55 degrees. A sphere
// of radius 2 just beyond each plane: by 2 slacks it is skipped, by half a
// slack it is kept.
TEST(TruthPass, SphereJustBeyondAPlaneSkippedOnlyPastTheSlack) {
    test::WorldPtr w = test::MakeEmptyWorld();
    test::AimCamera(*w, 35, 35, 35, 0, 0, 1, 55);
    const ViewPlanes planes = DrawnFrustum(*w);
    const double r = 2, half = 27.5 * kDegToRad, depth = 20;
    // Axis 0: x, 1: y, 2: along the view; sign: side of the axis, or near (-1) / far (+1).
    for (const auto& [axis, sign] : {std::pair{0, 1.0}, {0, -1.0}, {1, 1.0}, {1, -1.0}, {2, -1.0}, {2, 1.0}})
        for (const double beyond : {2 * kViewSlack, 0.5 * kViewSlack}) {
            float centre[3] = {35, 35, 35};
            if (axis < 2) {
                // Distance to the side plane of a point (x, depth): x cos - depth sin.
                centre[axis] += static_cast<float>(sign * (depth * std::sin(half) + r + beyond) / std::cos(half));
                centre[2] += static_cast<float>(depth);
            } else {
                centre[2] += static_cast<float>(sign < 0 ? kNearPlane - r - beyond : w->fFarDist + r + beyond);
            }
            // Floats carry about 4e-6 at 35: far below the slack.
            EXPECT_EQ(SphereOutsideView(planes, centre, r), beyond > kViewSlack) << axis << sign << " by " << beyond;
        }
}

// Seeded random views of the generated scene, the degenerate fields of view
// 2 and 179 among them: the skip leaves the true set exactly as drawing
// every object gives it, in both culling modes.
TEST(TruthPass, SkipOutsideTheViewKeepsTheSetOfDrawingEverything) {
    OffscreenGl gl;
    std::string error;
    ASSERT_TRUE(gl.Create(kReadBackSide, error)) << error;
    test::WorldPtr w = test::MakeSceneWorld();
    TruthPass pass;
    std::mt19937 random(5);
    std::vector<unsigned char> sets[2] = {std::vector<unsigned char>(kObjectCount), sets[0]};
    int k = 0;
    for (const float fov : {2, 179, 55, 55, 90, 20, 55, 130}) {
        for (float* f : {&w->fViewX, &w->fViewY, &w->fViewZ}) *f = static_cast<float>(random() % kGridSize);
        for (float* f : {&w->fRoll, &w->fYaw, &w->fPitch}) *f = static_cast<float>(random() % 360);
        w->fFov = fov, w->bStrictCulling = k++ % 2;
        RebuildViewMatrix(*w);
        BeginFrame(*w);
        int counts[2];
        for (const bool skip : {true, false}) {
            pass.bSkipOutsideView = skip;
            counts[skip] = pass.Run(*w, 0, kReadBackSide, sets[skip].data());
        }
        EXPECT_TRUE(counts[0] == counts[1] && sets[0] == sets[1]) << "view " << k;
        ResetGridAndCount(*w, 0);
        AdvanceFrame(*w);
    }
}

// A tiny scene drawn for real: start camera (35, 35, 35) looking along +z
// with a 55 degree field of view.
TEST(TruthPass, KnownVisibleSetByConstruction) {
    constexpr int kLargeSize = 1024;
    OffscreenGl gl;
    std::string error;
    ASSERT_TRUE(gl.Create(kLargeSize, error)) << error;
    SceneRenderer renderer(kLargeSize);
    test::WorldPtr w = test::MakeEmptyWorld();
    for (int n = 0; n < kObjectCount; ++n) EncodeIdColor(n, w->disks[n].ucIdColor);
    w->iViewCellX = w->iViewCellY = w->iViewCellZ = 35;
    SetupFrustum(*w);
    auto put = [&w](int n, float x, float y, float z, float r) { w->disks[n] = At(x, y, z, r, w->disks[n]); };
    auto truth = [&](int size = kReadBackSide) {
        std::vector<unsigned char> seen(kObjectCount);
        const int count = renderer.RunTruthPass(*w, size, seen.data());
        std::vector<int> list;
        for (int n = 0; n < kObjectCount; ++n)
            if (seen[n]) list.push_back(n);
        EXPECT_EQ(count, static_cast<int>(list.size()));
        return list;
    };
    put(300, 35, 35, 45, 2);        // in front: seen
    put(301, 35, 35, 60, 1);        // straight behind 300, smaller in view: hidden
    put(302, 45.4f, 35, 55, 1.5f);  // across the +x edge of the view: seen in part
    put(303, 55, 35, 55, 1);        // 45 degrees off the axis: outside the view
    put(304, 35, 35, 25, 1);        // behind the eye
    put(305, 35, 45, 69.8f, 1.5f);  // straddles the grid's far face: its inner part is seen
    put(306, 35, 45, 71.2f, 1);     // cube entirely past the far face: not part of the grid
    put(307, 35, 35, 33.6f, 1.5f);  // holds the eye, back faces culled: blocks nothing
    EXPECT_EQ(truth(), (std::vector<int>{300, 302, 305}));

    put(300, -1000, -1000, -1000, 0);  // without the occluder in front, the one behind it is seen
    EXPECT_EQ(truth(), (std::vector<int>{301, 302, 305}));
    // A sphere of 0.17 degrees needs more pixels than the 3D view has.
    put(308, 40, 35, 69, 0.05f);
    const std::vector<int> large = truth(kLargeSize);
    EXPECT_NE(std::find(large.begin(), large.end(), 308), large.end());
    test::PlaceDynamic(*w, 4, 35, 35, 35, 0, 0, 0, 3);  // a viewer inside a solid sees nothing
    EXPECT_TRUE(truth().empty());
}

}  // namespace
}  // namespace gridcull::bench
