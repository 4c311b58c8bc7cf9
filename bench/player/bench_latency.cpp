// bench_latency: how far behind a live RTSP stream the pictures are that a window is handed.
//
// The sender (ffmpeg) writes its wall clock into every picture: a row of 24 black and white
// blocks at the top, the milliseconds modulo 2^24, drawn by the geq filter from the picture's
// time stamp, which setpts took from the wall clock. It sends H.264 over RTP to the tests'
// GStreamer RTSP server, which serves it at rtsp://127.0.0.1:PORT/rtp. Three readers watch the
// same stream at the same time:
//   - a run of the player (CStreamPlayer) with the latency cap at 500 ms;
//   - the same with the cap off (maxdelay=0);
//   - ffplay -fflags nobuffer -flags low_delay on a private Xvfb, read back from the screen
//     by ffmpeg's x11grab at 50 pictures a second (so up to 20 ms more than it shows).
// Both player runs have their play thread stopped for --stall-ms (3 s) twice, at a third and at
// two thirds of the time, through the window they hand pictures to. Printed per reader: the
// added latency's median and 99th percentile over the whole time, and outside the first 5 s
// and the 5 s after each stall; after each stall how long it took to be back under 500 ms, how
// far behind it was 2 s after the stall and the worst in the 10 s after it.
//
// Usage: bench_latency [--seconds 300] [--stall-ms 3000]
#include <sys/types.h>
#include <unistd.h>

#include <QImage>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "StreamPlayer.h"
#include "support/media.h"
#include "support/process.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kBits = 24, kBlock = 12, kWidth = 320, kHeight = 240;
constexpr std::int64_t kModulo = 1 << kBits;

std::int64_t wallMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Milliseconds between the clock in a picture and now, or -1 when it does not read.
std::int64_t latencyOf(std::int64_t stamped) {
    std::int64_t d = (wallMs() % kModulo - stamped + kModulo) % kModulo;
    return d < kModulo / 2 ? d : -1;
}

struct Sample {
    double atS;  // seconds since the bench began
    std::int64_t latencyMs;
};

// Pictures as one reader saw them; each stamp counted once, when first seen.
class Recorder {
  public:
    explicit Recorder(Clock::time_point start) : start_(start) {}
    void see(std::int64_t stamped) {
        std::lock_guard lock(lock_);
        if (stamped == last_)
            return;
        last_ = stamped;
        const std::int64_t ms = latencyOf(stamped);
        if (ms >= 0)
            samples_.push_back({std::chrono::duration<double>(Clock::now() - start_).count(), ms});
    }
    std::vector<Sample> samples() const {
        std::lock_guard lock(lock_);
        return samples_;
    }

  private:
    Clock::time_point start_;
    mutable std::mutex lock_;  // guards samples_ and last_
    std::vector<Sample> samples_;
    std::int64_t last_ = -1;
};

std::int64_t readStamp(const QImage& image) {
    if (image.width() < kBits * kBlock || image.height() < 16)
        return -1;
    std::int64_t v = 0;
    for (int b = 0; b < kBits; ++b)
        if (qGray(image.pixel(b * kBlock + kBlock / 2, 8)) > 128)
            v |= std::int64_t{1} << b;
    return v;
}

// The window the player's run hands its pictures to: reads the clock from each, and stops
// the play thread at the given times.
class ClockWindow : public IPlayWindow {
  public:
    ClockWindow(int maxDelayMs, Recorder& recorder, std::vector<double> stallsAtS, int stallMs,
                Clock::time_point start)
        : maxDelayMs_(maxDelayMs),
          recorder_(recorder),
          stalls_(std::move(stallsAtS)),
          stallMs_(stallMs),
          start_(start) {}

