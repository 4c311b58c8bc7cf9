// Records and AVI files played to their end on the file threads: every picture reaches the
// decode callback in order, the end message reaches its window, and the facts agree with
// the record reader and ffprobe.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "file_media.h"
#include "port_table.h"
#include "support/media.h"
#include "support/process.h"
#include "support/wait.h"
#include "zelplay.h"

using filetest::Collector;
using filetest::EndWindow;
using filetest::FilePort;
using filetest::RecordRecipe;

namespace {

constexpr uint32_t kEndMessage = 0x464;  // any number: it travels as the message type

// Plays the open port to its end at speed 16 (or 1); returns the port the end message named.
ZELPLAY_PORT playToEnd(FilePort& p, Collector& got, EndWindow& window, bool fast, int timeoutMs) {
    EXPECT_EQ(ZelPlay_SetFileEndMsg(p.port, window.id(), kEndMessage), 1);
    EXPECT_EQ(ZelPlay_SetDecCallBack(p.port, Collector::callback, got.user()), 1);
    EXPECT_EQ(ZelPlay_Play(p.port, 0), 1);
    for (int i = 0; fast && i < 4; ++i)
        EXPECT_EQ(ZelPlay_Fast(p.port), 1);
    return window.waitForEnd(kEndMessage, timeoutMs);
}

}  // namespace

TEST(FilePlay, RecordPlaysEveryFrameInOrderAndReportsItsEnd) {
    testsupport::TempDir dir;
    RecordRecipe recipe;
    recipe.seconds = 3;
    const std::string path = dir.file("clip.ifv");
    const size_t frames = filetest::makeRecord(dir.path().string(), path, recipe);
    ASSERT_EQ(frames, 75u);
    EndWindow window;
    ASSERT_TRUE(window.ok());

    FilePort p;
    ASSERT_EQ(ZelPlay_OpenFile(p.port, path.c_str()), 1);
    custommp4_t* record = custommp4_open(path.c_str(), 0, 0);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(ZelPlay_GetFileTime(p.port), custommp4_duration(record));
    EXPECT_EQ(ZelPlay_GetFileTotalFrames(p.port), custommp4_video_frames(record));
    EXPECT_EQ(ZelPlay_GetFileStartTime(p.port), recipe.startTime);
    custommp4_close(record);
    int32_t w = 0, h = 0;
    EXPECT_EQ(ZelPlay_GetPictureSize(p.port, &w, &h), 1);
    EXPECT_EQ(w, recipe.width);
    EXPECT_EQ(h, recipe.height);

    Collector got;
    EXPECT_EQ(playToEnd(p, got, window, false, 30000), p.port);
    const auto pictures = got.pictures();
    ASSERT_EQ(pictures.size(), frames);
    for (size_t i = 0; i < frames; ++i) {
        EXPECT_EQ(pictures[i].info.timeStamp, static_cast<int32_t>(filetest::videoStamp(i)));
        EXPECT_EQ(pictures[i].info.width, recipe.width);
        EXPECT_EQ(pictures[i].info.type, ZELPLAY_FRAME_TYPE_YV12);
        EXPECT_EQ(pictures[i].info.frameRate, 25);  // 75 frames * 1000 / 2960 ms
    }
    // At the end: no position, duration 0, every frame counted; the open stays.
    EXPECT_EQ(ZelPlay_GetFileTime(p.port), 0u);
    EXPECT_EQ(ZelPlay_GetPlayedFrames(p.port), frames);
    EXPECT_EQ(ZelPlay_GetPlayPos(p.port), 0.0f);
    EXPECT_EQ(ZelPlay_GetLastError(p.port), static_cast<uint32_t>(ZELPLAY_ERR_NO_POSITION));
    EXPECT_EQ(ZelPlay_GetPlayedTime(p.port), filetest::videoStamp(frames - 1));
    // Stop posts no second message for the same play; a new play posts its own.
    EXPECT_EQ(ZelPlay_Stop(p.port), 1);
    EXPECT_EQ(window.countEnds(kEndMessage, 300), 0);
    EXPECT_EQ(ZelPlay_Play(p.port, 0), 1);
    EXPECT_EQ(ZelPlay_Stop(p.port), 1);
    EXPECT_EQ(window.waitForEnd(kEndMessage, 10000), p.port);
}

