// Whether an X display accepts a connection: asked before Qt starts, which aborts without one.
// Kept apart from the Qt code, whose names Xlib's macros would clash with.
#pragma once

#include <string>

namespace vidwall {

bool canOpenXDisplay(const std::string& name);

}  // namespace vidwall
