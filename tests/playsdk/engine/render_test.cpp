// Ports showing real H.264 in windows of a private Xvfb, through the shared-memory and the
// plain backends (Xvfb has no XVideo adaptor): the window's pixels against the picture
// scaled to it, resizing, the draw-over callback, Stop's clearing, sixteen ports at once,
// hidden and destroyed windows, the backend choice and the display devices.
#include <cairo.h>
// gtest before Xlib, whose None and Bool macros clash with its names.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "display_devices.h"
#include "picture_drawer.h"
#include "support/media.h"
#include "vo_select.h"
#include "x11_connection.h"
#include "x11_renderer.h"
#include "x11_test_support.h"
#include "zelplay.h"

using namespace enginetest;
using zelplay::VideoBackend;
using zelplay::X11VideoOutput;

namespace {

// The test's own connection and what reached the test's own Xlib error handler.
Display* g_display = nullptr;
std::atomic<int> g_ownErrors{0};      // errors on the test's connection
std::atomic<int> g_foreignErrors{0};  // errors on any other connection (the library's)

int testErrorHandler(Display* display, XErrorEvent*) {
    (display == g_display ? g_ownErrors : g_foreignErrors).fetch_add(1);
    return 0;
}

class XEnvironment : public testing::Environment {
  public:
    void SetUp() override {
        server_ = std::make_unique<XvfbServer>();
        ASSERT_TRUE(server_->ok()) << "Xvfb did not start";
        // The caller's handler is in place before the library's first connection.
        XSetErrorHandler(testErrorHandler);
        g_display = XOpenDisplay(nullptr);
        ASSERT_NE(g_display, nullptr);
    }
    void TearDown() override {
        if (g_display != nullptr)
            XCloseDisplay(g_display);
        g_display = nullptr;
        server_.reset();
    }

  private:
    std::unique_ptr<XvfbServer> server_;
};

[[maybe_unused]] testing::Environment* const g_env =
    testing::AddGlobalTestEnvironment(new XEnvironment);

// New ports take an X11 output forced to one backend; the outputs are remembered so a
// test can read their counters.
class ForcedBackend {
  public:
    explicit ForcedBackend(VideoBackend backend) {
        zelplay::setVideoOutputFactory([this, backend] {
            auto output = std::make_unique<X11VideoOutput>(backend);
            std::lock_guard lock(lock_);
            outputs_.push_back(output.get());
            return output;
        });
    }
    ~ForcedBackend() { zelplay::setVideoOutputFactory({}); }
    X11VideoOutput& output(size_t i) {
        std::lock_guard lock(lock_);
        return *outputs_.at(i);
    }

  private:
    std::mutex lock_;
    std::vector<X11VideoOutput*> outputs_;  // guarded by lock_; owned by their ports
};

// A port in one stream mode that keeps the newest decoded picture.
class StreamPort {
  public:
    explicit StreamPort(int mode) : mode_(mode) {
        EXPECT_EQ(ZelPlay_GetPort(&port_), 1);
        EXPECT_EQ(ZelPlay_SetPlayMode(port_, mode), 1);
        EXPECT_EQ(ZelPlay_SetDelayTime(port_, 0, 0), 1);
        EXPECT_EQ(ZelPlay_OpenStream(port_, 8 << 20), 1);
    }
    ~StreamPort() { EXPECT_EQ(ZelPlay_FreePort(port_), 1); }
    ZELPLAY_PORT port() const { return port_; }

    bool play(uintptr_t window) {
        // Stop clears the decode callback: set it for each play.
        ZelPlay_SetDecCallBack(port_, &StreamPort::decoded, reinterpret_cast<ZELPLAY_USER>(this));
        return ZelPlay_Play(port_, window) == 1;
    }
    void feed(const std::vector<AccessUnit>& units, uint32_t count = 0) {
        const uint32_t n = count == 0 ? static_cast<uint32_t>(units.size()) : count;
        for (uint32_t i = 0; i < n; ++i) {
            const auto rec = recordForUnit(units[next_ % units.size()], next_);
            ++next_;
            ZelPlay_InputVideoData(port_, rec.data(), static_cast<uint32_t>(rec.size()));
        }
    }
    // The newest decoded picture, once there is one.
    bool picture(Yv12& out) {
        std::lock_guard lock(lock_);
        out = last_;
        return last_.width > 0;
    }

