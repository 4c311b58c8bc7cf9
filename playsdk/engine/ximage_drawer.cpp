#include "ximage_drawer.h"

#include "shared_picture.h"

namespace zelplay {

AVPixelFormat ximagePixelFormat(const XImage& image, int depth) {
    const bool lsb = image.byte_order == LSBFirst;
    const unsigned long r = image.red_mask, g = image.green_mask, b = image.blue_mask;
    switch (image.bits_per_pixel) {
        case 32:
            if (r == 0xFF0000 && g == 0xFF00 && b == 0xFF) {
                // A 32-bit visual shows the top byte as alpha: it must be opaque.
                if (depth == 32)
                    return lsb ? AV_PIX_FMT_BGRA : AV_PIX_FMT_ARGB;
                return lsb ? AV_PIX_FMT_BGR0 : AV_PIX_FMT_0RGB;
            }
            if (r == 0xFF && g == 0xFF00 && b == 0xFF0000)
                return lsb ? AV_PIX_FMT_RGB0 : AV_PIX_FMT_0BGR;
            break;
        case 24:
            if (r == 0xFF0000 && g == 0xFF00 && b == 0xFF)
                return lsb ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_RGB24;
            break;
        case 16:
            if (r == 0xF800 && g == 0x07E0 && b == 0x1F)
                return lsb ? AV_PIX_FMT_RGB565LE : AV_PIX_FMT_RGB565BE;
            if (r == 0x7C00 && g == 0x03E0 && b == 0x1F)
                return lsb ? AV_PIX_FMT_RGB555LE : AV_PIX_FMT_RGB555BE;
            break;
        default:
            break;
    }
    return AV_PIX_FMT_NONE;
}

bool XImageDrawer::draw(const Picture& picture, int width, int height, const DrawOver& over,
                        bool /*refresh*/) {
    if (image_ == nullptr || image_->width != width || image_->height != height) {
        destroyImage();
        if (!createImage(width, height))
            return false;
        format_ = ximagePixelFormat(*image_, target_.depth);
        if (format_ == AV_PIX_FMT_NONE)
            return false;
    }
    const RgbBuffer out{reinterpret_cast<uint8_t*>(image_->data), image_->bytes_per_line, width,
                        height, format_};
    if (over.fn != nullptr) {
        const RgbBuffer canvas = canvas_.paint(picture, scaler_, over);
        if (canvas.data == nullptr || !scaler_.rgbToRgb(canvas, out))
            return false;
    } else if (!scaler_.yuvToRgb(picture, out)) {
        return false;
    }
    return putImage();
}

}  // namespace zelplay
