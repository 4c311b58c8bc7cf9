#include "yuv_convert.h"

#include <array>

namespace zelplay {

namespace {

// round(255 (x - offset) / range) + bias, clamped; the two expansions as 256-entry tables.
constexpr std::array<uint8_t, 256> expansionTable(int offset, int range, int bias) {
    std::array<uint8_t, 256> t{};
    for (int x = 0; x < 256; ++x) {
        const int scaled = (x - offset) * 255;
        const int rounded =
            scaled >= 0 ? (scaled + range / 2) / range : -((-scaled + range / 2) / range);
        const int v = rounded + bias;
        t[static_cast<size_t>(x)] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
    }
    return t;
}

constexpr std::array<uint8_t, 256> kFullLuma = expansionTable(16, 219, 0);
constexpr std::array<uint8_t, 256> kFullChroma = expansionTable(128, 224, 128);

}  // namespace

void convertToBgrBottomUp(const PlanarView& p, uint8_t* out, size_t rowBytes) {
    const size_t w = static_cast<size_t>(p.width), cw = w / 2;
    for (int row = 0; row < p.height; ++row) {
        const uint8_t* y = p.y + static_cast<size_t>(row) * w;
        const uint8_t* u = p.u + static_cast<size_t>(row / 2) * cw;
        const uint8_t* v = p.v + static_cast<size_t>(row / 2) * cw;
        uint8_t* o = out + static_cast<size_t>(p.height - 1 - row) * rowBytes;
        for (size_t x = 0; x < w; ++x) {
            const Bgr c = bt601ToBgr(y[x], u[x / 2], v[x / 2]);
            o[3 * x] = c.b;
            o[3 * x + 1] = c.g;
            o[3 * x + 2] = c.r;
        }
    }
}

uint8_t fullRangeLuma(uint8_t y) {
    return kFullLuma[y];
}

uint8_t fullRangeChroma(uint8_t c) {
    return kFullChroma[c];
}

void expandLumaRow(const uint8_t* in, uint8_t* out, size_t count) {
    for (size_t i = 0; i < count; ++i)
        out[i] = kFullLuma[in[i]];
}

void expandChromaRow(const uint8_t* in, uint8_t* out, size_t count) {
    for (size_t i = 0; i < count; ++i)
        out[i] = kFullChroma[in[i]];
}

}  // namespace zelplay
