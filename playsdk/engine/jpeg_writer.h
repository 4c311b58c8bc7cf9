// JPEG files of pictures through libjpeg (6b interface): baseline, 4:2:0, the planes handed
// to the compressor as raw downsampled data after expansion to full range.
#pragma once

#include <string>

#include "yuv_convert.h"

namespace zelplay {

// Writes picture to path at quality 0..100 (0 is taken as 1). False when the file cannot be
// created or written, or the library reports an error; a file left behind is then
// incomplete.
bool writeJpeg(const std::string& path, int quality, const PlanarView& picture);

}  // namespace zelplay
