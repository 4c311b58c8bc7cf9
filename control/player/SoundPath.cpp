#include "SoundPath.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>

std::atomic<std::uint8_t*> g_audioChunk{nullptr};
std::atomic<std::uint32_t> g_audioLen{0};
std::atomic<std::uint8_t*> g_audioPos{nullptr};
AudioSlot g_audioSlots[kAudioSlotCount];
std::atomic<unsigned> g_audioNextSlot{0};
std::atomic<std::uint64_t> g_audioCallbacks{0};

namespace {
// SDL's legacy audio calls are not made for concurrent callers: starting SDL, opening and
// closing the device by different play threads take turns. A turn is a flag under a lock
// rather than a held lock, so that a run whose turn does not come (SDL stuck in its start,
// below) can give up and play on without sound.
std::mutex g_deviceTurnLock;  // guards g_deviceTurnTaken
std::condition_variable g_deviceTurnFree;
bool g_deviceTurnTaken = false;
constexpr auto kDeviceTurnWait = std::chrono::seconds(3);

class DeviceTurn {
  public:
    // Waits for the turn as long as it takes.
    DeviceTurn() {
        std::unique_lock lock(g_deviceTurnLock);
        g_deviceTurnFree.wait(lock, [] { return !g_deviceTurnTaken; });
        g_deviceTurnTaken = m_held = true;
    }
    // Waits for the turn at most `wait`; held() says whether it came.
    explicit DeviceTurn(std::chrono::milliseconds wait) {
        std::unique_lock lock(g_deviceTurnLock);
        m_held = g_deviceTurnFree.wait_for(lock, wait, [] { return !g_deviceTurnTaken; });
        if (m_held)
            g_deviceTurnTaken = true;
    }
    ~DeviceTurn() {
        if (!m_held)
            return;
        {
            std::lock_guard lock(g_deviceTurnLock);
            g_deviceTurnTaken = false;
        }
        g_deviceTurnFree.notify_one();
    }
    DeviceTurn(const DeviceTurn&) = delete;
    DeviceTurn& operator=(const DeviceTurn&) = delete;
    bool held() const { return m_held; }

  private:
    bool m_held = false;
};

// SDL's audio is started once and kept, never quit by the wall: a host may use SDL itself,
// and each start looks for a D-Bus session bus, which without one means libdbus forking a
// helper from this multithreaded process (a child that can hang on a lock another thread
// held). SDL's SIGINT and SIGTERM handlers stay out: the signals are the host's, unless the
// host chose otherwise through the hint. Needs a DeviceTurn.
bool startSdlAudio() {
    if (SDL_WasInit(SDL_INIT_AUDIO) != 0)
        return true;
    SDL_SetHintWithPriority(SDL_HINT_NO_SIGNAL_HANDLERS, "1", SDL_HINT_DEFAULT);
    return SDL_InitSubSystem(SDL_INIT_TIMER | SDL_INIT_AUDIO) == 0;
}

// Bytes handed over and not yet played. Only a pace: read loosely.
std::uint64_t waitingBytes() {
    std::uint64_t bytes = g_audioLen.load(std::memory_order_relaxed);
    for (const AudioSlot& slot : g_audioSlots)
        bytes += slot.len.load(std::memory_order_relaxed);
    return bytes;
}

// Moves the next chunk handed over into the slot of the chunk being played and frees its
// ring slot. False when nothing was handed over. Audio thread.
bool takeNextChunk() {
    const unsigned next = g_audioNextSlot.load(std::memory_order_relaxed);
    AudioSlot& slot = g_audioSlots[next];
    const std::uint32_t len = slot.len.load(std::memory_order_acquire);
    if (len == 0)
        return false;
    std::uint8_t* chunk = slot.chunk.load(std::memory_order_relaxed);
    g_audioChunk.store(chunk, std::memory_order_relaxed);
    g_audioPos.store(chunk, std::memory_order_relaxed);
    g_audioLen.store(len, std::memory_order_release);
    g_audioNextSlot.store((next + 1) % kAudioSlotCount, std::memory_order_relaxed);
    // Last: the play thread may fill the slot again from here on.
    slot.len.store(0, std::memory_order_release);
    return true;
}
}  // namespace

