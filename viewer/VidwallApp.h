// CvidwallApp: vidwall's start-up. Starts the updater beside the program when there is one,
// shows the main window (registering the control on a user's first run), and runs it until
// it closes. GUI thread only.
#pragma once

#include <QCoreApplication>
#include <QString>

#include <filesystem>

#include "CommandLine.h"

class QApplication;
class CvidwallDlg;

class CvidwallApp {
    Q_DECLARE_TR_FUNCTIONS(CvidwallApp)

  public:
    static constexpr int kExitNoControl = 1;  // the control could not be created

    explicit CvidwallApp(vidwall::ViewerOptions options) : m_options(std::move(options)) {}

    // The program's exit code: that of the event loop, or kExitNoControl after telling why.
    int InitInstance(QApplication& app);

    // The executable "update" in `programDir`, started detached and not waited for.
    static void startUpdater(const std::filesystem::path& programDir);

  private:
    // Creates the control, registering the installed one first when that is what is missing.
    // Empty on success, else what the user is told.
    QString prepareControl(CvidwallDlg& dialog, const std::filesystem::path& programDir);
    void placeWindow(CvidwallDlg& dialog);
    void reportFatal(const QString& message);

    vidwall::ViewerOptions m_options;
};

// The user interface's language: --lang when given, else the environment's. Sets QLocale's
// default (which the control follows) and installs the viewer's and Qt's catalogs.
translation::Language useViewerLanguage(const std::optional<translation::Language>& chosen);
