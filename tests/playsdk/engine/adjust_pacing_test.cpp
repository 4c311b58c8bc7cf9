// Picture adjustment arithmetic and the buffered-stream pacing rule, as pure functions.
#include <gtest/gtest.h>

#include <vector>

#include "picture_adjust.h"
#include "stream_pacing.h"

using namespace zelplay;

TEST(PictureAdjust, LumaTableExtremes) {
    for (int v : buildLumaTable(0, 64))
        EXPECT_EQ(v, 0);  // black
    for (int v : buildLumaTable(128, 64))
        EXPECT_EQ(v, 255);  // white
    // Contrast 0: every value becomes clamp(128 - o); at brightness 32, o = 127.
    for (int v : buildLumaTable(32, 0))
        EXPECT_EQ(v, 1);
    // Neutral settings: floor(255 i / 256) - 127 + 128, one below identity at the top.
    const LumaTable t = buildLumaTable(64, 64);
    EXPECT_EQ(t[0], 1);
    EXPECT_EQ(t[255], 255);
}

TEST(PictureAdjust, ChromaConstantsAndRotations) {
    const ChromaConstants hue0 = chromaConstants(64, 0);
    EXPECT_EQ(hue0.kc, 256);
    EXPECT_EQ(hue0.ks, 0);
    EXPECT_EQ(hue0.k1, 32767);
    EXPECT_EQ(hue0.k2, 32768);
    const ChromaConstants hue96 = chromaConstants(64, 96);
    EXPECT_EQ(hue96.kc, 0);
    EXPECT_EQ(hue96.ks, 256);
    EXPECT_EQ(hue96.k1, 32768);
    EXPECT_EQ(hue96.k2, -32767);
    for (int u = 0; u < 256; u += 5) {
        for (int v = 0; v < 256; v += 7) {
            uint8_t a = static_cast<uint8_t>(u), b = static_cast<uint8_t>(v);
            rotateChroma(hue96, a, b);
            EXPECT_EQ(a, v);
            EXPECT_EQ(b, 255 - u);
            uint8_t c = static_cast<uint8_t>(u), d = static_cast<uint8_t>(v);
            rotateChroma(hue0, c, d);
            EXPECT_EQ(c, u);
            EXPECT_EQ(d, v);
        }
    }
}

TEST(PictureAdjust, WholePictureSettings) {
    const int w = 32, h = 16;
    std::vector<uint8_t> pic(w * h * 3 / 2);
    for (size_t i = 0; i < pic.size(); ++i)
        pic[i] = static_cast<uint8_t>(i * 7);
    const std::vector<uint8_t> original = pic;
    uint8_t* y = pic.data();
    uint8_t* v = y + w * h;
    uint8_t* u = v + w * h / 4;
    adjustPicture(ColourSettings{}, y, v, u, w, h);
    EXPECT_EQ(pic, original) << "neutral settings must not touch the picture";
    adjustPicture(ColourSettings{64, 64, 0, 64}, y, v, u, w, h);  // saturation 0: grey
    for (int i = 0; i < w * h / 4; ++i) {
        EXPECT_EQ(u[i], 128);
        EXPECT_EQ(v[i], 128);
    }
    EXPECT_TRUE(std::equal(y, y + w * h, original.begin()));
    adjustPicture(ColourSettings{0, 64, 64, 64}, y, v, u, w, h);  // brightness 0: black luma
    for (int i = 0; i < w * h; ++i)
        EXPECT_EQ(y[i], 0);
}

TEST(StreamPacing, DueWaitAndSpeed) {
    StreamClock clock;
    PaceInput in;
    in.nowMs = 10000;
    in.stampMs = 5000;
    EXPECT_EQ(paceFrame(clock, in).verdict, PaceVerdict::Due);  // the first frame sets the clock
    EXPECT_EQ(clock.firstStamp, 5000u);
    EXPECT_EQ(clock.firstTick, 10000u);
    in.stampMs = 5040;
    in.nowMs = 10010;
    PaceResult r = paceFrame(clock, in);
    EXPECT_EQ(r.verdict, PaceVerdict::Wait);
    EXPECT_EQ(r.waitMs, 30);
    in.nowMs = 10040;
    EXPECT_EQ(paceFrame(clock, in).verdict, PaceVerdict::Due);
    // Speed 2: a stamp span of 1000 is due at 500 ms.
    in.speed = 2.0;
    in.stampMs = 6000;
    in.nowMs = 10499;
    EXPECT_EQ(paceFrame(clock, in).verdict, PaceVerdict::Wait);
    in.nowMs = 10500;
    r = paceFrame(clock, in);
    EXPECT_EQ(r.verdict, PaceVerdict::Due);
    EXPECT_EQ(r.stampLenMs, 500);
    // Audio away from normal speed is dropped and moves the audio clock.
    StreamClock audio;
    in.video = false;
    EXPECT_EQ(paceFrame(audio, in).verdict, PaceVerdict::DropAudio);
    EXPECT_EQ(audio.firstStamp, 6000u);
}

TEST(StreamPacing, JumpRestartsTheClockAndLowQueueHoldsFramesApart) {
    StreamClock clock{1000, 50000};
    PaceInput in;
    in.nowMs = 50100;
    in.stampMs = 9000;  // 8 s ahead of the clock
    PaceResult r = paceFrame(clock, in);
    EXPECT_EQ(r.verdict, PaceVerdict::Due);
    EXPECT_EQ(r.stampLenMs, 0);
    EXPECT_EQ(clock.firstStamp, 9000u);
    EXPECT_EQ(clock.firstTick, 50100u);
    // Queue below depth at start - 2: frames at least 1000 / 3 ms after the last interval.
    in.queued = 2;
    in.depthAtStart = 10;
    in.lastIntervalMs = 0;
    in.stampMs = 9040;
    in.nowMs = 50140;
    r = paceFrame(clock, in);
    EXPECT_EQ(r.verdict, PaceVerdict::Wait);
    EXPECT_EQ(r.waitMs, 333 - 40);
    in.nowMs = 50100 + 333;
    EXPECT_EQ(paceFrame(clock, in).verdict, PaceVerdict::Due);
    in.nominalRate = 0;  // taken as 1 frame per second
    in.nowMs = 50100 + 400;
    EXPECT_EQ(paceFrame(clock, in).waitMs, 600);
}
