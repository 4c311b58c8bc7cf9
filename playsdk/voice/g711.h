// G.711 companding of 16-bit linear samples (ITU-T G.711).
#pragma once

#include <array>
#include <cstdint>

namespace zelplay::voice {

// Code of every 13-bit (A-law) or 14-bit (mu-law) two's complement input, and the value of
// every code, built at compile time from the segment rules in g711.cpp.
extern const std::array<uint8_t, 8192> kAlawFromLinear13;
extern const std::array<uint8_t, 16384> kUlawFromLinear14;
extern const std::array<int16_t, 256> kLinearFromAlaw;
extern const std::array<int16_t, 256> kLinearFromUlaw;

// Encoding truncates: A-law keeps the 13 most significant bits of the sample, mu-law the 14
// most significant bits; negative samples are taken as their one's complement, so every
// input lands in the decision interval whose lower edge it is at or above.
inline uint8_t linearToAlaw(int16_t sample) {
    return kAlawFromLinear13[(sample >> 3) + 4096];
}
inline uint8_t linearToUlaw(int16_t sample) {
    return kUlawFromLinear14[(sample >> 2) + 8192];
}

// Decoding gives the middle of the code's decision interval, scaled to 16 bits.
inline int16_t alawToLinear(uint8_t code) {
    return kLinearFromAlaw[code];
}
inline int16_t ulawToLinear(uint8_t code) {
    return kLinearFromUlaw[code];
}

}  // namespace zelplay::voice
