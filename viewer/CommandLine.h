// vidwall's command line:
//   vidwall [--config FILE] [--play] [--fullscreen] [--screen N] [--lang zh|en] [--unattended]
//   vidwall --help | --version
// Option texts are translated: parse after the language's catalog is installed.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <string>

#include "Settings.h"
#include "Translation.h"

namespace vidwall {

inline constexpr int kExitUsage = 2;      // an unknown option or a bad value
inline constexpr int kExitNoDisplay = 3;  // no display to show the windows on

struct ViewerOptions {
    std::string settingsFile = kSettingsFile;       // --config
    bool play = false;                              // --play: press Play once shown
    bool fullScreen = false;                        // --fullscreen
    std::optional<int> screen;                      // --screen: index of the monitor
    std::optional<translation::Language> language;  // --lang
    bool unattended = false;  // --unattended: errors go to standard error only, no boxes
};

enum class CommandLineAction { Run, ShowHelp, ShowVersion, Fail };

struct CommandLine {
    CommandLineAction action = CommandLineAction::Fail;
    ViewerOptions options;
    QString text;  // the help, the version line, or what is wrong (one line)
};

// Reads the arguments (the program's name first, as QCoreApplication::arguments() gives them).
CommandLine parseCommandLine(const QStringList& arguments);

// The arguments less Qt's own options (-platform, -display, -style, ...) and their values,
// which QApplication takes for itself: ours are parsed from what is left.
QStringList withoutQtOptions(const QStringList& arguments);

// Why windows cannot be shown, or empty when they can as far as can be told before Qt
// starts: the X display named by -display or DISPLAY must accept a connection when the
// platform is X11 (Qt's -platform or QT_QPA_PLATFORM, X11 unless set or a Wayland display
// is named). Other platforms are left to Qt. One line, translated.
QString displayProblem(const QStringList& arguments);

// The --lang value among the arguments, when one is given and valid: the language is chosen
// before the application object's texts, and so before the full parse.
std::optional<translation::Language> languageArgument(const QStringList& arguments);

}  // namespace vidwall
