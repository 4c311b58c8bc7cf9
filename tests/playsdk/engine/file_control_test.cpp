// Controlling file play: speed, pause, single step and seek; the codes of the file calls;
// stopping within its bound (also with a read stalled on a FIFO); and repeated play leaving
// nothing behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <limits>
#include <thread>

#include "file_media.h"
#include "port_table.h"
#include "support/media.h"
#include "support/process.h"
#include "support/wait.h"
#include "zelplay.h"

using filetest::Collector;
using filetest::FilePort;
using filetest::RecordRecipe;
using Clock = std::chrono::steady_clock;

namespace {

double secondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// One 10-second record (no sound) per test program.
const std::string& tenSecondRecord() {
    static testsupport::TempDir dir;
    static std::string path = [] {
        RecordRecipe recipe;
        recipe.seconds = 10;
        recipe.audio = false;
        const std::string p = dir.file("ten.ifv");
        return filetest::makeRecord(dir.path().string(), p, recipe) == 250 ? p : std::string();
    }();
    return path;
}

// How long the pictures of a whole play take, from the first to the last, with speed steps
// applied right after Play.
double playSeconds(int fast, int slow) {
    FilePort p;
    EXPECT_EQ(ZelPlay_OpenFile(p.port, tenSecondRecord().c_str()), 1);
    Collector got;
    EXPECT_EQ(ZelPlay_SetDecCallBack(p.port, Collector::callback, got.user()), 1);
    EXPECT_EQ(ZelPlay_Play(p.port, 0), 1);
    for (int i = 0; i < fast; ++i)
        EXPECT_EQ(ZelPlay_Fast(p.port), 1);
    for (int i = 0; i < slow; ++i)
        EXPECT_EQ(ZelPlay_Slow(p.port), 1);
    EXPECT_TRUE(testsupport::waitFor([&] { return got.pictureCount() == 250; }, 120000, 20));
    const auto pictures = got.pictures();
    return std::chrono::duration<double>(pictures.back().at - pictures.front().at).count();
}

}  // namespace

TEST(FileSpeed, TenSecondsTakeAboutTenAtSpeedOne) {
    ASSERT_FALSE(tenSecondRecord().empty());
    const double s = playSeconds(0, 0);
    EXPECT_GE(s, 9.5);  // the stamps span 9.96 s
    EXPECT_LE(s, 25.0);
}

TEST(FileSpeed, FastHalvesAndSlowDoublesThePlayTime) {
    ASSERT_FALSE(tenSecondRecord().empty());
    const double fast = playSeconds(1, 0);
    EXPECT_GE(fast, 4.7);
    EXPECT_LE(fast, 15.0);
    const double slow = playSeconds(0, 1);
    EXPECT_GE(slow, 19.0);
    EXPECT_LE(slow, 50.0);
    EXPECT_GT(slow, fast * 2.5);
}

TEST(FileSpeed, PlayOnAPlayingPortGoesBackToSpeedOne) {
    FilePort p;
    ASSERT_EQ(ZelPlay_OpenFile(p.port, tenSecondRecord().c_str()), 1);
    ASSERT_EQ(ZelPlay_Play(p.port, 0), 1);
    auto* port = reinterpret_cast<zelplay::PlayPort*>(p.port);
    for (int i = 0; i < 6; ++i)
        ASSERT_EQ(ZelPlay_Fast(p.port), 1);
    EXPECT_EQ(port->filePlayer().speed(), 16.0);
    ASSERT_EQ(ZelPlay_Play(p.port, 0), 1);
    EXPECT_EQ(port->filePlayer().speed(), 1.0);
    for (int i = 0; i < 6; ++i)
        ASSERT_EQ(ZelPlay_Slow(p.port), 1);
    EXPECT_EQ(port->filePlayer().speed(), 1.0 / 16);
    // Paused, the speed stays.
    ASSERT_EQ(ZelPlay_Pause(p.port, 1), 1);
    ASSERT_EQ(ZelPlay_Fast(p.port), 1);
    EXPECT_EQ(port->filePlayer().speed(), 1.0 / 16);
}

