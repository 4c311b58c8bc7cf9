// The null video output: decoding, callbacks and snapshots work, nothing is drawn.

#include "video_output.h"

namespace zelplay {

namespace {

class NullVideoOutput final : public VideoOutput {
  public:
    bool selectDevice(int) override { return true; }
    bool setup(SurfaceKind, uintptr_t, int, int) override { return true; }
    void teardown() override {}
    void setDrawCallback(ZELPLAY_DRAW_CALLBACK, ZELPLAY_PORT, ZELPLAY_USER, uint64_t) override {}
    bool present(const uint8_t* y, const uint8_t* v, const uint8_t* u, int width,
                 int height) override {
        return y && v && u && width > 0 && height > 0;
    }
};

}  // namespace

std::unique_ptr<VideoOutput> createNullVideoOutput() {
    return std::make_unique<NullVideoOutput>();
}

}  // namespace zelplay
