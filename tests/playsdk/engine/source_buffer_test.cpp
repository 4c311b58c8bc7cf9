// The source buffer's pool arithmetic, directly and through the exported calls.
#include <gtest/gtest.h>

#include <vector>

#include "h264_stream.h"
#include "source_buffer.h"
#include "zelplay.h"

using zelplay::SourceBuffer;

TEST(SourceBuffer, FreshBufferFiguresAndFirstFit) {
    SourceBuffer pool;
    ASSERT_TRUE(pool.open(66560));
    EXPECT_EQ(pool.remainingBytes(), 66544);
    EXPECT_EQ(pool.allocate(0), nullptr);
    // 40 bytes take 6 units, 10 000 take 1251.
    uint8_t* h = pool.allocate(40);
    uint8_t* p = pool.allocate(10000);
    ASSERT_NE(h, nullptr);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(pool.remainingBytes(), 66544 - (6 + 1251) * 8);
    // Allocations come from the end of the free block, in 8-byte alignment.
    EXPECT_LT(p, h);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 8, 0u);
    pool.release(p);
    pool.release(h);
    EXPECT_EQ(pool.remainingBytes(), 66544);
    EXPECT_EQ(pool.stats().allocations, 2u);
    EXPECT_EQ(pool.stats().frees, 2u);
}

TEST(SourceBuffer, MergesNeighboursAndRejectsBadFrees) {
    SourceBuffer pool;
    ASSERT_TRUE(pool.open(8 * 1000));
    std::vector<uint8_t*> blocks;
    for (int i = 0; i < 10; ++i)
        blocks.push_back(pool.allocate(400));
    for (auto* b : blocks)
        ASSERT_NE(b, nullptr);
    // Free every other block, then the rest: everything merges back into one block.
    for (size_t i = 0; i < blocks.size(); i += 2)
        pool.release(blocks[i]);
    for (size_t i = 1; i < blocks.size(); i += 2)
        pool.release(blocks[i]);
    EXPECT_EQ(pool.remainingBytes(), (1000 - 1) * 8 - 8);
    uint8_t* whole = pool.allocate((1000 - 2) * 8);
    EXPECT_NE(whole, nullptr) << "the free blocks did not merge";
    // A second free of the same block, and a pointer that is no block, count as bad frees.
    pool.release(whole);
    pool.release(whole);
    uint8_t stray[16];
    pool.release(stray + 8);
    EXPECT_EQ(pool.stats().badFrees, 2u);
}

TEST(SourceBuffer, FailureReadsZeroThenRecountsOnNextAllocation) {
    SourceBuffer pool;
    ASSERT_TRUE(pool.open(66560));
    uint8_t* a = pool.allocate(30000);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(pool.allocate(60000), nullptr);
    EXPECT_EQ(pool.remainingBytes(), 0);
    EXPECT_EQ(pool.stats().failedAllocations, 1u);
    pool.release(a);
    // The next allocation counts the free list again: the figure is true once more.
    uint8_t* b = pool.allocate(8);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(pool.remainingBytes(), 66544 - 2 * 8);
    pool.reset();
    EXPECT_EQ(pool.remainingBytes(), 66544);
}

namespace {

struct BufferedPort {
    ZELPLAY_PORT port = 0;
    explicit BufferedPort(uint32_t bytes) {
        EXPECT_EQ(ZelPlay_GetPort(&port), 1);
        EXPECT_EQ(ZelPlay_SetPlayMode(port, 1), 1);
        EXPECT_EQ(ZelPlay_SetDelayTime(port, 1000, 0), 1);  // nothing leaves the queue
        EXPECT_EQ(ZelPlay_OpenStream(port, bytes), 1);
        EXPECT_EQ(ZelPlay_Play(port, 0), 1);
    }
    ~BufferedPort() { ZelPlay_FreePort(port); }
};

}  // namespace

TEST(SourceBufferApi, SixTenThousandByteFramesFitTheSeventhIsRejected) {
    BufferedPort p(66560);
    EXPECT_EQ(ZelPlay_GetSourceBufferRemain(p.port), 66544);
    const std::vector<uint8_t> payload(10000, 0x55);
    for (uint32_t i = 0; i < 6; ++i) {
        auto rec = enginetest::makeRecord({0x62, 25, i + 1, 40 * i, 0}, payload);
        EXPECT_EQ(ZelPlay_InputVideoData(p.port, rec.data(), static_cast<uint32_t>(rec.size())), 1)
            << i;
    }
    EXPECT_EQ(ZelPlay_GetSourceBufferRemain(p.port), 66544 - 6 * (6 + 1251) * 8);
    auto seventh = enginetest::makeRecord({0x62, 25, 7, 240, 0}, payload);
    EXPECT_EQ(ZelPlay_InputVideoData(p.port, seventh.data(), static_cast<uint32_t>(seventh.size())),
              0);
    EXPECT_EQ(ZelPlay_GetLastError(p.port), 15u);
    // An empty payload never fits.
    auto empty = enginetest::makeRecord({0x62, 25, 8, 280, 0}, {});
    EXPECT_EQ(ZelPlay_InputVideoData(p.port, empty.data(), 40), 0);
    EXPECT_EQ(ZelPlay_GetLastError(p.port), 15u);
}

TEST(SourceBufferApi, ResetGivesSizeRoundedUpLessSixteen) {
    BufferedPort p(70001);
    const std::vector<uint8_t> payload(5000, 1);
    auto rec = enginetest::makeRecord({0x62, 25, 1, 0, 1}, payload);
    ASSERT_EQ(ZelPlay_InputVideoData(p.port, rec.data(), static_cast<uint32_t>(rec.size())), 1);
    EXPECT_EQ(ZelPlay_ResetSourceBuffer(p.port), 1);
    EXPECT_EQ(ZelPlay_GetSourceBufferRemain(p.port), 70008 - 16);
    EXPECT_EQ(ZelPlay_GetLastError(p.port), 0u);
    // The buffer is usable again after the reset.
    EXPECT_EQ(ZelPlay_InputVideoData(p.port, rec.data(), static_cast<uint32_t>(rec.size())), 1);
}

TEST(SourceBufferApi, SizeLimitsAndModes) {
    ZELPLAY_PORT port = 0;
    ASSERT_EQ(ZelPlay_GetPort(&port), 1);
    EXPECT_EQ(ZelPlay_GetSourceBufferRemain(port), 0);  // mode 0
    EXPECT_EQ(ZelPlay_GetLastError(port), 2u);
    EXPECT_EQ(ZelPlay_ResetSourceBuffer(port), 0);
    EXPECT_EQ(ZelPlay_GetLastError(port), 2u);
    ASSERT_EQ(ZelPlay_SetPlayMode(port, 1), 1);
    EXPECT_EQ(ZelPlay_OpenStream(port, 66559), 0);
    EXPECT_EQ(ZelPlay_GetLastError(port), 1u);
    EXPECT_EQ(ZelPlay_OpenStream(port, 102400001), 0);
    EXPECT_EQ(ZelPlay_GetLastError(port), 1u);
    EXPECT_EQ(ZelPlay_OpenStream(port, 102400000), 1);
    EXPECT_EQ(ZelPlay_OpenStream(port, 66560), 1);  // reopening closes first
    EXPECT_EQ(ZelPlay_GetSourceBufferRemain(port), 66544);
    EXPECT_EQ(ZelPlay_FreePort(port), 1);
}
