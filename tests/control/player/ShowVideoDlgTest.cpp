// A video window playing generated files with real FFmpeg decoding (offscreen Qt).
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include <QPointer>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <thread>

#include "IdlePicture.h"
#include "OneWindowTest.h"
#include "QtTestMain.h"
#include "ReconnectPolicy.h"
#include "ShowVideoDlg.h"
#include "StreamPlayer.h"
#include "support/media.h"
#include "support/process.h"

using testsupport::mediaPath;
using testsupport::waitUntil;
using Clock = std::chrono::steady_clock;

namespace {

double msSince(Clock::time_point from) {
    return std::chrono::duration<double, std::milli>(Clock::now() - from).count();
}

// Ids of this process's threads.
std::set<pid_t> threadIds() {
    std::set<pid_t> ids;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
        ids.insert(static_cast<pid_t>(std::stol(entry.path().filename().string())));
    return ids;
}

using WindowTest = testsupport::OneWindowTest;

}  // namespace

TEST_F(WindowTest, FilePicturesReachTheWindowAtTheStreamsOwnSize) {
    play(mediaPath("video_only.mp4"), false);
    ASSERT_TRUE(waitUntil([&] { return shown() >= 3; }, 10000));
    const QImage picture = window_->currentPicture();
    EXPECT_EQ(picture.width(), 352);
    EXPECT_EQ(picture.height(), 288);
    // testsrc2 is not a flat picture: the rows came through, top row first.
    EXPECT_NE(picture.pixel(10, 10), picture.pixel(10, 280));
    window_->OnClose();
}

TEST_F(WindowTest, StoredFilePlaysAtItsOwnSpeedNotAsFastAsItDecodes) {
    // 4 s at 25 pictures a second. Picture n is due 40 (n - 1) ms after the first one came
    // out of the decoder, so however slow the machine, n pictures shown take at least that
    // long from the first decode. Both ends are read so that any lateness of this thread only
    // widens the span it measures: the start is the last moment nothing was decoded yet, the
    // end the moment after the count was read.
    Clock::time_point beforeFirstDecode = Clock::now();
    play(mediaPath("video_only.mp4"), false);
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto now = Clock::now();
            if (decoded() > 0)
                return true;
            beforeFirstDecode = now;
            return false;
        },
        10000));
    double leastSpareMs = 1e9;  // least margin of (span - (n - 1) × 40 ms) over the run
    std::uint64_t lastCount = 0;
    ASSERT_TRUE(waitUntil(
        [&] {
            const bool ended = window_->liveThreadCount() == 0;
            lastCount = shown();
            const double spanMs = msSince(beforeFirstDecode);
            if (lastCount > 1)
                leastSpareMs =
                    std::min(leastSpareMs, spanMs - 40.0 * static_cast<double>(lastCount - 1));
            return ended;
        },
        30000));
    EXPECT_EQ(lastCount, 100u);
    EXPECT_GE(leastSpareMs, -2.0) << "pictures shown faster than the file's 25 a second";
}

TEST_F(WindowTest, EndOfInputFallsBackToIdleAndReplayOpensAgain) {
    play(mediaPath("short.mp4"), true);
    ASSERT_TRUE(waitUntil([&] { return runs() >= 3; }, 15000));
    EXPECT_GE(shown(), 40u);  // 25 pictures each run
    window_->OnClose();
    EXPECT_EQ(window_->liveThreadCount(), 0);
    EXPECT_FALSE(window_->m_bPlaying.load());
}

TEST_F(WindowTest, WithoutReplayTheThreadEndsOnTheIdlePicture) {
    play(mediaPath("short.mp4"), false);
    ASSERT_TRUE(waitUntil([&] { return window_->liveThreadCount() == 0 && shown() > 0; }, 10000));
    EXPECT_EQ(runs(), 1u);
    EXPECT_FALSE(window_->m_bPlaying.load());
    EXPECT_TRUE(window_->currentPicture().isNull());

    // The idle picture now fills the video area (once the repaint the run asked for is done).
    QCoreApplication::sendPostedEvents();
    const QImage area = window_->m_videoArea->grab().toImage();
    const QImage idle = monvid::idlePicture()
                            .convertToFormat(QImage::Format_RGB32)
                            .scaled(area.size(), Qt::IgnoreAspectRatio, Qt::FastTransformation);
    EXPECT_EQ(area.pixelColor(area.width() / 2, area.height() / 2).rgb() & 0xFFFFFF,
              idle.pixelColor(idle.width() / 2, idle.height() / 2).rgb() & 0xFFFFFF);
}

