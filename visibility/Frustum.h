// View frustum in grid coordinates and its two tests.
//
// The side planes are pushed outward by half a cell measured along their
// normal, so a cell whose centre passes the point test is a cell whose cube
// reaches into the exact frustum: the tests may keep a cell that is outside,
// never drop one that is inside.
#pragma once

#include "../scene/World.h"

namespace gridcull {

struct FrustumClamp {
    float fClamp[3];  // clamped coordinate as an offset from the viewpoint cell
    int iAnyOutside;
    int iOutside[3];  // per axis: the point lay outside 0..69 and was clamped
};

// Fills fFrustumPlane and fFarCorner from the viewpoint, fViewMatrix, fFov
// and fFarDist.
void SetupFrustum(World& world);

// One strict plane's test of the grid point p, the very expression
// CellInStrictFrustum below uses, so a scan that cuts runs plane by plane keeps
// exactly its cells. Monotone in each coordinate of p: float products and
// sums never reverse an order, so along a row the passing cells of one plane
// are a prefix or a suffix.
inline bool PassesStrictPlane(const float plane[4], const float p[3]) {
    return plane[0] * p[0] + plane[1] * p[1] + plane[2] * p[2] + plane[3] < 0;
}

// Strict culling's cell test: true for every cell (offsets from the viewpoint
// cell) whose cube reaches into the drawn view frustum, near plane included;
// may also keep a cell just outside it, never drops one inside. Inline: the
// refresh asks it for every cell an object is entered in.
inline bool CellInStrictFrustum(const World& world, int a, int b, int c) {
    const float p[3] = {static_cast<float>(world.iViewCellX + a), static_cast<float>(world.iViewCellY + b),
                        static_cast<float>(world.iViewCellZ + c)};
    for (const float* plane : world.fStrictPlane)
        if (!PassesStrictPlane(plane, p)) return false;
    return true;
}

// 1 when the grid point p lies strictly inside all five planes. Clamp reports
// per axis whether p lies outside 0..69 and, where it does, the grid
// boundary as an offset from the viewpoint cell.
int PointInFrustum(const World& world, const float p[3], FrustumClamp& clamp);

// First crossing of the ray origin + t direction (origin relative to the
// viewpoint) with the frustum planes. result is relative to the viewpoint;
// when neither the crossing nor the point one unit before it is inside, the
// result is the origin.
void FrustumRayHit(const World& world, float result[3], const float origin[3], const float direction[3],
                   FrustumClamp& clamp);

// FrustumRayHit for direction +1 or -1 along axis, with the same result.
void AxisRayHit(const World& world, float result[3], const float origin[3], int axis, int direction,
                FrustumClamp& clamp);
// AxisRayHit with clamp filled on axis alone (iOutside[axis], fClamp[axis]),
// for a scan that reads only where its run ends.
void AxisRayHitOnAxis(const World& world, float result[3], const float origin[3], int axis, int direction,
                      FrustumClamp& clamp);

// AxisRayHitOnAxis from the origins from with coordinate step set to first,
// first + 1, ..., last in turn (offsets from the viewpoint cell; from[step]
// unread), one reach each in out: result[axis] in fHit, and in iEnd the
// end's offset, the grid boundary when the end lies outside the grid.
struct AxisRayReach {
    float fHit;
    int iEnd;
};
void AxisRayReaches(const World& world, const int from[3], int axis, int direction, int step, int first, int last,
                    AxisRayReach* out);

// Clamps offset s from viewpoint cell coordinate v into the grid on one axis.
inline int ClampOffsetIntoGrid(int s, int v) {
    if (v + s > kGridSize - 1) s = kGridSize - 1 - v;
    if (v + s < 0) s = -v;
    return s;
}

// Where a run of cells from origin (an offset from the viewpoint cell) along
// one axis toward the shell corner at offset corner ends: at the corner when
// it lies inside the frustum, else at the last offset before a ray cast from
// origin in direction (+1 or -1) leaves the frustum, truncated toward zero;
// at the grid's boundary when that end lies outside the grid.
struct AxisRunEnd {
    int iLimit;
    int iCorner;         // the corner lies strictly inside the frustum
    int iClamped;        // the end lay outside the grid; iLimit is the boundary
    FrustumClamp clamp;  // the evaluation's outside flags on every axis
};
void FindAxisRunEnd(const World& world, const int origin[3], int axis, int corner, int direction, AxisRunEnd& end);
// FindAxisRunEnd toward corner -d (direction -1) into low and toward d (+1)
// into high, with the same ends, end.clamp left unset: a row's two runs in
// one evaluation.
void FindRowRunEnds(const World& world, const int origin[3], int axis, int d, AxisRunEnd& low, AxisRunEnd& high);
// FindRowRunEnds for the rows from origin with coordinate step (not axis) set
// to first, first + 1, ..., last in turn (origin[step] unread), into
// low[i - first] and high[i - first].
void FindRowRunEndsAcross(const World& world, const int origin[3], int axis, int d, int step, int first, int last,
                          AxisRunEnd* low, AxisRunEnd* high);
// FindRowRunEnds as FindAxisRunEnd gives them, end.clamp filled on every axis.
void FindRowRunEndsEveryAxis(const World& world, const int origin[3], int axis, int d, AxisRunEnd& low,
                             AxisRunEnd& high);

}  // namespace gridcull
