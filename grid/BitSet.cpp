#include "grid/BitSet.h"

namespace gridcull {

const std::uint16_t kBitMask[16] = {0x8000, 0x4000, 0x2000, 0x1000, 0x0800, 0x0400, 0x0200, 0x0100,
                                    0x0080, 0x0040, 0x0020, 0x0010, 0x0008, 0x0004, 0x0002, 0x0001};

namespace {

// One algorithm for both directions: the partial first word bit by bit, whole
// words by fill, then the most significant bits of the last word.
template <bool kSet>
void ApplyRange(std::uint16_t* words, unsigned first, unsigned count) {
    if (count == 0) return;
    unsigned w = first / 16;
    unsigned done = 0;
    for (unsigned k = first % 16; k < 16; ++k) {
        if (kSet)
            words[w] |= kBitMask[k];
        else
            words[w] &= static_cast<std::uint16_t>(0xFFFFu - kBitMask[k]);
        if (++done == count) return;
    }
    unsigned rest = count - done;
    unsigned whole = rest / 16;
    std::memset(words + w + 1, kSet ? 0xFF : 0x00, whole * sizeof(std::uint16_t));
    unsigned m = rest - 16 * whole;
    if (m == 0) return;
    // Mask of the m most significant bits.
    std::uint16_t head = static_cast<std::uint16_t>(0xFFFFu << (16 - m));
    std::uint16_t& last = words[(first + count - 1) / 16];
    if (kSet)
        last |= head;
    else
        last &= static_cast<std::uint16_t>(~head);
}

}  // namespace

void BitSet::SetRange(unsigned first, unsigned count) { ApplyRange<true>(pWords, first, count); }
void BitSet::ClearRange(unsigned first, unsigned count) { ApplyRange<false>(pWords, first, count); }

bool BitSet::Equals(const BitSet& other) const {
    return iWordCount == other.iWordCount && std::memcmp(pWords, other.pWords, ByteSize()) == 0;
}

bool BitSet::IsEmpty() const {
    for (int i = 0; i < iWordCount; ++i)
        if (pWords[i]) return false;
    return true;
}

int BitSet::Count() const {
    int n = 0;
    for (int i = 0; i < iWordCount; ++i) n += __builtin_popcount(pWords[i]);
    return n;
}

}  // namespace gridcull
