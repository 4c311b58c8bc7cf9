// The sound of a playback run: decoding, conversion to 48000 Hz stereo signed 16-bit, and the
// hand-over to SDL2's single legacy audio device through one process-wide slot.
//
// Threads: a SoundPath belongs to one run and is used on that run's play thread only;
// fill_audio runs on SDL2's audio thread. At most one run in the process holds the device.
#pragma once

#include <SDL.h>

#include <atomic>
#include <cstdint>
#include <functional>

#include "FfmpegPtr.h"

// The sound slot shared by the play thread that holds the device and SDL2's audio thread.
// The producer publishes the chunk and position before the length (release); the callback
// acts only on a non-zero length (acquire) and is the only one to lower it while the device
// runs. A zero length means the slot is free.
extern std::atomic<std::uint8_t*> g_audioChunk;  // start of the chunk last handed over
extern std::atomic<std::uint32_t> g_audioLen;    // bytes of that chunk not yet played
extern std::atomic<std::uint8_t*> g_audioPos;    // next byte to play inside the chunk

// The device callback: plays what is left in the slot, silence where nothing is ready.
void fill_audio(void* userdata, Uint8* stream, int len);

namespace monvid {

class SoundPath {
  public:
    static constexpr int kOutputRate = 48000;
    static constexpr int kOutputChannels = 2;
    static constexpr int kOutputBufferBytes = 384000;
    static constexpr int kDeviceSamples = 1024;  // sample frames per device callback

    SoundPath() = default;
    ~SoundPath() { close(); }
    SoundPath(const SoundPath&) = delete;
    SoundPath& operator=(const SoundPath&) = delete;

    // Opens the device for this run and prepares the resampler. False when the device cannot
    // be opened (another run holds it, or there is no sound): the run then plays silently.
    bool open(AVCodecContext* decoder);
    bool isOpen() const { return m_bSoundOpen; }

    // Decodes one audio packet and hands its sound over, waiting while the slot is still full;
    // the wait ends early when keepGoing() turns false.
    void handlePacket(AVCodecContext* decoder, const AVPacket* packet, AVFrame* frame,
                      const std::function<bool()>& keepGoing);

    // Closes the device at once (the rest of a chunk being played is dropped) and empties
    // the slot.
    void close();

    // Bytes of the chunk last prepared.
    int chunkBytes() const { return m_nChunkBytes; }

  private:
    void handOver(const std::function<bool()>& keepGoing);

    bool m_bSoundOpen = false;
    bool m_bTriedDevice = false;  // SDL was called on this thread
    SwrPtr m_resampler;
    AvBufferPtr<std::uint8_t> m_outputBuffer;
    int m_nChunkBytes = 0;
};

}  // namespace monvid
