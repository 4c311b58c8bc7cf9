// zelplay's file checks and the info command.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "zelplay_cli.h"

namespace zelplaycli {

namespace {

std::string extensionOf(const std::string& path) {
    const size_t dot = path.rfind('.');
    const size_t slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    return path.substr(dot + 1);
}

std::string utcText(uint32_t seconds) {
    const time_t t = seconds;
    struct tm tm;
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm);
    return text;
}

std::string jsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// The number of video frames: the media facts give it for AVI files; for a record, a file
// port opened on it does.
uint32_t frameCountOf(const std::string& path, uint32_t baseOffset, uint32_t fromFacts) {
    if (extensionOf(path) != "ifv")
        return fromFacts;
    ZELPLAY_PORT port = 0;
    if (ZelPlay_GetPort(&port) != 1)
        return 0;
    uint32_t frames = 0;
    if (ZelPlay_SetPlayMode(port, ZELPLAY_MODE_FILE) == 1 &&
        ZelPlay_OpenFileEx(port, path.c_str(), baseOffset, 0) == 1) {
        frames = ZelPlay_GetFileTotalFrames(port);
    }
    ZelPlay_FreePort(port);
    return frames;
}

}  // namespace

std::string clockText(uint32_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%02u:%02u.%u", ms / 60000, ms / 1000 % 60, ms / 100 % 10);
    return text;
}

bool checkFile(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        std::fprintf(stderr, "zelplay: %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        std::fprintf(stderr, "zelplay: %s: is a folder, not a file\n", path.c_str());
        return false;
    }
    if (access(path.c_str(), R_OK) != 0) {
        std::fprintf(stderr, "zelplay: %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    const std::string ext = extensionOf(path);
    if (ext != "ifv" && ext != "avi") {
        std::fprintf(stderr,
                     "zelplay: %s: unknown kind of file (zelplay plays record files, .ifv, and "
                     "AVI files, .avi)\n",
                     path.c_str());
        return false;
    }
    return true;
}

int runInfo(const std::string& path, const InfoOptions& options) {
    if (!checkFile(path))
        return kExitBadFile;
    int32_t width = 0, height = 0;
    uint32_t start = 0, frames = 0, duration = 0, bitRate = 0;
    double rate = 0;
    uint8_t hasAudio = 0;
    if (ZelPlay_GetMediaInfo(path.c_str(), &width, &height, &start, &frames, &rate, &duration,
                             &bitRate, &hasAudio, options.baseOffset) != 1) {
        std::fprintf(stderr, "zelplay: %s: not %s file zelplay can read\n", path.c_str(),
                     extensionOf(path) == "ifv" ? "a record" : "an AVI");
        return kExitBadFile;
    }
    const bool record = extensionOf(path) == "ifv";
    frames = frameCountOf(path, options.baseOffset, frames);
    const char* bitRateUnit = record ? "bytes/ms" : "KiB/s";
    if (options.json) {
        std::printf(
            "{\"file\": %s, \"kind\": \"%s\", \"width\": %d, \"height\": %d, "
            "\"start\": %u, \"duration_ms\": %u, \"frames\": %u, \"frame_rate\": %.3f, "
            "\"bit_rate\": %u, \"bit_rate_unit\": \"%s\", \"audio\": %s}\n",
            jsonString(path).c_str(), record ? "record" : "avi", width, height, start, duration,
            frames, rate, bitRate, bitRateUnit, hasAudio ? "true" : "false");
        return kExitOk;
    }
    std::printf("file:       %s\n", path.c_str());
    std::printf("kind:       %s\n", record ? "record" : "AVI");
    std::printf("picture:    %d x %d\n", width, height);
    if (record)
        std::printf("start:      %u (%s)\n", start, utcText(start).c_str());
    else
        std::printf("start:      frame %u\n", start);
    std::printf("duration:   %s (%u ms)\n", clockText(duration).c_str(), duration);
    std::printf("frames:     %u\n", frames);
    std::printf("frame rate: %.3f\n", rate);
    std::printf("bit rate:   %u %s\n", bitRate, bitRateUnit);
    std::printf("audio:      %s\n", hasAudio ? "yes" : "no");
    return kExitOk;
}

}  // namespace zelplaycli
