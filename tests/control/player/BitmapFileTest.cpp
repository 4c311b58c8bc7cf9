// BMP files of a window's picture, time stamps and picture names, checked byte by byte.
#include <gtest/gtest.h>

#include <QImage>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "BitmapFile.h"
#include "QtTestMain.h"
#include "ShowVideoDlg.h"
#include "support/media.h"

using namespace monvid;

namespace {

std::uint32_t le32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
std::uint16_t le16(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}
std::vector<std::uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

QImage gradient(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x * 7 % 256, y * 5 % 256, (x + y) % 256));
    return image;
}

}  // namespace

TEST(BitmapFile, ThirtyTwoBitsHasNoColourTableAndNoRowFill) {
    const auto file = encodeBitmapFile(gradient(704, 576), 32);
    ASSERT_EQ(file.size(), 1622070u);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(le32(file, 2), 1622070u);
    EXPECT_EQ(le32(file, 6), 0u);  // both reserved words
    EXPECT_EQ(le32(file, 10), 54u);
    EXPECT_EQ(le32(file, 14), 40u);
    EXPECT_EQ(le32(file, 18), 704u);
    EXPECT_EQ(le32(file, 22), 576u);  // positive: bottom row first
    EXPECT_EQ(le16(file, 26), 1);
    EXPECT_EQ(le16(file, 28), 32);
    EXPECT_EQ(le32(file, 30), 0u);  // uncompressed
    EXPECT_EQ(le32(file, 38), 0u);
    EXPECT_EQ(le32(file, 42), 0u);
    EXPECT_EQ(le32(file, 50), 0u);
    // The first stored row is the picture's bottom row: pixel (1, 575) in blue, green, red.
    const QRgb c = gradient(704, 576).pixel(1, 575);
    EXPECT_EQ(file[54 + 4], qBlue(c));
    EXPECT_EQ(file[54 + 5], qGreen(c));
    EXPECT_EQ(file[54 + 6], qRed(c));
}

TEST(BitmapFile, TwentyFourBitRowsArePaddedWithZerosToFourBytes) {
    QImage image(3, 2, QImage::Format_RGB32);
    image.fill(qRgb(10, 20, 30));
    const auto file = encodeBitmapFile(image, 24);
    ASSERT_EQ(file.size(), 54u + 12u * 2);
    for (int row = 0; row < 2; ++row) {
        const std::size_t at = 54 + 12 * row;
        for (int x = 0; x < 3; ++x) {
            EXPECT_EQ(file[at + 3 * x], 30);
            EXPECT_EQ(file[at + 3 * x + 1], 20);
            EXPECT_EQ(file[at + 3 * x + 2], 10);
        }
        EXPECT_EQ(file[at + 9], 0);
        EXPECT_EQ(file[at + 10], 0);
        EXPECT_EQ(file[at + 11], 0);
    }
}

TEST(BitmapFile, EveryDepthHasItsTableRowsAndAnHonestSizeField) {
    struct Case {
        int bits;
        std::uint32_t tableBytes;
    };
    for (const Case c :
         {Case{1, 8}, Case{4, 64}, Case{8, 1024}, Case{16, 0}, Case{24, 0}, Case{32, 0}}) {
        SCOPED_TRACE(c.bits);
        for (const int width : {1, 5, 13, 33}) {
            const auto file = encodeBitmapFile(gradient(width, 7), c.bits);
            const std::uint32_t rowBytes = ((c.bits * width + 31) / 32) * 4;
            EXPECT_EQ(file.size(), 54 + c.tableBytes + rowBytes * 7);
            EXPECT_EQ(le32(file, 2), file.size());
            EXPECT_EQ(le32(file, 10), 54 + c.tableBytes);
            EXPECT_EQ(le16(file, 28), c.bits);
        }
    }
    // White and black come out as the table's white and black.
    QImage bw(8, 1, QImage::Format_RGB32);
    bw.fill(Qt::white);
    bw.setPixel(0, 0, qRgb(0, 0, 0));
    const auto mono = encodeBitmapFile(bw, 1);
    EXPECT_EQ(mono[62], 0x7F);
    EXPECT_TRUE(encodeBitmapFile(QImage(), 32).empty());
    EXPECT_TRUE(encodeBitmapFile(bw, 12).empty());
}

TEST(BitmapFile, DisplayDepthsRoundUpToAFileDepth) {
    EXPECT_EQ(bitmapBitsForDisplayDepth(0), 1);
    EXPECT_EQ(bitmapBitsForDisplayDepth(1), 1);
    EXPECT_EQ(bitmapBitsForDisplayDepth(2), 4);
    EXPECT_EQ(bitmapBitsForDisplayDepth(8), 8);
    EXPECT_EQ(bitmapBitsForDisplayDepth(15), 16);
    EXPECT_EQ(bitmapBitsForDisplayDepth(24), 24);
    EXPECT_EQ(bitmapBitsForDisplayDepth(30), 32);
    EXPECT_EQ(bitmapBitsForDisplayDepth(32), 32);
}

