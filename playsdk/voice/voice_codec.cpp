// Voice frames: header, payload layouts and the per-codec frame rules.
//
// A frame is 00 01 L 00 followed by L little-endian 16-bit payload words. Each encoder writes
// exactly its 2 * L payload bytes (G.726 pads its last word with zero bits), and decoding
// reads the caller's frame without changing it (the high-bit-first G.726 layouts are read in
// their own order rather than repacked).

#include "voice_codec.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "g711.h"

namespace zelplay::voice {

namespace {

using F = CodecFamily;
using H = AdpcmHeader;

constexpr CodecInfo kCodecs[] = {
    {1, F::G711Alaw, false, H::None, 0, false},
    {2, F::G711Ulaw, false, H::None, 0, false},
    {65, F::G711Alaw, true, H::None, 0, false},
    {66, F::G711Ulaw, true, H::None, 0, false},
    {3, F::ImaAdpcm, false, H::StateHeader, 4, false},
    {35, F::ImaAdpcm, false, H::FirstSample, 4, false},
    {67, F::ImaAdpcm, false, H::None, 4, false},
    {4, F::G726, false, H::None, 2, false},
    {5, F::G726, false, H::None, 3, false},
    {6, F::G726, false, H::None, 4, false},
    {7, F::G726, false, H::None, 5, false},
    {36, F::G726, false, H::None, 2, true},
    {37, F::G726, false, H::None, 3, true},
    {38, F::G726, false, H::None, 4, true},
    {39, F::G726, false, H::None, 5, true},
    {68, F::G726Words, false, H::None, 2, false},
};

constexpr uint8_t kFrameType = 0x01;
constexpr int kAdpcmHeaderWords = 2;
// An id 67 frame may hold at most this many words: more would decode to 484 or 488 samples,
// beyond the 481-sample buffers that callers and the transcoder size for.
constexpr int kMaxAdpcmStreamWords = 120;

// Appends codes of a fixed width to a byte buffer, from the low bit of each byte upwards or
// from the high bit downwards.
class BitWriter {
  public:
    BitWriter(uint8_t* out, bool msbFirst) : out_(out), msbFirst_(msbFirst) {}

    void put(unsigned code, int bits) {
        if (msbFirst_) {
            pending_ = pending_ << bits | code;
            pendingBits_ += bits;
            while (pendingBits_ >= 8) {
                pendingBits_ -= 8;
                *out_++ = static_cast<uint8_t>(pending_ >> pendingBits_);
            }
        } else {
            pending_ |= code << pendingBits_;
            pendingBits_ += bits;
            while (pendingBits_ >= 8) {
                *out_++ = static_cast<uint8_t>(pending_);
                pending_ >>= 8;
                pendingBits_ -= 8;
            }
        }
        pending_ &= (1u << pendingBits_) - 1;
    }

    // Writes a last partial byte, its unused bits zero.
    void flush() {
        if (pendingBits_ > 0) {
            *out_++ = static_cast<uint8_t>(msbFirst_ ? pending_ << (8 - pendingBits_) : pending_);
            pending_ = 0;
            pendingBits_ = 0;
        }
    }

  private:
    uint8_t* out_;
    bool msbFirst_;
    unsigned pending_ = 0;
    int pendingBits_ = 0;
};

// Reads codes of a fixed width in the same two orders.
class BitReader {
  public:
    BitReader(const uint8_t* in, bool msbFirst) : in_(in), msbFirst_(msbFirst) {}

    unsigned get(int bits) {
        while (pendingBits_ < bits) {
            if (msbFirst_) {
                pending_ = pending_ << 8 | *in_++;
            } else {
                pending_ |= static_cast<unsigned>(*in_++) << pendingBits_;
            }
            pendingBits_ += 8;
        }
        const unsigned mask = (1u << bits) - 1;
        unsigned code;
        if (msbFirst_) {
            pendingBits_ -= bits;
            code = (pending_ >> pendingBits_) & mask;
            pending_ &= (1u << pendingBits_) - 1;
        } else {
            code = pending_ & mask;
            pending_ >>= bits;
            pendingBits_ -= bits;
        }
        return code;
    }

