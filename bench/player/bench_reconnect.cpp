// bench_reconnect: a live RTSP server that goes away for 40 s and comes back.
//
// One wall window plays rtsp://127.0.0.1:PORT/live from the tests' GStreamer server. The server
// is killed; while it is gone, a stand-in on the same port accepts every connection, writes
// down when it came and closes it at once (the "server's log" of connection attempts while it
// is down). After 40 s the stand-in goes and the server starts again (it logs its clients too).
// Printed: when the badge came up and the time of loss it shows, every attempt against the
// back-off schedule, and how long after the server's return pictures moved again.
// Meanwhile sixteen more windows play an address whose stand-in never gives way: their
// attempts a second, in all.
//
// Usage: bench_reconnect [--down-seconds 40]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Mydlg.h"
#include "ReconnectPolicy.h"
#include "support/media.h"
#include "support/process.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// Accepts connections on 127.0.0.1:port, notes when each came and closes it at once.
class AttemptLog {
  public:
    explicit AttemptLog(int port) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(static_cast<uint16_t>(port));
        ok_ =
            bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && listen(fd_, 64) == 0;
        thread_ = std::thread([this] {
            while (!stop_.load()) {
                pollfd p{fd_, POLLIN, 0};
                if (poll(&p, 1, 50) <= 0)
                    continue;
                const int client = accept(fd_, nullptr, nullptr);
                if (client < 0)
                    continue;
                {
                    std::lock_guard lock(lock_);
                    times_.push_back(Clock::now());
                }
                close(client);
            }
        });
    }
    ~AttemptLog() {
        stop_ = true;
        thread_.join();
        close(fd_);
    }
    bool ok() const { return ok_; }
    std::vector<Clock::time_point> times() const {
        std::lock_guard lock(lock_);
        return times_;
    }

  private:
    int fd_ = -1;
    bool ok_ = false;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    mutable std::mutex lock_;  // guards times_
    std::vector<Clock::time_point> times_;
};

void pump(const std::function<bool()>& until, double timeoutS) {
    const auto start = Clock::now();
    while (!until() && secondsSince(start) < timeoutS) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::unique_ptr<testsupport::ChildProcess> startServer(int port, const std::string& log) {
    auto server = std::make_unique<testsupport::ChildProcess>(
        std::vector<std::string>{"timeout", "-k", "5", "600", "/usr/bin/python3",
                                 std::string(MONVID_TEST_SUPPORT_DIR) + "/rtsp_server.py", "--port",
                                 std::to_string(port), "--lifetime", "590", "--log-clients"},
        log);
    testsupport::waitForTcpPort(port, 15000);
    return server;
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    QApplication app(argc, argv);
    int downSeconds = 40;
    for (int i = 1; i + 1 < argc; ++i)
        if (!std::strcmp(argv[i], "--down-seconds"))
            downSeconds = std::atoi(argv[i + 1]);

    testsupport::TempDir dir;
    const int port = testsupport::freeTcpPort();
    const std::string serverLog = dir.file("server.log");
    auto server = startServer(port, serverLog);

    // Sixteen windows on an address that never plays.
    const int deadPort = testsupport::freeTcpPort();
    AttemptLog dead(deadPort);
    CMydlg deadWall(nullptr);
    deadWall.resize(800, 600);
    deadWall.LayoutWindows(16);
    deadWall.show();

    CMydlg wall(nullptr);
    wall.resize(640, 380);
    wall.LayoutWindows(1);
    wall.show();
    CShowVideoDlg* window = wall.window(0);
    pump([&] { return window->isShownForPlay() && deadWall.window(15)->isShownForPlay(); }, 5);
    const auto deadStart = Clock::now();
    for (int i = 0; i < 16; ++i) {
        deadWall.window(i)->setUrl("rtsp://127.0.0.1:" + std::to_string(deadPort) + "/live");
        deadWall.window(i)->StartPlay();
    }
    window->setUrl("rtsp://127.0.0.1:" + std::to_string(port) + "/live");
    window->StartPlay();
    pump([&] { return window->m_counters.shown.load() >= 50; }, 30);
    if (window->m_counters.shown.load() < 50) {
        std::fprintf(stderr, "no pictures from the server\n");
        return 2;
    }
    pump([] { return false; }, 3);

    // The server goes; a stand-in logs every attempt.
    const auto killedWall = std::chrono::system_clock::now();
    server.reset();
    const auto killed = Clock::now();
    auto standIn = std::make_unique<AttemptLog>(port);
    if (!standIn->ok())
        std::fprintf(stderr, "the stand-in could not take the port\n");
    pump([&] { return window->linkLoss().lost; }, 20);
    const double badgeAfter = secondsSince(killed);
    const monvid::LinkLoss loss = window->linkLoss();
    const double sinceBeforeKill = std::chrono::duration<double>(killedWall - loss.since).count();
    std::printf(
        "server killed; badge up after %.2f s, showing loss %.2f s before the kill (the "
        "last picture); lines:\n",
        badgeAfter, sinceBeforeKill);
    for (const QString& line : window->badgeText())
        std::printf("    %s\n", line.toUtf8().constData());
    std::fflush(stdout);

    pump([&] { return secondsSince(killed) >= downSeconds; }, downSeconds + 5);
    const auto attempts = standIn->times();
    standIn.reset();
    const auto restarted = Clock::now();
    server = startServer(port, serverLog);
    const double serverUpAfter = secondsSince(restarted);
    const auto shownAtReturn = window->m_counters.shown.load();
    pump([&] { return window->m_counters.shown.load() >= shownAtReturn + 25; }, 60);
    const double movingAfter = secondsSince(restarted);

    std::printf(
        "attempts while the server was down (s after the kill; the schedule waits 0, 1, 2, "
        "4 ... 30 s after each failure):\n   ");
    for (const auto& t : attempts)
        std::printf(" %.2f", std::chrono::duration<double>(t - killed).count());
    std::printf("\n");
    {
        std::ifstream in(serverLog);
        int clients = 0;
        for (std::string line; std::getline(in, line);)
            clients += line.rfind("client ", 0) == 0;
        std::printf("server's own log: %d client connections in all (first start and return)\n",
                    clients);
    }
    std::printf(
        "server restarted %.0f s after the kill (listening %.2f s later); pictures moving "
        "again %.2f s after the restart (longest back-off: %lld s)\n",
        std::chrono::duration<double>(restarted - killed).count(), serverUpAfter, movingAfter,
        static_cast<long long>(monvid::ReconnectPolicy::kMaxBackoff.count() / 1000));
    std::printf("badge after the return: %s\n",
                window->badgeText().isEmpty() ? "cleared" : "still up");

    const auto deadAttempts = dead.times();
    const double deadSpan = secondsSince(deadStart);
    std::printf(
        "16 windows on a dead address: %zu attempts in %.0f s, %.2f a second in all; in the "
        "last 30 s: ",
        deadAttempts.size(), deadSpan, deadAttempts.size() / deadSpan);
    int recent = 0;
    for (const auto& t : deadAttempts)
        recent += std::chrono::duration<double>(Clock::now() - t).count() <= 30;
    std::printf("%d (%.2f a second)\n", recent, recent / 30.0);
    for (int i = 0; i < 16; ++i)
        deadWall.window(i)->OnClose();
    window->OnClose();
    return 0;
}
