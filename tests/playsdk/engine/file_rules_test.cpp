// The rules of file play that need no thread: pacing, seek targets, speed steps, file kinds
// and the decoding of file audio.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "file_audio.h"
#include "file_facts.h"
#include "file_pacing.h"
#include "g711.h"
#include "zelplay/voice.h"

using namespace zelplay;

TEST(FilePacing, WaitIsTheRestOfTheFrameAndAGapBecomesTheDefaultInterval) {
    // 60 000 ms with 1 500 frames: 40 ms.
    EXPECT_EQ(defaultIntervalMs(60000, 1500), 40);
    EXPECT_EQ(defaultIntervalMs(10000, 2), 1000);  // at most a second
    EXPECT_EQ(defaultIntervalMs(0, 10), kFallbackIntervalMs);
    EXPECT_EQ(defaultIntervalMs(1000, 0), kFallbackIntervalMs);  // AVI with under 1 s of audio
    EXPECT_EQ(frameWaitMs(40, 10, 40), 30);
    EXPECT_EQ(frameWaitMs(40, 40, 40), 0);
    EXPECT_EQ(frameWaitMs(40, 55, 40), 0);  // late: the next frame follows at once
    EXPECT_EQ(frameWaitMs(1000, 0, 40), 1000);
    EXPECT_EQ(frameWaitMs(1001, 0, 40), 40);  // a gap in the stamps
    EXPECT_EQ(scaledWaitMs(40, 1.0 / 16), 2);
    EXPECT_EQ(scaledWaitMs(40, 16.0), 640);
}

TEST(FilePacing, SpeedStepsStopAtSixteenEitherWay) {
    double speed = 1.0;
    for (int i = 0; i < 5; ++i)
        speed = steppedSpeed(speed, 2.0);
    EXPECT_EQ(speed, 16.0);
    EXPECT_EQ(steppedSpeed(speed, 2.0), 16.0);
    speed = 1.0;
    for (int i = 0; i < 5; ++i)
        speed = steppedSpeed(speed, 0.5);
    EXPECT_EQ(speed, 0.0625);
    EXPECT_EQ(1.0 / speed, 16.0);  // the sleep factor
    EXPECT_TRUE(isNormalSpeed(1.0));
    EXPECT_FALSE(isNormalSpeed(0.5));
}

TEST(FilePacing, SeekTargetsAndEvenlySpreadIndexes) {
    EXPECT_EQ(seekRequestMs(0.0f, 10000), 1u);  // 1 stands for the start
    EXPECT_EQ(seekRequestMs(0.5f, 10000), 5000u);
    EXPECT_EQ(seekRequestMs(1.0f, 10000), 10000u);
    EXPECT_EQ(indexAtMs(5000, 10000, 250), 125);
    EXPECT_EQ(indexAtMs(20000, 10000, 250), 250);
    EXPECT_EQ(indexAtMs(100, 0, 250), 0);
    EXPECT_EQ(msAtIndex(125, 250, 10000), 5000u);
    EXPECT_EQ(msAtIndex(1, 3, 100), 33u);
    EXPECT_EQ(fileFrameRate(250, 10000), 25);
    EXPECT_EQ(fileFrameRate(250, 0), 0);
}

TEST(FileKinds, ExtensionAfterTheLastDotCaseSensitive) {
    EXPECT_EQ(fileKindOf("/a/b.ifv"), FileKind::Record);
    EXPECT_EQ(fileKindOf("clip.avi"), FileKind::Avi);
    EXPECT_EQ(fileKindOf("clip.AVI"), FileKind::Other);
    EXPECT_EQ(fileKindOf("/a.b/clip"), FileKind::Other);
    EXPECT_EQ(fileKindOf("clip.ifv.mp4"), FileKind::Other);
    EXPECT_FALSE(fileKindOf("/tmp/clip").has_value());
}

TEST(FileAudio, AviAlawAndPcmBecomeMonoSixteenBit) {
    std::vector<uint8_t> pcm;
    const uint8_t alaw[4] = {0xD5, 0x55, 0x2A, 0xAA};
    DecodedAudio d = decodeAviAudio({kWaveFormatAlaw, 1, 8}, alaw, 4, pcm);
    ASSERT_EQ(d.bits, 16);
    ASSERT_EQ(d.bytes, 8u);
    for (int i = 0; i < 4; ++i) {
        int16_t s;
        std::memcpy(&s, pcm.data() + 2 * i, 2);
        EXPECT_EQ(s, voice::alawToLinear(alaw[i]));
    }
    // Stereo 16-bit PCM: each pair averaged.
    const int16_t stereo[4] = {1000, 3000, -200, -400};
    d = decodeAviAudio({kWaveFormatPcm, 2, 16}, reinterpret_cast<const uint8_t*>(stereo), 8, pcm);
    ASSERT_EQ(d.bytes, 4u);
    int16_t mono[2];
    std::memcpy(mono, pcm.data(), 4);
    EXPECT_EQ(mono[0], 2000);
    EXPECT_EQ(mono[1], -300);
    // 8-bit PCM stays 8-bit, made signed.
    const uint8_t u8[2] = {128, 255};
    d = decodeAviAudio({kWaveFormatPcm, 1, 8}, u8, 2, pcm);
    EXPECT_EQ(d.bits, 8);
    EXPECT_EQ(pcm[0], 0);
    EXPECT_EQ(pcm[1], 127);
    EXPECT_EQ(decodeAviAudio({85, 1, 0}, u8, 2, pcm).bits, 0);  // MP3: not played
}

TEST(FileAudio, VoiceFramesDecodeInRecordsAndAvis) {
    std::vector<int16_t> tone(320);
    for (size_t i = 0; i < tone.size(); ++i)
        tone[i] = static_cast<int16_t>(6000 * std::sin(i * 0.3));
    std::vector<uint8_t> frame(1024);
    ASSERT_EQ(EncAudioFrame(5, tone.data(), frame.data(), 640), 1);
    frame.resize(324);
    std::vector<uint8_t> pcm;
    const DecodedAudio record = decodeRecordAudio(frame.data(), frame.size(), pcm);
    EXPECT_EQ(record.bits, 16);
    EXPECT_EQ(record.bytes, 640u);
    const DecodedAudio avi =
        decodeAviAudio({kWaveFormatPcm, 1, 16}, frame.data(), frame.size(), pcm);
    EXPECT_EQ(avi.bits, 16);
    EXPECT_EQ(avi.bytes, 640u);
}
