// Scans of a shell's cells inside the frustum, the cell test and the handling
// of visible cells.
#pragma once

#include "../scene/World.h"

namespace gridcull {

struct AxisRunEnd;

// Axis of a scan member: 0 x, 1 y, 2 z.
enum ScanMember {
    kFaceXPos, kFaceXNeg, kFaceYPos, kFaceYNeg, kFaceZPos, kFaceZNeg,  // walk point on one face
    kEdgeXPos, kEdgeXNeg,      // x-z edge, rows along y on x = +-D
    kEdgeYPos, kEdgeYNeg,      // y-z edge, rows along x on y = +-D
    kYEdgeXPos, kYEdgeXNeg,    // x-y edge, rows along z on x = +-D
    kScanMemberCount
};

// Row scan of member m from start cell (x, y, z); faceOutside: the front
// face's plane lies outside the grid.
void ScanRow(World& world, ScanMember m, int x, int y, int z, int faceOutside);
// ScanRow with the row's run ends found already: low and high as
// FindRowRunEnds gives them from start along the member's run axis.
void ScanRowBetween(World& world, ScanMember m, const int start[3], int faceOutside, const AxisRunEnd& low,
                    const AxisRunEnd& high);
// Cap scan. Main members take startOutside as well; edge members ignore it.
void ScanCap(World& world, ScanMember m, int x, int y, int z, int faceOutside, int startOutside);

// Classifies cell (a, b, c) of the current shell: hidden cells are skipped,
// visible occluders mark the face maps, open cells clear bShellOccluded,
// visible cells are handled as HandleVisibleCell does; every tested cell
// feeds PVSVF.
// The cell must lie inside the grid.
void CellTest(World& world, int a, int b, int c);

// CellTest on count cells from cell from, stepping by step (+1 or -1) along
// axis (0, 1 or 2): the same cells in the same order, the shell bound checked once. It
// also marks stale entries in PVSVF: a caller other than the pass's walk
// calls DropStaleMarks(world) once its runs are over.
void CellTestRun(World& world, const int from[3], int axis, int step, int count);

// The cell runs mark stale entries in PVSVF too, saving a test per entry:
// before object j's refresh registers it, and once the pass is over for
// every object, the marks of objects still stale are dropped.
void DropStaleMarks(World& world, int j);
void DropStaleMarks(World& world);

// Marks and draws the objects of a visible cell and brings back every moving
// object whose volume surface passes through it.
void HandleVisibleCell(World& world, int a, int b, int c);
// The same for a visible cell inside the view frustum: its objects, and
// those brought back into it, are marked in PVSVF as well.
void SeeFrustumCell(World& world, int a, int b, int c);
// The two halves of HandleVisibleCell. MarkSeen: object k enters PVS, drawn
// if drawing is on. It leaves PVSVF alone, and a cell run's visible cells
// take an object already in PVS as marked in PVSVF too: every caller marks
// PVSVF alongside, but HandleVisibleCell, which only the viewpoint inside a
// solid uses, where no cell run follows. RefreshVolumesThrough: the volume refresh at grid cell
// (x, y, z); returns the number of objects brought back.
void MarkSeen(World& world, int k);
int RefreshVolumesThrough(World& world, int x, int y, int z);
// RefreshVolumesThrough for a cell already known to lie on a volume's surface.
int RefreshSurfaceObjects(World& world, int x, int y, int z);

// Observer of every CellTest call, for tests and statistics; null by default.
using CellTestObserver = void (*)(World& world, int a, int b, int c, void* context);
void SetCellTestObserver(CellTestObserver observer, void* context);
// Adds the number of CellTest calls to *counter (null: no count). Cheaper
// than an observer: a run is counted in one addition.
void SetCellTestCounter(long long* counter);

}  // namespace gridcull
