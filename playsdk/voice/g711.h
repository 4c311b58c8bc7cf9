// G.711 companding of 16-bit linear samples (ITU-T G.711).
#pragma once

#include <cstdint>

namespace zelplay::voice {

// Encoding truncates: A-law keeps the 13 most significant bits of the sample, mu-law the 14
// most significant bits; negative samples are taken as their one's complement, so every
// input lands in the decision interval whose lower edge it is at or above.
uint8_t linearToAlaw(int16_t sample);
uint8_t linearToUlaw(int16_t sample);

// Decoding gives the middle of the code's decision interval, scaled to 16 bits.
int16_t alawToLinear(uint8_t code);
int16_t ulawToLinear(uint8_t code);

}  // namespace zelplay::voice
