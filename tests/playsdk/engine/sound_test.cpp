// Sound: the SDL output on its own, the backend choice, the sound exports and their codes,
// and what is heard, recorded by SDL's "disk" audio driver (which plays in real time and
// writes what would be heard to SDL_DISKAUDIOFILE).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <ostream>
#include <thread>
#include <vector>

#include "audio_frames.h"
#include "file_media.h"
#include "h264_stream.h"
#include "port_table.h"
#include "sound_output.h"
#include "support/corpus.h"
#include "support/media.h"
#include "zelplay.h"

using enginetest::analyseRecording;
using enginetest::AudioKind;
using enginetest::HeardSound;
using enginetest::ToneFrames;
using zelplay::kSoundBufferBytes;
using zelplay::kSoundBuffers;
using zelplay::sdlSoundDevicesOpen;
using Clock = std::chrono::steady_clock;

namespace {

bool waitFor(const std::function<bool()>& done, int timeoutMs) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

zelplay::SoundOutputState soundOf(ZELPLAY_PORT port) {
    auto p = zelplay::PortTable::instance().find(port);
    return p ? p->soundState() : zelplay::SoundOutputState{};
}

// A stream port, opened and playing, freed at the end.
struct StreamPort {
    ZELPLAY_PORT port = 0;
    explicit StreamPort(int mode = 0) {
        EXPECT_EQ(ZelPlay_GetPort(&port), 1);
        EXPECT_EQ(ZelPlay_SetPlayMode(port, mode), 1);
        EXPECT_EQ(ZelPlay_OpenStream(port, 1 << 20), 1);
        EXPECT_EQ(ZelPlay_Play(port, 0), 1);
    }
    ~StreamPort() { ZelPlay_FreePort(port); }
    int32_t input(const std::vector<uint8_t>& rec) {
        return ZelPlay_InputAudioData(port, rec.data(), static_cast<uint32_t>(rec.size()));
    }
    int32_t queue(const std::vector<uint8_t>& rec) {
        return ZelPlay_InputVideoData(port, rec.data(), static_cast<uint32_t>(rec.size()));
    }
    // Waits until what the port's output holds has been played.
    bool drained() {
        return waitFor([&] { return soundOf(port).bytesWaiting == 0; }, 15000);
    }
};

// Ports get the SDL output whatever the machine offers; SDL plays through `driver`.
class SdlSound : public ::testing::Test {
  protected:
    explicit SdlSound(const char* driver = "dummy") {
        setenv("SDL_AUDIODRIVER", driver, 1);
        zelplay::setSoundOutputFactory(zelplay::createSdlSoundOutput);
    }
    void SetUp() override { ASSERT_EQ(sdlSoundDevicesOpen(), 0); }
    void TearDown() override {
        ZelPlay_StopSound();
        zelplay::setSoundOutputFactory(nullptr);
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        EXPECT_EQ(sdlSoundDevicesOpen(), 0);
    }
};

// The same, recording what is heard; each recording() names a fresh file for the next
// device to open (the driver truncates its file on every open).
class HeardSoundTest : public SdlSound {
  protected:
    HeardSoundTest() : SdlSound("disk") {}
    std::string recording(const std::string& name) {
        const std::string path = dir_.file(name);
        setenv("SDL_DISKAUDIOFILE", path.c_str(), 1);
        return path;
    }
    testsupport::TempDir dir_;
};

}  // namespace

// ---- The output on its own -------------------------------------------------------------

TEST(SoundVolume, ScaleOfThePortVolume) {
    EXPECT_EQ(zelplay::volumePercent(65535), 100u);
    EXPECT_EQ(zelplay::volumePercent(32768), 50u);
    EXPECT_EQ(zelplay::volumePercent(655), 0u);  // trunc(0.9995)
    EXPECT_EQ(zelplay::volumePercent(656), 1u);
    EXPECT_EQ(zelplay::volumePercent(0), 0u);
}

