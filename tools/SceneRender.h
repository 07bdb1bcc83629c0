// Drawing of the scene into the offscreen framebuffer: the demo's 3D view
// (camera, lights, grey spheres) and the identifier passes that measure the
// exactly and the truly visible sets. Needs a current OpenGL context.
#pragma once

#include <vector>

#include "scene/World.h"

namespace gridcull::bench {

class SceneRenderer {
public:
    // framebufferSize: pixels per side of the bound framebuffer; the 3D view
    // uses its lower left 300 x 300, the truth pass up to all of it.
    explicit SceneRenderer(int framebufferSize);
    SceneRenderer(const SceneRenderer&) = delete;
    SceneRenderer& operator=(const SceneRenderer&) = delete;
    ~SceneRenderer();

    // Compiles the sphere of every object up front, so that no frame pays
    // for a first use.
    void Prepare(const World& world);

    // Black 3D view, the demo's camera and its four lights, lighting on.
    void BeginView(const World& world);
    void EndView();

    // Shaded drawing of one object, turning it by one step as the demo does;
    // the core's draw hook (context: this renderer).
    static void DrawObjectHook(World& world, SceneObject& object, void* context);
    // Shaded drawing of every object with set[n] nonzero, or of all objects
    // when set is null, in index order.
    void DrawObjects(World& world, const unsigned char* set);
    void Finish();

    // The demo's exact-visibility pass: the potentially visible set in
    // identifier colours over the 300 x 300 view, read back into the world's
    // buffers; fills PVSEXACT and returns its count. turnObjects: advance
    // each drawn object's angles, as the demo does when this is the frame's
    // only drawing.
    int RunExactPass(World& world, bool turnObjects);

    // The true visible set at size x size pixels: every object that reaches
    // into the grid, at its current position and angles (unchanged), seen
    // through the culling frustum's camera with the grid's box as clip planes.
    // Empty when the viewpoint cell is solid. Fills truth, returns its count.
    int RunTruthPass(const World& world, int size, unsigned char* truth);

private:
    unsigned SphereList(const SceneObject& object);
    unsigned ListOf(const World& world, const SceneObject& object);
    void SetupCamera(const World& world, int size);
    void DrawIdentified(const World& world, const SceneObject& object);

    struct Shape {
        float fRadius;
        int iSlices, iStacks;
        unsigned uList;
    };
    std::vector<Shape> shapes_;
    std::vector<unsigned> objectLists_;  // per object, 0 until looked up
    std::vector<unsigned char> rgba_;
    void* pQuadric_ = nullptr;
    int iFramebufferSize_;
};

}  // namespace gridcull::bench
