#include "visibility/Frustum.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <type_traits>

namespace gridcull {

namespace {

// A ray that never crosses a plane, or crosses it behind its origin, stops
// there at this parameter instead.
constexpr float kNoCrossing = 3.4028235e38f;
constexpr float kGridMax = static_cast<float>(kGridSize - 1);

void Set(float out[3], float x, float y, float z) {
    out[0] = x;
    out[1] = y;
    out[2] = z;
}

void Copy(float out[3], const float a[3]) { Set(out, a[0], a[1], a[2]); }

void Add(float out[3], const float a[3], const float b[3]) { Set(out, a[0] + b[0], a[1] + b[1], a[2] + b[2]); }

void Subtract(float out[3], const float a[3], const float b[3]) { Set(out, a[0] - b[0], a[1] - b[1], a[2] - b[2]); }

void Cross(float out[3], const float a[3], const float b[3]) {
    Set(out, a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]);
}

float SquaredLength(const float a[3]) { return a[0] * a[0] + a[1] * a[1] + a[2] * a[2]; }

void Divide(float out[3], const float a[3], float s) { Set(out, a[0] / s, a[1] / s, a[2] / s); }

float Dot(const float a[3], const float b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// Stores the plane with unit normal n through the point at.
void StorePlane(float plane[4], const float n[3], const float at[3]) {
    Set(plane, n[0], n[1], n[2]);
    plane[3] = -Dot(n, at);
}

// Side plane through the viewpoint containing the far edge from -> to, moved
// outward by half the extent of a cell along its normal.
void StoreSidePlane(float plane[4], const float from[3], const float to[3], const float view[3]) {
    float edge[3], back[3], n[3];
    Subtract(edge, to, from);
    Subtract(back, view, from);
    Cross(n, edge, back);
    Divide(n, n, std::sqrt(SquaredLength(n)));
    const float e = 0.5f * (std::fabs(n[0]) + std::fabs(n[1]) + std::fabs(n[2]));
    float offset[3], at[3];
    Set(offset, e * n[0], e * n[1], e * n[2]);
    Add(at, view, offset);
    StorePlane(plane, n, at);
}

// The four side planes' values at a point in one go: each lane forms the
// products and sums of the scalar expression in the same order, so each
// lane's value is the scalar one bit for bit.
using Float4 = float __attribute__((vector_size(16)));
using Int4 = int __attribute__((vector_size(16)));

// The side planes with their components gathered across lanes; the near
// plane stays scalar. A copy: the scans' loops write their ends to memory
// that could otherwise be the world's planes.
struct SidePlanes {
    Float4 n[3];
    Float4 d;
    float fNear[4];
};

SidePlanes LoadSidePlanes(const World& world) {
    SidePlanes sides;
    for (int k = 0; k < 3; ++k) std::memcpy(&sides.n[k], world.fSidePlaneLanes[k], sizeof(Float4));
    std::memcpy(&sides.d, world.fSidePlaneLanes[3], sizeof(Float4));
    std::memcpy(sides.fNear, world.fFrustumPlane[4], sizeof(sides.fNear));
    return sides;
}

Float4 SideValues(const SidePlanes& sides, const float p[3]) {
    return sides.n[0] * p[0] + sides.n[1] * p[1] + sides.n[2] * p[2] + sides.d;
}

bool AllLanes(Int4 m) {
#if defined(__SSE__)
    return __builtin_ia32_movmskps(reinterpret_cast<Float4>(m)) == 0xF;
#else
    return (m[0] & m[1] & m[2] & m[3]) != 0;
#endif
}

// The smallest of four lanes that are all numbers.
float LeastLane(Float4 v) {
    const Float4 a = v < Float4{v[2], v[3], v[0], v[1]} ? v : Float4{v[2], v[3], v[0], v[1]};
    return std::min(a[0], a[1]);
}

// A point exactly on a plane is outside; so is a coordinate that is not a
// number. The side planes go first: they reject far more points.
int InsideAllPlanes(const SidePlanes& sides, const float p[3]) {
    if (!AllLanes(SideValues(sides, p) < 0)) return 0;
    const float* near = sides.fNear;
    return near[0] * p[0] + near[1] * p[1] + near[2] * p[2] + near[3] < 0 ? 1 : 0;
}

int InsideAllPlanes(const World& world, const float p[3]) { return InsideAllPlanes(LoadSidePlanes(world), p); }

// Grid points that differ on kAxis alone: the planes' products with the other
// two coordinates are formed once for the line. A point's values are summed
// in the order of SideValues and of the near plane's test, so each is the
// same float as the full evaluation gives.
template <int kAxis>
struct PlaneLine {
    Float4 side[3];  // side[kAxis] unused
    float near[3];   // likewise
};

template <int kAxis>
PlaneLine<kAxis> LineThrough(const SidePlanes& sides, const float p[3]) {
    PlaneLine<kAxis> line{};
    for (int k = 0; k < 3; ++k) {
        if (k == kAxis) continue;
        line.side[k] = sides.n[k] * p[k];
        line.near[k] = sides.fNear[k] * p[k];
    }
    return line;
}

// SideValues at the line's point with coordinate c on kAxis.
template <int kAxis>
Float4 SideValuesAt(const SidePlanes& sides, const PlaneLine<kAxis>& line, float c) {
    const Float4 a = sides.n[kAxis] * c;
    if constexpr (kAxis == 0) return a + line.side[1] + line.side[2] + sides.d;
    if constexpr (kAxis == 1) return line.side[0] + a + line.side[2] + sides.d;
    return line.side[0] + line.side[1] + a + sides.d;
}

// The near plane's value there.
template <int kAxis>
float NearValueAt(const SidePlanes& sides, const PlaneLine<kAxis>& line, float c) {
    const float* near = sides.fNear;
    const float a = near[kAxis] * c;
    if constexpr (kAxis == 0) return a + line.near[1] + line.near[2] + near[3];
    if constexpr (kAxis == 1) return line.near[0] + a + line.near[2] + near[3];
    return line.near[0] + line.near[1] + a + near[3];
}

// InsideAllPlanes there.
template <int kAxis>
int InsideAt(const SidePlanes& sides, const PlaneLine<kAxis>& line, float c) {
    if (!AllLanes(SideValuesAt(sides, line, c) < 0)) return 0;
    return NearValueAt(sides, line, c) < 0 ? 1 : 0;
}

// Clamps grid coordinate c to 0..69; returns whether it lay outside.
inline int ClampCoordToGrid(float& c) {
    if (c < 0) {
        c = 0.0f;
        return 1;
    }
    if (c > kGridMax) {
        c = kGridMax;
        return 1;
    }
    return 0;
}

// Clamps coordinate k of grid point p to 0..69, reporting it as an offset
// from the viewpoint cell.
void ClampAxisToGrid(const int cell[3], const float p[3], int k, FrustumClamp& clamp) {
    float c = p[k];
    clamp.iOutside[k] = ClampCoordToGrid(c);
    clamp.fClamp[k] = c - static_cast<float>(cell[k]);
}

// Clamps grid point p to 0..69 per axis and reports the clamped coordinates
// as offsets from the viewpoint cell.
void ClampToGrid(const World& world, const float p[3], FrustumClamp& clamp) {
    const int cell[3] = {world.iViewCellX, world.iViewCellY, world.iViewCellZ};
    for (int k = 0; k < 3; ++k) ClampAxisToGrid(cell, p, k, clamp);
    clamp.iAnyOutside = clamp.iOutside[0] | clamp.iOutside[1] | clamp.iOutside[2];
}

}  // namespace

void SetupFrustum(World& world) {
    // The product with the double constant is formed in double, then kept
    // as a float like every other quantity of the frustum.
    const float t = static_cast<float>(std::tan(world.fFov * kDegToRad * 0.5));
    const float n = world.fFarDist;
    const float s = t * n;
    const float* m = world.fViewMatrix;
    float view[3];
    Set(view, world.fViewX, world.fViewY, world.fViewZ);

    const float camera[4][3] = {{-s, -s, n}, {s, s, n}, {s, -s, n}, {-s, s, n}};
    for (int i = 0; i < 4; ++i) {
        const float* c = camera[i];
        float rotated[3];
        Set(rotated, m[0] * c[0] + m[1] * c[1] + m[2] * c[2] + m[3], m[4] * c[0] + m[5] * c[1] + m[6] * c[2] + m[7],
            m[8] * c[0] + m[9] * c[1] + m[10] * c[2] + m[11]);
        Add(world.fFarCorner[i], rotated, view);
    }
    const float(&corner)[4][3] = world.fFarCorner;
    StoreSidePlane(world.fFrustumPlane[0], corner[1], corner[2], view);  // +x
    StoreSidePlane(world.fFrustumPlane[1], corner[0], corner[3], view);  // -x
    StoreSidePlane(world.fFrustumPlane[2], corner[3], corner[1], view);  // +y
    StoreSidePlane(world.fFrustumPlane[3], corner[2], corner[0], view);  // -y

    // Near plane: faces back from the centre of the far rectangle, 0.001 in
    // front of the viewpoint, or through it for fields wider than 90 degrees.
    float sum[3], centre[3], back[3], u[3];
    Add(sum, corner[0], corner[1]);
    Set(centre, 0.5f * sum[0], 0.5f * sum[1], 0.5f * sum[2]);
    Subtract(back, view, centre);
    Divide(u, back, std::sqrt(SquaredLength(back)));
    const float k = world.fFov > 90 ? 0.0f : -0.001f;
    float offset[3], at[3];
    Set(offset, k * u[0], k * u[1], k * u[2]);
    Add(at, view, offset);
    StorePlane(world.fFrustumPlane[4], u, at);

    for (int i = 0; i < 4; ++i)
        for (int k = 0; k < 4; ++k) world.fSidePlaneLanes[k][i] = world.fFrustumPlane[i][k];

    // Strict planes. The float set-up above may round a plane inward by a
    // few 1e-6 of a cell; the slack covers that many times over.
    constexpr float kSlack = 1e-3f;
    for (int i = 0; i < 4; ++i) {
        for (int k = 0; k < 3; ++k) world.fStrictPlane[i][k] = world.fFrustumPlane[i][k];
        world.fStrictPlane[i][3] = world.fFrustumPlane[i][3] - kSlack;
    }
    // The drawn image starts at the near plane 0.1 ahead; a cell level with
    // or just behind the viewpoint can still reach in front of it.
    const float e = 0.5f * (std::fabs(u[0]) + std::fabs(u[1]) + std::fabs(u[2]));
    StorePlane(world.fStrictPlane[4], u, view);
    world.fStrictPlane[4][3] -= e + kSlack;
}

int PointInFrustum(const World& world, const float p[3], FrustumClamp& clamp) {
    ClampToGrid(world, p, clamp);
    return InsideAllPlanes(world, p);
}

void FrustumRayHit(const World& world, float result[3], const float origin[3], const float direction[3],
                   FrustumClamp& clamp) {
    float view[3], o[3];
    Set(view, world.fViewX, world.fViewY, world.fViewZ);
    Add(o, origin, view);

    float crossing = kNoCrossing;
    for (const float* plane : world.fFrustumPlane) {
        const float along = Dot(plane, direction);
        // A ray parallel to the plane never stops at it.
        float t = along != 0 ? -(Dot(plane, o) + plane[3]) / along : kNoCrossing;
        if (!(t >= 0)) t = kNoCrossing;
        if (t < crossing) crossing = t;
    }

    // The crossing lies on a plane, where rounding decides the side; the
    // point one unit back along the ray confirms that the ray was inside.
    float hit[3], hitGrid[3], backGrid[3];
    Set(hit, origin[0] + crossing * direction[0], origin[1] + crossing * direction[1],
        origin[2] + crossing * direction[2]);
    Add(hitGrid, hit, view);
    Subtract(backGrid, hitGrid, direction);
    if (InsideAllPlanes(world, hitGrid) || InsideAllPlanes(world, backGrid))
        Copy(result, hit);
    else
        Copy(result, origin);

    float grid[3];
    Add(grid, result, view);
    ClampToGrid(world, grid, clamp);
}

namespace {

// Where the ray from o (grid coordinates; from is its origin's coordinate on
// kAxis relative to the viewpoint) along dir leaves the frustum, ray being
// its line: FrustumRayHit with the unit vector along kAxis, bit for bit. A
// product with a zero component is a signed zero, and adding a signed zero
// to a nonzero float is exact, so each dot product with the direction is the
// plane's axis component (or a zero either way), and the hit differs from the
// origin on the axis only. Returns whether the hit is kept; hit and grid are
// its coordinate on kAxis relative to the viewpoint and in the grid.
template <int kAxis>
[[gnu::always_inline]] inline bool AxisRayEnd(const SidePlanes& sides, const PlaneLine<kAxis>& ray, const float o[3],
                                              float from, float view, float dir, float& hit, float& grid) {
    // Lanes whose plane runs parallel to the ray, or is crossed behind the
    // origin, give no crossing; their quotient is computed but never used.
    const Float4 along = sides.n[kAxis] * dir;
    const Float4 quotient = -SideValuesAt(sides, ray, o[kAxis]) / along;
    const Int4 crosses = (along != 0) & (quotient >= 0);
    const Float4 sideT = crosses ? quotient : Float4{kNoCrossing, kNoCrossing, kNoCrossing, kNoCrossing};
    const float nearAlong = sides.fNear[kAxis] * dir;
    float nearT = nearAlong != 0 ? -NearValueAt(sides, ray, o[kAxis]) / nearAlong : kNoCrossing;
    if (!(nearT >= 0)) nearT = kNoCrossing;
    // Every candidate is a number, so the order of the minimum matters only
    // between +0 and -0, and the hit is the origin for either.
    const float crossing = std::min(LeastLane(sideT), nearT);

    hit = from + crossing * dir;
    grid = hit + view;
    // Either point inside keeps the hit; the point a unit back is inside far
    // more often than the crossing itself, so it goes first.
    return InsideAt(sides, ray, grid - dir) || InsideAt(sides, ray, grid);
}

// AxisRayHit on planes already gathered.
template <int kAxis, bool kEveryAxis>
void AxisRayHitOn(const World& world, const SidePlanes& sides, float result[3], const float origin[3], int direction,
                  FrustumClamp& clamp) {
    const float view[3] = {world.fViewX, world.fViewY, world.fViewZ};
    const float o[3] = {origin[0] + view[0], origin[1] + view[1], origin[2] + view[2]};
    const float dir = static_cast<float>(direction);
    const PlaneLine<kAxis> ray = LineThrough<kAxis>(sides, o);
    float hit, grid;
    const bool inside = AxisRayEnd<kAxis>(sides, ray, o, origin[kAxis], view[kAxis], dir, hit, grid);
    for (int k = 0; k < 3; ++k) result[k] = origin[k];
    if (inside) result[kAxis] = hit;

    // The clamp reads the result as a grid point: the ray's origin off the
    // axis, and on it the end's grid coordinate.
    if (kEveryAxis) {
        float end[3] = {o[0], o[1], o[2]};
        if (inside) end[kAxis] = grid;
        ClampToGrid(world, end, clamp);
    } else {
        float c = inside ? grid : o[kAxis];
        clamp.iOutside[kAxis] = ClampCoordToGrid(c);
        const int cell = kAxis == 0 ? world.iViewCellX : kAxis == 1 ? world.iViewCellY : world.iViewCellZ;
        clamp.fClamp[kAxis] = c - static_cast<float>(cell);
    }
}

// AxisRayReaches with the ray's axis and the stepped one fixed: the planes'
// products with the coordinate no origin changes are formed once.
template <int kAxis, int kStep>
void AxisRayReachesOn(const World& world, const int from[3], int direction, int first, int last, AxisRayReach* out) {
    static_assert(kAxis != kStep, "the origins step across the rays");
    const SidePlanes sides = LoadSidePlanes(world);
    const float view[3] = {world.fViewX, world.fViewY, world.fViewZ};
    float o[3] = {static_cast<float>(from[0]) + view[0], static_cast<float>(from[1]) + view[1],
                  static_cast<float>(from[2]) + view[2]};
    const float dir = static_cast<float>(direction);
    const float start = static_cast<float>(from[kAxis]);
    const float cell = static_cast<float>(kAxis == 0   ? world.iViewCellX
                                          : kAxis == 1 ? world.iViewCellY
                                                       : world.iViewCellZ);
    PlaneLine<kAxis> ray = LineThrough<kAxis>(sides, o);
    for (int i = first; i <= last; ++i) {
        o[kStep] = static_cast<float>(i) + view[kStep];
        ray.side[kStep] = sides.n[kStep] * o[kStep];
        ray.near[kStep] = sides.fNear[kStep] * o[kStep];
        float hit, grid;
        const bool inside = AxisRayEnd<kAxis>(sides, ray, o, start, view[kAxis], dir, hit, grid);
        // As AxisRayHitOnAxis's result and clamp give the end: the boundary
        // when it lies outside the grid, else the hit truncated.
        float c = inside ? grid : o[kAxis];
        const float at = inside ? hit : start;
        AxisRayReach& reach = out[i - first];
        reach.fHit = at;
        reach.iEnd = ClampCoordToGrid(c) ? static_cast<int>(c - cell) : static_cast<int>(at);
    }
}

template <bool kEveryAxis>
void AxisRayHitAlong(const World& world, const SidePlanes& sides, float result[3], const float origin[3], int axis,
                      int direction, FrustumClamp& clamp) {
    if (axis == 0)
        AxisRayHitOn<0, kEveryAxis>(world, sides, result, origin, direction, clamp);
    else if (axis == 1)
        AxisRayHitOn<1, kEveryAxis>(world, sides, result, origin, direction, clamp);
    else
        AxisRayHitOn<2, kEveryAxis>(world, sides, result, origin, direction, clamp);
}

// The end of one run of a row: at the corner when it is inside, else where
// the ray's crossing and the two point tests put it, exactly as
// FindAxisRunEnd does. o is the ray's origin in grid coordinates, ray its
// line, crossing its first crossing along dir, view and cell the viewpoint's
// coordinate and cell on axis.
template <int kAxis, bool kEveryAxis>
void EndRowRun(const World& world, const SidePlanes& sides, const float o[3], const PlaneLine<kAxis>& ray,
               const float point[3], float view, float cell, int origin, int corner, float cornerPoint,
               float crossing, float dir, AxisRunEnd& end) {
    float grid = cornerPoint, at = static_cast<float>(corner);
    if (!end.iCorner) {
        const float from = static_cast<float>(origin);
        const float hit = from + crossing * dir;
        grid = hit + view;
        at = hit;
        // Either point inside keeps the hit, so the point a unit back, which
        // is inside far more often than the crossing itself, goes first. An
        // end that is not inside falls back to the origin.
        if (!InsideAt(sides, ray, grid - dir) && !InsideAt(sides, ray, grid)) {
            grid = o[kAxis];
            at = from;
        }
    }
    float c = grid;
    end.iClamped = ClampCoordToGrid(c);
    // A clamped end may lie anywhere beyond the grid; only an end inside it
    // is converted.
    end.iLimit = static_cast<int>(end.iClamped ? c - cell : at);
    if (kEveryAxis) {
        // The end's grid point: the other coordinates are the corner's or
        // the ray origin's.
        float p[3] = {point[0], point[1], point[2]};
        if (!end.iCorner) std::memcpy(p, o, sizeof(p));
        p[kAxis] = grid;
        ClampToGrid(world, p, end.clamp);
    }
}

// Both runs of a row from one origin share the ray's start: the planes'
// values there and the quotients. Toward -axis each quotient is the negated
// one toward +axis, bit for bit: a float quotient's magnitude does not depend
// on the operands' signs. point is the row's start as a grid point, corners
// its line, o the ray's origin in grid coordinates and ray its line.
template <int kAxis, bool kEveryAxis>
inline void EndRowRuns(const World& world, const SidePlanes& sides, int cell, float view, const int origin[3], int d,
                       const float point[3], const PlaneLine<kAxis>& corners, const float o[3],
                       const PlaneLine<kAxis>& ray, AxisRunEnd& low, AxisRunEnd& high) {
    const float lowCorner = static_cast<float>(cell - d), highCorner = static_cast<float>(cell + d);
    const int lowIn = InsideAt(sides, corners, lowCorner), highIn = InsideAt(sides, corners, highCorner);
    low.iCorner = lowIn;
    high.iCorner = highIn;

    float lowCrossing = kNoCrossing, highCrossing = kNoCrossing;
    if (!(lowIn & highIn)) {
        const Float4 n = sides.n[kAxis];
        const Float4 q = -SideValuesAt(sides, ray, o[kAxis]) / n;
        const Int4 across = n != 0;
        const Float4 none = {kNoCrossing, kNoCrossing, kNoCrossing, kNoCrossing};
        const Float4 highT = (across & (q >= 0)) ? q : none;
        const Float4 lowT = (across & (-q >= 0)) ? -q : none;
        const float nearN = sides.fNear[kAxis];
        // A near plane along the ray has no crossing; the quotient is then
        // left unused, and its divisor is kept off zero.
        const float nearQ = -NearValueAt(sides, ray, o[kAxis]) / (nearN != 0 ? nearN : 1.0f);
        const float nearHigh = nearN != 0 && nearQ >= 0 ? nearQ : kNoCrossing;
        const float nearLow = nearN != 0 && -nearQ >= 0 ? -nearQ : kNoCrossing;
        // Every candidate is a number, so the order of the minimum matters
        // only between +0 and -0, and the hit is the origin for either.
        // Lanes 0 and 2 end with the least of highT and of lowT.
        const Float4 front = {highT[0], highT[1], lowT[0], lowT[1]}, back = {highT[2], highT[3], lowT[2], lowT[3]};
        const Float4 pairs = front < back ? front : back;
        const Float4 swapped = {pairs[1], pairs[0], pairs[3], pairs[2]};
        const Float4 least = pairs < swapped ? pairs : swapped;
        highCrossing = std::min(least[0], nearHigh);
        lowCrossing = std::min(least[2], nearLow);
    }
    const float at = static_cast<float>(cell);
    EndRowRun<kAxis, kEveryAxis>(world, sides, o, ray, point, view, at, origin[kAxis], -d, lowCorner, lowCrossing,
                                 -1.0f, low);
    EndRowRun<kAxis, kEveryAxis>(world, sides, o, ray, point, view, at, origin[kAxis], d, highCorner, highCrossing,
                                 1.0f, high);
}

template <int kAxis, bool kEveryAxis>
void FindRowRunEndsOn(const World& world, const int origin[3], int d, AxisRunEnd& low, AxisRunEnd& high) {
    const SidePlanes sides = LoadSidePlanes(world);
    const int cell[3] = {world.iViewCellX, world.iViewCellY, world.iViewCellZ};
    float point[3];
    for (int k = 0; k < 3; ++k) point[k] = static_cast<float>(cell[k] + origin[k]);
    const float o[3] = {static_cast<float>(origin[0]) + world.fViewX, static_cast<float>(origin[1]) + world.fViewY,
                        static_cast<float>(origin[2]) + world.fViewZ};
    const float view = kAxis == 0 ? world.fViewX : kAxis == 1 ? world.fViewY : world.fViewZ;
    EndRowRuns<kAxis, kEveryAxis>(world, sides, cell[kAxis], view, origin, d, point, LineThrough<kAxis>(sides, point),
                                  o, LineThrough<kAxis>(sides, o), low, high);
}

// FindRowRunEndsAcross with the row's axis and the stepped one fixed: the
// planes' products with the coordinate no row changes are formed once.
template <int kAxis, int kStep>
void FindRowRunEndsAcrossOn(const World& world, const int origin[3], int d, int first, int last, AxisRunEnd* low,
                            AxisRunEnd* high) {
    static_assert(kAxis != kStep, "the rows step across their axis");
    const SidePlanes sides = LoadSidePlanes(world);
    const int cell[3] = {world.iViewCellX, world.iViewCellY, world.iViewCellZ};
    const float view[3] = {world.fViewX, world.fViewY, world.fViewZ};
    int at[3] = {origin[0], origin[1], origin[2]};
    at[kStep] = first;
    float point[3], o[3];
    for (int k = 0; k < 3; ++k) {
        point[k] = static_cast<float>(cell[k] + at[k]);
        o[k] = static_cast<float>(at[k]) + view[k];
    }
    PlaneLine<kAxis> corners = LineThrough<kAxis>(sides, point), ray = LineThrough<kAxis>(sides, o);
    for (int i = first; i <= last; ++i) {
        at[kStep] = i;
        point[kStep] = static_cast<float>(cell[kStep] + i);
        o[kStep] = static_cast<float>(i) + view[kStep];
        corners.side[kStep] = sides.n[kStep] * point[kStep];
        corners.near[kStep] = sides.fNear[kStep] * point[kStep];
        ray.side[kStep] = sides.n[kStep] * o[kStep];
        ray.near[kStep] = sides.fNear[kStep] * o[kStep];
        EndRowRuns<kAxis, false>(world, sides, cell[kAxis], view[kAxis], at, d, point, corners, o, ray, low[i - first],
                                 high[i - first]);
    }
}

template <bool kEveryAxis>
void FindRowRunEndsOnAxis(const World& world, const int origin[3], int axis, int d, AxisRunEnd& low,
                          AxisRunEnd& high) {
    if (axis == 0)
        FindRowRunEndsOn<0, kEveryAxis>(world, origin, d, low, high);
    else if (axis == 1)
        FindRowRunEndsOn<1, kEveryAxis>(world, origin, d, low, high);
    else
        FindRowRunEndsOn<2, kEveryAxis>(world, origin, d, low, high);
}

// Calls f with the run axis and the axis the rows step along, as constants,
// for the six pairs of distinct axes.
template <typename F>
void WithAxisAndStep(int axis, int step, F&& f) {
    assert(axis >= 0 && axis < 3 && step >= 0 && step < 3 && step != axis);
    using A0 = std::integral_constant<int, 0>;
    using A1 = std::integral_constant<int, 1>;
    using A2 = std::integral_constant<int, 2>;
    switch (axis * 3 + step) {
        case 1:
            f(A0{}, A1{});
            break;
        case 2:
            f(A0{}, A2{});
            break;
        case 3:
            f(A1{}, A0{});
            break;
        case 5:
            f(A1{}, A2{});
            break;
        case 6:
            f(A2{}, A0{});
            break;
        default:
            f(A2{}, A1{});
            break;
    }
}

}  // namespace

void FindAxisRunEnd(const World& world, const int origin[3], int axis, int corner, int direction, AxisRunEnd& end) {
    const int cell[3] = {world.iViewCellX, world.iViewCellY, world.iViewCellZ};
    float point[3];
    for (int k = 0; k < 3; ++k) point[k] = static_cast<float>(cell[k] + (k == axis ? corner : origin[k]));
    // The corner's clamp is wanted only when the corner ends the run; a ray
    // overwrites it otherwise.
    const SidePlanes sides = LoadSidePlanes(world);
    end.iCorner = InsideAllPlanes(sides, point);
    float hit[3];
    if (end.iCorner) {
        ClampToGrid(world, point, end.clamp);
    } else {
        const float from[3] = {static_cast<float>(origin[0]), static_cast<float>(origin[1]),
                               static_cast<float>(origin[2])};
        AxisRayHitAlong<true>(world, sides, hit, from, axis, direction, end.clamp);
    }
    end.iClamped = end.clamp.iOutside[axis];
    // A clamped end may lie anywhere beyond the grid, up to the largest float;
    // only an end inside the grid is converted.
    if (end.iClamped)
        end.iLimit = static_cast<int>(end.clamp.fClamp[axis]);
    else
        end.iLimit = end.iCorner ? corner : static_cast<int>(hit[axis]);
}

void FindRowRunEnds(const World& world, const int origin[3], int axis, int d, AxisRunEnd& low, AxisRunEnd& high) {
    FindRowRunEndsOnAxis<false>(world, origin, axis, d, low, high);
}

void FindRowRunEndsAcross(const World& world, const int origin[3], int axis, int d, int step, int first, int last,
                          AxisRunEnd* low, AxisRunEnd* high) {
    WithAxisAndStep(axis, step, [&](auto a, auto s) {
        FindRowRunEndsAcrossOn<decltype(a)::value, decltype(s)::value>(world, origin, d, first, last, low, high);
    });
}

void FindRowRunEndsEveryAxis(const World& world, const int origin[3], int axis, int d, AxisRunEnd& low,
                             AxisRunEnd& high) {
    FindRowRunEndsOnAxis<true>(world, origin, axis, d, low, high);
}

void AxisRayHit(const World& world, float result[3], const float origin[3], int axis, int direction,
                FrustumClamp& clamp) {
    AxisRayHitAlong<true>(world, LoadSidePlanes(world), result, origin, axis, direction, clamp);
}

void AxisRayHitOnAxis(const World& world, float result[3], const float origin[3], int axis, int direction,
                      FrustumClamp& clamp) {
    AxisRayHitAlong<false>(world, LoadSidePlanes(world), result, origin, axis, direction, clamp);
}

void AxisRayReaches(const World& world, const int from[3], int axis, int direction, int step, int first, int last,
                    AxisRayReach* out) {
    WithAxisAndStep(axis, step, [&](auto a, auto s) {
        AxisRayReachesOn<decltype(a)::value, decltype(s)::value>(world, from, direction, first, last, out);
    });
}

}  // namespace gridcull
