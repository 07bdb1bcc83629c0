// Set-up of the world: allocation with its progress dots and failure
// reports, the generated scene, and object motion.
#include "scene/Scene.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "TestWorld.h"
#include "grid/Grid.h"
#include "scene/Random.h"

namespace gridcull {
namespace {

struct Report {
    int dots = 0, dotsAtFailure = -1;
    std::string failure;
};

SetupObserver Observe(Report& r) {
    SetupObserver o;
    o.pContext = &r;
    o.pfnProgress = [](void* c) { ++static_cast<Report*>(c)->dots; };
    o.pfnFailure = [](void* c, const char* m) {
        auto* r = static_cast<Report*>(c);
        r->failure += m, r->dotsAtFailure = r->dots;
    };
    return o;
}

// The allocation to fail, by position in the set-up's sequence (1-based);
// 0 fails nothing. Every allocation is recorded by name and index.
struct Allocation {
    std::string name;
    int index;
};
int gFailAt = 0, gCalls = 0;
std::vector<Allocation> gSeen;

void* FailingAllocate(std::size_t bytes, const char* name, int index) {
    gSeen.push_back({name, index});
    return ++gCalls == gFailAt ? nullptr : std::malloc(bytes);
}

// Runs the allocations with the given failure; the partial world is freed.
// One record serves every run: constructing it again forgets the arrays.
Report AllocateFailingAt(int failAt) {
    static World* record = NewWorld();
    gFailAt = failAt, gCalls = 0;
    gSeen.clear();
    SetAllocateHook(FailingAllocate);
    Report r;
    ConstructWorld(*record);
    EXPECT_EQ(AllocateWorldArrays(*record, Observe(r)), failAt == 0);
    DestroyWorld(*record);
    SetAllocateHook(nullptr);
    return r;
}

TEST(Setup, CompleteRunPrintsThirteenDotsAndResetsTheGrid) {
    Report r;
    test::WorldPtr w(NewWorld());
    ASSERT_TRUE(SetupScene(*w, Observe(r)));
    EXPECT_TRUE(r.dots == 13 && r.failure.empty());
    EXPECT_TRUE(w->H.IsEmpty() && w->O.Equals(w->Os) && !w->Os.IsEmpty());
    for (int i = 0; i < kObjectCount; ++i) ASSERT_TRUE(w->PVS[i] == 1 && w->PVSVF[i] == 1) << i;
    EXPECT_TRUE(w->Trackball.iBallWidth == 600 && w->Trackball.iBallHeight == 300);
    EXPECT_TRUE(w->fViewX == 35 && w->fFov == 55);
    EXPECT_NEAR(w->fFarDist, 121.24355f, 1e-4);
}

// Each allocation of the sequence, failed alone, reports its own message once
// after the dots of the steps before it, and leaves nothing half-built that
// DeleteWorld could not free.
TEST(Setup, EveryAllocationFailureIsReportedOnce) {
    AllocateFailingAt(0);
    const std::vector<Allocation> sequence = gSeen;
    ASSERT_EQ(sequence.size(), 3u + 3u + 6u + 3u + 600u + 3u + 1u + 1u);
    int expectedDots = 0;
    for (size_t k = 0; k < sequence.size(); ++k) {
        const Allocation& a = sequence[k];
        Report r = AllocateFailingAt(static_cast<int>(k) + 1);
        std::string expected = "Not enough memory for " + a.name;
        if (a.name == "disks")
            expected = "Not enough memory to disks";  // "to", not "for"
        else if (a.index >= 0)
            expected += "[" + std::to_string(a.index) + "]";
        ASSERT_EQ(r.failure, expected + ".\n") << "allocation " << k + 1;
        // Dots come after each flag array, read-back plane and cell bitset,
        // after all face maps, all footprints, all column sets and I.
        if (k > 0) {
            const std::string& prev = sequence[k - 1].name;
            expectedDots += prev == "PVS" || prev == "PVSVF" || prev == "PVSEXACT" || prev.rfind("ucRead", 0) == 0 ||
                            prev == "H" || prev == "O" || prev == "Os" || prev == "TxzN" || prev == "I" ||
                            (prev == "FaceMap" && a.name != "FaceMap") ||
                            (prev == "Txz" && sequence[k - 1].index == kDynamicCount - 1);
        }
        ASSERT_EQ(r.dotsAtFailure, expectedDots) << a.name << " " << a.index;
    }
}

using Scene = test::GeneratedScene;

TEST_F(Scene, FirstObjectHasItsKnownFields) {
    const SceneObject& o = scene().disks[0];
    const float got[] = {o.fRadius,           o.fBoundRadius,      o.fVelocity[0],      o.fVelocity[1],
                         o.fVelocity[2],      o.fPosition[0],      o.fPosition[1],      o.fPosition[2],
                         o.fAngle[0],         o.fAngle[1],         o.fAngle[2],         o.fAngularVelocity[0],
                         o.fAngularVelocity[1], o.fAngularVelocity[2], o.fColor[0],      o.fColor[3]};
    const float want[] = {4.9f, 4.9f, 0.0611111f, 0.0071429f, 1.95f, 12.187567f, 60.126041f, 58.4851f,
                          131,  241,  267,        -2,         3,     0,          0.4f,       1};
    for (size_t k = 0; k < std::size(want); ++k) EXPECT_NEAR(got[k], want[k], 1e-5) << "field " << k;
    EXPECT_TRUE(o.iTbvStartFrame == 0 && o.iTbvEndFrame == 36);
    EXPECT_EQ(o.iCellCount, 0);  // moving objects wait for the first frame
}

TEST_F(Scene, ObjectsFollowTheirDrawRanges) {
    for (int i = 0; i < kObjectCount; ++i) {
        const SceneObject& o = scene().disks[i];
        ASSERT_EQ(o.ucIdColor[0] * 65536 + o.ucIdColor[1] * 256 + o.ucIdColor[2], i);
        ASSERT_TRUE(o.fPosition[2] >= 8.75f - 1e-4f && o.fPosition[2] <= 78.75f + 1e-4f) << i;
        ASSERT_TRUE(o.iTbvEndFrame - o.iTbvStartFrame >= 5 && o.iTbvEndFrame - o.iTbvStartFrame <= 44) << i;
        if (i < kDynamicCount) {
            ASSERT_TRUE(o.fRadius >= 4.05f && o.fRadius <= 6.31f) << i;
            continue;
        }
        ASSERT_TRUE(o.fVelocity[0] == 0 && o.fRadius >= 0.825f && o.fRadius <= 7.0f) << i;
        // Static objects are registered at once, unless wholly outside the grid.
        bool outside = false;
        for (int k = 0; k < 3; ++k) outside |= o.fPosition[k] - o.fBoundRadius >= 69.5f;
        EXPECT_EQ(o.iCellCount == 0, outside) << i;
    }
}

// A draw too many or too few shifts every later object: the last object's
// fields pin the whole sequence of 95400 draws.
TEST_F(Scene, LastObjectMatchesAnIndependentReplayOfTheDraws) {
    std::uint32_t state = kRandomSeed;
    for (int k = 0; k < 200 * 21 + 4799 * 19; ++k) NextRandom(state);
    const int v = NextRandom(state) % 50 + 1;
    for (int k = 0; k < 7; ++k) NextRandom(state);
    const float x = static_cast<float>(NextRandom(state) * (1.0f / 32767.0f)) * 70;
    EXPECT_FLOAT_EQ(scene().disks[4999].fRadius, static_cast<float>((4.5 / v + 0.5) * 70 * 0.02));
    EXPECT_EQ(scene().disks[4999].fPosition[0], x);
}

// Along z, limit 70 - R - 3: beyond it the velocity reverses each step;
// a zero velocity stays.
TEST_F(Scene, MoveObjectBouncesOffItsUpperLimit) {
    SceneObject first = scene().disks[0], beyond = first;
    beyond.fBoundRadius = 4, beyond.fPosition[2] = 75, beyond.fVelocity[2] = 1, beyond.fVelocity[0] = 0;
    const struct {
        SceneObject* o;
        float zs[3], vzs[3];
    } cases[] = {{&first, {60.4351f, 62.3851f, 60.4351f}, {1.95f, -1.95f, -1.95f}},  // past 62.1 at the second step
                 {&beyond, {76, 75, 76}, {-1, 1, -1}}};                            // above 63 from the start
    for (const auto& c : cases)
        for (int k = 0; k < 3; ++k) {
            MoveObject(*c.o);
            EXPECT_NEAR(c.o->fPosition[2], c.zs[k], 1e-4) << c.o->fBoundRadius << " step " << k;
            EXPECT_EQ(c.o->fVelocity[2], c.vzs[k]) << c.o->fBoundRadius << " step " << k;
        }
    EXPECT_TRUE(beyond.fVelocity[0] == 0 && beyond.fPosition[0] == scene().disks[0].fPosition[0]);
}

}  // namespace
}  // namespace gridcull
