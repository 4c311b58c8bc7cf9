// bench_wall_cpu: CPU per shown picture of the wall on an X server (a private Xvfb), against
// decode-only of the same file, GStreamer and mpv showing it at the same window size, all
// measured in this run:
//
//   - one 1280 × 720, 25 fps file in one cell whose video area is 640 × 360;
//   - sixteen cells of 640 × 360 showing the same file each.
//
// Every subject is a child process (the wall runs as this program with --play), so its CPU is
// what wait4 reports for it. CPU per picture is the difference between a long and a short clip
// divided by the difference in pictures, so that start-up and shut-down do not count; each
// figure is the least of several runs, which go round the subjects in turn. Decoders are held to
// one thread everywhere.
//
// Usage: bench_wall_cpu [--short S] [--long L] [--runs N] [--cells-only 1|16]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "Mydlg.h"
#include "support/media.h"
#include "support/process.h"

namespace {

constexpr int kCellWidth = 640, kCellHeight = 360;

double childrenCpu() {
    rusage r{};
    getrusage(RUSAGE_CHILDREN, &r);
    return r.ru_utime.tv_sec + r.ru_stime.tv_sec + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

double processCpu(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t close = all.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream rest(all.substr(close + 2));
    std::string field;
    unsigned long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14)
            utime = std::stoul(field);
        if (i == 15)
            stime = std::stoul(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The wall as a child: `cells` windows with 640 × 360 video areas, each playing `clip` once.
int playWall(int argc, char** argv, const std::string& clip, int cells) {
    QApplication app(argc, argv);
    CMydlg wall(nullptr);
    const int columns = cells == 1 ? 1 : 4;
    const int rows = cells == 1 ? 1 : 4;
    wall.resize(columns * kCellWidth, rows * (kCellHeight + CShowVideoDlg::kTitleHeight));
    wall.LayoutWindows(cells);
    wall.SetReplayAll(false);
    wall.show();
    // The event loop runs as in a host; a slow timer looks for the end.
    auto allEnded = [&] {
        for (int i = 0; i < cells; ++i)
            if (wall.window(i)->liveThreadCount())
                return false;
        return true;
    };
    QTimer look;
    look.setInterval(250);
    bool started = false;
    QObject::connect(&look, &QTimer::timeout, [&] {
        if (!started && wall.window(cells - 1)->isShownForPlay()) {
            started = true;
            for (int i = 0; i < cells; ++i) {
                wall.window(i)->setUrl(clip);
                wall.window(i)->StartPlay();
            }
        } else if (started && allEnded()) {
            app.quit();
        }
    });
    look.start();
    app.exec();
    unsigned long long shown = 0, dropped = 0;
    for (int i = 0; i < cells; ++i) {
        // (Checked for null: GCC 12 at -O3 otherwise warns of a write through it.)
        if (const CShowVideoDlg* window = wall.window(i); window != nullptr) {
            shown += window->m_counters.shown.load();
            dropped += window->m_counters.dropped.load();
        }
    }
    const QSize area = wall.window(0)->m_videoArea->size();
    std::printf("shown=%llu dropped=%llu area=%dx%d\n", shown, dropped, area.width(),
                area.height());
    return 0;
}

struct Subject {
    std::string name;
    // The commands of one run of `clip`, started together.
    std::function<std::vector<std::vector<std::string>>(const std::string& clip)> commands;
};

struct Cost {
    double cpu = 0;
    double serverCpu = 0;
};

// Runs the commands together to their end; CPU of the children and of the X server.
Cost runOnce(const std::vector<std::vector<std::string>>& commands, pid_t server,
             const std::string& log) {
    const double c0 = childrenCpu(), s0 = processCpu(server);
    std::vector<std::unique_ptr<testsupport::ChildProcess>> children;
    for (size_t i = 0; i < commands.size(); ++i)
        children.push_back(
            std::make_unique<testsupport::ChildProcess>(commands[i], i == 0 ? log : std::string()));
    for (auto& c : children)
        c->wait(900000);
    return {childrenCpu() - c0, processCpu(server) - s0};
}

// Xvfb on a display of its own choosing, large enough for the sixteen cells.
std::unique_ptr<testsupport::ChildProcess> startXvfb(const testsupport::TempDir& dir) {
    const std::string numberFile = dir.file("display");
    auto x = std::make_unique<testsupport::ChildProcess>(std::vector<std::string>{
        "sh", "-c",
        "exec Xvfb -displayfd 3 -screen 0 2600x1600x24 -nolisten tcp -noreset 3>" + numberFile});
    for (int i = 0; i < 200; ++i) {
        std::ifstream in(numberFile);
        std::string number;
        if (in >> number) {
            setenv("DISPLAY", (":" + number).c_str(), 1);
            return x;
        }
        usleep(50000);
    }
    return nullptr;
}

std::string makeClip(const testsupport::TempDir& dir, int seconds) {
    const std::string clip = dir.file("720p_" + std::to_string(seconds) + "s.mp4");
    return testsupport::makeHdTestClip(clip, seconds) ? clip : std::string();
}

}  // namespace

int main(int argc, char** argv) {
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    int shortSeconds = 2, longSeconds = 8, runs = 3, only = 0;
    for (int i = 1; i + 1 < argc; ++i) {
        if (!std::strcmp(argv[i], "--play"))
            return playWall(argc, argv, argv[i + 1], i + 2 < argc ? std::atoi(argv[i + 2]) : 1);
        if (!std::strcmp(argv[i], "--short"))
            shortSeconds = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--long"))
            longSeconds = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--runs"))
            runs = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--cells-only"))
            only = std::atoi(argv[i + 1]);
    }
    testsupport::TempDir dir;
    const auto xvfb = startXvfb(dir);
    if (!xvfb) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    const pid_t server = xvfb->pid();
    const std::string shortClip = makeClip(dir, shortSeconds);
    const std::string longClip = makeClip(dir, longSeconds);
    if (shortClip.empty() || longClip.empty()) {
        std::fprintf(stderr, "ffmpeg could not make the clips\n");
        return 2;
    }
    const double pictureDiff = 25.0 * (longSeconds - shortSeconds);
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
        return 2;

    const std::string size = std::to_string(kCellWidth) + "x" + std::to_string(kCellHeight);
    for (const int cells : {1, 16}) {
        if (only && only != cells)
            continue;
        auto times = [cells](std::vector<std::string> argv) {
            return std::vector<std::vector<std::string>>(static_cast<size_t>(cells), argv);
        };
        const std::vector<Subject> subjects = {
            {"decode only: ffmpeg -threads 1 -i CLIP -f null -",
             [&](const std::string& clip) {
                 return times({"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin",
                               "-threads", "1", "-i", clip, "-an", "-f", "null", "-"});
             }},
            // The wall plays at the file's pace, with the caches going cold between
            // pictures; this is the same decode at that pace.
            {"decode only at the file's pace: ffmpeg -re -threads 1 -i CLIP -f null -",
             [&](const std::string& clip) {
                 return times({"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-re",
                               "-threads", "1", "-i", clip, "-an", "-f", "null", "-"});
             }},
            {"wall: bench_wall_cpu --play CLIP " + std::to_string(cells),
             [&](const std::string& clip) {
                 return std::vector<std::vector<std::string>>{
                     {self, "--play", clip, std::to_string(cells)}};
             }},
            {"gst-launch-1.0 ... avdec_h264 max-threads=1 ! videoconvert ! videoscale ! "
             "ximagesink",
             [&](const std::string& clip) {
                 return times({"gst-launch-1.0",
                               "-q",
                               "filesrc",
                               "location=" + clip,
                               "!",
                               "qtdemux",
                               "!",
                               "h264parse",
                               "!",
                               "avdec_h264",
                               "max-threads=1",
                               "!",
                               "videoconvert",
                               "!",
                               "videoscale",
                               "!",
                               "video/x-raw,width=" + std::to_string(kCellWidth) +
                                   ",height=" + std::to_string(kCellHeight),
                               "!",
                               "ximagesink",
                               "qos=false",
                               "max-lateness=-1"});
             }},
            {"mpv --vo=x11 --hwdec=no --vd-lavc-threads=1 --framedrop=no --geometry=" + size,
             [&](const std::string& clip) {
                 return times({"mpv", "--no-config", "--really-quiet", "--no-terminal", "--vo=x11",
                               "--hwdec=no", "--vd-lavc-threads=1", "--no-audio", "--osc=no",
                               "--framedrop=no", "--geometry=" + size, clip});
             }},
        };
        std::printf(
            "\n%d cell%s of %s, 1280x720 25 fps, clips of %d s and %d s, least of %d "
            "runs\n",
            cells, cells == 1 ? "" : "s", size.c_str(), shortSeconds, longSeconds, runs);
        // The runs go round the subjects in turn, so that a slow spell of a shared machine
        // falls on all of them alike rather than on one.
        std::vector<double> perPicture(subjects.size(), 1e9), serverPerPicture(subjects.size());
        for (int r = 0; r < runs; ++r) {
            for (size_t k = 0; k < subjects.size(); ++k) {
                const Subject& s = subjects[k];
                const std::string log = dir.file("wall.log");
                const Cost a = runOnce(s.commands(shortClip), server, log);
                std::remove(log.c_str());  // what the long clip's run says, alone
                const Cost b = runOnce(s.commands(longClip), server, log);
                const double ms = (b.cpu - a.cpu) * 1000 / (pictureDiff * cells);
                if (ms < perPicture[k]) {
                    perPicture[k] = ms;
                    serverPerPicture[k] =
                        (b.serverCpu - a.serverCpu) * 1000 / (pictureDiff * cells);
                }
                std::ifstream in(log);
                for (std::string line; std::getline(in, line);)
                    if (line.rfind("shown=", 0) == 0)
                        std::printf("    (wall, long clip, run %d: %s)\n", r + 1, line.c_str());
                std::remove(log.c_str());
                std::fflush(stdout);
            }
        }
        for (size_t k = 0; k < subjects.size(); ++k)
            std::printf("  %-96s %6.3f ms CPU/picture (X server %.3f)\n", subjects[k].name.c_str(),
                        perPicture[k], serverPerPicture[k]);
        const double wall = perPicture[2];
        const double leaner = std::min(perPicture[3], perPicture[4]);
        std::printf("  wall / decode-only: %.2f (goal %.2f)   wall / paced decode-only: %.2f\n",
                    wall / perPicture[0], cells == 1 ? 1.35 : 1.2, wall / perPicture[1]);
        std::printf(
            "  wall / GStreamer: %.2f   wall / mpv: %.2f   wall / leaner peer: %.2f (goal "
            "0.67)\n",
            wall / perPicture[3], wall / perPicture[4], wall / leaner);
    }
    return 0;
}
