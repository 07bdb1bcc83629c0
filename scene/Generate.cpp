#include "grid/Grid.h"
#include "scene/Random.h"
#include "scene/Scene.h"

namespace gridcull {

namespace {

// Single-precision 1/32767: the position draws are scaled with the float.
const float kUnit = 1.0f / 32767.0f;

// Steps shared by moving and static objects: position, angles, angular
// velocities, grey, identifier colour and the first volume interval. Sizes
// and colours are formed in double from the draw and rounded once.
void GeneratePlacement(World& world, std::uint32_t& state, int index) {
    SceneObject& o = world.disks[index];
    o.fPosition[0] = static_cast<float>(NextRandom(state) * kUnit) * 70;
    o.fPosition[1] = static_cast<float>(static_cast<double>(NextRandom(state) * kUnit) * 70);
    o.fPosition[2] = static_cast<float>((NextRandom(state) * kUnit + 0.125) * 70);
    int a1 = NextRandom(state) % 360, a2 = NextRandom(state) % 360, a3 = NextRandom(state) % 360;
    o.fAngle[0] = static_cast<float>(a3);
    o.fAngle[1] = static_cast<float>(a2);
    o.fAngle[2] = static_cast<float>(a1);
    int b1 = 5 - NextRandom(state) % 10, b2 = 5 - NextRandom(state) % 10, b3 = 5 - NextRandom(state) % 10;
    o.fAngularVelocity[0] = static_cast<float>(b3);
    o.fAngularVelocity[1] = static_cast<float>(b2);
    o.fAngularVelocity[2] = static_cast<float>(b1);
    int m = NextRandom(state) % 10 + 1;
    float grey = static_cast<float>(0.7 / m + 0.3);
    o.fColor[0] = o.fColor[1] = o.fColor[2] = grey;
    o.fColor[3] = 1;
    o.ucIdColor[0] = static_cast<unsigned char>((index >> 16) & 255);
    o.ucIdColor[1] = static_cast<unsigned char>((index >> 8) & 255);
    o.ucIdColor[2] = static_cast<unsigned char>(index & 255);
    for (int k = 0; k < 3; ++k) o.fTbvOrigin[k] = o.fPosition[k];
    o.iTbvStartFrame = world.iFrame;
    o.iTbvEndFrame = NextRandom(state) % 40 + world.iFrame + 5;
}

void DiscardDraws(std::uint32_t& state, int count) {
    for (int k = 0; k < count; ++k) NextRandom(state);
}

}  // namespace

void GenerateScene(World& world) {
    std::uint32_t state = kRandomSeed;
    for (int i = 0; i < kDynamicCount; ++i) {
        SceneObject& o = world.disks[i];
        int v = NextRandom(state) % 5 + 1;
        o.fRadius = o.fBoundRadius = static_cast<float>((2.0 / v + 2.5) * 70 * 0.02);
        for (int k = 0; k < 3; ++k) {
            int speed = NextRandom(state) % 50 + 1;
            o.fVelocity[k] = static_cast<float>(2.0 / speed - 0.05);
        }
        o.fBounds[0] = o.fBounds[1] = o.fBounds[2] = 70;
        o.iCellCount = 0;
        DiscardDraws(state, 6);
        GeneratePlacement(world, state, i);
        // Registered by the first frame, which finds its PVS flag set.
        o.bInTemporalVolume = 0;
        world.PVS[i] = 1;
        world.PVSVF[i] = 1;
    }
    for (int j = kDynamicCount; j < kObjectCount; ++j) {
        SceneObject& o = world.disks[j];
        int v = NextRandom(state) % 50 + 1;
        o.fRadius = o.fBoundRadius = static_cast<float>((4.5 / v + 0.5) * 70 * 0.02);
        DiscardDraws(state, 1);
        o.fVelocity[0] = o.fVelocity[1] = o.fVelocity[2] = 0;
        o.fBounds[0] = o.fBounds[1] = o.fBounds[2] = 70;
        o.iCellCount = 0;
        DiscardDraws(state, 6);
        GeneratePlacement(world, state, j);
        o.bInTemporalVolume = 0;
        RegisterObject(world, j, true, false);
        world.PVS[j] = 1;
        world.PVSVF[j] = 1;
    }
}

void MoveObject(SceneObject& o) {
    float r = o.fBoundRadius;
    for (int k = 0; k < 3; ++k) o.fPosition[k] += o.fVelocity[k];
    for (int k = 0; k < 3; ++k)
        if (o.fPosition[k] > o.fBounds[k] - r - 3) o.fVelocity[k] = -o.fVelocity[k];
    for (int k = 0; k < 3; ++k)
        if (r + 3 > o.fPosition[k]) o.fVelocity[k] = -o.fVelocity[k];
}

}  // namespace gridcull
