// Snapshots of real decoded pictures through the exported calls: the files' bytes, their
// pixels against the picture the decode callback received, caption strips and every
// failure code.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "h264_stream.h"
#include "jpeg_read.h"
#include "support/media.h"
#include "zelplay.h"

namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

// The newest picture the decode callback saw.
struct LastPicture {
    ZELPLAY_FRAME_INFO info{};
    std::vector<uint8_t> planes;
    static void callback(ZELPLAY_PORT, const uint8_t* data, int32_t size,
                         const ZELPLAY_FRAME_INFO* info, ZELPLAY_USER user) {
        auto* self = reinterpret_cast<LastPicture*>(user);
        self->info = *info;
        self->planes.assign(data, data + size);
    }
};

// A real-time port that has shown a few pictures of a width x height stream.
struct PlayingPort {
    ZELPLAY_PORT port = 0;
    LastPicture last;
    PlayingPort(const testsupport::TempDir& dir, int width, int height, int frames = 3) {
        const auto units = enginetest::makeH264(dir.path().string(), width, height, frames, 2);
        EXPECT_EQ(units.size(), static_cast<size_t>(frames));
        EXPECT_EQ(ZelPlay_GetPort(&port), 1);
        EXPECT_EQ(ZelPlay_OpenStream(port, 0), 1);
        EXPECT_EQ(ZelPlay_SetDecCallBack(port, LastPicture::callback,
                                         reinterpret_cast<ZELPLAY_USER>(&last)),
                  1);
        EXPECT_EQ(ZelPlay_Play(port, 0), 1);
        for (uint32_t i = 0; i < units.size(); ++i) {
            const auto rec = enginetest::recordForUnit(units[i], i);
            EXPECT_EQ(ZelPlay_InputVideoData(port, rec.data(), static_cast<uint32_t>(rec.size())),
                      1);
        }
    }
    ~PlayingPort() { EXPECT_EQ(ZelPlay_FreePort(port), 1); }
};

// BT.601 with real numbers (the library keeps three decimals in its integer form).
std::array<double, 3> bt601Bgr(int y, int u, int v) {
    const double l = 1.164 * (y - 16);
    auto c = [](double x) { return std::clamp(x, 0.0, 255.0); };
    return {c(l + 2.018 * (u - 128)), c(l - 0.813 * (v - 128) - 0.391 * (u - 128)),
            c(l + 1.596 * (v - 128))};
}

