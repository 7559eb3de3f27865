#pragma once

#include "platform/network/ServiceAdvertiser.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>

#include <functional>

class QDBusServiceWatcher;

// Announces through avahi-daemon's D-Bus interface: one entry group holding the service, under
// Avahi's own host name (so `<host name>.local` is the name it answers for). Avahi may start,
// stop or restart while the program runs: the service is announced whenever it is there. A
// name another machine uses already is replaced by the alternative Avahi suggests.
class ServiceAdvertiserAvahi final : public QObject, public ServiceAdvertiser
{
    Q_OBJECT
public:
    explicit ServiceAdvertiserAvahi(const QDBusConnection& bus, QObject* parent = nullptr);
    ~ServiceAdvertiserAvahi() override;

    void advertiseWeb(const QString& name, quint16 port) override;

    // The states of the daemon and of an entry group, as Avahi numbers them.
    enum ServerState
    {
        ServerRegistering = 1,
        ServerRunning = 2,
        ServerCollision = 3,
    };
    enum GroupState
    {
        GroupEstablished = 2,
        GroupCollision = 3,
        GroupFailure = 4,
    };

private slots:
    void onServerStateChanged(int state, const QString& error);
    void onGroupStateChanged(int state, const QString& error);

private:
    // Asks the daemon how it is; announces once it runs.
    void begin();
    void announce();
    void addService();
    void chooseAnotherName();
    void forgetGroup();
    QDBusMessage serverCall(const QString& method) const;
    QDBusMessage groupCall(const QString& method) const;
    // Calls asynchronously; `done` gets the reply unless the daemon changed in between.
    void call(const QDBusMessage& message, std::function<void(const QDBusMessage&)> done);

    QDBusConnection m_bus;
    QDBusServiceWatcher* m_watcher;
    QString m_name;
    quint16 m_port = 0;
    QString m_group;       // the entry group's object path; empty while there is none
    bool m_filled = false; // the group holds the service
    bool m_toldAbsent = false;
    int m_daemon = 0; // counts the daemons seen, so that a late reply of a gone one is ignored
};
