#include "VidwallApp.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QScreen>
#include <QTimer>

#include <cstdio>

#include "FirstRun.h"
#include "QuitOnSignals.h"
#include "Registry.h"
#include "VidwallDlg.h"

namespace fs = std::filesystem;

translation::Language useViewerLanguage(const std::optional<translation::Language>& chosen) {
    const translation::Language language =
        chosen ? *chosen : translation::languageFromEnvironment();
    QLocale::setDefault(translation::localeOf(language));
    const QString program = QString::fromStdString(vidwall::programPath().string());
    if (!translation::useCatalog("vidwall", language, translation::translationFolders(program)))
        std::fprintf(stderr, "vidwall: no English texts found (vidwall_en.qm); showing Chinese\n");
    translation::useQtCatalog(language);
    return language;
}

void CvidwallApp::startUpdater(const fs::path& programDir) {
    if (programDir.empty())
        return;  // the program's own folder is unknown: no updater is looked for elsewhere
    const QFileInfo info(QString::fromStdString((programDir / "update").string()));
    if (info.exists() && info.isFile() && info.isExecutable())
        QProcess::startDetached(info.absoluteFilePath(), {});
}

int CvidwallApp::InitInstance(QApplication& app) {
    const fs::path program = vidwall::programPath();
    const fs::path programDir = program.empty() ? fs::path() : program.parent_path();
    startUpdater(programDir);

    CvidwallDlg dialog(nullptr, m_options.settingsFile);
    if (const QString problem = prepareControl(dialog, programDir); !problem.isEmpty()) {
        reportFatal(problem);
        return kExitNoControl;
    }
    placeWindow(dialog);
    // A quit asked for by a signal ends the loop like closing the window; the dialog then
    // stops its windows as it goes.
    vidwall::QuitOnSignals quitOnSignals;
    if (m_options.play)
        QTimer::singleShot(0, &dialog, &CvidwallDlg::OnBnClickedPlay);
    return app.exec();
}

QString CvidwallApp::prepareControl(CvidwallDlg& dialog, const fs::path& programDir) {
    if (dialog.m_ctrlVideo.isCreated())
        return {};
    const QString registry = QString::fromStdString(component::Registry::defaultPath());
    // Not registered for this user yet, or registered from a library that cannot be loaded
    // any more: the library installed with this program is registered and tried.
    const vidwall::InstalledControlRegistration registration =
        vidwall::registerInstalledControl(programDir);
    if (!registration.found) {
        QStringList looked;
        for (const fs::path& candidate : registration.candidates)
            looked << QString::fromStdString(candidate.string());
        return tr("视频墙控件无法创建，也找不到随 vidwall 安装的控件库。\n\n%1\n\n"
                  "查找过：\n%2\n\n注册表文件：%3")
            .arg(QString::fromStdString(dialog.m_ctrlVideo.lastErrorDetail()), looked.join('\n'),
                 registry);
    }
    if (!registration.outcome.succeeded())
        return tr("无法注册视频墙控件库：\n%1\n\n注册表文件：%2")
            .arg(QString::fromStdString(registration.outcome.detail), registry);
    if (!dialog.CreateControl())
        return tr("视频墙控件库已注册，但控件无法创建（%1）：\n%2\n\n注册表文件：%3")
            .arg(QString::fromStdString(dialog.m_ctrlVideo.lastErrorText()),
                 QString::fromStdString(dialog.m_ctrlVideo.lastErrorDetail()), registry);
    std::fprintf(stderr, "vidwall: registered %s for this user in %s\n",
                 registration.outcome.libraryPath.c_str(), registry.toUtf8().constData());
    return {};
}

void CvidwallApp::placeWindow(CvidwallDlg& dialog) {
    if (m_options.screen) {
        const QList<QScreen*> screens = QGuiApplication::screens();
        QScreen* target = *m_options.screen < screens.size() ? screens[*m_options.screen] : nullptr;
        if (target) {
            dialog.setScreen(target);
            QRect place = dialog.geometry();
            place.moveCenter(target->availableGeometry().center());
            dialog.setGeometry(place);
        } else {
            std::fprintf(stderr, "vidwall: %s\n",
                         tr("没有第 %1 个显示器（共 %2 个），窗口显示在主显示器上。")
                             .arg(*m_options.screen)
                             .arg(screens.size())
                             .toUtf8()
                             .constData());
        }
    }
    if (m_options.fullScreen)
        dialog.SetFullScreen(true);
    else
        dialog.show();
}

void CvidwallApp::reportFatal(const QString& message) {
    std::fprintf(stderr, "vidwall: %s\n", message.toUtf8().constData());
    if (!m_options.unattended)
        QMessageBox::critical(nullptr, tr("vidwall 无法启动"), message);
}
