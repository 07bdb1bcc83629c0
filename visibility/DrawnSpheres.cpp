#include "visibility/DrawnSpheres.h"

#include <cmath>

#include "grid/Grid.h"

namespace gridcull {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Flags err toward see-through: a sphere within this fraction of its radius
// (plus an absolute bit for tiny ones) of the eye or of the near rectangle is
// flagged. Covers the float camera set-up and GL's own rounding.
constexpr double kFlagSlack = 1e-4;
constexpr double kFlagSlackAbs = 1e-4;
// |x| > s (1 + 1e-9) gives x^2 > s^2 (1 + 2e-9), which no rounding of the
// squares or of the sum x^2 + y^2 + z^2 brings back to s^2 or below.
constexpr double kAxisRejectFactor = 1 + 1e-9;

// The drawn vertices are computed in float; shrinking the solid radius by
// this fraction keeps the inscribed ball inside what is rasterised.
constexpr double kInradiusMargin = 1e-5;

struct Vec {
    double v[3];
};

double Dot(const Vec& a, const Vec& b) { return a.v[0] * b.v[0] + a.v[1] * b.v[1] + a.v[2] * b.v[2]; }

Vec Cross(const Vec& a, const Vec& b) {
    return {{a.v[1] * b.v[2] - a.v[2] * b.v[1], a.v[2] * b.v[0] - a.v[0] * b.v[2], a.v[0] * b.v[1] - a.v[1] * b.v[0]}};
}

Vec Normalized(const Vec& a) {
    const double n = std::sqrt(Dot(a, a));
    return {{a.v[0] / n, a.v[1] / n, a.v[2] / n}};
}

// Every sphere of the generated scene is drawn with the same tessellation:
// its factor is worked out once, not two cosines per solid candidate.
double SolidRadiusFactor(int slices, int stacks) {
    constexpr int kSceneSlices = 25, kSceneStacks = 25;
    static const double kSceneFactor = TessellationInradius(kSceneSlices, kSceneStacks);
    return slices == kSceneSlices && stacks == kSceneStacks ? kSceneFactor : TessellationInradius(slices, stacks);
}

}  // namespace

// A face of the lat-long sphere spans polar angles phi..phi + dphi
// (dphi = pi / stacks) and one slice dtheta = 2 pi / slices wide. Its two
// horizontal edges are chords symmetric about the slice's middle meridian,
// so the face is a planar trapezoid (a triangle at a pole), and in that
// meridian's half-plane its plane is the line through (c sin phi, cos phi)
// and (c sin(phi + dphi), cos(phi + dphi)), c = cos(dtheta / 2). The
// centre's distance to that line is
//     c cos(dphi / 2) / sqrt(1 - (1 - c^2) cos^2 m),  m = phi + dphi / 2,
// never below c cos(dphi / 2), and equal to it for the band that straddles
// the equator (m = 90 degrees, any odd stack count: 25 draws one). The solid
// is convex, so the ball of that radius lies inside it however it is turned.
double TessellationInradius(int slices, int stacks) {
    return std::cos(kPi / slices) * std::cos(kPi / (2.0 * stacks)) * (1 - kInradiusMargin);
}

void SetupSeeThroughCamera(World& world) {
    // The 3D view's camera as the look-at transform builds it: forward to the
    // centre of the far rectangle, up the camera's y axis; the near
    // rectangle is square (aspect 1) with half side near * tan(fov / 2).
    SeeThroughCamera& cam = world.SeeThrough;
    const Vec eye = {{world.fViewX, world.fViewY, world.fViewZ}};
    Vec toCentre;
    for (int k = 0; k < 3; ++k)
        toCentre.v[k] = (world.fFarCorner[0][k] + world.fFarCorner[1][k]) * 0.5 - eye.v[k];
    const Vec f = Normalized(toCentre);
    const float* m = world.fViewMatrix;
    const Vec s = Normalized(Cross(f, {{m[1], m[5], m[9]}}));
    const Vec u = Cross(s, f);
    for (int k = 0; k < 3; ++k) {
        cam.fEye[k] = eye.v[k];
        cam.fForward[k] = f.v[k];
        cam.fSide[k] = s.v[k];
        cam.fUp[k] = u.v[k];
    }
    cam.fHalfSide = kNearPlane * std::tan(world.fFov * kDegToRad * 0.5);
    // Farthest point of the near rectangle from the eye: a sphere farther off
    // than that plus its radius reaches neither the eye nor the rectangle.
    cam.fReach = std::sqrt(kNearPlane * kNearPlane + 2 * cam.fHalfSide * cam.fHalfSide);
}

bool SeenThrough(const World& world, const SceneObject& o) {
    const SeeThroughCamera& cam = world.SeeThrough;
    const double r = o.fRadius * (1 + kFlagSlack) + kFlagSlackAbs;
    const double reach = cam.fReach, h = cam.fHalfSide;
    // Most spheres are far off along one axis alone. The margin keeps this
    // test inside the distance test below, whatever their rounding.
    const double px = o.fPosition[0] - cam.fEye[0];
    if (std::fabs(px) > (r + reach) * kAxisRejectFactor) return false;
    const Vec p = {{px, o.fPosition[1] - cam.fEye[1], o.fPosition[2] - cam.fEye[2]}};
    const double rr = r * r;
    const double pp = Dot(p, p);
    if (pp > (r + reach) * (r + reach)) return false;
    // Holding the eye: every face is seen from behind and culled.
    if (pp <= rr) return true;
    // Reaching the near rectangle: the clipped sphere is open toward the eye.
    const Vec f = {{cam.fForward[0], cam.fForward[1], cam.fForward[2]}};
    const Vec s = {{cam.fSide[0], cam.fSide[1], cam.fSide[2]}};
    const Vec u = {{cam.fUp[0], cam.fUp[1], cam.fUp[2]}};
    const double dz = Dot(p, f) - kNearPlane;
    const double dx = std::fmax(std::fabs(Dot(p, s)) - h, 0.0);
    const double dy = std::fmax(std::fabs(Dot(p, u)) - h, 0.0);
    return dz * dz + dx * dx + dy * dy <= rr;
}

bool CellHeldSolid(const World& world, int g, int x, int y, int z) {
    const int c[3] = {x, y, z};
    for (int k : world.I[g]) {
        const SceneObject& o = world.disks[k];
        if (!HeldEntry(world, k)) continue;
        // The farthest corner along each axis is |d| + 0.5 away; it decides
        // all eight.
        double far = 0;
        for (int a = 0; a < 3; ++a) {
            const double d = std::fabs(c[a] - static_cast<double>(o.fPosition[a])) + 0.5;
            far += d * d;
        }
        const double r = o.fRadius;
        if (far > r * r) continue;  // not even inside the true sphere
        const double solid = r * SolidRadiusFactor(static_cast<int>(o.fSlices), static_cast<int>(o.fStacks));
        // Only a sphere that would hold the cell is asked whether the image
        // looks through it this frame.
        if (far <= solid * solid && !SeenThrough(world, o)) return true;
    }
    return false;
}

}  // namespace gridcull
