// Annex-B and length-prefixed H.264 access units, and avcC records.
#include <gtest/gtest.h>

#include "h264_nal.h"
#include "picture_order.h"

using namespace ifvtool;

namespace {

const Bytes kSps = {0x67, 0x64, 0x00, 0x1F, 0xAC, 0xD9};
const Bytes kPps = {0x68, 0xEB, 0xE3, 0xCB};
const Bytes kIdr = {0x65, 0x88, 0x84, 0x00, 0x33, 0x10};
const Bytes kSlice = {0x41, 0x9A, 0x00, 0x00, 0x03, 0x01, 0x7F};  // holds an escaped 00 00 03

Bytes lengthPrefixed(const std::vector<Bytes>& units) {
    Bytes out;
    for (const Bytes& u : units) {
        out.insert(out.end(),
                   {0, 0, static_cast<uint8_t>(u.size() >> 8), static_cast<uint8_t>(u.size())});
        out.insert(out.end(), u.begin(), u.end());
    }
    return out;
}

Bytes annexB(const std::vector<Bytes>& units) {
    Bytes out;
    for (const Bytes& u : units) {
        out.insert(out.end(), {0, 0, 0, 1});
        out.insert(out.end(), u.begin(), u.end());
    }
    return out;
}

}  // namespace

TEST(H264Nal, LengthPrefixedToAnnexBAndBackIsExact) {
    ParameterSets ps;
    ps.sps = {kSps};
    ps.pps = {kPps};
    Bytes key = lengthPrefixed({kIdr});
    auto withPrefix = toAnnexB(key, 4, &ps);
    ASSERT_TRUE(withPrefix);
    EXPECT_EQ(*withPrefix, annexB({kSps, kPps, kIdr}));
    EXPECT_EQ(recordFrameType(*withPrefix, true), 5);
    // Back to the container form: the parameter sets return to the avcC record.
    EXPECT_EQ(toLengthPrefixed(*withPrefix, ps), key);

    Bytes inter = lengthPrefixed({kSlice});
    auto plain = toAnnexB(inter, 4, nullptr);
    ASSERT_TRUE(plain);
    EXPECT_EQ(*plain, annexB({kSlice}));
    EXPECT_EQ(recordFrameType(*plain, false), 1);
    EXPECT_EQ(recordFrameType(*plain, true), 3);
    EXPECT_EQ(toLengthPrefixed(*plain, ps), inter);
}

TEST(H264Nal, DifferentParameterSetsStayInTheFrame) {
    ParameterSets ps;
    ps.sps = {kSps};
    ps.pps = {kPps};
    Bytes otherPps = {0x68, 0xCE, 0x01};
    Bytes au = annexB({kSps, otherPps, kIdr});
    EXPECT_EQ(toLengthPrefixed(au, ps), lengthPrefixed({otherPps, kIdr}));
}

TEST(H264Nal, SplittingHandlesThreeAndFourByteStartCodes) {
    Bytes au = {0, 0, 1, 0x67, 1, 2, 0, 0, 0, 1, 0x68, 3, 0, 0, 1, 0x65, 4};
    auto units = splitAnnexB(au);
    ASSERT_EQ(units.size(), 3u);
    EXPECT_EQ(Bytes(units[0].begin(), units[0].end()), (Bytes{0x67, 1, 2}));
    EXPECT_EQ(Bytes(units[1].begin(), units[1].end()), (Bytes{0x68, 3}));
    EXPECT_EQ(Bytes(units[2].begin(), units[2].end()), (Bytes{0x65, 4}));
    EXPECT_TRUE(splitAnnexB(Bytes{1, 2, 3}).empty());
}

TEST(H264Nal, DamagedLengthsAreRefused) {
    Bytes au = lengthPrefixed({kIdr});
    au[3] = 0x40;  // a length past the end
    EXPECT_FALSE(toAnnexB(au, 4, nullptr));
    EXPECT_FALSE(splitLengthPrefixed(Bytes{0, 0, 1}, 4));
}

TEST(H264Nal, AvcCRecordRoundTrip) {
    ParameterSets ps;
    ps.sps = {kSps};
    ps.pps = {kPps};
    Bytes record = buildAvcC(ps);
    ASSERT_FALSE(record.empty());
    EXPECT_EQ(record[1], kSps[1]);  // profile
    EXPECT_EQ(record[3], kSps[3]);  // level
    auto parsed = parseAvcC(record);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->sps, ps.sps);
    EXPECT_EQ(parsed->pps, ps.pps);
    EXPECT_EQ(parsed->lengthSize, 4);
    record.resize(record.size() - 2);
    EXPECT_FALSE(parseAvcC(record));
    EXPECT_FALSE(parseAvcC(annexB({kSps})));
    EXPECT_EQ(parameterSetsOf(annexB({kSps, kPps, kIdr})).sps, ps.sps);
}

TEST(PictureOrder, PresentationTimesFollowThePictureOrderCount) {
    using ifvtool::StoredFrame;
    // Decoding order I P B B | I P: POCs 0 6 2 4, then a new IDR period.
    std::vector<StoredFrame> frames = {{0, 0, true},    {40, 6, false}, {80, 2, false},
                                       {120, 4, false}, {160, 0, true}, {200, 2, false}};
    auto times = ifvtool::presentationTimes(frames);
    ASSERT_EQ(times.size(), frames.size());
    const int64_t pts[] = {0, 120, 40, 80, 160, 200};
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(times[i].pts, pts[i]) << i;
        // Decoding runs one frame ahead: the B frame at stamp 80 is shown at 40.
        EXPECT_EQ(times[i].dts, frames[i].stamp - 40) << i;
        EXPECT_LE(times[i].dts, times[i].pts) << i;
    }
    // Without B-frames (or without a readable count) presentation is decoding order; stamps
    // that do not rise are raised so that decoding times always do.
    std::vector<StoredFrame> flat = {{0, 0, true}, {0, 0, false}, {0, 0, false}, {80, 0, false}};
    times = ifvtool::presentationTimes(flat);
    const int64_t rising[] = {0, 1, 2, 80};
    for (size_t i = 0; i < flat.size(); ++i) {
        EXPECT_EQ(times[i].pts, rising[i]) << i;
        EXPECT_EQ(times[i].dts, rising[i]) << i;
    }
}
