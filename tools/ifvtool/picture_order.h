// Presentation times of H.264 frames stored in decoding order with one rising time stamp
// each (as records keep them). Frames are shown in the order of their picture order count
// (POC), which restarts at every IDR frame; the k-th frame of an IDR period in that order is
// shown at the k-th stamp of the period. Decoding times are the stamps, moved back just as
// far as needed for every frame to be decoded before it is shown.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "h264_nal.h"

namespace ifvtool {

struct StoredFrame {
    int64_t stamp;  // ms, in decoding order
    int poc;        // picture order count
    bool idr;       // begins a new POC period
};

struct FrameTimes {
    int64_t pts;
    int64_t dts;
};

// One entry per frame, in the same order. Stamps that do not rise are raised to one more
// than the previous, so that decoding times always do.
std::vector<FrameTimes> presentationTimes(std::span<const StoredFrame> frames);

// The POC of each access unit, read from its slice header by FFmpeg's H.264 parser. Feed the
// frames in decoding order: the count of a frame depends on the frames before it.
class PictureOrderReader {
  public:
    PictureOrderReader();
    ~PictureOrderReader();
    PictureOrderReader(const PictureOrderReader&) = delete;
    PictureOrderReader& operator=(const PictureOrderReader&) = delete;

    bool ok() const { return parser_ != nullptr && context_ != nullptr; }
    // POC of an Annex-B access unit; the previous frame's when the unit cannot be parsed.
    int poc(std::span<const uint8_t> annexB);

  private:
    AVCodecParserContext* parser_ = nullptr;
    AVCodecContext* context_ = nullptr;
    std::vector<uint8_t> padded_;
};

}  // namespace ifvtool
