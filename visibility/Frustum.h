// View frustum in grid coordinates and its two tests.
//
// The side planes are pushed outward by half a cell measured along their
// normal, so a cell whose centre passes the point test is a cell whose cube
// reaches into the exact frustum: the tests may keep a cell that is outside,
// never drop one that is inside.
#pragma once

#include "scene/World.h"

namespace gridcull {

struct FrustumClamp {
    float fClamp[3];  // clamped coordinate as an offset from the viewpoint cell
    int iAnyOutside;
    int iOutside[3];  // per axis: the point lay outside 0..69 and was clamped
};

// Fills fFrustumPlane and fFarCorner from the viewpoint, fViewMatrix, fFov
// and fFarDist.
void SetupFrustum(World& world);

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

}  // namespace gridcull
