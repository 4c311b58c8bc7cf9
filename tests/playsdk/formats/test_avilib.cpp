// The AVI reader on files made by FFmpeg at test time, checked against ffprobe.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "format_handles.h"
#include "support/media.h"
#include "support/process.h"

using zelplay::formats::AviPtr;

namespace {

struct Packet {
    long size;
    bool key;
};

std::string captureOutput(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return out;
    }
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) {
        out.append(buf, n);
    }
    pclose(pipe);
    return out;
}

// Video packets as ffprobe reports them: size and key flag, in file order.
std::vector<Packet> probeVideoPackets(const std::string& path) {
    std::istringstream in(
        captureOutput("ffprobe -v error -select_streams v:0 -show_entries "
                      "packet=size,flags -of csv=p=0 '" +
                      path + "'"));
    std::vector<Packet> out;
    std::string line;
    while (std::getline(in, line)) {
        auto comma = line.find(',');
        if (comma == std::string::npos) {
            continue;
        }
        out.push_back({std::stol(line.substr(0, comma)), line[comma + 1] == 'K'});
    }
    return out;
}

std::vector<uint8_t> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// Renames every chunk with the given id to "JUNK", so that readers pass over it.
void junkChunks(std::vector<uint8_t>& bytes, const char* id) {
    for (size_t i = 0; i + 8 <= bytes.size(); ++i) {
        if (memcmp(bytes.data() + i, id, 4) == 0) {
            memcpy(bytes.data() + i, "JUNK", 4);
        }
    }
}

bool ffmpeg(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"ffmpeg", "-hide_banner", "-loglevel",
                                     "error",  "-nostdin",     "-y"};
    argv.insert(argv.end(), args.begin(), args.end());
    return testsupport::runCommand(argv, 120000) == 0;
}

// The whole index as the reader gives it: size, index key flag, and the frame's bytes.
struct Frame {
    long size;
    int indexKey;
    int contentKey;
    std::vector<uint8_t> bytes;
};

std::vector<Frame> readAllFrames(avi_reader_t* h) {
    std::vector<Frame> out;
    long n = avi_reader_video_frames(h);
    for (long i = 0; i < n; ++i) {
        Frame f;
        avi_reader_seek_video(h, i);
        f.size = avi_reader_read_video(h, nullptr, &f.indexKey);
        avi_reader_seek_video(h, i);
        f.bytes.resize(static_cast<size_t>(std::max(f.size, 0L)));
        EXPECT_EQ(avi_reader_read_video(h, f.bytes.data(), &f.contentKey), f.size);
        out.push_back(std::move(f));
    }
    return out;
}

class AviReader : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = std::make_unique<testsupport::TempDir>();
        ASSERT_TRUE(
            ffmpeg({"-f",          "lavfi",     "-i",       "testsrc2=size=320x240:rate=25",
                    "-f",          "lavfi",     "-i",       "sine=frequency=440:sample_rate=8000",
                    "-t",          "3",         "-c:v",     "libx264",
                    "-preset",     "veryfast",  "-g",       "25",
                    "-bf",         "0",         "-pix_fmt", "yuv420p",
                    "-c:a",        "pcm_s16le", "-ac",      "1",
                    path("av.avi")}));
        ASSERT_TRUE(ffmpeg(
            {"-i", path("av.avi"), "-map", "0:a", "-c", "copy", "-f", "s16le", path("av.pcm")}));
    }
    static void TearDownTestSuite() { dir_.reset(); }
    static std::string path(const std::string& name) { return dir_->file(name); }
    static std::unique_ptr<testsupport::TempDir> dir_;
};
std::unique_ptr<testsupport::TempDir> AviReader::dir_;

}  // namespace

