// monvid-demo: video windows of the wall, each playing an address from the command line.
//
//   monvid-demo [--no-replay] [--grid N] [--quit-after SECONDS] [--screenshot FILE.png] ADDRESS...
//
// One address plays in one window; a second plays in a second window beside it. With --grid N
// the wall of 16 windows lays out N of them (1, 2, 4, 9 or 16) and plays the addresses in
// window order.
#include <QApplication>
#include <QCommandLineParser>
#include <QHBoxLayout>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <vector>

#include "GridLayout.h"
#include "Mydlg.h"
#include "ShowVideoDlg.h"
#include "session/session_env.h"

int main(int argc, char** argv) {
    session::refuseBusAutolaunch();  // before Qt or SDL start threads
    QApplication app(argc, argv);
    QApplication::setApplicationName("monvid-demo");

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Plays addresses (RTSP, RTMP or media files) in video windows.");
    parser.addHelpOption();
    const QCommandLineOption noReplay("no-replay", "Play each address once instead of looping.");
    const QCommandLineOption quitAfter("quit-after", "Quit after this many seconds.", "seconds");
    const QCommandLineOption screenshot(
        "screenshot", "Save a picture of the window just before quitting.", "file");
    const QCommandLineOption grid("grid", "Show the wall with N windows (1, 2, 4, 9 or 16).", "N");
    parser.addOptions({noReplay, quitAfter, screenshot, grid});
    parser.addPositionalArgument("address", "RTSP or RTMP address, or a media file.", "ADDRESS...");
    parser.process(app);

    const QStringList addresses = parser.positionalArguments();
    const int gridCount = parser.isSet(grid) ? parser.value(grid).toInt() : 0;
    if (parser.isSet(grid) && !monvid::gridShapeKnown(gridCount)) {
        std::fprintf(stderr, "monvid-demo: --grid takes 1, 2, 4, 9 or 16\n");
        return 2;
    }
    const int maxAddresses = gridCount ? gridCount : 2;
    if (addresses.isEmpty() || addresses.size() > maxAddresses) {
        std::fprintf(stderr, "monvid-demo: give 1 to %d addresses (see --help)\n", maxAddresses);
        return 2;
    }

    QWidget top;
    top.setWindowTitle("Monvid");
    auto* layout = new QHBoxLayout(&top);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    std::vector<CShowVideoDlg*> windows;
    if (gridCount) {
        auto* wall = new CMydlg(&top);
        layout->addWidget(wall);
        wall->LayoutWindows(gridCount);
        wall->SetReplayAll(!parser.isSet(noReplay));
        for (int i = 0; i < addresses.size(); ++i)
            windows.push_back(wall->window(i));
        top.resize(1280, 720);
    } else {
        for (int i = 0; i < addresses.size(); ++i) {
            auto* window = new CShowVideoDlg(&top);
            window->SetTitle(QString::number(i));
            window->m_bReplay = !parser.isSet(noReplay);
            layout->addWidget(window);
            windows.push_back(window);
        }
        top.resize(640 * static_cast<int>(windows.size()), 400);
    }
    top.show();
    for (int i = 0; i < addresses.size(); ++i) {
        windows[i]->setUrl(addresses[i].toStdString());
        windows[i]->StartPlay();
    }

    if (parser.isSet(quitAfter)) {
        const int ms = static_cast<int>(parser.value(quitAfter).toDouble() * 1000);
        QTimer::singleShot(ms, &app, [&] {
            if (parser.isSet(screenshot)) {
                const QString file = parser.value(screenshot);
                if (!top.grab().save(file))
                    std::fprintf(stderr, "monvid-demo: cannot save %s\n", qPrintable(file));
            }
            for (CShowVideoDlg* w : windows)
                std::printf("window %s: %llu pictures shown, %llu dropped\n",
                            qPrintable(w->title()),
                            static_cast<unsigned long long>(w->m_counters.shown.load()),
                            static_cast<unsigned long long>(w->m_counters.dropped.load()));
            app.quit();
        });
    }
    return app.exec();
}
