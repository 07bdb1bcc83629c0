#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "grid/Grid.h"

namespace gridcull {

namespace {

// The cells one registration enters: the cube lo..hi (empty when some
// lo > hi) plus the rounded and the truncated centre cell (x = -1 when
// outside the grid). The centres normally lie in the cube; they matter only
// when the cube was clipped away.
struct Region {
    int lo[3], hi[3];
    int centre[2][3];
};

constexpr Region kNoCells = {{0, 0, 0}, {-1, -1, -1}, {{-1, -1, -1}, {-1, -1, -1}}};

bool InCube(const Region& r, const int c[3]) {
    return r.lo[0] <= c[0] && c[0] <= r.hi[0] && r.lo[1] <= c[1] && c[1] <= r.hi[1] && r.lo[2] <= c[2] &&
           c[2] <= r.hi[2];
}
bool SameCube(const Region& a, const Region& b) {
    for (int k = 0; k < 3; ++k)
        if (a.lo[k] != b.lo[k] || a.hi[k] != b.hi[k]) return false;
    return true;
}
int CubeCellCount(const Region& r) {
    int n = 1;
    for (int k = 0; k < 3; ++k) n *= std::max(r.hi[k] - r.lo[k] + 1, 0);
    return n;
}

Region RegionOf(const SceneObject& o) {
    Region r = kNoCells;
    const float* p = o.fPosition;
    if (!RegistrationCube(p, o.fBoundRadius, r.lo, r.hi)) std::copy(kNoCells.hi, kNoCells.hi + 3, r.hi);
    const int rounded[3] = {RoundHalfAway(p[0]), RoundHalfAway(p[1]), RoundHalfAway(p[2])};
    const int truncated[3] = {static_cast<int>(p[0]), static_cast<int>(p[1]), static_cast<int>(p[2])};
    if (InGrid(rounded[0], rounded[1], rounded[2])) std::copy(rounded, rounded + 3, r.centre[0]);
    if (InGrid(truncated[0], truncated[1], truncated[2])) std::copy(truncated, truncated + 3, r.centre[1]);
    return r;
}

Region RecordedRegion(const SceneObject& o) {
    Region r;
    std::copy(o.iCubeLo, o.iCubeLo + 3, r.lo);
    std::copy(o.iCubeHi, o.iCubeHi + 3, r.hi);
    std::copy(&o.iCentreCells[0][0], &o.iCentreCells[0][0] + 6, &r.centre[0][0]);
    return r;
}

// Calls f(first, count, rows, slices) for the boxes of cells that make up
// a's cube outside b's cube: `count` consecutive cells from `first`, the same
// run in `rows` rows one grid row apart, and that block in `slices` slices
// one grid slice apart. The boxes are a's whole slices below and above b,
// and in the slices that cross b its whole rows before and after b and the
// runs on either side of b's overlap. Cells inside b are not visited, so the
// cost follows the difference, not the size of a.
template <typename F>
void ForCubeMinus(const Region& a, const Region& b, F f) {
    auto box = [&](int x0, int x1, int y0, int y1, int z0, int z1) {
        if (x0 > x1 || y0 > y1 || z0 > z1) return;
        f(CellIndex(x0, y0, z0), x1 - x0 + 1, y1 - y0 + 1, z1 - z0 + 1);
    };
    int lo[3], hi[3];
    for (int k = 0; k < 3; ++k) lo[k] = std::max(a.lo[k], b.lo[k]), hi[k] = std::min(a.hi[k], b.hi[k]);
    if (lo[0] > hi[0] || lo[1] > hi[1] || lo[2] > hi[2]) {
        box(a.lo[0], a.hi[0], a.lo[1], a.hi[1], a.lo[2], a.hi[2]);
        return;
    }
    box(a.lo[0], a.hi[0], a.lo[1], a.hi[1], a.lo[2], lo[2] - 1);
    box(a.lo[0], a.hi[0], a.lo[1], a.hi[1], hi[2] + 1, a.hi[2]);
    box(a.lo[0], a.hi[0], a.lo[1], lo[1] - 1, lo[2], hi[2]);
    box(a.lo[0], a.hi[0], hi[1] + 1, a.hi[1], lo[2], hi[2]);
    box(a.lo[0], lo[0] - 1, lo[1], hi[1], lo[2], hi[2]);
    box(hi[0] + 1, a.hi[0], lo[1], hi[1], lo[2], hi[2]);
}

// Leaves j in the cells of `to` where it was in those of `from`, touching
// only the cells in one and not the other. Cell sets are sets, so the
// result is what erasing from every cell of `from` and entering every cell
// of `to` leaves. A centre of `to` outside its cube may be erased on the way;
// the last loop enters it again.
void MoveCells(World& world, int j, const Region& from, const Region& to) {
    ObjectSet* I = world.I;
    ForCubeMinus(from, to, [&](int first, int count, int rows, int slices) {
        ObjectSet::EraseEach(I + first, count, j, rows, kGridSize, slices, kColumnCount);
    });
    for (const int* c : from.centre)
        if (c[0] >= 0 && !InCube(from, c) && !InCube(to, c)) I[CellIndex(c[0], c[1], c[2])].erase(j);
    ForCubeMinus(to, from, [&](int first, int count, int rows, int slices) {
        ObjectSet::InsertEach(I + first, count, j, rows, kGridSize, slices, kColumnCount);
    });
    for (const int* c : to.centre)
        if (c[0] >= 0 && !InCube(to, c)) I[CellIndex(c[0], c[1], c[2])].insert(j);
}

// Writes `copies` copies of the first `floats` floats of `entries` (whole
// entries), `stride` floats apart, copy k with k added to lane `axis` of
// every entry. The entries are small integers, so the float sums are exact.
// Four entries are twelve floats: each such block is held in registers and
// stepped down the copies. A last part of fewer than four entries is taken
// as the block of the last four, which writes some entries twice with the
// same values; fewer than four entries in all go one by one.
void StepEntries(float* entries, int floats, int stride, int copies, int axis) {
    float step[12] = {};
    for (int l = axis; l < 12; l += 3) step[l] = 1;
    const int blockEnd = floats < 12 ? 0 : floats;
    for (int start = 0; start < blockEnd; start += 12) {
        const int i = std::min(start, floats - 12);
        float block[12];
        for (int l = 0; l < 12; ++l) block[l] = entries[i + l];
        float* to = entries + i;
#pragma GCC unroll 4
        for (int k = 0; k < copies; ++k) {
            to += stride;
            for (int l = 0; l < 12; ++l) to[l] = block[l] += step[l];
        }
    }
    for (int k = 1; k <= copies; ++k)
        for (int i = blockEnd; i < floats; i += 3) {
            float* to = entries + k * stride + i;
            for (int l = 0; l < 3; ++l) to[l] = entries[i + l];
            to[axis] += static_cast<float>(k);
        }
}

// The entries of a non-empty cube, z outermost, x innermost: the first row
// cell by cell, the other rows of the first slice that row with y raised,
// the other slices the first with z raised.
void WriteCube(float (*cells)[3], const Region& r) {
    const int nx = r.hi[0] - r.lo[0] + 1, ny = r.hi[1] - r.lo[1] + 1, nz = r.hi[2] - r.lo[2] + 1;
    for (int i = 0; i < nx; ++i) {
        cells[i][0] = static_cast<float>(r.lo[0] + i);
        cells[i][1] = static_cast<float>(r.lo[1]);
        cells[i][2] = static_cast<float>(r.lo[2]);
    }
    StepEntries(cells[0], 3 * nx, 3 * nx, ny - 1, 1);
    StepEntries(cells[0], 3 * nx * ny, 3 * nx * ny, nz - 1, 2);
}

// fCells as a full registration writes it: the cube z outermost, x
// innermost, then the rounded centre and the truncated one, whose entry
// holds the position itself. A cube already recorded keeps its entries:
// only the centres after it are written.
void RecordCells(SceneObject& o, const Region& r, bool sameCube) {
    int count = CubeCellCount(r);
    if (!sameCube) {
        if (count > 0) WriteCube(o.fCells, r);
        std::copy(r.lo, r.lo + 3, o.iCubeLo);
        std::copy(r.hi, r.hi + 3, o.iCubeHi);
    }
    if (r.centre[0][0] >= 0) {
        float* entry = o.fCells[count++];
        for (int a = 0; a < 3; ++a) entry[a] = static_cast<float>(r.centre[0][a]);
    }
    if (r.centre[1][0] >= 0) std::copy(o.fPosition, o.fPosition + 3, o.fCells[count++]);
    o.iCellCount = count;
    o.iRegionCells = count;
    std::copy(&r.centre[0][0], &r.centre[0][0] + 6, &o.iCentreCells[0][0]);
}

inline void EraseRecordedCells(World& world, SceneObject& o, int j) {
    for (int k = 0; k < o.iCellCount; ++k) {
        int x = static_cast<int>(o.fCells[k][0]);
        int y = static_cast<int>(o.fCells[k][1]);
        int z = static_cast<int>(o.fCells[k][2]);
        world.I[CellIndex(x, y, z)].erase(j);
    }
}

// Enters j in cell (x, y, z) and appends the entry to the removal list. A
// moving object is entered only while the list has room, so that removal
// stays exact; a static object is never removed and is always entered.
inline void EnterCell(World& world, SceneObject& o, int j, bool bStatic, int x, int y, int z, float fx, float fy,
                      float fz) {
    if (o.iCellCount < kMaxObjectCells) {
        float* entry = o.fCells[o.iCellCount++];
        entry[0] = fx;
        entry[1] = fy;
        entry[2] = fz;
    } else if (!bStatic) {
        return;
    }
    world.I[CellIndex(x, y, z)].insert(j);
}

// Every cell of the cube and the centres, one by one: static objects, and a
// cube too large for fCells.
void EnterEveryCell(World& world, SceneObject& o, int j, bool bStatic) {
    const float X = o.fPosition[0], Y = o.fPosition[1], Z = o.fPosition[2];
    int lo[3], hi[3];
    o.iCellCount = 0;
    o.iRegionCells = -1;
    // Bounding cube, z outermost, x innermost.
    if (RegistrationCube(o.fPosition, o.fBoundRadius, lo, hi))
        for (int z = lo[2]; z <= hi[2]; ++z)
            for (int y = lo[1]; y <= hi[1]; ++y)
                for (int x = lo[0]; x <= hi[0]; ++x)
                    EnterCell(world, o, j, bStatic, x, y, z, static_cast<float>(x), static_cast<float>(y),
                              static_cast<float>(z));

    // The two centre cells are normally inside the cube already; they keep
    // an object whose cube was clipped away registered where its centre is.
    int rx = RoundHalfAway(X), ry = RoundHalfAway(Y), rz = RoundHalfAway(Z);
    if (InGrid(rx, ry, rz))
        EnterCell(world, o, j, bStatic, rx, ry, rz, static_cast<float>(rx), static_cast<float>(ry),
                  static_cast<float>(rz));
    int tx = static_cast<int>(X), ty = static_cast<int>(Y), tz = static_cast<int>(Z);
    if (InGrid(tx, ty, tz)) EnterCell(world, o, j, bStatic, tx, ty, tz, X, Y, Z);
}

// Takes j out of the cells it is entered in; returns the region it left
// (none when fCells is the only record).
Region LeaveCells(World& world, SceneObject& o, int j) {
    if (o.iRegionCells == o.iCellCount) return RecordedRegion(o);
    EraseRecordedCells(world, o, j);
    return kNoCells;
}

// Whether the sums of three far terms are exact in double, so that a row's
// test can compare one term against the radius less the other two. A
// coordinate of at least 2 makes every offset from a whole cell a multiple
// of 2^-22 and each term one of 2^-44; with the terms at most 8^2 (radius up
// to 7) every sum, and the radius squared less any of them, needs at most
// 52 bits.
bool FarSumsExact(const float p[3], float r) {
    return p[0] >= 2 && p[1] >= 2 && p[2] >= 2 && r >= 0.5f && r <= 7;
}

// Moves the ends of a run first..last of cells 0..n that holds the nearest
// cell to the cells that pass `inside`: those are one run around the nearest
// cell (the terms fall, then rise, and the sums grow with each term), and
// neighbouring runs differ by a cell or two, so each end starts from the
// last run's. The cells just outside 0..n fail `inside` (infinite terms),
// so the ends need no bounds check.
template <typename Inside>
void FitRun(int& first, int& last, Inside inside) {
    if (inside(first))
        while (inside(first - 1)) --first;
    else
        while (!inside(first)) ++first;
    if (inside(last))
        while (inside(last + 1)) ++last;
    else
        while (!inside(last)) --last;
}

// Terms per axis: the infinite one before the first cell, up to 32 cells,
// written four at a time, and the infinite one after the last.
constexpr int kFarTerms = 36;

// kRowsFit: every row of the cube starts far enough from the set's end for
// the word write (checked once, for the cube's last cell). A row is at most
// 32 cells, so it lies in the four words from its first.
template <bool kRowsFit>
inline void SetRow(BitSet& bits, unsigned first, unsigned count) {
    if constexpr (kRowsFit)
        bits.SetShortRowRangeInside(first, count);
    else
        bits.SetRowRange(first, count);
}

// A row's occluder cells are the cells i with far[0][i] + fyz + fz <= rr,
// one run around the nearest cell xm, set as one bit range. Exact sums: the
// test is far[0][i] <= rr - fz - fyz, and the rows of a slice that hold any
// (those where xm passes) are likewise one run around the nearest row ym.
// The terms of cell v along an axis are far[axis][1 + v - lo].
template <bool kExact, bool kRowsFit>
void MarkOccluderRows(BitSet& occluders, const double (*far)[kFarTerms], const int lo[3], const int hi[3], int xm,
                      int ym, double rr) {
    const double *const fx = far[0] + 1, *const fy = far[1] + 1;
    int first = xm, last = xm, y0 = ym, y1 = ym;
    for (int z = lo[2]; z <= hi[2]; ++z) {
        const double fz = far[2][1 + z - lo[2]];
        if constexpr (kExact) {
            const double left = rr - fz, rowLimit = left - fx[xm];
            if (!(fy[ym] <= rowLimit)) continue;
            FitRun(y0, y1, [&](int y) { return fy[y] <= rowLimit; });
            unsigned row = static_cast<unsigned>(CellIndex(lo[0], lo[1] + y0, z));
            for (int y = y0; y <= y1; ++y, row += kGridSize) {
                const double limit = left - fy[y];
                FitRun(first, last, [&](int i) { return fx[i] <= limit; });
                SetRow<kRowsFit>(occluders, row + static_cast<unsigned>(first),
                                 static_cast<unsigned>(last - first + 1));
            }
        } else {
            if (fz > rr) continue;
            for (int y = lo[1]; y <= hi[1]; ++y) {
                const double fyz = fy[y - lo[1]];
                auto inside = [&](int i) { return fx[i] + fyz + fz <= rr; };
                if (!inside(xm)) continue;
                FitRun(first, last, inside);
                SetRow<kRowsFit>(occluders, static_cast<unsigned>(CellIndex(lo[0] + first, y, z)),
                                 static_cast<unsigned>(last - first + 1));
            }
        }
    }
}

// Occluder cells: all eight corners within or on the sphere. The farthest
// corner along each axis is |d| + 0.5 away, and the rounded sums grow with
// each term, so testing that one corner decides all eight.
void MarkOccluderCells(BitSet& occluders, const SceneObject& o) {
    const float r = o.fRadius;
    int lo[3], hi[3];
    if (!RegistrationCube(o.fPosition, r, lo, hi)) return;
    const double rr = r * r;
    // A sphere of radius 7 spans at most 16 cells per axis. Four cells at a
    // time; the terms past hi are written, then the one just past hi and the
    // one before lo made infinite, the ends FitRun stops at.
    double far[3][kFarTerms];
#ifdef __SSE2__
    const __m128 sign = _mm_set1_ps(-0.0f), lanes = _mm_setr_ps(0, 1, 2, 3), four = _mm_set1_ps(4);
    const __m128d half = _mm_set1_pd(0.5);
#endif
    for (int a = 0; a < 3; ++a) {
        if (hi[a] - lo[a] >= 32) return;  // larger than any object: registers no occluder
#ifdef __SSE2__
        const __m128 p = _mm_set1_ps(o.fPosition[a]);
        __m128 v = _mm_add_ps(_mm_set1_ps(static_cast<float>(lo[a])), lanes);
        for (int i = 0; i <= hi[a] - lo[a]; i += 4, v = _mm_add_ps(v, four)) {
            const __m128 d = _mm_andnot_ps(sign, _mm_sub_ps(v, p));
            const __m128d low = _mm_add_pd(_mm_cvtps_pd(d), half);
            const __m128d high = _mm_add_pd(_mm_cvtps_pd(_mm_movehl_ps(d, d)), half);
            _mm_storeu_pd(far[a] + 1 + i, _mm_mul_pd(low, low));
            _mm_storeu_pd(far[a] + 3 + i, _mm_mul_pd(high, high));
        }
#else
        for (int v = lo[a]; v <= hi[a]; ++v) {
            const float d = std::fabs(v - o.fPosition[a]);
            far[a][1 + v - lo[a]] = (d + 0.5) * (d + 0.5);
        }
#endif
        far[a][0] = far[a][hi[a] - lo[a] + 2] = std::numeric_limits<double>::infinity();
    }
    // The nearest cell along an axis: the position rounded, clipped to the
    // cube. p - floor(p) is exact, and on a tie either cell has the same term.
    int nearest[2];
    for (int a = 0; a < 2; ++a) {
        const float p = o.fPosition[a], below = std::floor(p);
        const int v = static_cast<int>(below) + (p - below > 0.5f);
        nearest[a] = std::clamp(v, lo[a], hi[a]) - lo[a];
    }
    const bool exact = FarSumsExact(o.fPosition, r);
    if (occluders.RowRangeFits(static_cast<unsigned>(CellIndex(hi[0], hi[1], hi[2])))) {
        if (exact)
            MarkOccluderRows<true, true>(occluders, far, lo, hi, nearest[0], nearest[1], rr);
        else
            MarkOccluderRows<false, true>(occluders, far, lo, hi, nearest[0], nearest[1], rr);
    } else if (exact) {
        MarkOccluderRows<true, false>(occluders, far, lo, hi, nearest[0], nearest[1], rr);
    } else {
        MarkOccluderRows<false, false>(occluders, far, lo, hi, nearest[0], nearest[1], rr);
    }
}

}  // namespace

void RegisterObject(World& world, int j, bool bStatic, bool bRemoveOnly) {
    SceneObject& o = world.disks[j];
    if (bStatic) {
        o.bCellsRemoved = 0;
        EnterEveryCell(world, o, j, true);
        MarkOccluderCells(world.Os, o);
        return;
    }
    const bool held = !o.bCellsRemoved || o.bCellsStale;
    const Region from = held ? LeaveCells(world, o, j) : kNoCells;
    o.bCellsStale = 0;
    if (bRemoveOnly) {
        MoveCells(world, j, from, kNoCells);
        o.bCellsRemoved = 1;
        return;
    }
    o.bCellsRemoved = 0;

    const Region to = RegionOf(o);
    if (CubeCellCount(to) + 2 <= kMaxObjectCells) {
        MoveCells(world, j, from, to);
        RecordCells(o, to, o.iRegionCells == o.iCellCount && SameCube(RecordedRegion(o), to));
    } else {
        MoveCells(world, j, from, kNoCells);
        EnterEveryCell(world, o, j, false);
    }
    MarkOccluderCells(world.O, o);
}

void DeferCellRemoval(World& world, int j) {
    SceneObject& o = world.disks[j];
    if (o.bCellsRemoved) return;
    if (o.iRegionCells != o.iCellCount) {
        RegisterObject(world, j, false, true);
        return;
    }
    o.bCellsRemoved = 1;
    o.bCellsStale = 1;
}

}  // namespace gridcull