TEST_F(SdlSound, OutputOpensADeviceOnlyWhenStartedAndAudible) {
    auto out = zelplay::createSdlSoundOutput();
    EXPECT_EQ(out->setFormat(16, 8000), 1) << "no output created yet";
    ASSERT_EQ(out->create(), 0);
    EXPECT_EQ(out->setFormat(24, 8000), 1);
    EXPECT_EQ(out->setFormat(16, 0), 1);
    EXPECT_EQ(out->setFormat(8, 8000), 0);
    ASSERT_EQ(out->start(), 0);
    EXPECT_EQ(sdlSoundDevicesOpen(), 0) << "started but not heard: no device";
    const std::vector<uint8_t> pcm(20000, 0x80);
    EXPECT_EQ(out->writePcm(pcm.data(), pcm.size()), zelplay::kSoundDropped);

    ASSERT_EQ(out->setAudible(true), 0);
    EXPECT_EQ(sdlSoundDevicesOpen(), 1);
    zelplay::SoundOutputState s = out->state();
    EXPECT_TRUE(s.deviceOpen);
    EXPECT_EQ(s.bits, 8);
    EXPECT_EQ(s.rate, 8000);
    EXPECT_EQ(out->setFormat(16, 8000), 1) << "the format is fixed once started";

    // One write is one buffer of at most 16 384 bytes; the rest of longer PCM is dropped.
    // The first write to an idle device is led by 100 ms (800 bytes) of silence. A whole
    // buffer of 8-bit sound at 8 kHz plays for two seconds.
    ASSERT_EQ(out->writePcm(pcm.data(), pcm.size()), zelplay::kSoundWritten);
    s = out->state();
    EXPECT_EQ(s.buffersWaiting, 2);
    EXPECT_LE(s.bytesWaiting, 800 + kSoundBufferBytes);
    EXPECT_GT(s.bytesWaiting, kSoundBufferBytes - 4096);
    for (int i = 2; i < kSoundBuffers; ++i)
        ASSERT_EQ(out->writePcm(pcm.data(), kSoundBufferBytes), zelplay::kSoundWritten) << i;
    EXPECT_EQ(out->writePcm(pcm.data(), 100), zelplay::kSoundFull);
    EXPECT_EQ(out->state().buffersWaiting, kSoundBuffers);
    const uint32_t wait = out->msUntilRoom();
    EXPECT_GE(wait, 1u);
    EXPECT_LE(wait, 2100u);

    EXPECT_EQ(out->setVolume(101), 1);
    EXPECT_EQ(out->state().volumePercent, 100u);
    EXPECT_EQ(out->setVolume(0), 0);
    EXPECT_EQ(out->state().volumePercent, 0u);

    // Stop silences and closes; a new start opens the device afresh, empty.
    EXPECT_EQ(out->stop(), 0);
    EXPECT_EQ(sdlSoundDevicesOpen(), 0);
    EXPECT_EQ(out->writePcm(pcm.data(), 100), zelplay::kSoundDropped);
    ASSERT_EQ(out->start(), 0);
    EXPECT_EQ(sdlSoundDevicesOpen(), 1);
    EXPECT_EQ(out->state().buffersWaiting, 0);
    EXPECT_EQ(out->setAudible(false), 0);
    EXPECT_EQ(sdlSoundDevicesOpen(), 0);
    EXPECT_EQ(out->setAudible(true), 0);
    EXPECT_EQ(sdlSoundDevicesOpen(), 1);
    out->destroy();
    EXPECT_EQ(sdlSoundDevicesOpen(), 0);
    EXPECT_EQ(out->start(), 1) << "destroyed: nothing to start";
}

TEST_F(SdlSound, OpeningADeviceLeavesTheHostsSignalsAlone) {
    // SDL's own SIGINT and SIGTERM handlers would turn a service manager's SIGTERM into an
    // event that nobody reads.
    struct sigaction before {};
    ASSERT_EQ(sigaction(SIGTERM, nullptr, &before), 0);
    ASSERT_EQ(before.sa_handler, SIG_DFL);
    auto out = zelplay::createSdlSoundOutput();
    ASSERT_EQ(out->create(), 0);
    ASSERT_EQ(out->setAudible(true), 0);
    ASSERT_EQ(out->start(), 0);
    ASSERT_EQ(sdlSoundDevicesOpen(), 1);
    for (int signal : {SIGTERM, SIGINT}) {
        struct sigaction now {};
        ASSERT_EQ(sigaction(signal, nullptr, &now), 0);
        EXPECT_EQ(now.sa_handler, SIG_DFL) << signal;
    }
    out->destroy();
}

