#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "pixels/halve.h"

namespace {

// The block means written out one by one.
std::vector<std::uint8_t> reference(const std::vector<std::uint8_t>& in, int stride, int width,
                                    int height) {
    std::vector<std::uint8_t> out;
    for (int y = 0; y < height / 2; ++y)
        for (int x = 0; x < width / 2; ++x) {
            const std::uint8_t* a = &in[static_cast<size_t>(2 * y * stride + 2 * x)];
            const std::uint8_t* b = a + stride;
            out.push_back(static_cast<std::uint8_t>((a[0] + a[1] + b[0] + b[1] + 2) / 4));
        }
    return out;
}

// Widths on both sides of the 16-output blocks, odd sizes, padded strides, and the extremes
// of the sample range (255 × 4 + 2 must not wrap).
TEST(HalvePlane, MatchesTheBlockMeansForEveryWidthAndStride) {
    std::mt19937 random(7);
    for (int width : {2, 3, 15, 31, 32, 33, 63, 64, 65, 97, 640, 641, 1280}) {
        for (int height : {2, 3, 8, 9}) {
            for (int padding : {0, 5, 64}) {
                for (int fill : {-1, 0, 255}) {
                    const int stride = width + padding;
                    std::vector<std::uint8_t> in(static_cast<size_t>(stride * height));
                    for (auto& v : in)
                        v = static_cast<std::uint8_t>(fill < 0 ? random() : fill);
                    const int outStride = width / 2 + 3;
                    std::vector<std::uint8_t> out(static_cast<size_t>(outStride * (height / 2)),
                                                  0xAB);
                    pixels::halvePlane({in.data(), stride, width, height}, out.data(), outStride);
                    const auto expected = reference(in, stride, width, height);
                    for (int y = 0; y < height / 2; ++y) {
                        for (int x = 0; x < width / 2; ++x)
                            ASSERT_EQ(out[static_cast<size_t>(y * outStride + x)],
                                      expected[static_cast<size_t>(y * (width / 2) + x)])
                                << width << "x" << height << " stride " << stride << " at " << x
                                << "," << y;
                        // The padding of each output row is left alone.
                        for (int x = width / 2; x < outStride; ++x)
                            ASSERT_EQ(out[static_cast<size_t>(y * outStride + x)], 0xAB);
                    }
                }
            }
        }
    }
}

TEST(HalvePlane, RoundsHalvesUpAndWritesNothingForTinyPlanes) {
    const std::uint8_t in[4] = {0, 1, 1, 0};  // mean 0.5 rounds to 1
    std::uint8_t out = 0;
    pixels::halvePlane({in, 2, 2, 2}, &out, 1);
    EXPECT_EQ(out, 1);

    std::uint8_t untouched = 0x5A;
    pixels::halvePlane({in, 1, 1, 4}, &untouched, 1);
    pixels::halvePlane({in, 4, 4, 1}, &untouched, 1);
    pixels::halvePlane({nullptr, 4, 4, 4}, &untouched, 1);
    EXPECT_EQ(untouched, 0x5A);
}

}  // namespace
