// The external H.264 decoder's calls over libavcodec's H.264 decoder.
//
// The codec context runs on one thread and reorders as the stream announces: a picture
// leaves the codec once the pictures before it in display order have, and waits in
// `ready` until a call hands it out. Access units go in with their time stamp as the packet's
// presentation time, which libavcodec carries to the picture through the reordering.

#include "hi264dec/hi264dec.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <new>
#include <span>

#include "h264/annexb.h"

namespace {

struct CodecContextDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsDeleter {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;

bool isPlanar420(int format) {
    return format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P;
}

// Raises the codec's messages by this many levels: an error (16) then lands below FFmpeg's
// default level (32, information), at the verbose level (40).
constexpr int kQuietLogOffset = AV_LOG_VERBOSE - AV_LOG_ERROR;

bool decoderLogWanted() {
    const char* wanted = std::getenv("ZELPLAY_DECODER_LOG");
    return wanted != nullptr && std::strcmp(wanted, "1") == 0;
}

}  // namespace

struct Hi264Decoder {
    std::unique_ptr<AVCodecContext, CodecContextDeleter> codec;
    std::unique_ptr<AVPacket, PacketDeleter> packet;
    std::deque<FramePtr> ready;  // pictures out of the codec, not handed out yet
    FramePtr shown;              // the picture handed out last; its planes are the caller's
    FramePtr converted;          // 8-bit 4:2:0 copy of other formats
    std::unique_ptr<SwsContext, SwsDeleter> scaler;
    uint64_t shownStamp = 0;

    // Moves every picture the codec has finished into `ready`; false on memory failure.
    bool collect() {
        for (;;) {
            FramePtr f(av_frame_alloc());
            if (!f)
                return false;
            if (avcodec_receive_frame(codec.get(), f.get()) < 0)
                return true;
            ready.push_back(std::move(f));
        }
    }

