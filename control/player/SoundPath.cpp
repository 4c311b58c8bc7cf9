#include "SoundPath.h"

#include <cstdio>
#include <exception>
#include <mutex>

std::atomic<std::uint8_t*> g_audioChunk{nullptr};
std::atomic<std::uint32_t> g_audioLen{0};
std::atomic<std::uint8_t*> g_audioPos{nullptr};

namespace {
// SDL's legacy audio calls are not made for concurrent callers: opening, closing, SDL_Init
// and SDL_Quit by different play threads are serialised here.
std::mutex g_soundDeviceLock;
}  // namespace

void fill_audio(void* /*userdata*/, Uint8* stream, int len) {
    try {
        SDL_memset(stream, 0, static_cast<std::size_t>(len));
        const std::uint32_t left = g_audioLen.load(std::memory_order_acquire);
        if (left == 0)
            return;
        const std::uint32_t n = std::min<std::uint32_t>(static_cast<std::uint32_t>(len), left);
        std::uint8_t* pos = g_audioPos.load(std::memory_order_relaxed);
        SDL_MixAudio(stream, pos, n, SDL_MIX_MAXVOLUME);
        g_audioPos.store(pos + n, std::memory_order_relaxed);
        g_audioLen.fetch_sub(n, std::memory_order_release);
    } catch (...) {
        std::fputs("fill_audio err\n", stderr);
    }
}

namespace monvid {

bool SoundPath::open(AVCodecContext* decoder) {
    m_nChunkBytes = av_samples_get_buffer_size(nullptr, kOutputChannels, decoder->frame_size,
                                               AV_SAMPLE_FMT_S16, 1);
    // Zeroed: a packet that yields no samples hands the previous chunk over again, and before
    // the first chunk that must be silence, not whatever the allocator left there.
    m_outputBuffer.reset(static_cast<std::uint8_t*>(av_mallocz(kOutputBufferBytes)));
    if (!m_outputBuffer)
        return false;

    std::lock_guard lock(g_soundDeviceLock);
    m_bTriedDevice = true;
    SDL_Init(SDL_INIT_TIMER | SDL_INIT_AUDIO);
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
    SDL_PauseAudio(0);
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
        if (m_resampler && swr_is_initialized(m_resampler.get())) {
            std::uint8_t* out = m_outputBuffer.get();
            const int frames = swr_convert(m_resampler.get(), &out, kOutputBufferBytes / 4,
                                           const_cast<const std::uint8_t**>(frame->extended_data),
                                           frame->nb_samples);
            if (frames >= 0)
                m_nChunkBytes = frames * kOutputChannels * 2;
        }
        av_frame_unref(frame);
        handOver(keepGoing);
        if (!keepGoing())
            return;
    }
    // A packet without samples hands the previous chunk over again.
    if (!delivered)
        handOver(keepGoing);
}

void SoundPath::handOver(const std::function<bool()>& keepGoing) {
    if (m_nChunkBytes <= 0)
        return;
    while (g_audioLen.load(std::memory_order_acquire) != 0) {
        if (!keepGoing())
            return;
        SDL_Delay(1);
    }
    g_audioChunk.store(m_outputBuffer.get(), std::memory_order_relaxed);
    std::printf("out_buffer_size:%d\n", m_nChunkBytes);
    g_audioPos.store(m_outputBuffer.get(), std::memory_order_relaxed);
    g_audioLen.store(static_cast<std::uint32_t>(m_nChunkBytes), std::memory_order_release);
}

void SoundPath::close() {
    if (m_bSoundOpen) {
        std::lock_guard lock(g_soundDeviceLock);
        SDL_CloseAudio();  // the callback has stopped when this returns
        SDL_Quit();
        g_audioLen.store(0, std::memory_order_release);
        g_audioPos.store(nullptr, std::memory_order_relaxed);
        g_audioChunk.store(nullptr, std::memory_order_relaxed);
        m_bSoundOpen = false;
    }
    m_resampler.reset();
    m_outputBuffer.reset();
    // SDL keeps its error texts per thread; a play thread is not SDL's own, so what SDL kept
    // for it is released here (on the run's thread, where close is called).
    if (m_bTriedDevice) {
        SDL_TLSCleanup();
        m_bTriedDevice = false;
    }
}

}  // namespace monvid