TEST(SoundOutputChoice, EnvironmentAndSeamPickTheBackend) {
    ASSERT_EQ(sdlSoundDevicesOpen(), 0);
    // Whether an output is SDL's shows in the device it opens when heard.
    auto opensDevice = [](std::unique_ptr<zelplay::SoundOutput> out) {
        out->create();
        out->setFormat(16, 8000);
        out->setAudible(true);
        out->start();
        const bool opened = sdlSoundDevicesOpen() == 1;
        out->destroy();
        return opened;
    };
    setenv("ZELPLAY_SOUND_OUTPUT", "null", 1);
    EXPECT_FALSE(opensDevice(zelplay::createSoundOutput()));
    setenv("ZELPLAY_SOUND_OUTPUT", "sdl", 1);
    EXPECT_TRUE(opensDevice(zelplay::createSoundOutput()));
    zelplay::setSoundOutputFactory(zelplay::createNullSoundOutput);
    EXPECT_FALSE(opensDevice(zelplay::createSoundOutput())) << "the seam comes first";
    EXPECT_EQ(zelplay::setSoundOutputFactory(nullptr), zelplay::createNullSoundOutput);
    unsetenv("ZELPLAY_SOUND_OUTPUT");
    // The tests' dummy driver is there, so SDL is chosen.
    EXPECT_TRUE(opensDevice(zelplay::createSoundOutput()));
}

// ---- The exports -------------------------------------------------------------------------

TEST_F(SdlSound, ExportsAnswerWithTheirCodes) {
    EXPECT_EQ(ZelPlay_PlaySound(12345, 16, 8000), 0);
    EXPECT_EQ(ZelPlay_SetVolume(12345, 100), 0);
    EXPECT_EQ(ZelPlay_GetVolume(12345), 0u);
    EXPECT_EQ(ZelPlay_StopSound(), 1) << "no sound port";
    EXPECT_EQ(ZelPlay_StopSound(), 1);

    ZELPLAY_PORT port = 0;
    ASSERT_EQ(ZelPlay_GetPort(&port), 1);
    EXPECT_EQ(ZelPlay_GetVolume(port), 0xFFFFu);
    EXPECT_EQ(ZelPlay_SetVolume(port, 32768), 1);
    EXPECT_EQ(ZelPlay_GetLastError(port), 0u);
    EXPECT_EQ(ZelPlay_GetVolume(port), 32768u);
    EXPECT_EQ(ZelPlay_SetVolume(port, 0x1FFFF), 1);
    EXPECT_EQ(ZelPlay_GetVolume(port), 0xFFFFu) << "only the low 16 bits count";

    // Formats the output refuses: 9, and the port has no output afterwards.
    EXPECT_EQ(ZelPlay_PlaySound(port, 24, 8000), 0);
    EXPECT_EQ(ZelPlay_GetLastError(port), 9u);
    EXPECT_EQ(ZelPlay_PlaySound(port, 16, 0), 0);
    EXPECT_EQ(ZelPlay_GetLastError(port), 9u);
    EXPECT_FALSE(soundOf(port).deviceOpen);
    EXPECT_EQ(sdlSoundDevicesOpen(), 0);

    // Neither an open stream nor play is needed to be heard.
    EXPECT_EQ(ZelPlay_PlaySound(port, 8, 11025), 1);
    EXPECT_EQ(ZelPlay_GetLastError(port), 0u);
    zelplay::SoundOutputState s = soundOf(port);
    EXPECT_TRUE(s.deviceOpen);
    EXPECT_EQ(s.bits, 8);
    EXPECT_EQ(s.rate, 11025);
    EXPECT_EQ(s.volumePercent, 100u) << "the port's volume is applied to a new output";
    EXPECT_EQ(ZelPlay_SetVolume(port, 655), 1);
    EXPECT_EQ(soundOf(port).volumePercent, 0u) << "and a change at once";

    // Stop sound stores 0 on the port it silences.
    EXPECT_EQ(ZelPlay_Play(port, 0), 0);
    EXPECT_EQ(ZelPlay_GetLastError(port), 5u);
    EXPECT_EQ(ZelPlay_StopSound(), 1);
    EXPECT_EQ(ZelPlay_GetLastError(port), 0u);
    EXPECT_EQ(sdlSoundDevicesOpen(), 0);
    EXPECT_EQ(ZelPlay_StopSound(), 1);

    // Calls on a freed port.
    EXPECT_EQ(ZelPlay_PlaySound(port, 16, 8000), 1);
    EXPECT_EQ(ZelPlay_FreePort(port), 1);
    EXPECT_EQ(sdlSoundDevicesOpen(), 0) << "freeing the sound port silences it";
    EXPECT_EQ(ZelPlay_PlaySound(port, 16, 8000), 0);
    EXPECT_EQ(ZelPlay_GetLastError(port), 1u);
    EXPECT_EQ(ZelPlay_SetVolume(port, 1), 0);
    EXPECT_EQ(ZelPlay_GetVolume(port), 0u);
    EXPECT_EQ(ZelPlay_StopSound(), 1);
    EXPECT_EQ(ZelPlay_StopSound(), 1);
}

