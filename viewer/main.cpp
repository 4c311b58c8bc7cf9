// vidwall: the desktop program that hosts the video wall control.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include "VidwallDlg.h"

namespace {

// CvidwallApp: starts the updater beside the program when there is one, then runs the main
// window until it closes.
class CvidwallApp {
  public:
    int InitInstance(QApplication& app) {
        startUpdater(QCoreApplication::applicationDirPath());
        CvidwallDlg dialog;
        dialog.show();
        return app.exec();
    }

    // The executable "update" beside the program, started detached and not waited for.
    static void startUpdater(const QString& programDir) {
        const QString updater = QDir(programDir).filePath("update");
        const QFileInfo info(updater);
        if (info.exists() && info.isFile() && info.isExecutable())
            QProcess::startDetached(updater, {});
    }
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("vidwall");
    CvidwallApp theApp;
    return theApp.InitInstance(app);
}
