// Benchmark media: an H.264 stream encoded by the ffmpeg command line into a scratch
// folder, cut into access units and frame records; and a direct libavcodec decoder.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace enginebench {

struct Unit {
    std::vector<uint8_t> bytes;
    bool key = false;
    bool startsWithSps = false;
};

// width x height test pattern at 25 fps, key frame every gop frames, bframes B-frames
// between the reference pictures (x264's own choice of where), parameter sets before each
// key frame. Exits the program when ffmpeg fails.
std::vector<Unit> encode(int width, int height, int frames, int gop, const std::string& preset,
                         int bframes = 0);

// A frame record (40-byte header + payload) for unit i: sequence i + 1, stamp 40 i.
std::vector<uint8_t> record(const Unit& u, uint32_t index, uint32_t stampBase = 0);

// libavcodec's H.264 decoder set up as the engine's decoder is (one thread, reordering as
// the stream announces).
class DirectDecoder {
  public:
    DirectDecoder();
    ~DirectDecoder();
    DirectDecoder(const DirectDecoder&) = delete;
    DirectDecoder& operator=(const DirectDecoder&) = delete;
    // The pictures that came out (0 while a B-frame stream holds them back).
    int decode(const std::vector<uint8_t>& au);
    // The end of the stream: the pictures still held.
    int flush();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

double nowSeconds();
double processCpuSeconds();
// CPU seconds of this process's thread with that name, or -1.
double threadCpuSeconds(const std::string& name);

}  // namespace enginebench
