#include <gtest/gtest.h>

#include <vector>

#include "grid/BitSet.h"
#include "grid/ObjectSet.h"

using namespace gridcull;

namespace {

struct Bits {
    std::vector<std::uint16_t> words;
    BitSet set;
    explicit Bits(int n) : words(n, 0) {
        set.pWords = words.data();
        set.iWordCount = n;
    }
};

}  // namespace

TEST(BitSet, NumbersBitsMostSignificantFirstAndCopiesWholeWords) {
    Bits b(4), c(4);
    b.set.Set(0);
    b.set.Set(17);
    EXPECT_EQ(b.words[0], 0x8000);
    EXPECT_EQ(b.words[1], 0x4000);
    EXPECT_FALSE(b.set.Test(16));
    b.set.Clear(0);
    EXPECT_EQ(b.words[0], 0);
    c.set.CopyFrom(b.set);
    EXPECT_TRUE(c.set.Equals(b.set));
    b.set.ClearAll();
    EXPECT_TRUE(b.set.IsEmpty());
    EXPECT_FALSE(c.set.Equals(b.set));
}

// Every range of a small set against a bit-by-bit reference, for both
// directions and on a background of the opposite value: partial first
// words, whole words and the most significant bits of the last word.
TEST(BitSet, RangeOperationsMatchBitwiseReference) {
    for (unsigned first = 0; first < 48; ++first)
        for (unsigned count = 0; first + count <= 64; ++count) {
            Bits s(4), c(4);
            c.set.SetRange(0, 64);
            s.set.SetRange(first, count);
            c.set.ClearRange(first, count);
            for (unsigned bit = 0; bit < 64; ++bit) {
                bool inside = bit >= first && bit < first + count;
                ASSERT_EQ(s.set.Test(bit), inside) << first << "+" << count << " bit " << bit;
                ASSERT_EQ(c.set.Test(bit), !inside) << first << "+" << count << " bit " << bit;
            }
        }
}

TEST(ObjectSet, SortedUniqueAcrossGrowthAndShrink) {
    ObjectSet s;
    for (int i : {40, 7, 4999, 7, 0, 123}) s.insert(i);
    EXPECT_EQ(std::vector<int>(s.begin(), s.end()), (std::vector<int>{0, 7, 40, 123, 4999}));
    EXPECT_EQ(s.erase(8), 0);
    EXPECT_EQ(s.erase(7), 1);
    EXPECT_EQ(s.erase(7), 0);
    EXPECT_FALSE(s.contains(7));
    // Past the inline entries onto the heap, and back inline when small again.
    for (int i = 100; i > 0; --i) s.insert(i * 3);
    EXPECT_EQ(s.size(), 103);  // 0, 40 and 4999 besides the multiples of 3 (123 is one)
    for (int i = 1; i <= 100; ++i) ASSERT_EQ(s.erase(i * 3), 1);
    EXPECT_EQ(std::vector<int>(s.begin(), s.end()), (std::vector<int>{0, 40, 4999}));
    for (int i = 1; i <= 20; ++i) s.insert(i);
    EXPECT_EQ(s.size(), 23);
    EXPECT_EQ(*s.begin(), 0);
}
