// The sound of a window through SDL2's real audio device, with the "disk" driver writing what
// would be heard to a file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

#include "QtTestMain.h"
#include "ShowVideoDlg.h"
#include "SoundPath.h"
#include "support/media.h"

using testsupport::mediaPath;
using testsupport::waitUntil;

TEST(FillAudio, PlaysSilenceWhenNothingIsHandedOverAndDrainsTheSlotInPieces) {
    // Mixing follows the open device's format: open it (paused, so the callback is ours).
    ASSERT_EQ(SDL_Init(SDL_INIT_AUDIO), 0);
    SDL_AudioSpec wanted{};
    wanted.freq = 48000;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = 2;
    wanted.samples = 1024;
    wanted.callback = [](void*, Uint8*, int) {};
    ASSERT_EQ(SDL_OpenAudio(&wanted, nullptr), 0) << SDL_GetError();

    std::vector<std::uint8_t> device(4096, 0xAA);
    g_audioLen.store(0);
    fill_audio(nullptr, device.data(), static_cast<int>(device.size()));
    EXPECT_TRUE(std::all_of(device.begin(), device.end(), [](std::uint8_t b) { return b == 0; }));

    // 6000 bytes of a constant sample: one full device buffer, then the remaining 1904 bytes
    // followed by silence.
    std::vector<std::int16_t> chunk(3000, 1000);
    auto* bytes = reinterpret_cast<std::uint8_t*>(chunk.data());
    g_audioChunk.store(bytes);
    g_audioPos.store(bytes);
    g_audioLen.store(6000);
    fill_audio(nullptr, device.data(), 4096);
    EXPECT_EQ(g_audioLen.load(), 6000u - 4096u);
    EXPECT_EQ(reinterpret_cast<std::int16_t*>(device.data())[2047], 1000);
    fill_audio(nullptr, device.data(), 4096);
    EXPECT_EQ(g_audioLen.load(), 0u);
    EXPECT_EQ(reinterpret_cast<std::int16_t*>(device.data())[951], 1000);
    EXPECT_EQ(reinterpret_cast<std::int16_t*>(device.data())[952], 0);
    g_audioChunk.store(nullptr);
    g_audioPos.store(nullptr);
    SDL_CloseAudio();
    SDL_Quit();
}

namespace {

// Captures what the process writes to standard output while it lives.
class StdoutCapture {
  public:
    explicit StdoutCapture(const std::string& path) : path_(path) {
        std::fflush(stdout);
        saved_ = dup(1);
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 1);
        close(fd);
    }
    ~StdoutCapture() { restore(); }
    std::string text() {
        restore();
        std::ifstream in(path_);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

  private:
    void restore() {
        if (saved_ < 0)
            return;
        std::fflush(stdout);
        dup2(saved_, 1);
        close(saved_);
        saved_ = -1;
    }
    std::string path_;
    int saved_ = -1;
};

std::vector<int> chunkSizes(const std::string& output) {
    std::vector<int> sizes;
    std::istringstream in(output);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("out_buffer_size:", 0) == 0)
            sizes.push_back(std::stoi(line.substr(16)));
    return sizes;
}

class SoundTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", dir_.file("heard.raw").c_str(), 1);
        holder_ = std::make_unique<QWidget>();
        holder_->resize(640, 260);
        for (int i = 0; i < 2; ++i) {
            windows_[i] = new CShowVideoDlg(holder_.get());
            windows_[i]->setGeometry(320 * i, 0, 320, 260);
            windows_[i]->m_bReplay = false;
        }
        holder_->show();
        ASSERT_TRUE(waitUntil([&] { return windows_[1]->isShownForPlay(); }, 2000));
    }
    void TearDown() override {
        holder_.reset();
        setenv("SDL_AUDIODRIVER", "dummy", 1);
    }
    void play(int i, const std::string& path) {
        windows_[i]->setUrl(path);
        windows_[i]->StartPlay();
    }
    std::vector<std::int16_t> heard() {
        std::ifstream in(dir_.file("heard.raw"), std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        std::vector<std::int16_t> samples(bytes.size() / 2);
        std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
        return samples;
    }

    testsupport::TempDir dir_;
    std::unique_ptr<QWidget> holder_;
    CShowVideoDlg* windows_[2] = {};
};

}  // namespace

