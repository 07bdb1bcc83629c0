// Object drawing in the 3D view and the exact-visibility read-back.
#include <GL/glut.h>

#include "app/App.h"
#include "render/IdColor.h"
#include "render/SceneGl.h"

namespace gridcull {

namespace {

// One compiled sphere per distinct (radius, slices, stacks); the scene has
// about 55. Each object remembers its list after the first lookup.
struct SphereList {
    float fRadius;
    int iSlices;
    int iStacks;
    GLuint uList;
};
constexpr int kMaxSphereLists = 256;
SphereList gSphereLists[kMaxSphereLists];
int gSphereListCount = 0;
GLuint gObjectList[kObjectCount];  // 0: not looked up yet

// The list of this sphere shape, compiled on first use; 0 when the cache is
// full or GL has no list to give, and the caller draws the sphere directly.
GLuint FindSphereList(float radius, int slices, int stacks) {
    for (int i = 0; i < gSphereListCount; ++i) {
        const SphereList& s = gSphereLists[i];
        if (s.fRadius == radius && s.iSlices == slices && s.iStacks == stacks) return s.uList;
    }
    if (gSphereListCount == kMaxSphereLists) return 0;
    const GLuint list = glGenLists(1);
    if (list == 0) return 0;
    glNewList(list, GL_COMPILE);
    glutSolidSphere(radius, slices, stacks);
    glEndList();
    gSphereLists[gSphereListCount++] = {radius, slices, stacks, list};
    return list;
}

void DrawSphere(const World& world, const SceneObject& object) {
    const int slices = static_cast<int>(object.fSlices);
    const int stacks = static_cast<int>(object.fStacks);
    const long index = &object - world.disks;
    if (index >= 0 && index < kObjectCount) {
        GLuint& list = gObjectList[index];
        if (list == 0) list = FindSphereList(object.fRadius, slices, stacks);
        if (list != 0) {
            glCallList(list);
            return;
        }
    }
    glutSolidSphere(object.fRadius, slices, stacks);
}

}  // namespace

void DrawObject(World& world, SceneObject& object, void*) {
    if (world.bExactVisibility)
        glColor3ub(object.ucIdColor[0], object.ucIdColor[1], object.ucIdColor[2]);
    else
        glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, object.fColor);
    AdvanceObjectAngles(object);
    glPushMatrix();
    PlaceObject(object);
    DrawSphere(world, object);
    glPopMatrix();
}

int RunExactVisibilityPass(World& world) {
    glDisable(GL_LIGHTING);
    // Nothing was drawn into the 3D view in this mode. Repaint it with a
    // colour that decodes to no object, so only covered pixels count.
    glEnable(GL_SCISSOR_TEST);
    glScissor(kView3DLeft, 0, kViewSize, kViewSize);
    glClearColor(kIdBackdrop[0] / 255.0f, kIdBackdrop[1] / 255.0f, kIdBackdrop[2] / 255.0f, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
    // Identifier colours must reach the buffer bit-exact.
    glDisable(GL_DITHER);

    for (int n = 0; n < kObjectCount; ++n)
        if (world.PVS[n]) DrawObject(world, world.disks[n], nullptr);
    glFinish();

    glReadPixels(kView3DLeft, 0, kViewSize, kViewSize, GL_RED, GL_UNSIGNED_BYTE, world.ucReadBufferR);
    glReadPixels(kView3DLeft, 0, kViewSize, kViewSize, GL_GREEN, GL_UNSIGNED_BYTE, world.ucReadBufferG);
    glReadPixels(kView3DLeft, 0, kViewSize, kViewSize, GL_BLUE, GL_UNSIGNED_BYTE, world.ucReadBufferB);
    glEnable(GL_DITHER);
    return MarkSeenObjects(world.ucReadBufferR, world.ucReadBufferG, world.ucReadBufferB, kReadBackPixels,
                           world.PVSEXACT);
}

}  // namespace gridcull
