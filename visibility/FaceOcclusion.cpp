#include "visibility/FaceOcclusion.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "grid/Grid.h"
#include "visibility/ProjectedCoords.h"

namespace gridcull {

namespace {

// A shell face as data. The offset of a face cell on grid axis iU is
// iUSign * (u - D), likewise for v; the face plane lies iFrontSign * d from
// the viewpoint cell on iFront. Face 0 ends a band at the stop rows of the
// band it enters; the others take the stop rows of the band they leave and
// draw the last row of a sweep once more.
struct FaceAxes {
    int iFront, iFrontSign;
    int iU, iUSign;
    int iV, iVSign;
    bool bStopsOfBandEntered;
};

constexpr FaceAxes kFaces[6] = {
    {2, +1, 0, -1, 1, -1, true},   // z = +D
    {2, -1, 0, +1, 1, -1, false},  // z = -D
    {0, +1, 2, +1, 1, -1, false},  // x = +D
    {0, -1, 2, -1, 1, -1, false},  // x = -D
    {1, +1, 0, -1, 2, +1, false},  // y = +D
    {1, -1, 0, -1, 2, -1, false},  // y = -D
};

inline void MarkFace(World& world, int f, int u, int v) {
    world.iFaceUMin[f] = std::min(world.iFaceUMin[f], u);
    world.iFaceUMax[f] = std::max(world.iFaceUMax[f], u);
    world.iFaceVMin[f] = std::min(world.iFaceVMin[f], v);
    world.iFaceVMax[f] = std::max(world.iFaceVMax[f], v);
    world.FaceMap[f][v * world.iFaceStride + u] = 1;
    world.bFaceMarked[f] = 1;
}

inline void MarkOnFace(World& world, int f, const int offset[3]) {
    const FaceAxes& face = kFaces[f];
    const int d = world.iDist;
    MarkFace(world, f, d + face.iUSign * offset[face.iU], d + face.iVSign * offset[face.iV]);
}

// Face coordinates t of shell D whose grid coordinate view + sign (t - D)
// lies in 0 .. kGridSize - 1: lo..hi.
struct FaceClip {
    int iLo, iHi;
};
inline FaceClip FaceCoordsInGrid(int D, int view, int sign) {
    const int a = D - sign * view, b = D + sign * (kGridSize - 1 - view);
    return {std::min(a, b), std::max(a, b)};
}

// Cells first .. first + n - 1 of the set (1 <= n <= 48) as bits, cell first
// at bit n - 1: four words read at once and put in order, most significant
// first like the set itself. Words past the set's end are not read.
inline std::uint64_t CellBits(const BitSet& H, unsigned first, int n) {
    const unsigned w = first >> 4;
    std::uint64_t v;
    if (static_cast<int>(w) + 4 <= H.iWordCount) {
        std::uint64_t raw;
        std::memcpy(&raw, H.pWords + w, sizeof raw);
        // Words in memory order are the low lanes first; reverse the lanes.
        raw = (raw << 32) | (raw >> 32);
        v = ((raw & 0x0000FFFF0000FFFFull) << 16) | ((raw >> 16) & 0x0000FFFF0000FFFFull);
    } else {
        v = 0;
        for (unsigned k = w; k < w + 4; ++k)
            v = (v << 16) | (static_cast<int>(k) < H.iWordCount ? H.pWords[k] : 0u);
    }
    return (v << (first & 15)) >> (64 - n);
}

inline std::uint64_t ReverseBits(std::uint64_t x) {
    x = __builtin_bswap64(x);
    x = ((x >> 4) & 0x0F0F0F0F0F0F0F0Full) | ((x & 0x0F0F0F0F0F0F0F0Full) << 4);
    x = ((x >> 2) & 0x3333333333333333ull) | ((x & 0x3333333333333333ull) << 2);
    return ((x >> 1) & 0x5555555555555555ull) | ((x & 0x5555555555555555ull) << 1);
}

// Ors bits 0..n-1 of b into a row's bits from bit p on.
inline void OrBitsAt(std::uint64_t* row, int p, int n, std::uint64_t b) {
    const int s = p & 63;
    row[p >> 6] |= b << s;
    if (s + n > 64) row[(p >> 6) + 1] |= b >> (64 - s);
}

// The lowest run of set bits, taken out of bits: adding the lowest set bit
// carries through that run and no further.
inline std::uint64_t TakeLowestRun(std::uint64_t& bits) {
    const std::uint64_t later = bits & (bits + (bits & (0 - bits)));
    const std::uint64_t run = bits ^ later;
    bits = later;
    return run;
}

// Cells first + k * stride, k = 0..127, of a stride along y or z: each in a
// word of its own, at a word offset and bit that depend only on k and on
// first's bit within its word, c. Looked up rather than worked out cell by
// cell.
struct StrideCells {
    std::uint16_t iWord[16][128];  // word offset from first's word
    std::uint16_t iMask[16][128];
    constexpr explicit StrideCells(int stride) : iWord(), iMask() {
        for (int c = 0; c < 16; ++c)
            for (int k = 0; k < 128; ++k) {
                const int at = c + k * stride;
                iWord[c][k] = static_cast<std::uint16_t>(at >> 4);
                iMask[c][k] = static_cast<std::uint16_t>(0x8000u >> (at & 15));
            }
    }
};
constexpr StrideCells kCellsAlongY(kAxisStride[1]), kCellsAlongZ(kAxisStride[2]);
static_assert((127 * kAxisStride[2] + 15) >> 4 <= 0xFFFF, "word offsets in 16 bits");

// Four steps along z are whole words of H: cells k and k + 4 share their bit,
// and the four cells of a group have four different bits. Or-ing their
// masked words gives one word holding the group; multiplying it by
// iPack[c] moves the bit of the group's j-th cell to bit 15 + j, every
// other product landing elsewhere and no two on one place, so nothing
// carries. c is the group's first cell's bit within its word.
constexpr int kZGroupWords = 4 * kAxisStride[2] / 16;
static_assert(4 * kAxisStride[2] % 16 == 0, "four z steps are whole words");
struct ZGroupPack {
    std::uint32_t iPack[16];
    constexpr ZGroupPack() : iPack() {
        for (int c = 0; c < 16; ++c)
            for (int j = 0; j < 4; ++j) {
                const int bit = 15 - ((c + j * kAxisStride[2]) & 15);  // from the least significant
                iPack[c] += 1u << (15 + j - bit);
            }
    }
};
constexpr ZGroupPack kZGroupPack;

// The marked entries of the rectangle uMin..uMax, vMin..vMax of face iFace's
// map as bits: row v's entry u at bit u - uMin of the rowWords words from
// bits + (v - vMin) * rowWords, which the caller has cleared. With fusion,
// entries whose cell is hidden count as marked too: shadows of nearer
// occluders inside the shell's marked rectangle join the new marks, so
// neighbouring occluders are handled as one region. Returns whether every
// entry counted as marked.
bool GatherMarkedEntries(const World& world, const int* map, int stride, int uMin, int uMax, int vMin, int vMax,
                         std::uint64_t* bits, int rowWords) {
    const int D = world.iDist;
    const FaceAxes& face = kFaces[world.iFace];
    int view[3];
    ViewCell(world, view);
    const int gFront = view[face.iFront] + face.iFrontSign * D;
    // Only entries whose cell lies in the grid can be hidden: H is read in
    // the rectangle clipped to them, hu0..hu1 by hv0..hv1.
    auto clip = [&](int axis, int sign, int lo, int hi, int& cLo, int& cHi) {
        const FaceClip c = FaceCoordsInGrid(D, view[axis], sign);
        cLo = std::max(lo, c.iLo);
        cHi = std::min(hi, c.iHi);
    };
    int hu0, hu1, hv0, hv1;
    clip(face.iU, face.iUSign, uMin, uMax, hu0, hu1);
    clip(face.iV, face.iVSign, vMin, vMax, hv0, hv1);
    if (!world.bOccluderFusion || !InGrid(gFront) || hu0 > hu1) hv0 = vMax + 1, hv1 = vMax;
    const int uStep = face.iUSign * kAxisStride[face.iU];
    const int vStep = face.iVSign * kAxisStride[face.iV];
    const int corner = gFront * kAxisStride[face.iFront] + (view[face.iU] + face.iUSign * (hu0 - D)) * kAxisStride[face.iU] +
                       (view[face.iV] + face.iVSign * (hv0 - D)) * kAxisStride[face.iV];
    const BitSet H = world.H;
    const int width = uMax - uMin + 1;
    // Every bit of a fully marked row's words; words past the row's end stay clear.
    auto fullWord = [width](int w) {
        const int n = std::clamp(width - 64 * w, 0, 64);
        return n == 64 ? ~0ull : (1ull << n) - 1;
    };
    std::uint64_t* rowBits = bits;
    for (int v = vMin; v <= vMax; ++v, rowBits += rowWords) {
        const int* row = map + v * stride;
        int u = uMin;
#ifdef __SSE2__
        // Sixteen entries a step: unmarked ones compare equal to zero.
        const __m128i zero = _mm_setzero_si128();
        for (; u + 15 <= uMax; u += 16) {
            auto unmarked = [&](int k) {
                return _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + u + k)), zero);
            };
            const __m128i low = _mm_packs_epi32(unmarked(0), unmarked(4));
            const __m128i high = _mm_packs_epi32(unmarked(8), unmarked(12));
            const unsigned none = static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(low, high)));
            const int i = u - uMin;
            rowBits[i >> 6] |= static_cast<std::uint64_t>(~none & 0xFFFFu) << (i & 63);
        }
        // Then at most one group of eight and one of four; a last group of
        // four ends at uMax, overlapping the one before, so only rows
        // narrower than four go one by one.
        auto marked4 = [&](int at) {
            const __m128i unmarked = _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + at)), zero);
            return static_cast<std::uint64_t>(~_mm_movemask_ps(_mm_castsi128_ps(unmarked)) & 15);
        };
        if (u + 7 <= uMax) {
            const __m128i unmarked = _mm_packs_epi32(
                _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + u)), zero),
                _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + u + 4)), zero));
            const std::uint64_t marked8 = ~_mm_movemask_epi8(_mm_packs_epi16(unmarked, unmarked)) & 0xFF;
            rowBits[(u - uMin) >> 6] |= marked8 << ((u - uMin) & 63);
            u += 8;
        }
        if (u + 3 <= uMax) {
            rowBits[(u - uMin) >> 6] |= marked4(u) << ((u - uMin) & 63);
            u += 4;
        }
        if (u <= uMax && width >= 4) {
            OrBitsAt(rowBits, uMax - 3 - uMin, 4, marked4(uMax - 3));
            u = uMax + 1;
        }
