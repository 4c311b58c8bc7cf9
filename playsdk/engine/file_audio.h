// Audio of files turned into the mono PCM the sound output plays: record audio frames and
// AVI audio chunks (PCM, G.711 A-law or mu-law, or the recorders' voice frames).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zelplay {

// AVI format tags the file audio understands.
inline constexpr int kWaveFormatPcm = 1;
inline constexpr int kWaveFormatAlaw = 6;
inline constexpr int kWaveFormatMulaw = 7;

struct DecodedAudio {
    size_t bytes = 0;  // PCM bytes in the output
    int bits = 0;      // 8 or 16; 0 when the input could not be decoded
};

// A record's audio frame, decoded as the stream audio step decodes frames (DecAudioFrame).
DecodedAudio decodeRecordAudio(const uint8_t* frame, size_t length, std::vector<uint8_t>& pcm);

// The format of an AVI audio track.
struct AviAudioFormat {
    int formatTag = 0;
    int channels = 1;
    int bits = 0;
};
// The bits per sample the track decodes to (16 for G.711, the track's own for PCM).
int aviOutputBits(const AviAudioFormat& format);
// One AVI audio chunk, mixed down to mono. A chunk that is a voice frame (its 4-byte header
// in front) is decoded as one, whatever the track's format tag.
DecodedAudio decodeAviAudio(const AviAudioFormat& format, const uint8_t* chunk, size_t length,
                            std::vector<uint8_t>& pcm);

}  // namespace zelplay
