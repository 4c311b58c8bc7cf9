#include "file_media.h"

#include <X11/Xutil.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

#include "support/media.h"
#include "support/process.h"
#include "support/wait.h"
#include "zelplay/custommp4.h"
#include "zelplay/voice.h"

namespace filetest {

namespace {

constexpr int kVoiceSamples = 320;  // 40 ms at 8 kHz
constexpr int kVoiceFrameBytes = 4 + kVoiceSamples;
constexpr int kEncodeAlaw = 5;

bool ffmpeg(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"ffmpeg", "-hide_banner", "-loglevel",
                                     "error",  "-nostdin",     "-y"};
    argv.insert(argv.end(), args.begin(), args.end());
    return testsupport::runCommand(argv, 300000) == 0;
}

std::vector<uint8_t> voiceFrame(size_t index) {
    std::vector<int16_t> pcm(kVoiceSamples);
    for (int i = 0; i < kVoiceSamples; ++i) {
        const double t = static_cast<double>(index * kVoiceSamples + i) / 8000.0;
        pcm[i] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 440 * t));
    }
    std::vector<uint8_t> out(kVoiceFrameBytes * 2);
    EncAudioFrame(kEncodeAlaw, pcm.data(), out.data(), kVoiceSamples * 2);
    out.resize(kVoiceFrameBytes);
    return out;
}

}  // namespace

std::vector<enginetest::AccessUnit> units(const std::string& folder, const RecordRecipe& recipe) {
    return enginetest::makeH264(folder, recipe.width, recipe.height, recipe.seconds * 25,
                                recipe.gop);
}

bool writeRecord(const std::string& path, const std::vector<enginetest::AccessUnit>& units,
                 const RecordRecipe& recipe) {
    const uint8_t mode = recipe.baseOffset > 0 ? CUSTOMMP4_MODE_CREATE_INTO : CUSTOMMP4_MODE_CREATE;
    custommp4_t* h = custommp4_open(path.c_str(), mode, recipe.baseOffset);
    if (h == nullptr)
        return false;
    bool ok =
        custommp4_set_start_time(h, recipe.startTime) == 1 &&
        custommp4_set_video_format(h, recipe.width, recipe.height, 25.0f, 256000, "H264") == 1;
    if (recipe.audio)
        ok = ok && custommp4_set_audio_format(h, "PCMA", 8000, 16, 1, kVoiceFrameBytes, 40) == 1;
    for (size_t i = 0; ok && i < units.size(); ++i) {
        const auto& u = units[i];
        ok = custommp4_write_video_frame(h, u.bytes.data(), static_cast<int>(u.bytes.size()),
                                         videoStamp(i), u.startsWithSps ? 3 : 1) == 1;
        if (ok && recipe.audio) {
            const auto voice = voiceFrame(i);
            ok = custommp4_write_audio_frame(h, voice.data(), kVoiceFrameBytes, videoStamp(i)) == 1;
        }
    }
    int error = 0;
    return custommp4_close_checked(h, &error) == 1 && ok;
}

size_t makeRecord(const std::string& folder, const std::string& path, const RecordRecipe& recipe) {
    const auto u = units(folder, recipe);
    if (u.empty() || !writeRecord(path, u, recipe))
        return 0;
    return u.size();
}

bool makeAvi(const std::string& path, int seconds, const std::string& audioCodec) {
    std::vector<std::string> args = {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25"};
    if (!audioCodec.empty()) {
        args.insert(args.end(), {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=8000"});
    }
    args.insert(args.end(), {"-t", std::to_string(seconds), "-c:v", "libx264", "-preset",
                             "ultrafast", "-pix_fmt", "yuv420p", "-bf", "0", "-g", "25", "-threads",
                             "1", "-x264-params", "repeat-headers=1:scenecut=0"});
    if (!audioCodec.empty())
        args.insert(args.end(), {"-c:a", audioCodec, "-ac", "1", "-ar", "8000"});
    args.insert(args.end(), {"-f", "avi", path});
    return ffmpeg(args);
}

bool stripAviIndex(const std::string& path) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const char tag[4] = {'i', 'd', 'x', '1'};
    auto at = std::search(bytes.begin(), bytes.end(), tag, tag + 4);
    if (at == bytes.end())
        return false;
    f.clear();
    f.seekp(at - bytes.begin());
    f.write("JUNK", 4);
    return static_cast<bool>(f);
}

ProbeFacts probe(const std::string& path) {
    testsupport::TempDir dir;
    const std::string out = dir.file("probe.txt");
    testsupport::runCommand({"ffprobe", "-v", "error", "-count_packets", "-show_entries",
                             "stream=codec_type,width,height,nb_read_packets,duration", "-of",
                             "default=noprint_wrappers=1", path},
                            120000, out);
    ProbeFacts f;
    std::ifstream in(out);
    std::string line, type;
    while (std::getline(in, line)) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "codec_type") {
            type = value;
            f.hasAudio = f.hasAudio || type == "audio";
        } else if (type == "video" && key == "width") {
            f.width = std::stoi(value);
        } else if (type == "video" && key == "height") {
            f.height = std::stoi(value);
        } else if (type == "video" && key == "nb_read_packets") {
            f.frames = std::stol(value);
        } else if (type == "video" && key == "duration" && value != "N/A") {
            f.durationS = std::stod(value);
        }
    }
    return f;
}