#endif
        for (; u <= uMax; ++u)
            if (row[u] != 0) rowBits[(u - uMin) >> 6] |= 1ull << ((u - uMin) & 63);
    }
    // Then the hidden cells, row by row, in a loop of their own: the two
    // loops' values do not compete for registers. Without such rows hv0 may
    // lie past the map, and no row pointer is formed from it.
    rowBits = hv0 <= hv1 ? bits + (hv0 - vMin) * rowWords : bits;
    if (face.iU == 0 && hu1 - hu0 < 48) {
        // The common narrow row along x: one read of H a row, its place in
        // the row's bits the same for every row.
        const int n = hu1 - hu0 + 1, lowest = uStep < 0 ? -(n - 1) : 0;
        for (int v = hv0, rowCell = corner + lowest; v <= hv1; ++v, rowBits += rowWords, rowCell += vStep) {
            std::uint64_t hidden = CellBits(H, static_cast<unsigned>(rowCell), n);
            if (uStep > 0) hidden = ReverseBits(hidden) >> (64 - n);
            OrBitsAt(rowBits, hu0 - uMin, n, hidden);
        }
    } else if (face.iU == 0) {
        // Cells along x are neighbouring bits of H: read up to 48 at a time.
        for (int v = hv0, rowCell = corner; v <= hv1; ++v, rowBits += rowWords, rowCell += vStep)
            for (int c = hu0; c <= hu1; c += 48) {
                const int n = std::min(48, hu1 - c + 1);
                const int cellC = rowCell + uStep * (c - hu0);
                // Bit n - 1 is the lowest cell; entry c is the highest
                // cell when u runs against x, else the lowest.
                std::uint64_t hidden = CellBits(H, static_cast<unsigned>(uStep < 0 ? cellC - (n - 1) : cellC), n);
                if (uStep > 0) hidden = ReverseBits(hidden) >> (64 - n);
                OrBitsAt(rowBits, c - uMin, n, hidden);
            }
    } else if (hu1 - hu0 >= 7 && hu1 - hu0 < 64) {
        // Rows of eight cells along z or more, four cells at a time: the
        // row's cells as bits from its lowest cell on, then put in the
        // entries' order.
        const int n = hu1 - hu0 + 1, groups = n >> 2;
        const int lowest = uStep < 0 ? uStep * (n - 1) : 0;
        for (int v = hv0, rowCell = corner + lowest; v <= hv1; ++v, rowBits += rowWords, rowCell += vStep) {
            const unsigned low = static_cast<unsigned>(rowCell);
            const std::uint16_t* const first = H.pWords + (low >> 4);
            const std::uint16_t* const wordOf = kCellsAlongZ.iWord[low & 15];
            const std::uint16_t* const maskOf = kCellsAlongZ.iMask[low & 15];
            const unsigned w0 = wordOf[0], w1 = wordOf[1], w2 = wordOf[2], w3 = wordOf[3];
            const unsigned m0 = maskOf[0], m1 = maskOf[1], m2 = maskOf[2], m3 = maskOf[3];
            const std::uint32_t pack = kZGroupPack.iPack[low & 15];
            std::uint64_t hidden = 0;
            unsigned at = 0;
            for (int g = 0; g < 4 * groups; g += 4, at += kZGroupWords) {
                const std::uint32_t group =
                    (first[at + w0] & m0) | (first[at + w1] & m1) | (first[at + w2] & m2) | (first[at + w3] & m3);
                hidden |= static_cast<std::uint64_t>(((group * pack) >> 15) & 15) << g;
            }
            for (int k = 4 * groups; k < n; ++k)
                if (first[wordOf[k]] & maskOf[k]) hidden |= 1ull << k;
            if (uStep < 0) hidden = ReverseBits(hidden) >> (64 - n);
            OrBitsAt(rowBits, hu0 - uMin, n, hidden);
        }
    } else {
        // Cells along z, a word each: their words and bits from the table,
        // counted from the row's lowest cell.
        const int last = hu1 - hu0;
        const int lowest = uStep < 0 ? uStep * last : 0, k0 = uStep < 0 ? last : 0, kStep = uStep < 0 ? -1 : 1;
        for (int v = hv0, rowCell = corner + lowest; v <= hv1; ++v, rowBits += rowWords, rowCell += vStep) {
            const unsigned low = static_cast<unsigned>(rowCell);
            const std::uint16_t* first = H.pWords + (low >> 4);
            const std::uint16_t* const wordOf = kCellsAlongZ.iWord[low & 15];
            const std::uint16_t* const maskOf = kCellsAlongZ.iMask[low & 15];
            for (int i = hu0 - uMin, k = k0; i <= hu1 - uMin; ++i, k += kStep)
                if (first[wordOf[k]] & maskOf[k]) rowBits[i >> 6] |= 1ull << (i & 63);
        }
    }
    bool all = true;
    rowBits = bits;
    for (int v = vMin; v <= vMax && all; ++v, rowBits += rowWords)
        for (int w = 0; w < rowWords && all; ++w) all = rowBits[w] == fullWord(w);
    return all;
}

// Marked entries of one row of a strict face rectangle as bits, its i-th
// entry at bit i.
constexpr int kRowWords = (kMarkedFaceSide + 63) / 64;
struct RowBits {
    std::uint64_t iWord[kRowWords];
};

// First entry i in from..end - 1 whose bit is set (bSet) or clear, else end.
inline int NextBit(const std::uint64_t* words, int from, int end, bool bSet) {
    for (int i = from; i < end; i = (i | 63) + 1) {
        const std::uint64_t word = (bSet ? words[i >> 6] : ~words[i >> 6]) & (~0ull << (i & 63));
        if (word != 0) return std::min(end, (i & ~63) + __builtin_ctzll(word));
    }
    return end;
}

static_assert(kMaxFaceSide * kMaxFaceSide == kFaceMapEntries, "the face map's square");
constexpr int kMaxLineWords = kMaxFaceSide / 64;
static_assert(kMaxFaceSide * kMaxLineWords <= sizeof(World::FaceRowBits) / sizeof(std::uint64_t), "a line of bits per side");

// ---- Outline extraction ----

// One pass of the extraction: lines of the map (rows in the row pass,
// columns in the column pass) walked a word of positions at a time.
struct BandPass {
    int iLineMin, iLineMax;
    int iPosMin, iPosMax;
    int iLineStep, iPosStep;  // map index steps
    const std::uint64_t* pLines;  // marked entries of each line as bits, from iLineMin
    int iLineWords;
    const std::uint64_t* pCross;  // the same entries by position, bit per line from iLineMin
    int iCrossWords;
    SpanList* pSpans;
    StopList* pStops;
    int* pBandCount;
};

// Writes vertex (u, v) with no increment.
inline void SetVertex(FaceVertex& vertex, int u, int v) {
#ifdef __SSE2__
    static_assert(sizeof(FaceVertex) == 4 * sizeof(float) && offsetof(FaceVertex, fU) == 0,
                  "a vertex is four floats, u first");
    const __m128i uv = _mm_unpacklo_epi32(_mm_cvtsi32_si128(u), _mm_cvtsi32_si128(v));
    _mm_storeu_ps(reinterpret_cast<float*>(&vertex), _mm_cvtepi32_ps(uv));
#else
    vertex = {static_cast<float>(u), static_cast<float>(v), 0.0f, 0.0f};
#endif
}

// New vertex at (u, v); -1 when the vertex list is full.
inline int AddVertex(World& world, int u, int v) {
    if (world.iFaceVertexCount == kMaxFaceVertices) return -1;
    const int k = world.iFaceVertexCount++;
    SetVertex(world.FaceVertex[k], u, v);
    return k;
}

// Vertex id of the marked entry at index, creating it on first use.
// Asked only of marked entries: an entry that holds no vertex id yet (a new
// mark, or a hidden cell joined by fusion) gets one.
inline int VertexAt(World& world, int* map, int index, int u, int v) {
    if (map[index] >= 2) return map[index] - 2;
    const int k = AddVertex(world, u, v);
    if (k >= 0) map[index] = k + 2;
    return k;
}

// Returns false when a list would overflow; the caller then drops the whole
// outline rather than propagate a truncated one.
// One copy per pass: the row pass steps positions by single entries and
// decides bFaceFull, the column pass steps lines.
template <bool bRowPass>
bool ExtractBands(World& world, int* map, const BandPass& p) {
    // The pass's coordinates go beside its lists (the row pass's lines are v).
    BandCoords& coords = bRowPass ? world.RowBandCoords : world.ColBandCoords;
    *p.pBandCount = 0;
    p.pSpans[0].iCount = 0;
    p.pStops[0].iCount = 0;
    coords.iSpanFrom[0] = coords.iStopFrom[0] = 0;
    int spanCount = 0, stopCount = 0;
    auto vertex = [&](int line, int pos) {
        const int index = bRowPass ? line * p.iLineStep + pos : line + pos * p.iPosStep;
        return bRowPass ? VertexAt(world, map, index, pos, line) : VertexAt(world, map, index, line, pos);
    };

    const int positions = p.iPosMax - p.iPosMin + 1, lines = p.iLineMax - p.iLineMin + 1;
    const std::uint64_t none[kMaxLineWords] = {};
    // Stop lines of the band being built, as bits from iLineMin.
    std::uint64_t bandStops[kMaxLineWords] = {};
    const std::uint64_t* marked = p.pLines;
    const std::uint64_t* above = none;
    for (int line = p.iLineMin; line <= p.iLineMax; ++line, above = marked, marked += p.iLineWords) {
        const int band = *p.pBandCount;
        // Marked entries whose neighbour on the line before is not: each starts
        // a run across the lines, whose far end stops the band.
        std::uint64_t runStarts[kMaxLineWords];
        for (int w = 0; w < p.iLineWords; ++w) runStarts[w] = marked[w] & ~above[w];
        if (bRowPass && NextBit(marked, 0, positions, false) < positions) world.bFaceFull = 0;
        bool hasSpan = false;
        for (int i = NextBit(marked, 0, positions, true); i < positions; i = NextBit(marked, i, positions, true)) {
            const int runEnd = NextBit(marked, i, positions, false);
            for (int s = NextBit(runStarts, i, runEnd, true); s < runEnd; s = NextBit(runStarts, s + 1, runEnd, true)) {
                const std::uint64_t* across = p.pCross + s * p.iCrossWords;
                const int end = p.iLineMin + NextBit(across, line - p.iLineMin, lines, false) - 1;
                if (band == kMaxBands) return false;
                const int k = vertex(end, p.iPosMin + s);
                if (k < 0) return false;
                StopList& stops = p.pStops[band];
                const std::uint64_t bit = 1ull << ((end - p.iLineMin) & 63);
                std::uint64_t& seen = bandStops[(end - p.iLineMin) >> 6];
                if ((seen & bit) == 0) {
                    if (stops.iCount == kMaxBandEntries) return false;
                    seen |= bit;
                    stops.iVertex[stops.iCount++] = k;
                    coords.iStopLine[stopCount++] = static_cast<std::uint16_t>(end);
                }
            }
            if (band == kMaxBands) return false;
            SpanList& spans = p.pSpans[band];
            if (spans.iCount == kMaxBandEntries) return false;
            const int first = vertex(line, p.iPosMin + i);
            const int second = vertex(line, p.iPosMin + runEnd - 1);
            if (first < 0 || second < 0) return false;
            spans.iFirst[spans.iCount] = first;
            spans.iSecond[spans.iCount] = second;
            ++spans.iCount;
            coords.iSpanEnds[spanCount][0] = static_cast<std::uint16_t>(p.iPosMin + i);
            coords.iSpanEnds[spanCount][1] = static_cast<std::uint16_t>(p.iPosMin + runEnd - 1);
            ++spanCount;
            hasSpan = true;
            i = runEnd;
        }
        if (!hasSpan) continue;  // lines without marks are no band
        for (int j = coords.iStopFrom[band]; j < stopCount; ++j) {
            const int e = coords.iStopLine[j] - p.iLineMin;
            bandStops[e >> 6] &= ~(1ull << (e & 63));
        }
        coords.iBandLine[band] = static_cast<std::uint16_t>(line);
        const int next = ++*p.pBandCount;
        coords.iSpanFrom[next] = spanCount;
        coords.iStopFrom[next] = stopCount;
        if (next < kMaxBands) {
            p.pSpans[next].iCount = 0;
            p.pStops[next].iCount = 0;
        }
    }
    return true;
}

