// What strict culling knows about the spheres as the 3D view draws them: the
// image looks through a sphere that holds the eye or that the near plane cuts
// open, and a drawn sphere is a lat-long polyhedron inside the true one.
#pragma once

#include "../scene/World.h"

namespace gridcull {

// Smallest distance from the centre to a face plane of the unit lat-long
// sphere of the given slices and stacks (the drawn solid), slightly rounded
// down. Any orientation: the drawn objects turn.
double TessellationInradius(int slices, int stacks);

// Takes this frame's camera for SeenThrough. Expects the frustum of this
// frame (fFarCorner) to be set up.
void SetupSeeThroughCamera(World& world);

// Whether the object's sphere holds the eye or reaches the near plane's
// rectangle of the camera last set up: the image looks through it (back
// faces culled) and it occludes nothing this frame.
bool SeenThrough(const World& world, const SceneObject& o);

// Strict culling's occluder test for cell g = (x, y, z), whose O bit is set:
// true when some object of I[g] that is not seen through holds the
// whole cell inside the polyhedron it is drawn as. Never calls a cell solid
// that the image can see through or past.
bool CellHeldSolid(const World& world, int g, int x, int y, int z);

}  // namespace gridcull
