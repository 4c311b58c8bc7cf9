// G.726 ADPCM at 16, 24, 32 and 40 kbit/s with 16-bit linear samples (ITU-T G.726).
#pragma once

#include <cstdint>

namespace zelplay::voice {

struct G726State {
    int32_t yl;        ///< slow (locked) quantizer scale factor, 19 bits
    int16_t yu;        ///< fast (unlocked) quantizer scale factor
    int16_t dms;       ///< short-term average of F[I]
    int16_t dml;       ///< long-term average of F[I]
    int16_t ap;        ///< speed control: how far y follows yu rather than yl
    int16_t a[2];      ///< pole predictor coefficients
    int16_t b[6];      ///< zero predictor coefficients
    int16_t pk[2];     ///< signs of dq + sez for the last two samples
    int16_t dq[6];     ///< last six quantized differences, floating format
    int16_t sr[2];     ///< last two reconstructed signals, floating format
    uint8_t td;        ///< tone detected
    uint8_t bits;      ///< bits per code: 2, 3, 4 or 5
    uint8_t linear16;  ///< samples are 16-bit linear (the only form this coder takes)
    uint8_t reserved;
};

// Puts every variable at its reset value for a coder of bitsPerSample (2..5) bits.
void g726Reset(G726State& state, int bitsPerSample);

// Brings a state read from a caller's block into the ranges the arithmetic relies on.
void g726Sanitize(G726State& state, int bitsPerSample);

// Codes one sample and adapts, exactly as the decoder will.
uint8_t g726EncodeSample(G726State& state, int16_t sample);

// Reconstructs one sample from its code (bits above the coder's width are ignored).
int16_t g726DecodeSample(G726State& state, uint8_t code);

// The same over count samples, one code per byte.
void g726EncodeBlock(G726State& state, const int16_t* pcm, int count, uint8_t* codes);
void g726DecodeBlock(G726State& state, const uint8_t* codes, int count, int16_t* pcm);

}  // namespace zelplay::voice
