// Turns SIGTERM, SIGINT and SIGHUP into a quit of the event loop, so that a service manager, a
// logout or Ctrl+C ends vidwall the way closing its window does: the windows stop their play
// threads and nothing is left half written. The handler only writes the signal's number to a
// socket; the GUI thread reads it and quits. One object per process, GUI thread only.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace vidwall {

class QuitOnSignals : public QObject {
    Q_OBJECT

  public:
    explicit QuitOnSignals(QObject* parent = nullptr);
    ~QuitOnSignals() override;  // the signals' previous handlers come back

    bool installed() const { return m_notifier != nullptr; }
    // The signal that asked to quit, or 0.
    int received() const { return m_received; }

  private:
    void readSignal();

    QSocketNotifier* m_notifier = nullptr;
    int m_received = 0;
};

}  // namespace vidwall
