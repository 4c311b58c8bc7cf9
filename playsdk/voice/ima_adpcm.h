// IMA/DVI ADPCM: 4-bit codes, one per 16-bit sample (IMA Digital Audio Focus and Technical
// Working Groups, "Recommended Practices for Enhancing Digital Audio Compatibility in
// Multimedia Systems", 1992).
#pragma once

#include <cstdint>

namespace zelplay::voice {

inline constexpr int kImaMaxStepIndex = 88;

struct ImaAdpcmState {
    int predicted = 0;  ///< predicted sample, -32768..32767
    int stepIndex = 0;  ///< index into the step size table, 0..88
};

// Codes one sample and moves the predictor on, exactly as the decoder will.
uint8_t imaEncodeSample(ImaAdpcmState& state, int16_t sample);

// Reconstructs one sample from its 4-bit code (the high bits are ignored).
int16_t imaDecodeSample(ImaAdpcmState& state, uint8_t code);

// Brings a predictor read from outside (a frame header, a caller's block) into range.
ImaAdpcmState imaSanitize(int predicted, int stepIndex);

}  // namespace zelplay::voice
