#include "visibility/Frame.h"

#include <algorithm>
#include <cstring>

#include "grid/Grid.h"
#include "scan/Scan.h"
#include "scene/Scene.h"
#include "visibility/DrawnSpheres.h"
#include "visibility/Frustum.h"
#include "visibility/Traversal.h"

namespace gridcull {

namespace {

// Leaves the volume state for the cells of the present position.
void RegisterExactly(World& world, int j) {
    RemoveTbv(world, j);
    RegisterObject(world, j, false, false);
    world.disks[j].bInTemporalVolume = 0;
}

// deferRemoval: BeginFrame leaves the entries of an object traded for a
// volume in I, stale, for its next registration to move (DeferCellRemoval).
void Refresh(World& world, int j, bool deferRemoval) {
    SceneObject& o = world.disks[j];
    if (world.PVS[j]) {
        // First frame only: generation leaves every PVS flag set.
        RegisterObject(world, j, false, false);
        return;
    }
    // The viewpoint rule can leave an end frame before the start; such an
    // interval counts as empty, or the next one would be sized from a
    // negative length, shrink on every renewal and end as a volume with a
    // negative half size that is never seen again.
    const int length = std::max(o.iTbvEndFrame - o.iTbvStartFrame, 0);
    const bool strict = world.bStrictCulling;
    if (o.bInTemporalVolume) {
        if (o.iTbvEndFrame > world.iFrame) {
            // Strict: the viewer walked into the volume, whose surface no
            // longer lies between the eye and the object; or the volume was
            // built before strict culling was switched on.
            if (strict && (!o.bStrictVolume || VolumeHoldsEyeCell(world, o))) RegisterExactly(world, j);
            return;
        }
        // Ran out unseen: a volume 30% longer than the last plus one frame.
        if (!RenewTbv(world, j, strict, static_cast<int>((length + 1) * 1.3 + world.iFrame))) {
            o.bInTemporalVolume = 0;
            RegisterObject(world, j, false, false);
        }
        return;
    }
    // Exact state: trade the cells for a volume half as long as the last.
    for (int k = 0; k < 3; ++k) o.fTbvOrigin[k] = o.fPosition[k];
    o.iTbvStartFrame = world.iFrame;
    o.iTbvEndFrame = static_cast<int>(length * 0.5 + world.iFrame);
    if (!strict) {
        InsertTbv(world, j);
    } else if (!InsertStrictTbv(world, j)) {
        // No volume can leave the eye outside: the cells follow the object.
        RegisterObject(world, j, false, false);
        return;
    }
    if (deferRemoval)
        DeferCellRemoval(world, j);
    else
        RegisterObject(world, j, false, true);
    o.bInTemporalVolume = 1;
}

// One flag array at a time. Sixteen byte counters, one per vector lane,
// take blocks of at most 255 rows of sixteen flags each, so they neither
// overflow nor widen inside the loop.
int CountFlagsSet(const unsigned char* flags) {
    constexpr int kBlock = 255 * 16;
    int n = 0;
    for (int start = 0; start < kObjectCount; start += kBlock) {
        const int end = std::min(start + kBlock, kObjectCount);
        unsigned char lanes[16] = {};
        int i = start;
        for (; i + 16 <= end; i += 16)
            for (int l = 0; l < 16; ++l) lanes[l] += flags[i + l] != 0;
        for (int l = 0; l < 16; ++l) n += lanes[l];
        for (; i < end; ++i) n += flags[i] != 0;
    }
    return n;
}

}  // namespace

void RefreshDynamicObject(World& world, int j) { Refresh(world, j, false); }

void BeginFrame(World& world) {
    world.iViewCellX = RoundHalfAway(static_cast<double>(world.fViewX));
    world.iViewCellY = RoundHalfAway(static_cast<double>(world.fViewY));
    world.iViewCellZ = RoundHalfAway(static_cast<double>(world.fViewZ));
    SetupFrustum(world);
    if (world.bStrictCulling) SetupSeeThroughCamera(world);
    std::memset(world.bFaceDone, 0, sizeof world.bFaceDone);
    for (int j = 0; j < kDynamicCount; ++j) Refresh(world, j, true);
}

void RunVisibilityPass(World& world) {
    const int cell = CellIndex(world.iViewCellX, world.iViewCellY, world.iViewCellZ);
    // Strict culling sees through a sphere that holds the eye (its back faces
    // are culled), so it always walks.
    if (!world.bStrictCulling && world.O.Test(static_cast<unsigned>(cell))) {
        // Inside a solid object: only the viewpoint cell's objects can be seen.
        HandleVisibleCell(world, 0, 0, 0);
    } else {
        int end[3];
        for (int k = 0; k < 3; ++k)
            end[k] = static_cast<int>((world.fFarCorner[0][k] + world.fFarCorner[1][k]) * 0.5);
        WalkViewAxis(world, world.iViewCellX, world.iViewCellY, world.iViewCellZ, end[0], end[1], end[2]);
    }
}

FrameCounts ResetGridAndCount(World& world, double fps) {
    world.H.ClearAll();
    world.O.CopyFrom(world.Os);  // overwrites every word: no clear first
    FrameCounts counts;
    counts.iPvs = CountFlagsSet(world.PVS);
    counts.iPvsVf = CountFlagsSet(world.PVSVF);
    if (world.iFrame > 100) {
        world.fFpsSum = static_cast<float>(world.fFpsSum + fps);
        world.iFpsSamples = world.iFpsSamples + 1;
        counts.fFpsAverage = world.fFpsSum / world.iFpsSamples;
    }
    return counts;
}

void AdvanceFrame(World& world) {
    if (world.bObjectMotion)
        for (int j = 0; j < kDynamicCount; ++j) MoveObject(world.disks[j]);
    std::memset(world.PVS, 0, kObjectCount);
    std::memset(world.PVSVF, 0, kObjectCount);
    world.iFrame = world.iFrame + 1;
}

FrameCounts RunFrame(World& world, double fps) {
    BeginFrame(world);
    RunVisibilityPass(world);
    FrameCounts counts = ResetGridAndCount(world, fps);
    AdvanceFrame(world);
    return counts;
}

void StartFpsMeter(FpsMeter& meter, ClockFn clock) {
    meter.iFrameCount = 0;
    meter.iReferenceTime = clock();
}

double UpdateFpsMeter(FpsMeter& meter, ClockFn clock) {
    meter.iFrameCount += 1;
    meter.iCurrentTime = clock();
    const int elapsed = meter.iCurrentTime - meter.iReferenceTime;
    if (elapsed >= 500) {
        meter.fReading = meter.iFrameCount / (elapsed * 0.001);
        meter.iFrameCount = 0;
        meter.iReferenceTime = clock();  // a second, fresh reading of the clock
    }
    return meter.fReading;
}

}  // namespace gridcull
