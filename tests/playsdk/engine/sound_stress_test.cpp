// Sound under concurrent use: audio fed to real-time and buffered ports (through the caller's
// thread and the scheduler at once), the sound port switched and stopped, volumes changed and
// ports freed and made, on four threads for several seconds. Run under ThreadSanitizer by the
// threads label.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "audio_frames.h"
#include "h264_stream.h"
#include "port_table.h"
#include "sound_output.h"
#include "zelplay.h"

using Clock = std::chrono::steady_clock;
using enginetest::AudioKind;

namespace {

struct Port {
    ZELPLAY_PORT handle = 0;
    int mode = 0;
};

Port makePort(int mode) {
    Port p{0, mode};
    if (ZelPlay_GetPort(&p.handle) != 1)
        return p;
    ZelPlay_SetPlayMode(p.handle, mode);
    ZelPlay_SetDelayTime(p.handle, 0, 0);
    ZelPlay_OpenStream(p.handle, 1 << 20);
    ZelPlay_Play(p.handle, 0);
    return p;
}

}  // namespace

TEST(SoundStress, FeedingSwitchingVolumeAndFreeingAtOnce) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    zelplay::setSoundOutputFactory(zelplay::createSdlSoundOutput);

    // Voice frames in 16 bits and raw frames in 8 bits, so that the heard port's output is
    // re-created while it is fed; video records let the buffered ports start.
    std::vector<std::vector<uint8_t>> audio;
    enginetest::ToneFrames alaw(AudioKind::Alaw, 440), raw8(AudioKind::Raw8, 440);
    for (int i = 0; i < 8; ++i) {
        audio.push_back(alaw.nextRecord());
        audio.push_back(raw8.nextRecord());
    }
    // No key frame: a buffered port passes it over without decoding it.
    const auto video = enginetest::makeRecord({0x62, 25, 1, 1000, 0}, {0, 0, 1, 9});

    std::mutex portsLock;
    std::vector<Port> ports;  // guarded by portsLock
    for (int i = 0; i < 6; ++i)
        ports.push_back(makePort(i % 2));
    auto pick = [&](std::mt19937& rng) {
        std::lock_guard l(portsLock);
        return ports[rng() % ports.size()];
    };

    std::atomic<int> mostDevices{0};
    std::atomic<long> operations{0};
    const auto end = Clock::now() + std::chrono::seconds(4);

    auto feeder = [&](unsigned seed) {
        std::mt19937 rng(seed);
        while (Clock::now() < end) {
            const Port port = pick(rng);
            const ZELPLAY_PORT p = port.handle;
            const auto& rec = audio[rng() % audio.size()];
            const auto size = static_cast<uint32_t>(rec.size());
            switch (port.mode == 1 ? rng() % 4 : 2) {
                case 0:
                    ZelPlay_InputVideoData(p, video.data(), static_cast<uint32_t>(video.size()));
                    break;
                case 1:
                    ZelPlay_InputVideoData(p, rec.data(), size);  // played by the scheduler
                    break;
                default:
                    ZelPlay_InputAudioData(p, rec.data(), size);
                    break;
            }
            ++operations;
        }
    };
    auto switcher = [&](unsigned seed) {
        std::mt19937 rng(seed);
        while (Clock::now() < end) {
            if (rng() % 4 == 0)
                EXPECT_EQ(ZelPlay_StopSound(), 1);
            else
                ZelPlay_PlaySound(pick(rng).handle, rng() % 2 ? 16 : 8, rng() % 2 ? 8000 : 16000);
            int seen = mostDevices.load();
            while (seen < zelplay::sdlSoundDevicesOpen())
                mostDevices.compare_exchange_weak(seen, zelplay::sdlSoundDevicesOpen());
            ++operations;
            std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 20));
        }
    };
    auto mixer = [&](unsigned seed) {
        std::mt19937 rng(seed);
        while (Clock::now() < end) {
            const ZELPLAY_PORT p = pick(rng).handle;
            ZelPlay_SetVolume(p, rng() % 0x10000);
            ZelPlay_GetVolume(p);
            ++operations;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    };
    auto recycler = [&](unsigned seed) {
        std::mt19937 rng(seed);
        while (Clock::now() < end) {
            const Port fresh = makePort(static_cast<int>(rng() % 2));
            Port old;
            {
                std::lock_guard l(portsLock);
                const size_t i = rng() % ports.size();
                old = ports[i];
                ports[i] = fresh;
            }
            // Other threads may still call on the old handle: they find no port.
            EXPECT_EQ(ZelPlay_FreePort(old.handle), 1);
            ++operations;
            std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 50));
        }
    };

    std::vector<std::thread> threads;
    threads.emplace_back(feeder, 1u);
    threads.emplace_back(switcher, 2u);
    threads.emplace_back(mixer, 3u);
    threads.emplace_back(recycler, 4u);
    for (auto& t : threads)
        t.join();

    EXPECT_EQ(mostDevices.load(), 1) << "none or more than one port was heard";
    EXPECT_GT(operations.load(), 100);
    for (const Port& p : ports)
        EXPECT_EQ(ZelPlay_FreePort(p.handle), 1);
    EXPECT_EQ(zelplay::sdlSoundDevicesOpen(), 0);
    EXPECT_EQ(ZelPlay_StopSound(), 1);
    zelplay::setSoundOutputFactory(nullptr);
}
