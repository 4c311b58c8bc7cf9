// vidwall as a user meets it: a real program on a real X server (Xvfb), its control
// registered with the registration tool (or by vidwall itself on a first run), "set.ini"
// naming four clips, buttons clicked and keys pressed with xdotool and the screen read back.
// The language is set for each run as a user's session sets it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../control/player/QtTestMain.h"
#include "PrivateProfile.h"
#include "support/media.h"
#include "support/process.h"
#include "support/wait.h"

using testsupport::ChildProcess;
using testsupport::runCommand;

namespace {

std::string g_display;

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Output of a command (its first line), or empty.
std::string commandOutput(const std::vector<std::string>& argv, const std::string& dir) {
    const std::string out = dir + "/cmd.out";
    std::filesystem::remove(out);
    if (runCommand(argv, 20000, out) != 0)
        return {};
    return readAll(out);
}

struct Geometry {
    int x = 0, y = 0, width = 0, height = 0;
};

class EndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        work_ = dir_.path() / "wall";
        std::filesystem::create_directories(work_);
        setenv("MONVID_REGISTRY", dir_.file("registry.ini").c_str(), 1);
        ASSERT_EQ(
            runCommand({MONVID_REGSVR_PATH, MONVID_LIBRARY_PATH}, 20000, dir_.file("regsvr.log")),
            0);

