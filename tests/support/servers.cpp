#include "support/servers.h"

#include <chrono>
#include <fstream>
#include <thread>

namespace testsupport {

RtspServer::RtspServer(const std::string& mp4Path, int lifetimeSec, int port)
    : file_(mp4Path), lifetimeSec_(lifetimeSec), port_(port ? port : freeTcpPort()) {
    start();
}

std::string RtspServer::url(const std::string& mount) const {
    return "rtsp://127.0.0.1:" + std::to_string(port_) + "/" + mount;
}

bool RtspServer::start() {
    process_.reset();
    process_ = std::make_unique<ChildProcess>(std::vector<std::string>{
        "timeout", "-k", "5", std::to_string(lifetimeSec_ + 5), "/usr/bin/python3",
        std::string(MONVID_TEST_SUPPORT_DIR) + "/rtsp_server.py", "--port", std::to_string(port_),
        "--file", file_, "--lifetime", std::to_string(lifetimeSec_)});
    return waitForTcpPort(port_, 15000);
}

void RtspServer::stop() {
    process_.reset();
}

RtmpServer::RtmpServer(const std::string& sourcePath, int lifetimeSec)
    : source_(sourcePath), lifetimeSec_(lifetimeSec), port_(freeTcpPort()) {
    start();
}

RtmpServer::~RtmpServer() {
    stop();
}

std::string RtmpServer::url() const {
    return "rtmp://127.0.0.1:" + std::to_string(port_) + "/live/test";
}

bool RtmpServer::start() {
    stop();
    const std::string conf = dir_.file("nginx.conf");
    {
        std::ofstream out(conf);
        out << "load_module /usr/lib/nginx/modules/ngx_rtmp_module.so;\n"
               "daemon off;\nmaster_process off;\nworker_processes 1;\n"
               "pid "
            << dir_.file("nginx.pid") << ";\nerror_log " << dir_.file("error.log")
            << " warn;\n"
               "events { worker_connections 64; }\n"
               "rtmp { server { listen 127.0.0.1:"
            << port_
            << "; chunk_size 4096;\n"
               "  application live { live on; record off; } } }\n";
    }
    nginx_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"timeout", "-k", "5", std::to_string(lifetimeSec_ + 5), "nginx",
                                 "-p", dir_.path().string(), "-c", conf, "-e",
                                 dir_.file("error.log")},
        dir_.file("nginx.out"));
    if (!waitForTcpPort(port_, 15000))
        return false;
    feeder_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"timeout", "-k", "5", std::to_string(lifetimeSec_), "ffmpeg",
                                 "-hide_banner", "-loglevel", "error", "-nostdin", "-re",
                                 "-stream_loop", "-1", "-i", source_, "-c", "copy", "-f", "flv",
                                 url()},
        dir_.file("feeder.log"));
    // Give the feeder time to publish before a player asks for the stream.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    return true;
}

void RtmpServer::stop() {
    feeder_.reset();
    nginx_.reset();
}

}  // namespace testsupport
