// What a render thread draws with: one drawer per backend family (XVideo, MIT-SHM, plain
// XPutImage), each showing a 4:2:0 picture scaled to the window.
//
// Thread contract: a drawer is made, used and destroyed on its render thread only.
#pragma once

#include <X11/Xlib.h>

#include <memory>

#include "zelplay/play.h"

namespace zelplay {

class X11Connection;
struct Picture;

// The caller's drawing over the picture.
struct DrawOver {
    ZELPLAY_DRAW_CALLBACK fn = nullptr;
    ZELPLAY_PORT port = 0;
    ZELPLAY_USER user = 0;
};

// Where a drawer draws: the render thread's own connection and the caller's window.
struct X11Target {
    X11Connection* connection = nullptr;
    Display* display = nullptr;
    Window window = 0;
    Visual* visual = nullptr;
    int depth = 0;
    GC gc = nullptr;
};

class PictureDrawer {
  public:
    virtual ~PictureDrawer() = default;
    // Shows the picture scaled to width x height (the window's size) at the window's
    // origin, with the draw-over when over.fn is set. refresh: the window was exposed or
    // resized since the last draw. False when the backend failed and should be left.
    virtual bool draw(const Picture& picture, int width, int height, const DrawOver& over,
                      bool refresh) = 0;
    // True when the drawer can run the draw-over callback itself.
    virtual bool drawsOver() const { return true; }
};

// XVideo: YV12 images through the adaptor port (already grabbed; the drawer releases it).
std::unique_ptr<PictureDrawer> createXvDrawer(const X11Target& target, XID port);
// Software conversion and scaling into a shared-memory image (XShmPutImage).
std::unique_ptr<PictureDrawer> createShmDrawer(const X11Target& target);
// Software conversion and scaling into a client-side image (XPutImage).
std::unique_ptr<PictureDrawer> createX11Drawer(const X11Target& target);

// The first XVideo port that takes YV12 images, grabbed; 0 when there is none. why says
// what was missing.
XID grabYv12Port(Display* display, const char** why);

}  // namespace zelplay
