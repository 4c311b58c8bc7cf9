// The player's snapshot and sound keys, over the library's exports.
#include <cstdio>

#include "zelplay_cli.h"

namespace zelplaycli {

namespace {
constexpr int32_t kJpegQuality = 90;
// The format the port's sound starts in; the file's audio thread re-opens it in the file's
// own format when that differs.
constexpr int32_t kSoundBits = 16;
constexpr int32_t kSoundRate = 8000;
constexpr uint32_t kFullVolume = 0xFFFF;
}  // namespace

bool saveSnapshot(ZELPLAY_PORT port, const std::string& path, bool jpeg) {
    const int32_t ok = jpeg ? ZelPlay_GetJPG(port, path.c_str(), kJpegQuality)
                            : ZelPlay_GetBMP(port, path.c_str());
    if (ok == 0) {
        std::fprintf(stderr, "\nzelplay: %s not saved (error %u)\n", path.c_str(),
                     ZelPlay_GetLastError(port));
        return false;
    }
    return true;
}

bool startSound(ZELPLAY_PORT port) {
    return ZelPlay_PlaySound(port, kSoundBits, kSoundRate) == 1;
}

bool setMuted(ZELPLAY_PORT port, bool muted) {
    return ZelPlay_SetVolume(port, muted ? 0 : kFullVolume) == 1;
}

}  // namespace zelplaycli
