// SEI user data extraction and the parameter-set reader.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "sei.h"
#include "sps_reader.h"

using zelplay::extractSei;

namespace {

std::vector<uint8_t> seiPayload(size_t leading, uint8_t type, const std::vector<uint8_t>& sizeBytes,
                                const std::vector<uint8_t>& data, size_t trailing = 8) {
    std::vector<uint8_t> p(leading, 0x11);
    for (uint8_t b : {0x00, 0x00, 0x00, 0x01, 0x06})
        p.push_back(b);
    p.push_back(type);
    p.insert(p.end(), sizeBytes.begin(), sizeBytes.end());
    p.insert(p.end(), data.begin(), data.end());
    p.insert(p.end(), trailing, 0x80);
    return p;
}

}  // namespace

TEST(Sei, ListOfItems) {
    const std::vector<uint8_t> data = {0x78, 2, 0xAA, 0xBB, 1, 3, 'a', 'b', 'c', 2, 0};
    auto records =
        extractSei(seiPayload(0, 0xF0, {static_cast<uint8_t>(data.size())}, data).data(),
                   seiPayload(0, 0xF0, {static_cast<uint8_t>(data.size())}, data).size());
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].type, 1);
    EXPECT_EQ(records[0].length, 3);
    EXPECT_EQ(std::memcmp(records[0].data, "abc", 3), 0);
    EXPECT_EQ(records[0].data[3], 0);
    EXPECT_EQ(records[1].type, 2);
    EXPECT_EQ(records[1].length, 0);
}

TEST(Sei, TextUpToItsZero) {
    const std::vector<uint8_t> data = {'h', 'e', 'l', 'l', 'o', 0, 'x', 'y'};
    auto p = seiPayload(3, 0xF0, {static_cast<uint8_t>(data.size())}, data);
    auto records = extractSei(p.data(), p.size());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].type, 0xFF);
    EXPECT_EQ(records[0].length, 5);
    EXPECT_EQ(std::memcmp(records[0].data, "hello", 5), 0);
}

TEST(Sei, WhatIsNotFoundOrNotCarried) {
    const std::vector<uint8_t> text = {'a', 'b', 0};
    // The start code must lie in the first 100 bytes.
    auto late = seiPayload(101, 0xF0, {3}, text);
    EXPECT_TRUE(extractSei(late.data(), late.size()).empty());
    auto early = seiPayload(95, 0xF0, {3}, text);
    EXPECT_EQ(extractSei(early.data(), early.size()).size(), 1u);
    // Other payload types, an empty list, short payloads.
    auto other = seiPayload(0, 0xE5, {3}, text);
    EXPECT_TRUE(extractSei(other.data(), other.size()).empty());
    auto none = seiPayload(0, 0xF0, {4}, {0x78, 0, 0, 0});
    EXPECT_TRUE(extractSei(none.data(), none.size()).empty());
    EXPECT_TRUE(extractSei(early.data(), 11).empty());
    // A size of four 255 bytes is too large.
    auto huge = seiPayload(0, 0xF0, {255, 255, 255, 255, 1}, std::vector<uint8_t>(40, 'z'));
    testing::internal::CaptureStdout();
    EXPECT_TRUE(extractSei(huge.data(), huge.size()).empty());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "data len is too large!\n");
}

TEST(Sei, DeclaredSizesBeyondThePayloadStayInside) {
    // Items and sizes that claim more than there is are cut at the end of the payload.
    auto p = seiPayload(0, 0xF0, {255, 40}, {0x78, 3, 0, 0, 1, 200, 'q'}, 0);
    auto records = extractSei(p.data(), p.size());
    EXPECT_TRUE(records.empty());
    auto longText = seiPayload(0, 0xF0, {255, 255, 100}, std::vector<uint8_t>(700, 'k'), 0);
    auto r2 = extractSei(longText.data(), longText.size());
    ASSERT_EQ(r2.size(), 1u);
    EXPECT_EQ(r2[0].length, 255);
}

