#include "QuitOnSignals.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>

namespace vidwall {

namespace {

constexpr std::array kQuitSignals{SIGTERM, SIGINT, SIGHUP};
// The socket pair: the handler writes to [0], the GUI thread reads [1]. Written once before
// the handlers are installed, read by them after.
int g_signalSockets[2] = {-1, -1};
struct sigaction g_previous[kQuitSignals.size()];

void onQuitSignal(int signal) {
    const int saved = errno;
    const auto number = static_cast<unsigned char>(signal);
    // A full socket already holds a quit; a lost byte changes nothing.
    [[maybe_unused]] const ssize_t written = ::write(g_signalSockets[0], &number, 1);
    errno = saved;
}

}  // namespace

QuitOnSignals::QuitOnSignals(QObject* parent) : QObject(parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, g_signalSockets) != 0)
        return;
    m_notifier = new QSocketNotifier(g_signalSockets[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &QuitOnSignals::readSignal);
    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kQuitSignals.size(); ++i)
        ::sigaction(kQuitSignals[i], &action, &g_previous[i]);
}

QuitOnSignals::~QuitOnSignals() {
    if (!m_notifier)
        return;
    for (std::size_t i = 0; i < kQuitSignals.size(); ++i)
        ::sigaction(kQuitSignals[i], &g_previous[i], nullptr);
    delete m_notifier;
    m_notifier = nullptr;
    ::close(g_signalSockets[0]);
    ::close(g_signalSockets[1]);
    g_signalSockets[0] = g_signalSockets[1] = -1;
}

void QuitOnSignals::readSignal() {
    unsigned char number = 0;
    while (::read(g_signalSockets[1], &number, 1) == 1)
        if (m_received == 0)
            m_received = number;
    QCoreApplication::quit();
}

}  // namespace vidwall
