// The decoder stand-in on B-frame streams as x264 writes them: units whose pictures are held
// back are no failure, pictures leave in display order with the time stamps their units came
// with, the end of the stream hands out what is held, and the decoder's complaints stay off
// the terminal unless asked for.
#include "hi264dec/hi264dec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <span>
#include <vector>

#include "h264/annexb.h"
#include "support/corpus.h"
#include "support/media.h"
#include "support/process.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<Bytes> unitsOf(const std::string& name) {
    std::ifstream in(corpus::path(corpus::entry(name)), std::ios::binary);
    const Bytes stream((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<Bytes> units;
    for (auto u : h264::splitAccessUnits(stream))
        units.emplace_back(u.begin(), u.end());
    return units;
}

struct Decoder {
    Hi264DecHandle handle = nullptr;
    Decoder() {
        Hi264DecAttr attr{};
        attr.picWidthInMbs = 20;
        attr.picHeightInMbs = 15;
        attr.decodeMode = 2;
        handle = Hi264DecCreate(&attr);
    }
    ~Decoder() { Hi264DecDestroy(handle); }
    int32_t feed(const Bytes& unit, uint64_t stamp, Hi264DecFrame* frame) {
        return Hi264DecAU(handle, unit.data(), static_cast<uint32_t>(unit.size()), stamp, frame, 0);
    }
};

}  // namespace

TEST(Hi264Dec, BFramesAreHeldBackThenComeOutInDisplayOrderWithTheirStamps) {
    const std::vector<Bytes> units = unitsOf("x264_bf3_pyramid.h264");
    ASSERT_EQ(units.size(), 50u);
    Decoder dec;
    ASSERT_NE(dec.handle, nullptr);
    std::vector<uint64_t> stamps;  // of the pictures, in the order they came out
    int held = 0;
    Hi264DecFrame frame{};
    for (size_t i = 0; i < units.size(); ++i) {
        const int32_t r = dec.feed(units[i], 1000 + i, &frame);
        ASSERT_NE(r, HI264DEC_ERROR) << "unit " << i;
        if (r == HI264DEC_NO_PICTURE) {
            ++held;
            continue;
        }
        EXPECT_EQ(frame.width, 320u);
        EXPECT_EQ(frame.height, 240u);
        stamps.push_back(Hi264DecPictureTimeStamp(dec.handle));
    }
    EXPECT_GT(held, 0) << "a B-pyramid stream holds pictures back";
    EXPECT_EQ(stamps.size() + static_cast<size_t>(held), units.size());
    // The end of the stream: what is held comes out, then nothing.
    while (Hi264DecFlush(dec.handle, &frame) == HI264DEC_PICTURE)
        stamps.push_back(Hi264DecPictureTimeStamp(dec.handle));
    EXPECT_EQ(Hi264DecFlush(dec.handle, &frame), HI264DEC_NO_PICTURE);
    ASSERT_EQ(stamps.size(), units.size());
    // Each unit's picture once; in display order, which is not the order of decoding.
    std::vector<uint64_t> sorted = stamps;
    std::sort(sorted.begin(), sorted.end());
    for (size_t i = 0; i < sorted.size(); ++i)
        EXPECT_EQ(sorted[i], 1000 + i);
    EXPECT_NE(stamps, sorted);

    // After the end the decoder takes a new stream from its key frame.
    int pictures = 0;
    for (size_t i = 0; i < 10; ++i)
        pictures += dec.feed(units[i], i, &frame) == HI264DEC_PICTURE ? 1 : 0;
    while (Hi264DecFlush(dec.handle, &frame) == HI264DEC_PICTURE)
        ++pictures;
    EXPECT_EQ(pictures, 10);
}

TEST(Hi264Dec, UnitsWithoutAPictureAreNoErrorAndBadSlicesAre) {
    const std::vector<Bytes> units = unitsOf("x264_aud_sei.h264");
    ASSERT_FALSE(units.empty());
    Decoder dec;
    Hi264DecFrame frame{};
    // The parameter sets alone, cut from the first unit before its slice.
    Bytes headers;
    for (auto nal : h264::splitAnnexB(units[0])) {
        if (h264::isVcl(h264::nalType(nal)))
            break;
        headers.insert(headers.end(), {0, 0, 0, 1});
        headers.insert(headers.end(), nal.begin(), nal.end());
    }
    EXPECT_EQ(dec.feed(headers, 0, &frame), HI264DEC_NO_PICTURE);
    EXPECT_EQ(dec.feed(Bytes{1, 2, 3, 4, 5}, 0, &frame), HI264DEC_NO_PICTURE) << "no NAL unit";
    // A slice whose parameter sets the decoder has never seen does not decode.
    Decoder fresh;
    EXPECT_EQ(fresh.feed(units[3], 0, &frame), HI264DEC_ERROR);
    EXPECT_EQ(Hi264DecAU(nullptr, units[0].data(), 10, 0, &frame, 0), HI264DEC_ERROR);
    EXPECT_EQ(Hi264DecFlush(nullptr, &frame), HI264DEC_ERROR);
    EXPECT_EQ(Hi264DecPictureTimeStamp(nullptr), 0u);
}