TEST_F(WindowTest, PictureIsStretchedOverTheWholeVideoArea) {
    play(mediaPath("video_only.mp4"), false);
    ASSERT_TRUE(waitUntil([&] { return shown() >= 2; }, 10000));
    window_->m_bReplay = false;
    QImage painted(window_->m_videoArea->size(), QImage::Format_RGB32);
    painted.fill(Qt::magenta);
    {
        QPainter painter(&painted);
        window_->paintVideoArea(painter, painted.rect());
    }
    // Corners of the area come from the picture, not from the fill.
    for (QPoint p : {QPoint(1, 1), QPoint(painted.width() - 2, painted.height() - 2)})
        EXPECT_NE(painted.pixel(p), QColor(Qt::magenta).rgb());
    window_->OnClose();
}

TEST_F(WindowTest, AddressThatCannotBeOpenedRetriesAtOnceThenBacksOff) {
    CStreamPlayer player(*window_);
    std::atomic<bool> quit{false};
    window_->m_bPlaying = true;
    EXPECT_FALSE(player.Play("/nonexistent/clip.mp4", quit));
    EXPECT_FALSE(window_->m_bPlaying.load());  // cleared, so the next run does not wait

    const auto started = Clock::now();
    play("/nonexistent/clip.mp4", true);
    // The first retry follows at once (the 3 s start gate never waits); the one after it
    // waits the first back-off step, spread over its second half.
    ASSERT_TRUE(waitUntil([&] { return runs() >= 2; }, 2000));
    ASSERT_TRUE(waitUntil([&] { return runs() >= 3; }, 5000));
    EXPECT_GE(msSince(started), monvid::ReconnectPolicy::kFirstBackoff.count() / 2.0);
    // The wait before the fourth run (2 s) ends at once on close.
    const auto closing = Clock::now();
    window_->OnClose();
    EXPECT_LT(msSince(closing), 1000.0);
    EXPECT_EQ(window_->liveThreadCount(), 0);
}

TEST_F(WindowTest, InputsThatCannotPlayEndQuietly) {
    // Audio only, text, a directory, an unknown scheme, a port where nothing listens.
    CStreamPlayer player(*window_);
    std::atomic<bool> quit{false};
    for (const std::string& address :
         {mediaPath("audio_only.mp4"), mediaPath("not_media.dat"), mediaPath("a_directory"),
          std::string("nosuchscheme://127.0.0.1/x"), std::string("rtsp://127.0.0.1:1/none"),
          std::string("rtmp://127.0.0.1:1/live/none"), std::string("")}) {
        SCOPED_TRACE(address);
        window_->m_bPlaying = true;
        EXPECT_FALSE(player.Play(address, quit));
        EXPECT_FALSE(window_->m_bPlaying.load());
        EXPECT_TRUE(window_->currentPicture().isNull());
    }
}

TEST_F(WindowTest, TruncatedFilePlaysWhatItHasThenEnds) {
    play(mediaPath("truncated.mp4"), false);
    ASSERT_TRUE(waitUntil([&] { return window_->liveThreadCount() == 0; }, 15000));
    EXPECT_EQ(runs(), 1u);
    EXPECT_TRUE(window_->currentPicture().isNull());
}

TEST_F(WindowTest, TheLaterOfTwoVideoStreamsPlays) {
    play(mediaPath("two_video.mp4"), false);
    ASSERT_TRUE(waitUntil([&] { return shown() >= 2; }, 10000));
    EXPECT_EQ(window_->currentPicture().size(), QSize(320, 200));
    window_->OnClose();
}

TEST_F(WindowTest, WidthChangeMidwayKeepsTheFirstWidth) {
    play(mediaPath("width_change.ts"), false);
    ASSERT_TRUE(waitUntil([&] { return window_->liveThreadCount() == 0; }, 15000));
    EXPECT_GE(window_->m_counters.shown.load(), 40u);
    EXPECT_GE(window_->m_counters.dropped.load(), 40u);  // the 480-wide half
    std::lock_guard lock(window_->m_csPicture);
    EXPECT_EQ(window_->m_nPicWidth, 320);
}

