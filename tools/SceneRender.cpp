#include "SceneRender.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include "render/CameraView.h"
#include "render/IdColor.h"
#include "render/SceneGl.h"

namespace gridcull::bench {

namespace {

constexpr int kViewSide = kReadBackSide;  // the demo's 3D view is 300 x 300

}  // namespace

SceneRenderer::SceneRenderer(int framebufferSize) : iFramebufferSize_(framebufferSize) {}

SceneRenderer::~SceneRenderer() = default;

void SceneRenderer::Prepare(const World& world) { truth_.Spheres().Prepare(world); }

void SceneRenderer::SetupCamera(const World& world, int size) { SetupSceneCamera(world, 0, size); }

void SceneRenderer::BeginView(const World& world) {
    glDisable(GL_SCISSOR_TEST);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    SetupCamera(world, kViewSide);
    glShadeModel(GL_SMOOTH);
    glEnable(GL_DITHER);
    EnableSceneLights();
}

void SceneRenderer::EndView() { DisableSceneLights(); }

void SceneRenderer::DrawObjectHook(World& world, SceneObject& object, void* context) {
    auto* self = static_cast<SceneRenderer*>(context);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, object.fColor);
    AdvanceObjectAngles(object);
    self->truth_.DrawPlaced(world, object);
}

void SceneRenderer::DrawObjects(World& world, const unsigned char* set) {
    for (int n = 0; n < kObjectCount; ++n)
        if (!set || set[n]) DrawObjectHook(world, world.disks[n], this);
}

// A frame is done when its image can be read. With Mesa's llvmpipe, glFinish
// alone left part of a frame's work on the framebuffer object to the next
// frame (the culled set measured three times slower than after a read-back),
// so one pixel is read back as well: a present, as the demo's buffer swap is.
void SceneRenderer::Finish() {
    glFinish();
    GLubyte pixel[4];
    glReadPixels(0, 0, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
}

int SceneRenderer::RunExactPass(World& world, bool turnObjects) {
    SetupCamera(world, kViewSide);
    glDisable(GL_LIGHTING);
    // Identifier colours must reach the buffer bit-exact.
    glDisable(GL_DITHER);
    glClearColor(kIdBackdrop[0] / 255.0f, kIdBackdrop[1] / 255.0f, kIdBackdrop[2] / 255.0f, 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    for (int n = 0; n < kObjectCount; ++n) {
        if (!world.PVS[n]) continue;
        SceneObject& o = world.disks[n];
        if (turnObjects)
            AdvanceObjectAngles(o);
        glColor3ub(o.ucIdColor[0], o.ucIdColor[1], o.ucIdColor[2]);
        truth_.DrawPlaced(world, o);
    }
    glFinish();
    glReadPixels(0, 0, kViewSide, kViewSide, GL_RED, GL_UNSIGNED_BYTE, world.ucReadBufferR);
    glReadPixels(0, 0, kViewSide, kViewSide, GL_GREEN, GL_UNSIGNED_BYTE, world.ucReadBufferG);
    glReadPixels(0, 0, kViewSide, kViewSide, GL_BLUE, GL_UNSIGNED_BYTE, world.ucReadBufferB);
    glEnable(GL_DITHER);
    return MarkSeenObjects(world.ucReadBufferR, world.ucReadBufferG, world.ucReadBufferB, kReadBackPixels,
                           world.PVSEXACT);
}

int SceneRenderer::RunTruthPass(const World& world, int size, unsigned char* truth) {
    return truth_.Run(world, 0, size < iFramebufferSize_ ? size : iFramebufferSize_, truth);
}

}  // namespace gridcull::bench
