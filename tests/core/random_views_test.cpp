// Thousands of frames of the generated scene from random camera states, in
// both culling modes, checked against invariants that hold whatever the
// camera does and, in strict mode, against brute force over the grid. The
// runs are seeded; a failure names the seed and the frame, and
// GRIDCULL_RANDOM_VIEWS_SEED / GRIDCULL_RANDOM_VIEWS_FRAMES replay or lengthen
// a run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "TestWorld.h"
#include "grid/Grid.h"
#include "scan/Scan.h"
#include "scene/Camera.h"
#include "visibility/DrawnSpheres.h"
#include "visibility/Frame.h"
#include "visibility/Frustum.h"

namespace gridcull {
namespace {

using ::testing::AssertionFailure;
using ::testing::AssertionSuccess;

// Unoptimised and sanitizer builds test a cell many times slower: they run a third of the frames.
#if defined(__has_feature)
#define GRIDCULL_ASAN __has_feature(address_sanitizer)
#endif
#if defined(__SANITIZE_ADDRESS__) || GRIDCULL_ASAN || !defined(NDEBUG)
constexpr long long kFrameShare = 1;
#else
constexpr long long kFrameShare = 3;
#endif

// SplitMix64: the same sequence on every platform, unlike <random>'s distributions.
struct Rng {
    std::uint64_t state;
    int Below(int n) {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return static_cast<int>((z ^ (z >> 31)) % static_cast<std::uint64_t>(n));
    }
    // One of the special values with the given chance, else lo + Below(n).
    int Pick(int percent, std::vector<int> special, int lo, int n) {
        return Below(100) < percent ? special[Below(static_cast<int>(special.size()))] : lo + Below(n);
    }
};

int Chebyshev(int a, int b, int c) { return std::max({std::abs(a), std::abs(b), std::abs(c)}); }

// Every CellTest call of a frame: offsets outside the grid (the first kept), calls off the shell being walked,
// and how often each grid cell was handed over.
struct Audit {
    long long outside = 0, offShell = 0;
    int a = 0, b = 0, c = 0;
    std::vector<unsigned char> tested = std::vector<unsigned char>(kCellCount, 0);
};
void AuditCell(World& w, int a, int b, int c, void* context) {
    auto& s = *static_cast<Audit*>(context);
    const int x = w.iViewCellX + a, y = w.iViewCellY + b, z = w.iViewCellZ + c;
    if (!InGrid(x, y, z)) {
        if (s.outside++ == 0) s.a = a, s.b = b, s.c = c;
        return;
    }
    s.offShell += Chebyshev(a, b, c) != w.iDist;
    ++s.tested[CellIndex(x, y, z)];
}

// Every dynamic object is in I at exactly the cells of its removal list when registered exactly or when its entries
// were left stale for its next registration, and in no cell when it has a volume otherwise; only an object with a
// volume is stale. Sweeps all 343000 cell sets; given one object, only checks that it is in its listed cells.
::testing::AssertionResult CellSetsAgree(const World& w, int only = -1) {
    std::vector<int> held(kDynamicCount, 0);
    for (int c = 0; c < kCellCount && only < 0; ++c)
        for (int j : w.I[c]) {
            if (j >= kDynamicCount) break;  // ascending: the rest are static
            ++held[j];
        }
    for (int j = std::max(only, 0); j < (only < 0 ? kDynamicCount : only + 1); ++j) {
        const SceneObject& o = w.disks[j];
        if (o.bCellsStale && !o.bInTemporalVolume) return AssertionFailure() << "object " << j << " stale without a volume";
        std::set<int> listed;
        for (int k = 0; k < o.iCellCount && (!o.bInTemporalVolume || o.bCellsStale); ++k) {
            const int x = int(o.fCells[k][0]), y = int(o.fCells[k][1]), z = int(o.fCells[k][2]);
            if (!InGrid(x, y, z) || !w.I[CellIndex(x, y, z)].contains(j))
                return AssertionFailure() << "object " << j << " missing from listed cell " << x << "," << y << "," << z;
            listed.insert(CellIndex(x, y, z));
        }
        if (only < 0 && held[j] != static_cast<int>(listed.size()))
            return AssertionFailure() << "object " << j << " (volume " << int(o.bInTemporalVolume) << ") is in "
                                      << held[j] << " cells, expected " << listed.size();
    }
    return AssertionSuccess();
}

// Strict scan against brute force: on the shells walked, a grid cell is handed over once when
// CellInStrictFrustum keeps it, else never; beyond them, never.
::testing::AssertionResult StrictScanExact(const World& w, const Audit& audit) {
    if (audit.offShell) return AssertionFailure() << audit.offShell << " cells handed over off their shell";
    for (int g = 0; g < kCellCount; ++g) {
        const int a = g % kGridSize - w.iViewCellX, b = g / kGridSize % kGridSize - w.iViewCellY,
                  c = g / kColumnCount - w.iViewCellZ, d = Chebyshev(a, b, c);
        // The viewpoint cell is handled, not tested.
        if (d > 0 && audit.tested[g] != (d <= w.iDist && CellInStrictFrustum(w, a, b, c)))
            return AssertionFailure() << "cell " << a << "," << b << "," << c << " of shell " << d << " (walk ended at "
                                      << w.iDist << ") tested " << int(audit.tested[g]) << " times";
    }
    return AssertionSuccess();
}

// Strict propagation against rays: every sample point of a hidden cell's closed cube (a 4 x 4 x 4 lattice) is
// cut off from the eye by the closed cube of a solid cell (an occluder cell the image shows solid, or a hidden
// cell, covered in turn). Checks `count` hidden cells picked at random; adds the number checked to *checked.
::testing::AssertionResult HiddenCellsCovered(const World& w, Rng& rng, int count, long long* checked) {
    std::vector<int> hidden;
    std::vector<unsigned char> solid(kCellCount, 0);
    for (int g = 0; g < kCellCount; ++g) {
        const int x = g % kGridSize, y = g / kGridSize % kGridSize, z = g / kColumnCount;
        if (w.H.Test(static_cast<unsigned>(g))) hidden.push_back(g);
        solid[g] = w.H.Test(static_cast<unsigned>(g)) ||
                   (w.O.Test(static_cast<unsigned>(g)) && CellHeldSolid(w, g, x, y, z));
    }
    const double eye[3] = {w.fViewX, w.fViewY, w.fViewZ};
    solid[CellIndex(w.iViewCellX, w.iViewCellY, w.iViewCellZ)] = 0;
    // Whether a point lies in the closed cube of a solid cell other than g: on a cell boundary, either side counts.
    auto solidAt = [&](const double p[3], int g) {
        int lo[3], hi[3];
        for (int k = 0; k < 3; ++k)
            lo[k] = int(std::floor(p[k] + 0.5 - 1e-9)), hi[k] = int(std::floor(p[k] + 0.5 + 1e-9));
        for (int x = lo[0]; x <= hi[0]; ++x)
            for (int y = lo[1]; y <= hi[1]; ++y)
                for (int z = lo[2]; z <= hi[2]; ++z)
                    if (InGrid(x, y, z) && CellIndex(x, y, z) != g && solid[CellIndex(x, y, z)]) return true;
        return false;
    };
    for (int n = 0; n < count && !hidden.empty(); ++n, ++*checked) {
        const int g = hidden[static_cast<size_t>(rng.Below(static_cast<int>(hidden.size())))];
        const int cell[3] = {g % kGridSize, g / kGridSize % kGridSize, g / kColumnCount};
        for (int s = 0; s < 64; ++s) {
            double p[3], dir[3];
            for (int k = 0; k < 3; ++k) p[k] = cell[k] - 0.5 + ((s >> (2 * k)) & 3) / 3.0, dir[k] = p[k] - eye[k];
            // The segment's parameters where it crosses a cell boundary; between two, it stays in one cell.
            std::vector<double> ts = {0, 1};
            for (int k = 0; k < 3; ++k)
                for (double b = std::floor(std::min(eye[k], p[k])) + 0.5; dir[k] != 0 && b < std::max(eye[k], p[k]);
                     b += 1)
                    ts.push_back((b - eye[k]) / dir[k]);
            std::sort(ts.begin(), ts.end());
            bool blocked = false;
            for (size_t i = 0; i < ts.size() && !blocked; ++i)
                for (double t : {ts[i], i + 1 < ts.size() ? (ts[i] + ts[i + 1]) / 2 : ts[i]}) {
                    const double q[3] = {eye[0] + t * dir[0], eye[1] + t * dir[1], eye[2] + t * dir[2]};
                    blocked = blocked || solidAt(q, g);
                }
            if (!blocked)
                return AssertionFailure() << "hidden cell " << cell[0] << "," << cell[1] << "," << cell[2]
                                          << " seen along a ray to " << p[0] << "," << p[1] << "," << p[2];
        }
    }
    return AssertionSuccess();
}

// Strict volumes: the eye's cell lies outside every cube, and the sphere lies inside its cube on every frame of
// the interval.
::testing::AssertionResult StrictVolumesHold(const World& w) {
    const int eye[3] = {w.iViewCellX, w.iViewCellY, w.iViewCellZ};
    for (int j = 0; j < kDynamicCount; ++j) {
        const SceneObject& o = w.disks[j];
        if (!o.bInTemporalVolume) continue;
        const int t = static_cast<int>(o.fTbvHalfSize);
        bool holdsEye = true;
        for (int a = 0; a < 3; ++a) {
            const int c = static_cast<int>(o.fTbvOrigin[a]);
            holdsEye = holdsEye && std::abs(eye[a] - c) <= t;
            if (o.fPosition[a] - o.fBoundRadius < c - t - 0.5f || o.fPosition[a] + o.fBoundRadius > c + t + 0.5f)
                return AssertionFailure() << "object " << j << " out of its volume on axis " << a;
        }
        if (holdsEye) return AssertionFailure() << "object " << j << ": the eye's cell is inside its volume";
    }
    return AssertionSuccess();
}

// Jumping: a fresh random state, biased to the grid's border, the inside of occluders, right angles and extreme
// fields of view. Wandering: a few presses of one key, as a user would drive it; movement and turning keys
// weighted over toggles, so that long runs of one key reach the grid's faces and the field of view's limits.
void MoveCamera(World& w, Rng& rng, bool jump, const std::vector<int>& occluderCells) {
    static const std::string kKeys = "xXyYzZ1256789022222111115678905678904t";
    if (!jump) {
        const int presses = 1 + rng.Below(6);
        const char key = kKeys[static_cast<size_t>(rng.Below(static_cast<int>(kKeys.size())))];
        for (int k = 0; k < presses; ++k) ApplyKey(w, static_cast<unsigned char>(key));
        return;
    }
    const int cell = rng.Below(100) < 8 ? occluderCells[static_cast<size_t>(rng.Below(int(occluderCells.size())))] : -1;
    for (int k = 0; k < 3; ++k)
        (&w.fViewX)[k] = float(cell < 0 ? rng.Pick(35, {0, 1, 68, 69}, 0, kGridSize) : cell / kAxisStride[k] % kGridSize);
    for (float* a : {&w.fRoll, &w.fYaw, &w.fPitch}) *a = float(rng.Pick(25, {0, 45, 90, 135, 180, 225, 270, 315}, 0, 360));
    w.fFov = float(rng.Pick(20, {2, 3, 178, 179}, 2, 178));
    if (rng.Below(100) < 10) ApplyKey(w, 't');
    if (rng.Below(100) < 10) ApplyKey(w, '4');
    RebuildViewMatrix(w);
}

struct RunCase {
    const char* name;
    bool strict, jump;
    std::uint64_t seed;
    long long frames;
};
class RandomViews : public ::testing::TestWithParam<RunCase> {};

TEST_P(RandomViews, KeepEveryInvariant) {
    const RunCase& k = GetParam();
    std::uint64_t seed = k.seed;
    long long frames = k.frames * kFrameShare, occluderViews = 0, cornerViews = 0, covered = 0;
    if (const char* v = std::getenv("GRIDCULL_RANDOM_VIEWS_SEED"); v && *v) seed = std::strtoull(v, nullptr, 0);
    if (const char* v = std::getenv("GRIDCULL_RANDOM_VIEWS_FRAMES"); v && *v) frames = std::strtoll(v, nullptr, 0);
    Rng rng{seed};
    auto w = test::MakeSceneWorld();
    w->bStrictCulling = k.strict;
    std::vector<int> occluderCells;
    for (int c = 0; c < kCellCount; ++c)
        if (w->Os.Test(static_cast<unsigned>(c))) occluderCells.push_back(c);
    ASSERT_FALSE(occluderCells.empty()) << "the generated scene has no occluder cell";

    for (long long f = 0; f < frames; ++f) {
        // A wandering camera starts afresh now and then, so that one run covers several neighbourhoods of the grid.
        MoveCamera(*w, rng, k.jump || f % 250 == 0, occluderCells);
        const std::string where = "seed " + std::to_string(seed) + " frame " + std::to_string(f);
        Audit audit;
        SetCellTestObserver(AuditCell, &audit);
        BeginFrame(*w);
        // Decided before the pass: an object refreshed during the walk may make the viewpoint cell an occluder
        // after the fact.
        const int viewCell = CellIndex(w->iViewCellX, w->iViewCellY, w->iViewCellZ);
        const bool insideOccluder = w->O.Test(static_cast<unsigned>(viewCell));
        std::set<int> atEye;  // entries left from before the frame's refresh do not count
        for (int i : w->I[viewCell])
            if (HeldEntry(*w, i)) atEye.insert(i);
        auto eyeHolds = [&](int i) { return atEye.count(i) > 0; };
        ASSERT_TRUE(!k.strict || StrictVolumesHold(*w)) << where;
        RunVisibilityPass(*w);
        SetCellTestObserver(nullptr, nullptr);
        // The overview reads H after the pass: nothing may be left staged.
        const auto* staged = reinterpret_cast<const unsigned char*>(&w->Staged);
        ASSERT_TRUE(std::all_of(staged, staged + sizeof w->Staged, [](unsigned char b) { return b == 0; })) << where;
        occluderViews += insideOccluder;
        cornerViews += w->iViewCellX % 69 == 0 && w->iViewCellY % 69 == 0 && w->iViewCellZ % 69 == 0;
        ASSERT_EQ(audit.outside, 0) << where << ": first offset outside the grid (" << audit.a << ", " << audit.b
                                    << ", " << audit.c << ")";
        // Literal: from inside an occluder exactly the viewpoint cell's objects are seen. Otherwise nothing outside
        // the frustum is; strict always sees the viewpoint cell's objects.
        const bool onlyEyeCell = !k.strict && insideOccluder;
        for (int i = 0; i < kObjectCount; ++i)
            ASSERT_TRUE(onlyEyeCell ? w->PVS[i] == eyeHolds(i)
                                    : (!w->PVS[i] || w->PVSVF[i]) && (!k.strict || w->PVS[i] || !eyeHolds(i)))
                << where << ": " << i << " pvs " << int(w->PVS[i]) << " vf " << int(w->PVSVF[i]);
        if (k.strict) {
            ASSERT_TRUE(StrictScanExact(*w, audit)) << where;
            ASSERT_TRUE(HiddenCellsCovered(*w, rng, 6, &covered)) << where;
        }

        ResetGridAndCount(*w, 0);
        AdvanceFrame(*w);
        ASSERT_TRUE(w->H.IsEmpty()) << where;
        ASSERT_TRUE(w->O.Equals(w->Os)) << where;
        ASSERT_TRUE(test::FootprintsAgree(*w)) << where;
        // The full cell sweep costs a few frames' work: every 16th frame and the last; in between, the removal
        // lists of a few objects.
        const bool sweep = f % 16 == 15 || f == frames - 1;
        for (int n = 0; n < (sweep ? 1 : 4); ++n)
            ASSERT_TRUE(CellSetsAgree(*w, sweep ? -1 : rng.Below(kDynamicCount))) << where;
    }
    // The draw must have reached the degenerate views it is meant to cover, and strict runs hidden cells. The
    // shortened unoptimised runs replay only the first third of the same draw, which need not reach them.
    if (frames < k.frames * 3) return;
    EXPECT_TRUE(!k.jump || (occluderViews > 0 && cornerViews > 0)) << occluderViews << ", " << cornerViews;
    EXPECT_TRUE(!k.strict || covered > 300) << covered;
}

INSTANTIATE_TEST_SUITE_P(Runs, RandomViews,
                         ::testing::Values(RunCase{"LiteralJumping", false, true, 20240601, 500},
                                           RunCase{"LiteralWandering", false, false, 77031, 1000},
                                           RunCase{"StrictJumping", true, true, 20240602, 150},
                                           RunCase{"StrictWandering", true, false, 77032, 200}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace gridcull