void fill_audio(void* /*userdata*/, Uint8* stream, int len) {
    g_audioCallbacks.fetch_add(1, std::memory_order_release);
    try {
        SDL_memset(stream, 0, static_cast<std::size_t>(len));
        const auto want = static_cast<std::uint32_t>(len);
        std::uint32_t filled = 0;
        while (filled < want) {
            const std::uint32_t left = g_audioLen.load(std::memory_order_acquire);
            if (left == 0) {
                if (!takeNextChunk())
                    return;  // nothing more is ready: the rest stays silent
                continue;
            }
            const std::uint32_t n = std::min(want - filled, left);
            std::uint8_t* pos = g_audioPos.load(std::memory_order_relaxed);
            SDL_MixAudio(stream + filled, pos, n, SDL_MIX_MAXVOLUME);
            g_audioPos.store(pos + n, std::memory_order_relaxed);
            g_audioLen.fetch_sub(n, std::memory_order_release);
            filled += n;
        }
    } catch (...) {
        std::fputs("fill_audio err\n", stderr);
    }
}

void clearAudioSlots() {
    for (AudioSlot& slot : g_audioSlots) {
        slot.len.store(0, std::memory_order_relaxed);
        slot.chunk.store(nullptr, std::memory_order_relaxed);
    }
    g_audioNextSlot.store(0, std::memory_order_relaxed);
    g_audioLen.store(0, std::memory_order_release);
    g_audioPos.store(nullptr, std::memory_order_relaxed);
    g_audioChunk.store(nullptr, std::memory_order_relaxed);
}

