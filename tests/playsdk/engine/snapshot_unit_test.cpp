// The pieces of a snapshot on their own: colour conversion, range expansion, the BMP
// headers, the folder rule, the caption strip and the JPEG writer.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "bmp_writer.h"
#include "caption.h"
#include "jpeg_read.h"
#include "jpeg_writer.h"
#include "snapshot.h"
#include "snapshot_path.h"
#include "support/media.h"
#include "yuv_convert.h"

using namespace zelplay;

namespace {

// The BT.601 conversion with real numbers (the integer form keeps three decimals).
Bgr bt601Reference(int y, int u, int v) {
    auto c = [](double x) { return static_cast<uint8_t>(std::clamp(std::round(x), 0.0, 255.0)); };
    const double l = 1.164 * (y - 16);
    return {c(l + 2.018 * (u - 128)), c(l - 0.813 * (v - 128) - 0.391 * (u - 128)),
            c(l + 1.596 * (v - 128))};
}

}  // namespace

TEST(SnapshotConversion, Bt601AgreesWithTheRealFormula) {
    for (int y = 0; y < 256; y += 5) {
        for (int u = 0; u < 256; u += 15) {
            for (int v = 0; v < 256; v += 15) {
                const Bgr got = bt601ToBgr(y, u, v), want = bt601Reference(y, u, v);
                // Truncation instead of rounding: one step at most.
                ASSERT_LE(std::abs(got.r - want.r), 1) << y << " " << u << " " << v;
                ASSERT_LE(std::abs(got.g - want.g), 1) << y << " " << u << " " << v;
                ASSERT_LE(std::abs(got.b - want.b), 1) << y << " " << u << " " << v;
            }
        }
    }
    EXPECT_EQ(bt601ToBgr(16, 128, 128), (Bgr{0, 0, 0}));
    EXPECT_EQ(bt601ToBgr(235, 128, 128), (Bgr{254, 254, 254}));  // 254.916, truncated
    EXPECT_EQ(bt601ToBgr(255, 128, 128), (Bgr{255, 255, 255}));
    // 75 % red of a colour bar: R = (1164 * 81 + 1596 * 240 - 222912) / 1000.
    EXPECT_EQ(bt601ToBgr(81, 90, 240), (Bgr{0, 0, 254}));
}

TEST(SnapshotConversion, RowsGoBottomUpWithChromaSharedByTwoByTwo) {
    // 4 x 2: black, white and red, chroma pairs (U, V) per 2 x 2 block.
    const std::vector<uint8_t> planes = {16,  255, 81, 81, 16, 255, 81, 81,  // Y
                                         128, 240,                           // V
                                         128, 90};                           // U
    const PlanarView p = planarView(planes.data(), 4, 2);
    std::vector<uint8_t> out(2 * 16, 0xEE);
    convertToBgrBottomUp(p, out.data(), 16);
    for (int row = 0; row < 2; ++row) {
        const uint8_t* r = out.data() + (1 - row) * 16;  // picture row 0 is the last
        EXPECT_EQ(r[0], 0);
        EXPECT_EQ(r[3], 255);
        EXPECT_EQ(r[6 + 2], 254);  // red
        EXPECT_EQ(r[9 + 2], 254);
        EXPECT_EQ(r[12], 0xEE);  // padding untouched
    }
}

TEST(SnapshotConversion, FullRangeExpansion) {
    EXPECT_EQ(fullRangeLuma(16), 0);
    EXPECT_EQ(fullRangeLuma(0), 0);
    EXPECT_EQ(fullRangeLuma(235), 255);
    EXPECT_EQ(fullRangeLuma(255), 255);
    EXPECT_EQ(fullRangeLuma(126), 128);  // 110 * 255 / 219 = 128.08
    EXPECT_EQ(fullRangeChroma(128), 128);
    EXPECT_EQ(fullRangeChroma(16), 0);
    EXPECT_EQ(fullRangeChroma(240), 255);
    for (int i = 1; i < 256; ++i) {
        ASSERT_GE(fullRangeLuma(static_cast<uint8_t>(i)),
                  fullRangeLuma(static_cast<uint8_t>(i - 1)));
        ASSERT_GE(fullRangeChroma(static_cast<uint8_t>(i)),
                  fullRangeChroma(static_cast<uint8_t>(i - 1)));
    }
}

