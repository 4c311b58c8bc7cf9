// The viewer's main window and settings dialogs with the real control, created through the
// component layer from a registry file of the test's own, in a working folder of its own.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QTreeWidget>

#include <filesystem>
#include <fstream>

#include "../control/player/QtTestMain.h"
#include "Component.h"
#include "PrivateProfile.h"
#include "SetDlg.h"
#include "SetUrlDlg.h"
#include "VidwallDlg.h"
#include "support/media.h"

using testsupport::waitUntil;

namespace {

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class ViewerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("MONVID_REGISTRY", dir_.file("registry.ini").c_str(), 1);
        void* library = dlopen(MONVID_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << dlerror();
        auto registerServer =
            reinterpret_cast<DllRegisterServerFn>(dlsym(library, "DllRegisterServer"));
        ASSERT_EQ(registerServer(), component::S_OK);
        previous_ = std::filesystem::current_path();
        std::filesystem::create_directories(dir_.path() / "work");
        std::filesystem::current_path(dir_.path() / "work");
    }
    void TearDown() override {
        dialog_.reset();
        std::filesystem::current_path(previous_);
        unsetenv("MONVID_REGISTRY");
    }
    void writeSettings(const std::string& text) {
        std::ofstream("set.ini", std::ios::binary) << text;
    }
    void open() {
        dialog_ = std::make_unique<CvidwallDlg>();
        dialog_->show();
        ASSERT_TRUE(dialog_->m_ctrlVideo.isCreated());
    }
    // The control's video windows, seen as QObjects across the library boundary.
    std::vector<QWidget*> windows() {
        std::vector<QWidget*> found;
        for (QWidget* w : dialog_->m_ctrlVideo.window()->findChildren<QWidget*>())
            if (QByteArray(w->metaObject()->className()) == "CShowVideoDlg")
                found.push_back(w);
        return found;
    }
    int visibleWindows() {
        int n = 0;
        for (QWidget* w : windows())
            n += w->isVisible();
        return n;
    }

    testsupport::TempDir dir_;
    std::filesystem::path previous_;
    std::unique_ptr<CvidwallDlg> dialog_;
};

}  // namespace

TEST_F(ViewerTest, OpensWithTheConfiguredCountAndTheButtonBand) {
    writeSettings("[config]\r\nwinnum=9\r\n");
    open();
    EXPECT_EQ(windows().size(), 16u);
    EXPECT_EQ(visibleWindows(), 9);
    for (QWidget* w : windows())
        EXPECT_EQ(w->property("playThreads").toInt(), 0);

    dialog_->resize(900, 500);
    const QRect video = dialog_->m_ctrlVideo.window()->geometry();
    EXPECT_EQ(video, QRect(0, 0, 900, 480));
    const int w = dialog_->m_btnSet->width();
    EXPECT_EQ(dialog_->m_btnSet->pos(), QPoint(20, 480));
    EXPECT_EQ(dialog_->m_btnPlay->pos(), QPoint(w + 40, 480));
    EXPECT_EQ(dialog_->m_btnStop->pos(), QPoint(2 * w + 60, 480));
    EXPECT_EQ(dialog_->m_btnPlay->text(), QString::fromUtf8("播放"));
    EXPECT_EQ(dialog_->m_btnStop->text(), QString::fromUtf8("停止"));
    EXPECT_EQ(dialog_->m_btnSet->text(), QString::fromUtf8("设置"));
}

TEST_F(ViewerTest, PlayStartsTheConfiguredWindowsWithTheLoopSetting) {
    const std::string clip = testsupport::mediaPath("video_only.mp4");
    writeSettings("[config]\r\nwinnum=9\r\nreplay=1\r\nfile0=" + clip + "\r\nfile4=" + clip +
                  "\r\n");
    open();
    dialog_->m_btnPlay->click();
    EXPECT_EQ(visibleWindows(), 9);
    const auto ws = windows();
    for (int i = 0; i < 16; ++i) {
        const bool started = i == 0 || i == 4;
        EXPECT_EQ(ws[i]->property("address").toString().toStdString(), started ? clip : "") << i;
        EXPECT_EQ(ws[i]->property("playThreads").toInt(), started ? 1 : 0) << i;
        EXPECT_TRUE(ws[i]->property("replay").toBool()) << i;  // the loop setting is kept
    }
    ASSERT_TRUE(
        waitUntil([&] { return ws[4]->property("picturesShown").toULongLong() >= 3; }, 10000));

    dialog_->m_btnStop->click();
    for (QWidget* w : ws)
        EXPECT_FALSE(w->property("replay").toBool());
    ASSERT_TRUE(waitUntil(
        [&] {
            return ws[0]->property("playThreads").toInt() == 0 &&
                   ws[4]->property("playThreads").toInt() == 0;
        },
        5000));
}

