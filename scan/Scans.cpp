// Row and cap scans: which cells of a shell are tested, and in what order.
//
// Every member of each family runs the same algorithm; a member is only its
// axes. F is the front axis (the front face lies at f = +-d on it) and delta
// the direction along F away from the front face. A row scan runs along R on
// the row W = w of the front face, then turns around the shell edge and runs
// along F on the side face. A cap scan covers the face P = p beyond an edge of
// the front face, in rows stacked along R, each running along F.
//
// Every run starts inside the grid and stops where the frustum or the grid
// ends, whichever comes first. Runs may reach past the shell; the cell test
// ignores those cells.
#include <algorithm>
#include <cstdlib>

#include "grid/Grid.h"
#include "scan/Scan.h"
#include "visibility/Frustum.h"

namespace gridcull {

namespace {

struct ScanAxes {
    int iFront;  // F
    int iDelta;  // -1 for a front face at +d, +1 at -d
    int iRun;    // R: run axis of a row scan, row axis of a cap scan
    int iThird;  // W (row scan) or P (cap scan)
    // When the front face's plane lies outside the grid, a guarded member
    // skips a run along F whose frustum end lies short of the grid; an
    // unguarded one still tests the run's cell at the grid boundary.
    bool bGuard;
};

constexpr ScanAxes kScanAxes[kScanMemberCount] = {
    {0, -1, 1, 2, true},   // kFaceXPos
    {0, +1, 1, 2, true},   // kFaceXNeg
    {1, -1, 0, 2, true},   // kFaceYPos
    {1, +1, 0, 2, true},   // kFaceYNeg
    {2, -1, 1, 0, true},   // kFaceZPos
    {2, +1, 1, 0, true},   // kFaceZNeg
    {0, -1, 1, 2, false},  // kEdgeXPos
    {0, +1, 1, 2, false},  // kEdgeXNeg
    {1, -1, 0, 2, true},   // kEdgeYPos
    {1, +1, 0, 2, true},   // kEdgeYNeg
    {0, -1, 2, 1, false},  // kYEdgeXPos
    {0, +1, 2, 1, false},  // kYEdgeXNeg
};

// Tests cells along F from cell's front-face position away from the front
// face, up to where a ray cast that way leaves the frustum or the grid (reach,
// the ray from cell). With the front face's plane outside the grid the run
// starts at the grid boundary.
void ScanAwayFromFront(World& world, const ScanAxes& axes, const int from[3], const AxisRayReach& reach,
                       int faceOutside) {
    const int f = axes.iFront, delta = axes.iDelta;
    int cell[3] = {from[0], from[1], from[2]};
    int q = cell[f];
    if (faceOutside) {
        const int v = ViewCell(world, f);
        if (axes.bGuard) {
            const float at = static_cast<float>(v) + reach.fHit;
            if (delta < 0 ? !(at < kGridSize) : !(at >= 0)) return;
        }
        q = delta < 0 ? kGridSize - 1 - v : -v;
    }
    cell[f] = q;
    CellTestRun(world, cell, f, delta, (reach.iEnd - q) * delta + 1);
}

// ScanAwayFromFront for a row that turns at its corner. Out of line: few rows
// turn, and the row scan keeps its registers for the ones that do not.
[[gnu::noinline]] void ScanAroundCorner(World& world, const ScanAxes& axes, const int from[3], int faceOutside) {
    AxisRayReach reach;
    const int r = axes.iRun;
    AxisRayReaches(world, from, axes.iFront, axes.iDelta, r, from[r], from[r], &reach);
    ScanAwayFromFront(world, axes, from, reach, faceOutside);
}

}  // namespace

void ScanRow(World& world, ScanMember m, int x, int y, int z, int faceOutside) {
    const ScanAxes& axes = kScanAxes[m];
    const int start[3] = {x, y, z};
    // The ray origins keep the unclamped start.
    AxisRunEnd low, high;
    FindRowRunEnds(world, start, axes.iRun, std::abs(start[axes.iFront]), low, high);
    ScanRowBetween(world, m, start, faceOutside, low, high);
}

// With the face outside the grid a row only turns at its corners; the face
// scan skips rows that turn at neither (no corner inside the frustum ends a
// run inside the grid), so a change here must keep that true.
void ScanRowBetween(World& world, ScanMember m, const int start[3], int faceOutside, const AxisRunEnd& low,
                    const AxisRunEnd& high) {
    const ScanAxes& axes = kScanAxes[m];
    const int r = axes.iRun;
    const int s0 = ClampOffsetIntoGrid(start[r], ViewCell(world, r));

    int cell[3] = {start[0], start[1], start[2]};
    // Both runs include the start cell, except that a low run cut at the
    // grid leaves it to the high run.
    if (!faceOutside) {
        cell[r] = low.iClamped ? s0 - 1 : s0;
        CellTestRun(world, cell, r, -1, cell[r] - low.iLimit + 1);
    }
    // A corner inside the frustum means the row goes on around the edge.
    if (low.iCorner && !low.iClamped) {
        cell[r] = low.iLimit;
        ScanAroundCorner(world, axes, cell, faceOutside);
    }
    if (!faceOutside) {
        cell[r] = s0;
        CellTestRun(world, cell, r, +1, high.iLimit - s0 + 1);
    }
    if (high.iCorner && !high.iClamped) {
        cell[r] = high.iLimit;
        ScanAroundCorner(world, axes, cell, faceOutside);
    }
}

void ScanCap(World& world, ScanMember m, int x, int y, int z, int faceOutside, int /*startOutside*/) {
    const ScanAxes& axes = kScanAxes[m];
    const int r = axes.iRun;
    int start[3] = {x, y, z};
    const int d = std::abs(start[axes.iFront]);
    // startOutside only repeats whether s lies outside the grid, and edge
    // members get s clamped already; clamping inside the grid changes
    // nothing, so s is clamped unconditionally.
    start[r] = ClampOffsetIntoGrid(start[r], ViewCell(world, r));
    AxisRunEnd low, high;
    FindRowRunEnds(world, start, r, d, low, high);

    // Rows below s first, then s and the rows above; each row starts on the
    // front face's edge row. Their rays differ on r alone and are cast
    // together, lowest row first.
    const int first = std::min(low.iLimit, start[r]), last = std::max(high.iLimit, start[r] - 1);
    if (first > last) return;
    AxisRayReach reach[kGridSize];
    AxisRayReaches(world, start, axes.iFront, axes.iDelta, r, first, last, reach);
    int cell[3] = {start[0], start[1], start[2]};
    for (int i = start[r] - 1; i >= low.iLimit; --i) {
        cell[r] = i;
        ScanAwayFromFront(world, axes, cell, reach[i - first], faceOutside);
    }
    for (int i = start[r]; i <= high.iLimit; ++i) {
        cell[r] = i;
        ScanAwayFromFront(world, axes, cell, reach[i - first], faceOutside);
    }
}

}  // namespace gridcull