TEST(Hi264Dec, TheDecodersComplaintsStayOffTheTerminalUnlessAskedFor) {
    const std::vector<Bytes> units = unitsOf("x264_bf2.h264");
    ASSERT_GT(units.size(), 3u);
    Hi264DecFrame frame{};
    unsetenv("ZELPLAY_DECODER_LOG");
    testing::internal::CaptureStderr();
    {
        Decoder quiet;
        quiet.feed(units[3], 0, &frame);  // "non-existing PPS 0 referenced", and more
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    setenv("ZELPLAY_DECODER_LOG", "1", 1);
    testing::internal::CaptureStderr();
    {
        Decoder loud;
        loud.feed(units[3], 0, &frame);
    }
    EXPECT_NE(testing::internal::GetCapturedStderr().find("PPS"), std::string::npos);
    unsetenv("ZELPLAY_DECODER_LOG");
}

TEST(Hi264Dec, AKeptPictureStaysWholeAfterLaterCallsAndTheDecodersEnd) {
    const std::vector<Bytes> units = unitsOf("x264_bf2.h264");
    ASSERT_GT(units.size(), 10u);
    auto dec = std::make_unique<Decoder>();
    Hi264DecFrame frame{};
    size_t i = 0;
    while (i < units.size() && dec->feed(units[i], i, &frame) != HI264DEC_PICTURE)
        ++i;
    ASSERT_LT(i, units.size());
    Hi264DecPicture* kept = Hi264DecKeepPicture(dec->handle);
    ASSERT_NE(kept, nullptr);
    const Hi264DecFrame described = frame;
    const Bytes luma(described.pY, described.pY + described.yStride * described.height);
    for (++i; i < units.size(); ++i)
        dec->feed(units[i], i, &frame);  // the decoder goes on with buffers of its own
    dec.reset();
    // Still the picture it was (the sanitizers would see a read of freed memory).
    EXPECT_TRUE(std::equal(luma.begin(), luma.end(), described.pY));
    Hi264DecReleasePicture(kept);
    Hi264DecReleasePicture(nullptr);
    EXPECT_EQ(Hi264DecKeepPicture(nullptr), nullptr);
}

TEST(Hi264Dec, HighProfileChromaIsHandedOutAsFourTwoZero) {
    // A 4:2:2 stream (x264's High 4:2:2): handed out as 8-bit 4:2:0 of the same size.
    testsupport::TempDir dir;
    const std::string path = dir.file("422.h264");
    ASSERT_EQ(testsupport::runCommand({"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin",
                                       "-y", "-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25",
                                       "-frames:v", "10", "-c:v", "libx264", "-pix_fmt", "yuv422p",
                                       "-bf", "2", "-f", "h264", path},
                                      60000),
              0);
    std::ifstream in(path, std::ios::binary);
    const Bytes stream((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Decoder dec;
    Hi264DecFrame frame{};
    int pictures = 0;
    Hi264DecPicture* kept = nullptr;
    auto check = [&] {
        EXPECT_EQ(frame.width, 320u);
        EXPECT_EQ(frame.height, 240u);
        EXPECT_GE(frame.uvStride, 160u);
        ++pictures;
        if (kept == nullptr)
            kept = Hi264DecKeepPicture(dec.handle);
    };
    for (auto unit : h264::splitAccessUnits(stream)) {
        if (dec.feed(Bytes(unit.begin(), unit.end()), 0, &frame) == HI264DEC_PICTURE)
            check();
    }
    while (Hi264DecFlush(dec.handle, &frame) == HI264DEC_PICTURE)
        check();
    EXPECT_EQ(pictures, 10);
    EXPECT_NE(kept, nullptr);
    Hi264DecReleasePicture(kept);
}
