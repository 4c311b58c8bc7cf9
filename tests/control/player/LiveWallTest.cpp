// Live walls that stay live: the badge of a lost input and its clearing, the back-off of many
// windows on a dead address, the health overlay against a stream of known rate, and the
// latency cap of a run whose play thread stalls (driven without widgets).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAction>
#include <QElapsedTimer>
#include <QMenu>
#include <QPainter>

#include <filesystem>
#include <thread>

#include "ColorStaticST.h"
#include "IdlePicture.h"
#include "OneWindowTest.h"
#include "PanelText.h"
#include "QtTestMain.h"
#include "ShowVideoDlg.h"
#include "StreamPlayer.h"
#include "support/media.h"
#include "support/process.h"
#include "support/servers.h"
#include "support/wait.h"

using testsupport::mediaPath;
using testsupport::waitUntil;

namespace {

class WallTest : public testsupport::OneWindowTest {
  protected:
    static void play(CShowVideoDlg* window, const std::string& url) {
        window->m_bReplay = true;
        window->setUrl(url);
        window->StartPlay();
    }
    // The video area as the window paints it.
    QImage painted(CShowVideoDlg* window) const {
        QImage image(window->m_videoArea->size(), QImage::Format_RGB32);
        image.fill(Qt::magenta);
        QPainter painter(&image);
        window->paintVideoArea(painter, image.rect());
        return image;
    }
    QImage idleOnly(QSize size) const {
        QImage image(size, QImage::Format_RGB32);
        QPainter painter(&image);
        painter.drawImage(image.rect(), monvid::idlePicture());
        return image;
    }
    std::string deadRtsp() const {
        return "rtsp://127.0.0.1:" + std::to_string(testsupport::freeTcpPort()) + "/live";
    }
};

std::string lines(const QStringList& list) {
    return list.join(" | ").toStdString();
}

}  // namespace

TEST_F(WallTest, RefusedPortAndMissingFileShowTheirReasonInTheCell) {
    auto* second = new CShowVideoDlg(holder_.get());
    second->setGeometry(0, 0, 200, 150);
    second->show();
    ASSERT_TRUE(waitUntil([&] { return second->isShownForPlay(); }, 2000));

    play(window_, deadRtsp());
    play(second, "/nonexistent/folder/clip.mp4");
    ASSERT_TRUE(waitUntil(
        [&] { return !window_->badgeText().isEmpty() && !second->badgeText().isEmpty(); }, 5000));
    const QStringList refused = window_->badgeText();
    const QStringList missing = second->badgeText();
    EXPECT_TRUE(
        refused.join('\n').contains(monvid::lossReasonText(monvid::LossReason::Refused, {})))
        << lines(refused);
    EXPECT_TRUE(
        missing.join('\n').contains(monvid::lossReasonText(monvid::LossReason::NotFound, {})))
        << lines(missing);
    // Replay is on: the badge says when the next try is.
    EXPECT_EQ(refused.size(), 3);
    EXPECT_TRUE(window_->linkLoss().retrying);

    // The title strip turns amber and the badge is drawn over the idle picture.
    ASSERT_TRUE(
        waitUntil([&] { return window_->m_stTitle->bkColor() == CShowVideoDlg::kLostBk; }, 2000));
    const QImage area = painted(window_);
    EXPECT_NE(area, idleOnly(area.size()));
    EXPECT_NE(area.pixel(area.width() / 2, area.height() / 2), QColor(Qt::magenta).rgb());

    // Selecting a lost window keeps the warning, in its selected shade.
    window_->Activate();
    EXPECT_EQ(window_->m_stTitle->bkColor(), CShowVideoDlg::kLostActiveBk);

    // A stop clears the badge: the window is idle by request, nothing is lost.
    window_->m_bReplay = false;
    window_->RequestStop();
    EXPECT_TRUE(window_->badgeText().isEmpty());
    EXPECT_EQ(window_->m_stTitle->bkColor(), CColorStaticST::kActiveBk);
    window_->OnClose();
    second->OnClose();
}

