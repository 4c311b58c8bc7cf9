// Many start/stop cycles of a window leave no thread, descriptor or memory behind.
#include <gtest/gtest.h>

#include "QtTestMain.h"
#include "ShowVideoDlg.h"
#include "support/media.h"
#include "support/process.h"

using testsupport::waitUntil;

namespace {

// Delivers what the runs queued for the GUI thread (repaints, deferred deletions).
void deliverPostedEvents() {
    QCoreApplication::sendPostedEvents(nullptr, 0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

}  // namespace

TEST(StartStopCycles, TwoHundredCyclesLeakNothing) {
    QWidget holder;
    holder.resize(320, 260);
    auto* window = new CShowVideoDlg(&holder);
    window->setGeometry(0, 0, 320, 260);
    holder.show();
    ASSERT_TRUE(waitUntil([&] { return window->isShownForPlay(); }, 2000));
    const std::string clip = testsupport::mediaPath("short.mp4");

    auto cycle = [&](int i) {
        window->m_bReplay = (i % 2) == 0;
        window->setUrl(clip);
        const auto shownBefore = window->m_counters.shown.load();
        window->StartPlay();
        // Some cycles stop at once, some after their first picture.
        if (i % 3 == 0) {
            EXPECT_TRUE(
                waitUntil([&] { return window->m_counters.shown.load() > shownBefore; }, 5000));
        }
        QCoreApplication::processEvents();
        window->OnClose();
    };
    // Warm up: the first runs load codecs and fill caches that stay for the process.
    for (int i = 0; i < 20; ++i)
        cycle(i);
    deliverPostedEvents();
    const int threads = testsupport::threadCount();
    const int fds = testsupport::openFdCount();
    const long rssKiB = testsupport::residentKiB();

    for (int i = 0; i < 200; ++i)
        cycle(i);
    deliverPostedEvents();

    EXPECT_EQ(window->liveThreadCount(), 0);
    // Qt starts and retires a few helper threads (and their wake-up descriptors) of its own
    // as it sees fit, and a joined thread may linger a moment in the process's list; a leak
    // per cycle would show as hundreds and never go away.
    constexpr int kQtSlack = 4;
    waitUntil(
        [&] {
            return testsupport::threadCount() <= threads + kQtSlack &&
                   testsupport::openFdCount() <= fds + kQtSlack;
        },
        10000);
    EXPECT_LE(testsupport::threadCount(), threads + kQtSlack);
    EXPECT_LE(testsupport::openFdCount(), fds + kQtSlack);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // Memory may wobble with the allocator; steady growth per cycle would exceed this. (The
    // sanitizers keep freed memory in quarantine; there their own leak checks do this job.)
    EXPECT_LT(testsupport::residentKiB() - rssKiB, 20 * 1024);
#endif
    std::printf("threads %d -> %d, fds %d -> %d, rss %ld -> %ld KiB\n", threads,
                testsupport::threadCount(), fds, testsupport::openFdCount(), rssKiB,
                testsupport::residentKiB());
}
