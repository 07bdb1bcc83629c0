// The overview of the grid (left view) and the status panel.
#include <GL/glut.h>

#include <cstdarg>
#include <cstdio>

#include "app/App.h"
#include "grid/Grid.h"

namespace gridcull {

namespace {

// The grid drawn as a 25-unit cube: cell i spans i k to (i + 1) k.
constexpr float kCellEdge = 25.0f / kGridSize;
constexpr float kOverviewEdge = 25.0f;

float ToOverview(float p) { return p * kCellEdge + kCellEdge * 0.5f; }

void OverviewVertex(const float p[3]) { glVertex3f(ToOverview(p[0]), ToOverview(p[1]), ToOverview(p[2])); }

void SetDiffuse(float r, float g, float b) {
    const GLfloat colour[4] = {r, g, b, 1};
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, colour);
}

// Faces of a cell cube: normal, then four corners counter-clockwise seen
// from outside; a corner picks the low (0) or high (1) bound per axis.
struct BoxFace {
    float normal[3];
    unsigned char corner[4][3];
};
const BoxFace kBoxFaces[6] = {
    {{0, 0, -1}, {{0, 0, 0}, {0, 1, 0}, {1, 1, 0}, {1, 0, 0}}},
    {{0, 1, 0}, {{0, 1, 0}, {0, 1, 1}, {1, 1, 1}, {1, 1, 0}}},
    {{-1, 0, 0}, {{0, 0, 1}, {0, 1, 1}, {0, 1, 0}, {0, 0, 0}}},
    {{1, 0, 0}, {{1, 0, 0}, {1, 1, 0}, {1, 1, 1}, {1, 0, 1}}},
    {{0, -1, 0}, {{1, 0, 0}, {1, 0, 1}, {0, 0, 1}, {0, 0, 0}}},
    {{0, 0, 1}, {{1, 0, 1}, {1, 1, 1}, {0, 1, 1}, {0, 0, 1}}},
};

void DrawCellBox(int x, int y, int z) {
    const float lo[3] = {x * kCellEdge, y * kCellEdge, z * kCellEdge};
    const float hi[3] = {(x + 1) * kCellEdge, (y + 1) * kCellEdge, (z + 1) * kCellEdge};
    glBegin(GL_QUADS);
    for (const BoxFace& f : kBoxFaces) {
        glNormal3fv(f.normal);
        for (const auto& c : f.corner)
            glVertex3f(c[0] ? hi[0] : lo[0], c[1] ? hi[1] : lo[1], c[2] ? hi[2] : lo[2]);
    }
    glEnd();
}

// Footprints of the temporal volumes: one black square per covered column
// on a wall of the cube. The wall lies across axis `wall`; rows run along
// `outer`, columns along `inner`.
struct FootprintWall {
    ColumnObjects* World::*sets;
    int outer, inner, wall;
    int (*column)(int outerValue, int innerValue);
};
const FootprintWall kFootprintWalls[3] = {
    {&World::TxyN, 1, 0, 2, [](int y, int x) { return XyColumn(x, y); }},
    {&World::TyzN, 1, 2, 0, [](int y, int z) { return YzColumn(y, z); }},
    {&World::TxzN, 2, 0, 1, [](int z, int x) { return XzColumn(x, z); }},
};

void DrawFootprints(const World& world) {
    for (const FootprintWall& w : kFootprintWalls) {
        const ColumnObjects* sets = world.*w.sets;
        float normal[3] = {0, 0, 0};
        normal[w.wall] = 1;
        glNormal3fv(normal);
        glBegin(GL_QUADS);
        for (int o = 0; o < kGridSize; ++o)
            for (int i = 0; i < kGridSize; ++i) {
                if (sets[w.column(o, i)].empty()) continue;
                float v[3] = {0, 0, 0};
                const int corners[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
                for (const auto& c : corners) {
                    v[w.outer] = (o + c[0]) * kCellEdge;
                    v[w.inner] = (i + c[1]) * kCellEdge;
                    glVertex3fv(v);
                }
            }
        glEnd();
    }
}

void DrawStructure(const World& world) {
    const GLfloat white[4] = {1, 1, 1, 1};
    const GLfloat key[4] = {0.2f, 0.6f, 1.0f, 0};
    const GLfloat fill[4] = {-0.2f, -0.6f, -0.5f, 0};
    glLightfv(GL_LIGHT0, GL_POSITION, key);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, white);
    glLightfv(GL_LIGHT1, GL_POSITION, fill);
    glLightfv(GL_LIGHT1, GL_DIFFUSE, white);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    glEnable(GL_LIGHT1);

    // Hidden cells take precedence over occluder cells.
    int material = 0;  // 1 hidden, 2 occluder: avoids resetting it per cell
    for (int z = 0; z < kGridSize; ++z)
        for (int y = 0; y < kGridSize; ++y)
            for (int x = 0; x < kGridSize; ++x) {
                const unsigned cell = static_cast<unsigned>(CellIndex(x, y, z));
                const int kind = world.H.Test(cell) ? 1 : world.O.Test(cell) ? 2 : 0;
                if (kind == 0) continue;
                if (kind != material) {
                    if (kind == 1)
                        SetDiffuse(0.6f, 0.55f, 1.0f);
                    else
                        SetDiffuse(0.6f, 0.6f, 0.6f);
                    material = kind;
                }
                DrawCellBox(x, y, z);
            }

    const float* p = world.disks[0].fPosition;
    SetDiffuse(1.0f, 1.0f, 0.4f);
    DrawCellBox(RoundHalfAway(p[0]), RoundHalfAway(p[1]), RoundHalfAway(p[2]));

    glDisable(GL_CULL_FACE);
    glDisable(GL_LIGHTING);
    DrawFootprints(world);

    glEnable(GL_LIGHTING);
    glEnable(GL_CULL_FACE);
    SetDiffuse(1.0f, 0.3f, 0.3f);
    DrawCellBox(static_cast<int>(world.fViewX), static_cast<int>(world.fViewY), static_cast<int>(world.fViewZ));
    glDisable(GL_LIGHT1);
    glDisable(GL_LIGHT0);
    glDisable(GL_LIGHTING);
}

}  // namespace