TEST_F(AviReader, Idx1IndexAgreesWithFfprobe) {
    AviPtr h(avi_reader_open(path("av.avi").c_str(), 1));
    ASSERT_TRUE(h) << avi_reader_errno();
    EXPECT_EQ(avi_reader_errno(), 0);
    EXPECT_EQ(avi_reader_index_rebuilt(h.get()), 0);
    EXPECT_EQ(avi_reader_width(h.get()), 320);
    EXPECT_EQ(avi_reader_height(h.get()), 240);
    EXPECT_DOUBLE_EQ(avi_reader_frame_rate(h.get()), 25.0);
    char tag[5];
    avi_reader_video_codec(h.get(), tag);
    EXPECT_STREQ(tag, "H264");
    auto packets = probeVideoPackets(path("av.avi"));
    ASSERT_EQ(avi_reader_video_frames(h.get()), static_cast<long>(packets.size()));
    auto frames = readAllFrames(h.get());
    for (size_t i = 0; i < packets.size(); ++i) {
        EXPECT_EQ(frames[i].size, packets[i].size) << i;
        EXPECT_EQ(frames[i].indexKey == AVI_FRAME_INDEX_KEY, packets[i].key) << i;
        // x264 key frames open with a start code and a sequence parameter set.
        EXPECT_EQ(frames[i].contentKey == AVI_FRAME_KEY, packets[i].key) << i;
        bool sps = frames[i].size >= 5 && (frames[i].bytes[4] & 7) == 7;
        EXPECT_EQ(frames[i].contentKey == AVI_FRAME_KEY, sps) << i;
    }
    EXPECT_EQ(avi_reader_frame_size(h.get()), -1);
    EXPECT_EQ(avi_reader_read_video(h.get(), nullptr, nullptr), -1);
}

TEST_F(AviReader, AudioReadsMatchThePcmStream) {
    AviPtr h(avi_reader_open(path("av.avi").c_str(), 1));
    ASSERT_TRUE(h);
    auto pcm = fileBytes(path("av.pcm"));
    EXPECT_EQ(avi_reader_audio_tracks(h.get()), 1);
    EXPECT_EQ(avi_reader_audio_bits(h.get()), 16);
    EXPECT_EQ(avi_reader_audio_channels(h.get()), 1);
    EXPECT_EQ(avi_reader_audio_rate(h.get()), 8000);
    EXPECT_EQ(avi_reader_audio_format(h.get()), 1);  // PCM
    EXPECT_EQ(avi_reader_audio_bytes(h.get()), static_cast<int64_t>(pcm.size()));
    long chunks = avi_reader_audio_chunks(h.get());
    ASSERT_GT(chunks, 2);

    // Everything in one read, across every chunk.
    std::vector<uint8_t> all(pcm.size() + 100);
    EXPECT_EQ(avi_reader_read_audio(h.get(), all.data(), static_cast<long>(all.size())),
              static_cast<long>(pcm.size()));
    all.resize(pcm.size());
    EXPECT_EQ(all, pcm);

    // By byte position: the binary search finds the chunk and the offset inside it.
    for (int64_t at : {int64_t{0}, int64_t{1}, int64_t{1999}, int64_t{12345}, int64_t{-5}}) {
        ASSERT_EQ(avi_reader_seek_audio_byte(h.get(), at), 0);
        std::vector<uint8_t> got(3000);
        ASSERT_EQ(avi_reader_read_audio(h.get(), got.data(), 3000), 3000);
        int64_t from = std::max<int64_t>(at, 0);
        EXPECT_TRUE(std::equal(got.begin(), got.end(), pcm.begin() + from)) << at;
    }

    // Reading 0 bytes moves to the start of the next chunk.
    ASSERT_EQ(avi_reader_seek_audio_chunk(h.get(), 0), 0);
    uint8_t small[10];
    ASSERT_EQ(avi_reader_read_audio(h.get(), small, 10), 10);
    EXPECT_EQ(avi_reader_read_audio(h.get(), small, 0), 0);
    long size1 = avi_reader_audio_chunk_size(h.get(), 1);
    long size0 = avi_reader_audio_chunk_size(h.get(), 0);
    ASSERT_GT(size1, 0);
    std::vector<uint8_t> next(static_cast<size_t>(size1));
    ASSERT_EQ(avi_reader_read_audio(h.get(), next.data(), size1), size1);
    EXPECT_TRUE(std::equal(next.begin(), next.end(), pcm.begin() + size0));

    EXPECT_EQ(avi_reader_audio_chunk_size(h.get(), chunks), -1);
    EXPECT_EQ(avi_reader_seek_audio_chunk(h.get(), chunks), 0);
    EXPECT_EQ(avi_reader_read_audio(h.get(), small, 10), 0);  // at the end
    EXPECT_EQ(avi_reader_seek_audio_chunk(h.get(), chunks + 1), -1);
    EXPECT_EQ(avi_reader_errno(), AVI_ERR_NO_IDX);
}

