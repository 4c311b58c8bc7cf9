// vidwall as a user meets it: a real program on a real X server (Xvfb), its control
// registered with the registration tool, "set.ini" naming four clips, buttons clicked with
// xdotool and the screen read back.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <cstdio>
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

// Output of a command (its first line), or empty.
std::string commandOutput(const std::vector<std::string>& argv, const std::string& dir) {
    const std::string out = dir + "/cmd.out";
    std::filesystem::remove(out);
    if (runCommand(argv, 20000, out) != 0)
        return {};
    std::ifstream in(out);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
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

    // Starts vidwall in the wall folder and waits for its window.
    void startViewer() {
        const std::string script =
            "cd '" + work_.string() + "' && exec '" + MONVID_VIDWALL_PATH + "'";
        viewer_ = std::make_unique<ChildProcess>(std::vector<std::string>{"sh", "-c", script},
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

    // One cell of the 2 × 2 wall, less its title strip and frame.
    QImage cell(int index) {
        const int videoHeight = geometry_.height - 20;
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
};

}  // namespace

TEST_F(EndToEnd, PlayShowsFourMovingPicturesStopBringsBackTheIdlePictures) {
    ASSERT_NO_FATAL_FAILURE(startViewer());
    std::vector<QImage> before;
    for (int i = 0; i < 4; ++i)
        before.push_back(cell(i));

    clickButton(1);  // 播放
    // Every cell leaves its idle picture, and then keeps changing.
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(testsupport::waitUntil([&] { return cell(i) != before[i]; }, 15000))
            << "cell " << i << " still shows the idle picture";
        const QImage first = cell(i);
        EXPECT_TRUE(testsupport::waitUntil([&] { return cell(i) != first; }, 5000))
            << "cell " << i << " does not move";
    }

    clickButton(2);  // 停止
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(testsupport::waitUntil([&] { return cell(i) == before[i]; }, 10000))
            << "cell " << i << " is not idle again";
    EXPECT_TRUE(viewer_->running());
}

TEST_F(EndToEnd, SettingsOpensTheDialogAndSavingWritesEveryKey) {
    ASSERT_NO_FATAL_FAILURE(startViewer());
    clickButton(0);  // 设置
    auto findDialog = [&] {
        const std::string ids = commandOutput(
            {"xdotool", "search", "--onlyvisible", "--name", "播放设置"}, dir_.path());
        return ids.substr(0, ids.find('\n'));
    };
    std::string dialog;
    ASSERT_TRUE(
        testsupport::waitUntil([&] { return !(dialog = findDialog()).empty(); }, 30000, 100))
        << "the settings dialog did not open";
    // "保存" is the default button: Return saves and closes the dialog. A key pressed before
    // the dialog has the keyboard focus is lost, so it is pressed again while the dialog stays.
    bool closed = false;
    for (int i = 0; i < 5 && !closed; ++i) {
        runCommand({"xdotool", "key", "--window", dialog, "Return"}, 10000);
        closed = testsupport::waitUntil([&] { return findDialog().empty(); }, 5000, 100);
    }
    EXPECT_TRUE(closed) << "the settings dialog did not close";
    const std::string ini = (work_ / "set.ini").string();
    EXPECT_EQ(platform::GetPrivateProfileInt("config", "winnum", 0, ini), 4);
    EXPECT_EQ(platform::GetPrivateProfileInt("config", "replay", 0, ini), 1);
    EXPECT_EQ(platform::GetPrivateProfileString("config", "file0", "", ini),
              testsupport::mediaPath("video_only.mp4"));
    EXPECT_EQ(platform::GetPrivateProfileString("config", "file15", "?", ini), "");
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
