// Ports showing live streams in windows: 16 buffered ports (by default), each fed a
// 640 x 360, 25 fps stream in real time and showing it in its own 320 x 180 window on a
// private Xvfb. CPU per shown picture against, in the same run:
//   - decoding the same streams with libavcodec alone (one decoder per stream, one thread,
//     as the engine does), and
//     the same ports playing without windows (the engine's share without drawing);
//   - GStreamer: filesrc ! qtdemux ! h264parse ! avdec_h264 ! videoconvert ! videoscale !
//     320x180 ! ximagesink;
//   - mpv --vo=x11 --hwdec=no in a 320 x 180 window;
// each peer showing the same file (decoders held to one thread like ours). The X server's
// CPU is printed beside each (it does the same copy for everyone). Peers' pictures are
// counted at the nominal 25 fps, so a peer that drops frames looks cheaper than it is.
//
// A shared machine makes single runs swing by a third: every case is measured in each of
// several rounds (the cases taking turns), the least of the rounds is the figure, and the
// range over the rounds is printed beside it. CPU times are read from the processes' CPU
// clocks (nanoseconds), not from the scheduler's 10 ms ticks.
//
//   bench_engine_render [seconds=10] [ports=16] [peer instances=4] [rounds=3]
// With 0 peer instances the peers are left out.

#include <X11/Xlib.h>
#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench_media.h"
#include "vo_select.h"
#include "x11_renderer.h"
#include "zelplay.h"

extern char** environ;

using namespace enginebench;