TEST_F(AviReader, RebuiltIndexEqualsTheStoredOne) {
    auto bytes = fileBytes(path("av.avi"));
    junkChunks(bytes, "idx1");
    writeBytes(path("noidx.avi"), bytes);

    AviPtr stored(avi_reader_open(path("av.avi").c_str(), 1));
    testing::internal::CaptureStderr();
    AviPtr rebuilt(avi_reader_open(path("noidx.avi").c_str(), 1));
    std::string err = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(stored);
    ASSERT_TRUE(rebuilt);
    EXPECT_EQ(avi_reader_index_rebuilt(rebuilt.get()), 1);
    // The reader's lines go through the library's log, the announcement and its close as one.
    EXPECT_EQ(err.rfind("zelplay: [avilib] Reconstructing index...done. nvi=75 nai=", 0), 0u)
        << err;
    setenv("ZELPLAY_LOG", "off", 1);
    testing::internal::CaptureStderr();
    AviPtr quiet(avi_reader_open(path("noidx.avi").c_str(), 1));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "a log turned off says nothing";
    unsetenv("ZELPLAY_LOG");
    EXPECT_TRUE(quiet);
    auto a = readAllFrames(stored.get());
    auto b = readAllFrames(rebuilt.get());
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].size, b[i].size) << i;
        EXPECT_EQ(a[i].indexKey, b[i].indexKey) << i;
        EXPECT_EQ(a[i].bytes, b[i].bytes) << i;
    }
    ASSERT_EQ(avi_reader_audio_chunks(stored.get()), avi_reader_audio_chunks(rebuilt.get()));
    for (long c = 0; c < avi_reader_audio_chunks(stored.get()); ++c) {
        EXPECT_EQ(avi_reader_audio_chunk_size(stored.get(), c),
                  avi_reader_audio_chunk_size(rebuilt.get(), c));
    }
    // Without an index requested the frame operations need one.
    AviPtr bare(avi_reader_open(path("av.avi").c_str(), 0));
    ASSERT_TRUE(bare);
    EXPECT_EQ(avi_reader_read_video(bare.get(), nullptr, nullptr), -1);
    EXPECT_EQ(avi_reader_errno(), AVI_ERR_NO_IDX);
}

TEST_F(AviReader, FileCutBeforeItsIndexKeepsTheWholeFrames) {
    auto bytes = fileBytes(path("av.avi"));
    auto packets = probeVideoPackets(path("av.avi"));
    bytes.resize(bytes.size() * 6 / 10);
    writeBytes(path("cut.avi"), bytes);
    testing::internal::CaptureStderr();
    AviPtr h(avi_reader_open(path("cut.avi").c_str(), 1));
    testing::internal::GetCapturedStderr();
    ASSERT_TRUE(h);
    long n = avi_reader_video_frames(h.get());
    EXPECT_GT(n, 20);
    EXPECT_LT(n, static_cast<long>(packets.size()));
    auto frames = readAllFrames(h.get());
    for (long i = 0; i < n; ++i) {
        EXPECT_EQ(frames[i].size, packets[i].size) << i;
    }
}

TEST_F(AviReader, FileWrittenToAPipeOpensWithARebuiltIndex) {
    std::string out = path("pipe.avi");
    std::string cmd =
        "ffmpeg -hide_banner -loglevel error -nostdin -f lavfi -i "
        "testsrc2=size=176x144:rate=25 -t 2 -c:v libx264 -preset veryfast "
        "-pix_fmt yuv420p -f avi - > '" +
        out + "'";
    ASSERT_EQ(system(cmd.c_str()), 0);
    testing::internal::CaptureStderr();
    AviPtr h(avi_reader_open(out.c_str(), 1));
    testing::internal::GetCapturedStderr();
    ASSERT_TRUE(h) << avi_reader_errno();
    EXPECT_EQ(avi_reader_index_rebuilt(h.get()), 1);
    auto packets = probeVideoPackets(out);
    ASSERT_EQ(avi_reader_video_frames(h.get()), static_cast<long>(packets.size()));
    auto frames = readAllFrames(h.get());
    for (size_t i = 0; i < packets.size(); ++i) {
        EXPECT_EQ(frames[i].size, packets[i].size) << i;
        EXPECT_EQ(frames[i].indexKey == AVI_FRAME_INDEX_KEY, packets[i].key) << i;
    }
}

