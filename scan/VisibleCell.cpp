#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "grid/Grid.h"
#include "scan/Scan.h"
#include "visibility/Frustum.h"

namespace gridcull {

namespace {

// Whether a cell of the box lo..hi may pass every strict plane: a plane's
// value is monotone in each coordinate, so the box corner where it is least
// decides for every cell of the box.
bool BoxMeetsStrictFrustum(const World& world, const int lo[3], const int hi[3]) {
    for (const float* plane : world.fStrictPlane) {
        float p[3];
        for (int a = 0; a < 3; ++a) p[a] = static_cast<float>(plane[a] > 0 ? lo[a] : hi[a]);
        if (!PassesStrictPlane(plane, p)) return false;
    }
    return true;
}

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
        if (any && BoxMeetsStrictFrustum(world, lo, hi))
            for (int z = lo[2]; z <= hi[2]; ++z) {
                const int sliceLo[3] = {lo[0], lo[1], z}, sliceHi[3] = {hi[0], hi[1], z};
                if (!BoxMeetsStrictFrustum(world, sliceLo, sliceHi)) continue;
                for (int y = lo[1]; y <= hi[1]; ++y)
                    for (int x = lo[0]; x <= hi[0]; ++x)
                        if (visible(x, y, z)) return true;
            }
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

// The words of the moving objects whose volume's surface passes through cell
// (x, y, z), as MeetsVolumeSurface tests them.
inline void SurfaceWords(const World& world, int x, int y, int z, std::uint64_t surface[kDynamicWords]) {
    const std::uint64_t* xy = world.TxyN[XyColumn(x, y)].iWord;
    const std::uint64_t* yz = world.TyzN[YzColumn(y, z)].iWord;
    const std::uint64_t* xz = world.TxzN[XzColumn(x, z)].iWord;
    for (int w = 0; w < kDynamicWords; ++w) surface[w] = (xy[w] & yz[w]) | (xz[w] & (xy[w] | yz[w]));
}

}  // namespace

// The refresh proper, apart from the word test so that the many visible
// cells that meet no volume's surface pay only for that test; the words are
// formed again here. Objects are taken in
// ascending j, the order the refresh (and so I and the draws) follows.
int RefreshSurfaceObjects(World& world, int x, int y, int z) {
    std::uint64_t surface[kDynamicWords];
    SurfaceWords(world, x, y, z, surface);
    // Collect first: a refresh changes the very columns the words came from.
    int refreshList[kDynamicCount];
    int refreshCount = 0;
    for (int w = 0; w < kDynamicWords; ++w)
        for (std::uint64_t m = surface[w]; m; m &= m - 1) refreshList[refreshCount++] = w * 64 + __builtin_ctzll(m);

    for (int i = 0; i < refreshCount; ++i) {
        const int j = refreshList[i];
        DropStaleMarks(world, j);
        RegisterObject(world, j, false, false);
        RemoveTbv(world, j);
        world.disks[j].bInTemporalVolume = 0;
    }
    if (world.bStrictCulling) MarkRefreshedInPassedCells(world, refreshList, refreshCount);
    return refreshCount;
}

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
    // Most cells lie on no volume's surface.
    return MeetsVolumeSurface(world, x, y, z) ? RefreshSurfaceObjects(world, x, y, z) : 0;
}

}  // namespace gridcull
