#include "voice_signals.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace voicetest {

namespace {

// Small deterministic generator (numerical recipes LCG), so runs repeat exactly.
struct Lcg {
    uint32_t state;
    uint32_t next() {
        state = state * 1664525u + 1013904223u;
        return state;
    }
    double unit() { return (next() >> 8) / double(1u << 24); }
};

int16_t toSample(double value) {
    return static_cast<int16_t>(std::clamp(std::lround(value), -32768L, 32767L));
}

}  // namespace

std::vector<int16_t> speechLike(int samples, uint32_t seed) {
    Lcg rng{seed};
    std::vector<int16_t> out(static_cast<size_t>(samples));
    double phase = 0;
    for (int i = 0; i < samples; ++i) {
        const double t = i / 8000.0;
        const double pitch = 110 + 60 * std::sin(2 * std::numbers::pi * 0.7 * t);  // gliding
        phase += 2 * std::numbers::pi * pitch / 8000.0;
        double voiced = 0;
        for (int h = 1; h <= 12; ++h) {
            // Formant-like emphasis around 700 Hz and 1800 Hz.
            const double f = h * pitch;
            const double gain = std::exp(-std::pow((f - 700) / 300, 2)) +
                                0.6 * std::exp(-std::pow((f - 1800) / 400, 2)) + 0.05;
            voiced += gain * std::sin(h * phase) / h;
        }
        const double syllable = std::sin(std::numbers::pi * std::fmod(t * 4, 1.0));  // 4 Hz
        const double pause = std::fmod(t, 1.5) > 1.2 ? 0.02 : 1.0;
        const double hiss = (rng.unit() - 0.5) * 0.05;
        out[static_cast<size_t>(i)] = toSample(30000 * pause * (syllable * voiced * 0.8 + hiss));
    }
    return out;
}

std::vector<int16_t> noise(int samples, uint32_t seed, double amplitude) {
    Lcg rng{seed};
    std::vector<int16_t> out(static_cast<size_t>(samples));
    for (auto& s : out) {
        s = toSample((static_cast<int32_t>(rng.next() >> 16) - 32768) * amplitude);
    }
    return out;
}

std::vector<int16_t> extremes(int samples) {
    std::vector<int16_t> out(static_cast<size_t>(samples));
    for (int i = 0; i < samples; ++i) {
        const int part = (i * 4) / samples;
        int16_t v = 0;
        switch (part) {
            case 0:
                v = (i / 20) % 2 ? 32767 : -32768;
                break;  // square, 200 Hz
            case 1:
                v = 0;
                break;  // silence
            case 2:
                v = (i % 100 == 0) ? 32767 : (i % 100 == 50 ? -32768 : 0);
                break;
            default:
                v = static_cast<int16_t>((i % 2) ? 32767 : -32768);
                break;  // Nyquist
        }
        out[static_cast<size_t>(i)] = v;
    }
    return out;
}

std::vector<int16_t> mixedSignal(int samplesEach) {
    std::vector<int16_t> out = speechLike(samplesEach);
    for (const auto& part :
         {noise(samplesEach), noise(samplesEach, 3, 0.05), extremes(samplesEach)}) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

}  // namespace voicetest
