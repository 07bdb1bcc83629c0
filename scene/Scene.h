// Scene generation and the motion of the moving objects.
#pragma once

#include "World.h"

namespace gridcull {

// Fills all 5000 objects from the scene's generator (state starting at 1),
// registers the static ones in the grid and sets every PVS and PVSVF entry
// to 1. Exactly 200 x 21 + 4800 x 19 draws are made, in a fixed order.
void GenerateScene(World& world);

// One frame of straight-line motion; a component reverses when the new
// position passes fBounds - R - 3 or falls below R + 3. The position itself is
// never clamped.
void MoveObject(SceneObject& object);

}  // namespace gridcull
