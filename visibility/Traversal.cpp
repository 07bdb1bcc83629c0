#include "visibility/Traversal.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "grid/Grid.h"
#include "scan/Scan.h"
#include "visibility/FaceOcclusion.h"
#include "visibility/Frustum.h"

namespace gridcull {

namespace {

constexpr int kNoFaceBound = 512;

// Row and cap scan members of a front face, by axis: the +D member, then -D.
constexpr ScanMember kFaceMembers[3][2] = {{kFaceXPos, kFaceXNeg}, {kFaceYPos, kFaceYNeg}, {kFaceZPos, kFaceZNeg}};

void BeginShell(World& world, int d) {
    std::fill_n(world.iFaceUMin, 6, kNoFaceBound);
    std::fill_n(world.iFaceVMin, 6, kNoFaceBound);
    std::fill_n(world.iFaceUMax, 6, 0);
    std::fill_n(world.iFaceVMax, 6, 0);
    world.iDist = d;
    world.bShellOccluded = d == 0 ? 0 : 1;
    world.iFaceStride = 2 * d + 3;
}

// True when the frustum's section of the shell lies wholly beyond the grid
// along this ray: the walk point lies outside the grid on the side the ray
// starts from, and the ray's end is still outside on that side.
bool SectionBeyondGrid(const World& world, const int walk[3], int axis, int direction, const AxisRunEnd& end) {
    int cell[3];
    ViewCell(world, cell);
    const int v = cell[axis];
    const int start = v + walk[axis];
    if (direction < 0 ? start <= kGridSize - 1 : start >= 0) return false;
    const int boundary = direction < 0 ? kGridSize - 1 - v : -v;
    return !end.iCorner && end.iClamped && end.iLimit == boundary;
}

// Walk point on one face of the shell: the front face is cut into rows across
// the row axis, each handed to a row scan by the cell where it crosses the
// line through the walk point; where the frustum reaches past an edge of the
// front face along the row axis, the face beyond it goes to a cap scan.
// Returns false when the shell is abandoned.
bool ScanFrontFace(World& world, const int walk[3], int front, int row) {
    const int d = world.iDist;
    const int third = 3 - front - row;
    int cell[3];
    ViewCell(world, cell);

    AxisRunEnd low, high;
    FindRowRunEndsEveryAxis(world, walk, row, d, low, high);
    if (SectionBeyondGrid(world, walk, row, -1, low) || SectionBeyondGrid(world, walk, row, +1, high)) return false;

    // The front axis and the third axis keep the walk point's coordinates in
    // both evaluations, so either one's flags say whether those lie outside.
    const int faceOutside = high.clamp.iOutside[front];
    const int startOutside = high.clamp.iOutside[third];
    const ScanMember member = kFaceMembers[front][walk[front] > 0 ? 0 : 1];
    const int s = ClampOffsetIntoGrid(walk[row], cell[row]);

    int at[3] = {walk[0], walk[1], walk[2]};
    // The rows at -d and +d are the caps' edge rows: a cap scan covers them.
    const int lowCap = low.iCorner && !low.iClamped;
    const int highCap = high.iCorner && !high.iClamped;
    // The rows' run ends along the third axis, found together: the rows
    // differ on the row axis alone.
    const int first = std::min(low.iLimit + lowCap, s), last = std::max(high.iLimit - highCap, s - 1);
    AxisRunEnd rowLow[kGridSize], rowHigh[kGridSize];
    if (first <= last) FindRowRunEndsAcross(world, walk, third, d, row, first, last, rowLow, rowHigh);
    // With the face's plane beyond the grid a row tests only what it reaches
    // around the shell's edges; a row that reaches neither is skipped.
    auto scanRow = [&](int r) {
        const AxisRunEnd &a = rowLow[r - first], &b = rowHigh[r - first];
        if (faceOutside && !((a.iCorner && !a.iClamped) || (b.iCorner && !b.iClamped))) return;
        at[row] = r;
        ScanRowBetween(world, member, at, faceOutside, a, b);
    };
    for (int r = s - 1; r >= low.iLimit + lowCap; --r) scanRow(r);
    if (lowCap && s > -d && InGrid(cell[row] - d)) {
        at[row] = -d;
        ScanCap(world, member, at[0], at[1], at[2], faceOutside, startOutside);
    }
    for (int r = s; r <= high.iLimit - highCap; ++r) scanRow(r);
    if (highCap && InGrid(cell[row] + d)) {
        at[row] = d;
        ScanCap(world, member, at[0], at[1], at[2], faceOutside, startOutside);
    }
    return true;
}

// Walk point on an edge (or corner) of the shell: rows of the face on axis
// face, from the edge at the walk point's row coordinate r0 toward -r0; the
// face at the edge itself and the one at -r0 (when the frustum reaches it) go
// to cap scans. Returns false when the shell is abandoned.
bool ScanFromEdge(World& world, const int walk[3], int face, int row, ScanMember member) {
    int cell[3];
    ViewCell(world, cell);
    const int r0 = walk[row];
    const int toward = r0 > 0 ? -1 : 1;

    AxisRunEnd farEnd;
    FindAxisRunEnd(world, walk, row, -r0, toward, farEnd);
    if (SectionBeyondGrid(world, walk, row, toward, farEnd)) return false;

    int capAt[3], rowAt[3] = {walk[0], walk[1], walk[2]};
    for (int k = 0; k < 3; ++k) capAt[k] = ClampOffsetIntoGrid(walk[k], cell[k]);
    capAt[face] = walk[face];
    const int faceOutside = InGrid(cell[face] + walk[face]) ? 0 : 1;
    const int e = capAt[row];

    const int farCap = farEnd.iCorner && !farEnd.iClamped;
    const int last = farEnd.iLimit - (farCap ? toward : 0);
    for (int r = e + toward; (last - r) * toward >= 0; r += toward) {
        rowAt[row] = r;
        ScanRow(world, member, rowAt[0], rowAt[1], rowAt[2], faceOutside);
    }
    if (farCap) {
        capAt[row] = -r0;
        ScanCap(world, member, capAt[0], capAt[1], capAt[2], faceOutside, 0);
    }
    // The edge row lies on the face at r0 unless clamping moved it into the
    // face's interior.
    if (e == r0) {
        capAt[row] = e;
        ScanCap(world, member, capAt[0], capAt[1], capAt[2], faceOutside, 0);
    } else {
        rowAt[row] = e;
        ScanRow(world, member, rowAt[0], rowAt[1], rowAt[2], faceOutside);
    }
    return true;
}

// Strict scan. The shell is split among its faces so that every cell lies on
// exactly one: the z faces whole, the x faces without their z edges, the y
// faces without their x and z edges. Rows run along x wherever the face
// allows, the cells' storage order.
struct StrictFace {
    int iFront;     // axis of the face's plane
    int iSign;      // the face lies at iSign * d
    int iRow;       // axis the rows are stacked along
    int iRun;       // axis a row runs along
    int iRowTrim;   // 1: the face's edges across iRow belong to an earlier face
    int iRunTrim;   // likewise across iRun
};

constexpr StrictFace kStrictFaces[6] = {
    {2, +1, 1, 0, 0, 0}, {2, -1, 1, 0, 0, 0},  // z = +-d
    {0, +1, 2, 1, 1, 0}, {0, -1, 2, 1, 1, 0},  // x = +-d
    {1, +1, 2, 0, 1, 1}, {1, -1, 2, 0, 1, 1},  // y = +-d
};

// A row is skipped only when some plane lies at least this far outside all of
// its centres, and a plane left out of the cuts only when it lies this far
// inside all of them: far beyond the float evaluation's error of about 1e-5,
// so neither changes a cell that the exact cut below would decide.
constexpr double kPlaneMargin = 1e-2;

// A strict plane that cuts the runs of a face: along a row it changes sign
// where the run coordinate reaches fRoot0 + w fRootStep (w the row; no
// crossing when the plane runs parallel to the rows, fRun = 0).
struct RunCut {
    const float* pPlane;
    float fRun;
    double fRoot0, fRootStep;
    double fMarginRun;  // kPlaneMargin in run cells: the plane's value changes by |fRun| a cell
};

// Narrows [lo, hi] to the cells of the row whose centres pass cut's plane, p
// being the row's grid point with p[run] unset. The root only places the
// start; the float test settles the end, and because that test is monotone
// along the row the result is exactly its passing cells.
void CutRunByPlane(const RunCut& cut, int w, float p[3], int run, int v, int& lo, int& hi) {
    const float* plane = cut.pPlane;
    auto passes = [&](int r) {
        p[run] = static_cast<float>(v + r);
        return PassesStrictPlane(plane, p);
    };
    if (cut.fRun == 0) {
        if (!passes(lo)) hi = lo - 1;
        return;
    }
    const double exact = cut.fRoot0 + w * cut.fRootStep;
    // A crossing this far beyond the row's end passes every cell by the
    // margin, as the face's plane selection does for whole faces.
    if (cut.fRun > 0 ? exact - hi >= cut.fMarginRun : lo - exact >= cut.fMarginRun) return;
    const double root = std::clamp(exact, lo - 2.0, hi + 2.0);
    // Rounded toward zero, the start lies within a cell of the crossing.
    const int near = static_cast<int>(root);
    if (cut.fRun > 0) {
        int end = std::clamp(near, lo - 1, hi);
        while (end >= lo && !passes(end)) --end;
        while (end < hi && passes(end + 1)) ++end;
        hi = end;
    } else {
        int end = std::clamp(near, lo, hi + 1);
        while (end <= hi && !passes(end)) ++end;
        while (end > lo && passes(end - 1)) --end;
        lo = end;
    }
}

// Hands to CellTest every grid cell of one face of shell d whose centre
// passes all strict planes, row by row, each row one run.
void ScanStrictFace(World& world, const StrictFace& face, int d) {
    int cell[3];
    ViewCell(world, cell);
    const int front = face.iFront, row = face.iRow, run = face.iRun;
    const int f = face.iSign * d;
    if (!InGrid(cell[front] + f)) return;
    int rowLo = std::max(-d + face.iRowTrim, -cell[row]);
    int rowHi = std::min(d - face.iRowTrim, kGridSize - 1 - cell[row]);
    const int runLo = std::max(-d + face.iRunTrim, -cell[run]);
    const int runHi = std::min(d - face.iRunTrim, kGridSize - 1 - cell[run]);
    if (runLo > runHi) return;

    // Rows that some plane keeps wholly outside: on a face each plane is
    // linear in the row, taken at the run's most favourable end.
    for (const float* plane : world.fStrictPlane) {
        const double nRow = plane[row];
        const double best = plane[run] > 0 ? runLo : runHi;
        const double atRow0 = plane[3] + static_cast<double>(plane[front]) * (cell[front] + f) +
                              static_cast<double>(plane[run]) * (cell[run] + best) + nRow * cell[row];
        if (nRow == 0) {
            if (atRow0 >= kPlaneMargin) return;
            continue;
        }
        const double bound = std::clamp((kPlaneMargin - atRow0) / nRow, rowLo - 2.0, rowHi + 2.0);
        if (nRow > 0)
            rowHi = std::min(rowHi, static_cast<int>(std::floor(bound)));
        else
            rowLo = std::max(rowLo, static_cast<int>(std::ceil(bound)));
    }

    // A plane that every centre of the remaining rows passes by the margin
    // leaves every run whole; only the others cut. Taken at the rows' and
    // runs' least favourable ends.
    RunCut cutting[5];
    int cuttingCount = 0;
    for (const float* plane : world.fStrictPlane) {
        const double worst = plane[3] + static_cast<double>(plane[front]) * (cell[front] + f) +
                             static_cast<double>(plane[row]) * (cell[row] + (plane[row] > 0 ? rowHi : rowLo)) +
                             static_cast<double>(plane[run]) * (cell[run] + (plane[run] > 0 ? runHi : runLo));
        if (worst <= -kPlaneMargin) continue;
        RunCut& cut = cutting[cuttingCount++];
        cut.pPlane = plane;
        cut.fRun = plane[run];
        if (cut.fRun == 0) continue;
        // Run offset where the plane's value is zero, as a function of the row.
        const double n = cut.fRun;
        const double atRow0 = plane[3] + static_cast<double>(plane[front]) * (cell[front] + f) +
                              static_cast<double>(plane[row]) * cell[row] + n * cell[run];
        cut.fRoot0 = -atRow0 / n;
        cut.fRootStep = -static_cast<double>(plane[row]) / n;
        cut.fMarginRun = kPlaneMargin / std::fabs(n);
    }

    float p[3];
    p[front] = static_cast<float>(cell[front] + f);
    int at[3];
    at[front] = f;
    for (int w = rowLo; w <= rowHi; ++w) {
        p[row] = static_cast<float>(cell[row] + w);
        int lo = runLo, hi = runHi;
        for (int i = 0; i < cuttingCount; ++i) {
            CutRunByPlane(cutting[i], w, p, run, cell[run], lo, hi);
            if (lo > hi) break;
        }
        at[row] = w;
        at[run] = lo;
        CellTestRun(world, at, run, +1, hi - lo + 1);
    }
}

// The viewpoint cell is seen whatever fills it: a sphere that holds the eye
// is culled from inside. It marks no face: at distance 0 a face has no
// farther shell to hide.
void HandleViewpointCell(World& world) {
    int cell[3];
    ViewCell(world, cell);
    if (!InGrid(cell[0], cell[1], cell[2])) return;
    SeeFrustumCell(world, 0, 0, 0);
}

// Outlines and propagates every face marked on this shell, then clears the
// marks for the next shell. The marks of shell 1 are cleared unpropagated,
// which can only hide less.
void PropagateShellFaces(World& world) {
    const int stride = world.iFaceStride;
    for (int k = 0; k < 6; ++k) {
        if (!world.bFaceMarked[k]) continue;
        // A face found wholly covered earlier in the frame already hides
        // everything its later shells could.
        if (world.iDist != 1 && !world.bFaceDone[k]) {
            const FacePropagatorFn FacePropagator = kPropagateFace[k];
            world.fFaceUMin = static_cast<float>(world.iFaceUMin[k]);
            world.fFaceUMax = static_cast<float>(world.iFaceUMax[k]);
            world.fFaceVMin = static_cast<float>(world.iFaceVMin[k]);
            world.fFaceVMax = static_cast<float>(world.iFaceVMax[k]);
            world.iFace = k;
            if (world.bStrictCulling) {
                PropagateFaceStrict(world, world.FaceMap[k], world.iFaceStride);
            } else {
                ExtractFaceOutline(world, world.FaceMap[k], world.iFaceStride);
                FacePropagator(world);
            }
            world.bFaceDone[k] = world.bFaceFull;
        }
        // Marks, fused cells and vertex ids all lie in the rectangle of the
        // marks: clearing it leaves the whole map empty again.
        const int uMin = world.iFaceUMin[k], width = world.iFaceUMax[k] - uMin + 1;
        int* row = world.FaceMap[k] + world.iFaceVMin[k] * stride + uMin;
        for (int v = world.iFaceVMin[k]; v <= world.iFaceVMax[k]; ++v, row += stride) {
#ifdef __SSE2__
            // Four entries a store, two stores a step, the last store ending
            // at the row's end.
            if (width >= 4) {
                const __m128i zero = _mm_setzero_si128();
                int i = 0;
                for (; i < width - 8; i += 8) {
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i), zero);
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i + 4), zero);
                }
                if (i < width - 4) _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i), zero);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(row + width - 4), zero);
                continue;
            }
