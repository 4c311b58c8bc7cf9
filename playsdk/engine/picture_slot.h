// The one-picture hand-off between the threads that decode and a renderer's thread.
//
// Thread contract: offer() is called by decoding threads and never waits for the render
// thread beyond the copy of one picture, or none for a shared picture (the render thread
// holds slotLock_ only to move the reference out). take(), drainWakeups() are the render
// thread's. notify() any thread. wakeFd() is readable (poll) after an offer or a notify,
// until drainWakeups().
#pragma once

#include <cstdint>
#include <mutex>

#include "shared_picture.h"

namespace zelplay {

class PictureSlot {
  public:
    PictureSlot();
    ~PictureSlot();
    PictureSlot(const PictureSlot&) = delete;
    PictureSlot& operator=(const PictureSlot&) = delete;

    // Copies the picture in when the slot is free; false when it is still full (the picture
    // is dropped).
    bool offer(const uint8_t* y, const uint8_t* v, const uint8_t* u, int width, int height);
    // The same for a picture that no longer changes: the slot keeps a reference to it.
    bool offer(const Picture& picture);
    // Moves the waiting picture into out; false when the slot is empty.
    bool take(Picture& out);
    // Empties the slot (a new play starts without the old picture).
    void clear();

    // Wakes the render thread without a picture (stop, device change, new callback).
    void notify();
    int wakeFd() const { return wakeFd_; }
    void drainWakeups();

  private:
    PicturePool copies_;  // buffers for the pictures offered as planes
    std::mutex slotLock_;
    Picture pending_;    // guarded by slotLock_
    bool full_ = false;  // guarded by slotLock_
    int wakeFd_ = -1;    // an eventfd; written after each offer and notify
};

}  // namespace zelplay
