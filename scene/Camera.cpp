#include "scene/Camera.h"

#include <cmath>
#include <cstring>

namespace gridcull {

namespace {

constexpr float kIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

// The three elementary rotations differ only in the plane they turn and the
// sign of the sine: m[ii] = m[jj] = c, m[ij] = sign s, m[ji] = -sign s.
struct RotationAxes {
    int i, j;
    float sign;
};
constexpr RotationAxes kRotZ = {0, 1, 1.0f};   // Rz: m[1] = s, m[4] = -s
constexpr RotationAxes kRotX = {1, 2, 1.0f};   // Rx: m[6] = s, m[9] = -s
constexpr RotationAxes kRotY = {0, 2, -1.0f};  // Ry: m[2] = -s, m[8] = s

void RotationMatrix(const RotationAxes& axes, float degrees, float out[16]) {
    const double radians = degrees * kDegToRad;
    const float c = static_cast<float>(std::cos(radians));
    const float s = static_cast<float>(std::sin(radians));
    std::memcpy(out, kIdentity, sizeof(kIdentity));
    out[axes.i * 5] = c;
    out[axes.j * 5] = c;
    out[4 * axes.i + axes.j] = axes.sign * s;
    out[4 * axes.j + axes.i] = -axes.sign * s;
}

// V = R x V.
void PreMultiply(const RotationAxes& axes, float degrees, float v[16]) {
    float r[16];
    RotationMatrix(axes, degrees, r);
    MultiplyMatrix(r, v, v);
}

// Increments or decrements a value within [lo, hi]; steps that would leave
// the range are ignored.
void StepClamped(float& value, float step, float lo, float hi) {
    if (step > 0 ? value < hi : value > lo) value += step;
}

// Angles wrap instead: 359 + 1 is 0 and 0 - 1 is 359.
void StepWrapped(float& value, float step) {
    if (step > 0)
        value = value < 359 ? value + 1 : 0;
    else
        value = value > 0 ? value - 1 : 359;
}

void Toggle(unsigned char& flag) { flag = flag == 0 ? 1 : 0; }

void Cross(const float a[3], const float b[3], float out[3]) {
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

float Dot(const float a[3], const float b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// Row-major matrix of quaternion (x, y, z, w); m[15] is its squared norm.
void QuaternionMatrix(const float q[4], float m[16]) {
    const float x = q[0], y = q[1], z = q[2], w = q[3];
    std::memset(m, 0, 16 * sizeof(float));
    m[0] = w * w + x * x - y * y - z * z;
    m[1] = 2 * (x * y + z * w);
    m[2] = 2 * (x * z - y * w);
    m[4] = 2 * (x * y - z * w);
    m[5] = w * w - x * x + y * y - z * z;
    m[6] = 2 * (y * z + x * w);
    m[8] = 2 * (x * z + y * w);
    m[9] = 2 * (y * z - x * w);
    m[10] = w * w - x * x - y * y + z * z;
    m[15] = x * x + y * y + z * z + w * w;
}

void SetIdentityQuaternion(float q[4]) {
    q[0] = q[1] = q[2] = 0;
    q[3] = 1;
}

}  // namespace

void MultiplyMatrix(const float a[16], const float b[16], float out[16]) {
    // Formed apart so that out may alias a or b.
    float p[16];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            p[4 * i + j] =
                a[4 * i] * b[j] + a[4 * i + 1] * b[4 + j] + a[4 * i + 2] * b[8 + j] + a[4 * i + 3] * b[12 + j];
    std::memcpy(out, p, sizeof(p));
}

void RebuildViewMatrix(World& world) {
    float v[16];
    std::memcpy(v, kIdentity, sizeof(kIdentity));
    PreMultiply(kRotZ, world.fPitch, v);
    PreMultiply(kRotX, world.fRoll, v);
    PreMultiply(kRotY, world.fYaw, v);
    std::memcpy(world.fViewMatrix, v, sizeof(v));
}

namespace {

// The key table. A key steps a float field (clamped to its range, or, for
// the angles, wrapped round 0..359) or toggles an option flag. Steps are 1, so
// from their integer start values the fields stay integers.
struct KeyBinding {
    unsigned char key;
    float World::*pValue;           // stepped field, or null
    float fStep;
    bool bWrap;
    float fMin, fMax;               // range of a clamped field
    unsigned char World::*pToggle;  // toggled flag, or null
};

constexpr float kViewMax = kGridSize - 1;
const KeyBinding kKeyTable[] = {
    {'x', &World::fViewX, -1, false, 0, kViewMax, nullptr},  {'X', &World::fViewX, +1, false, 0, kViewMax, nullptr},
    {'y', &World::fViewY, -1, false, 0, kViewMax, nullptr},  {'Y', &World::fViewY, +1, false, 0, kViewMax, nullptr},
    {'z', &World::fViewZ, -1, false, 0, kViewMax, nullptr},  {'Z', &World::fViewZ, +1, false, 0, kViewMax, nullptr},
    {'1', &World::fFov, +1, false, 2, 179, nullptr},         {'2', &World::fFov, -1, false, 2, 179, nullptr},
    {'5', &World::fRoll, +1, true, 0, 0, nullptr},           {'6', &World::fRoll, -1, true, 0, 0, nullptr},
    {'7', &World::fYaw, +1, true, 0, 0, nullptr},            {'8', &World::fYaw, -1, true, 0, 0, nullptr},
    {'9', &World::fPitch, +1, true, 0, 0, nullptr},          {'0', &World::fPitch, -1, true, 0, 0, nullptr},
    {'4', nullptr, 0, false, 0, 0, &World::bObjectMotion},   {'t', nullptr, 0, false, 0, 0, &World::bOccluderFusion},
    {'h', nullptr, 0, false, 0, 0, &World::bRenderingDisabled},
    {'e', nullptr, 0, false, 0, 0, &World::bExactVisibility},
    {'s', nullptr, 0, false, 0, 0, &World::bStrictCulling},
};

const KeyBinding* FindBinding(unsigned char key) {
    for (const KeyBinding& b : kKeyTable)
        if (b.key == key) return &b;
    return nullptr;
}

constexpr unsigned char kEscape = 27;
constexpr unsigned char kStructureKey = '3';  // an int flag, toggled apart

}  // namespace

bool IsBoundKey(unsigned char key) { return key == kEscape || key == kStructureKey || FindBinding(key); }

KeyResult ApplyKey(World& world, unsigned char key) {
    if (key == kEscape) return KeyResult::kQuit;
    if (key == kStructureKey) world.bStructureDisplay = world.bStructureDisplay == 0 ? 1 : 0;
    if (const KeyBinding* b = FindBinding(key)) {
        if (b->pToggle)
            Toggle(world.*(b->pToggle));
        else if (b->bWrap)
            StepWrapped(world.*(b->pValue), b->fStep);
        else
            StepClamped(world.*(b->pValue), b->fStep, b->fMin, b->fMax);
    }
    RebuildViewMatrix(world);
    return KeyResult::kHandled;
}

void ProjectToBall(const Trackball& ball, int mx, int my, float out[3]) {
    // Integer halves: the centre pixel of an even-sized area maps to 0.
    const int halfW = ball.iBallWidth / 2;
    const int halfH = ball.iBallHeight / 2;
    float x = static_cast<float>((mx - halfW) / (ball.iBallWidth * ball.fBallScale * 0.5));
    float y = static_cast<float>((halfH - my) / (ball.iBallHeight * ball.fBallScale * 0.5));
    const float d = x * x + y * y;
    float z;
    if (d > 1) {
        // Outside the ball: the nearest point of its rim.
        const float len = std::sqrt(d);
        x /= len;
        y /= len;
        z = 0;
    } else {
        z = std::sqrt(1 - d);
    }
    out[0] = x;
    out[1] = y;
    out[2] = z;
}

void TrackballPress(Trackball& ball, int mx, int my) {
    ball.bDragging = 1;
    ProjectToBall(ball, mx, my, ball.fLastPoint);
}

void TrackballDrag(Trackball& ball, int mx, int my) {
    if (ball.bDragging) {
        float c[3];
        ProjectToBall(ball, mx, my, c);
        const float* s = ball.fLastPoint;
        // Unit vectors S and C give a unit quaternion turning by twice their
        // angle about S x C.
        float q[4];
        Cross(s, c, q);
        q[3] = Dot(s, c);
        const float* b = ball.qBase;
        float qv_x_bv[3];
        Cross(q, b, qv_x_bv);
        ball.qDrag[0] = q[3] * b[0] + b[3] * q[0] + qv_x_bv[0];
        ball.qDrag[1] = q[3] * b[1] + b[3] * q[1] + qv_x_bv[1];
        ball.qDrag[2] = q[3] * b[2] + b[3] * q[2] + qv_x_bv[2];
        ball.qDrag[3] = q[3] * b[3] - Dot(q, b);
    }

    // Column-major rotation of qDrag: the transpose of the conjugate's matrix.
    const float conjugate[4] = {-ball.qDrag[0], -ball.qDrag[1], -ball.qDrag[2], ball.qDrag[3]};
    float m[16];
    QuaternionMatrix(conjugate, m);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) ball.fBallStep[4 * i + j] = m[4 * j + i];

    // Each step turns about screen-fixed axes after the rotation so far.
    MultiplyMatrix(ball.fBallRotation, ball.fBallStep, ball.fBallRotation);

    SetIdentityQuaternion(ball.qBase);
    SetIdentityQuaternion(ball.qDrag);
    ProjectToBall(ball, mx, my, ball.fLastPoint);
    ball.bDragging = 1;
}

void TrackballRelease(Trackball& ball) {
    ball.bDragging = 0;
    std::memcpy(ball.qBase, ball.qDrag, sizeof(ball.qBase));
}

}  // namespace gridcull
