// Software conversion of 4:2:0 pictures to the RGB layouts of X images, scaled to the
// window, with libswscale. Input is BT.601 limited range (what the decoder hands out);
// output is full-range RGB. The contexts are cached: a new one is made only when a size
// or a format changes, never per picture.
//
// A window at most half the picture's size (the usual case on a video wall) first gets the
// picture halved by 2 x 2 averages, as often as that holds: far cheaper than swscale's
// filters over every source pixel, and what a bilinear filter gives at exactly half. The
// rest of the scaling and the conversion are swscale's.
//
// Thread contract: one object per render thread; not shared.
#pragma once

extern "C" {
#include <libavutil/pixfmt.h>
}

#include <cstdint>

#include "shared_picture.h"

struct SwsContext;

namespace zelplay {

// A packed RGB destination (or source) in memory.
struct RgbBuffer {
    uint8_t* data = nullptr;
    int stride = 0;  // bytes per row
    int width = 0;
    int height = 0;
    AVPixelFormat format = AV_PIX_FMT_NONE;
};

class SoftwareScaler {
  public:
    SoftwareScaler() = default;
    ~SoftwareScaler();
    SoftwareScaler(const SoftwareScaler&) = delete;
    SoftwareScaler& operator=(const SoftwareScaler&) = delete;

    // The picture converted and scaled to fill dst.
    bool yuvToRgb(const Picture& picture, const RgbBuffer& dst);
    // An RGB picture (the draw-over canvas) scaled and converted to fill dst.
    bool rgbToRgb(const RgbBuffer& src, const RgbBuffer& dst);

    // How many contexts were made (for tests: one per change of size or format).
    int contextsMade() const { return contextsMade_; }

  private:
    struct Key {
        int srcWidth = 0, srcHeight = 0, dstWidth = 0, dstHeight = 0;
        AVPixelFormat srcFormat = AV_PIX_FMT_NONE, dstFormat = AV_PIX_FMT_NONE;
        bool operator==(const Key&) const = default;
    };
    struct Cached {
        SwsContext* context = nullptr;
        Key key;
    };
    SwsContext* contextFor(Cached& cache, const Key& key);
    // The picture halved while dst stays at most half of it; the picture itself otherwise.
    const Picture& reduceFor(const Picture& picture, int width, int height);

    Cached yuv_;
    PictureBytes halfBytes_[2];  // reduction steps' planes, reused from picture to picture
    Picture halves_[2];          // views of them
    Cached rgb_;
    int contextsMade_ = 0;
};

}  // namespace zelplay
