// Record files written by the writer and read back by the reader.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <thread>

#include "format_handles.h"
#include "record_writer_util.h"
#include "support/media.h"

using namespace formats_test;
using zelplay::formats::RecordPtr;

namespace {

constexpr uint8_t kSegmentId[16] = {0x74, 0xD4, 0x06, 0x18, 0xDF, 0xCA, 0x09, 0x45,
                                    0xA4, 0xBA, 0x9A, 0xAB, 0xCB, 0x96, 0xAA, 0xE8};

std::vector<uint8_t> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void putBytes(const std::string& path, long offset, const void* data, size_t n) {
    int fd = open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, data, n, offset), static_cast<ssize_t>(n));
    close(fd);
}

// Absolute positions of the segment headers, found by their identifier.
std::vector<long> segmentPositions(const std::string& path) {
    auto bytes = fileBytes(path);
    std::vector<long> out;
    for (size_t i = 0; i + 16 <= bytes.size(); ++i) {
        if (memcmp(bytes.data() + i, kSegmentId, 16) == 0) {
            out.push_back(static_cast<long>(i));
        }
    }
    return out;
}

// Reads every frame back and checks bytes, stamps, types and durations against the plan.
void expectPlan(custommp4_t* h, const RecordPlan& p) {
    ASSERT_EQ(custommp4_video_frames(h), static_cast<uint32_t>(p.videoFrames));
    ASSERT_EQ(custommp4_audio_frames(h), static_cast<uint32_t>(p.audioFrames));
    std::vector<uint8_t> buf(4096);
    for (int i = 0; i < p.videoFrames; ++i) {
        uint32_t ts = 0;
        int32_t dur = -1;
        uint8_t type = 0;
        int n = custommp4_read_video_frame(h, buf.data(), 4096, &ts, &dur, &type);
        auto want = videoBytes(i);
        ASSERT_EQ(n, static_cast<int>(want.size())) << "video frame " << i;
        ASSERT_EQ(0, memcmp(buf.data(), want.data(), want.size())) << "video frame " << i;
        ASSERT_EQ(ts, videoStamp(i));
        ASSERT_EQ(type, videoType(p, i));
        int32_t wantDur =
            i + 1 < p.videoFrames ? static_cast<int32_t>(videoStamp(i + 1) - videoStamp(i)) : 40;
        ASSERT_EQ(dur, wantDur) << "video frame " << i;
    }
    EXPECT_EQ(custommp4_read_video_frame(h, buf.data(), 4096, nullptr, nullptr, nullptr), 0);
    for (int i = 0; i < p.audioFrames; ++i) {
        uint32_t ts = 0;
        int32_t dur = -1;
        int n = custommp4_read_audio_frame(h, buf.data(), 4096, &ts, &dur);
        auto want = audioBytes(p, i);
        ASSERT_EQ(n, p.audioFrameSize) << "audio frame " << i;
        ASSERT_EQ(0, memcmp(buf.data(), want.data(), want.size()));
        ASSERT_EQ(ts, audioStamp(i));
        ASSERT_EQ(dur, 30);
    }
    EXPECT_EQ(custommp4_read_audio_frame(h, buf.data(), 4096, nullptr, nullptr), 0);
}

}  // namespace

TEST(RecordFile, SeveralSegmentsReadBackExactly) {
    testsupport::TempDir dir;
    RecordPlan p;
    p.videoFrames = 7100;  // three segments of 3000 video entries at most
    p.audioFrames = 9000;
    ASSERT_TRUE(writeRecord(dir.file("a.ifv"), p));
    RecordPtr h(custommp4_open(dir.file("a.ifv").c_str(), 0, 0));
    ASSERT_TRUE(h);
    EXPECT_GE(custommp4_segment_count(h.get()), 3u);
    EXPECT_EQ(segmentPositions(dir.file("a.ifv")).size(), custommp4_segment_count(h.get()));
    EXPECT_EQ(custommp4_start_time(h.get()), p.startTime);
    EXPECT_EQ(custommp4_duration(h.get()), videoStamp(p.videoFrames - 1));
    EXPECT_EQ(custommp4_end_time(h.get()), p.startTime + videoStamp(p.videoFrames - 1) / 1000);
    EXPECT_EQ(custommp4_video_width(h.get()), 320);
    EXPECT_EQ(custommp4_video_height(h.get()), 240);
    EXPECT_FLOAT_EQ(custommp4_video_frame_rate(h.get()), 25.0f);
    EXPECT_EQ(custommp4_audio_bits_per_sample(h.get()), 16);
    EXPECT_EQ(custommp4_has_audio(h.get()), 1);
    expectPlan(h.get(), p);
}

