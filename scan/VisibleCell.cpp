#include <algorithm>
#include <cstdlib>

#include "grid/Grid.h"
#include "scan/Scan.h"
#include "visibility/Frustum.h"

namespace gridcull {

namespace {

// Strict culling, after j was just registered: the scans never come back to
// a cell of this or an earlier shell, so if one of j's new cells there is
// visible (in the strict frustum, not hidden) j is marked now. Cells of
// farther shells are still ahead and need nothing. With this, a refreshed
// object is never left out of PVS while a visible cell holds it.
bool InVisibleCellPassed(const World& world, const SceneObject& o) {
    const int d = world.iDist;
    int view[3];
    ViewCell(world, view);
    auto visible = [&](int x, int y, int z) {
        return !world.H.Test(static_cast<unsigned>(CellIndex(x, y, z))) &&
               CellInStrictFrustum(world, x - view[0], y - view[1], z - view[2]);
    };
    // The cells it was just registered in: its cube, where it reaches this
    // shell or a nearer one, and the two centre cells.
    int lo[3], hi[3];
    if (RegistrationCube(o.fPosition, o.fBoundRadius, lo, hi)) {
        bool any = true;
        for (int a = 0; a < 3; ++a) {
            lo[a] = std::max(lo[a], view[a] - d);
            hi[a] = std::min(hi[a], view[a] + d);
            any = any && lo[a] <= hi[a];
        }
        if (any)
            for (int z = lo[2]; z <= hi[2]; ++z)
                for (int y = lo[1]; y <= hi[1]; ++y)
                    for (int x = lo[0]; x <= hi[0]; ++x)
                        if (visible(x, y, z)) return true;
    }
    const float* p = o.fPosition;
    const int centres[2][3] = {{RoundHalfAway(p[0]), RoundHalfAway(p[1]), RoundHalfAway(p[2])},
                               {static_cast<int>(p[0]), static_cast<int>(p[1]), static_cast<int>(p[2])}};
    for (const int* c : centres) {
        bool near = InGrid(c[0], c[1], c[2]);
        for (int a = 0; a < 3; ++a) near = near && std::abs(c[a] - view[a]) <= d;
        if (near && visible(c[0], c[1], c[2])) return true;
    }
    return false;
}

// Out of line: literal culling pays one flag test per refreshing cell.
[[gnu::noinline]] void MarkRefreshedInPassedCells(World& world, const int* refreshList, int refreshCount) {
    const bool draw = world.pfnDrawObject && !world.bRenderingDisabled && !world.bExactVisibility;
    for (int i = 0; i < refreshCount; ++i) {
        const int j = refreshList[i];
        if (world.PVS[j] || !InVisibleCellPassed(world, world.disks[j])) continue;
        if (draw) world.pfnDrawObject(world, world.disks[j], world.pDrawContext);
        // Its cell was a frustum cell of a walked shell: view-frustum culling keeps it too.
        world.PVS[j] = world.PVSVF[j] = 1;
    }
}

}  // namespace

void MarkSeen(World& world, int k) {
    if (world.pfnDrawObject && !world.bRenderingDisabled && !world.bExactVisibility)
        world.pfnDrawObject(world, world.disks[k], world.pDrawContext);
    world.PVS[k] = 1;
}

void HandleVisibleCell(World& world, int a, int b, int c) {
    const int x = world.iViewCellX + a;
    const int y = world.iViewCellY + b;
    const int z = world.iViewCellZ + c;
    for (int k : world.I[CellIndex(x, y, z)])
        if (!world.PVS[k] && HeldEntry(world, k)) MarkSeen(world, k);
    RefreshVolumesThrough(world, x, y, z);
}

int RefreshVolumesThrough(World& world, int x, int y, int z) {
    // A cell lies on the surface of j's temporal bounding volume exactly when
    // two or three of its columns hold j's outline; column set c of a plane
    // holds j exactly when bit c of j's outline bitset on that plane is set.
    const int column[3] = {XyColumn(x, y), YzColumn(y, z), XzColumn(x, z)};
    const ObjectSet* sets[3] = {&world.TxyN[column[0]], &world.TyzN[column[1]], &world.TxzN[column[2]]};
    // Most cells meet no volume: two empty sets rule out every candidate.
    if (sets[0]->empty() + sets[1]->empty() + sets[2]->empty() >= 2) return 0;
    // One of any two sets holds every surface object; walk the two smallest,
    // so an object in both is one, and an object in one only is one if the
    // third plane's outline passes the cell.
    int largest = sets[1]->size() > sets[0]->size() ? 1 : 0;
    if (sets[2]->size() > sets[largest]->size()) largest = 2;
    std::swap(sets[largest], sets[2]);
    const BitSet* const planeBits[3] = {world.Txy, world.Tyz, world.Txz};
    const BitSet* thirdBits = planeBits[largest];
    const unsigned thirdColumn = static_cast<unsigned>(column[largest]);

    // Collect first: RemoveTbv erases the object from the very sets walked here.
    int refreshList[kDynamicCount];
    int refreshCount = 0;
    auto p = sets[0]->begin(), pEnd = sets[0]->end();
    auto q = sets[1]->begin(), qEnd = sets[1]->end();
    while (p != pEnd || q != qEnd) {
        // Sorted merge: an object in both sets is looked at once.
        int j;
        bool inBoth = false;
        if (q == qEnd || (p != pEnd && *p < *q)) {
            j = *p++;
        } else {
            if (p != pEnd && *p == *q) {
                ++p;
                inBoth = true;
            }
            j = *q++;
        }
        // Only dynamic objects have outlines; refreshList holds them all.
        if (j < kDynamicCount && (inBoth || thirdBits[j].Test(thirdColumn))) refreshList[refreshCount++] = j;
    }

    for (int i = 0; i < refreshCount; ++i) {
        const int j = refreshList[i];
        RegisterObject(world, j, false, false);
        RemoveTbv(world, j);
        world.disks[j].bInTemporalVolume = 0;
    }
    if (world.bStrictCulling && refreshCount > 0) MarkRefreshedInPassedCells(world, refreshList, refreshCount);
    return refreshCount;
}

}  // namespace gridcull
