// Which sound output a new port gets, and the volume scale shared by every output.

#include "sound_output.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace zelplay {

namespace {

std::atomic<SoundOutputFactory> chosenFactory{nullptr};

std::unique_ptr<SoundOutput> createDefaultSoundOutput() {
    if (const char* forced = std::getenv("ZELPLAY_SOUND_OUTPUT")) {
        if (std::strcmp(forced, "sdl") == 0)
            return createSdlSoundOutput();
        if (std::strcmp(forced, "null") == 0)
            return createNullSoundOutput();
    }
    // Asked once: starting the audio subsystem may look for a sound server.
    static const bool sdlWorks = sdlAudioAvailable();
    return sdlWorks ? createSdlSoundOutput() : createNullSoundOutput();
}

}  // namespace

std::unique_ptr<SoundOutput> createSoundOutput() {
    const SoundOutputFactory factory = chosenFactory.load();
    return factory != nullptr ? factory() : createDefaultSoundOutput();
}

SoundOutputFactory setSoundOutputFactory(SoundOutputFactory factory) {
    return chosenFactory.exchange(factory);
}

unsigned volumePercent(uint16_t volume) {
    constexpr double kInverseFullScale = 0.000015259021896696422;  // 1 / 65535
    return static_cast<unsigned>(volume * kInverseFullScale * 100);
}

}  // namespace zelplay
