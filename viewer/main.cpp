// vidwall: the desktop program that hosts the video wall control. See CommandLine.h for its
// options and VidwallApp.h for its start-up.
#include <QApplication>

#include <cstdio>
#include <memory>

#include "CommandLine.h"
#include "VidwallApp.h"
#include "session/session_env.h"

int main(int argc, char** argv) {
    session::refuseBusAutolaunch();  // before Qt or SDL start threads
    using namespace vidwall;
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    // Qt's own options (-platform, -display, ...) are QApplication's; ours are the rest.
    const QStringList ours = withoutQtOptions(arguments);
    // Windows need a display; --help, --version and a wrong option do not, so a first look at
    // the arguments decides which application object to make. Without a display QApplication
    // would abort: that is told in a line of our own instead.
    const bool runs = parseCommandLine(ours).action == CommandLineAction::Run;
    const QString noDisplay = runs ? displayProblem(arguments) : QString();
    const bool showsWindows = runs && noDisplay.isEmpty();
    std::unique_ptr<QCoreApplication> app;
    if (showsWindows)
        app = std::make_unique<QApplication>(argc, argv);
    else
        app = std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName("vidwall");
    QCoreApplication::setApplicationVersion(MONVID_VERSION);
    useViewerLanguage(languageArgument(ours));

    // Again, now with the texts in the chosen language.
    const CommandLine commandLine = parseCommandLine(ours);
    switch (commandLine.action) {
        case CommandLineAction::ShowHelp:
        case CommandLineAction::ShowVersion:
            std::printf("%s\n", commandLine.text.toUtf8().constData());
            return 0;
        case CommandLineAction::Fail:
            std::fprintf(
                stderr, "vidwall: %s\n%s\n", commandLine.text.toUtf8().constData(),
                CvidwallApp::tr("用 vidwall --help 查看可用的选项。").toUtf8().constData());
            return kExitUsage;
        case CommandLineAction::Run:
            break;
    }
    if (!showsWindows) {
        const QString translated = displayProblem(arguments);
        std::fprintf(stderr, "vidwall: %s\n",
                     (translated.isEmpty() ? noDisplay : translated).toUtf8().constData());
        return kExitNoDisplay;
    }
    CvidwallApp theApp(commandLine.options);
    return theApp.InitInstance(static_cast<QApplication&>(*app));
}
