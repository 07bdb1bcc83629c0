#include <gtest/gtest.h>

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
    EXPECT_EQ(rgb[1], 19);
    EXPECT_EQ(rgb[2], 135);
    EncodeIdColor(256, rgb);
    EXPECT_EQ(rgb[1], 1);
    EXPECT_EQ(rgb[2], 0);
    EncodeIdColor(255, rgb);
    EXPECT_EQ(rgb[1], 0);
    EXPECT_EQ(rgb[2], 255);
    EXPECT_EQ(DecodeIdColor(1, 0, 0), 65536);
}

struct ReadBack {
    std::vector<unsigned char> r, g, b;
    explicit ReadBack(int pixels) : r(pixels, kIdBackdrop[0]), g(pixels, kIdBackdrop[1]), b(pixels, kIdBackdrop[2]) {}
    void Put(int k, int n) {
        unsigned char rgb[3];
        EncodeIdColor(n, rgb);
        r[k] = rgb[0];
        g[k] = rgb[1];
        b[k] = rgb[2];
    }
    int Mark(unsigned char* seen) const { return MarkSeenObjects(r.data(), g.data(), b.data(), kReadBackPixels, seen); }
};

TEST(IdColor, BackdropSeesNothingAndStaleMarksAreCleared) {
    ReadBack pixels(kReadBackPixels);
    std::vector<unsigned char> seen(kObjectCount, 1);
    EXPECT_EQ(pixels.Mark(seen.data()), 0);
    for (int n = 0; n < kObjectCount; ++n) ASSERT_EQ(seen[n], 0) << n;

    // A black pixel is object 0, and only an object can paint one.
    pixels.r[123] = pixels.g[123] = pixels.b[123] = 0;
    EXPECT_EQ(pixels.Mark(seen.data()), 1);
    EXPECT_EQ(seen[0], 1);
}

TEST(IdColor, EachObjectCountsOnceAndOutOfRangeValuesAreIgnored) {
    ReadBack pixels(kReadBackPixels);
    pixels.Put(0, 4999);  // first and last pixel of the area
    pixels.Put(kReadBackPixels - 1, 0);
    for (int k = 1000; k < 1300; ++k) pixels.Put(k, 200);  // a large object
    pixels.Put(5000, 5000);                                // first value past the objects
    pixels.Put(5001, 65535);
    pixels.r[5002] = 255;
    pixels.g[5002] = 255;
    pixels.b[5002] = 255;
    std::vector<unsigned char> seen(kObjectCount, 0);
    EXPECT_EQ(pixels.Mark(seen.data()), 3);
    EXPECT_EQ(seen[4999], 1);
    EXPECT_EQ(seen[0], 1);
    EXPECT_EQ(seen[200], 1);
    EXPECT_EQ(seen[199], 0);
    EXPECT_EQ(seen[201], 0);
}

}  // namespace
}  // namespace gridcull
