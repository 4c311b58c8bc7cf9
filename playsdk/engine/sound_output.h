// The sound output of a port: 8-bit or 16-bit signed mono PCM (the voice codec turns raw
// unsigned 8-bit samples into signed ones) pushed buffer by buffer to the platform's audio
// device. createSoundOutput() picks a backend (SDL, else the
// null output, which plays nothing).
//
// Life of an output: create -> setFormat -> start -> writePcm ... -> stop -> destroy. The
// format can change only before start. An output that is started but not audible holds no
// device: only the port that is heard opens one (setAudible), so a process with many ports
// receiving audio holds one audio stream, not one per port.
//
// Buffers: each writePcm takes one buffer of at most kSoundBufferBytes (longer PCM is cut to
// that size). At most kSoundBuffers buffers wait to be played; while that many wait,
// writePcm refuses the PCM with kSoundFull and msUntilRoom() says when the oldest will have
// been played. The writer then waits and writes again, so a producer running ahead of real
// time is held back to the device's pace and nothing it wrote is dropped (the port gives a
// frame up only when the device has taken nothing for seconds). PCM written to a
// device that has nothing left to play is preceded by a short lead of silence (100 ms,
// which takes a buffer of its own), so that PCM fed at the pace of real time does not run
// dry between frames.
//
// Thread contract: every method is called under the owning port's sound lock, so one port's
// output is never used by two threads at once. The backend adds no locking of its own
// beyond what it shares with other outputs (the audio subsystem).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace zelplay {

inline constexpr int kSoundBuffers = 30;
inline constexpr size_t kSoundBufferBytes = 16384;

// writePcm results.
inline constexpr int kSoundWritten = 0;
inline constexpr int kSoundDropped = 1;  // no device to take it (not started, not audible)
inline constexpr int kSoundFull = 2;     // kSoundBuffers wait already; write again later

// What an output is doing, for tests and benchmarks.
struct SoundOutputState {
    bool deviceOpen = false;
    int bits = 0;               // format of the open device
    bool samplesSigned = true;  // how the device takes its samples
    int rate = 0;               // Hz
    int buffersWaiting = 0;     // written, not yet played
    size_t bytesWaiting = 0;    // of those, bytes the device has not taken yet
    unsigned volumePercent = 100;
};

class SoundOutput {
  public:
    virtual ~SoundOutput() = default;
    // Each returns 0 on success.
    virtual int create() = 0;
    // 0 = done, 1 = refused (started already, no output created, or a format that is not
    // soundFormatPlayable).
    virtual int setFormat(int bitsPerSample, int sampleRate) = 0;
    // Opens the device when the output is audible.
    virtual int start() = 0;
    // Whether this output is the one heard. Kept across create and destroy; turning it on
    // opens the device of a started output, turning it off closes it.
    virtual int setAudible(bool audible) = 0;
    // kSoundWritten, kSoundDropped or kSoundFull (see above).
    virtual int writePcm(const uint8_t* pcm, size_t bytes) = 0;
    // After kSoundFull: milliseconds until a buffer will be free (at least 1).
    virtual uint32_t msUntilRoom() = 0;
    // percent 0..100, applied as a gain to the PCM written from now on; above 100 changes
    // nothing and returns 1.
    virtual int setVolume(unsigned percent) = 0;
    // Silences at once: what waits to be played is dropped and the device is closed.
    virtual int stop() = 0;
    virtual void destroy() = 0;
    virtual SoundOutputState state() = 0;
};

std::unique_ptr<SoundOutput> createNullSoundOutput();
std::unique_ptr<SoundOutput> createSdlSoundOutput();
// Audio devices the SDL outputs of this process hold open.
int sdlSoundDevicesOpen();
// Whether SDL's audio subsystem starts in this process (a driver is there to take sound).
bool sdlAudioAvailable();

// The output a new port gets: ZELPLAY_SOUND_OUTPUT=sdl|null forces a backend; otherwise
// SDL when its audio subsystem starts in this process, else null.
std::unique_ptr<SoundOutput> createSoundOutput();
// Replaces the choice (tests); null restores it. Returns the previous factory.
using SoundOutputFactory = std::unique_ptr<SoundOutput> (*)();
SoundOutputFactory setSoundOutputFactory(SoundOutputFactory factory);

// The formats every output plays: 8 or 16 bits at 4 000 to 192 000 Hz. Below that a device
// period lasts seconds, and closing the device waits that long for its thread.
inline constexpr int kMinSoundRate = 4000;
inline constexpr int kMaxSoundRate = 192000;
inline bool soundFormatPlayable(int bitsPerSample, int sampleRate) {
    return (bitsPerSample == 8 || bitsPerSample == 16) && sampleRate >= kMinSoundRate &&
           sampleRate <= kMaxSoundRate;
}

// The port volume 0..65535 as a percent: trunc(v * (1 / 65535) * 100).
unsigned volumePercent(uint16_t volume);

}  // namespace zelplay
