#include "platform/network/ServiceAdvertiserAvahi.h"

#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDebug>

namespace {

const QString Avahi = QStringLiteral("org.freedesktop.Avahi");
const QString ServerInterface = QStringLiteral("org.freedesktop.Avahi.Server");
const QString GroupInterface = QStringLiteral("org.freedesktop.Avahi.EntryGroup");
const QString StateChanged = QStringLiteral("StateChanged");
// Any interface, IPv4 and IPv6, no flags, the default domain and Avahi's own host name.
const int AnyInterface = -1;
const int AnyProtocol = -1;

bool meansAbsent(const QString& error)
{
    return error == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
           error == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner") ||
           error == QLatin1String("org.freedesktop.DBus.Error.Spawn.ServiceNotFound") ||
           error == QLatin1String("org.freedesktop.DBus.Error.Disconnected");
}

} // namespace

ServiceAdvertiserAvahi::ServiceAdvertiserAvahi(const QDBusConnection& bus, QObject* parent)
    : QObject(parent)
    , m_bus(bus)
    , m_watcher(new QDBusServiceWatcher(Avahi, bus, QDBusServiceWatcher::WatchForOwnerChange, this))
{
    qDBusRegisterMetaType<QList<QByteArray>>();
    connect(m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) {
                // The groups of a daemon go with it; a new one starts empty.
                ++m_daemon;
                forgetGroup();
                if (!owner.isEmpty())
                    begin();
            });
    m_bus.connect(Avahi, QStringLiteral("/"), ServerInterface, StateChanged, this,
                  SLOT(onServerStateChanged(int, QString)));
}

ServiceAdvertiserAvahi::~ServiceAdvertiserAvahi()
{
    // Avahi withdraws a client's groups when it leaves the bus too; this says so at once.
    if (!m_group.isEmpty())
        m_bus.send(groupCall(QStringLiteral("Free")));
}

void ServiceAdvertiserAvahi::advertiseWeb(const QString& name, quint16 port)
{
    m_name = name;
    m_port = port;
    begin();
}

QDBusMessage ServiceAdvertiserAvahi::serverCall(const QString& method) const
{
    return QDBusMessage::createMethodCall(Avahi, QStringLiteral("/"), ServerInterface, method);
}

QDBusMessage ServiceAdvertiserAvahi::groupCall(const QString& method) const
{
    return QDBusMessage::createMethodCall(Avahi, m_group, GroupInterface, method);
}

void ServiceAdvertiserAvahi::call(const QDBusMessage& message, std::function<void(const QDBusMessage&)> done)
{
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, done = std::move(done), daemon = m_daemon] {
                watcher->deleteLater();
                if (daemon == m_daemon)
                    done(watcher->reply());
            });
}

void ServiceAdvertiserAvahi::begin()
{
    if (m_name.isEmpty())
        return;
    call(serverCall(QStringLiteral("GetState")), [this](const QDBusMessage& reply) {
        if (reply.type() == QDBusMessage::ErrorMessage) {
            if (!meansAbsent(reply.errorName()))
                qWarning().noquote() << "mDNS: Avahi did not answer:" << reply.errorName();
            else if (!m_toldAbsent)
                qInfo() << "mDNS: Avahi is not running, the web client is not announced on the network";
            m_toldAbsent = true;
            return;
        }
        // Otherwise the daemon says when it runs (its host name is being registered).
        if (reply.arguments().value(0).toInt() == ServerRunning)
            announce();
    });
}

void ServiceAdvertiserAvahi::announce()
{
    if (!m_group.isEmpty()) {
        if (!m_filled)
            addService();
        return;
    }
    call(serverCall(QStringLiteral("EntryGroupNew")), [this](const QDBusMessage& reply) {
        const QString path = reply.arguments().value(0).value<QDBusObjectPath>().path();
        if (reply.type() == QDBusMessage::ErrorMessage || path.isEmpty()) {
            qWarning().noquote() << "mDNS: Avahi gave no entry group:" << reply.errorName();
            return;
        }
        if (!m_group.isEmpty()) {
            // Asked twice before the first answer came: one group is enough.
            m_bus.send(QDBusMessage::createMethodCall(Avahi, path, GroupInterface, QStringLiteral("Free")));
            return;
        }
        m_group = path;
        m_bus.connect(Avahi, m_group, GroupInterface, StateChanged, this,
                      SLOT(onGroupStateChanged(int, QString)));
        addService();
    });
}

void ServiceAdvertiserAvahi::addService()
{
    m_filled = true;
    QDBusMessage add = groupCall(QStringLiteral("AddService"));
    // The port as D-Bus's uint16 ("q"): a plain QVariant of it would widen to int, which Avahi
    // does not take.
    add << AnyInterface << AnyProtocol << 0u << m_name << QStringLiteral("_http._tcp") << QString()
        << QString() << QVariant::fromValue(m_port)
        << QVariant::fromValue(QList<QByteArray>{QByteArrayLiteral("path=/")});
    call(add, [this](const QDBusMessage& reply) {
        if (reply.type() != QDBusMessage::ErrorMessage) {
            call(groupCall(QStringLiteral("Commit")), [](const QDBusMessage&) {});
            return;
        }
        if (reply.errorName() == QLatin1String("org.freedesktop.Avahi.CollisionError")) {
            chooseAnotherName();
            return;
        }
        qWarning().noquote() << "mDNS: Avahi refused the web client's entry:" << reply.errorName()
                             << reply.errorMessage();
    });
}

void ServiceAdvertiserAvahi::chooseAnotherName()
{
    call(serverCall(QStringLiteral("GetAlternativeServiceName")) << m_name,
         [this](const QDBusMessage& reply) {
             const QString other = reply.arguments().value(0).toString();
             if (reply.type() == QDBusMessage::ErrorMessage || other.isEmpty() || other == m_name) {
                 qWarning().noquote()
                     << "mDNS: the name" << m_name << "is taken on the network, and Avahi offers no other";
                 return;
             }
             qInfo().noquote() << "mDNS: the name" << m_name << "is taken on the network, announcing as"
                               << other;
             m_name = other;
             call(groupCall(QStringLiteral("Reset")), [this](const QDBusMessage&) { addService(); });
         });
}

void ServiceAdvertiserAvahi::forgetGroup()
{
    if (!m_group.isEmpty())
        m_bus.disconnect(Avahi, m_group, GroupInterface, StateChanged, this,
                         SLOT(onGroupStateChanged(int, QString)));
    m_group.clear();
    m_filled = false;
}

void ServiceAdvertiserAvahi::onServerStateChanged(int state, const QString&)
{
    if (m_name.isEmpty())
        return;
    if (state == ServerRunning) {
        announce();
    } else if ((state == ServerRegistering || state == ServerCollision) && m_filled) {
        // The host name changes: records under the old one are withdrawn, and put back once
        // the daemon runs again.
        m_filled = false;
        call(groupCall(QStringLiteral("Reset")), [](const QDBusMessage&) {});
    }
}

void ServiceAdvertiserAvahi::onGroupStateChanged(int state, const QString& error)
{
    if (state == GroupEstablished)
        qInfo().noquote() << "mDNS: the web client is announced as" << m_name << "on port" << m_port;
    else if (state == GroupCollision)
        chooseAnotherName();
    else if (state == GroupFailure)
        qWarning().noquote() << "mDNS: Avahi could not announce the web client:" << error;
}