// Checks a 24-bit BMP against the picture: headers, then every pixel within one step of
// the conversion (rows bottom-up). Returns the number of rows in the file.
int checkBmp(const std::vector<uint8_t>& file, const std::vector<uint8_t>& planes, int w, int h) {
    EXPECT_GE(file.size(), 54u);
    if (file.size() < 54)
        return 0;
    const int fileHeight = static_cast<int>(le32(file, 22));
    const size_t row = static_cast<size_t>(w) * 3;  // the test widths are multiples of 4
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(le32(file, 2), file.size());
    EXPECT_EQ(le32(file, 6), 0u);
    EXPECT_EQ(le32(file, 10), 54u);
    EXPECT_EQ(le32(file, 14), 40u);
    EXPECT_EQ(static_cast<int>(le32(file, 18)), w);
    EXPECT_EQ(le32(file, 26), 1u | (24u << 16));  // one plane, 24 bits
    EXPECT_EQ(le32(file, 30), 0u);
    EXPECT_EQ(le32(file, 34), row * static_cast<size_t>(fileHeight));
    EXPECT_TRUE(
        std::all_of(file.begin() + 38, file.begin() + 54, [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(file.size(), 54 + row * static_cast<size_t>(fileHeight));
    const size_t luma = static_cast<size_t>(w) * static_cast<size_t>(h);
    int worst = 0;
    for (int y = 0; y < h; ++y) {
        const uint8_t* out = file.data() + 54 + static_cast<size_t>(fileHeight - 1 - y) * row;
        for (int x = 0; x < w; ++x) {
            const size_t c = static_cast<size_t>(y / 2) * static_cast<size_t>(w / 2) +
                             static_cast<size_t>(x / 2);
            const auto want = bt601Bgr(planes[static_cast<size_t>(y) * w + x],
                                       planes[luma + luma / 4 + c], planes[luma + c]);
            for (int k = 0; k < 3; ++k)
                worst = std::max(worst,
                                 static_cast<int>(std::ceil(std::abs(out[3 * x + k] - want[k]))));
        }
    }
    EXPECT_LE(worst, 1) << "pixels differ from the BT.601 conversion";
    return fileHeight;
}

// The picture's planes expanded to full range, as a JPEG file holds them.
std::vector<uint8_t> fullRange(const std::vector<uint8_t>& planes, size_t luma) {
    std::vector<uint8_t> out(planes.size());
    for (size_t i = 0; i < planes.size(); ++i) {
        const double v =
            i < luma ? (planes[i] - 16) * 255.0 / 219.0 : (planes[i] - 128) * 255.0 / 224.0 + 128.0;
        out[i] = static_cast<uint8_t>(std::clamp(std::round(v), 0.0, 255.0));
    }
    return out;
}

}  // namespace

class SnapshotFiles : public testing::TestWithParam<std::pair<int, int>> {};

TEST_P(SnapshotFiles, BmpAndJpegHoldTheLastPicture) {
    const auto [w, h] = GetParam();
    testsupport::TempDir dir;
    PlayingPort p(dir, w, h);
    ASSERT_EQ(p.last.info.width, w);
    ASSERT_EQ(p.last.info.height, h);
    ASSERT_EQ(p.last.planes.size(), static_cast<size_t>(w * h * 3 / 2));

    const std::string bmp = dir.file("shot.bmp");
    ASSERT_EQ(ZelPlay_GetBMP(p.port, bmp.c_str()), 1);
    EXPECT_EQ(ZelPlay_GetLastError(p.port), 0u);
    EXPECT_EQ(checkBmp(readFile(bmp), p.last.planes, w, h), h);

    const std::string jpg = dir.file("shot.jpg");
    ASSERT_EQ(ZelPlay_GetJPG(p.port, jpg.c_str(), 90), 1);
    const auto decoded = enginetest::readJpegRaw(jpg);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->width, w);
    EXPECT_EQ(decoded->height, h);
    const double quality = enginetest::psnr(decoded->planes, fullRange(p.last.planes, w * h));
    std::printf("JPEG of %dx%d at quality 90: %.1f dB\n", w, h, quality);
    EXPECT_GT(quality, 38.0) << w << "x" << h;
}

INSTANTIATE_TEST_SUITE_P(Sizes, SnapshotFiles,
                         testing::Values(std::make_pair(640, 360), std::make_pair(1920, 1080),
                                         std::make_pair(176, 144)));

TEST(SnapshotTags, StripUnderThePictureFollowsTheText) {
    testsupport::TempDir dir;
    PlayingPort p(dir, 640, 360, 1);
    const std::string plain = dir.file("plain.bmp"), one = dir.file("one.bmp"),
                      two = dir.file("two.bmp"), jpg = dir.file("tag.jpg");
    ASSERT_EQ(ZelPlay_GetBMP(p.port, plain.c_str()), 1);
    ASSERT_EQ(ZelPlay_GetBMPWithTag(p.port, one.c_str(), "cam 01"), 1);
    const std::string longTag =
        "camera 01 at the north gate, recorded on the first of January in the year two "
        "thousand and twenty-four, at twelve hours, three minutes and four seconds";
    ASSERT_EQ(ZelPlay_GetBMPWithTag(p.port, two.c_str(), longTag.c_str()), 1);
    EXPECT_EQ(ZelPlay_GetLastError(p.port), 0u);

    const auto plainFile = readFile(plain), oneFile = readFile(one), twoFile = readFile(two);
    const int oneHeight = checkBmp(oneFile, p.last.planes, 640, 360);
    const int twoHeight = checkBmp(twoFile, p.last.planes, 640, 360);
    const int oneStrip = oneHeight - 360, twoStrip = twoHeight - 360;
    EXPECT_GE(oneStrip, 12);
    EXPECT_LE(oneStrip, 24);
    EXPECT_GE(twoStrip, 2 * oneStrip - 2);  // wraps onto a second line at 640 pixels
    // The strip comes first in the bottom-up file: only black and pure white, some white.
    const size_t row = 640 * 3;
    const auto stripBegin = oneFile.begin() + 54;
    const auto stripEnd = stripBegin + static_cast<long>(row * static_cast<size_t>(oneStrip));
    EXPECT_TRUE(std::all_of(stripBegin, stripEnd, [](uint8_t b) { return b == 0 || b == 255; }));
    EXPECT_GT(std::count(stripBegin, stripEnd, 255), 100);
    // Above it the picture, the same as the plain snapshot.
    EXPECT_TRUE(std::equal(stripEnd, oneFile.end(), plainFile.begin() + 54));

    ASSERT_EQ(ZelPlay_GetJPGWithTag(p.port, jpg.c_str(), 90, "cam 01"), 1);
    const auto decoded = enginetest::readJpegRaw(jpg);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->width, 640);
    EXPECT_EQ(decoded->height, oneHeight);
    // Its strip's white is full-range white.
    const size_t luma = 640 * static_cast<size_t>(oneHeight);
    EXPECT_GE(*std::max_element(decoded->planes.begin() + 640 * 360,
                                decoded->planes.begin() + static_cast<long>(luma)),
              250);
}

