// Which video output a new port takes: the backends in their order (XVideo, MIT-SHM,
// plain X11), the environment variable ZELPLAY_VIDEO_OUTPUT=xv|shm|x11|null that forces
// the first one tried, and the factory seam through which tests put in an output of
// their own.
//
// Thread contract: any thread; setVideoOutputFactory is meant for a test's set-up.
#pragma once

#include <functional>
#include <memory>

#include "video_output.h"

namespace zelplay {

enum class VideoBackend { Auto, Xv, Shm, X11, Null };

const char* videoBackendName(VideoBackend backend);
// "xv", "shm", "x11", "null" (any case); anything else is Auto.
VideoBackend videoBackendFromName(const char* name);
// What ZELPLAY_VIDEO_OUTPUT asks for; Auto when it is unset or unknown.
VideoBackend videoBackendFromEnvironment();

using VideoOutputFactory = std::function<std::unique_ptr<VideoOutput>()>;
// Every port made from now on takes its output from factory; an empty one restores the
// normal choice.
void setVideoOutputFactory(VideoOutputFactory factory);

}  // namespace zelplay
