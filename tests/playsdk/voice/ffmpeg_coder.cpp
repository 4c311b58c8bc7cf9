#include "ffmpeg_coder.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

namespace voicetest {

namespace {

struct ContextDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using ContextPtr = std::unique_ptr<AVCodecContext, ContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;

void check(int rc, const char* what) {
    if (rc < 0) {
        char text[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(rc, text, sizeof text);
        throw std::runtime_error(std::string(what) + ": " + text);
    }
}

ContextPtr openContext(const AVCodec* codec, int bitsPerCodedSample, int bitRate, bool encoder) {
    if (codec == nullptr) {
        throw std::runtime_error("codec not found");
    }
    ContextPtr ctx(avcodec_alloc_context3(codec));
    ctx->sample_rate = 8000;
    av_channel_layout_default(&ctx->ch_layout, 1);
    if (bitsPerCodedSample) {
        ctx->bits_per_coded_sample = bitsPerCodedSample;
    }
    if (bitRate) {
        ctx->bit_rate = bitRate;
    }
    if (encoder) {
        ctx->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    }
    check(avcodec_open2(ctx.get(), codec, nullptr), "avcodec_open2");
    return ctx;
}

void drainFrames(AVCodecContext* ctx, AVFrame* frame, std::vector<int16_t>& out) {
    while (avcodec_receive_frame(ctx, frame) == 0) {
        if (frame->format != AV_SAMPLE_FMT_S16 && frame->format != AV_SAMPLE_FMT_S16P) {
            throw std::runtime_error("unexpected sample format");
        }
        const auto* s = reinterpret_cast<const int16_t*>(frame->data[0]);
        out.insert(out.end(), s, s + frame->nb_samples);
        av_frame_unref(frame);
    }
}

}  // namespace

std::vector<int16_t> ffmpegDecode(const std::string& name,
                                  const std::vector<std::vector<uint8_t>>& packets,
                                  int bitsPerCodedSample) {
    ContextPtr ctx =
        openContext(avcodec_find_decoder_by_name(name.c_str()), bitsPerCodedSample, 0, false);
    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    std::vector<int16_t> out;
    for (const auto& data : packets) {
        check(av_new_packet(packet.get(), static_cast<int>(data.size())), "av_new_packet");
        std::memcpy(packet->data, data.data(), data.size());
        check(avcodec_send_packet(ctx.get(), packet.get()), "avcodec_send_packet");
        av_packet_unref(packet.get());
        drainFrames(ctx.get(), frame.get(), out);
    }
    avcodec_send_packet(ctx.get(), nullptr);
    drainFrames(ctx.get(), frame.get(), out);
    return out;
}

std::vector<uint8_t> ffmpegEncode(const std::string& name, const std::vector<int16_t>& pcm,
                                  int frameSamples, int bitRate) {
    ContextPtr ctx = openContext(avcodec_find_encoder_by_name(name.c_str()), 0, bitRate, true);
    const int step = ctx->frame_size > 0 ? ctx->frame_size : frameSamples;
    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    std::vector<uint8_t> out;
    auto drain = [&] {
        while (avcodec_receive_packet(ctx.get(), packet.get()) == 0) {
            out.insert(out.end(), packet->data, packet->data + packet->size);
            av_packet_unref(packet.get());
        }
    };
    for (size_t pos = 0; pos + static_cast<size_t>(step) <= pcm.size();
         pos += static_cast<size_t>(step)) {
        frame->nb_samples = step;
        frame->format = ctx->sample_fmt;
        frame->sample_rate = 8000;
        check(av_channel_layout_copy(&frame->ch_layout, &ctx->ch_layout), "layout");
        check(av_frame_get_buffer(frame.get(), 0), "av_frame_get_buffer");
        std::memcpy(frame->data[0], pcm.data() + pos, static_cast<size_t>(step) * 2);
        check(avcodec_send_frame(ctx.get(), frame.get()), "avcodec_send_frame");
        av_frame_unref(frame.get());
        drain();
    }
    avcodec_send_frame(ctx.get(), nullptr);
    drain();
    return out;
}

}  // namespace voicetest
