// The port table and the checks and error codes of the exported calls.
#include <gtest/gtest.h>

#include <vector>

#include "h264_stream.h"
#include "port_table.h"
#include "zelplay.h"

namespace {

ZELPLAY_PORT newPort(int mode = 0) {
    ZELPLAY_PORT port = 0;
    EXPECT_EQ(ZelPlay_GetPort(&port), 1);
    EXPECT_EQ(ZelPlay_SetPlayMode(port, mode), 1);
    return port;
}

}  // namespace

TEST(PortApi, HandlesThatAreNoPort) {
    EXPECT_EQ(ZelPlay_GetSdkVersion(), 0x03010014u);
    EXPECT_EQ(ZelPlay_GetSdkVersion(), 50397204u);
    EXPECT_EQ(ZelPlay_GetPort(nullptr), 0);
    EXPECT_EQ(ZelPlay_GetLastError(12345), 1u);
    EXPECT_EQ(ZelPlay_GetLastError(0), 1u);
    ZELPLAY_PORT port = newPort();
    EXPECT_EQ(ZelPlay_GetLastError(port), 0u);
    EXPECT_EQ(ZelPlay_FreePort(port), 1);
    EXPECT_EQ(ZelPlay_GetLastError(port), 1u);
    EXPECT_EQ(ZelPlay_FreePort(port), 0);
    EXPECT_EQ(ZelPlay_Play(port, 0), 0);
    EXPECT_EQ(ZelPlay_SetColor(port, 1, 2, 3, 4), 0);
}

TEST(PortApi, SchedulerLivesWithThePorts) {
    auto& table = zelplay::PortTable::instance();
    ASSERT_EQ(table.portCount(), 0u);
    EXPECT_FALSE(table.schedulerRunning());
    ZELPLAY_PORT a = newPort(), b = newPort();
    EXPECT_NE(a, b);
    EXPECT_TRUE(table.schedulerRunning());
    EXPECT_EQ(ZelPlay_FreePort(a), 1);
    EXPECT_TRUE(table.schedulerRunning());
    EXPECT_EQ(ZelPlay_FreePort(b), 1);
    EXPECT_FALSE(table.schedulerRunning());
    ZELPLAY_PORT c = newPort();
    EXPECT_TRUE(table.schedulerRunning());
    EXPECT_EQ(ZelPlay_FreePort(c), 1);
    EXPECT_FALSE(table.schedulerRunning());
}

TEST(PortApi, OpenPlayStopCloseOrder) {
    ZELPLAY_PORT port = newPort(0);
    EXPECT_EQ(ZelPlay_Play(port, 0), 0);
    EXPECT_EQ(ZelPlay_GetLastError(port), 5u);
    EXPECT_EQ(ZelPlay_Pause(port, 1), 0);
    EXPECT_EQ(ZelPlay_GetLastError(port), 5u);
    ASSERT_EQ(ZelPlay_OpenStream(port, 0), 1);  // mode 0 ignores the size
    EXPECT_EQ(ZelPlay_Pause(port, 1), 0);
    EXPECT_EQ(ZelPlay_GetLastError(port), 6u);
    for (auto call : {ZelPlay_Fast, ZelPlay_Slow, ZelPlay_OneByOne}) {
        EXPECT_EQ(call(port), 0);
        EXPECT_EQ(ZelPlay_GetLastError(port), 6u);
    }
    int32_t w = 0, h = 0;
    EXPECT_EQ(ZelPlay_GetPictureSize(port, &w, nullptr), 0);
    EXPECT_EQ(ZelPlay_GetLastError(port), 1u);
    EXPECT_EQ(ZelPlay_GetPictureSize(port, &w, &h), 0);
    EXPECT_EQ(ZelPlay_GetLastError(port), 6u);
    ASSERT_EQ(ZelPlay_Play(port, 0), 1);
    EXPECT_EQ(ZelPlay_GetPictureSize(port, &w, &h), 1);
    EXPECT_EQ(w, 352);
    EXPECT_EQ(h, 288);
    EXPECT_EQ(ZelPlay_Pause(port, 1), 1);  // mode 0: accepted, changes nothing
    EXPECT_EQ(ZelPlay_GetPlayedTime(port), 0u);
    EXPECT_EQ(ZelPlay_Stop(port), 1);
    EXPECT_EQ(ZelPlay_Stop(port), 1);
    EXPECT_EQ(ZelPlay_Close(port), 1);
    EXPECT_EQ(ZelPlay_Play(port, 0), 0);
    EXPECT_EQ(ZelPlay_GetLastError(port), 5u);
    // Mode 2 has no stream.
    EXPECT_EQ(ZelPlay_SetPlayMode(port, 2), 1);
    EXPECT_EQ(ZelPlay_OpenStream(port, 66560), 0);
    EXPECT_EQ(ZelPlay_GetLastError(port), 2u);
    EXPECT_EQ(ZelPlay_FreePort(port), 1);
}

