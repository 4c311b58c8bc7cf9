// The control's own texts (property page, and whatever its windows show) in the host's
// language: Chinese as written, English from the catalog "monvid_en.qm" for every other
// language. The language is QLocale's default, which a host sets with QLocale::setDefault
// before creating the control (the system locale otherwise). GUI thread only.
#pragma once

#include <string>

namespace monvid {

// The file the control's code was loaded from: libmonvid.so, or the program it is linked into.
std::string controlLibraryPath();

// Installs (or removes) the control's catalog for QLocale()'s language; does nothing when it
// is already in place. False when English was asked for and no catalog was found.
bool useControlLanguage();

}  // namespace monvid
