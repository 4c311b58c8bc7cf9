// The record file's bytes, pinned independently of the writer: a record put together byte by
// byte from the layout must read back as the frames it holds, and the writer's output for a
// fixed input must equal a byte string written out here.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "format_handles.h"
#include "support/media.h"

using zelplay::formats::RecordPtr;

namespace {

using Bytes = std::vector<uint8_t>;

// Little-endian pieces of a record.
class Builder {
  public:
    Builder& raw(std::initializer_list<uint8_t> b) {
        bytes.insert(bytes.end(), b);
        return *this;
    }
    Builder& text(const char* s, size_t width) {
        size_t n = strlen(s);
        bytes.insert(bytes.end(), s, s + n);
        bytes.insert(bytes.end(), width - n, 0);
        return *this;
    }
    Builder& u8(uint8_t v) { return raw({v}); }
    Builder& u16(uint16_t v) {
        return raw({static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)});
    }
    Builder& u32(uint32_t v) {
        return raw({static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                    static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)});
    }
    Builder& zeros(size_t n) {
        bytes.insert(bytes.end(), n, 0);
        return *this;
    }
    Bytes bytes;
};

const std::initializer_list<uint8_t> kFileId = {0x11, 0xD2, 0xD3, 0xAB, 0xBA, 0xA9, 0xCF, 0x11,
                                                0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
const std::initializer_list<uint8_t> kVideoId = {0x41, 0x52, 0xD1, 0x86, 0x1D, 0x31, 0xD0, 0x11,
                                                 0xA3, 0xA4, 0x00, 0xA0, 0xC9, 0x03, 0x48, 0xF6};
const std::initializer_list<uint8_t> kAudioId = {0xE3, 0xCB, 0x1A, 0x4B, 0x0B, 0x10, 0xD0, 0x11,
                                                 0xA3, 0x9B, 0x00, 0xA0, 0xC9, 0x03, 0x48, 0xF6};
const std::initializer_list<uint8_t> kListId = {0x20, 0xDB, 0xFE, 0x4C, 0xF6, 0x75, 0xCF, 0x11,
                                                0x9C, 0x0F, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB};
const std::initializer_list<uint8_t> kSegmentId = {0x74, 0xD4, 0x06, 0x18, 0xDF, 0xCA, 0x09, 0x45,
                                                   0xA4, 0xBA, 0x9A, 0xAB, 0xCB, 0x96, 0xAA, 0xE8};

void writeFile(const std::string& path, const Bytes& b) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

Bytes fromHex(const char* hex) {
    Bytes out;
    int nibbles = 0;
    uint8_t value = 0;
    for (const char* p = hex; *p != '\0'; ++p) {
        int d = *p >= '0' && *p <= '9' ? *p - '0' : *p >= 'A' && *p <= 'F' ? *p - 'A' + 10 : -1;
        if (d < 0) {
            continue;  // spaces and line breaks
        }
        value = static_cast<uint8_t>(value << 4 | d);
        if (++nibbles % 2 == 0) {
            out.push_back(value);
        }
    }
    return out;
}

}  // namespace

