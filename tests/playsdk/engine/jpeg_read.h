// Test helpers: JPEG files read back with libjpeg as their 4:2:0 planes, and PSNR.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace enginetest {

struct RawJpeg {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> planes;  // Y, V (Cr), U (Cb) as the engine orders them, packed
};

// The planes of a 4:2:0 JPEG file without colour conversion or upsampling; nothing for a
// file that is not one.
std::optional<RawJpeg> readJpegRaw(const std::string& path);

// Peak signal-to-noise ratio of b against a, in dB (a and b of the same size).
double psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);

}  // namespace enginetest
