#include "picture_slot.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace zelplay {

PictureSlot::PictureSlot() : wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (wakeFd_ < 0)
        throw std::runtime_error("eventfd");
}

PictureSlot::~PictureSlot() {
    close(wakeFd_);
}

bool PictureSlot::offer(const uint8_t* y, const uint8_t* v, const uint8_t* u, int width,
                        int height) {
    {
        std::lock_guard slot(slotLock_);
        if (full_)
            return false;
        const size_t luma = static_cast<size_t>(width) * static_cast<size_t>(height);
        const size_t chroma = luma / 4;
        const std::shared_ptr<PictureBytes> bytes = copies_.acquire(luma + 2 * chroma);
        uint8_t* out = bytes->data();
        std::memcpy(out, y, luma);
        std::memcpy(out + luma, v, chroma);
        std::memcpy(out + luma + chroma, u, chroma);
        pending_ = Picture::packed(bytes, width, height);
        full_ = true;
    }
    notify();
    return true;
}

bool PictureSlot::offer(const Picture& picture) {
    {
        std::lock_guard slot(slotLock_);
        if (full_)
            return false;
        pending_ = picture;
        full_ = true;
    }
    notify();
    return true;
}

bool PictureSlot::take(Picture& out) {
    Picture old;  // the render thread's previous picture, released outside the lock
    std::lock_guard slot(slotLock_);
    if (!full_)
        return false;
    old = std::move(out);
    out = std::move(pending_);
    pending_ = {};
    full_ = false;
    return true;
}

void PictureSlot::clear() {
    Picture dropped;
    std::lock_guard slot(slotLock_);
    dropped = std::move(pending_);
    pending_ = {};
    full_ = false;
}

void PictureSlot::notify() {
    const uint64_t one = 1;
    // A full counter (never in practice) still leaves the descriptor readable.
    [[maybe_unused]] const ssize_t n = write(wakeFd_, &one, sizeof one);
}

void PictureSlot::drainWakeups() {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = read(wakeFd_, &count, sizeof count);
}

}  // namespace zelplay
