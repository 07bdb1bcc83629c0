// The interactive program: GLUT window, frame driver, input and drawing
// around the GL-free core.
#pragma once

#include "scene/World.h"
#include "visibility/Frame.h"

namespace gridcull {

// Window layout in pixels, origin at the lower left.
constexpr int kWindowWidth = 600;
constexpr int kWindowHeight = 350;
constexpr int kViewSize = 300;          // overview and 3D view are squares
constexpr int kView3DLeft = kViewSize;  // 3D view: x 300..599, y 0..299
constexpr int kPanelBottom = kViewSize; // status panel: y 300..349

// The one record; every callback reads it.
extern World* gWorld;

extern FpsMeter gFpsMeter;

// Mouse state of the overview: drags and zoom (the overview's z translation).
extern unsigned char bLeftDrag;
extern unsigned char bRightDrag;
extern int iZoomAnchor;
extern float fZoom;

// Miss overlay (key m): each frame measures the true visible set and draws
// in red over the 3D view what the culling dropped of it. Demo state, not a
// culling option.
extern unsigned char bMissOverlay;

int ElapsedMilliseconds();

// One displayed frame.
void FrameDriver(World& world);

// Draws one object in the 3D view: shaded in its grey, or flat in its
// identifier colour while exact visibility is on. Turns the object by one
// angular step. The core calls it through World::pfnDrawObject.
void DrawObject(World& world, SceneObject& object, void* context);

// Draws the potentially visible set in identifier colours, reads the 3D view
// back and fills PVSEXACT. Returns the number of objects seen.
int RunExactVisibilityPass(World& world);

void DrawOverview(World& world);
// 2D projection in window pixels over width x height, text matrices included.
void SetupPixelView(int width, int height);
void SetupTextView();
// missedCount: truly visible objects not in the PVS; below 0 when the
// overlay did not measure them.
void DrawStatusPanel(const World& world, double fps, const FrameCounts& counts, int exactCount, int missedCount);
void DrawText(int x, int y, const char* format, ...);

// GLUT callbacks.
void OnDisplay();
void OnReshape(int width, int height);
void OnKeyboard(unsigned char key, int x, int y);
void OnMouse(int button, int state, int x, int y);
void OnMotion(int x, int y);
void OnIdle();

}  // namespace gridcull
