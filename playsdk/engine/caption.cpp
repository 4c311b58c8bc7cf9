#include "caption.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <memory>

namespace zelplay {

namespace {

struct SurfaceDeleter {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct CairoDeleter {
    void operator()(cairo_t* c) const { cairo_destroy(c); }
};
struct GObjectDeleter {
    void operator()(void* o) const { g_object_unref(o); }
};
struct FontDeleter {
    void operator()(PangoFontDescription* d) const { pango_font_description_free(d); }
};
struct MetricsDeleter {
    void operator()(PangoFontMetrics* m) const { pango_font_metrics_unref(m); }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;
using Cairo = std::unique_ptr<cairo_t, CairoDeleter>;
using Layout = std::unique_ptr<PangoLayout, GObjectDeleter>;
using Font = std::unique_ptr<PangoFontDescription, FontDeleter>;

constexpr uint32_t kWhite = 0xFFFFFF;

// A cell height counts ascent and descent together (the font's em is smaller): the size
// is scaled so that the face fontconfig picks fills 16 pixels from ascent to descent.
Font captionFont(PangoContext* context) {
    Font font(pango_font_description_new());
    pango_font_description_set_family(font.get(), kCaptionFont);
    pango_font_description_set_weight(font.get(), static_cast<PangoWeight>(kCaptionWeight));
    pango_font_description_set_absolute_size(font.get(), kCaptionCellHeight * PANGO_SCALE);
    std::unique_ptr<PangoFontMetrics, MetricsDeleter> metrics(
        pango_context_get_metrics(context, font.get(), nullptr));
    if (metrics) {
        const int cell = pango_font_metrics_get_ascent(metrics.get()) +
                         pango_font_metrics_get_descent(metrics.get());
        if (cell > 0) {
            const double size = static_cast<double>(kCaptionCellHeight) * kCaptionCellHeight *
                                PANGO_SCALE * PANGO_SCALE / cell;
            pango_font_description_set_absolute_size(font.get(), size);
        }
    }
    return font;
}

// Text laid out at width on cr, wrapped at word boundaries (and inside words longer than
// a line), as an edit control wraps.
Layout captionLayout(cairo_t* cr, const std::string& text, int width) {
    Layout layout(pango_cairo_create_layout(cr));
    if (!layout)
        return layout;
    const Font font = captionFont(pango_layout_get_context(layout.get()));
    pango_layout_set_font_description(layout.get(), font.get());
    pango_layout_set_width(layout.get(), width * PANGO_SCALE);
    pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD_CHAR);
    pango_layout_set_text(layout.get(), text.c_str(), static_cast<int>(text.size()));
    return layout;
}

Cairo contextOn(cairo_surface_t* surface) {
    Cairo cr(cairo_create(surface));
    if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS)
        return nullptr;
    return cr;
}

}  // namespace

std::optional<int> captionTextHeight(const std::string& text, int width) {
    if (width <= 0)
        return std::nullopt;
    Surface surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1));
    Cairo cr = contextOn(surface.get());
    if (!cr)
        return std::nullopt;
    Layout layout = captionLayout(cr.get(), text, width);
    if (!layout)
        return std::nullopt;
    int height = 0;
    pango_layout_get_pixel_size(layout.get(), nullptr, &height);
    return height;
}

std::optional<CaptionStrip> renderCaption(const std::string& text, int width, int maxHeight) {
    const std::optional<int> textHeight = captionTextHeight(text, width);
    if (!textHeight || maxHeight < 0)
        return std::nullopt;
    CaptionStrip strip;
    strip.width = width;
    strip.height = std::min((*textHeight + 1) & ~1, maxHeight & ~1);
    if (strip.height == 0)
        return strip;
    Surface surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, strip.height));
    Cairo cr = contextOn(surface.get());
    if (!cr)
        return std::nullopt;
    cairo_set_source_rgb(cr.get(), 0, 0, 0);
    cairo_paint(cr.get());
    Layout layout = captionLayout(cr.get(), text, width);
    if (!layout)
        return std::nullopt;
    cairo_set_source_rgb(cr.get(), 1, 1, 1);
    cairo_move_to(cr.get(), 0, 0);
    pango_cairo_show_layout(cr.get(), layout.get());
    cairo_surface_flush(surface.get());

    strip.luma.assign(static_cast<size_t>(width) * static_cast<size_t>(strip.height), 0);
    const unsigned char* pixels = cairo_image_surface_get_data(surface.get());
    const int stride = cairo_image_surface_get_stride(surface.get());
    for (int row = 0; row < strip.height; ++row) {
        const auto* in =
            reinterpret_cast<const uint32_t*>(pixels + static_cast<size_t>(row) * stride);
        uint8_t* out = strip.luma.data() + static_cast<size_t>(row) * static_cast<size_t>(width);
        for (int x = 0; x < width; ++x)
            out[x] = (in[x] & kWhite) == kWhite ? 255 : 0;
    }
    return strip;
}

}  // namespace zelplay