TEST_F(AviReader, NineAudioStreamsGiveAHandleWithoutIndex) {
    std::vector<std::string> args = {"-f", "lavfi", "-i",   "testsrc2=size=160x120:rate=25",
                                     "-f", "lavfi", "-i",   "sine=sample_rate=8000",
                                     "-t", "1",     "-map", "0:v"};
    for (int i = 0; i < 9; ++i) {
        args.insert(args.end(), {"-map", "1:a"});
    }
    args.insert(args.end(), {"-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p",
                             "-c:a", "pcm_s16le", path("nine.avi")});
    ASSERT_TRUE(ffmpeg(args));
    testing::internal::CaptureStderr();
    AviPtr h(avi_reader_open(path("nine.avi").c_str(), 1));
    std::string err = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(h);
    EXPECT_EQ(err, "zelplay: error - only 8 audio tracks supported\n");
    EXPECT_EQ(avi_reader_audio_tracks(h.get()), 8);
    EXPECT_EQ(avi_reader_read_video(h.get(), nullptr, nullptr), -1);
    EXPECT_EQ(avi_reader_errno(), AVI_ERR_NO_IDX);
    EXPECT_EQ(avi_reader_frame_size(h.get()), -1);
    EXPECT_EQ(avi_reader_seek_video(h.get(), 0), -1);
    EXPECT_EQ(avi_reader_audio_chunks(h.get()), -1);
    EXPECT_EQ(avi_reader_read_audio(h.get(), nullptr, 0), -1);
    EXPECT_EQ(avi_reader_errno(), AVI_ERR_NO_IDX);
}

TEST_F(AviReader, OpenFailuresSetTheirCodes) {
    EXPECT_EQ(avi_reader_open(path("missing.avi").c_str(), 1), nullptr);
    EXPECT_EQ(avi_reader_errno(), AVI_ERR_READ);

    writeBytes(path("text.avi"), std::vector<uint8_t>(100, 'a'));
    EXPECT_EQ(avi_reader_open(path("text.avi").c_str(), 1), nullptr);
    EXPECT_EQ(avi_reader_errno(), AVI_ERR_NO_AVI);

    auto bytes = fileBytes(path("av.avi"));
    auto noHeader = bytes;
    memcpy(noHeader.data() + 20, "hdrX", 4);  // the first list's type
    writeBytes(path("nohdrl.avi"), noHeader);
    EXPECT_EQ(avi_reader_open(path("nohdrl.avi").c_str(), 1), nullptr);
    EXPECT_EQ(avi_reader_errno(), AVI_ERR_NO_HDRL);

    auto noMovi = bytes;
    junkChunks(noMovi, "movi");
    writeBytes(path("nomovi.avi"), noMovi);
    EXPECT_EQ(avi_reader_open(path("nomovi.avi").c_str(), 1), nullptr);
    EXPECT_EQ(avi_reader_errno(), AVI_ERR_NO_MOVI);

    ASSERT_TRUE(ffmpeg({"-f", "lavfi", "-i", "sine=sample_rate=8000", "-t", "1", "-c:a",
                        "pcm_s16le", path("audio.avi")}));
    EXPECT_EQ(avi_reader_open(path("audio.avi").c_str(), 1), nullptr);
    EXPECT_EQ(avi_reader_errno(), AVI_ERR_NO_VIDS);

    // A successful open clears the code.
    AviPtr h(avi_reader_open(path("av.avi").c_str(), 1));
    ASSERT_TRUE(h);
    EXPECT_EQ(avi_reader_errno(), 0);
    // A buffer too small for the frame: a failed read that does not move.
    uint8_t tiny[4];
    long size = avi_reader_frame_size(h.get());
    EXPECT_EQ(avi_reader_read_video_bounded(h.get(), tiny, sizeof tiny, nullptr), -1);
    EXPECT_EQ(avi_reader_errno(), AVI_ERR_READ);
    EXPECT_EQ(avi_reader_frame_size(h.get()), size);
    EXPECT_EQ(avi_reader_seek_video(h.get(), -4), 0);
    EXPECT_EQ(avi_reader_frame_size(h.get()), size);
}

