#pragma once

#include <QObject>

#include <memory>

// Requests from the operating system to end the process: console control events on
// Windows, termination signals on Unix. Delivered on the GUI thread as `eventReceived`
// with the Windows control-event number, so one handler serves every platform.
class ConsoleEvents : public QObject
{
    Q_OBJECT
public:
    enum Event
    {
        CtrlC = 0,
        CtrlBreak = 1,
        Close = 2,
        Logoff = 5,
        Shutdown = 6,
    };

    using QObject::QObject;
    ~ConsoleEvents() override = default;

    // Starts delivering events; false when the operating system refused.
    virtual bool install() = 0;
    // Stops delivering events and restores the previous handling.
    virtual void uninstall() = 0;

signals:
    void eventReceived(int ctrlType);
};

// The implementation for this operating system.
std::unique_ptr<ConsoleEvents> createConsoleEvents(QObject* parent = nullptr);
