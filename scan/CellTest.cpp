#include <cstdlib>

#include "grid/Grid.h"
#include "scan/Scan.h"
#include "visibility/DrawnSpheres.h"
#include "visibility/FaceOcclusion.h"

namespace gridcull {

namespace {

CellTestObserver g_observer = nullptr;
void* g_observerContext = nullptr;

}  // namespace

void SetCellTestObserver(CellTestObserver observer, void* context) {
    g_observer = observer;
    g_observerContext = context;
}

void CellTest(World& world, int a, int b, int c) {
    if (g_observer) g_observer(world, a, b, c, g_observerContext);

    // Scans may run past the shell's edge; cells beyond it belong to a later
    // shell and are left untouched, not even counted for PVSVF.
    const int d = world.iDist;
    if (std::abs(a) > d || std::abs(b) > d || std::abs(c) > d) return;

    const int g = CellIndex(world.iViewCellX + a, world.iViewCellY + b, world.iViewCellZ + c);
    if (!world.H.Test(static_cast<unsigned>(g))) {
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
    // Read after HandleVisibleCell: objects it has just registered here count.
    for (int k : world.I[g])
        if (HeldEntry(world, k)) world.PVSVF[k] = 1;
}

}  // namespace gridcull
