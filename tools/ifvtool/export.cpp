// ifvtool export: a record's H.264 frames copied into MP4 or Matroska, its voice frames
// decoded to 8 kHz mono PCM and stored as AAC or PCM. Two reader handles walk the record,
// one per stream, and the packets are written in time-stamp order.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "ffmpeg_util.h"
#include "format_handles.h"
#include "h264_nal.h"
#include "picture_order.h"
#include "voice_support.h"

namespace ifvtool {

namespace {

using zelplay::formats::RecordPtr;

constexpr int kReadBufferBytes = 8 << 20;  // the largest video frame taken from a record
constexpr int kVoiceRate = 8000;
constexpr AVRational kMillisecond = {1, 1000};

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// What a first pass over the record's video learns: the parameter sets for the avcC record
// and each frame's presentation and decoding time (the record keeps only one stamp per frame,
// in decoding order).
struct VideoPlan {
    ParameterSets ps;
    std::vector<bool> readable;     // per frame number
    std::vector<FrameTimes> times;  // per frame number; unreadable frames have none
};

bool isIdr(std::span<const uint8_t> au) {
    auto units = splitAnnexB(au);
    return std::any_of(units.begin(), units.end(),
                       [](std::span<const uint8_t> u) { return nalType(u) == kNalIdr; });
}

VideoPlan planVideo(custommp4_t* h) {
    VideoPlan plan;
    std::vector<uint8_t> buf(kReadBufferBytes);
    const uint32_t total = custommp4_video_frames(h);
    std::vector<StoredFrame> stored;
    std::vector<uint32_t> numbers;  // frame number of each stored frame
    // Key frames carry their parameter sets in the stream, where the parser finds them.
    PictureOrderReader order;
    for (uint32_t i = 0; i < total; ++i) {
        uint32_t stamp = 0;
        int n =
            custommp4_read_video_frame(h, buf.data(), kReadBufferBytes, &stamp, nullptr, nullptr);
        plan.readable.push_back(n > 0);
        if (n <= 0) {
            continue;
        }
        std::span<const uint8_t> au(buf.data(), static_cast<size_t>(n));
        if (plan.ps.empty()) {
            ParameterSets found = parameterSetsOf(au);
            if (plan.ps.sps.empty()) {
                plan.ps.sps = found.sps;
            }
            if (plan.ps.pps.empty()) {
                plan.ps.pps = found.pps;
            }
        }
        stored.push_back({stamp, order.poc(au), isIdr(au)});
        numbers.push_back(i);
    }
    std::vector<FrameTimes> times = presentationTimes(stored);
    plan.times.assign(total, FrameTimes{0, 0});
    for (size_t k = 0; k < numbers.size(); ++k) {
        plan.times[numbers[k]] = times[k];
    }
    return plan;
}

// Decoded voice to an encoder (AAC or PCM) through a FIFO of whole encoder frames.
class AudioEncoder {
  public:
    bool open(AVFormatContext* out, bool pcm, std::string* error) {
        const AVCodec* codec = avcodec_find_encoder(pcm ? AV_CODEC_ID_PCM_S16LE : AV_CODEC_ID_AAC);
        if (codec == nullptr) {
            *error = "no audio encoder";
            return false;
        }
        ctx_.reset(avcodec_alloc_context3(codec));
        stream_ = avformat_new_stream(out, nullptr);
        if (!ctx_ || stream_ == nullptr) {
            *error = "out of memory";
            return false;
        }
        ctx_->sample_rate = kVoiceRate;
        ctx_->sample_fmt = pcm ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_FLTP;
        av_channel_layout_default(&ctx_->ch_layout, 1);
        ctx_->time_base = {1, kVoiceRate};
        ctx_->bit_rate = pcm ? 0 : 32000;
        if (out->oformat->flags & AVFMT_GLOBALHEADER) {
            ctx_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        }
        int r = avcodec_open2(ctx_.get(), codec, nullptr);
        if (r < 0 || avcodec_parameters_from_context(stream_->codecpar, ctx_.get()) < 0) {
            *error = "cannot open the audio encoder: " + avError(r);
            return false;
        }
        stream_->time_base = ctx_->time_base;
        frameSamples_ = ctx_->frame_size > 0 ? ctx_->frame_size : 320;
        fifo_.reset(av_audio_fifo_alloc(ctx_->sample_fmt, 1, frameSamples_ * 4));
        frame_.reset(av_frame_alloc());
        packet_.reset(av_packet_alloc());
        return fifo_ && frame_ && packet_;
    }

