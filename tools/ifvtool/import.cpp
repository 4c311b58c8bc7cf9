// ifvtool import: H.264 video of any container FFmpeg reads into a record, frames stored in
// Annex-B form with their parameter sets in front of every key frame; audio decoded,
// resampled to 8 kHz mono and stored as A-law voice frames of 40 ms.
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <deque>
#include <functional>
#include <queue>
#include <string>
#include <vector>

#include "commands.h"
#include "ffmpeg_util.h"
#include "format_handles.h"
#include "h264_nal.h"
#include "voice_support.h"

namespace ifvtool {

namespace {

using zelplay::formats::RecordPtr;

constexpr int kVoiceRate = 8000;
constexpr int kVoiceFrameMs = kVoiceFrameSamples * 1000 / kVoiceRate;  // 40

// Audio of the input, decoded and resampled into voice frames written to the record.
class VoiceTrack {
  public:
    bool open(AVStream* stream, std::string* error) {
        const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
        if (codec == nullptr) {
            *error = "no decoder for the audio";
            return false;
        }
        decoder_.reset(avcodec_alloc_context3(codec));
        if (!decoder_ || avcodec_parameters_to_context(decoder_.get(), stream->codecpar) < 0 ||
            avcodec_open2(decoder_.get(), codec, nullptr) < 0) {
            *error = "cannot open the audio decoder";
            return false;
        }
        stream_ = stream;
        frame_.reset(av_frame_alloc());
        return frame_ != nullptr;
    }

    // Decodes one packet (nullptr drains) and writes every whole voice frame.
    bool feed(const AVPacket* packet, int64_t zeroMs, custommp4_t* record) {
        if (avcodec_send_packet(decoder_.get(), packet) < 0 && packet != nullptr) {
            return true;  // a damaged packet is passed over
        }
        for (;;) {
            int r = avcodec_receive_frame(decoder_.get(), frame_.get());
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) {
                break;
            }
            if (r < 0) {
                return true;
            }
            if (!resample(frame_.get(), zeroMs)) {
                return false;
            }
            av_frame_unref(frame_.get());
        }
        if (packet == nullptr) {
            flushResampler();
            if (!pending_.empty()) {
                pending_.resize(kVoiceFrameSamples, 0);  // the last frame is padded with silence
            }
        }
        return writeFrames(record);
    }

    uint32_t framesWritten() const { return written_; }

  private:
    bool resample(AVFrame* frame, int64_t zeroMs) {
        if (!swr_) {
            AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
            SwrContext* s = nullptr;
            if (swr_alloc_set_opts2(&s, &mono, AV_SAMPLE_FMT_S16, kVoiceRate, &frame->ch_layout,
                                    static_cast<AVSampleFormat>(frame->format), frame->sample_rate,
                                    0, nullptr) < 0 ||
                swr_init(s) < 0) {
                swr_free(&s);
                return false;
            }
            swr_.reset(s);
            int64_t pts = frame->best_effort_timestamp;
            int64_t ms = pts == AV_NOPTS_VALUE
                             ? 0
                             : av_rescale_q(pts, stream_->time_base, {1, 1000}) - zeroMs;
            startMs_ = std::max<int64_t>(ms, 0);
        }
        int capacity = swr_get_out_samples(swr_.get(), frame->nb_samples);
        if (capacity < 0) {
            return false;
        }
        std::vector<int16_t> out(static_cast<size_t>(capacity) + 16);
        uint8_t* planes[1] = {reinterpret_cast<uint8_t*>(out.data())};
        int got = swr_convert(swr_.get(), planes, capacity + 16,
                              const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
        if (got < 0) {
            return false;
        }
        pending_.insert(pending_.end(), out.begin(), out.begin() + got);
        return true;
    }

    void flushResampler() {
        if (!swr_) {
            return;
        }
        std::vector<int16_t> out(4096);
        uint8_t* planes[1] = {reinterpret_cast<uint8_t*>(out.data())};
        int got = swr_convert(swr_.get(), planes, static_cast<int>(out.size()), nullptr, 0);
        if (got > 0) {
            pending_.insert(pending_.end(), out.begin(), out.begin() + got);
        }
    }

    bool writeFrames(custommp4_t* record) {
        size_t used = 0;
        uint8_t voice[kVoiceFrameBytes];
        while (pending_.size() - used >= kVoiceFrameSamples) {
            if (!encodeVoiceFrame(pending_.data() + used, voice)) {
                return false;
            }
            int64_t stamp = startMs_ + static_cast<int64_t>(written_) * kVoiceFrameMs;
            if (stamp > UINT32_MAX ||
                custommp4_write_audio_frame(record, voice, kVoiceFrameBytes,
                                            static_cast<uint32_t>(stamp)) != 1) {
                return false;
            }
            ++written_;
            used += kVoiceFrameSamples;
        }
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(used));
        return true;
    }

