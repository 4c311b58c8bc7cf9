// Live servers for the network tests, on 127.0.0.1 with free ports. Each stops with its
// object and, should a test die, by itself after its lifetime.
#pragma once

#include <memory>
#include <string>

#include "support/media.h"
#include "support/process.h"

namespace testsupport {

// GStreamer's RTSP server: rtsp://127.0.0.1:PORT/live (live test picture) and, when a file
// is given, rtsp://127.0.0.1:PORT/file.
class RtspServer {
  public:
    explicit RtspServer(const std::string& mp4Path = {}, int lifetimeSec = 120, int port = 0);
    int port() const { return port_; }
    std::string url(const std::string& mount = "live") const;
    // Stops the server; start() brings it back on the same port.
    void stop();
    bool start();

  private:
    std::string file_;
    int lifetimeSec_;
    int port_;
    std::unique_ptr<ChildProcess> process_;
};

// nginx with its RTMP module, one "live" application, fed by ffmpeg with a looping file:
// rtmp://127.0.0.1:PORT/live/NAME.
class RtmpServer {
  public:
    explicit RtmpServer(const std::string& sourcePath, int lifetimeSec = 120);
    ~RtmpServer();
    int port() const { return port_; }
    std::string url() const;
    // Stops nginx and the feeder; start() brings both back on the same port.
    void stop();
    bool start();

  private:
    std::string source_;
    int lifetimeSec_;
    int port_;
    TempDir dir_;
    std::unique_ptr<ChildProcess> nginx_;
    std::unique_ptr<ChildProcess> feeder_;
};

}  // namespace testsupport
