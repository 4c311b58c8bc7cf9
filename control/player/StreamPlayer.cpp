#include "StreamPlayer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "FfmpegPtr.h"
#include "LatencyCap.h"
#include "PictureConverter.h"
#include "PlayOptions.h"
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

// Sleeps up to `us` microseconds in slices of at most kSleepSlice (about one picture of a
// 25 fps file, so that pacing wakes once a picture); returns early when `keepGoing` turns
// false.
constexpr auto kSleepSlice = std::chrono::milliseconds(40);
template <typename Pred>
void sleepWhile(std::int64_t us, Pred keepGoing) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(us);
    while (keepGoing()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= until)
            return;
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(until - now, kSleepSlice));
    }
}

// Everything one run works with, released in reverse order when the run leaves.
class Run {
  public:
    Run(IPlayWindow& window, const std::atomic<bool>& quit)
        : window_(window), counters_(window.counters()), quit_(quit), cap_(window.maxDelayMs()) {}

    bool play(const std::string& address);
    RunOutcome outcome() const;

  private:
    bool keepGoing() const { return window_.isPlaying() && !quit_.load(); }
    // A failed run clears m_bPlaying when the window is visible.
    bool fail(int error) {
        error_ = error;
        stopped_ = !keepGoing();
        if (window_.isShownForPlay())
            window_.setPlayingFromRun(quit_, false);
        return false;
    }
    static int interrupted(void* opaque) { return static_cast<Run*>(opaque)->interrupt() ? 1 : 0; }
    bool interrupt();

    void handleVideoPacket(const AVPacket* packet);
    void decodeVideo(const AVPacket* packet);
    void present(AVFrame* frame);
    void dropPicture(std::atomic<std::uint64_t>& reason) {
        reason.fetch_add(1, std::memory_order_relaxed);
        counters_.dropped.fetch_add(1, std::memory_order_relaxed);
    }
    std::int64_t toUs(std::int64_t ts) const {
        return ts == AV_NOPTS_VALUE ? LatencyCap::kNoTime
                                    : av_rescale_q(ts, videoTimeBase_, AV_TIME_BASE_Q);
    }

    IPlayWindow& window_;
    PlayCounters& counters_;
    const std::atomic<bool>& quit_;

    FormatInputPtr format_;
    CodecContextPtr videoDecoder_;
    CodecContextPtr audioDecoder_;
    FramePtr decoded_;
    PacketPtr packet_;
    int videoIndex_ = -1;
    int audioIndex_ = -1;
    int firstWidth_ = 0;   // size of the run's pictures: the decoder's once the stream information
    int firstHeight_ = 0;  // was read, or the first picture's when that was not known
    int presentedWidth_ = 0;
    bool live_ = false;
    bool paced_ = false;  // stored inputs are paced by their time stamps
    AVRational videoTimeBase_{1, AV_TIME_BASE};
    PresentationClock clock_;
    LatencyCap cap_;
    PictureConverter converter_;
    QImage picture_;  // converted picture; exchanged with the window's previous one
    std::uint64_t shown_ = 0;
    int error_ = 0;
    bool stopped_ = false;  // the run ended because it was told to
    // Silence watchdog of live input (see interrupt()).
    bool watching_ = false;
    std::int64_t quietSinceUs_ = 0;
    std::int64_t lastCheckUs_ = 0;
    bool silent_ = false;
    SoundPath sound_;  // released before the decoders it reads from
};

void initNetworkOnce() {
    static std::once_flag once;
    std::call_once(once, [] { avformat_network_init(); });
}

// Asked by FFmpeg while it waits for input. Stops the run when told to, and ends a live
// input that has sent nothing for kLiveSilenceMs. Time in which this thread itself did not
// run (a gap between two calls of more than kStallGapUs) is not counted as silence.
bool Run::interrupt() {
    if (!keepGoing())
        return true;
    if (!watching_)
        return false;
    constexpr std::int64_t kStallGapUs = 1'000'000;
    const std::int64_t now = wallClockUs();
    if (now - lastCheckUs_ > kStallGapUs)
        quietSinceUs_ += now - lastCheckUs_;
    lastCheckUs_ = now;
    if (now - quietSinceUs_ > static_cast<std::int64_t>(kLiveSilenceMs) * 1000)
        silent_ = true;
    return silent_;
}

