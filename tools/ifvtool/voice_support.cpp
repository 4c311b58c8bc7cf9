#include "voice_support.h"

#include "zelplay/voice.h"

namespace ifvtool {

namespace {
// EncAudioFrame type of an A-law frame (codec id 1).
constexpr int kEncodeAlaw = 5;
}  // namespace

bool decodeAudioFrame(const uint8_t* frame, int length, uint8_t* out, int* outLength) {
    return DecAudioFrame(frame, length, out, outLength) == 1;
}

bool encodeVoiceFrame(const int16_t* pcm, uint8_t* out) {
    return EncAudioFrame(kEncodeAlaw, pcm, out, kVoiceFrameSamples * 2) == 1;
}

bool decodesTo16Bit(const uint8_t* frame, int length) {
    if (length >= 4 && frame[0] == 0 && frame[1] == 1 && frame[3] == 0 &&
        (frame[2] == 0x52 || frame[2] == 0xA0)) {
        return true;
    }
    return length > 0 && (length % 640 == 0 || length % 642 == 0);
}

}  // namespace ifvtool