TEST_F(SdlSound, BufferedAudioAwayFromNormalSpeedDoesNotReachTheDevice) {
    StreamPort port(1);
    ASSERT_EQ(ZelPlay_PlaySound(port.port, 16, 8000), 1);
    ToneFrames tone(AudioKind::Alaw, 440);
    ASSERT_EQ(ZelPlay_Fast(port.port), 1);
    EXPECT_EQ(port.input(tone.nextRecord()), 1);
    EXPECT_EQ(soundOf(port.port).buffersWaiting, 0);
    ASSERT_EQ(ZelPlay_Play(port.port, 0), 1);  // normal speed again
    EXPECT_EQ(port.input(tone.nextRecord()), 1);
    EXPECT_GE(soundOf(port.port).buffersWaiting, 1);
}

TEST_F(SdlSound, APortAtTheAddressOfTheFreedSoundPortIsNotHeard) {
    ZELPLAY_PORT heard = 0;
    ASSERT_EQ(ZelPlay_GetPort(&heard), 1);
    ASSERT_EQ(ZelPlay_PlaySound(heard, 16, 8000), 1);
    ASSERT_EQ(ZelPlay_FreePort(heard), 1);
    // The allocator tends to hand the freed record out again; whichever address the new
    // ports get, none of them is heard.
    std::vector<ZELPLAY_PORT> ports;
    bool reused = false;
    ToneFrames tone(AudioKind::Alaw, 440);
    const auto rec = tone.nextRecord();
    for (int i = 0; i < 8; ++i) {
        ZELPLAY_PORT p = 0;
        ASSERT_EQ(ZelPlay_GetPort(&p), 1);
        ports.push_back(p);
        reused = reused || p == heard;
        ASSERT_EQ(ZelPlay_OpenStream(p, 0), 1);
        ASSERT_EQ(ZelPlay_Play(p, 0), 1);
        EXPECT_EQ(ZelPlay_InputAudioData(p, rec.data(), static_cast<uint32_t>(rec.size())), 1);
        EXPECT_EQ(sdlSoundDevicesOpen(), 0)
            << "port " << i << (p == heard ? " (same address)" : "");
    }
    if (!reused)
        std::printf("note: no new port got the freed port's address\n");
    EXPECT_EQ(ZelPlay_StopSound(), 1);
    for (ZELPLAY_PORT p : ports)
        EXPECT_EQ(ZelPlay_FreePort(p), 1);
}

TEST_F(HeardSoundTest, ADeviceThatCannotOpenRefusesTheFormat) {
    recording("no-such-folder/heard.raw");
    StreamPort port;
    EXPECT_EQ(ZelPlay_PlaySound(port.port, 16, 8000), 0);
    EXPECT_EQ(ZelPlay_GetLastError(port.port), 9u);
    EXPECT_EQ(sdlSoundDevicesOpen(), 0);
    // Not heard: its audio keeps decoding without a device.
    ToneFrames tone(AudioKind::Alaw, 440);
    EXPECT_EQ(port.input(tone.nextRecord()), 1);
    EXPECT_EQ(sdlSoundDevicesOpen(), 0);
    recording("heard.raw");
    EXPECT_EQ(ZelPlay_PlaySound(port.port, 16, 8000), 1);
    EXPECT_EQ(sdlSoundDevicesOpen(), 1);
}

// ---- What is heard -----------------------------------------------------------------------

namespace {

struct HeardCase {
    AudioKind kind;
    int mode;  // 0: ZelPlay_InputAudioData; 1: queued through ZelPlay_InputVideoData
    const char* name;
};

void PrintTo(const HeardCase& c, std::ostream* os) {
    *os << c.name;
}

class HeardTone : public HeardSoundTest, public ::testing::WithParamInterface<HeardCase> {};

std::atomic<int> audioFrames{0};
void countAudio(ZELPLAY_PORT, const uint8_t*, int32_t, const ZELPLAY_FRAME_INFO* info,
                ZELPLAY_USER) {
    if (info->type != ZELPLAY_FRAME_TYPE_YV12)
        ++audioFrames;
}

}  // namespace

