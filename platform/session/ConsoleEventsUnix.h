#pragma once

#include "platform/session/ConsoleEvents.h"

class QSocketNotifier;

// SIGINT, SIGTERM and SIGHUP through a self-pipe: the signal handler only writes the
// signal number into a socket, and a QSocketNotifier turns it into `eventReceived` on the
// GUI thread, where it is safe to log and quit.
class ConsoleEventsUnix final : public ConsoleEvents
{
    Q_OBJECT
public:
    explicit ConsoleEventsUnix(QObject* parent = nullptr);
    ~ConsoleEventsUnix() override;

    bool install() override;
    void uninstall() override;

    // The Windows control event that stands for a Unix signal, or -1.
    static int eventForSignal(int signalNumber);

private:
    void onReadable();

    int m_fds[2] = {-1, -1};
    QSocketNotifier* m_notifier = nullptr;
    bool m_installed = false;
};