#endif
            std::fill_n(row, width, 0);
        }
        world.bFaceMarked[k] = 0;
    }
}

// The walk of WalkViewAxis: every shell from 0 on, until one has no open cell.
void WalkShells(World& world, int startX, int startY, int startZ, int endX, int endY, int endZ) {
    const int delta[3] = {endX - startX, endY - startY, endZ - startZ};
    int step[3], extent[3];
    for (int k = 0; k < 3; ++k) {
        step[k] = delta[k] < 0 ? -1 : 1;
        extent[k] = std::abs(delta[k]);
    }
    const int drive = extent[0] >= extent[1] && extent[0] >= extent[2] ? 0 : extent[1] >= extent[2] ? 1 : 2;
    const int minor[2] = {(drive + 1) % 3, (drive + 2) % 3};
    int error[2];
    for (int j = 0; j < 2; ++j) error[j] = 2 * extent[minor[j]] - extent[drive];

    // The driving coordinate advances by one per step and the minor ones
    // never overtake it, so step i lands on shell i: shells are visited front
    // to back, each once. fFarDist = 70 sqrt(3) puts the far point at least
    // 70 away on the driving axis, so the walk reaches shell 69, beyond which
    // no grid cell lies.
    //
    // Stopping after a shell without an open cell never hides a visible cell
    // in strict mode either. A cell of a farther shell that the drawn frustum
    // reaches holds a point x seen from the eye e; the segment e-x lies in the
    // frustum and in the grid's box (both convex, both holding e and x), and
    // its Chebyshev distance from the viewpoint cell grows from at most 1/2 to
    // more than d, so it passes through a cell of shell d that is in the grid
    // and in the frustum, and so was tested. That cell was hidden, and the
    // segment is blocked before it, or an occluder, and the segment runs
    // through an opaque sphere.
    int point[3] = {0, 0, 0};
    for (int i = 0; i < extent[drive]; ++i) {
        TraverseShell(world, point[0], point[1], point[2]);
        if (world.bShellOccluded) return;
        for (int j = 0; j < 2; ++j) {
            if (error[j] > 0) {
                point[minor[j]] += step[minor[j]];
                error[j] -= 2 * extent[drive];
            }
            error[j] += 2 * extent[minor[j]];
        }
        point[drive] += step[drive];
    }
    TraverseShell(world, point[0], point[1], point[2]);
}

}  // namespace

