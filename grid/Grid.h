// Grid addressing, roundings, and the registration of objects and of the
// temporal bounding volumes of moving objects.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "../scene/World.h"

namespace gridcull {

inline int CellIndex(int x, int y, int z) { return x + kGridSize * y + kColumnCount * z; }
inline int XyColumn(int x, int y) { return x + kGridSize * y; }
inline int YzColumn(int y, int z) { return z + kGridSize * y; }
inline int XzColumn(int x, int z) { return x + kGridSize * z; }
inline bool InGrid(int v) { return static_cast<unsigned>(v) < static_cast<unsigned>(kGridSize); }
inline bool InGrid(int x, int y, int z) { return InGrid(x) && InGrid(y) && InGrid(z); }

// The viewpoint cell as an array, and one of its coordinates (0 x, 1 y, 2 z).
inline void ViewCell(const World& world, int cell[3]) {
    cell[0] = world.iViewCellX;
    cell[1] = world.iViewCellY;
    cell[2] = world.iViewCellZ;
}
inline int ViewCell(const World& world, int axis) {
    return axis == 0 ? world.iViewCellX : axis == 1 ? world.iViewCellY : world.iViewCellZ;
}

// A position becomes a cell by rounding half away from zero; volume centres,
// ray ends and the far point truncate toward zero instead. The two differ
// for negative values and at .5 and are not interchangeable.
inline int RoundHalfAway(double v) { return static_cast<int>(v >= 0 ? v + 0.5 : v - 0.5); }
inline int RoundHalfAway(float v) { return static_cast<int>(v >= 0 ? v + 0.5f : v - 0.5f); }
inline int TruncToward0(double v) { return static_cast<int>(v); }

// Cells of the cube centre +- radius, per axis lo..hi inclusive: the bounds
// are rounded half away from zero, then clipped to the grid (the clip changes
// no interior cell). Returns false when nothing of the cube is in the grid.
inline bool RegistrationCube(const float centre[3], float radius, int lo[3], int hi[3]) {
    bool any = true;
    for (int a = 0; a < 3; ++a) {
        lo[a] = std::max(RoundHalfAway(centre[a] - radius), 0);
        hi[a] = std::min(RoundHalfAway(centre[a] + radius), kGridSize - 1);
        any = any && lo[a] <= hi[a];
    }
    return any;
}

// Enters object j in the cell sets of its bounding cube plus its rounded and
// truncated centre cells, records those cells in fCells, and marks the cells
// that lie wholly inside its sphere as occluders (Os when bStatic, else O).
// A non-static registration first erases j from the cells of the previous
// one; with bRemoveOnly it stops there. Cells outside the grid are skipped.
// A cube too large for fCells is registered only as far as fCells reaches,
// which no object of the generated scene comes near.
void RegisterObject(World& world, int j, bool bStatic, bool bRemoveOnly);

// Removal for the frame's refresh: dynamic object j counts as removed at
// once, but its entries stay in I (flagged bCellsStale, skipped by every
// reader) until its next registration, in this pass or a later frame, which
// then only moves the entries that changed. An object left unseen for a
// frame or two mostly comes back where it was.
void DeferCellRemoval(World& world, int j);

// Entry k of a cell set stands for an object in that cell (not a stale entry).
inline bool HeldEntry(const World& world, int k) { return k >= kDynamicCount || !world.disks[k].bCellsStale; }

// Builds and records the temporal bounding volume of dynamic object j from
// fTbvOrigin, iTbvStartFrame and iTbvEndFrame; may shorten iTbvEndFrame.
void InsertTbv(World& world, int j);
// Strict culling's volume: sized so that the cube holds the sphere at every
// position it can reach in the interval (shortening iTbvEndFrame to keep
// the half size at most 15 and the eye's cell outside). Returns false and
// records nothing when even the sphere's present position cannot be boxed
// without the eye's cell: the object must stay registered exactly.
bool InsertStrictTbv(World& world, int j);
// Replaces j's recorded volume by a new one from its present position, from
// this frame to endFrame, sized as InsertTbv or (strict) InsertStrictTbv
// does; returns false, with nothing recorded, where the strict one fails.
// Leaves the outline as RemoveTbv followed by that insertion would.
bool RenewTbv(World& world, int j, bool strict, int endFrame);
// The eye's cell lies in the cube of o's recorded volume.
bool VolumeHoldsEyeCell(const World& world, const SceneObject& o);
// Removes what the last InsertTbv(j) recorded; expects fTbvOrigin and
// fTbvHalfSize unchanged since then.
void RemoveTbv(World& world, int j);

// Whether the volume surface of a moving object passes through cell
// (x, y, z): two or three of the cell's columns on its outline. The column
// words are taken two at a time.
inline bool MeetsVolumeSurface(const World& world, int x, int y, int z) {
    using Words2 = std::uint64_t __attribute__((vector_size(16)));
    static_assert(kDynamicWords % 2 == 0, "the column words are tested in pairs");
    const std::uint64_t* xy = world.TxyN[XyColumn(x, y)].iWord;
    const std::uint64_t* yz = world.TyzN[YzColumn(y, z)].iWord;
    const std::uint64_t* xz = world.TxzN[XzColumn(x, z)].iWord;
    Words2 any = {0, 0};
    for (int w = 0; w < kDynamicWords; w += 2) {
        Words2 a, b, c;
        std::memcpy(&a, xy + w, sizeof a);
        std::memcpy(&b, yz + w, sizeof b);
        std::memcpy(&c, xz + w, sizeof c);
        any |= (a & b) | (c & (a | b));
    }
    return (any[0] | any[1]) != 0;
}

}  // namespace gridcull