RunOutcome Run::outcome() const {
    RunOutcome o;
    o.picturesShown = shown_;
    o.error = silent_ ? AVERROR(ETIMEDOUT) : error_;
    o.stoppedByUs = stopped_;
    o.live = live_;
    return o;
}

bool Run::play(const std::string& address) {
    // Start gate: a visible window whose flag is still set gives the run before it time to end.
    // A stop cuts the wait short; the window then keeps the flag clear.
    if (window_.isShownForPlay() && window_.isPlaying())
        sleepWhile(static_cast<std::int64_t>(kStartGateWaitMs) * 1000,
                   [&] { return !quit_.load() && !window_.stopRequested(); });
    if (window_.isShownForPlay())
        window_.setPlayingFromRun(quit_, true);

    initNetworkOnce();
    live_ = isLiveAddress(address);
    format_.reset(avformat_alloc_context());
    decoded_.reset(av_frame_alloc());
    if (!format_ || !decoded_)
        return fail(AVERROR(ENOMEM));
    Dict options;
    for (const auto& [key, value] : openOptionsFor(address))
        av_dict_set(options.out(), key.c_str(), value.c_str(), 0);

    if (!keepGoing()) {
        stopped_ = true;
        return false;
    }

    // Blocking reads of network inputs end as soon as the run is told to stop.
    format_->interrupt_callback.callback = &Run::interrupted;
    format_->interrupt_callback.opaque = this;
    AVFormatContext* opened = format_.release();
    const std::int64_t openingSinceUs = wallClockUs();
    if (const int result = avformat_open_input(&opened, address.c_str(), nullptr, options.out());
        result != 0) {
        // A server that accepts and then says nothing ends the opening after the socket's
        // time-out with FFmpeg's "invalid data" (RTSP): that is a time-out, not a format.
        const std::int64_t socketTimeoutUs = std::strtoll(kSocketTimeoutUs, nullptr, 10);
        if (live_ && result == AVERROR_INVALIDDATA &&
            wallClockUs() - openingSinceUs >= socketTimeoutUs * 9 / 10)
            return fail(AVERROR(ETIMEDOUT));
        return fail(result);
    }
    format_.reset(opened);
    if (!keepGoing())
        return fail(0);

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
            return fail(found);
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
        return fail(AVERROR_STREAM_NOT_FOUND);

    const AVStream* videoStream = format_->streams[videoIndex_];
    const AVCodec* videoCodec = avcodec_find_decoder(videoStream->codecpar->codec_id);
    const AVCodec* audioCodec =
        audioIndex_ >= 0 ? avcodec_find_decoder(format_->streams[audioIndex_]->codecpar->codec_id)
                         : nullptr;
    if (!videoCodec)
        return fail(AVERROR_DECODER_NOT_FOUND);
    videoDecoder_.reset(avcodec_alloc_context3(videoCodec));
    if (!videoDecoder_)
        return fail(AVERROR(ENOMEM));
    if (const int result =
            avcodec_parameters_to_context(videoDecoder_.get(), videoStream->codecpar);
        result < 0)
        return fail(result);
    videoDecoder_->pkt_timebase = videoStream->time_base;
    videoTimeBase_ = videoStream->time_base;
    if (const int result = avcodec_open2(videoDecoder_.get(), videoCodec, nullptr); result < 0)
        return fail(result);

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
        return fail(AVERROR(ENOMEM));
    if (audioIndex_ >= 0 && sound_.open(audioDecoder_.get()))
        counters_.soundOpened.fetch_add(1, std::memory_order_relaxed);
    // With sound, the device's pace holds the run back; a stored input without sound is paced
    // by its own time stamps; live input is shown as it arrives.
    paced_ = !live_ && !sound_.isOpen();
    const std::function<bool()> keepGoingFn = [this] { return keepGoing(); };
    firstWidth_ = videoDecoder_->width;
    firstHeight_ = videoDecoder_->height;
    window_.streamOpened(
        {avcodec_get_name(videoStream->codecpar->codec_id), firstWidth_, firstHeight_, live_});

    // From here a live input that stays silent too long ends the run.
    watching_ = live_;
    quietSinceUs_ = lastCheckUs_ = wallClockUs();
    int read = keepGoing() ? av_read_frame(format_.get(), packet_.get()) : -1;
    while (read >= 0 && keepGoing()) {
        quietSinceUs_ = lastCheckUs_ = wallClockUs();
        counters_.bytesRead.fetch_add(static_cast<std::uint64_t>(std::max(packet_->size, 0)),
                                      std::memory_order_relaxed);
        if (packet_->stream_index == videoIndex_)
            handleVideoPacket(packet_.get());
        else if (packet_->stream_index == audioIndex_ && sound_.isOpen())
            sound_.handlePacket(audioDecoder_.get(), packet_.get(), decoded_.get(), keepGoingFn);
        av_packet_unref(packet_.get());
        read = av_read_frame(format_.get(), packet_.get());
    }
    av_packet_unref(packet_.get());
    error_ = read < 0 ? read : 0;
    stopped_ = !keepGoing();
    // At the end of the input the decoder gives up the pictures it still holds.
    if (read == AVERROR_EOF && keepGoing()) {
        decodeVideo(nullptr);
        // ... and the sound still on its way is played to its end.
        sound_.finish(audioDecoder_.get(), decoded_.get(), keepGoingFn);
    }

    sound_.close();
    window_.setPlayingFromRun(quit_, false);
    return true;
}