TEST_F(ViewerTest, WindowsWhoseAddressFailsAtOnceKeepRetryingUntilItPlays) {
    // Sixteen windows on a file that is not there yet: each fails at once, while Play is
    // still going through the windows after it.
    const std::filesystem::path later = std::filesystem::current_path() / "later.mp4";
    std::string settings = "[config]\r\nwinnum=16\r\nreplay=1\r\n";
    for (int i = 0; i < 16; ++i)
        settings += "file" + std::to_string(i) + "=" + later.string() + "\r\n";
    writeSettings(settings);
    open();
    dialog_->m_btnPlay->click();
    const auto ws = windows();
    for (int i = 0; i < 16; ++i)
        EXPECT_TRUE(ws[i]->property("replay").toBool()) << i;

    // The file appears whole (written beside, then renamed): every window picks it up.
    std::filesystem::copy_file(testsupport::mediaPath("video_only.mp4"), "later.tmp");
    std::filesystem::rename("later.tmp", later);
    for (int i = 0; i < 16; ++i)
        EXPECT_TRUE(
            waitUntil([&] { return ws[i]->property("picturesShown").toULongLong() > 0; }, 60000))
            << "window " << i << " gave up: " << ws[i]->property("playThreads").toInt()
            << " play threads";
    dialog_->m_btnStop->click();
}

TEST_F(ViewerTest, ACountBetweenTwoGridsTakesTheLargerAndFillsTheWall) {
    const std::string clip = testsupport::mediaPath("video_only.mp4");
    writeSettings("[config]\r\nwinnum=3\r\nfile0=" + clip + "\r\nfile1=" + clip +
                  "\r\nfile2=" + clip + "\r\nfile3=" + clip + "\r\n");
    open();
    dialog_->resize(800, 620);
    ASSERT_TRUE(waitUntil([&] { return visibleWindows() == 4; }, 5000));
    // Four quarters of the wall, from its first paint on: no resize needed.
    const auto ws = windows();
    const QSize wall = dialog_->m_ctrlVideo.window()->size();
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(ws[i]->size(), QSize(wall.width() / 2, wall.height() / 2)) << i;
        EXPECT_EQ(ws[i]->pos(), QPoint(wall.width() / 2 * (i % 2), wall.height() / 2 * (i / 2)))
            << i;
    }
    // Play starts the three windows the file names, not the fourth.
    dialog_->m_btnPlay->click();
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(ws[i]->property("playThreads").toInt(), i < 3 ? 1 : 0) << i;
    dialog_->m_btnStop->click();
}

TEST_F(ViewerTest, PlayCutsALongAddressBetweenCharacters) {
    // 1022 bytes, then a three-byte character that a cut at 1023 bytes would split.
    const std::string address = std::string(1022, 'a') + "中";
    writeSettings("[config]\r\nwinnum=1\r\nfile0=" + address + "\r\n");
    open();
    dialog_->m_btnPlay->click();
    const QByteArray given = windows()[0]->property("address").toString().toUtf8();
    EXPECT_EQ(given.toStdString(), std::string(1022, 'a'));
    dialog_->m_btnStop->click();
    ASSERT_TRUE(
        waitUntil([&] { return windows()[0]->property("playThreads").toInt() == 0; }, 5000));
}

TEST_F(ViewerTest, MissingOrDamagedSettingsGiveTheDefaults) {
    open();  // no set.ini at all
    EXPECT_EQ(visibleWindows(), 4);
    dialog_->m_btnPlay->click();
    for (QWidget* w : windows())
        EXPECT_EQ(w->property("playThreads").toInt(), 0);
    dialog_.reset();

    writeSettings(std::string("\x01garbage line\n[other]\nwinnum=16\n[config\nwinnum=abc\nfile0=") +
                  std::string(5000, 'x') + "\n");
    open();
    EXPECT_EQ(visibleWindows(), 4);
    dialog_->m_btnPlay->click();  // winnum reads as 0: nothing to start, nothing breaks
    dialog_.reset();

    writeSettings("[config]\nwinnum=2147483647\nfile0=/nonexistent.mp4\n");
    open();
    dialog_->m_btnPlay->click();  // a huge count is stored by the grid and otherwise ignored
    dialog_->m_btnStop->click();
}