    bool isShownForPlay() const override { return true; }
    bool isPlaying() const override { return playing_.load(); }
    bool stopRequested() const override { return stopped_.load(); }
    void setPlayingFromRun(const std::atomic<bool>& quit, bool value) override {
        if (!quit.load() && !stopped_.load())
            playing_.store(value);
    }
    QSize pictureTarget() const override { return {}; }  // the stream's own size
    bool offerPicture(QImage& picture, const AVFrame*) override {
        counters_.shown.fetch_add(1);
        recorder_.see(readStamp(picture));
        const double at = std::chrono::duration<double>(Clock::now() - start_).count();
        if (next_ < stalls_.size() && at >= stalls_[next_]) {
            ++next_;
            std::this_thread::sleep_for(std::chrono::milliseconds(stallMs_));
        }
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

  private:
    int maxDelayMs_;
    Recorder& recorder_;
    std::vector<double> stalls_;
    std::size_t next_ = 0;
    int stallMs_;
    Clock::time_point start_;
    std::atomic<bool> playing_{true};
    std::atomic<bool> stopped_{false};
    PlayCounters counters_;
};

double percentile(std::vector<std::int64_t> v, double p) {
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return static_cast<double>(v[std::min(v.size() - 1, static_cast<std::size_t>(p * v.size()))]);
}

void report(const char* name, const std::vector<Sample>& samples, const std::vector<double>& stalls,
            double stallS) {
    std::vector<std::int64_t> all, calm;
    for (const Sample& s : samples) {
        all.push_back(s.latencyMs);
        bool nearStall = s.atS < 5;  // start-up
        for (double at : stalls)
            nearStall = nearStall || (s.atS >= at && s.atS < at + stallS + 5);
        if (!nearStall)
            calm.push_back(s.latencyMs);
    }
    std::printf(
        "%-44s %6zu pictures  median %5.0f ms  p99 %5.0f ms  | after start-up, away from stalls: "
        "median "
        "%5.0f ms  p99 %5.0f ms\n",
        name, samples.size(), percentile(all, 0.5), percentile(all, 0.99), percentile(calm, 0.5),
        percentile(calm, 0.99));
    for (double at : stalls) {
        const double end = at + stallS;
        double backAt = -1;
        std::int64_t at2s = -1, worst = 0;
        for (const Sample& s : samples) {
            if (s.atS < end)
                continue;
            if (s.atS < end + 10)
                worst = std::max(worst, s.latencyMs);
            if (at2s < 0 && s.atS >= end + 2)
                at2s = s.latencyMs;
            if (backAt < 0 && s.latencyMs < 500)
                backAt = s.atS - end;
        }
        std::printf(
            "    stall at %5.1f s: back under 500 ms %s%.2f s after it ended; 2 s after: "
            "%lld ms behind; worst in the 10 s after: %lld ms\n",
            at, backAt < 0 ? "never (" : "", backAt, static_cast<long long>(at2s),
            static_cast<long long>(worst));
    }
}

}  // namespace

