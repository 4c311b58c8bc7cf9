// CPU per shown picture of file play in a window, in one run on one private Xvfb:
//   zelplay     the record played by zelplay in a 960 x 540 window
//   decode      libavcodec decoding the same access units alone (the floor)
//   ffplay      an MP4 of the same frames, 960 x 540 window
//   gstreamer   the same MP4 through avdec_h264 into a 960 x 540 ximagesink
// and the time from ZelPlay_SetPlayPos to the first picture at the new place.
//
//   bench_zelplay [seconds=10] [seeks=10]
//
// The players' figures are their whole process's CPU (user + system) over the pictures of
// the file.

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "../engine/bench_media.h"
#include "zelplay.h"

using namespace enginebench;

namespace {

constexpr int kWidth = 1920, kHeight = 1080;

struct ChildCost {
    int exitCode = -1;
    double cpuSeconds = 0;
    double wallSeconds = 0;
};

// Runs argv to its end (killed after timeoutS); its CPU from wait4.
ChildCost runChild(const std::vector<std::string>& argv, double timeoutS) {
    ChildCost cost;
    const double t0 = nowSeconds();
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        freopen("/dev/null", "w", stdout);
        freopen("/dev/null", "w", stderr);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, WNOHANG, &usage) == 0) {
        if (nowSeconds() - t0 > timeoutS)
            kill(pid, SIGKILL);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    cost.wallSeconds = nowSeconds() - t0;
    cost.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    cost.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                      static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return cost;
}

bool writeRecord(const std::string& path, const std::vector<Unit>& units) {
    custommp4_t* h = custommp4_open(path.c_str(), CUSTOMMP4_MODE_CREATE, 0);
    if (h == nullptr)
        return false;
    bool ok = custommp4_set_start_time(h, 1700000000) == 1 &&
              custommp4_set_video_format(h, kWidth, kHeight, 25.0f, 4 << 20, "H264") == 1;
    for (size_t i = 0; ok && i < units.size(); ++i) {
        ok = custommp4_write_video_frame(
                 h, units[i].bytes.data(), static_cast<int>(units[i].bytes.size()),
                 static_cast<uint32_t>(i * 40), units[i].startsWithSps ? 3 : 1) == 1;
    }
    int error = 0;
    return custommp4_close_checked(h, &error) == 1 && ok;
}

bool writeMp4(const std::string& dir, const std::vector<Unit>& units, const std::string& out) {
    const std::string es = dir + "/frames.h264";
    {
        std::ofstream f(es, std::ios::binary);
        for (const auto& u : units)
            f.write(reinterpret_cast<const char*>(u.bytes.data()),
                    static_cast<std::streamsize>(u.bytes.size()));
    }
    return runChild({"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-y", "-r", "25",
                     "-i", es, "-c", "copy", out},
                    120)
               .exitCode == 0;
}

// Time from ZelPlay_SetPlayPos to the first picture at the new place, in ms (median).
struct SeekProbe {
    std::atomic<int32_t> lastStamp{-1};
    std::atomic<int> pictures{0};
    static void callback(ZELPLAY_PORT, const uint8_t*, int32_t, const ZELPLAY_FRAME_INFO* info,
                         ZELPLAY_USER user) {
        auto* self = reinterpret_cast<SeekProbe*>(user);
        if (info->type == ZELPLAY_FRAME_TYPE_YV12) {
            self->lastStamp.store(info->timeStamp);
            self->pictures.fetch_add(1);
        }
    }
};

