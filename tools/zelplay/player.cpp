// zelplay's player: one X11 window, one file port playing into it, keys mapped to the play
// calls, and the end message ending (or restarting) play.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <string>

#include "zelplay_cli.h"

namespace zelplaycli {

namespace {

constexpr uint32_t kEndMessage = 0x0400 + 100;  // any number: it arrives as the message type
constexpr int kRefreshMs = 200;                 // title and progress line
constexpr uint32_t kSeekStepMs = 10000;
constexpr int kDefaultMaxWidth = 960;
constexpr int kDefaultMaxHeight = 540;

std::atomic<bool> g_interrupted{false};

void onSignal(int) {
    g_interrupted.store(true);
}

std::string baseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string speedText(int steps) {
    if (steps >= 0)
        return std::to_string(1 << steps) + "x";
    return "1/" + std::to_string(1 << -steps) + "x";
}

// A window of the picture's shape, at most 960 x 540 unless a size was asked for.
void windowSize(const PlayOptions& o, int pictureWidth, int pictureHeight, int* w, int* h) {
    if (o.width > 0) {
        *w = o.width;
        *h = o.height;
        return;
    }
    *w = pictureWidth > 0 ? pictureWidth : kDefaultMaxWidth;
    *h = pictureHeight > 0 ? pictureHeight : kDefaultMaxHeight;
    const double scale = std::min({1.0, static_cast<double>(kDefaultMaxWidth) / *w,
                                   static_cast<double>(kDefaultMaxHeight) / *h});
    *w = std::max(16, static_cast<int>(*w * scale));
    *h = std::max(16, static_cast<int>(*h * scale));
}

// The port, the window and what the keys changed.
class Player {
  public:
    Player(Display* display, Window window, const std::string& path, const PlayOptions& options)
        : display_(display), window_(window), path_(path), options_(options) {}
    ~Player() { close(); }

    bool open(std::string* error) {
        // The library's log lines and the decoder's messages only when asked for; a caller's
        // own ZELPLAY_LOG stays.
        if (options_.verbose)
            setenv("ZELPLAY_DECODER_LOG", "1", 1);
        else
            setenv("ZELPLAY_LOG", "off", 0);
        if (ZelPlay_GetPort(&port_) != 1) {
            *error = "no port";
            return false;
        }
        if (ZelPlay_SetPlayMode(port_, ZELPLAY_MODE_FILE) != 1 ||
            ZelPlay_SetFileEndMsg(port_, window_, kEndMessage) != 1)
            return fail(error, "cannot set the port up");
        return start(error);
    }

    // Opens the file and plays it from the start.
    bool start(std::string* error) {
        if (ZelPlay_OpenFile(port_, path_.c_str()) != 1)
            return fail(error, "cannot open the file");
        durationMs_ = ZelPlay_GetFileTime(port_);
        // Set before play starts (ZelPlay_Stop clears it), so that no picture goes uncounted.
        ZelPlay_SetDecCallBack(port_, countPicture, reinterpret_cast<ZELPLAY_USER>(this));
        if (ZelPlay_Play(port_, window_) != 1)
            return fail(error, "cannot play the file");
        startSound(port_);
        paused_ = false;
        speedSteps_ = 0;
        for (int i = 0; i < options_.speedSteps; ++i)
            speedSteps_ += ZelPlay_Fast(port_);
        for (int i = 0; i > options_.speedSteps; --i)
            speedSteps_ -= ZelPlay_Slow(port_);
        if (muted_)
            setMuted(port_, true);
        return true;
    }

    // A key; false when it asks to quit.
    bool key(KeySym sym) {
        switch (sym) {
            case XK_q:
            case XK_Q:
            case XK_Escape:
                return false;
            case XK_space:
                paused_ = !paused_;
                ZelPlay_Pause(port_, paused_ ? 1 : 0);
                break;
            case XK_plus:
            case XK_KP_Add:
            case XK_equal:
                // The library changes the speed only while playing.
                if (!paused_ && ZelPlay_Fast(port_) == 1)
                    speedSteps_ = std::min(speedSteps_ + 1, 4);
                break;
            case XK_minus:
            case XK_KP_Subtract:
                if (!paused_ && ZelPlay_Slow(port_) == 1)
                    speedSteps_ = std::max(speedSteps_ - 1, -4);
                break;
            case XK_period:
            case XK_KP_Decimal:
                ZelPlay_OneByOne(port_);
                paused_ = true;
                break;
            case XK_Left:
                seekBy(-static_cast<int64_t>(kSeekStepMs));
                break;
            case XK_Right:
                seekBy(kSeekStepMs);
                break;
            case XK_Home:
                ZelPlay_SetPlayPos(port_, 0.0f);
                break;
            case XK_s:
            case XK_b:
                saveSnapshot(port_, snapshotName(sym == XK_s ? "jpg" : "bmp"), sym == XK_s);
                break;
            case XK_m:
                muted_ = !muted_;
                setMuted(port_, muted_);
                break;
            default:
                break;
        }
        refresh();
        return true;
    }

