// The grid of 16 windows: cells, selection, enlarging, dropped files.
#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QMouseEvent>
#include <QUrl>

#include <filesystem>

#include "../player/QtTestMain.h"
#include "ColorStaticST.h"
#include "GridLayout.h"
#include "Mydlg.h"
#include "support/media.h"

using monvid::gridCell;
using testsupport::waitUntil;

TEST(GridCells, NineAndSixteenWindowsIn1000x600) {
    const QSize client(1000, 600);
    for (int k = 0; k < 9; ++k)
        EXPECT_EQ(gridCell(9, k, client), QRect((k % 3) * 1000 / 3, (k / 3) * 200, 333, 200)) << k;
    EXPECT_EQ(gridCell(9, 1, client).x(), 333);
    EXPECT_EQ(gridCell(9, 2, client).x(), 666);
    EXPECT_EQ(gridCell(9, 8, client).y(), 400);
    for (int k = 0; k < 16; ++k)
        EXPECT_EQ(gridCell(16, k, client), QRect((k % 4) * 250, (k / 4) * 150, 250, 150)) << k;
}

TEST(GridCells, TwoWindowsSplitLeftAndRightAndOthersAreNotLaidOut) {
    EXPECT_EQ(gridCell(2, 0, QSize(1000, 600)), QRect(0, 0, 500, 600));
    EXPECT_EQ(gridCell(2, 1, QSize(1000, 600)), QRect(500, 0, 500, 600));
    EXPECT_EQ(gridCell(4, 3, QSize(801, 601)), QRect(400, 300, 400, 300));
    EXPECT_EQ(gridCell(1, 0, QSize(640, 480)), QRect(0, 0, 640, 480));
    EXPECT_TRUE(gridCell(3, 0, QSize(1000, 600)).isNull());
    EXPECT_TRUE(gridCell(4, 4, QSize(1000, 600)).isNull());
    EXPECT_TRUE(gridCell(0, 0, QSize(1000, 600)).isNull());
}

namespace {

class GridTest : public ::testing::Test {
  protected:
    void SetUp() override {
        grid_ = std::make_unique<CMydlg>(nullptr);
        grid_->resize(1000, 600);
        grid_->show();
        ASSERT_TRUE(waitUntil([&] { return grid_->window(0)->isVisible(); }, 5000));
    }
    void click(QWidget* target) {
        const QPointF at(target->width() / 2.0, target->height() / 2.0);
        QMouseEvent press(QEvent::MouseButtonPress, at, target->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &press);
    }
    void doubleClickTitle(int index) {
        QWidget* strip = grid_->window(index)->m_stTitle;
        click(strip);
        const QPointF at(5, 5);
        QMouseEvent dbl(QEvent::MouseButtonDblClick, at, strip->mapToGlobal(at), Qt::LeftButton,
                        Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(strip, &dbl);
    }
    int visibleCount() const {
        int n = 0;
        for (auto* w : grid_->m_wndVideo)
            n += w->isVisible();
        return n;
    }
    std::unique_ptr<CMydlg> grid_;
};

}  // namespace

TEST_F(GridTest, StartsWithFourWindowsTitledByNumberAndNoTitles) {
    EXPECT_EQ(grid_->m_nWindowCount, 4);
    EXPECT_EQ(visibleCount(), 4);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(grid_->window(i)->title(), QString::number(i));
        EXPECT_TRUE(grid_->window(i)->m_strTitle.empty());
        EXPECT_FALSE(grid_->window(i)->m_bActive);
        EXPECT_EQ(grid_->window(i)->m_stTitle->bkColor(), CColorStaticST::kInactiveBk);
    }
    EXPECT_EQ(grid_->window(3)->geometry(), QRect(500, 300, 500, 300));
    // Title strip 20 pixels across the top, the video area below it.
    EXPECT_EQ(grid_->window(0)->m_stTitle->geometry(), QRect(0, 0, 500, 20));
    EXPECT_EQ(grid_->window(0)->m_videoArea->geometry(), QRect(0, 20, 500, 280));
}

TEST_F(GridTest, LayoutShowsTheCountAndHidesTheRest) {
    grid_->LayoutWindows(9);
    EXPECT_EQ(visibleCount(), 9);
    EXPECT_EQ(grid_->window(8)->geometry(), QRect(666, 400, 333, 200));
    grid_->LayoutWindows(16);
    EXPECT_EQ(visibleCount(), 16);
    EXPECT_EQ(grid_->window(15)->geometry(), QRect(750, 450, 250, 150));
    grid_->resize(800, 400);
    EXPECT_EQ(grid_->window(15)->geometry(), QRect(600, 300, 200, 100));

    // A count the grid does not know is stored and changes nothing, also on later resizes.
    grid_->LayoutWindows(3);
    EXPECT_EQ(grid_->m_nWindowCount, 3);
    EXPECT_EQ(visibleCount(), 16);
    grid_->resize(1000, 600);
    EXPECT_EQ(grid_->window(15)->geometry(), QRect(600, 300, 200, 100));
}