TEST(FileControls, PauseHoldsThePositionAndOneStepShowsExactlyOneFrame) {
    FilePort p;
    ASSERT_EQ(ZelPlay_OpenFile(p.port, tenSecondRecord().c_str()), 1);
    Collector got;
    ASSERT_EQ(ZelPlay_SetDecCallBack(p.port, Collector::callback, got.user()), 1);
    ASSERT_EQ(ZelPlay_Play(p.port, 0), 1);
    ASSERT_TRUE(testsupport::waitFor([&] { return got.pictureCount() >= 10; }, 20000));
    ASSERT_EQ(ZelPlay_Pause(p.port, 1), 1);
    // The frame being shown when the pause came may still finish.
    size_t held = got.pictureCount();
    testsupport::waitFor([&] { return got.pictureCount() > held; }, 300);
    held = got.pictureCount();
    const float position = ZelPlay_GetPlayPos(p.port);
    EXPECT_FALSE(testsupport::waitFor([&] { return got.pictureCount() > held; }, 1000))
        << "pictures went on while paused";
    EXPECT_EQ(ZelPlay_GetPlayPos(p.port), position);

    for (int step = 1; step <= 3; ++step) {
        ASSERT_EQ(ZelPlay_OneByOne(p.port), 1);
        ASSERT_TRUE(testsupport::waitFor([&] { return got.pictureCount() == held + 1; }, 5000));
        EXPECT_FALSE(testsupport::waitFor([&] { return got.pictureCount() > held + 1; }, 500))
            << "step " << step << " showed more than one frame";
        const auto pictures = got.pictures();
        EXPECT_EQ(pictures.back().info.timeStamp,
                  pictures[pictures.size() - 2].info.timeStamp + 40);
        held = got.pictureCount();
    }
    ASSERT_EQ(ZelPlay_Pause(p.port, 0), 1);
    EXPECT_TRUE(testsupport::waitFor([&] { return got.pictureCount() > held + 5; }, 10000));
}

TEST(FileControls, SeekLandsOnTheKeyFrameAtOrBeforeTheTargetAndThePositionFollows) {
    FilePort p;
    ASSERT_EQ(ZelPlay_OpenFile(p.port, tenSecondRecord().c_str()), 1);
    EXPECT_EQ(ZelPlay_SetPlayPos(p.port, 0.5f), 0);
    EXPECT_EQ(ZelPlay_GetLastError(p.port), static_cast<uint32_t>(ZELPLAY_ERR_NOT_PLAYING));
    Collector got;
    ASSERT_EQ(ZelPlay_SetDecCallBack(p.port, Collector::callback, got.user()), 1);
    ASSERT_EQ(ZelPlay_Play(p.port, 0), 1);
    ASSERT_TRUE(testsupport::waitFor([&] { return got.pictureCount() >= 3; }, 20000));
    for (float bad : {-0.01f, 1.01f, std::numeric_limits<float>::quiet_NaN()}) {
        EXPECT_EQ(ZelPlay_SetPlayPos(p.port, bad), 0);
        EXPECT_EQ(ZelPlay_GetLastError(p.port), static_cast<uint32_t>(ZELPLAY_ERR_ARGUMENT));
    }

    // Paused: the frame the seek lands on is shown and play holds there.
    ASSERT_EQ(ZelPlay_Pause(p.port, 1), 1);
    size_t before = got.pictureCount();
    testsupport::waitFor([&] { return got.pictureCount() > before; }, 300);
    before = got.pictureCount();
    ASSERT_EQ(ZelPlay_SetPlayPos(p.port, 0.5f), 1);
    ASSERT_TRUE(testsupport::waitFor([&] { return got.pictureCount() == before + 1; }, 10000));
    const int32_t landed = got.pictures().back().info.timeStamp;
    EXPECT_LE(landed, 4980);  // the middle of 9 960 ms
    EXPECT_GE(landed, 4980 - 1600);
    EXPECT_EQ(landed % 1000, 0) << "a key frame";
    EXPECT_NEAR(ZelPlay_GetPlayPos(p.port), landed / 9960.0, 1e-4);
    EXPECT_FALSE(testsupport::waitFor([&] { return got.pictureCount() > before + 1; }, 500));

    // Playing: back to the start.
    ASSERT_EQ(ZelPlay_Pause(p.port, 0), 1);
    ASSERT_EQ(ZelPlay_SetPlayPos(p.port, 0.0f), 1);
    ASSERT_TRUE(testsupport::waitFor(
        [&] {
            const auto pics = got.pictures();
            return pics.back().info.timeStamp < landed;
        },
        10000));
    EXPECT_LT(ZelPlay_GetPlayPos(p.port), 0.2f);
}

