// Set-up of the world: allocation with its progress dots and failure
// reports.
#include "scene/Scene.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "TestWorld.h"
#include "grid/Grid.h"

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

// Each allocation of the sequence, failed alone, reports its own message once
// after the dots of the steps before it, and leaves nothing half-built that
// DeleteWorld could not free.
TEST(Setup, EveryAllocationFailureIsReportedOnce) {
    EXPECT_EQ(AllocateFailingAt(0).dots, 13);
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

}  // namespace
}  // namespace gridcull
