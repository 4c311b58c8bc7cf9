// The viewer's settings file: "set.ini" in the current directory unless the command line
// names another, section "config".
#pragma once

#include <cstddef>
#include <string>

namespace vidwall {

inline constexpr const char* kSettingsFile = "./set.ini";
inline constexpr const char* kSection = "config";
inline constexpr const char* kKeyWinNum = "winnum";
inline constexpr const char* kKeyReplay = "replay";
// Latency cap of live windows in ms (0: off). Optional: without it the control keeps its own
// default; readers that do not know it ignore it.
inline constexpr const char* kKeyMaxDelay = "maxdelay";
inline constexpr int kDefaultWinNum = 4;
inline constexpr int kDefaultReplay = 0;
inline constexpr std::size_t kMaxAddressBytes = 1023;
inline constexpr int kWindows = 16;

// The longest start of UTF-8 text that fits in maxBytes without splitting a character.
inline std::string utf8Prefix(std::string text, std::size_t maxBytes) {
    if (text.size() <= maxBytes)
        return text;
    std::size_t cut = maxBytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;  // text[cut] continues a character that began before the cut
    text.resize(cut);
    return text;
}

// The window counts the wall lays out.
inline constexpr bool isWindowCount(int count) {
    return count == 1 || count == 2 || count == 4 || count == 9 || count == 16;
}

// The grid that shows a configured count: a count between two grids (3, 5 to 8, 10 to 15,
// written by hand) takes the larger, so that every window it names is shown. Other counts
// (none, negative, more than the wall has) are handed on as they are, and the control keeps
// its layout.
inline constexpr int gridWindowCount(int configured) {
    for (const int grid : {1, 2, 4, 9, 16})
        if (configured >= 1 && configured <= grid)
            return grid;
    return configured;
}

// "file0" to "file15" (and beyond, for lists longer than the wall).
inline std::string fileKey(int index) {
    return "file" + std::to_string(index);
}

}  // namespace vidwall
