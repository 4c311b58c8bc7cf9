// Concurrent use of ports: creation, play, input, control and freeing at random on several
// threads, including calls on handles another thread has just freed. Run under
// ThreadSanitizer by the threads label.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "h264_stream.h"
#include "port_table.h"
#include "support/media.h"
#include "support/wait.h"
#include "zelplay.h"

using Clock = std::chrono::steady_clock;

namespace {

std::atomic<long> callbacks{0};
void countPicture(ZELPLAY_PORT, const uint8_t*, int32_t, const ZELPLAY_FRAME_INFO*, ZELPLAY_USER) {
    ++callbacks;
}

}  // namespace

TEST(EngineStress, FourThreadsUsePortsAtRandom) {
    testsupport::TempDir dir;
    const auto units = enginetest::makeH264(dir.path().string(), 176, 144, 30, 10);
    ASSERT_EQ(units.size(), 30u);
    std::vector<std::vector<uint8_t>> records;
    for (uint32_t i = 0; i < units.size(); ++i)
        records.push_back(enginetest::recordForUnit(units[i], i));
    const auto audio = enginetest::makeRecord({0x61, 0, 0, 0, 0}, std::vector<uint8_t>(160, 100));

    std::mutex handlesLock;
    std::vector<ZELPLAY_PORT>
        handles;                      // live ports (other threads may be freeing them); handlesLock
    std::vector<ZELPLAY_PORT> freed;  // handles freed already; guarded by handlesLock
    std::atomic<long> operations{0};
    // At least four seconds of random use, and on until it has made a good number of calls and
    // shown a picture (a slow machine takes longer to get there), at most a minute.
    const auto minimumEnd = Clock::now() + std::chrono::seconds(4);
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    const long kOperations = 1000;
    auto keepGoing = [&] {
        const auto now = Clock::now();
        if (now >= deadline)
            return false;
        return now < minimumEnd || operations.load() <= kOperations || callbacks.load() == 0;
    };

    auto worker = [&](unsigned seed) {
        std::mt19937 rng(seed);
        auto pick = [&]() -> ZELPLAY_PORT {
            std::lock_guard l(handlesLock);
            if (!freed.empty() && rng() % 10 == 0)
                return freed[rng() % freed.size()];
            if (handles.empty())
                return 0;
            return handles[rng() % handles.size()];
        };
        while (keepGoing()) {
            const ZELPLAY_PORT port = pick();
            switch (rng() % 14) {
                case 0: {
                    std::lock_guard l(handlesLock);
                    if (handles.size() >= 8)
                        break;
                    ZELPLAY_PORT p = 0;
                    if (ZelPlay_GetPort(&p) == 1) {
                        ZelPlay_SetDecCallBack(p, countPicture, 0);
                        handles.push_back(p);
                    }
                    break;
                }
                case 1: {
                    {
                        std::lock_guard l(handlesLock);
                        auto it = std::find(handles.begin(), handles.end(), port);
                        if (it == handles.end())
                            break;
                        handles.erase(it);
                        if (freed.size() < 16)
                            freed.push_back(port);
                    }
                    ZelPlay_FreePort(port);  // other threads may still be calling into it
                    break;
                }
                case 2:
                    ZelPlay_SetPlayMode(port, static_cast<int>(rng() % 2));
                    ZelPlay_SetDelayTime(port, 0, 0);
                    break;
                case 3:
                    ZelPlay_OpenStream(port, 1 << 20);
                    break;
                case 4:
                    ZelPlay_Play(port, 0);
                    break;
                case 5:
                case 6:
                case 7: {
                    const uint32_t first = (rng() % 3) * 10;  // from a key frame
                    for (uint32_t i = first; i < records.size() && i < first + 5; ++i) {
                        ZelPlay_InputVideoData(port, records[i].data(),
                                               static_cast<uint32_t>(records[i].size()));
                    }
                    break;
                }
                case 8:
                    ZelPlay_InputAudioData(port, audio.data(), static_cast<uint32_t>(audio.size()));
                    break;
                case 9:
                    ZelPlay_Stop(port);
                    ZelPlay_SetDecCallBack(port, countPicture, 0);
                    break;
                case 10:
                    ZelPlay_Close(port);
                    break;
                case 11:
                    ZelPlay_Pause(port, static_cast<int>(rng() % 2));
                    ZelPlay_OneByOne(port);
                    break;
                case 12:
                    ZelPlay_Fast(port);
                    ZelPlay_Slow(port);
                    ZelPlay_SetColor(port, static_cast<int>(rng() % 129), 64, 32, 96);
                    break;
                case 13:
                    ZelPlay_GetLastError(port);
                    ZelPlay_GetSourceBufferRemain(port);
                    ZelPlay_ResetSourceBuffer(port);
                    ZelPlay_GetPlayedTime(port);
                    break;
            }
            ++operations;
        }
    };
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < 4; ++t)
        threads.emplace_back(worker, 1234 + t);
    for (auto& t : threads)
        t.join();

    for (ZELPLAY_PORT p : handles)
        ZelPlay_FreePort(p);
    for (ZELPLAY_PORT p : handles)
        EXPECT_EQ(ZelPlay_GetLastError(p), 1u);
    EXPECT_EQ(zelplay::PortTable::instance().portCount(), 0u);
    EXPECT_FALSE(zelplay::PortTable::instance().schedulerRunning());
    std::printf("operations %ld, pictures %ld\n", operations.load(), callbacks.load());
    EXPECT_GT(operations.load(), kOperations);
    EXPECT_GT(callbacks.load(), 0);
}

TEST(EngineStress, FreeingAPortWhileAnotherThreadFeedsIt) {
    testsupport::TempDir dir;
    const auto units = enginetest::makeH264(dir.path().string(), 176, 144, 20, 5);
    ASSERT_EQ(units.size(), 20u);
    for (int mode = 0; mode < 2; ++mode) {
        for (int round = 0; round < 10; ++round) {
            ZELPLAY_PORT port = 0;
            ASSERT_EQ(ZelPlay_GetPort(&port), 1);
            ZelPlay_SetPlayMode(port, mode);
            ZelPlay_SetDelayTime(port, 0, 0);
            ASSERT_EQ(ZelPlay_OpenStream(port, 1 << 20), 1);
            ASSERT_EQ(ZelPlay_Play(port, 0), 1);
            std::atomic<long> fed{0};
            std::atomic<bool> sawPortGone{false};
            std::thread feeder([&] {
                for (uint32_t i = 0;; i = (i + 1) % 20) {
                    auto rec = enginetest::recordForUnit(units[i], i);
                    if (ZelPlay_InputVideoData(port, rec.data(),
                                               static_cast<uint32_t>(rec.size())) == 0 &&
                        ZelPlay_GetLastError(port) == 1) {
                        sawPortGone = true;
                        return;
                    }
                    ++fed;
                }
            });
            // Each round frees the port after a different amount of input, counted in calls
            // rather than in time, so the rounds differ the same way on any machine.
            EXPECT_TRUE(testsupport::waitFor([&] { return fed.load() >= 1 + 4 * round; }, 30000));
            EXPECT_EQ(ZelPlay_FreePort(port), 1);
            feeder.join();
            EXPECT_TRUE(sawPortGone.load());
            EXPECT_EQ(ZelPlay_GetLastError(port), 1u);
        }
    }
}
