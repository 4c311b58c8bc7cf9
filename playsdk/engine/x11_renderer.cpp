#include "x11_renderer.h"

#include <X11/Xlib.h>
#include <X11/Xproto.h>
#include <X11/extensions/XShm.h>
#include <poll.h>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "callback_context.h"
#include "display_devices.h"
#include "library_log.h"
#include "picture_drawer.h"
#include "x11_connection.h"

namespace zelplay {

namespace {

constexpr uintptr_t kNoWindow = ~uintptr_t{0};
constexpr int kRenderNiceness = 2;  // below the decoding threads
constexpr int kIdleWakeMs = 500;    // a safety net; every real wake-up comes through poll

const char* backendText(VideoBackend b) {
    switch (b) {
        case VideoBackend::Xv:
            return "YV12 images scaled by the XVideo adaptor";
        case VideoBackend::Shm:
            return "MIT-SHM images converted and scaled in software";
        case VideoBackend::X11:
            return "XPutImage of images converted and scaled in software";
        default:
            return "nothing drawn";
    }
}

// The backends to try, in order, starting from first.
std::vector<VideoBackend> backendOrder(VideoBackend first) {
    switch (first) {
        case VideoBackend::Shm:
            return {VideoBackend::Shm, VideoBackend::X11};
        case VideoBackend::X11:
            return {VideoBackend::X11};
        default:
            return {VideoBackend::Xv, VideoBackend::Shm, VideoBackend::X11};
    }
}

}  // namespace

// What the render thread works with; made by setup, then the render thread's alone.
struct X11VideoOutput::Session {
    std::unique_ptr<X11Connection> connection;
    X11Target target;
    int width = 0, height = 0;  // the window's size
    int x = 0, y = 0;           // its origin on the screen
    bool viewable = true;
    bool obscured = false;
    bool gone = false;  // destroyed by its owner
    bool needsRedraw = false;
    bool onDevice = true;               // the window's origin lies on the selected display device
    std::vector<VideoBackend> untried;  // backends after the one in use
    VideoBackend backend = VideoBackend::Null;
    std::unique_ptr<PictureDrawer> drawer;
    std::unique_ptr<PictureDrawer> overDrawer;  // the software path beside an XVideo drawer
    Picture current;
    bool hasPicture = false;
    std::string skipped;  // why earlier backends were left, for the log

    ~Session() {
        overDrawer.reset();
        drawer.reset();
        if (target.gc != nullptr)
            XFreeGC(target.display, target.gc);
    }

    // A drawer for backend b, or null when b cannot be used here.
    std::unique_ptr<PictureDrawer> makeDrawer(VideoBackend b) {
        Display* dpy = target.display;
        switch (b) {
            case VideoBackend::Xv: {
                const char* why = "";
                const XID port = grabYv12Port(dpy, &why);
                if (port == 0) {
                    skipped += std::string(skipped.empty() ? "" : "; ") + "xv: " + why;
                    return nullptr;
                }
                return createXvDrawer(target, port);
            }
            case VideoBackend::Shm:
                if (!XShmQueryExtension(dpy)) {
                    skipped += std::string(skipped.empty() ? "" : "; ") + "shm: no MIT-SHM";
                    return nullptr;
                }
                return createShmDrawer(target);
            case VideoBackend::X11:
                return createX11Drawer(target);
            default:
                return nullptr;
        }
    }

    // Takes the next backend that can be made; false when none is left.
    bool takeNextBackend() {
        drawer.reset();
        backend = VideoBackend::Null;
        while (!untried.empty() && !drawer) {
            const VideoBackend b = untried.front();
            untried.erase(untried.begin());
            drawer = makeDrawer(b);
            if (drawer)
                backend = b;
        }
        return drawer != nullptr;
    }

    void updateOrigin(int device) {
        Window child = 0;
        XTranslateCoordinates(target.display, target.window, DefaultRootWindow(target.display), 0,
                              0, &x, &y, &child);
        const std::optional<DisplayDevice> d = displayDevice(device);
        onDevice = !d || d->contains(x, y);
    }
};

// What one render thread works with, from setup until it leaves; the thread holds it.
struct X11VideoOutput::Run {
    std::unique_ptr<Session> session;
    std::atomic<bool> running{true};  // the render thread runs while set
};

namespace {

// A started run's thread: destroying it stops the run and waits for the thread.
class RunEnding final : public VideoOutput::Ending {
  public:
    RunEnding(std::shared_ptr<X11VideoOutput::Run> run, PictureSlot& slot)
        : run_(std::move(run)), slot_(slot) {}
    // False when no thread can be started.
    template <typename Fn>
    bool start(Fn&& fn) {
        try {
            thread_ = std::thread(std::forward<Fn>(fn));
            return true;
        } catch (const std::system_error&) {
            return false;
        }
    }
    ~RunEnding() override {
        run_->running.store(false);
        slot_.notify();
        if (!thread_.joinable())
            return;
        if (thread_.get_id() == std::this_thread::get_id()) {
            // Stopped from its own draw callback: the thread leaves after this draw.
            thread_.detach();
            return;
        }
        thread_.join();
    }

