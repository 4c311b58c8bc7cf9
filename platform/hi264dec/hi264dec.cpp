// The external H.264 decoder's three calls over libavcodec's H.264 decoder.
//
// One access unit in, its picture out: the codec context runs on one thread with the
// low-delay flag, so a picture leaves the decoder with the packet that carried it.

#include "hi264dec/hi264dec.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <cstring>
#include <limits>
#include <memory>
#include <new>

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

bool isPlanar420(int format) {
    return format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P;
}

}  // namespace

struct Hi264Decoder {
    std::unique_ptr<AVCodecContext, CodecContextDeleter> codec;
    std::unique_ptr<AVPacket, PacketDeleter> packet;
    std::unique_ptr<AVFrame, FrameDeleter> picture;    // the last picture out of the codec
    std::unique_ptr<AVFrame, FrameDeleter> converted;  // 8-bit 4:2:0 copy of other formats
    std::unique_ptr<SwsContext, SwsDeleter> scaler;
};

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
    dec->picture.reset(av_frame_alloc());
    dec->converted.reset(av_frame_alloc());
    if (!dec->codec || !dec->packet || !dec->picture || !dec->converted)
        return nullptr;
    AVCodecContext* c = dec->codec.get();
    c->thread_count = 1;                  // frame threads would hold pictures back
    c->flags |= AV_CODEC_FLAG_LOW_DELAY;  // output each picture with its own access unit
    c->apply_cropping = 1;                // hand out the display size, not whole macroblocks
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
    (void)timeStamp;
    (void)flags;
    if (handle == nullptr || stream == nullptr || frame == nullptr || length == 0 ||
        length >
            static_cast<uint32_t>(std::numeric_limits<int>::max()) - AV_INPUT_BUFFER_PADDING_SIZE) {
        return -1;
    }
    Hi264Decoder& dec = *handle;
    AVPacket* pkt = dec.packet.get();
    av_packet_unref(pkt);
    // The codec reads a little past the end of a packet: give it a padded copy.
    if (av_new_packet(pkt, static_cast<int>(length)) < 0)
        return -1;
    std::memcpy(pkt->data, stream, length);

    av_frame_unref(dec.picture.get());
    int sent = avcodec_send_packet(dec.codec.get(), pkt);
    av_packet_unref(pkt);
    if (sent < 0 && sent != AVERROR(EAGAIN))
        return -1;
    bool got = false;
    // Take the newest picture the codec has; with low delay there is at most one.
    for (;;) {
        AVFrame* next = got ? dec.converted.get() : dec.picture.get();
        int r = avcodec_receive_frame(dec.codec.get(), next);
        if (r < 0)
            break;
        if (got) {
            av_frame_unref(dec.picture.get());
            av_frame_move_ref(dec.picture.get(), next);
        }
        got = true;
    }
    if (!got)
        return 1;

    AVFrame* pic = dec.picture.get();
    if (pic->width <= 0 || pic->height <= 0 || (pic->width & 1) || (pic->height & 1))
        return 1;
    if (!isPlanar420(pic->format)) {
        // High-profile streams in 4:2:2, 4:4:4 or more than 8 bits: hand out 8-bit 4:2:0.
        AVFrame* out = dec.converted.get();
        av_frame_unref(out);
        out->format = AV_PIX_FMT_YUV420P;
        out->width = pic->width;
        out->height = pic->height;
        if (av_frame_get_buffer(out, 0) < 0)
            return 1;
        dec.scaler.reset(sws_getCachedContext(
            dec.scaler.release(), pic->width, pic->height, static_cast<AVPixelFormat>(pic->format),
            out->width, out->height, AV_PIX_FMT_YUV420P, SWS_POINT, nullptr, nullptr, nullptr));
        if (!dec.scaler)
            return 1;
        sws_scale(dec.scaler.get(), pic->data, pic->linesize, 0, pic->height, out->data,
                  out->linesize);
        av_frame_unref(pic);
        av_frame_move_ref(pic, out);
    }
    if (pic->linesize[0] <= 0 || pic->linesize[1] <= 0 || pic->linesize[1] != pic->linesize[2])
        return 1;
    frame->pY = pic->data[0];
    frame->pU = pic->data[1];
    frame->pV = pic->data[2];
    frame->width = static_cast<uint32_t>(pic->width);
    frame->height = static_cast<uint32_t>(pic->height);
    frame->yStride = static_cast<uint32_t>(pic->linesize[0]);
    frame->uvStride = static_cast<uint32_t>(pic->linesize[1]);
    return 0;
}

extern "C" void Hi264DecDestroy(Hi264DecHandle handle) {
    delete handle;
}