TEST(FileCodes, OpeningChecksModePathKindAndFile) {
    testsupport::TempDir dir;
    FilePort p;
    ZELPLAY_PORT stream = 0;
    ASSERT_EQ(ZelPlay_GetPort(&stream), 1);
    EXPECT_EQ(ZelPlay_OpenFile(stream, tenSecondRecord().c_str()), 0);
    EXPECT_EQ(ZelPlay_GetLastError(stream), static_cast<uint32_t>(ZELPLAY_ERR_MODE));
    EXPECT_EQ(ZelPlay_OpenFileEx(stream, tenSecondRecord().c_str(), 0, 0), 0);
    EXPECT_EQ(ZelPlay_GetLastError(stream), static_cast<uint32_t>(ZELPLAY_ERR_MODE));
    EXPECT_EQ(ZelPlay_SetFileEndMsg(stream, 1, 2), 0);
    EXPECT_EQ(ZelPlay_GetLastError(stream), static_cast<uint32_t>(ZELPLAY_ERR_MODE));
    ASSERT_EQ(ZelPlay_OpenStream(stream, 0), 1);
    EXPECT_EQ(ZelPlay_GetFileTime(stream), 0u);
    EXPECT_EQ(ZelPlay_GetLastError(stream), static_cast<uint32_t>(ZELPLAY_ERR_MODE));
    EXPECT_EQ(ZelPlay_GetPlayInfo(stream, nullptr, nullptr), 0);
    EXPECT_EQ(ZelPlay_FreePort(stream), 1);

    EXPECT_EQ(ZelPlay_GetFileTotalFrames(p.port), 0u);
    EXPECT_EQ(ZelPlay_GetLastError(p.port), static_cast<uint32_t>(ZELPLAY_ERR_NOT_OPEN));
    const std::pair<const char*, uint32_t> refused[] = {
        {nullptr, ZELPLAY_ERR_ARGUMENT},
        {"/tmp/no_extension", ZELPLAY_ERR_ARGUMENT},
        {"/nonexistent/clip.ifv", ZELPLAY_ERR_FILE_OPEN},
        {"/nonexistent/clip.avi", ZELPLAY_ERR_FILE_OPEN},
    };
    for (const auto& [path, code] : refused) {
        EXPECT_EQ(ZelPlay_OpenFile(p.port, path), 0) << (path ? path : "null");
        EXPECT_EQ(ZelPlay_GetLastError(p.port), code) << (path ? path : "null");
    }
    const std::string longPath(ZELPLAY_PATH_MAX, 'a');
    EXPECT_EQ(ZelPlay_OpenFile(p.port, (longPath + ".ifv").c_str()), 0);
    EXPECT_EQ(ZelPlay_GetLastError(p.port), static_cast<uint32_t>(ZELPLAY_ERR_ARGUMENT));

    // A record without frames.
    const std::string empty = dir.file("empty.ifv");
    custommp4_t* h = custommp4_open(empty.c_str(), CUSTOMMP4_MODE_CREATE, 0);
    ASSERT_NE(h, nullptr);
    custommp4_close(h);
    EXPECT_EQ(ZelPlay_OpenFile(p.port, empty.c_str()), 0);
    EXPECT_EQ(ZelPlay_GetLastError(p.port), static_cast<uint32_t>(ZELPLAY_ERR_NO_VIDEO));
    EXPECT_EQ(ZelPlay_OpenFileEx(p.port, empty.c_str(), 0, 0), 0);
    EXPECT_EQ(ZelPlay_GetLastError(p.port), static_cast<uint32_t>(ZELPLAY_ERR_NO_VIDEO));
    // Not a record at that offset.
    EXPECT_EQ(ZelPlay_OpenFileEx(p.port, tenSecondRecord().c_str(), 100, 0), 0);
    EXPECT_EQ(ZelPlay_GetLastError(p.port), static_cast<uint32_t>(ZELPLAY_ERR_FILE_OPEN));

    // Media facts: every pointer, a '.', a known kind.
    int32_t w = 7, hgt = 7;
    uint32_t s = 7, c = 7, d = 7, b = 7;
    double r = 7;
    uint8_t a = 7;
    EXPECT_EQ(ZelPlay_GetMediaInfo("/tmp/no_extension", &w, &hgt, &s, &c, &r, &d, &b, &a, 0), 0);
    EXPECT_EQ(w, 7);  // nothing written
    EXPECT_EQ(
        ZelPlay_GetMediaInfo(tenSecondRecord().c_str(), &w, nullptr, &s, &c, &r, &d, &b, &a, 0), 0);
    EXPECT_EQ(ZelPlay_GetMediaInfo("/tmp/clip.mp4", &w, &hgt, &s, &c, &r, &d, &b, &a, 0), 0);
}

