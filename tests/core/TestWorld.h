// Worlds for the core suites: an empty grid (arrays allocated, no scene) or
// the generated scene, both freed by the owner.
#pragma once

#include <memory>

#include "scene/World.h"

namespace gridcull::test {

struct WorldDeleter {
    void operator()(World* w) const { DeleteWorld(w); }
};
using WorldPtr = std::unique_ptr<World, WorldDeleter>;

// All arrays allocated and zeroed, nothing registered, option flags as after
// set-up, camera at the start position.
WorldPtr MakeEmptyWorld();
// The full set-up: the generated scene with its static objects registered.
WorldPtr MakeSceneWorld();

// Places dynamic object j (0..199) at p with velocity v and bounding radius R
// (also its drawn radius), unregistered.
void PlaceDynamic(World& w, int j, float px, float py, float pz, float vx, float vy, float vz, float R);

// Camera on cell centre (x, y, z) looking along (fx, fy, fz), up y (z when
// looking along y), frustum set up.
void AimCamera(World& w, int x, int y, int z, float fx, float fy, float fz, float fov);

}  // namespace gridcull::test