// Turns a square of kSide by kSide bits in place in log2 kSide rounds of
// swapping ever smaller blocks. Bits counted from the least significant:
// bit u of a[v] becomes bit v of a[u]. From the most significant
// (bMsbFirst): bit 63 - u of a[v] becomes bit 63 - v of a[u], for kSide 64.
template <int kSide, bool bMsbFirst>
void TurnSquare(std::uint64_t* a) {
    static_assert(!bMsbFirst || kSide == 64, "most significant first only for whole words");
    // Round j swaps, in rows k and k + j, the j bits of each 2j that lie
    // across the diagonal.
    auto round = [a](auto j, std::uint64_t lowHalves) {
        constexpr int kJ = decltype(j)::value;
#ifdef __SSE2__
        // Two row pairs at a time, each pair's rows j apart in x and y.
        const __m128i low = _mm_set1_epi64x(static_cast<long long>(lowHalves));
        auto exchange = [low](__m128i& x, __m128i& y) {
            if (bMsbFirst) {
                const __m128i t = _mm_and_si128(_mm_xor_si128(x, _mm_srli_epi64(y, kJ)), low);
                x = _mm_xor_si128(x, t);
                y = _mm_xor_si128(y, _mm_slli_epi64(t, kJ));
            } else {
                const __m128i t = _mm_and_si128(_mm_xor_si128(_mm_srli_epi64(x, kJ), y), low);
                y = _mm_xor_si128(y, t);
                x = _mm_xor_si128(x, _mm_slli_epi64(t, kJ));
            }
        };
        if constexpr (kJ >= 2) {
            // Rows k, k + 1 against rows k + j, k + j + 1.
            for (int b = 0; b < kSide; b += 2 * kJ)
                for (int k = b; k < b + kJ; k += 2) {
                    __m128i* const near = reinterpret_cast<__m128i*>(a + k);
                    __m128i* const far = reinterpret_cast<__m128i*>(a + k + kJ);
                    __m128i x = _mm_loadu_si128(near), y = _mm_loadu_si128(far);
                    exchange(x, y);
                    _mm_storeu_si128(near, x);
                    _mm_storeu_si128(far, y);
                }
        } else {
            // Neighbouring rows: four rows' pairs gathered into two registers.
            for (int k = 0; k < kSide; k += 4) {
                __m128i* const p0 = reinterpret_cast<__m128i*>(a + k);
                __m128i* const p1 = reinterpret_cast<__m128i*>(a + k + 2);
                const __m128i v0 = _mm_loadu_si128(p0), v1 = _mm_loadu_si128(p1);
                __m128i x = _mm_unpacklo_epi64(v0, v1), y = _mm_unpackhi_epi64(v0, v1);
                exchange(x, y);
                _mm_storeu_si128(p0, _mm_unpacklo_epi64(x, y));
                _mm_storeu_si128(p1, _mm_unpackhi_epi64(x, y));
            }
        }
#else
        for (int b = 0; b < kSide; b += 2 * kJ)
            for (int k = b; k < b + kJ; ++k) {
                if (bMsbFirst) {
                    const std::uint64_t t = (a[k] ^ (a[k + kJ] >> kJ)) & lowHalves;
                    a[k] ^= t;
                    a[k + kJ] ^= t << kJ;
                } else {
                    const std::uint64_t t = ((a[k] >> kJ) ^ a[k + kJ]) & lowHalves;
                    a[k + kJ] ^= t;
                    a[k] ^= t << kJ;
                }
            }
#endif
    };
    if constexpr (kSide > 32) round(std::integral_constant<int, 32>(), 0x00000000FFFFFFFFull);
    if constexpr (kSide > 16) round(std::integral_constant<int, 16>(), 0x0000FFFF0000FFFFull);
    if constexpr (kSide > 8) round(std::integral_constant<int, 8>(), 0x00FF00FF00FF00FFull);
    round(std::integral_constant<int, 4>(), 0x0F0F0F0F0F0F0F0Full);
    round(std::integral_constant<int, 2>(), 0x3333333333333333ull);
    round(std::integral_constant<int, 1>(), 0x5555555555555555ull);
}

// Columns of a map of at most kSide by kSide entries from its height rows,
// bit u of row v becoming bit v of column u: cheaper than setting the marks
// one by one.
template <int kSide>
void TurnRows(const std::uint64_t* rows, int height, std::uint64_t* columns) {
    std::copy_n(rows, height, columns);
    std::fill(columns + height, columns + kSide, 0);
    TurnSquare<kSide, false>(columns);
}

// ExtractBands for a map of at most 64 by 64 entries: a line's marks are one
// word, each run of them is cut off whole, and no list can overflow (at most
// 64 bands of 32 spans and 64 stops each, and a vertex per entry), so nothing
// is checked. Fills the lists, map and vertices exactly as ExtractBands.
template <bool bRowPass>
void ExtractBandsInWord(World& world, int* map, const BandPass& pass) {
    // A copy, which the stores to the map and lists cannot alias.
    const BandPass p = pass;
    static_assert(64 < kMaxBands && 32 <= kMaxBandEntries && 64 * 64 <= kMaxFaceVertices, "a word's outline fits");
    BandCoords& coords = bRowPass ? world.RowBandCoords : world.ColBandCoords;
    int band = 0, spanCount = 0, stopCount = 0;
    SpanList* spans = p.pSpans;
    StopList* stops = p.pStops;
    int vertexCount = world.iFaceVertexCount;
    coords.iSpanFrom[0] = coords.iStopFrom[0] = 0;
    // Map entries by line and position from the pass's first ones.
    const int lineStep = bRowPass ? p.iLineStep : 1, posStep = bRowPass ? 1 : p.iPosStep;
    int* const corner = map + p.iLineMin * lineStep + p.iPosMin * posStep;
    // Vertex id of the marked entry at (line, pos), created on first use.
    // The column pass only reads the ids of a row run's last entry and of a
    // column run's last entry: the row pass made both.
    auto vertex = [&](int& entry, int line, int pos) {
        if (entry >= 2) return entry - 2;
        const int k = vertexCount++;
        if (bRowPass)
            SetVertex(world.FaceVertex[k], pos, line);
        else
            SetVertex(world.FaceVertex[k], line, pos);
        entry = k + 2;
        return k;
    };
    const int positions = p.iPosMax - p.iPosMin + 1, lines = p.iLineMax - p.iLineMin + 1;
    const std::uint64_t full = positions == 64 ? ~0ull : (1ull << positions) - 1;
    std::uint64_t above = 0;
    bool allFull = true;
    for (int l = 0; l < lines; ++l) {
        const std::uint64_t marked = p.pLines[l];
        // Marked entries whose neighbour on the line before is not: each starts
        // a run across the lines, whose far end stops the band.
        const std::uint64_t runStarts = marked & ~above;
        above = marked;
        allFull &= marked == full;
        if (marked == 0) continue;  // lines without marks are no band
        const int line = p.iLineMin + l;
        int* const lineEntries = corner + l * lineStep;
        int spanN = 0, stopN = 0;
        std::uint64_t bandStops = 0;  // stop lines of this band, as bits from iLineMin
        for (std::uint64_t rest = marked; rest != 0;) {
            const std::uint64_t run = TakeLowestRun(rest);
            for (std::uint64_t starts = runStarts & run; starts != 0; starts &= starts - 1) {
                const int s = __builtin_ctzll(starts);
                // The run's last line is the first from line l on whose next
                // line is unmarked; past the map's last line nothing is marked.
                const int end = __builtin_ctzll(~(p.pCross[s] >> 1) & (~0ull << l));
                int& entry = corner[end * lineStep + s * posStep];
                const int k = bRowPass ? vertex(entry, p.iLineMin + end, p.iPosMin + s) : entry - 2;
                const std::uint64_t bit = 1ull << end;
                if ((bandStops & bit) == 0) {
                    bandStops |= bit;
                    stops->iVertex[stopN++] = k;
                    coords.iStopLine[stopCount++] = static_cast<std::uint16_t>(p.iLineMin + end);
                }
            }
            const int i = __builtin_ctzll(run), j = 63 ^ __builtin_clzll(run);
            const int first = p.iPosMin + i, last = p.iPosMin + j;
            spans->iFirst[spanN] = vertex(lineEntries[i * posStep], line, first);
            spans->iSecond[spanN] = bRowPass ? vertex(lineEntries[j * posStep], line, last) : lineEntries[j * posStep] - 2;
            ++spanN;
            coords.iSpanEnds[spanCount][0] = static_cast<std::uint16_t>(first);
            coords.iSpanEnds[spanCount][1] = static_cast<std::uint16_t>(last);
            ++spanCount;
        }
        (spans++)->iCount = spanN;
        (stops++)->iCount = stopN;
        coords.iBandLine[band] = static_cast<std::uint16_t>(line);
        ++band;
        coords.iSpanFrom[band] = spanCount;
        coords.iStopFrom[band] = stopCount;
    }
    // The lists past the last band are left empty, once.
    spans->iCount = 0;
    stops->iCount = 0;
    *p.pBandCount = band;
    world.iFaceVertexCount = vertexCount;
    if (bRowPass && !allFull) world.bFaceFull = 0;
}

// ---- Propagation ----

// StopRows holds each projected stop row of a sweep: membership is all the
// sweep asks of it, and the distinct stop rows of a sweep are at most its bands.
static_assert(kMaxStopRows >= kMaxBands, "stop rows are bounded by the band count");

struct StopRows {
    // Projected lines stay within about -70..210; there the rows are bits,
    // which clear in a few stores and, unlike a byte table, never alias the
    // band lists the sweep reads. Rows outside, which no real face reaches,
    // fall back to the list.
    static constexpr int kBitsOffset = 128, kBitCount = 512, kWords = kBitCount / 64;
    std::uint64_t iBits[kWords] = {};
    int iRow[kMaxStopRows];  // rows outside the bits, each once
    int iCount = 0;

    void Add(int t) {
        const unsigned k = static_cast<unsigned>(t + kBitsOffset);
        if (k < kBitCount) {
            iBits[k >> 6] |= 1ull << (k & 63);
            return;
        }
        for (int i = 0; i < iCount; ++i)
            if (iRow[i] == t) return;
        iRow[iCount++] = t;
    }
    bool Contains(int t) const {
        const unsigned k = static_cast<unsigned>(t + kBitsOffset);
        if (k < kBitCount) return (iBits[k >> 6] >> (k & 63)) & 1;
        for (int i = 0; i < iCount; ++i)
            if (iRow[i] == t) return true;
        return false;
    }
    // For a sweep that asks only about rows inside the bits: rows outside
    // are dropped, and membership is one bit.
    void AddInBits(int t) {
        const unsigned k = static_cast<unsigned>(t + kBitsOffset);
        if (k < kBitCount) iBits[k >> 6] |= 1ull << (k & 63);
    }
    bool ContainsInBits(int t) const {
        const unsigned k = static_cast<unsigned>(t + kBitsOffset);
        return (iBits[k >> 6] >> (k & 63)) & 1;
    }
    static bool InBits(int t0, int t1) {
        return t0 + kBitsOffset >= 0 && t1 + kBitsOffset < kBitCount;
    }
    void Clear() {
        std::fill_n(iBits, kWords, 0);
        iCount = 0;
    }
};

struct SweepBand;

// One sweep of a face: rows (line coordinate v, spans along u) or columns
// (line coordinate u, spans along v).
struct SweepAxes {
    const BandCoords* pCoords;
    int iBandCount;
    const float* pLineMin;  // the face's float bounds, scaled shell by shell
    const float* pLineMax;
    int iLineAxis, iLineSign;
    int iSpanAxis, iSpanSign;
    const SweepBand* pBands;         // the bands, then one whose start is never reached
    const std::uint16_t* pStopLine;  // the bands' stop lines, each only at the first band that has it
};

static_assert(ProjectedCoords::kSize <= 65536, "band coordinates in 16 bits");

SweepAxes RowSweep(const World& world, const FaceAxes& face) {
    return {&world.RowBandCoords, world.iRowListCount, &world.fFaceVMin, &world.fFaceVMax,
            face.iV,              face.iVSign,         face.iU,          face.iUSign,
            nullptr,              nullptr};
}

SweepAxes ColumnSweep(const World& world, const FaceAxes& face) {
    return {&world.ColBandCoords, world.iColListCount, &world.fFaceUMin, &world.fFaceUMax,
            face.iU,              face.iUSign,         face.iV,          face.iVSign,
            nullptr,              nullptr};
}

// A sweep's lists, gathered once per propagation. Its stop rows only
// accumulate, and a stop line projects onto the same row for every band of
// a plane: a line that an earlier band already stops at is left out of the
// later bands' lists (distinct lines are at most the face map's side). What
// the sweep reads of a band lies side by side, and the bands end with one
// past every face map, so the next band's start is one read.
struct SweepBand {
    int iLine;
    int iStopEnd;             // the band's stop lines end here, from the previous band's end
    int iSpanFrom, iSpanEnd;  // its spans in the coordinates' span list
};

// The bands follow one unused slot, so the sweep's "band before the first"
// points into the array.
struct SweepLines {
    SweepBand iBand[kMaxBands + 2];
    std::uint16_t iLine[kMaxFaceSide];
};

void GatherSweepLines(const BandCoords& coords, int bandCount, SweepLines& out) {
    std::uint64_t seen[kMaxFaceSide / 64] = {};
    int n = 0;
    for (int b = 0; b < bandCount; ++b) {
        for (int i = coords.iStopFrom[b]; i < coords.iStopFrom[b + 1]; ++i) {
            const int c = coords.iStopLine[i];
            const std::uint64_t bit = 1ull << (c & 63);
            if (seen[c >> 6] & bit) continue;
            seen[c >> 6] |= bit;
            out.iLine[n++] = static_cast<std::uint16_t>(c);
        }
        out.iBand[b + 1] = {coords.iBandLine[b], n, coords.iSpanFrom[b], coords.iSpanFrom[b + 1]};
    }
    out.iBand[bandCount + 1] = {ProjectedCoords::kPastLast, n, 0, 0};
}

