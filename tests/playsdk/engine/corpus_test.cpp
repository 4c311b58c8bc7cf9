// The corpus of real-world streams through the playback library: every picture of every
// stream and file reaches the decode callback once, in display order, as FFmpeg decodes it
// (checked picture by picture by MD5), in the real-time and buffered stream modes and in
// file play; with rising time stamps and the files' own facts.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "support/corpus.h"
#include "support/media.h"
#include "support/process.h"
#include "support/wait.h"
#include "zelplay/play.h"

namespace {

using corpus::Entry;
using corpus::Kind;

constexpr int kEndTimeoutMs = 60000;

// What the decode callback saw of each picture.
struct Seen {
    std::string md5;
    int width = 0;
    int height = 0;
    int32_t stampMs = 0;
};

class Pictures {
  public:
    static void callback(ZELPLAY_PORT, const uint8_t* data, int32_t, const ZELPLAY_FRAME_INFO* info,
                         ZELPLAY_USER user) {
        if (info->type != ZELPLAY_FRAME_TYPE_YV12)
            return;
        auto* self = reinterpret_cast<Pictures*>(user);
        Seen seen{corpus::pictureMd5(data, info->width, info->height), info->width, info->height,
                  info->timeStamp};
        std::lock_guard l(self->lock_);
        self->seen_.push_back(std::move(seen));
    }
    ZELPLAY_USER user() { return reinterpret_cast<ZELPLAY_USER>(this); }
    std::vector<Seen> seen() {
        std::lock_guard l(lock_);
        return seen_;
    }
    size_t count() {
        std::lock_guard l(lock_);
        return seen_.size();
    }

