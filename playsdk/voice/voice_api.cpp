// The voice codec's C boundary: argument checks in the documented order, then one call into
// the frame codec. Nothing is written on failure (decoding clears the sample count first).

#include <array>
#include <cstring>

#include "voice_codec.h"
#include "zelplay/voice.h"

namespace zv = zelplay::voice;

namespace {

constexpr char kVersion[] = "HI_VOICE_VERSION=Hi3511_VOICELIB_V1.0.0.0";

// Marks a transcoder block as set up; kept in the encoder half, behind the encoder state.
struct TranscodeMarker {
    uint32_t magic;
    int32_t type;
};
constexpr uint32_t kTranscodeMagic = 0x5456435A;  // "ZCVT"
constexpr size_t kMarkerOffset = zv::kStateBlockBytes - sizeof(TranscodeMarker);
static_assert(sizeof(zv::CodecBlock) <= kMarkerOffset);

struct TranscodeType {
    int32_t type;
    uint16_t sourceId;
    uint16_t targetId;
};
constexpr TranscodeType kTranscodeTypes[] = {
    {HI_VOICE_TRANS_G711A, HI_VOICE_G711A_SWAPPED, HI_VOICE_G711A},
    {HI_VOICE_TRANS_G711U, HI_VOICE_G711U_SWAPPED, HI_VOICE_G711U},
    {HI_VOICE_TRANS_ADPCM, HI_VOICE_ADPCM_STREAM, HI_VOICE_ADPCM},
    {HI_VOICE_TRANS_G726_16, HI_VOICE_G726_16_WORDS, HI_VOICE_G726_16},
};

const TranscodeType* findTranscodeType(int32_t type) {
    for (const TranscodeType& t : kTranscodeTypes) {
        if (t.type == type) {
            return &t;
        }
    }
    return nullptr;
}

int32_t reset(void* state, uint16_t codecId, int32_t unknownCodec) {
    if (state == nullptr) {
        return HI_VOICE_ERR_NO_STATE;
    }
    zv::CodecBlock block;
    const bool known = zv::resetBlock(block, codecId);
    zv::storeBlock(state, block);
    return known ? HI_VOICE_OK : unknownCodec;
}

// Decodes into a buffer of the caller's; the block is updated only on success.
int32_t decode(void* state, const uint8_t* frame, int16_t* pcm, int& samples) {
    samples = 0;
    if ((frame[1] & 0x03) != 0x01) {
        return HI_VOICE_ERR_DEC_TYPE;
    }
    const int words = frame[2];
    if (words == 0) {
        return HI_VOICE_ERR_DEC_LENGTH;
    }
    zv::CodecBlock block = zv::loadBlock(state);
    const zv::CodecInfo* codec = zv::findCodec(block.codecId);
    if (codec == nullptr) {
        return HI_VOICE_ERR_DEC_CODEC;
    }
    int expected = 0;
    if (!zv::decodedSampleCount(*codec, words, expected)) {
        return HI_VOICE_ERR_DEC_LENGTH;
    }
    samples = zv::decodeFrame(block, *codec, frame, pcm);
    zv::storeBlock(state, block);
    return HI_VOICE_OK;
}

int32_t encode(void* state, const int16_t* pcm, uint8_t* frame, int32_t sampleCount) {
    if (sampleCount <= 0 || sampleCount > zv::kMaxFrameSamples) {
        return HI_VOICE_ERR_ENC_SAMPLES;
    }
    zv::CodecBlock block = zv::loadBlock(state);
    const zv::CodecInfo* codec = zv::findCodec(block.codecId);
    if (codec == nullptr) {
        return HI_VOICE_ERR_ENC_CODEC;
    }
    zv::encodeFrame(block, *codec, pcm, sampleCount, frame);
    zv::storeBlock(state, block);
    return HI_VOICE_OK;
}

// A fresh state block of the codec's full size, as the exports below hand out for one frame.
struct alignas(8) FreshBlock {
    std::array<uint8_t, zv::kStateBlockBytes> bytes{};
};

}  // namespace