    AVStream* stream() const { return stream_; }

    // Adds samples whose first one plays at startMs (used for the first call only).
    bool add(const int16_t* pcm, int count, int64_t startMs, AVFormatContext* out) {
        if (nextPts_ < 0) {
            nextPts_ = av_rescale(startMs, kVoiceRate, 1000);
        }
        std::vector<float> f;
        void* planes[1];
        if (ctx_->sample_fmt == AV_SAMPLE_FMT_FLTP) {
            f.resize(static_cast<size_t>(count));
            for (int i = 0; i < count; ++i) {
                f[i] = pcm[i] / 32768.0f;
            }
            planes[0] = f.data();
        } else {
            planes[0] = const_cast<int16_t*>(pcm);
        }
        if (av_audio_fifo_write(fifo_.get(), planes, count) < count) {
            return false;
        }
        while (av_audio_fifo_size(fifo_.get()) >= frameSamples_) {
            if (!encodeFromFifo(frameSamples_, out)) {
                return false;
            }
        }
        return true;
    }

    bool finish(AVFormatContext* out) {
        if (!ctx_) {
            return true;
        }
        int rest = av_audio_fifo_size(fifo_.get());
        if (rest > 0 && !encodeFromFifo(rest, out)) {
            return false;
        }
        return drain(nullptr, out);
    }

  private:
    bool encodeFromFifo(int samples, AVFormatContext* out) {
        av_frame_unref(frame_.get());
        frame_->nb_samples = samples;
        frame_->format = ctx_->sample_fmt;
        frame_->sample_rate = kVoiceRate;
        av_channel_layout_copy(&frame_->ch_layout, &ctx_->ch_layout);
        if (av_frame_get_buffer(frame_.get(), 0) < 0) {
            return false;
        }
        av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(frame_->data), samples);
        frame_->pts = nextPts_;
        nextPts_ += samples;
        return drain(frame_.get(), out);
    }

    bool drain(AVFrame* frame, AVFormatContext* out) {
        if (avcodec_send_frame(ctx_.get(), frame) < 0) {
            return false;
        }
        for (;;) {
            int r = avcodec_receive_packet(ctx_.get(), packet_.get());
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) {
                return true;
            }
            if (r < 0) {
                return false;
            }
            packet_->stream_index = stream_->index;
            av_packet_rescale_ts(packet_.get(), ctx_->time_base, stream_->time_base);
            if (av_interleaved_write_frame(out, packet_.get()) < 0) {
                return false;
            }
        }
    }

    CodecPtr ctx_;
    AVStream* stream_ = nullptr;
    FifoPtr fifo_;
    FramePtr frame_;
    PacketPtr packet_;
    int frameSamples_ = 0;
    int64_t nextPts_ = -1;
};

// Voice frame (or raw PCM, as the voice codec's decoder takes it) to 16-bit samples.
bool decodeVoice(const uint8_t* frame, int length, std::vector<int16_t>* pcm) {
    std::vector<uint8_t> out(static_cast<size_t>(std::max(length, 642)) + 16);
    int outLength = 0;
    if (!decodeAudioFrame(frame, length, out.data(), &outLength) || outLength < 0) {
        return false;
    }
    pcm->clear();
    if (decodesTo16Bit(frame, length)) {
        pcm->resize(static_cast<size_t>(outLength) / 2);
        memcpy(pcm->data(), out.data(), pcm->size() * 2);
    } else {
        pcm->resize(static_cast<size_t>(outLength));
        for (int i = 0; i < outLength; ++i) {
            pcm->at(i) = static_cast<int16_t>(static_cast<int8_t>(out[i]) * 256);
        }
    }
    return true;
}

}  // namespace

