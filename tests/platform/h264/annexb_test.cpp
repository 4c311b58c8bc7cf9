// H.264 byte streams cut into NAL and access units, and what kind of unit decoding can
// start at, on hand-made streams whose every boundary is known.
#include "h264/annexb.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// NAL units, each behind a 4-byte start code (3-byte when short is set).
struct Nal {
    Bytes bytes;
    bool shortCode = false;
};
Bytes stream(const std::vector<Nal>& nals) {
    Bytes s;
    for (const Nal& n : nals) {
        if (!n.shortCode)
            s.push_back(0);
        s.insert(s.end(), {0, 0, 1});
        s.insert(s.end(), n.bytes.begin(), n.bytes.end());
    }
    return s;
}

// NAL headers (nal_ref_idc 3 where a reference) with a little payload. A slice's second
// byte starts its header: 0x80 is first_mb_in_slice 0 (a new picture), 0x40 is 1.
const Nal kAud{{0x09, 0xF0}};
const Nal kSps{{0x67, 0x42, 0x00, 0x1E}};
const Nal kPps{{0x68, 0xCE, 0x38}};
const Nal kSei{{0x06, 0x05, 0x01, 0x00, 0x80}};
const Nal kIdrFirst{{0x65, 0x88, 0x84, 0x21}};
const Nal kIdrSecond{{0x65, 0x40, 0x84, 0x21}};  // another slice of the same picture
const Nal kPFirst{{0x41, 0x9A, 0x02}};
const Nal kBFirst{{0x01, 0x9E, 0x04}, true};  // 3-byte start code

std::vector<Bytes> units(const Bytes& s) {
    std::vector<Bytes> out;
    for (auto u : h264::splitAccessUnits(s))
        out.emplace_back(u.begin(), u.end());
    return out;
}

}  // namespace

TEST(AnnexB, StartCodesAndNalUnits) {
    const Bytes s = stream({kSps, kPps, kBFirst});
    EXPECT_EQ(h264::findStartCode(s, 0), 1u);  // the 00 00 01 behind the leading zero
    EXPECT_EQ(h264::findStartCode(Bytes{0, 0, 2, 0, 1}, 0), 5u);
    EXPECT_EQ(h264::findStartCode(Bytes{1, 0, 0}, 0), 3u);
    const auto nals = h264::splitAnnexB(s);
    ASSERT_EQ(nals.size(), 3u);
    // The leading zero of the next 4-byte start code is no part of a unit.
    EXPECT_EQ(Bytes(nals[0].begin(), nals[0].end()), kSps.bytes);
    EXPECT_EQ(Bytes(nals[1].begin(), nals[1].end()), kPps.bytes);
    EXPECT_EQ(Bytes(nals[2].begin(), nals[2].end()), kBFirst.bytes);
    EXPECT_TRUE(h264::splitAnnexB(Bytes{1, 2, 3}).empty());
    EXPECT_TRUE(h264::splitAnnexB(Bytes{}).empty());
}

TEST(AnnexB, AccessUnitsEndBeforeDelimitersParameterSetsSeiAndNewPictures) {
    const Bytes s = stream({kAud, kSps, kPps, kSei, kIdrFirst, kIdrSecond, kAud, kSei, kPFirst,
                            kBFirst, kSps, kPps, kIdrFirst});
    const auto u = units(s);
    ASSERT_EQ(u.size(), 4u);
    EXPECT_EQ(u[0], stream({kAud, kSps, kPps, kSei, kIdrFirst, kIdrSecond}))
        << "the two slices of one picture stay together";
    EXPECT_EQ(u[1], stream({kAud, kSei, kPFirst}));
    EXPECT_EQ(u[2], stream({kBFirst}));  // a slice beginning a picture ends the last one
    EXPECT_EQ(u[3], stream({kSps, kPps, kIdrFirst}));
    // Bytes before the first start code, and a unit without a slice at the end (an SEI after
    // a slice begins the next unit), are dropped.
    Bytes noisy = {7, 7};
    const Bytes tail = stream({kPFirst, kSei});
    noisy.insert(noisy.end(), tail.begin(), tail.end());
    const auto v = units(noisy);
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0], stream({kPFirst}));
    EXPECT_TRUE(units(stream({kSps, kPps})).empty());
}

TEST(AnnexB, KeyUnitsAreIdrPicturesOrUnitsWithTheirSps) {
    EXPECT_TRUE(h264::isKeyAccessUnit(stream({kAud, kSei, kIdrFirst})));
    EXPECT_TRUE(h264::isKeyAccessUnit(stream({kSei, kAud, kSps, kPps, kSei, kPFirst})))
        << "an I picture with its SPS (open GOP)";
    EXPECT_FALSE(h264::isKeyAccessUnit(stream({kAud, kSei, kPFirst})));
    EXPECT_FALSE(h264::isKeyAccessUnit(stream({kPFirst, kSps})))
        << "what follows the first slice belongs to its picture";
    EXPECT_FALSE(h264::isKeyAccessUnit(Bytes{0x67, 0x65}));  // no start code, no unit
    EXPECT_TRUE(h264::hasSlice(stream({kAud, kSei, kBFirst})));
    EXPECT_FALSE(h264::hasSlice(stream({kAud, kSps, kPps, kSei})));
}
