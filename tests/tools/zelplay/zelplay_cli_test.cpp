// zelplay as a user meets it: a real program on a private X server (Xvfb), keys sent with
// xdotool, the window's title read back; and its info command and refusals on the terminal.
// GoogleTest before Xlib, whose macros (None, Bool) clash with it.
#include <gtest/gtest.h>
// clang-format off
#include <X11/Xlib.h>
#include <X11/Xutil.h>
// clang-format on
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "file_media.h"
#include "support/corpus.h"
#include "support/media.h"
#include "support/process.h"
#include "support/wait.h"

using testsupport::ChildProcess;
using testsupport::runCommand;

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs zelplay to its end; its exit code, with standard output and error in *out.
int zelplay(const std::vector<std::string>& args, const testsupport::TempDir& dir,
            std::string* out) {
    std::vector<std::string> argv = {ZELPLAY_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    const std::string log = dir.file("zelplay.out");
    const int code = runCommand(argv, 60000, log);
    *out = readFile(log);
    return code;
}

std::string commandOutput(const std::vector<std::string>& argv, const testsupport::TempDir& dir) {
    const std::string out = dir.file("cmd.out");
    std::filesystem::remove(out);
    if (runCommand(argv, 20000, out) != 0)
        return {};
    return readFile(out);
}

// Position in ms shown in a title "name  mm:ss.d / mm:ss.d  1x ..."; -1 when none.
long titlePositionMs(const std::string& title) {
    std::smatch m;
    if (!std::regex_search(title, m, std::regex(R"((\d+):(\d+)\.(\d) /)")))
        return -1;
    return std::stol(m[1]) * 60000 + std::stol(m[2]) * 1000 + std::stol(m[3]) * 100;
}

// The player is a program of its own, without the tests' sanitizer settings: SDL's D-Bus
// connection lives until SDL_Quit, which the library leaves to its host.
void suppressSdlLeaks(const testsupport::TempDir& dir) {
    const std::string suppressions = dir.file("lsan.supp");
    std::ofstream(suppressions) << "leak:libdbus-1.so\n";
    setenv("LSAN_OPTIONS", ("suppressions=" + suppressions).c_str(), 1);
}

class ZelplayCli : public testing::Test {
  protected:
    void SetUp() override {
        suppressSdlLeaks(dir_);
        filetest::RecordRecipe recipe;
        recipe.seconds = 6;
        recipe.width = 320;
        recipe.height = 240;
        record_ = dir_.file("clip.ifv");
        ASSERT_EQ(filetest::makeRecord(dir_.path().string(), record_, recipe), 150u);
    }
    testsupport::TempDir dir_;
    std::string record_;
};

// A picture of the window's contents.
std::vector<unsigned long> windowPixels(Display* d, Window w) {
    XWindowAttributes a;
    if (XGetWindowAttributes(d, w, &a) == 0)
        return {};
    XImage* image = XGetImage(d, w, 0, 0, static_cast<unsigned>(a.width),
                              static_cast<unsigned>(a.height), AllPlanes, ZPixmap);
    if (image == nullptr)
        return {};
    std::vector<unsigned long> pixels;
    for (int y = 0; y < a.height; y += 4)
        for (int x = 0; x < a.width; x += 4)
            pixels.push_back(XGetPixel(image, x, y));
    XDestroyImage(image);
    return pixels;
}

}  // namespace