    AVStream* stream_ = nullptr;
    CodecPtr decoder_;
    FramePtr frame_;
    SwrPtr swr_;
    std::vector<int16_t> pending_;
    int64_t startMs_ = 0;
    uint32_t written_ = 0;
};

// Time stamps for the record's video frames, which it keeps in decoding order with one stamp
// each; its readers pace frames by the stamp in that order, so stamps must rise from frame to
// frame. With B-frames the presentation times of the packets, in decoding order, go back and
// forth; the k-th frame in decoding order gets the k-th smallest presentation time, which is
// the decoding time a muxer gives such a stream less its fixed shift. No two frames share a
// stamp, and export recovers each frame's presentation time from the H.264 picture order.
class DecodeOrderStamps {
  public:
    // H.264 holds back at most 16 frames, so the smallest time among the next 17 frames is
    // the next decoding time.
    static constexpr size_t kLookAhead = 16;

    void add(int64_t presentationMs) { times_.push(presentationMs); }
    size_t waiting() const { return times_.size(); }
    // Stamp of the oldest frame that has none yet; call only while waiting() > 0.
    int64_t next() {
        last_ = std::max(times_.top(), last_ + 1);
        times_.pop();
        return last_;
    }

  private:
    std::priority_queue<int64_t, std::vector<int64_t>, std::greater<>> times_;
    int64_t last_ = -1;  // the first stamp is at least 0
};

// A video frame in Annex-B form waiting for its stamp.
struct PendingFrame {
    Bytes au;
    uint8_t type;
};

int64_t streamStartMs(const AVStream* s) {
    return s->start_time == AV_NOPTS_VALUE ? INT64_MAX
                                           : av_rescale_q(s->start_time, s->time_base, {1, 1000});
}

}  // namespace

