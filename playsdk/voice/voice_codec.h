// Frame-level voice codec: the table of codec ids, the caller's state block layout and one
// encode or decode per frame. The exported C functions (voice_api.cpp) check arguments and
// call these.
#pragma once

#include <cstddef>
#include <cstdint>

#include "g726.h"
#include "ima_adpcm.h"

namespace zelplay::voice {

enum class CodecFamily { G711Alaw, G711Ulaw, ImaAdpcm, G726, G726Words };

// How an IMA ADPCM frame carries its predictor.
enum class AdpcmHeader {
    StateHeader,  ///< id 3: predicted value and step index, then codes, first code high
    FirstSample,  ///< id 35: the first sample as the predicted value, then codes, first low
    None          ///< id 67: codes only, predictor carried in the state block
};

struct CodecInfo {
    uint16_t id;
    CodecFamily family;
    bool swappedPairs;  ///< G.711: code bytes swapped in pairs
    AdpcmHeader adpcm;  ///< IMA ADPCM: header form
    int bits;           ///< G.726: bits per code
    bool msbFirst;      ///< G.726: codes packed from the high bit of each byte down
};

// The codec with this id, or null.
const CodecInfo* findCodec(uint16_t id);

// Layout of the caller's state block. The id and the ADPCM predictor sit at fixed offsets
// (0, 2 and 4); the block is copied in and out with memcpy, so callers may align it freely.
struct CodecBlock {
    uint16_t codecId;   ///< offset 0: codec identifier
    int16_t predicted;  ///< offset 2: IMA ADPCM predicted sample
    uint8_t stepIndex;  ///< offset 4: IMA ADPCM step index
    uint8_t reserved[3];
    G726State g726;  ///< offset 8: G.726 variables (ids 4-7, 36-39, 68)
};

inline constexpr size_t kStateBlockBytes = 2048;
inline constexpr size_t kTranscodeBlockBytes = 4096;
inline constexpr size_t kTranscodeDecoderOffset = 2048;
inline constexpr int kMaxFrameSamples = 481;
inline constexpr int kFrameHeaderBytes = 4;
inline constexpr int kMaxPayloadWords = 255;
inline constexpr int kMaxFrameBytes = kFrameHeaderBytes + 2 * kMaxPayloadWords;

static_assert(sizeof(CodecBlock) <= kStateBlockBytes);

CodecBlock loadBlock(const void* block);
void storeBlock(void* block, const CodecBlock& state);

// Puts the block in its reset state for id; false for an unknown id (which is stored all
// the same).
bool resetBlock(CodecBlock& state, uint16_t id);

// Encodes sampleCount (1..481) samples of a known codec into frame; returns the frame's
// size in bytes (4 + 2 * payload words).
int encodeFrame(CodecBlock& state, const CodecInfo& codec, const int16_t* pcm, int sampleCount,
                uint8_t* frame);

// Payload words that the decoder accepts for codec; false when the length breaks the codec's
// rule. samples receives the count the frame decodes to.
bool decodedSampleCount(const CodecInfo& codec, int payloadWords, int& samples);

// Decodes a frame whose length passed decodedSampleCount; returns the samples written.
int decodeFrame(CodecBlock& state, const CodecInfo& codec, const uint8_t* frame, int16_t* pcm);

}  // namespace zelplay::voice
