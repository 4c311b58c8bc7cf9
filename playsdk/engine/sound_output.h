// The sound output of a port: 8- or 16-bit mono PCM pushed buffer by buffer to the
// platform's audio device. createSoundOutput() picks a backend, ending with the null
// output (which plays nothing).
//
// Thread contract: create, setFormat, start, setVolume, stop and destroy are called under
// the port's sound lock; writePcm is called without it, by the thread that decoded the
// audio, and never blocks for long.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace zelplay {

class SoundOutput {
  public:
    virtual ~SoundOutput() = default;
    // Each returns 0 on success.
    virtual int create() = 0;
    // 0 = done, 1 = refused (the output is already running in another format).
    virtual int setFormat(int bitsPerSample, int sampleRate) = 0;
    virtual int start() = 0;
    virtual int writePcm(const uint8_t* pcm, size_t bytes) = 0;
    // percent 0..100; above 100 changes nothing and returns 1.
    virtual int setVolume(unsigned percent) = 0;
    virtual int stop() = 0;
    virtual void destroy() = 0;
};

std::unique_ptr<SoundOutput> createNullSoundOutput();
std::unique_ptr<SoundOutput> createSoundOutput();

// The port volume 0..65535 as a percent: trunc(v * (1 / 65535) * 100).
unsigned volumePercent(uint16_t volume);

}  // namespace zelplay
