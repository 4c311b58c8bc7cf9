#include "software_scaler.h"

extern "C" {
#include <libswscale/swscale.h>
}

#include "picture_slot.h"

namespace zelplay {

namespace {

// Bilinear with swscale's fast horizontal pass: the cheapest filter that still averages
// neighbours when a window is smaller than the picture.
constexpr int kScaleFlags = SWS_FAST_BILINEAR;
constexpr int kFixedOne = 1 << 16;

}  // namespace

SoftwareScaler::~SoftwareScaler() {
    sws_freeContext(yuv_.context);
    sws_freeContext(rgb_.context);
}

SwsContext* SoftwareScaler::contextFor(Cached& cache, const Key& key) {
    if (cache.context != nullptr && cache.key == key)
        return cache.context;
    sws_freeContext(cache.context);
    cache.context = sws_getContext(key.srcWidth, key.srcHeight, key.srcFormat, key.dstWidth,
                                   key.dstHeight, key.dstFormat, kScaleFlags, nullptr, nullptr,
                                   nullptr);
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

bool SoftwareScaler::yuvToRgb(const Picture& picture, const RgbBuffer& dst) {
    if (picture.empty() || dst.data == nullptr || dst.width <= 0 || dst.height <= 0)
        return false;
    SwsContext* ctx = contextFor(yuv_, {picture.width, picture.height, dst.width, dst.height,
                                        AV_PIX_FMT_YUV420P, dst.format});
    if (ctx == nullptr)
        return false;
    // swscale's planes are Y, U, V; the picture keeps V before U.
    const uint8_t* const src[3] = {picture.y(), picture.u(), picture.v()};
    const int srcStride[3] = {picture.width, picture.width / 2, picture.width / 2};
    uint8_t* const out[1] = {dst.data};
    const int outStride[1] = {dst.stride};
    return sws_scale(ctx, src, srcStride, 0, picture.height, out, outStride) == dst.height;
}

bool SoftwareScaler::rgbToRgb(const RgbBuffer& src, const RgbBuffer& dst) {
    if (src.data == nullptr || dst.data == nullptr || dst.width <= 0 || dst.height <= 0)
        return false;
    SwsContext* ctx = contextFor(
        rgb_, {src.width, src.height, dst.width, dst.height, src.format, dst.format});
    if (ctx == nullptr)
        return false;
    const uint8_t* const in[1] = {src.data};
    const int inStride[1] = {src.stride};
    uint8_t* const out[1] = {dst.data};
    const int outStride[1] = {dst.stride};
    return sws_scale(ctx, in, inStride, 0, src.height, out, outStride) == dst.height;
}

}  // namespace zelplay
