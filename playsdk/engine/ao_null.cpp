// The null sound output: accepts every format an output plays and drops the PCM.

#include "sound_output.h"

namespace zelplay {

namespace {

class NullSoundOutput final : public SoundOutput {
  public:
    int create() override { return 0; }
    int setFormat(int bits, int rate) override { return soundFormatPlayable(bits, rate) ? 0 : 1; }
    int start() override { return 0; }
    int setAudible(bool) override { return 0; }
    int writePcm(const uint8_t*, size_t) override { return kSoundWritten; }
    uint32_t msUntilRoom() override { return 1; }
    int setVolume(unsigned percent) override {
        if (percent > 100)
            return 1;
        percent_ = percent;
        return 0;
    }
    int stop() override { return 0; }
    void destroy() override {}
    SoundOutputState state() override {
        SoundOutputState s;
        s.volumePercent = percent_;
        return s;
    }

  private:
    unsigned percent_ = 100;
};

}  // namespace

std::unique_ptr<SoundOutput> createNullSoundOutput() {
    return std::make_unique<NullSoundOutput>();
}

}  // namespace zelplay
