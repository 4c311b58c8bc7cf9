// The control's dispatch members when a host's text, the system or the timing is against
// them: hostile window titles, play threads that cannot be created, a stop during a start,
// a capture after a restart onto an unreachable address.
#include <gtest/gtest.h>

#include <QImage>

#include <filesystem>
#include <system_error>

#include "../player/QtTestMain.h"
#include "MonvidCtrl.h"
#include "MonvidIds.h"
#include "Mydlg.h"
#include "support/media.h"

using namespace component;
using testsupport::waitUntil;

namespace {

QVariant i16(int v) {
    return QVariant::fromValue<qint16>(static_cast<qint16>(v));
}
QVariant i32(int v) {
    return QVariant::fromValue<qint32>(v);
}

std::vector<std::string> filesIn(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder))
        names.push_back(std::filesystem::relative(e.path(), folder).string());
    return names;
}

class RecoveryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        host_ = std::make_unique<QWidget>();
        host_->resize(800, 600);
        control_ = new CMonvidCtrl();
        ASSERT_EQ(control_->CreateControlWindow(host_.get()), S_OK);
        control_->controlWindow()->setGeometry(0, 0, 800, 600);
        host_->show();
        ASSERT_TRUE(waitUntil([&] { return window(1)->isShownForPlay(); }, 2000));
    }
    void TearDown() override {
        control_->Release();
        host_.reset();
    }
    HRESULT call(int dispid, const QVariantList& args, QVariant* result = nullptr) {
        return control_->Invoke(dispid, DISPATCH_METHOD, args, result);
    }
    CShowVideoDlg* window(int i) { return control_->grid()->window(i); }
    void setPicture(int i) {
        QImage picture(16, 8, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        std::lock_guard lock(window(i)->m_csPicture);
        window(i)->m_hPicture = picture;
    }

    testsupport::TempDir dir_;
    std::unique_ptr<QWidget> host_;
    CMonvidCtrl* control_ = nullptr;
};

}  // namespace

TEST_F(RecoveryTest, CapturePicWritesOnlyIntoThePicturesFolder) {
    const std::filesystem::path pictures = dir_.path() / "pics";
    std::filesystem::create_directories(pictures / "a");  // so that "a/b" could reach into it
    control_->SetPicPath(QString::fromStdString(pictures.string()));
    const char* titles[] = {"../escaped", "a/b", "line\nbreak", "..", "back\\slash"};
    for (const char* title : titles) {
        SCOPED_TRACE(title);
        ASSERT_EQ(call(monvid::DISPID_SetViewTitle, {i16(1), QByteArray(title)}), S_OK);
        setPicture(1);
        ASSERT_EQ(call(monvid::DISPID_CapturePic, {i32(1)}), S_OK);
    }
    // One file for each title, each a plain name right in the folder.
    std::vector<std::string> saved;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir_.path())) {
        if (!e.is_regular_file())
            continue;
        EXPECT_EQ(e.path().parent_path(), pictures) << e.path();
        const std::string name = e.path().filename().string();
        EXPECT_EQ(name.find('\n'), std::string::npos) << name;
        EXPECT_EQ(name.find('\\'), std::string::npos) << name;
        EXPECT_EQ(name.substr(name.size() - 4), ".bmp");
        saved.push_back(name);
    }
    EXPECT_EQ(saved.size(), std::size(titles)) << ::testing::PrintToString(saved);
}

TEST_F(RecoveryTest, StartsWithoutAThreadToBeHadLeaveTheHostRunning) {
    window(1)->m_startThread = [](std::function<void()>) -> std::thread {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    };
    const QByteArray clip = QByteArray::fromStdString(testsupport::mediaPath("video_only.mp4"));
    QVariant result = 99;
    for (int attempt = 0; attempt < 3; ++attempt) {
        EXPECT_EQ(call(monvid::DISPID_startplayurl, {clip, i16(1)}, &result), S_OK);
        EXPECT_EQ(result.value<qint16>(), 0);
        EXPECT_EQ(window(1)->liveThreadCount(), 0);
    }
    // The other windows are not affected.
    EXPECT_EQ(call(monvid::DISPID_startplayurl, {clip, i16(2)}), S_OK);
    EXPECT_EQ(window(2)->liveThreadCount(), 1);
    ASSERT_TRUE(waitUntil([&] { return window(2)->m_counters.shown.load() >= 2; }, 10000));
}

TEST_F(RecoveryTest, StopPlayDuringAStartIsNotLost) {
    // The window's flag is still set, so the new run waits at its start gate; StopPlay lands
    // in that wait. The window must stay stopped instead of playing the address once more.
    window(1)->m_bPlaying = true;
    const QByteArray clip = QByteArray::fromStdString(testsupport::mediaPath("video_only.mp4"));
    ASSERT_EQ(call(monvid::DISPID_startplayurl, {clip, i16(1)}), S_OK);
    ASSERT_TRUE(waitUntil([&] { return window(1)->m_counters.runs.load() >= 1; }, 5000));
    ASSERT_EQ(call(monvid::DISPID_StopPlay, {i32(1)}), S_OK);
    ASSERT_TRUE(waitUntil([&] { return window(1)->liveThreadCount() == 0; }, 10000));
    EXPECT_EQ(window(1)->m_counters.shown.load(), 0u);
    EXPECT_FALSE(window(1)->m_bPlaying.load());
}

TEST_F(RecoveryTest, CaptureAfterARestartOntoAnUnreachableAddressSavesNothing) {
    control_->SetPicPath(QString::fromStdString(dir_.path().string()));
    ASSERT_EQ(call(monvid::DISPID_SetReplay, {i16(1)}), S_OK);
    const QByteArray clip = QByteArray::fromStdString(testsupport::mediaPath("video_only.mp4"));
    ASSERT_EQ(call(monvid::DISPID_startplayurl, {clip, i16(1)}), S_OK);
    ASSERT_TRUE(waitUntil([&] { return window(1)->m_counters.shown.load() >= 2; }, 10000));
    ASSERT_EQ(call(monvid::DISPID_startplayurl, {QByteArray("rtsp://127.0.0.1:1/none"), i16(1)}),
              S_OK);
    ASSERT_EQ(call(monvid::DISPID_SetViewTitle, {i16(1), QByteArray("new")}), S_OK);
    ASSERT_EQ(call(monvid::DISPID_CapturePic, {i32(1)}), S_OK);
    EXPECT_TRUE(filesIn(dir_.path()).empty()) << ::testing::PrintToString(filesIn(dir_.path()));
    ASSERT_EQ(call(monvid::DISPID_StopPlay, {i32(1)}), S_OK);
    EXPECT_TRUE(waitUntil([&] { return window(1)->liveThreadCount() == 0; }, 5000));
}
