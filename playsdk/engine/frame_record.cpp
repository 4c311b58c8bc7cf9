#include "frame_record.h"

#include <cstring>

namespace zelplay {

FrameHeader readFrameHeader(const uint8_t* p) {
    FrameHeader h;
    h.kind = p[0];
    h.payloadLength = readLe32(p + 12);
    h.frameRate = p[16];
    h.sequence = readLe32(p + 20);
    h.timeStamp = readLe32(p + 24);
    h.frameType = readLe32(p + 28);
    h.extra32 = readLe16(p + 32);
    h.extra34 = readLe16(p + 34);
    h.extra36 = readLe32(p + 36);
    return h;
}

void writeFrameHeader(const FrameHeader& h, uint32_t payloadAddress, uint8_t* out) {
    std::memset(out, 0, kFrameHeaderBytes);
    out[0] = h.kind;
    writeLe32(out + 4, payloadAddress);
    writeLe32(out + 12, h.payloadLength);
    out[16] = h.frameRate;
    writeLe32(out + 20, h.sequence);
    writeLe32(out + 24, h.timeStamp);
    writeLe32(out + 28, h.frameType);
    writeLe16(out + 32, h.extra32);
    writeLe16(out + 34, h.extra34);
    writeLe32(out + 36, h.extra36);
}

}  // namespace zelplay
