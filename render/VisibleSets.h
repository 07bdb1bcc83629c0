// GL-free pieces of the read-back passes of the runner and the demo: which
// objects the true visible set considers, when the viewer stands inside a
// solid object, decoding of the read-back and the count of misses.
#pragma once

#include "scene/World.h"

namespace gridcull {

// The object's registration cube (half edge fBoundRadius, limits rounded half
// away from zero) overlaps cells 0..69 on every axis: the grid can hold it.
bool ReachesIntoGrid(const SceneObject& object);

// The viewpoint cell lies entirely inside one object's sphere at its current
// position: a static occluder cell, or all eight corners within the sphere of
// a moving object. The viewer then sees nothing.
bool ViewCellIsSolid(const World& world);

// Rebuilds seen[0..kObjectCount) from interleaved RGBA pixels; values that
// decode to kObjectCount or more (the backdrop) are ignored. Returns the
// number of objects seen.
int MarkSeenRgba(const unsigned char* rgba, int pixels, unsigned char* seen);

// Objects in truth but not in found.
int CountMisses(const unsigned char* truth, const unsigned char* found);

}  // namespace gridcull