void WalkViewAxis(World& world, int startX, int startY, int startZ, int endX, int endY, int endZ) {
    WalkShells(world, startX, startY, startZ, endX, endY, endZ);
    // Cells beyond the last shell, for whoever reads H after the pass.
    WriteStagedHidden(world);
    // The cell runs marked stale entries too; what is still stale was never held.
    DropStaleMarks(world);
}

void TraverseShell(World& world, int a, int b, int c) {
    const int walk[3] = {a, b, c};
    const int ax = std::abs(a), ay = std::abs(b), az = std::abs(c);
    const int d = std::max(ax, std::max(ay, az));
    BeginShell(world, d);
    WriteStagedShell(world, d);

    // Strict: the whole shell, wherever the frustum's section lies; the walk
    // point only gives the distance.
    if (world.bStrictCulling) {
        if (d == 0) {
            HandleViewpointCell(world);
            return;
        }
        for (const StrictFace& face : kStrictFaces) ScanStrictFace(world, face, d);
        PropagateShellFaces(world);
        return;
    }

    // One dominant coordinate: the walk point lies inside one face. The row
    // axis is z for the x and y faces and x for the z faces.
    bool scanned = true;
    if (ax > ay && ax > az)
        scanned = ScanFrontFace(world, walk, 0, 2);
    else if (ay > ax && ay > az)
        scanned = ScanFrontFace(world, walk, 1, 2);
    else if (az > ax && az > ay)
        scanned = ScanFrontFace(world, walk, 2, 0);
    // Edges, in this order, so a corner of the shell counts as an x-z edge.
    else if (a != 0 && c != 0 && ax == az)
        scanned = ScanFromEdge(world, walk, 0, 2, a > 0 ? kEdgeXPos : kEdgeXNeg);
    else if (b != 0 && c != 0 && ay == az)
        scanned = ScanFromEdge(world, walk, 1, 2, b > 0 ? kEdgeYPos : kEdgeYNeg);
    else if (a != 0 && ax == ay)
        scanned = ScanFromEdge(world, walk, 0, 1, a > 0 ? kYEdgeXPos : kYEdgeXNeg);
    // Otherwise d = 0: the viewpoint cell itself is never tested.

    // An abandoned shell scanned nothing and keeps bShellOccluded set, which
    // ends the walk.
    if (scanned) PropagateShellFaces(world);
}

}  // namespace gridcull
