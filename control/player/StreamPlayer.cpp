#include "StreamPlayer.h"

#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "FfmpegPtr.h"
#include "PlayOptions.h"
#include "ShowVideoDlg.h"
#include "SoundPath.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libavutil/time.h>
}

namespace {

using namespace monvid;

constexpr int kStartGateWaitMs = 3000;  // a visible window that still plays waits this long

std::int64_t wallClockUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Sleeps up to `us` microseconds in short slices; returns early when `keepGoing` turns false.
template <typename Pred>
void sleepWhile(std::int64_t us, Pred keepGoing) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(us);
    while (keepGoing()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= until)
            return;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            until - now, std::chrono::milliseconds(10)));
    }
}

// Everything one run works with, released in reverse order when the run leaves.
class Run {
  public:
    Run(CShowVideoDlg& window, const std::atomic<bool>& quit) : window_(window), quit_(quit) {}

    bool play(const std::string& address);

  private:
    bool keepGoing() const { return window_.m_bPlaying.load() && !quit_.load(); }
    // A failed run clears m_bPlaying when the window is visible.
    bool fail() {
        if (window_.isShownForPlay())
            window_.setPlayingFromRun(quit_, false);
        return false;
    }
    static int interrupted(void* opaque) { return static_cast<Run*>(opaque)->keepGoing() ? 0 : 1; }

    void decodeVideo(const AVPacket* packet);
    void present(AVFrame* frame);
    bool makePictureBuffer(int width, int height);

    CShowVideoDlg& window_;
    const std::atomic<bool>& quit_;

    FormatInputPtr format_;
    CodecContextPtr videoDecoder_;
    CodecContextPtr audioDecoder_;
    FramePtr decoded_;
    FramePtr picture_;
    AvBufferPtr<uint8_t> pictureBuffer_;
    PacketPtr packet_;
    int videoIndex_ = -1;
    int audioIndex_ = -1;
    int bufferWidth_ = 0;
    int bufferHeight_ = 0;
    int presentedWidth_ = 0;
    bool paced_ = false;  // stored inputs are paced by their time stamps
    AVRational videoTimeBase_{1, AV_TIME_BASE};
    PresentationClock clock_;
    SoundPath sound_;  // released before the decoders it reads from
};

void initNetworkOnce() {
    static std::once_flag once;
    std::call_once(once, [] { avformat_network_init(); });
}

bool Run::play(const std::string& address) {
    // Start gate: a visible window whose flag is still set gives the run before it time to end.
    // A stop cuts the wait short; the window then keeps the flag clear.
    if (window_.isShownForPlay() && window_.m_bPlaying.load())
        sleepWhile(static_cast<std::int64_t>(kStartGateWaitMs) * 1000,
                   [&] { return !quit_.load() && !window_.stopRequested(); });
    if (window_.isShownForPlay())
        window_.setPlayingFromRun(quit_, true);

    initNetworkOnce();
    format_.reset(avformat_alloc_context());
    decoded_.reset(av_frame_alloc());
    picture_.reset(av_frame_alloc());
    if (!format_ || !decoded_ || !picture_)
        return fail();
    Dict options;
    for (const auto& [key, value] : openOptionsFor(address))
        av_dict_set(options.out(), key.c_str(), value.c_str(), 0);

    if (!keepGoing())
        return false;

    // Blocking reads of network inputs end as soon as the run is told to stop.
    format_->interrupt_callback.callback = &Run::interrupted;
    format_->interrupt_callback.opaque = this;
    AVFormatContext* opened = format_.release();
    if (avformat_open_input(&opened, address.c_str(), nullptr, options.out()) != 0)
        return fail();
    format_.reset(opened);
    if (!keepGoing())
        return fail();

    // The first stream gets what the opening left of the options; the others none.
    {
        std::vector<AVDictionary*> streamOptions(format_->nb_streams, nullptr);
        if (!streamOptions.empty())
            av_dict_copy(&streamOptions[0], options.get(), 0);
        const int found = avformat_find_stream_info(
            format_.get(), streamOptions.empty() ? nullptr : streamOptions.data());
        for (AVDictionary*& d : streamOptions)
            av_dict_free(&d);
        if (found < 0)
            return fail();
    }

    // The last video stream and the last audio stream are the ones played.
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
        const AVMediaType type = format_->streams[i]->codecpar->codec_type;
        if (type == AVMEDIA_TYPE_VIDEO)
            videoIndex_ = static_cast<int>(i);
        if (type == AVMEDIA_TYPE_AUDIO)
            audioIndex_ = static_cast<int>(i);
    }
    if (videoIndex_ < 0)
        return fail();

    const AVStream* videoStream = format_->streams[videoIndex_];
    const AVCodec* videoCodec = avcodec_find_decoder(videoStream->codecpar->codec_id);
    const AVCodec* audioCodec =
        audioIndex_ >= 0 ? avcodec_find_decoder(format_->streams[audioIndex_]->codecpar->codec_id)
                         : nullptr;
    if (!videoCodec)
        return fail();
    videoDecoder_.reset(avcodec_alloc_context3(videoCodec));
    if (!videoDecoder_ ||
        avcodec_parameters_to_context(videoDecoder_.get(), videoStream->codecpar) < 0)
        return fail();
    videoDecoder_->pkt_timebase = videoStream->time_base;
    videoTimeBase_ = videoStream->time_base;
    if (avcodec_open2(videoDecoder_.get(), videoCodec, nullptr) < 0)
        return fail();

    if (audioIndex_ >= 0) {
        int opened = -1;
        if (audioCodec) {
            audioDecoder_.reset(avcodec_alloc_context3(audioCodec));
            if (audioDecoder_ &&
                avcodec_parameters_to_context(audioDecoder_.get(),
                                              format_->streams[audioIndex_]->codecpar) >= 0)
                opened = avcodec_open2(audioDecoder_.get(), audioCodec, nullptr);
        }
        if (opened < 0) {
            char reason[256];
            av_strerror(opened, reason, sizeof reason);  // kept for a debugger; shown nowhere
            audioDecoder_.reset();
            audioIndex_ = -1;
        }
    }

    decoded_.reset(av_frame_alloc());
    packet_.reset(av_packet_alloc());
    if (!decoded_ || !packet_)
        return fail();
    if (audioIndex_ >= 0 && sound_.open(audioDecoder_.get()))
        window_.m_counters.soundOpened.fetch_add(1, std::memory_order_relaxed);
    // With sound, the device's pace holds the run back; a stored input without sound is paced
    // by its own time stamps; live input is shown as it arrives.
    paced_ = !isLiveAddress(address) && !sound_.isOpen();
    const std::function<bool()> keepGoingFn = [this] { return keepGoing(); };
    makePictureBuffer(videoDecoder_->width, videoDecoder_->height);

    int read = keepGoing() ? av_read_frame(format_.get(), packet_.get()) : -1;
    while (read >= 0 && keepGoing()) {
        if (packet_->stream_index == videoIndex_)
            decodeVideo(packet_.get());
        else if (packet_->stream_index == audioIndex_ && sound_.isOpen())
            sound_.handlePacket(audioDecoder_.get(), packet_.get(), decoded_.get(), keepGoingFn);
        av_packet_unref(packet_.get());
        read = av_read_frame(format_.get(), packet_.get());
    }
    av_packet_unref(packet_.get());
    // At the end of the input the decoder gives up the pictures it still holds.
    if (read == AVERROR_EOF && keepGoing())
        decodeVideo(nullptr);

    sound_.close();
    window_.setPlayingFromRun(quit_, false);
    return true;
}

