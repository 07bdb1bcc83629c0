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

struct BitSet {
    std::uint16_t* pWords = nullptr;  // owned; allocated by the scene set-up
    int iWordCount = 0;
    int iBytesPerWord = 2;
    int iBitsPerWord = 16;
    int iMask = 15;  // kept for the record layout; nothing reads it

    bool Test(unsigned b) const { return (pWords[b >> 4] & kBitMask[b & 15]) != 0; }
    void Set(unsigned b) { pWords[b >> 4] |= kBitMask[b & 15]; }
    void Clear(unsigned b) { pWords[b >> 4] &= static_cast<std::uint16_t>(0xFFFFu - kBitMask[b & 15]); }

    // Bits first .. first + count - 1. A count of 0 changes nothing.
    void SetRange(unsigned first, unsigned count) { ApplyRange<true>(pWords, first, count); }
    void ClearRange(unsigned first, unsigned count) { ApplyRange<false>(pWords, first, count); }

    std::size_t ByteSize() const { return static_cast<std::size_t>(iWordCount) * iBytesPerWord; }
    void ClearAll() { std::memset(pWords, 0, ByteSize()); }
    // Both sets must have the same word count.
    void CopyFrom(const BitSet& other) { std::memcpy(pWords, other.pWords, ByteSize()); }
    bool Equals(const BitSet& other) const;
    bool IsEmpty() const;
    int Count() const;
};

}  // namespace gridcull
