// IMA/DVI ADPCM.
//
// Each 4-bit code is a sign bit and three magnitude bits that approximate the difference
// to the predicted sample in units of the current step size; the step size then moves along
// an 89-entry table, so the coder adapts to the signal's loudness. Encoder and decoder
// reconstruct with the same shifts, so their predictors never drift apart.

#include "ima_adpcm.h"

#include <algorithm>

namespace zelplay::voice {

namespace {

// Step sizes, roughly 1.1 times the one before.
constexpr int16_t kStepSize[kImaMaxStepIndex + 1] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

// Step index change for each code magnitude: small codes shrink the step, large ones grow it.
constexpr int8_t kIndexAdjust[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

inline int clampSample(int value) {
    return std::clamp(value, -32768, 32767);
}

// Difference that a code stands for: step/8 plus step, step/2, step/4 for the set bits,
// each shifted separately as the decoder does.
inline int codeDifference(int step, unsigned magnitude) {
    int difference = step >> 3;
    if (magnitude & 4) {
        difference += step;
    }
    if (magnitude & 2) {
        difference += step >> 1;
    }
    if (magnitude & 1) {
        difference += step >> 2;
    }
    return difference;
}

// Reconstruction and adaptation shared by both directions.
inline void advance(ImaAdpcmState& state, unsigned code, int step) {
    const int difference = codeDifference(step, code & 7);
    state.predicted =
        clampSample((code & 8) ? state.predicted - difference : state.predicted + difference);
    state.stepIndex = std::clamp(state.stepIndex + kIndexAdjust[code & 7], 0, kImaMaxStepIndex);
}

}  // namespace

ImaAdpcmState imaSanitize(int predicted, int stepIndex) {
    return ImaAdpcmState{clampSample(predicted), std::clamp(stepIndex, 0, kImaMaxStepIndex)};
}

uint8_t imaEncodeSample(ImaAdpcmState& state, int16_t sample) {
    const int step = kStepSize[state.stepIndex];
    int difference = sample - state.predicted;
    unsigned code = 0;
    if (difference < 0) {
        code = 8;
        difference = -difference;
    }
    // Successive approximation of |difference| by step, step/2, step/4.
    int threshold = step;
    for (unsigned bit = 4; bit != 0; bit >>= 1) {
        if (difference >= threshold) {
            code |= bit;
            difference -= threshold;
        }
        threshold >>= 1;
    }
    advance(state, code, step);
    return static_cast<uint8_t>(code);
}

int16_t imaDecodeSample(ImaAdpcmState& state, uint8_t code) {
    advance(state, code & 0x0F, kStepSize[state.stepIndex]);
    return static_cast<int16_t>(state.predicted);
}

}  // namespace zelplay::voice
