// Thousands of frames of the generated scene from random camera states,
// checked against invariants that hold whatever the camera does. The runs are
// seeded; a failure names the seed and the frame, and
// GRIDCULL_RANDOM_VIEWS_SEED / GRIDCULL_RANDOM_VIEWS_FRAMES replay or lengthen
// a run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "TestWorld.h"
#include "grid/Grid.h"
#include "scan/Scan.h"
#include "scene/Camera.h"
#include "visibility/Frame.h"

namespace gridcull {
namespace {

using ::testing::AssertionFailure;
constexpr int kPow[3] = {1, kGridSize, kColumnCount};

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

// Counts the offsets handed to CellTest that lie outside the grid, and keeps the first.
struct Audit {
    long long outside = 0;
    int a = 0, b = 0, c = 0;
};
void AuditCell(World& w, int a, int b, int c, void* context) {
    auto& s = *static_cast<Audit*>(context);
    if (!InGrid(w.iViewCellX + a, w.iViewCellY + b, w.iViewCellZ + c) && s.outside++ == 0) s.a = a, s.b = b, s.c = c;
}

// Every dynamic object is in I at exactly the cells of its removal list when registered exactly, and in no cell
// when it has a volume. Sweeps all 343000 cell sets; given one object, only checks that it is in its listed cells.
::testing::AssertionResult CellSetsAgree(const World& w, int only = -1) {
    std::vector<int> held(kDynamicCount, 0);
    for (int c = 0; c < kCellCount && only < 0; ++c)
        for (int j : w.I[c]) {
            if (j >= kDynamicCount) break;  // ascending: the rest are static
            ++held[j];
        }
    for (int j = std::max(only, 0); j < (only < 0 ? kDynamicCount : only + 1); ++j) {
        const SceneObject& o = w.disks[j];
        std::set<int> listed;
        for (int k = 0; k < o.iCellCount && !o.bInTemporalVolume; ++k) {
            const int x = int(o.fCells[k][0]), y = int(o.fCells[k][1]), z = int(o.fCells[k][2]);
            if (!InGrid(x, y, z) || !w.I[CellIndex(x, y, z)].contains(j))
                return AssertionFailure()
                       << "object " << j << " missing from listed cell " << x << "," << y << "," << z;
            listed.insert(CellIndex(x, y, z));
        }
        if (only < 0 && held[j] != static_cast<int>(listed.size()))
            return AssertionFailure() << "object " << j << " (volume " << int(o.bInTemporalVolume) << ") is in "
                                      << held[j] << " cells, expected " << listed.size();
    }
    return ::testing::AssertionSuccess();
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
        (&w.fViewX)[k] = float(cell < 0 ? rng.Pick(35, {0, 1, 68, 69}, 0, kGridSize) : cell / kPow[k] % kGridSize);
    for (float* a : {&w.fRoll, &w.fYaw, &w.fPitch})
        *a = float(rng.Pick(25, {0, 45, 90, 135, 180, 225, 270, 315}, 0, 360));
    w.fFov = float(rng.Pick(20, {2, 3, 178, 179}, 2, 178));
    if (rng.Below(100) < 10) ApplyKey(w, 't');
    if (rng.Below(100) < 10) ApplyKey(w, '4');
    RebuildViewMatrix(w);
}

// Fatal failures end the run; *occluderViews and *cornerViews count the degenerate views reached up to then.
void RunRandomViews(bool jump, std::uint64_t seed, long long frames, long long* occluderViews, long long* cornerViews) {
    if (const char* v = std::getenv("GRIDCULL_RANDOM_VIEWS_SEED"); v && *v) seed = std::strtoull(v, nullptr, 0);
    if (const char* v = std::getenv("GRIDCULL_RANDOM_VIEWS_FRAMES"); v && *v) frames = std::strtoll(v, nullptr, 0);
    Rng rng{seed};
    auto w = test::MakeSceneWorld();
    std::vector<int> occluderCells;
    for (int c = 0; c < kCellCount; ++c)
        if (w->Os.Test(static_cast<unsigned>(c))) occluderCells.push_back(c);
    ASSERT_FALSE(occluderCells.empty()) << "the generated scene has no occluder cell";

    for (long long f = 0; f < frames; ++f) {
        // A wandering camera starts afresh now and then, so that one run covers several neighbourhoods of the grid.
        MoveCamera(*w, rng, jump || f % 250 == 0, occluderCells);
        const std::string where = "seed " + std::to_string(seed) + " frame " + std::to_string(f);
        Audit audit;
        SetCellTestObserver(AuditCell, &audit);
        BeginFrame(*w);
        // Decided before the pass: an object refreshed during the walk may make the viewpoint cell an occluder
        // after the fact.
        const int viewCell = CellIndex(w->iViewCellX, w->iViewCellY, w->iViewCellZ);
        const bool insideOccluder = w->O.Test(static_cast<unsigned>(viewCell));
        RunVisibilityPass(*w);
        SetCellTestObserver(nullptr, nullptr);
        *occluderViews += insideOccluder;
        *cornerViews += w->iViewCellX % 69 == 0 && w->iViewCellY % 69 == 0 && w->iViewCellZ % 69 == 0;
        ASSERT_EQ(audit.outside, 0) << where << ": first offset outside the grid (" << audit.a << ", " << audit.b
                                    << ", " << audit.c << ")";
        // From inside an occluder only the viewpoint cell is handled; otherwise nothing outside the frustum is seen.
        for (int i = 0; i < kObjectCount; ++i)
            ASSERT_TRUE(!w->PVS[i] || (insideOccluder ? w->I[viewCell].contains(i) : w->PVSVF[i]))
                << where << ": " << i;

        ResetGridAndCount(*w, 0);
        AdvanceFrame(*w);
        ASSERT_TRUE(w->H.IsEmpty()) << where;
        ASSERT_TRUE(w->O.Equals(w->Os)) << where;
        ASSERT_TRUE(test::FootprintsAgree(*w)) << where;
        // The full cell sweep costs a few frames' work: every 16th frame and the last; in between, the removal
        // lists of a few objects.
        const bool sweep = f % 16 == 15 || f == frames - 1;
        for (int k = 0; k < (sweep ? 1 : 4); ++k)
            ASSERT_TRUE(CellSetsAgree(*w, sweep ? -1 : rng.Below(kDynamicCount))) << where;
    }
}

TEST(RandomViews, JumpingCameraKeepsEveryInvariant) {
    long long occluderViews = 0, cornerViews = 0;
    RunRandomViews(true, 20240601, 500 * kFrameShare, &occluderViews, &cornerViews);
    // The draw must have reached the degenerate views it is meant to cover.
    if (!HasFatalFailure()) {
        EXPECT_TRUE(occluderViews > 0 && cornerViews > 0) << occluderViews << ", " << cornerViews;
    }
}

TEST(RandomViews, WanderingCameraKeepsEveryInvariant) {
    long long unused[2] = {0, 0};
    RunRandomViews(false, 77031, 1000 * kFrameShare, &unused[0], &unused[1]);
}

}  // namespace
}  // namespace gridcull
