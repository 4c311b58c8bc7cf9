#include "shared_picture.h"

namespace zelplay {

PicturePool::PicturePool() : shelf_(std::make_shared<Shelf>()) {
    // Putting back never allocates, so it cannot fail in a deleter.
    shelf_->idle.reserve(kKeptIdle);
}

std::shared_ptr<PictureBytes> PicturePool::acquire(size_t bytes) {
    std::unique_ptr<PictureBytes> taken;
    {
        std::lock_guard shelf(shelf_->shelfLock);
        if (!shelf_->idle.empty()) {
            taken = std::move(shelf_->idle.back());
            shelf_->idle.pop_back();
        }
    }
    if (!taken)
        taken = std::make_unique<PictureBytes>();
    if (taken->size() < bytes)
        taken->resize(bytes);  // on bad_alloc the buffer is simply freed
    // On bad_alloc for the control block the deleter puts the buffer back.
    return std::shared_ptr<PictureBytes>(taken.release(), Recycle{shelf_});
}

size_t PicturePool::idle() const {
    std::lock_guard shelf(shelf_->shelfLock);
    return shelf_->idle.size();
}

void PicturePool::Recycle::operator()(PictureBytes* bytes) const noexcept {
    std::unique_ptr<PictureBytes> owned(bytes);
    if (const std::shared_ptr<Shelf> s = shelf.lock()) {
        std::lock_guard shelfLock(s->shelfLock);
        if (s->idle.size() < kKeptIdle)
            s->idle.push_back(std::move(owned));
    }
}

}  // namespace zelplay
