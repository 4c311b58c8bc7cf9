#include "draw_canvas.h"

#include <cairo.h>

#include "shared_picture.h"

namespace zelplay {

DrawCanvas::~DrawCanvas() {
    if (surface_ != nullptr)
        cairo_surface_destroy(surface_);
}

bool DrawCanvas::resize(int width, int height) {
    if (surface_ != nullptr && buffer_.width == width && buffer_.height == height)
        return true;
    if (surface_ != nullptr)
        cairo_surface_destroy(surface_);
    surface_ = nullptr;
    const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, width);
    if (stride <= 0)
        return false;
    pixels_.assign(static_cast<size_t>(stride) * static_cast<size_t>(height), 0);
    surface_ = cairo_image_surface_create_for_data(pixels_.data(), CAIRO_FORMAT_RGB24, width,
                                                   height, stride);
    if (cairo_surface_status(surface_) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface_);
        surface_ = nullptr;
        return false;
    }
    // cairo's RGB24 is a native-endian 32-bit word 0x00RRGGBB.
    buffer_ = {pixels_.data(), stride, width, height, AV_PIX_FMT_0RGB32};
    return true;
}

RgbBuffer DrawCanvas::paint(const Picture& picture, SoftwareScaler& scaler, const DrawOver& over) {
    if (!resize(picture.width, picture.height) || !scaler.yuvToRgb(picture, buffer_))
        return {};
    cairo_surface_mark_dirty(surface_);
    cairo_t* cr = cairo_create(surface_);
    over.fn(over.port, cr, over.user);
    cairo_destroy(cr);
    cairo_surface_flush(surface_);
    return buffer_;
}

}  // namespace zelplay
