// Picture size from the sequence parameter set that leads a type-3 key frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace zelplay {

// Exp-Golomb bit reader over an RBSP (ITU-T H.264 clause 9.1). Reading past the end sets
// the overrun flag and gives zeros.
class BitReader {
  public:
    BitReader(const uint8_t* data, size_t length) : data_(data), bits_(length * 8) {}
    uint32_t bits(int n);
    bool flag() { return bits(1) != 0; }
    uint32_t ue();  // ue(v), clause 9.1
    int32_t se();   // se(v), clause 9.1.1
    bool overrun() const { return overrun_; }

  private:
    const uint8_t* data_;
    size_t bits_;
    size_t pos_ = 0;
    bool overrun_ = false;
};

struct PictureSize {
    int width = 0;
    int height = 0;
    bool operator==(const PictureSize&) const = default;
};

// Parses an SPS NAL unit body (the bytes after the NAL header, emulation prevention
// bytes still in) up to the picture size: width = mbs * 16, height = map units * 16, a
// height of 67 map units being taken as 1080 lines. Nothing for a malformed set.
std::optional<PictureSize> parseSpsPictureSize(const uint8_t* nal, size_t length);

// The size from an access unit that starts 00 00 00 01 with an SPS, whose end is marked
// by the next start code. Nothing when the unit does not start so.
std::optional<PictureSize> readAccessUnitPictureSize(const uint8_t* au, size_t length);

// Position of the first 00 00 01 at or after from; the search gives up (nothing) once it
// meets a byte of value 2 or more more than 64 bytes past from.
std::optional<size_t> findStartCode(const uint8_t* data, size_t length, size_t from);

}  // namespace zelplay
