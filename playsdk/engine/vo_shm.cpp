// The MIT-SHM backend: the software path's image lives in a shared-memory segment, so
// the server reads the pixels without a copy through the socket.

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include "x11_connection.h"
#include "ximage_drawer.h"

namespace zelplay {

namespace {

class ShmDrawer final : public XImageDrawer {
  public:
    explicit ShmDrawer(const X11Target& target) : XImageDrawer(target) {}
    ~ShmDrawer() override { destroyImage(); }

  private:
    bool createImage(int width, int height) override;
    void destroyImage() override;
    bool putImage() override;

    XShmSegmentInfo segment_{};
    bool attached_ = false;
};

bool ShmDrawer::createImage(int width, int height) {
    Display* dpy = target_.display;
    image_ =
        XShmCreateImage(dpy, target_.visual, static_cast<unsigned>(target_.depth), ZPixmap, nullptr,
                        &segment_, static_cast<unsigned>(width), static_cast<unsigned>(height));
    if (image_ == nullptr)
        return false;
    const size_t bytes = static_cast<size_t>(image_->bytes_per_line) * static_cast<size_t>(height);
    segment_.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (segment_.shmid < 0) {
        destroyImage();
        return false;
    }
    segment_.shmaddr = static_cast<char*>(shmat(segment_.shmid, nullptr, 0));
    if (segment_.shmaddr == reinterpret_cast<char*>(-1)) {
        shmctl(segment_.shmid, IPC_RMID, nullptr);
        segment_.shmaddr = nullptr;
        destroyImage();
        return false;
    }
    image_->data = segment_.shmaddr;
    segment_.readOnly = False;
    target_.connection->takeErrors();
    XShmAttach(dpy, &segment_);
    XSync(dpy, False);
    // A server on another machine cannot attach: the error comes back here.
    attached_ = target_.connection->takeErrors().count == 0;
    // The segment goes away with the last detach.
    shmctl(segment_.shmid, IPC_RMID, nullptr);
    if (!attached_) {
        destroyImage();
        return false;
    }
    return true;
}

void ShmDrawer::destroyImage() {
    if (attached_) {
        XShmDetach(target_.display, &segment_);
        XSync(target_.display, False);
        attached_ = false;
    }
    if (image_ != nullptr) {
        image_->data = nullptr;  // the segment is not Xlib's to free
        XDestroyImage(image_);
        image_ = nullptr;
    }
    if (segment_.shmaddr != nullptr)
        shmdt(segment_.shmaddr);  // removal was asked for when it was made
    segment_ = {};
}

bool ShmDrawer::putImage() {
    XShmPutImage(target_.display, target_.window, target_.gc, image_, 0, 0, 0, 0,
                 static_cast<unsigned>(image_->width), static_cast<unsigned>(image_->height),
                 False);
    // The next picture is written into the same segment: the server must be done with it.
    XSync(target_.display, False);
    return true;
}

}  // namespace

std::unique_ptr<PictureDrawer> createShmDrawer(const X11Target& target) {
    int major = 0, minor = 0;
    Bool pixmaps = False;
    if (!XShmQueryVersion(target.display, &major, &minor, &pixmaps))
        return nullptr;
    return std::make_unique<ShmDrawer>(target);
}

}  // namespace zelplay
