#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "render/IdColor.h"

namespace gridcull {
namespace {

TEST(IdColor, EncodeDecodeRoundTrip) {
    unsigned char rgb[3];
    for (int n = 0; n < kObjectCount; ++n) {
        EncodeIdColor(n, rgb);
        ASSERT_EQ(rgb[0], 0) << n;  // every index fits in green and blue
        ASSERT_EQ(DecodeIdColor(rgb[0], rgb[1], rgb[2]), n);
    }
    EncodeIdColor(4999, rgb);
    EXPECT_TRUE(rgb[1] == 19 && rgb[2] == 135);
    EncodeIdColor(256, rgb);
    EXPECT_TRUE(rgb[1] == 1 && rgb[2] == 0);
    EXPECT_EQ(DecodeIdColor(1, 0, 0), 65536);
}

// Each object counts once however many pixels it covers; the backdrop and
// values of 5000 and above mark nothing, and stale marks are cleared.
TEST(IdColor, MarkSeenObjectsIgnoresTheBackdropAndValuesPastTheObjects) {
    const int kPixels = kReadBackPixels;
    std::vector<unsigned char> r(kPixels, kIdBackdrop[0]), g(kPixels, kIdBackdrop[1]), b(kPixels, kIdBackdrop[2]);
    auto put = [&](int k, int n) {
        unsigned char c[3];
        EncodeIdColor(n, c);
        r[k] = c[0], g[k] = c[1], b[k] = c[2];
    };
    put(0, 4999);  // first and last pixel of the area
    put(kPixels - 1, 0);
    for (int k = 1000; k < 1300; ++k) put(k, 200);
    put(5000, 5000);
    put(5001, 65535);
    put(5002, 0xFFFFFF);
    std::vector<unsigned char> seen(kObjectCount, 1);
    EXPECT_EQ(MarkSeenObjects(r.data(), g.data(), b.data(), kPixels, seen.data()), 3);
    EXPECT_TRUE(seen[0] && seen[200] && seen[4999]);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 0), kObjectCount - 3);
}

}  // namespace
}  // namespace gridcull
