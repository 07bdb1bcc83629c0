// One displayed frame: the GL drawing steps around the core's frame
// operations.
#include <GL/glut.h>

#include "app/App.h"
#include "render/SceneGl.h"
#include "render/TruthPass.h"
#include "render/VisibleSets.h"
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

// Made on first use, inside a frame, when the GL context exists.
TruthPass& Truth() {
    static TruthPass truth;
    return truth;
}
unsigned char gTruthSet[kObjectCount];

// Runs in the 3D view before the frame draws there; the pass's depth is
// cleared, as it would hide the frame's own drawing.
void MeasureTruth(const World& world) {
    Truth().Run(world, kView3DLeft, kViewSize, gTruthSet);
    glEnable(GL_SCISSOR_TEST);
    glScissor(kView3DLeft, 0, kViewSize, kViewSize);
    glClear(GL_DEPTH_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
}

// Truly visible objects outside the PVS, flat red over the 3D view, depth
// tested against what the frame drew: the red is what the image lacks.
// Returns their count.
int DrawMissOverlay(const World& world) {
    SetupCamera3D(world);
    glDisable(GL_LIGHTING);
    glColor3f(1, 0, 0);
    for (int n = 0; n < kObjectCount; ++n)
        if (gTruthSet[n] && !world.PVS[n]) Truth().DrawPlaced(world, world.disks[n]);
    return CountMisses(gTruthSet, world.PVS);
}

}  // namespace

void FrameDriver(World& world) {
    glClearColor(1, 1, 1, 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

    const double fps = UpdateFpsMeter(gFpsMeter, ElapsedMilliseconds);
    BeginFrame(world);

    // With rendering off the 3D view stays blank, as for the exact pass.
    const bool overlay = bMissOverlay && !world.bRenderingDisabled;
    if (overlay) MeasureTruth(world);

    DrawBackdrop();
    SetupCamera3D(world);
    EnableSceneLights();

    // Draws each newly found object through world.pfnDrawObject.
    RunVisibilityPass(world);
    DisableSceneLights();

    int exactCount = 0;
    if (!world.bRenderingDisabled && world.bExactVisibility) exactCount = RunExactVisibilityPass(world);
    const int missedCount = overlay ? DrawMissOverlay(world) : -1;

    // The overview shows this frame's hidden and occluder cells, so it comes
    // before the grid reset.
    DrawOverview(world);
    SetupTextView();
    const FrameCounts counts = ResetGridAndCount(world, fps);
    DrawStatusPanel(world, fps, counts, exactCount, missedCount);

    AdvanceFrame(world);
    glutSwapBuffers();
    glFinish();
}

void OnDisplay() { FrameDriver(*gWorld); }

}  // namespace gridcull
