// The sound of a playback run: decoding, conversion to 48000 Hz stereo signed 16-bit, and the
// hand-over to SDL2's single legacy audio device through a process-wide slot and a small ring
// of chunks waiting to be played.
//
// Threads: a SoundPath belongs to one run and is used on that run's play thread only;
// fill_audio runs on SDL2's audio thread. At most one run in the process holds the device.
#pragma once

#include <SDL.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>

#include "FfmpegPtr.h"

// The sound slot shared by the play thread that holds the device and SDL2's audio thread.
// It holds the chunk the device is playing: only the callback writes it while the device runs,
// taking each chunk from the ring below when the one before runs out. The chunk and position
// are published before the length (release); the length is read first (acquire). A zero length
// means nothing is left of the current chunk.
extern std::atomic<std::uint8_t*> g_audioChunk;  // start of the chunk being played
extern std::atomic<std::uint32_t> g_audioLen;    // bytes of that chunk not yet played
extern std::atomic<std::uint8_t*> g_audioPos;    // next byte to play inside the chunk

// Chunks handed over and not yet begun. The play thread fills the slots in turn, each only
// while its length is zero, chunk first and length last (release); the callback takes them in
// the same order (acquire) and frees a slot by zeroing its length once it has moved the chunk
// into the slot above. A ring lets the callback go on from one chunk into the next within one
// device buffer, so sound stays continuous whatever the chunk size.
struct AudioSlot {
    std::atomic<std::uint8_t*> chunk{nullptr};
    std::atomic<std::uint32_t> len{0};  // zero: free for the play thread
};
inline constexpr unsigned kAudioSlotCount = 4;
extern AudioSlot g_audioSlots[kAudioSlotCount];
extern std::atomic<unsigned> g_audioNextSlot;  // the slot the callback takes next
// Calls of the callback so far: a chunk taken in one call has reached the device by the next.
extern std::atomic<std::uint64_t> g_audioCallbacks;

// The device callback: fills the whole device buffer from the chunks handed over, one after
// the other, and plays silence where nothing is ready.
void fill_audio(void* userdata, Uint8* stream, int len);

// Empties the slot and the ring. Only while the callback cannot run (device closed or
// paused, or no device).
void clearAudioSlots();

namespace monvid {

class SoundPath {
  public:
    static constexpr int kOutputRate = 48000;
    static constexpr int kOutputChannels = 2;
    static constexpr int kOutputBufferBytes = 384000;
    static constexpr int kDeviceSamples = 1024;  // sample frames per device callback
    static constexpr int kDeviceBufferBytes = kDeviceSamples * kOutputChannels * 2;
    // Sound handed over ahead of the device before the play thread waits: enough that a late
    // look by the play thread leaves no gap, little enough that the video keeps close to it.
    static constexpr int kLeadBytes = 3 * kDeviceBufferBytes;

    SoundPath() = default;
    ~SoundPath() { close(); }
    SoundPath(const SoundPath&) = delete;
    SoundPath& operator=(const SoundPath&) = delete;

    // Opens the device for this run and prepares the resampler. False when the device cannot
    // be opened (another run holds it, there is no sound, or SDL has not answered another
    // run's call for seconds): the run then plays silently.
    // The device starts playing once the first kLeadBytes of sound are handed over, so that
    // sound begins without a gap.
    bool open(AVCodecContext* decoder);
    bool isOpen() const { return m_bSoundOpen; }

    // Decodes one audio packet and hands its sound over, waiting while the ring is full or
    // far enough ahead of the device; the wait ends early when keepGoing() turns false.
    void handlePacket(AVCodecContext* decoder, const AVPacket* packet, AVFrame* frame,
                      const std::function<bool()>& keepGoing);

    // At the end of the input: hands over the sound the decoder and the resampler still hold,
    // starts the device if the input was too short to start it, and waits until everything
    // handed over has been played. The wait ends early when keepGoing() turns false, and after
    // the time the waiting sound lasts and a margin in any case.
    void finish(AVCodecContext* decoder, AVFrame* frame, const std::function<bool()>& keepGoing);

    // Closes the device at once (the rest of a chunk being played and the chunks waiting are
    // dropped) and empties the slot and the ring.
    void close();

    // Bytes of the chunk last prepared.
    int chunkBytes() const { return m_nChunkBytes; }

  private:
    // Waits until the slot to fill next is free and less than kLeadBytes wait to be played;
    // false when keepGoing() turned false first. The first wait starts the device.
    bool waitForRoom(const std::function<bool()>& keepGoing);
    // Converts the frame into the buffer after the last one handed over, or (no frame, or a
    // failed conversion) copies the last chunk there, and hands it over. After waitForRoom.
    void handOver(const AVFrame* frame);
    // Unpauses the device (once per run).
    void startDevice();

    bool m_bSoundOpen = false;
    bool m_bDeviceStarted = false;  // the device was unpaused
    bool m_bTriedDevice = false;    // SDL was called on this thread
    SwrPtr m_resampler;
    // Chunks are converted into these buffers in turn, one buffer more than the ring has
    // slots. A slot is free again only once its chunk has begun playing, so the chunk before
    // it is finished; that finished chunk is the one the next buffer in turn last held, and a
    // conversion never writes what the device reads.
    std::array<AvBufferPtr<std::uint8_t>, kAudioSlotCount + 1> m_outputBuffers;
    unsigned m_nNextBuffer = 0;                  // buffer the next chunk is converted into
    unsigned m_nNextSlot = 0;                    // slot the next chunk is handed over in
    const std::uint8_t* m_pLastChunk = nullptr;  // the chunk last prepared (handed over again
                                                 // for a packet without sound)
    int m_nChunkBytes = 0;
};

}  // namespace monvid
