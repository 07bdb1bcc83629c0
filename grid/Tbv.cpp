#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "grid/Grid.h"

namespace gridcull {

namespace {

// An end frame "infinitely far ahead" for an object that never moves: far
// enough never to run out in a session, small enough that growing the next
// interval by 1.3 stays far from int overflow.
constexpr int kFarAheadFrames = 1 << 20;

constexpr int kMaxTbvHalfSize = 15;

// Strict volumes: the positions are sums of float steps, each rounded by at
// most 2e-6 of a cell inside the grid, well under 1e-3 of the slowest
// object's step (0.005); the absolute slack covers the origin's rounding.
constexpr double kStrictTravelSlack = 1e-3;
constexpr double kStrictReachSlack = 1e-4;

// rnd(frames + start) with frames computed in float, as the volume formulas
// do; values beyond the far-ahead limit (a near-zero speed) are clamped
// instead of overflowing the int.
int EndFrameAfter(float frames, int start) {
    float end = frames + static_cast<float>(start);
    if (!(end < static_cast<float>(start + kFarAheadFrames))) return start + kFarAheadFrames;
    if (end < static_cast<float>(start - kFarAheadFrames)) return start - kFarAheadFrames;
    return RoundHalfAway(end);
}

// A plane's columns are fast + 70 * slow: xy (x, y), yz (z, y), xz (x, z).
// Outline rows fix the slow coordinate and run along the fast one, so a row
// is one bit range; edges fix the fast coordinate.
struct PlaneAxes {
    int fast, slow;
};
constexpr PlaneAxes kPlaneAxes[3] = {{0, 1}, {2, 1}, {0, 2}};

template <bool kInsert>
inline void ApplyToColumn(std::uint64_t& word, std::uint64_t bit) {
    if constexpr (kInsert)
        word |= bit;
    else
        word &= ~bit;
}

// Records (or erases) the outline of the cube centre +- t on the three planes:
// the border of the projected square, clipped to the grid. A row lies along
// the fast axis, so it is one bit range and consecutive column sets; an edge
// steps the slow axis, 70 columns at a time, and leaves the two corners to
// the rows (a corner in the grid lies on an in-grid row). Every outline cell
// is visited once. A negative t records nothing. Only the planes of
// `planes` (bit p for plane p) are written.
template <bool kInsert>
void ApplyOutline(World& world, int j, const int centre[3], int t, unsigned planes = 7) {
    if (t < 0) return;
    BitSet* const bits[3] = {&world.Txy[j], &world.Tyz[j], &world.Txz[j]};
    ColumnObjects* const columns[3] = {world.TxyN, world.TyzN, world.TxzN};
    const int word = j / 64;
    const std::uint64_t bit = std::uint64_t{1} << (j % 64);
    for (int p = 0; p < 3; ++p) {
        if (!(planes >> p & 1)) continue;
        const int cf = centre[kPlaneAxes[p].fast], cs = centre[kPlaneAxes[p].slow];
        const int fLo = std::max(cf - t, 0), fHi = std::min(cf + t, kGridSize - 1);
        if (fLo > fHi) continue;  // the square misses the grid, edges included
        BitSet& plane = *bits[p];
        ColumnObjects* const column = columns[p];
        // t = 0: both rows are the one cell, and the edges are empty.
        const int rowCount = t == 0 ? 1 : 2;
        for (int r = 0; r < rowCount; ++r) {
            const int s = r == 0 ? cs - t : cs + t;
            if (!InGrid(s)) continue;
            const int first = fLo + kGridSize * s, last = fHi + kGridSize * s;
            // At most 31 bits: one 64-bit read-modify-write away from the
            // plane's last words.
            const unsigned from = static_cast<unsigned>(first), count = static_cast<unsigned>(last - first + 1);
            if (!plane.RowRangeFits(from))
                ApplyRange<kInsert>(plane.pWords, from, count);
            else if constexpr (kInsert)
                plane.SetShortRowRangeInside(from, count);
            else
                plane.ClearShortRowRangeInside(from, count);
            // A row is up to 31 columns of one word operation each.
#pragma GCC unroll 4
            for (int c = first; c <= last; ++c) ApplyToColumn<kInsert>(column[c].iWord[word], bit);
        }
        const int sLo = std::max(cs - t + 1, 0), sHi = std::min(cs + t - 1, kGridSize - 1);
        // An edge steps one row, 70 columns, at a time: its bit's mask turns
        // with it (StepMask) instead of being looked up per cell. A clear
        // holds the mask's complement, which turns the same way.
        std::uint16_t* const words = plane.pWords;
        auto maskOf = [](int c) {
            const std::uint32_t m = BitSet::MaskOf(static_cast<unsigned>(c));
            return kInsert ? m : ~m;
        };
        auto edge = [&](int c, std::uint32_t& mask) {
            if constexpr (kInsert)
                words[c >> 4] = static_cast<std::uint16_t>(words[c >> 4] | mask);
            else
                words[c >> 4] = static_cast<std::uint16_t>(words[c >> 4] & mask);
            mask = BitSet::StepMask<kGridSize>(mask);
            ApplyToColumn<kInsert>(column[c].iWord[word], bit);
        };
        const int fLeft = cf - t, width = 2 * t;
        if (InGrid(fLeft) && InGrid(fLeft + width)) {
            // Both edges in the grid (the usual case): one walk, the right
            // edge 2t columns along.
            const int from = fLeft + kGridSize * sLo;
            std::uint32_t left = maskOf(from), right = maskOf(from + width);
            for (int c = from, last = fLeft + kGridSize * sHi; c <= last; c += kGridSize) {
                edge(c, left);
                edge(c + width, right);
            }
            continue;
        }
        for (int f : {fLeft, fLeft + width}) {
            if (!InGrid(f)) continue;
            std::uint32_t mask = maskOf(f + kGridSize * sLo);
            for (int c = f + kGridSize * sLo, last = f + kGridSize * sHi; c <= last; c += kGridSize) edge(c, mask);
        }
    }
}

void TruncatedOrigin(const SceneObject& o, int centre[3]) {
    for (int a = 0; a < 3; ++a) centre[a] = static_cast<int>(o.fTbvOrigin[a]);
}

// Chebyshev distance from cell c to the eye's cell (the viewpoint rounded
// half away from zero, as the frame rounds it).
int EyeCellDistance(const World& world, const int c[3]) {
    const float view[3] = {world.fViewX, world.fViewY, world.fViewZ};
    int d = 0;
    for (int a = 0; a < 3; ++a) d = std::max(d, std::abs(RoundHalfAway(view[a]) - c[a]));
    return d;
}

// InsertTbv's sizing without the outline: sets the half size (and may
// shorten the interval) and returns it.
int SizeTbv(World& world, SceneObject& o, const int c[3]) {
    const float* v = o.fVelocity;
    const float speed = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    const float R = o.fBoundRadius;
    const int s = o.iTbvStartFrame;

    // Bounding radius grown by the distance travelled in the interval.
    // Clamped before rounding: only whether t exceeds the cap matters beyond.
    const float grown = (o.iTbvEndFrame - s) * speed + R;
    int t = RoundHalfAway(std::fmax(std::fmin(grown, 1e6f), -1e6f));
    if (t > 15) {
        // Cap the cube; shorten the interval to the time needed to travel
        // 15 - R cells. Unreachable at speed 0, where t = rnd(R) < 15.
        t = 15;
        o.iTbvEndFrame = EndFrameAfter((15 - R) / speed, s);
    }

    // Keep the viewpoint outside the cube: shrink it below the viewpoint's
    // distance, but never below the object itself.
    const float dx = world.fViewX - c[0], dy = world.fViewY - c[1], dz = world.fViewZ - c[2];
    const int d = RoundHalfAway(std::sqrt(dx * dx + dy * dy + dz * dz));
    if (d <= std::sqrt(3 * t * t)) {
        t = static_cast<int>(d / std::sqrt(3)) - 1;
        if (R > t) t = static_cast<int>(R);
        if (speed > 0)
            o.iTbvEndFrame = EndFrameAfter((t - R) / speed, s);
        else  // never leaves the cube when t > R; runs out at once otherwise
            o.iTbvEndFrame = t > R ? s + kFarAheadFrames : s;
    }
    o.fTbvHalfSize = static_cast<float>(t);
    o.bStrictVolume = 0;
    return t;
}

// InsertStrictTbv's sizing without the outline: returns the half size, or
// -1 (also the recorded half size) when no volume leaves the eye outside.
int SizeStrictTbv(World& world, SceneObject& o, const int c[3]) {
    const float* v = o.fVelocity;
    const double speed = std::sqrt(static_cast<double>(v[0]) * v[0] + static_cast<double>(v[1]) * v[1] +
                                   static_cast<double>(v[2]) * v[2]);

    // The cube cx-t..cx+t covers space [cx - t - 0.5, cx + t + 0.5] per axis.
    // Moving by at most speed per frame (a bounce only turns the velocity),
    // the sphere stays inside while, on every axis,
    //     |o - c| + R + frames * speed <= t + 0.5.
    double reach = 0;  // largest |o - c| + R over the axes, plus slack
    for (int a = 0; a < 3; ++a) reach = std::fmax(reach, std::fabs(o.fTbvOrigin[a] - static_cast<double>(c[a])));
    reach += o.fBoundRadius + kStrictReachSlack;
    const int t0 = std::max(static_cast<int>(std::ceil(reach - 0.5)), 0);  // the sphere where it is now

    // A ray from an eye inside the cube reaches the object without crossing
    // the cube's surface, so the eye's cell must lie strictly outside.
    const int tMax = std::min(kMaxTbvHalfSize, EyeCellDistance(world, c) - 1);
    if (t0 > tMax) {
        o.fTbvHalfSize = -1;  // nothing recorded: a later RemoveTbv erases nothing
        return -1;
    }

    const int s = o.iTbvStartFrame;
    const int frames = std::max(o.iTbvEndFrame - s, 0);
    const double need = reach + frames * speed * (1 + kStrictTravelSlack) - 0.5;
    int t;
    if (need <= tMax) {
        t = std::max(static_cast<int>(std::ceil(need)), t0);
    } else {
        // Only a moving object needs more than t0, so speed > 0 here: the
        // interval shrinks to the frames the cube of tMax still holds.
        t = tMax;
        const double fit = std::floor((tMax + 0.5 - reach) / (speed * (1 + kStrictTravelSlack)));
        o.iTbvEndFrame = s + static_cast<int>(std::fmin(std::fmax(fit, 0.0), static_cast<double>(frames)));
    }
    o.fTbvHalfSize = static_cast<float>(t);
    o.bStrictVolume = 1;
    return t;
}

}  // namespace

void InsertTbv(World& world, int j) {
    SceneObject& o = world.disks[j];
    int c[3];
    TruncatedOrigin(o, c);
    ApplyOutline<true>(world, j, c, SizeTbv(world, o, c));
}

bool InsertStrictTbv(World& world, int j) {
    SceneObject& o = world.disks[j];
    int c[3];
    TruncatedOrigin(o, c);
    const int t = SizeStrictTbv(world, o, c);
    ApplyOutline<true>(world, j, c, t);
    return t >= 0;
}

bool RenewTbv(World& world, int j, bool strict, int endFrame) {
    SceneObject& o = world.disks[j];
    int was[3], c[3];
    TruncatedOrigin(o, was);
    const int wasT = static_cast<int>(o.fTbvHalfSize);
    for (int k = 0; k < 3; ++k) o.fTbvOrigin[k] = o.fPosition[k];
    o.iTbvStartFrame = world.iFrame;
    o.iTbvEndFrame = endFrame;
    TruncatedOrigin(o, c);
    const int t = strict ? SizeStrictTbv(world, o, c) : SizeTbv(world, o, c);
    // A slow object often keeps its cube: the outline is the same one.
    if (t >= 0 && t == wasT && std::equal(c, c + 3, was)) return true;
    // A plane across whose axes the cube did not move keeps its outline.
    unsigned moved = 7;
    if (t == wasT)
        for (int p = 0; p < 3; ++p)
            if (c[kPlaneAxes[p].fast] == was[kPlaneAxes[p].fast] && c[kPlaneAxes[p].slow] == was[kPlaneAxes[p].slow])
                moved &= ~(1u << p);
    ApplyOutline<false>(world, j, was, wasT, moved);
    ApplyOutline<true>(world, j, c, t, moved);
    return t >= 0;
}

bool VolumeHoldsEyeCell(const World& world, const SceneObject& o) {
    int c[3];
    TruncatedOrigin(o, c);
    return EyeCellDistance(world, c) <= static_cast<int>(o.fTbvHalfSize);
}

void RemoveTbv(World& world, int j) {
    const SceneObject& o = world.disks[j];
    int c[3];
    TruncatedOrigin(o, c);
    ApplyOutline<false>(world, j, c, static_cast<int>(o.fTbvHalfSize));
}

}  // namespace gridcull