// The bands a sweep draws, resolved in coordinates once per propagation.
// Beyond the shell, neighbouring coordinates project d / D > 1 apart, so the
// projected lines of a plane strictly increase with the coordinate, and a
// stop line meets a band's first line exactly when its coordinate does. A
// stop line ends a run of marked entries, so it is some band's own line: no
// stop falls inside a band, and a band is either skipped (it starts on a stop
// line) or drawn up to the next band's first line, the same on every plane.
struct PlannedBand {
    int iLine, iNextLine;     // lines start[iLine] .. start[iNextLine] - 1
    int iSpanFrom, iSpanEnd;  // its spans in the coordinates' span list
};

struct SweepPlan {
    PlannedBand iDrawn[kMaxBands];
    int iDrawnCount;
    int iLastLine;  // the sweep's bound: its projection's end is the last line drawn
    // Whether each band draws (alone or as part of the one before it), and
    // whether any is skipped.
    bool bBandDrawn[kMaxBands];
    bool bAnySkipped;
    // The first band whose stop list holds each coordinate of the bands'
    // range, kNoBand if none does.
    static constexpr std::uint16_t kNoBand = 0xffff;
    std::uint16_t iStopBand[kMaxFaceSide];
};

static_assert(kMaxBands < SweepPlan::kNoBand, "band numbers below the mark of none");

void PlanSweep(const BandCoords& coords, int bandCount, bool bStopsOfBandEntered, float lineMax, int pastLast,
               SweepPlan& plan) {
    plan.iDrawnCount = 0;
    plan.bAnySkipped = false;
    plan.iLastLine = static_cast<int>(lineMax);
    if (bandCount == 0) return;
    const std::uint16_t* const line = coords.iBandLine;
    const int* const spanFrom = coords.iSpanFrom;
    std::fill(plan.iStopBand + line[0], plan.iStopBand + line[bandCount - 1] + 1, SweepPlan::kNoBand);
    for (int b = bandCount - 1; b >= 0; --b)
        for (int i = coords.iStopFrom[b]; i < coords.iStopFrom[b + 1]; ++i)
            plan.iStopBand[coords.iStopLine[i]] = static_cast<std::uint16_t>(b);
    for (int b = 0; b < bandCount; ++b) {
        // Stop lines of the bands through this one (face 0) or before it.
        const int stopsBelow = bStopsOfBandEntered ? b + 1 : b;
        plan.bBandDrawn[b] = plan.iStopBand[line[b]] >= stopsBelow;
        if (!plan.bBandDrawn[b]) {
            plan.bAnySkipped = true;
            continue;
        }
        const int next = b + 1 < bandCount ? line[b + 1] : pastLast;
        // A band that goes on where the one before it ends, with the same
        // spans, draws as part of that one.
        const int n = spanFrom[b + 1] - spanFrom[b];
        PlannedBand* p = plan.iDrawnCount > 0 ? &plan.iDrawn[plan.iDrawnCount - 1] : nullptr;
        if (p && p->iNextLine == line[b] && p->iSpanEnd - p->iSpanFrom == n &&
            std::equal(coords.iSpanEnds[p->iSpanFrom], coords.iSpanEnds[p->iSpanFrom + n],
                       coords.iSpanEnds[spanFrom[b]]))
            p->iNextLine = next;
        else
            plan.iDrawn[plan.iDrawnCount++] = {line[b], next, spanFrom[b], spanFrom[b + 1]};
    }
}

// ---- Staged hidden cells ----

// Axes of a staged plane: the plane's normal, the span's axis (the bit
// within a line) and the line's axis. Spans along x go to H directly, a
// whole word at a time.
struct StagedKind {
    int iPlane, iSpan, iLine;
};
constexpr StagedKind kStagedKinds[kStagedKindCount] = {{2, 1, 0}, {0, 2, 1}, {0, 1, 2}, {1, 2, 0}};
// Kind by plane axis and span axis; -1 for spans along x.
constexpr int kStagedKindOf[3][3] = {{-1, 2, 1}, {-1, -1, 3}, {-1, 0, -1}};

// Staged x lines a block must have before it is turned rather than written
// cell by cell. Lines, not cells, are counted: that is one bit count of the
// dirty word, where counting cells would read every line.
constexpr int kTurnedBlockMinLines = 18;

// Bits lo..hi of a two-word line, 0 <= lo <= hi < 128.
struct LineMask {
    std::uint64_t iWord[2];
};
// Bits 0..n-1 of a line, n = 0..128: a table read instead of two branches
// a word.
struct LowBitsTable {
    LineMask iBelow[129];
    constexpr LowBitsTable() : iBelow() {
        for (int n = 0; n <= 128; ++n)
            iBelow[n] = {{n >= 64 ? ~0ull : (1ull << n) - 1, n >= 128 ? ~0ull : n <= 64 ? 0 : (1ull << (n - 64)) - 1}};
    }
};
constexpr LowBitsTable kLowBits;
inline LineMask BitsBetween(int lo, int hi) {
    const LineMask& a = kLowBits.iBelow[hi + 1];
    const LineMask& b = kLowBits.iBelow[lo];
    return {{a.iWord[0] & ~b.iWord[0], a.iWord[1] & ~b.iWord[1]}};
}

// Ors 64 cells from cell p on into the set, cell p + i at bit 63 - i of
// cells; the five words from p's on must lie in the set.
inline void OrCellsInside(BitSet& H, unsigned p, std::uint64_t cells) {
    const unsigned w = p >> 4, s = p & 15;
    // Cells in set order, most significant first, then as the set's words in
    // memory order: the 16-bit lanes reversed.
    auto words = [](std::uint64_t v) {
        v = (v << 32) | (v >> 32);
        return ((v & 0x0000FFFF0000FFFFull) << 16) | ((v >> 16) & 0x0000FFFF0000FFFFull);
    };
    std::uint64_t low;
    std::memcpy(&low, H.pWords + w, sizeof low);
    low |= words(cells >> s);
    std::memcpy(H.pWords + w, &low, sizeof low);
    if (s != 0) H.pWords[w + 4] = static_cast<std::uint16_t>(H.pWords[w + 4] | ((cells << (64 - s)) >> 48));
}

// Bits set in a two-word line, summed in the words' lanes before the one
// final multiply: the target has no count instruction to rely on.
inline int LineBitCount(std::uint64_t a, std::uint64_t b) {
    constexpr std::uint64_t k1 = 0x5555555555555555ull, k2 = 0x3333333333333333ull, k4 = 0x0F0F0F0F0F0F0F0Full;
    a -= (a >> 1) & k1;
    b -= (b >> 1) & k1;
    a = (a & k2) + ((a >> 2) & k2) + (b & k2) + ((b >> 2) & k2);  // up to 8 a nibble
    a = (a & k4) + ((a >> 4) & k4);
    return static_cast<int>((a * 0x0101010101010101ull) >> 56);
}

// A staged plane whose lines run along x holds, line by line, the cells of
// one x along the span's axis; H wants them the other way round. Its first
// 64 lines are turned as one block when enough of them hold cells for the block's
// fixed cost to pay, so each span cell's row of x cells is one write.
bool WriteStagedXBlock(World& world, int kind, int g) {
    const StagedKind& k = kStagedKinds[kind];
    std::uint64_t (*const lines)[2] = world.Staged.Line[kind][g];
    const std::uint64_t dirty = world.Staged.DirtyLines[kind][g][0];
    if (LineBitCount(dirty, 0) < kTurnedBlockMinLines) return false;
    std::uint64_t any[2] = {0, 0};
    for (std::uint64_t d = dirty; d != 0; d &= d - 1) {
        const int l = __builtin_ctzll(d);
        any[0] |= lines[l][0];
        any[1] |= lines[l][1];
    }
    BitSet H = world.H;
    const int planeBase = g * kAxisStride[k.iPlane];
    const int spanStep = kAxisStride[k.iSpan];
    for (int j = 0; j < 2; ++j) {
        if (any[j] == 0) continue;
        alignas(16) std::uint64_t block[64];
        for (int i = 0; i < 64; ++i) block[i] = lines[i][j];
        TurnSquare<64, true>(block);
        for (std::uint64_t cs = any[j]; cs != 0; cs &= cs - 1) {
            const int c = __builtin_ctzll(cs);
            const std::uint64_t cells = block[63 - c];
            const unsigned p = static_cast<unsigned>(planeBase + (64 * j + c) * spanStep);
            if (static_cast<int>(p >> 4) + 5 <= H.iWordCount) {
                OrCellsInside(H, p, cells);
            } else {
                for (std::uint64_t b = cells; b != 0; b &= b - 1) H.Set(p + 63 - __builtin_ctzll(b));
            }
        }
    }
    for (std::uint64_t d = dirty; d != 0; d &= d - 1) {
        const int l = __builtin_ctzll(d);
        lines[l][0] = lines[l][1] = 0;
    }
    world.Staged.DirtyLines[kind][g][0] = 0;
    return true;
}

void WriteStagedPlane(World& world, int kind, int g) {
    const StagedKind& k = kStagedKinds[kind];
    std::uint64_t* dirty = world.Staged.DirtyLines[kind][g];
    const int planeBase = g * kAxisStride[k.iPlane];
    // Spans along x go straight to H: a staged span runs along y or z.
    const StrideCells& cells = k.iSpan == 1 ? kCellsAlongY : kCellsAlongZ;
    std::uint16_t* const words = world.H.pWords;
    const int wFirst = k.iLine == 0 && WriteStagedXBlock(world, kind, g) ? 1 : 0;
    for (int w = wFirst; w < 2; ++w) {
        for (std::uint64_t lines = dirty[w]; lines != 0; lines &= lines - 1) {
            const int l = w * 64 + __builtin_ctzll(lines);
            std::uint64_t* line = world.Staged.Line[kind][g][l];
            const unsigned base = static_cast<unsigned>(planeBase + l * kAxisStride[k.iLine]);
            std::uint16_t* first = words + (base >> 4);
            const std::uint16_t* const wordOf = cells.iWord[base & 15];
            const std::uint16_t* const maskOf = cells.iMask[base & 15];
            // Cells come in runs along the span (several a run): a run is
            // cut off whole, then its cells written two at a time, an odd
            // one first.
            auto writeRuns = [first](std::uint64_t bits, const std::uint16_t* wordAt, const std::uint16_t* maskAt) {
                auto write = [first, wordAt, maskAt](int b) {
                    first[wordAt[b]] = static_cast<std::uint16_t>(first[wordAt[b]] | maskAt[b]);
                };
                while (bits != 0) {
                    const std::uint64_t run = TakeLowestRun(bits);
                    const int end = 64 - __builtin_clzll(run);
                    int b = __builtin_ctzll(run);
                    if ((end - b) & 1) write(b++);
                    for (; b < end; b += 2) {
                        write(b);
                        write(b + 1);
                    }
                }
            };
            writeRuns(line[0], wordOf, maskOf);
            // The second word: span cells 64 and on, the grid's last few, seldom staged.
            if (line[1] != 0) writeRuns(line[1], wordOf + 64, maskOf + 64);
            line[0] = line[1] = 0;
        }
        dirty[w] = 0;
    }
}

// Where one sweep of a face writes on one plane: x spans into H from the
// plane's first cell index, other spans into the plane's staged lines.
struct PlaneTarget {
    int iFrontIndex;
    std::uint64_t (*pLines)[2];  // null for spans along x
    std::uint64_t* pDirty;

