#include "display_devices.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <mutex>

#include "x11_connection.h"

namespace zelplay {

namespace {

std::mutex devicesLock;
std::vector<DisplayDevice> devices;  // guarded by devicesLock; empty until built

std::vector<DisplayDevice> queryDevices() {
    std::vector<DisplayDevice> list;
    const auto connection = X11Connection::open();
    if (!connection)
        return list;
    Display* dpy = connection->display();
    const int screen = DefaultScreen(dpy);
    list.push_back({"screen", 0, 0, DisplayWidth(dpy, screen), DisplayHeight(dpy, screen)});
    int eventBase = 0, errorBase = 0;
    if (!XRRQueryExtension(dpy, &eventBase, &errorBase))
        return list;
    int count = 0;
    XRRMonitorInfo* monitors = XRRGetMonitors(dpy, RootWindow(dpy, screen), True, &count);
    for (int i = 0; i < count; ++i) {
        DisplayDevice d;
        if (char* name = XGetAtomName(dpy, monitors[i].name)) {
            d.name = name;
            XFree(name);
        }
        d.x = monitors[i].x;
        d.y = monitors[i].y;
        d.width = monitors[i].width;
        d.height = monitors[i].height;
        list.push_back(d);
    }
    if (monitors != nullptr)
        XRRFreeMonitors(monitors);
    return list;
}

}  // namespace

std::vector<DisplayDevice> displayDevices() {
    std::lock_guard lock(devicesLock);
    if (devices.empty())
        devices = queryDevices();
    return devices;
}

int displayDeviceCount() {
    const size_t n = displayDevices().size();
    return n == 0 ? 0 : static_cast<int>(n - 1);
}

std::optional<DisplayDevice> displayDevice(int index) {
    const std::vector<DisplayDevice> list = displayDevices();
    if (index < 0 || static_cast<size_t>(index) >= list.size())
        return std::nullopt;
    return list[static_cast<size_t>(index)];
}

}  // namespace zelplay