int main(int argc, char** argv) {
    int seconds = 300, stallMs = 3000;
    for (int i = 1; i + 1 < argc; ++i) {
        if (!std::strcmp(argv[i], "--seconds"))
            seconds = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--stall-ms"))
            stallMs = std::atoi(argv[i + 1]);
    }
    testsupport::TempDir dir;
    const int port = testsupport::freeTcpPort();
    const int rtpPort = testsupport::freeTcpPort();  // free for TCP a moment ago; UDP likely too
    const int life = seconds + 120;
    testsupport::ChildProcess server(
        {"timeout", "-k", "5", std::to_string(life), "/usr/bin/python3",
         std::string(MONVID_TEST_SUPPORT_DIR) + "/rtsp_server.py", "--port", std::to_string(port),
         "--rtp-udp-port", std::to_string(rtpPort), "--lifetime", std::to_string(life)},
        dir.file("server.log"));
    if (!testsupport::waitForTcpPort(port, 15000)) {
        std::fprintf(stderr, "the RTSP server did not start\n");
        return 2;
    }
    const std::string clock =
        "color=c=gray:size=" + std::to_string(kWidth) + "x" + std::to_string(kHeight) +
        ":rate=25,realtime,setpts=RTCTIME/(TB*1000000),"
        "geq=lum='if(lt(Y\\,16)*lt(X\\," +
        std::to_string(kBits * kBlock) +
        ")\\,if(mod(floor(mod(T*1000\\,16777216)/pow(2\\,floor(X/" + std::to_string(kBlock) +
        ")))\\,2)\\,235\\,16)\\,128)':cb=128:cr=128,setpts=N/(25*TB)";
    testsupport::ChildProcess sender(
        {"timeout",     "-k",
         "5",           std::to_string(life),
         "ffmpeg",      "-hide_banner",
         "-loglevel",   "error",
         "-nostdin",    "-f",
         "lavfi",       "-i",
         clock,         "-c:v",
         "libx264",     "-preset",
         "ultrafast",   "-tune",
         "zerolatency", "-g",
         "25",          "-bsf:v",
         "dump_extra",  "-f",
         "rtp",         "rtp://127.0.0.1:" + std::to_string(rtpPort) + "?pkt_size=1200"},
        dir.file("sender.log"));
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const std::string url = "rtsp://127.0.0.1:" + std::to_string(port) + "/rtp";

    // ffplay on its own X server, read back from the screen.
    const std::string displayFile = dir.file("display");
    testsupport::ChildProcess xvfb({"sh", "-c",
                                    "exec Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp "
                                    "-noreset 3>" +
                                        displayFile});
    std::string display;
    for (int i = 0; i < 200 && display.empty(); ++i) {
        std::ifstream in(displayFile);
        in >> display;
        if (display.empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (display.empty()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 2;
    }
    display = ":" + display;
    const std::string ffplayCommand = "DISPLAY=" + display +
                                      " SDL_AUDIODRIVER=dummy exec ffplay -hide_banner -loglevel "
                                      "error -fflags nobuffer -flags low_delay -an -noborder "
                                      "-left 0 -top 0 -x 320 -y 240 " +
                                      url;
    testsupport::ChildProcess ffplay({"sh", "-c", ffplayCommand}, dir.file("ffplay.log"));

    const auto start = Clock::now();
    const std::vector<double> stalls = {seconds / 3.0, 2.0 * seconds / 3.0};
    Recorder capped(start), uncapped(start), screen(start);
    ClockWindow cappedWindow(500, capped, stalls, stallMs, start);
    ClockWindow uncappedWindow(0, uncapped, stalls, stallMs, start);
    std::atomic<bool> quit{false};
    auto runPlayer = [&](ClockWindow& window) {
        CStreamPlayer player(window);
        while (!quit.load()) {
            player.Play(url, quit);
            if (!quit.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
            window.setPlayingFromRun(quit, true);
        }
    };
    std::thread a([&] { runPlayer(cappedWindow); });
    std::thread b([&] { runPlayer(uncappedWindow); });
    std::thread grab([&] {
        const std::string command =
            "ffmpeg -hide_banner -loglevel error -nostdin -f x11grab "
            "-framerate 50 -video_size 320x240 -i " +
            display + "+0,0 -t " + std::to_string(seconds) + " -f rawvideo -pix_fmt rgb32 pipe:1";
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe)
            return;
        QImage frame(kWidth, kHeight, QImage::Format_RGB32);
        const std::size_t bytes = static_cast<std::size_t>(frame.sizeInBytes());
        while (std::fread(frame.bits(), 1, bytes, pipe) == bytes)
            screen.see(readStamp(frame));
        pclose(pipe);
    });
    std::printf(
        "live RTSP 320x240 25 fps, key frame every 25, for %d s; play thread stopped %d ms "
        "at %.0f s and %.0f s\n",
        seconds, stallMs, stalls[0], stalls[1]);
    std::fflush(stdout);
    std::this_thread::sleep_until(start + std::chrono::seconds(seconds));
    quit = true;
    cappedWindow.stop();
    uncappedWindow.stop();
    a.join();
    b.join();
    grab.join();

    const double stallS = stallMs / 1000.0;
    report("player, latency cap 500 ms", capped.samples(), stalls, stallS);
    std::printf("    pictures dropped by the cap: %llu\n",
                static_cast<unsigned long long>(cappedWindow.counters().droppedLate.load()));
    report("player, maxdelay=0 (no cap)", uncapped.samples(), stalls, stallS);
    report("ffplay -fflags nobuffer -flags low_delay", screen.samples(), {}, stallS);
    return 0;
}
