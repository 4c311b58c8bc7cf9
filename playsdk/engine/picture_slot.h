// The one-picture hand-off between the threads that decode and a renderer's thread.
//
// Thread contract: offer() is called by decoding threads and never waits for the render
// thread beyond the copy of one picture (the render thread holds slotLock_ only to swap
// buffers). take(), drainWakeups() are the render thread's. notify() any thread.
// wakeFd() is readable (poll) after an offer or a notify, until drainWakeups().
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

namespace zelplay {

// A 4:2:0 picture: Y (width x height), then V, then U (each width/2 x height/2).
struct Picture {
    std::vector<uint8_t> planes;
    int width = 0;
    int height = 0;
    const uint8_t* y() const { return planes.data(); }
    const uint8_t* v() const { return planes.data() + lumaBytes(); }
    const uint8_t* u() const { return planes.data() + lumaBytes() + chromaBytes(); }
    size_t lumaBytes() const { return static_cast<size_t>(width) * static_cast<size_t>(height); }
    size_t chromaBytes() const { return lumaBytes() / 4; }
    bool empty() const { return width <= 0 || height <= 0; }
};

class PictureSlot {
  public:
    PictureSlot();
    ~PictureSlot();
    PictureSlot(const PictureSlot&) = delete;
    PictureSlot& operator=(const PictureSlot&) = delete;

    // Copies the picture in when the slot is free; false when it is still full (the picture
    // is dropped). The slot's buffer grows only when a larger picture comes.
    bool offer(const uint8_t* y, const uint8_t* v, const uint8_t* u, int width, int height);
    // Moves the waiting picture into out (out's old buffer becomes the slot's); false when
    // the slot is empty.
    bool take(Picture& out);
    // Empties the slot (a new play starts without the old picture).
    void clear();

    // Wakes the render thread without a picture (stop, device change, new callback).
    void notify();
    int wakeFd() const { return wakeFd_; }
    void drainWakeups();

  private:
    std::mutex slotLock_;
    Picture pending_;    // guarded by slotLock_
    bool full_ = false;  // guarded by slotLock_
    int wakeFd_ = -1;    // an eventfd; written after each offer and notify
};

}  // namespace zelplay