  private:
    std::shared_ptr<X11VideoOutput::Run> run_;
    PictureSlot& slot_;
    std::thread thread_;
};

}  // namespace

namespace {
// The output whose draw callback this thread is running, so that a callback that replaces
// itself does not wait for itself.
thread_local const X11VideoOutput* drawingFor = nullptr;
}  // namespace

X11VideoOutput::X11VideoOutput(VideoBackend first) : first_(first) {}

X11VideoOutput::~X11VideoOutput() {
    teardown();
}

bool X11VideoOutput::selectDevice(int index) {
    if (!displayDevice(index))
        return false;
    device_.store(index);
    deviceChanged_.store(true);
    slot_.notify();
    return true;
}

bool X11VideoOutput::setup(SurfaceKind /*kind*/, uintptr_t window, int /*width*/, int /*height*/) {
    // The picture's size is learnt from the pictures, on the render thread.
    teardown();
    if (window == 0 || window == kNoWindow)
        return false;
    auto s = std::make_unique<Session>();
    s->connection = X11Connection::open();
    if (!s->connection) {
        logLine("window 0x%lx: no video output (no X display)", static_cast<unsigned long>(window));
        return false;
    }
    Display* dpy = s->connection->display();
    XWindowAttributes attributes{};
    s->connection->takeErrors();
    if (!XGetWindowAttributes(dpy, static_cast<Window>(window), &attributes)) {
        logLine("window 0x%lx: no video output (no such window)",
                static_cast<unsigned long>(window));
        return false;
    }
    s->target = {s->connection.get(), dpy,    static_cast<Window>(window), attributes.visual,
                 attributes.depth,    nullptr};
    s->width = attributes.width;
    s->height = attributes.height;
    s->viewable = attributes.map_state == IsViewable;
    XSelectInput(dpy, s->target.window, StructureNotifyMask | ExposureMask | VisibilityChangeMask);
    s->target.gc = XCreateGC(dpy, s->target.window, 0, nullptr);
    s->updateOrigin(device_.load());
    deviceChanged_.store(false);
    s->untried = backendOrder(first_);
    const bool drawable = s->takeNextBackend();
    XSync(dpy, False);
    if (!drawable || s->connection->takeErrors().count != 0) {
        logLine("window 0x%lx: no video output (%s)", static_cast<unsigned long>(window),
                s->skipped.c_str());
        return false;
    }
    logLine("window 0x%lx: video output %s, %s%s%s%s", static_cast<unsigned long>(window),
            videoBackendName(s->backend), backendText(s->backend), s->skipped.empty() ? "" : " (",
            s->skipped.c_str(), s->skipped.empty() ? "" : ")");
    backend_.store(s->backend);
    slot_.clear();
    slot_.drainWakeups();
    auto r = std::make_shared<Run>();
    r->session = std::move(s);
    auto ending = std::make_unique<RunEnding>(r, slot_);
    if (!ending->start([this, r] { run(*r); })) {
        backend_.store(VideoBackend::Null);
        return false;
    }
    run_ = std::move(ending);
    showing_.store(true);
    return true;
}

void X11VideoOutput::teardown() {
    detach();  // the Ending waits for the render thread as it goes
}

std::unique_ptr<VideoOutput::Ending> X11VideoOutput::detach() {
    showing_.store(false);
    backend_.store(VideoBackend::Null);
    return std::move(run_);  // null when no run was started
}

void X11VideoOutput::setDrawCallback(ZELPLAY_DRAW_CALLBACK callback, ZELPLAY_PORT port,
                                     ZELPLAY_USER user, uint64_t portOrder) {
    {
        std::lock_guard draw(drawLock_);
        drawFn_ = callback;
        drawPort_ = port;
        drawUser_ = user;
        drawOrder_ = portOrder;
    }
    if (drawingFor != this) {
        // Waits out a draw-over that is running with the old callback.
        std::lock_guard call(drawCallLock_);
    }
}

bool X11VideoOutput::present(const uint8_t* y, const uint8_t* v, const uint8_t* u, int width,
                             int height) {
    if (!showing_.load() || y == nullptr || v == nullptr || u == nullptr || width <= 0 ||
        height <= 0)
        return false;
    if (!slot_.offer(y, v, u, width, height))
        dropped_.fetch_add(1);  // the window shows the newest picture that found it free
    return true;
}

bool X11VideoOutput::presentShared(const Picture& picture) {
    if (!showing_.load() || picture.empty())
        return false;
    if (!slot_.offer(picture))
        dropped_.fetch_add(1);
    return true;
}

X11VideoOutput::Counters X11VideoOutput::counters() const {
    return {taken_.load(), drawn_.load(), dropped_.load()};
}

void X11VideoOutput::run(Run& r) {
    Session& s = *r.session;
    pthread_setname_np(pthread_self(), "zelplay-render");
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()),
                getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())) + kRenderNiceness);
    Display* dpy = s.target.display;
    pollfd fds[2] = {{ConnectionNumber(dpy), POLLIN, 0}, {slot_.wakeFd(), POLLIN, 0}};
    while (r.running.load()) {
        slot_.drainWakeups();
        handleEvents(s);
        if (deviceChanged_.exchange(false)) {
            s.updateOrigin(device_.load());
            s.needsRedraw = true;
        }
        if (slot_.take(s.current)) {
            taken_.fetch_add(1);
            s.hasPicture = true;
            drawPicture(s, s.needsRedraw);
        } else if (s.needsRedraw && s.hasPicture) {
            drawPicture(s, true);
        }
        s.needsRedraw = false;
        // Events Xlib already read (while drawing) do not make the socket readable.
        if (XEventsQueued(dpy, QueuedAfterFlush) == 0)
            poll(fds, 2, kIdleWakeMs);
    }
    clearWindow(s);
}

