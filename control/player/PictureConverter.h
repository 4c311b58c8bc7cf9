// Converts decoded pictures to what the window paints: 32-bit pixels at the size of the
// video area, top row first, with a scaler kept from picture to picture. The window then
// paints them without scaling. Play thread (one converter per run), except frameToImage, which
// any thread may call.
//
// A 4:2:0 picture at least twice the area's size in both directions (and of a size that is a
// multiple of 4) is first halved by 2 × 2 averages (as often as it stays so), which is cheaper than
// letting the scaler shrink it and no worse to look at; a picture halved to exactly the area's size
// is then only converted.
#pragma once

#include <QImage>
#include <QSize>

#include <cstdint>
#include <vector>

#include "FfmpegPtr.h"

namespace monvid {

class PictureConverter {
  public:
    // Converts `frame` to `target` into `out`, which is reused when it already has that size
    // and nobody else holds it. False when the frame's pixel format or sizes are unusable.
    bool convert(const AVFrame* frame, QSize target, QImage& out);

  private:
    SwsPtr m_scaler;  // made again only when a size or format changes
    // Planes of the halved picture (Y, U, V), reused from picture to picture.
    std::vector<std::uint8_t> m_half[2][3];
};

// A decoded picture at its own size as a 32-bit image, top row first; null on failure.
QImage frameToImage(const AVFrame* frame);

}  // namespace monvid
