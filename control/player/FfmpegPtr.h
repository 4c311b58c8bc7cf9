// Owning handles for the FFmpeg objects of one playback run: each is released exactly once,
// in reverse order of creation, whichever way the run leaves.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <memory>

namespace monvid {

struct FormatInputDeleter {
    // An input context that was opened is closed; one that was only allocated is freed.
    void operator()(AVFormatContext* ctx) const {
        if (ctx && ctx->iformat)
            avformat_close_input(&ctx);
        else
            avformat_free_context(ctx);
    }
};
struct CodecContextDeleter {
    void operator()(AVCodecContext* ctx) const { avcodec_free_context(&ctx); }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct DictDeleter {
    void operator()(AVDictionary* dict) const { av_dict_free(&dict); }
};
struct SwsDeleter {
    void operator()(SwsContext* ctx) const { sws_freeContext(ctx); }
};
struct SwrDeleter {
    void operator()(SwrContext* ctx) const { swr_free(&ctx); }
};
struct AvFreeDeleter {
    void operator()(void* p) const { av_free(p); }
};

using FormatInputPtr = std::unique_ptr<AVFormatContext, FormatInputDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using SwsPtr = std::unique_ptr<SwsContext, SwsDeleter>;
using SwrPtr = std::unique_ptr<SwrContext, SwrDeleter>;
template <typename T>
using AvBufferPtr = std::unique_ptr<T, AvFreeDeleter>;

// An options dictionary as a value: the pointer may be replaced by the calls it is given to.
class Dict {
  public:
    Dict() = default;
    ~Dict() { av_dict_free(&dict_); }
    Dict(const Dict&) = delete;
    Dict& operator=(const Dict&) = delete;
    AVDictionary** out() { return &dict_; }
    AVDictionary* get() const { return dict_; }

  private:
    AVDictionary* dict_ = nullptr;
};

}  // namespace monvid
