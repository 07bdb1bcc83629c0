#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "TestWorld.h"
#include "scene/World.h"

using namespace gridcull;

namespace {

struct Report {
    int dots = 0;
    std::string failure;
    int dotsAtFailure = -1;
};

SetupObserver Observe(Report& r) {
    SetupObserver o;
    o.pContext = &r;
    o.pfnProgress = [](void* c) { ++static_cast<Report*>(c)->dots; };
    o.pfnFailure = [](void* c, const char* m) {
        auto* r = static_cast<Report*>(c);
        r->failure += m;
        r->dotsAtFailure = r->dots;
    };
    return o;
}

// The allocation to fail, by position in the set-up's sequence (1-based);
// 0 fails nothing. Every allocation is recorded by name and index.
struct Allocation {
    std::string name;
    int index;
};
int gFailAt = 0;
int gCalls = 0;
std::vector<Allocation> gSeen;

void* FailingAllocate(std::size_t bytes, const char* name, int index) {
    ++gCalls;
    gSeen.push_back({name, index});
    return gCalls == gFailAt ? nullptr : std::malloc(bytes);
}

struct HookGuard {
    explicit HookGuard(int failAt) {
        gFailAt = failAt;
        gCalls = 0;
        gSeen.clear();
        SetAllocateHook(FailingAllocate);
    }
    ~HookGuard() { SetAllocateHook(nullptr); }
};

// Runs the allocations with the given failure; the partial world is freed.
// One record serves every run: constructing it again forgets the arrays.
Report AllocateFailingAt(int failAt) {
    static World* record = NewWorld();
    HookGuard guard(failAt);
    Report r;
    ConstructWorld(*record);
    bool ok = AllocateWorldArrays(*record, Observe(r));
    EXPECT_EQ(ok, failAt == 0);
    DestroyWorld(*record);
    return r;
}

int PositionOf(const std::string& name, int index) {
    AllocateFailingAt(0);
    for (size_t k = 0; k < gSeen.size(); ++k)
        if (gSeen[k].name == name && gSeen[k].index == index) return static_cast<int>(k) + 1;
    return -1;
}

}  // namespace

TEST(Setup, CompleteRunPrintsThirteenDotsAndResetsTheGrid) {
    Report r;
    test::WorldPtr w(NewWorld());
    ASSERT_TRUE(SetupScene(*w, Observe(r)));
    EXPECT_EQ(r.dots, 13);
    EXPECT_TRUE(r.failure.empty());
    EXPECT_TRUE(w->H.IsEmpty());
    EXPECT_TRUE(w->O.Equals(w->Os));
    EXPECT_FALSE(w->Os.IsEmpty());
    for (int i = 0; i < kObjectCount; ++i) {
        ASSERT_EQ(w->PVS[i], 1);
        ASSERT_EQ(w->PVSVF[i], 1);
    }
    EXPECT_EQ(w->iGridSize, 70);
    EXPECT_EQ(w->Trackball.iBallWidth, 600);
    EXPECT_EQ(w->Trackball.iBallHeight, 300);
    EXPECT_FLOAT_EQ(w->fViewX, 35);
    EXPECT_FLOAT_EQ(w->fFov, 55);
    EXPECT_NEAR(w->fFarDist, 121.24355f, 1e-4);
}

TEST(Setup, FailedFootprintEntryAndObjectArrayReportAfterTheirDots) {
    Report tyz = AllocateFailingAt(PositionOf("Tyz", 37));
    EXPECT_EQ(tyz.failure, "Not enough memory for Tyz[37].\n");
    EXPECT_EQ(tyz.dotsAtFailure, 10);
    Report disks = AllocateFailingAt(PositionOf("disks", -1));
    EXPECT_EQ(disks.failure, "Not enough memory to disks.\n");  // "to", not "for"
    EXPECT_EQ(disks.dotsAtFailure, 13);
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
        std::string expected;
        if (a.name == "disks")
            expected = "Not enough memory to disks.\n";
        else if (a.index >= 0)
            expected = "Not enough memory for " + a.name + "[" + std::to_string(a.index) + "].\n";
        else
            expected = "Not enough memory for " + a.name + ".\n";
        ASSERT_EQ(r.failure, expected) << "allocation " << k + 1;
        // Dots come after each flag array, read-back plane and cell bitset,
        // after all face maps, all footprints, all column sets and I.
        if (k == 0)
            expectedDots = 0;
        else {
            const std::string& prev = sequence[k - 1].name;
            bool groupEnd = prev == "PVS" || prev == "PVSVF" || prev == "PVSEXACT" || prev.rfind("ucRead", 0) == 0 ||
                            prev == "H" || prev == "O" || prev == "Os" || prev == "TxzN" || prev == "I" ||
                            (prev == "FaceMap" && a.name != "FaceMap") ||
                            (prev == "Txz" && sequence[k - 1].index == kDynamicCount - 1);
            if (groupEnd) ++expectedDots;
        }
        ASSERT_EQ(r.dotsAtFailure, expectedDots) << a.name << " " << a.index;
    }
}
