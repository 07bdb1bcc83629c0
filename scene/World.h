// The one state record of the system. Every operation takes it as its
// receiver; it owns every array, all allocated once by SetupScene.
#pragma once

#include <cstddef>
#include <cstdint>

// Core headers include each other relative to themselves, so they resolve
// alike in the source tree and installed under include/gridcull/.
#include "../grid/BitSet.h"
#include "../grid/ObjectSet.h"
#include "SceneObject.h"

namespace gridcull {

constexpr int kGridSize = 70;
constexpr int kCellCount = kGridSize * kGridSize * kGridSize;  // 343000
constexpr int kColumnCount = kGridSize * kGridSize;            // 4900 per plane
// Cell index step for one cell along x, y, z.
constexpr int kAxisStride[3] = {1, kGridSize, kColumnCount};
constexpr int kObjectCount = 5000;
constexpr int kDynamicCount = 200;
constexpr int kStaticCount = kObjectCount - kDynamicCount;
constexpr int kDynamicWords = (kDynamicCount + 63) / 64;  // one bit per moving object
constexpr int kCellWords = 21438;    // 343008 bits
constexpr int kColumnWords = 307;    // 4912 bits
constexpr int kReadBackSide = 300;
constexpr int kReadBackPixels = kReadBackSide * kReadBackSide;
constexpr int kFaceMapEntries = 262144;
constexpr int kMaxFaceVertices = 16384;
constexpr int kMaxBands = 512;
constexpr int kMaxBandEntries = 256;
constexpr int kMaxStopRows = 512;
// A marked face has at most 2 * 69 + 1 entries a side.
constexpr int kMarkedFaceSide = 2 * kGridSize;
// Distance of the far rectangle: the grid's space diagonal, 70 sqrt(3).
constexpr float kFarDist = 121.24355652982141f;  // sqrt(14700)
constexpr double kDegToRad = 0.0174532925199;
// Near clipping distance of the 3D view, in grid units. The core needs it to
// know which spheres the image sees through.
constexpr double kNearPlane = 0.1;

struct FaceVertex {
    float fU, fV;    // face coordinates; integers when created
    // Per-shell increment. Unused: vertices of equal coordinate move alike,
    // so the propagation steps a table of coordinates instead.
    float fDU, fDV;
};

// Strict propagation's view of a farther plane d of shell D's faces: the
// entries of the plane D - 0.5 that each cell meets, and the cells that fit
// within a run of entries. It depends on D and d only, so it is computed
// once, on first use. Offsets and entries are relative to the face centre.
struct PlaneEntryTable {
    static constexpr int kCellBias = kGridSize - 1;  // cell offsets -69..69
    static constexpr int kEntryBias = kGridSize;     // entries -70..70
    unsigned char bFilled;
    signed char iEntryFirst[2 * kGridSize - 1];  // first entry the cell meets
    signed char iEntryLast[2 * kGridSize - 1];   // last entry the cell meets
    signed char iFromEntry[2 * kGridSize + 1];   // first cell whose entries all lie at or past the entry
    signed char iToEntry[2 * kGridSize + 1];     // last cell whose entries all lie at or before it
};
// One table per plane pair D < d, at d (d - 1) / 2 + D.
constexpr int kPlanePairCount = kGridSize * (kGridSize - 1) / 2;

// Runs of entries marked on every one of a few neighbouring rows of a strict
// face map, as entry indices relative to the map's uMin.
struct EntryRuns {
    int iCount;  // -1 until found
    unsigned char iFirst[(kMarkedFaceSide + 1) / 2], iLast[(kMarkedFaceSide + 1) / 2];
};
// Runs kept per entry row: of the row alone, and with its next one or two.
constexpr int kKeptRowCounts = 3;

// Hidden cells of propagated spans that run along y or z, held per grid
// plane as lines of bits along the span's axis until the plane's shell is
// tested: one word write per span and line instead of one per cell, and a
// cell that many shadows cover reaches H once. Kinds: the plane's axis, the
// span's axis and the line's axis, in kStagedKinds (FaceOcclusion.cpp).
constexpr int kStagedKindCount = 4;
struct StagedHidden {
    std::uint64_t Line[kStagedKindCount][kGridSize][kGridSize][2];  // [kind][plane][line], bit = span cell
    std::uint64_t DirtyLines[kStagedKindCount][kGridSize][2];       // lines holding a bit
};

// The moving objects whose volume outline covers one column of a plane,
// one bit each (object j: word j / 64, bit j % 64), so that the volume
// refresh of a visible cell is a few word operations.
struct ColumnObjects {
    std::uint64_t iWord[kDynamicWords] = {};
    bool empty() const {
        std::uint64_t any = 0;
        for (std::uint64_t w : iWord) any |= w;
        return any == 0;
    }
};

// Spans of one band: left (or top) and right (or bottom) vertex ids.
struct SpanList {
    int iCount;
    int iFirst[kMaxBandEntries];
    int iSecond[kMaxBandEntries];
};

struct StopList {
    int iCount;
    int iVertex[kMaxBandEntries];
};

// One pass's bands (rows or columns) by face coordinate, beside the span and
// stop lists and in their order: band b's span ends (along its line) are
// iSpanEnds[iSpanFrom[b] ..], its stop lines iStopLine[iStopFrom[b] ..],
// each up to the next band's start. Every span end and stop is a vertex, so
// the vertex capacity bounds both.
struct BandCoords {
    int iSpanFrom[kMaxBands + 1];
    int iStopFrom[kMaxBands + 1];
    std::uint16_t iBandLine[kMaxBands];
    std::uint16_t iSpanEnds[kMaxFaceVertices][2];
    std::uint16_t iStopLine[kMaxFaceVertices];
};

// Virtual trackball of the overview view.
struct Trackball {
    int iBallWidth = 0;
    int iBallHeight = 0;
    float fBallScale = 0;
    float qBase[4] = {0, 0, 0, 1};  // x, y, z, w
    float qDrag[4] = {0, 0, 0, 1};
    float fBallRotation[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    float fBallStep[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    unsigned char bDragging = 0;
    float fLastPoint[3] = {0, 0, 0};
};

struct World;

// Strict culling's copy of this frame's camera as the 3D view builds it:
// eye, forward, side and up axes, the near rectangle's half side and the
// distance from the eye to its corners.
struct SeeThroughCamera {
    double fEye[3], fForward[3], fSide[3], fUp[3];
    double fHalfSide, fReach;
};

// Called for every object that the traversal draws, in traversal order.
using DrawObjectHook = void (*)(World& world, SceneObject& object, void* context);

struct World {
    // Frame statistics and grid size
    int iFrame;
    float fFpsSum;
    int iFpsSamples;
    int iGridSize;

    // View frustum
    float fFrustumPlane[5][4];  // +x, -x, +y, -y, near; inside when a.p + d < 0
    float fFarCorner[4][3];     // 0 and 1 diagonal, as are 2 and 3
    float fSidePlaneLanes[4][4];  // the side planes by component (x, y, z, d), for four-lane tests
    float fFarDist;
    // Strict culling's frustum: the side planes above and a near plane
    // through the viewpoint, each pushed out by half a cell along its normal
    // plus a rounding slack, so that every cell whose cube reaches into the
    // drawn frustum passes (see CellInStrictFrustum).
    float fStrictPlane[5][4];
    SeeThroughCamera SeeThrough;

    // Grid bitsets
    BitSet H;   // hidden cells of the current frame
    BitSet O;   // occluder cells of the current frame
    BitSet Os;  // static occluder cells
    BitSet Txy[kDynamicCount];
    BitSet Tyz[kDynamicCount];
    BitSet Txz[kDynamicCount];

    // Owned heap arrays
    ColumnObjects* TxyN;  // 4900 columns, index x + 70y
    ColumnObjects* TyzN;  // index z + 70y
    ColumnObjects* TxzN;  // index x + 70z
    ObjectSet* I;         // 343000 cell sets, index x + 70y + 4900z
    unsigned char* PVS;
    unsigned char* PVSVF;
    unsigned char* PVSEXACT;
    unsigned char* ucReadBufferR;
    unsigned char* ucReadBufferG;
    unsigned char* ucReadBufferB;
    SceneObject* disks;

    // Option flags, 0 or 1
    unsigned char bOccluderFusion;
    unsigned char bRenderingDisabled;
    unsigned char bExactVisibility;
    unsigned char bObjectMotion;
    unsigned char bStrictCulling;  // never cull what the image shows

    // Shell faces and propagation
    int* FaceMap[6];
    unsigned char bFaceMarked[6];
    float fFaceVMin, fFaceVMax, fFaceUMin, fFaceUMax;
    int iFaceUMin[6], iFaceVMin[6], iFaceUMax[6], iFaceVMax[6];
    SpanList RowSpanList[kMaxBands];
    StopList RowStopList[kMaxBands];
    SpanList ColSpanList[kMaxBands];
    StopList ColStopList[kMaxBands];
    int iFaceVertexCount;
    int iRowListCount;
    int iColListCount;
    gridcull::FaceVertex FaceVertex[kMaxFaceVertices];
    BandCoords RowBandCoords, ColBandCoords;  // the lists above by coordinate, for the propagation
    PlaneEntryTable StrictPlaneEntries[kPlanePairCount];
    // Scratch of the face propagation, here rather than on the caller's stack
    // (about 64 KB for each path).
    std::uint64_t FaceRowBits[kFaceMapEntries / 64];
    std::uint64_t FaceColumnBits[kFaceMapEntries / 64];
    EntryRuns StrictKeptRuns[kMarkedFaceSide][kKeptRowCounts];
    StagedHidden Staged;  // empty between passes

    // Shell traversal state
    unsigned char bFaceFull;
    unsigned char bFaceDone[6];
    unsigned char bShellOccluded;
    int iDist;
    int iFaceStride;
    int iFace;

    // Camera and overview
    float fViewX, fViewY, fViewZ;
    int iViewCellX, iViewCellY, iViewCellZ;
    float fRoll, fYaw, fPitch;
    float fFov;
    float fViewMatrix[16];
    gridcull::Trackball Trackball;
    int bStructureDisplay;

    // Not part of the drawn state: where the traversal sends the objects it
    // draws. Null draws nothing.
    DrawObjectHook pfnDrawObject;
    void* pDrawContext;
};

// Puts a freshly allocated record into its start state. Allocates nothing.
void ConstructWorld(World& world);
// Frees every array the record owns; null pointers are skipped.
void DestroyWorld(World& world);

// Reports set-up progress and failures; the core itself does no I/O.
struct SetupObserver {
    void (*pfnProgress)(void* context) = nullptr;                     // one dot
    void (*pfnFailure)(void* context, const char* message) = nullptr; // message ends in "\n"
    void* pContext = nullptr;
};

// Source of the set-up's memory. The default uses malloc; tests replace it to
// fail a chosen allocation. name is the array's name, index the entry of an
// array of bitsets or -1.
using AllocateHook = void* (*)(std::size_t bytes, const char* name, int index);
void SetAllocateHook(AllocateHook hook);  // null restores the default

// Allocates every array in the fixed order, with one progress dot after each
// step (13 in all), without generating the scene. Returns false after
// reporting the first failed allocation. Tests use it for an empty grid.
bool AllocateWorldArrays(World& world, const SetupObserver& observer);

// Allocates every array in the fixed order, with one progress dot after each
// step, generates the scene and resets the per-run state. Returns false after
// reporting the first failed allocation; the caller ends the process.
bool SetupScene(World& world, const SetupObserver& observer);

// Allocates and constructs a World record; null when memory is short.
World* NewWorld();
// Destroys the record's arrays and frees it.
void DeleteWorld(World* world);

}  // namespace gridcull