TEST_P(HeardTone, ComesOutAt440HzWithoutGaps) {
    const HeardCase c = GetParam();
    const enginetest::AudioClass format = enginetest::audioClass(c.kind);
    const std::string file = recording("heard.raw");
    StreamPort port(c.mode);
    ASSERT_EQ(ZelPlay_PlaySound(port.port, format.bits, format.rate), 1);
    audioFrames = 0;
    ASSERT_EQ(ZelPlay_SetDecCallBack(port.port, countAudio, 0), 1);
    constexpr int kFrames = 30;
    ToneFrames tone(c.kind, 440);
    if (c.mode == 0) {
        for (int i = 0; i < kFrames; ++i)
            ASSERT_EQ(port.input(tone.nextRecord()), 1) << i;
    } else {
        // The buffered stream starts once video leads and ends the queue; the two video
        // records are no key frames and are passed over.
        ASSERT_EQ(ZelPlay_SetDelayTime(port.port, 0, 0), 1);
        ASSERT_EQ(port.queue(enginetest::makeRecord({0x62, 25, 1, 1000, 0}, {0, 0, 1, 9})), 1);
        for (int i = 0; i < kFrames; ++i)
            ASSERT_EQ(port.queue(tone.nextRecord()), 1) << i;
        ASSERT_EQ(
            port.queue(enginetest::makeRecord({0x62, 25, 2, 1000 + 40 * kFrames, 0}, {0, 0, 1, 9})),
            1);
    }
    ASSERT_TRUE(waitFor([] { return audioFrames.load() == kFrames; }, 10000));
    const zelplay::SoundOutputState s = soundOf(port.port);
    EXPECT_TRUE(s.deviceOpen);
    EXPECT_EQ(s.bits, format.bits);
    EXPECT_EQ(s.rate, format.rate);
    ASSERT_TRUE(port.drained());
    ASSERT_EQ(ZelPlay_StopSound(), 1);

    // Read as the device takes its samples: a sample whose sign is taken wrongly is heard
    // near full scale, far louder than the tone.
    const HeardSound heard = analyseRecording(file, format.bits, format.rate, s.samplesSigned);
    const size_t fed = static_cast<size_t>(kFrames) * format.samplesPerFrame;
    const double toneRms = 8000.0 / std::sqrt(2.0) / (format.bits == 8 ? 128.0 : 1.0);
    EXPECT_NEAR(heard.rms(heard.first, heard.length), toneRms, toneRms * 0.1);
    EXPECT_NEAR(heard.hz, 440.0, 5.0);
    EXPECT_LT(heard.longestQuiet, 16u) << "a gap in the sound";
    EXPECT_GE(heard.length, fed - 16) << "sound missing";
    EXPECT_LE(heard.length, fed);
}