double seekToPictureMs(const std::string& record, int seeks, double* worst) {
    ZELPLAY_PORT port = 0;
    ZelPlay_GetPort(&port);
    ZelPlay_SetPlayMode(port, ZELPLAY_MODE_FILE);
    ZelPlay_OpenFile(port, record.c_str());
    SeekProbe probe;
    ZelPlay_SetDecCallBack(port, SeekProbe::callback, reinterpret_cast<ZELPLAY_USER>(&probe));
    ZelPlay_Play(port, 0);
    const uint32_t duration = ZelPlay_GetFileTime(port);
    std::vector<double> ms;
    for (int i = 0; i < seeks; ++i) {
        while (probe.pictures.load() < 3)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        // Alternate between two places far apart, so every seek moves.
        const float target = i % 2 ? 0.2f : 0.7f;
        const int32_t lowest = static_cast<int32_t>(target * duration) - 1700;
        const int32_t highest = static_cast<int32_t>(target * duration) + 100;
        const double t0 = nowSeconds();
        ZelPlay_SetPlayPos(port, target);
        for (;;) {
            const int32_t s = probe.lastStamp.load();
            if (s >= lowest && s <= highest)
                break;
            if (nowSeconds() - t0 > 10)
                break;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        ms.push_back((nowSeconds() - t0) * 1000);
        probe.pictures.store(0);
    }
    ZelPlay_Stop(port);
    ZelPlay_FreePort(port);
    std::sort(ms.begin(), ms.end());
    *worst = ms.back();
    return ms[ms.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);  // nothing buffered is copied into the children
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    const int seeks = argc > 2 ? std::atoi(argv[2]) : 10;
    const int frames = seconds * 25;
    char tmpl[] = "/tmp/bench_zelplay.XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    std::printf("encoding %d frames of %d x %d ...\n", frames, kWidth, kHeight);
    const std::vector<Unit> units = encode(kWidth, kHeight, frames, 25, "veryfast");
    const std::string record = dir + "/bench.ifv", mp4 = dir + "/bench.mp4";
    if (!writeRecord(record, units) || !writeMp4(dir, units, mp4)) {
        std::fprintf(stderr, "cannot write the media\n");
        return 1;
    }

    // A private X server for the players.
    int display = 700 + getpid() % 200;
    while (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(display)))
        ++display;
    const std::string name = ":" + std::to_string(display);
    const pid_t xvfb = fork();
    if (xvfb == 0) {
        freopen("/dev/null", "w", stderr);
        execlp("Xvfb", "Xvfb", name.c_str(), "-screen", "0", "1280x720x24", "-nolisten", "tcp",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    while (!std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(display)))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    setenv("DISPLAY", name.c_str(), 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);

    DirectDecoder decoder;
    const double c0 = processCpuSeconds();
    int decoded = 0;
    for (const Unit& u : units)
        decoded += decoder.decode(u.bytes) ? 1 : 0;
    const double decodeCpu = processCpuSeconds() - c0;

    const ChildCost zel =
        runChild({ZELPLAY_EXE, "--no-progress", "--size", "960x540", record}, seconds * 4 + 30);
    const ChildCost ffplay = runChild({"ffplay", "-nostats", "-loglevel", "quiet", "-autoexit",
                                       "-an", "-x", "960", "-y", "540", mp4},
                                      seconds * 4 + 30);
    const ChildCost gst =
        runChild({"gst-launch-1.0", "-q", "filesrc", "location=" + mp4, "!", "qtdemux", "!",
                  "h264parse", "!", "avdec_h264", "max-threads=1", "!", "videoconvert", "!",
                  "videoscale", "!", "video/x-raw,width=960,height=540", "!", "ximagesink"},
                 seconds * 4 + 30);
    double worst = 0;
    const double seekMs = seekToPictureMs(record, seeks, &worst);

    auto line = [&](const char* what, const ChildCost& c) {
        if (c.exitCode != 0) {
            std::printf("  %-34s failed (exit %d)\n", what, c.exitCode);
            return;
        }
        const double perPicture = c.cpuSeconds * 1000 / frames;
        std::printf("  %-34s %7.2f ms CPU per picture  (%.2fx decode alone; wall %.1f s)\n", what,
                    perPicture, perPicture / (decodeCpu * 1000 / decoded), c.wallSeconds);
    };
    std::printf("\n%d pictures of %d x %d at 25 fps, window 960 x 540:\n", frames, kWidth, kHeight);
    std::printf("  %-34s %7.2f ms CPU per picture\n", "libavcodec decode alone",
                decodeCpu * 1000 / decoded);
    line("zelplay (record)", zel);
    line("ffplay (MP4)", ffplay);
    line("gst-launch avdec_h264 ximagesink", gst);
    std::printf("  ZelPlay_SetPlayPos to first picture: median %.1f ms, worst %.1f ms (%d seeks)\n",
                seekMs, worst, seeks);

    kill(xvfb, SIGTERM);
    waitpid(xvfb, nullptr, 0);
    std::filesystem::remove_all(dir);
    return 0;
}
