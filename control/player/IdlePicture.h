// The picture a video window shows while nothing plays: 678 × 429 pixels, 16 colours.
#pragma once

#include <QImage>

namespace monvid {

inline constexpr int kIdlePictureWidth = 678;
inline constexpr int kIdlePictureHeight = 429;
// Its clear band: the rows between its frame and the camera drawn below them, where what is
// written over the picture hides neither the camera nor the words under it.
inline constexpr int kIdlePictureClearTop = 24;
inline constexpr int kIdlePictureCameraTop = kIdlePictureHeight / 2 - 80;

// Made on first use in each language of the control, on the GUI thread; a 4-bit (16-entry
// colour table) image. Stays valid as long as the process.
const QImage& idlePicture();
// The same picture in 32-bit colour, for painting: an indexed picture would be converted on
// every paint (by Qt's worker threads, for one this large).
const QImage& idlePictureToPaint();

}  // namespace monvid
