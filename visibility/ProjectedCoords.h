// Projections of face coordinates onto the farther planes of a shell's
// face, kept once per coordinate and plane for the face's propagation.
#pragma once

#include <climits>
#include <vector>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "../grid/Grid.h"

namespace gridcull {

// A face map holds a square of at most this many entries a side; a larger
// rectangle is over capacity, like an outline that overflows its lists.
constexpr int kMaxFaceSide = 512;

// Every vertex of an outline sits on integer face coordinates, and a
// coordinate's projection depends on nothing else: vertices with equal u
// (or v) move by equal increments (c - D) / D, accumulated step by step in
// float. So the projections, and their rounded span ends, are kept once per
// coordinate and plane instead of once per vertex; the extraction keeps each
// span end and stop line as its coordinate, which indexes the table.
struct ProjectedCoords {
    // Entries of any face map, which may be wider than the shell's 2D + 1.
    static constexpr int kSize = kMaxFaceSide;
    static constexpr int kLanes = 4;             // a step takes four coordinates at a time
    alignas(16) float fAt[kSize + kLanes];
    alignas(16) float fStep[kSize + kLanes];
    alignas(16) int iStart[kSize + kLanes];  // R(c' + 0.375): first line or cell a projection covers
    alignas(16) int iEnd[kSize + kLanes];    // R(c' - 0.375): last one
    int iLo, iHi;  // coordinates in use, iLo a multiple of kLanes; iHi rounded up to the lanes' end
    // A coordinate past every face map's, whose start no line reaches: it
    // ends the list of band lines.
    static constexpr int kPastLast = kSize;

    void Start(int lo, int hi, float fD) {
        iLo = lo & ~(kLanes - 1);
        iHi = hi | (kLanes - 1);
        iStart[kPastLast] = INT_MAX;
        for (int c = iLo; c <= iHi; ++c) {
            fAt[c] = static_cast<float>(c);
            fStep[c] = (fAt[c] - fD) / fD;
        }
    }
    // Onto the next plane. The vector form makes the scalar's float sum and
    // its roundings lane by lane, without leaving float: with t = floor(c'),
    // R(c' + 0.375) is t + 1 when c' lies past t + 0.125 and t otherwise, the
    // tie c' = t + 0.125 going up when t >= 0 (half away from zero); likewise
    // R(c' - 0.375) with t + 0.875. t + 0.125 and t + 0.875 are exact floats
    // for |t| < 2^20, and projections stay within a few times the map's side.
    void Step() {
#ifdef __SSE2__
        const __m128 startEdge = _mm_set1_ps(0.125f), endEdge = _mm_set1_ps(0.875f);
        for (int c = iLo; c <= iHi; c += kLanes) {
            const __m128 at = _mm_add_ps(_mm_load_ps(fAt + c), _mm_load_ps(fStep + c));
            _mm_store_ps(fAt + c, at);
            // Truncation rounds a negative c' up; one less then.
            __m128i t = _mm_cvttps_epi32(at);
            t = _mm_add_epi32(t, _mm_castps_si128(_mm_cmpgt_ps(_mm_cvtepi32_ps(t), at)));
            const __m128 floor = _mm_cvtepi32_ps(t);
            const __m128 negative = _mm_castsi128_ps(_mm_srai_epi32(t, 31));
            auto past = [&](__m128 edge) {
                edge = _mm_add_ps(floor, edge);
                const __m128 tieDown = _mm_and_ps(_mm_cmpeq_ps(at, edge), negative);
                return _mm_castps_si128(_mm_andnot_ps(tieDown, _mm_cmpge_ps(at, edge)));
            };
            _mm_store_si128(reinterpret_cast<__m128i*>(iStart + c), _mm_sub_epi32(t, past(startEdge)));
            _mm_store_si128(reinterpret_cast<__m128i*>(iEnd + c), _mm_sub_epi32(t, past(endEdge)));
        }
#else
        for (int c = iLo; c <= iHi; ++c) {
            fAt[c] += fStep[c];
            iStart[c] = RoundHalfAway(fAt[c] + 0.375);
            iEnd[c] = RoundHalfAway(fAt[c] - 0.375);
        }
#endif
    }
};

// A shell's coordinates 0..2D are those of its own faces, and the farther
// planes the grid holds are fixed by D: their projections are the same for
// every face of the shell in every frame, so they are stepped once, here,
// and read by the propagation plane by plane.
class ShellProjections {
public:
    // Shells with a farther plane in the grid.
    static constexpr int kMaxShell = kGridSize - 2;
    static constexpr int kLanes = ProjectedCoords::kLanes;

    static const ShellProjections& Get();

    // Shell D's farther planes in the grid, D + 1 .. kGridSize - 1.
    static constexpr int Planes(int D) { return kGridSize - 1 - D; }
    // A coordinate's planes lie side by side, padded to whole lanes, so one
    // read takes a coordinate on four planes; padding starts past every line.
    static constexpr int Stride(int D) { return (Planes(D) + kLanes - 1) & ~(kLanes - 1); }
    // The coordinate past 0..2D, whose start no line reaches, and its line
    // (and the padding's): beyond every projection, yet far enough from the
    // int range's end that lane arithmetic on it cannot overflow.
    static constexpr int PastLast(int D) { return 2 * D + 1; }
    static constexpr int kPastEveryLine = 1 << 16;
    // The first line coordinate c covers on plane D + 1 + k, at [k]; Ends
    // likewise the last.
    const int* Starts(int D, int c) const { return iValues.data() + iFirst[D] + c * Stride(D); }
    const int* Ends(int D, int c) const { return Starts(D, PastLast(D) + 1 + c); }

private:
    ShellProjections();
    std::vector<int> iValues;
    int iFirst[kMaxShell + 1];
};

}  // namespace gridcull