void X11VideoOutput::handleEvents(Session& s) {
    Display* dpy = s.target.display;
    while (XPending(dpy) > 0) {
        XEvent e;
        XNextEvent(dpy, &e);
        if (e.xany.window != s.target.window)
            continue;
        switch (e.type) {
            case ConfigureNotify:
                if (e.xconfigure.width != s.width || e.xconfigure.height != s.height) {
                    s.width = e.xconfigure.width;
                    s.height = e.xconfigure.height;
                    s.needsRedraw = true;
                }
                s.updateOrigin(device_.load());
                break;
            case Expose:
                if (e.xexpose.count == 0)
                    s.needsRedraw = true;
                break;
            case MapNotify:
            case UnmapNotify: {
                XWindowAttributes a{};
                s.viewable =
                    XGetWindowAttributes(dpy, s.target.window, &a) && a.map_state == IsViewable;
                s.needsRedraw = s.viewable;
                break;
            }
            case VisibilityNotify:
                s.obscured = e.xvisibility.state == VisibilityFullyObscured;
                s.needsRedraw = !s.obscured;
                break;
            case DestroyNotify:
                s.gone = true;
                break;
            default:
                break;
        }
    }
}

void X11VideoOutput::drawPicture(Session& s, bool refresh) {
    if (s.gone || !s.viewable || s.obscured || s.width <= 0 || s.height <= 0 || s.current.empty())
        return;  // costs nothing while it cannot be seen
    DrawOver over;
    uint64_t order = 0;
    {
        std::lock_guard draw(drawLock_);
        over = {drawFn_, drawPort_, drawUser_};
        order = drawOrder_;
    }
    std::unique_lock call(drawCallLock_, std::defer_lock);
    if (over.fn != nullptr)
        call.lock();
    PictureDrawer* drawer = s.drawer.get();
    // The adaptor's picture cannot be drawn over, and a window away from the selected
    // device is drawn in software.
    if (drawer != nullptr && !drawer->drawsOver() && (over.fn != nullptr || !s.onDevice)) {
        if (!s.overDrawer)
            s.overDrawer = createShmDrawer(s.target);
        if (!s.overDrawer)
            s.overDrawer = createX11Drawer(s.target);
        drawer = s.overDrawer.get();
    }
    if (drawer == nullptr)
        return;
    drawingFor = this;
    bool ok = false;
    {
        CallbackContext context(order);  // the draw-over callback runs in there
        ok = drawer->draw(s.current, s.width, s.height, over, refresh);
    }
    drawingFor = nullptr;
    const X11Errors errors = s.connection->takeErrors();
    if (errors.count != 0 && (errors.code == BadWindow || errors.code == BadDrawable)) {
        s.gone = true;  // destroyed before its DestroyNotify reached us
        return;
    }
    if (!ok) {
        if (drawer == s.overDrawer.get())
            s.overDrawer.reset();
        else
            leaveBackend(s);
        return;
    }
    drawn_.fetch_add(1);
}

bool X11VideoOutput::leaveBackend(Session& s) {
    const VideoBackend failed = s.backend;
    const bool more = s.takeNextBackend();
    backend_.store(s.backend);
    logLine("window 0x%lx: video output %s failed; %s %s",
            static_cast<unsigned long>(s.target.window), videoBackendName(failed),
            more ? "now" : "nothing left after it:", more ? videoBackendName(s.backend) : "");
    return more;
}

// No stale picture stays: black over the picture, then the owner is told to repaint.
void X11VideoOutput::clearWindow(Session& s) {
    s.overDrawer.reset();
    s.drawer.reset();  // an XVideo port stops its video
    if (s.gone)
        return;
    Display* dpy = s.target.display;
    XSetForeground(dpy, s.target.gc, BlackPixel(dpy, DefaultScreen(dpy)));
    XFillRectangle(dpy, s.target.window, s.target.gc, 0, 0, static_cast<unsigned>(s.width),
                   static_cast<unsigned>(s.height));
    XClearArea(dpy, s.target.window, 0, 0, 0, 0, True);
    XSelectInput(dpy, s.target.window, NoEventMask);
    XSync(dpy, False);
    s.connection->takeErrors();
}

}  // namespace zelplay
