// The source buffer: a first-fit memory pool in 8-byte units that holds the frames of a
// buffered stream.
//
// Every block, free or allocated, starts with a one-unit header: the next free block as a
// unit offset inside the region (32 bits), then the block's size in units, header
// included. Free blocks form a circular list in address order headed by a permanent
// one-unit sentinel at unit 0. An allocated block's header names the block itself. The
// region is laid out lazily: the first allocation after an open or a reset creates the
// sentinel and one free block over the rest.
//
// Thread contract: every method takes poolLock_ itself. The blocks belong to the frame
// queue, which the port guards with its queue lock; the scheduler copies a frame's payload
// out under that lock before showing it, so no block is read once it has been released.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

namespace zelplay {

class SourceBuffer {
  public:
    struct Stats {
        uint32_t allocations = 0;
        uint32_t frees = 0;
        uint32_t failedAllocations = 0;
        uint32_t badFrees = 0;
    };

    // Makes a region of bytes rounded up to 8 (any earlier region is dropped). False when
    // the memory cannot be had.
    bool open(size_t bytes);
    // Drops the region.
    void close();
    bool isOpen() const;

    // A block of at least bytes, or null (bytes 0, no region, or no room).
    uint8_t* allocate(size_t bytes);
    // Returns a block from allocate; anything not marked allocated is counted and ignored.
    void release(uint8_t* block);
    // Forgets every block: the free list is laid out again on the next allocation.
    void reset();

    // Free-unit counter * 8 - 8. A failed allocation sets the counter to 1 (reads 0); the
    // next allocation recounts it from the free list.
    int64_t remainingBytes() const;
    Stats stats() const;
    // Offset of a block inside the region (what the stored frame header carries).
    uint32_t offsetOf(const uint8_t* p) const;

    std::mutex& mutex() { return poolLock_; }

  private:
    struct BlockHeader {
        uint32_t next;   // unit offset of the next free block; own offset when allocated
        uint32_t units;  // size in units, header included
    };
    static_assert(sizeof(BlockHeader) == 8);

    BlockHeader* at(uint32_t unit) const {
        return reinterpret_cast<BlockHeader*>(region_.get() + unit);
    }
    void layOutLocked();
    void recountLocked();

    mutable std::mutex poolLock_;         // guards everything below
    std::unique_ptr<uint64_t[]> region_;  // the 8-byte units
    uint32_t regionUnits_ = 0;
    bool laidOut_ = false;
    bool countStale_ = false;  // the counter reads 1 after a failure until recounted
    int64_t freeUnits_ = 0;
    Stats stats_;
};

}  // namespace zelplay