INSTANTIATE_TEST_SUITE_P(Kinds, HeardTone,
                         ::testing::Values(HeardCase{AudioKind::Alaw, 0, "AlawDirect"},
                                           HeardCase{AudioKind::Adpcm, 0, "AdpcmDirect"},
                                           HeardCase{AudioKind::Raw8, 0, "Raw8Direct"},
                                           HeardCase{AudioKind::Raw16, 0, "Raw16Direct"},
                                           HeardCase{AudioKind::Alaw, 1, "AlawQueued"},
                                           HeardCase{AudioKind::Adpcm, 1, "AdpcmQueued"},
                                           HeardCase{AudioKind::Raw8, 1, "Raw8Queued"},
                                           HeardCase{AudioKind::Raw16, 1, "Raw16Queued"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HeardSoundTest, HalfVolumeHalvesTheAmplitude) {
    const std::string file = recording("heard.raw");
    StreamPort port;
    ASSERT_EQ(ZelPlay_PlaySound(port.port, 16, 8000), 1);
    ToneFrames tone(AudioKind::Alaw, 440);
    for (int i = 0; i < 12; ++i)
        ASSERT_EQ(port.input(tone.nextRecord()), 1);
    ASSERT_EQ(ZelPlay_SetVolume(port.port, 32768), 1);
    for (int i = 0; i < 12; ++i)
        ASSERT_EQ(port.input(tone.nextRecord()), 1);
    ASSERT_TRUE(port.drained());
    ASSERT_EQ(ZelPlay_StopSound(), 1);

    const HeardSound heard = analyseRecording(file, 16, 8000);
    ASSERT_GE(heard.length, 24u * 320 - 16);
    const double full = heard.rms(heard.first + 320, 10 * 320);
    const double half = heard.rms(heard.first + 13 * 320, 10 * 320);
    ASSERT_GT(full, 4000.0);
    EXPECT_NEAR(half / full, 0.5, 0.015);
}

TEST_F(HeardSoundTest, OnlyTheSoundPortIsHeardAndPlaySoundSwitches) {
    StreamPort a, b;
    ToneFrames toneA(AudioKind::Alaw, 440), toneB(AudioKind::Alaw, 1000);
    const std::string first = recording("a.raw");
    ASSERT_EQ(ZelPlay_PlaySound(a.port, 16, 8000), 1);
    for (int i = 0; i < 12; ++i) {
        ASSERT_EQ(a.input(toneA.nextRecord()), 1);
        ASSERT_EQ(b.input(toneB.nextRecord()), 1);
    }
    EXPECT_EQ(sdlSoundDevicesOpen(), 1);
    EXPECT_FALSE(soundOf(b.port).deviceOpen) << "b's output runs unheard, without a device";
    ASSERT_TRUE(a.drained());

    const std::string second = recording("b.raw");
    ASSERT_EQ(ZelPlay_PlaySound(b.port, 16, 8000), 1);
    EXPECT_FALSE(soundOf(a.port).deviceOpen);
    EXPECT_TRUE(soundOf(b.port).deviceOpen);
    for (int i = 0; i < 12; ++i) {
        ASSERT_EQ(a.input(toneA.nextRecord()), 1);
        ASSERT_EQ(b.input(toneB.nextRecord()), 1);
    }
    EXPECT_EQ(sdlSoundDevicesOpen(), 1);
    ASSERT_TRUE(b.drained());
    ASSERT_EQ(ZelPlay_StopSound(), 1);

    const HeardSound heardA = analyseRecording(first, 16, 8000);
    const HeardSound heardB = analyseRecording(second, 16, 8000);
    EXPECT_NEAR(heardA.hz, 440.0, 5.0);
    EXPECT_GE(heardA.length, 12u * 320 - 16);
    EXPECT_LE(heardA.length, 12u * 320) << "b was heard too";
    EXPECT_NEAR(heardB.hz, 1000.0, 10.0);
    EXPECT_GE(heardB.length, 12u * 320 - 16);
    EXPECT_LE(heardB.length, 12u * 320);
}

TEST_F(HeardSoundTest, StopSoundSilencesAtOnce) {
    const std::string file = recording("heard.raw");
    StreamPort port;
    ASSERT_EQ(ZelPlay_PlaySound(port.port, 16, 8000), 1);
    ToneFrames tone(AudioKind::Alaw, 440);
    for (int i = 0; i < kSoundBuffers; ++i)  // 1.2 s of sound waiting
        ASSERT_EQ(port.input(tone.nextRecord()), 1);
    ASSERT_EQ(ZelPlay_StopSound(), 1);
    const HeardSound heard = analyseRecording(file, 16, 8000);
    EXPECT_LT(heard.length, 8000u / 2) << "what waited was played on";
    EXPECT_EQ(ZelPlay_StopSound(), 1);
    // The port keeps receiving unheard.
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(port.input(tone.nextRecord()), 1);
    EXPECT_EQ(sdlSoundDevicesOpen(), 0);
    EXPECT_EQ(analyseRecording(file, 16, 8000).samples.size(), heard.samples.size());
}

TEST_F(HeardSoundTest, AProducerAheadOfRealTimeIsHeldToThePaceOfTheSound) {
    const std::string file = recording("heard.raw");
    StreamPort port;
    ASSERT_EQ(ZelPlay_PlaySound(port.port, 16, 8000), 1);
    ToneFrames tone(AudioKind::Alaw, 440);
    constexpr int kFrames = 75;  // three seconds, fed at once
    int mostWaiting = 0;
    for (int i = 0; i < kFrames; ++i) {
        ASSERT_EQ(port.input(tone.nextRecord()), 1);
        mostWaiting = std::max(mostWaiting, soundOf(port.port).buffersWaiting);
    }
    EXPECT_EQ(mostWaiting, kSoundBuffers);
    ASSERT_TRUE(port.drained());
    ASSERT_EQ(ZelPlay_StopSound(), 1);
    const HeardSound heard = analyseRecording(file, 16, 8000);
    EXPECT_GE(heard.length, kFrames * 320u - 16) << "frames were dropped";
    EXPECT_LT(heard.longestQuiet, 16u);
}

TEST_F(HeardSoundTest, FormatChangesOfTheSoundPortReopenItsDevice) {
    recording("heard.raw");
    StreamPort port;
    ASSERT_EQ(ZelPlay_PlaySound(port.port, 16, 8000), 1);
    ToneFrames raw8(AudioKind::Raw8, 440), raw16(AudioKind::Raw16, 440), alaw(AudioKind::Alaw, 440);
    ASSERT_EQ(port.input(raw8.nextRecord()), 1);
    zelplay::SoundOutputState s = soundOf(port.port);
    EXPECT_TRUE(s.deviceOpen);
    EXPECT_EQ(s.bits, 8);
    EXPECT_EQ(s.rate, 8000);
    ASSERT_EQ(port.input(raw16.nextRecord()), 1);
    s = soundOf(port.port);
    EXPECT_EQ(s.bits, 16);
    EXPECT_EQ(s.rate, 16000);
    // Only the bits are compared: 16-bit voice plays on in the open format.
    ASSERT_EQ(port.input(alaw.nextRecord()), 1);
    EXPECT_EQ(soundOf(port.port).rate, 16000);
    EXPECT_EQ(sdlSoundDevicesOpen(), 1);
}

TEST_F(HeardSoundTest, LongRawPcmIsDecodedWholeAndPlayedUpToOneBuffer) {
    StreamPort port;
    std::mutex lock;
    std::vector<int32_t> sizes;  // guarded by lock
    struct Sink {
        std::mutex* lock;
        std::vector<int32_t>* sizes;
    } sink{&lock, &sizes};
    ASSERT_EQ(ZelPlay_SetDecCallBack(
                  port.port,
                  [](ZELPLAY_PORT, const uint8_t*, int32_t size, const ZELPLAY_FRAME_INFO*,
                     ZELPLAY_USER user) {
                      auto* s = reinterpret_cast<Sink*>(user);
                      std::lock_guard l(*s->lock);
                      s->sizes->push_back(size);
                  },
                  reinterpret_cast<ZELPLAY_USER>(&sink)),
              1);
    // 8-bit: 5 000 bytes, far past the 1 024-byte buffer of voice frames, heard whole.
    std::string file = recording("raw8.raw");
    ASSERT_EQ(ZelPlay_PlaySound(port.port, 8, 8000), 1);
    ToneFrames raw8(AudioKind::Raw8, 440);
    const auto long8 = raw8.nextPayload(5000);
    ASSERT_EQ(port.input(enginetest::makeRecord({0x61, 0, 0, 0, 0}, long8)), 1);
    ASSERT_TRUE(port.drained());
    const bool samplesSigned = soundOf(port.port).samplesSigned;
    ASSERT_EQ(ZelPlay_StopSound(), 1);
    HeardSound heard = analyseRecording(file, 8, 8000, samplesSigned);
    EXPECT_GE(heard.length, 5000u - 16);
    EXPECT_LE(heard.length, 5000u);

    // 16-bit: one second in one frame; one buffer of it is played, the rest dropped.
    file = recording("raw16.raw");
    ASSERT_EQ(ZelPlay_PlaySound(port.port, 16, 16000), 1);
    ToneFrames raw16(AudioKind::Raw16, 440);
    const auto long16 = raw16.nextPayload(32000);
    ASSERT_EQ(port.input(enginetest::makeRecord({0x61, 0, 0, 0, 0}, long16)), 1);
    ASSERT_TRUE(port.drained());
    ASSERT_EQ(ZelPlay_StopSound(), 1);
    heard = analyseRecording(file, 16, 16000);
    EXPECT_GE(heard.length, kSoundBufferBytes / 2 - 16);
    EXPECT_LE(heard.length, kSoundBufferBytes / 2);
    EXPECT_NEAR(heard.hz, 440.0, 5.0);

    std::lock_guard l(lock);
    EXPECT_EQ(sizes, (std::vector<int32_t>{5000, 32000}));
}

TEST_F(HeardSoundTest, SixteenPortsReceivingAudioOpenOneDevice) {
    recording("heard.raw");
    std::vector<std::unique_ptr<StreamPort>> ports;
    std::vector<ToneFrames> tones;
    for (int i = 0; i < 16; ++i) {
        ports.push_back(std::make_unique<StreamPort>());
        tones.emplace_back(AudioKind::Alaw, 440);
    }
    auto feedAll = [&] {
        for (int i = 0; i < 16; ++i)
            ASSERT_EQ(ports[i]->input(tones[i].nextRecord()), 1);
    };
    for (int k = 0; k < 3; ++k)
        feedAll();
    EXPECT_EQ(sdlSoundDevicesOpen(), 0) << "nobody is heard";
    ASSERT_EQ(ZelPlay_PlaySound(ports[7]->port, 16, 8000), 1);
    for (int k = 0; k < 3; ++k)
        feedAll();
    EXPECT_EQ(sdlSoundDevicesOpen(), 1);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(soundOf(ports[i]->port).deviceOpen, i == 7) << i;
    ASSERT_EQ(ZelPlay_StopSound(), 1);
    EXPECT_EQ(sdlSoundDevicesOpen(), 0);
}

namespace {

// A 2 s record whose sound is raw unsigned 8-bit PCM at 8 kHz (a 440 Hz tone of amplitude
// 32), in frames of 40 ms, as some recorders store it.
bool writeEightBitRecord(const std::string& folder, const std::string& path) {
    filetest::RecordRecipe recipe;
    recipe.seconds = 2;
    const auto units = filetest::units(folder, recipe);
    custommp4_t* h = custommp4_open(path.c_str(), CUSTOMMP4_MODE_CREATE, 0);
    if (units.empty() || h == nullptr)
        return false;
    constexpr int kFrameBytes = 320;
    bool ok =
        custommp4_set_start_time(h, recipe.startTime) == 1 &&
        custommp4_set_video_format(h, recipe.width, recipe.height, 25.0f, 256000, "H264") == 1 &&
        custommp4_set_audio_format(h, "PCM ", 8000, 8, 1, kFrameBytes, 40) == 1;
    std::vector<uint8_t> pcm(kFrameBytes);
    for (size_t i = 0; ok && i < units.size(); ++i) {
        const auto& u = units[i];
        ok = custommp4_write_video_frame(h, u.bytes.data(), static_cast<int>(u.bytes.size()),
                                         filetest::videoStamp(i), u.startsWithSps ? 3 : 1) == 1;
        for (int k = 0; k < kFrameBytes; ++k) {
            const double t = static_cast<double>(i * kFrameBytes + k) / 8000.0;
            pcm[k] = static_cast<uint8_t>(128 + std::lround(32 * std::sin(2 * M_PI * 440 * t)));
        }
        ok = ok &&
             custommp4_write_audio_frame(h, pcm.data(), kFrameBytes, filetest::videoStamp(i)) == 1;
    }
    int error = 0;
    return custommp4_close_checked(h, &error) == 1 && ok;
}

}  // namespace

TEST_F(HeardSoundTest, EightBitSoundOfFilesIsHeardAsItWasRecorded) {
    // An AVI with unsigned 8-bit PCM (FFmpeg's sine, amplitude 16) and a record with raw
    // 8-bit frames (amplitude 32): heard as the device takes its samples, each keeps its
    // level; with the sign of every sample flipped it would be heard near full scale.
    const std::string record = dir_.file("eight.ifv");
    ASSERT_TRUE(writeEightBitRecord(dir_.path().string(), record));
    const std::pair<std::string, double> files[] = {
        {corpus::path(corpus::entry("x264_bf3_pyramid_pcm8.avi")), 16.0}, {record, 32.0}};
    for (const auto& [path, amplitude] : files) {
        SCOPED_TRACE(path);
        const std::string heardFile = recording("file8.raw");
        ZELPLAY_PORT port = 0;
        ASSERT_EQ(ZelPlay_GetPort(&port), 1);
        ASSERT_EQ(ZelPlay_SetPlayMode(port, ZELPLAY_MODE_FILE), 1);
        ASSERT_EQ(ZelPlay_OpenFile(port, path.c_str()), 1);
        ASSERT_EQ(ZelPlay_PlaySound(port, 8, 8000), 1);
        ASSERT_EQ(ZelPlay_Play(port, 0), 1);
        ASSERT_TRUE(waitFor([&] { return soundOf(port).deviceOpen; }, 10000));
        const zelplay::SoundOutputState s = soundOf(port);
        EXPECT_EQ(s.bits, 8);
        ASSERT_TRUE(waitFor([&] { return ZelPlay_GetFileTime(port) == 0; }, 30000));
        ASSERT_TRUE(waitFor([&] { return soundOf(port).bytesWaiting == 0; }, 15000));
        ASSERT_EQ(ZelPlay_StopSound(), 1);
        ASSERT_EQ(ZelPlay_FreePort(port), 1);
        const HeardSound heard = analyseRecording(heardFile, 8, 8000, s.samplesSigned);
        ASSERT_GT(heard.length, 8000u) << "less than a second heard";
        EXPECT_NEAR(heard.hz, 440.0, 10.0);
        const double rms = heard.rms(heard.first, heard.length);
        EXPECT_NEAR(rms, amplitude / std::sqrt(2.0), amplitude * 0.25);
    }
}