namespace {

constexpr int kPictureWidth = 640, kPictureHeight = 360;
constexpr int kWindowWidth = 320, kWindowHeight = 180;
constexpr double kWarmUpSeconds = 2.0;

// A child process in its own process group, ended with the object.
class Child {
  public:
    explicit Child(const std::vector<std::string>& argv) {
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", 01, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", 01, 0);
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        posix_spawnattr_setpgroup(&attr, 0);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
        if (posix_spawnp(&pid_, args[0], &actions, &attr, args.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
    }
    ~Child() {
        if (pid_ <= 0)
            return;
        killpg(pid_, SIGTERM);
        for (int i = 0; i < 100 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i)
            usleep(20000);
        killpg(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
};

// CPU seconds a process has used so far (user and system, all its threads), or -1.
double processCpu(pid_t pid) {
    clockid_t clock{};
    timespec t{};
    if (clock_getcpuclockid(pid, &clock) != 0 || clock_gettime(clock, &t) != 0)
        return -1;
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double sleepSeconds(double s) {
    std::this_thread::sleep_for(std::chrono::duration<double>(s));
    return s;
}

// Xvfb on a display number of its own choosing; DISPLAY points at it.
std::unique_ptr<Child> startXvfb() {
    int fds[2];
    if (pipe(fds) != 0)
        return nullptr;
    auto x = std::make_unique<Child>(
        std::vector<std::string>{"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
                                 "1920x1080x24", "-nolisten", "tcp", "-noreset"});
    close(fds[1]);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    char c = 0;
    while (poll(&p, 1, 20000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(fds[0]);
    if (number.empty())
        return nullptr;
    setenv("DISPLAY", (":" + number).c_str(), 1);
    return x;
}

// CPU seconds of this process's live threads, summed by thread name.
std::map<std::string, double> cpuByThreadName() {
    std::map<std::string, double> sums;
    DIR* d = opendir("/proc/self/task");
    if (d == nullptr)
        return sums;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        const std::string base = std::string("/proc/self/task/") + e->d_name;
        std::ifstream comm(base + "/comm"), schedstat(base + "/schedstat");
        std::string name;
        double runNs = 0;
        if (std::getline(comm, name) && schedstat >> runNs)
            sums[name] += runNs / 1e9;
    }
    closedir(d);
    return sums;
}

struct Figure {
    double cpu = 0;        // seconds of CPU in the measured span
    double serverCpu = 0;  // of the X server
    double pictures = 0;
    std::map<std::string, double> threads;  // the span's CPU by thread name (ports only)
    double perPictureMs() const { return pictures > 0 ? cpu * 1000 / pictures : 0; }
    double serverPerPictureMs() const { return pictures > 0 ? serverCpu * 1000 / pictures : 0; }
};

// The same streams decoded by libavcodec alone: one decoder per stream, taken in turn as
// the ports take theirs (so the caches hold as much, or as little, of each).
Figure decodeOnly(const std::vector<Unit>& units, int streams, int frames) {
    Figure f;
    std::vector<std::unique_ptr<DirectDecoder>> decoders;
    for (int i = 0; i < streams; ++i)
        decoders.push_back(std::make_unique<DirectDecoder>());
    const double c0 = processCpuSeconds();
    for (int n = 0; n < frames; ++n) {
        for (auto& d : decoders)
            f.pictures += d->decode(units[static_cast<size_t>(n) % units.size()].bytes) ? 1 : 0;
    }
    f.cpu = processCpuSeconds() - c0;
    return f;
}

// With windows false the ports decode without drawing: the engine's own share.
Figure ports(const std::vector<Unit>& units, int count, double seconds, pid_t server,
             bool windowsOn) {
    std::mutex outputsLock;
    std::vector<zelplay::X11VideoOutput*> outputs;  // owned by the ports
    zelplay::setVideoOutputFactory([&] {
        auto o = std::make_unique<zelplay::X11VideoOutput>(zelplay::VideoBackend::Auto);
        std::lock_guard l(outputsLock);
        outputs.push_back(o.get());
        return o;
    });
    Display* dpy = XOpenDisplay(nullptr);
    std::vector<Window> windows;
    std::vector<ZELPLAY_PORT> handles(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const int screen = DefaultScreen(dpy);
        const Window w =
            XCreateSimpleWindow(dpy, RootWindow(dpy, screen), (i % 5) * (kWindowWidth + 4),
                                (i / 5) * (kWindowHeight + 4), kWindowWidth, kWindowHeight, 0,
                                BlackPixel(dpy, screen), BlackPixel(dpy, screen));
        XMapWindow(dpy, w);
        windows.push_back(w);
    }
    XSync(dpy, False);
    for (int i = 0; i < count; ++i) {
        ZELPLAY_PORT& h = handles[static_cast<size_t>(i)];
        ZelPlay_GetPort(&h);
        ZelPlay_SetPlayMode(h, ZELPLAY_MODE_BUFFERED);
        ZelPlay_SetDelayTime(h, 1, 0);
        ZelPlay_OpenStream(h, 8 << 20);
        ZelPlay_Play(h, windowsOn ? windows[static_cast<size_t>(i)] : 0);
    }
    // The live sources: every 40 ms one frame record to every port.
    std::atomic<bool> feeding{true};
    std::thread feeder([&] {
        const auto start = std::chrono::steady_clock::now();
        for (uint32_t n = 0; feeding.load(); ++n) {
            const auto rec = record(units[n % units.size()], n, 1000);
            for (ZELPLAY_PORT h : handles)
                ZelPlay_InputVideoData(h, rec.data(), static_cast<uint32_t>(rec.size()));
            std::this_thread::sleep_until(start + std::chrono::milliseconds(40 * (n + 1)));
        }
    });
    auto drawn = [&] {
        uint64_t sum = 0;
        std::lock_guard l(outputsLock);
        for (auto* o : outputs)
            sum += o->counters().drawn;
        return sum;
    };
    sleepSeconds(kWarmUpSeconds + 1.0);  // the start delay, then steady play
    Figure f;
    const uint64_t d0 = drawn();
    const double c0 = processCpuSeconds(), s0 = processCpu(server);
    const auto t0 = cpuByThreadName();
    sleepSeconds(seconds);
    f.cpu = processCpuSeconds() - c0;
    f.serverCpu = processCpu(server) - s0;
    f.pictures = static_cast<double>(drawn() - d0);
    f.threads = cpuByThreadName();
    for (auto& [name, cpu] : f.threads)
        cpu -= t0.count(name) != 0 ? t0.at(name) : 0;
    if (!windowsOn)
        f.pictures = 25.0 * seconds * count;  // decoded, at the sources' rate
    feeding.store(false);
    feeder.join();
    for (ZELPLAY_PORT h : handles)
        ZelPlay_FreePort(h);
    zelplay::setVideoOutputFactory({});
    for (Window w : windows)
        XDestroyWindow(dpy, w);
    XCloseDisplay(dpy);
    return f;
}

Figure peers(const std::vector<std::vector<std::string>>& commands, double seconds, pid_t server) {
    std::vector<std::unique_ptr<Child>> children;
    for (const auto& c : commands)
        children.push_back(std::make_unique<Child>(c));
    sleepSeconds(kWarmUpSeconds);
    Figure f;
    std::vector<double> c0;
    for (const auto& c : children)
        c0.push_back(processCpu(c->pid()));
    const double s0 = processCpu(server);
    sleepSeconds(seconds);
    for (size_t i = 0; i < children.size(); ++i) {
        const double now = processCpu(children[i]->pid());
        if (now < 0 || c0[i] < 0)
            std::fprintf(stderr, "peer %zu (%s) is not running\n", i, commands[i][0].c_str());
        else
            f.cpu += now - c0[i];
    }
    f.serverCpu = processCpu(server) - s0;
    f.pictures = 25.0 * seconds * static_cast<double>(children.size());
    return f;
}

// One case's figures over the rounds.
struct Series {
    std::vector<Figure> rounds;
    const Figure& least() const {
        return *std::min_element(
            rounds.begin(), rounds.end(),
            [](const Figure& a, const Figure& b) { return a.perPictureMs() < b.perPictureMs(); });
    }
    double most() const {
        double m = 0;
        for (const Figure& f : rounds)
            m = std::max(m, f.perPictureMs());
        return m;
    }
};

void print(const char* name, const Series& s, const Series& base) {
    const Figure& f = s.least();
    std::printf(
        "%-34s %7.0f pictures  %6.3f ms/picture (%6.3f..%6.3f)  x%5.2f of decode-only  "
        "(X server %6.3f ms/picture)\n",
        name, f.pictures, f.perPictureMs(), f.perPictureMs(), s.most(),
        f.perPictureMs() / base.least().perPictureMs(), f.serverPerPictureMs());
}

// The ratio of two cases' least figures, and its range over the rounds taken pairwise.
void printRatio(const char* name, const Series& a, const std::vector<const Series*>& leaner,
                double goal) {
    auto leanest = [&](size_t round) {
        double m = 1e9;
        for (const Series* s : leaner)
            m = std::min(m, s->rounds[round].perPictureMs());
        return m;
    };
    double least = 1e9, lo = 1e9, hi = 0;
    for (const Series* s : leaner)
        least = std::min(least, s->least().perPictureMs());
    for (size_t r = 0; r < a.rounds.size(); ++r) {
        const double ratio = a.rounds[r].perPictureMs() / leanest(r);
        lo = std::min(lo, ratio);
        hi = std::max(hi, ratio);
    }
    std::printf("%-24s %.2f (rounds %.2f..%.2f; goal <= %.2f)\n", name,
                a.least().perPictureMs() / least, lo, hi, goal);
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    const int count = argc > 2 ? std::atoi(argv[2]) : 16;
    const int peerCount = argc > 3 ? std::atoi(argv[3]) : 4;
    const int roundCount = std::max(1, argc > 4 ? std::atoi(argv[4]) : 3);
    setenv("ZELPLAY_LOG", "off", 0);

    const auto xvfb = startXvfb();
    if (!xvfb) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 2;
    }
    const pid_t server = xvfb->pid();

    // One stream for everyone: encoded once, then the same bit stream in an MP4 for peers.
    const int frames = static_cast<int>((seconds + kWarmUpSeconds + 4) * 25);
    std::printf("encoding %d frames of %dx%d ...\n", frames, kPictureWidth, kPictureHeight);
    const auto units = encode(kPictureWidth, kPictureHeight, frames, 50, "veryfast");
    char folder[] = "/tmp/bench_render_XXXXXX";
    if (mkdtemp(folder) == nullptr)
        return 2;
    const std::string h264 = std::string(folder) + "/s.h264", mp4 = std::string(folder) + "/s.mp4";
    {
        std::ofstream out(h264, std::ios::binary);
        for (const Unit& u : units)
            out.write(reinterpret_cast<const char*>(u.bytes.data()),
                      static_cast<std::streamsize>(u.bytes.size()));
    }
    const std::string mux =
        "ffmpeg -hide_banner -loglevel error -nostdin -y -r 25 -i " + h264 + " -c copy " + mp4;
    if (std::system(mux.c_str()) != 0)
        return 2;

    std::vector<std::vector<std::string>> gst, mpv;
    for (int i = 0; i < peerCount; ++i) {
        gst.push_back({"gst-launch-1.0", "-q", "filesrc", "location=" + mp4, "!", "qtdemux", "!",
                       "h264parse", "!", "avdec_h264", "max-threads=1", "!", "videoconvert", "!",
                       "videoscale", "!",
                       "video/x-raw,width=" + std::to_string(kWindowWidth) +
                           ",height=" + std::to_string(kWindowHeight),
                       "!", "ximagesink"});
        mpv.push_back(
            {"mpv", "--no-config", "--really-quiet", "--no-terminal", "--vo=x11", "--hwdec=no",
             "--vd-lavc-threads=1", "--no-audio", "--osc=no",
             "--geometry=" + std::to_string(kWindowWidth) + "x" + std::to_string(kWindowHeight),
             mp4});
    }

    std::printf("%d ports, %d peer instances, %.0f s measured per case and round, %d rounds\n",
                count, peerCount, seconds, roundCount);
    Series base, bare, ours, g, m;
    for (int r = 0; r < roundCount; ++r) {
        base.rounds.push_back(decodeOnly(units, count, static_cast<int>(seconds * 25)));
        bare.rounds.push_back(ports(units, count, seconds, server, false));
        ours.rounds.push_back(ports(units, count, seconds, server, true));
        if (peerCount > 0) {
            g.rounds.push_back(peers(gst, seconds, server));
            m.rounds.push_back(peers(mpv, seconds, server));
        }
        std::printf("round %d: decode-only %.3f, without windows %.3f, with windows %.3f", r + 1,
                    base.rounds.back().perPictureMs(), bare.rounds.back().perPictureMs(),
                    ours.rounds.back().perPictureMs());
        if (peerCount > 0)
            std::printf(", gst %.3f, mpv %.3f", g.rounds.back().perPictureMs(),
                        m.rounds.back().perPictureMs());
        std::printf(" ms/picture\n");
        for (const Figure* f : {&bare.rounds.back(), &ours.rounds.back()}) {
            std::printf("  %s:", f == &ours.rounds.back() ? "with windows" : "without windows");
            for (const auto& [name, cpu] : f->threads)
                std::printf(" %s %.3f", name.c_str(), cpu * 1000 / f->pictures);
            std::printf(" ms/picture\n");
        }
        std::fflush(stdout);
    }

    std::printf("\nleast of %d rounds (range over the rounds):\n", roundCount);
    print("libavcodec decode only", base, base);
    print("zelplay ports without windows", bare, base);
    print("zelplay ports (window, scaled)", ours, base);
    if (peerCount > 0) {
        print("gst-launch avdec_h264 ! ximagesink", g, base);
        print("mpv --vo=x11 --hwdec=no", m, base);
    }
    std::printf("\n");
    printRatio("zelplay / decode-only:", ours, {&base}, 1.30);
    if (peerCount > 0)
        printRatio("zelplay / leaner peer:", ours, {&g, &m}, 0.67);

    std::remove(h264.c_str());
    std::remove(mp4.c_str());
    rmdir(folder);
    return 0;
}