// Index entries whose data lies beyond the end of the file stay in the index: the frame is
// counted and reported from the index, only reading its data fails.
TEST_F(AviReader, EntriesBeyondTheEndOfTheFileFailWhenRead) {
    auto bytes = fileBytes(path("av.avi"));
    const uint8_t idx1[4] = {'i', 'd', 'x', '1'};
    size_t at = std::search(bytes.begin(), bytes.end(), idx1, idx1 + 4) - bytes.begin();
    ASSERT_LT(at, bytes.size());
    // Point the last video entry and the last audio entry 1 MiB past the end of the file.
    size_t lastVideo = 0, lastAudio = 0;
    for (size_t e = at + 8; e + 16 <= bytes.size(); e += 16) {
        if (memcmp(&bytes[e], "00dc", 4) == 0) {
            lastVideo = e;
        } else if (memcmp(&bytes[e], "01wb", 4) == 0) {
            lastAudio = e;
        }
    }
    ASSERT_NE(lastVideo, 0u);
    ASSERT_NE(lastAudio, 0u);
    for (size_t e : {lastVideo, lastAudio}) {
        uint32_t beyond = static_cast<uint32_t>(bytes.size() + (1 << 20));
        for (int i = 0; i < 4; ++i) {
            bytes[e + 8 + i] = static_cast<uint8_t>(beyond >> (8 * i));
        }
    }
    writeBytes(path("beyond.avi"), bytes);

    auto packets = probeVideoPackets(path("av.avi"));
    AviPtr h(avi_reader_open(path("beyond.avi").c_str(), 1));
    ASSERT_TRUE(h) << avi_reader_errno();
    EXPECT_EQ(avi_reader_index_rebuilt(h.get()), 0);
    long last = static_cast<long>(packets.size()) - 1;
    ASSERT_EQ(avi_reader_video_frames(h.get()), last + 1);
    // The frame before it still reads, through both forms of the call.
    ASSERT_EQ(avi_reader_seek_video(h.get(), last - 1), 0);
    long size = avi_reader_frame_size(h.get());
    std::vector<uint8_t> buf(static_cast<size_t>(size));
    int key = -1;
    EXPECT_EQ(avi_reader_read_video(h.get(), buf.data(), &key), size);
    // Without a buffer the index answers: size and flag.
    EXPECT_EQ(avi_reader_read_video(h.get(), nullptr, &key), packets.back().size);
    EXPECT_EQ(key == AVI_FRAME_INDEX_KEY, packets.back().key);
    // With one the read fails with code 3, and the position stays.
    ASSERT_EQ(avi_reader_seek_video(h.get(), last), 0);
    buf.resize(static_cast<size_t>(avi_reader_frame_size(h.get())));
    EXPECT_EQ(avi_reader_read_video(h.get(), buf.data(), &key), -1);
    EXPECT_EQ(avi_reader_errno(), AVI_ERR_READ);
    EXPECT_EQ(
        avi_reader_read_video_bounded(h.get(), buf.data(), static_cast<long>(buf.size()), &key),
        -1);
    EXPECT_EQ(avi_reader_errno(), AVI_ERR_READ);
    EXPECT_EQ(avi_reader_frame_size(h.get()), packets.back().size);

    // Audio: the last chunk is counted; a read over it fails with code 3.
    long chunks = avi_reader_audio_chunks(h.get());
    AviPtr intact(avi_reader_open(path("av.avi").c_str(), 1));
    ASSERT_TRUE(intact);
    EXPECT_EQ(chunks, avi_reader_audio_chunks(intact.get()));
    EXPECT_EQ(avi_reader_audio_bytes(h.get()), avi_reader_audio_bytes(intact.get()));
    ASSERT_EQ(avi_reader_seek_audio_chunk(h.get(), chunks - 2), 0);
    long span = avi_reader_audio_chunk_size(h.get(), chunks - 2) + 10;
    std::vector<uint8_t> audio(static_cast<size_t>(span));
    testing::internal::CaptureStderr();
    EXPECT_EQ(avi_reader_read_audio(h.get(), audio.data(), span), -1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(avi_reader_errno(), AVI_ERR_READ);
    EXPECT_EQ(err.rfind("zelplay: XXX pos = ", 0), 0u) << err;
}

TEST_F(AviReader, OpenDmlFileOverOneGigabyte) {
    // A short clip of random pixels coded losslessly, stream-copied until the file passes
    // 1 GiB, which makes FFmpeg write OpenDML indexes and a second RIFF.
    testsupport::TempDir big;
    std::string clip = big.file("clip.avi"), file = big.file("big.avi");
    ASSERT_TRUE(ffmpeg({"-f",       "lavfi",
                        "-i",       "nullsrc=s=640x480:r=25,geq=lum='random(1)*255':cb=128:cr=128",
                        "-f",       "lavfi",
                        "-i",       "sine=sample_rate=8000",
                        "-t",       "2",
                        "-c:v",     "libx264",
                        "-preset",  "ultrafast",
                        "-qp",      "0",
                        "-pix_fmt", "yuv420p",
                        "-c:a",     "pcm_s16le",
                        "-ac",      "1",
                        "-f",       "avi",
                        clip}));
    long clipSize = static_cast<long>(std::filesystem::file_size(clip));
    int loops = static_cast<int>((1100L << 20) / clipSize) + 1;
    ASSERT_TRUE(ffmpeg(
        {"-stream_loop", std::to_string(loops), "-i", clip, "-c", "copy", "-f", "avi", file}));
    ASSERT_GT(std::filesystem::file_size(file), 1ull << 30);
    std::filesystem::remove(clip);

    AviPtr h(avi_reader_open(file.c_str(), 1));
    ASSERT_TRUE(h) << avi_reader_errno();
    EXPECT_EQ(avi_reader_index_rebuilt(h.get()), 0);
    auto packets = probeVideoPackets(file);
    ASSERT_EQ(avi_reader_video_frames(h.get()), static_cast<long>(packets.size()));
    std::vector<uint8_t> buf;
    for (size_t i = 0; i < packets.size(); ++i) {
        int key = -1;
        long size = avi_reader_read_video(h.get(), nullptr, &key);
        ASSERT_EQ(size, packets[i].size) << i;
        ASSERT_EQ(key == AVI_FRAME_INDEX_KEY, packets[i].key) << i;
    }
    // The last frame lies in the AVIX part: read it and compare with the file's bytes.
    long last = static_cast<long>(packets.size()) - 1;
    avi_reader_seek_video(h.get(), last);
    buf.resize(static_cast<size_t>(packets.back().size));
    ASSERT_EQ(
        avi_reader_read_video_bounded(h.get(), buf.data(), static_cast<long>(buf.size()), nullptr),
        packets.back().size);
    std::vector<char> tail(8 << 20);
    std::ifstream in(file, std::ios::binary);
    in.seekg(-static_cast<std::streamoff>(tail.size()), std::ios::end);
    in.read(tail.data(), static_cast<std::streamsize>(tail.size()));
    auto found = std::search(tail.begin(), tail.end(), buf.begin(), buf.end(),
                             [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; });
    EXPECT_NE(found, tail.end());
    EXPECT_EQ(avi_reader_audio_bytes(h.get()), 8000L * 2 * 2 * (loops + 1));
}

namespace {

// A hand-made AVI: one H.264 video stream with an OpenDML super index naming one standard
// index `superEntries` times, a "movi" list with `frames` frames and the standard index.
class HandMadeAvi {
  public:
    std::vector<uint8_t> build(int frames, int superEntries, uint8_t ixSubType) {
        b_.clear();
        tag("RIFF");
        size_t riff = placeholder();
        tag("AVI ");
        size_t hdrl = list("hdrl");
        chunk("avih", 56);
        put32At(b_.size() - 56 + 32, 176);
        put32At(b_.size() - 56 + 36, 144);
        size_t strl = list("strl");
        chunk("strh", 56);
        size_t strh = b_.size() - 56;
        memcpy(&b_[strh], "vidsH264", 8);
        put32At(strh + 20, 1);   // scale
        put32At(strh + 24, 25);  // rate
        chunk("strf", 40);
        put32At(b_.size() - 40, 40);
        put32At(b_.size() - 36, 176);
        put32At(b_.size() - 32, 144);
        chunk("indx", 24 + 16 * superEntries);
        size_t indx = b_.size() - (24 + 16 * superEntries);
        b_[indx] = 4;  // longs per entry
        put32At(indx + 4, static_cast<uint32_t>(superEntries));
        memcpy(&b_[indx + 8], "00dc", 4);
        close(strl);
        close(hdrl);
        size_t movi = list("movi");
        std::vector<std::pair<uint32_t, uint32_t>> entries;
        for (int i = 0; i < frames; ++i) {
            chunk("00dc", 6);
            size_t data = b_.size() - 6;
            const uint8_t frame[6] = {
                0, 0, 0, 1, static_cast<uint8_t>(i == 0 ? 0x67 : 0x41), static_cast<uint8_t>(i)};
            memcpy(&b_[data], frame, 6);
            entries.push_back({static_cast<uint32_t>(data), 6u | (i == 0 ? 0u : 0x80000000u)});
        }
        size_t ix = b_.size();
        chunk("ix00", 24 + 8 * frames);
        b_[ix + 8] = 2;
        b_[ix + 10] = ixSubType;
        b_[ix + 11] = 1;  // index of chunks
        put32At(ix + 12, static_cast<uint32_t>(frames));
        memcpy(&b_[ix + 16], "00dc", 4);
        for (int i = 0; i < frames; ++i) {
            put32At(ix + 32 + 8 * i, entries[i].first);  // base offset 0: absolute positions
            put32At(ix + 36 + 8 * i, entries[i].second);
        }
        close(movi);
        for (int k = 0; k < superEntries; ++k) {
            put32At(indx + 24 + 16 * k, static_cast<uint32_t>(ix));
            put32At(indx + 32 + 16 * k, static_cast<uint32_t>(32 + 8 * frames));
        }
        close(riff - 8);
        return b_;
    }

  private:
    void tag(const char* t) { b_.insert(b_.end(), t, t + 4); }
    size_t placeholder() {
        b_.insert(b_.end(), 4, 0);
        return b_.size();
    }
    size_t list(const char* type) {
        tag("LIST");
        size_t at = placeholder();
        tag(type);
        return at - 8;
    }
    void chunk(const char* id, size_t size) {
        tag(id);
        b_.push_back(static_cast<uint8_t>(size));
        b_.push_back(static_cast<uint8_t>(size >> 8));
        b_.push_back(static_cast<uint8_t>(size >> 16));
        b_.push_back(static_cast<uint8_t>(size >> 24));
        b_.insert(b_.end(), size, 0);
    }
    void close(size_t header) {
        put32At(header + 4, static_cast<uint32_t>(b_.size() - header - 8));
    }
    void put32At(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            b_[at + i] = static_cast<uint8_t>(v >> (8 * i));
        }
    }
    std::vector<uint8_t> b_;
};

}  // namespace

