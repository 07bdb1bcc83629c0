#include "SceneRender.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include "VisibleSets.h"
#include "render/CameraView.h"
#include "render/IdColor.h"
#include "render/SceneGl.h"

namespace gridcull::bench {

namespace {

constexpr int kViewSide = kReadBackSide;  // the demo's 3D view is 300 x 300

// A point is kept where a x + b y + c z + d >= 0: the grid spans -0.5..69.5,
// and a surface outside it lies in space that no cell covers.
const GLdouble kGridClipPlanes[6][4] = {
    {1, 0, 0, 0.5}, {-1, 0, 0, kGridSize - 0.5}, {0, 1, 0, 0.5},
    {0, -1, 0, kGridSize - 0.5}, {0, 0, 1, 0.5}, {0, 0, -1, kGridSize - 0.5},
};

GLUquadric* Quadric(void* p) { return static_cast<GLUquadric*>(p); }

}  // namespace

SceneRenderer::SceneRenderer(int framebufferSize)
    : objectLists_(kObjectCount, 0), iFramebufferSize_(framebufferSize) {
    GLUquadric* q = gluNewQuadric();
    gluQuadricNormals(q, GLU_SMOOTH);
    gluQuadricDrawStyle(q, GLU_FILL);
    gluQuadricOrientation(q, GLU_OUTSIDE);
    pQuadric_ = q;
}

SceneRenderer::~SceneRenderer() {
    for (const Shape& s : shapes_) glDeleteLists(s.uList, 1);
    if (pQuadric_) gluDeleteQuadric(Quadric(pQuadric_));
}

// One list per distinct (radius, slices, stacks); the generated scene has
// about 55. gluSphere has the lat-long tessellation of the demo's solid
// sphere with the same radius, slices and stacks.
unsigned SceneRenderer::SphereList(const SceneObject& object) {
    const int slices = static_cast<int>(object.fSlices);
    const int stacks = static_cast<int>(object.fStacks);
    for (const Shape& s : shapes_)
        if (s.fRadius == object.fRadius && s.iSlices == slices && s.iStacks == stacks) return s.uList;
    const GLuint list = glGenLists(1);
    glNewList(list, GL_COMPILE);
    gluSphere(Quadric(pQuadric_), object.fRadius, slices, stacks);
    glEndList();
    shapes_.push_back({object.fRadius, slices, stacks, list});
    return list;
}

unsigned SceneRenderer::ListOf(const World& world, const SceneObject& object) {
    unsigned& list = objectLists_[&object - world.disks];
    if (list == 0) list = SphereList(object);
    return list;
}

void SceneRenderer::Prepare(const World& world) {
    for (int n = 0; n < kObjectCount; ++n) objectLists_[n] = SphereList(world.disks[n]);
}

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
    glPushMatrix();
    PlaceObject(object);
    glCallList(self->ListOf(world, object));
    glPopMatrix();
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

void SceneRenderer::DrawIdentified(const World& world, const SceneObject& object) {
    glColor3ub(object.ucIdColor[0], object.ucIdColor[1], object.ucIdColor[2]);
    glPushMatrix();
    PlaceObject(object);
    glCallList(ListOf(world, object));
    glPopMatrix();
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
        DrawIdentified(world, o);
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
    if (size > iFramebufferSize_) size = iFramebufferSize_;
    if (ViewCellIsSolid(world)) {
        for (int n = 0; n < kObjectCount; ++n) truth[n] = 0;
        return 0;
    }
    SetupCamera(world, size);
    glDisable(GL_LIGHTING);
    glDisable(GL_DITHER);
    for (int i = 0; i < 6; ++i) {
        glClipPlane(GL_CLIP_PLANE0 + i, kGridClipPlanes[i]);
        glEnable(GL_CLIP_PLANE0 + i);
    }
    glClearColor(kIdBackdrop[0] / 255.0f, kIdBackdrop[1] / 255.0f, kIdBackdrop[2] / 255.0f, 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    for (int n = 0; n < kObjectCount; ++n)
        if (ReachesIntoGrid(world.disks[n])) DrawIdentified(world, world.disks[n]);
    for (int i = 0; i < 6; ++i) glDisable(GL_CLIP_PLANE0 + i);
    rgba_.resize(static_cast<size_t>(size) * size * 4);
    glReadPixels(0, 0, size, size, GL_RGBA, GL_UNSIGNED_BYTE, rgba_.data());
    glEnable(GL_DITHER);
    return MarkSeenRgba(rgba_.data(), size * size, truth);
}

}  // namespace gridcull::bench
