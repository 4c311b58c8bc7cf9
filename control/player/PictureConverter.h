// Converts decoded pictures to what the window paints: 32-bit pixels at the size of the
// video area, top row first, in one pass with a scaler kept from picture to picture. The
// window then paints them without scaling. Play thread (one converter per run), except
// frameToImage, which any thread may call.
#pragma once

#include <QImage>
#include <QSize>

#include "FfmpegPtr.h"

namespace monvid {

class PictureConverter {
  public:
    // Converts `frame` to `target` into `out`, which is reused when it already has that size
    // and nobody else holds it. False when the frame's pixel format or sizes are unusable.
    bool convert(const AVFrame* frame, QSize target, QImage& out);

  private:
    SwsContext* m_scaler = nullptr;  // owned; made again only when a size or format changes
    SwsPtr m_owner;
};

// A decoded picture at its own size as a 32-bit image, top row first; null on failure.
QImage frameToImage(const AVFrame* frame);

}  // namespace monvid