TEST(PictureName, TimeStampHasAnHourWithoutLeadingZero) {
    std::tm t{};
    t.tm_year = 2019 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 31;
    t.tm_hour = 9;
    t.tm_min = 5;
    t.tm_sec = 7;
    EXPECT_EQ(makeTimeStamp(t), "2019-12-31-9-05-07");
    t.tm_hour = 14;
    t.tm_min = 30;
    t.tm_sec = 0;
    EXPECT_EQ(makeTimeStamp(t), "2019-12-31-14-30-00");
    EXPECT_LE(MakeTimeStamp().size(), 19u);
}

TEST(PictureName, FolderTitleAndStampJoinAsWritten) {
    const std::string stamp = "2019-12-31-9-05-07";
    EXPECT_EQ(picturePath("/pics", "cam1", stamp), "/pics/cam1-2019-12-31-9-05-07.bmp");
    EXPECT_EQ(picturePath("/pics", "", stamp), "/pics/-2019-12-31-9-05-07.bmp");
    EXPECT_EQ(picturePath("/pics/", "cam1", stamp), "/pics//cam1-2019-12-31-9-05-07.bmp");
    EXPECT_EQ(picturePath("", "cam1", stamp), "/cam1-2019-12-31-9-05-07.bmp");
}

namespace {

class SaveTest : public ::testing::Test {
  protected:
    void SetUp() override {
        holder_ = std::make_unique<QWidget>();
        holder_->resize(400, 300);
        window_ = new CShowVideoDlg(holder_.get());
        window_->setGeometry(0, 0, 400, 300);
        window_->m_bReplay = false;
        holder_->show();
    }
    void setPicture(const QImage& image) {
        std::lock_guard lock(window_->m_csPicture);
        window_->m_hPicture = image;
        window_->m_nPicWidth = image.width();
        window_->m_nPicHeight = image.height();
    }
    testsupport::TempDir dir_;
    std::unique_ptr<QWidget> holder_;
    CShowVideoDlg* window_ = nullptr;
};

}  // namespace

TEST_F(SaveTest, AWindowWithoutPictureSavesNothing) {
    EXPECT_FALSE(window_->SavePicture(dir_.file("none.bmp")));
    EXPECT_FALSE(std::filesystem::exists(dir_.file("none.bmp")));
    EXPECT_FALSE(window_->m_bCapturing.load());
}

TEST_F(SaveTest, ASecondCaptureWithTheSameNameReplacesTheFirst) {
    const std::string path = dir_.file("cam1-2019-12-31-9-05-07.bmp");
    setPicture(gradient(64, 48));
    ASSERT_TRUE(window_->SavePicture(path, 32));
    EXPECT_EQ(std::filesystem::file_size(path), 54u + 64 * 48 * 4);
    setPicture(gradient(3, 2));
    ASSERT_TRUE(window_->SavePicture(path, 24));
    EXPECT_EQ(readFile(path), encodeBitmapFile(gradient(3, 2), 24));
    EXPECT_FALSE(window_->m_bCapturing.load());
}

TEST_F(SaveTest, AFolderThatDoesNotExistSavesNothing) {
    setPicture(gradient(8, 8));
    EXPECT_FALSE(window_->SavePicture(dir_.file("missing/folder/x.bmp")));
    EXPECT_FALSE(window_->m_bCapturing.load());
    // The display of this test reports its own depth: the file follows it.
    ASSERT_TRUE(window_->SavePicture(dir_.file("display.bmp")));
    EXPECT_GT(std::filesystem::file_size(dir_.file("display.bmp")), 54u);
}

TEST_F(SaveTest, CapturesDuringPlaybackAreWholePicturesAndPlaybackGoesOn) {
    window_->setUrl(testsupport::mediaPath("video_only.mp4"));
    window_->StartPlay();
    ASSERT_TRUE(
        testsupport::waitUntil([&] { return window_->m_counters.shown.load() >= 2; }, 10000));
    int saved = 0;
    for (int i = 0; i < 20; ++i) {
        const std::string path = dir_.file("capture" + std::to_string(i) + ".bmp");
        const auto shownBefore = window_->m_counters.shown.load();
        if (window_->SavePicture(path, 32)) {
            ++saved;
            const auto file = readFile(path);
            ASSERT_EQ(file.size(), 54u + 352 * 288 * 4);
            EXPECT_EQ(le32(file, 2), file.size());
        }
        // The play thread keeps presenting between captures.
        testsupport::waitUntil([&] { return window_->m_counters.shown.load() > shownBefore; },
                               2000);
    }
    EXPECT_GE(saved, 15);
    window_->OnClose();
}
