// OpenGL state shared by the demo's 3D view and the runner's offscreen view,
// so both draw the scene the same way. Needs a current GL context.
#pragma once

#include <GL/gl.h>
#include <GL/glu.h>

#include "render/CameraView.h"
#include "scene/SceneObject.h"

namespace gridcull {

struct SceneLight {
    GLenum light;
    GLfloat position[4];  // w = 1: point lights, placed under an identity modelview
    GLfloat diffuse[4];
    bool bSetDiffuse;     // light 0 keeps GL's default white
};

inline constexpr SceneLight kSceneLights[4] = {
    {GL_LIGHT0, {70, 70, 70, 1}, {1, 1, 1, 1}, false},
    {GL_LIGHT1, {0, 35, -35, 1}, {0.5f, 0.5f, 0.5f, 1}, true},
    {GL_LIGHT2, {70, 70, 0, 1}, {0.6f, 0.6f, 0.6f, 1}, true},
    {GL_LIGHT3, {35, 35, 0, 1}, {0.5f, 0.5f, 0.5f, 1}, true},
};

// Lighting is computed in grid coordinates: the camera sits on the
// projection matrix and the modelview is the identity here.
inline void EnableSceneLights() {
    for (const SceneLight& l : kSceneLights) {
        glLightfv(l.light, GL_POSITION, l.position);
        if (l.bSetDiffuse) glLightfv(l.light, GL_DIFFUSE, l.diffuse);
    }
    glEnable(GL_LIGHTING);
    for (const SceneLight& l : kSceneLights) glEnable(l.light);
}

inline void DisableSceneLights() {
    for (int i = 3; i >= 0; --i) glDisable(kSceneLights[i].light);
    glDisable(GL_LIGHTING);
}

// The 3D view's camera on a size x size viewport at (left, 0): the culling
// frustum's eye, centre and up, near plane 0.1, far plane at the far
// rectangle. The view sits on the projection matrix and the modelview is the
// identity, so lighting is computed in grid coordinates. Back faces culled,
// depth test on.
inline void SetupSceneCamera(const World& world, int left, int size) {
    glViewport(left, 0, size, size);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(world.fFov, 1, kNearPlane, world.fFarDist);
    const LookAt v = CameraLookAt(world);
    gluLookAt(v.eye[0], v.eye[1], v.eye[2], v.centre[0], v.centre[1], v.centre[2], v.up[0], v.up[1], v.up[2]);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glEnable(GL_DEPTH_TEST);
}

// Modelview for one object: its position, then its angles about x, y, z.
inline void PlaceObject(const SceneObject& object) {
    glTranslatef(object.fPosition[0], object.fPosition[1], object.fPosition[2]);
    glRotatef(object.fAngle[0], 1, 0, 0);
    glRotatef(object.fAngle[1], 0, 1, 0);
    glRotatef(object.fAngle[2], 0, 0, 1);
}

// An object turns only while it is drawn, one step per draw.
inline void AdvanceObjectAngles(SceneObject& object) {
    for (int k = 0; k < 3; ++k) object.fAngle[k] += object.fAngularVelocity[k];
}

}  // namespace gridcull
