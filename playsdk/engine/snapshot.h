// Snapshots of a port's picture: the picture with an optional caption strip under it,
// written as a 24-bit BMP or a JPEG file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "yuv_convert.h"

namespace zelplay {

enum class SnapshotFormat { Bmp, Jpeg };

inline constexpr int kMaxJpegQuality = 100;

// A picture of its own: planar 4:2:0, tightly packed.
struct PlanarImage {
    std::vector<uint8_t> planes;
    int width = 0;
    int height = 0;

    PlanarView view() const { return planarView(planes.data(), width, height); }
};

// A copy of picture; may throw std::bad_alloc.
PlanarImage copyPicture(const PlanarView& picture);

// The picture with the caption of tag below it, width x (height + strip): the strip's luma
// follows the picture's, its chroma is neutral (128). The strip is cut to height / 3 rows,
// so the whole fits in width x height x 2 bytes. Nothing when the caption cannot be made.
std::optional<PlanarImage> composeTagged(const PlanarView& picture, const std::string& tag);

// Writes picture to file: true on success, false when it cannot be written.
bool writeSnapshotFile(const std::string& file, SnapshotFormat format, int quality,
                       const PlanarView& picture);

}  // namespace zelplay
