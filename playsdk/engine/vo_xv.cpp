// The XVideo backend: the picture goes to the adaptor as a YV12 image and the adaptor
// converts and scales it to the window (the hardware path). Pictures with a draw-over
// callback take the software path instead (the adaptor's output cannot be drawn on).

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xv.h>
#include <X11/extensions/Xvlib.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstring>

#include "picture_drawer.h"
#include "picture_slot.h"
#include "x11_connection.h"

namespace zelplay {

namespace {

constexpr int kYv12 = 0x32315659;  // FOURCC "YV12": planes Y, V, U

// Whether the port lists YV12 among its image formats.
bool portTakesYv12(Display* dpy, XvPortID port) {
    int count = 0;
    XvImageFormatValues* formats = XvListImageFormats(dpy, port, &count);
    bool found = false;
    for (int i = 0; i < count && !found; ++i)
        found = formats[i].id == kYv12 && formats[i].type == XvYUV && formats[i].format == XvPlanar;
    if (formats != nullptr)
        XFree(formats);
    return found;
}

// The atom of a port attribute, when the port has it.
Atom portAttribute(Display* dpy, XvPortID port, const char* name) {
    int count = 0;
    XvAttribute* attributes = XvQueryPortAttributes(dpy, port, &count);
    bool found = false;
    for (int i = 0; i < count && !found; ++i)
        found = std::strcmp(attributes[i].name, name) == 0;
    if (attributes != nullptr)
        XFree(attributes);
    return found ? XInternAtom(dpy, name, False) : None;
}

class XvDrawer final : public PictureDrawer {
  public:
    XvDrawer(const X11Target& target, XvPortID port);
    ~XvDrawer() override;
    bool draw(const Picture& picture, int width, int height, const DrawOver& over,
              bool refresh) override;
    bool drawsOver() const override { return false; }

  private:
    bool createImage(int width, int height);
    void destroyImage();
    void copyPlanes(const Picture& picture);