  private:
    const uint8_t* in_;
    bool msbFirst_;
    unsigned pending_ = 0;
    int pendingBits_ = 0;
};

inline ImaAdpcmState adpcmOf(const CodecBlock& state) {
    return imaSanitize(state.predicted, state.stepIndex);
}

inline void storeAdpcm(CodecBlock& state, const ImaAdpcmState& adpcm) {
    state.predicted = static_cast<int16_t>(adpcm.predicted);
    state.stepIndex = static_cast<uint8_t>(adpcm.stepIndex);
}

inline void writeHeader(uint8_t* frame, int payloadWords) {
    frame[0] = 0;
    frame[1] = kFrameType;
    frame[2] = static_cast<uint8_t>(payloadWords);
    frame[3] = 0;
}

// ---- G.711 -------------------------------------------------------------------------------

int encodeG711(const CodecInfo& codec, const int16_t* pcm, int sampleCount, uint8_t* payload) {
    const int words = sampleCount / 2;  // an odd last sample has no room
    const int codes = 2 * words;
    const bool alaw = codec.family == F::G711Alaw;
    for (int i = 0; i < codes; ++i) {
        payload[i] = alaw ? linearToAlaw(pcm[i]) : linearToUlaw(pcm[i]);
    }
    if (codec.swappedPairs) {
        for (int i = 0; i < codes; i += 2) {
            std::swap(payload[i], payload[i + 1]);
        }
    }
    return words;
}

int decodeG711(const CodecInfo& codec, const uint8_t* payload, int samples, int16_t* pcm) {
    const bool alaw = codec.family == F::G711Alaw;
    for (int i = 0; i < samples; ++i) {
        const uint8_t code = payload[codec.swappedPairs ? (i ^ 1) : i];
        pcm[i] = alaw ? alawToLinear(code) : ulawToLinear(code);
    }
    return samples;
}

// ---- IMA ADPCM ---------------------------------------------------------------------------

// Codes pairs of samples into bytes, the first of each pair in the high nibble (or the low
// one for id 35).
void encodeNibbles(ImaAdpcmState& adpcm, const int16_t* pcm, int sampleCount, bool firstLow,
                   uint8_t* out) {
    for (int i = 0; i + 1 < sampleCount; i += 2) {
        const unsigned first = imaEncodeSample(adpcm, pcm[i]);
        const unsigned second = imaEncodeSample(adpcm, pcm[i + 1]);
        *out++ = static_cast<uint8_t>(firstLow ? (second << 4 | first) : (first << 4 | second));
    }
}

void decodeNibbles(ImaAdpcmState& adpcm, const uint8_t* in, int sampleCount, bool firstLow,
                   int16_t* pcm) {
    for (int i = 0; i + 1 < sampleCount; i += 2) {
        const uint8_t byte = *in++;
        const uint8_t high = byte >> 4;
        const uint8_t low = byte & 0x0F;
        pcm[i] = imaDecodeSample(adpcm, firstLow ? low : high);
        pcm[i + 1] = imaDecodeSample(adpcm, firstLow ? high : low);
    }
}

void writeAdpcmHeader(uint8_t* payload, const ImaAdpcmState& adpcm) {
    const auto predicted = static_cast<uint16_t>(adpcm.predicted);
    payload[0] = static_cast<uint8_t>(predicted);
    payload[1] = static_cast<uint8_t>(predicted >> 8);
    payload[2] = static_cast<uint8_t>(adpcm.stepIndex);
    payload[3] = 0;
}

ImaAdpcmState readAdpcmHeader(const uint8_t* payload) {
    const auto predicted = static_cast<int16_t>(payload[0] | payload[1] << 8);
    return imaSanitize(predicted, payload[2]);
}

int encodeAdpcm(CodecBlock& state, const CodecInfo& codec, const int16_t* pcm, int sampleCount,
                uint8_t* payload) {
    ImaAdpcmState adpcm = adpcmOf(state);
    int words = 0;
    switch (codec.adpcm) {
        case H::StateHeader: {
            const int codeWords = sampleCount / 4;  // four samples to a word
            writeAdpcmHeader(payload, adpcm);
            encodeNibbles(adpcm, pcm, 4 * codeWords, false, payload + 2 * kAdpcmHeaderWords);
            words = codeWords + kAdpcmHeaderWords;
            break;
        }
        case H::FirstSample: {
            const int codeWords = (sampleCount - 1) / 4;
            adpcm.predicted = pcm[0];
            writeAdpcmHeader(payload, adpcm);
            encodeNibbles(adpcm, pcm + 1, 4 * codeWords, true, payload + 2 * kAdpcmHeaderWords);
            words = codeWords + kAdpcmHeaderWords;
            break;
        }
        case H::None: {
            const int codeWords = sampleCount / 4;
            encodeNibbles(adpcm, pcm, 4 * codeWords, false, payload);
            words = codeWords;
            break;
        }
    }
    storeAdpcm(state, adpcm);
    return words;
}

int decodeAdpcm(CodecBlock& state, const CodecInfo& codec, const uint8_t* payload, int words,
                int16_t* pcm) {
    ImaAdpcmState adpcm = adpcmOf(state);
    int samples = 0;
    switch (codec.adpcm) {
        case H::StateHeader:
            adpcm = readAdpcmHeader(payload);
            samples = 4 * (words - kAdpcmHeaderWords);
            decodeNibbles(adpcm, payload + 2 * kAdpcmHeaderWords, samples, false, pcm);
            break;
        case H::FirstSample:
            adpcm = readAdpcmHeader(payload);
            pcm[0] = static_cast<int16_t>(adpcm.predicted);
            samples = 4 * (words - kAdpcmHeaderWords);
            decodeNibbles(adpcm, payload + 2 * kAdpcmHeaderWords, samples, true, pcm + 1);
            ++samples;
            break;
        case H::None:
            samples = 4 * words;
            decodeNibbles(adpcm, payload, samples, false, pcm);
            break;
    }
    storeAdpcm(state, adpcm);
    return samples;
}

// ---- G.726 -------------------------------------------------------------------------------

int encodeG726(CodecBlock& state, const CodecInfo& codec, const int16_t* pcm, int sampleCount,
               uint8_t* payload) {
    G726State& g726 = state.g726;
    g726Sanitize(g726, codec.bits);
    std::array<uint8_t, kMaxFrameSamples> codes;
    if (codec.family == F::G726Words) {
        const int words = sampleCount / 8;
        g726EncodeBlock(g726, pcm, 8 * words, codes.data());
        for (int w = 0; w < words; ++w) {
            unsigned word = 0;
            for (int k = 0; k < 8; ++k) {
                word = word << 2 | codes[static_cast<size_t>(8 * w + k)];
            }
            payload[2 * w] = static_cast<uint8_t>(word);
            payload[2 * w + 1] = static_cast<uint8_t>(word >> 8);
        }
        return words;
    }
    // Only the samples whose codes fit in whole words are coded, so that the encoder's state
    // stays in step with a decoder of the frame.
    const int words = (sampleCount & ~1) * codec.bits / 16;
    const int coded = words * 16 / codec.bits;
    g726EncodeBlock(g726, pcm, coded, codes.data());
    BitWriter writer(payload, codec.msbFirst);
    for (int i = 0; i < coded; ++i) {
        writer.put(codes[static_cast<size_t>(i)], codec.bits);
    }
    writer.flush();
    std::fill(payload + (coded * codec.bits + 7) / 8, payload + 2 * words, 0);
    return words;
}

int decodeG726(CodecBlock& state, const CodecInfo& codec, const uint8_t* payload, int samples,
               int16_t* pcm) {
    G726State& g726 = state.g726;
    g726Sanitize(g726, codec.bits);
    std::array<uint8_t, kMaxFrameSamples> codes;
    if (codec.family == F::G726Words) {
        for (int w = 0; w < samples / 8; ++w) {
            const unsigned word = payload[2 * w] | payload[2 * w + 1] << 8;
            for (int k = 0; k < 8; ++k) {
                codes[static_cast<size_t>(8 * w + k)] =
                    static_cast<uint8_t>((word >> (14 - 2 * k)) & 3);
            }
        }
    } else {
        BitReader reader(payload, codec.msbFirst);
        for (int i = 0; i < samples; ++i) {
            codes[static_cast<size_t>(i)] = static_cast<uint8_t>(reader.get(codec.bits));
        }
    }
    g726DecodeBlock(g726, codes.data(), samples, pcm);
    return samples;
}

}  // namespace

const CodecInfo* findCodec(uint16_t id) {
    for (const CodecInfo& codec : kCodecs) {
        if (codec.id == id) {
            return &codec;
        }
    }
    return nullptr;
}

CodecBlock loadBlock(const void* block) {
    CodecBlock state;
    std::memcpy(&state, block, sizeof state);
    return state;
}

void storeBlock(void* block, const CodecBlock& state) {
    std::memcpy(block, &state, sizeof state);
}

bool resetBlock(CodecBlock& state, uint16_t id) {
    state = CodecBlock{};
    state.codecId = id;
    const CodecInfo* codec = findCodec(id);
    if (codec == nullptr) {
        return false;
    }
    if (codec->family == F::G726 || codec->family == F::G726Words) {
        g726Reset(state.g726, codec->bits);
    }
    return true;
}

int encodeFrame(CodecBlock& state, const CodecInfo& codec, const int16_t* pcm, int sampleCount,
                uint8_t* frame) {
    // Each coder writes exactly its 2 * words payload bytes behind the header.
    uint8_t* payload = frame + kFrameHeaderBytes;
    int words = 0;
    switch (codec.family) {
        case F::G711Alaw:
        case F::G711Ulaw:
            words = encodeG711(codec, pcm, sampleCount, payload);
            break;
        case F::ImaAdpcm:
            words = encodeAdpcm(state, codec, pcm, sampleCount, payload);
            break;
        case F::G726:
        case F::G726Words:
            words = encodeG726(state, codec, pcm, sampleCount, payload);
            break;
    }
    writeHeader(frame, words);
    return kFrameHeaderBytes + 2 * words;
}

bool decodedSampleCount(const CodecInfo& codec, int words, int& samples) {
    switch (codec.family) {
        case F::G711Alaw:
        case F::G711Ulaw:
            samples = 2 * words;
            break;
        case F::ImaAdpcm:
            // One bound for all three forms; the header forms need their two header words,
            // and the headerless form stays within 480 samples.
            if (4 * words - 7 > kMaxFrameSamples) {
                return false;
            }
            if (codec.adpcm == H::None) {
                samples = 4 * words;
                return words <= kMaxAdpcmStreamWords;
            }
            if (words < kAdpcmHeaderWords) {
                return false;
            }
            samples = 4 * (words - kAdpcmHeaderWords) + (codec.adpcm == H::FirstSample ? 1 : 0);
            return true;
        case F::G726:
            samples = words * 16 / codec.bits;
            break;
        case F::G726Words:
            samples = 8 * words;
            break;
    }
    return samples <= kMaxFrameSamples && samples % 80 == 0;
}

int decodeFrame(CodecBlock& state, const CodecInfo& codec, const uint8_t* frame, int16_t* pcm) {
    const int words = frame[2];
    int samples = 0;
    if (!decodedSampleCount(codec, words, samples)) {
        return 0;
    }
    const uint8_t* payload = frame + kFrameHeaderBytes;
    switch (codec.family) {
        case F::G711Alaw:
        case F::G711Ulaw:
            return decodeG711(codec, payload, samples, pcm);
        case F::ImaAdpcm:
            return decodeAdpcm(state, codec, payload, words, pcm);
        case F::G726:
        case F::G726Words:
            return decodeG726(state, codec, payload, samples, pcm);
    }
    return 0;
}

}  // namespace zelplay::voice
