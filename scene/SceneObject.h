// One sphere of the scene. Objects 0..199 move; 200..4999 are static.
#pragma once

namespace gridcull {

// Room for the cells of one registration: a cube of n cells a side needs
// n^3 + 2 entries, so any bounding radius below 12 fits.
constexpr int kMaxObjectCells = 16384;

struct SceneObject {
    float fColor[4];                          // diffuse grey (g, g, g, 1)
    unsigned char ucIdColor[3] = {0, 0, 0};   // the index as a colour, for read-back
    float fPosition[3] = {0, 0, 0};           // centre in grid units
    float fVelocity[3] = {1, 1, 1};           // displacement per frame
    float fAngle[3] = {0, 0, 0};              // degrees about x, y, z; advanced per draw
    float fAngularVelocity[3] = {1, 1, 1};    // degrees per draw
    float fRadius = 0;                        // drawn sphere; decides occluder cells
    float fBoundRadius = 0;                   // registration cube, volume size, bouncing
    float fSlices = 25;
    float fStacks = 25;
    float fBounds[3] = {0, 0, 0};             // upper corner of the bounce box
    unsigned char bInTemporalVolume;          // 1 while only the volume represents it
    float fTbvOrigin[3];                      // position when the volume was built
    int iTbvStartFrame;
    int iTbvEndFrame;                         // the volume has expired when <= iFrame
    float fTbvHalfSize;                       // half edge t of the volume cube, an integer
    float fCells[kMaxObjectCells][3];         // removal list of the last registration
    int iCellCount = 0;
    // Set by a remove-only registration: the cells of fCells no longer hold
    // the object, so the next registration need not erase them again.
    unsigned char bCellsRemoved = 0;
    // Removed by the frame's refresh, but its entries still sit in I: every
    // reader of I skips them, and the next registration moves the entries
    // by difference instead of erasing and entering them all.
    unsigned char bCellsStale = 0;
    // The cells of fCells as the clipped cube iCubeLo..iCubeHi plus the
    // rounded and truncated centre cells (x = -1 outside the grid); valid
    // while iRegionCells equals iCellCount.
    int iCubeLo[3], iCubeHi[3];
    int iCentreCells[2][3];
    int iRegionCells = -1;
    // The volume was sized by strict culling's rules (holds the sphere for
    // the whole interval, leaves the eye outside); a literal one is not
    // trusted by strict culling.
    unsigned char bStrictVolume = 0;
};

}  // namespace gridcull
