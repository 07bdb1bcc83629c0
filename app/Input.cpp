// Keyboard, mouse, reshape and idle callbacks. Handlers only change state;
// the next frame shows the result.
#include <GL/glut.h>

#include <cstdlib>

#include "app/App.h"
#include "scene/Camera.h"

namespace gridcull {

World* gWorld = nullptr;
unsigned char bLeftDrag = 0;
unsigned char bRightDrag = 0;
int iZoomAnchor = 0;
float fZoom = 0;
unsigned char bMissOverlay = 0;

namespace {

constexpr int kLeftButton = GLUT_LEFT_BUTTON;
constexpr int kRightButton = GLUT_RIGHT_BUTTON;
constexpr int kPressed = GLUT_DOWN;
constexpr int kReleased = GLUT_UP;
// Five pixels of vertical mouse travel move the overview by one unit.
constexpr double kZoomPerPixel = 0.2;
constexpr unsigned char kMissOverlayKey = 'm';

}  // namespace

void OnKeyboard(unsigned char key, int, int) {
    if (key == kMissOverlayKey) bMissOverlay = bMissOverlay == 0 ? 1 : 0;
    if (ApplyKey(*gWorld, key) == KeyResult::kQuit) {
        DeleteWorld(gWorld);
        gWorld = nullptr;
        std::exit(0);
    }
    glutPostRedisplay();
}

void OnMouse(int button, int state, int x, int y) {
    Trackball& ball = gWorld->Trackball;
    if (button == kLeftButton && state == kPressed) {
        TrackballPress(ball, x, y);
        bLeftDrag = 1;
    } else if (button == kLeftButton && state == kReleased) {
        TrackballRelease(ball);
        bLeftDrag = 0;
    } else if (button == kRightButton && state == kPressed) {
        iZoomAnchor = static_cast<int>(y * kZoomPerPixel + fZoom);
        bRightDrag = 1;
    } else if (button == kRightButton && state == kReleased) {
        bRightDrag = 0;
    }
    glutPostRedisplay();
}

void OnMotion(int x, int y) {
    if (bLeftDrag) TrackballDrag(gWorld->Trackball, x, y);
    if (bRightDrag) fZoom = static_cast<float>(iZoomAnchor - static_cast<int>(y * kZoomPerPixel));
}

void OnReshape(int width, int height) { SetupPixelView(width, height); }

void OnIdle() { glutPostRedisplay(); }

}  // namespace gridcull
