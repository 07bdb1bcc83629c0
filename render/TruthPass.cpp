#include "render/TruthPass.h"

#include "render/CameraView.h"
#include "render/IdColor.h"
#include "render/SceneGl.h"
#include "render/VisibleSets.h"

namespace gridcull {

namespace {

// A point is kept where a x + b y + c z + d >= 0: the grid spans -0.5..69.5,
// and a surface outside it lies in space that no cell covers.
const GLdouble kGridClipPlanes[6][4] = {
    {1, 0, 0, 0.5}, {-1, 0, 0, kGridSize - 0.5}, {0, 1, 0, 0.5},
    {0, -1, 0, kGridSize - 0.5}, {0, 0, 1, 0.5}, {0, 0, -1, kGridSize - 0.5},
};

GLUquadric* Quadric(void* p) { return static_cast<GLUquadric*>(p); }

}  // namespace

SphereLists::SphereLists() : objectLists_(kObjectCount, 0) {
    GLUquadric* q = gluNewQuadric();
    if (q) {
        gluQuadricNormals(q, GLU_SMOOTH);
        gluQuadricDrawStyle(q, GLU_FILL);
        gluQuadricOrientation(q, GLU_OUTSIDE);
    }
    pQuadric_ = q;
}

SphereLists::~SphereLists() {
    for (const Shape& s : shapes_) glDeleteLists(s.uList, 1);
    if (pQuadric_) gluDeleteQuadric(Quadric(pQuadric_));
}

// 0 when GL has no list to give; the sphere is then drawn directly.
unsigned SphereLists::Compile(const SceneObject& object) {
    const int slices = static_cast<int>(object.fSlices);
    const int stacks = static_cast<int>(object.fStacks);
    for (const Shape& s : shapes_)
        if (s.fRadius == object.fRadius && s.iSlices == slices && s.iStacks == stacks) return s.uList;
    const GLuint list = pQuadric_ ? glGenLists(1) : 0;
    if (list == 0) return 0;
    glNewList(list, GL_COMPILE);
    gluSphere(Quadric(pQuadric_), object.fRadius, slices, stacks);
    glEndList();
    shapes_.push_back({object.fRadius, slices, stacks, list});
    return list;
}

unsigned SphereLists::ListOf(const World& world, const SceneObject& object) {
    unsigned& list = objectLists_[&object - world.disks];
    if (list == 0) list = Compile(object);
    return list;
}

void SphereLists::Prepare(const World& world) {
    for (int n = 0; n < kObjectCount; ++n) ListOf(world, world.disks[n]);
}

void SphereLists::Draw(const World& world, const SceneObject& object) {
    if (const unsigned list = ListOf(world, object))
        glCallList(list);
    else if (pQuadric_)
        gluSphere(Quadric(pQuadric_), object.fRadius, static_cast<int>(object.fSlices),
                  static_cast<int>(object.fStacks));
}

void TruthPass::DrawPlaced(const World& world, const SceneObject& object) {
    glPushMatrix();
    PlaceObject(object);
    spheres_.Draw(world, object);
    glPopMatrix();
}

int TruthPass::Run(const World& world, int left, int size, unsigned char* truth) {
    // The grid keeps the cells of a sphere around the viewer solid, while the
    // image sees out through its culled back faces. Literal culling is
    // measured against the grid's view; strict culling promises the image.
    if (!world.bStrictCulling && ViewCellIsSolid(world)) {
        for (int n = 0; n < kObjectCount; ++n) truth[n] = 0;
        return 0;
    }
    SetupSceneCamera(world, left, size);
    glDisable(GL_LIGHTING);
    // Identifier colours must reach the buffer bit-exact.
    glDisable(GL_DITHER);
    for (int i = 0; i < 6; ++i) {
        glClipPlane(GL_CLIP_PLANE0 + i, kGridClipPlanes[i]);
        glEnable(GL_CLIP_PLANE0 + i);
    }
    glEnable(GL_SCISSOR_TEST);
    glScissor(left, 0, size, size);
    glClearColor(kIdBackdrop[0] / 255.0f, kIdBackdrop[1] / 255.0f, kIdBackdrop[2] / 255.0f, 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
    const ViewPlanes view = DrawnFrustum(world);
    for (int n = 0; n < kObjectCount; ++n) {
        const SceneObject& o = world.disks[n];
        if (!ReachesIntoGrid(o)) continue;
        if (bSkipOutsideView && SphereOutsideView(view, o.fPosition, o.fRadius)) continue;
        glColor3ub(o.ucIdColor[0], o.ucIdColor[1], o.ucIdColor[2]);
        DrawPlaced(world, o);
    }
    for (int i = 0; i < 6; ++i) glDisable(GL_CLIP_PLANE0 + i);
    rgba_.resize(static_cast<size_t>(size) * size * 4);
    glReadPixels(left, 0, size, size, GL_RGBA, GL_UNSIGNED_BYTE, rgba_.data());
    glEnable(GL_DITHER);
    return MarkSeenRgba(rgba_.data(), size * size, truth);
}

}  // namespace gridcull
