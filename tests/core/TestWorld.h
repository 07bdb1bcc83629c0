// Worlds for the test suites: an empty grid (arrays allocated, no scene) or
// the generated scene, both freed by the owner, and a fixture holding an
// empty grid.
#pragma once

#include <gtest/gtest.h>

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

// A fresh empty grid for every test.
class EmptyGrid : public ::testing::Test {
protected:
    WorldPtr world_ = MakeEmptyWorld();
    World& w = *world_;
};

// Places dynamic object j (0..199) at p with velocity v and bounding radius R
// (also its drawn radius), unregistered.
void PlaceDynamic(World& w, int j, float px, float py, float pz, float vx, float vy, float vz, float R);
// PlaceDynamic, then a temporal volume for frames start..end around p, in
// the temporal-volume state; returns the volume's half edge.
int GiveVolume(World& w, int j, float px, float py, float pz, float vx, float vy, float vz, float R, int start,
               int end);

// Camera on cell centre (x, y, z) looking along (fx, fy, fz), up y (z when
// looking along y), frustum set up.
void AimCamera(World& w, int x, int y, int z, float fx, float fy, float fz, float fov);

// Column sets and footprint bitsets agree: every column-set entry has its
// bit, and each dynamic object (only the given one when only >= 0) has as
// many bits as entries, and entries only while it has a volume.
::testing::AssertionResult FootprintsAgree(const World& w, int only = -1);
// Number of grid cells whose object set holds j.
int CellsHolding(const World& w, int j);

}  // namespace gridcull::test
