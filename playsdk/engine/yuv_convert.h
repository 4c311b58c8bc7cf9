// Colour conversion of the library's planar 4:2:0 pictures (Y, then V, then U): ITU-R BT.601
// YCbCr to 8-bit RGB, and the limited-range (16-235, chroma 16-240) to full-range (0-255)
// expansion that JPEG files expect.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zelplay {

// A planar 4:2:0 picture: width x height luma samples, the two chroma planes a quarter each
// (one sample per 2 x 2 block). Width and height are even.
struct PlanarView {
    const uint8_t* y = nullptr;
    const uint8_t* v = nullptr;  // Cr, the second plane
    const uint8_t* u = nullptr;  // Cb, the third plane
    int width = 0;
    int height = 0;

    size_t lumaBytes() const { return static_cast<size_t>(width) * static_cast<size_t>(height); }
    size_t totalBytes() const { return lumaBytes() * 3 / 2; }
};

// The view of one tightly packed buffer of width x height x 3 / 2 bytes.
inline PlanarView planarView(const uint8_t* buffer, int width, int height) {
    const size_t luma = static_cast<size_t>(width) * static_cast<size_t>(height);
    return {buffer, buffer + luma, buffer + luma * 5 / 4, width, height};
}

struct Bgr {
    uint8_t b, g, r;
    bool operator==(const Bgr&) const = default;
};

inline uint8_t clampByte(int v) {
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// ITU-R BT.601, limited range, in thousandths with division truncating toward zero:
//   R = 1.164 (Y - 16) + 1.596 (V - 128)
//   G = 1.164 (Y - 16) - 0.813 (V - 128) - 0.391 (U - 128)
//   B = 1.164 (Y - 16) + 2.018 (U - 128)
inline Bgr bt601ToBgr(int y, int u, int v) {
    const int luma = 1164 * y;
    return {clampByte((luma + 2018 * u - 276928) / 1000),
            clampByte((luma - 391 * u - 813 * v + 135488) / 1000),
            clampByte((luma + 1596 * v - 222912) / 1000)};
}

// Writes the picture as rows of B, G, R, bottom row first, rowBytes apart (at least 3 x
// width; bytes past 3 x width in a row are left as they are).
void convertToBgrBottomUp(const PlanarView& picture, uint8_t* out, size_t rowBytes);

// Full-range sample of a limited-range luma (16 -> 0, 235 -> 255) or chroma (16 -> 0,
// 128 -> 128, 240 -> 255) sample, rounded and clamped.
uint8_t fullRangeLuma(uint8_t y);
uint8_t fullRangeChroma(uint8_t c);
// The same for count samples from in to out.
void expandLumaRow(const uint8_t* in, uint8_t* out, size_t count);
void expandChromaRow(const uint8_t* in, uint8_t* out, size_t count);

}  // namespace zelplay