TEST_F(WindowTest, AudioWithoutDecoderPlaysTheVideo) {
    play(mediaPath("no_audio_decoder.mkv"), false);
    ASSERT_TRUE(waitUntil([&] { return shown() >= 5; }, 10000));
    window_->OnClose();
}

TEST_F(WindowTest, HiddenWindowDecodesButHandsOverNothing) {
    play(mediaPath("video_only.mp4"), false);
    ASSERT_TRUE(waitUntil([&] { return shown() >= 3; }, 10000));
    window_->hide();
    ASSERT_TRUE(waitUntil([&] { return !window_->isShownForPlay(); }, 2000));
    // A picture counted as decoded before this read may have passed its visibility check
    // before the hide and still arrive; every later one is checked after the hide. Once the
    // next one is counted, the one before it has been handed over or not.
    const auto droppedAtHide = window_->m_counters.dropped.load();
    const auto decodedAtHide = decoded();
    ASSERT_TRUE(waitUntil([&] { return decoded() >= decodedAtHide + 1; }, 10000));
    const auto shownWhenHidden = shown();
    // Ten more pictures come out of the decoder and none of them reaches the window.
    ASSERT_TRUE(waitUntil([&] { return decoded() >= decodedAtHide + 11; }, 10000));
    EXPECT_EQ(shown(), shownWhenHidden);
    EXPECT_GE(window_->m_counters.dropped.load(), droppedAtHide + 10);
    window_->OnClose();
}

TEST_F(WindowTest, ClearingPlayingMidStreamEndsTheRunWithTrue) {
    CStreamPlayer player(*window_);
    std::atomic<bool> quit{false};
    bool result = false;
    std::thread run([&] { result = player.Play(mediaPath("video_only.mp4"), quit); });
    ASSERT_TRUE(waitUntil([&] { return shown() >= 3; }, 10000));
    // A picture already past its check may still be kept; none after the flag is clear.
    const auto shownBeforeClear = shown();
    window_->m_bPlaying = false;
    run.join();
    EXPECT_TRUE(result);
    EXPECT_LE(shown(), shownBeforeClear + 1);
}

TEST_F(WindowTest, StartPlayOnAPlayingWindowLeavesOneThreadOnTheNewAddress) {
    play(mediaPath("video_only.mp4"), true);
    ASSERT_TRUE(waitUntil([&] { return shown() >= 3; }, 10000));
    play(mediaPath("two_video.mp4"), true);
    EXPECT_EQ(window_->liveThreadCount(), 1);
    ASSERT_TRUE(
        waitUntil([&] { return window_->currentPicture().size() == QSize(320, 200); }, 10000));
    window_->OnClose();
    EXPECT_EQ(window_->liveThreadCount(), 0);
}

TEST_F(WindowTest, DestroyingAPlayingWindowEndsItsThreadFirst) {
    testsupport::startSanitizerThreads();
    const std::set<pid_t> threadsBefore = threadIds();
    play(mediaPath("video_only.mp4"), true);
    ASSERT_TRUE(waitUntil([&] { return shown() >= 2; }, 10000));
    ASSERT_EQ(window_->liveThreadCount(), 1);
    // The play thread and whatever threads its decoder started.
    std::set<pid_t> started;
    for (pid_t id : threadIds())
        if (!threadsBefore.count(id))
            started.insert(id);
    ASSERT_FALSE(started.empty());

    QPointer<CShowVideoDlg> guard(window_);
    delete window_;  // joins the play thread before the window's members go
    window_ = nullptr;
    EXPECT_TRUE(guard.isNull());
    EXPECT_TRUE(holder_->findChildren<CShowVideoDlg*>().isEmpty());
    // Repaints the run queued for the destroyed window are dropped when delivered.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    holder_->repaint();
    // No thread of the run is left playing (a thread's entry may linger a moment after it
    // was joined, hence the wait; one left running would never go).
    EXPECT_TRUE(waitUntil(
        [&] {
            const std::set<pid_t> now = threadIds();
            return std::none_of(started.begin(), started.end(),
                                [&](pid_t id) { return now.count(id) > 0; });
        },
        10000));
}