TEST(SnapshotBmp, HeadersOf352By288) {
    const auto h = bmpHeaders(352, 288);
    const std::vector<uint8_t> want = {
        'B',  'M',  0x36, 0xA4, 0x04, 0x00, 0, 0, 0,    0,    54, 0, 0, 0,  // 304 182 bytes, pixels
                                                                            // at 54
        40,   0,    0,    0,    0x60, 0x01, 0, 0, 0x20, 0x01, 0,  0,        // 352 x 288
        1,    0,    24,   0,    0,    0,    0, 0,  // 1 plane, 24 bits, BI_RGB
        0x00, 0xA4, 0x04, 0x00,                    // 304 128 bytes of pixels
        0,    0,    0,    0,    0,    0,    0, 0, 0,    0,    0,  0, 0, 0, 0, 0};
    EXPECT_EQ(std::vector<uint8_t>(h.begin(), h.end()), want);
    EXPECT_EQ(bmpRowBytes(352), 1056u);
    EXPECT_EQ(bmpRowBytes(6), 20u);  // rows stay whole 32-bit words
    std::vector<uint8_t> planes(352 * 288 * 3 / 2, 128);
    EXPECT_EQ(encodeBmp(planarView(planes.data(), 352, 288)).size(), 304182u);
}

TEST(SnapshotPath, FolderAndFile) {
    EXPECT_EQ(snapshotTarget("/data/pics/a.bmp", "/home/u/SnapShotFile"),
              (SnapshotTarget{"/data/pics", "/data/pics/a.bmp"}));
    EXPECT_EQ(snapshotTarget("pics/a.bmp", "/h/SnapShotFile"),
              (SnapshotTarget{"pics", "pics/a.bmp"}));
    EXPECT_EQ(snapshotTarget("a.bmp", "/h/SnapShotFile"),
              (SnapshotTarget{"/h/SnapShotFile", "/h/SnapShotFile/a.bmp"}));
    // A separator only in first place does not count.
    EXPECT_EQ(snapshotTarget("/a.bmp", "/h/SnapShotFile"),
              (SnapshotTarget{"/h/SnapShotFile", "/h/SnapShotFile/a.bmp"}));
    EXPECT_EQ(folderPrefixes("/a/b"), (std::vector<std::string>{"/", "/a/", "/a/b/"}));
    EXPECT_EQ(folderPrefixes("a//b/"), (std::vector<std::string>{"a/", "a/b/"}));
    EXPECT_EQ(folderPrefixes("rel"), (std::vector<std::string>{"rel/"}));
    EXPECT_TRUE(folderPrefixes("").empty());
}

TEST(SnapshotPath, DefaultFolderIsUnderHome) {
    const char* old = std::getenv("HOME");
    const std::string saved = old ? old : "";
    setenv("HOME", "/some/home/", 1);
    EXPECT_EQ(defaultSnapshotFolder(), "/some/home/SnapShotFile");
    unsetenv("HOME");
    EXPECT_FALSE(defaultSnapshotFolder().empty());  // from the user database
    if (old)
        setenv("HOME", saved.c_str(), 1);
}