void DrawOverview(World& world) {
    glShadeModel(GL_FLAT);
    glDisable(GL_CULL_FACE);
    glDisable(GL_DEPTH_TEST);

    glViewport(0, 0, kViewSize, kViewSize);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(60, 1, 1, 300);
    gluLookAt(0, 0, 50, 0, 0, 0, 0, 1, 0);

    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(0, 0, fZoom);
    glMultMatrixf(world.Trackball.fBallRotation);
    glRotatef(180, 0, 1, 0);
    const float half = kOverviewEdge * 0.5f;
    glTranslatef(-half, -half, -half);

    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);

    glLineWidth(3);
    glBegin(GL_LINES);
    for (int axis = 0; axis < 3; ++axis) {
        float end[3] = {0, 0, 0};
        end[axis] = kOverviewEdge;
        glColor3f(axis == 0, axis == 1, axis == 2);
        glVertex3f(0, 0, 0);
        glVertex3fv(end);
    }
    glEnd();
    glLineWidth(1);

    const float view[3] = {world.fViewX, world.fViewY, world.fViewZ};
    glColor3f(0, 0, 0);
    glPointSize(5);
    glBegin(GL_POINTS);
    OverviewVertex(view);
    glEnd();
    glPointSize(1);

    glColor3f(0, 0, 1);
    glBegin(GL_LINES);
    for (const float* corner : world.fFarCorner) {
        OverviewVertex(view);
        OverviewVertex(corner);
    }
    // The far rectangle: corners 0-1 and 2-3 are diagonals.
    const int rim[4][2] = {{0, 2}, {2, 1}, {1, 3}, {3, 0}};
    for (const auto& e : rim) {
        OverviewVertex(world.fFarCorner[e[0]]);
        OverviewVertex(world.fFarCorner[e[1]]);
    }
    glEnd();

    float farCentre[3];
    for (int k = 0; k < 3; ++k) farCentre[k] = (world.fFarCorner[0][k] + world.fFarCorner[1][k]) * 0.5f;
    glLineStipple(2, 0xAAAA);
    glEnable(GL_LINE_STIPPLE);
    glBegin(GL_LINES);
    OverviewVertex(view);
    OverviewVertex(farCentre);
    glEnd();
    glDisable(GL_LINE_STIPPLE);

    glColor3f(0, 0, 0);
    if (world.bStructureDisplay) DrawStructure(world);

    glDisable(GL_CULL_FACE);
    glDisable(GL_DEPTH_TEST);
}

void SetupPixelView(int width, int height) {
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluOrtho2D(0, width, 0, height);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    // Pixel centres: bitmap text and lines land on whole pixels.
    glTranslatef(0.375f, 0.375f, 0);
}

void SetupTextView() { SetupPixelView(kWindowWidth, kWindowHeight); }

void DrawText(int x, int y, const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    glRasterPos2i(x, y);
    for (const char* c = text; *c; ++c) glutBitmapCharacter(GLUT_BITMAP_HELVETICA_10, *c);
}

void DrawStatusPanel(const World& world, double fps, const FrameCounts& counts, int exactCount, int missedCount) {
    glColor3f(0, 0, 0);
    glBegin(GL_QUADS);
    glVertex3f(0, kPanelBottom, 0);
    glVertex3f(0, kWindowHeight, 0);
    glVertex3f(kWindowWidth, kWindowHeight, 0);
    glVertex3f(kWindowWidth, kPanelBottom, 0);
    glEnd();
    glColor3f(1, 1, 1);
    glBegin(GL_LINES);
    glVertex2i(0, kPanelBottom);
    glVertex2i(kWindowWidth, kPanelBottom);
    glEnd();

    // No average is taken in the first 101 frames.
    if (world.iFrame <= 100)
        DrawText(5, 307, "FPS: %.2f  FPS_AVG: 0  Frame #%d", fps, world.iFrame);
    else
        DrawText(5, 307, "FPS: %.1f  FPS_AVG: %.1f  Frame #%d", fps, counts.fFpsAverage, world.iFrame);
    DrawText(5, 322, "X: %.1f  Y: %.1f  Z: %.1f  Roll: %.1f  Yaw: %.1f  Pitch: %.1f  FOV: %.1f", world.fViewX,
             world.fViewY, world.fViewZ, world.fRoll, world.fYaw, world.fPitch, world.fFov);
    char tail[64] = "";
    const int used = missedCount >= 0 ? std::snprintf(tail, sizeof tail, "  Missed: %d", missedCount) : 0;
    if (world.bStrictCulling) std::snprintf(tail + used, sizeof tail - used, "  Strict");
    DrawText(5, 337, "PVS: %d   PVS w/ VF-culling only: %d   Exact vis.: %d  iDist: %d%s", counts.iPvs, counts.iPvsVf,
             exactCount, world.iDist, tail);
    if (world.bRenderingDisabled) DrawText(418, 150, "DISABLED");
}

}  // namespace gridcull
