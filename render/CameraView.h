// Where the 3D view's camera looks. GL-free, so that the agreement between
// the drawn image and the culled frustum is tested without a window.
#pragma once

#include <cmath>

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

// The frustum the 3D view draws (fFov by fFov, near kNearPlane, far
// fFarDist, from CameraLookAt as gluLookAt builds it), not the padded
// culling frustum: planes a x + b y + c z + d >= 0 inside, unit normals, in
// grid units. Order: right, left, top, bottom, near, far.
struct ViewPlanes {
    double fPlane[6][4];
};

inline ViewPlanes DrawnFrustum(const World& world) {
    const LookAt v = CameraLookAt(world);
    double f[3], s[3], u[3];
    for (int k = 0; k < 3; ++k) f[k] = v.centre[k] - v.eye[k];
    auto normalise = [](double a[3]) {
        const double len = std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
        for (int k = 0; k < 3 && len > 0; ++k) a[k] /= len;
    };
    auto cross = [](const double a[3], const double b[3], double out[3]) {
        out[0] = a[1] * b[2] - a[2] * b[1];
        out[1] = a[2] * b[0] - a[0] * b[2];
        out[2] = a[0] * b[1] - a[1] * b[0];
    };
    normalise(f);
    cross(f, v.up, s);
    normalise(s);
    cross(s, f, u);
    const double half = world.fFov * 0.5 * kDegToRad, sinA = std::sin(half), cosA = std::cos(half);
    // A side plane turns the view direction outward by the half angle: with
    // camera coordinates (x, z), x <= z tan(half) is z sin - x cos >= 0.
    const double* side[2] = {s, u};
    ViewPlanes planes;
    for (int i = 0; i < 4; ++i) {
        double* p = planes.fPlane[i];
        const double sign = i % 2 == 0 ? -1 : 1;
        for (int k = 0; k < 3; ++k) p[k] = sinA * f[k] + sign * cosA * side[i / 2][k];
    }
    for (int k = 0; k < 3; ++k) planes.fPlane[4][k] = f[k], planes.fPlane[5][k] = -f[k];
    for (double* p : planes.fPlane) p[3] = -(p[0] * v.eye[0] + p[1] * v.eye[1] + p[2] * v.eye[2]);
    planes.fPlane[4][3] -= kNearPlane;
    planes.fPlane[5][3] += world.fFarDist;
    return planes;
}

// Slack of the sphere test, in grid units: a hundred times the float error
// of a position or of GL's transform across the grid (about 1e-5), so a
// sphere that rounding could bring inside is always drawn.
constexpr double kViewSlack = 1e-3;

// True only when the sphere lies wholly outside one plane by more than the
// slack; the drawn sphere's polygons lie within its radius, so such an object
// owns no pixel. Never true for a sphere that reaches into the frustum.
inline bool SphereOutsideView(const ViewPlanes& planes, const float centre[3], double radius) {
    for (const double* p : planes.fPlane)
        if (p[0] * centre[0] + p[1] * centre[1] + p[2] * centre[2] + p[3] < -radius - kViewSlack) return true;
    return false;
}

}  // namespace gridcull
