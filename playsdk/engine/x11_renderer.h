// The X11 video output of a port: a render thread of its own with its own connection to
// the X server, fed through a one-picture slot, drawing with the first backend that works
// (XVideo, then MIT-SHM, then plain XPutImage). The window's size is followed, an unmapped
// or fully covered window is not drawn, a window destroyed by its owner is simply no
// longer drawn, and the window is cleared when the output is torn down.
//
// Thread contract (see VideoOutput): setup, teardown, detach and selectDevice come from the
// port's controlling calls, one at a time; present from the decoding thread, never
// waiting for the X server; setDrawCallback from any thread; the counters from any
// thread. The draw callback runs on the render thread. Each setup starts a run (a render
// thread with its own connection) that lives until teardown, or until the Ending that
// detach returns is destroyed; a run still ending may meet the next one at the slot.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "picture_slot.h"
#include "vo_select.h"

namespace zelplay {

class X11VideoOutput final : public VideoOutput {
  public:
    // first: the backend tried first (Auto: XVideo); the later ones follow in order.
    explicit X11VideoOutput(VideoBackend first);
    ~X11VideoOutput() override;

    bool selectDevice(int index) override;
    bool setup(SurfaceKind kind, uintptr_t window, int width, int height) override;
    void teardown() override;
    std::unique_ptr<Ending> detach() override;
    // When it returns, the old callback is no longer running and will not be called again
    // (unless it is called from the callback itself).
    void setDrawCallback(ZELPLAY_DRAW_CALLBACK callback, ZELPLAY_PORT port, ZELPLAY_USER user,
                         uint64_t portOrder) override;
    bool present(const uint8_t* y, const uint8_t* v, const uint8_t* u, int width,
                 int height) override;
    bool presentShared(const Picture& picture) override;

    // For tests and benchmarks.
    struct Counters {
        uint64_t taken = 0;    // pictures the render thread took from the slot
        uint64_t drawn = 0;    // pictures drawn into the window (re-draws included)
        uint64_t dropped = 0;  // pictures presented while the slot was full
    };
    Counters counters() const;
    // The backend the running output draws with (Null when none).
    VideoBackend backend() const { return backend_.load(); }

    struct Run;  // one render thread's state (the source file's)

  private:
    struct Session;
    void run(Run& run);
    void handleEvents(Session& session);
    void drawPicture(Session& session, bool refresh);
    bool leaveBackend(Session& session);
    void clearWindow(Session& session);

    const VideoBackend first_;
    PictureSlot slot_;
    std::unique_ptr<Ending> run_;       // the current run's thread; made by setup, ended by detach
    std::atomic<bool> showing_{false};  // present takes pictures while set

    std::atomic<int> device_{0};
    std::atomic<bool> deviceChanged_{false};

    std::mutex drawLock_;
    ZELPLAY_DRAW_CALLBACK drawFn_ = nullptr;  // guarded by drawLock_
    ZELPLAY_PORT drawPort_ = 0;               // guarded by drawLock_
    ZELPLAY_USER drawUser_ = 0;               // guarded by drawLock_
    uint64_t drawOrder_ = 0;                  // guarded by drawLock_
    std::mutex drawCallLock_;                 // held by a render thread around a draw-over

    std::atomic<VideoBackend> backend_{VideoBackend::Null};
    std::atomic<uint64_t> taken_{0};
    std::atomic<uint64_t> drawn_{0};
    std::atomic<uint64_t> dropped_{0};
};

}  // namespace zelplay
