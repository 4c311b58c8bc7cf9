// The null sound output: accepts every format and drops the PCM.

#include "sound_output.h"

namespace zelplay {

namespace {

class NullSoundOutput final : public SoundOutput {
  public:
    int create() override { return 0; }
    int setFormat(int, int) override { return 0; }
    int start() override { return 0; }
    int writePcm(const uint8_t*, size_t) override { return 0; }
    int setVolume(unsigned percent) override { return percent > 100 ? 1 : 0; }
    int stop() override { return 0; }
    void destroy() override {}
};

}  // namespace

std::unique_ptr<SoundOutput> createNullSoundOutput() {
    return std::make_unique<NullSoundOutput>();
}

std::unique_ptr<SoundOutput> createSoundOutput() {
    return createNullSoundOutput();
}

unsigned volumePercent(uint16_t volume) {
    constexpr double kInverseFullScale = 0.000015259021896696422;  // 1 / 65535
    return static_cast<unsigned>(volume * kInverseFullScale * 100);
}

}  // namespace zelplay
