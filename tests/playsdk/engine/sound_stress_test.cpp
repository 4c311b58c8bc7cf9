// Sound under concurrent use: audio fed to real-time and buffered ports (through the caller's
// thread and the scheduler at once), the sound port switched and stopped, volumes changed and
// ports freed and made, on four threads for several seconds. Run under ThreadSanitizer by the
// threads label.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "audio_frames.h"
#include "h264_stream.h"
#include "port_table.h"
#include "sound_output.h"
#include "support/media.h"
#include "support/wait.h"
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

namespace {

// A sound device that stopped taking data: open, started, and always full.
class StalledOutput final : public zelplay::SoundOutput {
  public:
    int create() override { return 0; }
    int setFormat(int, int) override { return 0; }
    int start() override { return 0; }
    int setAudible(bool) override { return 0; }
    int writePcm(const uint8_t*, size_t) override {
        ++writes;
        return zelplay::kSoundFull;
    }
    uint32_t msUntilRoom() override { return 500; }
    int setVolume(unsigned) override { return 0; }
    int stop() override { return 0; }
    void destroy() override {}
    zelplay::SoundOutputState state() override { return {}; }
    static std::atomic<int> writes;
};
std::atomic<int> StalledOutput::writes{0};

class StalledSound : public testing::Test {
  protected:
    void SetUp() override {
        StalledOutput::writes = 0;
        zelplay::setSoundOutputFactory([]() -> std::unique_ptr<zelplay::SoundOutput> {
            return std::make_unique<StalledOutput>();
        });
    }
    void TearDown() override {
        ZelPlay_StopSound();
        zelplay::setSoundOutputFactory(nullptr);
    }
};

// Counts a port's decoded pictures and audio frames.
struct Counts {
    std::atomic<int> pictures{0};
    std::atomic<int> audio{0};
    static void callback(ZELPLAY_PORT, const uint8_t*, int32_t, const ZELPLAY_FRAME_INFO* info,
                         ZELPLAY_USER user) {
        auto* c = reinterpret_cast<Counts*>(user);
        ++(info->type == ZELPLAY_FRAME_TYPE_YV12 ? c->pictures : c->audio);
    }
    ZELPLAY_USER user() { return reinterpret_cast<ZELPLAY_USER>(this); }
};

std::vector<std::vector<uint8_t>> videoRecords(int frames) {
    testsupport::TempDir dir;
    std::vector<std::vector<uint8_t>> records;
    const auto units = enginetest::makeH264(dir.path().string(), 176, 144, frames, 25);
    for (uint32_t i = 0; i < units.size(); ++i)
        records.push_back(enginetest::recordForUnit(units[i], i));
    return records;
}

}  // namespace

TEST_F(StalledSound, RealTimeAudioWaitingForTheDeviceNeverHoldsUpThePictures) {
    const auto video = videoRecords(50);
    ASSERT_EQ(video.size(), 50u);
    const Port p = makePort(ZELPLAY_MODE_REALTIME);
    Counts counts;
    ASSERT_EQ(ZelPlay_SetDecCallBack(p.handle, Counts::callback, counts.user()), 1);
    ASSERT_EQ(ZelPlay_PlaySound(p.handle, 16, 8000), 1);
    // Each audio input waits up to three seconds for room that never comes.
    constexpr int kAudioFrames = 8;
    std::atomic<int> audioDone{0};
    std::thread audio([&] {
        enginetest::ToneFrames tone(AudioKind::Alaw, 440);
        for (int i = 0; i < kAudioFrames; ++i) {
            const auto r = tone.nextRecord();
            ZelPlay_InputAudioData(p.handle, r.data(), static_cast<uint32_t>(r.size()));
            ++audioDone;
        }
    });
    ASSERT_TRUE(testsupport::waitFor([&] { return StalledOutput::writes.load() > 0; }, 20000));
    for (const auto& r : video)
        ASSERT_EQ(ZelPlay_InputVideoData(p.handle, r.data(), static_cast<uint32_t>(r.size())), 1);
    // Every picture went through while the sound was still waiting for its first frames.
    EXPECT_EQ(counts.pictures.load(), 50);
    EXPECT_LT(audioDone.load(), kAudioFrames);
    ASSERT_EQ(ZelPlay_StopSound(), 1);  // a writer waiting for room gives up at once
    audio.join();
    ZelPlay_FreePort(p.handle);
}