TEST(RecordLayout, HandBuiltRecordReadsItsFrames) {
    // 32 bytes of something else in front: the record starts at base offset 32, and every
    // position it stores counts from there.
    constexpr uint32_t kBase = 32;
    const Bytes video[3] = {{0, 0, 0, 1, 0x67}, {0, 0, 1}, {0xA1, 0xA2, 0xA3, 0xA4}};
    const uint32_t videoStamps[3] = {0, 40, 80};
    const uint8_t videoTypes[3] = {5, 1, 3};
    const Bytes audio[2] = {{0xD5, 0xD5, 0x55, 0x55}, {1, 2, 3, 4}};
    const uint32_t audioStamps[2] = {0, 40};
    // Segment at 200: header, video index space for 4 entries, audio index space for 3, data.
    constexpr uint32_t kVideoCapacity = 4, kAudioCapacity = 3;
    constexpr uint32_t kDataStart = 200 + 48 + kVideoCapacity * 28 + kAudioCapacity * 24;  // 432
    constexpr uint32_t kSegmentSize = kDataStart - 200 + 5 + 3 + 4 + 4 + 4;

    Builder b;
    b.zeros(kBase);
    b.raw(kFileId).u32(68).text("This is DVR record file ver 2", 32);
    b.u32(1700000000).u32(1700000001).u32(200 + kSegmentSize).u8(1).u8(1).u16(0);
    b.raw(kVideoId).u32(56).u32(1000).u16(320).u16(240).u32(0x41C80000).u32(0x80000);
    b.text("H264", 4).u32(72).u32(72).u16(24).u16(0).u32(0);
    b.raw(kAudioId).u32(48).u32(1000).u16(1).u16(16).u32(8000).text("PCMA", 4);
    b.u32(4).u32(40).u32(0);
    b.raw(kListId).u32(28).u32(1).u32(0);
    ASSERT_EQ(b.bytes.size(), kBase + 200);
    b.raw(kSegmentId).u32(kSegmentSize).u32(0).u32(80).u32(3).u32(2);
    b.u32(kVideoCapacity).u32(kAudioCapacity).u32(0);
    // Data: video 0, audio 0, video 1, audio 1, video 2.
    uint32_t videoPos[3], audioPos[2];
    uint32_t at = kDataStart;
    videoPos[0] = at, at += 5;
    audioPos[0] = at, at += 4;
    videoPos[1] = at, at += 3;
    audioPos[1] = at, at += 4;
    videoPos[2] = at;
    for (int i = 0; i < 3; ++i) {
        b.u32(videoPos[i]).u32(static_cast<uint32_t>(video[i].size())).zeros(8);
        b.u32(videoStamps[i]).u8(videoTypes[i]).zeros(7);
    }
    b.zeros(28);  // the fourth video entry, reserved
    for (int i = 0; i < 2; ++i) {
        b.u32(audioPos[i]).zeros(12).u32(audioStamps[i]).zeros(4);
    }
    b.zeros(24);
    ASSERT_EQ(b.bytes.size(), kBase + kDataStart);
    for (const Bytes* d : {&video[0], &audio[0], &video[1], &audio[1], &video[2]}) {
        b.bytes.insert(b.bytes.end(), d->begin(), d->end());
    }
    ASSERT_EQ(b.bytes.size(), kBase + 200 + kSegmentSize);

    testsupport::TempDir dir;
    std::string path = dir.file("hand.ifv");
    writeFile(path, b.bytes);
    RecordPtr h(custommp4_open(path.c_str(), CUSTOMMP4_MODE_READ, kBase));
    ASSERT_TRUE(h);
    EXPECT_EQ(custommp4_start_time(h.get()), 1700000000u);
    EXPECT_EQ(custommp4_duration(h.get()), 80u);
    EXPECT_EQ(custommp4_video_width(h.get()), 320);
    EXPECT_EQ(custommp4_video_height(h.get()), 240);
    EXPECT_FLOAT_EQ(custommp4_video_frame_rate(h.get()), 25.0f);
    EXPECT_EQ(custommp4_audio_frame_size(h.get()), 4);
    EXPECT_EQ(custommp4_audio_bits_per_sample(h.get()), 16);
    ASSERT_EQ(custommp4_video_frames(h.get()), 3u);
    ASSERT_EQ(custommp4_audio_frames(h.get()), 2u);
    uint8_t buf[64];
    for (int i = 0; i < 3; ++i) {
        uint32_t ts = 99;
        int32_t dur = -1;
        uint8_t type = 0;
        ASSERT_EQ(custommp4_read_video_frame(h.get(), buf, sizeof buf, &ts, &dur, &type),
                  static_cast<int>(video[i].size()))
            << i;
        EXPECT_EQ(Bytes(buf, buf + video[i].size()), video[i]) << i;
        EXPECT_EQ(ts, videoStamps[i]);
        EXPECT_EQ(dur, 40);  // the last frame of the record: 40 as well
        EXPECT_EQ(type, videoTypes[i]);
    }
    for (int i = 0; i < 2; ++i) {
        uint32_t ts = 99;
        int32_t dur = -1;
        ASSERT_EQ(custommp4_read_audio_frame(h.get(), buf, sizeof buf, &ts, &dur), 4) << i;
        EXPECT_EQ(Bytes(buf, buf + 4), audio[i]) << i;
        EXPECT_EQ(ts, audioStamps[i]);
        EXPECT_EQ(dur, i == 0 ? 40 : 30);
    }
    // A seek to 80 ms lands on the key frame at 0 (within 1.6 s before it), with the audio
    // frames up to that stamp passed over.
    ASSERT_EQ(custommp4_seek_to_time_stamp(h.get(), 80), 1);
    EXPECT_EQ(custommp4_video_position(h.get()), 0u);
    EXPECT_EQ(custommp4_audio_position(h.get()), 1u);
    EXPECT_EQ(custommp4_seek_to_time_stamp(h.get(), 81), 0);  // after the segment's last stamp
}

