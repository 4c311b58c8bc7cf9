// A video window after things go wrong: a restart onto an address that cannot be reached, a
// play thread the system will not create, a capture without memory, a stop that meets a run
// at its start gate. Real decoding of generated files (offscreen Qt).
#include <gtest/gtest.h>

#include <QEvent>
#include <QImage>
#include <QUrl>

#include <filesystem>
#include <new>
#include <system_error>

#include "BitmapFile.h"
#include "IdlePicture.h"
#include "OneWindowTest.h"
#include "QtTestMain.h"
#include "ShowVideoDlg.h"
#include "support/media.h"

using testsupport::mediaPath;
using testsupport::waitUntil;

namespace {

// Nothing listens on port 1: the connection is refused at once.
const std::string kUnreachable = "rtsp://127.0.0.1:1/none";

class RecoveryTest : public testsupport::OneWindowTest {
  protected:
    // The middle of the video area as painted now, against the idle picture scaled to it.
    bool areaShowsIdlePicture() {
        const QImage area = window_->m_videoArea->grab().toImage();
        const QImage idle = monvid::idlePicture()
                                .convertToFormat(QImage::Format_RGB32)
                                .scaled(area.size(), Qt::IgnoreAspectRatio, Qt::FastTransformation);
        const QPoint middle(area.width() / 2, area.height() / 2);
        return (area.pixel(middle) & 0xFFFFFF) == (idle.pixel(middle) & 0xFFFFFF);
    }

    testsupport::TempDir dir_;
};

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
  public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    int paints = 0;

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

void failThreadStart(CShowVideoDlg& window) {
    window.m_startThread = [](std::function<void()>) -> std::thread {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    };
}

}  // namespace

TEST_F(RecoveryTest, RestartOntoAnUnreachableAddressDropsTheOldStreamsPicture) {
    for (bool replay : {true, false}) {
        SCOPED_TRACE(replay ? "replay" : "once");
        play(mediaPath("video_only.mp4"), true);
        ASSERT_TRUE(waitUntil([&] { return !window_->currentPicture().isNull(); }, 10000));

        const auto runsBefore = runs();
        testsupport::pumpFor(50);  // the repaints the old stream asked for are done
        PaintCounter repaints(window_->m_videoArea);
        play(kUnreachable, replay);
        ASSERT_TRUE(waitUntil([&] { return runs() > runsBefore; }, 5000));
        // Neither the screen nor a capture shows the old camera under the new address.
        EXPECT_TRUE(waitUntil([&] { return window_->currentPicture().isNull(); }, 3000));
        EXPECT_FALSE(window_->SavePicture(dir_.file("stale.bmp"), 32));
        EXPECT_FALSE(std::filesystem::exists(dir_.file("stale.bmp")));
        EXPECT_TRUE(waitUntil([&] { return repaints.paints > 0; }, 3000));
        EXPECT_TRUE(waitUntil([&] { return areaShowsIdlePicture(); }, 3000));
        window_->OnClose();
        EXPECT_EQ(window_->liveThreadCount(), 0);
    }
}

TEST_F(RecoveryTest, AThreadThatCannotBeCreatedLeavesTheWindowIdleAndUsable) {
    const CShowVideoDlg::ThreadStarter working = window_->m_startThread;
    failThreadStart(*window_);
    EXPECT_NO_THROW(play(mediaPath("video_only.mp4"), true));
    EXPECT_EQ(window_->liveThreadCount(), 0);
    EXPECT_NO_THROW(window_->OnDropFiles(
        {QUrl::fromLocalFile(QString::fromStdString(mediaPath("short.mp4")))}));
    EXPECT_EQ(window_->liveThreadCount(), 0);
    EXPECT_EQ(runs(), 0u);
    window_->OnClose();  // nothing to stop

    // Once threads can be made again the window plays as before.
    window_->m_startThread = working;
    play(mediaPath("video_only.mp4"), false);
    EXPECT_EQ(window_->liveThreadCount(), 1);
    ASSERT_TRUE(waitUntil([&] { return shown() >= 2; }, 10000));
    window_->OnClose();
    EXPECT_EQ(window_->liveThreadCount(), 0);
}

TEST_F(RecoveryTest, ACaptureWithoutMemoryDropsNoLaterPicture) {
    play(mediaPath("video_only.mp4"), false);
    ASSERT_TRUE(waitUntil([&] { return shown() >= 2; }, 10000));
    window_->m_encodePicture = [](const QImage&, int) -> std::vector<std::uint8_t> {
        throw std::bad_alloc();
    };
    bool saved = true;
    EXPECT_NO_THROW(saved = window_->SavePicture(dir_.file("nomem.bmp"), 32));
    EXPECT_FALSE(saved);
    EXPECT_FALSE(window_->m_bCapturing.load());
    EXPECT_FALSE(std::filesystem::exists(dir_.file("nomem.bmp")));

    // Pictures keep coming, and the next capture with memory is saved.
    const auto shownNow = shown();
    EXPECT_TRUE(waitUntil([&] { return shown() >= shownNow + 3; }, 10000));
    window_->m_encodePicture = &monvid::encodeBitmapFile;
    EXPECT_TRUE(window_->SavePicture(dir_.file("later.bmp"), 32));
    EXPECT_EQ(std::filesystem::file_size(dir_.file("later.bmp")), 54u + 352 * 288 * 4);
    window_->OnClose();
}

TEST_F(RecoveryTest, AStopThatMeetsTheStartGateIsNotUndone) {
    // The flag is still set from before, so the new run waits at its gate; the stop comes in
    // during that wait and the run must not set the flag again and play.
    window_->m_bPlaying = true;
    play(mediaPath("video_only.mp4"), false);
    ASSERT_TRUE(waitUntil([&] { return runs() >= 1; }, 5000));
    window_->RequestStop();
    ASSERT_TRUE(waitUntil([&] { return window_->liveThreadCount() == 0; }, 10000));
    EXPECT_EQ(shown(), 0u);
    EXPECT_FALSE(window_->m_bPlaying.load());

    // A start after the stop plays.
    play(mediaPath("video_only.mp4"), false);
    ASSERT_TRUE(waitUntil([&] { return shown() >= 2; }, 10000));
    window_->OnClose();
}

TEST(PictureName, TitlesNameAFileInTheFolderAndNothingElse) {
    const std::string stamp = "2019-12-31-9-05-07";
    EXPECT_EQ(monvid::picturePath("/pics", "../../etc/cron.d/x", stamp),
              "/pics/.._.._etc_cron.d_x-2019-12-31-9-05-07.bmp");
    EXPECT_EQ(monvid::picturePath("/pics", "..", stamp), "/pics/..-2019-12-31-9-05-07.bmp");
    EXPECT_EQ(monvid::picturePath("/pics", "a\\b", stamp), "/pics/a_b-2019-12-31-9-05-07.bmp");
    EXPECT_EQ(monvid::picturePath("/pics", std::string("a\nb\tc\x7f\0d", 8), stamp),
              "/pics/a_b_c__d-2019-12-31-9-05-07.bmp");
    // Other text, Chinese included, is kept as it is.
    EXPECT_EQ(monvid::picturePath("/pics", "门口 cam.1", stamp),
              "/pics/门口 cam.1-2019-12-31-9-05-07.bmp");
}