namespace monvid {

bool SoundPath::open(AVCodecContext* decoder) {
    m_nChunkBytes = std::min(av_samples_get_buffer_size(nullptr, kOutputChannels,
                                                        decoder->frame_size, AV_SAMPLE_FMT_S16, 1),
                             kOutputBufferBytes);
    // Zeroed: a packet that yields no samples hands the previous chunk over again, and before
    // the first chunk that must be silence, not whatever the allocator left there.
    for (AvBufferPtr<std::uint8_t>& buffer : m_outputBuffers) {
        buffer.reset(static_cast<std::uint8_t*>(av_mallocz(kOutputBufferBytes)));
        if (!buffer)
            return false;
    }
    m_nNextBuffer = 0;
    m_nNextSlot = 0;
    m_pLastChunk = m_outputBuffers.back().get();

    const DeviceTurn turn(kDeviceTurnWait);
    if (!turn.held())
        return false;
    m_bTriedDevice = true;
    if (!startSdlAudio())
        return false;
    SDL_AudioSpec wanted{};
    wanted.freq = kOutputRate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = kOutputChannels;
    wanted.silence = 0;
    wanted.samples = static_cast<Uint16>(std::max(kDeviceSamples, 2 << av_log2(kOutputRate / 60)));
    wanted.callback = fill_audio;
    wanted.userdata = decoder;
    if (SDL_OpenAudio(&wanted, nullptr) < 0)
        return false;
    m_bSoundOpen = true;
    m_bDeviceStarted = false;
    // The device starts paused: the callback does not run until waitForRoom unpauses it.
    clearAudioSlots();

    AVChannelLayout inputLayout{};
    av_channel_layout_default(&inputLayout, decoder->ch_layout.nb_channels);
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    SwrContext* resampler = nullptr;
    if (swr_alloc_set_opts2(&resampler, &stereo, AV_SAMPLE_FMT_S16, kOutputRate, &inputLayout,
                            decoder->sample_fmt, decoder->sample_rate, 0, nullptr) == 0)
        m_resampler.reset(resampler);
    av_channel_layout_uninit(&inputLayout);
    if (m_resampler)
        swr_init(m_resampler.get());
    return true;
}

void SoundPath::handlePacket(AVCodecContext* decoder, const AVPacket* packet, AVFrame* frame,
                             const std::function<bool()>& keepGoing) {
    if (avcodec_send_packet(decoder, packet) < 0) {
        std::printf("Error in decoding audio frame.\n");
        return;
    }
    bool delivered = false;
    for (;;) {
        const int got = avcodec_receive_frame(decoder, frame);
        if (got == AVERROR(EAGAIN) || got == AVERROR_EOF)
            break;
        if (got < 0) {
            std::printf("Error in decoding audio frame.\n");
            return;
        }
        delivered = true;
        const bool room = waitForRoom(keepGoing);
        if (room)
            handOver(frame);
        av_frame_unref(frame);
        if (!room || !keepGoing())
            return;
    }
    // A packet without samples hands the previous chunk over again.
    if (!delivered && m_nChunkBytes > 0 && waitForRoom(keepGoing))
        handOver(nullptr);
}

bool SoundPath::waitForRoom(const std::function<bool()>& keepGoing) {
    // Only the free slot orders memory; the byte count is a pace.
    while (g_audioSlots[m_nNextSlot].len.load(std::memory_order_acquire) != 0 ||
           waitingBytes() >= static_cast<std::uint64_t>(kLeadBytes)) {
        // Enough is handed over to play on while the run reads on.
        startDevice();
        if (!keepGoing())
            return false;
        SDL_Delay(1);
    }
    return true;
}

void SoundPath::startDevice() {
    if (m_bDeviceStarted)
        return;
    // Only the run that holds the device starts it, and SDL locks the device for this itself.
    SDL_PauseAudio(0);
    m_bDeviceStarted = true;
}

void SoundPath::finish(AVCodecContext* decoder, AVFrame* frame,
                       const std::function<bool()>& keepGoing) {
    if (!m_bSoundOpen || !keepGoing())
        return;
    // The decoder's last frames.
    if (avcodec_send_packet(decoder, nullptr) >= 0) {
        while (keepGoing() && avcodec_receive_frame(decoder, frame) >= 0) {
            const bool room = waitForRoom(keepGoing);
            if (room)
                handOver(frame);
            av_frame_unref(frame);
            if (!room)
                return;
        }
    }
    const std::uint64_t left = waitingBytes();
    if (left == 0 && !m_bDeviceStarted)
        return;  // nothing was ever handed over
    startDevice();
    // Played out: nothing waits, and the callback has run again since the last chunk was
    // taken, so that chunk has gone to the device.
    constexpr std::uint64_t kBytesPerSecond = kOutputRate * kOutputChannels * 2;
    const Uint32 limitMs = static_cast<Uint32>(left * 1000 / kBytesPerSecond) + 500;
    const Uint32 start = SDL_GetTicks();
    std::uint64_t emptySince = 0;
    bool empty = false;
    while (keepGoing() && SDL_GetTicks() - start < limitMs) {
        const std::uint64_t calls = g_audioCallbacks.load(std::memory_order_acquire);
        if (waitingBytes() != 0) {
            empty = false;
        } else if (!empty) {
            empty = true;
            emptySince = calls;
        } else if (calls >= emptySince + 2) {
            return;
        }
        SDL_Delay(1);
    }
}

void SoundPath::handOver(const AVFrame* frame) {
    std::uint8_t* out = m_outputBuffers[m_nNextBuffer].get();
    bool converted = false;
    if (frame && m_resampler && swr_is_initialized(m_resampler.get())) {
        std::uint8_t* planes[1] = {out};
        const int frames =
            swr_convert(m_resampler.get(), planes, kOutputBufferBytes / 4,
                        const_cast<const std::uint8_t**>(frame->extended_data), frame->nb_samples);
        if (frames >= 0) {
            m_nChunkBytes = frames * kOutputChannels * 2;
            converted = true;
        }
    }
    // Otherwise the previous chunk is played again; the device may still be reading it, so
    // it is copied rather than handed over twice.
    if (!converted && m_nChunkBytes > 0)
        std::memcpy(out, m_pLastChunk, static_cast<std::size_t>(m_nChunkBytes));
    if (m_nChunkBytes <= 0)
        return;
    m_pLastChunk = out;
    m_nNextBuffer = (m_nNextBuffer + 1) % m_outputBuffers.size();

    AudioSlot& slot = g_audioSlots[m_nNextSlot];
    slot.chunk.store(out, std::memory_order_relaxed);
    std::printf("out_buffer_size:%d\n", m_nChunkBytes);
    slot.len.store(static_cast<std::uint32_t>(m_nChunkBytes), std::memory_order_release);
    m_nNextSlot = (m_nNextSlot + 1) % kAudioSlotCount;
}

void SoundPath::close() {
    if (m_bSoundOpen) {
        const DeviceTurn turn;  // the device is open: SDL has started, turns are short
        SDL_CloseAudio();       // the callback has stopped when this returns
        clearAudioSlots();
        m_bSoundOpen = false;
        m_bDeviceStarted = false;
    }
    m_resampler.reset();
    m_pLastChunk = nullptr;
    for (AvBufferPtr<std::uint8_t>& buffer : m_outputBuffers)
        buffer.reset();
    // SDL keeps its error texts per thread; a play thread is not SDL's own, so what SDL kept
    // for it is released here (on the run's thread, where close is called).
    if (m_bTriedDevice) {
        SDL_TLSCleanup();
        m_bTriedDevice = false;
    }
}

}  // namespace monvid