    // Lines a..b, in either order, are about to receive staged cells.
    void MarkLines(int a, int b) const {
        const LineMask lines = BitsBetween(std::min(a, b), std::max(a, b));
        pDirty[0] |= lines.iWord[0];
        pDirty[1] |= lines.iWord[1];
    }
    void Stage(int line, const LineMask& cells) const {
        pLines[line][0] |= cells.iWord[0];
        pLines[line][1] |= cells.iWord[1];
    }
    // Lines line, line + step, ... count of them.
    void StageLines(int line, int count, int step, const LineMask& cells) const {
        std::uint64_t* p = pLines[line];
        step *= 2;
        // Stepped only on to a line that follows, never past the last.
#ifdef __SSE2__
        const __m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cells.iWord));
        for (;;) {
            __m128i* q = reinterpret_cast<__m128i*>(p);
            _mm_storeu_si128(q, _mm_or_si128(_mm_loadu_si128(q), m));
            if (--count == 0) return;
            p += step;
        }
#else
        for (;;) {
            p[0] |= cells.iWord[0];
            p[1] |= cells.iWord[1];
            if (--count == 0) return;
            p += step;
        }
#endif
    }
    // Onto the next plane along the front axis, sign = +-1.
    void Next(int sign, int frontStride) {
        iFrontIndex += sign * frontStride;
        if (pLines) {
            pLines += sign * kGridSize;
            pDirty += sign * 2;
        }
    }
};

PlaneTarget TargetOf(World& world, int front, int gFront, int spanAxis) {
    const int kind = kStagedKindOf[front][spanAxis];
    if (kind < 0) return {gFront * kAxisStride[front], nullptr, nullptr};
    return {gFront * kAxisStride[front], world.Staged.Line[kind][gFront], world.Staged.DirtyLines[kind][gFront]};
}

// What a sweep needs on every plane, taken once per propagation. Face
// coordinate t lies on grid line iLineBase + iLineSign * t, and likewise for
// the cells of a span; lines iLineLo..iLineHi and span coordinates
// iSpanLo..iSpanHi lie in the grid, and nothing is drawn outside them.
struct SweepFrame {
    const int* pStart;
    const int* pEnd;
    const std::uint16_t (*pSpanEnds)[2];
    int iLineLo, iLineHi, iLineBase, iLineSign;
    int iLineStride, iLineStep;  // cell index steps of a grid line and a face line
    int iSpanLo, iSpanHi, iSpanBase, iSpanSign;
};

SweepFrame FrameOf(const World& world, const SweepAxes& s, const ProjectedCoords& at, const int view[3]) {
    const int D = world.iDist;
    auto clip = [D](int c, int sign, int& lo, int& hi) {
        const FaceClip t = FaceCoordsInGrid(D, c, sign);
        lo = t.iLo;
        hi = t.iHi;
    };
    SweepFrame f;
    f.pStart = at.iStart;
    f.pEnd = at.iEnd;
    f.pSpanEnds = s.pCoords->iSpanEnds;
    clip(view[s.iLineAxis], s.iLineSign, f.iLineLo, f.iLineHi);
    f.iLineBase = view[s.iLineAxis] - s.iLineSign * D;
    f.iLineSign = s.iLineSign;
    f.iLineStride = kAxisStride[s.iLineAxis];
    f.iLineStep = s.iLineSign * kAxisStride[s.iLineAxis];
    clip(view[s.iSpanAxis], s.iSpanSign, f.iSpanLo, f.iSpanHi);
    f.iSpanBase = view[s.iSpanAxis] - s.iSpanSign * D;
    f.iSpanSign = s.iSpanSign;
    return f;
}

// A band's spans on the plane as one line of cells, for staged targets; span
// cells outside the grid are left out. A span's ends depend on the plane, not
// on the line: the line is built once for all the lines the band draws.
template <typename Band>
[[gnu::always_inline]] inline LineMask BandCells(const SweepFrame& f, const Band& band) {
    LineMask cells = {{0, 0}};
    for (int i = band.iSpanFrom, n = band.iSpanEnd; i < n; ++i) {
        const int lo = std::max(f.pStart[f.pSpanEnds[i][0]], f.iSpanLo);
        const int hi = std::min(f.pEnd[f.pSpanEnds[i][1]], f.iSpanHi);
        if (lo > hi) continue;
        const int gMin = f.iSpanSign > 0 ? f.iSpanBase + lo : f.iSpanBase - hi;
        const LineMask span = BitsBetween(gMin, gMin + hi - lo);
        cells.iWord[0] |= span.iWord[0];
        cells.iWord[1] |= span.iWord[1];
    }
    return cells;
}

// Hides the cells of the spans of band on lines t0..t1 of the plane, writing
// x spans straight into H; lines and span cells outside the grid are skipped,
// so nothing outside it is written.
template <typename Band>
[[gnu::always_inline]] inline void DrawLinesInH(BitSet H, const SweepFrame& f, const PlaneTarget& target, int t0,
                                                int t1, const Band& band) {
    t0 = std::max(t0, f.iLineLo);
    t1 = std::min(t1, f.iLineHi);
    if (t0 > t1) return;
    const int first = target.iFrontIndex + (f.iLineBase + f.iLineSign * t0) * f.iLineStride;
    for (int i = band.iSpanFrom, n = band.iSpanEnd; i < n; ++i) {
        const int lo = std::max(f.pStart[f.pSpanEnds[i][0]], f.iSpanLo);
        const int hi = std::min(f.pEnd[f.pSpanEnds[i][1]], f.iSpanHi);
        if (lo > hi) continue;
        const int gMin = f.iSpanSign > 0 ? f.iSpanBase + lo : f.iSpanBase - hi;
        const unsigned length = static_cast<unsigned>(hi - lo + 1);
        int base = first + gMin;
        for (int t = t0; t <= t1; ++t, base += f.iLineStep) H.SetRowRange(static_cast<unsigned>(base), length);
    }
}

// Draws each band from its first projected line on, until the next band
// begins or the line equals a projected stop line; a skipped band stays
// skipped until the next band begins.
// One copy per stop rule: the rule is the face's, fixed for all its sweeps;
// and one per target, staged lines or H.
// Lines t..tEnd + 1 are all the sweep asks about; when they lie inside the
// stop rows' bits (bBitsOnly), so does every stop row that matters.
template <bool bStopsOfBandEntered, bool bBitsOnly, bool bStaged>
void SweepBands(World& world, const SweepAxes& s, const SweepFrame& frame, const PlaneTarget& plane,
                StopRows& stopRows, int t, int tEnd) {
    const int* const start = frame.pStart;
    // The band being drawn; before the first, none.
    const SweepBand* band = s.pBands - 1;
    int nextStart = start[band[1].iLine];
    // Frame and target are read in place: the walk's registers cannot hold
    // them anyway, and a copy only adds moves to the stack.
    const SweepFrame& f = frame;
    const PlaneTarget& target = plane;
    // The set's handle by value: its word pointer is not reloaded after each
    // write.
    const BitSet H = world.H;
    stopRows.Clear();
    const std::uint16_t* const stopLine = s.pStopLine;
    // Bands add their stops in order, each once: the list is read straight on.
    int nextStop = 0;
    auto addStops = [&](const SweepBand* b) {
        for (const int n = b->iStopEnd; nextStop < n; ++nextStop) {
            const int i = nextStop;
            if (bBitsOnly)
                stopRows.AddInBits(start[stopLine[i]]);
            else
                stopRows.Add(start[stopLine[i]]);
        }
    };
    auto isStop = [&](int row) { return bBitsOnly ? stopRows.ContainsInBits(row) : stopRows.Contains(row); };
    // Staged lines are drawn in increasing t: the first and last staged line
    // mark the sweep's dirty lines once, at its end.
    int stagedFirst = INT_MAX, stagedLast = INT_MIN;
    // Lines t0..t1 of band, t0 not a stop line: drawn through the first stop
    // line after t0, else through t1; t0 itself is known not to stop.
    auto draw = [&](int t0, int t1, const SweepBand& band) {
        if (bStaged) {
            const LineMask cells = BandCells(f, band);
            if ((cells.iWord[0] | cells.iWord[1]) == 0) return;
            if (t0 >= f.iLineLo && t1 <= f.iLineHi) {
                // Inside the grid's lines: the stop test goes along with the staging.
                int line = f.iLineBase + f.iLineSign * t0;
                target.Stage(line, cells);
                int e = t0;
                while (e < t1) {
                    ++e;
                    line += f.iLineSign;
                    target.Stage(line, cells);
                    if (isStop(e)) break;
                }
                stagedFirst = std::min(stagedFirst, t0);
                stagedLast = e;
                return;
            }
            int e = t0;
            while (e < t1 && !isStop(++e)) {
            }
            const int a = std::max(t0, f.iLineLo), b = std::min(e, f.iLineHi);
            if (a > b) return;
            for (int u = a, line = f.iLineBase + f.iLineSign * a; u <= b; ++u, line += f.iLineSign) target.Stage(line, cells);
            stagedFirst = std::min(stagedFirst, a);
            stagedLast = b;
        } else {
            int e = t0;
            while (e < t1 && !isStop(++e)) {
            }
            DrawLinesInH(H, f, target, t0, e, band);
        }
    };
    // At the top of the loop either the band is skipped or a band begins at t:
    // lines before the next band's start that are skipped draw nothing. A
    // band drawn through its last line, or stopped earlier and skipped to the
    // next band's start, leaves the next band at the line after t or at its
    // own start, whichever is later.
    for (;; ++t) {
        t = std::max(t, nextStart);
        if (t > tEnd) break;
        if (!bStopsOfBandEntered && band >= s.pBands) addStops(band);
        ++band;
        // First projected line of the next band; past the last band, never reached.
        nextStart = start[band[1].iLine];
        if (bStopsOfBandEntered) addStops(band);
        // Drawn through the first stop line, else up to the next band's start
        // (one band change per line) or the sweep's end; a band starting on a
        // stop line is skipped.
        if (!isStop(t)) draw(t, std::min(tEnd, std::max(nextStart - 1, t)), *band);
    }
    if (!bStopsOfBandEntered && band >= s.pBands && !isStop(tEnd + 1)) draw(tEnd, tEnd, *band);
    if (bStaged && stagedFirst <= stagedLast)
        target.MarkLines(f.iLineBase + f.iLineSign * stagedFirst, f.iLineBase + f.iLineSign * stagedLast);
}

