#include "bmp_writer.h"

#include <algorithm>

#include "frame_record.h"

namespace zelplay {

namespace {
constexpr uint32_t kInfoHeaderBytes = 40;
constexpr uint16_t kPlanes = 1;
constexpr uint16_t kBitsPerPixel = 24;
constexpr uint32_t kNoCompression = 0;
}  // namespace

size_t bmpRowBytes(int width) {
    return (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
}

std::array<uint8_t, kBmpHeaderBytes> bmpHeaders(int width, int height) {
    const auto imageBytes = static_cast<uint32_t>(bmpRowBytes(width) * static_cast<size_t>(height));
    std::array<uint8_t, kBmpHeaderBytes> h{};
    // File header.
    h[0] = 'B';
    h[1] = 'M';
    writeLe32(&h[2], imageBytes + kBmpHeaderBytes);  // file size
    // 6..9: two reserved zero words
    writeLe32(&h[10], kBmpHeaderBytes);  // offset of the pixels
    // Information header.
    writeLe32(&h[14], kInfoHeaderBytes);
    writeLe32(&h[18], static_cast<uint32_t>(width));
    writeLe32(&h[22], static_cast<uint32_t>(height));  // positive: rows bottom-up
    writeLe16(&h[26], kPlanes);
    writeLe16(&h[28], kBitsPerPixel);
    writeLe32(&h[30], kNoCompression);
    writeLe32(&h[34], imageBytes);
    // 38..53: resolution, palette size and important colours, all zero
    return h;
}

std::vector<uint8_t> encodeBmp(const PlanarView& picture) {
    const size_t rowBytes = bmpRowBytes(picture.width);
    std::vector<uint8_t> file(kBmpHeaderBytes + rowBytes * static_cast<size_t>(picture.height), 0);
    const auto headers = bmpHeaders(picture.width, picture.height);
    std::copy(headers.begin(), headers.end(), file.begin());
    convertToBgrBottomUp(picture, file.data() + kBmpHeaderBytes, rowBytes);
    return file;
}

}  // namespace zelplay