TEST(AviReaderHostile, SuperIndexRepeatingOneStandardIndexCountsItOnce) {
    testsupport::TempDir dir;
    writeBytes(dir.file("ok.avi"), HandMadeAvi().build(5, 1, 0));
    AviPtr ok(avi_reader_open(dir.file("ok.avi").c_str(), 1));
    ASSERT_TRUE(ok) << avi_reader_errno();
    EXPECT_EQ(avi_reader_index_rebuilt(ok.get()), 0);
    ASSERT_EQ(avi_reader_video_frames(ok.get()), 5);
    EXPECT_EQ(avi_reader_width(ok.get()), 176);
    int key = -1;
    EXPECT_EQ(avi_reader_read_video(ok.get(), nullptr, &key), 6);
    EXPECT_EQ(key, AVI_FRAME_INDEX_KEY);
    uint8_t buf[16];
    EXPECT_EQ(avi_reader_read_video_bounded(ok.get(), buf, sizeof buf, &key), 6);
    EXPECT_EQ(key, AVI_FRAME_OTHER);  // fifth byte 0x41: a slice, whatever the index says
    avi_reader_seek_video(ok.get(), 0);
    EXPECT_EQ(avi_reader_read_video(ok.get(), buf, &key), 6);
    EXPECT_EQ(key, AVI_FRAME_KEY);

    EXPECT_DOUBLE_EQ(avi_reader_frame_rate(ok.get()), 25.0);

    // A stream header without a rate: the main header's frame period gives it.
    auto noRate = HandMadeAvi().build(5, 1, 0);
    const uint8_t strh[4] = {'s', 't', 'r', 'h'};
    size_t at = std::search(noRate.begin(), noRate.end(), strh, strh + 4) - noRate.begin();
    noRate[at + 8 + 24] = 0;  // dwRate
    const uint8_t avih[4] = {'a', 'v', 'i', 'h'};
    size_t main = std::search(noRate.begin(), noRate.end(), avih, avih + 4) - noRate.begin();
    noRate[main + 8] = 0x40;  // 40 000 us per frame
    noRate[main + 9] = 0x9C;
    writeBytes(dir.file("norate.avi"), noRate);
    AviPtr fallback(avi_reader_open(dir.file("norate.avi").c_str(), 1));
    ASSERT_TRUE(fallback);
    EXPECT_DOUBLE_EQ(avi_reader_frame_rate(fallback.get()), 25.0);

    writeBytes(dir.file("rep.avi"), HandMadeAvi().build(5, 4000, 0));
    AviPtr rep(avi_reader_open(dir.file("rep.avi").c_str(), 1));
    ASSERT_TRUE(rep);
    EXPECT_EQ(avi_reader_video_frames(rep.get()), 5);
}

