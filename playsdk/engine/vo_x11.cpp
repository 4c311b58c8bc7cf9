// The plain backend for displays without shared memory (a remote display): the software
// path's image is sent with XPutImage.

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <vector>

#include "ximage_drawer.h"

namespace zelplay {

namespace {

class X11Drawer final : public XImageDrawer {
  public:
    explicit X11Drawer(const X11Target& target) : XImageDrawer(target) {}
    ~X11Drawer() override { destroyImage(); }

  private:
    bool createImage(int width, int height) override;
    void destroyImage() override;
    bool putImage() override;

    std::vector<char> pixels_;  // the image's data
};

bool X11Drawer::createImage(int width, int height) {
    image_ = XCreateImage(target_.display, target_.visual, static_cast<unsigned>(target_.depth),
                          ZPixmap, 0, nullptr, static_cast<unsigned>(width),
                          static_cast<unsigned>(height), 32, 0);
    if (image_ == nullptr)
        return false;
    pixels_.assign(static_cast<size_t>(image_->bytes_per_line) * static_cast<size_t>(height), 0);
    image_->data = pixels_.data();
    return true;
}

void X11Drawer::destroyImage() {
    if (image_ == nullptr)
        return;
    image_->data = nullptr;  // pixels_ is ours
    XDestroyImage(image_);
    image_ = nullptr;
}

bool X11Drawer::putImage() {
    XPutImage(target_.display, target_.window, target_.gc, image_, 0, 0, 0, 0,
              static_cast<unsigned>(image_->width), static_cast<unsigned>(image_->height));
    // Keeps at most one picture in flight per window on a slow link.
    XSync(target_.display, False);
    return true;
}

}  // namespace

std::unique_ptr<PictureDrawer> createX11Drawer(const X11Target& target) {
    return std::make_unique<X11Drawer>(target);
}

}  // namespace zelplay
