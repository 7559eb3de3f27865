#pragma once

#include "platform/network/FirewallProbe.h"

#include <QDBusConnection>

class QDBusPendingCallWatcher;

// ufw from its configuration files (those a user may read), firewalld over the system bus.
// Never asks for authorisation and never changes anything.
class FirewallProbeLinux final : public FirewallProbe
{
    Q_OBJECT
public:
    explicit FirewallProbeLinux(QObject* parent = nullptr);
    // For tests: another configuration root than "/etc" and another bus than the system's.
    FirewallProbeLinux(const QString& configRoot, const QDBusConnection& bus, QObject* parent = nullptr);

    void probe() override;

private:
    void readUfw();
    QDBusPendingCallWatcher* call(const QString& interface, const QString& method,
                                  const QVariantList& arguments);
    void onDefaultZone(QDBusPendingCallWatcher* watcher);
    void onActiveZones(QDBusPendingCallWatcher* watcher, const QString& defaultZone);
    void askZone(const QString& zone);
    void finishIfDone();

    QString m_configRoot;
    QDBusConnection m_bus;
    FirewallFacts m_facts;
    int m_generation = 0;
    int m_pending = 0;
};
