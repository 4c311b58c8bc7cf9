#include "picture_adjust.h"

#include <cmath>
#include <cstddef>

namespace zelplay {

namespace {
constexpr double kPi = 3.141592653589793;
}

LumaTable buildLumaTable(int brightness, int contrast) {
    const int k = static_cast<int>(contrast * 3.984375);
    const int o = static_cast<int>((brightness * 0.015625 - 1.0) * -255.0);
    LumaTable table{};
    for (int i = 0; i < 256; ++i) {
        int t = i * k / 256 - k / 2 - o + 128;
        table[static_cast<size_t>(i)] = static_cast<uint8_t>(t < 0 ? 0 : t > 255 ? 255 : t);
    }
    return table;
}

ChromaConstants chromaConstants(int saturation, int hue) {
    const double theta =
        hue >= kColourNeutral ? kPi * (hue * 0.015625 - 1.0) : kPi * (2.0 - hue * 0.015625);
    const double s = std::sin(theta), c = std::cos(theta);
    ChromaConstants k;
    k.a = static_cast<int>(saturation * 4.0);
    k.ks = static_cast<int>(256 * s);
    k.kc = static_cast<int>(256 * c);
    k.k1 = static_cast<int>(32768 * (c + s));
    k.k2 = static_cast<int>(32768 * (c - s));
    return k;
}

void adjustPicture(const ColourSettings& settings, uint8_t* y, uint8_t* v, uint8_t* u, int width,
                   int height) {
    if (width <= 0 || height <= 0)
        return;
    const size_t lumaCount = static_cast<size_t>(width) * static_cast<size_t>(height);
    if (!settings.lumaNeutral()) {
        const LumaTable t = buildLumaTable(settings.brightness, settings.contrast);
        size_t i = 0;
        for (; i + 8 <= lumaCount; i += 8) {
            y[i] = t[y[i]];
            y[i + 1] = t[y[i + 1]];
            y[i + 2] = t[y[i + 2]];
            y[i + 3] = t[y[i + 3]];
            y[i + 4] = t[y[i + 4]];
            y[i + 5] = t[y[i + 5]];
            y[i + 6] = t[y[i + 6]];
            y[i + 7] = t[y[i + 7]];
        }
        for (; i < lumaCount; ++i)
            y[i] = t[y[i]];
    }
    if (!settings.chromaNeutral()) {
        const ChromaConstants c = chromaConstants(settings.saturation, settings.hue);
        const size_t chromaCount = lumaCount / 4;
        // The planes do not overlap; written so that the compiler can vectorise the loop.
        uint8_t* __restrict pu = u;
        uint8_t* __restrict pv = v;
        for (size_t i = 0; i < chromaCount; ++i) {
            const int su = pu[i], sv = pv[i];
            const int nu = ((((su * c.kc + sv * c.ks - c.k1) >> 8) * c.a) >> 8) + 128;
            const int nv = ((((sv * c.kc - su * c.ks - c.k2) >> 8) * c.a) >> 8) + 128;
            pu[i] = static_cast<uint8_t>(nu < 0 ? 0 : nu > 255 ? 255 : nu);
            pv[i] = static_cast<uint8_t>(nv < 0 ? 0 : nv > 255 ? 255 : nv);
        }
    }
}

}  // namespace zelplay