bool Run::makePictureBuffer(int width, int height) {
    pictureBuffer_.reset();
    bufferWidth_ = bufferHeight_ = 0;
    const int size =
        width > 0 && height > 0 ? av_image_get_buffer_size(AV_PIX_FMT_BGRA, width, height, 1) : -1;
    if (size <= 0)
        return false;
    pictureBuffer_.reset(static_cast<uint8_t*>(av_malloc(static_cast<std::size_t>(size))));
    if (!pictureBuffer_)
        return false;
    av_image_fill_arrays(picture_->data, picture_->linesize, pictureBuffer_.get(), AV_PIX_FMT_BGRA,
                         width, height, 1);
    bufferWidth_ = width;
    bufferHeight_ = height;
    return true;
}

void Run::decodeVideo(const AVPacket* packet) {
    if (avcodec_send_packet(videoDecoder_.get(), packet) < 0 && packet)
        return;
    while (keepGoing() && avcodec_receive_frame(videoDecoder_.get(), decoded_.get()) == 0) {
        window_.m_counters.decoded.fetch_add(1, std::memory_order_relaxed);
        present(decoded_.get());
        av_frame_unref(decoded_.get());
    }
}

void Run::present(AVFrame* frame) {
    // An input whose size was not known when the stream information was read gets its
    // picture buffer at its first picture.
    if (!pictureBuffer_ && presentedWidth_ == 0)
        makePictureBuffer(frame->width, frame->height);
    const bool sameWidth = presentedWidth_ == 0 || frame->width == presentedWidth_;
    if (!sameWidth || frame->width != bufferWidth_ || frame->height != bufferHeight_) {
        window_.m_counters.dropped.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
    if (!desc)
        return;

    if (paced_) {
        const std::int64_t pts = frame->best_effort_timestamp;
        const std::int64_t ptsUs =
            pts == AV_NOPTS_VALUE ? INT64_MIN : av_rescale_q(pts, videoTimeBase_, AV_TIME_BASE_Q);
        sleepWhile(clock_.delayUs(ptsUs, wallClockUs()), [&] { return keepGoing(); });
        if (!keepGoing())
            return;
    }

    const int width = frame->width, height = frame->height;
    SwsPtr scaler(sws_getContext(width, height, static_cast<AVPixelFormat>(frame->format), width,
                                 height, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!scaler)
        return;

    // Address the source bottom row first so that the BGRA rows come out bottom-up. Each
    // plane is walked over its own row count: chroma planes of subsampled formats have fewer.
    const uint8_t* source[4] = {};
    int sourceStride[4] = {};
    const bool planarChroma =
        (desc->flags & AV_PIX_FMT_FLAG_PLANAR) && !(desc->flags & AV_PIX_FMT_FLAG_RGB);
    for (int plane = 0; plane < 4 && frame->data[plane]; ++plane) {
        int rows = height;
        if (planarChroma && (plane == 1 || plane == 2))
            rows = AV_CEIL_RSHIFT(height, desc->log2_chroma_h);
        source[plane] =
            frame->data[plane] + static_cast<std::ptrdiff_t>(rows - 1) * frame->linesize[plane];
        sourceStride[plane] = -frame->linesize[plane];
    }
    sws_scale(scaler.get(), source, sourceStride, 0, height, picture_->data, picture_->linesize);
    presentedWidth_ = width;

    if (window_.isShownForPlay() && !quit_.load())
        window_.ShowPicture(picture_.get(), width, height, 0, 32);
    else
        window_.m_counters.dropped.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

bool CStreamPlayer::Play(const std::string& address, const std::atomic<bool>& quit) {
    Run run(m_window, quit);
    return run.play(address);
}
