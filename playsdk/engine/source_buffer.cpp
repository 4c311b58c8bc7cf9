#include "source_buffer.h"

#include <new>

namespace zelplay {

namespace {
constexpr size_t kUnit = 8;
constexpr uint32_t kSentinel = 0;
}  // namespace

bool SourceBuffer::open(size_t bytes) {
    std::lock_guard lock(poolLock_);
    region_.reset();
    regionUnits_ = 0;
    const size_t units = (bytes + kUnit - 1) / kUnit;
    if (units < 2 || units > UINT32_MAX)
        return false;
    region_.reset(new (std::nothrow) uint64_t[units]);
    if (!region_)
        return false;
    regionUnits_ = static_cast<uint32_t>(units);
    laidOut_ = false;
    countStale_ = false;
    freeUnits_ = regionUnits_ - 1;
    stats_ = {};
    return true;
}

void SourceBuffer::close() {
    std::lock_guard lock(poolLock_);
    region_.reset();
    regionUnits_ = 0;
    laidOut_ = false;
    freeUnits_ = 0;
    stats_ = {};
}

bool SourceBuffer::isOpen() const {
    std::lock_guard lock(poolLock_);
    return region_ != nullptr;
}

void SourceBuffer::layOutLocked() {
    BlockHeader* sentinel = at(kSentinel);
    sentinel->next = 1;
    sentinel->units = 1;
    BlockHeader* rest = at(1);
    rest->next = kSentinel;
    rest->units = regionUnits_ - 1;
    laidOut_ = true;
}

void SourceBuffer::recountLocked() {
    int64_t units = 0;
    for (uint32_t b = at(kSentinel)->next; b != kSentinel; b = at(b)->next)
        units += at(b)->units;
    freeUnits_ = units;
    countStale_ = false;
}

uint8_t* SourceBuffer::allocate(size_t bytes) {
    if (bytes == 0)
        return nullptr;
    std::lock_guard lock(poolLock_);
    if (!region_)
        return nullptr;
    if (!laidOut_)
        layOutLocked();
    if (countStale_)
        recountLocked();
    const uint64_t need = (bytes + kUnit - 1) / kUnit + 1;
    uint32_t prev = kSentinel;
    for (uint32_t cur = at(kSentinel)->next; cur != kSentinel; prev = cur, cur = at(cur)->next) {
        BlockHeader* block = at(cur);
        if (block->units < need)
            continue;
        uint32_t taken = cur;
        if (block->units > need + 1) {
            // The free block keeps its front part; its tail becomes the allocation.
            block->units -= static_cast<uint32_t>(need);
            taken = cur + block->units;
            at(taken)->units = static_cast<uint32_t>(need);
        } else {
            at(prev)->next = block->next;
        }
        at(taken)->next = taken;
        freeUnits_ -= at(taken)->units;
        ++stats_.allocations;
        return reinterpret_cast<uint8_t*>(at(taken) + 1);
    }
    ++stats_.failedAllocations;
    freeUnits_ = 1;
    countStale_ = true;
    return nullptr;
}

void SourceBuffer::release(uint8_t* p) {
    if (p == nullptr)
        return;
    std::lock_guard lock(poolLock_);
    ++stats_.frees;
    if (!region_ || !laidOut_) {
        ++stats_.badFrees;
        return;
    }
    const auto* base = reinterpret_cast<const uint8_t*>(region_.get());
    if (p < base + 2 * kUnit || p >= base + size_t{regionUnits_} * kUnit ||
        (p - base) % kUnit != 0) {
        ++stats_.badFrees;
        return;
    }
    const uint32_t b = static_cast<uint32_t>((p - base) / kUnit) - 1;
    BlockHeader* block = at(b);
    if (block->next != b || block->units == 0 || block->units > regionUnits_ - b) {
        ++stats_.badFrees;
        return;
    }
    freeUnits_ += block->units;
    // Find the free blocks around it (the list is in address order).
    uint32_t prev = kSentinel;
    while (at(prev)->next != kSentinel && at(prev)->next < b)
        prev = at(prev)->next;
    const uint32_t next = at(prev)->next;
    block->next = next;
    at(prev)->next = b;
    if (next != kSentinel && b + block->units == next) {
        block->units += at(next)->units;
        block->next = at(next)->next;
    }
    if (prev != kSentinel && prev + at(prev)->units == b) {
        at(prev)->units += block->units;
        at(prev)->next = block->next;
    }
}

void SourceBuffer::reset() {
    std::lock_guard lock(poolLock_);
    laidOut_ = false;
    countStale_ = false;
    stats_ = {};
    freeUnits_ = regionUnits_ > 0 ? regionUnits_ - 1 : 0;
}

int64_t SourceBuffer::remainingBytes() const {
    std::lock_guard lock(poolLock_);
    if (!region_)
        return 0;
    return freeUnits_ * static_cast<int64_t>(kUnit) - static_cast<int64_t>(kUnit);
}

SourceBuffer::Stats SourceBuffer::stats() const {
    std::lock_guard lock(poolLock_);
    return stats_;
}

uint32_t SourceBuffer::offsetOf(const uint8_t* p) const {
    std::lock_guard lock(poolLock_);
    return static_cast<uint32_t>(p - reinterpret_cast<const uint8_t*>(region_.get()));
}

}  // namespace zelplay
