// Video windows on live RTSP and RTMP servers on 127.0.0.1, and the stop rules that live
// inputs make hard: a stalled server, a server that goes away and comes back.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QElapsedTimer>

#include <vector>

#include "QtTestMain.h"
#include "ShowVideoDlg.h"
#include "support/media.h"
#include "support/process.h"
#include "support/servers.h"

using testsupport::mediaPath;
using testsupport::waitUntil;

namespace {

class LiveTest : public ::testing::Test {
  protected:
    void SetUp() override {
        holder_ = std::make_unique<QWidget>();
        holder_->resize(320, 260);
        window_ = new CShowVideoDlg(holder_.get());
        window_->setGeometry(0, 0, 320, 260);
        holder_->show();
        ASSERT_TRUE(waitUntil([&] { return window_->isShownForPlay(); }, 2000));
    }
    void TearDown() override { holder_.reset(); }

    void play(const std::string& url) {
        window_->m_bReplay = true;
        window_->setUrl(url);
        window_->StartPlay();
    }
    std::uint64_t shown() const { return window_->m_counters.shown.load(); }

    std::unique_ptr<QWidget> holder_;
    CShowVideoDlg* window_ = nullptr;
};

// Accepts TCP connections on 127.0.0.1 and never answers: an RTSP server that has stalled.
class SilentServer {
  public:
    SilentServer() {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        listen(fd_, 8);
        getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
    }
    ~SilentServer() {
        for (int c : clients_)
            close(c);
        close(fd_);
    }
    int port() const { return port_; }
    // True once a client has connected and sent a request, which is never answered: from
    // then on the client waits for the answer.
    bool clientWaits() {
        for (int c; (c = accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK)) >= 0;)
            clients_.push_back(c);
        char byte;
        for (int c : clients_)
            if (recv(c, &byte, 1, MSG_PEEK) > 0)
                return true;
        return false;
    }

  private:
    int fd_ = -1;
    int port_ = 0;
    std::vector<int> clients_;  // accepted connections, held open and never read
};

}  // namespace

TEST_F(LiveTest, RtspStreamPlaysAndComesBackAfterTheServerReturns) {
    testsupport::RtspServer server;
    play(server.url("live"));
    ASSERT_TRUE(waitUntil([&] { return shown() >= 10; }, 20000));
    EXPECT_EQ(window_->currentPicture().size(), QSize(320, 240));

    server.stop();
    // The run ends on the lost connection and replay keeps trying.
    ASSERT_TRUE(waitUntil(
        [&] { return !window_->m_bPlaying.load() || window_->m_counters.runs.load() > 1; }, 20000));
    ASSERT_TRUE(server.start());
    const auto before = shown();
    ASSERT_TRUE(waitUntil([&] { return shown() >= before + 10; }, 30000));
    window_->OnClose();
    EXPECT_EQ(window_->liveThreadCount(), 0);
}

TEST_F(LiveTest, RtspServedFilePlays) {
    testsupport::RtspServer server(mediaPath("live_source.mp4"));
    play(server.url("file"));
    ASSERT_TRUE(waitUntil([&] { return shown() >= 10; }, 20000));
    window_->OnClose();
}

TEST_F(LiveTest, RtmpStreamPlaysAndComesBackAfterTheServerReturns) {
    testsupport::RtmpServer server(mediaPath("live_source.mp4"));
    play(server.url());
    ASSERT_TRUE(waitUntil([&] { return shown() >= 10; }, 30000));
    EXPECT_EQ(window_->currentPicture().size(), QSize(320, 240));

    server.stop();
    ASSERT_TRUE(waitUntil([&] { return window_->m_counters.runs.load() > 1; }, 30000));
    ASSERT_TRUE(server.start());
    const auto before = shown();
    ASSERT_TRUE(waitUntil([&] { return shown() >= before + 10; }, 40000));
    window_->OnClose();
}

TEST_F(LiveTest, RestartOnAStalledRtspStreamReturnsAtOnce) {
    SilentServer stalled;
    play("rtsp://127.0.0.1:" + std::to_string(stalled.port()) + "/stalled");
    // The run is blocked waiting for the server's answer (the socket time-out is 10 s).
    ASSERT_TRUE(waitUntil([&] { return stalled.clientWaits(); }, 20000));
    EXPECT_EQ(window_->liveThreadCount(), 1);

    // The old thread must end within StartPlay's wait: one that did not would be left behind
    // and still counted, next to the new one.
    QElapsedTimer timer;
    timer.start();
    play(mediaPath("video_only.mp4"));
    const auto restartMs = timer.elapsed();
    std::printf("StartPlay on a stalled stream returned after %lld ms\n",
                static_cast<long long>(restartMs));
    EXPECT_EQ(window_->liveThreadCount(), 1);
    EXPECT_LT(restartMs, CShowVideoDlg::kRestartWaitMs);
    ASSERT_TRUE(waitUntil([&] { return shown() >= 3; }, 10000));

    timer.restart();
    window_->OnClose();
    EXPECT_EQ(window_->liveThreadCount(), 0);
    EXPECT_LT(timer.elapsed(), CShowVideoDlg::kCloseWaitMs);
}

TEST_F(LiveTest, CloseOnAStalledStreamEndsTheThread) {
    SilentServer stalled;
    play("rtsp://127.0.0.1:" + std::to_string(stalled.port()) + "/stalled");
    ASSERT_TRUE(waitUntil([&] { return stalled.clientWaits(); }, 20000));
    window_->OnClose();
    EXPECT_EQ(window_->liveThreadCount(), 0);
}