TEST(SnapshotErrors, EveryCheckHasItsCode) {
    testsupport::TempDir dir;
    PlayingPort p(dir, 176, 144, 1);
    const std::string ok = dir.file("ok.jpg");
    EXPECT_EQ(ZelPlay_GetBMP(p.port, nullptr), 0);
    EXPECT_EQ(ZelPlay_GetLastError(p.port), 1u);
    EXPECT_EQ(ZelPlay_GetJPG(p.port, ok.c_str(), 101), 0);
    EXPECT_EQ(ZelPlay_GetLastError(p.port), 1u);
    EXPECT_EQ(ZelPlay_GetJPG(p.port, ok.c_str(), 356), 1);  // low byte 100
    EXPECT_EQ(ZelPlay_GetLastError(p.port), 0u);
    EXPECT_EQ(ZelPlay_GetBMPWithTag(p.port, ok.c_str(), nullptr), 0);
    EXPECT_EQ(ZelPlay_GetLastError(p.port), 1u);
    EXPECT_EQ(ZelPlay_GetJPGWithTag(p.port, nullptr, 50, "tag"), 0);
    EXPECT_EQ(ZelPlay_GetLastError(p.port), 1u);

    // Folders and files that cannot be made, for root too: below a regular file, and a
    // file name that is a folder.
    std::ofstream(dir.file("regular")) << "not a folder";
    const std::string belowFile = dir.file("regular/sub/shot.bmp");
    EXPECT_EQ(ZelPlay_GetBMP(p.port, belowFile.c_str()), 0);
    EXPECT_EQ(ZelPlay_GetLastError(p.port), 13u);
    EXPECT_EQ(ZelPlay_GetJPGWithTag(p.port, belowFile.c_str(), 80, "tag"), 0);
    EXPECT_EQ(ZelPlay_GetLastError(p.port), 13u);
    fs::create_directory(dir.path() / "taken.bmp");
    EXPECT_EQ(ZelPlay_GetBMP(p.port, dir.file("taken.bmp").c_str()), 0);
    EXPECT_EQ(ZelPlay_GetLastError(p.port), 14u);
    EXPECT_EQ(ZelPlay_GetJPG(p.port, dir.file("regular/shot.jpg").c_str(), 80), 0);
    EXPECT_EQ(ZelPlay_GetLastError(p.port), 14u);

    // Not playing, then not open; a handle that is no port.
    ASSERT_EQ(ZelPlay_Stop(p.port), 1);
    EXPECT_EQ(ZelPlay_GetBMP(p.port, ok.c_str()), 0);
    EXPECT_EQ(ZelPlay_GetLastError(p.port), 6u);
    ASSERT_EQ(ZelPlay_Close(p.port), 1);
    EXPECT_EQ(ZelPlay_GetJPGWithTag(p.port, ok.c_str(), 10, "tag"), 0);
    EXPECT_EQ(ZelPlay_GetLastError(p.port), 5u);
    EXPECT_EQ(ZelPlay_GetBMP(12345, ok.c_str()), 0);
}

TEST(SnapshotFolders, BareNamesGoToTheDefaultFolderAndFoldersAreMade) {
    testsupport::TempDir dir;
    PlayingPort p(dir, 176, 144, 1);
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome ? oldHome : "";
    setenv("HOME", dir.path().c_str(), 1);
    EXPECT_EQ(ZelPlay_GetBMP(p.port, "bare.bmp"), 1);
    EXPECT_EQ(fs::file_size(dir.path() / "SnapShotFile" / "bare.bmp"), 54u + 176 * 144 * 3);
    if (oldHome)
        setenv("HOME", savedHome.c_str(), 1);
    else
        unsetenv("HOME");
    const std::string nested = dir.file("a/b/c/shot.jpg");
    EXPECT_EQ(ZelPlay_GetJPG(p.port, nested.c_str(), 75), 1);
    EXPECT_TRUE(enginetest::readJpegRaw(nested).has_value());
}