        const char* clips[] = {"video_only.mp4", "av_aac48.mp4", "two_video.mp4",
                               "live_source.mp4"};
        std::ofstream ini(work_ / "set.ini", std::ios::binary);
        ini << "[config]\r\nwinnum=4\r\nreplay=1\r\n";
        for (int i = 0; i < 4; ++i)
            ini << "file" << i << "=" << testsupport::mediaPath(clips[i]) << "\r\n";
    }

    // The shell command that runs `program` with `arguments` in the wall folder under the
    // locale `lang`, with no other language variable set.
    std::string viewerCommand(const std::string& lang, const std::string& arguments,
                              const std::string& program = MONVID_VIDWALL_PATH) {
        return "cd '" + work_.string() +
               "' && exec env -u LANGUAGE -u LC_ALL -u LC_MESSAGES LANG=" + lang + " '" + program +
               "' " + arguments;
    }

    // Starts vidwall in the wall folder and waits for its window, and, unless it plays at
    // once, for its idle wall.
    void startViewer(const std::string& lang = "zh_CN.UTF-8", const std::string& arguments = "") {
        viewer_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{"sh", "-c", viewerCommand(lang, arguments)},
            dir_.file("vidwall.log"));
        // The program's mapped main window; Qt also makes unmapped helper windows.
        const bool found = testsupport::waitUntil(
            [&] {
                const std::string ids = commandOutput(
                    {"xdotool", "search", "--onlyvisible", "--name", "^vidwall$"}, dir_.path());
                std::istringstream list(ids);
                for (std::string id; std::getline(list, id);) {
                    readGeometry(id);
                    if (geometry_.width > 100) {
                        window_ = id;
                        return true;
                    }
                }
                return false;
            },
            30000, 100);
        ASSERT_TRUE(found) << "vidwall did not show its window";
        if (arguments.find("--play") != std::string::npos)
            return;
        // Its four cells have painted their idle pictures, which hold still until Play.
        std::vector<QImage> last(4);
        const bool idle = testsupport::waitUntil(
            [&] {
                readGeometry(window_);
                bool steady = geometry_.width > 100;
                for (int i = 0; i < 4; ++i) {
                    QImage now = cell(i);
                    steady = steady && isDrawn(now) && now == last[i];
                    last[i] = std::move(now);
                }
                return steady;
            },
            30000, 100);
        ASSERT_TRUE(idle) << "vidwall did not paint its idle wall";
    }

    // Anything but one flat colour (a window not painted yet).
    static bool isDrawn(const QImage& image) {
        if (image.isNull())
            return false;
        const QRgb first = image.pixel(0, 0);
        for (int y = 0; y < image.height(); y += 3)
            for (int x = 0; x < image.width(); x += 3)
                if (image.pixel(x, y) != first)
                    return true;
        return false;
    }

    void readGeometry(const std::string& id) {
        geometry_ = Geometry{};
        std::istringstream shell(
            commandOutput({"xdotool", "getwindowgeometry", "--shell", id}, dir_.path()));
        std::string line;
        while (std::getline(shell, line)) {
            const auto eq = line.find('=');
            if (eq == std::string::npos)
                continue;
            const int v = std::atoi(line.substr(eq + 1).c_str());
            const std::string key = line.substr(0, eq);
            if (key == "X")
                geometry_.x = v;
            if (key == "Y")
                geometry_.y = v;
            if (key == "WIDTH")
                geometry_.width = v;
            if (key == "HEIGHT")
                geometry_.height = v;
        }
    }

    // Clicks a point of the window, in window coordinates.
    void click(int x, int y) {
        ASSERT_EQ(runCommand({"xdotool", "mousemove", "--window", window_, std::to_string(x),
                              std::to_string(y), "click", "1"},
                             10000),
                  0);
    }
    // The buttons, left to right: Settings, Play, Stop, each 75 pixels wide, 20 apart.
    void clickButton(int index) { click(20 + index * 95 + 30, geometry_.height - 20 + 8); }

    // A window of vidwall's with exactly this title shown on the display, or "". Titles are
    // compared as the window manager reads them (_NET_WM_NAME, UTF-8).
    std::string findWindow(const std::string& title) {
        std::istringstream list(commandOutput(
            {"xdotool", "search", "--onlyvisible", "--classname", "vidwall"}, dir_.path()));
        for (std::string id; std::getline(list, id);)
            if (commandOutput({"xdotool", "getwindowname", id}, dir_.path()) == title + "\n")
                return id;
        return {};
    }
    bool waitForWindow(const std::string& name, std::string* id = nullptr) {
        std::string found;
        const bool shown =
            testsupport::waitUntil([&] { return !(found = findWindow(name)).empty(); }, 30000, 100);
        if (id)
            *id = found;
        return shown;
    }
    // Presses a key in a window until it goes away. A key pressed before the window has the
    // keyboard focus is lost, so it is pressed again while the window stays.
    bool pressUntilGone(const std::string& name, const std::string& id, const std::string& key) {
        for (int i = 0; i < 5; ++i) {
            runCommand({"xdotool", "key", "--window", id, key}, 10000);
            if (testsupport::waitUntil([&] { return findWindow(name).empty(); }, 5000, 100))
                return true;
        }
        return false;
    }
    void pressKey(const std::string& key) {
        EXPECT_EQ(runCommand({"xdotool", "key", "--window", window_, key}, 10000), 0);
    }

    // Every cell leaves `before` (when given) and then keeps changing.
    void expectMoving(const std::vector<QImage>& before = {}) {
        for (int i = 0; i < 4; ++i) {
            if (!before.empty()) {
                EXPECT_TRUE(testsupport::waitUntil([&] { return cell(i) != before[i]; }, 15000))
                    << "cell " << i << " still shows the idle picture" << scene();
            }
            const QImage first = cell(i);
            EXPECT_TRUE(testsupport::waitUntil([&] { return cell(i) != first; }, 15000))
                << "cell " << i << " does not move" << scene();
        }
    }

    // What a failure needs to be understood: where the window was, the whole screen (kept
    // beside the test's other files in the system's temporary folder) and vidwall's last lines.
    std::string scene() {
        readGeometry(window_);
        const std::string shot = (std::filesystem::temp_directory_path() /
                                  ("vidwall-end-to-end-" + std::to_string(getpid()) + ".png"))
                                     .string();
        QGuiApplication::primaryScreen()->grabWindow(0).save(QString::fromStdString(shot));
        std::string log = readAll(dir_.file("vidwall.log"));
        std::size_t from = log.size();
        for (int lines = 0; lines < 25 && from > 0; ++lines)
            from = log.rfind('\n', from - 1);
        return "\nwindow " + std::to_string(geometry_.width) + "x" +
               std::to_string(geometry_.height) + " at " + std::to_string(geometry_.x) + "," +
               std::to_string(geometry_.y) + "; screen in " + shot + "\nvidwall's last lines:\n" +
               log.substr(from == std::string::npos ? 0 : from);
    }

    // One cell of the 2 × 2 wall, less its title strip and frame.
    QImage cell(int index) {
        const int videoHeight = geometry_.height - band_;
        const int cw = geometry_.width / 2, ch = videoHeight / 2;
        const int cx = geometry_.x + (index % 2) * cw, cy = geometry_.y + (index / 2) * ch;
        return QGuiApplication::primaryScreen()
            ->grabWindow(0, cx + 4, cy + 24, cw - 8, ch - 28)
            .toImage();
    }

    testsupport::TempDir dir_;
    std::filesystem::path work_;
    std::unique_ptr<ChildProcess> viewer_;
    std::string window_;
    Geometry geometry_;
    int band_ = 20;  // height of the button band; 0 in full screen
};

}  // namespace

