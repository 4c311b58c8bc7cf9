// Real H.264 made by FFmpeg, cut into frame records and fed through both stream modes.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

#include "h264_stream.h"
#include "port_table.h"
#include "support/media.h"
#include "support/process.h"
#include "support/wait.h"
#include "zelplay.h"

using enginetest::AccessUnit;
using Clock = std::chrono::steady_clock;

namespace {

struct Picture {
    ZELPLAY_FRAME_INFO info;
    std::vector<uint8_t> data;
    Clock::time_point at;
};

// Collects what the decode callback receives.
struct Collector {
    std::mutex lock;
    std::vector<Picture> pictures;  // guarded by lock
    std::vector<Picture> audio;     // guarded by lock
    bool keepData = true;

    static void callback(ZELPLAY_PORT, const uint8_t* data, int32_t size,
                         const ZELPLAY_FRAME_INFO* info, ZELPLAY_USER user) {
        auto* self = reinterpret_cast<Collector*>(user);
        Picture p{*info, {}, Clock::now()};
        if (self->keepData || info->type != ZELPLAY_FRAME_TYPE_YV12)
            p.data.assign(data, data + size);
        std::lock_guard l(self->lock);
        (info->type == ZELPLAY_FRAME_TYPE_YV12 ? self->pictures : self->audio)
            .push_back(std::move(p));
    }
    size_t count() {
        std::lock_guard l(lock);
        return pictures.size();
    }
    ZELPLAY_USER user() { return reinterpret_cast<ZELPLAY_USER>(this); }
};

struct Port {
    ZELPLAY_PORT port = 0;
    Port(int mode, uint32_t bufferBytes = 8 << 20) {
        EXPECT_EQ(ZelPlay_GetPort(&port), 1);
        EXPECT_EQ(ZelPlay_SetPlayMode(port, mode), 1);
        EXPECT_EQ(ZelPlay_OpenStream(port, bufferBytes), 1);
    }
    ~Port() { EXPECT_EQ(ZelPlay_FreePort(port), 1); }
    int32_t feed(const std::vector<uint8_t>& rec) {
        return ZelPlay_InputVideoData(port, rec.data(), static_cast<uint32_t>(rec.size()));
    }
};

// FFmpeg's own decode of the same stream, as planar Y, V, U pictures.
std::vector<std::vector<uint8_t>> referencePictures(const std::string& folder,
                                                    const std::vector<AccessUnit>& units, int width,
                                                    int height) {
    const std::string in = folder + "/ref.h264", out = folder + "/ref.yuv";
    {
        std::ofstream f(in, std::ios::binary);
        for (const auto& u : units)
            f.write(reinterpret_cast<const char*>(u.bytes.data()), u.bytes.size());
    }
    EXPECT_EQ(
        testsupport::runCommand({"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-y",
                                 "-i", in, "-f", "rawvideo", "-pix_fmt", "yuv420p", out},
                                60000),
        0);
    std::ifstream f(out, std::ios::binary);
    std::vector<uint8_t> all((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const size_t luma = static_cast<size_t>(width) * height, frame = luma * 3 / 2;
    std::vector<std::vector<uint8_t>> pics;
    for (size_t at = 0; at + frame <= all.size(); at += frame) {
        std::vector<uint8_t> p(all.begin() + at, all.begin() + at + luma);
        const uint8_t* u = all.data() + at + luma;
        const uint8_t* v = u + luma / 4;
        p.insert(p.end(), v, v + luma / 4);
        p.insert(p.end(), u, u + luma / 4);
        pics.push_back(std::move(p));
    }
    return pics;
}

}  // namespace

class RealTimeDecode : public testing::TestWithParam<std::pair<int, int>> {};

TEST_P(RealTimeDecode, EveryPictureAtItsSizeMatchesFfmpeg) {
    const auto [width, height] = GetParam();
    testsupport::TempDir dir;
    const auto units = enginetest::makeH264(dir.path().string(), width, height, 12, 5);
    ASSERT_EQ(units.size(), 12u);
    ASSERT_TRUE(units[0].key && units[0].startsWithSps && units[5].startsWithSps);
    Port p(0);
    Collector got;
    ASSERT_EQ(ZelPlay_SetDecCallBack(p.port, Collector::callback, got.user()), 1);
    ASSERT_EQ(ZelPlay_Play(p.port, 0), 1);
    for (uint32_t i = 0; i < units.size(); ++i) {
        EXPECT_EQ(p.feed(enginetest::recordForUnit(units[i], i)), 1) << "unit " << i;
        EXPECT_EQ(ZelPlay_GetLastError(p.port), 0u);
    }
    EXPECT_EQ(ZelPlay_GetPlayedTime(p.port), 40u * 11);
    int32_t w = 0, h = 0;
    EXPECT_EQ(ZelPlay_GetPictureSize(p.port, &w, &h), 1);
    EXPECT_EQ(w, width);
    EXPECT_EQ(h, height);
    const auto reference = referencePictures(dir.path().string(), units, width, height);
    ASSERT_EQ(got.pictures.size(), units.size());
    ASSERT_EQ(reference.size(), units.size());
    for (size_t i = 0; i < units.size(); ++i) {
        const Picture& pic = got.pictures[i];
        EXPECT_EQ(pic.info.width, width);
        EXPECT_EQ(pic.info.height, height);
        EXPECT_EQ(pic.info.timeStamp, static_cast<int32_t>(1000 + 40 * i));
        EXPECT_EQ(pic.info.type, 11);
        EXPECT_EQ(pic.info.frameRate, 25);
        ASSERT_EQ(pic.data.size(), static_cast<size_t>(width * height * 3 / 2));
        EXPECT_TRUE(pic.data == reference[i]) << "picture " << i << " differs from FFmpeg's decode";
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, RealTimeDecode,
                         testing::Values(std::make_pair(176, 144), std::make_pair(352, 288),
                                         std::make_pair(640, 360), std::make_pair(640, 480),
                                         std::make_pair(1280, 720)));

// 1080 and 360 lines are coded as 68 and 23 macroblock rows; the pictures come out at
// their own size, without the rows of padding below them.
TEST(RealTimeDecodeEdges, CroppedSizesComeOutWithOneDecoder) {
    for (const auto& [width, height] : {std::make_pair(1920, 1080), std::make_pair(640, 360)}) {
        testsupport::TempDir dir;
        const auto units = enginetest::makeH264(dir.path().string(), width, height, 6, 3);
        ASSERT_EQ(units.size(), 6u);
        Port p(0);
        Collector got;
        ZelPlay_SetDecCallBack(p.port, Collector::callback, got.user());
        ASSERT_EQ(ZelPlay_Play(p.port, 0), 1);
        for (uint32_t i = 0; i < units.size(); ++i)
            EXPECT_EQ(p.feed(enginetest::recordForUnit(units[i], i)), 1);
        int32_t w = 0, h = 0;
        EXPECT_EQ(ZelPlay_GetPictureSize(p.port, &w, &h), 1);
        EXPECT_EQ(w, width);
        EXPECT_EQ(h, height);
        const auto reference = referencePictures(dir.path().string(), units, width, height);
        ASSERT_EQ(got.pictures.size(), 6u);
        ASSERT_EQ(reference.size(), 6u);
        for (size_t i = 0; i < got.pictures.size(); ++i) {
            EXPECT_EQ(got.pictures[i].info.width, width);
            EXPECT_EQ(got.pictures[i].info.height, height);
            EXPECT_TRUE(got.pictures[i].data == reference[i]) << width << "x" << height << " " << i;
        }
        // The type-3 key frames announce the coded size (1088, 368 lines), which the
        // decoder made for the first one already takes: created once.
        EXPECT_EQ(zelplay::PortTable::instance().find(p.port)->decoderCreations(), 1u);
    }
}

// A key frame whose parameter set announces another size but which yields no picture
// leaves the size of the picture that is there.
TEST(RealTimeDecodeEdges, PictureSizeStaysWithThePictureWhenADecodeFails) {
    testsupport::TempDir dir;
    const auto small = enginetest::makeH264(dir.path().string(), 176, 144, 2, 2);
    const auto large = enginetest::makeH264(dir.path().string(), 1920, 1080, 1, 1);
    ASSERT_EQ(small.size(), 2u);
    ASSERT_EQ(large.size(), 1u);
    ASSERT_TRUE(large[0].startsWithSps);
    // The parameter sets of the large stream without its slice.
    std::vector<uint8_t> headersOnly = large[0].bytes;
    for (size_t i = 4; i + 4 < headersOnly.size(); ++i) {
        if (headersOnly[i] == 0 && headersOnly[i + 1] == 0 && headersOnly[i + 2] == 1 &&
            (headersOnly[i + 3] & 0x1F) == 5) {
            headersOnly.resize(headersOnly[i - 1] == 0 ? i - 1 : i);
            break;
        }
    }
    ASSERT_LT(headersOnly.size(), large[0].bytes.size());
    Port p(0);
    ASSERT_EQ(ZelPlay_Play(p.port, 0), 1);
    ASSERT_EQ(p.feed(enginetest::recordForUnit(small[0], 0)), 1);
    enginetest::RecordFields f;
    f.sequence = 2;
    f.timeStamp = 2000;
    f.frameType = 3;
    EXPECT_EQ(p.feed(enginetest::makeRecord(f, headersOnly)), 0);
    EXPECT_EQ(ZelPlay_GetLastError(p.port), 10u);
    int32_t w = 0, h = 0;
    EXPECT_EQ(ZelPlay_GetPictureSize(p.port, &w, &h), 1);
    EXPECT_EQ(w, 176);
    EXPECT_EQ(h, 144);
    const std::string bmp = (dir.path() / "after_failure.bmp").string();
    ASSERT_EQ(ZelPlay_GetBMP(p.port, bmp.c_str()), 1);
    EXPECT_EQ(std::filesystem::file_size(bmp), 54u + 176 * 144 * 3);
}

TEST(RealTimeDecodeEdges, PicturesLargerThan1080GrowTheBuffer) {
    testsupport::TempDir dir;
    const auto units = enginetest::makeH264(dir.path().string(), 3840, 2160, 2, 2);
    ASSERT_EQ(units.size(), 2u);
    Port p(0);
    Collector got;
    ZelPlay_SetDecCallBack(p.port, Collector::callback, got.user());
    ASSERT_EQ(ZelPlay_Play(p.port, 0), 1);
    for (uint32_t i = 0; i < units.size(); ++i)
        EXPECT_EQ(p.feed(enginetest::recordForUnit(units[i], i)), 1);
    const auto reference = referencePictures(dir.path().string(), units, 3840, 2160);
    ASSERT_EQ(got.pictures.size(), 2u);
    ASSERT_EQ(reference.size(), 2u);
    EXPECT_EQ(got.pictures[1].info.width, 3840);
    EXPECT_EQ(got.pictures[1].info.height, 2160);
    EXPECT_TRUE(got.pictures[1].data == reference[1]);
}

TEST(RealTimeDecodeEdges, SequenceGapWaitsForTheNextKeyFrame) {
    testsupport::TempDir dir;
    const auto units = enginetest::makeH264(dir.path().string(), 176, 144, 20, 10);
    ASSERT_EQ(units.size(), 20u);
    Port p(0);
    Collector got;
    got.keepData = false;
    ZelPlay_SetDecCallBack(p.port, Collector::callback, got.user());
    ASSERT_EQ(ZelPlay_Play(p.port, 0), 1);
    for (uint32_t i = 0; i < 5; ++i)
        ASSERT_EQ(p.feed(enginetest::recordForUnit(units[i], i)), 1);
    // Sequence 7 after 5, then every non-key frame until the key frame at index 10.
    for (uint32_t i = 6; i < 10; ++i) {
        EXPECT_EQ(p.feed(enginetest::recordForUnit(units[i], i)), 0) << i;
        EXPECT_EQ(ZelPlay_GetLastError(p.port), 10u);
    }
    for (uint32_t i = 10; i < 20; ++i)
        EXPECT_EQ(p.feed(enginetest::recordForUnit(units[i], i)), 1) << i;
    EXPECT_EQ(got.count(), 15u);
}

TEST(RealTimeDecodeEdges, StopClearsTheDecodeCallback) {
    testsupport::TempDir dir;
    const auto units = enginetest::makeH264(dir.path().string(), 176, 144, 2, 1);
    Port p(0);
    Collector got;
    ZelPlay_SetDecCallBack(p.port, Collector::callback, got.user());
    ASSERT_EQ(ZelPlay_Play(p.port, 0), 1);
    ASSERT_EQ(p.feed(enginetest::recordForUnit(units[0], 0)), 1);
    ASSERT_EQ(ZelPlay_Stop(p.port), 1);
    ASSERT_EQ(ZelPlay_Play(p.port, 0), 1);
    ASSERT_EQ(p.feed(enginetest::recordForUnit(units[1], 1)), 1);
    EXPECT_EQ(got.count(), 1u);
}

TEST(PictureAdjustment, AppliedToDecodedPictures) {
    testsupport::TempDir dir;
    const auto units = enginetest::makeH264(dir.path().string(), 176, 144, 1, 1);
    ASSERT_EQ(units.size(), 1u);
    auto decodeWith = [&](int b, int c, int s, int h) {
        Port p(0);
        Collector got;
        ZelPlay_SetDecCallBack(p.port, Collector::callback, got.user());
        EXPECT_EQ(ZelPlay_SetColor(p.port, b, c, s, h), 1);
        EXPECT_EQ(ZelPlay_Play(p.port, 0), 1);
        EXPECT_EQ(p.feed(enginetest::recordForUnit(units[0], 0)), 1);
        EXPECT_EQ(got.pictures.size(), 1u);
        return got.pictures.empty() ? std::vector<uint8_t>() : got.pictures[0].data;
    };
    const size_t luma = 176 * 144, quarter = luma / 4;
    const auto plain = decodeWith(64, 64, 64, 64);
    ASSERT_EQ(plain.size(), luma * 3 / 2);
    const auto black = decodeWith(0, 64, 64, 64);
    EXPECT_TRUE(std::all_of(black.begin(), black.begin() + luma, [](uint8_t y) { return y == 0; }));
    EXPECT_TRUE(std::equal(black.begin() + luma, black.end(), plain.begin() + luma));
    const auto grey = decodeWith(64, 64, 0, 64);
    EXPECT_TRUE(std::all_of(grey.begin() + luma, grey.end(), [](uint8_t c) { return c == 128; }));
    const auto turned = decodeWith(64, 64, 64, 96);
    for (size_t i = 0; i < quarter; ++i) {
        const uint8_t v = plain[luma + i], u = plain[luma + quarter + i];
        ASSERT_EQ(turned[luma + quarter + i], v) << i;  // new u = v
        ASSERT_EQ(turned[luma + i], 255 - u) << i;      // new v = 255 - u
    }
}

namespace {

// A second buffered port served by the same scheduler thread. Every pass of the scheduler
// visits every playing buffered port, so once the witness has shown n more pictures the
// scheduler has passed over every other port at least n - 1 more times. A check that
// nothing happened on another port is thereby anchored on passes that demonstrably took
// place, not on a stretch of wall time: a slow machine only makes the witness slower.
class SchedulerWitness {
  public:
    explicit SchedulerWitness(const std::vector<AccessUnit>& units) : units_(units), port_(1) {
        shown_.keepData = false;
        ZelPlay_SetDecCallBack(port_.port, Collector::callback, shown_.user());
        ZelPlay_SetDelayTime(port_.port, 0, 0);
        EXPECT_EQ(ZelPlay_Play(port_.port, 0), 1);
    }
    // Feeds what it takes and waits until `passes` more pictures were shown.
    bool awaitPasses(size_t passes) {
        const size_t target = shown_.count() + passes;
        // Play starts once more than three frames are queued.
        for (; fed_ < units_.size() && fed_ < target + 3; ++fed_)
            if (port_.feed(enginetest::recordForUnit(units_[fed_], fed_)) != 1)
                return false;
        return testsupport::waitFor([&] { return shown_.count() >= target; }, 15000);
    }

  private:
    const std::vector<AccessUnit>& units_;
    Collector shown_;  // outlives the port, which may still have frames queued
    Port port_;
    uint32_t fed_ = 0;
};

zelplay::StreamState streamState(ZELPLAY_PORT port) {
    return zelplay::PortTable::instance().find(port)->streamState();
}

double msBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

}  // namespace

TEST(BufferedStream, WaitsForTheStartDelayThenPacesByTimeStamps) {
    testsupport::TempDir dir;
    const auto units = enginetest::makeH264(dir.path().string(), 176, 144, 100, 25);
    ASSERT_EQ(units.size(), 100u);
    Collector got;  // outlives the port, whose scheduler may still call it
    got.keepData = false;
    Port p(1);
    ZelPlay_SetDecCallBack(p.port, Collector::callback, got.user());
    ASSERT_EQ(ZelPlay_SetDelayTime(p.port, 1, 0), 1);
    ASSERT_EQ(ZelPlay_Play(p.port, 0), 1);
    // 25 frames span 960 ms: less than the one-second start delay, nothing is shown however
    // often the scheduler looks at them.
    for (uint32_t i = 0; i < 25; ++i)
        ASSERT_EQ(p.feed(enginetest::recordForUnit(units[i], i)), 1);
    {
        SchedulerWitness witness(units);
        ASSERT_TRUE(witness.awaitPasses(6));
        EXPECT_EQ(got.count(), 0u) << "shown before the start delay was queued";
    }
    // Frame 25 completes the second of delay: play starts without further input.
    const auto start = Clock::now();
    ASSERT_EQ(p.feed(enginetest::recordForUnit(units[25], 25)), 1);
    ASSERT_TRUE(testsupport::waitFor([&] { return got.count() >= 1; }, 15000));
    // The rest arrives live, 25 frames a second from the moment frame 25 came.
    std::atomic<bool> fedAll{true};
    std::thread feeder([&] {
        for (uint32_t i = 26; i < 100; ++i) {
            std::this_thread::sleep_until(start + std::chrono::milliseconds(40 * (i - 25)));
            if (p.feed(enginetest::recordForUnit(units[i], i)) != 1)
                fedAll = false;
        }
    });
    const size_t checked = 70;  // the last second drains the queue, where frames slow down
    const bool enough = testsupport::waitFor([&] { return got.count() >= checked; }, 60000, 20);
    feeder.join();
    ASSERT_TRUE(enough);
    EXPECT_TRUE(fedAll);
    std::vector<Picture> shown;
    {
        std::lock_guard l(got.lock);
        shown = got.pictures;
    }
    // Picture i is due 40 i ms after the first, and the first cannot come before the frame
    // that completed the delay: however slow the machine, none is shown before that time,
    // so the queue keeps its second of delay. (1 ms for the scheduler's whole-ms ticks.)
    for (size_t i = 0; i < checked; ++i) {
        EXPECT_EQ(shown[i].info.timeStamp, static_cast<int32_t>(1000 + 40 * i));
        EXPECT_GE(msBetween(start, shown[i].at), 40.0 * static_cast<double>(i) - 2.0)
            << "picture " << i << " shown before its time";
    }
}

TEST(BufferedStream, PauseHoldsFramesAndSingleStepShowsOne) {
    testsupport::TempDir dir;
    const auto units = enginetest::makeH264(dir.path().string(), 176, 144, 100, 25);
    ASSERT_EQ(units.size(), 100u);
    Collector got;  // outlives the port, whose scheduler may still call it
    got.keepData = false;
    Port p(1);
    ZelPlay_SetDecCallBack(p.port, Collector::callback, got.user());
    ZelPlay_SetDelayTime(p.port, 0, 0);
    ASSERT_EQ(ZelPlay_Play(p.port, 0), 1);
    // Four frames start play (depth at start 4); a few more play before the pause.
    for (uint32_t i = 0; i < 4; ++i)
        ASSERT_EQ(p.feed(enginetest::recordForUnit(units[i], i)), 1);
    ASSERT_TRUE(testsupport::waitFor([&] { return got.count() >= 1; }, 15000));
    for (uint32_t i = 4; i < 12; ++i)
        ASSERT_EQ(p.feed(enginetest::recordForUnit(units[i], i)), 1);
    ASSERT_TRUE(testsupport::waitFor([&] { return got.count() >= 6; }, 15000));

    ASSERT_EQ(ZelPlay_Pause(p.port, 1), 1);
    EXPECT_EQ(streamState(p.port), zelplay::StreamState::Paused);
    // Pictures are shown under the port's queue lock, which Pause takes: once it has returned
    // the count stays as it is until play resumes.
    const size_t paused = got.count();
    ASSERT_LE(paused, 12u);
    // The rest of the stream is queued while paused and held through several passes.
    for (uint32_t i = 12; i < 100; ++i)
        ASSERT_EQ(p.feed(enginetest::recordForUnit(units[i], i)), 1);
    SchedulerWitness witness(units);
    ASSERT_TRUE(witness.awaitPasses(6));
    EXPECT_EQ(got.count(), paused) << "pictures shown while paused";

    // The witness's own pacing took at least 200 ms, so the head frame is due by now: the
    // step shows it, and the port is paused again after it.
    ASSERT_EQ(ZelPlay_OneByOne(p.port), 1);
    ASSERT_TRUE(testsupport::waitFor([&] { return got.count() >= paused + 1; }, 15000));
    EXPECT_EQ(streamState(p.port), zelplay::StreamState::Paused);
    ASSERT_TRUE(witness.awaitPasses(6));
    EXPECT_EQ(got.count(), paused + 1) << "a single step showed more than one picture";

    ASSERT_EQ(ZelPlay_Pause(p.port, 0), 1);
    EXPECT_EQ(streamState(p.port), zelplay::StreamState::Playing);
    EXPECT_TRUE(testsupport::waitFor([&] { return got.count() >= 100; }, 30000, 20));
    EXPECT_EQ(got.count(), 100u);
    EXPECT_TRUE(testsupport::waitFor(
        [&] { return ZelPlay_GetSourceBufferRemain(p.port) == (8 << 20) - 16; }, 5000));
}

namespace {

std::mutex seiLock;
std::vector<ZELPLAY_SEI_RECORD> seiSeen;
int32_t onSei(ZELPLAY_PORT, const ZELPLAY_SEI_RECORD* r, uint32_t, ZELPLAY_USER) {
    std::lock_guard l(seiLock);
    seiSeen.push_back(*r);
    return 0;
}

}  // namespace

TEST(BufferedStream, SeiUserDataReachesItsCallback) {
    testsupport::TempDir dir;
    const auto units = enginetest::makeH264(dir.path().string(), 176, 144, 8, 4);
    ASSERT_EQ(units.size(), 8u);
    Collector got;  // outlives the port, whose scheduler may still call it
    got.keepData = false;
    Port p(1);
    ZelPlay_SetDecCallBack(p.port, Collector::callback, got.user());
    {
        std::lock_guard l(seiLock);
        seiSeen.clear();
    }
    ZelPlay_RigisterSEICallBack(p.port, onSei, 0);
    ZelPlay_SetDelayTime(p.port, 0, 0);
    ASSERT_EQ(ZelPlay_Play(p.port, 0), 1);
    const std::vector<uint8_t> sei = {0, 0, 0, 1, 6, 0xF0, 6, 'c', 'a', 'm', '0', '1', 0, 0x80};
    for (uint32_t i = 0; i < units.size(); ++i) {
        AccessUnit au = units[i];
        au.bytes.insert(au.bytes.begin(), sei.begin(), sei.end());
        au.startsWithSps = false;
        ASSERT_EQ(p.feed(enginetest::recordForUnit(au, i)), 1);
    }
    ASSERT_TRUE(testsupport::waitFor([&] { return got.count() >= 8; }, 15000));
    EXPECT_EQ(got.count(), 8u);
    std::lock_guard l(seiLock);
    ASSERT_EQ(seiSeen.size(), 8u);
    EXPECT_EQ(seiSeen[0].type, 0xFF);
    EXPECT_EQ(seiSeen[0].length, 5);
    EXPECT_EQ(std::memcmp(seiSeen[0].data, "cam01", 5), 0);
}

TEST(AudioInput, FramesDecodeToPcmWithTheirInformation) {
    Port p(0);
    Collector got;
    ZelPlay_SetDecCallBack(p.port, Collector::callback, got.user());
    ASSERT_EQ(ZelPlay_Play(p.port, 0), 1);
    // A-law voice frame: 160 payload words, 320 samples.
    std::vector<uint8_t> alaw(4 + 320, 0xD5);
    alaw[0] = 0;
    alaw[1] = 1;
    alaw[2] = 160;
    alaw[3] = 0;
    auto rec = enginetest::makeRecord({0x61, 0, 0, 1234, 0}, alaw);
    EXPECT_EQ(ZelPlay_InputAudioData(p.port, rec.data(), static_cast<uint32_t>(rec.size())), 1);
    // Unsigned 8-bit PCM.
    auto raw8 = enginetest::makeRecord({0x61, 0, 0, 1300, 0}, std::vector<uint8_t>(100, 200));
    EXPECT_EQ(ZelPlay_InputAudioData(p.port, raw8.data(), static_cast<uint32_t>(raw8.size())), 1);
    // Raw 16-bit PCM longer than the usual 1024-byte buffer is taken whole.
    auto raw16 = enginetest::makeRecord({0x61, 0, 0, 1400, 0}, std::vector<uint8_t>(1280, 7));
    EXPECT_EQ(ZelPlay_InputAudioData(p.port, raw16.data(), static_cast<uint32_t>(raw16.size())), 1);
    // A voice frame that claims more payload than it has fails with 11.
    std::vector<uint8_t> broken = {0, 1, 160, 0, 1, 2};
    auto bad = enginetest::makeRecord({0x61, 0, 0, 1500, 0}, broken);
    EXPECT_EQ(ZelPlay_InputAudioData(p.port, bad.data(), static_cast<uint32_t>(bad.size())), 0);
    EXPECT_EQ(ZelPlay_GetLastError(p.port), 11u);
    ASSERT_EQ(got.audio.size(), 3u);
    EXPECT_EQ(got.audio[0].data.size(), 640u);
    EXPECT_EQ(got.audio[0].info.type, 2);
    EXPECT_EQ(got.audio[0].info.timeStamp, 1234);
    EXPECT_EQ(got.audio[0].info.frameRate, 16 * 1000 / 640);
    EXPECT_EQ(got.audio[1].info.type, 1);
    EXPECT_EQ(got.audio[1].info.frameRate, 8 * 1000 / 100);
    EXPECT_EQ(got.audio[1].data[0], 200 - 128);
    EXPECT_EQ(got.audio[2].data.size(), 1280u);
}

TEST(AudioInput, BufferedAudioIsDroppedAwayFromNormalSpeed) {
    Port p(1);
    Collector got;
    ZelPlay_SetDecCallBack(p.port, Collector::callback, got.user());
    ASSERT_EQ(ZelPlay_Play(p.port, 0), 1);
    auto raw8 = enginetest::makeRecord({0x61, 0, 0, 100, 0}, std::vector<uint8_t>(100, 1));
    EXPECT_EQ(ZelPlay_InputAudioData(p.port, raw8.data(), static_cast<uint32_t>(raw8.size())), 1);
    ASSERT_EQ(ZelPlay_Fast(p.port), 1);
    EXPECT_EQ(ZelPlay_InputAudioData(p.port, raw8.data(), static_cast<uint32_t>(raw8.size())), 1);
    EXPECT_EQ(got.audio.size(), 1u);
}