TEST(AviReaderHostile, StandardIndexWithAnotherSubTypeIsRefused) {
    testsupport::TempDir dir;
    writeBytes(dir.file("sub.avi"), HandMadeAvi().build(3, 1, 1));
    testing::internal::CaptureStderr();
    AviPtr h(avi_reader_open(dir.file("sub.avi").c_str(), 1));
    std::string err = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(h);
    EXPECT_EQ(err.find("zelplay: Invalid Header, bIndexSubType != 0\n"), 0u) << err;
    // Without a usable index the scan of "movi" finds the three frames.
    EXPECT_EQ(avi_reader_index_rebuilt(h.get()), 1);
    EXPECT_EQ(avi_reader_video_frames(h.get()), 3);
}

TEST(AviReaderHostile, SizesPastTheEndGiveAShorterIndexOrAnError) {
    testsupport::TempDir dir;
    auto bytes = HandMadeAvi().build(4, 1, 0);
    // Cut through the standard index: its entries cannot be read, the scan takes over.
    auto cut = bytes;
    cut.resize(cut.size() - 12);
    writeBytes(dir.file("cut.avi"), cut);
    testing::internal::CaptureStderr();
    AviPtr h(avi_reader_open(dir.file("cut.avi").c_str(), 1));
    testing::internal::GetCapturedStderr();
    ASSERT_TRUE(h);
    EXPECT_EQ(avi_reader_video_frames(h.get()), 4);
    // Every cut of the file opens or fails cleanly.
    for (size_t n = 0; n < bytes.size(); n += 7) {
        std::vector<uint8_t> part(bytes.begin(), bytes.begin() + static_cast<long>(n));
        writeBytes(dir.file("part.avi"), part);
        testing::internal::CaptureStderr();
        AviPtr p(avi_reader_open(dir.file("part.avi").c_str(), 1));
        testing::internal::GetCapturedStderr();
        if (p) {
            EXPECT_LE(avi_reader_video_frames(p.get()), 4);
        } else {
            EXPECT_NE(avi_reader_errno(), 0);
        }
    }
}