TEST_F(EndToEnd, PlayShowsFourMovingPicturesStopBringsBackTheIdlePictures) {
    ASSERT_NO_FATAL_FAILURE(startViewer());
    std::vector<QImage> before;
    for (int i = 0; i < 4; ++i)
        before.push_back(cell(i));

    clickButton(1);  // 播放
    expectMoving(before);

    clickButton(2);  // 停止
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(testsupport::waitUntil([&] { return cell(i) == before[i]; }, 10000))
            << "cell " << i << " is not idle again";
    EXPECT_TRUE(viewer_->running());
}

TEST_F(EndToEnd, SettingsOpensTheDialogAndSavingWritesEveryKey) {
    ASSERT_NO_FATAL_FAILURE(startViewer());
    clickButton(0);  // 设置
    std::string dialog;
    ASSERT_TRUE(waitForWindow("播放设置", &dialog)) << "the settings dialog did not open";
    // "保存" is the default button: Return saves and closes the dialog.
    EXPECT_TRUE(pressUntilGone("播放设置", dialog, "Return"))
        << "the settings dialog did not close";
    const std::string ini = (work_ / "set.ini").string();
    EXPECT_EQ(platform::GetPrivateProfileInt("config", "winnum", 0, ini), 4);
    EXPECT_EQ(platform::GetPrivateProfileInt("config", "replay", 0, ini), 1);
    EXPECT_EQ(platform::GetPrivateProfileString("config", "file0", "", ini),
              testsupport::mediaPath("video_only.mp4"));
    EXPECT_EQ(platform::GetPrivateProfileString("config", "file15", "?", ini), "");
}

TEST_F(EndToEnd, EnglishUnderAnEnglishLocaleThePartsTextsUnderAChineseOne) {
    const struct {
        const char* lang;
        const char* settingsTitle;
        const char* aboutTitle;
    } cases[] = {{"en_US.UTF-8", "Play Settings", "About vidwall"},
                 {"zh_CN.UTF-8", "播放设置", "关于 vidwall"},
                 {"de_DE.UTF-8", "Play Settings", "About vidwall"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lang);
        ASSERT_NO_FATAL_FAILURE(startViewer(c.lang));
        clickButton(0);  // Settings
        std::string dialog;
        ASSERT_TRUE(waitForWindow(c.settingsTitle, &dialog)) << "no settings dialog so named";
        EXPECT_TRUE(pressUntilGone(c.settingsTitle, dialog, "Escape"));  // cancels
        // F1 opens the About box; its OK button is the default.
        std::string about;
        ASSERT_TRUE(testsupport::waitUntil(
            [&] {
                runCommand({"xdotool", "key", "--window", window_, "F1"}, 10000);
                return testsupport::waitUntil(
                    [&] { return !(about = findWindow(c.aboutTitle)).empty(); }, 3000, 100);
            },
            30000, 100))
            << "no About box so named";
        EXPECT_TRUE(pressUntilGone(c.aboutTitle, about, "Return"));
        EXPECT_TRUE(viewer_->running());
        viewer_.reset();
    }
}

