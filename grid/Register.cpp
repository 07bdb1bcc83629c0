#include <algorithm>
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
    int lo[3], hi[3];

    // Bounding cube, z outermost, x innermost.
    if (RegistrationCube(o.fPosition, R, lo, hi))
        for (int z = lo[2]; z <= hi[2]; ++z)
            for (int y = lo[1]; y <= hi[1]; ++y)
                for (int x = lo[0]; x <= hi[0]; ++x)
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
    if (!RegistrationCube(o.fPosition, r, lo, hi)) return;
    const double rr = r * r;
    // A sphere of radius 7 spans at most 16 cells per axis.
    double far[3][32];
    for (int a = 0; a < 3; ++a) {
        if (hi[a] - lo[a] >= 32) return;  // larger than any object: registers no occluder
        for (int v = lo[a]; v <= hi[a]; ++v) {
            float d = std::fabs(v - o.fPosition[a]);
            far[a][v - lo[a]] = (d + 0.5) * (d + 0.5);
        }
    }
    for (int z = lo[2]; z <= hi[2]; ++z) {
        const double fz = far[2][z - lo[2]];
        if (fz > rr) continue;
        for (int y = lo[1]; y <= hi[1]; ++y) {
            const double fyz = far[1][y - lo[1]];
            for (int x = lo[0]; x <= hi[0]; ++x)
                if (far[0][x - lo[0]] + fyz + fz <= rr) occluders.Set(static_cast<unsigned>(CellIndex(x, y, z)));
        }
    }
}

}  // namespace gridcull
