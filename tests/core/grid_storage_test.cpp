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

TEST(BitSet, NumbersBitsMostSignificantFirst) {
    Bits b(4);
    b.set.Set(0);
    EXPECT_EQ(b.words[0], 0x8000);
    b.set.Set(17);
    EXPECT_EQ(b.words[1], 0x4000);
    b.set.Set(15);
    EXPECT_EQ(b.words[0], 0x8001);
    EXPECT_TRUE(b.set.Test(17));
    EXPECT_FALSE(b.set.Test(16));
    b.set.Clear(0);
    EXPECT_EQ(b.words[0], 0x0001);
}

TEST(BitSet, RangeSetTouchesExactlyTheRange) {
    Bits a(4);
    a.set.SetRange(10, 4);
    EXPECT_EQ(a.words[0], 0x003C);
    EXPECT_EQ(a.words[1], 0);

    Bits b(4);
    b.set.SetRange(14, 20);
    EXPECT_EQ(b.words[0], 0x0003);
    EXPECT_EQ(b.words[1], 0xFFFF);
    EXPECT_EQ(b.words[2], 0xC000);
    EXPECT_EQ(b.words[3], 0);

    Bits c(4);
    c.set.SetRange(16, 32);
    EXPECT_EQ(c.words[0], 0);
    EXPECT_EQ(c.words[1], 0xFFFF);
    EXPECT_EQ(c.words[2], 0xFFFF);
    EXPECT_EQ(c.words[3], 0);

    Bits d(2);
    d.set.SetRange(5, 0);
    EXPECT_TRUE(d.set.IsEmpty());
}

// Every range of a small set against a bit-by-bit reference, for both
// directions and on a background of the opposite value.
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

TEST(BitSet, ClearAllAndCopy) {
    Bits a(3), b(3);
    a.set.SetRange(3, 30);
    b.set.CopyFrom(a.set);
    EXPECT_TRUE(b.set.Equals(a.set));
    EXPECT_EQ(b.set.Count(), 30);
    a.set.ClearAll();
    EXPECT_TRUE(a.set.IsEmpty());
    EXPECT_FALSE(b.set.Equals(a.set));
}

TEST(ObjectSet, KeepsSortedUniqueIndices) {
    ObjectSet s;
    EXPECT_TRUE(s.empty());
    for (int i : {40, 7, 4999, 7, 0, 123}) s.insert(i);
    EXPECT_EQ(s.size(), 5);
    std::vector<int> seen(s.begin(), s.end());
    EXPECT_EQ(seen, (std::vector<int>{0, 7, 40, 123, 4999}));
    EXPECT_EQ(s.erase(8), 0);
    EXPECT_EQ(s.erase(7), 1);
    EXPECT_EQ(s.erase(7), 0);
    EXPECT_EQ(s.size(), 4);
    EXPECT_TRUE(s.contains(4999));
    EXPECT_FALSE(s.contains(7));
}

TEST(ObjectSet, GrowsPastInlineStorageAndShrinksBack) {
    ObjectSet s;
    for (int i = 100; i > 0; --i) s.insert(i * 3);
    ASSERT_EQ(s.size(), 100);
    int previous = -1;
    for (int v : s) {
        EXPECT_GT(v, previous);
        previous = v;
    }
    for (int i = 1; i <= 100; i += 2) EXPECT_EQ(s.erase(i * 3), 1);
    EXPECT_EQ(s.size(), 50);
    // Down to a few entries the set moves back inline and keeps working.
    for (int i = 10; i <= 100; i += 2) EXPECT_EQ(s.erase(i * 3), 1);
    EXPECT_EQ(std::vector<int>(s.begin(), s.end()), (std::vector<int>{6, 12, 18, 24}));
    for (int i = 2; i <= 8; i += 2) EXPECT_EQ(s.erase(i * 3), 1);
    for (int i = 1; i <= 20; ++i) s.insert(i * 3);
    EXPECT_EQ(s.size(), 20);
    EXPECT_EQ(*s.begin(), 3);
    for (int i = 1; i <= 20; ++i) EXPECT_EQ(s.erase(i * 3), 1);
    s.clear();
    EXPECT_TRUE(s.empty());
    s.insert(5);
    EXPECT_EQ(*s.begin(), 5);
}
