// A video window playing generated files with real FFmpeg decoding (offscreen Qt).
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include <chrono>
#include <thread>

#include "IdlePicture.h"
#include "QtTestMain.h"
#include "ShowVideoDlg.h"
#include "StreamPlayer.h"
#include "support/media.h"

using testsupport::mediaPath;
using testsupport::pumpFor;
using testsupport::waitUntil;

namespace {

// A shown top-level holder with one video window in it.
class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        holder_ = std::make_unique<QWidget>();
        holder_->resize(400, 300);
        window_ = new CShowVideoDlg(holder_.get());
        window_->setGeometry(0, 0, 400, 300);
        holder_->show();
        ASSERT_TRUE(waitUntil([&] { return window_->isShownForPlay(); }, 2000));
    }
    void TearDown() override { holder_.reset(); }

    void play(const std::string& path, bool replay) {
        window_->m_bReplay = replay;
        window_->setUrl(path);
        window_->StartPlay();
    }
    std::uint64_t shown() const { return window_->m_counters.shown.load(); }
    std::uint64_t runs() const { return window_->m_counters.runs.load(); }

    std::unique_ptr<QWidget> holder_;
    CShowVideoDlg* window_ = nullptr;
};

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
    // 4 s at 25 pictures a second: after one second far fewer than all 100 are shown.
    play(mediaPath("video_only.mp4"), false);
    ASSERT_TRUE(waitUntil([&] { return shown() >= 1; }, 10000));
    pumpFor(1000);
    EXPECT_LT(shown(), 80u);
    EXPECT_GT(shown(), 5u);
    window_->OnClose();
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

    // The idle picture now fills the video area.
    pumpFor(50);
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

TEST_F(WindowTest, AddressThatCannotBeOpenedRetriesAtOnceWithReplay) {
    CStreamPlayer player(*window_);
    std::atomic<bool> quit{false};
    window_->m_bPlaying = true;
    EXPECT_FALSE(player.Play("/nonexistent/clip.mp4", quit));
    EXPECT_FALSE(window_->m_bPlaying.load());  // cleared, so the next run does not wait

    play("/nonexistent/clip.mp4", true);
    ASSERT_TRUE(waitUntil([&] { return runs() >= 4; }, 3000));  // the 3 s start gate never waits
    window_->OnClose();
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
    pumpFor(100);
    const auto shownWhenHidden = shown();
    const auto decodedWhenHidden = window_->m_counters.decoded.load();
    pumpFor(600);
    EXPECT_EQ(shown(), shownWhenHidden);
    EXPECT_GT(window_->m_counters.decoded.load(), decodedWhenHidden);
    window_->OnClose();
}

TEST_F(WindowTest, ClearingPlayingMidStreamEndsTheRunWithTrue) {
    CStreamPlayer player(*window_);
    std::atomic<bool> quit{false};
    bool result = false;
    std::thread run([&] { result = player.Play(mediaPath("video_only.mp4"), quit); });
    ASSERT_TRUE(waitUntil([&] { return shown() >= 3; }, 10000));
    window_->m_bPlaying = false;
    run.join();
    EXPECT_TRUE(result);
    EXPECT_LT(shown(), 100u);
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
    play(mediaPath("video_only.mp4"), true);
    ASSERT_TRUE(waitUntil([&] { return shown() >= 2; }, 10000));
    delete window_;  // joins the play thread before the window's members go
    window_ = nullptr;
    pumpFor(50);  // queued repaints for the destroyed window are dropped
}
