// Test helpers for the video output: a private Xvfb, windows on it owned by the test's
// own connection, their pixels read back, and the reference a 4:2:0 picture should look
// like when it fills a window.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "h264_stream.h"
#include "support/process.h"

namespace enginetest {

// Polls cond every 10 ms until it holds or timeoutMs pass.
bool waitFor(const std::function<bool()>& cond, int timeoutMs);

// An Xvfb on a display number it picks itself (-displayfd); DISPLAY points at it while it
// lives. Skips nothing: a test without it fails.
class XvfbServer {
  public:
    XvfbServer();
    ~XvfbServer();
    bool ok() const { return !display_.empty(); }
    const std::string& display() const { return display_; }

  private:
    std::unique_ptr<testsupport::ChildProcess> process_;
    std::string display_;
};

struct Rgb {
    int r = 0, g = 0, b = 0;
};

struct RgbImage {
    int width = 0, height = 0;
    std::vector<Rgb> pixels;  // rows top-down
    const Rgb& at(int x, int y) const { return pixels[static_cast<size_t>(y * width + x)]; }
};

// A top-level window of the test's own, with a black background.
class TestWindow {
  public:
    TestWindow(Display* display, int x, int y, int width, int height);
    ~TestWindow();
    Window id() const { return window_; }
    uintptr_t handle() const { return static_cast<uintptr_t>(window_); }
    void resize(int width, int height);
    void unmap();
    void map();
    // Destroys the window now (the destructor then does nothing).
    void destroy();
    RgbImage grab();
    int width() const { return width_; }
    int height() const { return height_; }

  private:
    Display* display_;
    Window window_ = 0;
    int width_, height_;
};

// One still picture (planes Y, V, U) as the decoder handed it out.
struct Yv12 {
    int width = 0, height = 0;
    std::vector<uint8_t> planes;
};

// The picture in RGB (BT.601, limited range) scaled bilinearly to width x height.
RgbImage referenceImage(const Yv12& picture, int width, int height);

struct Difference {
    double meanAbs = 0;   // per channel, over every pixel
    double farShare = 0;  // share of pixels with a channel more than 48 off
};
Difference compare(const RgbImage& a, const RgbImage& b);
// Whether two images agree as a scaled picture does with its reference.
bool looksAlike(const RgbImage& shown, const RgbImage& reference);
// Whether every pixel is (nearly) black.
bool isBlack(const RgbImage& image);

}  // namespace enginetest
