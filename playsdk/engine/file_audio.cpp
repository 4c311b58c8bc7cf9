#include "file_audio.h"

#include <algorithm>
#include <cstring>

#include "g711.h"
#include "zelplay/voice.h"

namespace zelplay {

namespace {

constexpr size_t kPcmBufferBytes = 1024;
constexpr size_t kLargestVoicePcm = 642;  // 321 ADPCM samples

bool isVoiceFrame(const uint8_t* p, size_t length) {
    return length >= 4 && p[0] == 0 && p[1] == 1 && p[3] == 0 && (p[2] == 82 || p[2] == 160);
}

DecodedAudio decodeVoiceFrame(const uint8_t* frame, size_t length, std::vector<uint8_t>& pcm,
                              int bits) {
    pcm.resize(std::max({kPcmBufferBytes, kLargestVoicePcm, length}));
    int out = 0;
    if (DecAudioFrame(frame, static_cast<int>(length), pcm.data(), &out) == 0 || out < 0)
        return {};
    return {static_cast<size_t>(out), bits};
}

template <typename SampleFn>
DecodedAudio mixDown16(size_t frames, int channels, std::vector<uint8_t>& pcm, SampleFn sample) {
    pcm.resize(std::max(kPcmBufferBytes, frames * 2));
    auto* out = reinterpret_cast<int16_t*>(pcm.data());
    for (size_t i = 0; i < frames; ++i) {
        int sum = 0;
        for (int c = 0; c < channels; ++c)
            sum += sample(i * static_cast<size_t>(channels) + static_cast<size_t>(c));
        out[i] = static_cast<int16_t>(sum / channels);
    }
    return {frames * 2, 16};
}

}  // namespace

DecodedAudio decodeRecordAudio(const uint8_t* frame, size_t length, std::vector<uint8_t>& pcm) {
    const bool sixteen =
        isVoiceFrame(frame, length) || length < 4 || length % 642 == 0 || length % 640 == 0;
    return decodeVoiceFrame(frame, length, pcm, sixteen ? 16 : 8);
}

int aviOutputBits(const AviAudioFormat& format) {
    if (format.formatTag == kWaveFormatAlaw || format.formatTag == kWaveFormatMulaw)
        return 16;
    return format.bits == 8 ? 8 : 16;
}

DecodedAudio decodeAviAudio(const AviAudioFormat& format, const uint8_t* chunk, size_t length,
                            std::vector<uint8_t>& pcm) {
    if (isVoiceFrame(chunk, length))
        return decodeVoiceFrame(chunk, length, pcm, 16);
    const int channels = std::max(1, format.channels);
    switch (format.formatTag) {
        case kWaveFormatAlaw:
            return mixDown16(length / static_cast<size_t>(channels), channels, pcm,
                             [&](size_t i) { return voice::alawToLinear(chunk[i]); });
        case kWaveFormatMulaw:
            return mixDown16(length / static_cast<size_t>(channels), channels, pcm,
                             [&](size_t i) { return voice::ulawToLinear(chunk[i]); });
        case kWaveFormatPcm:
            if (format.bits == 16) {
                return mixDown16(length / 2 / static_cast<size_t>(channels), channels, pcm,
                                 [&](size_t i) {
                                     int16_t s;
                                     std::memcpy(&s, chunk + 2 * i, 2);
                                     return static_cast<int>(s);
                                 });
            }
            if (format.bits == 8) {
                // Unsigned samples made signed, as the voice codec hands raw 8-bit PCM on.
                const size_t frames = length / static_cast<size_t>(channels);
                pcm.resize(std::max(kPcmBufferBytes, frames));
                for (size_t i = 0; i < frames; ++i) {
                    int sum = 0;
                    for (int c = 0; c < channels; ++c)
                        sum += chunk[i * static_cast<size_t>(channels) + static_cast<size_t>(c)];
                    pcm[i] = static_cast<uint8_t>(sum / channels - 128);
                }
                return {frames, 8};
            }
            return {};
        default:
            return {};
    }
}

}  // namespace zelplay
