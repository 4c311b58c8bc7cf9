// Halving of 8-bit sample planes by rounded means of 2 × 2 blocks: the cheap first step when a
// picture is shown at half its size or less. Shared by the wall's windows and the playback
// library's renderer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pixels {

// One plane of 8-bit samples, rows `stride` bytes apart.
struct ConstPlane {
    const std::uint8_t* data;
    std::ptrdiff_t stride;
    int width;
    int height;
};

// Writes width / 2 × height / 2 samples (rounded down: an odd last row or column is left
// out) to `out`, rows `outStride` bytes apart; each is (a + b + c + d + 2) / 4 of its block.
// The output must not overlap the input. Nothing is written for a plane under 2 × 2.
void halvePlane(const ConstPlane& in, std::uint8_t* out, std::ptrdiff_t outStride);

}  // namespace pixels