TEST(PortApi, InputChecksInOrder) {
    ZELPLAY_PORT port = newPort(0);
    auto rec = enginetest::makeRecord({0x62, 25, 1, 0, 1}, std::vector<uint8_t>(64, 0));
    const auto size = static_cast<uint32_t>(rec.size());
    EXPECT_EQ(ZelPlay_InputVideoData(port, rec.data(), size), 0);
    EXPECT_EQ(ZelPlay_GetLastError(port), 5u);
    ASSERT_EQ(ZelPlay_OpenStream(port, 0), 1);
    EXPECT_EQ(ZelPlay_InputVideoData(port, nullptr, size), 0);
    EXPECT_EQ(ZelPlay_GetLastError(port), 6u);  // playing is checked before the record
    ASSERT_EQ(ZelPlay_Play(port, 0), 1);
    EXPECT_EQ(ZelPlay_InputVideoData(port, nullptr, size), 0);
    EXPECT_EQ(ZelPlay_GetLastError(port), 1u);
    EXPECT_EQ(ZelPlay_InputVideoData(port, rec.data(), size - 1), 0);  // payload + 39
    EXPECT_EQ(ZelPlay_GetLastError(port), 1u);
    EXPECT_EQ(ZelPlay_InputAudioData(port, rec.data(), 39), 0);
    EXPECT_EQ(ZelPlay_GetLastError(port), 1u);
    // A length field that would wrap the size check is a size mismatch too.
    auto wrap = rec;
    wrap[12] = wrap[13] = wrap[14] = wrap[15] = 0xFF;
    EXPECT_EQ(ZelPlay_InputVideoData(port, wrap.data(), 39), 0);
    EXPECT_EQ(ZelPlay_GetLastError(port), 1u);
    // Garbage that is not H.264 fails to decode with 10 and nothing breaks.
    EXPECT_EQ(ZelPlay_InputVideoData(port, rec.data(), size), 0);
    EXPECT_EQ(ZelPlay_GetLastError(port), 10u);
    // An empty payload fails without storing a code.
    auto empty = enginetest::makeRecord({0x62, 25, 2, 40, 0}, {});
    EXPECT_EQ(ZelPlay_InputVideoData(port, empty.data(), 40), 0);
    EXPECT_EQ(ZelPlay_GetLastError(port), 10u);
    // Another mode value: no input.
    ASSERT_EQ(ZelPlay_SetPlayMode(port, 7), 1);
    ASSERT_EQ(ZelPlay_OpenStream(port, 0), 1);
    ASSERT_EQ(ZelPlay_Play(port, 0), 1);
    EXPECT_EQ(ZelPlay_InputVideoData(port, rec.data(), size), 0);
    EXPECT_EQ(ZelPlay_GetLastError(port), 2u);
    EXPECT_EQ(ZelPlay_FreePort(port), 1);
}

TEST(PortApi, SpeedLimitsAndPlayRestoresNormalSpeed) {
    ZELPLAY_PORT port = newPort(1);
    ASSERT_EQ(ZelPlay_OpenStream(port, 66560), 1);
    ASSERT_EQ(ZelPlay_Play(port, 0), 1);
    auto* p = zelplay::PortTable::instance().find(port).get();
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(ZelPlay_Fast(port), 1);
    EXPECT_DOUBLE_EQ(p->streamSpeed(), 16.0);
    EXPECT_EQ(ZelPlay_Fast(port), 1);
    EXPECT_DOUBLE_EQ(p->streamSpeed(), 16.0);
    EXPECT_EQ(ZelPlay_Play(port, 0), 1);  // already playing: normal speed again
    EXPECT_DOUBLE_EQ(p->streamSpeed(), 1.0);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(ZelPlay_Slow(port), 1);
    EXPECT_DOUBLE_EQ(p->streamSpeed(), 0.0625);
    EXPECT_EQ(ZelPlay_Slow(port), 1);
    EXPECT_DOUBLE_EQ(p->streamSpeed(), 0.0625);
    // Paused: speed changes are not applied; single step from any state.
    EXPECT_EQ(ZelPlay_Pause(port, 1), 1);
    EXPECT_EQ(p->streamState(), zelplay::StreamState::Paused);
    EXPECT_EQ(ZelPlay_Fast(port), 1);
    EXPECT_DOUBLE_EQ(p->streamSpeed(), 0.0625);
    EXPECT_EQ(ZelPlay_Pause(port, 0), 1);
    EXPECT_EQ(p->streamState(), zelplay::StreamState::Playing);
    EXPECT_EQ(ZelPlay_OneByOne(port), 1);
    EXPECT_EQ(p->streamState(), zelplay::StreamState::Step);
    EXPECT_EQ(ZelPlay_FreePort(port), 1);
}

TEST(PortApi, ColourAndCallbackSettersKeepTheLastError) {
    ZELPLAY_PORT port = newPort(0);
    EXPECT_EQ(ZelPlay_Play(port, 0), 0);  // stores 5
    EXPECT_EQ(ZelPlay_SetColor(port, 10, 20, 30, 40), 1);
    EXPECT_EQ(ZelPlay_GetLastError(port), 5u);
    int32_t b = 0, c = 0, s = 0, h = 0;
    EXPECT_EQ(ZelPlay_GetColor(port, &b, &c, &s, &h), 1);
    EXPECT_EQ(b, 10);
    EXPECT_EQ(c, 20);
    EXPECT_EQ(s, 30);
    EXPECT_EQ(h, 40);
    EXPECT_EQ(ZelPlay_SetColor(port, 64, 129, 64, 64), 0);
    EXPECT_EQ(ZelPlay_GetLastError(port), 1u);
    EXPECT_EQ(ZelPlay_SetColor(port, -1, 64, 64, 64), 0);
    int32_t only = 0;
    EXPECT_EQ(ZelPlay_GetColor(port, nullptr, nullptr, &only, nullptr), 1);
    EXPECT_EQ(only, 30) << "a rejected setting changed the colour";
    EXPECT_EQ(ZelPlay_SetDecCallBack(port, nullptr, 7), 1);
    EXPECT_EQ(ZelPlay_RigisterSEICallBack(port, nullptr, 7), 1);
    EXPECT_EQ(ZelPlay_RigisterDrawFun(port, nullptr, 7), 1);
    EXPECT_EQ(ZelPlay_GetLastError(port), 1u);
    EXPECT_EQ(ZelPlay_SetDelayTime(port, 5, 99), 1);
    EXPECT_EQ(ZelPlay_GetLastError(port), 0u);
    EXPECT_EQ(ZelPlay_FreePort(port), 1);
}