    // The end message: false when play is over (no --loop).
    bool ended(std::string* error) {
        // A message from a play that is over: the port has no position any more.
        if (ZelPlay_GetPlayPos(port_) != 0.0f ||
            ZelPlay_GetLastError(port_) != ZELPLAY_ERR_NO_POSITION)
            return true;
        if (!options_.loop)
            return false;
        ZelPlay_Stop(port_);
        return start(error);
    }

    // Pictures decoded since the player started (every play of --loop).
    uint64_t pictures() const { return pictures_.load(); }

    bool isEndMessage(const XClientMessageEvent& ev) const {
        if (ev.message_type != kEndMessage)
            return false;
        const uint64_t low = static_cast<uint64_t>(ev.data.l[0]) & 0xFFFFFFFF;
        const uint64_t high = static_cast<uint64_t>(ev.data.l[1]) & 0xFFFFFFFF;
        return static_cast<ZELPLAY_PORT>(low | (high << 32)) == port_;
    }

    // The title (and the progress line on a terminal): position, duration, speed, state.
    void refresh() {
        const float position = ZelPlay_GetPlayPos(port_);
        const auto positionMs = static_cast<uint32_t>(position * durationMs_);
        std::string state = paused_ ? " paused" : "";
        if (muted_)
            state += " muted";
        const std::string status = clockText(positionMs) + " / " + clockText(durationMs_) + "  " +
                                   speedText(speedSteps_) + state;
        const std::string title = baseName(path_) + "  " + status + " - zelplay";
        if (title != title_) {
            XStoreName(display_, window_, title.c_str());
            XChangeProperty(display_, window_, XInternAtom(display_, "_NET_WM_NAME", False),
                            XInternAtom(display_, "UTF8_STRING", False), 8, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(title.data()),
                            static_cast<int>(title.size()));
            XFlush(display_);
            title_ = title;
        }
        if (options_.progress && isatty(STDERR_FILENO)) {
            std::fprintf(stderr, "\r%s  frame %u   ", status.c_str(),
                         ZelPlay_GetPlayedFrames(port_));
            std::fflush(stderr);
            progressShown_ = true;
        }
    }

    void close() {
        if (port_ == 0)
            return;
        // No message for the play this stop ends.
        ZelPlay_SetFileEndMsg(port_, 0, 0);
        ZelPlay_Stop(port_);
        ZelPlay_Close(port_);
        ZelPlay_FreePort(port_);
        port_ = 0;
        if (progressShown_)
            std::fputc('\n', stderr);
    }

  private:
    static void countPicture(ZELPLAY_PORT, const uint8_t*, int32_t, const ZELPLAY_FRAME_INFO* info,
                             ZELPLAY_USER user) {
        if (info != nullptr && info->type == ZELPLAY_FRAME_TYPE_YV12)
            reinterpret_cast<Player*>(user)->pictures_.fetch_add(1);
    }

    bool fail(std::string* error, const char* what) {
        *error = std::string(what) + " (library error " +
                 std::to_string(ZelPlay_GetLastError(port_)) + ")";
        return false;
    }

    void seekBy(int64_t deltaMs) {
        if (durationMs_ == 0)
            return;
        const int64_t now = static_cast<int64_t>(ZelPlay_GetPlayPos(port_) * durationMs_);
        const int64_t target = std::clamp<int64_t>(now + deltaMs, 0, durationMs_);
        ZelPlay_SetPlayPos(port_, static_cast<float>(static_cast<double>(target) / durationMs_));
    }