TEST(SnapshotPath, MakesMissingFoldersAndReportsWhatCannotBeMade) {
    testsupport::TempDir dir;
    const std::string nested = dir.file("x/y/z");
    EXPECT_TRUE(ensureFolder(nested));
    struct stat st {};
    ASSERT_EQ(stat(nested.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_TRUE(ensureFolder(nested));  // already there
    std::ofstream(dir.file("plain")) << "a file";
    EXPECT_FALSE(ensureFolder(dir.file("plain/sub")));  // even root cannot make this
    EXPECT_TRUE(ensureFolder(dir.file("plain")));       // exists; the write fails on it
    EXPECT_FALSE(ensureFolder(""));
}

TEST(SnapshotCaption, StripHeightFollowsTheText) {
    const auto one = captionTextHeight("cam 01", 352);
    ASSERT_TRUE(one.has_value());
    EXPECT_GE(*one, 12);
    EXPECT_LE(*one, 24);
    const std::string longText(200, 'w');  // one word longer than a line breaks inside
    const auto many = captionTextHeight("first words of a tag " + longText, 352);
    ASSERT_TRUE(many.has_value());
    EXPECT_GE(*many, 2 * *one);

    const auto strip = renderCaption("cam 01 2024-01-01 12:00:00", 352, 96);
    ASSERT_TRUE(strip.has_value());
    EXPECT_EQ(strip->width, 352);
    EXPECT_EQ(strip->height % 2, 0);
    EXPECT_GE(strip->height, *one);
    ASSERT_EQ(strip->luma.size(), static_cast<size_t>(352 * strip->height));
    const auto white = std::count(strip->luma.begin(), strip->luma.end(), 255);
    EXPECT_GT(white, 50);
    EXPECT_EQ(white + std::count(strip->luma.begin(), strip->luma.end(), 0),
              static_cast<long>(strip->luma.size()));
    // Cut to the room there is.
    const auto cut = renderCaption(longText + longText, 64, 20);
    ASSERT_TRUE(cut.has_value());
    EXPECT_EQ(cut->height, 20);
}

TEST(SnapshotCompose, StripGoesUnderThePictureWithNeutralChroma) {
    std::vector<uint8_t> planes(176 * 144 * 3 / 2);
    for (size_t i = 0; i < planes.size(); ++i)
        planes[i] = static_cast<uint8_t>(i * 7);
    const PlanarView p = planarView(planes.data(), 176, 144);
    const auto tagged = composeTagged(p, "two lines\nof text");
    ASSERT_TRUE(tagged.has_value());
    const int strip = tagged->height - 144;
    EXPECT_GT(strip, 16);
    EXPECT_LE(strip, 144 / 3);
    const PlanarView t = tagged->view();
    EXPECT_TRUE(std::equal(p.y, p.y + p.lumaBytes(), t.y));
    EXPECT_TRUE(std::equal(p.v, p.v + p.lumaBytes() / 4, t.v));
    EXPECT_TRUE(std::equal(p.u, p.u + p.lumaBytes() / 4, t.u));
    const size_t stripQuarter = static_cast<size_t>(176 * strip / 4);
    EXPECT_TRUE(std::all_of(t.v + p.lumaBytes() / 4, t.v + p.lumaBytes() / 4 + stripQuarter,
                            [](uint8_t c) { return c == 128; }));
    EXPECT_TRUE(std::all_of(t.u + p.lumaBytes() / 4, t.u + p.lumaBytes() / 4 + stripQuarter,
                            [](uint8_t c) { return c == 128; }));
    EXPECT_LE(tagged->planes.size(), planes.size() / 3 * 4);  // within width x height x 2
}

TEST(SnapshotJpeg, HeightsThatAreNoMultipleOf16AndOddChromaWidths) {
    testsupport::TempDir dir;
    // 200 x 150: 150 rows end in a part band, 100 chroma samples in a part block.
    const int w = 200, h = 150;
    std::vector<uint8_t> planes(w * h * 3 / 2);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            planes[y * w + x] = static_cast<uint8_t>(16 + (x + y) % 200);
    std::fill(planes.begin() + w * h, planes.end(), 128);
    const std::string file = dir.file("odd.jpg");
    ASSERT_TRUE(writeJpeg(file, 95, planarView(planes.data(), w, h)));
    const auto decoded = enginetest::readJpegRaw(file);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->width, w);
    EXPECT_EQ(decoded->height, h);
    std::vector<uint8_t> full(planes.size());
    expandLumaRow(planes.data(), full.data(), static_cast<size_t>(w * h));
    expandChromaRow(planes.data() + w * h, full.data() + w * h, static_cast<size_t>(w * h / 2));
    EXPECT_GT(enginetest::psnr(decoded->planes, full), 38.0);
    EXPECT_FALSE(writeJpeg(dir.file("missing/odd.jpg"), 95, planarView(planes.data(), w, h)));
}
