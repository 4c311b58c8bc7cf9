// bench_wall: sixteen windows of the wall, each playing its own 640 × 360, 25 fps file, against
// sixteen `ffmpeg -i FILE -f null -` decodes of the same files, both measured in this run.
//
// Usage: bench_wall [--seconds N]
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Mydlg.h"
#include "support/media.h"
#include "support/process.h"

namespace {

double cpuSeconds(int who) {
    rusage r{};
    getrusage(who, &r);
    return r.ru_utime.tv_sec + r.ru_stime.tv_sec + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    QApplication app(argc, argv);
    int seconds = 10;
    for (int i = 1; i + 1 < argc; ++i)
        if (!std::strcmp(argv[i], "--seconds"))
            seconds = std::atoi(argv[i + 1]);

    testsupport::TempDir dir;
    const char* sources[] = {"testsrc2", "mandelbrot", "testsrc", "smptebars"};
    std::vector<std::string> clips;
    for (int i = 0; i < 16; ++i) {
        clips.push_back(dir.file("clip" + std::to_string(i) + ".mp4"));
        const std::string source = std::string(sources[i % 4]) + "=size=640x360:rate=25";
        if (testsupport::runCommand(
                {"ffmpeg",    "-hide_banner", "-loglevel", "error",
                 "-nostdin",  "-y",           "-f",        "lavfi",
                 "-i",        source,         "-t",        std::to_string(seconds),
                 "-c:v",      "libx264",      "-preset",   "veryfast",
                 "-pix_fmt",  "yuv420p",      "-g",        "50",
                 clips.back()},
                300000) != 0) {
            std::fprintf(stderr, "bench_wall: cannot make the clips\n");
            return 1;
        }
    }
    const int picturesPerClip = seconds * 25;

    const double childBefore = cpuSeconds(RUSAGE_CHILDREN);
    for (const auto& clip : clips)
        testsupport::runCommand({"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-i",
                                 clip, "-f", "null", "-"},
                                300000);
    const double ffmpegCpu = cpuSeconds(RUSAGE_CHILDREN) - childBefore;

    CMydlg wall(nullptr);
    wall.resize(1280, 720);
    wall.LayoutWindows(16);
    wall.SetReplayAll(false);
    wall.show();
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    QElapsedTimer wallClock;
    wallClock.start();
    for (int i = 0; i < 16; ++i) {
        wall.window(i)->setUrl(clips[i]);
        wall.window(i)->StartPlay();
    }
    auto allEnded = [&] {
        for (auto* w : wall.m_wndVideo)
            if (w->liveThreadCount())
                return false;
        return true;
    };
    while (!allEnded() && wallClock.elapsed() < (seconds + 60) * 1000) {
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    const double elapsed = wallClock.elapsed() / 1000.0;
    const double wallCpu = cpuSeconds(RUSAGE_SELF) - cpuBefore;
    unsigned long long shown = 0, dropped = 0;
    for (auto* w : wall.m_wndVideo) {
        shown += w->m_counters.shown.load();
        dropped += w->m_counters.dropped.load();
    }

    std::printf("16 windows, 640x360 25 fps, %d pictures each (%d s)\n", picturesPerClip, seconds);
    std::printf(
        "  wall:   %.2f s CPU over %.1f s wall (%.0f%% of one core), %.3f s CPU per window\n",
        wallCpu, elapsed, 100 * wallCpu / elapsed, wallCpu / 16);
    std::printf("          %llu pictures shown of %d, %llu dropped, %.2f ms CPU per picture\n",
                shown, 16 * picturesPerClip, dropped, shown ? wallCpu * 1000 / shown : 0.0);
    std::printf("  ffmpeg -f null x16: %.2f s CPU, %.2f ms CPU per picture\n", ffmpegCpu,
                ffmpegCpu * 1000 / (16.0 * picturesPerClip));
    std::printf("  ratio wall / ffmpeg CPU: %.2f\n", ffmpegCpu > 0 ? wallCpu / ffmpegCpu : 0.0);
    return 0;
}
