// Face occlusion maps: outlines of the occluder cells found on a shell face,
// projected outward onto the same face of every farther shell as hidden cells.
//
// Conservative at capacity: an outline that would need more vertices, bands,
// spans or stop rows than the fixed lists hold is not propagated at all (it
// hides less, never more).
#pragma once

#include "../scene/World.h"

namespace gridcull {

// Marks occluder cell (a, b, c) of the current shell on every face it lies on.
void MarkOccluderFaces(World& world, int a, int b, int c);

// Fuses the face map with hidden cells (when occluder fusion is on) and
// rebuilds the outline lists of face iFace from map; sets bFaceFull.
void ExtractFaceOutline(World& world, int* map, int stride);

// Strict culling's face step, in place of the outline and its propagator:
// fuses the map like ExtractFaceOutline, sets bFaceFull, and hides each cell
// of face iFace on the farther shells whose cube, seen from the eye, lies
// wholly behind marked entries. Never hides a cell that a ray from the eye
// reaches unblocked.
void PropagateFaceStrict(World& world, int* map, int stride);

// The propagation holds the cells it hides along y and z spans in
// world.Staged until these write them to H: WriteStagedShell the cells of
// shell d's six planes, which must precede any test of the shell's cells;
// WriteStagedHidden all of them, so that H is complete.
void WriteStagedShell(World& world, int d);
void WriteStagedHidden(World& world);

using FacePropagatorFn = void (*)(World& world);
// PropagateFace members, indexed by face 0..5.
extern const FacePropagatorFn kPropagateFace[6];

}  // namespace gridcull