    std::string snapshotName(const char* ext) const {
        char stamp[32];
        const time_t t = time(nullptr);
        struct tm tm;
        localtime_r(&t, &tm);
        std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
        return baseName(path_) + "-" + stamp + "." + ext;
    }

    Display* display_;
    Window window_;
    std::string path_;
    PlayOptions options_;
    ZELPLAY_PORT port_ = 0;
    uint32_t durationMs_ = 0;  // read at open: the library reports 0 once play has ended
    bool paused_ = false;
    bool muted_ = false;
    int speedSteps_ = 0;                 // log2 of the speed
    std::atomic<uint64_t> pictures_{0};  // counted on the library's file thread
    std::string title_;
    bool progressShown_ = false;
};

}  // namespace

int runPlay(const std::string& path, const PlayOptions& options) {
    if (!checkFile(path))
        return kExitBadFile;
    int32_t pw = 0, ph = 0;
    uint32_t start = 0, frames = 0, duration = 0, bitRate = 0;
    double rate = 0;
    uint8_t hasAudio = 0;
    if (ZelPlay_GetMediaInfo(path.c_str(), &pw, &ph, &start, &frames, &rate, &duration, &bitRate,
                             &hasAudio, 0) != 1) {
        std::fprintf(stderr,
                     "zelplay: %s: not a file zelplay can read (damaged or of another "
                     "kind)\n",
                     path.c_str());
        return kExitBadFile;
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "zelplay: cannot open the X display '%s'\n",
                     getenv("DISPLAY") ? getenv("DISPLAY") : "");
        return kExitNoDisplay;
    }
    int width = 0, height = 0;
    windowSize(options, pw, ph, &width, &height);
    const int screen = DefaultScreen(display);
    const Window window = XCreateSimpleWindow(
        display, RootWindow(display, screen), 0, 0, static_cast<unsigned>(width),
        static_cast<unsigned>(height), 0, BlackPixel(display, screen), BlackPixel(display, screen));
    XClassHint hint{const_cast<char*>("zelplay"), const_cast<char*>("zelplay")};
    XSetClassHint(display, window, &hint);
    Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display, window, &deleteWindow, 1);
    XSelectInput(display, window, KeyPressMask | StructureNotifyMask);
    XMapWindow(display, window);
    XSync(display, False);

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    int code = kExitOk;
    const auto started = std::chrono::steady_clock::now();
    {
        Player player(display, window, path, options);
        std::string error;
        if (!player.open(&error)) {
            std::fprintf(stderr, "zelplay: %s: %s\n", path.c_str(), error.c_str());
            code = kExitFailed;
        }
        bool running = code == kExitOk;
        bool playedToEnd = false;
        player.refresh();
        while (running && !g_interrupted.load()) {
            pollfd fd{ConnectionNumber(display), POLLIN, 0};
            if (XPending(display) == 0)
                poll(&fd, 1, kRefreshMs);
            while (running && XPending(display) > 0) {
                XEvent ev;
                XNextEvent(display, &ev);
                if (ev.type == KeyPress) {
                    running = player.key(XLookupKeysym(&ev.xkey, 0));
                } else if (ev.type == ClientMessage) {
                    if (static_cast<Atom>(ev.xclient.data.l[0]) == deleteWindow &&
                        ev.xclient.message_type == XInternAtom(display, "WM_PROTOCOLS", False)) {
                        running = false;
                    } else if (player.isEndMessage(ev.xclient)) {
                        running = player.ended(&error);
                        playedToEnd = !running && error.empty();
                        if (!error.empty()) {
                            std::fprintf(stderr, "zelplay: %s: %s\n", path.c_str(), error.c_str());
                            code = kExitFailed;
                            running = false;
                        }
                    }
                }
            }
            player.refresh();
        }
        if (options.verbose) {
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - started)
                                .count();
            std::fprintf(stderr, "zelplay: %s: %llu pictures in %lld ms\n", path.c_str(),
                         static_cast<unsigned long long>(player.pictures()),
                         static_cast<long long>(ms));
        }
        if (playedToEnd && player.pictures() == 0) {
            std::fprintf(stderr,
                         "zelplay: %s: no picture decodes (not H.264 that the library plays, "
                         "or damaged)\n",
                         path.c_str());
            code = kExitBadFile;
        }
    }
    XDestroyWindow(display, window);
    XCloseDisplay(display);
    return code;
}

}  // namespace zelplaycli