TEST_F(ViewerTest, SettingsDialogShowsTheFileAndSavesEveryKey) {
    writeSettings("[config]\r\nwinnum=4\r\n[keep]\r\nx=1\r\n");
    open();
    dialog_->runSettings = [](CSetDlg& d) {
        EXPECT_EQ(d.windowTitle(), QString::fromUtf8("播放设置"));
        EXPECT_EQ(d.m_cbWinNum->currentText(), "4");
        EXPECT_FALSE(d.m_chkReplay->isChecked());
        ASSERT_EQ(d.m_lstSources->topLevelItemCount(), 4);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(d.m_lstSources->topLevelItem(i)->text(0),
                      QString::fromUtf8("%1号窗口").arg(i));
            EXPECT_TRUE(d.m_lstSources->topLevelItem(i)->text(1).isEmpty());
        }
        d.OnBnClickedClear();
        d.chooseFile = [] { return QString("/media/a.mp4"); };
        d.OnBnClickedAddFile();
        d.askAddress = []() -> std::optional<QString> { return QString("rtsp://127.0.0.1/cam"); };
        d.OnBnClickedAddUrl();
        d.askAddress = []() -> std::optional<QString> { return std::nullopt; };  // cancelled
        d.OnBnClickedAddUrl();
        d.askAddress = []() -> std::optional<QString> { return QString(); };  // confirmed empty
        d.OnBnClickedAddUrl();
        d.chooseFile = [] { return QString(); };  // file dialog cancelled
        d.OnBnClickedAddFile();
        ASSERT_EQ(d.m_lstSources->topLevelItemCount(), 2);
        EXPECT_EQ(d.m_lstSources->topLevelItem(1)->text(0), QString::fromUtf8("1号窗口"));
        d.m_cbWinNum->setEditText("9");
        d.m_chkReplay->setChecked(true);
        d.accept();
    };
    dialog_->m_btnSet->click();
    EXPECT_EQ(visibleWindows(), 9);
    EXPECT_EQ(platform::GetPrivateProfileInt("config", "winnum", 0, "./set.ini"), 9);
    EXPECT_EQ(platform::GetPrivateProfileInt("config", "replay", 0, "./set.ini"), 1);
    EXPECT_EQ(platform::GetPrivateProfileString("config", "file0", "?", "./set.ini"),
              "/media/a.mp4");
    EXPECT_EQ(platform::GetPrivateProfileString("config", "file1", "?", "./set.ini"),
              "rtsp://127.0.0.1/cam");
    for (int i = 2; i < 16; ++i)
        EXPECT_EQ(platform::GetPrivateProfileString("config", "file" + std::to_string(i), "?",
                                                    "./set.ini"),
                  "");
    EXPECT_EQ(platform::GetPrivateProfileInt("keep", "x", 0, "./set.ini"), 1);
}

TEST_F(ViewerTest, ClearingTheCountWritesOneAndCancelWritesNothing) {
    writeSettings("[config]\r\nwinnum=4\r\n");
    open();
    dialog_->runSettings = [](CSetDlg& d) { d.reject(); };
    dialog_->m_btnSet->click();
    EXPECT_EQ(readText("set.ini"), "[config]\r\nwinnum=4\r\n");

    dialog_->runSettings = [](CSetDlg& d) {
        d.m_cbWinNum->setEditText("");
        d.accept();
    };
    dialog_->m_btnSet->click();
    EXPECT_EQ(platform::GetPrivateProfileInt("config", "winnum", 0, "./set.ini"), 1);
    EXPECT_EQ(visibleWindows(), 1);

    // Leading digits count; text without digits is 0.
    EXPECT_EQ(leadingInteger("16 windows"), 16);
    EXPECT_EQ(leadingInteger("abc"), 0);
    EXPECT_EQ(leadingInteger("  -3"), -3);
    EXPECT_EQ(leadingInteger("99999999999"), INT32_MAX);
}

TEST_F(ViewerTest, SixRowsWithACountOfFourAreAllStored) {
    writeSettings("[config]\r\nwinnum=4\r\n");
    open();
    dialog_->runSettings = [](CSetDlg& d) {
        d.OnBnClickedClear();
        for (int i = 0; i < 6; ++i)
            d.addRow(QString("/media/%1.mp4").arg(i));
        d.accept();
    };
    dialog_->m_btnSet->click();
    EXPECT_EQ(platform::GetPrivateProfileString("config", "file5", "?", "./set.ini"),
              "/media/5.mp4");
    EXPECT_EQ(platform::GetPrivateProfileInt("config", "winnum", 0, "./set.ini"), 4);
}