TEST_F(EndToEnd, KioskFromTheCommandLineFillsTheScreenPlayingAndEscapeBringsTheBandBack) {
    // The folder's own set.ini would show one empty window: the other file is the one used.
    std::filesystem::rename(work_ / "set.ini", work_ / "other.ini");
    std::ofstream(work_ / "set.ini", std::ios::binary) << "[config]\r\nwinnum=1\r\n";
    ASSERT_NO_FATAL_FAILURE(startViewer("en_US.UTF-8", "--config other.ini --play --fullscreen"));
    ASSERT_TRUE(testsupport::waitUntil(
        [&] {
            readGeometry(window_);
            return geometry_.width == 1024 && geometry_.height == 768;
        },
        30000, 100))
        << "the window does not fill the screen: " << geometry_.width << "x" << geometry_.height;
    band_ = 0;
    expectMoving();  // four cells down to the screen's lower edge, playing

    // A key pressed before the window has the keyboard focus is lost: pressed until it acts.
    ASSERT_TRUE(testsupport::waitUntil(
        [&] {
            pressKey("Escape");
            return testsupport::waitUntil(
                [&] {
                    readGeometry(window_);
                    return geometry_.width < 1024 && geometry_.height < 768;
                },
                3000, 100);
        },
        30000, 100))
        << "Escape did not leave full screen";
    band_ = 20;
    expectMoving();
    // The band is back: its Settings button opens the dialog.
    clickButton(0);
    std::string dialog;
    ASSERT_TRUE(waitForWindow("Play Settings", &dialog)) << "the band's buttons are not there";
    EXPECT_TRUE(pressUntilGone("Play Settings", dialog, "Escape"));
    EXPECT_TRUE(viewer_->running());
}

TEST_F(EndToEnd, TermIntAndHupAfterPlayingWithSoundEndTheProgramCleanly) {
    // Cell 1's clip has sound: SDL's audio has started by the time the signal comes.
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal));
        ASSERT_NO_FATAL_FAILURE(startViewer("en_US.UTF-8", "--play"));
        expectMoving();
        ASSERT_EQ(kill(viewer_->pid(), signal), 0);
        EXPECT_EQ(viewer_->wait(20000), 0) << "vidwall did not end by itself with code 0";
        EXPECT_FALSE(viewer_->running());
        viewer_.reset();
    }
}

TEST_F(EndToEnd, WithAnEmptyRegistryTheFirstRunRegistersTheControlAndPlays) {
    const std::string registry = dir_.file("registry.ini");
    std::filesystem::remove(registry);
    ASSERT_NO_FATAL_FAILURE(startViewer("en_US.UTF-8", "--play"));
    readGeometry(window_);
    expectMoving();
    std::ifstream in(registry);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(text.find("[CLSID\\{C979313E-99A1-467A-8715-85F91ABF8F95}]"), std::string::npos)
        << text;
    EXPECT_NE(text.find(std::filesystem::canonical(MONVID_LIBRARY_PATH).string()),
              std::string::npos)
        << text;
}

