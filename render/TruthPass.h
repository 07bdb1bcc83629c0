// The true visible set, shared by the runner and the demo's miss overlay:
// every object the grid can hold, drawn in identifier colours exactly as the
// 3D view draws it and read back. Needs a current OpenGL context.
#pragma once

#include <vector>

#include "scene/World.h"

namespace gridcull {

// Display lists of the scene's spheres, one per distinct (radius, slices,
// stacks); the generated scene has about 55. gluSphere has the lat-long
// tessellation of the demo's solid sphere with the same radius, slices and
// stacks.
class SphereLists {
public:
    SphereLists();
    SphereLists(const SphereLists&) = delete;
    SphereLists& operator=(const SphereLists&) = delete;
    ~SphereLists();

    // Compiles every object's sphere up front, so no frame pays for a first use.
    void Prepare(const World& world);
    // Draws the object's sphere at the origin of the current modelview.
    void Draw(const World& world, const SceneObject& object);

private:
    unsigned ListOf(const World& world, const SceneObject& object);
    unsigned Compile(const SceneObject& object);

    struct Shape {
        float fRadius;
        int iSlices, iStacks;
        unsigned uList;
    };
    std::vector<Shape> shapes_;
    std::vector<unsigned> objectLists_;  // per object, 0 until looked up
    void* pQuadric_ = nullptr;
};

class TruthPass {
public:
    // The true visible set on a size x size viewport at (left, 0): every
    // object that reaches into the grid, at its current position and angles
    // (unchanged), through the 3D view's camera (back faces culled, near
    // plane kNearPlane) with the grid's box as clip planes. Fills truth,
    // returns its count. In literal mode a viewer in a solid view cell sees
    // nothing; strict mode holds the culling to the image itself.
    int Run(const World& world, int left, int size, unsigned char* truth);

    // Flat drawing of one object in the current colour, placed but not turned.
    void DrawPlaced(const World& world, const SceneObject& object);

    SphereLists& Spheres() { return spheres_; }

    // Skip objects wholly outside the drawn frustum; off only to check the
    // skip against drawing everything.
    bool bSkipOutsideView = true;

private:
    SphereLists spheres_;
    std::vector<unsigned char> rgba_;
};

}  // namespace gridcull