// Four planes' values of one coordinate, side by side in the shell's table.
using Int4 = int __attribute__((vector_size(16)));
inline Int4 LoadLanes(const int* p) {
    Int4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline Int4 Splat(int x) { return Int4{x, x, x, x}; }
inline Int4 LeastOf(Int4 a, Int4 b) { return a < b ? a : b; }
inline Int4 GreatestOf(Int4 a, Int4 b) { return a > b ? a : b; }
// Bit j set when lane j of a comparison holds.
inline unsigned LanesSet(Int4 m) {
#if defined(__SSE__)
    using Float4 = float __attribute__((vector_size(16)));
    return static_cast<unsigned>(__builtin_ia32_movmskps(reinterpret_cast<Float4>(m)));
#else
    return (m[0] & 1u) | (m[1] & 2u) | (m[2] & 4u) | (m[3] & 8u);
#endif
}

// A plan's sweep onto every farther plane of the face. On each plane: every
// drawn band whose first line lies through the last line tEnd, through its
// own last line; then, unless the face stops at the band it enters, line
// tEnd once more with the band current there, when the line after it is no
// stop line of the bands before that one. The sweep goes band by band, each
// band's lines and spans taken on four planes at a time from the shell's
// table; every write is an or, so the order changes nothing.
template <bool bStaged>
void SweepPlanes(World& world, const SweepAxes& s, const SweepPlan& plan, const SweepFrame& frame,
                 const PlaneTarget& target, int D, int planeCount, int frontSign, int frontStride, bool bRedrawLast) {
    if (s.iBandCount == 0) return;
    const ShellProjections& table = ShellProjections::Get();
    const BandCoords& coords = *s.pCoords;
    const std::uint16_t* const line = coords.iBandLine;
    // The frame's fields as locals: the staged lines' vector stores may alias
    // anything in memory, and would have every field read again.
    const int lineLo = frame.iLineLo, lineHi = frame.iLineHi, lineBase = frame.iLineBase, lineSign = frame.iLineSign;
    const int spanLo = frame.iSpanLo, spanHi = frame.iSpanHi, spanBase = frame.iSpanBase, spanSign = frame.iSpanSign;
    const Int4 lineLo4 = Splat(lineLo), lineHi4 = Splat(lineHi), spanLo4 = Splat(spanLo), spanHi4 = Splat(spanHi);
    const Int4 lineBase4 = Splat(lineBase), spanBase4 = Splat(spanBase);
    // Each plane's last line, and the last that bands begin on there: past
    // the grid's last line they draw nothing. A plane no band begins on, and
    // the lanes past the last plane, take no band: their lines lie before
    // every line, as the table's padding lies past every line, both within
    // reach of lane arithmetic.
    constexpr int kNoLine = -ShellProjections::kPastEveryLine;
    const int lanes = (planeCount + ShellProjections::kLanes - 1) & ~(ShellProjections::kLanes - 1);
    alignas(16) int tEnd[kGridSize + ShellProjections::kLanes], tLast[kGridSize + ShellProjections::kLanes];
    const int* const firstStarts = table.Starts(D, line[0]);
    {
        const int* const lastEnds = table.Ends(D, plan.iLastLine);
        const Int4 none = Splat(kNoLine);
        for (int k = 0; k < lanes; k += ShellProjections::kLanes) {
            const Int4 inGrid = Int4{k, k + 1, k + 2, k + 3} < planeCount;
            const Int4 end = inGrid ? LoadLanes(lastEnds + k) : none;
            const Int4 first = LoadLanes(firstStarts + k);
            const Int4 last = first > end ? none : LeastOf(end, lineHi4);
            std::memcpy(tEnd + k, &end, sizeof end);
            std::memcpy(tLast + k, &last, sizeof last);
        }
    }
    // Staged lines by plane and line; cells in H by plane, line and span cell.
    std::uint64_t(*const lines)[2] = target.pLines;
    const int linesOfPlane = frontSign * kGridSize;
    const int lineStride = frame.iLineStride;
    const int cellsOfPlane = frontSign * frontStride, cellsOfLine = lineSign * lineStride;
    BitSet H = world.H;  // by value: its word pointer stays in a register
    // Lines t0..t1 (the live lanes of live) of planes k..k + 3 with the spans
    // spanEnds[0..spanCount - 1].
    auto draw = [&](int k, unsigned live, Int4 t0, Int4 t1, const std::uint16_t(*spanEnds)[2], int spanCount) {
        LineMask cells[ShellProjections::kLanes] = {};
        // H's cell of each lane's first line on plane k, at span cell 0; lane
        // j's plane, k + j, is added where the lane draws.
        const Int4 first =
            bStaged ? Int4{} : Splat(target.iFrontIndex + k * cellsOfPlane) + (lineBase4 + t0 * lineSign) * lineStride;
        for (int i = 0; i < spanCount; ++i) {
            const Int4 lo = GreatestOf(LoadLanes(table.Starts(D, spanEnds[i][0]) + k), spanLo4);
            const Int4 hi = LeastOf(LoadLanes(table.Ends(D, spanEnds[i][1]) + k), spanHi4);
            const unsigned inGrid = live & LanesSet(lo <= hi);
            if (inGrid == 0) continue;
            const Int4 gMin = spanSign > 0 ? spanBase4 + lo : spanBase4 - hi;
            const Int4 gMax = gMin + hi - lo;
            for (unsigned m = inGrid; m != 0; m &= m - 1) {
                const int j = __builtin_ctz(m);
                if constexpr (bStaged) {
                    const LineMask span = BitsBetween(gMin[j], gMax[j]);
                    cells[j].iWord[0] |= span.iWord[0];
                    cells[j].iWord[1] |= span.iWord[1];
                } else {
                    const unsigned length = static_cast<unsigned>(gMax[j] - gMin[j] + 1);
                    int base = first[j] + j * cellsOfPlane + gMin[j];
                    for (int t = t0[j]; t <= t1[j]; ++t, base += cellsOfLine)
                        H.SetRowRange(static_cast<unsigned>(base), length);
                }
            }
        }
        if constexpr (bStaged) {
            for (unsigned m = live; m != 0; m &= m - 1) {
                const int j = __builtin_ctz(m);
                if ((cells[j].iWord[0] | cells[j].iWord[1]) == 0) continue;
                const PlaneTarget plane = {0, lines + (k + j) * linesOfPlane, nullptr};
                plane.StageLines(lineBase + lineSign * t0[j], t1[j] - t0[j] + 1, lineSign, cells[j]);
            }
        }
    };
    for (const PlannedBand *b = plan.iDrawn, *n = b + plan.iDrawnCount; b != n; ++b) {
        const int* const firstAt = table.Starts(D, b->iLine);
        const int* const nextAt = table.Starts(D, b->iNextLine);
        const std::uint16_t(*const spanEnds)[2] = frame.pSpanEnds + b->iSpanFrom;
        const int spanCount = b->iSpanEnd - b->iSpanFrom;
        for (int k = 0; k < lanes; k += ShellProjections::kLanes) {
            const Int4 t0 = LoadLanes(firstAt + k);
            const Int4 begun = t0 <= LoadLanes(tLast + k);
            if (LanesSet(begun) == 0) continue;
            const Int4 t1 = LeastOf(LoadLanes(tEnd + k), LoadLanes(nextAt + k) - 1);
            const Int4 a = GreatestOf(t0, lineLo4), z = LeastOf(t1, lineHi4);
            const unsigned live = LanesSet(begun & (a <= z));
            if (live != 0) draw(k, live, a, z, spanEnds, spanCount);
        }
    }
    if (bRedrawLast && plan.bAnySkipped) {
        for (int k = 0; k < planeCount; ++k) {
            if (tLast[k] == kNoLine) continue;
            auto startOf = [&](int c) { return table.Starts(D, c)[k]; };
            // Band b is the last begun; stop lines are band lines, so only the
            // next band's line can fall on tEnd + 1. A band the plan draws has
            // drawn line tEnd already, with the same spans.
            int b = s.iBandCount - 1;
            while (startOf(line[b]) > tEnd[k]) --b;
            const bool stops =
                b + 1 < s.iBandCount && startOf(line[b + 1]) == tEnd[k] + 1 && plan.iStopBand[line[b + 1]] < b;
            const int t = tEnd[k];
            if (!plan.bBandDrawn[b] && !stops && lineLo <= t && t <= lineHi) {
                // The plane's lane alone, in the lanes of its group.
                const int k0 = k & ~(ShellProjections::kLanes - 1);
                draw(k0, 1u << (k - k0), Splat(t), Splat(t), frame.pSpanEnds + coords.iSpanFrom[b],
                     coords.iSpanFrom[b + 1] - coords.iSpanFrom[b]);
            }
        }
    }
    if (bStaged) {
        // Every line a band can draw on a plane is marked: a line left empty
        // is passed over when the plane is written.
        for (int k = 0; k < lanes; k += ShellProjections::kLanes) {
            const Int4 a = GreatestOf(LoadLanes(firstStarts + k), lineLo4);
            const Int4 z = LeastOf(LoadLanes(tEnd + k), lineHi4);
            const Int4 from = lineSign > 0 ? a : z, to = lineSign > 0 ? z : a;
            const Int4 gFrom = lineBase4 + from * lineSign, gTo = lineBase4 + to * lineSign;
            for (unsigned m = LanesSet((LoadLanes(tLast + k) != kNoLine) & (a <= z)); m != 0; m &= m - 1) {
                const int j = __builtin_ctz(m);
                const LineMask marked = BitsBetween(gFrom[j], gTo[j]);
                std::uint64_t* const dirty = target.pDirty + 2 * frontSign * (k + j);
                dirty[0] |= marked.iWord[0];
                dirty[1] |= marked.iWord[1];
            }
        }
    }
}

template <bool bStopsOfBandEntered>
void Sweep(World& world, const SweepAxes& s, const SweepFrame& frame, const PlaneTarget& plane, StopRows& stopRows) {
    if (s.iBandCount == 0) return;
    const int tEnd = RoundHalfAway(*s.pLineMax - 0.375);
    const int t = std::max(RoundHalfAway(*s.pLineMin + 0.375), frame.pStart[s.pBands[0].iLine]);
    if (t > tEnd) return;  // no band begins on this plane
    const bool bitsOnly = StopRows::InBits(t, tEnd + 1);
    if (plane.pLines) {
        if (bitsOnly)
            SweepBands<bStopsOfBandEntered, true, true>(world, s, frame, plane, stopRows, t, tEnd);
        else
            SweepBands<bStopsOfBandEntered, false, true>(world, s, frame, plane, stopRows, t, tEnd);
    } else {
        if (bitsOnly)
            SweepBands<bStopsOfBandEntered, true, false>(world, s, frame, plane, stopRows, t, tEnd);
        else
            SweepBands<bStopsOfBandEntered, false, false>(world, s, frame, plane, stopRows, t, tEnd);
    }
}

// Projects the outline of face f from shell D onto every farther shell whose
// face plane lies in the grid. Coordinates and bounds move by their
// per-shell increment, so after k shells c has become c0 + k (c0 - D) / D.
void PropagateFaceOf(World& world, int f) {
    const FaceAxes& face = kFaces[f];
    const int D = world.iDist;
    // A shell of distance 0 has no faces to scale from; an empty outline
    // (nothing marked, or over capacity) hides nothing.
    if (D < 1 || world.iFaceVertexCount == 0) return;
    const float fD = static_cast<float>(D);
    auto increment = [fD](float c) { return (c - fD) / fD; };
    const int cLo = static_cast<int>(std::min(world.fFaceUMin, world.fFaceVMin));
    const int cHi = static_cast<int>(std::max(world.fFaceUMax, world.fFaceVMax));
    if (cLo < 0 || cHi >= ProjectedCoords::kSize) return;  // no face map holds such entries
    // Whole-line bounds, which the traversal always sets, move exactly as
    // the coordinates of their lines: the first bound's projection starts at
    // or before the first band's, which then begins at its own first line on
    // every plane, and the plans hold. Bounds between lines (a caller's own)
    // take the line-by-line sweep, the plans' reference.
    const bool bPlanned =
        world.fFaceUMin == std::floor(world.fFaceUMin) && world.fFaceVMin == std::floor(world.fFaceVMin) &&
        world.fFaceUMax == std::floor(world.fFaceUMax) && world.fFaceVMax == std::floor(world.fFaceVMax);
    // Planned sweeps read the shell's projection table, which holds the
    // shell's own coordinates; other maps step their own, line by line.
    int view[3];
    ViewCell(world, view);
    const bool bTabled = bPlanned && cHi <= 2 * D && D <= ShellProjections::kMaxShell && InGrid(view[face.iFront]);
    ProjectedCoords at;
    if (!bTabled) at.Start(cLo, cHi, fD);
    const float dUMin = increment(world.fFaceUMin), dUMax = increment(world.fFaceUMax);
    const float dVMin = increment(world.fFaceVMin), dVMax = increment(world.fFaceVMax);

    SweepAxes rows = RowSweep(world, face);
    SweepAxes columns = ColumnSweep(world, face);
    // Targets of the first plane; each later plane steps them on.
    const int gFirst = view[face.iFront] + face.iFrontSign * (D + 1);
    if (!InGrid(gFirst)) return;
    PlaneTarget rowTarget = TargetOf(world, face.iFront, gFirst, rows.iSpanAxis);
    PlaneTarget columnTarget = TargetOf(world, face.iFront, gFirst, columns.iSpanAxis);
    // In tabled sweeps the frames' projections (at's, never stepped) go unread.
    const SweepFrame rowFrame = FrameOf(world, rows, at, view), columnFrame = FrameOf(world, columns, at, view);
    SweepPlan rowPlan, columnPlan;
    SweepLines rowLines, columnLines;
    StopRows stopRows;
    if (bTabled) {
        const int pastLast = ShellProjections::PastLast(D);
        PlanSweep(*rows.pCoords, rows.iBandCount, face.bStopsOfBandEntered, world.fFaceVMax, pastLast, rowPlan);
        PlanSweep(*columns.pCoords, columns.iBandCount, face.bStopsOfBandEntered, world.fFaceUMax, pastLast,
                  columnPlan);
    } else {
        GatherSweepLines(*rows.pCoords, rows.iBandCount, rowLines);
        GatherSweepLines(*columns.pCoords, columns.iBandCount, columnLines);
        rows.pBands = rowLines.iBand + 1;
        rows.pStopLine = rowLines.iLine;
        columns.pBands = columnLines.iBand + 1;
        columns.pStopLine = columnLines.iLine;
    }
    const int frontStride = kAxisStride[face.iFront];
    if (bTabled) {
        // Planes in the grid, as the viewpoint's own is: at most the shell's
        // planes in the table. Each moves the bounds on by their increment.
        const int planeCount = face.iFrontSign > 0 ? kGridSize - 1 - view[face.iFront] - D : view[face.iFront] - D;
        const bool bRedrawLast = !face.bStopsOfBandEntered;
        (rowTarget.pLines ? SweepPlanes<true> : SweepPlanes<false>)(world, rows, rowPlan, rowFrame, rowTarget, D,
                                                                    planeCount, face.iFrontSign, frontStride,
                                                                    bRedrawLast);
        (columnTarget.pLines ? SweepPlanes<true> : SweepPlanes<false>)(world, columns, columnPlan, columnFrame,
                                                                       columnTarget, D, planeCount, face.iFrontSign,
                                                                       frontStride, bRedrawLast);
        for (int i = 0; i < planeCount; ++i) {
            world.fFaceUMin += dUMin;
            world.fFaceUMax += dUMax;
            world.fFaceVMin += dVMin;
            world.fFaceVMax += dVMax;
        }
        return;
    }
    for (int i = 0; i < world.iGridSize - D; ++i) {
        const int d = D + 1 + i;
        const int gFront = view[face.iFront] + face.iFrontSign * d;
        if (!InGrid(gFront)) return;  // every farther plane of this face is outside too
        if (i > 0) {
            rowTarget.Next(face.iFrontSign, frontStride);
            columnTarget.Next(face.iFrontSign, frontStride);
        }
        at.Step();
        world.fFaceUMin += dUMin;
        world.fFaceUMax += dUMax;
        world.fFaceVMin += dVMin;
        world.fFaceVMax += dVMax;
        const auto sweep = face.bStopsOfBandEntered ? Sweep<true> : Sweep<false>;
        sweep(world, rows, rowFrame, rowTarget, stopRows);
        sweep(world, columns, columnFrame, columnTarget, stopRows);
    }
}

// ---- Strict propagation ----
//
// Why a covered cell is hidden: the eye is the viewpoint cell's centre. A ray
// from it that crosses the plane D - 0.5 (the near side of shell D's face)
// inside the square of a marked entry enters that marked cell through its
// near face. A marked cell is an occluder cell, wholly inside an opaque
// sphere the eye is outside of, so the ray met the sphere first; or a hidden
// cell, into which every ray is already blocked. A farther cell all of whose
// rays cross the plane inside marked squares is therefore hidden.

// Rounding can only shrink what counts as covered: projections are widened
// by this many cells before their entries are taken.
constexpr double kCoverSlack = 1e-4;

inline int FloorToInt(double x) {
    const int i = static_cast<int>(x);
    return i - (x < i ? 1 : 0);
}
inline int CeilToInt(double x) {
    const int i = static_cast<int>(x);
    return i + (x > i ? 1 : 0);
}

// Fills the table of plane d of shell D. A cube edge projects farthest out
// from its near depth when it lies outward of the face centre and from its
// far depth otherwise: both are taken.
void FillPlaneEntries(int D, int d, PlaneEntryTable& t) {
    constexpr int kCellBias = PlaneEntryTable::kCellBias, kEntryBias = PlaneEntryTable::kEntryBias;
    const double plane = D - 0.5;
    const double nearScale = plane / (d - 0.5), farScale = plane / (d + 0.5);
    for (int o = -kCellBias; o <= kCellBias; ++o) {
        const double lo = o - 0.5, hi = o + 0.5;
        const double pLo = D + std::min(lo * nearScale, lo * farScale) - kCoverSlack;
        const double pHi = D + std::max(hi * nearScale, hi * farScale) + kCoverSlack;
        // Entry e's square [e - 0.5, e + 0.5] meets [pLo, pHi]; |e - D| <= 70.
        t.iEntryFirst[o + kCellBias] = static_cast<signed char>(CeilToInt(pLo - 0.5) - D);
        t.iEntryLast[o + kCellBias] = static_cast<signed char>(FloorToInt(pHi + 0.5) - D);
    }
    // Both entry bounds grow with the offset, so the cells whose entries lie
    // within entries a..b are iFromEntry[a]..iToEntry[b].
    int p = -kCellBias;
    for (int e = -kEntryBias; e <= kEntryBias; ++e) {
        while (p <= kCellBias && t.iEntryFirst[p + kCellBias] < e) ++p;
        t.iFromEntry[e + kEntryBias] = static_cast<signed char>(p);
    }
    p = kCellBias;
    for (int e = kEntryBias; e >= -kEntryBias; --e) {
        while (p >= -kCellBias && t.iEntryLast[p + kCellBias] > e) --p;
        t.iToEntry[e + kEntryBias] = static_cast<signed char>(p);
    }
    t.bFilled = 1;
}

const PlaneEntryTable& PlaneEntriesOf(World& world, int D, int d) {
    PlaneEntryTable& t = world.StrictPlaneEntries[d * (d - 1) / 2 + D];
    if (!t.bFilled) FillPlaneEntries(D, d, t);
    return t;
}

// Cells of one face axis at distance d whose projection, widened by the
// slack, lies within map entries iEntryMin..iEntryMax: offsets iFirst..iLast
// from the face centre, one interval since entry bounds grow with the offset.
struct AxisCover {
    int iFirst, iLast;
};

[[gnu::always_inline]] inline void CoverAxis(const World& world, int axis, int sign, int iEntryMin, int iEntryMax,
                                             int d, const PlaneEntryTable& t, AxisCover& c) {
    const int D = world.iDist;
    // The table alone bounds the cells: a cube's projection contains its
    // centre's, so a cell whose entries lie in the span has its centre
    // projecting inside it. Only the face's own cells (|offset| <= d) and
    // the grid's are left to clip.
    const int view = ViewCell(world, axis);
    const int first = std::max(-d, sign > 0 ? -view : view - (kGridSize - 1));
    const int last = std::min(d, sign > 0 ? kGridSize - 1 - view : view);
    c.iFirst = std::max<int>(first, t.iFromEntry[iEntryMin - D + PlaneEntryTable::kEntryBias]);
    c.iLast = std::min<int>(last, t.iToEntry[iEntryMax - D + PlaneEntryTable::kEntryBias]);
}

void FindEntryRuns(const RowBits& full, int width, EntryRuns& runs) {
    int count = 0;
    for (int a = NextBit(full.iWord, 0, width, true); a < width; a = NextBit(full.iWord, a, width, true)) {
        const int b = NextBit(full.iWord, a, width, false) - 1;
        runs.iFirst[count] = static_cast<unsigned char>(a);
        runs.iLast[count] = static_cast<unsigned char>(b);
        ++count;
        a = b + 1;
    }
    runs.iCount = count;
}

// Cells of one row wholly behind the marked entries: those whose entries
// all lie in one run of entries marked on every entry row of the row. A cell
// straddling a run's end meets an unmarked entry and stays.
struct HiddenSpan {
    int iGridMin, iGridMax;  // along the face's u axis
};

// How the map entries of a row reach the cells of one plane's row; the same
// for every row of the plane.
struct EntryToCells {
    const signed char* pFromEntry;  // by map entry (relative to uMin): first cell at or past it
    const signed char* pToEntry;    // last cell at or before it
    int iCellFirst, iCellLast;      // the covered cells, by offset from the face centre
    int iView;                      // grid coordinate of offset 0
};

EntryToCells MapEntriesToCells(const AxisCover& c, const PlaneEntryTable& t, int uMin, int D, int view) {
    const int entryBase = uMin - D;  // map entry 0 relative to the face centre
    return {t.iFromEntry + PlaneEntryTable::kEntryBias + entryBase,
            t.iToEntry + PlaneEntryTable::kEntryBias + entryBase,
            c.iFirst,
            c.iLast,
            view};
}

// The face's u axis runs along the grid (kSign > 0) or against it: chosen
// once per face, not per span. Runs are not clipped to the covered entries:
// both tables grow with the entry, so a run's part outside them only reaches
// cells outside the covered ones, which the cell bounds cut off, and a run
// wholly outside ends with first > last.
template <int kSign>
[[gnu::always_inline]] inline int FindHiddenSpans(const EntryRuns& runs, const EntryToCells& m, HiddenSpan* spans) {
    int count = 0;
    for (int i = 0; i < runs.iCount; ++i) {
        const int first = std::max<int>(m.iCellFirst, m.pFromEntry[runs.iFirst[i]]);
        const int last = std::min<int>(m.iCellLast, m.pToEntry[runs.iLast[i]]);
        spans[count] = kSign > 0 ? HiddenSpan{m.iView + first, m.iView + last}
                                 : HiddenSpan{m.iView - last, m.iView - first};
        count += first <= last;
    }
    return count;
}

// The same spans as one line of cells, for staged targets. Returns whether
// any cell is hidden.
template <int kSign>
[[gnu::always_inline]] inline bool FindHiddenLine(const EntryRuns& runs, const EntryToCells& m, LineMask& line) {
    line = {{0, 0}};
    for (int i = 0; i < runs.iCount; ++i) {
        const int first = std::max<int>(m.iCellFirst, m.pFromEntry[runs.iFirst[i]]);
        const int last = std::min<int>(m.iCellLast, m.pToEntry[runs.iLast[i]]);
        if (first > last) continue;
        const LineMask cells =
            kSign > 0 ? BitsBetween(m.iView + first, m.iView + last) : BitsBetween(m.iView - last, m.iView - first);
        line.iWord[0] |= cells.iWord[0];
        line.iWord[1] |= cells.iWord[1];
    }
    return (line.iWord[0] | line.iWord[1]) != 0;
}

// Whether a row loop stages its spans, as a type: each kind of target gets
// its own loop.
template <bool k>
struct Staged {
    static constexpr bool kValue = k;
};

template <int kFace>
void PropagateFace(World& world) {
    PropagateFaceOf(world, kFace);
}

}  // namespace

