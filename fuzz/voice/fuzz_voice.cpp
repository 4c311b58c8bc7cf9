// libFuzzer target over the voice codec's decoding side: HI_VOICE_DecodeFrame with any codec
// and state, HI_VOICE_TransCodeFrame and DecAudioFrame, each on arbitrary frames held in
// buffers of exactly the size the interface promises to stay within, so that ASan sees any
// read or write past them.
//
// Input: byte 0 picks the call, byte 1 the codec or type, byte 2 whether the state block is
// taken from the input (to try states no reset produces); the rest is a sequence of frames,
// each as long as its own header says (cut at the end of the input).

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "zelplay/voice.h"

namespace {

constexpr uint16_t kIds[] = {1, 2, 3, 4, 5, 6, 7, 35, 36, 37, 38, 39, 65, 66, 67, 68, 0, 99};

// Next frame from the input: header plus 2L bytes, padded with zeros when the input ends.
std::vector<uint8_t> nextFrame(const uint8_t*& data, size_t& size, size_t extraRoom) {
    uint8_t header[4] = {0, 1, 0, 0};
    const size_t headerBytes = size < 4 ? size : 4;
    std::memcpy(header, data, headerBytes);
    const size_t frameBytes = 4 + 2 * static_cast<size_t>(header[2]);
    std::vector<uint8_t> frame(frameBytes + extraRoom, 0);
    const size_t take = size < frameBytes ? size : frameBytes;
    std::memcpy(frame.data(), data, take);
    data += take;
    size -= take;
    return frame;
}

void fuzzDecode(uint16_t id, bool stateFromInput, const uint8_t* data, size_t size) {
    auto state = std::make_unique<uint8_t[]>(HI_VOICE_STATE_BYTES);
    HI_VOICE_DecReset(state.get(), id);
    if (stateFromInput) {
        const size_t take = size < 64 ? size : 64;
        std::memcpy(state.get() + 2, data, take);  // keep the id, scramble what follows
        data += take;
        size -= take;
    }
    while (size > 0) {
        std::vector<uint8_t> frame = nextFrame(data, size, 0);
        const uint8_t* frameData = frame.data();
        auto pcm = std::make_unique<int16_t[]>(HI_VOICE_MAX_SAMPLES);
        uint16_t count = 0;
        const int32_t rc = HI_VOICE_DecodeFrame(state.get(), frameData, pcm.get(), &count);
        const bool headerOnly = id == HI_VOICE_ADPCM && frame[2] == 2;
        const bool consistent = rc == HI_VOICE_OK
                                    ? count <= HI_VOICE_MAX_SAMPLES && (count > 0 || headerOnly)
                                    : count == 0;
        if (!consistent) {
            __builtin_trap();
        }
    }
}

void fuzzTranscode(int type, const uint8_t* data, size_t size) {
    auto state = std::make_unique<uint8_t[]>(HI_VOICE_TRANSCODE_STATE_BYTES);
    if (HI_VOICE_TransCodeReset(state.get(), type) != HI_VOICE_OK) {
        HI_VOICE_TransCodeFrame(state.get(), nullptr);
        return;
    }
    while (size > 0) {
        // The ADPCM type turns L words into L + 2: the caller leaves room for 4 bytes more.
        std::vector<uint8_t> frame = nextFrame(data, size, type == HI_VOICE_TRANS_ADPCM ? 4 : 0);
        const uint8_t words = frame[2];
        const std::vector<uint8_t> before = frame;
        const int32_t rc = HI_VOICE_TransCodeFrame(state.get(), frame.data());
        if (rc != HI_VOICE_OK && frame != before) {
            __builtin_trap();  // a refused frame is left as it was
        }
        if (rc == HI_VOICE_OK && type == HI_VOICE_TRANS_ADPCM && frame[2] != words + 2) {
            __builtin_trap();
        }
    }
}

void fuzzAudioFrame(const uint8_t* data, size_t size) {
    // Exactly the input's bytes, so a read past the length shows.
    auto in = std::make_unique<uint8_t[]>(size + 1);
    std::memcpy(in.get(), data, size);
    const size_t outBytes = size > 642 ? size : 642;
    auto out = std::make_unique<uint8_t[]>(outBytes);
    int outLength = -1;
    const int ok = DecAudioFrame(in.get(), static_cast<int>(size), out.get(), &outLength);
    if (ok == 1 && (outLength < 0 || static_cast<size_t>(outLength) > outBytes)) {
        __builtin_trap();
    }
    // And back: whatever PCM came out encodes.
    if (ok == 1 && outLength > 0) {
        const int bytes = outLength > 962 ? 962 : outLength;
        // Types 2 and 3 copy the PCM as it is, the others write one frame.
        auto frame = std::make_unique<uint8_t[]>(bytes > HI_VOICE_MAX_FRAME_BYTES
                                                     ? static_cast<size_t>(bytes)
                                                     : HI_VOICE_MAX_FRAME_BYTES);
        EncAudioFrame(1 + (size % 5), out.get(), frame.get(), bytes);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) {
        return 0;
    }
    const uint8_t call = data[0] % 3;
    const uint8_t pick = data[1];
    const bool stateFromInput = (data[2] & 1) != 0;
    data += 3;
    size -= 3;
    switch (call) {
        case 0:
            fuzzDecode(kIds[pick % (sizeof kIds / sizeof kIds[0])], stateFromInput, data, size);
            break;
        case 1:
            fuzzTranscode(96 + pick % 6, data, size);
            break;
        default:
            fuzzAudioFrame(data, size);
            break;
    }
    return 0;
}
