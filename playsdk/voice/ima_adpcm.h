// IMA/DVI ADPCM: 4-bit codes, one per 16-bit sample (IMA Digital Audio Focus and Technical
// Working Groups, "Recommended Practices for Enhancing Digital Audio Compatibility in
// Multimedia Systems", 1992).
//
// Each 4-bit code is a sign bit and three magnitude bits that approximate the difference
// to the predicted sample in units of the current step size; the step size then moves along
// an 89-entry table, so the coder adapts to the signal's loudness. Encoder and decoder
// reconstruct with the same shifts, so their predictors never drift apart. The per-sample
// steps are inline: the frame loops call them for every sample.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

namespace zelplay::voice {

inline constexpr int kImaMaxStepIndex = 88;

struct ImaAdpcmState {
    int predicted = 0;  ///< predicted sample, -32768..32767
    int stepIndex = 0;  ///< index into the step size table, 0..88
};

namespace ima_detail {

// Step sizes, roughly 1.1 times the one before.
inline constexpr int16_t kStepSize[kImaMaxStepIndex + 1] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

// Step index change for each code magnitude: small codes shrink the step, large ones grow it.
inline constexpr int8_t kIndexAdjust[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

constexpr int clampSample(int value) {
    return std::clamp(value, -32768, 32767);
}

// Difference that a code stands for: step/8 plus step, step/2, step/4 for the set bits,
// each shifted separately as the decoder does. Masks instead of branches: the bits change
// from sample to sample.
constexpr int codeDifference(int step, unsigned magnitude) {
    const int bit2 = -static_cast<int>((magnitude >> 2) & 1);
    const int bit1 = -static_cast<int>((magnitude >> 1) & 1);
    const int bit0 = -static_cast<int>(magnitude & 1);
    return (step >> 3) + (step & bit2) + ((step >> 1) & bit1) + ((step >> 2) & bit0);
}

// Step index after each (index, code magnitude): the adjustment and its clamp in one load,
// which shortens the chain from one sample to the next.
inline constexpr auto kNextIndex = [] {
    std::array<std::array<uint8_t, 8>, kImaMaxStepIndex + 1> table{};
    for (int index = 0; index <= kImaMaxStepIndex; ++index) {
        for (int magnitude = 0; magnitude < 8; ++magnitude) {
            table[index][magnitude] = static_cast<uint8_t>(
                std::clamp(index + kIndexAdjust[magnitude], 0, kImaMaxStepIndex));
        }
    }
    return table;
}();

// Difference each code stands for at each step index, sign included (up to 1.875 times the
// largest step, so beyond 16 bits).
inline constexpr auto kCodeDifference = [] {
    std::array<std::array<int32_t, 16>, kImaMaxStepIndex + 1> table{};
    for (int index = 0; index <= kImaMaxStepIndex; ++index) {
        for (unsigned code = 0; code < 16; ++code) {
            const int difference = codeDifference(kStepSize[index], code & 7);
            table[index][code] = code & 8 ? -difference : difference;
        }
    }
    return table;
}();

// Reconstruction and adaptation shared by both directions.
inline void advance(ImaAdpcmState& state, unsigned code) {
    state.predicted = clampSample(state.predicted + kCodeDifference[state.stepIndex][code]);
    state.stepIndex = kNextIndex[state.stepIndex][code & 7];
}

}  // namespace ima_detail

// Brings a predictor read from outside (a frame header, a caller's block) into range.
inline ImaAdpcmState imaSanitize(int predicted, int stepIndex) {
    return ImaAdpcmState{ima_detail::clampSample(predicted),
                         std::clamp(stepIndex, 0, kImaMaxStepIndex)};
}

// Codes one sample and moves the predictor on, exactly as the decoder will: the magnitude
// is approximated by step, step/2 and step/4 in turn, and the difference the decoder will
// add (step/8 plus the parts taken) is summed on the way.
inline uint8_t imaEncodeSample(ImaAdpcmState& state, int16_t sample) {
    const int step = ima_detail::kStepSize[state.stepIndex];
    int difference = sample - state.predicted;
    unsigned code = difference < 0 ? 8 : 0;
    int magnitude = difference < 0 ? -difference : difference;
    int reconstructed = step >> 3;
    // Each comparison's outcome as a mask (all ones when the part is taken), without branches.
    int portion = step;
    for (unsigned bit = 4; bit != 0; bit >>= 1) {
        const int taken = -static_cast<int>(magnitude >= portion);
        code |= bit & static_cast<unsigned>(taken);
        magnitude -= portion & taken;
        reconstructed += portion & taken;
        portion = step >> (bit == 4 ? 1 : 2);
    }
    state.predicted = ima_detail::clampSample(code & 8 ? state.predicted - reconstructed
                                                       : state.predicted + reconstructed);
    state.stepIndex = ima_detail::kNextIndex[state.stepIndex][code & 7];
    return static_cast<uint8_t>(code);
}

// Reconstructs one sample from its 4-bit code (the high bits are ignored).
inline int16_t imaDecodeSample(ImaAdpcmState& state, uint8_t code) {
    ima_detail::advance(state, code & 0x0F);
    return static_cast<int16_t>(state.predicted);
}

}  // namespace zelplay::voice
