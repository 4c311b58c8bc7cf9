// The picture in RGB at its own size, for the caller's draw-over callback: the callback
// gets a cairo context on it (picture coordinates), and what it draws is then scaled to
// the window with the picture.
//
// Thread contract: one object per render thread.
#pragma once

#include <cstdint>
#include <vector>

#include "picture_drawer.h"
#include "software_scaler.h"

typedef struct _cairo_surface cairo_surface_t;

namespace zelplay {

class DrawCanvas {
  public:
    DrawCanvas() = default;
    ~DrawCanvas();
    DrawCanvas(const DrawCanvas&) = delete;
    DrawCanvas& operator=(const DrawCanvas&) = delete;

    // Converts the picture onto the canvas and runs the callback on it. The result is the
    // canvas as an RGB source (data null on failure).
    RgbBuffer paint(const Picture& picture, SoftwareScaler& scaler, const DrawOver& over);

  private:
    bool resize(int width, int height);

    std::vector<uint8_t> pixels_;
    cairo_surface_t* surface_ = nullptr;
    RgbBuffer buffer_;
};

}  // namespace zelplay