    X11Target target_;
    XvPortID port_;
    bool useShm_ = false;
    XvImage* image_ = nullptr;
    XShmSegmentInfo segment_{};
    bool attached_ = false;
    std::vector<char> pixels_;     // the image's data without shared memory
    bool paintColourKey_ = false;  // an overlay port that does not paint its key itself
    int colourKey_ = 0;
};

XvDrawer::XvDrawer(const X11Target& target, XvPortID port) : target_(target), port_(port) {
    int major = 0, minor = 0;
    Bool pixmaps = False;
    useShm_ = XShmQueryVersion(target_.display, &major, &minor, &pixmaps) != 0;
    // Overlay adaptors show the video where the window has the colour key: ask the
    // adaptor to paint it, else paint it ourselves.
    const Atom autopaint = portAttribute(target_.display, port_, "XV_AUTOPAINT_COLORKEY");
    const Atom key = portAttribute(target_.display, port_, "XV_COLORKEY");
    if (autopaint != None)
        XvSetPortAttribute(target_.display, port_, autopaint, 1);
    if (key != None && autopaint == None)
        paintColourKey_ = XvGetPortAttribute(target_.display, port_, key, &colourKey_) == Success;
}

XvDrawer::~XvDrawer() {
    XvStopVideo(target_.display, port_, target_.window);
    destroyImage();
    XvUngrabPort(target_.display, port_, CurrentTime);
    XSync(target_.display, False);
}

bool XvDrawer::createImage(int width, int height) {
    Display* dpy = target_.display;
    if (useShm_) {
        image_ = XvShmCreateImage(dpy, port_, kYv12, nullptr, width, height, &segment_);
        if (image_ == nullptr)
            return false;
        segment_.shmid =
            shmget(IPC_PRIVATE, static_cast<size_t>(image_->data_size), IPC_CREAT | 0600);
        if (segment_.shmid < 0)
            return destroyImage(), false;
        segment_.shmaddr = static_cast<char*>(shmat(segment_.shmid, nullptr, 0));
        shmctl(segment_.shmid, IPC_RMID, nullptr);  // goes with the last detach
        if (segment_.shmaddr == reinterpret_cast<char*>(-1)) {
            segment_.shmaddr = nullptr;
            return destroyImage(), false;
        }
        image_->data = segment_.shmaddr;
        segment_.readOnly = False;
        target_.connection->takeErrors();
        XShmAttach(dpy, &segment_);
        XSync(dpy, False);
        attached_ = target_.connection->takeErrors().count == 0;
        if (!attached_) {
            // The server cannot reach our memory (another machine): send the pixels instead.
            destroyImage();
            useShm_ = false;
            return createImage(width, height);
        }
        return true;
    }
    image_ = XvCreateImage(dpy, port_, kYv12, nullptr, width, height);
    if (image_ == nullptr)
        return false;
    pixels_.assign(static_cast<size_t>(image_->data_size), 0);
    image_->data = pixels_.data();
    return true;
}

void XvDrawer::destroyImage() {
    if (attached_) {
        XShmDetach(target_.display, &segment_);
        XSync(target_.display, False);
        attached_ = false;
    }
    if (image_ != nullptr)
        XFree(image_);  // the data is the segment's or ours, not Xlib's
    image_ = nullptr;
    if (segment_.shmaddr != nullptr)
        shmdt(segment_.shmaddr);
    segment_ = {};
}

// The picture's Y, V, U planes into the image's planes 0, 1, 2 at the image's pitches.
// The adaptor may round the image up; the extra rows and columns are never shown.
void XvDrawer::copyPlanes(const Picture& picture) {
    for (int p = 0; p < 3 && p < image_->num_planes; ++p) {
        const int shift = p == 0 ? 0 : 1;
        const int srcWidth = picture.width >> shift, rows = picture.height >> shift;
        const int srcStride = p == 0 ? picture.yStride : picture.uvStride;
        const int bytes = std::min(srcWidth, image_->pitches[p]);
        uint8_t* dst = reinterpret_cast<uint8_t*>(image_->data) + image_->offsets[p];
        for (int row = 0; row < rows; ++row) {
            std::memcpy(
                dst + static_cast<size_t>(row) * static_cast<size_t>(image_->pitches[p]),
                picture.planes[p] + static_cast<size_t>(row) * static_cast<size_t>(srcStride),
                static_cast<size_t>(bytes));
        }
    }
}

bool XvDrawer::draw(const Picture& picture, int width, int height, const DrawOver& /*over*/,
                    bool refresh) {
    if (image_ == nullptr || image_->width < picture.width || image_->height < picture.height ||
        image_->width > picture.width + 16 || image_->height > picture.height + 16) {
        destroyImage();
        if (!createImage(picture.width, picture.height))
            return false;
        refresh = true;
    }
    if (image_->num_planes < 3)
        return false;
    copyPlanes(picture);
    Display* dpy = target_.display;
    if (paintColourKey_ && refresh) {
        XSetForeground(dpy, target_.gc, static_cast<unsigned long>(colourKey_));
        XFillRectangle(dpy, target_.window, target_.gc, 0, 0, static_cast<unsigned>(width),
                       static_cast<unsigned>(height));
    }
    const unsigned w = static_cast<unsigned>(picture.width),
                   h = static_cast<unsigned>(picture.height);
    int status;
    if (useShm_) {
        status = XvShmPutImage(dpy, port_, target_.window, target_.gc, image_, 0, 0, w, h, 0, 0,
                               static_cast<unsigned>(width), static_cast<unsigned>(height), False);
    } else {
        status = XvPutImage(dpy, port_, target_.window, target_.gc, image_, 0, 0, w, h, 0, 0,
                            static_cast<unsigned>(width), static_cast<unsigned>(height));
    }
    // The adaptor reads the segment after the request: wait before the next copy into it.
    XSync(dpy, False);
    return status == Success;
}

}  // namespace

XID grabYv12Port(Display* dpy, const char** why) {
    unsigned version = 0, revision = 0, request = 0, event = 0, error = 0;
    if (XvQueryExtension(dpy, &version, &revision, &request, &event, &error) != Success) {
        *why = "no XVideo extension";
        return 0;
    }
    unsigned count = 0;
    XvAdaptorInfo* adaptors = nullptr;
    if (XvQueryAdaptors(dpy, DefaultRootWindow(dpy), &count, &adaptors) != Success || count == 0) {
        if (adaptors != nullptr)
            XvFreeAdaptorInfo(adaptors);
        *why = "no XVideo adaptor";
        return 0;
    }
    *why = "no XVideo port takes YV12 images";
    XvPortID taken = 0;
    for (unsigned a = 0; a < count && taken == 0; ++a) {
        const XvAdaptorInfo& info = adaptors[a];
        if ((info.type & XvInputMask) == 0 || (info.type & XvImageMask) == 0)
            continue;
        for (unsigned long i = 0; i < info.num_ports && taken == 0; ++i) {
            const XvPortID port = info.base_id + i;
            if (!portTakesYv12(dpy, port))
                continue;
            if (XvGrabPort(dpy, port, CurrentTime) == Success)
                taken = port;
            else
                *why = "every XVideo port for YV12 is in use";
        }
    }
    XvFreeAdaptorInfo(adaptors);
    return taken;
}

std::unique_ptr<PictureDrawer> createXvDrawer(const X11Target& target, XID port) {
    return std::make_unique<XvDrawer>(target, port);
}

}  // namespace zelplay
