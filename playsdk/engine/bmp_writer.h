// 24-bit BMP images of pictures: a 14-byte file header, a 40-byte information header, then
// the rows bottom-up, pixels as B, G, R (BT.601 conversion).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "yuv_convert.h"

namespace zelplay {

inline constexpr size_t kBmpHeaderBytes = 54;

// Bytes of one row: 3 x width, rounded up to a multiple of 4 as the format requires (widths
// that are multiples of 4 need no padding).
size_t bmpRowBytes(int width);

// The two headers of a width x height image.
std::array<uint8_t, kBmpHeaderBytes> bmpHeaders(int width, int height);

// The whole file of a picture; may throw std::bad_alloc.
std::vector<uint8_t> encodeBmp(const PlanarView& picture);

}  // namespace zelplay
