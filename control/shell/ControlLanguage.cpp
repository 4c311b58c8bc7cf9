#include "ControlLanguage.h"

#include <dlfcn.h>

#include <QLocale>

#include "Translation.h"

namespace monvid {

std::string controlLibraryPath() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&controlLibraryPath), &info) && info.dli_fname)
        return info.dli_fname;
    return {};
}

bool useControlLanguage() {
    const QString library = QString::fromStdString(controlLibraryPath());
    return translation::useCatalog("monvid", translation::languageOf(QLocale()),
                                   translation::translationFolders(library));
}

}  // namespace monvid
