// bench_player: the cost of one video window.
//
//  1. CPU time per presented picture of a 1280 × 720, 25 fps file played in one window,
//     against `ffmpeg -i FILE -f null -` decoding the same file, both measured in this run.
//  2. Time from StartPlay to the first picture for a live RTSP stream on 127.0.0.1.
//
// Usage: bench_player [--seconds N] [--rtsp-runs N]
#include <sys/resource.h>
#include <sys/wait.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ShowVideoDlg.h"
#include "support/media.h"
#include "support/process.h"
#include "support/servers.h"

namespace {

double cpuSeconds(const rusage& r) {
    return r.ru_utime.tv_sec + r.ru_stime.tv_sec + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

double selfCpuSeconds() {
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return cpuSeconds(r);
}

double childrenCpuSeconds() {
    rusage r{};
    getrusage(RUSAGE_CHILDREN, &r);
    return cpuSeconds(r);
}

// Runs the event loop, sleeping between events, until `until` holds or the time is up.
void pump(const std::function<bool()>& until, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!until() && t.elapsed() < timeoutMs) {
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    int seconds = 10, rtspRuns = 5;
    for (int i = 1; i + 1 < argc; ++i) {
        if (!std::strcmp(argv[i], "--seconds"))
            seconds = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--rtsp-runs"))
            rtspRuns = std::atoi(argv[i + 1]);
    }

    testsupport::TempDir dir;
    const std::string clip = dir.file("720p25.mp4");
    if (!testsupport::makeHdTestClip(clip, seconds)) {
        std::fprintf(stderr, "bench_player: cannot make the clip\n");
        return 1;
    }
    const int pictures = seconds * 25;

    // Baseline: FFmpeg's own decode of the same file, as fast as it goes.
    const double childBefore = childrenCpuSeconds();
    testsupport::runCommand(
        {"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-i", clip, "-f", "null", "-"},
        300000);
    const double ffmpegCpu = childrenCpuSeconds() - childBefore;

    // One window playing the file at its own speed.
    QWidget holder;
    holder.resize(640, 380);
    auto* window = new CShowVideoDlg(&holder);
    window->setGeometry(0, 0, 640, 380);
    window->m_bReplay = false;
    holder.show();
    pump([&] { return window->isShownForPlay(); }, 2000);
    const double cpuBefore = selfCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    window->setUrl(clip);
    window->StartPlay();
    pump([&] { return window->liveThreadCount() == 0; }, (seconds + 30) * 1000);
    const double wallSeconds = wall.elapsed() / 1000.0;
    const double windowCpu = selfCpuSeconds() - cpuBefore;
    const auto shown = window->m_counters.shown.load();
    const auto dropped = window->m_counters.dropped.load();

    std::printf("1280x720 25 fps, %d pictures (%d s)\n", pictures, seconds);
    std::printf(
        "  window:  %.3f s CPU over %.1f s wall, %llu shown, %llu dropped, %.2f ms CPU per "
        "picture\n",
        windowCpu, wallSeconds, static_cast<unsigned long long>(shown),
        static_cast<unsigned long long>(dropped), shown ? windowCpu * 1000 / shown : 0.0);
    std::printf("  ffmpeg -f null: %.3f s CPU, %.2f ms CPU per picture\n", ffmpegCpu,
                ffmpegCpu * 1000 / pictures);
    std::printf("  ratio window / ffmpeg CPU per picture: %.2f\n",
                shown && ffmpegCpu > 0 ? (windowCpu / shown) / (ffmpegCpu / pictures) : 0.0);

    // Time to the first picture of a live RTSP stream.
    testsupport::RtspServer server;
    std::vector<double> firstMs;
    for (int run = 0; run < rtspRuns; ++run) {
        const auto before = window->m_counters.shown.load();
        window->setUrl(server.url("live"));
        QElapsedTimer t;
        t.start();
        window->StartPlay();
        pump([&] { return window->m_counters.shown.load() > before; }, 20000);
        firstMs.push_back(t.elapsed());
        window->OnClose();
    }
    std::sort(firstMs.begin(), firstMs.end());
    std::printf(
        "RTSP live 320x240 on 127.0.0.1, StartPlay to first picture over %d runs: median %.0f ms, "
        "min %.0f ms, max %.0f ms\n",
        rtspRuns, firstMs[firstMs.size() / 2], firstMs.front(), firstMs.back());
    return 0;
}
