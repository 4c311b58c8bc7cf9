// Brightness, contrast, saturation and hue applied in place to a planar 4:2:0 picture:
// a 256-entry table on the luma plane, a rotation and scaling of the chroma pair.
#pragma once

#include <array>
#include <cstdint>

namespace zelplay {

inline constexpr int kColourNeutral = 64;
inline constexpr int kColourMax = 128;

struct ColourSettings {
    uint8_t brightness = kColourNeutral;
    uint8_t contrast = kColourNeutral;
    uint8_t saturation = kColourNeutral;
    uint8_t hue = kColourNeutral;

    bool lumaNeutral() const { return brightness == kColourNeutral && contrast == kColourNeutral; }
    bool chromaNeutral() const { return saturation == kColourNeutral && hue == kColourNeutral; }
    uint32_t pack() const {
        return brightness | (contrast << 8) | (saturation << 16) |
               (static_cast<uint32_t>(hue) << 24);
    }
    static ColourSettings unpack(uint32_t v) {
        return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
    }
};

using LumaTable = std::array<uint8_t, 256>;

// T[i] = clamp(floor(i * k / 256) - floor(k / 2) - o + 128), k from the contrast, o from
// the brightness.
LumaTable buildLumaTable(int brightness, int contrast);

// The integer constants of the chroma step for one saturation and hue.
struct ChromaConstants {
    int a;   // saturation factor, 256 neutral
    int ks;  // trunc(256 sin theta)
    int kc;  // trunc(256 cos theta)
    int k1;  // trunc(32768 (cos theta + sin theta))
    int k2;  // trunc(32768 (cos theta - sin theta))
};
ChromaConstants chromaConstants(int saturation, int hue);

// One chroma position: u is the third-plane sample, v the second; both results from the
// samples read before.
inline void rotateChroma(const ChromaConstants& c, uint8_t& u, uint8_t& v) {
    const int su = u, sv = v;
    int nu = ((((su * c.kc + sv * c.ks - c.k1) >> 8) * c.a) >> 8) + 128;
    int nv = ((((sv * c.kc - su * c.ks - c.k2) >> 8) * c.a) >> 8) + 128;
    u = static_cast<uint8_t>(nu < 0 ? 0 : nu > 255 ? 255 : nu);
    v = static_cast<uint8_t>(nv < 0 ? 0 : nv > 255 ? 255 : nv);
}

// Applies the settings to the planes: y has width * height samples, v and u a quarter each.
void adjustPicture(const ColourSettings& settings, uint8_t* y, uint8_t* v, uint8_t* u, int width,
                   int height);

}  // namespace zelplay
