// Callbacks that call back into the library: every export allowed from inside a decode or
// SEI callback works there (the scheduler and the input threads go on), and clearing a
// callback waits for a call of it in progress on another thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "h264_stream.h"
#include "port_table.h"
#include "support/media.h"
#include "zelplay.h"

using enginetest::AccessUnit;
using Clock = std::chrono::steady_clock;

namespace {

bool waitFor(const std::function<bool()>& condition, int seconds = 20) {
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    while (!condition()) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// A user data SEI unit with a text, put in front of an access unit.
AccessUnit withSei(AccessUnit au, const std::string& text) {
    std::vector<uint8_t> sei = {0, 0, 0, 1, 6, 0xF0, static_cast<uint8_t>(text.size() + 1)};
    sei.insert(sei.end(), text.begin(), text.end());
    sei.push_back(0);
    sei.push_back(0x80);
    au.bytes.insert(au.bytes.begin(), sei.begin(), sei.end());
    au.startsWithSps = false;
    return au;
}

void drawNothing(ZELPLAY_PORT, void*, ZELPLAY_USER) {}

enum class Where { RealTimeDecode, BufferedDecode, BufferedSei };

// What one callback does on its first call: every export it may use on its own port.
struct Probe {
    Where where;
    ZELPLAY_PORT port = 0;
    std::string folder;
    std::atomic<int> calls{0};
    std::mutex lock;
    std::vector<std::string> failures;  // guarded by lock
    std::atomic<bool> ranExports{false};
    std::atomic<int> probeCalls{0};  // calls of the callback under test

    void expect(const char* name, long got, long want) {
        if (got != want) {
            std::lock_guard l(lock);
            failures.push_back(std::string(name) + " gave " + std::to_string(got) + ", not " +
                               std::to_string(want));
        }
    }

    void callEverything();
    // The first call uses every export.
    void onProbeCall() {
        if (probeCalls++ == 0) {
            callEverything();
            ranExports = true;
        }
    }
    static void onPicture(ZELPLAY_PORT, const uint8_t*, int32_t, const ZELPLAY_FRAME_INFO*,
                          ZELPLAY_USER user);
    static int32_t onSei(ZELPLAY_PORT, const ZELPLAY_SEI_RECORD*, uint32_t, ZELPLAY_USER user);
};

void Probe::callEverything() {
    const bool buffered = where != Where::RealTimeDecode;
    const ZELPLAY_PORT p = port;
    const auto self = reinterpret_cast<ZELPLAY_USER>(this);
    expect("Pause(1)", ZelPlay_Pause(p, 1), 1);
    expect("Pause(0)", ZelPlay_Pause(p, 0), 1);
    expect("Fast", ZelPlay_Fast(p), 1);
    expect("Slow", ZelPlay_Slow(p), 1);
    expect("OneByOne", ZelPlay_OneByOne(p), 1);  // the test resumes after the step
    expect("Play", ZelPlay_Play(p, 0), 1);
    expect("GetSourceBufferRemain > 0", ZelPlay_GetSourceBufferRemain(p) > 0, buffered);
    expect("ResetSourceBuffer", ZelPlay_ResetSourceBuffer(p), buffered);
    expect("RigisterDrawFun", ZelPlay_RigisterDrawFun(p, drawNothing, 7), 1);
    expect("RigisterDrawFun(NULL)", ZelPlay_RigisterDrawFun(p, nullptr, 0), 1);
    expect("SetDecCallBack", ZelPlay_SetDecCallBack(p, onPicture, self), 1);
    if (where == Where::BufferedSei)
        expect("RigisterSEICallBack", ZelPlay_RigisterSEICallBack(p, onSei, self), 1);
    expect("SetColor", ZelPlay_SetColor(p, 64, 64, 64, 64), 1);
    int32_t a = 0, b = 0, c = 0, d = 0;
    expect("GetColor", ZelPlay_GetColor(p, &a, &b, &c, &d), 1);
    expect("GetPictureSize", ZelPlay_GetPictureSize(p, &a, &b), 1);
    ZelPlay_GetPlayedTime(p);
    expect("SetDelayTime", ZelPlay_SetDelayTime(p, 0, 0), 1);
    expect("GetBMP", ZelPlay_GetBMP(p, (folder + "/a.bmp").c_str()), 1);
    expect("GetJPG", ZelPlay_GetJPG(p, (folder + "/a.jpg").c_str(), 80), 1);
    expect("GetBMPWithTag", ZelPlay_GetBMPWithTag(p, (folder + "/b.bmp").c_str(), "tag"), 1);
    expect("GetJPGWithTag", ZelPlay_GetJPGWithTag(p, (folder + "/b.jpg").c_str(), 80, "tag"), 1);
    expect("GetLastError", ZelPlay_GetLastError(p), 0);
}

void Probe::onPicture(ZELPLAY_PORT, const uint8_t*, int32_t, const ZELPLAY_FRAME_INFO*,
                      ZELPLAY_USER user) {
    auto* self = reinterpret_cast<Probe*>(user);
    ++self->calls;
    if (self->where != Where::BufferedSei)
        self->onProbeCall();
}

int32_t Probe::onSei(ZELPLAY_PORT, const ZELPLAY_SEI_RECORD*, uint32_t, ZELPLAY_USER user) {
    reinterpret_cast<Probe*>(user)->onProbeCall();
    return 0;
}

}  // namespace

class CallbacksCallingBack : public testing::TestWithParam<Where> {};

TEST_P(CallbacksCallingBack, EveryAllowedExportWorksAndPlayGoesOn) {
    testsupport::TempDir dir;
    const auto units = enginetest::makeH264(dir.path().string(), 176, 144, 16, 4);
    ASSERT_EQ(units.size(), 16u);
    Probe probe;
    probe.where = GetParam();
    probe.folder = dir.path().string();
    const bool buffered = probe.where != Where::RealTimeDecode;
    ASSERT_EQ(ZelPlay_GetPort(&probe.port), 1);
    ASSERT_EQ(ZelPlay_SetPlayMode(probe.port, buffered ? 1 : 0), 1);
    ASSERT_EQ(ZelPlay_SetDelayTime(probe.port, 0, 0), 1);
    ASSERT_EQ(ZelPlay_OpenStream(probe.port, 4 << 20), 1);
    const auto user = reinterpret_cast<ZELPLAY_USER>(&probe);
    ASSERT_EQ(ZelPlay_SetDecCallBack(probe.port, Probe::onPicture, user), 1);
    if (probe.where == Where::BufferedSei) {
        ASSERT_EQ(ZelPlay_RigisterSEICallBack(probe.port, Probe::onSei, user), 1);
    }
    ASSERT_EQ(ZelPlay_Play(probe.port, 0), 1);
    auto feed = [&](uint32_t from, uint32_t to) {
        for (uint32_t i = from; i < to; ++i) {
            const auto rec = enginetest::recordForUnit(withSei(units[i], "cam01"), i);
            ZelPlay_InputVideoData(probe.port, rec.data(), static_cast<uint32_t>(rec.size()));
        }
    };
    feed(0, 8);
    ASSERT_TRUE(waitFor([&] { return probe.ranExports.load(); })) << "no callback came";
    // The thread that ran the callback is still serving the port: the next group of
    // pictures (from a key frame, the source buffer may have been reset) is shown.
    const int before = probe.calls.load();
    feed(8, 16);
    if (buffered) {
        // The single step asked for from the callback pauses play once the scheduler has
        // taken the next frame in hand; resume from here.
        const auto port = zelplay::PortTable::instance().find(probe.port);
        ASSERT_TRUE(waitFor([&] { return port->streamState() == zelplay::StreamState::Paused; }));
        ASSERT_EQ(ZelPlay_Pause(probe.port, 0), 1);
    }
    EXPECT_TRUE(waitFor([&] { return probe.calls.load() >= before + 4; }))
        << "play stopped after the callback's calls";
    EXPECT_EQ(ZelPlay_FreePort(probe.port), 1);
    std::lock_guard l(probe.lock);
    EXPECT_TRUE(probe.failures.empty()) << testing::PrintToString(probe.failures);
}

INSTANTIATE_TEST_SUITE_P(From, CallbacksCallingBack,
                         testing::Values(Where::RealTimeDecode, Where::BufferedDecode,
                                         Where::BufferedSei),
                         [](const testing::TestParamInfo<Where>& info) {
                             switch (info.param) {
                                 case Where::RealTimeDecode:
                                     return std::string("RealTimeDecodeCallback");
                                 case Where::BufferedDecode:
                                     return std::string("BufferedDecodeCallback");
                                 case Where::BufferedSei:
                                     return std::string("BufferedSeiCallback");
                             }
                             return std::string();
                         });

namespace {

// A callback that holds its caller until released, counting calls in progress.
struct Blocker {
    std::atomic<int> active{0};
    std::atomic<int> calls{0};
    std::atomic<bool> release{false};
    void hold() {
        ++active;
        ++calls;
        waitFor([&] { return release.load(); });
        --active;
    }
    static void onPicture(ZELPLAY_PORT, const uint8_t*, int32_t, const ZELPLAY_FRAME_INFO*,
                          ZELPLAY_USER user) {
        reinterpret_cast<Blocker*>(user)->hold();
    }
    static int32_t onSei(ZELPLAY_PORT, const ZELPLAY_SEI_RECORD*, uint32_t, ZELPLAY_USER user) {
        reinterpret_cast<Blocker*>(user)->hold();
        return 0;
    }
};

}  // namespace

// After the clearing call returns, the old callback is not running and not called again.
TEST(CallbackClearing, WaitsForACallInProgressOnAnotherThread) {
    testsupport::TempDir dir;
    const auto units = enginetest::makeH264(dir.path().string(), 176, 144, 8, 4);
    ASSERT_EQ(units.size(), 8u);
    for (const bool sei : {false, true}) {
        Blocker blocker;
        ZELPLAY_PORT port = 0;
        ASSERT_EQ(ZelPlay_GetPort(&port), 1);
        ASSERT_EQ(ZelPlay_SetPlayMode(port, sei ? 1 : 0), 1);
        ZelPlay_SetDelayTime(port, 0, 0);
        ASSERT_EQ(ZelPlay_OpenStream(port, 4 << 20), 1);
        const auto user = reinterpret_cast<ZELPLAY_USER>(&blocker);
        if (sei) {
            ASSERT_EQ(ZelPlay_RigisterSEICallBack(port, Blocker::onSei, user), 1);
        } else {
            ASSERT_EQ(ZelPlay_SetDecCallBack(port, Blocker::onPicture, user), 1);
        }
        ASSERT_EQ(ZelPlay_Play(port, 0), 1);
        // Real-time frames are decoded on a feeding thread; buffered ones on the scheduler.
        std::thread feeder([&] {
            for (uint32_t i = 0; i < 8; ++i) {
                const auto rec = enginetest::recordForUnit(withSei(units[i], "text"), i);
                ZelPlay_InputVideoData(port, rec.data(), static_cast<uint32_t>(rec.size()));
            }
        });
        ASSERT_TRUE(waitFor([&] { return blocker.active.load() == 1; }));
        std::atomic<bool> cleared{false};
        int activeWhenCleared = -1;
        std::thread clearer([&] {
            if (sei)
                ZelPlay_RigisterSEICallBack(port, nullptr, 0);
            else
                ZelPlay_SetDecCallBack(port, nullptr, 0);
            activeWhenCleared = blocker.active.load();
            cleared = true;
        });
        // Give a clearing call that does not wait the chance to return early.
        waitFor([&] { return cleared.load(); }, 1);
        blocker.release = true;
        clearer.join();
        feeder.join();
        EXPECT_EQ(activeWhenCleared, 0) << (sei ? "SEI" : "decode") << " callback still running";
        const int callsAfterClear = blocker.calls.load();
        const auto more = enginetest::recordForUnit(withSei(units[4], "text"), 100);
        ZelPlay_InputVideoData(port, more.data(), static_cast<uint32_t>(more.size()));
        EXPECT_EQ(ZelPlay_FreePort(port), 1);
        EXPECT_EQ(blocker.calls.load(), callsAfterClear);
    }
}

namespace {

struct SelfClearing {
    ZELPLAY_PORT port = 0;
    std::atomic<int> pictures{0};
    std::atomic<int> records{0};
    static void onPicture(ZELPLAY_PORT port, const uint8_t*, int32_t, const ZELPLAY_FRAME_INFO*,
                          ZELPLAY_USER user) {
        ++reinterpret_cast<SelfClearing*>(user)->pictures;
        ZelPlay_SetDecCallBack(port, nullptr, 0);
    }
    static int32_t onSei(ZELPLAY_PORT port, const ZELPLAY_SEI_RECORD*, uint32_t,
                         ZELPLAY_USER user) {
        ++reinterpret_cast<SelfClearing*>(user)->records;
        ZelPlay_RigisterSEICallBack(port, nullptr, 0);
        return 0;
    }
};

}  // namespace

TEST(CallbackClearing, ACallbackThatClearsItselfIsNotCalledAgain) {
    testsupport::TempDir dir;
    const auto units = enginetest::makeH264(dir.path().string(), 176, 144, 8, 4);
    ASSERT_EQ(units.size(), 8u);
    SelfClearing s;
    ASSERT_EQ(ZelPlay_GetPort(&s.port), 1);
    ASSERT_EQ(ZelPlay_SetPlayMode(s.port, 1), 1);
    ZelPlay_SetDelayTime(s.port, 0, 0);
    ASSERT_EQ(ZelPlay_OpenStream(s.port, 4 << 20), 1);
    const auto user = reinterpret_cast<ZELPLAY_USER>(&s);
    ASSERT_EQ(ZelPlay_SetDecCallBack(s.port, SelfClearing::onPicture, user), 1);
    ASSERT_EQ(ZelPlay_RigisterSEICallBack(s.port, SelfClearing::onSei, user), 1);
    ASSERT_EQ(ZelPlay_Play(s.port, 0), 1);
    // Two SEI records per frame: the second is not handed to the cleared callback.
    const std::vector<uint8_t> twoItems = {0,    0, 0, 1,   6, 0xF0, 11,  0x78, 2,   0x55,
                                           0x55, 1, 1, 'a', 2, 1,    'b', 0,    0x80};
    for (uint32_t i = 0; i < 8; ++i) {
        AccessUnit au = units[i];
        au.bytes.insert(au.bytes.begin(), twoItems.begin(), twoItems.end());
        au.startsWithSps = false;
        const auto rec = enginetest::recordForUnit(au, i);
        ASSERT_EQ(ZelPlay_InputVideoData(s.port, rec.data(), static_cast<uint32_t>(rec.size())), 1);
    }
    EXPECT_TRUE(waitFor([&] { return ZelPlay_GetSourceBufferRemain(s.port) == (4 << 20) - 16; }));
    EXPECT_EQ(ZelPlay_FreePort(s.port), 1);
    EXPECT_EQ(s.pictures.load(), 1);
    EXPECT_EQ(s.records.load(), 1);
}