// ---- X server and end window -----------------------------------------------------------

namespace {

// Started once per program and ended with it.
struct PrivateXServer {
    std::unique_ptr<testsupport::ChildProcess> xvfb;
    bool ok = false;
    PrivateXServer() {
        int display = 500 + (getpid() % 2000);
        while (std::filesystem::exists("/tmp/.X" + std::to_string(display) + "-lock") ||
               std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(display)))
            ++display;
        std::string name = std::to_string(display);
        name.insert(0, 1, ':');  // not ":" + ...: GCC 12 at -O3 warns falsely on that
        xvfb = std::make_unique<testsupport::ChildProcess>(std::vector<std::string>{
            "Xvfb", name, "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
        const std::string socket = "/tmp/.X11-unix/X" + std::to_string(display);
        ok = testsupport::waitFor([&] { return std::filesystem::exists(socket); }, 30000, 20);
        if (ok)
            setenv("DISPLAY", name.c_str(), 1);
    }
};

bool startXServer() {
    static PrivateXServer server;
    return server.ok;
}

}  // namespace

EndWindow::EndWindow() {
    if (!startXServer())
        return;
    // The server may take a moment to accept connections after its socket appears.
    testsupport::waitFor([&] { return (display_ = XOpenDisplay(nullptr)) != nullptr; }, 10000, 20);
    if (display_ == nullptr)
        return;
    window_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 64, 64, 0, 0, 0);
    XSync(display_, False);
}

EndWindow::~EndWindow() {
    if (display_ != nullptr) {
        XDestroyWindow(display_, window_);
        XCloseDisplay(display_);
    }
}

ZELPLAY_PORT EndWindow::waitForEnd(uint32_t message, int timeoutMs) {
    ZELPLAY_PORT port = 0;
    testsupport::waitFor(
        [&] {
            while (XPending(display_) > 0) {
                XEvent ev;
                XNextEvent(display_, &ev);
                if (ev.type == ClientMessage && ev.xclient.message_type == message) {
                    const uint64_t low = static_cast<uint64_t>(ev.xclient.data.l[0]) & 0xFFFFFFFF;
                    const uint64_t high = static_cast<uint64_t>(ev.xclient.data.l[1]) & 0xFFFFFFFF;
                    port = static_cast<ZELPLAY_PORT>(low | (high << 32));
                    return true;
                }
            }
            return false;
        },
        timeoutMs, 5);
    return port;
}

int EndWindow::countEnds(uint32_t message, int timeoutMs) {
    int count = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitForEnd(message, 50) != 0)
            ++count;
    }
    return count;
}

// ---- Collector and port ----------------------------------------------------------------

void Collector::callback(ZELPLAY_PORT, const uint8_t*, int32_t, const ZELPLAY_FRAME_INFO* info,
                         ZELPLAY_USER user) {
    auto* self = reinterpret_cast<Collector*>(user);
    const Picture p{*info, std::chrono::steady_clock::now()};
    std::lock_guard l(self->lock_);
    if (info->type == ZELPLAY_FRAME_TYPE_YV12) {
        self->pictures_.push_back(p);
    } else {
        self->audio_.push_back(p);
        const int32_t video = self->pictures_.empty() ? 0 : self->pictures_.back().info.timeStamp;
        self->audioVsVideo_.push_back({info->timeStamp, video});
    }
}

size_t Collector::pictureCount() {
    std::lock_guard l(lock_);
    return pictures_.size();
}

std::vector<Picture> Collector::pictures() {
    std::lock_guard l(lock_);
    return pictures_;
}

std::vector<Picture> Collector::audio() {
    std::lock_guard l(lock_);
    return audio_;
}

std::vector<std::pair<int32_t, int32_t>> Collector::audioAgainstVideo() {
    std::lock_guard l(lock_);
    return audioVsVideo_;
}

FilePort::FilePort() {
    ZelPlay_GetPort(&port);
    ZelPlay_SetPlayMode(port, ZELPLAY_MODE_FILE);
}

FilePort::~FilePort() {
    ZelPlay_FreePort(port);
}

}  // namespace filetest
