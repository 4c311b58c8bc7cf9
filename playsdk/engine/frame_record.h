// The 40-byte frame record header that stream input receives, read field by field.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zelplay {

inline constexpr size_t kFrameHeaderBytes = 40;
inline constexpr uint8_t kFrameKindVideo = 0x62;  // 'b'

// The fields the library reads or carries; the others are neither read nor kept.
struct FrameHeader {
    uint8_t kind = 0;            // 0x62 video, anything else audio
    uint32_t payloadLength = 0;  // payload bytes after the header
    uint8_t frameRate = 0;       // frames per second
    uint32_t sequence = 0;       // video: consecutive numbers
    uint32_t timeStamp = 0;      // ms
    uint32_t frameType = 0;      // video: 0 = not a key frame; 3 = key frame led by an SPS
    uint16_t extra32 = 0;        // carried, not interpreted
    uint16_t extra34 = 0;        // carried, not interpreted
    uint32_t extra36 = 0;        // carried, not interpreted

    bool isVideo() const { return kind == kFrameKindVideo; }
    bool isKeyFrame() const { return frameType != 0; }
};

inline uint16_t readLe16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t readLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void writeLe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void writeLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Reads the header at p (kFrameHeaderBytes readable bytes).
FrameHeader readFrameHeader(const uint8_t* p);

// Writes the carried fields (offsets 0, 12, 16, 20, 24, 28, 32, 34, 36) and payloadAddress
// (offset 4) into a zeroed 40-byte header at out.
void writeFrameHeader(const FrameHeader& header, uint32_t payloadAddress, uint8_t* out);

}  // namespace zelplay