TEST_F(WallTest, TheBadgeLeavesTheCameraAndTheWordsInSightAndShrinksInSmallCells) {
    play(window_, deadRtsp());
    ASSERT_TRUE(waitUntil([&] { return window_->linkLoss().retrying; }, 5000));
    // Below the idle picture's clear band (the camera and "No video") the lost cell is the
    // idle picture itself; the badge is in the band.
    const QImage area = painted(window_);
    const QImage idle = idleOnly(area.size());
    const int cameraRow =
        area.height() * monvid::kIdlePictureCameraTop / monvid::kIdlePictureHeight;
    EXPECT_EQ(area.copy(0, cameraRow + 1, area.width(), area.height() - cameraRow - 1),
              idle.copy(0, cameraRow + 1, idle.width(), idle.height() - cameraRow - 1));
    EXPECT_NE(area.copy(0, 0, area.width(), cameraRow), idle.copy(0, 0, idle.width(), cameraRow));

    // All three lines in a cell of a 2 x 2 wall, fewer in smaller cells, down to the first.
    const QStringList lines = window_->badgeText();
    ASSERT_EQ(lines.size(), 3);
    for (const auto& [size, expected] :
         {std::pair{QSize(480, 300), 3}, {QSize(240, 150), 2}, {QSize(160, 100), 1}}) {
        QImage canvas(size, QImage::Format_RGB32);
        QPainter painter(&canvas);
        EXPECT_EQ(monvid::drawLostBadge(painter, canvas.rect(), lines), expected)
            << size.width() << "x" << size.height();
    }
    window_->OnClose();
}

TEST_F(WallTest, AServerThatAcceptsAndSaysNothingIsATimeOut) {
    // A camera whose RTSP service hangs: connections are taken and never answered. FFmpeg
    // gives up after the socket's time-out with its "invalid data" code; the badge says the
    // input timed out, as it did when the same camera stalled while playing.
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    ASSERT_EQ(listen(listener, 8), 0);  // the kernel takes the connection; nobody answers
    play(window_, "rtsp://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/live");
    ASSERT_TRUE(waitUntil([&] { return window_->linkLoss().lost; }, 30000));
    EXPECT_EQ(window_->linkLoss().reason, monvid::LossReason::TimedOut)
        << lines(window_->badgeText());
    window_->OnClose();
    close(listener);
}

