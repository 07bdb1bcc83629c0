#include "SceneRender.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include "VisibleSets.h"
#include "app/CameraView.h"
#include "app/IdColor.h"

namespace gridcull::bench {

namespace {

constexpr int kViewSide = kReadBackSide;  // the demo's 3D view is 300 x 300
constexpr double kNearDist = 0.1;

struct PointLight {
    GLenum light;
    GLfloat position[4];
    GLfloat diffuse[4];
    bool bSetDiffuse;  // light 0 keeps GL's default white
};

// The demo's lights, positioned under an identity modelview: lighting is
// computed in grid coordinates.
const PointLight kSceneLights[4] = {
    {GL_LIGHT0, {70, 70, 70, 1}, {1, 1, 1, 1}, false},
    {GL_LIGHT1, {0, 35, -35, 1}, {0.5f, 0.5f, 0.5f, 1}, true},
    {GL_LIGHT2, {70, 70, 0, 1}, {0.6f, 0.6f, 0.6f, 1}, true},
    {GL_LIGHT3, {35, 35, 0, 1}, {0.5f, 0.5f, 0.5f, 1}, true},
};

// A point is kept where a x + b y + c z + d >= 0: the grid spans -0.5..69.5,
// and a surface outside it lies in space that no cell covers.
const GLdouble kGridClipPlanes[6][4] = {
    {1, 0, 0, 0.5}, {-1, 0, 0, kGridSize - 0.5}, {0, 1, 0, 0.5},
    {0, -1, 0, kGridSize - 0.5}, {0, 0, 1, 0.5}, {0, 0, -1, kGridSize - 0.5},
};

GLUquadric* Quadric(void* p) { return static_cast<GLUquadric*>(p); }

void PlaceObject(const SceneObject& object) {
    glTranslatef(object.fPosition[0], object.fPosition[1], object.fPosition[2]);
    glRotatef(object.fAngle[0], 1, 0, 0);
    glRotatef(object.fAngle[1], 0, 1, 0);
    glRotatef(object.fAngle[2], 0, 0, 1);
}

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

void SceneRenderer::SetupCamera(const World& world, int size) {
    glViewport(0, 0, size, size);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(world.fFov, 1, kNearDist, world.fFarDist);
    const LookAt v = CameraLookAt(world);
    gluLookAt(v.eye[0], v.eye[1], v.eye[2], v.centre[0], v.centre[1], v.centre[2], v.up[0], v.up[1], v.up[2]);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glEnable(GL_DEPTH_TEST);
}

void SceneRenderer::BeginView(const World& world) {
    glDisable(GL_SCISSOR_TEST);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    SetupCamera(world, kViewSide);
    glShadeModel(GL_SMOOTH);
    glEnable(GL_DITHER);
    for (const PointLight& l : kSceneLights) {
        glLightfv(l.light, GL_POSITION, l.position);
        if (l.bSetDiffuse) glLightfv(l.light, GL_DIFFUSE, l.diffuse);
    }
    glEnable(GL_LIGHTING);
    for (const PointLight& l : kSceneLights) glEnable(l.light);
}

void SceneRenderer::EndView() {
    for (int i = 3; i >= 0; --i) glDisable(kSceneLights[i].light);
    glDisable(GL_LIGHTING);
}

void SceneRenderer::DrawObjectHook(World& world, SceneObject& object, void* context) {
    auto* self = static_cast<SceneRenderer*>(context);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, object.fColor);
    // An object turns only while it is drawn, one step per draw.
    for (int k = 0; k < 3; ++k) object.fAngle[k] += object.fAngularVelocity[k];
    glPushMatrix();
    PlaceObject(object);
    glCallList(self->ListOf(world, object));
    glPopMatrix();
}

void SceneRenderer::DrawObjects(World& world, const unsigned char* set) {
    for (int n = 0; n < kObjectCount; ++n)
        if (!set || set[n]) DrawObjectHook(world, world.disks[n], this);
}

void SceneRenderer::Finish() { glFinish(); }

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
            for (int k = 0; k < 3; ++k) o.fAngle[k] += o.fAngularVelocity[k];
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
