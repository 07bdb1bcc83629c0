// Camera model, key bindings and the overview's trackball. GL-free, so the
// demo and the headless runner drive the same state the same way.
#pragma once

#include "World.h"

namespace gridcull {

// P = A x B on 16-float arrays: P[4i + j] = sum_k A[4i + k] B[4k + j].
void MultiplyMatrix(const float a[16], const float b[16], float out[16]);

// fViewMatrix = Ry(fYaw) x Rx(fRoll) x Rz(fPitch). Identity with all angles 0.
void RebuildViewMatrix(World& world);

enum class KeyResult { kHandled, kQuit };

// Applies one key of the key table (x X y Y z Z 0-9 t h e s, Esc) and rebuilds
// fViewMatrix. Unbound keys change nothing but still rebuild the matrix.
// Esc only reports kQuit; the caller tears the world down.
KeyResult ApplyKey(World& world, unsigned char key);
bool IsBoundKey(unsigned char key);

// Trackball: the mouse at (mx, my) in window pixels.
void ProjectToBall(const Trackball& ball, int mx, int my, float out[3]);
void TrackballPress(Trackball& ball, int mx, int my);
void TrackballDrag(Trackball& ball, int mx, int my);
void TrackballRelease(Trackball& ball);

}  // namespace gridcull