extern "C" {

int32_t HI_VOICE_GetVersion(char* version) {
    if (version == nullptr) {
        return -1;
    }
    std::memcpy(version, kVersion, sizeof kVersion);
    return 0;
}

int32_t HI_VOICE_EncReset(void* state, uint16_t codecId) {
    return reset(state, codecId, HI_VOICE_ERR_ENC_CODEC);
}

int32_t HI_VOICE_DecReset(void* state, uint16_t codecId) {
    return reset(state, codecId, HI_VOICE_ERR_DEC_CODEC);
}

int32_t HI_VOICE_EncodeFrame(void* state, const int16_t* pcm, uint8_t* frame, int32_t sampleCount) {
    if (state == nullptr) {
        return HI_VOICE_ERR_NO_STATE;
    }
    if (pcm == nullptr) {
        return HI_VOICE_ERR_NO_INPUT;
    }
    if (frame == nullptr) {
        return HI_VOICE_ERR_NO_OUTPUT;
    }
    return encode(state, pcm, frame, sampleCount);
}

int32_t HI_VOICE_DecodeFrame(void* state, const uint8_t* frame, int16_t* pcm,
                             uint16_t* sampleCount) {
    if (state == nullptr) {
        return HI_VOICE_ERR_NO_STATE;
    }
    if (frame == nullptr) {
        return HI_VOICE_ERR_NO_INPUT;
    }
    if (pcm == nullptr || sampleCount == nullptr) {
        return HI_VOICE_ERR_NO_OUTPUT;
    }
    int samples = 0;
    *sampleCount = 0;
    const int32_t result = decode(state, frame, pcm, samples);
    *sampleCount = static_cast<uint16_t>(samples);
    return result;
}

int32_t HI_VOICE_TransCodeReset(void* state, int32_t type) {
    if (state == nullptr) {
        return HI_VOICE_ERR_TRANS_NO_STATE;
    }
    const TranscodeType* transcode = findTranscodeType(type);
    if (transcode == nullptr) {
        return HI_VOICE_ERR_TRANS_TYPE;
    }
    auto* bytes = static_cast<uint8_t*>(state);
    reset(bytes + zv::kTranscodeDecoderOffset, transcode->sourceId, HI_VOICE_ERR_DEC_CODEC);
    reset(bytes, transcode->targetId, HI_VOICE_ERR_ENC_CODEC);
    const TranscodeMarker marker{kTranscodeMagic, type};
    std::memcpy(bytes + kMarkerOffset, &marker, sizeof marker);
    return HI_VOICE_OK;
}

int32_t HI_VOICE_TransCodeFrame(void* state, uint8_t* frame) {
    if (state == nullptr) {
        return HI_VOICE_ERR_TRANS_NO_STATE;
    }
    auto* bytes = static_cast<uint8_t*>(state);
    TranscodeMarker marker;
    std::memcpy(&marker, bytes + kMarkerOffset, sizeof marker);
    const TranscodeType* transcode = findTranscodeType(marker.type);
    if (marker.magic != kTranscodeMagic || transcode == nullptr) {
        return HI_VOICE_ERR_TRANS_TYPE;
    }
    if (frame == nullptr) {
        return HI_VOICE_ERR_NO_INPUT;
    }
    if (transcode->type == HI_VOICE_TRANS_G711A || transcode->type == HI_VOICE_TRANS_G711U) {
        const int words = frame[2];
        for (int i = 0; i < words; ++i) {
            std::swap(frame[zv::kFrameHeaderBytes + 2 * i],
                      frame[zv::kFrameHeaderBytes + 2 * i + 1]);
        }
        return HI_VOICE_OK;
    }
    // Decode, then encode again; the frame is overwritten only when both succeed.
    std::array<int16_t, zv::kMaxFrameSamples + 1> pcm{};
    int samples = 0;
    int32_t result = decode(bytes + zv::kTranscodeDecoderOffset, frame, pcm.data(), samples);
    if (result != HI_VOICE_OK) {
        return result;
    }
    std::array<uint8_t, zv::kMaxFrameBytes> encoded{};
    result = encode(bytes, pcm.data(), encoded.data(), samples);
    if (result != HI_VOICE_OK) {
        return result;
    }
    std::memcpy(frame, encoded.data(), zv::kFrameHeaderBytes + 2 * static_cast<size_t>(encoded[2]));
    return HI_VOICE_OK;
}

int DecAudioFrame(const void* frame, int length, void* out, int* outLength) {
    if (frame == nullptr || out == nullptr || outLength == nullptr) {
        return 0;
    }
    const auto* in = static_cast<const uint8_t*>(frame);
    if (length < zv::kFrameHeaderBytes) {
        *outLength = 0;
        return 1;
    }
    const bool voiceHeader = in[0] == 0 && in[1] == 1 && in[3] == 0;
    uint16_t codecId = 0;
    if (voiceHeader && in[2] == 82) {
        codecId = HI_VOICE_ADPCM_FIRST;
    } else if (voiceHeader && in[2] == 160) {
        codecId = HI_VOICE_G711A;
    }
    if (codecId != 0) {
        if (length < zv::kFrameHeaderBytes + 2 * in[2]) {
            return 0;  // the frame is cut short
        }
        FreshBlock block;
        HI_VOICE_DecReset(block.bytes.data(), codecId);
        std::array<int16_t, zv::kMaxFrameSamples> pcm{};
        uint16_t samples = 0;
        if (HI_VOICE_DecodeFrame(block.bytes.data(), in, pcm.data(), &samples) != HI_VOICE_OK) {
            return 0;
        }
        std::memcpy(out, pcm.data(), 2 * static_cast<size_t>(samples));
        *outLength = 2 * samples;
        return 1;
    }
    if (length % 642 == 0 || length % 640 == 0) {
        std::memmove(out, in, static_cast<size_t>(length));
    } else {
        auto* pcm8 = static_cast<uint8_t*>(out);
        for (int i = 0; i < length; ++i) {
            pcm8[i] = static_cast<uint8_t>(in[i] - 128);
        }
    }
    *outLength = length;
    return 1;
}

int EncAudioFrame(int type, const void* pcm, void* out, int length) {
    if (pcm == nullptr || out == nullptr || length <= 0) {
        return 0;
    }
    uint16_t codecId = 0;
    switch (type) {
        case 1:
            codecId = HI_VOICE_ADPCM_FIRST;
            break;
        case 5:
            codecId = HI_VOICE_G711A;
            break;
        case 2:
        case 3:
            std::memmove(out, pcm, static_cast<size_t>(length));
            return 1;
        default:
            return 1;
    }
    FreshBlock block;
    HI_VOICE_EncReset(block.bytes.data(), codecId);
    // The samples may sit at any alignment in the caller's buffer.
    const int sampleCount = length / 2;
    std::array<int16_t, zv::kMaxFrameSamples> samples{};
    if (sampleCount <= 0 || sampleCount > zv::kMaxFrameSamples) {
        return 0;
    }
    std::memcpy(samples.data(), pcm, 2 * static_cast<size_t>(sampleCount));
    return HI_VOICE_EncodeFrame(block.bytes.data(), samples.data(), static_cast<uint8_t*>(out),
                                sampleCount) == HI_VOICE_OK
               ? 1
               : 0;
}

}  // extern "C"
