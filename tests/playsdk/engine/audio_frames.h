// Test helpers: a tone cut into the recorders' audio frames, and what a recording of the
// sound output holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace enginetest {

// The audio frame kinds DecAudioFrame tells apart, each with the output format it gets.
enum class AudioKind {
    Alaw,   // voice frame, 160 words of G.711 A-law: 320 samples, 16-bit 8 kHz
    Adpcm,  // voice frame, 82 words of IMA ADPCM: 321 samples, 16-bit 8 kHz
    Raw8,   // unsigned 8-bit PCM (as recorders write it), heard as signed 8-bit 8 kHz
    Raw16,  // 16-bit PCM of 640 bytes: the 16 kHz class
};

struct AudioClass {
    int bits;
    int rate;
    int samplesPerFrame;  // what one frame decodes to
};
AudioClass audioClass(AudioKind kind);

// A continuous sine tone cut into frames of kind: frame i holds the samples after frame
// i - 1. amplitude is in 16-bit units (8-bit frames take amplitude / 128).
class ToneFrames {
  public:
    ToneFrames(AudioKind kind, double hz, double amplitude = 8000.0);
    // The next frame's payload (one voice frame or raw PCM of rawBytes, 0 = the usual size).
    std::vector<uint8_t> nextPayload(size_t rawBytes = 0);
    // The next frame as an audio frame record (kind 0x61), stamped with the time of its
    // first sample (from 1000 ms on).
    std::vector<uint8_t> nextRecord();

  private:
    double sample();

    AudioKind kind_;
    double hz_;
    double amplitude_;
    int rate_;
    uint64_t at_ = 0;  // samples made so far
    uint32_t records_ = 0;
};

// What a recording of the sound output holds, between its first and its last sound.
struct HeardSound {
    size_t first = 0;         // first sample that is not silence
    size_t length = 0;        // samples from the first to the last that is not silence
    double hz = 0;            // tone frequency, by rising crossings with hysteresis
    size_t longestQuiet = 0;  // longest run of near-silence inside the sound
    double rms(size_t from, size_t count) const;
    std::vector<int> samples;  // centred on 0, in the file's own units
};

// Reads a raw recording of bits mono at rate, in the device's samples: 8-bit signed or
// unsigned, 16-bit signed little-endian.
HeardSound analyseRecording(const std::string& path, int bits, int rate, bool samplesSigned = true);

}  // namespace enginetest
