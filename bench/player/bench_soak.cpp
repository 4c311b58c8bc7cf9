// bench_soak: sixteen live windows for a long time, with the RTSP server restarted now and then.
// Not run by ctest. Every --sample-seconds the process's threads, open descriptors and resident
// memory are sampled; at the end the first and last samples and the largest of each are
// printed, and every cell is checked to be moving (showing new pictures).
//
// Usage: bench_soak [--minutes 60] [--restart-minutes 10] [--sample-seconds 10]
#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Mydlg.h"
#include "support/process.h"
#include "support/servers.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Sample {
    double atMin;
    int threads;
    int fds;
    long rssKiB;
};

void pumpFor(double seconds) {
    const auto until = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < until) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    QApplication app(argc, argv);
    double minutes = 60, restartMinutes = 10, sampleSeconds = 10;
    for (int i = 1; i + 1 < argc; ++i) {
        if (!std::strcmp(argv[i], "--minutes"))
            minutes = std::atof(argv[i + 1]);
        if (!std::strcmp(argv[i], "--restart-minutes"))
            restartMinutes = std::atof(argv[i + 1]);
        if (!std::strcmp(argv[i], "--sample-seconds"))
            sampleSeconds = std::atof(argv[i + 1]);
    }
    const int lifetime = static_cast<int>(minutes * 60) + 300;
    testsupport::RtspServer server({}, lifetime);

    CMydlg wall(nullptr);
    wall.resize(1280, 720);
    wall.LayoutWindows(16);
    wall.SetReplayAll(true);
    wall.show();
    pumpFor(1);
    for (int i = 0; i < 16; ++i) {
        wall.window(i)->setUrl(server.url("live"));
        wall.window(i)->StartPlay();
        wall.window(i)->SetHealthOverlay(i % 2 == 0);  // half of them draw the overlay too
    }
    pumpFor(15);

    std::vector<Sample> samples;
    const auto start = Clock::now();
    auto elapsedMin = [&] {
        return std::chrono::duration<double>(Clock::now() - start).count() / 60;
    };
    double nextRestart = restartMinutes;
    int restarts = 0;
    while (elapsedMin() < minutes) {
        samples.push_back({elapsedMin(), testsupport::threadCount(), testsupport::openFdCount(),
                           testsupport::residentKiB()});
        const Sample& s = samples.back();
        std::printf("%6.2f min  threads %3d  descriptors %4d  resident %7ld KiB\n", s.atMin,
                    s.threads, s.fds, s.rssKiB);
        std::fflush(stdout);
        if (restartMinutes > 0 && elapsedMin() >= nextRestart) {
            server.stop();
            server.start();
            ++restarts;
            nextRestart += restartMinutes;
            std::printf("         server restarted\n");
        }
        pumpFor(sampleSeconds);
    }
    // Moving at the end: every cell shows new pictures within 40 s (a restart may just have
    // put a window into its back-off).
    std::vector<unsigned long long> before;
    for (int i = 0; i < 16; ++i)
        before.push_back(wall.window(i)->m_counters.shown.load());
    std::vector<bool> moving(16, false);
    const auto deadline = Clock::now() + std::chrono::seconds(40);
    while (Clock::now() < deadline &&
           !std::all_of(moving.begin(), moving.end(), [](bool m) { return m; })) {
        pumpFor(0.5);
        for (int i = 0; i < 16; ++i)
            moving[i] = moving[i] || wall.window(i)->m_counters.shown.load() > before[i] + 5;
    }

    auto show = [](const char* name, const Sample& s) {
        std::printf("%-8s at %6.2f min: threads %3d  descriptors %4d  resident %7ld KiB\n", name,
                    s.atMin, s.threads, s.fds, s.rssKiB);
    };
    std::printf("\n16 live windows for %.1f min, server restarted %d times, %zu samples\n", minutes,
                restarts, samples.size());
    if (!samples.empty()) {
        show("first", samples.front());
        show("last", samples.back());
        Sample largest{0, 0, 0, 0};
        for (const Sample& s : samples) {
            largest.threads = std::max(largest.threads, s.threads);
            largest.fds = std::max(largest.fds, s.fds);
            largest.rssKiB = std::max(largest.rssKiB, s.rssKiB);
        }
        std::printf("largest:            threads %3d  descriptors %4d  resident %7ld KiB\n",
                    largest.threads, largest.fds, largest.rssKiB);
    }
    int movingCount = 0;
    for (int i = 0; i < 16; ++i)
        movingCount += moving[i];
    std::printf("cells moving at the end: %d of 16\n", movingCount);
    unsigned long long runs = 0;
    for (int i = 0; i < 16; ++i)
        runs += wall.window(i)->m_counters.runs.load();
    std::printf("runs in all: %llu\n", runs);
    for (int i = 0; i < 16; ++i)
        wall.window(i)->OnClose();
    return movingCount == 16 ? 0 : 1;
}