class AviPlay : public testing::TestWithParam<std::pair<std::string, bool>> {};

TEST_P(AviPlay, PlaysEveryFrameInOrderAndItsFactsMatchFfprobe) {
    const auto [codec, keepIndex] = GetParam();
    testsupport::TempDir dir;
    const std::string path = dir.file("clip.avi");
    ASSERT_TRUE(filetest::makeAvi(path, 3, codec));
    if (!keepIndex) {
        ASSERT_TRUE(filetest::stripAviIndex(path));
    }
    const filetest::ProbeFacts probe = filetest::probe(path);
    ASSERT_EQ(probe.frames, 75);

    int32_t w = 0, h = 0;
    uint32_t start = 9, count = 0, duration = 0, bitRate = 0;
    double rate = 0;
    uint8_t hasAudio = 9;
    ASSERT_EQ(ZelPlay_GetMediaInfo(path.c_str(), &w, &h, &start, &count, &rate, &duration, &bitRate,
                                   &hasAudio, 0),
              1);
    EXPECT_EQ(w, probe.width);
    EXPECT_EQ(h, probe.height);
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(count, static_cast<uint32_t>(probe.frames));
    EXPECT_DOUBLE_EQ(rate, 25.0);
    EXPECT_NEAR(duration, probe.durationS * 1000, 1.0);
    EXPECT_EQ(hasAudio, codec.empty() ? 0 : 1);
    EXPECT_EQ(hasAudio != 0, probe.hasAudio);
    EXPECT_GT(bitRate, 0u);

    EndWindow window;
    ASSERT_TRUE(window.ok());
    FilePort p;
    ASSERT_EQ(ZelPlay_OpenFile(p.port, path.c_str()), 1);
    EXPECT_EQ(ZelPlay_GetFileTime(p.port), duration);
    EXPECT_EQ(ZelPlay_GetFileTotalFrames(p.port), count);
    EXPECT_EQ(ZelPlay_GetPictureSize(p.port, &w, &h), 0);  // no record to ask
    // The port is heard, so the audio thread plays the track rather than following.
    ASSERT_EQ(ZelPlay_PlaySound(p.port, 16, 8000), 1);
    Collector got;
    EXPECT_EQ(playToEnd(p, got, window, false, 30000), p.port);
    EXPECT_EQ(ZelPlay_StopSound(), 1);
    const auto pictures = got.pictures();
    ASSERT_EQ(pictures.size(), static_cast<size_t>(probe.frames));
    for (size_t i = 0; i < pictures.size(); ++i)
        EXPECT_EQ(pictures[i].info.timeStamp, static_cast<int32_t>(i * 40)) << i;
    const auto audio = got.audio();
    if (codec.empty()) {
        EXPECT_TRUE(audio.empty());
    } else {
        ASSERT_FALSE(audio.empty());
        EXPECT_EQ(audio.front().info.type, ZELPLAY_FRAME_TYPE_PCM16);
    }
}

INSTANTIATE_TEST_SUITE_P(Sound, AviPlay,
                         testing::Values(std::make_pair(std::string("pcm_s16le"), true),
                                         std::make_pair(std::string("pcm_alaw"), true),
                                         std::make_pair(std::string("pcm_alaw"), false),
                                         std::make_pair(std::string(), true)));