TEST_F(WallTest, TheBadgeNamesANextTryOnlyWhileOneIsComing) {
    play(window_, deadRtsp());
    ASSERT_TRUE(waitUntil([&] { return window_->linkLoss().retrying; }, 5000));
    // Each try of a refused address ends at once: a badge read at any moment names a next
    // try that is still ahead (a second's leeway for the reading itself).
    for (int i = 0; i < 50; ++i) {
        const monvid::LinkLoss loss = window_->linkLoss();
        if (loss.retrying) {
            EXPECT_GT(loss.nextTry, std::chrono::system_clock::now() - std::chrono::seconds(1));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // Replay goes off while the thread waits for its next try: it gives up, and the badge
    // stops promising one.
    window_->m_bReplay = false;
    EXPECT_TRUE(waitUntil([&] { return window_->liveThreadCount() == 0; }, 5000));
    EXPECT_FALSE(window_->linkLoss().retrying);
    EXPECT_TRUE(window_->linkLoss().lost);
    EXPECT_EQ(window_->badgeText().size(), 2) << lines(window_->badgeText());
    window_->OnClose();
}

TEST_F(WallTest, LiveLossShowsTheBadgeFromTheLastPictureAndTheFirstPictureClearsIt) {
    testsupport::RtspServer server;
    play(window_, server.url("live"));
    ASSERT_TRUE(waitUntil([&] { return window_->m_counters.shown.load() >= 10; }, 20000));
    EXPECT_TRUE(window_->badgeText().isEmpty());

    const auto beforeStop = std::chrono::system_clock::now();
    server.stop();
    QElapsedTimer sinceStop;
    sinceStop.start();
    // Seen within a few seconds (a closed connection at once, silence after 4 s).
    ASSERT_TRUE(waitUntil([&] { return window_->linkLoss().lost; }, 8000));
    std::printf("badge up %lld ms after the server stopped\n",
                static_cast<long long>(sinceStop.elapsed()));
    const monvid::LinkLoss loss = window_->linkLoss();
    // Lost since the last picture, which came before the server went.
    EXPECT_LE(loss.since, beforeStop + std::chrono::milliseconds(200));
    EXPECT_GE(loss.since, beforeStop - std::chrono::seconds(2));
    EXPECT_TRUE(loss.retrying);

    ASSERT_TRUE(server.start());
    const auto before = window_->m_counters.shown.load();
    ASSERT_TRUE(waitUntil([&] { return window_->m_counters.shown.load() >= before + 5; }, 30000));
    ASSERT_TRUE(waitUntil(
        [&] { return window_->m_stTitle->bkColor() == CColorStaticST::kInactiveBk; }, 2000));
    EXPECT_TRUE(window_->badgeText().isEmpty());
    window_->OnClose();
}

TEST_F(WallTest, SixteenWindowsOnADeadAddressBackOff) {
    std::vector<CShowVideoDlg*> windows;
    for (int i = 0; i < 16; ++i) {
        auto* w = new CShowVideoDlg(holder_.get());
        w->setGeometry((i % 4) * 100, (i / 4) * 75, 100, 75);
        w->show();
        windows.push_back(w);
    }
    ASSERT_TRUE(waitUntil(
        [&] {
            return std::all_of(windows.begin(), windows.end(),
                               [](CShowVideoDlg* w) { return w->isShownForPlay(); });
        },
        2000));
    const std::string dead = deadRtsp();
    for (auto* w : windows)
        play(w, dead);
    auto totalRuns = [&] {
        std::uint64_t n = 0;
        for (auto* w : windows)
            n += w->m_counters.runs.load();
        return n;
    };
    // Runs at once, at once again, then within a second: three each.
    ASSERT_TRUE(waitUntil(
        [&] {
            return std::all_of(windows.begin(), windows.end(),
                               [](CShowVideoDlg* w) { return w->m_counters.runs.load() >= 3; });
        },
        10000));
    // The next ones wait 1-2 s and then 2-4 s (half a step to a step): in the following 3 s
    // each window tries at most twice more, whatever the load of the machine (waits are
    // never shorter).
    const auto runsAtThree = totalRuns();
    QElapsedTimer timer;
    timer.start();
    testsupport::pumpFor(3000);
    const auto newRuns = totalRuns() - runsAtThree;
    std::printf("16 windows on a dead address: %llu attempts in %.1f s\n",
                static_cast<unsigned long long>(newRuns), timer.elapsed() / 1000.0);
    EXPECT_LE(newRuns, 32u);
    // Closing ends every wait at once.
    timer.restart();
    for (auto* w : windows)
        w->OnClose();
    EXPECT_LT(timer.elapsed(), 16 * 1000);
    for (auto* w : windows)
        EXPECT_EQ(w->liveThreadCount(), 0);
}

TEST_F(WallTest, HealthOverlayFiguresMatchAStreamOfKnownRate) {
    const std::string clip = mediaPath("video_only.mp4");  // 352 × 288, 25 a second, 4 s
    window_->SetHealthOverlay(true);
    play(window_, clip);
    ASSERT_TRUE(waitUntil([&] { return window_->m_counters.shown.load() >= 10; }, 10000));
    window_->refreshHealth();
    QElapsedTimer timer;
    timer.start();
    // Two seconds in the middle of the clip (the overlay's own timer samples too).
    testsupport::pumpFor(2000);
    window_->refreshHealth();
    const monvid::HealthFigures f = window_->healthFigures();
    std::printf("shown %.1f/s, received %.1f/s, %.0f kbit/s\n", f.shownPerSecond,
                f.receivedPerSecond, f.kilobitsPerSecond);
    EXPECT_NEAR(f.shownPerSecond, 25.0, 4.0);
    EXPECT_NEAR(f.receivedPerSecond, 25.0, 4.0);
    const double fileKbps = std::filesystem::file_size(clip) * 8.0 / 4.0 / 1000.0;
    EXPECT_GT(f.kilobitsPerSecond, fileKbps * 0.5);
    EXPECT_LT(f.kilobitsPerSecond, fileKbps * 1.5);
    EXPECT_EQ(f.facts.codec, "h264");
    EXPECT_EQ(f.facts.width, 352);
    EXPECT_EQ(f.facts.height, 288);
    EXPECT_EQ(f.latencyMs, -1) << "a stored file has no lateness";
    EXPECT_EQ(f.droppedLate, 0u) << "stored files are never dropped for lateness";

    // The picture is painted at the area's size; capture still sees the stream's size.
    EXPECT_EQ(window_->shownPicture().size(), window_->m_videoArea->size());
    EXPECT_EQ(window_->currentPicture().size(), QSize(352, 288));

    // The right-click menu switches the overlay off and on.
    std::unique_ptr<QMenu> menu(window_->makeContextMenu(nullptr));
    ASSERT_EQ(menu->actions().size(), 1);
    QAction* toggle = menu->actions().first();
    EXPECT_TRUE(toggle->isChecked());
    toggle->trigger();
    EXPECT_FALSE(window_->healthOverlay());
    toggle->trigger();
    EXPECT_TRUE(window_->healthOverlay());
    window_->OnClose();
}

namespace {

// A window without widgets for a run driven directly: converts at the stream's size and
// stalls its play thread once, for stallMs, when the given picture arrives.
class StallingWindow : public IPlayWindow {
  public:
    StallingWindow(int maxDelayMs, std::uint64_t stallAt, int stallMs)
        : maxDelayMs_(maxDelayMs), stallAt_(stallAt), stallMs_(stallMs) {}

    bool isShownForPlay() const override { return true; }
    bool isPlaying() const override { return playing_.load(); }
    bool stopRequested() const override { return false; }
    void setPlayingFromRun(const std::atomic<bool>& quit, bool value) override {
        if (!quit.load() && !stopped_.load())
            playing_.store(value);
    }
    QSize pictureTarget() const override { return {}; }
    bool offerPicture(QImage& picture, const AVFrame*) override {
        const auto n = counters_.shown.fetch_add(1) + 1;
        last_ = picture;
        if (n == stallAt_) {
            stallEnded_.store(false);
            std::this_thread::sleep_for(std::chrono::milliseconds(stallMs_));
            stallEnded_.store(true);
        }
        if (stallEnded_.load() && n > stallAt_ && counters_.latencyUs.load() <= 500'000 &&
            !caughtUpAt_.load())
            caughtUpAt_.store(n);
        return true;
    }
    void streamOpened(const StreamFacts&) override {}
    void linkRestored() override {}
    int maxDelayMs() const override { return maxDelayMs_; }
    PlayCounters& counters() override { return counters_; }

    void stop() {
        stopped_.store(true);
        playing_.store(false);
    }
    std::atomic<std::uint64_t> caughtUpAt_{0};
    std::atomic<bool> stallEnded_{false};

  private:
    int maxDelayMs_;
    std::uint64_t stallAt_;
    int stallMs_;
    std::atomic<bool> playing_{true};
    std::atomic<bool> stopped_{false};
    PlayCounters counters_;
    QImage last_;
};

}  // namespace

TEST(LatencyCapRun, AStalledPlayThreadCatchesUpByDroppingToAKeyFrame) {
    testsupport::RtspServer server;
    for (const int maxDelay : {500, 0}) {
        SCOPED_TRACE(maxDelay);
        StallingWindow window(maxDelay, 50, 2500);
        CStreamPlayer player(window);
        std::atomic<bool> quit{false};
        std::thread run([&] { player.Play(server.url("live"), quit); });
        const bool stalled =
            testsupport::waitFor([&] { return window.stallEnded_.load(); }, 30000, 10);
        // A few seconds after the stall: caught up with the cap, still behind without.
        const auto shownAfterStall = window.counters().shown.load();
        testsupport::waitFor([&] { return window.counters().shown.load() >= shownAfterStall + 75; },
                             10000, 10);
        const auto latency = window.counters().latencyUs.load();
        const auto droppedLate = window.counters().droppedLate.load();
        window.stop();
        quit = true;
        run.join();
        ASSERT_TRUE(stalled);
        std::printf("max delay %d ms: %llu dropped late, lateness 3 s after the stall %lld ms\n",
                    maxDelay, static_cast<unsigned long long>(droppedLate),
                    static_cast<long long>(latency / 1000));
        if (maxDelay > 0) {
            EXPECT_GT(droppedLate, 0u);
            EXPECT_LE(latency, 500'000);
            EXPECT_GT(window.caughtUpAt_.load(), 0u);
        } else {
            // Without the cap the backlog is decoded and shown, as fast as it decodes.
            EXPECT_EQ(droppedLate, 0u);
        }
    }
}

TEST(PanelText, APanelSizedForItsWidestLineShowsItWhole) {
    // The badge's and the overlay's lines at every size they are drawn in: measured and
    // drawn alike, none is cut in the panel made for it; a narrower panel still cuts.
    const QStringList lines = {QStringLiteral("Reason: connection refused"),
                               QString::fromUtf8("原因：连接被拒绝"),
                               QStringLiteral("Lost since 2026-12-08 23:59:59"),
                               QStringLiteral("Next try: 23:59:59"),
                               QStringLiteral("Shown 24.9 fps, received 25.0 fps, late 541"),
                               QStringLiteral("WWWWWWWWWWWWWWWWWWWWWWWWWWWW"),
                               QStringLiteral("iiiiiiiiiiiiiiiiiiiiiiiiiiii")};
    for (int pixels = 9; pixels <= 22; ++pixels) {
        QFont font;
        font.setPixelSize(pixels);
        const int width = monvid::widestLine(font, lines);
        for (const QString& line : lines)
            EXPECT_EQ(monvid::fittedLine(font, line, width), line)
                << pixels << " px: " << line.toStdString();
        EXPECT_NE(monvid::fittedLine(font, lines[5], width / 2), lines[5]);
    }
}
