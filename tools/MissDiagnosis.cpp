#include "MissDiagnosis.h"

#include <algorithm>
#include <cmath>

#include "grid/Grid.h"
#include "render/CameraView.h"

namespace gridcull::bench {

namespace {

constexpr double kRayStep = 0.05;       // cells; finer than any corner an occluder cell could cut
constexpr double kSampleSpread = 0.45;  // inside the cell, so a ray does not graze its neighbours


// How the 3D view sees an occluder cell: solid, or through, because every
// sphere that fills it holds the eye (its back faces are culled) or is cut
// open by the near plane.
enum Seen { kSolid, kThroughEye, kThroughNear };

Seen SeeOccluderCell(const World& w, int cell, int x, int y, int z) {
    const double eye[3] = {w.fViewX, w.fViewY, w.fViewZ};
    const float* m = w.fViewMatrix;
    const double dir[3] = {m[2], m[6], m[10]};
    Seen seen = kThroughNear;
    bool owner = false;
    for (int j : w.I[cell]) {
        if (!HeldEntry(w, j)) continue;  // left from before the object's volume
        const SceneObject& o = w.disks[j];
        const int c[3] = {x, y, z};
        double far2 = 0, eye2 = 0, along = 0;
        for (int k = 0; k < 3; ++k) {
            const double d = std::fabs(c[k] - o.fPosition[k]) + 0.5;
            far2 += d * d;
            const double e = o.fPosition[k] - eye[k];
            eye2 += e * e;
            along += e * dir[k];
        }
        const double r = o.fRadius;
        if (far2 > r * r) continue;  // not the sphere that fills this cell
        owner = true;
        if (eye2 < r * r) {
            if (seen == kThroughNear) seen = kThroughEye;
        } else if (along - r >= kNearPlane) {
            return kSolid;
        }
    }
    return owner ? seen : kSolid;
}

// Walks the ray; returns kSolid when a solid occluder cell blocks it, else
// the most telling see-through cell met (or kThroughNear + 1: nothing met).
int WalkRay(const World& w, const double eye[3], const double target[3], int targetCell) {
    const int viewCell = CellIndex(w.iViewCellX, w.iViewCellY, w.iViewCellZ);
    double d[3];
    for (int k = 0; k < 3; ++k) d[k] = target[k] - eye[k];
    const double length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    const int steps = static_cast<int>(length / kRayStep);
    int met = kThroughNear + 1;
    for (int s = 1; s < steps; ++s) {
        const double t = static_cast<double>(s) / steps;
        int c[3];
        for (int k = 0; k < 3; ++k) c[k] = RoundHalfAway(eye[k] + t * d[k]);
        if (c[0] < 0 || c[1] < 0 || c[2] < 0 || c[0] >= kGridSize || c[1] >= kGridSize || c[2] >= kGridSize)
            continue;
        const int cell = CellIndex(c[0], c[1], c[2]);
        if (cell == viewCell || cell == targetCell || !w.O.Test(static_cast<unsigned>(cell))) continue;
        const Seen seen = SeeOccluderCell(w, cell, c[0], c[1], c[2]);
        if (seen == kSolid) return kSolid;
        met = std::min(met, static_cast<int>(seen));
    }
    return met;
}

// The clearest view of the cell over its sample rays.
int CellView(const World& w, int x, int y, int z) {
    const double eye[3] = {w.fViewX, w.fViewY, w.fViewZ};
    const int cell = CellIndex(x, y, z);
    int best = kSolid;
    for (int i = -1; i <= 1; ++i)
        for (int j = -1; j <= 1; ++j)
            for (int k = -1; k <= 1; ++k) {
                const double target[3] = {x + i * kSampleSpread, y + j * kSampleSpread, z + k * kSampleSpread};
                best = std::max(best, WalkRay(w, eye, target, cell));
            }
    return best;
}

}  // namespace

MissCause DiagnoseMiss(const World& w, int object) {
    const SceneObject& o = w.disks[object];
    if (object < kDynamicCount && o.bInTemporalVolume) return MissCause::kVolume;
    if (!w.PVSVF[object]) return MissCause::kUnscanned;
    int lo[3], hi[3];
    for (int k = 0; k < 3; ++k) {
        lo[k] = std::max(RoundHalfAway(o.fPosition[k] - o.fBoundRadius), 0);
        hi[k] = std::min(RoundHalfAway(o.fPosition[k] + o.fBoundRadius), kGridSize - 1);
    }
    int best = kSolid;
    for (int z = lo[2]; z <= hi[2]; ++z)
        for (int y = lo[1]; y <= hi[1]; ++y)
            for (int x = lo[0]; x <= hi[0]; ++x)
                if (w.H.Test(static_cast<unsigned>(CellIndex(x, y, z)))) best = std::max(best, CellView(w, x, y, z));
    if (best > kThroughNear) return MissCause::kUncovered;
    if (best == kThroughEye) return MissCause::kEyeInsideOccluder;
    if (best == kThroughNear) return MissCause::kNearPlaneCut;
    return MissCause::kBehindOccluders;
}

}  // namespace gridcull::bench
