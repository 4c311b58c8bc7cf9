#include "XDisplay.h"

#include <X11/Xlib.h>

namespace vidwall {

bool canOpenXDisplay(const std::string& name) {
    Display* connection = XOpenDisplay(name.c_str());
    if (!connection)
        return false;
    XCloseDisplay(connection);
    return true;
}

}  // namespace vidwall
