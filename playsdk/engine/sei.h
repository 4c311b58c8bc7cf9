// User data carried in the H.264 SEI units of a video frame (payload type 0xF0), turned
// into the 258-byte records of the SEI callback.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "zelplay/play.h"

namespace zelplay {

inline constexpr size_t kSeiSearchBytes = 100;       // the start code must lie in these bytes
inline constexpr size_t kSeiMaxPayloadBytes = 1019;  // user data bytes looked at, at most
inline constexpr uint8_t kSeiTypeUserData = 0xF0;
inline constexpr uint8_t kSeiTypeRecognised = 0xE5;  // known, carries nothing for us
inline constexpr uint8_t kSeiListMarker = 0x78;      // 'x': the payload is a list of items
inline constexpr uint8_t kSeiTextType = 0xFF;        // record type of a text payload

// Prefix-table (Knuth-Morris-Pratt) search of pattern in text; the position of the first
// match or -1.
// prefixTable has patternLength entries (buildPrefixTable).
long findPattern(const uint8_t* text, size_t textLength, const uint8_t* pattern,
                 size_t patternLength, const int* prefixTable);
void buildPrefixTable(const uint8_t* pattern, size_t patternLength, int* prefixTable);

// The records of one video payload, in order; none when the payload carries no user data.
std::vector<ZELPLAY_SEI_RECORD> extractSei(const uint8_t* payload, size_t length);

}  // namespace zelplay
