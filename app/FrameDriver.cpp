// One displayed frame: the GL drawing steps around the core's frame
// operations.
#include <GL/glut.h>

#include "app/App.h"
#include "render/SceneGl.h"
#include "visibility/Frame.h"

namespace gridcull {

FpsMeter gFpsMeter;

int ElapsedMilliseconds() { return glutGet(GLUT_ELAPSED_TIME); }

namespace {

// Fills the 3D view with black behind the objects. A scissored clear cannot
// be lost to clipping, unlike a quad placed on the far plane.
void DrawBackdrop() {
    glEnable(GL_SCISSOR_TEST);
    glScissor(kView3DLeft, 0, kViewSize, kViewSize);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
}

void SetupCamera3D(const World& world) {
    SetupSceneCamera(world, kView3DLeft, kViewSize);
    glShadeModel(GL_SMOOTH);
}

}  // namespace

void FrameDriver(World& world) {
    glClearColor(1, 1, 1, 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

    const double fps = UpdateFpsMeter(gFpsMeter, ElapsedMilliseconds);
    BeginFrame(world);

    DrawBackdrop();
    SetupCamera3D(world);
    EnableSceneLights();

    // Draws each newly found object through world.pfnDrawObject.
    RunVisibilityPass(world);
    DisableSceneLights();

    int exactCount = 0;
    if (!world.bRenderingDisabled && world.bExactVisibility) exactCount = RunExactVisibilityPass(world);

    // The overview shows this frame's hidden and occluder cells, so it comes
    // before the grid reset.
    DrawOverview(world);
    SetupTextView();
    const FrameCounts counts = ResetGridAndCount(world, fps);
    DrawStatusPanel(world, fps, counts, exactCount);

    AdvanceFrame(world);
    glutSwapBuffers();
    glFinish();
}

void OnDisplay() { FrameDriver(*gWorld); }

}  // namespace gridcull