TEST(RecordFile, SegmentLargerThanTheInitialIndexBufferGrowsIt) {
    testsupport::TempDir dir;
    RecordPlan p;
    p.videoFrames = 5200;  // one segment of 5200 entries behind a 3000-entry start
    p.audioFrames = 6900;
    p.videoCapacity = 6000;
    p.audioCapacity = 8000;
    ASSERT_TRUE(writeRecord(dir.file("big.ifv"), p));
    RecordPtr h(custommp4_open(dir.file("big.ifv").c_str(), 0, 0));
    ASSERT_TRUE(h);
    EXPECT_EQ(custommp4_segment_count(h.get()), 1u);
    expectPlan(h.get(), p);
}

TEST(RecordFile, SkippingSumsTheFrameSizes) {
    testsupport::TempDir dir;
    RecordPlan p;
    p.videoFrames = 3500;
    ASSERT_TRUE(writeRecord(dir.file("s.ifv"), p));
    RecordPtr h(custommp4_open(dir.file("s.ifv").c_str(), 0, 0));
    ASSERT_TRUE(h);
    EXPECT_EQ(custommp4_has_audio(h.get()), 0);
    long sum = 0, want = 0;
    for (int i = 0; i < p.videoFrames; ++i) {
        want += videoSize(i);
        sum += custommp4_skip_video_frame(h.get());
    }
    EXPECT_EQ(sum, want);
    EXPECT_EQ(custommp4_skip_video_frame(h.get()), 0);
}

TEST(RecordFile, RecordAtABaseOffsetInsideALargerFile) {
    testsupport::TempDir dir;
    std::string path = dir.file("host.bin");
    {
        std::ofstream out(path, std::ios::binary);
        std::string filler(5000, 'x');
        out << filler;
    }
    RecordPlan p;
    p.videoFrames = 3100;
    p.audioFrames = 100;
    ASSERT_TRUE(writeRecord(path, p, 2, 4096));
    auto bytes = fileBytes(path);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4096), std::string(4096, 'x'));

    RecordPtr h(custommp4_open(path.c_str(), 0, 4096));
    ASSERT_TRUE(h);
    expectPlan(h.get(), p);
    testing::internal::CaptureStdout();
    EXPECT_EQ(custommp4_open(path.c_str(), 0, 0), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ReadFilePropertiesObject failed 2\n");
}

