// Snapshot and sound calls of the player. The library's snapshot exports (ZelPlay_GetJPG,
// ZelPlay_GetBMP) and sound exports (ZelPlay_PlaySound, ZelPlay_SetVolume) are not part of
// this build yet; these stubs keep the keys answering until they are.
#include <cstdio>

#include "zelplay_cli.h"

namespace zelplaycli {

// TODO(merge): ZelPlay_GetJPG(port, path.c_str(), 90) / ZelPlay_GetBMP(port, path.c_str())
// once the snapshot exports are in play.h.
bool saveSnapshot(ZELPLAY_PORT, const std::string& path, bool jpeg) {
    std::fprintf(stderr, "\nzelplay: %s snapshots are not available in this build (%s not saved)\n",
                 jpeg ? "JPEG" : "BMP", path.c_str());
    return false;
}

// TODO(merge): ZelPlay_PlaySound(port, 16, 8000) once the sound exports are in play.h.
bool startSound(ZELPLAY_PORT) {
    return false;
}

// TODO(merge): ZelPlay_SetVolume(port, muted ? 0 : 0xFFFF) once the sound exports are in
// play.h.
bool setMuted(ZELPLAY_PORT, bool) {
    std::fprintf(stderr, "\nzelplay: sound is not available in this build\n");
    return false;
}

}  // namespace zelplaycli
