#include "shared_picture.h"

#include <cstring>

namespace zelplay {

Picture Picture::packed(std::shared_ptr<const PictureBytes> bytes, int width, int height) {
    Picture p;
    p.width = width;
    p.height = height;
    p.yStride = width;
    p.uvStride = width / 2;
    if (bytes != nullptr) {
        const uint8_t* base = bytes->data();
        p.planes[0] = base;
        p.planes[1] = base + p.lumaBytes();
        p.planes[2] = base + p.lumaBytes() + p.chromaBytes();
    }
    p.owner = std::move(bytes);
    return p;
}

void Picture::copyPacked(uint8_t* out) const {
    if (isPacked()) {
        std::memcpy(out, y(), lumaBytes() + 2 * chromaBytes());
        return;
    }
    const auto copyPlane = [&](const uint8_t* src, int stride, int w, int h) {
        for (int row = 0; row < h; ++row) {
            std::memcpy(out, src + static_cast<size_t>(row) * static_cast<size_t>(stride),
                        static_cast<size_t>(w));
            out += w;
        }
    };
    copyPlane(y(), yStride, width, height);
    copyPlane(v(), uvStride, width / 2, height / 2);
    copyPlane(u(), uvStride, width / 2, height / 2);
}

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
