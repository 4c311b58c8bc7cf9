// The picture a video window shows while nothing plays: 678 × 429 pixels, 16 colours.
#pragma once

#include <QImage>

namespace monvid {

inline constexpr int kIdlePictureWidth = 678;
inline constexpr int kIdlePictureHeight = 429;

// Made once, on first use, on the GUI thread; a 4-bit (16-entry colour table) image.
const QImage& idlePicture();

}  // namespace monvid
