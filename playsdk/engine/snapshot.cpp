#include "snapshot.h"

#include <cstdio>
#include <cstring>

#include "bmp_writer.h"
#include "caption.h"
#include "files/regular_file.h"
#include "jpeg_writer.h"

namespace zelplay {

namespace {

constexpr uint8_t kNeutralChroma = 128;

// A snapshot goes to a regular file or a new one, never to a FIFO or a device (whose open
// or writes could wait for the outside world).
bool writeWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::FILE* file = files::fopenRegular(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

}  // namespace

PlanarImage copyPicture(const PlanarView& picture) {
    PlanarImage image;
    image.width = picture.width;
    image.height = picture.height;
    image.planes.resize(picture.totalBytes());
    const size_t luma = picture.lumaBytes(), quarter = luma / 4;
    std::memcpy(image.planes.data(), picture.y, luma);
    std::memcpy(image.planes.data() + luma, picture.v, quarter);
    std::memcpy(image.planes.data() + luma + quarter, picture.u, quarter);
    return image;
}

std::optional<PlanarImage> composeTagged(const PlanarView& picture, const std::string& tag) {
    const std::optional<CaptionStrip> strip = renderCaption(tag, picture.width, picture.height / 3);
    if (!strip)
        return std::nullopt;
    PlanarImage tagged;
    tagged.width = picture.width;
    tagged.height = picture.height + strip->height;
    const size_t luma = picture.lumaBytes(), quarter = luma / 4;
    const size_t stripQuarter = strip->luma.size() / 4;
    const size_t outLuma = luma + strip->luma.size();
    tagged.planes.resize(outLuma * 3 / 2);
    uint8_t* y = tagged.planes.data();
    uint8_t* v = y + outLuma;
    uint8_t* u = v + outLuma / 4;
    std::memcpy(y, picture.y, luma);
    std::memcpy(y + luma, strip->luma.data(), strip->luma.size());
    std::memcpy(v, picture.v, quarter);
    std::memset(v + quarter, kNeutralChroma, stripQuarter);
    std::memcpy(u, picture.u, quarter);
    std::memset(u + quarter, kNeutralChroma, stripQuarter);
    return tagged;
}

bool writeSnapshotFile(const std::string& file, SnapshotFormat format, int quality,
                       const PlanarView& picture) {
    if (format == SnapshotFormat::Jpeg)
        return writeJpeg(file, quality, picture);
    return writeWholeFile(file, encodeBmp(picture));
}

}  // namespace zelplay