TEST(RecordLayout, WriterOutputIsByteExact) {
    testsupport::TempDir dir;
    std::string path = dir.file("written.ifv");
    custommp4_t* w = custommp4_open(path.c_str(), CUSTOMMP4_MODE_CREATE, 0);
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(custommp4_set_start_time(w, 1700000000), 1);
    ASSERT_EQ(custommp4_set_index_capacity(w, 2, 2), 1);
    ASSERT_EQ(custommp4_set_video_format(w, 176, 144, 25.0f, 65536, "H264"), 1);
    ASSERT_EQ(custommp4_set_audio_format(w, "PCMA", 8000, 16, 1, 4, 40), 1);
    const uint8_t key[] = {0x00, 0x00, 0x00, 0x01, 0x65};
    const uint8_t voice[] = {0x01, 0x02, 0x03, 0x04};
    const uint8_t slice[] = {0x00, 0x00, 0x01, 0x41};
    ASSERT_EQ(custommp4_write_video_frame(w, key, sizeof key, 0, 5), 1);
    ASSERT_EQ(custommp4_write_audio_frame(w, voice, sizeof voice, 0), 1);
    ASSERT_EQ(custommp4_write_video_frame(w, slice, sizeof slice, 40, 1), 1);
    int error = -1;
    ASSERT_EQ(custommp4_close_checked(w, &error), 1);
    EXPECT_EQ(error, 0);

    const Bytes want = fromHex(
        // FilePropertiesObject: id, size 68, label, start = end = 1700000000, length 365,
        // video and audio present, reserved.
        "11D2D3ABBAA9CF118EE600C00C205365 44000000"
        "546869732069732044565220726563 6F72642066696C652076657220320000 00"
        "00F15365 00F15365 6D010000 01 01 0000"
        // VideoStreamPropertiesObject: id, 56, 1000 units/s, 176x144, 25.0, 65536 bit/s,
        // "H264", 72 x 72, 24 bits, reserved.
        "4152D1861D31D011A3A400A0C90348F6 38000000 E8030000 B000 9000 0000C841 00000100"
        "48323634 48000000 48000000 1800 0000 00000000"
        // AudioStreamPropertiesObject: id, 48, 1000 units/s, 1 channel, 16 bits, 8000 Hz,
        // "PCMA", frames of 4 bytes and 40 ms, reserved.
        "E3CB1A4B0B10D011A39B00A0C90348F6 30000000 E8030000 0100 1000 401F0000 50434D41"
        "04000000 28000000 00000000"
        // mdatListObject: id, 28, one segment, reserved.
        "20DBFE4CF675CF119C0F00A0C90349CB 1C000000 01000000 00000000"
        // mdatSegmentObject at 200: id, size 165, stamps 0 to 40, 2 video and 1 audio frames,
        // index capacities 2 and 2, reserved.
        "74D40618DFCA0945A4BA9AABCB96AAE8 A5000000 00000000 28000000 02000000 01000000"
        "02000000 02000000 00000000"
        // Video index at 248: frame at 352, 5 bytes, 0 ms, type 5; frame at 361, 4 bytes,
        // 40 ms, type 1.
        "60010000 05000000 0000000000000000 00000000 05 00000000000000"
        "69010000 04000000 0000000000000000 28000000 01 00000000000000"
        // Audio index at 304: frame at 357, 0 ms; a reserved entry.
        "65010000 000000000000000000000000 00000000 00000000"
        "000000000000000000000000000000000000000000000000"
        // Frame data at 352: video 0, audio 0, video 1.
        "0000000165 01020304 00000141");
    ASSERT_EQ(want.size(), 365u);
    EXPECT_EQ(readFile(path), want);
}