TEST_F(StalledSound, BufferedPortsPlayOnWhileTheHeardPortsDeviceTakesNothing) {
    const auto video = videoRecords(50);
    ASSERT_EQ(video.size(), 50u);
    // The heard port: six seconds of sound queued with its pictures, at normal speed.
    const Port heard = makePort(ZELPLAY_MODE_BUFFERED);
    const Port other = makePort(ZELPLAY_MODE_BUFFERED);
    Counts heardCounts, otherCounts;
    ASSERT_EQ(ZelPlay_SetDecCallBack(heard.handle, Counts::callback, heardCounts.user()), 1);
    ASSERT_EQ(ZelPlay_SetDecCallBack(other.handle, Counts::callback, otherCounts.user()), 1);
    ASSERT_EQ(ZelPlay_PlaySound(heard.handle, 16, 8000), 1);
    constexpr int kAudioFrames = 150;
    enginetest::ToneFrames tone(AudioKind::Alaw, 440);
    ASSERT_EQ(ZelPlay_InputVideoData(heard.handle, video[0].data(),
                                     static_cast<uint32_t>(video[0].size())),
              1);
    for (int i = 0; i < kAudioFrames; ++i) {
        const auto r = tone.nextRecord();
        ASSERT_EQ(ZelPlay_InputVideoData(heard.handle, r.data(), static_cast<uint32_t>(r.size())),
                  1);
    }
    auto last = enginetest::makeRecord({0x62, 25, 2, 1000 + 40 * kAudioFrames, 0}, {0, 0, 1, 9});
    ASSERT_EQ(ZelPlay_InputVideoData(heard.handle, last.data(), static_cast<uint32_t>(last.size())),
              1);
    // The other port, fast: its pictures need the scheduler while the heard port's sound is
    // due frame by frame.
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(ZelPlay_Fast(other.handle), 1);
    for (const auto& r : video)
        ASSERT_EQ(ZelPlay_InputVideoData(other.handle, r.data(), static_cast<uint32_t>(r.size())),
                  1);
    ASSERT_TRUE(testsupport::waitFor([&] { return heardCounts.audio.load() > 0; }, 20000));
    ASSERT_TRUE(testsupport::waitFor([&] { return otherCounts.pictures.load() == 50; }, 60000));
    // A wait for room on the scheduler would have held every port for seconds per frame.
    EXPECT_LT(heardCounts.audio.load(), kAudioFrames) << "the other port waited for the sound";
    EXPECT_GT(StalledOutput::writes.load(), 0);
    ZelPlay_FreePort(heard.handle);
    ZelPlay_FreePort(other.handle);
}

TEST(SoundRates, RatesNoOutputCanPlayAreRefused) {
    // Below 4 kHz a device period lasts seconds (closing it waits that long); above 192 kHz
    // no device plays.
    zelplay::setSoundOutputFactory(zelplay::createNullSoundOutput);
    const Port p = makePort(ZELPLAY_MODE_REALTIME);
    for (int32_t rate : {0, 1, 100, 3999, 192001}) {
        EXPECT_EQ(ZelPlay_PlaySound(p.handle, 16, rate), 0) << rate;
        EXPECT_EQ(ZelPlay_GetLastError(p.handle), 9u) << rate;
    }
    for (int32_t rate : {4000, 8000, 192000}) {
        EXPECT_EQ(ZelPlay_PlaySound(p.handle, 16, rate), 1) << rate;
        ZelPlay_StopSound();
    }
    EXPECT_EQ(ZelPlay_PlaySound(p.handle, 12, 8000), 0);
    ZelPlay_FreePort(p.handle);
    zelplay::setSoundOutputFactory(nullptr);
}

namespace {

// An output whose device takes long to close (as one whose period lasts seconds does).
class SlowClosingOutput final : public zelplay::SoundOutput {
  public:
    int create() override { return 0; }
    int setFormat(int, int) override { return 0; }
    int start() override {
        started_ = true;
        open_ = audible_;
        return 0;
    }
    int setAudible(bool audible) override {
        audible_ = audible;
        if (!audible)
            closeDevice();
        else
            open_ = started_;
        return 0;
    }
    int writePcm(const uint8_t*, size_t) override { return zelplay::kSoundWritten; }
    uint32_t msUntilRoom() override { return 1; }
    int setVolume(unsigned) override { return 0; }
    int stop() override {
        started_ = false;
        closeDevice();
        return 0;
    }
    void destroy() override {}
    zelplay::SoundOutputState state() override { return {}; }

    static std::atomic<bool> holdClose;
    static std::atomic<int> closing;

  private:
    void closeDevice() {
        if (!open_)
            return;
        open_ = false;
        ++closing;
        testsupport::waitFor([] { return !holdClose.load(); }, 60000, 1);
        --closing;
    }
    bool started_ = false;  // the port's sound lock guards every call
    bool audible_ = false;
    bool open_ = false;
};
std::atomic<bool> SlowClosingOutput::holdClose{false};
std::atomic<int> SlowClosingOutput::closing{0};

}  // namespace

TEST(SoundPortLocks, FreeingAPortNeverWaitsForAnotherPortsDeviceToClose) {
    zelplay::setSoundOutputFactory([]() -> std::unique_ptr<zelplay::SoundOutput> {
        return std::make_unique<SlowClosingOutput>();
    });
    const Port heard = makePort(ZELPLAY_MODE_REALTIME);
    const Port other = makePort(ZELPLAY_MODE_REALTIME);
    ASSERT_EQ(ZelPlay_PlaySound(heard.handle, 16, 8000), 1);
    SlowClosingOutput::holdClose = true;
    std::thread freeing([&] { ZelPlay_FreePort(heard.handle); });  // closes its device slowly
    ASSERT_TRUE(testsupport::waitFor([] { return SlowClosingOutput::closing.load() > 0; }, 20000));
    // An unrelated port is freed while that device is still closing.
    std::atomic<bool> freed{false};
    std::thread other_([&] {
        ZelPlay_FreePort(other.handle);
        freed = true;
    });
    const bool freedMeanwhile = testsupport::waitFor([&] { return freed.load(); }, 20000);
    SlowClosingOutput::holdClose = false;
    freeing.join();
    other_.join();
    EXPECT_TRUE(freedMeanwhile) << "FreePort waited for another port's device";
    zelplay::setSoundOutputFactory(nullptr);
}
