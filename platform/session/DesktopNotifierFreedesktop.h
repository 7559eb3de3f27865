#pragma once

#include "platform/session/DesktopNotifier.h"

#include <QDBusConnection>

// The freedesktop Notifications service on a D-Bus bus. The call is asynchronous, so a service
// that hangs cannot hold up the caller; where it is missing or refuses, the fallback shows the
// notice instead.
class DesktopNotifierFreedesktop final : public DesktopNotifier
{
    Q_OBJECT
public:
    DesktopNotifierFreedesktop(const QDBusConnection& bus, NotifierFallback fallback,
                               QObject* parent = nullptr);
    ~DesktopNotifierFreedesktop() override;

    void notify(const QString& title, const QString& body, const QString& actionLabel) override;

    // The key of our action in the service's ActionInvoked signal.
    static constexpr const char* ActionKey = "open";

private slots:
    void onActionInvoked(uint id, const QString& actionKey);
    void onNotificationClosed(uint id, uint reason);

private:
    QDBusConnection m_bus;
    NotifierFallback m_fallback;
    uint m_actionId = 0;    // the shown notice whose action counts; 0 for none
    quint64 m_sequence = 0; // notices asked for, so that a late answer is not taken for a newer one
};