TEST(SetUrlDlg, OkTakesTheTypedAddressAsItIs) {
    CSetUrlDlg dialog(nullptr);
    EXPECT_EQ(dialog.windowTitle(), QString::fromUtf8("RTMP/RTSP视频源"));
    dialog.m_edAddress->setText("not a url at all");
    dialog.accept();
    EXPECT_EQ(dialog.m_strAddress, "not a url at all");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(ViewerTest, FullScreenHidesTheBandF11TogglesEscapeLeaves) {
    writeSettings("[config]\r\nwinnum=4\r\n");
    open();
    dialog_->resize(900, 500);
    const auto press = [&](Qt::Key key) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(dialog_.get(), &event);
    };
    const auto expectBand = [&](bool shown) {
        const QRect client = dialog_->rect();
        EXPECT_EQ(dialog_->m_ctrlVideo.window()->geometry(),
                  client.adjusted(0, 0, 0, shown ? -CvidwallDlg::kBandHeight : 0));
        for (QPushButton* b : {dialog_->m_btnSet, dialog_->m_btnPlay, dialog_->m_btnStop})
            EXPECT_EQ(b->isVisible(), shown);
    };
    press(Qt::Key_F11);
    EXPECT_TRUE(dialog_->IsFullScreen());
    ASSERT_TRUE(waitUntil([&] { return dialog_->size() == dialog_->screen()->size(); }, 5000))
        << "the window does not cover the screen";
    expectBand(false);

    press(Qt::Key_Escape);
    EXPECT_FALSE(dialog_->IsFullScreen());
    ASSERT_TRUE(waitUntil([&] { return dialog_->size() == QSize(900, 500); }, 5000));
    expectBand(true);
    EXPECT_TRUE(dialog_->isVisible());  // Escape does not close the main window

    press(Qt::Key_F11);
    press(Qt::Key_F11);
    EXPECT_FALSE(dialog_->IsFullScreen());
    expectBand(true);
}

TEST_F(ViewerTest, RightClickOnTheWallIsLeftToTheVideoWindows) {
    open();
    bool menuShown = false;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (QWidget* popup = QApplication::activePopupWidget()) {
            menuShown = true;
            popup->close();
        }
    });
    watcher.start(5);
    const QPoint onWall = dialog_->m_ctrlVideo.window()->geometry().center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, onWall, dialog_->mapToGlobal(onWall));
    QApplication::sendEvent(dialog_.get(), &event);
    testsupport::pumpFor(50);
    EXPECT_FALSE(menuShown);
    EXPECT_FALSE(event.isAccepted());

    const QPoint onBand(dialog_->width() - 10, dialog_->height() - 5);
    QContextMenuEvent bandEvent(QContextMenuEvent::Mouse, onBand, dialog_->mapToGlobal(onBand));
    QApplication::sendEvent(dialog_.get(), &bandEvent);
    EXPECT_TRUE(menuShown);
}

TEST_F(ViewerTest, AnotherSettingsFileIsReadAndWrittenInsteadOfTheCurrentFolders) {
    const std::string clip = testsupport::mediaPath("video_only.mp4");
    writeSettings("[config]\r\nwinnum=1\r\n");
    const std::string other = (dir_.path() / "other.ini").string();
    std::ofstream(other, std::ios::binary) << "[config]\r\nwinnum=2\r\nfile1=" << clip << "\r\n";
    dialog_ = std::make_unique<CvidwallDlg>(nullptr, other);
    dialog_->show();
    ASSERT_TRUE(dialog_->m_ctrlVideo.isCreated());
    EXPECT_EQ(visibleWindows(), 2);
    dialog_->m_btnPlay->click();
    EXPECT_EQ(windows()[1]->property("address").toString().toStdString(), clip);
    dialog_->m_btnStop->click();

    dialog_->runSettings = [](CSetDlg& d) {
        ASSERT_EQ(d.m_lstSources->topLevelItemCount(), 2);
        d.m_cbWinNum->setEditText("9");
        d.accept();
    };
    dialog_->m_btnSet->click();
    EXPECT_EQ(platform::GetPrivateProfileInt("config", "winnum", 0, other), 9);
    EXPECT_EQ(readText("set.ini"), "[config]\r\nwinnum=1\r\n");  // untouched
}
