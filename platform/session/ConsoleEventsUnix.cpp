#include "platform/session/ConsoleEventsUnix.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Written by the signal handler, read by the GUI thread; only one instance installs at a time.
volatile sig_atomic_t g_writeFd = -1;
const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction g_previous[3];

extern "C" void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    if (g_writeFd >= 0) {
        // A full pipe only loses duplicates of a pending request.
        [[maybe_unused]] const ssize_t written = ::write(g_writeFd, &byte, 1);
    }
    errno = savedErrno;
}

} // namespace

ConsoleEventsUnix::ConsoleEventsUnix(QObject* parent)
    : ConsoleEvents(parent)
{
}

ConsoleEventsUnix::~ConsoleEventsUnix()
{
    uninstall();
}

int ConsoleEventsUnix::eventForSignal(int signalNumber)
{
    switch (signalNumber) {
    case SIGINT:
        return CtrlC;
    case SIGHUP:
        return Close; // the controlling terminal went away
    case SIGTERM:
        return Shutdown; // what init and session managers send when the system goes down
    default:
        return -1;
    }
}

bool ConsoleEventsUnix::install()
{
    if (m_installed || g_writeFd >= 0)
        return m_installed;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, m_fds) != 0)
        return false;

    m_notifier = new QSocketNotifier(m_fds[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ConsoleEventsUnix::onReadable);
    g_writeFd = m_fds[0];

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i)
        ::sigaction(kSignals[i], &action, &g_previous[i]);
    m_installed = true;
    return true;
}

void ConsoleEventsUnix::uninstall()
{
    if (!m_installed)
        return;
    for (int i = 0; i < 3; ++i)
        ::sigaction(kSignals[i], &g_previous[i], nullptr);
    g_writeFd = -1;
    delete m_notifier;
    m_notifier = nullptr;
    ::close(m_fds[0]);
    ::close(m_fds[1]);
    m_fds[0] = m_fds[1] = -1;
    m_installed = false;
}

void ConsoleEventsUnix::onReadable()
{
    unsigned char bytes[16];
    ssize_t count;
    while ((count = ::read(m_fds[1], bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < count; ++i) {
            const int event = eventForSignal(bytes[i]);
            if (event >= 0)
                emit eventReceived(event);
        }
    }
}

std::unique_ptr<ConsoleEvents> createConsoleEvents(QObject* parent)
{
    return std::make_unique<ConsoleEventsUnix>(parent);
}
