// Drawing of the scene into the offscreen framebuffer: the demo's 3D view
// (camera, lights, grey spheres) and the identifier passes that measure the
// exactly and the truly visible sets. Needs a current OpenGL context.
#pragma once

#include "render/TruthPass.h"
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

    // The true visible set at size x size pixels (TruthPass), at most the
    // framebuffer's size. Fills truth, returns its count.
    int RunTruthPass(const World& world, int size, unsigned char* truth);
    TruthPass& Truth() { return truth_; }

private:
    void SetupCamera(const World& world, int size);

    TruthPass truth_;
    int iFramebufferSize_;
};

}  // namespace gridcull::bench
