#pragma once

#include "platform/session/ConsoleEvents.h"

// Records install/uninstall and lets a test deliver events by hand.
class ConsoleEventsFake final : public ConsoleEvents
{
    Q_OBJECT
public:
    explicit ConsoleEventsFake(QObject* parent = nullptr, bool installSucceeds = true);

    bool install() override;
    void uninstall() override;

    void deliver(int ctrlType) { emit eventReceived(ctrlType); }

    bool installed() const { return m_installed; }
    int installCalls() const { return m_installCalls; }

private:
    bool m_installSucceeds;
    bool m_installed = false;
    int m_installCalls = 0;
};
