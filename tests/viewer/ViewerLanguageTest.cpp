// The viewer's windows in each language, with the catalogs the program installs for itself
// (found from the test program's place, as vidwall finds them from its own), and the first
// run's search for the control library.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <filesystem>
#include <fstream>

#include "AboutDlg.h"
#include "CommandLine.h"
#include "FirstRun.h"
#include "Registry.h"
#include "SetDlg.h"
#include "SetUrlDlg.h"
#include "VidwallApp.h"
#include "VidwallDlg.h"
#include "support/media.h"

using translation::Language;

namespace {

struct Texts {
    Language language;
    const char* settings;
    const char* play;
    const char* stop;
    const char* settingsTitle;
    const char* firstRow;
    const char* addressTitle;
    const char* aboutTitle;
    const char* aboutEntry;
    const char* helpLine;
};

const Texts kChinese{Language::Chinese,
                     "设置",
                     "播放",
                     "停止",
                     "播放设置",
                     "0号窗口",
                     "RTMP/RTSP视频源",
                     "关于 vidwall",
                     "关于 vidwall(&A)...",
                     "显示本帮助并退出。"};
const Texts kEnglish{Language::English,
                     "Settings",
                     "Play",
                     "Stop",
                     "Play Settings",
                     "Window 0",
                     "RTMP/RTSP Source",
                     "About vidwall",
                     "&About vidwall...",
                     "Show this help and exit."};

class ViewerLanguage : public ::testing::TestWithParam<Texts> {
  protected:
    void SetUp() override {
        // No control is registered here: the main window shows why in its place.
        setenv("MONVID_REGISTRY", dir_.file("registry.ini").c_str(), 1);
        useViewerLanguage(GetParam().language);
    }
    void TearDown() override {
        useViewerLanguage(Language::Chinese);
        QLocale::setDefault(QLocale::c());
        unsetenv("MONVID_REGISTRY");
    }
    static QString text(const char* utf8) { return QString::fromUtf8(utf8); }

    testsupport::TempDir dir_;
};

}  // namespace

TEST_P(ViewerLanguage, WindowsDialogsAndTheCommandLineSpeakIt) {
    const Texts& t = GetParam();
    EXPECT_EQ(translation::languageOf(QLocale()), t.language);  // what the control follows

    CvidwallDlg main(nullptr, dir_.file("set.ini"));
    EXPECT_EQ(main.m_btnSet->text(), text(t.settings));
    EXPECT_EQ(main.m_btnPlay->text(), text(t.play));
    EXPECT_EQ(main.m_btnStop->text(), text(t.stop));
    ASSERT_NE(main.m_placeholder, nullptr);
    EXPECT_TRUE(qobject_cast<QLabel*>(main.m_placeholder)->text().contains("registry.ini"));

    CSetDlg settings(nullptr, dir_.file("set.ini"));
    EXPECT_EQ(settings.windowTitle(), text(t.settingsTitle));
    ASSERT_GT(settings.m_lstSources->topLevelItemCount(), 0);
    EXPECT_EQ(settings.m_lstSources->topLevelItem(0)->text(0), text(t.firstRow));
    EXPECT_EQ(CSetUrlDlg(nullptr).windowTitle(), text(t.addressTitle));
    EXPECT_EQ(CAboutDlg(nullptr).windowTitle(), text(t.aboutTitle));

    // The band's right-click menu: its one entry opens the About box.
    main.show();
    QString entry;
    QTimer::singleShot(0, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            entry = menu->actions().value(0) ? menu->actions()[0]->text() : QString();
            menu->close();
        }
    });
    const QPoint onBand(main.width() / 2, main.height() - 5);
    QContextMenuEvent onBandEvent(QContextMenuEvent::Mouse, onBand, main.mapToGlobal(onBand));
    QApplication::sendEvent(&main, &onBandEvent);
    EXPECT_EQ(entry, text(t.aboutEntry));

    const auto help = vidwall::parseCommandLine({"vidwall", "--help"});
    EXPECT_TRUE(help.text.contains(text(t.helpLine))) << help.text.toStdString();
}

INSTANTIATE_TEST_SUITE_P(BothLanguages, ViewerLanguage, ::testing::Values(kChinese, kEnglish),
                         [](const auto& info) {
                             return info.param.language == Language::Chinese ? "Chinese"
                                                                             : "English";
                         });

TEST(FirstRun, TheControlLibraryIsLookedForBesideTheProgramThenInTheLibraryFolder) {
    const auto candidates = vidwall::controlLibraryCandidates("/opt/wall/bin");
    ASSERT_EQ(candidates.size(), 2u);
    EXPECT_EQ(candidates[0], "/opt/wall/bin/libmonvid.so");
    EXPECT_EQ(candidates[1],
              (std::filesystem::path("/opt/wall/bin") / MONVID_BINDIR_TO_LIBDIR / "libmonvid.so")
                  .lexically_normal());
    EXPECT_EQ(candidates[1].parent_path().parent_path().filename() == "lib" ||
                  candidates[1].parent_path().filename() == "lib",
              true)
        << candidates[1];
    // The program's own file, whatever PATH says.
    EXPECT_EQ(vidwall::programPath().filename(), "vidwall_options_test");
}

TEST(FirstRun, RegistersTheFirstLibraryFoundAndReportsTheLoadersReason) {
    testsupport::TempDir dir;
    setenv("MONVID_REGISTRY", dir.file("registry.ini").c_str(), 1);
    const std::filesystem::path bin = dir.path() / "bin";
    std::filesystem::create_directories(bin);

    auto nothing = vidwall::registerInstalledControl(bin);
    EXPECT_FALSE(nothing.found);
    EXPECT_EQ(nothing.candidates, vidwall::controlLibraryCandidates(bin));

    std::ofstream(bin / "libmonvid.so") << "not a library";
    auto broken = vidwall::registerInstalledControl(bin);
    EXPECT_TRUE(broken.found);
    EXPECT_FALSE(broken.outcome.succeeded());
    EXPECT_NE(broken.outcome.detail.find("cannot load " + (bin / "libmonvid.so").string()),
              std::string::npos)
        << broken.outcome.detail;
    EXPECT_FALSE(std::filesystem::exists(dir.file("registry.ini")));

    // The build tree's link to the real library: registered under the library's own path.
    std::filesystem::remove(bin / "libmonvid.so");
    std::filesystem::create_symlink(MONVID_LIBRARY_PATH, bin / "libmonvid.so");
    auto registered = vidwall::registerInstalledControl(bin);
    ASSERT_TRUE(registered.outcome.succeeded()) << registered.outcome.detail;
    EXPECT_EQ(registered.outcome.libraryPath,
              std::filesystem::canonical(MONVID_LIBRARY_PATH).string());
    const auto entry = component::Registry().findClass(
        *component::Guid::parse("{C979313E-99A1-467A-8715-85F91ABF8F95}"));
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(entry->libraryPath, registered.outcome.libraryPath);
    unsetenv("MONVID_REGISTRY");
}
