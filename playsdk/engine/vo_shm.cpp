// The MIT-SHM backend: the software path's image lives in a shared-memory segment, so
// the server reads the pixels without a copy through the socket.
//
// The image is drawn into segments in turn, and a segment is drawn into again only once
// the server is known to have finished the put that last showed it. The server's word on
// that costs a round trip (XSync), which is made only when the segment coming up may still
// be in use; with two segments that is every second picture, and the one sync covers both.

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <array>

#include "x11_connection.h"
#include "ximage_drawer.h"

namespace zelplay {

namespace {

constexpr size_t kSegments = 2;

class ShmDrawer final : public XImageDrawer {
  public:
    explicit ShmDrawer(const X11Target& target) : XImageDrawer(target) {}
    ~ShmDrawer() override { destroyImage(); }

  private:
    struct Segment {
        XImage* image = nullptr;
        XShmSegmentInfo info{};
        bool attached = false;
        unsigned long putRequest = 0;  // the request that last showed it; 0: none since made
    };

    bool createImage(int width, int height) override;
    void destroyImage() override;
    bool putImage() override;
    bool createSegment(Segment& segment, int width, int height);
    void destroySegment(Segment& segment);

    std::array<Segment, kSegments> segments_;
    size_t current_ = 0;  // the segment image_ is
};

bool ShmDrawer::createImage(int width, int height) {
    for (Segment& segment : segments_) {
        if (!createSegment(segment, width, height)) {
            destroyImage();
            return false;
        }
    }
    current_ = 0;
    image_ = segments_[0].image;
    return true;
}

bool ShmDrawer::createSegment(Segment& segment, int width, int height) {
    Display* dpy = target_.display;
    segment.image =
        XShmCreateImage(dpy, target_.visual, static_cast<unsigned>(target_.depth), ZPixmap, nullptr,
                        &segment.info, static_cast<unsigned>(width), static_cast<unsigned>(height));
    if (segment.image == nullptr)
        return false;
    const size_t bytes =
        static_cast<size_t>(segment.image->bytes_per_line) * static_cast<size_t>(height);
    segment.info.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (segment.info.shmid < 0)
        return false;
    segment.info.shmaddr = static_cast<char*>(shmat(segment.info.shmid, nullptr, 0));
    if (segment.info.shmaddr == reinterpret_cast<char*>(-1)) {
        shmctl(segment.info.shmid, IPC_RMID, nullptr);
        segment.info.shmaddr = nullptr;
        return false;
    }
    segment.image->data = segment.info.shmaddr;
    segment.info.readOnly = False;
    target_.connection->takeErrors();
    XShmAttach(dpy, &segment.info);
    XSync(dpy, False);
    // A server on another machine cannot attach: the error comes back here.
    segment.attached = target_.connection->takeErrors().count == 0;
    // The segment goes away with the last detach.
    shmctl(segment.info.shmid, IPC_RMID, nullptr);
    segment.putRequest = 0;
    return segment.attached;
}

void ShmDrawer::destroyImage() {
    for (Segment& segment : segments_)
        destroySegment(segment);
    image_ = nullptr;
}

void ShmDrawer::destroySegment(Segment& segment) {
    if (segment.attached) {
        XShmDetach(target_.display, &segment.info);
        XSync(target_.display, False);  // the server lets go before the memory goes
        segment.attached = false;
    }
    if (segment.image != nullptr) {
        segment.image->data = nullptr;  // the segment is not Xlib's to free
        XDestroyImage(segment.image);
        segment.image = nullptr;
    }
    if (segment.info.shmaddr != nullptr)
        shmdt(segment.info.shmaddr);  // removal was asked for when it was made
    segment.info = {};
}

bool ShmDrawer::putImage() {
    Display* dpy = target_.display;
    segments_[current_].putRequest = NextRequest(dpy);
    XShmPutImage(dpy, target_.window, target_.gc, image_, 0, 0, 0, 0,
                 static_cast<unsigned>(image_->width), static_cast<unsigned>(image_->height),
                 False);
    XFlush(dpy);
    // The next picture goes into the next segment: the server must be done with it.
    current_ = (current_ + 1) % kSegments;
    const Segment& next = segments_[current_];
    if (next.putRequest != 0 && LastKnownRequestProcessed(dpy) < next.putRequest)
        XSync(dpy, False);
    image_ = next.image;
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
