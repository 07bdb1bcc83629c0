// Start-up and shutdown of the interactive program.
#include <GL/glut.h>

#include <cstdio>
#include <cstdlib>

#include "app/App.h"
#include "scene/World.h"
#include "visibility/Frame.h"

namespace gridcull {
namespace {

void PrintDot(void*) {
    std::fputs(".", stdout);
    std::fflush(stdout);
}

void PrintFailure(void*, const char* message) {
    // The dots already shown stay on the line the message follows.
    std::fflush(stdout);
    std::fputs(message, stderr);
}

void PrintIntroduction() {
    std::printf("gridcull - occlusion culling of a dynamic scene in a uniform grid\n");
    std::printf("Front-to-back shells, fused occluders and temporal bounding volumes\n\n");
    std::printf("Grid size: %dx%dx%d  Static objects: %d  Dynamic objects: %d\n\n", kGridSize, kGridSize, kGridSize,
                kStaticCount, kDynamicCount);
    std::printf("Keys:\nARROWS   move viewpoint\n");
    std::printf("HOME/END rotate\n");
    std::printf("1        increase field of view\n");
    std::printf("2        decrease field of view\n");
    std::printf("3        toggle structure display mode\n");
    std::printf("t        toggle occluder fusion\n");
    std::printf("h        toggle scene rendering\n");
    std::printf("e        toggle exact visibility calculation\n\n");
    std::printf("Please wait...");
    std::fflush(stdout);
}

}  // namespace
}  // namespace gridcull

int main(int argc, char** argv) {
    using namespace gridcull;
    PrintIntroduction();

    gWorld = NewWorld();
    if (!gWorld) {
        PrintFailure(nullptr, "Not enough memory for World.\n");
        std::exit(-1);
    }

    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_DEPTH);
    glutInitWindowSize(kWindowWidth, kWindowHeight);
    glutCreateWindow(argc > 0 && argv[0] ? argv[0] : "gridcull");
    glutSetWindowTitle("gridcull: occlusion culling in a 70x70x70 grid");

    glClearColor(0, 0, 0, 0);
    glShadeModel(GL_FLAT);
    // Read-back rows are packed: row k of the 3D view starts at byte 300 k.
    glPixelStorei(GL_PACK_ALIGNMENT, 1);

    SetupObserver observer;
    observer.pfnProgress = PrintDot;
    observer.pfnFailure = PrintFailure;
    if (!SetupScene(*gWorld, observer)) std::exit(-1);
    std::printf(" done!\n\n");
    std::fflush(stdout);

    fZoom = 0;
    gWorld->pfnDrawObject = DrawObject;
    StartFpsMeter(gFpsMeter, ElapsedMilliseconds);

    glutDisplayFunc(OnDisplay);
    glutReshapeFunc(OnReshape);
    glutKeyboardFunc(OnKeyboard);
    glutMouseFunc(OnMouse);
    glutMotionFunc(OnMotion);
    glutIdleFunc(OnIdle);
    glutMainLoop();

    DeleteWorld(gWorld);
    gWorld = nullptr;
    return 0;
}