TEST_F(SoundTest, A440HzSourceIsHeardAs440HzAt48kStereo) {
    play(0, mediaPath("av_aac48.mp4"));
    ASSERT_TRUE(waitUntil([&] { return windows_[0]->m_counters.soundOpened.load() == 1; }, 5000));
    // Rising zero crossings of the left channel are counted over half a second from the
    // second quarter second on (past the encoder's start-up), where the tone is steady.
    const std::size_t first = 48000 / 4, frames = 48000 / 2;
    const std::uintmax_t bytesNeeded = (first + frames) * 2 * sizeof(std::int16_t);
    ASSERT_TRUE(waitUntil(
        [&] {
            std::error_code error;
            const auto size = std::filesystem::file_size(dir_.file("heard.raw"), error);
            return !error && size >= bytesNeeded;
        },
        20000));
    windows_[0]->OnClose();

    const std::vector<std::int16_t> samples = heard();
    ASSERT_GE(samples.size() / 2, first + frames);
    // The period is the mean distance between rising zero crossings, leaving out the odd ones
    // around a stretch of silence where the device ran dry on a busy machine.
    std::vector<std::size_t> risingAt;
    int maxChannelDifference = 0;
    double energy = 0;
    for (std::size_t i = first + 1; i < first + frames; ++i) {
        const int prev = samples[2 * (i - 1)], cur = samples[2 * i];
        if (prev < 0 && cur >= 0)
            risingAt.push_back(i);
        energy += static_cast<double>(cur) * cur;
        maxChannelDifference = std::max(maxChannelDifference, std::abs(cur - samples[2 * i + 1]));
    }
    EXPECT_LT(maxChannelDifference, 64) << "both channels carry the tone";
    ASSERT_GE(risingAt.size(), 100u);  // 440 Hz gives 220 in half a second
    std::vector<std::size_t> periods;
    for (std::size_t k = 1; k < risingAt.size(); ++k)
        periods.push_back(risingAt[k] - risingAt[k - 1]);
    std::sort(periods.begin(), periods.end());
    const double median = static_cast<double>(periods[periods.size() / 2]);
    double sum = 0;
    int counted = 0;
    for (std::size_t period : periods)
        if (std::abs(static_cast<double>(period) - median) <= median / 10)
            sum += static_cast<double>(period), ++counted;
    EXPECT_GE(counted, static_cast<int>(periods.size() * 3 / 4));
    const double hz = 48000.0 * counted / sum;
    EXPECT_NEAR(hz, 440.0, 8.0);
    EXPECT_GT(std::sqrt(energy / frames), 1000.0);  // a tone, not silence
}

TEST_F(SoundTest, ChunksHoldEachDecodedFrameAndLowRatesAreUpsampled) {
    std::vector<int> sizes48, sizes8;
    {
        StdoutCapture capture(dir_.file("out48.txt"));
        play(0, mediaPath("av_aac48.mp4"));
        ASSERT_TRUE(waitUntil([&] { return windows_[0]->m_counters.shown.load() >= 10; }, 15000));
        windows_[0]->OnClose();
        sizes48 = chunkSizes(capture.text());
    }
    {
        StdoutCapture capture(dir_.file("out8.txt"));
        play(0, mediaPath("av_mono8k.mp4"));
        ASSERT_TRUE(waitUntil([&] { return windows_[0]->m_counters.shown.load() >= 25; }, 15000));
        windows_[0]->OnClose();
        sizes8 = chunkSizes(capture.text());
    }
    ASSERT_GE(sizes48.size(), 4u);
    ASSERT_GE(sizes8.size(), 4u);
    // AAC frames of 1024 samples: 1024 × 2 channels × 2 bytes at 48000 Hz.
    EXPECT_EQ(sizes48[sizes48.size() / 2], 4096);
    // At 8000 Hz mono each frame becomes about six times as many stereo sample frames.
    const int median8 = sizes8[sizes8.size() / 2];
    EXPECT_NEAR(median8, 6 * 4096, 64);
}

TEST_F(SoundTest, OfTwoWindowsWithSoundOnlyTheFirstIsHeard) {
    play(0, mediaPath("av_aac48.mp4"));
    ASSERT_TRUE(waitUntil([&] { return windows_[0]->m_counters.soundOpened.load() == 1; }, 5000));
    play(1, mediaPath("av_aac48.mp4"));
    ASSERT_TRUE(waitUntil([&] { return windows_[1]->m_counters.shown.load() >= 5; }, 8000));
    EXPECT_EQ(windows_[1]->m_counters.soundOpened.load(), 0u);

    // The second stays silent for its whole run, even once the first has let the device go.
    windows_[0]->OnClose();
    ASSERT_TRUE(waitUntil([&] { return windows_[1]->liveThreadCount() == 0; }, 20000));
    EXPECT_EQ(windows_[1]->m_counters.runs.load(), 1u);
    EXPECT_EQ(windows_[1]->m_counters.soundOpened.load(), 0u);
}

TEST_F(SoundTest, StopMidChunkClosesTheDeviceAndTheNextRunStartsEmpty) {
    play(0, mediaPath("av_mono8k.mp4"));  // long chunks: a stop lands inside one
    ASSERT_TRUE(waitUntil([&] { return windows_[0]->m_counters.soundOpened.load() == 1; }, 5000));
    ASSERT_TRUE(waitUntil([&] { return g_audioLen.load() != 0; }, 10000));  // a chunk is playing
    windows_[0]->OnClose();
    EXPECT_EQ(g_audioLen.load(), 0u);
    EXPECT_EQ(SDL_GetAudioStatus(), SDL_AUDIO_STOPPED);

    play(0, mediaPath("av_aac48.mp4"));
    ASSERT_TRUE(waitUntil([&] { return windows_[0]->m_counters.soundOpened.load() == 2; }, 5000));
    ASSERT_TRUE(waitUntil([&] { return windows_[0]->m_counters.shown.load() >= 5; }, 5000));
    windows_[0]->OnClose();
    EXPECT_EQ(g_audioLen.load(), 0u);
}