  private:
    static void decoded(ZELPLAY_PORT, const uint8_t* data, int32_t size,
                        const ZELPLAY_FRAME_INFO* info, ZELPLAY_USER user) {
        auto* self = reinterpret_cast<StreamPort*>(user);
        if (info->type != ZELPLAY_FRAME_TYPE_YV12)
            return;
        std::lock_guard lock(self->lock_);
        self->last_.width = info->width;
        self->last_.height = info->height;
        self->last_.planes.assign(data, data + size);
    }

    int mode_;
    ZELPLAY_PORT port_ = 0;
    uint32_t next_ = 0;
    std::mutex lock_;
    Yv12 last_;  // guarded by lock_
};

// Waits until the window shows the port's picture scaled to the window's size.
bool showsPicture(TestWindow& window, StreamPort& port, int timeoutMs = 15000) {
    Difference last;
    const bool ok = waitFor(
        [&] {
            Yv12 pic;
            if (!port.picture(pic))
                return false;
            const RgbImage shown = window.grab();
            const RgbImage ref = referenceImage(pic, window.width(), window.height());
            last = compare(shown, ref);
            return looksAlike(shown, ref);
        },
        timeoutMs);
    if (!ok)
        ADD_FAILURE() << "window " << window.width() << "x" << window.height() << " differs: mean "
                      << last.meanAbs << ", far " << last.farShare;
    return ok;
}

RgbImage crop(const RgbImage& image, int x, int y, int width, int height) {
    RgbImage out;
    out.width = width;
    out.height = height;
    for (int row = y; row < y + height; ++row)
        for (int col = x; col < x + width; ++col)
            out.pixels.push_back(image.at(col, row));
    return out;
}

const std::vector<AccessUnit>& bars() {
    static testsupport::TempDir dir;
    static const std::vector<AccessUnit> units =
        makeH264(dir.path().string(), 320, 240, 10, 5, {}, "smptebars");
    return units;
}

}  // namespace

class ShownInWindow : public testing::TestWithParam<std::tuple<VideoBackend, int>> {};

