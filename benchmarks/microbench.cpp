// Microbenchmarks of the visibility pass's hot paths, on the generated scene
// seen from the start camera after a few frames (moving objects in their
// usual mix of volumes and cells).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>

#include "grid/Grid.h"
#include "scan/Scan.h"
#include "scene/World.h"
#include "visibility/FaceOcclusion.h"
#include "visibility/Frame.h"

namespace gridcull {
namespace {

World& SceneWorld() {
    static World* world = [] {
        World* w = NewWorld();
        if (!w || !SetupScene(*w, SetupObserver())) std::abort();
        for (int frame = 0; frame < 5; ++frame) RunFrame(*w, 0);
        BeginFrame(*w);
        return w;
    }();
    return *world;
}

// Every cell of shell D (walk point ahead on +z); after the first pass the
// cells' objects are all in PVS and the test runs in its steady state.
void BM_CellTestShell(benchmark::State& state) {
    World& w = SceneWorld();
    const int d = static_cast<int>(state.range(0));
    w.iDist = d;
    long cells = 0;
    for (auto _ : state) {
        for (int c = -d; c <= d; ++c)
            for (int b = -d; b <= d; ++b)
                for (int a = -d; a <= d; ++a) {
                    if (std::max({std::abs(a), std::abs(b), std::abs(c)}) != d) continue;
                    if (!InGrid(w.iViewCellX + a, w.iViewCellY + b, w.iViewCellZ + c)) continue;
                    CellTest(w, a, b, c);
                    ++cells;
                }
        benchmark::DoNotOptimize(w.PVSVF[0]);
    }
    state.counters["cells"] = benchmark::Counter(static_cast<double>(cells), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CellTestShell)->Arg(4)->Arg(12)->Arg(30);

// Outline and propagation of face 0 of shell D: a square occluder of side
// range(1) centred on the face, projected onto every farther shell.
void BM_PropagateFace(benchmark::State& state) {
    World& w = SceneWorld();
    const int d = static_cast<int>(state.range(0)), half = static_cast<int>(state.range(1)) / 2;
    for (auto _ : state) {
        state.PauseTiming();
        w.H.ClearAll();
        w.iDist = d;
        w.iFaceStride = 2 * d + 3;
        std::fill_n(w.FaceMap[0], w.iFaceStride * w.iFaceStride, 0);
        w.iFaceUMin[0] = w.iFaceVMin[0] = 512;
        w.iFaceUMax[0] = w.iFaceVMax[0] = 0;
        for (int b = -half; b <= half; ++b)
            for (int a = -half; a <= half; ++a) MarkOccluderFaces(w, a, b, d);
        w.fFaceUMin = static_cast<float>(w.iFaceUMin[0]);
        w.fFaceUMax = static_cast<float>(w.iFaceUMax[0]);
        w.fFaceVMin = static_cast<float>(w.iFaceVMin[0]);
        w.fFaceVMax = static_cast<float>(w.iFaceVMax[0]);
        w.iFace = 0;
        state.ResumeTiming();
        ExtractFaceOutline(w, w.FaceMap[0], w.iFaceStride);
        kPropagateFace[0](w);
        WriteStagedHidden(w);
        benchmark::DoNotOptimize(w.H.pWords[0]);
    }
}
BENCHMARK(BM_PropagateFace)->Args({2, 3})->Args({8, 9})->Args({20, 17});

// Registration of moving object 0, alternating between two positions
// range(0) cells apart along x: a neighbour step, or a long jump.
void BM_RegisterMovingObject(benchmark::State& state) {
    World& w = SceneWorld();
    SceneObject& o = w.disks[0];
    const float step = static_cast<float>(state.range(0));
    const float x0 = 30.2f;
    o.fPosition[0] = x0;
    o.fPosition[1] = o.fPosition[2] = 30.2f;
    RegisterObject(w, 0, false, false);
    bool far = false;
    for (auto _ : state) {
        far = !far;
        o.fPosition[0] = far ? x0 + step : x0;
        RegisterObject(w, 0, false, false);
        benchmark::DoNotOptimize(o.iCellCount);
    }
}
BENCHMARK(BM_RegisterMovingObject)->Arg(1)->Arg(20);

}  // namespace
}  // namespace gridcull
