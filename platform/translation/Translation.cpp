#include "Translation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTranslator>

#include <cstdlib>

namespace translation {

namespace {

bool isCLocale(const std::string& name) {
    return name == "C" || name == "POSIX" || name.rfind("C.", 0) == 0;
}

// Installs a translator for `name`, or only removes the one installed before when `file` is
// empty. Each catalog's translator is a child of the application, known by its object name.
bool replaceTranslator(const QString& name, const QString& file, const QStringList& folders) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return false;
    const QString objectName = "catalog:" + name;
    QTranslator* installed = app->findChild<QTranslator*>(objectName, Qt::FindDirectChildrenOnly);
    if (installed && !file.isEmpty() && installed->property("catalogFile").toString() == file)
        return true;   // already in place: no reload, no language change for every widget
    delete installed;  // uninstalls it
    if (file.isEmpty())
        return true;
    auto translator = std::make_unique<QTranslator>();
    for (const QString& folder : folders) {
        if (translator->load(file, folder)) {
            translator->setObjectName(objectName);
            translator->setProperty("catalogFile", file);
            translator->setParent(app);
            QCoreApplication::installTranslator(translator.release());
            return true;
        }
    }
    return false;
}

}  // namespace

std::string processEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

Language languageFromEnvironment(const EnvironmentLookup& lookup) {
    std::string locale;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        locale = lookup(name);
        if (!locale.empty())
            break;
    }
    std::string chosen = locale;
    if (!locale.empty() && !isCLocale(locale)) {
        const std::string list = lookup("LANGUAGE");
        std::size_t start = 0;
        while (start <= list.size()) {
            const std::size_t end = std::min(list.find(':', start), list.size());
            if (end > start) {
                chosen = list.substr(start, end - start);
                break;
            }
            start = end + 1;
        }
    }
    return chosen.rfind("zh", 0) == 0 ? Language::Chinese : Language::English;
}

std::optional<Language> languageFromName(std::string_view name) {
    if (name == "zh")
        return Language::Chinese;
    if (name == "en")
        return Language::English;
    return std::nullopt;
}

Language languageOf(const QLocale& locale) {
    return locale.language() == QLocale::Chinese ? Language::Chinese : Language::English;
}

QLocale localeOf(Language language) {
    return language == Language::Chinese ? QLocale(QLocale::Chinese, QLocale::China)
                                         : QLocale(QLocale::English, QLocale::UnitedStates);
}

QStringList translationFolders(const QString& binaryPath) {
    const QDir dir = QFileInfo(binaryPath).absoluteDir();
    QStringList folders;
    if (const std::string chosen = processEnvironment("MONVID_TRANSLATIONS"); !chosen.empty())
        folders << QString::fromStdString(chosen);
    folders << QDir::cleanPath(dir.filePath("../share/monvid/translations"))
            << QDir::cleanPath(dir.filePath("../../share/monvid/translations"));
    return folders;
}

bool useCatalog(const QString& name, Language language, const QStringList& folders) {
    return replaceTranslator(name, language == Language::English ? name + "_en" : QString(),
                             folders);
}

bool useQtCatalog(Language language) {
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (language == Language::English)
        return replaceTranslator("qtbase", {}, {});
    return replaceTranslator("qtbase", "qtbase_zh_CN", {folder});
}

}  // namespace translation