TEST_F(EndToEnd, AnUnloadableControlLibraryIsReportedAndTheProgramEndsWithAnError) {
    const std::string registry = dir_.file("registry.ini");
    std::filesystem::remove(registry);
    // An installation whose control library is damaged: the program with a file beside it
    // that is no library.
    const std::filesystem::path bin = dir_.path() / "bin";
    std::filesystem::create_directories(bin);
    std::filesystem::copy_file(MONVID_VIDWALL_PATH, bin / "vidwall");
    std::ofstream(bin / "libmonvid.so") << "damaged";
    setenv("MONVID_TRANSLATIONS", MONVID_TRANSLATIONS_BUILD_DIR, 1);

    const std::string log = dir_.file("unattended.log");
    const int code = runCommand(
        {"sh", "-c",
         viewerCommand("en_US.UTF-8", "--unattended --play", (bin / "vidwall").string())},
        60000, log);
    EXPECT_EQ(code, 1);
    std::ifstream in(log);
    const std::string said((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(said.find("Cannot register the video wall control library"), std::string::npos)
        << said;
    EXPECT_NE(said.find("cannot load " + (bin / "libmonvid.so").string() + ": "), std::string::npos)
        << said;
    EXPECT_NE(said.find("Registry file: " + registry), std::string::npos) << said;
    EXPECT_FALSE(std::filesystem::exists(registry));

    // Interactive, the same is said in a box; closing it ends the program.
    ChildProcess viewer({"sh", "-c", viewerCommand("en_US.UTF-8", "", (bin / "vidwall").string())},
                        dir_.file("interactive.log"));
    std::string box;
    ASSERT_TRUE(waitForWindow("vidwall Cannot Start", &box)) << "no message box";
    EXPECT_TRUE(pressUntilGone("vidwall Cannot Start", box, "Return"));
    EXPECT_EQ(viewer.wait(30000), 1);
    unsetenv("MONVID_TRANSLATIONS");
}

TEST_F(EndToEnd, HelpVersionAndWrongOptionsNeedNoDisplay) {
    const auto run = [&](const std::string& arguments, std::string& output) {
        const std::string log = dir_.file("cli.log");
        std::filesystem::remove(log);
        const int code = runCommand(
            {"sh", "-c", "unset DISPLAY; " + viewerCommand("en_US.UTF-8", arguments)}, 30000, log);
        std::ifstream in(log);
        output.assign(std::istreambuf_iterator<char>(in), {});
        return code;
    };
    std::string out;
    EXPECT_EQ(run("--help", out), 0);
    for (const char* expected :
         {"--config", "--play", "--fullscreen", "--screen", "--lang", "Show this help and exit."})
        EXPECT_NE(out.find(expected), std::string::npos) << expected << " in:\n" << out;
    EXPECT_EQ(run("--lang zh --help", out), 0);
    EXPECT_NE(out.find("显示本帮助并退出。"), std::string::npos) << out;
    EXPECT_EQ(run("--version", out), 0);
    EXPECT_EQ(out, "vidwall 1.0.0\n");
    EXPECT_EQ(run("--bogus", out), 2);
    EXPECT_NE(out.find("Unknown option 'bogus'"), std::string::npos) << out;
    EXPECT_EQ(run("--screen two", out), 2);
    EXPECT_EQ(run("leftover.ini", out), 2);
    // Windows without a display: one line and a code of its own, unattended or not.
    for (const char* arguments : {"--play", "--unattended --play", "-platform xcb"}) {
        EXPECT_EQ(run(arguments, out), 3) << arguments;
        EXPECT_EQ(out, "vidwall: No display to show the windows on (DISPLAY is not set).\n")
            << arguments;
    }
    EXPECT_EQ(run("-display :4093", out), 3);
    EXPECT_EQ(out, "vidwall: Cannot open display :4093.\n");
    EXPECT_EQ(run("-platform xcb --bogus", out), 2) << "our mistakes are still told first";
}

TEST_F(EndToEnd, QtsOwnOptionsWorkBesideOurs) {
    // -display names the test's X server while DISPLAY is unset: the window shows there.
    viewer_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{
            "sh", "-c",
            "unset DISPLAY; " + viewerCommand("en_US.UTF-8", "-display " + g_display +
                                                                 " --play -qwindowtitle wall")},
        dir_.file("vidwall.log"));
    EXPECT_TRUE(testsupport::waitUntil(
        [&] {
            return !commandOutput({"xdotool", "search", "--onlyvisible", "--name", "^wall$"},
                                  dir_.path())
                        .empty();
        },
        30000, 100))
        << "no window on the display named by -display";
    ASSERT_EQ(kill(viewer_->pid(), SIGTERM), 0);
    EXPECT_EQ(viewer_->wait(20000), 0);

    // Off screen (no window anywhere), playing, until told to end.
    viewer_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{
            "sh", "-c",
            "unset DISPLAY; " + viewerCommand("en_US.UTF-8", "-platform offscreen --play")},
        dir_.file("offscreen.log"));
    // Cell 1's sound reports each chunk it hands over on standard output, which reaches the
    // log a few kilobytes at a time.
    EXPECT_TRUE(testsupport::waitUntil(
        [&] {
            return readAll(dir_.file("offscreen.log")).find("out_buffer_size") != std::string::npos;
        },
        30000, 100))
        << "nothing played off screen: " << readAll(dir_.file("offscreen.log"));
    EXPECT_TRUE(viewer_->running());
    ASSERT_EQ(kill(viewer_->pid(), SIGTERM), 0);
    EXPECT_EQ(viewer_->wait(20000), 0);
    viewer_.reset();
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();

    // A private X server for the whole program, on a display number nobody else uses.
    int display = 100 + (getpid() % 400);
    while (std::filesystem::exists("/tmp/.X" + std::to_string(display) + "-lock"))
        ++display;
    g_display = ":" + std::to_string(display);
    ChildProcess xvfb({"Xvfb", g_display, "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(display);
    if (!testsupport::waitFor([&] { return std::filesystem::exists(socket); }, 30000, 50)) {
        std::fprintf(stderr, "Xvfb did not start on %s\n", g_display.c_str());
        return 1;
    }
    setenv("DISPLAY", g_display.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
