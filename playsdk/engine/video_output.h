// The video output of a port: where decoded 4:2:0 pictures go to be shown in the caller's
// window. Backends fill in this interface; createVideoOutput() picks the first that works
// and ends with the null output (which shows nothing).
//
// Thread contract: selectDevice, setup, teardown, detach and setDrawCallback are called by
// the port's controlling calls (one at a time, under the port's state lock); present is
// called by the thread that decoded the picture and must not block on the screen.
#pragma once

#include <cstdint>
#include <memory>

#include "shared_picture.h"
#include "zelplay/play.h"

namespace zelplay {

enum class SurfaceKind { Yuy2 = 0, Rgb32 = 1, Yv12 = 2 };

class VideoOutput {
  public:
    virtual ~VideoOutput() = default;
    // Chooses the display device (index into the process's device list).
    virtual bool selectDevice(int index) = 0;
    // Prepares to show width x height pictures of kind in window (an X11 window id).
    virtual bool setup(SurfaceKind kind, uintptr_t window, int width, int height) = 0;
    // Stops showing and releases what setup made.
    virtual void teardown() = 0;
    // What a stopped output leaves to end (a render thread, which may be inside the draw
    // callback); destroying it waits for that, or lets a thread that is ending itself go.
    class Ending {
      public:
        virtual ~Ending() = default;
    };
    // Stops showing as teardown does, but hands the wait for what is still running to the
    // Ending it returns (null when nothing runs), so that a caller can stop the output under
    // its locks and wait outside them, and the draw callback may take those locks meanwhile.
    // The output may be set up again at once.
    virtual std::unique_ptr<Ending> detach() {
        teardown();
        return nullptr;
    }
    // The caller's drawing over each shown picture; a null callback turns it off.
    // portOrder: the port's place in the order ports were made (CallbackContext), which the
    // render thread takes while it runs the callback.
    virtual void setDrawCallback(ZELPLAY_DRAW_CALLBACK callback, ZELPLAY_PORT port,
                                 ZELPLAY_USER user, uint64_t portOrder) = 0;
    // Hands one picture over (planes Y, V, U); true when taken or dropped for a busy slot.
    virtual bool present(const uint8_t* y, const uint8_t* v, const uint8_t* u, int width,
                         int height) = 0;
    // The same for a picture that no longer changes: an output that keeps pictures keeps a
    // reference to it instead of a copy.
    virtual bool presentShared(const Picture& picture) {
        return !picture.empty() &&
               present(picture.y(), picture.v(), picture.u(), picture.width, picture.height);
    }
};

// Shows nothing and accepts everything.
std::unique_ptr<VideoOutput> createNullVideoOutput();
// The output a new port gets.
std::unique_ptr<VideoOutput> createVideoOutput();

}  // namespace zelplay
