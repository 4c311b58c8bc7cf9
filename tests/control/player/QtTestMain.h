// Helpers for tests of widgets: one QApplication for the program and waits that keep the
// GUI thread's queued calls flowing.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <functional>

namespace testsupport {

// Processes events until pred() holds or timeoutMs passes; returns pred(). A costly pred()
// (one that starts programs, say) is asked at most every pollMs.
inline bool waitUntil(const std::function<bool()>& pred, int timeoutMs, int pollMs = 0) {
    QElapsedTimer timer;
    timer.start();
    while (!pred()) {
        if (timer.elapsed() > timeoutMs)
            return pred();
        const qint64 next = timer.elapsed() + pollMs;
        do
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        while (timer.elapsed() < next);
    }
    return true;
}

// Processes events for a while.
inline void pumpFor(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

}  // namespace testsupport