void Run::handleVideoPacket(const AVPacket* packet) {
    counters_.received.fetch_add(1, std::memory_order_relaxed);
    if (!live_) {
        decodeVideo(packet);
        return;
    }
    const std::int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    switch (cap_.onVideoPacket(toUs(pts), (packet->flags & AV_PKT_FLAG_KEY) != 0, wallClockUs())) {
        case LatencyCap::Verdict::Decode:
            decodeVideo(packet);
            break;
        case LatencyCap::Verdict::Drop:
            dropPicture(counters_.droppedLate);
            break;
        case LatencyCap::Verdict::FlushThenDecode:
            // Pictures still held refer to what was dropped.
            avcodec_flush_buffers(videoDecoder_.get());
            decodeVideo(packet);
            break;
    }
}

void Run::decodeVideo(const AVPacket* packet) {
    if (avcodec_send_packet(videoDecoder_.get(), packet) < 0 && packet)
        return;
    while (keepGoing() && avcodec_receive_frame(videoDecoder_.get(), decoded_.get()) == 0) {
        counters_.decoded.fetch_add(1, std::memory_order_relaxed);
        present(decoded_.get());
        av_frame_unref(decoded_.get());
    }
}

void Run::present(AVFrame* frame) {
    // An input whose size was not known when the stream information was read takes the size
    // of its first picture.
    if (presentedWidth_ == 0 && (firstWidth_ <= 0 || firstHeight_ <= 0)) {
        firstWidth_ = frame->width;
        firstHeight_ = frame->height;
    }
    const bool sameWidth = presentedWidth_ == 0 || frame->width == presentedWidth_;
    if (!sameWidth || frame->width != firstWidth_ || frame->height != firstHeight_) {
        dropPicture(counters_.droppedSize);
        return;
    }
    // A hidden window is handed nothing, so nothing is converted for it.
    if (!window_.isShownForPlay() || quit_.load()) {
        dropPicture(counters_.droppedHidden);
        return;
    }

    if (paced_) {
        const std::int64_t ptsUs = toUs(frame->best_effort_timestamp);
        sleepWhile(clock_.delayUs(ptsUs == LatencyCap::kNoTime ? INT64_MIN : ptsUs, wallClockUs()),
                   [&] { return keepGoing(); });
        if (!keepGoing())
            return;
    }

    QSize target = window_.pictureTarget();
    if (target.isEmpty())
        target = QSize(frame->width, frame->height);
    if (!converter_.convert(frame, target, picture_))
        return;
    presentedWidth_ = frame->width;

    if (live_)
        counters_.latencyUs.store(
            cap_.latenessUs(toUs(frame->best_effort_timestamp), wallClockUs()),
            std::memory_order_relaxed);
    if (!window_.offerPicture(picture_, frame))
        return;
    if (shown_++ == 0)
        window_.linkRestored();
}

}  // namespace

bool CStreamPlayer::Play(const std::string& address, const std::atomic<bool>& quit) {
    RunOutcome outcome;
    return Play(address, quit, outcome);
}

bool CStreamPlayer::Play(const std::string& address, const std::atomic<bool>& quit,
                         RunOutcome& outcome) {
    Run run(m_window, quit);
    const bool played = run.play(address);
    outcome = run.outcome();
    outcome.played = played;
    return played;
}