TEST_F(ZelplayCli, PlaysInAWindowPausesOnSpaceAndExitsAtTheEnd) {
    filetest::EndWindow server;  // starts the private X server (and sets DISPLAY)
    ASSERT_TRUE(server.ok());
    ChildProcess player({ZELPLAY_EXE, "--size", "480x270", record_}, dir_.file("player.log"));
    std::string id;
    ASSERT_TRUE(testsupport::waitFor(
        [&] {
            std::istringstream ids(commandOutput(
                {"xdotool", "search", "--onlyvisible", "--classname", "zelplay"}, dir_));
            return static_cast<bool>(std::getline(ids, id)) && !id.empty();
        },
        30000, 100))
        << readFile(dir_.file("player.log"));
    auto title = [&] { return commandOutput({"xdotool", "getwindowname", id}, dir_); };
    // The position in the title moves on.
    long first = -1;
    ASSERT_TRUE(
        testsupport::waitFor([&] { return (first = titlePositionMs(title())) >= 0; }, 10000, 50));
    EXPECT_NE(title().find("/ 00:05.9"), std::string::npos) << title();  // 150 frames: 5.96 s
    ASSERT_TRUE(testsupport::waitFor([&] { return titlePositionMs(title()) > first; }, 10000, 50))
        << title();
#ifdef ZELPLAY_EXPECT_PICTURES
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    const Window window = std::stoul(id);
    std::vector<unsigned long> before;
    ASSERT_TRUE(testsupport::waitFor(
        [&] {
            auto now = windowPixels(display, window);
            const bool moved = !before.empty() && now != before;
            before = std::move(now);
            return moved;
        },
        10000, 200))
        << "the window shows no moving pictures";
#endif

    // Space pauses: the title says so and its position holds.
    ASSERT_EQ(runCommand({"xdotool", "key", "--window", id, "space"}, 10000), 0);
    ASSERT_TRUE(testsupport::waitFor([&] { return title().find("paused") != std::string::npos; },
                                     10000, 50));
    const long held = titlePositionMs(title());
    EXPECT_FALSE(testsupport::waitFor([&] { return titlePositionMs(title()) != held; }, 1000, 100))
        << title();
#ifdef ZELPLAY_EXPECT_PICTURES
    before = windowPixels(display, window);
    EXPECT_FALSE(
        testsupport::waitFor([&] { return windowPixels(display, window) != before; }, 1000, 200));
    XCloseDisplay(display);
#endif
    // Space again resumes; at the end of the file it exits by itself, with 0.
    ASSERT_EQ(runCommand({"xdotool", "key", "--window", id, "space"}, 10000), 0);
    EXPECT_EQ(player.wait(60000), 0) << readFile(dir_.file("player.log"));
}

TEST_F(ZelplayCli, QuitsOnQ) {
    filetest::EndWindow server;
    ASSERT_TRUE(server.ok());
    ChildProcess player({ZELPLAY_EXE, "--loop", record_}, dir_.file("player.log"));
    std::string id;
    ASSERT_TRUE(testsupport::waitFor(
        [&] {
            std::istringstream ids(commandOutput(
                {"xdotool", "search", "--onlyvisible", "--classname", "zelplay"}, dir_));
            return static_cast<bool>(std::getline(ids, id)) && !id.empty();
        },
        30000, 100));
    // A key sent before the window takes events is lost: send again while it stays.
    int code = -1;
    for (int i = 0; i < 10 && code == -1; ++i) {
        runCommand({"xdotool", "key", "--window", id, "q"}, 10000);
        code = player.wait(2000);
    }
    EXPECT_EQ(code, 0) << readFile(dir_.file("player.log"));
}

TEST_F(ZelplayCli, InfoPrintsTheFactsOfARecordAndAnAvi) {
    std::string out;
    ASSERT_EQ(zelplay({"info", record_}, dir_, &out), 0) << out;
    EXPECT_NE(out.find("picture:    320 x 240"), std::string::npos) << out;
    EXPECT_NE(out.find("frames:     150"), std::string::npos) << out;
    EXPECT_NE(out.find("(5960 ms)"), std::string::npos) << out;
    EXPECT_NE(out.find("audio:      yes"), std::string::npos) << out;
    EXPECT_NE(out.find("2023-11-14 22:13:20 UTC"), std::string::npos) << out;

    const std::string avi = dir_.file("clip.avi");
    ASSERT_TRUE(filetest::makeAvi(avi, 2, "pcm_alaw"));
    ASSERT_EQ(zelplay({"info", "--json", avi}, dir_, &out), 0) << out;
    EXPECT_NE(out.find("\"kind\": \"avi\""), std::string::npos) << out;
    EXPECT_NE(out.find("\"width\": 320, \"height\": 240"), std::string::npos) << out;
    EXPECT_NE(out.find("\"duration_ms\": 2000, \"frames\": 50"), std::string::npos) << out;
    EXPECT_NE(out.find("\"audio\": true"), std::string::npos) << out;
}

