// Thousands of frames of the generated scene from random camera states,
// checked against invariants that hold whatever the camera does. The runs are
// seeded; a failure names the seed and the frame, and
// GRIDCULL_RANDOM_VIEWS_SEED / GRIDCULL_RANDOM_VIEWS_FRAMES replay or lengthen
// a run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "TestWorld.h"
#include "grid/Grid.h"
#include "scan/Scan.h"
#include "scene/Camera.h"
#include "visibility/Frame.h"

using namespace gridcull;

namespace {

// Unoptimised and sanitizer builds test a cell many times slower; they
// run fewer frames so that the suite stays within CI's budget.
#if defined(__SANITIZE_ADDRESS__) || !defined(NDEBUG)
constexpr bool kSlowBuild = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSlowBuild = true;
#else
constexpr bool kSlowBuild = false;
#endif
#else
constexpr bool kSlowBuild = false;
#endif

// SplitMix64: the same sequence on every platform, unlike <random>'s
// distributions.
struct Rng {
    std::uint64_t state;
    std::uint64_t Next() {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int Below(int n) { return static_cast<int>(Next() % static_cast<std::uint64_t>(n)); }
    bool Chance(int percent) { return Below(100) < percent; }
};

std::uint64_t EnvOr(const char* name, std::uint64_t fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::strtoull(v, nullptr, 0) : fallback;
}

// What the scans handed to CellTest during one frame.
struct CellAudit {
    long long calls = 0;
    long long outsideGrid = 0;
    long long beyondShell = 0;  // farther out than the shell being scanned
    long long insideShell = 0;  // a shell already done
    int maxOvershoot = 0;       // shells beyond the current one
    int badA = 0, badB = 0, badC = 0;
};

void AuditCell(World& w, int a, int b, int c, void* context) {
    auto& audit = *static_cast<CellAudit*>(context);
    ++audit.calls;
    if (!InGrid(w.iViewCellX + a, w.iViewCellY + b, w.iViewCellZ + c)) {
        if (audit.outsideGrid++ == 0) audit.badA = a, audit.badB = b, audit.badC = c;
    }
    const int shell = std::max({std::abs(a), std::abs(b), std::abs(c)});
    audit.beyondShell += shell > w.iDist;
    audit.maxOvershoot = std::max(audit.maxOvershoot, shell - w.iDist);
    audit.insideShell += shell < w.iDist;
}

struct AuditScope {
    explicit AuditScope(CellAudit& audit) { SetCellTestObserver(AuditCell, &audit); }
    ~AuditScope() { SetCellTestObserver(nullptr, nullptr); }
};

int CellOf(const float* p) { return CellIndex(static_cast<int>(p[0]), static_cast<int>(p[1]), static_cast<int>(p[2])); }

// Column sets and footprint bitsets agree for every dynamic object: j is in
// a plane's column set exactly where its bit is set. Returns "" or the first
// disagreement. Sweeps the 14700 column sets once.
std::string CheckFootprints(const World& w, const unsigned char* inTbv) {
    const BitSet* bits[3] = {w.Txy, w.Tyz, w.Txz};
    const ObjectSet* sets[3] = {w.TxyN, w.TyzN, w.TxzN};
    const char* names[3] = {"xy", "yz", "xz"};
    for (int p = 0; p < 3; ++p) {
        int entries[kDynamicCount] = {};
        for (int col = 0; col < kColumnCount; ++col)
            for (int j : sets[p][col]) {
                if (j < 0 || j >= kDynamicCount)
                    return std::string(names[p]) + " column " + std::to_string(col) + " holds object " +
                           std::to_string(j);
                if (!bits[p][j].Test(static_cast<unsigned>(col)))
                    return "object " + std::to_string(j) + " in " + names[p] + " column " + std::to_string(col) +
                           " without its bit";
                ++entries[j];
            }
        for (int j = 0; j < kDynamicCount; ++j) {
            const int set = bits[p][j].Count();
            if (set != entries[j])
                return "object " + std::to_string(j) + ": " + std::to_string(set) + " " + names[p] + " bits but " +
                       std::to_string(entries[j]) + " column entries";
            if (!inTbv[j] && set)
                return "object " + std::to_string(j) + " registered exactly keeps " + names[p] + " outline bits";
        }
    }
    return "";
}

// Object j, registered exactly, is in every cell of its removal list.
std::string CheckRecordedCells(const World& w, int j) {
    const SceneObject& o = w.disks[j];
    for (int k = 0; k < o.iCellCount; ++k) {
        const int x = static_cast<int>(o.fCells[k][0]), y = static_cast<int>(o.fCells[k][1]),
                  z = static_cast<int>(o.fCells[k][2]);
        if (!InGrid(x, y, z)) return "object " + std::to_string(j) + " lists a cell outside the grid";
        if (!w.I[CellIndex(x, y, z)].contains(j))
            return "object " + std::to_string(j) + " missing from listed cell " + std::to_string(CellIndex(x, y, z));
    }
    return "";
}

// Every dynamic object is in I at exactly the cells of its removal list when
// exact, and in no cell when it has a volume. Sweeps all 343000 cell sets.
std::string CheckCellSets(const World& w) {
    std::vector<int> cellsHeld(kDynamicCount, 0);
    for (int c = 0; c < kCellCount; ++c)
        for (int j : w.I[c]) {
            if (j >= kDynamicCount) break;  // ascending: the rest are static
            ++cellsHeld[j];
        }
    std::vector<int> listed;
    for (int j = 0; j < kDynamicCount; ++j) {
        const SceneObject& o = w.disks[j];
        int expected = 0;
        if (!o.bInTemporalVolume) {
            const std::string missing = CheckRecordedCells(w, j);
            if (!missing.empty()) return missing;
            listed.clear();
            for (int k = 0; k < o.iCellCount; ++k) listed.push_back(CellOf(o.fCells[k]));
            std::sort(listed.begin(), listed.end());
            expected = static_cast<int>(std::unique(listed.begin(), listed.end()) - listed.begin());
        }
        if (cellsHeld[j] != expected)
            return "object " + std::to_string(j) + (o.bInTemporalVolume ? " (volume)" : " (exact)") + " is in " +
                   std::to_string(cellsHeld[j]) + " cells, expected " + std::to_string(expected);
    }
    return "";
}

enum class CameraMode {
    kJump,    // a fresh random state every frame
    kWander,  // a few random keys per frame, as a user would drive it
};

struct RunStats {
    long long frames = 0, occluderViews = 0, cornerViews = 0, cellTests = 0, beyondShell = 0, insideShell = 0;
    long long maxCellTests = 0;
    int maxOvershoot = 0;
};

int PickCoordinate(Rng& rng) {
    static const int kBorder[] = {0, 1, 68, 69};
    return rng.Chance(35) ? kBorder[rng.Below(4)] : rng.Below(kGridSize);
}

int PickAngle(Rng& rng) { return rng.Chance(25) ? 45 * rng.Below(8) : rng.Below(360); }

int PickFov(Rng& rng) {
    static const int kExtreme[] = {2, 3, 178, 179};
    return rng.Chance(20) ? kExtreme[rng.Below(4)] : 2 + rng.Below(178);
}

void JumpCamera(World& w, Rng& rng, const std::vector<int>& occluderCells) {
    if (rng.Chance(8)) {
        const int cell = occluderCells[static_cast<std::size_t>(rng.Below(static_cast<int>(occluderCells.size())))];
        w.fViewX = static_cast<float>(cell % kGridSize);
        w.fViewY = static_cast<float>(cell / kGridSize % kGridSize);
        w.fViewZ = static_cast<float>(cell / kColumnCount);
    } else {
        w.fViewX = static_cast<float>(PickCoordinate(rng));
        w.fViewY = static_cast<float>(PickCoordinate(rng));
        w.fViewZ = static_cast<float>(PickCoordinate(rng));
    }
    w.fRoll = static_cast<float>(PickAngle(rng));
    w.fYaw = static_cast<float>(PickAngle(rng));
    w.fPitch = static_cast<float>(PickAngle(rng));
    w.fFov = static_cast<float>(PickFov(rng));
    if (rng.Chance(10)) ApplyKey(w, 't');
    if (rng.Chance(10)) ApplyKey(w, '4');
    RebuildViewMatrix(w);
}

void WanderCamera(World& w, Rng& rng) {
    // Movement and turning keys weighted over toggles; long runs of the same
    // key reach the grid's faces and the field of view's limits.
    static const char kKeys[] = "xXyYzZ1256789022222111115678905678904t";
    const int presses = 1 + rng.Below(6);
    const char key = kKeys[rng.Below(static_cast<int>(sizeof kKeys) - 1)];
    for (int k = 0; k < presses; ++k) ApplyKey(w, static_cast<unsigned char>(key));
}

std::string Describe(const World& w, std::uint64_t seed, long long frame) {
    std::ostringstream s;
    s << "seed " << seed << " frame " << frame << ": view (" << w.fViewX << ", " << w.fViewY << ", " << w.fViewZ
      << ") roll " << w.fRoll << " yaw " << w.fYaw << " pitch " << w.fPitch << " fov " << w.fFov << " fusion "
      << int(w.bOccluderFusion) << " motion " << int(w.bObjectMotion);
    return s.str();
}

// Fatal failures end the run; stats holds what was covered up to then.
void RunRandomViews(CameraMode mode, std::uint64_t defaultSeed, long long defaultFrames, RunStats& stats) {
    const std::uint64_t seed = EnvOr("GRIDCULL_RANDOM_VIEWS_SEED", defaultSeed);
    const long long frames = static_cast<long long>(EnvOr("GRIDCULL_RANDOM_VIEWS_FRAMES", defaultFrames));
    Rng rng{seed};

    auto w = test::MakeSceneWorld();
    std::vector<int> occluderCells;
    for (int c = 0; c < kCellCount; ++c)
        if (w->Os.Test(static_cast<unsigned>(c))) occluderCells.push_back(c);
    if (occluderCells.empty()) {
        ADD_FAILURE() << "the generated scene has no occluder cell";
        return;
    }

    unsigned char inTbv[kDynamicCount];
    for (long long f = 0; f < frames; ++f) {
        // A wandering camera starts afresh now and then, so that one run
        // covers several neighbourhoods of the grid.
        if (mode == CameraMode::kJump || f % 250 == 0)
            JumpCamera(*w, rng, occluderCells);
        else
            WanderCamera(*w, rng);
        const std::string where = Describe(*w, seed, f);

        CellAudit audit;
        AuditScope scope(audit);
        BeginFrame(*w);
        // Decided before the pass: an object refreshed during the walk may
        // make the viewpoint cell an occluder after the fact.
        const int viewCell = CellIndex(w->iViewCellX, w->iViewCellY, w->iViewCellZ);
        const bool insideOccluder = w->O.Test(static_cast<unsigned>(viewCell));
        RunVisibilityPass(*w);
        stats.occluderViews += insideOccluder;
        stats.cornerViews += (w->iViewCellX % 69 == 0) && (w->iViewCellY % 69 == 0) && (w->iViewCellZ % 69 == 0);
        stats.cellTests += audit.calls;
        stats.maxCellTests = std::max(stats.maxCellTests, audit.calls);
        stats.beyondShell += audit.beyondShell;
        stats.insideShell += audit.insideShell;
        stats.maxOvershoot = std::max(stats.maxOvershoot, audit.maxOvershoot);

        ASSERT_EQ(audit.outsideGrid, 0) << where << ": first offset outside the grid (" << audit.badA << ", "
                                        << audit.badB << ", " << audit.badC << ")";
        for (int i = 0; i < kObjectCount; ++i) {
            if (!w->PVS[i]) continue;
            if (insideOccluder) {
                // Only the viewpoint cell was handled.
                ASSERT_TRUE(w->I[viewCell].contains(i)) << where << ": object " << i << " seen from inside";
            } else {
                ASSERT_TRUE(w->PVSVF[i]) << where << ": object " << i << " potentially visible outside the frustum";
            }
        }

        ResetGridAndCount(*w, 0);
        AdvanceFrame(*w);
        ASSERT_TRUE(w->H.IsEmpty()) << where;
        ASSERT_TRUE(w->O.Equals(w->Os)) << where;

        for (int j = 0; j < kDynamicCount; ++j) inTbv[j] = w->disks[j].bInTemporalVolume;
        const std::string footprints = CheckFootprints(*w, inTbv);
        ASSERT_EQ(footprints, "") << where;
        // The full cell sweep costs a few frames' work: every 16th frame and
        // the last; in between, the removal lists of a few objects.
        if (f % 16 == 15 || f == frames - 1) {
            const std::string cells = CheckCellSets(*w);
            ASSERT_EQ(cells, "") << where;
        } else {
            for (int k = 0; k < 4; ++k) {
                const int j = rng.Below(kDynamicCount);
                if (!inTbv[j]) {
                    ASSERT_EQ(CheckRecordedCells(*w, j), "") << where;
                }
            }
        }
        ++stats.frames;
    }
}

void Report(const RunStats& s) {
    std::printf(
        "%lld frames, %lld from inside an occluder, %lld at a grid corner; %lld cell tests (at most %lld in a "
        "frame), %lld beyond the shell scanned (by up to %d), %lld in an inner shell\n",
        s.frames, s.occluderViews, s.cornerViews, s.cellTests, s.maxCellTests, s.beyondShell, s.maxOvershoot,
        s.insideShell);
}

}  // namespace

TEST(RandomViews, JumpingCameraKeepsEveryInvariant) {
    RunStats stats;
    RunRandomViews(CameraMode::kJump, 20240601, kSlowBuild ? 500 : 1500, stats);
    Report(stats);
    if (HasFatalFailure()) return;
    // The draw must have reached the degenerate views it is meant to cover.
    EXPECT_GT(stats.occluderViews, 0);
    EXPECT_GT(stats.cornerViews, 0);
}

TEST(RandomViews, WanderingCameraKeepsEveryInvariant) {
    RunStats stats;
    RunRandomViews(CameraMode::kWander, 77031, kSlowBuild ? 1000 : 3000, stats);
    Report(stats);
}