TEST(FilePlay, OpenDmlAviOverOneGigabytePlaysItsLastPartToTheEnd) {
    // Random pixels coded losslessly, stream-copied past 1 GiB: OpenDML indexes and a
    // second RIFF. Play starts at 90 % to keep the test short and ends in the AVIX part.
    testsupport::TempDir dir;
    const std::string clip = dir.file("clip.avi"), file = dir.file("big.avi");
    ASSERT_TRUE(testsupport::runCommand(
                    {"ffmpeg",    "-hide_banner",
                     "-loglevel", "error",
                     "-nostdin",  "-y",
                     "-f",        "lavfi",
                     "-i",        "nullsrc=s=1280x720:r=25,geq=lum='random(1)*255':cb=128:cr=128",
                     "-t",        "2",
                     "-c:v",      "libx264",
                     "-preset",   "ultrafast",
                     "-qp",       "0",
                     "-pix_fmt",  "yuv420p",
                     "-f",        "avi",
                     clip},
                    300000) == 0);
    const auto clipSize = static_cast<long>(std::filesystem::file_size(clip));
    const int loops = static_cast<int>((1100L << 20) / clipSize) + 1;
    ASSERT_EQ(testsupport::runCommand(
                  {"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-y", "-stream_loop",
                   std::to_string(loops), "-i", clip, "-c", "copy", "-f", "avi", file},
                  600000),
              0);
    std::filesystem::remove(clip);
    ASSERT_GT(std::filesystem::file_size(file), 1ull << 30);
    const long frames = filetest::probe(file).frames;
    ASSERT_EQ(frames, 50L * (loops + 1));

    EndWindow window;
    ASSERT_TRUE(window.ok());
    FilePort p;
    ASSERT_EQ(ZelPlay_OpenFile(p.port, file.c_str()), 1);
    ASSERT_EQ(ZelPlay_GetFileTotalFrames(p.port), static_cast<uint32_t>(frames));
    const uint32_t duration = ZelPlay_GetFileTime(p.port);
    Collector got;
    ASSERT_EQ(ZelPlay_SetFileEndMsg(p.port, window.id(), kEndMessage), 1);
    ASSERT_EQ(ZelPlay_SetDecCallBack(p.port, Collector::callback, got.user()), 1);
    ASSERT_EQ(ZelPlay_Pause(p.port, 1), 0);  // not playing yet
    ASSERT_EQ(ZelPlay_Play(p.port, 0), 1);
    ASSERT_EQ(ZelPlay_SetPlayPos(p.port, 0.9f), 1);
    for (int i = 0; i < 4; ++i)
        ZelPlay_Fast(p.port);
    EXPECT_EQ(window.waitForEnd(kEndMessage, 240000), p.port);
    // From the key frame the seek found, every frame to the last, each 40 ms after the one
    // before (an index apart).
    auto pictures = got.pictures();
    const auto landed = std::find_if(pictures.begin(), pictures.end(), [&](const auto& pic) {
        return pic.info.timeStamp >= static_cast<int32_t>(duration * 0.85);
    });
    ASSERT_NE(landed, pictures.end());
    for (auto it = landed + 1; it != pictures.end(); ++it)
        ASSERT_NEAR(it->info.timeStamp - (it - 1)->info.timeStamp, 40, 1);
    EXPECT_NEAR(pictures.back().info.timeStamp, (frames - 1) * 40.0, 1.0);
    EXPECT_EQ(pictures.back().info.width, 1280);
}

TEST(FilePlay, SoundStaysWithinTwoSecondsOfThePicturesOverAMinute) {
    testsupport::TempDir dir;
    RecordRecipe recipe;
    recipe.seconds = 60;
    recipe.width = 128;
    recipe.height = 96;
    recipe.gop = 50;
    const std::string path = dir.file("minute.ifv");
    ASSERT_EQ(filetest::makeRecord(dir.path().string(), path, recipe), 1500u);
    EndWindow window;
    ASSERT_TRUE(window.ok());
    FilePort p;
    ASSERT_EQ(ZelPlay_OpenFile(p.port, path.c_str()), 1);
    ASSERT_EQ(ZelPlay_PlaySound(p.port, 16, 8000), 1);
    Collector got;
    EXPECT_EQ(playToEnd(p, got, window, false, 180000), p.port);
    EXPECT_EQ(ZelPlay_StopSound(), 1);
    const auto pairs = got.audioAgainstVideo();
    ASSERT_GT(pairs.size(), 1000u);
    int32_t worst = 0;
    for (const auto& [audio, video] : pairs) {
        if (video > 0)
            worst = std::max(worst, std::abs(audio - video));
    }
    // Two seconds is the resynchronising threshold; the check runs every three seconds.
    EXPECT_LE(worst, 3000) << "sound and pictures drifted apart";
    const auto audio = got.audio();
    EXPECT_EQ(audio.front().info.type, ZELPLAY_FRAME_TYPE_PCM16);
    EXPECT_EQ(audio.front().info.frameRate, 16 * 1000 / 640);
}

