// A wall on a scaled screen (a scale factor of 2, as on a 4K monitor): pictures are converted
// at the screen's pixels, not at the layout's units.
#include <gtest/gtest.h>

#include <QApplication>
#include <QThreadPool>

#include "OneWindowTest.h"
#include "support/media.h"
#include "support/wait.h"

using testsupport::mediaPath;
using testsupport::waitUntil;

namespace {
class HiDpiTest : public testsupport::OneWindowTest {};
}  // namespace

TEST_F(HiDpiTest, PicturesAreConvertedAtTheScreensPixels) {
    ASSERT_DOUBLE_EQ(window_->m_videoArea->devicePixelRatioF(), 2.0);
    const QSize area = window_->m_videoArea->size();
    EXPECT_EQ(window_->pictureTarget(), area * 2);

    play(mediaPath("video_only.mp4"), false);
    ASSERT_TRUE(waitUntil([&] { return shown() >= 3; }, 15000));
    EXPECT_EQ(window_->shownPicture().size(), area * 2)
        << "converted at " << window_->shownPicture().width() << "x"
        << window_->shownPicture().height() << " for an area of " << area.width() << "x"
        << area.height();
    window_->OnClose();
}

int main(int argc, char** argv) {
    qputenv("QT_SCALE_FACTOR", "2");  // before the application object reads it
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    // Qt converts and scales large images on its global pool's threads: they finish before
    // the application object goes, not while the process ends.
    QThreadPool::globalInstance()->waitForDone();
    return result;
}
