#include "grid/BitSet.h"

namespace gridcull {

const std::uint16_t kBitMask[16] = {0x8000, 0x4000, 0x2000, 0x1000, 0x0800, 0x0400, 0x0200, 0x0100,
                                    0x0080, 0x0040, 0x0020, 0x0010, 0x0008, 0x0004, 0x0002, 0x0001};

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
