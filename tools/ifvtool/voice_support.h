// The voice codec as the tool uses it: recorder audio frames to PCM and 8 kHz PCM to A-law
// voice frames.
#pragma once

#include <cstdint>

namespace ifvtool {

// DecAudioFrame: out needs room for max(length, 642) bytes.
bool decodeAudioFrame(const uint8_t* frame, int length, uint8_t* out, int* outLength);

// Whether decodeAudioFrame gives 16-bit samples for this frame (a voice frame of a decoded
// kind, or 16-bit PCM) rather than 8-bit ones.
bool decodesTo16Bit(const uint8_t* frame, int length);

// Samples per voice frame written by import (40 ms at 8 kHz), and the frame's size.
constexpr int kVoiceFrameSamples = 320;
constexpr int kVoiceFrameBytes = 4 + kVoiceFrameSamples;  // A-law: one byte per sample

// EncAudioFrame into an A-law voice frame of kVoiceFrameBytes.
bool encodeVoiceFrame(const int16_t* pcm, uint8_t* out);

}  // namespace ifvtool
