// Small RAII owners of FFmpeg objects and the redirection of the readers' diagnostics.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libswresample/swresample.h>
}

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

namespace ifvtool {

struct InputCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
using InputPtr = std::unique_ptr<AVFormatContext, InputCloser>;

struct OutputCloser {
    void operator()(AVFormatContext* c) const {
        if (c->pb != nullptr && !(c->oformat->flags & AVFMT_NOFILE)) {
            avio_closep(&c->pb);
        }
        avformat_free_context(c);
    }
};
using OutputPtr = std::unique_ptr<AVFormatContext, OutputCloser>;

struct CodecCloser {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
using CodecPtr = std::unique_ptr<AVCodecContext, CodecCloser>;

struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;

struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;

struct SwrFree {
    void operator()(SwrContext* s) const { swr_free(&s); }
};
using SwrPtr = std::unique_ptr<SwrContext, SwrFree>;

struct FifoFree {
    void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};
using FifoPtr = std::unique_ptr<AVAudioFifo, FifoFree>;

inline std::string avError(int code) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buf, sizeof buf);
    return buf;
}

// While alive, what the readers print on standard output goes to standard error, so that
// the tool's own output stays clean.
class DiagnosticsToStderr {
  public:
    DiagnosticsToStderr() {
        fflush(stdout);
        saved_ = dup(STDOUT_FILENO);
        if (saved_ >= 0) {
            dup2(STDERR_FILENO, STDOUT_FILENO);
        }
    }
    ~DiagnosticsToStderr() {
        fflush(stdout);
        if (saved_ >= 0) {
            dup2(saved_, STDOUT_FILENO);
            close(saved_);
        }
    }
    DiagnosticsToStderr(const DiagnosticsToStderr&) = delete;
    DiagnosticsToStderr& operator=(const DiagnosticsToStderr&) = delete;

  private:
    int saved_ = -1;
};

}  // namespace ifvtool