TEST_F(GridTest, ClickingWindowThreeThenFiveLeavesOnlyFiveSelected) {
    grid_->LayoutWindows(9);
    click(grid_->window(3)->m_videoArea);  // clicks on the video area reach the window
    EXPECT_TRUE(grid_->window(3)->m_bActive);
    click(grid_->window(5)->m_stTitle);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(grid_->window(i)->m_bActive, i == 5) << i;
        EXPECT_EQ(grid_->window(i)->m_stTitle->bkColor(),
                  i == 5 ? CColorStaticST::kActiveBk : CColorStaticST::kInactiveBk);
    }
    EXPECT_EQ(colorFromRef(CColorStaticST::kActiveBk), QColor(255, 120, 120));
}

TEST_F(GridTest, DoubleClickEnlargesAndResizingRestoresCellsWithTheFlagKept) {
    doubleClickTitle(2);
    EXPECT_TRUE(grid_->window(2)->m_bMaximized);
    EXPECT_TRUE(grid_->window(2)->m_bActive);
    EXPECT_EQ(visibleCount(), 1);
    EXPECT_EQ(grid_->window(2)->geometry(), QRect(0, 0, 1000, 600));

    grid_->resize(800, 400);  // every window back in its cell
    EXPECT_EQ(visibleCount(), 4);
    EXPECT_EQ(grid_->window(2)->geometry(), QRect(0, 200, 400, 200));
    EXPECT_TRUE(grid_->window(2)->m_bMaximized);

    doubleClickTitle(2);  // only lays the grid out again and clears the flag
    EXPECT_FALSE(grid_->window(2)->m_bMaximized);
    EXPECT_EQ(visibleCount(), 4);
    doubleClickTitle(2);  // and now enlarges
    EXPECT_TRUE(grid_->window(2)->m_bMaximized);
    EXPECT_EQ(visibleCount(), 1);
}

TEST_F(GridTest, WithAStoredCountOfThreeRestoringLeavesTheWindowCovering) {
    doubleClickTitle(1);
    grid_->LayoutWindows(3);
    doubleClickTitle(1);
    EXPECT_FALSE(grid_->window(1)->m_bMaximized);
    EXPECT_EQ(grid_->window(1)->geometry(), QRect(0, 0, 1000, 600));
    EXPECT_EQ(visibleCount(), 1);
}

TEST_F(GridTest, SetReplayAllAndDeactivateAllReachEveryWindow) {
    grid_->SetReplayAll(false);
    for (auto* w : grid_->m_wndVideo)
        EXPECT_FALSE(w->m_bReplay.load());
    grid_->SetReplayAll(true);
    for (auto* w : grid_->m_wndVideo)
        EXPECT_TRUE(w->m_bReplay.load());
    click(grid_->window(0));
    grid_->DeactivateAll();
    for (auto* w : grid_->m_wndVideo)
        EXPECT_FALSE(w->m_bActive);
}

TEST_F(GridTest, DroppedFilesPlayTheFirstWholePathAndSelectNothing) {
    // A path far longer than 199 characters.
    testsupport::TempDir dir;
    auto folder = dir.path();
    for (int i = 0; i < 4; ++i)
        folder /= std::string(60, static_cast<char>('a' + i));
    std::filesystem::create_directories(folder);
    const auto clip = folder / "first clip.mp4";
    std::filesystem::copy_file(testsupport::mediaPath("video_only.mp4"), clip);
    ASSERT_GT(clip.string().size(), 250u);

    CShowVideoDlg* target = grid_->window(2);
    target->m_bReplay = false;
    target->OnDropFiles(
        {QUrl::fromLocalFile(QString::fromStdString(clip.string())),
         QUrl::fromLocalFile(QString::fromStdString(testsupport::mediaPath("short.mp4"))),
         QUrl::fromLocalFile(QString::fromStdString(testsupport::mediaPath("two_video.mp4")))});

    EXPECT_EQ(target->url(), clip.string());
    ASSERT_TRUE(waitUntil([&] { return target->m_counters.shown.load() >= 2; }, 10000));
    EXPECT_EQ(target->currentPicture().size(), QSize(352, 288));
    for (auto* w : grid_->m_wndVideo)
        EXPECT_FALSE(w->m_bActive);
    target->OnClose();
}

TEST_F(GridTest, KeyHTogglesTheHealthOverlayOfEveryWindow) {
    auto pressH = [&](QWidget* target) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_H, Qt::NoModifier, "h");
        QCoreApplication::sendEvent(target, &press);
    };
    pressH(grid_.get());
    for (auto* w : grid_->m_wndVideo)
        EXPECT_TRUE(w->healthOverlay());
    // One window switched off by its own menu: H switches all on again, then all off.
    grid_->window(3)->SetHealthOverlay(false);
    pressH(grid_.get());
    for (auto* w : grid_->m_wndVideo)
        EXPECT_TRUE(w->healthOverlay());
    pressH(grid_.get());
    for (auto* w : grid_->m_wndVideo)
        EXPECT_FALSE(w->healthOverlay());
}

TEST_F(GridTest, MaxDelayReachesEveryWindow) {
    grid_->SetMaxDelayAll(0);
    for (auto* w : grid_->m_wndVideo)
        EXPECT_EQ(w->maxDelayMs(), 0);
    grid_->SetMaxDelayAll(1200);
    for (auto* w : grid_->m_wndVideo)
        EXPECT_EQ(w->maxDelayMs(), 1200);
}
