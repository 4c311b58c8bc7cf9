// Test media for file play: records written by the library's record writer from H.264 that
// FFmpeg makes at test time (with A-law voice frames), AVI files made by FFmpeg, a private
// X server with a window that receives the end message, and a decode callback collector.
#pragma once

#include <X11/Xlib.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "h264_stream.h"
#include "zelplay/play.h"

namespace filetest {

struct RecordRecipe {
    int width = 160;
    int height = 120;
    int seconds = 4;
    int gop = 25;  // a key frame every second
    bool audio = true;
    uint32_t startTime = 1700000000;
    uint32_t baseOffset = 0;  // > 0: written into the existing file at this offset
};

// Video time stamps are 40 ms apart from 0; audio voice frames of 40 ms likewise.
inline uint32_t videoStamp(size_t i) {
    return static_cast<uint32_t>(i * 40);
}

// H.264 access units of a test pattern (cached per size, length and gop in folder).
std::vector<enginetest::AccessUnit> units(const std::string& folder, const RecordRecipe& recipe);
// Writes the record; false on failure.
bool writeRecord(const std::string& path, const std::vector<enginetest::AccessUnit>& units,
                 const RecordRecipe& recipe);
// units() then writeRecord(); the number of video frames written (0 on failure).
size_t makeRecord(const std::string& folder, const std::string& path, const RecordRecipe& recipe);

// An AVI made by FFmpeg: 320 x 240 H.264 at 25 fps (parameter sets before every key frame,
// a key frame a second) with audioCodec ("pcm_s16le", "pcm_alaw", or empty for none).
bool makeAvi(const std::string& path, int seconds, const std::string& audioCodec);
// Turns the file's "idx1" chunk into JUNK, so that the reader rebuilds the index.
bool stripAviIndex(const std::string& path);

// What ffprobe says about the video stream of a file.
struct ProbeFacts {
    int width = 0;
    int height = 0;
    long frames = 0;
    double durationS = 0.0;
    bool hasAudio = false;
};
ProbeFacts probe(const std::string& path);

// A private Xvfb for this test program (started on first use) and a window on it that
// collects ClientMessages.
class EndWindow {
  public:
    EndWindow();
    ~EndWindow();
    EndWindow(const EndWindow&) = delete;
    EndWindow& operator=(const EndWindow&) = delete;
    bool ok() const { return display_ != nullptr; }
    uintptr_t id() const { return window_; }
    // Waits up to timeoutMs for an end message of this number; the port it names, or 0.
    ZELPLAY_PORT waitForEnd(uint32_t message, int timeoutMs);
    // How many end messages of this number arrive within timeoutMs.
    int countEnds(uint32_t message, int timeoutMs);

  private:
    Display* display_ = nullptr;
    Window window_ = 0;
};

struct Picture {
    ZELPLAY_FRAME_INFO info;
    std::chrono::steady_clock::time_point at;
};

// Collects what the decode callback receives (pictures and audio separately).
class Collector {
  public:
    static void callback(ZELPLAY_PORT, const uint8_t* data, int32_t size,
                         const ZELPLAY_FRAME_INFO* info, ZELPLAY_USER user);
    ZELPLAY_USER user() { return reinterpret_cast<ZELPLAY_USER>(this); }
    size_t pictureCount();
    std::vector<Picture> pictures();
    std::vector<Picture> audio();
    // For each audio frame, the stamp of the newest picture reported before it.
    std::vector<std::pair<int32_t, int32_t>> audioAgainstVideo();

  private:
    std::mutex lock_;
    std::vector<Picture> pictures_;                          // guarded by lock_
    std::vector<Picture> audio_;                             // guarded by lock_
    std::vector<std::pair<int32_t, int32_t>> audioVsVideo_;  // guarded by lock_
};

// A port in file mode, freed at the end of the scope.
struct FilePort {
    ZELPLAY_PORT port = 0;
    FilePort();
    ~FilePort();
};

}  // namespace filetest