const FacePropagatorFn kPropagateFace[6] = {&PropagateFace<0>, &PropagateFace<1>, &PropagateFace<2>,
                                            &PropagateFace<3>, &PropagateFace<4>, &PropagateFace<5>};

void WriteStagedShell(World& world, int d) {
    int view[3];
    ViewCell(world, view);
    for (int kind = 0; kind < kStagedKindCount; ++kind) {
        const int v = view[kStagedKinds[kind].iPlane];
        for (int g : {v - d, v + d}) {
            if (!InGrid(g)) continue;
            const std::uint64_t* dirty = world.Staged.DirtyLines[kind][g];
            if ((dirty[0] | dirty[1]) != 0) WriteStagedPlane(world, kind, g);
        }
    }
}

void WriteStagedHidden(World& world) {
    // Most planes hold nothing by now: fourteen planes' dirty words are tested
    // at once, and only a block with something in it plane by plane.
    constexpr int kBlock = 14;
    static_assert(kGridSize % kBlock == 0, "whole blocks of planes");
    for (int kind = 0; kind < kStagedKindCount; ++kind) {
        const std::uint64_t(*const dirty)[2] = world.Staged.DirtyLines[kind];
        for (int g = 0; g < kGridSize; g += kBlock) {
            std::uint64_t any = 0;
            for (int h = g; h < g + kBlock; ++h) any |= dirty[h][0] | dirty[h][1];
            if (any == 0) continue;
            for (int h = g; h < g + kBlock; ++h)
                if ((dirty[h][0] | dirty[h][1]) != 0) WriteStagedPlane(world, kind, h);
        }
    }
}

void MarkOccluderFaces(World& world, int a, int b, int c) {
    const int offset[3] = {a, b, c};
    const int d = world.iDist;
    // A cell lies on at most one face per axis; an edge or corner cell marks two or three.
    constexpr int kFrontAxisFaces[3][2] = {{2, 3}, {4, 5}, {0, 1}};  // +D, -D per axis
    for (int axis : {2, 0, 1}) {
        if (offset[axis] == d)
            MarkOnFace(world, kFrontAxisFaces[axis][0], offset);
        else if (offset[axis] == -d)
            MarkOnFace(world, kFrontAxisFaces[axis][1], offset);
    }
}