TEST(FilePlay, RecordInsideALargerFileReportsItsOwnSizeAndStartsWhereAsked) {
    // Record A (176 x 144 declared) at offset 0, record B (160 x 120) at 1 MiB behind it.
    testsupport::TempDir dir;
    const std::string path = dir.file("volume.ifv");
    RecordRecipe a;
    a.width = 176;
    a.height = 144;
    a.seconds = 1;
    a.audio = false;
    ASSERT_EQ(filetest::makeRecord(dir.path().string(), path, a), 25u);
    std::filesystem::resize_file(path, 1u << 20);
    RecordRecipe b;
    b.seconds = 10;
    b.baseOffset = 1u << 20;
    b.startTime = 1700000100;
    ASSERT_EQ(filetest::makeRecord(dir.path().string(), path, b), 250u);

    FilePort p;
    // Six seconds after the record's start.
    ASSERT_EQ(ZelPlay_OpenFileEx(p.port, path.c_str(), b.baseOffset, b.startTime + 6), 1);
    int32_t w = 0, h = 0;
    EXPECT_EQ(ZelPlay_GetPictureSize(p.port, &w, &h), 1);
    EXPECT_EQ(w, b.width);
    EXPECT_EQ(h, b.height);
    EXPECT_EQ(ZelPlay_GetFileTotalFrames(p.port), 250u);
    EXPECT_EQ(ZelPlay_GetFileStartTime(p.port), b.startTime);
    char stored[ZELPLAY_PATH_MAX] = {};
    uint32_t offset = 0;
    EXPECT_EQ(ZelPlay_GetPlayInfo(p.port, stored, &offset), 1);
    EXPECT_EQ(std::string(stored), path);
    EXPECT_EQ(offset, b.baseOffset);

    Collector got;
    ASSERT_EQ(ZelPlay_SetDecCallBack(p.port, Collector::callback, got.user()), 1);
    ASSERT_EQ(ZelPlay_Play(p.port, 0), 1);
    ASSERT_TRUE(testsupport::waitFor([&] { return got.pictureCount() > 0; }, 20000));
    const int32_t first = got.pictures().front().info.timeStamp;
    EXPECT_LE(first, 6000);
    EXPECT_GE(first, 6000 - 1600);
    EXPECT_EQ(first % 1000, 0) << "play begins on a key frame";
    EXPECT_EQ(ZelPlay_Stop(p.port), 1);

    // The media facts of both records in the file.
    uint32_t start = 0, count = 9, duration = 0, bitRate = 0;
    double rate = 0;
    uint8_t hasAudio = 0;
    ASSERT_EQ(ZelPlay_GetMediaInfo(path.c_str(), &w, &h, &start, &count, &rate, &duration, &bitRate,
                                   &hasAudio, b.baseOffset),
              1);
    EXPECT_EQ(w, b.width);
    EXPECT_EQ(start, b.startTime);
    EXPECT_EQ(count, 0u);  // records report no frame count here
    EXPECT_DOUBLE_EQ(rate, 25.0);
    EXPECT_EQ(duration, 9960u);
    EXPECT_EQ(hasAudio, 1);
    EXPECT_GT(bitRate, 0u);
    ASSERT_EQ(ZelPlay_GetMediaInfo(path.c_str(), &w, &h, &start, &count, &rate, &duration, &bitRate,
                                   &hasAudio, 0),
              1);
    EXPECT_EQ(w, a.width);
    EXPECT_EQ(hasAudio, 0);
}
