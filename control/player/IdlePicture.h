// The picture a video window shows while nothing plays: 678 × 429 pixels, 16 colours.
#pragma once

#include <QImage>

namespace monvid {

inline constexpr int kIdlePictureWidth = 678;
inline constexpr int kIdlePictureHeight = 429;

// Made on first use in each language of the control, on the GUI thread; a 4-bit (16-entry
// colour table) image. Stays valid as long as the process.
const QImage& idlePicture();

}  // namespace monvid
