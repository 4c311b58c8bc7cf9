// The viewer's settings file: "set.ini" in the current directory, section "config".
#pragma once

#include <string>

namespace vidwall {

inline constexpr const char* kSettingsFile = "./set.ini";
inline constexpr const char* kSection = "config";
inline constexpr const char* kKeyWinNum = "winnum";
inline constexpr const char* kKeyReplay = "replay";
inline constexpr int kDefaultWinNum = 4;
inline constexpr int kDefaultReplay = 0;
inline constexpr std::size_t kMaxAddressBytes = 1023;
inline constexpr int kWindows = 16;

// "file0" to "file15" (and beyond, for lists longer than the wall).
inline std::string fileKey(int index) {
    return "file" + std::to_string(index);
}

}  // namespace vidwall