int runExport(const std::string& recordPath, const std::string& outPath,
              const ExportOptions& options) {
    const char* format = nullptr;
    if (endsWith(outPath, ".mp4") || endsWith(outPath, ".m4v") || endsWith(outPath, ".mov")) {
        format = "mp4";
    } else if (endsWith(outPath, ".mkv")) {
        format = "matroska";
    } else {
        fprintf(stderr, "ifvtool: the output must end in .mp4 or .mkv\n");
        return 2;
    }
    if (options.pcmAudio && strcmp(format, "matroska") != 0) {
        fprintf(stderr, "ifvtool: PCM audio needs a Matroska (.mkv) output\n");
        return 2;
    }
    DiagnosticsToStderr quiet;
    // One handle per stream, the second opened once the first shows the record is readable,
    // so that a damaged record is reported once.
    RecordPtr video(custommp4_open(recordPath.c_str(), 0, options.baseOffset));
    RecordPtr audio(video ? custommp4_open(recordPath.c_str(), 0, options.baseOffset) : nullptr);
    if (!video || !audio) {
        fprintf(stderr, "ifvtool: %s is not a readable record file\n", recordPath.c_str());
        return 1;
    }
    uint32_t videoFrames = custommp4_video_frames(video.get());
    if (videoFrames == 0) {
        fprintf(stderr, "ifvtool: %s holds no video frames\n", recordPath.c_str());
        return 1;
    }
    VideoPlan plan;
    {
        RecordPtr first(custommp4_open(recordPath.c_str(), 0, options.baseOffset));
        if (first) {
            plan = planVideo(first.get());
        }
    }
    const ParameterSets& ps = plan.ps;
    if (ps.empty()) {
        fprintf(stderr, "ifvtool: no H.264 parameter sets in %s\n", recordPath.c_str());
        return 1;
    }
    Bytes avcC = buildAvcC(ps);

    AVFormatContext* raw = nullptr;
    int r = avformat_alloc_output_context2(&raw, nullptr, format, outPath.c_str());
    if (r < 0) {
        fprintf(stderr, "ifvtool: %s: %s\n", outPath.c_str(), avError(r).c_str());
        return 1;
    }
    OutputPtr out(raw);
    AVStream* vs = avformat_new_stream(out.get(), nullptr);
    if (vs == nullptr) {
        return 1;
    }
    vs->time_base = kMillisecond;
    vs->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    vs->codecpar->codec_id = AV_CODEC_ID_H264;
    vs->codecpar->width = custommp4_video_width(video.get());
    vs->codecpar->height = custommp4_video_height(video.get());
    float rate = custommp4_video_frame_rate(video.get());
    if (rate > 0 && rate < 1000) {
        vs->avg_frame_rate = av_d2q(rate, 100000);
        vs->r_frame_rate = vs->avg_frame_rate;
    }
    vs->codecpar->extradata =
        static_cast<uint8_t*>(av_mallocz(avcC.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (vs->codecpar->extradata == nullptr) {
        return 1;
    }
    memcpy(vs->codecpar->extradata, avcC.data(), avcC.size());
    vs->codecpar->extradata_size = static_cast<int>(avcC.size());

    const bool withAudio = custommp4_has_audio(audio.get());
    AudioEncoder encoder;
    std::string error;
    if (withAudio && !encoder.open(out.get(), options.pcmAudio, &error)) {
        fprintf(stderr, "ifvtool: %s\n", error.c_str());
        return 1;
    }
    if (!(out->oformat->flags & AVFMT_NOFILE)) {
        r = avio_open(&out->pb, outPath.c_str(), AVIO_FLAG_WRITE);
        if (r < 0) {
            fprintf(stderr, "ifvtool: cannot write %s: %s\n", outPath.c_str(), avError(r).c_str());
            return 1;
        }
    }
    r = avformat_write_header(out.get(), nullptr);
    if (r < 0) {
        fprintf(stderr, "ifvtool: %s: %s\n", outPath.c_str(), avError(r).c_str());
        return 1;
    }

    std::vector<uint8_t> vbuf(kReadBufferBytes);
    std::vector<uint8_t> abuf(64 * 1024);
    PacketPtr pkt(av_packet_alloc());
    Progress progress(options.progress, videoFrames);
    uint32_t written = 0, failedReads = 0;
    bool videoDone = false, audioDone = !withAudio;
    // The next audio frame, read ahead so that its stamp can be compared with the video's.
    std::vector<int16_t> pcm;
    uint32_t audioStamp = 0;
    int audioBytes = 0;
    auto readAudio = [&] {
        int32_t dur = 0;
        audioBytes = custommp4_read_audio_frame(audio.get(), abuf.data(),
                                                static_cast<int>(abuf.size()), &audioStamp, &dur);
        if (audioBytes == 0 &&
            custommp4_audio_position(audio.get()) >= custommp4_audio_frames(audio.get())) {
            audioDone = true;
        }
    };
    if (!audioDone) {
        readAudio();
    }
    bool ok = true;
    while (ok && !videoDone) {
        uint32_t ts = 0;
        int32_t dur = 0;
        uint8_t type = 0;
        int n = custommp4_read_video_frame(video.get(), vbuf.data(), kReadBufferBytes, &ts, &dur,
                                           &type);
        uint32_t position = custommp4_video_position(video.get());
        videoDone = position >= videoFrames;
        progress.update(position);
        // A frame the first pass could not read has no times: it stays out.
        if (n == 0 || !plan.readable[position - 1]) {
            ++failedReads;
            continue;
        }
        // Audio up to this frame's stamp goes first.
        while (ok && !audioDone && audioStamp <= ts) {
            if (audioBytes > 0 && decodeVoice(abuf.data(), audioBytes, &pcm)) {
                ok = encoder.add(pcm.data(), static_cast<int>(pcm.size()), audioStamp, out.get());
            }
            readAudio();
        }
        Bytes au = toLengthPrefixed({vbuf.data(), static_cast<size_t>(n)}, ps);
        if (av_new_packet(pkt.get(), static_cast<int>(au.size())) < 0) {
            ok = false;
            break;
        }
        memcpy(pkt->data, au.data(), au.size());
        const FrameTimes& times = plan.times[position - 1];
        pkt->pts = times.pts;
        pkt->dts = times.dts;
        pkt->duration = dur;
        pkt->stream_index = vs->index;
        pkt->flags = (type == 3 || type == 5) ? AV_PKT_FLAG_KEY : 0;
        av_packet_rescale_ts(pkt.get(), kMillisecond, vs->time_base);
        r = av_interleaved_write_frame(out.get(), pkt.get());
        if (r < 0) {
            fprintf(stderr, "ifvtool: writing frame %u: %s\n", position, avError(r).c_str());
            ok = false;
        }
        ++written;
    }
    while (ok && !audioDone) {
        if (audioBytes > 0 && decodeVoice(abuf.data(), audioBytes, &pcm)) {
            ok = encoder.add(pcm.data(), static_cast<int>(pcm.size()), audioStamp, out.get());
        }
        readAudio();
    }
    ok = ok && encoder.finish(out.get());
    r = av_write_trailer(out.get());
    progress.finish();
    if (r >= 0 && out->pb != nullptr && !(out->oformat->flags & AVFMT_NOFILE)) {
        r = avio_closep(&out->pb);
    }
    if (!ok || r < 0) {
        fprintf(stderr, "ifvtool: export to %s failed%s%s\n", outPath.c_str(), r < 0 ? ": " : "",
                r < 0 ? avError(r).c_str() : "");
        return 1;
    }
    if (failedReads > 0) {
        fprintf(stderr, "ifvtool: %u frames could not be read and were left out\n", failedReads);
    }
    fprintf(stderr, "ifvtool: %u video frames written to %s\n", written, outPath.c_str());
    return failedReads > 0 ? 1 : 0;
}

}  // namespace ifvtool
