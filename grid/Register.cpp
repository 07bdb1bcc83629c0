#include <cmath>

#include "grid/Grid.h"

namespace gridcull {

namespace {

inline void EraseRecordedCells(World& world, SceneObject& o, int j) {
    for (int k = 0; k < o.iCellCount; ++k) {
        int x = static_cast<int>(o.fCells[k][0]);
        int y = static_cast<int>(o.fCells[k][1]);
        int z = static_cast<int>(o.fCells[k][2]);
        world.I[CellIndex(x, y, z)].erase(j);
    }
}

// Enters j in cell (x, y, z) and appends the entry to the removal list. A
// moving object is entered only while the list has room, so that removal
// stays exact; a static object is never removed and is always entered.
inline void EnterCell(World& world, SceneObject& o, int j, bool bStatic, int x, int y, int z, float fx, float fy,
                      float fz) {
    if (o.iCellCount < kMaxObjectCells) {
        float* entry = o.fCells[o.iCellCount++];
        entry[0] = fx;
        entry[1] = fy;
        entry[2] = fz;
    } else if (!bStatic) {
        return;
    }
    world.I[CellIndex(x, y, z)].insert(j);
}

// Cell range lo..hi on one axis, clipped to the grid.
inline void ClipToGrid(int& lo, int& hi) {
    if (lo < 0) lo = 0;
    if (hi > kGridSize - 1) hi = kGridSize - 1;
}

}  // namespace

void RegisterObject(World& world, int j, bool bStatic, bool bRemoveOnly) {
    SceneObject& o = world.disks[j];
    if (!bStatic && !o.bCellsRemoved) EraseRecordedCells(world, o, j);
    if (bRemoveOnly) {
        o.bCellsRemoved = 1;
        return;
    }
    o.bCellsRemoved = 0;
    o.iCellCount = 0;

    const float X = o.fPosition[0], Y = o.fPosition[1], Z = o.fPosition[2];
    const float R = o.fBoundRadius, r = o.fRadius;

    // Bounding cube, z outermost, x innermost; the bounds are rounded half
    // away from zero before clipping, so the clip changes no interior cell.
    int x0 = RoundHalfAway(X - R), x1 = RoundHalfAway(X + R);
    int y0 = RoundHalfAway(Y - R), y1 = RoundHalfAway(Y + R);
    int z0 = RoundHalfAway(Z - R), z1 = RoundHalfAway(Z + R);
    ClipToGrid(x0, x1);
    ClipToGrid(y0, y1);
    ClipToGrid(z0, z1);
    for (int z = z0; z <= z1; ++z)
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                EnterCell(world, o, j, bStatic, x, y, z, static_cast<float>(x), static_cast<float>(y),
                          static_cast<float>(z));

    // The two centre cells are normally inside the cube already; they keep
    // an object whose cube was clipped away registered where its centre is.
    int rx = RoundHalfAway(X), ry = RoundHalfAway(Y), rz = RoundHalfAway(Z);
    if (InGrid(rx, ry, rz))
        EnterCell(world, o, j, bStatic, rx, ry, rz, static_cast<float>(rx), static_cast<float>(ry),
                  static_cast<float>(rz));
    int tx = static_cast<int>(X), ty = static_cast<int>(Y), tz = static_cast<int>(Z);
    if (InGrid(tx, ty, tz)) EnterCell(world, o, j, bStatic, tx, ty, tz, X, Y, Z);

    // Occluder cells: all eight corners within or on the sphere. The farthest
    // corner along each axis is |d| + 0.5 away, and the rounded sums grow with
    // each term, so testing that one corner decides all eight.
    BitSet& occluders = bStatic ? world.Os : world.O;
    int ox0 = RoundHalfAway(X - r), ox1 = RoundHalfAway(X + r);
    int oy0 = RoundHalfAway(Y - r), oy1 = RoundHalfAway(Y + r);
    int oz0 = RoundHalfAway(Z - r), oz1 = RoundHalfAway(Z + r);
    ClipToGrid(ox0, ox1);
    ClipToGrid(oy0, oy1);
    ClipToGrid(oz0, oz1);
    if (ox0 > ox1 || oy0 > oy1 || oz0 > oz1) return;
    const double rr = r * r;
    // A sphere of radius 7 spans at most 16 cells per axis.
    double far[3][32];
    const int lo[3] = {ox0, oy0, oz0}, hi[3] = {ox1, oy1, oz1};
    const float centre[3] = {X, Y, Z};
    for (int a = 0; a < 3; ++a) {
        if (hi[a] - lo[a] >= 32) return;  // larger than any object: registers no occluder
        for (int v = lo[a]; v <= hi[a]; ++v) {
            float d = std::fabs(v - centre[a]);
            far[a][v - lo[a]] = (d + 0.5) * (d + 0.5);
        }
    }
    for (int z = oz0; z <= oz1; ++z) {
        const double fz = far[2][z - oz0];
        if (fz > rr) continue;
        for (int y = oy0; y <= oy1; ++y) {
            const double fyz = far[1][y - oy0];
            for (int x = ox0; x <= ox1; ++x)
                if (far[0][x - ox0] + fyz + fz <= rr) occluders.Set(static_cast<unsigned>(CellIndex(x, y, z)));
        }
    }
}

}  // namespace gridcull
