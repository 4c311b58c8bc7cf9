// Test signals for the voice codec: speech-like tones with a moving pitch and envelope,
// white noise, and the loud edge cases (full-scale square, silence) that stress clipping.
#pragma once

#include <cstdint>
#include <vector>

namespace voicetest {

// A few seconds of 8 kHz voiced sound: harmonics of a gliding pitch under a syllable-rate
// envelope, with short pauses, reaching close to full scale at the loudest.
std::vector<int16_t> speechLike(int samples, uint32_t seed = 1);

// Uniform white noise over the full 16-bit range, or scaled by amplitude (0..1).
std::vector<int16_t> noise(int samples, uint32_t seed = 7, double amplitude = 1.0);

// Full-scale square wave, silence and an impulse train: values at the range ends.
std::vector<int16_t> extremes(int samples);

// All three kinds one after the other, samplesEach of each.
std::vector<int16_t> mixedSignal(int samplesEach);

}  // namespace voicetest
