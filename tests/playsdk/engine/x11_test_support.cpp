#include "x11_test_support.h"

#include <X11/Xutil.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace enginetest {

bool waitFor(const std::function<bool()>& cond, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!cond()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

XvfbServer::XvfbServer() {
    int fds[2];
    if (pipe(fds) != 0)
        return;
    // Xvfb writes the display number it took to the descriptor, once it accepts clients.
    process_ = std::make_unique<testsupport::ChildProcess>(
        std::vector<std::string>{"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
                                 "1280x1024x24", "-nolisten", "tcp", "-noreset"});
    close(fds[1]);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        if (poll(&p, 1, 100) <= 0)
            continue;
        char c = 0;
        if (read(fds[0], &c, 1) != 1 || c == '\n')
            break;
        number += c;
    }
    close(fds[0]);
    if (number.empty())
        return;
    display_ = ":" + number;
    setenv("DISPLAY", display_.c_str(), 1);
}

XvfbServer::~XvfbServer() {
    unsetenv("DISPLAY");
}

TestWindow::TestWindow(Display* display, int x, int y, int width, int height)
    : display_(display), width_(width), height_(height) {
    const int screen = DefaultScreen(display);
    window_ = XCreateSimpleWindow(display, RootWindow(display, screen), x, y,
                                  static_cast<unsigned>(width), static_cast<unsigned>(height), 0,
                                  BlackPixel(display, screen), BlackPixel(display, screen));
    map();
}

TestWindow::~TestWindow() {
    if (window_ != 0)
        destroy();
}

void TestWindow::map() {
    XMapWindow(display_, window_);
    XSync(display_, False);
    waitFor(
        [&] {
            XWindowAttributes a{};
            XGetWindowAttributes(display_, window_, &a);
            return a.map_state == IsViewable;
        },
        5000);
}

void TestWindow::unmap() {
    XUnmapWindow(display_, window_);
    XSync(display_, False);
}

void TestWindow::resize(int width, int height) {
    XResizeWindow(display_, window_, static_cast<unsigned>(width), static_cast<unsigned>(height));
    XSync(display_, False);
    width_ = width;
    height_ = height;
}

void TestWindow::destroy() {
    XDestroyWindow(display_, window_);
    XSync(display_, False);
    window_ = 0;
}

RgbImage TestWindow::grab() {
    RgbImage out;
    XImage* image = XGetImage(display_, window_, 0, 0, static_cast<unsigned>(width_),
                              static_cast<unsigned>(height_), AllPlanes, ZPixmap);
    if (image == nullptr)
        return out;
    out.width = width_;
    out.height = height_;
    out.pixels.resize(static_cast<size_t>(width_ * height_));
    for (int y = 0; y < height_; ++y) {
        for (int x = 0; x < width_; ++x) {
            const unsigned long p = XGetPixel(image, x, y);
            out.pixels[static_cast<size_t>(y * width_ + x)] = {
                static_cast<int>((p & image->red_mask) >> 16),
                static_cast<int>((p & image->green_mask) >> 8),
                static_cast<int>(p & image->blue_mask)};
        }
    }
    XDestroyImage(image);
    return out;
}

namespace {

int clampByte(double v) {
    return static_cast<int>(std::lround(std::clamp(v, 0.0, 255.0)));
}

}  // namespace

RgbImage referenceImage(const Yv12& pic, int width, int height) {
    // The picture in RGB at its own size.
    const int w = pic.width, h = pic.height;
    const uint8_t* y = pic.planes.data();
    const uint8_t* v = y + w * h;
    const uint8_t* u = v + w * h / 4;
    std::vector<double> rgb(static_cast<size_t>(w * h * 3));
    for (int row = 0; row < h; ++row) {
        for (int col = 0; col < w; ++col) {
            const double Y = 1.164 * (y[row * w + col] - 16);
            const int c = (row / 2) * (w / 2) + col / 2;
            const double U = u[c] - 128.0, V = v[c] - 128.0;
            double* px = &rgb[static_cast<size_t>((row * w + col) * 3)];
            px[0] = Y + 1.596 * V;
            px[1] = Y - 0.813 * V - 0.391 * U;
            px[2] = Y + 2.018 * U;
        }
    }
    // Bilinear scaling with pixel centres mapped onto each other.
    RgbImage out;
    out.width = width;
    out.height = height;
    out.pixels.resize(static_cast<size_t>(width * height));
    for (int oy = 0; oy < height; ++oy) {
        const double sy = std::clamp((oy + 0.5) * h / height - 0.5, 0.0, h - 1.0);
        const int y0 = static_cast<int>(sy), y1 = std::min(y0 + 1, h - 1);
        const double fy = sy - y0;
        for (int ox = 0; ox < width; ++ox) {
            const double sx = std::clamp((ox + 0.5) * w / width - 0.5, 0.0, w - 1.0);
            const int x0 = static_cast<int>(sx), x1 = std::min(x0 + 1, w - 1);
            const double fx = sx - x0;
            double c[3];
            for (int k = 0; k < 3; ++k) {
                auto at = [&](int xx, int yy) {
                    return rgb[static_cast<size_t>((yy * w + xx) * 3 + k)];
                };
                c[k] = (1 - fy) * ((1 - fx) * at(x0, y0) + fx * at(x1, y0)) +
                       fy * ((1 - fx) * at(x0, y1) + fx * at(x1, y1));
            }
            out.pixels[static_cast<size_t>(oy * width + ox)] = {clampByte(c[0]), clampByte(c[1]),
                                                                clampByte(c[2])};
        }
    }
    return out;
}

Difference compare(const RgbImage& a, const RgbImage& b) {
    Difference d;
    if (a.width != b.width || a.height != b.height || a.pixels.empty())
        return {255, 1};
    double sum = 0;
    size_t far = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i) {
        const int dr = std::abs(a.pixels[i].r - b.pixels[i].r);
        const int dg = std::abs(a.pixels[i].g - b.pixels[i].g);
        const int db = std::abs(a.pixels[i].b - b.pixels[i].b);
        sum += dr + dg + db;
        if (std::max({dr, dg, db}) > 48)
            ++far;
    }
    d.meanAbs = sum / (3.0 * static_cast<double>(a.pixels.size()));
    d.farShare = static_cast<double>(far) / static_cast<double>(a.pixels.size());
    return d;
}

bool looksAlike(const RgbImage& shown, const RgbImage& reference) {
    const Difference d = compare(shown, reference);
    return d.meanAbs < 6.0 && d.farShare < 0.06;
}

bool isBlack(const RgbImage& image) {
    if (image.pixels.empty())
        return false;
    return std::all_of(image.pixels.begin(), image.pixels.end(),
                       [](const Rgb& p) { return p.r < 8 && p.g < 8 && p.b < 8; });
}

}  // namespace enginetest
