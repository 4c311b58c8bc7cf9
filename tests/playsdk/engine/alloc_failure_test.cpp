// Memory running out on the scheduler thread: the port whose step failed keeps the error
// (16) and the thread goes on serving every port. This program replaces the global
// operator new so that allocations on the scheduler thread can be made to fail.
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <thread>
#include <vector>

#include "h264_stream.h"
#include "support/media.h"
#include "zelplay.h"

namespace {

// Allocations of at least this many bytes on the scheduler thread fail (0: none do).
std::atomic<size_t> failFromBytes{0};

bool onSchedulerThread() {
    char name[16] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    return std::strcmp(name, "zelplay-sched") == 0;
}

void* allocate(size_t bytes) {
    const size_t limit = failFromBytes.load(std::memory_order_relaxed);
    if (limit != 0 && bytes >= limit && onSchedulerThread())
        throw std::bad_alloc();
    if (void* p = std::malloc(bytes != 0 ? bytes : 1))
        return p;
    throw std::bad_alloc();
}

}  // namespace

// Every form of the global allocation functions, so that no pair mixes this allocator with
// another.
void* operator new(size_t bytes) {
    return allocate(bytes);
}
void* operator new[](size_t bytes) {
    return allocate(bytes);
}
void* operator new(size_t bytes, const std::nothrow_t&) noexcept {
    try {
        return allocate(bytes);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](size_t bytes, const std::nothrow_t& tag) noexcept {
    return operator new(bytes, tag);
}
void* operator new(size_t bytes, std::align_val_t align) {
    const size_t a = static_cast<size_t>(align);
    if (void* p = std::aligned_alloc(a, (bytes + a - 1) / a * a))
        return p;
    throw std::bad_alloc();
}
void* operator new[](size_t bytes, std::align_val_t align) {
    return operator new(bytes, align);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, size_t, std::align_val_t) noexcept {
    std::free(p);
}

namespace {

using Clock = std::chrono::steady_clock;

bool waitFor(const std::function<bool()>& condition, int seconds = 30) {
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    while (!condition()) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

struct Counter {
    std::atomic<int> pictures{0};
    std::atomic<int> lastWidth{0};
    static void callback(ZELPLAY_PORT, const uint8_t*, int32_t, const ZELPLAY_FRAME_INFO* info,
                         ZELPLAY_USER user) {
        auto* self = reinterpret_cast<Counter*>(user);
        self->lastWidth = info->width;
        ++self->pictures;
    }
};

ZELPLAY_PORT bufferedPort(Counter& counter) {
    ZELPLAY_PORT port = 0;
    EXPECT_EQ(ZelPlay_GetPort(&port), 1);
    EXPECT_EQ(ZelPlay_SetPlayMode(port, 1), 1);
    EXPECT_EQ(ZelPlay_SetDelayTime(port, 0, 0), 1);
    EXPECT_EQ(ZelPlay_OpenStream(port, 16 << 20), 1);
    EXPECT_EQ(
        ZelPlay_SetDecCallBack(port, Counter::callback, reinterpret_cast<ZELPLAY_USER>(&counter)),
        1);
    EXPECT_EQ(ZelPlay_Play(port, 0), 1);
    return port;
}

void feed(ZELPLAY_PORT port, const std::vector<enginetest::AccessUnit>& units, uint32_t first,
          uint32_t count, uint32_t sequenceBase) {
    for (uint32_t i = 0; i < count; ++i) {
        const auto rec =
            enginetest::recordForUnit(units[(first + i) % units.size()], sequenceBase + first + i);
        ASSERT_EQ(ZelPlay_InputVideoData(port, rec.data(), static_cast<uint32_t>(rec.size())), 1);
    }
}

}  // namespace

TEST(SchedulerOutOfMemory, TheFailingPortKeepsTheErrorAndTheOthersPlayOn) {
    testsupport::TempDir dir;
    // 3840 x 2160 pictures grow the port's picture past 12 MB; 176 x 144 ones do not.
    const auto large = enginetest::makeH264(dir.path().string(), 3840, 2160, 4, 2);
    const auto small = enginetest::makeH264(dir.path().string(), 176, 144, 8, 4);
    ASSERT_EQ(large.size(), 4u);
    ASSERT_EQ(small.size(), 8u);
    Counter bigCounter, smallCounter;
    const ZELPLAY_PORT big = bufferedPort(bigCounter);
    const ZELPLAY_PORT little = bufferedPort(smallCounter);

    failFromBytes = 8 << 20;
    feed(big, large, 0, 4, 0);
    feed(little, small, 0, 8, 0);
    EXPECT_TRUE(waitFor([&] { return smallCounter.pictures.load() >= 6; }));
    EXPECT_TRUE(waitFor([&] { return ZelPlay_GetLastError(big) == 16u; }));
    EXPECT_TRUE(waitFor([&] { return ZelPlay_GetSourceBufferRemain(big) == (16 << 20) - 16; }));
    EXPECT_EQ(bigCounter.pictures.load(), 0);

    // Everything on the scheduler fails for a while, its list of ports included.
    failFromBytes = 1;
    feed(little, small, 0, 4, 8);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    failFromBytes = 0;
    EXPECT_TRUE(waitFor([&] { return smallCounter.pictures.load() >= 8; }));

    // With memory back, the large stream plays from its next key frame.
    feed(big, large, 2, 2, 4);
    EXPECT_TRUE(waitFor([&] { return bigCounter.pictures.load() >= 1; }));
    EXPECT_EQ(bigCounter.lastWidth.load(), 3840);
    EXPECT_EQ(ZelPlay_FreePort(big), 1);
    EXPECT_EQ(ZelPlay_FreePort(little), 1);
}