    // Hands the oldest ready picture out through frame.
    int32_t handOut(Hi264DecFrame* frame);
};

int32_t Hi264Decoder::handOut(Hi264DecFrame* frame) {
    shown = std::move(ready.front());
    ready.pop_front();
    AVFrame* pic = shown.get();
    shownStamp = pic->pts == AV_NOPTS_VALUE ? 0 : static_cast<uint64_t>(pic->pts);
    if (pic->width <= 0 || pic->height <= 0 || (pic->width & 1) || (pic->height & 1))
        return HI264DEC_ERROR;
    if (!isPlanar420(pic->format)) {
        // High-profile streams in 4:2:2, 4:4:4 or more than 8 bits: hand out 8-bit 4:2:0.
        AVFrame* out = converted.get();
        av_frame_unref(out);
        out->format = AV_PIX_FMT_YUV420P;
        out->width = pic->width;
        out->height = pic->height;
        if (av_frame_get_buffer(out, 0) < 0)
            return HI264DEC_ERROR;
        scaler.reset(sws_getCachedContext(
            scaler.release(), pic->width, pic->height, static_cast<AVPixelFormat>(pic->format),
            out->width, out->height, AV_PIX_FMT_YUV420P, SWS_POINT, nullptr, nullptr, nullptr));
        if (!scaler)
            return HI264DEC_ERROR;
        sws_scale(scaler.get(), pic->data, pic->linesize, 0, pic->height, out->data, out->linesize);
        av_frame_unref(pic);
        av_frame_move_ref(pic, out);
    }
    if (pic->linesize[0] <= 0 || pic->linesize[1] <= 0 || pic->linesize[1] != pic->linesize[2])
        return HI264DEC_ERROR;
    frame->pY = pic->data[0];
    frame->pU = pic->data[1];
    frame->pV = pic->data[2];
    frame->width = static_cast<uint32_t>(pic->width);
    frame->height = static_cast<uint32_t>(pic->height);
    frame->yStride = static_cast<uint32_t>(pic->linesize[0]);
    frame->uvStride = static_cast<uint32_t>(pic->linesize[1]);
    return HI264DEC_PICTURE;
}

extern "C" Hi264DecHandle Hi264DecCreate(const Hi264DecAttr* attr) {
    if (attr == nullptr)
        return nullptr;
    const AVCodec* h264 = avcodec_find_decoder(AV_CODEC_ID_H264);
    if (h264 == nullptr)
        return nullptr;
    auto dec = std::unique_ptr<Hi264Decoder>(new (std::nothrow) Hi264Decoder);
    if (!dec)
        return nullptr;
    dec->codec.reset(avcodec_alloc_context3(h264));
    dec->packet.reset(av_packet_alloc());
    dec->shown.reset(av_frame_alloc());
    dec->converted.reset(av_frame_alloc());
    if (!dec->codec || !dec->packet || !dec->shown || !dec->converted)
        return nullptr;
    AVCodecContext* c = dec->codec.get();
    c->thread_count = 1;    // frame threads would hold every picture back by a frame each
    c->apply_cropping = 1;  // hand out the display size, not whole macroblocks
    if (!decoderLogWanted())
        c->log_level_offset = kQuietLogOffset;
    if (attr->picWidthInMbs > 0 && attr->picWidthInMbs < 1024 && attr->picHeightInMbs > 0 &&
        attr->picHeightInMbs < 1024) {
        c->width = static_cast<int>(attr->picWidthInMbs * 16);
        c->height = static_cast<int>(attr->picHeightInMbs * 16);
    }
    if (avcodec_open2(c, h264, nullptr) < 0)
        return nullptr;
    return dec.release();
}

extern "C" int32_t Hi264DecAU(Hi264DecHandle handle, const uint8_t* stream, uint32_t length,
                              uint64_t timeStamp, Hi264DecFrame* frame, uint32_t flags) {
    (void)flags;
    if (handle == nullptr || stream == nullptr || frame == nullptr || length == 0 ||
        length >
            static_cast<uint32_t>(std::numeric_limits<int>::max()) - AV_INPUT_BUFFER_PADDING_SIZE) {
        return HI264DEC_ERROR;
    }
    Hi264Decoder& dec = *handle;
    av_frame_unref(dec.shown.get());
    AVPacket* pkt = dec.packet.get();
    av_packet_unref(pkt);
    // The codec reads a little past the end of a packet: give it a padded copy.
    if (av_new_packet(pkt, static_cast<int>(length)) < 0)
        return HI264DEC_ERROR;
    std::memcpy(pkt->data, stream, length);
    pkt->pts = static_cast<int64_t>(timeStamp & static_cast<uint64_t>(INT64_MAX));
    int sent = avcodec_send_packet(dec.codec.get(), pkt);
    if (sent == AVERROR(EAGAIN)) {
        // Pictures still inside the codec: take them out, then the unit goes in.
        if (!dec.collect())
            return HI264DEC_ERROR;
        sent = avcodec_send_packet(dec.codec.get(), pkt);
    }
    av_packet_unref(pkt);
    if (!dec.collect())
        return HI264DEC_ERROR;
    if (!dec.ready.empty())
        return dec.handOut(frame);
    // libavcodec reports a unit without a picture to start ("no frame!") as invalid data;
    // only a unit that had slices to decode failed.
    if (sent < 0 && h264::hasSlice(std::span<const uint8_t>(stream, length)))
        return HI264DEC_ERROR;
    return HI264DEC_NO_PICTURE;
}

extern "C" int32_t Hi264DecFlush(Hi264DecHandle handle, Hi264DecFrame* frame) {
    if (handle == nullptr || frame == nullptr)
        return HI264DEC_ERROR;
    Hi264Decoder& dec = *handle;
    av_frame_unref(dec.shown.get());
    if (dec.ready.empty()) {
        // Drain the codec into `ready`, then make it take a new stream.
        if (avcodec_send_packet(dec.codec.get(), nullptr) == 0 && !dec.collect())
            return HI264DEC_ERROR;
        avcodec_flush_buffers(dec.codec.get());
    }
    if (dec.ready.empty())
        return HI264DEC_NO_PICTURE;
    return dec.handOut(frame);
}

extern "C" uint64_t Hi264DecPictureTimeStamp(Hi264DecHandle handle) {
    return handle == nullptr ? 0 : handle->shownStamp;
}

// A kept picture: a reference of its own to the frame's buffers, which libavcodec counts
// (atomically), so it may go on any thread and outlive the codec.
struct Hi264DecPicture {
    FramePtr frame;
};

extern "C" Hi264DecPicture* Hi264DecKeepPicture(Hi264DecHandle handle) {
    if (handle == nullptr || handle->shown->data[0] == nullptr)
        return nullptr;
    auto kept = std::unique_ptr<Hi264DecPicture>(new (std::nothrow) Hi264DecPicture);
    if (!kept)
        return nullptr;
    kept->frame.reset(av_frame_clone(handle->shown.get()));
    return kept->frame ? kept.release() : nullptr;
}

extern "C" void Hi264DecReleasePicture(Hi264DecPicture* picture) {
    delete picture;
}

extern "C" void Hi264DecDestroy(Hi264DecHandle handle) {
    delete handle;
}