TEST_P(ShownInWindow, MatchesThePictureScaledToTheWindowThroughResizesAndStopClearsIt) {
    const auto [backend, mode] = GetParam();
    ASSERT_EQ(bars().size(), 10u);
    ForcedBackend forced(backend);
    TestWindow window(g_display, 20, 20, 320, 240);
    StreamPort port(mode);
    ASSERT_TRUE(port.play(window.handle()));
    EXPECT_EQ(forced.output(0).backend(), backend);
    port.feed(bars());
    EXPECT_TRUE(showsPicture(window, port));

    // Smaller, then larger than the picture: the render thread follows the window.
    window.resize(200, 150);
    EXPECT_TRUE(showsPicture(window, port));
    window.resize(480, 368);
    EXPECT_TRUE(showsPicture(window, port));

    EXPECT_EQ(ZelPlay_Stop(port.port()), 1);
    EXPECT_TRUE(waitFor([&] { return isBlack(window.grab()); }, 10000))
        << "the picture stayed after Stop";
    EXPECT_EQ(g_foreignErrors.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(Backends, ShownInWindow,
                         testing::Combine(testing::Values(VideoBackend::Shm, VideoBackend::X11),
                                          testing::Values(0, 1)),
                         [](const auto& info) {
                             return std::string(
                                        zelplay::videoBackendName(std::get<0>(info.param))) +
                                    "_mode" + std::to_string(std::get<1>(info.param));
                         });

// The shared-memory backend draws into its segments in turn: every picture shown is the
// newest one, never the one before it (a cellular automaton changes most pixels from one
// picture to the next).
TEST(ShownInWindow, EachNewPictureReplacesTheLastOneAtOnce) {
    testsupport::TempDir dir;
    const std::vector<AccessUnit> units =
        makeH264(dir.path().string(), 160, 120, 8, 8, {}, "life=ratio=0.5:seed=7:mold=0");
    ASSERT_EQ(units.size(), 8u);
    ForcedBackend forced(VideoBackend::Shm);
    TestWindow window(g_display, 40, 40, 160, 120);
    StreamPort port(0);
    ASSERT_TRUE(port.play(window.handle()));
    for (size_t i = 0; i < units.size(); ++i) {
        port.feed(units, 1);
        EXPECT_TRUE(showsPicture(window, port)) << "picture " << i;
    }
    EXPECT_EQ(g_foreignErrors.load(), 0);
}

namespace {

// Fills a red rectangle at (40, 40), 80 x 60 in picture coordinates.
struct RedBox {
    std::atomic<int> calls{0};
    std::atomic<int> surfaceWidth{0};
    std::atomic<int> surfaceHeight{0};

    static void draw(ZELPLAY_PORT, void* context, ZELPLAY_USER user) {
        auto* self = reinterpret_cast<RedBox*>(user);
        auto* cr = static_cast<cairo_t*>(context);
        cairo_surface_t* target = cairo_get_target(cr);
        self->surfaceWidth.store(cairo_image_surface_get_width(target));
        self->surfaceHeight.store(cairo_image_surface_get_height(target));
        cairo_set_source_rgb(cr, 1, 0, 0);
        cairo_rectangle(cr, 40, 40, 80, 60);
        cairo_fill(cr);
        self->calls.fetch_add(1);
    }
};

bool isRed(const RgbImage& image) {
    return !image.pixels.empty() &&
           std::all_of(image.pixels.begin(), image.pixels.end(),
                       [](const Rgb& p) { return p.r > 230 && p.g < 30 && p.b < 30; });
}

}  // namespace

class DrawOver : public testing::TestWithParam<VideoBackend> {};

TEST_P(DrawOver, TheCallbacksRectangleIsScaledWithThePictureAndClearingItRemovesIt) {
    ForcedBackend forced(GetParam());
    TestWindow window(g_display, 30, 30, 640, 480);  // twice the picture
    StreamPort port(0);
    RedBox box;
    ASSERT_EQ(
        ZelPlay_RigisterDrawFun(port.port(), &RedBox::draw, reinterpret_cast<ZELPLAY_USER>(&box)),
        1);
    ASSERT_TRUE(port.play(window.handle()));
    port.feed(bars());
    // The box covers (80, 80)-(240, 200) of the window; its inside, away from the edges.
    EXPECT_TRUE(waitFor([&] { return isRed(crop(window.grab(), 88, 88, 144, 104)); }, 15000));
    EXPECT_EQ(box.surfaceWidth.load(), 320) << "the callback draws in picture coordinates";
    EXPECT_EQ(box.surfaceHeight.load(), 240);
    // Away from the box the picture is untouched.
    Yv12 pic;
    ASSERT_TRUE(port.picture(pic));
    const RgbImage ref = referenceImage(pic, 640, 480);
    const RgbImage right = crop(window.grab(), 320, 0, 320, 480);
    const RgbImage refRight = crop(ref, 320, 0, 320, 480);
    EXPECT_TRUE(looksAlike(right, refRight))
        << compare(right, refRight).meanAbs << " " << compare(right, refRight).farShare;

    // Once cleared, the callback is not called again and the next picture has no box.
    ASSERT_EQ(ZelPlay_RigisterDrawFun(port.port(), nullptr, 0), 1);
    const int calls = box.calls.load();
    port.feed(bars(), 3);
    EXPECT_TRUE(showsPicture(window, port));
    EXPECT_EQ(box.calls.load(), calls);
}

INSTANTIATE_TEST_SUITE_P(Backends, DrawOver, testing::Values(VideoBackend::Shm, VideoBackend::X11),
                         [](const auto& info) { return zelplay::videoBackendName(info.param); });

TEST(SixteenPorts, EachWindowShowsItsOwnStream) {
    ForcedBackend forced(VideoBackend::Shm);
    testsupport::TempDir dir;
    struct Stream {
        Rgb colour;
        std::vector<AccessUnit> units;
    };
    std::vector<Stream> streams(16);
    for (int i = 0; i < 16; ++i) {
        const int low = (i & 8) ? 110 : 30;
        Rgb c{(i & 1) ? 220 : low, (i & 2) ? 220 : low, (i & 4) ? 220 : low};
        char name[16];
        std::snprintf(name, sizeof name, "0x%02X%02X%02X", c.r, c.g, c.b);
        streams[i].colour = c;
        streams[i].units =
            makeH264(dir.path().string(), 160, 112, 6, 3, {}, std::string("color=c=") + name);
        ASSERT_EQ(streams[i].units.size(), 6u);
    }
    std::vector<std::unique_ptr<TestWindow>> windows;
    std::vector<std::unique_ptr<StreamPort>> ports;
    for (int i = 0; i < 16; ++i) {
        windows.push_back(
            std::make_unique<TestWindow>(g_display, (i % 4) * 180, (i / 4) * 140, 160, 120));
        ports.push_back(std::make_unique<StreamPort>(i % 2));  // half real-time, half buffered
        ASSERT_TRUE(ports[i]->play(windows[i]->handle()));
    }
    // Every port fed from a thread of its own, at once.
    std::vector<std::thread> feeders;
    for (int i = 0; i < 16; ++i)
        feeders.emplace_back([&, i] { ports[i]->feed(streams[i].units); });
    for (auto& t : feeders)
        t.join();
    for (int i = 0; i < 16; ++i) {
        const Rgb want = streams[i].colour;
        Rgb seen;
        const bool ok = waitFor(
            [&] {
                const RgbImage middle = crop(windows[i]->grab(), 40, 30, 80, 60);
                seen = middle.at(40, 30);
                return std::all_of(middle.pixels.begin(), middle.pixels.end(), [&](const Rgb& p) {
                    return std::abs(p.r - want.r) < 16 && std::abs(p.g - want.g) < 16 &&
                           std::abs(p.b - want.b) < 16;
                });
            },
            15000);
        EXPECT_TRUE(ok) << "window " << i << " wants " << want.r << "," << want.g << "," << want.b
                        << " and shows " << seen.r << "," << seen.g << "," << seen.b;
    }
    ports.clear();
    EXPECT_EQ(g_foreignErrors.load(), 0);
}

TEST(DestroyedWindow, UnderAPlayingPortEndsNothingAndOtherHandlersStillSeeTheirErrors) {
    ForcedBackend forced(VideoBackend::Shm);
    auto window = std::make_unique<TestWindow>(g_display, 40, 40, 320, 240);
    const Window id = window->id();
    {
        StreamPort port(0);
        ASSERT_TRUE(port.play(window->handle()));
        X11VideoOutput& output = forced.output(0);
        std::atomic<bool> feeding{true};
        std::thread feeder([&] {
            while (feeding.load()) {
                port.feed(bars(), 1);
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
        EXPECT_TRUE(waitFor([&] { return output.counters().drawn >= 3; }, 15000));
        window->destroy();
        // The render thread goes on taking pictures from the slot, drawing none.
        const uint64_t taken = output.counters().taken;
        EXPECT_TRUE(waitFor([&] { return output.counters().taken >= taken + 10; }, 15000));
        feeding.store(false);
        feeder.join();
        EXPECT_EQ(ZelPlay_Stop(port.port()), 1);
    }
    EXPECT_EQ(g_foreignErrors.load(), 0) << "the library's errors reached the caller's handler";
    // An error on the caller's own connection still goes to the caller's handler.
    const int own = g_ownErrors.load();
    XMapWindow(g_display, id);
    XSync(g_display, False);
    EXPECT_EQ(g_ownErrors.load(), own + 1);

    // And the library still shows pictures in a new window.
    TestWindow next(g_display, 40, 40, 320, 240);
    StreamPort port(0);
    ASSERT_TRUE(port.play(next.handle()));
    port.feed(bars());
    EXPECT_TRUE(showsPicture(next, port));
}

TEST(HiddenWindow, CostsNoDrawingAndIsDrawnAgainWhenShown) {
    ForcedBackend forced(VideoBackend::Shm);
    TestWindow window(g_display, 50, 50, 320, 240);
    StreamPort port(0);
    ASSERT_TRUE(port.play(window.handle()));
    X11VideoOutput& output = forced.output(0);
    auto feedOneAndWait = [&] {
        const uint64_t taken = output.counters().taken;
        port.feed(bars(), 1);
        return waitFor([&] { return output.counters().taken > taken; }, 10000);
    };
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(feedOneAndWait());
    EXPECT_GE(output.counters().drawn, 1u);

    window.unmap();
    for (int i = 0; i < 3; ++i)  // the unmapping reaches the render thread meanwhile
        ASSERT_TRUE(feedOneAndWait());
    const uint64_t drawn = output.counters().drawn;
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(feedOneAndWait());
    EXPECT_EQ(output.counters().drawn, drawn) << "an unmapped window was drawn";

    window.map();  // exposed: the last picture is drawn again without new input
    EXPECT_TRUE(showsPicture(window, port));
    EXPECT_GT(output.counters().drawn, drawn);
}

namespace {

std::string firstLogLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

}  // namespace

TEST(BackendChoice, XVideoWithoutAnAdaptorFallsBackToSharedMemoryAndTheLogSaysSo) {
    testsupport::TempDir dir;
    const std::string log = dir.file("zelplay.log");
    setenv("ZELPLAY_LOG", log.c_str(), 1);
    ForcedBackend forced(VideoBackend::Xv);
    TestWindow window(g_display, 60, 60, 320, 240);
    StreamPort port(0);
    ASSERT_TRUE(port.play(window.handle()));
    EXPECT_EQ(forced.output(0).backend(), VideoBackend::Shm);
    const std::string line = firstLogLine(log);
    EXPECT_NE(line.find("video output shm"), std::string::npos) << line;
    EXPECT_NE(line.find("xv: no XVideo"), std::string::npos) << line;
    port.feed(bars());
    EXPECT_TRUE(showsPicture(window, port));
    unsetenv("ZELPLAY_LOG");
}

TEST(BackendChoice, TheEnvironmentForcesThePlainAndTheNullOutputs) {
    testsupport::TempDir dir;
    const std::string log = dir.file("zelplay.log");
    setenv("ZELPLAY_LOG", log.c_str(), 1);
    TestWindow window(g_display, 70, 70, 320, 240);
    {
        setenv("ZELPLAY_VIDEO_OUTPUT", "x11", 1);
        StreamPort port(0);
        ASSERT_TRUE(port.play(window.handle()));
        EXPECT_NE(firstLogLine(log).find("video output x11"), std::string::npos)
            << firstLogLine(log);
        port.feed(bars());
        EXPECT_TRUE(showsPicture(window, port));
        EXPECT_EQ(ZelPlay_Stop(port.port()), 1);
        EXPECT_TRUE(waitFor([&] { return isBlack(window.grab()); }, 10000));
    }
    {
        setenv("ZELPLAY_VIDEO_OUTPUT", "null", 1);
        std::remove(log.c_str());
        StreamPort port(0);
        EXPECT_NE(firstLogLine(log).find("video output null"), std::string::npos);
        ASSERT_TRUE(port.play(window.handle()));
        port.feed(bars());
        Yv12 pic;
        EXPECT_TRUE(port.picture(pic)) << "decoding goes on without an output";
        EXPECT_TRUE(isBlack(window.grab()));
    }
    unsetenv("ZELPLAY_VIDEO_OUTPUT");
    unsetenv("ZELPLAY_LOG");
}

TEST(BackendChoice, AWindowThatDoesNotExistFailsPlayWithTheRendererError) {
    ForcedBackend forced(VideoBackend::Shm);
    StreamPort port(0);
    EXPECT_EQ(ZelPlay_Play(port.port(), 0x7FFFFFF), 0);
    EXPECT_EQ(ZelPlay_GetLastError(port.port()), static_cast<uint32_t>(ZELPLAY_ERR_RENDERER));
    EXPECT_EQ(ZelPlay_Play(port.port(), ~uintptr_t{0}), 0);
    EXPECT_EQ(g_foreignErrors.load(), 0);
}

TEST(DisplayDevices, AreTheScreenAndItsMonitors) {
    const int count = ZelPlay_GetDDrawDeviceTotalNums();
    EXPECT_GE(count, 1);  // Xvfb reports its screen as one monitor
    const auto devices = zelplay::displayDevices();
    ASSERT_EQ(devices.size(), static_cast<size_t>(count) + 1);
    EXPECT_EQ(devices[0].width, 1280);
    EXPECT_EQ(devices[0].height, 1024);
    EXPECT_EQ(devices[1].width, 1280);

    StreamPort port(0);
    EXPECT_EQ(ZelPlay_SetDDrawDevice(port.port(), 0), 1);
    EXPECT_EQ(ZelPlay_SetDDrawDevice(port.port(), count), 1);
    EXPECT_EQ(ZelPlay_SetDDrawDevice(port.port(), count + 1), 0);
    EXPECT_EQ(ZelPlay_GetLastError(port.port()), static_cast<uint32_t>(ZELPLAY_ERR_ARGUMENT));
    EXPECT_EQ(ZelPlay_SetDDrawDevice(0, 0), 0);

    // A device chosen before play is kept for it; the picture is shown the same way.
    TestWindow window(g_display, 80, 80, 320, 240);
    ASSERT_EQ(ZelPlay_SetDDrawDevice(port.port(), 1), 1);
    ASSERT_TRUE(port.play(window.handle()));
    port.feed(bars());
    EXPECT_TRUE(showsPicture(window, port));
}

// Render threads open and close their connections at any time. libXext's process-wide
// bookkeeping of the extensions used on each display loses entries when that happens on
// several threads at once, which LeakSanitizer reports at the program's end.
TEST(X11Connections, OpenedUsedAndClosedOnManyThreadsAtOnce) {
    std::atomic<int> opened{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 60; ++i) {
                const auto connection = zelplay::X11Connection::open();
                if (!connection)
                    continue;
                ++opened;
                // What a render thread asks first.
                XShmQueryExtension(connection->display());
                const char* why = "";
                zelplay::grabYv12Port(connection->display(), &why);
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(opened.load(), 8 * 60);
}