void ExtractFaceOutline(World& world, int* map, int stride) {
    const int D = world.iDist;
    const int uMin = static_cast<int>(world.fFaceUMin), uMax = static_cast<int>(world.fFaceUMax);
    const int vMin = static_cast<int>(world.fFaceVMin), vMax = static_cast<int>(world.fFaceVMax);

    const int width = uMax - uMin + 1, height = vMax - vMin + 1;
    world.bFaceFull = 1;
    world.iFaceVertexCount = 0;
    bool fits = width <= kMaxFaceSide && height <= kMaxFaceSide;
    if (fits) {
        // Marked entries as bits by row and by column; vertex ids written into
        // the map by the row pass leave its entries marked.
        const int rowWords = (width + 63) / 64, columnWords = (height + 63) / 64;
        std::uint64_t* const rowBits = world.FaceRowBits;
        std::uint64_t* const columnBits = world.FaceColumnBits;
        std::fill_n(rowBits, height * rowWords, 0);
        GatherMarkedEntries(world, map, stride, uMin, uMax, vMin, vMax, rowBits, rowWords);
        if (rowWords == 1 && columnWords == 1) {
            // The common map of at most 64 by 64 entries: a word per row and
            // column, the columns the rows' square turned.
            const int side = std::max(width, height);
            if (side <= 8)
                TurnRows<8>(rowBits, height, columnBits);
            else if (side <= 16)
                TurnRows<16>(rowBits, height, columnBits);
            else if (side <= 32)
                TurnRows<32>(rowBits, height, columnBits);
            else
                TurnRows<64>(rowBits, height, columnBits);
        } else {
            std::fill_n(columnBits, width * columnWords, 0);
            for (int v = 0; v < height; ++v)
                for (int w = 0; w < rowWords; ++w)
                    for (std::uint64_t marked = rowBits[v * rowWords + w]; marked != 0; marked &= marked - 1) {
                        const int u = w * 64 + __builtin_ctzll(marked);
                        columnBits[u * columnWords + (v >> 6)] |= 1ull << (v & 63);
                    }
        }
        const BandPass rows = {vMin, vMax, uMin, uMax, stride, 1, rowBits, rowWords, columnBits, columnWords,
                               world.RowSpanList, world.RowStopList, &world.iRowListCount};
        const bool oneWord = rowWords == 1 && columnWords == 1;
        if (oneWord)
            ExtractBandsInWord<true>(world, map, rows);
        else
            fits = ExtractBands<true>(world, map, rows);
        if (uMin != 0 || vMin != 0 || uMax != 2 * D || vMax != 2 * D) world.bFaceFull = 0;
        const BandPass columns = {uMin, uMax, vMin, vMax, 1, stride, columnBits, columnWords, rowBits, rowWords,
                                  world.ColSpanList, world.ColStopList, &world.iColListCount};
        if (oneWord)
            ExtractBandsInWord<false>(world, map, columns);
        else
            fits = fits && ExtractBands<false>(world, map, columns);
    }
    if (!fits) {
        // Over capacity: propagate nothing from this face on this shell. Cells
        // behind it stay visible, which is conservative.
        world.iFaceVertexCount = 0;
        world.iRowListCount = 0;
        world.iColListCount = 0;
        world.bFaceFull = 0;
    }
}

namespace {

template <int kFace>
void PropagateStrict(World& world, int* map, int stride) {
    static constexpr FaceAxes face = kFaces[kFace];
    const int D = world.iDist;
    const int uMin = static_cast<int>(world.fFaceUMin), uMax = static_cast<int>(world.fFaceUMax);
    const int vMin = static_cast<int>(world.fFaceVMin), vMax = static_cast<int>(world.fFaceVMax);
    const int width = uMax - uMin + 1, height = vMax - vMin + 1;
    RowBits rowBits[kMarkedFaceSide];
    for (int v = 0; v < height; ++v) std::fill_n(rowBits[v].iWord, kRowWords, 0);
    static_assert(sizeof(RowBits) == kRowWords * sizeof(std::uint64_t), "rows of bits back to back");
    const bool bAllMarked = GatherMarkedEntries(world, map, stride, uMin, uMax, vMin, vMax, rowBits[0].iWord, kRowWords);
    world.bFaceFull = bAllMarked && uMin == 0 && vMin == 0 && uMax == 2 * D && vMax == 2 * D;

    // Entry rows equal to the row before share its runs: a stretch of equal
    // rows is one band, and entry rows v0..v1 are marked like bands
    // band[v0]..band[v1]. A farther plane's row finds its spans again only
    // when the bands it meets change.
    unsigned char band[kMarkedFaceSide];
    unsigned char bandRow[kMarkedFaceSide];  // first entry row of each band
    int bandCount = 0;
    for (int v = 0; v < height; ++v) {
        if (v == 0 || !std::equal(rowBits[v].iWord, rowBits[v].iWord + kRowWords, rowBits[v - 1].iWord))
            bandRow[bandCount++] = static_cast<unsigned char>(v);
        band[v] = static_cast<unsigned char>(bandCount - 1);
    }

    // The rows of every farther plane meet the same few bands of this map:
    // the runs marked on each band and its next one or two are found once, on
    // first use. A cell meeting more bands is rare. Where the bands together
    // are marked exactly like one end band (a shadow's outline growing or
    // shrinking), they share that band's runs, the same object, and rows
    // meeting both keep the spans of the rows before or after.
    EntryRuns (*const keptRuns)[kKeptRowCounts] = world.StrictKeptRuns;
    const EntryRuns* kept[kMarkedFaceSide][kKeptRowCounts];
    EntryRuns scratchRuns;
    for (int b = 0; b < bandCount; ++b) std::fill_n(kept[b], kKeptRowCounts, nullptr);
    auto bandRuns = [&](int b) -> const EntryRuns* {
        if (!kept[b][0]) {
            FindEntryRuns(rowBits[bandRow[b]], width, keptRuns[b][0]);
            kept[b][0] = &keptRuns[b][0];
        }
        return kept[b][0];
    };
    auto sameBits = [](const RowBits& a, const RowBits& b) { return std::equal(a.iWord, a.iWord + kRowWords, b.iWord); };
    auto runsOf = [&](int b0, int b1) -> const EntryRuns* {
        const int k = b1 - b0;
        if (k == 0) return bandRuns(b0);
        RowBits full = rowBits[bandRow[b0]];
        for (int b = b0 + 1; b <= b1; ++b)
            for (int w = 0; w < kRowWords; ++w) full.iWord[w] &= rowBits[bandRow[b]].iWord[w];
        const EntryRuns* runs;
        if (sameBits(full, rowBits[bandRow[b0]])) {
            runs = bandRuns(b0);
        } else if (sameBits(full, rowBits[bandRow[b1]])) {
            runs = bandRuns(b1);
        } else {
            EntryRuns& found = k < kKeptRowCounts ? keptRuns[b0][k] : scratchRuns;
            FindEntryRuns(full, width, found);
            runs = &found;
        }
        if (k < kKeptRowCounts) kept[b0][k] = runs;
        return runs;
    };

    int view[3];
    ViewCell(world, view);
    constexpr int vStep = face.iVSign * kAxisStride[face.iV];
    AxisCover us, vs;
    HiddenSpan spans[2 * kGridSize];
    const unsigned char* const bandAt = band + (D - vMin);  // by entry row counted from the face centre
    for (int d = D + 1;; ++d) {
        const int gFront = view[face.iFront] + face.iFrontSign * d;
        if (!InGrid(gFront)) return;  // every farther plane of this face is outside too
        const PlaneEntryTable& entries = PlaneEntriesOf(world, D, d);
        CoverAxis(world, face.iU, face.iUSign, uMin, uMax, d, entries, us);
        if (us.iFirst > us.iLast) continue;
        CoverAxis(world, face.iV, face.iVSign, vMin, vMax, d, entries, vs);
        if (vs.iFirst > vs.iLast) continue;
        const PlaneTarget target = TargetOf(world, face.iFront, gFront, face.iU);
        const EntryToCells cellsOf = MapEntriesToCells(us, entries, uMin, D, view[face.iU]);
        const int firstRow = view[face.iV] + face.iVSign * vs.iFirst;
        // One row loop per kind of target, so the row's write is not chosen
        // again on every row.
        auto walkRows = [&](auto bStaged, auto write) {
            int spanCount = 0;  // spans of the row; on staged targets, whether its line holds a cell
            unsigned bandsPrev = ~0u;  // b0 and b1 of the row before, as one key
            const EntryRuns* runsPrev = nullptr;
            LineMask staged = {{0, 0}};  // the spans as one line, for staged targets
            int rowIndex = target.iFrontIndex + firstRow * kAxisStride[face.iV];
            // Rows by table index: both entry tables read from the one table;
            // n counts the rows left.
            constexpr int kBias = PlaneEntryTable::kCellBias;
            for (int q = vs.iFirst + kBias, row = firstRow, n = vs.iLast - vs.iFirst; n >= 0;
                 ++q, --n, rowIndex += vStep, row += face.iVSign) {
                const unsigned bands = bandAt[entries.iEntryFirst[q]] | bandAt[entries.iEntryLast[q]] << 8;
                if (bands != bandsPrev) {
                    bandsPrev = bands;
                    // Runs already kept are read here; the rest are found.
                    const unsigned b0 = bands & 255, k = (bands >> 8) - b0;
                    const EntryRuns* runs = k < kKeptRowCounts ? kept[b0][k] : nullptr;
                    if (!runs) {
                        runs = runsOf(b0, bands >> 8);
                        // The scratch runs change under the same address.
                        if (runs == &scratchRuns) runsPrev = nullptr;
                    }
                    if (runs != runsPrev) {
                        runsPrev = runs;
                        if constexpr (decltype(bStaged)::kValue)
                            spanCount = FindHiddenLine<face.iUSign>(*runs, cellsOf, staged);
                        else
                            spanCount = FindHiddenSpans<face.iUSign>(*runs, cellsOf, spans);
                    }
                }
                if (spanCount != 0) write(row, rowIndex, spanCount, staged);
            }
        };
        if constexpr (kStagedKindOf[face.iFront][face.iU] >= 0) {
            target.MarkLines(firstRow, view[face.iV] + face.iVSign * vs.iLast);
            walkRows(Staged<true>(), [&](int row, int, int, const LineMask& staged) { target.Stage(row, staged); });
        } else {
            // The set's handle by value: its word pointer stays in a register.
            BitSet H = world.H;
            // Rows starting at or before this index have the six words from any
            // of their cells on inside the set; the grid's last few take the
            // general setter.
            const int lastFastRow = (H.iWordCount - 6) * 16 - (kGridSize - 1);
            // Only the plane's rows at the set's end need the general setter:
            // a plane clear of it is written without asking row by row.
            const int firstIndex = target.iFrontIndex + firstRow * kAxisStride[face.iV];
            const int lastIndex = firstIndex + (vs.iLast - vs.iFirst) * vStep;
            if (std::max(firstIndex, lastIndex) <= lastFastRow) {
                walkRows(Staged<false>(), [&](int, int rowIndex, int spanCount, const LineMask&) {
                    for (int i = 0; i < spanCount; ++i)
                        H.SetRowRangeInside(static_cast<unsigned>(rowIndex + spans[i].iGridMin),
                                            static_cast<unsigned>(spans[i].iGridMax - spans[i].iGridMin + 1));
                });
            } else {
                walkRows(Staged<false>(), [&](int, int rowIndex, int spanCount, const LineMask&) {
                    for (int i = 0; i < spanCount; ++i) {
                        const int gMin = spans[i].iGridMin, gMax = spans[i].iGridMax;
                        H.SetRowRange(static_cast<unsigned>(rowIndex + gMin), static_cast<unsigned>(gMax - gMin + 1));
                    }
                });
            }
        }
    }
}

}  // namespace

void PropagateFaceStrict(World& world, int* map, int stride) {
    // Each face's axes and signs as constants of its own loops.
    using Propagate = void (*)(World&, int*, int);
    static constexpr Propagate kByFace[6] = {&PropagateStrict<0>, &PropagateStrict<1>, &PropagateStrict<2>,
                                             &PropagateStrict<3>, &PropagateStrict<4>, &PropagateStrict<5>};
    kByFace[world.iFace](world, map, stride);
}

}  // namespace gridcull
