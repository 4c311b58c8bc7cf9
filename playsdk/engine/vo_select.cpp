#include "vo_select.h"

#include <strings.h>

#include <cstdlib>
#include <mutex>

#include "library_log.h"
#include "x11_renderer.h"

namespace zelplay {

namespace {
std::mutex factoryLock;
VideoOutputFactory testFactory;  // guarded by factoryLock
}  // namespace

const char* videoBackendName(VideoBackend backend) {
    switch (backend) {
        case VideoBackend::Xv:
            return "xv";
        case VideoBackend::Shm:
            return "shm";
        case VideoBackend::X11:
            return "x11";
        case VideoBackend::Null:
            return "null";
        case VideoBackend::Auto:
            break;
    }
    return "auto";
}

VideoBackend videoBackendFromName(const char* name) {
    if (name == nullptr)
        return VideoBackend::Auto;
    for (VideoBackend b :
         {VideoBackend::Xv, VideoBackend::Shm, VideoBackend::X11, VideoBackend::Null}) {
        if (strcasecmp(name, videoBackendName(b)) == 0)
            return b;
    }
    return VideoBackend::Auto;
}

VideoBackend videoBackendFromEnvironment() {
    return videoBackendFromName(std::getenv("ZELPLAY_VIDEO_OUTPUT"));
}

void setVideoOutputFactory(VideoOutputFactory factory) {
    std::lock_guard lock(factoryLock);
    testFactory = std::move(factory);
}

std::unique_ptr<VideoOutput> createVideoOutput() {
    {
        std::lock_guard lock(factoryLock);
        if (testFactory)
            return testFactory();
    }
    const VideoBackend backend = videoBackendFromEnvironment();
    if (backend == VideoBackend::Null) {
        logLine("video output null (ZELPLAY_VIDEO_OUTPUT=null): pictures are decoded, not shown");
        return createNullVideoOutput();
    }
    return std::make_unique<X11VideoOutput>(backend);
}

}  // namespace zelplay