  private:
    std::mutex lock_;
    std::vector<Seen> seen_;  // guarded by lock_
};

// Every reference picture once, in order, with time stamps that rise.
void expectWholeInDisplayOrder(const std::string& what, const std::vector<Seen>& seen,
                               const std::vector<std::string>& reference) {
    std::printf("corpus: %-34s pictures expected %zu, decoded %zu\n", what.c_str(),
                reference.size(), seen.size());
    EXPECT_EQ(seen.size(), reference.size()) << what;
    for (size_t i = 0; i < std::min(seen.size(), reference.size()); ++i) {
        if (seen[i].md5 != reference[i]) {
            ADD_FAILURE() << what << ": picture " << i << " (" << seen[i].width << "x"
                          << seen[i].height << ") is not the reference's";
            break;
        }
    }
    for (size_t i = 1; i < seen.size(); ++i) {
        if (seen[i].stampMs <= seen[i - 1].stampMs) {
            ADD_FAILURE() << what << ": time stamp " << seen[i].stampMs << " of picture " << i
                          << " after " << seen[i - 1].stampMs;
            break;
        }
    }
}

std::string testName(const Entry& e) {
    std::string name = e.name;
    for (char& c : name) {
        if (c == '.')
            c = '_';
    }
    return name;
}

struct Port {
    ZELPLAY_PORT port = 0;
    explicit Port(int mode) {
        EXPECT_EQ(ZelPlay_GetPort(&port), 1);
        EXPECT_EQ(ZelPlay_SetPlayMode(port, mode), 1);
    }
    ~Port() { ZelPlay_FreePort(port); }
};

// ---- Streams fed frame by frame ------------------------------------------------------------

class StreamCorpus : public testing::TestWithParam<Entry> {};

TEST_P(StreamCorpus, RealTimeInputShowsEveryPictureInDisplayOrder) {
    const Entry& e = GetParam();
    const std::vector<std::string> reference = corpus::pictureMd5s(e);
    ASSERT_FALSE(reference.empty());
    const auto records = corpus::frameRecords(corpus::path(e));
    ASSERT_EQ(records.size(), reference.size());
    Port p(ZELPLAY_MODE_REALTIME);
    Pictures pictures;
    ASSERT_EQ(ZelPlay_OpenStream(p.port, 0), 1);  // opening clears the decode callback
    ASSERT_EQ(ZelPlay_SetDecCallBack(p.port, Pictures::callback, pictures.user()), 1);
    ASSERT_EQ(ZelPlay_Play(p.port, 0), 1);
    for (size_t i = 0; i < records.size(); ++i) {
        // A picture held back for reordering is no failure.
        ASSERT_EQ(ZelPlay_InputVideoData(p.port, records[i].data(),
                                         static_cast<uint32_t>(records[i].size())),
                  1)
            << "unit " << i << ", error " << ZelPlay_GetLastError(p.port);
    }
    EXPECT_LT(pictures.count(), reference.size()) << "B-frames: the last pictures wait";
    // The end of the stream hands out what the decoder still holds.
    ASSERT_EQ(ZelPlay_Stop(p.port), 1);
    expectWholeInDisplayOrder(e.name + " mode 0", pictures.seen(), reference);
}

TEST_P(StreamCorpus, BufferedInputShowsEveryPictureInDisplayOrder) {
    const Entry& e = GetParam();
    const std::vector<std::string> reference = corpus::pictureMd5s(e);
    ASSERT_FALSE(reference.empty());
    const auto records = corpus::frameRecords(corpus::path(e));
    Port p(ZELPLAY_MODE_BUFFERED);
    Pictures pictures;
    ASSERT_EQ(ZelPlay_SetDelayTime(p.port, 1, 0), 1);
    ASSERT_EQ(ZelPlay_OpenStream(p.port, 8 << 20), 1);
    ASSERT_EQ(ZelPlay_SetDecCallBack(p.port, Pictures::callback, pictures.user()), 1);
    ASSERT_EQ(ZelPlay_Play(p.port, 0), 1);
    const int32_t empty = ZelPlay_GetSourceBufferRemain(p.port);
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(ZelPlay_Fast(p.port), 1);  // 16 times
    for (const auto& r : records)
        ASSERT_EQ(ZelPlay_InputVideoData(p.port, r.data(), static_cast<uint32_t>(r.size())), 1);
    ASSERT_TRUE(testsupport::waitFor([&] { return ZelPlay_GetSourceBufferRemain(p.port) == empty; },
                                     kEndTimeoutMs, 10))
        << "the queue did not drain";
    ASSERT_EQ(ZelPlay_Stop(p.port), 1);
    expectWholeInDisplayOrder(e.name + " mode 1", pictures.seen(), reference);
}

INSTANTIATE_TEST_SUITE_P(Corpus, StreamCorpus, testing::ValuesIn(corpus::entries(Kind::Stream)),
                         [](const auto& info) { return testName(info.param); });

// ---- Files -------------------------------------------------------------------------------------

// Plays the file to its end at speed (log2) and returns what the decode callback saw.
std::vector<Seen> playFile(const std::string& path, int speedSteps, uint32_t* totalFrames = nullptr,
                           uint32_t* durationMs = nullptr) {
    Port p(ZELPLAY_MODE_FILE);
    Pictures pictures;
    EXPECT_EQ(ZelPlay_OpenFile(p.port, path.c_str()), 1) << ZelPlay_GetLastError(p.port);
    EXPECT_EQ(ZelPlay_SetDecCallBack(p.port, Pictures::callback, pictures.user()), 1);
    if (totalFrames != nullptr)
        *totalFrames = ZelPlay_GetFileTotalFrames(p.port);
    if (durationMs != nullptr)
        *durationMs = ZelPlay_GetFileTime(p.port);
    EXPECT_EQ(ZelPlay_Play(p.port, 0), 1);
    for (int i = 0; i < speedSteps; ++i)
        EXPECT_EQ(ZelPlay_Fast(p.port), 1);
    // Once the video thread has ended, the duration reads 0.
    EXPECT_TRUE(
        testsupport::waitFor([&] { return ZelPlay_GetFileTime(p.port) == 0; }, kEndTimeoutMs, 10))
        << path << " did not end";
    EXPECT_EQ(ZelPlay_Stop(p.port), 1);
    return pictures.seen();
}

class FileCorpus : public testing::TestWithParam<Entry> {};

TEST_P(FileCorpus, FilePlayShowsEveryPictureInDisplayOrder) {
    const Entry& e = GetParam();
    const std::vector<std::string> reference = corpus::pictureMd5s(e);
    ASSERT_FALSE(reference.empty());
    expectWholeInDisplayOrder(e.name + " mode 2", playFile(corpus::path(e), 4), reference);
}

std::vector<Entry> files() {
    std::vector<Entry> v = corpus::entries(Kind::Avi);
    for (const Entry& e : corpus::entries(Kind::Record))
        v.push_back(e);
    return v;
}

INSTANTIATE_TEST_SUITE_P(Corpus, FileCorpus, testing::ValuesIn(files()),
                         [](const auto& info) { return testName(info.param); });

// What ffprobe reads in a file's video stream header: its frame count and duration.
struct HeaderFacts {
    long frames = 0;
    double seconds = 0;
};
HeaderFacts headerFacts(const std::string& path) {
    testsupport::TempDir dir;
    const std::string out = dir.file("probe.txt");
    testsupport::runCommand({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                             "stream=nb_frames,duration", "-of", "default=nw=1", path},
                            30000, out);
    HeaderFacts f;
    FILE* in = std::fopen(out.c_str(), "r");
    if (in == nullptr)
        return f;
    char line[128];
    while (std::fgets(line, sizeof line, in) != nullptr) {
        std::sscanf(line, "nb_frames=%ld", &f.frames);
        std::sscanf(line, "duration=%lf", &f.seconds);
    }
    std::fclose(in);
    return f;
}

TEST(AviWithEmptyChunks, PlaysAtItsDeclaredPaceWithTheFactsOfItsHeader) {
    // FFmpeg's muxer writes a B-frame stream at twice its rate with an empty chunk between
    // pictures: the empty chunks are time, and the facts stay what the header says.
    const Entry& e = corpus::entry("x264_bf2_pcm16.avi");
    const std::string path = corpus::path(e);
    const HeaderFacts header = headerFacts(path);
    ASSERT_GT(header.frames, 0);
    uint32_t frames = 0, durationMs = 0;
    const auto start = std::chrono::steady_clock::now();
    const std::vector<Seen> seen = playFile(path, 0, &frames, &durationMs);
    const auto playedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now() - start)
                              .count();
    EXPECT_EQ(static_cast<long>(frames), header.frames);
    EXPECT_NEAR(durationMs, header.seconds * 1000, 40);
    EXPECT_EQ(seen.size(), corpus::pictureMd5s(e).size());
    // Only a lower bound: a busy machine plays slower, never faster.
    EXPECT_GE(playedMs, static_cast<long>(durationMs) * 3 / 4) << "the empty chunks took no time";
}

