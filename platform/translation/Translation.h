// Languages of the user interface. The texts of the viewer and of the control are written in
// Chinese in the source and shown as they stand under a Chinese locale; every other language
// gets the English catalog "<name>_en.qm", built from "<name>_en.ts" in the source tree.
//
// Catalogs are looked for in share/monvid/translations one and two folders above the binary
// that needs them: bin/ and lib/ (or lib/<triplet>/) of an installed prefix, and the build
// tree, where they are built into <build>/share/monvid/translations. $MONVID_TRANSLATIONS,
// when set, names a folder looked in first (for tests, and for trying a catalog out).
// GUI thread only.
#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace translation {

enum class Language { Chinese, English };

// Reads one environment variable; empty when unset.
using EnvironmentLookup = std::function<std::string(const char* name)>;
std::string processEnvironment(const char* name);

// The language the environment asks for, read the way gettext reads it: the first entry of
// LANGUAGE, unless the locale is C or POSIX; else the first of LC_ALL, LC_MESSAGES and LANG
// that is set. "zh..." is Chinese; anything else, the C locale and nothing at all English.
// Needs no generated locales: only the variables are read.
Language languageFromEnvironment(const EnvironmentLookup& lookup = processEnvironment);

// "zh" or "en" (the --lang values); nothing for any other text.
std::optional<Language> languageFromName(std::string_view name);

// The language a locale's texts are shown in, and the locale that stands for a language.
Language languageOf(const QLocale& locale);
QLocale localeOf(Language language);

// The folders a binary at `binaryPath` looks for catalogs in, nearest first.
QStringList translationFolders(const QString& binaryPath);

// Installs catalog `name` in the application for `language`, replacing what this call
// installed for `name` before. Chinese needs no catalog (true). For English, true when
// "<name>_en.qm" was found in one of `folders` and loaded; the texts stay Chinese otherwise.
bool useCatalog(const QString& name, Language language, const QStringList& folders);

// Qt's own texts (standard buttons, file dialog) in Chinese when Qt's catalog for it is
// installed (Debian's qt6-translations-l10n); English needs none. True when the texts now
// come in `language`.
bool useQtCatalog(Language language);

}  // namespace translation
