// Front-to-back walk of the grid in cube shells around the viewpoint cell.
#pragma once

#include "../scene/World.h"

namespace gridcull {

// Walks a 3D Bresenham line from start toward end (grid coordinates),
// traversing one shell per step, and stops after the first shell in which
// every scanned cell was hidden or an occluder.
void WalkViewAxis(World& world, int startX, int startY, int startZ, int endX, int endY, int endZ);

// Scans the shell through walk point (a, b, c), an offset from the viewpoint
// cell, then outlines and propagates its marked faces.
void TraverseShell(World& world, int a, int b, int c);

}  // namespace gridcull