// ---- Seeking --------------------------------------------------------------------------------

// A port playing a file at normal speed, its pictures collected.
struct PlayingFile {
    Port port{ZELPLAY_MODE_FILE};
    Pictures pictures;
    explicit PlayingFile(const std::string& path) {
        EXPECT_EQ(ZelPlay_OpenFile(port.port, path.c_str()), 1);
        EXPECT_EQ(ZelPlay_SetDecCallBack(port.port, Pictures::callback, pictures.user()), 1);
        EXPECT_EQ(ZelPlay_Play(port.port, 0), 1);
    }
    bool waitForPictures(size_t n) {
        return testsupport::waitFor([&] { return pictures.count() >= n; }, kEndTimeoutMs, 5);
    }
};

TEST(FileSeek, LandsOnTheKeyFrameBehindADelimiterAndSEIWhilePaused) {
    // Every frame begins with a delimiter and SEI, so no frame begins with its SPS. Both land
    // on the second key frame (a key frame a second): the AVI on the first at or after the
    // middle, the record on the first at most 1.6 s before 1.8 s.
    const std::pair<const char*, float> cases[] = {{"x264_aud_sei_pcm16.avi", 0.5f},
                                                   {"x264_aud_sei.ifv", 0.9f}};
    for (const auto& [name, position] : cases) {
        SCOPED_TRACE(name);
        const Entry& e = corpus::entry(name);
        const std::vector<std::string> reference = corpus::pictureMd5s(e);
        ASSERT_EQ(reference.size(), 50u);
        PlayingFile f(corpus::path(e));
        ASSERT_TRUE(f.waitForPictures(3));
        ASSERT_EQ(ZelPlay_Pause(f.port.port, 1), 1);
        const size_t before = f.pictures.count();
        ASSERT_EQ(ZelPlay_SetPlayPos(f.port.port, position), 1);
        EXPECT_EQ(ZelPlay_GetLastError(f.port.port), 0u);
        // Paused, a seek shows the picture it lands on, whatever pictures the decoder held
        // before the jump (one picture may still have been on its way when play paused).
        ASSERT_TRUE(f.waitForPictures(before + 1));
        ASSERT_TRUE(testsupport::waitFor(
            [&] {
                const std::vector<Seen> seen = f.pictures.seen();
                return seen.back().md5 == reference[25] || seen.size() > before + 1;
            },
            kEndTimeoutMs, 5));
        std::vector<Seen> seen = f.pictures.seen();
        const size_t landed = seen.back().md5 == reference[25] ? seen.size() - 1 : seen.size();
        ASSERT_LE(landed, before + 1) << "not the key frame";
        ASSERT_EQ(seen[landed].md5, reference[25]);
        ASSERT_EQ(ZelPlay_Pause(f.port.port, 0), 1);
        ASSERT_TRUE(f.waitForPictures(landed + 25));
        seen = f.pictures.seen();
        for (size_t i = 1; i < 25; ++i)
            EXPECT_EQ(seen[landed + i].md5, reference[25 + i]) << i;
    }
}

