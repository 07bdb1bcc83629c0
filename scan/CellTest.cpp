#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "grid/Grid.h"
#include "scan/Scan.h"
#include "visibility/DrawnSpheres.h"
#include "visibility/FaceOcclusion.h"

namespace gridcull {

namespace {

CellTestObserver g_observer = nullptr;
void* g_observerContext = nullptr;
long long* g_testCounter = nullptr;

// A cell set iterates in ascending order, so its moving objects, the only
// ones whose entries may be stale, come first.
template <typename Mark>
inline void ForEachHeld(const World& world, const ObjectSet& objects, Mark mark) {
    auto k = objects.begin();
    const auto end = objects.end();
    for (; k != end && *k < kDynamicCount; ++k)
        if (!world.disks[*k].bCellsStale) mark(*k);
    for (; k != end; ++k) mark(*k);
}

// A hidden cell's marks, with the array it writes passed in: a caller's
// local, which its flag stores cannot alias, so a loop over many cells loads
// it once. The set must not be empty. Stale entries are marked as well
// (DropStaleMarks takes them back).
inline void MarkHeld(unsigned char* pvsvf, const ObjectSet& objects) {
    // Counted up to zero from below: one add and branch per entry.
    const int* const data = objects.end().base() + objects.size();
    std::ptrdiff_t i = -static_cast<std::ptrdiff_t>(objects.size());
    do pvsvf[data[i]] = 1;
    while (++i != 0);
}

inline void MarkHeldInFrustum(World& world, const ObjectSet& objects) {
    unsigned char* const pvsvf = world.PVSVF;
    ForEachHeld(world, objects, [pvsvf](int k) { pvsvf[k] = 1; });
}

// HandleVisibleCell with the cell's PVSVF marks taken in the same walk over
// its objects, for grid cell (x, y, z) at index g. Marking before the volume
// refresh loses nothing: a refreshed object lives only in its volume until
// then (its cell entries are gone or stale), and registering it moves its own
// entries only, so every entry held before the refresh is held after it; the
// refreshed objects' new entries get their marks in a second walk.
inline void SeeCell(World& world, int g, int x, int y, int z) {
    const ObjectSet& objects = world.I[g];
    unsigned char* const pvsvf = world.PVSVF;
    const unsigned char* const pvs = world.PVS;
    ForEachHeld(world, objects, [&](int k) {
        pvsvf[k] = 1;
        if (!pvs[k]) MarkSeen(world, k);
    });
    if (RefreshVolumesThrough(world, x, y, z)) MarkHeldInFrustum(world, objects);
}

inline void TestVisibleCell(World& world, int g, int a, int b, int c) {
    // Strict culling keeps O exact for the reset and asks, for the few
    // visible O cells only, whether the image really shows them solid.
    if (world.O.Test(static_cast<unsigned>(g)) &&
        (!world.bStrictCulling ||
         CellHeldSolid(world, g, world.iViewCellX + a, world.iViewCellY + b, world.iViewCellZ + c)))
        MarkOccluderFaces(world, a, b, c);
    else
        world.bShellOccluded = 0;
    SeeCell(world, g, world.iViewCellX + a, world.iViewCellY + b, world.iViewCellZ + c);
}

// Cell (a, b, c) of the current shell, grid index g.
inline void TestShellCell(World& world, int g, int a, int b, int c) {
    if (!world.H.Test(static_cast<unsigned>(g)))
        TestVisibleCell(world, g, a, b, c);
    else if (!world.I[g].empty())
        MarkHeldInFrustum(world, world.I[g]);
}

// The two axes across a run along each axis.
constexpr int kOtherAxes[3][2] = {{1, 2}, {2, 0}, {0, 1}};

// First cell of a clipped run and its direction.
struct RunStart {
    int iCell[3];
    int iAxis, iStep;
};

// The visible cells of a run from cell i (visible, grid index g) up to the
// next hidden one; returns that one's position, or n. Out of line: hidden
// cells are the common case, and visible ones come in stretches, so the
// call is paid once a stretch. TestVisibleCell per cell, with the refresh's
// test inline and the grid position stepped along. One copy per run axis,
// so that the position stays in registers.
template <int kAxis>
[[gnu::noinline]] int SeeVisibleStretch(World& world, const RunStart& run, int g, int gStep, int i, int n) {
    const int view[3] = {world.iViewCellX, world.iViewCellY, world.iViewCellZ};
    int at[3] = {view[0] + run.iCell[0], view[1] + run.iCell[1], view[2] + run.iCell[2]};
    int& along = at[kAxis];
    const int step = run.iStep;
    along += i * step;
    const BitSet hidden = world.H, occluders = world.O;
    const bool strict = world.bStrictCulling;
    const ObjectSet* const cells = world.I;
    unsigned char* const pvsvf = world.PVSVF;
    const unsigned char* const pvs = world.PVS;
    do {
        if (occluders.Test(static_cast<unsigned>(g)) && (!strict || CellHeldSolid(world, g, at[0], at[1], at[2])))
            MarkOccluderFaces(world, at[0] - view[0], at[1] - view[1], at[2] - view[2]);
        else
            world.bShellOccluded = 0;
        // SeeCell, its stale entries marked in PVSVF as a hidden cell's are
        // (dropped later); only an object not yet in PVS is asked for one.
        const ObjectSet& objects = cells[g];
        for (const int k : objects) {
            pvsvf[k] = 1;
            if (!pvs[k] && HeldEntry(world, k)) MarkSeen(world, k);
        }
        if (MeetsVolumeSurface(world, at[0], at[1], at[2]) && RefreshSurfaceObjects(world, at[0], at[1], at[2]))
            MarkHeldInFrustum(world, objects);
        along += step;
        g += gStep;
    } while (++i < n && !hidden.Test(static_cast<unsigned>(g)));
    return i;
}

}  // namespace

void SeeFrustumCell(World& world, int a, int b, int c) {
    const int x = world.iViewCellX + a, y = world.iViewCellY + b, z = world.iViewCellZ + c;
    SeeCell(world, CellIndex(x, y, z), x, y, z);
}

void DropStaleMarks(World& world, int j) {
    if (world.disks[j].bCellsStale) world.PVSVF[j] = 0;
}

void DropStaleMarks(World& world) {
    for (int j = 0; j < kDynamicCount; ++j) DropStaleMarks(world, j);
}

void SetCellTestObserver(CellTestObserver observer, void* context) {
    g_observer = observer;
    g_observerContext = context;
}

void SetCellTestCounter(long long* counter) { g_testCounter = counter; }

void CellTest(World& world, int a, int b, int c) {
    if (g_observer) g_observer(world, a, b, c, g_observerContext);
    if (g_testCounter) ++*g_testCounter;

    // Scans may run past the shell's edge; cells beyond it belong to a later
    // shell and are left untouched, not even counted for PVSVF.
    const int d = world.iDist;
    if (std::abs(a) > d || std::abs(b) > d || std::abs(c) > d) return;
    TestShellCell(world, CellIndex(world.iViewCellX + a, world.iViewCellY + b, world.iViewCellZ + c), a, b, c);
}

namespace {

// A run under an observer: every cell through CellTest, so the observer sees
// each one.
[[gnu::noinline]] void ObservedRun(World& world, const int from[3], int axis, int step, int count) {
    int cell[3] = {from[0], from[1], from[2]};
    for (int i = 0; i < count; ++i, cell[axis] += step) CellTest(world, cell[0], cell[1], cell[2]);
}

}  // namespace

void CellTestRun(World& world, const int from[3], int axis, int step, int count) {
    if (count <= 0) return;
    if (g_observer) {
        ObservedRun(world, from, axis, step, count);
        return;
    }
    if (g_testCounter) *g_testCounter += count;

    // The run is a straight line, so the cells inside the shell's cube are
    // one stretch of it: clip once instead of testing every cell.
    const int d = world.iDist;
    if (std::abs(from[kOtherAxes[axis][0]]) > d || std::abs(from[kOtherAxes[axis][1]]) > d) return;
    int first = from[axis], last = first + step * (count - 1);
    if (step < 0) std::swap(first, last);
    const int lo = std::max(first, -d), hi = std::min(last, d);
    if (lo > hi) return;

    RunStart run = {{from[0], from[1], from[2]}, axis, step};
    run.iCell[axis] = step > 0 ? lo : hi;
    int g = CellIndex(world.iViewCellX + run.iCell[0], world.iViewCellY + run.iCell[1],
                      world.iViewCellZ + run.iCell[2]);
    const int gStep = step * kAxisStride[axis];
    // Hidden cells are the common case: their loop stays small, the visible
    // ones go out of line. Local copies: the flag stores may alias any field
    // of world, locals they cannot.
    const BitSet hidden = world.H;
    const ObjectSet* const cells = world.I;
    unsigned char* const pvsvf = world.PVSVF;
    // The hidden loop counts in grid indices; a stretch's position along the
    // run is formed only when one starts.
    // The cell's set is stepped beside its index.
    const int g0 = g, n = hi - lo + 1, end = g + n * gStep;
    const ObjectSet* set = cells + g;
    while (g != end) {
        if (!hidden.Test(static_cast<unsigned>(g))) {
            const int i = (g - g0) / gStep;
            const int stop = axis == 0   ? SeeVisibleStretch<0>(world, run, g, gStep, i, n)
                             : axis == 1 ? SeeVisibleStretch<1>(world, run, g, gStep, i, n)
                                         : SeeVisibleStretch<2>(world, run, g, gStep, i, n);
            g = g0 + stop * gStep;
            set = cells + g;
            continue;
        }
        if (!set->empty()) MarkHeld(pvsvf, *set);
        g += gStep;
        set += gStep;
    }
}

}  // namespace gridcull
