// Helpers for tests of widgets: one QApplication for the program and waits that keep the
// GUI thread's queued calls flowing.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

namespace testsupport {

// Processes events until pred() holds or timeoutMs passes; returns pred(). Between looks it
// processes what has arrived and then rests pollMs (at least 1 ms), so that the wait leaves the
// processor to the threads it waits for; a costly pred() (one that starts programs, say) wants
// a longer pollMs.
inline bool waitUntil(const std::function<bool()>& pred, int timeoutMs, int pollMs = 1) {
    QElapsedTimer timer;
    timer.start();
    while (!pred()) {
        if (timer.elapsed() > timeoutMs)
            return pred();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        std::this_thread::sleep_for(std::chrono::milliseconds(std::max(pollMs, 1)));
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