TEST(FileCodes, UnknownKindOpensAndItsPlayEndsAtOnceWithTheEndMessage) {
    testsupport::TempDir dir;
    const std::string other = dir.file("clip.mp4");
    { std::ofstream(other) << "not played"; }
    filetest::EndWindow window;
    ASSERT_TRUE(window.ok());
    FilePort p;
    ASSERT_EQ(ZelPlay_OpenFile(p.port, other.c_str()), 1);
    EXPECT_EQ(ZelPlay_GetFileTime(p.port), 0u);
    ASSERT_EQ(ZelPlay_SetFileEndMsg(p.port, window.id(), 77), 1);
    ASSERT_EQ(ZelPlay_Play(p.port, 0), 1);
    EXPECT_EQ(window.waitForEnd(77, 10000), p.port);
    EXPECT_EQ(ZelPlay_GetPlayPos(p.port), 0.0f);
    EXPECT_EQ(ZelPlay_GetLastError(p.port), static_cast<uint32_t>(ZELPLAY_ERR_NO_POSITION));
    EXPECT_EQ(ZelPlay_SetPlayPos(p.port, 0.5f), 0);
    EXPECT_EQ(ZelPlay_GetLastError(p.port), static_cast<uint32_t>(ZELPLAY_ERR_NO_POSITION));
    // A damaged AVI opens too, and ends the same way.
    const std::string broken = dir.file("broken.avi");
    { std::ofstream(broken) << "RIFF but not really"; }
    ASSERT_EQ(ZelPlay_OpenFile(p.port, broken.c_str()), 1);
    ASSERT_EQ(ZelPlay_Play(p.port, 0), 1);
    EXPECT_EQ(window.waitForEnd(77, 10000), p.port);
}

TEST(FileStop, ReturnsPromptlyWhilePausedAndDuringASeek) {
    FilePort p;
    ASSERT_EQ(ZelPlay_OpenFile(p.port, tenSecondRecord().c_str()), 1);
    for (int round = 0; round < 2; ++round) {
        Collector got;
        ASSERT_EQ(ZelPlay_SetDecCallBack(p.port, Collector::callback, got.user()), 1);
        ASSERT_EQ(ZelPlay_Play(p.port, 0), 1);
        ASSERT_TRUE(testsupport::waitFor([&] { return got.pictureCount() > 0; }, 20000));
        if (round == 0) {
            ASSERT_EQ(ZelPlay_Pause(p.port, 1), 1);
        } else {
            for (int i = 0; i < 4; ++i)
                ZelPlay_Slow(p.port);  // long waits between frames
            ASSERT_EQ(ZelPlay_SetPlayPos(p.port, 0.7f), 1);
        }
        const auto t = Clock::now();
        ASSERT_EQ(ZelPlay_Stop(p.port), 1);
        EXPECT_LT(secondsSince(t), 1.5) << "round " << round;
        const size_t after = got.pictureCount();
        EXPECT_FALSE(testsupport::waitFor([&] { return got.pictureCount() > after; }, 200));
    }
}

