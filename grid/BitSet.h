// Packed bit arrays over the grid's cells and columns.
//
// Bits are numbered most significant first inside each 16-bit word: bit 0 of a
// set is 0x8000 of word 0. The hidden-cell set is filled along x spans with
// whole-word writes, so the numbering must stay the same for every writer.
#pragma once

#include <cstdint>
#include <cstring>

namespace gridcull {

// kBitMask[k] selects bit k of a word, most significant bit first.
extern const std::uint16_t kBitMask[16];

// SetRange and ClearRange: masks for the first and last words, whole words
// between (a grid row spans at most six). Inline: the hidden-cell sweeps
// call it for every row they fill.
template <bool kSet>
inline void ApplyRange(std::uint16_t* words, unsigned first, unsigned count) {
    if (count == 0) return;
    const unsigned last = first + count - 1;
    unsigned w = first / 16;
    const unsigned wLast = last / 16;
    // Bits first % 16 .. 15, and 0 .. last % 16, most significant first.
    const unsigned head = 0xFFFFu >> (first % 16);
    const unsigned tail = (0xFFFFu << (15 - last % 16)) & 0xFFFFu;
    auto apply = [words](unsigned k, unsigned mask) {
        if (kSet)
            words[k] = static_cast<std::uint16_t>(words[k] | mask);
        else
            words[k] = static_cast<std::uint16_t>(words[k] & ~mask);
    };
    if (w == wLast) {
        apply(w, head & tail);
        return;
    }
    apply(w, head);
    for (++w; w < wLast; ++w) words[w] = kSet ? 0xFFFFu : 0u;
    apply(wLast, tail);
}

// Masks for a range of at most 70 bits (a grid row) starting at bit s
// (0..15) of a word and ending at bit e (s..84) counted from that word: the
// first four words as one 64-bit load, the next two as a 32-bit one, words in
// memory order and bits most significant first inside each.
struct RowRangeMasks {
    std::uint64_t iFrom[16];    // bits s .. 63 of the first four words
    std::uint64_t iTo[85];      // bits 0 .. min(e, 63)
    std::uint32_t iToHigh[85];  // bits 64 .. e of the next two words
    constexpr RowRangeMasks() : iFrom(), iTo(), iToHigh() {
        auto bit = [](int b) { return 1ull << ((b / 16) * 16 + 15 - b % 16); };
        for (int s = 0; s < 16; ++s)
            for (int b = s; b < 64; ++b) iFrom[s] |= bit(b);
        for (int e = 0; e < 85; ++e) {
            for (int b = 0; b <= e && b < 64; ++b) iTo[e] |= bit(b);
            for (int b = 64; b <= e; ++b) iToHigh[e] |= static_cast<std::uint32_t>(bit(b - 64));
        }
    }
};
inline constexpr RowRangeMasks kRowRangeMasks;

struct BitSet {
    std::uint16_t* pWords = nullptr;  // owned; allocated by the scene set-up
    int iWordCount = 0;
    int iBytesPerWord = 2;
    int iBitsPerWord = 16;
    int iMask = 15;  // kept for the record layout; nothing reads it

    bool Test(unsigned b) const { return (pWords[b >> 4] & kBitMask[b & 15]) != 0; }
    // Test with bit b's mask at hand (MaskOf), for walks that step it along
    // (StepMask) instead of looking it up for every bit. The mask is held
    // twice, in both halves of 32 bits, so that a step is one rotation.
    static std::uint32_t MaskOf(unsigned b) { return 0x80008000u >> (b & 15); }
    bool Test(unsigned b, std::uint32_t mask) const { return (pWords[b >> 4] & static_cast<std::uint16_t>(mask)) != 0; }
    // The mask of bit b + kStep from bit b's: bits run most significant first
    // inside each word, so the mask turns right by kStep mod 16, its bit
    // wrapping round exactly when the word changes.
    template <int kStep>
    static std::uint32_t StepMask(std::uint32_t mask) {
        constexpr unsigned r = static_cast<unsigned>(kStep % 16 + 16) % 16;
        if constexpr (r == 0)
            return mask;
        else
            return (mask >> r) | (mask << (32 - r));
    }
    void Set(unsigned b) { pWords[b >> 4] |= kBitMask[b & 15]; }
    void Clear(unsigned b) { pWords[b >> 4] &= static_cast<std::uint16_t>(0xFFFFu - kBitMask[b & 15]); }

    // Bits first .. first + count - 1. A count of 0 changes nothing.
    void SetRange(unsigned first, unsigned count) { ApplyRange<true>(pWords, first, count); }
    void ClearRange(unsigned first, unsigned count) { ApplyRange<false>(pWords, first, count); }
    // Bits first .. first + count - 1 for 1 <= count <= 70, a grid row at
    // most: two read-modify-writes with table masks. The six words from
    // first's on must lie in the set (RowRangeFits).
    void SetRowRangeInside(unsigned first, unsigned count) {
        const unsigned w = first >> 4, s = first & 15, e = s + count - 1;
        std::uint64_t low;
        std::uint32_t high;
        std::memcpy(&low, pWords + w, sizeof low);
        std::memcpy(&high, pWords + w + 4, sizeof high);
        low |= kRowRangeMasks.iFrom[s] & kRowRangeMasks.iTo[e];
        high |= kRowRangeMasks.iToHigh[e];
        std::memcpy(pWords + w, &low, sizeof low);
        std::memcpy(pWords + w + 4, &high, sizeof high);
    }
    // The same for a range of at most 49 bits, which lies within the four
    // words from first's (those must lie in the set): one read-modify-write.
    void SetShortRowRangeInside(unsigned first, unsigned count) {
        const unsigned w = first >> 4, s = first & 15, e = s + count - 1;
        std::uint64_t low;
        std::memcpy(&low, pWords + w, sizeof low);
        low |= kRowRangeMasks.iFrom[s] & kRowRangeMasks.iTo[e];
        std::memcpy(pWords + w, &low, sizeof low);
    }
    // Clears such a range.
    void ClearShortRowRangeInside(unsigned first, unsigned count) {
        const unsigned w = first >> 4, s = first & 15, e = s + count - 1;
        std::uint64_t low;
        std::memcpy(&low, pWords + w, sizeof low);
        low &= ~(kRowRangeMasks.iFrom[s] & kRowRangeMasks.iTo[e]);
        std::memcpy(pWords + w, &low, sizeof low);
    }
    bool RowRangeFits(unsigned first) const { return static_cast<int>(first >> 4) + 6 <= iWordCount; }
    void SetRowRange(unsigned first, unsigned count) {
        if (RowRangeFits(first))
            SetRowRangeInside(first, count);
        else
            SetRange(first, count);
    }

    std::size_t ByteSize() const { return static_cast<std::size_t>(iWordCount) * iBytesPerWord; }
    // The frame clears and copies whole grid sets (43 KB) with word loops,
    // compiled to vector stores. The library's routines use string
    // instructions for blocks this large, which callgrind counts once per
    // byte: the loops do the same work and keep the instruction count close
    // to it.
    void ClearAll() {
#pragma GCC unroll 8
        for (int i = 0; i < iWordCount; ++i) pWords[i] = 0;
    }
    // Both sets must have the same word count.
    void CopyFrom(const BitSet& other) {
#pragma GCC unroll 8
        for (int i = 0; i < iWordCount; ++i) pWords[i] = other.pWords[i];
    }
    bool Equals(const BitSet& other) const;
    bool IsEmpty() const;
    int Count() const;
};

}  // namespace gridcull
