// Where the 3D view's camera looks. GL-free, so that the agreement between
// the drawn image and the culled frustum is tested without a window.
#pragma once

#include "scene/World.h"

namespace gridcull {

struct LookAt {
    double eye[3];
    double centre[3];
    double up[3];
};

// Eye at the viewpoint, looking at the centre of the far rectangle. The up
// vector is the camera's own y axis (column 1 of fViewMatrix), not a fixed
// world axis: the image then turns with fPitch exactly as the culling
// frustum does, and stays defined when the view points straight up or down.
// Expects the frustum of this frame (fFarCorner) to be set up.
inline LookAt CameraLookAt(const World& world) {
    LookAt view;
    const float* m = world.fViewMatrix;
    const float eye[3] = {world.fViewX, world.fViewY, world.fViewZ};
    for (int k = 0; k < 3; ++k) {
        view.eye[k] = eye[k];
        view.centre[k] = (world.fFarCorner[0][k] + world.fFarCorner[1][k]) * 0.5;
        view.up[k] = m[4 * k + 1];
    }
    return view;
}

}  // namespace gridcull