TEST(RecordFile, RecordWithoutSegmentsOpensEmpty) {
    testsupport::TempDir dir;
    custommp4_t* w = custommp4_open(dir.file("e.ifv").c_str(), 1, 77);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(custommp4_close(w), 1);
    EXPECT_EQ(fileBytes(dir.file("e.ifv")).size(), 248u);  // headers and one segment header

    RecordPtr h(custommp4_open(dir.file("e.ifv").c_str(), 0, 0));
    ASSERT_TRUE(h);
    EXPECT_EQ(custommp4_video_frames(h.get()), 0u);
    EXPECT_EQ(custommp4_audio_frames(h.get()), 0u);
    EXPECT_EQ(custommp4_duration(h.get()), 0u);
    uint8_t buf[16];
    EXPECT_EQ(custommp4_read_video_frame(h.get(), buf, 16, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(custommp4_seek_to_time_stamp(h.get(), 0), 0);
}

TEST(RecordFile, OpenFailuresPrintTheirMessage) {
    testsupport::TempDir dir;
    testing::internal::CaptureStdout();
    EXPECT_EQ(custommp4_open(dir.file("x.ifv").c_str(), 4, 0), nullptr);
    EXPECT_EQ(custommp4_open(dir.file("missing.ifv").c_str(), 0, 0), nullptr);
    EXPECT_EQ(custommp4_open(dir.file("missing.ifv").c_str(), 2, 0), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "open mode error\nopen file failed\nopen file failed\n");
    {
        std::ofstream out(dir.file("short.ifv"), std::ios::binary);
        out << "tiny";
    }
    testing::internal::CaptureStdout();
    EXPECT_EQ(custommp4_open(dir.file("short.ifv").c_str(), 0, 0), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ReadFilePropertiesObject failed 1\n");
    // Mode 3 creates a missing file.
    custommp4_t* h = custommp4_open(dir.file("new.ifv").c_str(), 3, 100);
    ASSERT_NE(h, nullptr);
    custommp4_close(h);
    EXPECT_EQ(fileBytes(dir.file("new.ifv")).size(), 248u);
}

TEST(RecordFile, DamagedTailSegmentKeepsTheGoodOnes) {
    testsupport::TempDir dir;
    RecordPlan p;
    p.videoFrames = 7000;
    ASSERT_TRUE(writeRecord(dir.file("d.ifv"), p));
    auto segs = segmentPositions(dir.file("d.ifv"));
    ASSERT_EQ(segs.size(), 3u);
    uint8_t junk[4] = {0, 0, 0, 0};
    putBytes(dir.file("d.ifv"), segs[2], junk, 4);
    testing::internal::CaptureStdout();
    RecordPtr h(custommp4_open(dir.file("d.ifv").c_str(), 0, 0));
    std::string out = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(h);
    EXPECT_EQ(out, "ReadmdatSegmentObject3 (offset:" + std::to_string(segs[2]) + ") failed 2\n");
    EXPECT_EQ(custommp4_segment_count(h.get()), 2u);
    uint32_t first = 1, last = 0, video = 0, audio = 9;
    EXPECT_EQ(custommp4_segment_info(h.get(), 1, &first, &last, &video, &audio), 1);
    EXPECT_EQ(first, videoStamp(3000));
    EXPECT_EQ(last, videoStamp(5999));
    EXPECT_EQ(video, 3000u);
    EXPECT_EQ(audio, 0u);
    EXPECT_EQ(custommp4_segment_info(h.get(), 2, &first, &last, &video, &audio), 0);
    p.videoFrames = 6000;
    // The last kept frame now reports the last-frame duration.
    expectPlan(h.get(), p);

    // A file cut inside the second segment header keeps the first segment.
    ASSERT_EQ(truncate(dir.file("d.ifv").c_str(), segs[1] + 20), 0);
    testing::internal::CaptureStdout();
    RecordPtr cut(custommp4_open(dir.file("d.ifv").c_str(), 0, 0));
    testing::internal::GetCapturedStdout();
    ASSERT_TRUE(cut);
    EXPECT_EQ(custommp4_video_frames(cut.get()), 3000u);

    // A first segment that is not a segment fails the open.
    putBytes(dir.file("d.ifv"), segs[0], junk, 4);
    testing::internal::CaptureStdout();
    EXPECT_EQ(custommp4_open(dir.file("d.ifv").c_str(), 0, 0), nullptr);
    testing::internal::GetCapturedStdout();
}

TEST(RecordFile, PositionsAtOrBeyond128MiBAreNotRead) {
    testsupport::TempDir dir;
    std::string path = dir.file("sparse.ifv");
    RecordPlan p;
    p.videoFrames = 10;
    ASSERT_TRUE(writeRecord(path, p));
    // Point frame 3 at 0x8000000 and frame 4 just below it, in a sparse tail.
    ASSERT_EQ(truncate(path.c_str(), 0x8000000 + 4096), 0);
    auto segs = segmentPositions(path);
    ASSERT_EQ(segs.size(), 1u);
    uint8_t pos[4];
    uint32_t beyond = 0x8000000, below = 0x8000000 - 1024;
    memcpy(pos, &beyond, 4);
    putBytes(path, segs[0] + 48 + 3 * 28, pos, 4);
    memcpy(pos, &below, 4);
    putBytes(path, segs[0] + 48 + 4 * 28, pos, 4);

    RecordPtr h(custommp4_open(path.c_str(), 0, 0));
    ASSERT_TRUE(h);
    std::vector<uint8_t> buf(4096);
    testing::internal::CaptureStdout();
    std::vector<int> sizes;
    for (int i = 0; i < 10; ++i) {
        sizes.push_back(
            custommp4_read_video_frame(h.get(), buf.data(), 4096, nullptr, nullptr, nullptr));
    }
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(sizes[2], videoSize(2));
    EXPECT_EQ(sizes[3], 0);
    EXPECT_EQ(sizes[4], videoSize(4));  // zeros of the sparse region, but readable
    EXPECT_EQ(sizes[5], videoSize(5));
    EXPECT_NE(out.find("custommp4_read_data:file_pos=134217728\n"), std::string::npos);
    // A record whose base offset lies beyond the limit cannot even be opened.
    testing::internal::CaptureStdout();
    EXPECT_EQ(custommp4_open(path.c_str(), 0, 0x8000000), nullptr);
    testing::internal::GetCapturedStdout();
}

TEST(RecordFile, WriterRefusesFramesBeyondTheReadableLimit) {
    testsupport::TempDir dir;
    std::string path = dir.file("edge.ifv");
    std::ofstream(path).close();
    ASSERT_EQ(truncate(path.c_str(), 0x8000000 - 400000), 0);
    custommp4_t* w = custommp4_open(path.c_str(), 2, 0x8000000 - 400000);
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(custommp4_set_video_format(w, 320, 240, 25.0f, 0, "H264"), 1);
    std::vector<uint8_t> frame(10000, 0x42);
    int written = 0;
    testing::internal::CaptureStdout();
    while (written < 100 &&
           custommp4_write_video_frame(w, frame.data(), 10000, written * 40, 5) == 1) {
        ++written;
    }
    testing::internal::GetCapturedStdout();
    custommp4_close(w);
    EXPECT_GT(written, 10);
    EXPECT_LT(written, 40);
    RecordPtr h(custommp4_open(path.c_str(), 0, 0x8000000 - 400000));
    ASSERT_TRUE(h);
    ASSERT_EQ(custommp4_video_frames(h.get()), static_cast<uint32_t>(written));
    std::vector<uint8_t> buf(10000);
    for (int i = 0; i < written; ++i) {
        ASSERT_EQ(custommp4_read_video_frame(h.get(), buf.data(), 10000, nullptr, nullptr, nullptr),
                  10000);
    }
}

TEST(RecordFile, FrameLargerThanTheBufferIsNotRead) {
    testsupport::TempDir dir;
    RecordPlan p;
    p.videoFrames = 5;
    ASSERT_TRUE(writeRecord(dir.file("b.ifv"), p));
    RecordPtr h(custommp4_open(dir.file("b.ifv").c_str(), 0, 0));
    ASSERT_TRUE(h);
    std::vector<uint8_t> buf(static_cast<size_t>(videoSize(0)));
    uint32_t ts = 99;
    EXPECT_EQ(custommp4_read_video_frame(h.get(), buf.data(), static_cast<int>(buf.size()), &ts,
                                         nullptr, nullptr),
              videoSize(0));
    // Frame 1 is larger than the buffer: reported as a failed read, and reading moves on.
    ASSERT_GT(videoSize(1), videoSize(0));
    EXPECT_EQ(custommp4_read_video_frame(h.get(), buf.data(), static_cast<int>(buf.size()), &ts,
                                         nullptr, nullptr),
              0);
    EXPECT_EQ(ts, videoStamp(1));
    EXPECT_EQ(custommp4_video_position(h.get()), 2u);
}

namespace {

// The frame a seek to t must land on: the first key frame at most 1600 ms before t, or the
// first after it, in the first segment (by last stamp >= t) that has one.
int expectedSeekFrame(const RecordPlan& p, uint32_t t) {
    for (int i = 0; i < p.videoFrames; ++i) {
        uint8_t type = videoType(p, i);
        if ((type == 3 || type == 5) && videoStamp(i) + 1600 >= t) {
            return i;
        }
    }
    return -1;
}

}  // namespace

TEST(RecordFile, SeeksLandOnKeyFramesNearTheTarget) {
    testsupport::TempDir dir;
    RecordPlan p;
    p.videoFrames = 7000;
    p.audioFrames = 9300;
    p.gop = 50;  // a key frame every 2 s
    ASSERT_TRUE(writeRecord(dir.file("k.ifv"), p));
    RecordPtr h(custommp4_open(dir.file("k.ifv").c_str(), 0, 0));
    ASSERT_TRUE(h);
    std::vector<uint8_t> buf(4096);
    for (uint32_t t : {0u, 1u, 1599u, 1601u, 3000u, 3700u, 119990u, 120001u, 200000u, 279000u}) {
        int want = expectedSeekFrame(p, t);
        ASSERT_EQ(custommp4_seek_to_time_stamp(h.get(), t), 1) << t;
        EXPECT_EQ(custommp4_video_position(h.get()), static_cast<uint32_t>(want)) << t;
        uint32_t ts = 0;
        uint8_t type = 0;
        custommp4_read_video_frame(h.get(), buf.data(), 4096, &ts, nullptr, &type);
        EXPECT_TRUE(type == 3 || type == 5);
        EXPECT_TRUE(ts + 1600 >= t && (ts <= t || ts < t + 2000)) << t << " landed on " << ts;
        // Audio resumes at the first frame after the key frame's stamp.
        uint32_t audioPos = custommp4_audio_position(h.get());
        uint32_t ats = 0;
        ASSERT_EQ(custommp4_read_audio_frame(h.get(), buf.data(), 4096, &ats, nullptr),
                  p.audioFrameSize);
        EXPECT_GT(ats, ts);
        if (audioPos > 0) {
            EXPECT_LE(audioStamp(static_cast<int>(audioPos) - 1), ts);
        }
    }
    // Past the last stamp: nothing found, positions unchanged.
    uint32_t before = custommp4_video_position(h.get());
    EXPECT_EQ(custommp4_seek_to_time_stamp(h.get(), 400000), 0);
    EXPECT_EQ(custommp4_video_position(h.get()), before);
}

TEST(RecordFile, SeekSkipsASegmentWithoutKeyFrames) {
    testsupport::TempDir dir;
    RecordPlan p;
    p.videoFrames = 4000;
    p.firstKeyFrame = 3010;  // segment 0 (frames 0..2999) holds no key frame
    ASSERT_TRUE(writeRecord(dir.file("n.ifv"), p));
    RecordPtr h(custommp4_open(dir.file("n.ifv").c_str(), 0, 0));
    ASSERT_TRUE(h);
    ASSERT_EQ(custommp4_seek_to_time_stamp(h.get(), 0), 1);
    EXPECT_EQ(custommp4_video_position(h.get()), 3025u);  // first multiple of the gop >= 3010
}

TEST(RecordFile, SeekByTimeBeforeStartAndAfterEnd) {
    testsupport::TempDir dir;
    RecordPlan p;
    p.videoFrames = 1000;
    ASSERT_TRUE(writeRecord(dir.file("t.ifv"), p));
    RecordPtr h(custommp4_open(dir.file("t.ifv").c_str(), 0, 0));
    ASSERT_TRUE(h);
    std::vector<uint8_t> buf(4096);
    for (int i = 0; i < 100; ++i) {
        custommp4_read_video_frame(h.get(), buf.data(), 4096, nullptr, nullptr, nullptr);
    }
    EXPECT_EQ(custommp4_seek_to_time(h.get(), p.startTime - 100), 1);
    EXPECT_EQ(custommp4_video_position(h.get()), 0u);
    EXPECT_EQ(custommp4_seek_to_time(h.get(), p.startTime + 20), 1);
    EXPECT_EQ(custommp4_video_position(h.get()),
              static_cast<uint32_t>(expectedSeekFrame(p, 20000)));
    EXPECT_EQ(custommp4_seek_to_time(h.get(), custommp4_end_time(h.get()) + 1), 0);
    EXPECT_EQ(custommp4_seek_to_time(h.get(), custommp4_end_time(h.get())), 1);
}

TEST(RecordFile, WriterRejectsLateDeclarationsAndDisorder) {
    testsupport::TempDir dir;
    custommp4_t* w = custommp4_open(dir.file("w.ifv").c_str(), 1, 0);
    ASSERT_NE(w, nullptr);
    uint8_t frame[100] = {0, 0, 0, 1, 0x67};
    testing::internal::CaptureStdout();
    EXPECT_EQ(custommp4_write_audio_frame(w, frame, 100, 0), 0);  // audio not declared
    EXPECT_EQ(custommp4_write_video_frame(w, frame, 100, 40, 5), 1);
    EXPECT_EQ(custommp4_write_video_frame(w, frame, 100, 39, 1), 0);  // going back in time
    EXPECT_EQ(custommp4_set_audio_format(w, "PCMA", 8000, 16, 1, 100, 30), 0);
    EXPECT_EQ(custommp4_set_start_time(w, 5), 0);
    testing::internal::GetCapturedStdout();
    custommp4_close(w);
    RecordPtr h(custommp4_open(dir.file("w.ifv").c_str(), 0, 0));
    ASSERT_TRUE(h);
    EXPECT_EQ(custommp4_video_frames(h.get()), 1u);
    // A reading handle does not write.
    EXPECT_EQ(custommp4_write_video_frame(h.get(), frame, 100, 80, 5), 0);
}

TEST(RecordFile, ReadersAndSeekersShareAHandleSafely) {
    testsupport::TempDir dir;
    RecordPlan p;
    p.videoFrames = 6500;
    p.audioFrames = 100;
    ASSERT_TRUE(writeRecord(dir.file("c.ifv"), p));
    RecordPtr h(custommp4_open(dir.file("c.ifv").c_str(), 0, 0));
    ASSERT_TRUE(h);
    std::atomic<bool> stop{false};
    std::thread seeker([&] {
        for (uint32_t t = 0; t < 260000 && !stop; t += 7000) {
            custommp4_seek_to_time_stamp(h.get(), t);
        }
    });
    std::vector<uint8_t> buf(4096);
    for (int i = 0; i < 6000; ++i) {
        uint8_t type = 0;
        uint32_t ts = 0;
        int n = custommp4_read_video_frame(h.get(), buf.data(), 4096, &ts, nullptr, &type);
        if (n > 0) {
            // Whatever the interleaving, a frame read is whole and matches its stamp.
            int index = static_cast<int>(ts / 40);
            ASSERT_EQ(n, videoSize(index));
        }
    }
    stop = true;
    seeker.join();
}

TEST(RecordFile, SegmentClaimingMoreFramesThanTheFileHoldsIsDropped) {
    testsupport::TempDir dir;
    RecordPlan p;
    p.videoFrames = 6500;
    ASSERT_TRUE(writeRecord(dir.file("h.ifv"), p));
    auto segs = segmentPositions(dir.file("h.ifv"));
    ASSERT_EQ(segs.size(), 3u);
    uint32_t huge = 0xFFFFFFF0u;
    putBytes(dir.file("h.ifv"), segs[2] + 28, &huge, 4);
    testing::internal::CaptureStdout();
    RecordPtr h(custommp4_open(dir.file("h.ifv").c_str(), 0, 0));
    std::string out = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(h);
    EXPECT_EQ(out, "ReadmdatSegmentObject3 (offset:" + std::to_string(segs[2]) + ") failed 4\n");
    EXPECT_EQ(custommp4_video_frames(h.get()), 6000u);
    // The same claim in the first segment fails the open.
    putBytes(dir.file("h.ifv"), segs[0] + 28, &huge, 4);
    testing::internal::CaptureStdout();
    EXPECT_EQ(custommp4_open(dir.file("h.ifv").c_str(), 0, 0), nullptr);
    testing::internal::GetCapturedStdout();
}
