#include "PictureConverter.h"

#include <algorithm>

#include "pixels/halve.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace monvid {

namespace {
// Bilinear when the size changes; FFmpeg takes its unscaled paths when it does not.
constexpr int kScaleFlags = SWS_BILINEAR;

bool halvable(AVPixelFormat format) {
    return format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P;
}

// Halves a plane into `out`, sized to fit; returns the stride of the result.
int halveInto(const pixels::ConstPlane& in, std::vector<std::uint8_t>& out) {
    const int width = in.width / 2;
    out.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(in.height / 2));
    pixels::halvePlane(in, out.data(), width);
    return width;
}
}  // namespace

bool PictureConverter::convert(const AVFrame* frame, QSize target, QImage& out) {
    if (!frame || frame->width <= 0 || frame->height <= 0 || target.isEmpty() ||
        !av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format)))
        return false;
    const auto format = static_cast<AVPixelFormat>(frame->format);
    const std::uint8_t* planes[4] = {frame->data[0], frame->data[1], frame->data[2], nullptr};
    int strides[4] = {frame->linesize[0], frame->linesize[1], frame->linesize[2], 0};
    int width = frame->width, height = frame->height;
    if (halvable(format) && frame->linesize[0] > 0 && frame->linesize[1] > 0 &&
        frame->linesize[2] > 0) {
        // Sizes that are multiples of 4 halve into whole 4:2:0 pictures, chroma included.
        for (int pass = 0; width >= 2 * target.width() && height >= 2 * target.height() &&
                           width % 4 == 0 && height % 4 == 0;
             ++pass) {
            auto& half = m_half[pass % 2];
            const int chromaWidth = width / 2, chromaHeight = height / 2;
            strides[0] = halveInto({planes[0], strides[0], width, height}, half[0]);
            strides[1] = halveInto({planes[1], strides[1], chromaWidth, chromaHeight}, half[1]);
            strides[2] = halveInto({planes[2], strides[2], chromaWidth, chromaHeight}, half[2]);
            for (int p = 0; p < 3; ++p)
                planes[p] = half[p].data();
            width /= 2;
            height /= 2;
        }
    }
    m_scaler.reset(sws_getCachedContext(m_scaler.release(), width, height, format, target.width(),
                                        target.height(), AV_PIX_FMT_BGRA, kScaleFlags, nullptr,
                                        nullptr, nullptr));
    if (!m_scaler)
        return false;
    // Qt's 32-bit RGB is blue, green, red, 0xFF in memory: FFmpeg's BGRA with opaque alpha.
    if (out.size() != target || out.format() != QImage::Format_RGB32 || !out.isDetached())
        out = QImage(target, QImage::Format_RGB32);
    if (out.isNull())
        return false;
    std::uint8_t* const dst[4] = {out.bits(), nullptr, nullptr, nullptr};
    const int dstStride[4] = {static_cast<int>(out.bytesPerLine()), 0, 0, 0};
    return sws_scale(m_scaler.get(), planes, strides, 0, height, dst, dstStride) > 0;
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
