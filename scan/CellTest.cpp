#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "grid/Grid.h"
#include "scan/Scan.h"
#include "visibility/DrawnSpheres.h"
#include "visibility/FaceOcclusion.h"

namespace gridcull {

namespace {

CellTestObserver g_observer = nullptr;
void* g_observerContext = nullptr;
long long* g_testCounter = nullptr;

// A cell set iterates in ascending order, so its moving objects, the only
// ones whose entries may be stale, come first.
template <typename Mark>
inline void ForEachHeld(const World& world, const ObjectSet& objects, Mark mark) {
    auto k = objects.begin();
    const auto end = objects.end();
    for (; k != end && *k < kDynamicCount; ++k)
        if (!world.disks[*k].bCellsStale) mark(*k);
    for (; k != end; ++k) mark(*k);
}

// A hidden cell's marks, with the array it writes passed in: a caller's
// local, which its flag stores cannot alias, so a loop over many cells loads
// it once. The set must not be empty. Stale entries are marked as well
// (DropStaleMarks takes them back).
inline void MarkHeld(unsigned char* pvsvf, const ObjectSet& objects) {
    // Counted down to zero, in any order: the marks are all the same.
    const int* const data = objects.end().base();
    std::ptrdiff_t i = objects.size();
    do pvsvf[data[i - 1]] = 1;
    while (--i != 0);
}

inline void MarkHeldInFrustum(World& world, const ObjectSet& objects) {
    unsigned char* const pvsvf = world.PVSVF;
    ForEachHeld(world, objects, [pvsvf](int k) { pvsvf[k] = 1; });
}

// HandleVisibleCell with the cell's PVSVF marks taken in the same walk over
// its objects, for grid cell (x, y, z) at index g. Marking before the volume
// refresh loses nothing: a refreshed object lives only in its volume until
// then (its cell entries are gone or stale), and registering it moves its own
// entries only, so every entry held before the refresh is held after it; the
// refreshed objects' new entries get their marks in a second walk.
inline void SeeCell(World& world, int g, int x, int y, int z) {
    const ObjectSet& objects = world.I[g];
    unsigned char* const pvsvf = world.PVSVF;
    const unsigned char* const pvs = world.PVS;
    ForEachHeld(world, objects, [&](int k) {
        pvsvf[k] = 1;
        if (!pvs[k]) MarkSeen(world, k);
    });
    if (RefreshVolumesThrough(world, x, y, z)) MarkHeldInFrustum(world, objects);
}

inline void TestVisibleCell(World& world, int g, int a, int b, int c) {
    // Strict culling keeps O exact for the reset and asks, for the few
    // visible O cells only, whether the image really shows them solid.
    if (world.O.Test(static_cast<unsigned>(g)) &&
        (!world.bStrictCulling ||
         CellHeldSolid(world, g, world.iViewCellX + a, world.iViewCellY + b, world.iViewCellZ + c)))
        MarkOccluderFaces(world, a, b, c);
    else
        world.bShellOccluded = 0;
    SeeCell(world, g, world.iViewCellX + a, world.iViewCellY + b, world.iViewCellZ + c);
}

// Cell (a, b, c) of the current shell, grid index g.
inline void TestShellCell(World& world, int g, int a, int b, int c) {
    if (!world.H.Test(static_cast<unsigned>(g)))
        TestVisibleCell(world, g, a, b, c);
    else if (!world.I[g].empty())
        MarkHeldInFrustum(world, world.I[g]);
}

// The two axes across a run along each axis.
constexpr int kOtherAxes[3][2] = {{1, 2}, {2, 0}, {0, 1}};

// Grid coordinates of cell index g, for the visible cells' rarer work.
inline void CellOf(int g, int at[3]) {
    const unsigned u = static_cast<unsigned>(g);
    const unsigned z = u / kColumnCount, r = u - z * kColumnCount, y = r / kGridSize;
    at[0] = static_cast<int>(r - y * kGridSize);
    at[1] = static_cast<int>(y);
    at[2] = static_cast<int>(z);
}

// The rest of a visible cell's entries, p[-1] down to stop[0] (ascending
// indices, as the set iterates), from the first one not yet in PVS on: each
// marked in PVSVF, and drawn if held and not yet seen. Out of line so that
// the common loop, where every object is already in PVS, makes no call.
[[gnu::noinline]] void SeeEntriesFrom(World& world, const int* p, const int* stop) {
    for (; p != stop; --p) {
        const int k = p[-1];
        world.PVSVF[k] = 1;
        if (!world.PVS[k] && HeldEntry(world, k)) MarkSeen(world, k);
    }
}

// The visible cells of a run from grid index g (visible) up to the next
// hidden one; returns that one's index, or end. Out of line: hidden cells
// are the common case, and visible ones come in stretches, so the call is
// paid once a stretch. TestVisibleCell per cell, with the refresh's test
// inline. One copy per run axis and direction, so that the steps are
// constants: the cell's set, its offset from the eye, its bit mask in H and
// O and two of its column records are stepped along, and the words of the
// column across the run's axis are read once (again after a refresh, which
// rewrites columns). set and mask: g's cell set and bit mask, which the run
// has at hand.
template <int kAxis, int kStep>
[[gnu::noinline]] int SeeVisibleStretch(World& world, int g, int end, const ObjectSet* set, std::uint32_t mask) {
    using Words2 = std::uint64_t __attribute__((vector_size(16)));
    static_assert(kDynamicWords == 4, "a column is two word pairs");
    constexpr int kCellStep = kStep * kAxisStride[kAxis];
    // Columns: 0 xy, 1 yz, 2 xz; the one across the run's axis stays.
    constexpr int kFixed = kAxis == 0 ? 1 : kAxis == 1 ? 2 : 0;
    constexpr int kFirst = kFixed == 0 ? 1 : 0, kSecond = kFixed == 2 ? 1 : 2;
    constexpr int kColumnStep[3] = {kStep * (kAxis == 0 ? 1 : kGridSize), kStep * (kAxis == 1 ? kGridSize : 1),
                                    kStep * (kAxis == 0 ? 1 : kGridSize)};
    int at[3];
    CellOf(g, at);
    int rel[3] = {at[0] - world.iViewCellX, at[1] - world.iViewCellY, at[2] - world.iViewCellZ};
    const BitSet hidden = world.H, occluders = world.O;
    const unsigned char* const pvs = world.PVS;
    const ColumnObjects* columns[3] = {world.TxyN + XyColumn(at[0], at[1]), world.TyzN + YzColumn(at[1], at[2]),
                                       world.TxzN + XzColumn(at[0], at[2])};
    const ColumnObjects* first = columns[kFirst];
    const ColumnObjects* second = columns[kSecond];
    Words2 fixedLow, fixedHigh;
    std::memcpy(&fixedLow, columns[kFixed]->iWord, sizeof fixedLow);
    std::memcpy(&fixedHigh, columns[kFixed]->iWord + 2, sizeof fixedHigh);
    do {
        if (occluders.Test(static_cast<unsigned>(g), mask) &&
            (!world.bStrictCulling ||
             CellHeldSolid(world, g, world.iViewCellX + rel[0], world.iViewCellY + rel[1], world.iViewCellZ + rel[2])))
            MarkOccluderFaces(world, rel[0], rel[1], rel[2]);
        else
            world.bShellOccluded = 0;
        // SeeCell, its stale entries marked in PVSVF as a hidden cell's are
        // (dropped later); only an object not yet in PVS is asked for one.
        // An object in PVS has its PVSVF mark already: every walk that puts
        // one in PVS marks it too, and a seen object is never stale, so no
        // drop takes the mark back. Counted down to zero: the entries are
        // stored in descending order.
        const int* const data = set->end().base();
        for (std::ptrdiff_t i = set->size(); i != 0; --i)
            if (!pvs[data[i - 1]]) {
                SeeEntriesFrom(world, data + i, data);
                break;
            }
        // MeetsVolumeSurface with the fixed column's words at hand.
        Words2 aLow, aHigh, bLow, bHigh;
        std::memcpy(&aLow, first->iWord, sizeof aLow);
        std::memcpy(&aHigh, first->iWord + 2, sizeof aHigh);
        std::memcpy(&bLow, second->iWord, sizeof bLow);
        std::memcpy(&bHigh, second->iWord + 2, sizeof bHigh);
        const Words2 any = (aLow & bLow) | (fixedLow & (aLow | bLow)) | (aHigh & bHigh) | (fixedHigh & (aHigh | bHigh));
        if ((any[0] | any[1]) != 0) {
            CellOf(g, at);
            if (RefreshSurfaceObjects(world, at[0], at[1], at[2])) MarkHeldInFrustum(world, *set);
            std::memcpy(&fixedLow, columns[kFixed]->iWord, sizeof fixedLow);
            std::memcpy(&fixedHigh, columns[kFixed]->iWord + 2, sizeof fixedHigh);
        }
        rel[kAxis] += kStep;
        g += kCellStep;
        mask = BitSet::StepMask<kCellStep>(mask);
        if (g == end || hidden.Test(static_cast<unsigned>(g), mask)) return g;
        // Stepped only on to a cell of the run, never past its last.
        set += kCellStep;
        first += kColumnStep[kFirst];
        second += kColumnStep[kSecond];
    } while (true);
}

// The clipped run's cells from grid index g up to end, along kAxis in
// direction kStep; one copy per direction inside CellTestRun, so that the
// steps are constants and a stretch's call is direct. Hidden cells are the
// common case: their loop stays small, the visible ones go out of line.
// Local copies: the flag stores may alias any field of world, locals they
// cannot.
template <int kAxis, int kStep>
[[gnu::always_inline]] inline void RunCells(World& world, int g, int end) {
    constexpr int kCellStep = kStep * kAxisStride[kAxis];
    const BitSet hidden = world.H;
    const ObjectSet* const cells = world.I;
    unsigned char* const pvsvf = world.PVSVF;
    // The cell's set is stepped beside its index, on to cells of the run
    // only, never past its last.
    const ObjectSet* set = cells + g;
    std::uint32_t mask = BitSet::MaskOf(static_cast<unsigned>(g));
    for (;;) {
        if (!hidden.Test(static_cast<unsigned>(g), mask)) {
            g = SeeVisibleStretch<kAxis, kStep>(world, g, end, set, mask);
            if (g == end) return;
            set = cells + g;
            mask = BitSet::MaskOf(static_cast<unsigned>(g));
            continue;
        }
        // Most hidden cells hold something: their marks stay in line.
        if (__builtin_expect(!set->empty(), 1)) MarkHeld(pvsvf, *set);
        g += kCellStep;
        if (g == end) return;
        set += kCellStep;
        mask = BitSet::StepMask<kCellStep>(mask);
    }
}

}  // namespace

void SeeFrustumCell(World& world, int a, int b, int c) {
    const int x = world.iViewCellX + a, y = world.iViewCellY + b, z = world.iViewCellZ + c;
    SeeCell(world, CellIndex(x, y, z), x, y, z);
}

void DropStaleMarks(World& world, int j) {
    if (world.disks[j].bCellsStale) world.PVSVF[j] = 0;
}

void DropStaleMarks(World& world) {
    for (int j = 0; j < kDynamicCount; ++j) DropStaleMarks(world, j);
}

void SetCellTestObserver(CellTestObserver observer, void* context) {
    g_observer = observer;
    g_observerContext = context;
}

void SetCellTestCounter(long long* counter) { g_testCounter = counter; }

void CellTest(World& world, int a, int b, int c) {
    if (g_observer) g_observer(world, a, b, c, g_observerContext);
    if (g_testCounter) ++*g_testCounter;

    // Scans may run past the shell's edge; cells beyond it belong to a later
    // shell and are left untouched, not even counted for PVSVF.
    const int d = world.iDist;
    if (std::abs(a) > d || std::abs(b) > d || std::abs(c) > d) return;
    TestShellCell(world, CellIndex(world.iViewCellX + a, world.iViewCellY + b, world.iViewCellZ + c), a, b, c);
}

namespace {

// A run under an observer: every cell through CellTest, so the observer sees
// each one.
[[gnu::noinline]] void ObservedRun(World& world, const int from[3], int axis, int step, int count) {
    int cell[3] = {from[0], from[1], from[2]};
    for (int i = 0; i < count; ++i, cell[axis] += step) CellTest(world, cell[0], cell[1], cell[2]);
}

}  // namespace

void CellTestRun(World& world, const int from[3], int axis, int step, int count) {
    if (count <= 0) return;
    if (g_observer) {
        ObservedRun(world, from, axis, step, count);
        return;
    }
    if (g_testCounter) *g_testCounter += count;

    // The run is a straight line, so the cells inside the shell's cube are
    // one stretch of it: clip once instead of testing every cell. The cube
    // is symmetric about the eye, so the run is clipped in its own direction
    // (offsets times step).
    const int d = world.iDist;
    const unsigned span = 2u * static_cast<unsigned>(d);
    if (static_cast<unsigned>(from[kOtherAxes[axis][0]] + d) > span ||
        static_cast<unsigned>(from[kOtherAxes[axis][1]] + d) > span)
        return;
    const int start = from[axis] * step;
    const int lo = std::max(start, -d), hi = std::min(start + count - 1, d);
    if (lo > hi) return;

    const int gStep = step * kAxisStride[axis];
    const int g = CellIndex(world.iViewCellX + from[0], world.iViewCellY + from[1], world.iViewCellZ + from[2]) +
                  (lo - start) * gStep;
    const int end = g + (hi - lo + 1) * gStep;
    switch (axis * 2 + (step > 0)) {
        case 0:
            RunCells<0, -1>(world, g, end);
            break;
        case 1:
            RunCells<0, +1>(world, g, end);
            break;
        case 2:
            RunCells<1, -1>(world, g, end);
            break;
        case 3:
            RunCells<1, +1>(world, g, end);
            break;
        case 4:
            RunCells<2, -1>(world, g, end);
            break;
        case 5:
            RunCells<2, +1>(world, g, end);
            break;
        default:  // axis is 0, 1 or 2
            assert(false && "a run's axis is 0, 1 or 2");
            __builtin_unreachable();
    }
}

}  // namespace gridcull
