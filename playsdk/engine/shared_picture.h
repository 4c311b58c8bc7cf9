// Decoded 4:2:0 pictures handed on by reference instead of copied: the port's newest
// picture, the picture waiting in an output's slot and the one its render thread shows
// can all be the same buffer. A buffer is written only while one holder has it (the
// decoder filling a buffer fresh from the pool); once shared it does not change, and it
// goes back to its pool when the last reference is dropped.
//
// Thread contract: a pool may be used from any thread; references may be dropped on any
// thread (the pool's lock orders the last reader before the next writer).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace zelplay {

using PictureBytes = std::vector<uint8_t>;

// A 4:2:0 picture: Y (width x height), V and U (each width/2 x height/2), each plane's rows
// its stride apart, kept alive by its owner. A packed picture lies in one buffer, Y then V
// then U without row padding: the layout the decode callback and the snapshots take. A
// decoder's own picture keeps its planes where the decoder put them, so that handing it on
// copies nothing.
struct Picture {
    std::shared_ptr<const void> owner;  // keeps the planes alive
    const uint8_t* planes[3] = {};      // Y, V, U
    int yStride = 0;                    // bytes from one luma row to the next
    int uvStride = 0;                   // the same for the chroma planes
    int width = 0;
    int height = 0;

    // The picture packed in bytes (at least width x height x 3 / 2 of them).
    static Picture packed(std::shared_ptr<const PictureBytes> bytes, int width, int height);

    const uint8_t* y() const { return planes[0]; }
    const uint8_t* v() const { return planes[1]; }
    const uint8_t* u() const { return planes[2]; }
    size_t lumaBytes() const { return static_cast<size_t>(width) * static_cast<size_t>(height); }
    size_t chromaBytes() const { return lumaBytes() / 4; }
    // Whether the planes lie packed, one after the other without row padding.
    bool isPacked() const {
        return yStride == width && uvStride == width / 2 && planes[1] == planes[0] + lumaBytes() &&
               planes[2] == planes[1] + chromaBytes();
    }
    // Writes the planes packed into out (width x height x 3 / 2 bytes).
    void copyPacked(uint8_t* out) const;
    bool empty() const {
        return owner == nullptr || planes[0] == nullptr || width <= 0 || height <= 0;
    }
};

class PicturePool {
  public:
    PicturePool();
    // A buffer nobody else holds, grown to at least bytes (a recycled one keeps its larger
    // size and its old contents). May throw std::bad_alloc.
    std::shared_ptr<PictureBytes> acquire(size_t bytes);
    // Buffers waiting on the shelf (for tests).
    size_t idle() const;

  private:
    static constexpr size_t kKeptIdle = 4;  // more than a port keeps in flight
    struct Shelf {
        mutable std::mutex shelfLock;
        std::vector<std::unique_ptr<PictureBytes>>
            idle;  // guarded by shelfLock; kKeptIdle reserved
    };
    // Puts a released buffer back on its shelf, or frees it when the shelf is gone or full.
    struct Recycle {
        std::weak_ptr<Shelf> shelf;
        void operator()(PictureBytes* bytes) const noexcept;
    };
    std::shared_ptr<Shelf> shelf_;
};

}  // namespace zelplay