TEST_F(ZelplayCli, BadFilesAndUsageGiveAMessageAndANonZeroExit) {
    std::string out;
    EXPECT_EQ(zelplay({dir_.file("missing.ifv")}, dir_, &out), 1);
    EXPECT_NE(out.find("No such file"), std::string::npos) << out;
    EXPECT_EQ(zelplay({"info", dir_.file("missing.avi")}, dir_, &out), 1);
    EXPECT_NE(out.find("No such file"), std::string::npos) << out;

    const std::string text = dir_.file("notes.txt");
    std::ofstream(text) << "hello";
    EXPECT_EQ(zelplay({text}, dir_, &out), 1);
    EXPECT_NE(out.find("unknown kind of file"), std::string::npos) << out;

    const std::string fake = dir_.file("fake.avi");
    std::ofstream(fake) << "not an AVI at all";
    EXPECT_EQ(zelplay({fake}, dir_, &out), 1);
    EXPECT_NE(out.find("not a file zelplay can read"), std::string::npos) << out;
    EXPECT_EQ(zelplay({"info", fake}, dir_, &out), 1);
    EXPECT_NE(out.find("not an AVI file"), std::string::npos) << out;

    if (geteuid() != 0) {  // root reads every file
        const std::string locked = dir_.file("locked.ifv");
        std::filesystem::copy_file(record_, locked);
        chmod(locked.c_str(), 0);
        EXPECT_EQ(zelplay({locked}, dir_, &out), 1);
        EXPECT_NE(out.find("Permission denied"), std::string::npos) << out;
    }
    EXPECT_EQ(zelplay({}, dir_, &out), 2);
    EXPECT_EQ(zelplay({"--bogus", record_}, dir_, &out), 2);
    EXPECT_EQ(zelplay({"--help"}, dir_, &out), 0);
    EXPECT_NE(out.find("space  pause"), std::string::npos);
    unsetenv("DISPLAY");
    EXPECT_EQ(zelplay({record_}, dir_, &out), 3);
    EXPECT_NE(out.find("cannot open the X display"), std::string::npos) << out;
}

// ---- The corpus of real-world files --------------------------------------------------------

class ZelplayCorpus : public testing::TestWithParam<corpus::Entry> {};

TEST_P(ZelplayCorpus, PlaysEveryPictureOfTheFile) {
    const corpus::Entry& e = GetParam();
    const size_t expected = corpus::pictureMd5s(e).size();
    ASSERT_GT(expected, 0u);
    filetest::EndWindow server;
    ASSERT_TRUE(server.ok());
    testsupport::TempDir dir;
    suppressSdlLeaks(dir);
    std::string out;
    ASSERT_EQ(zelplay({"--no-progress", "--verbose", "--speed", "16", corpus::path(e)}, dir, &out),
              0)
        << out;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(out, m, std::regex(R"(: (\d+) pictures in \d+ ms)"))) << out;
    std::printf("zelplay: %-34s pictures expected %zu, decoded %s\n", e.name.c_str(), expected,
                m[1].str().c_str());
    EXPECT_EQ(std::stoul(m[1]), expected) << out;
}

INSTANTIATE_TEST_SUITE_P(Corpus, ZelplayCorpus, testing::ValuesIn([] {
                             std::vector<corpus::Entry> v = corpus::entries(corpus::Kind::Avi);
                             for (const auto& e : corpus::entries(corpus::Kind::Record))
                                 v.push_back(e);
                             return v;
                         }()),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             for (char& c : name)
                                 c = c == '.' ? '_' : c;
                             return name;
                         });

TEST(ZelplayNoPicture, AFileWithoutAPictureToDecodeEndsWithOneLineAndANonZeroExit) {
    // An AVI of MPEG-4 Part 2 video: the library's H.264 decoder finds nothing in it.
    testsupport::TempDir dir;
    suppressSdlLeaks(dir);
    const std::string avi = dir.file("mpeg4.avi");
    ASSERT_EQ(
        runCommand({"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-y", "-f", "lavfi",
                    "-i", "testsrc2=size=320x240:rate=25", "-t", "1", "-c:v", "mpeg4", avi},
                   60000),
        0);
    filetest::EndWindow server;
    ASSERT_TRUE(server.ok());
    std::string out;
    EXPECT_EQ(zelplay({"--no-progress", "--speed", "16", avi}, dir, &out), 1);
    // One line of the player's own (a sanitizer may add its report after it).
    EXPECT_EQ(out.rfind("zelplay: " + avi + ": no picture decodes", 0), 0u) << out;
    EXPECT_EQ(out.find("\nzelplay"), std::string::npos) << out;
    EXPECT_EQ(out.find("[h264 @"), std::string::npos) << "the decoder's noise: " << out;
    // Asked for, the decoder's own messages and the count come too.
    EXPECT_EQ(zelplay({"--no-progress", "--verbose", "--speed", "16", avi}, dir, &out), 1);
    EXPECT_NE(out.find("[h264 @"), std::string::npos) << out;
    EXPECT_NE(out.find(": 0 pictures in"), std::string::npos) << out;
}
