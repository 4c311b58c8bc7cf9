#include "software_scaler.h"

#include "pixels/halve.h"

extern "C" {
#include <libswscale/swscale.h>
}

namespace zelplay {

namespace {

// What is left after halving is less than a factor of two down, or scaling up: bilinear.
constexpr int kScaleFlags = SWS_BILINEAR;
constexpr int kFixedOne = 1 << 16;

// dst (width/2 x height/2, packed rows) = rounded means of the 2 x 2 blocks of src.
// Halves a plane of width x height samples, rows stride apart, into dst packed.
void halve(const uint8_t* src, int stride, int width, int height, uint8_t* dst) {
    pixels::halvePlane({src, stride, width, height}, dst, width / 2);
}

}  // namespace

SoftwareScaler::~SoftwareScaler() {
    sws_freeContext(yuv_.context);
    sws_freeContext(rgb_.context);
}

SwsContext* SoftwareScaler::contextFor(Cached& cache, const Key& key) {
    if (cache.context != nullptr && cache.key == key)
        return cache.context;
    sws_freeContext(cache.context);
    cache.context =
        sws_getContext(key.srcWidth, key.srcHeight, key.srcFormat, key.dstWidth, key.dstHeight,
                       key.dstFormat, kScaleFlags, nullptr, nullptr, nullptr);
    cache.key = key;
    if (cache.context == nullptr)
        return nullptr;
    ++contextsMade_;
    if (key.srcFormat == AV_PIX_FMT_YUV420P) {
        // BT.601, limited-range input; full-range RGB out.
        const int* bt601 = sws_getCoefficients(SWS_CS_ITU601);
        sws_setColorspaceDetails(cache.context, bt601, 0, bt601, 1, 0, kFixedOne, kFixedOne);
    }
    return cache.context;
}

const Picture& SoftwareScaler::reduceFor(const Picture& picture, int width, int height) {
    const Picture* current = &picture;
    for (int step = 0;; step ^= 1) {
        const int w = current->width, h = current->height;
        // Halving keeps the chroma planes whole only for sizes that are multiples of 4.
        if (2 * width > w || 2 * height > h || w % 4 != 0 || h % 4 != 0)
            return *current;
        PictureBytes& bytes = halfBytes_[step];
        bytes.resize(static_cast<size_t>(w / 2) * static_cast<size_t>(h / 2) * 3 / 2);
        // A view that does not own the steps' planes (they live as long as the scaler).
        Picture& half = halves_[step] = Picture::packed(
            std::shared_ptr<const PictureBytes>(std::shared_ptr<void>(), &bytes), w / 2, h / 2);
        halve(current->y(), current->yStride, w, h, bytes.data());
        halve(current->v(), current->uvStride, w / 2, h / 2, bytes.data() + half.lumaBytes());
        halve(current->u(), current->uvStride, w / 2, h / 2,
              bytes.data() + half.lumaBytes() + half.chromaBytes());
        current = &half;
    }
}

bool SoftwareScaler::yuvToRgb(const Picture& whole, const RgbBuffer& dst) {
    if (whole.empty() || dst.data == nullptr || dst.width <= 0 || dst.height <= 0)
        return false;
    const Picture& picture = reduceFor(whole, dst.width, dst.height);
    SwsContext* ctx = contextFor(yuv_, {picture.width, picture.height, dst.width, dst.height,
                                        AV_PIX_FMT_YUV420P, dst.format});
    if (ctx == nullptr)
        return false;
    // swscale's planes are Y, U, V; the picture keeps V before U.
    const uint8_t* const src[3] = {picture.y(), picture.u(), picture.v()};
    const int srcStride[3] = {picture.yStride, picture.uvStride, picture.uvStride};
    uint8_t* const out[1] = {dst.data};
    const int outStride[1] = {dst.stride};
    return sws_scale(ctx, src, srcStride, 0, picture.height, out, outStride) == dst.height;
}

bool SoftwareScaler::rgbToRgb(const RgbBuffer& src, const RgbBuffer& dst) {
    if (src.data == nullptr || dst.data == nullptr || dst.width <= 0 || dst.height <= 0)
        return false;
    SwsContext* ctx =
        contextFor(rgb_, {src.width, src.height, dst.width, dst.height, src.format, dst.format});
    if (ctx == nullptr)
        return false;
    const uint8_t* const in[1] = {src.data};
    const int inStride[1] = {src.stride};
    uint8_t* const out[1] = {dst.data};
    const int outStride[1] = {dst.stride};
    return sws_scale(ctx, in, inStride, 0, src.height, out, outStride) == dst.height;
}

}  // namespace zelplay