int runImport(const std::string& inputPath, const std::string& recordPath,
              const ImportOptions& options) {
    DiagnosticsToStderr quiet;
    AVFormatContext* raw = nullptr;
    int r = avformat_open_input(&raw, inputPath.c_str(), nullptr, nullptr);
    if (r < 0) {
        fprintf(stderr, "ifvtool: cannot open %s: %s\n", inputPath.c_str(), avError(r).c_str());
        return 1;
    }
    InputPtr in(raw);
    r = avformat_find_stream_info(in.get(), nullptr);
    if (r < 0) {
        fprintf(stderr, "ifvtool: %s: %s\n", inputPath.c_str(), avError(r).c_str());
        return 1;
    }
    int vi = av_find_best_stream(in.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (vi < 0 || in->streams[vi]->codecpar->codec_id != AV_CODEC_ID_H264) {
        fprintf(stderr, "ifvtool: %s has no H.264 video\n", inputPath.c_str());
        return 1;
    }
    AVStream* vs = in->streams[vi];
    std::span<const uint8_t> extradata(
        vs->codecpar->extradata, static_cast<size_t>(std::max(vs->codecpar->extradata_size, 0)));
    std::optional<ParameterSets> avcC = parseAvcC(extradata);
    bool lengthPrefixed = avcC.has_value();
    ParameterSets ps = lengthPrefixed ? *avcC : parameterSetsOf(extradata);

    int ai = av_find_best_stream(in.get(), AVMEDIA_TYPE_AUDIO, -1, vi, nullptr, 0);
    VoiceTrack voice;
    bool withAudio = false;
    if (ai >= 0) {
        std::string error;
        if (!voice.open(in->streams[ai], &error)) {
            fprintf(stderr, "ifvtool: %s: audio left out\n", error.c_str());
        } else {
            withAudio = true;
        }
    }
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        if (static_cast<int>(i) != vi && (!withAudio || static_cast<int>(i) != ai)) {
            in->streams[i]->discard = AVDISCARD_ALL;
        }
    }
    int64_t zeroMs = streamStartMs(vs);
    if (withAudio) {
        zeroMs = std::min(zeroMs, streamStartMs(in->streams[ai]));
    }
    if (zeroMs == INT64_MAX) {
        zeroMs = 0;
    }

    RecordPtr record(custommp4_open(recordPath.c_str(), CUSTOMMP4_MODE_CREATE, 0));
    if (!record) {
        fprintf(stderr, "ifvtool: cannot create %s\n", recordPath.c_str());
        return 1;
    }
    uint32_t start = options.startTime >= 0 ? static_cast<uint32_t>(options.startTime)
                                            : static_cast<uint32_t>(time(nullptr));
    double fps = av_q2d(vs->avg_frame_rate);
    if (!(fps > 0 && fps < 1000)) {
        fps = av_q2d(vs->r_frame_rate);
    }
    if (!(fps > 0 && fps < 1000)) {
        fps = 25.0;
    }
    int64_t bitRate = vs->codecpar->bit_rate > 0 ? vs->codecpar->bit_rate : in->bit_rate;
    custommp4_set_start_time(record.get(), start);
    custommp4_set_video_format(
        record.get(), vs->codecpar->width, vs->codecpar->height, static_cast<float>(fps),
        static_cast<uint32_t>(std::clamp<int64_t>(bitRate, 0, UINT32_MAX)), "H264");
    if (withAudio) {
        custommp4_set_audio_format(record.get(), "PCMA", kVoiceRate, 16, 1, kVoiceFrameBytes,
                                   kVoiceFrameMs);
    }

    struct stat st;
    int64_t inputSize = stat(inputPath.c_str(), &st) == 0 ? st.st_size : 0;
    Progress progress(options.progress, inputSize);
    PacketPtr pkt(av_packet_alloc());
    int64_t frameMs = static_cast<int64_t>(1000.0 / fps);
    int64_t lastPresentationMs = -frameMs;
    DecodeOrderStamps stamps;
    std::deque<PendingFrame> pending;
    uint32_t videoFrames = 0, badPackets = 0;
    bool ok = true;
    bool reported = false;  // the failure has been told already
    // Tells why the record took no more: a failed write, else its size limit.
    auto reportRefusal = [&](const char* what) {
        int err = custommp4_write_error(record.get());
        if (err != 0) {
            fprintf(stderr, "ifvtool: writing %s failed: %s\n", recordPath.c_str(), strerror(err));
        } else {
            fprintf(stderr, "ifvtool: %s cannot take %s (a record holds up to 128 MiB)\n",
                    recordPath.c_str(), what);
        }
        reported = true;
    };
    auto writeOldest = [&] {
        PendingFrame& f = pending.front();
        int64_t ms = stamps.next();
        if (ms > UINT32_MAX ||
            custommp4_write_video_frame(record.get(), f.au.data(), static_cast<int>(f.au.size()),
                                        static_cast<uint32_t>(ms), f.type) != 1) {
            reportRefusal(("video frame " + std::to_string(videoFrames)).c_str());
            ok = false;
        } else {
            ++videoFrames;
        }
        pending.pop_front();
    };
    while (ok && (r = av_read_frame(in.get(), pkt.get())) >= 0) {
        if (pkt->stream_index == vi && pkt->size > 0) {
            int64_t t = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
            int64_t ms = t == AV_NOPTS_VALUE ? lastPresentationMs + frameMs
                                             : av_rescale_q(t, vs->time_base, {1, 1000}) - zeroMs;
            bool key = pkt->flags & AV_PKT_FLAG_KEY;
            std::span<const uint8_t> data(pkt->data, static_cast<size_t>(pkt->size));
            std::optional<Bytes> au;
            if (lengthPrefixed) {
                au = toAnnexB(data, ps.lengthSize, key && !ps.empty() ? &ps : nullptr);
            } else {
                au = Bytes(data.begin(), data.end());
                if (key && !ps.empty() && parameterSetsOf(data).sps.empty()) {
                    Bytes prefixed;
                    for (const Bytes& u : ps.sps) {
                        prefixed.insert(prefixed.end(), {0, 0, 0, 1});
                        prefixed.insert(prefixed.end(), u.begin(), u.end());
                    }
                    for (const Bytes& u : ps.pps) {
                        prefixed.insert(prefixed.end(), {0, 0, 0, 1});
                        prefixed.insert(prefixed.end(), u.begin(), u.end());
                    }
                    prefixed.insert(prefixed.end(), au->begin(), au->end());
                    au = std::move(prefixed);
                }
            }
            if (!au) {
                ++badPackets;
            } else {
                uint8_t type = recordFrameType(*au, key);
                pending.push_back({std::move(*au), type});
                stamps.add(ms);
                lastPresentationMs = ms;
                while (ok && pending.size() > DecodeOrderStamps::kLookAhead) {
                    writeOldest();
                }
            }
        } else if (withAudio && pkt->stream_index == ai) {
            if (!voice.feed(pkt.get(), zeroMs, record.get())) {
                reportRefusal("more audio");
                ok = false;
            }
        }
        av_packet_unref(pkt.get());
        if (in->pb != nullptr) {
            progress.update(std::min(avio_tell(in->pb), inputSize));
        }
    }
    if (ok && r != AVERROR_EOF) {
        fprintf(stderr, "ifvtool: reading %s stopped: %s\n", inputPath.c_str(), avError(r).c_str());
    }
    while (ok && !pending.empty()) {
        writeOldest();
    }
    if (ok && withAudio && !voice.feed(nullptr, zeroMs, record.get())) {
        reportRefusal("more audio");
        ok = false;
    }
    progress.update(inputSize);
    progress.finish();
    // Finishes the record: what was written stays readable.
    int error = 0;
    if (custommp4_close_checked(record.release(), &error) != 1) {
        if (!reported) {
            fprintf(stderr, "ifvtool: writing %s failed: %s\n", recordPath.c_str(),
                    strerror(error));
        }
        ok = false;
    }
    if (badPackets > 0) {
        fprintf(stderr, "ifvtool: %u damaged video packets left out\n", badPackets);
    }
    if (ok) {
        fprintf(stderr, "ifvtool: %u video frames and %u audio frames written to %s\n", videoFrames,
                voice.framesWritten(), recordPath.c_str());
    }
    if (ok && videoFrames == 0) {
        fprintf(stderr, "ifvtool: %s holds no video frames\n", recordPath.c_str());
    }
    return ok && videoFrames > 0 ? 0 : 1;
}

}  // namespace ifvtool
