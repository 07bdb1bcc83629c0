// One displayed frame: the GL drawing steps around the core's frame
// operations.
#include <GL/glut.h>

#include "app/App.h"
#include "app/CameraView.h"
#include "visibility/Frame.h"

namespace gridcull {

FpsMeter gFpsMeter;

int ElapsedMilliseconds() { return glutGet(GLUT_ELAPSED_TIME); }

namespace {

struct PointLight {
    GLenum light;
    GLfloat position[4];
    GLfloat diffuse[4];
    bool bSetDiffuse;  // light 0 keeps GL's default white
};

const PointLight kSceneLights[4] = {
    {GL_LIGHT0, {70, 70, 70, 1}, {1, 1, 1, 1}, false},
    {GL_LIGHT1, {0, 35, -35, 1}, {0.5f, 0.5f, 0.5f, 1}, true},
    {GL_LIGHT2, {70, 70, 0, 1}, {0.6f, 0.6f, 0.6f, 1}, true},
    {GL_LIGHT3, {35, 35, 0, 1}, {0.5f, 0.5f, 0.5f, 1}, true},
};

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
    glViewport(kView3DLeft, 0, kViewSize, kViewSize);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(world.fFov, 1, 0.1, world.fFarDist);
    const LookAt v = CameraLookAt(world);
    gluLookAt(v.eye[0], v.eye[1], v.eye[2], v.centre[0], v.centre[1], v.centre[2], v.up[0], v.up[1], v.up[2]);
    // Lighting is computed in grid coordinates: the view sits on the
    // projection matrix.
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glEnable(GL_DEPTH_TEST);
    glShadeModel(GL_SMOOTH);
}

void EnableSceneLights() {
    for (const PointLight& l : kSceneLights) {
        glLightfv(l.light, GL_POSITION, l.position);
        if (l.bSetDiffuse) glLightfv(l.light, GL_DIFFUSE, l.diffuse);
    }
    glEnable(GL_LIGHTING);
    for (const PointLight& l : kSceneLights) glEnable(l.light);
}

void DisableSceneLights() {
    for (int i = 3; i >= 0; --i) glDisable(kSceneLights[i].light);
    glDisable(GL_LIGHTING);
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
