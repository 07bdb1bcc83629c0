#include "TestWorld.h"

#include <cstring>
#include <stdexcept>

#include "scene/Camera.h"

namespace gridcull::test {

WorldPtr MakeEmptyWorld() {
    WorldPtr w(NewWorld());
    if (!w || !AllocateWorldArrays(*w, {})) throw std::runtime_error("cannot allocate a test world");
    w->bOccluderFusion = 1;
    w->bRenderingDisabled = 0;
    w->bExactVisibility = 0;
    w->bObjectMotion = 1;
    w->iFrame = 0;
    w->iGridSize = kGridSize;
    w->iDist = 0;
    std::memset(w->bFaceMarked, 0, sizeof w->bFaceMarked);
    std::memset(w->bFaceDone, 0, sizeof w->bFaceDone);
    for (int j = 0; j < kObjectCount; ++j) {
        SceneObject& o = w->disks[j];
        o.bInTemporalVolume = 0;
        o.fRadius = o.fBoundRadius = 0;
        // Far outside the grid: registers nowhere.
        o.fPosition[0] = o.fPosition[1] = o.fPosition[2] = -1000;
        o.fVelocity[0] = o.fVelocity[1] = o.fVelocity[2] = 0;
    }
    RebuildViewMatrix(*w);
    return w;
}

WorldPtr MakeSceneWorld() {
    WorldPtr w(NewWorld());
    if (!w || !SetupScene(*w, {})) throw std::runtime_error("cannot set up the scene");
    return w;
}

void PlaceDynamic(World& w, int j, float px, float py, float pz, float vx, float vy, float vz, float R) {
    SceneObject& o = w.disks[j];
    o.fPosition[0] = px;
    o.fPosition[1] = py;
    o.fPosition[2] = pz;
    o.fVelocity[0] = vx;
    o.fVelocity[1] = vy;
    o.fVelocity[2] = vz;
    o.fRadius = o.fBoundRadius = R;
    o.fBounds[0] = o.fBounds[1] = o.fBounds[2] = 70;
    o.iCellCount = 0;
    o.bInTemporalVolume = 0;
}

}  // namespace gridcull::test
