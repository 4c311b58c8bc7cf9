// The process's display devices: entry 0 is the whole screen, then one entry per monitor
// that XRandR reports, in its order. Built once, the first time it is asked for with a
// display to ask (a configuration change while ports play is not followed).
//
// Thread contract: any thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zelplay {

struct DisplayDevice {
    std::string name;  // "screen" for entry 0, else the monitor's name
    int x = 0, y = 0, width = 0, height = 0;

    bool contains(int px, int py) const {
        return px >= x && py >= y && px < x + width && py < y + height;
    }
};

// The list; empty when no display can be opened.
std::vector<DisplayDevice> displayDevices();
// Entries minus one (the monitors); 0 without a display.
int displayDeviceCount();
// Entry index, if there is one.
std::optional<DisplayDevice> displayDevice(int index);

}  // namespace zelplay
