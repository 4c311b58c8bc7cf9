#include "PictureConverter.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace monvid {

namespace {
// Bilinear when the size changes; FFmpeg takes its unscaled paths when it does not.
constexpr int kScaleFlags = SWS_BILINEAR;
}  // namespace

bool PictureConverter::convert(const AVFrame* frame, QSize target, QImage& out) {
    if (!frame || frame->width <= 0 || frame->height <= 0 || target.isEmpty() ||
        !av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format)))
        return false;
    m_scaler = sws_getCachedContext(m_owner.release(), frame->width, frame->height,
                                    static_cast<AVPixelFormat>(frame->format), target.width(),
                                    target.height(), AV_PIX_FMT_BGRA, kScaleFlags, nullptr,
                                    nullptr, nullptr);
    m_owner.reset(m_scaler);
    if (!m_scaler)
        return false;
    // Qt's 32-bit RGB is blue, green, red, 0xFF in memory: FFmpeg's BGRA with opaque alpha.
    if (out.size() != target || out.format() != QImage::Format_RGB32 || !out.isDetached())
        out = QImage(target, QImage::Format_RGB32);
    if (out.isNull())
        return false;
    uint8_t* const dst[4] = {out.bits(), nullptr, nullptr, nullptr};
    const int dstStride[4] = {static_cast<int>(out.bytesPerLine()), 0, 0, 0};
    return sws_scale(m_scaler, frame->data, frame->linesize, 0, frame->height, dst, dstStride) > 0;
}

QImage frameToImage(const AVFrame* frame) {
    if (!frame)
        return {};
    PictureConverter converter;
    QImage image;
    if (!converter.convert(frame, QSize(frame->width, frame->height), image))
        return {};
    return image;
}

}  // namespace monvid
