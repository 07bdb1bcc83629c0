#include <algorithm>
#include <cstdlib>

#include "grid/Grid.h"
#include "scan/Scan.h"
#include "visibility/DrawnSpheres.h"
#include "visibility/FaceOcclusion.h"

namespace gridcull {

namespace {

CellTestObserver g_observer = nullptr;
void* g_observerContext = nullptr;
long long* g_testCounter = nullptr;

// Cell index step for one cell along x, y, z.
constexpr int kCellStep[3] = {1, kGridSize, kColumnCount};

inline void TestVisibleCell(World& world, int g, int a, int b, int c) {
    // Strict culling keeps O exact for the reset and asks, for the few
    // visible O cells only, whether the image really shows them solid.
    if (world.O.Test(static_cast<unsigned>(g)) &&
        (!world.bStrictCulling ||
         CellHeldSolid(world, g, world.iViewCellX + a, world.iViewCellY + b, world.iViewCellZ + c)))
        MarkOccluderFaces(world, a, b, c);
    else
        world.bShellOccluded = 0;
    HandleVisibleCell(world, a, b, c);
}

// Cell (a, b, c) of the current shell, grid index g.
inline void TestShellCell(World& world, int g, int a, int b, int c) {
    if (!world.H.Test(static_cast<unsigned>(g))) TestVisibleCell(world, g, a, b, c);
    // Read after HandleVisibleCell: objects it has just registered here count.
    const ObjectSet& objects = world.I[g];
    if (objects.empty()) return;
    for (int k : objects)
        if (HeldEntry(world, k)) world.PVSVF[k] = 1;
}

}  // namespace

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

void CellTestRun(World& world, const int from[3], int axis, int step, int count) {
    if (count <= 0) return;
    int cell[3] = {from[0], from[1], from[2]};
    if (g_observer) {
        for (int i = 0; i < count; ++i, cell[axis] += step) CellTest(world, cell[0], cell[1], cell[2]);
        return;
    }
    if (g_testCounter) *g_testCounter += count;

    // The run is a straight line, so the cells inside the shell's cube are
    // one stretch of it: clip once instead of testing every cell.
    const int d = world.iDist;
    const int other1 = (axis + 1) % 3, other2 = (axis + 2) % 3;
    if (std::abs(cell[other1]) > d || std::abs(cell[other2]) > d) return;
    int first = cell[axis], last = first + step * (count - 1);
    if (step < 0) std::swap(first, last);
    const int lo = std::max(first, -d), hi = std::min(last, d);
    if (lo > hi) return;

    int q = step > 0 ? lo : hi;
    const int end = step > 0 ? hi : lo;
    cell[axis] = q;
    int g = CellIndex(world.iViewCellX + cell[0], world.iViewCellY + cell[1], world.iViewCellZ + cell[2]);
    const int gStep = step * kCellStep[axis];
    for (;; q += step, g += gStep) {
        cell[axis] = q;
        TestShellCell(world, g, cell[0], cell[1], cell[2]);
        if (q == end) break;
    }
}

}  // namespace gridcull
