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

// width x height test pattern at 25 fps, key frame every gop frames, no B frames,
// parameter sets before each key frame. Exits the program when ffmpeg fails.
std::vector<Unit> encode(int width, int height, int frames, int gop, const std::string& preset);

// A frame record (40-byte header + payload) for unit i: sequence i + 1, stamp 40 i.
std::vector<uint8_t> record(const Unit& u, uint32_t index, uint32_t stampBase = 0);

// libavcodec's H.264 decoder set up as the engine's decoder is (one thread, low delay).
class DirectDecoder {
  public:
    DirectDecoder();
    ~DirectDecoder();
    DirectDecoder(const DirectDecoder&) = delete;
    DirectDecoder& operator=(const DirectDecoder&) = delete;
    // True when a picture came out.
    bool decode(const std::vector<uint8_t>& au);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

double nowSeconds();
double processCpuSeconds();
// CPU seconds of this process's thread with that name, or -1.
double threadCpuSeconds(const std::string& name);

}  // namespace enginebench