namespace {

// Writes SPS fields bit by bit (exp-Golomb), for the reader's tests.
struct BitWriter {
    std::vector<uint8_t> bytes;
    int bit = 0;
    void put(uint32_t v, int n) {
        for (int i = n - 1; i >= 0; --i) {
            if (bit == 0)
                bytes.push_back(0);
            bytes.back() |= static_cast<uint8_t>(((v >> i) & 1) << (7 - bit));
            bit = (bit + 1) % 8;
        }
    }
    void ue(uint32_t v) {
        const uint64_t x = uint64_t{v} + 1;
        int len = 0;
        while ((x >> len) > 1)
            ++len;
        put(0, len);
        put(static_cast<uint32_t>(x), len + 1);
    }
    void se(int32_t v) {
        ue(v > 0 ? static_cast<uint32_t>(2 * v - 1) : static_cast<uint32_t>(-2 * v));
    }
};

std::vector<uint8_t> sps(uint32_t profile, uint32_t widthMbs, uint32_t heightUnits,
                         bool scaling = false, uint32_t pocType = 0) {
    BitWriter w;
    w.put(profile, 8);
    w.put(0, 8);
    w.put(40, 8);
    w.ue(0);
    if (profile == 100) {
        w.ue(1);  // 4:2:0
        w.ue(0);
        w.ue(0);
        w.put(0, 1);
        w.put(scaling ? 1 : 0, 1);
        if (scaling) {
            for (int i = 0; i < 8; ++i) {
                w.put(1, 1);
                const int n = i < 6 ? 16 : 64;
                for (int j = 0; j < n; ++j)
                    w.se(j == 0 ? 8 : 1);  // a changing list, never 0
            }
        }
    }
    w.ue(0);  // log2_max_frame_num_minus4
    w.ue(pocType);
    if (pocType == 0)
        w.ue(2);
    if (pocType == 1) {
        w.put(0, 1);
        w.se(-3);
        w.se(2);
        w.ue(2);
        w.se(1);
        w.se(-1);
    }
    w.ue(4);  // max_num_ref_frames
    w.put(0, 1);
    w.ue(widthMbs - 1);
    w.ue(heightUnits - 1);
    w.put(1, 1);  // frame_mbs_only
    w.put(1, 1);  // stop bit
    return w.bytes;
}

std::vector<uint8_t> accessUnit(const std::vector<uint8_t>& spsBody) {
    std::vector<uint8_t> au = {0, 0, 0, 1, 0x67};
    au.insert(au.end(), spsBody.begin(), spsBody.end());
    for (uint8_t b : {0, 0, 0, 1, 0x68, 0xCE, 0x38, 0x80})
        au.push_back(b);
    return au;
}

}  // namespace

TEST(SpsReader, SizesOfBaselineAndHighProfiles) {
    auto size = zelplay::parseSpsPictureSize(sps(66, 22, 18).data(), sps(66, 22, 18).size());
    ASSERT_TRUE(size);
    EXPECT_EQ(size->width, 352);
    EXPECT_EQ(size->height, 288);
    auto high = sps(100, 120, 68, true, 1);
    auto s2 = zelplay::parseSpsPictureSize(high.data(), high.size());
    ASSERT_TRUE(s2);
    EXPECT_EQ(s2->width, 1920);
    EXPECT_EQ(s2->height, 1088);
    auto s67 = sps(100, 120, 67);
    EXPECT_EQ(zelplay::parseSpsPictureSize(s67.data(), s67.size())->height, 1080);
}

TEST(SpsReader, AccessUnitRulesAndMalformedSets) {
    auto au = accessUnit(sps(77, 40, 30));
    auto s = zelplay::readAccessUnitPictureSize(au.data(), au.size());
    ASSERT_TRUE(s);
    EXPECT_EQ(s->width, 640);
    EXPECT_EQ(s->height, 480);
    // Three-byte start code at the front, no SPS first, no second start code: not read.
    std::vector<uint8_t> three(au.begin() + 1, au.end());
    EXPECT_FALSE(zelplay::readAccessUnitPictureSize(three.data(), three.size()));
    auto pps = au;
    pps[4] = 0x68;
    EXPECT_FALSE(zelplay::readAccessUnitPictureSize(pps.data(), pps.size()));
    std::vector<uint8_t> lone(au.begin(), au.end() - 8);
    EXPECT_FALSE(zelplay::readAccessUnitPictureSize(lone.data(), lone.size()));
    // A set cut short, or an exp-Golomb code of more than 31 leading zeros, gives nothing.
    auto cut = sps(66, 22, 18);
    EXPECT_FALSE(zelplay::parseSpsPictureSize(cut.data(), 3));
    std::vector<uint8_t> zeros(32, 0);
    EXPECT_FALSE(zelplay::parseSpsPictureSize(zeros.data(), zeros.size()));
    // A high-profile set whose scaling list deltas lie outside -128..127 (found by fuzzing:
    // the running sum overflowed).
    const std::vector<uint8_t> wild = {0x53, 0x31, 0x53, 0xff, 0xff, 0xff, 0xff, 0xff,
                                       0xff, 0xff, 0xff, 0xff, 0xff, 0x00, 0xff, 0xff,
                                       0x00, 0x00, 0x00, 0x01, 0xff, 0xff, 0xff};
    EXPECT_FALSE(zelplay::parseSpsPictureSize(wild.data(), wild.size()));
}

TEST(SpsReader, StartCodeSearchGivesUpFarAway) {
    std::vector<uint8_t> data(200, 0x40);
    data[150] = 0;
    data[151] = 0;
    data[152] = 1;
    EXPECT_FALSE(zelplay::findStartCode(data.data(), data.size(), 0));
    EXPECT_EQ(*zelplay::findStartCode(data.data(), data.size(), 100), 150u);
    std::vector<uint8_t> zeros(200, 0);
    zeros[199] = 1;
    EXPECT_EQ(*zelplay::findStartCode(zeros.data(), zeros.size(), 0), 197u);
}
