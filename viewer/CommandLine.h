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

inline constexpr int kExitUsage = 2;  // an unknown option or a bad value

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

// The --lang value among the arguments, when one is given and valid: the language is chosen
// before the application object's texts, and so before the full parse.
std::optional<translation::Language> languageArgument(const QStringList& arguments);

}  // namespace vidwall
