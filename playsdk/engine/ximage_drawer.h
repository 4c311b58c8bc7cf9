// The software path shared by the MIT-SHM and the plain backends: the picture converted
// and scaled (libswscale) straight into an X image of the window's size, with the
// draw-over painted on the picture first when a callback is set; the backend supplies the
// image and puts it on the window.
//
// Thread contract: the render thread only.
#pragma once

#include <X11/Xlib.h>

#include "draw_canvas.h"
#include "picture_drawer.h"
#include "software_scaler.h"

namespace zelplay {

// The pixel layout of an X image for swscale; AV_PIX_FMT_NONE when it has none.
AVPixelFormat ximagePixelFormat(const XImage& image, int depth);

class XImageDrawer : public PictureDrawer {
  public:
    explicit XImageDrawer(const X11Target& target) : target_(target) {}
    bool draw(const Picture& picture, int width, int height, const DrawOver& over,
              bool refresh) final;

  protected:
    // An image of width x height in image_ (the previous one is already gone).
    virtual bool createImage(int width, int height) = 0;
    virtual void destroyImage() = 0;
    // Puts the whole image at the window's origin; afterwards image_ (the same image or
    // another of the same size) may be written: the server no longer reads it.
    virtual bool putImage() = 0;

    X11Target target_;
    XImage* image_ = nullptr;

  private:
    SoftwareScaler scaler_;
    DrawCanvas canvas_;
    AVPixelFormat format_ = AV_PIX_FMT_NONE;
};

}  // namespace zelplay