TEST(FileOpen, WhatIsNotARegularFileIsRefusedAtOnce) {
    // A FIFO without a writer, a folder, a device: the library never waits in an open.
    testsupport::TempDir dir;
    RecordRecipe recipe;
    recipe.seconds = 1;
    recipe.audio = false;
    const std::string real = dir.file("real.ifv"), fifo = dir.file("fifo.ifv"),
                      fifoAvi = dir.file("fifo.avi"), folder = dir.file("folder.ifv");
    ASSERT_EQ(filetest::makeRecord(dir.path().string(), real, recipe), 25u);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(fifoAvi.c_str(), 0600), 0);
    ASSERT_TRUE(std::filesystem::create_directory(folder));
    FilePort p;
    for (const std::string& path : {fifo, fifoAvi, folder}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(ZelPlay_OpenFile(p.port, path.c_str()), 0);
        EXPECT_EQ(ZelPlay_GetLastError(p.port), 3u);
        int32_t w = 0, h = 0;
        uint32_t start = 0, frames = 0, duration = 0, rate = 0;
        double fps = 0;
        uint8_t audio = 0;
        EXPECT_EQ(ZelPlay_GetMediaInfo(path.c_str(), &w, &h, &start, &frames, &fps, &duration,
                                       &rate, &audio, 0),
                  0);
    }
    EXPECT_EQ(ZelPlay_OpenFileEx(p.port, fifo.c_str(), 0, 0), 0);
    EXPECT_EQ(ZelPlay_GetLastError(p.port), 3u);
    EXPECT_EQ(custommp4_open("/dev/zero", CUSTOMMP4_MODE_READ, 0), nullptr);
    EXPECT_EQ(avi_reader_open("/dev/zero", 1), nullptr);

    // A record that turns into a FIFO after it was opened: the video thread's own open is
    // refused at once, and Stop has nothing to wait for.
    const std::string path = dir.file("turns.ifv");
    std::filesystem::copy_file(real, path);
    ASSERT_EQ(ZelPlay_OpenFile(p.port, path.c_str()), 1);
    std::filesystem::remove(path);
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    ASSERT_EQ(ZelPlay_Play(p.port, 0), 1);
    ASSERT_TRUE(testsupport::waitFor([&] { return ZelPlay_GetFileTime(p.port) == 0; }, 10000))
        << "play ends at once";
    ASSERT_EQ(ZelPlay_Stop(p.port), 1);

    // Snapshots go to a regular file or a new one only.
    ASSERT_EQ(ZelPlay_OpenFile(p.port, real.c_str()), 1);
    Collector got;
    ASSERT_EQ(ZelPlay_SetDecCallBack(p.port, Collector::callback, got.user()), 1);
    ASSERT_EQ(ZelPlay_Play(p.port, 0), 1);
    ASSERT_TRUE(testsupport::waitFor([&] { return got.pictureCount() > 0; }, 20000));
    const std::string shotFifo = dir.file("shot.bmp"), jpegFifo = dir.file("shot.jpg");
    ASSERT_EQ(mkfifo(shotFifo.c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(jpegFifo.c_str(), 0600), 0);
    EXPECT_EQ(ZelPlay_GetBMP(p.port, shotFifo.c_str()), 0);
    EXPECT_EQ(ZelPlay_GetLastError(p.port), 14u);
    EXPECT_EQ(ZelPlay_GetJPG(p.port, jpegFifo.c_str(), 80), 0);
    EXPECT_EQ(ZelPlay_GetLastError(p.port), 14u);
    EXPECT_EQ(ZelPlay_GetBMP(p.port, "/dev/null"), 0);
    EXPECT_EQ(ZelPlay_GetLastError(p.port), 14u);
    EXPECT_EQ(ZelPlay_GetJPG(p.port, dir.file("new.jpg").c_str(), 80), 1);
    EXPECT_EQ(ZelPlay_GetBMP(p.port, dir.file("new.bmp").c_str()), 1);
    EXPECT_EQ(ZelPlay_Stop(p.port), 1);
}

TEST(FileStop, TwoHundredPlaysLeaveNoThreadDescriptorOrMemoryBehind) {
    testsupport::TempDir dir;
    RecordRecipe recipe;
    recipe.seconds = 2;
    const std::string withSound = dir.file("sound.ifv"), avi = dir.file("clip.avi");
    ASSERT_EQ(filetest::makeRecord(dir.path().string(), withSound, recipe), 50u);
    ASSERT_TRUE(filetest::makeAvi(avi, 1, "pcm_alaw"));
    FilePort p;
    ASSERT_EQ(ZelPlay_PlaySound(p.port, 16, 8000), 1);
    auto cycle = [&](int i) {
        const std::string& path = i % 2 ? withSound : avi;
        ASSERT_EQ(ZelPlay_OpenFile(p.port, path.c_str()), 1);
        Collector got;
        ASSERT_EQ(ZelPlay_SetDecCallBack(p.port, Collector::callback, got.user()), 1);
        ASSERT_EQ(ZelPlay_Play(p.port, 0), 1);
        if (i % 3 == 0) {
            ASSERT_TRUE(testsupport::waitFor([&] { return got.pictureCount() > 0; }, 20000));
        }
        ASSERT_EQ(ZelPlay_Stop(p.port), 1);
        ASSERT_EQ(ZelPlay_Close(p.port), 1);
    };
    for (int i = 0; i < 10; ++i)
        cycle(i);  // warm-up: decoder, sound output, reader buffers
    const int threads = testsupport::threadCount();
    const int fds = testsupport::openFdCount();
    const long rss = testsupport::residentKiB();
    for (int i = 0; i < 200; ++i)
        cycle(i);
    // Counted while the sound device is still open, as it was at the first count.
    EXPECT_EQ(testsupport::threadCount(), threads);
    EXPECT_EQ(testsupport::openFdCount(), fds);
#ifndef __SANITIZE_ADDRESS__
    // (AddressSanitizer keeps freed memory in quarantine; its leak check runs at exit.)
    EXPECT_LT(testsupport::residentKiB() - rss, 32 * 1024) << "resident memory grew";
#else
    (void)rss;
#endif
    EXPECT_EQ(ZelPlay_StopSound(), 1);
}