TEST(FileSeek, ASeekThatFindsNoKeyFrameFailsAndPlayGoesOn) {
    // One key frame, at the start: nothing to land on in the middle.
    testsupport::TempDir dir;
    const std::string mp4 = dir.file("one_key.mp4"), avi = dir.file("one_key.avi"),
                      ifv = dir.file("one_key.ifv");
    ASSERT_EQ(testsupport::runCommand({"ffmpeg",
                                       "-hide_banner",
                                       "-loglevel",
                                       "error",
                                       "-nostdin",
                                       "-y",
                                       "-f",
                                       "lavfi",
                                       "-i",
                                       "testsrc2=size=320x240:rate=25",
                                       "-t",
                                       "4",
                                       "-c:v",
                                       "libx264",
                                       "-preset",
                                       "veryfast",
                                       "-threads",
                                       "1",
                                       "-g",
                                       "1000",
                                       "-x264-params",
                                       "bframes=2:scenecut=0:repeat-headers=1",
                                       mp4},
                                      120000),
              0);
    ASSERT_EQ(
        testsupport::runCommand({"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-y",
                                 "-i", mp4, "-c", "copy", "-bsf:v", "h264_mp4toannexb", avi},
                                60000),
        0);
    ASSERT_EQ(testsupport::runCommand({IFVTOOL_EXE, "import", mp4, ifv}, 60000), 0);
    for (const std::string& path : {avi, ifv}) {
        SCOPED_TRACE(path);
        PlayingFile f(path);
        ASSERT_TRUE(f.waitForPictures(3));
        EXPECT_EQ(ZelPlay_SetPlayPos(f.port.port, 0.5f), 0);
        EXPECT_EQ(ZelPlay_GetLastError(f.port.port), 10u);
        // Play goes on where it was, to the end, with every picture.
        ASSERT_TRUE(testsupport::waitFor([&] { return ZelPlay_GetFileTime(f.port.port) == 0; },
                                         kEndTimeoutMs, 10));
        EXPECT_EQ(f.pictures.count(), 100u);
    }
}

}  // namespace
