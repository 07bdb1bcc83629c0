// The GL-free part of one frame, shared by the demo's frame driver and the
// headless runner so both compute the same sets for the same input.
#pragma once

#include "../scene/World.h"

namespace gridcull {

struct FrameCounts {
    int iPvs = 0;    // objects found potentially visible
    int iPvsVf = 0;  // objects in frustum cells of the shells walked
    double fFpsAverage = 0;  // average of the readings after frame 100; 0 before
};

// Frame start: viewpoint cell, frustum, bFaceDone cleared, moving objects
// brought up to date (registered, or given a temporal bounding volume).
void BeginFrame(World& world);
// Refresh of dynamic object j alone, as BeginFrame does it, except that an
// object traded for a volume leaves its cells at once, not at the pass end.
void RefreshDynamicObject(World& world, int j);

// The visibility pass: the viewpoint cell alone when it is an occluder cell,
// else the shell walk toward the far point. Fills PVS and PVSVF.
void RunVisibilityPass(World& world);

// End-of-traversal bookkeeping: H cleared, O reset to Os, PVS and PVSVF
// counted, the fps reading added to the average after frame 100.
FrameCounts ResetGridAndCount(World& world, double fps);

// Moves the dynamic objects (when motion is on), clears PVS and PVSVF and
// advances iFrame.
void AdvanceFrame(World& world);

// All of the above in order, for runs without a window.
FrameCounts RunFrame(World& world, double fps);

// Frames-per-second meter: a reading per window of at least 500 ms.
struct FpsMeter {
    int iFrameCount = 0;
    int iReferenceTime = 0;
    int iCurrentTime = 0;
    double fReading = 0;
};
using ClockFn = int (*)();  // elapsed milliseconds
void StartFpsMeter(FpsMeter& meter, ClockFn clock);
double UpdateFpsMeter(FpsMeter& meter, ClockFn clock);

}  // namespace gridcull
