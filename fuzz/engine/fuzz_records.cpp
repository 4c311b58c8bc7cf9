// Frame records through the exported input calls in the real-time and buffered modes. The
// first byte chooses the mode and the record kinds; the rest is cut into records by their
// own length fields (a mismatching size is passed on as it is, and must be rejected).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "zelplay.h"

namespace {

struct Ports {
    ZELPLAY_PORT realTime = 0;
    ZELPLAY_PORT buffered = 0;
    Ports() {
        ZelPlay_GetPort(&realTime);
        ZelPlay_OpenStream(realTime, 0);
        ZelPlay_Play(realTime, 0);
        ZelPlay_GetPort(&buffered);
        ZelPlay_SetPlayMode(buffered, 1);
        ZelPlay_SetDelayTime(buffered, 0, 0);
        ZelPlay_OpenStream(buffered, 1 << 20);
        ZelPlay_Play(buffered, 0);
    }
};

int32_t onSei(ZELPLAY_PORT, const ZELPLAY_SEI_RECORD* r, uint32_t, ZELPLAY_USER) {
    return r->length;
}
void onFrame(ZELPLAY_PORT, const uint8_t* data, int32_t size, const ZELPLAY_FRAME_INFO*,
             ZELPLAY_USER) {
    volatile uint8_t sink = 0;
    if (size > 0)
        sink = static_cast<uint8_t>(sink + data[0] + data[size - 1]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Ports ports;
    if (size < 1)
        return 0;
    const uint8_t control = data[0];
    const ZELPLAY_PORT port = (control & 1) ? ports.buffered : ports.realTime;
    ZelPlay_SetDecCallBack(port, onFrame, 0);
    ZelPlay_RigisterSEICallBack(port, onSei, 0);
    ZelPlay_SetColor(port, (control >> 1) & 0x7F, 64, control & 0x7F, 64);
    size_t at = 1;
    std::vector<uint8_t> record;
    while (at < size) {
        const size_t left = size - at;
        size_t take = left;
        uint32_t sizeArgument = static_cast<uint32_t>(left);
        if (left >= 40) {
            uint32_t payload = 0;
            std::memcpy(&payload, data + at + 12, 4);
            if (payload <= left - 40) {
                take = 40 + payload;
                sizeArgument = static_cast<uint32_t>(take);
            }
        }
        record.assign(data + at, data + at + take);
        if (control & 2) {
            ZelPlay_InputAudioData(port, record.data(), sizeArgument);
        } else {
            ZelPlay_InputVideoData(port, record.data(), sizeArgument);
        }
        at += take;
    }
    if (control & 1) {
        ZelPlay_GetSourceBufferRemain(port);
        ZelPlay_ResetSourceBuffer(port);
    }
    return 0;
}
