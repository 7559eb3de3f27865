#include "platform/network/FirewallProbeLinux.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFile>

namespace {

const char kService[] = "org.fedoraproject.FirewallD1";
const char kPath[] = "/org/fedoraproject/FirewallD1";
const char kMainInterface[] = "org.fedoraproject.FirewallD1";
const char kZoneInterface[] = "org.fedoraproject.FirewallD1.zone";
constexpr int kCallTimeoutMs = 3000;
// Configuration files are small; a larger one is not read at all.
constexpr qint64 kMaxFileSize = 1024 * 1024;

// The file's text, or a null string when it cannot be read (missing, not ours to read, too large).
QString readSmallFile(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxFileSize)
        return QString();
    QString text = QString::fromUtf8(file.read(kMaxFileSize));
    if (text.isNull())
        text = QStringLiteral(""); // read, if empty: not the same as unreadable
    return text;
}

// The value of KEY=value (quotes dropped) in a shell-style configuration file.
QString configValue(const QString& text, const QString& key)
{
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString& raw : lines) {
        const QString line = raw.trimmed();
        if (!line.startsWith(key + QLatin1Char('=')))
            continue;
        QString value = line.mid(key.size() + 1).trimmed();
        if (value.size() >= 2 && (value.startsWith(QLatin1Char('"')) || value.startsWith(QLatin1Char('\''))))
            value = value.mid(1, value.size() - 2);
        return value;
    }
    return QString();
}

} // namespace

std::unique_ptr<FirewallProbe> createFirewallProbe(QObject* parent)
{
    return std::make_unique<FirewallProbeLinux>(parent);
}

FirewallProbeLinux::FirewallProbeLinux(QObject* parent)
    : FirewallProbeLinux(QStringLiteral("/etc"), QDBusConnection::systemBus(), parent)
{
}

FirewallProbeLinux::FirewallProbeLinux(const QString& configRoot, const QDBusConnection& bus, QObject* parent)
    : FirewallProbe(parent)
    , m_configRoot(configRoot)
    , m_bus(bus)
{
}

void FirewallProbeLinux::probe()
{
    ++m_generation; // replies to an earlier round are dropped
    m_facts = FirewallFacts();
    m_pending = 0;
    readUfw();
    if (!m_bus.isConnected()) {
        finishIfDone();
        return;
    }
    QDBusPendingCallWatcher* watcher =
        call(QLatin1String(kMainInterface), QStringLiteral("getDefaultZone"), {});
    connect(watcher, &QDBusPendingCallWatcher::finished, this, &FirewallProbeLinux::onDefaultZone);
}

void FirewallProbeLinux::readUfw()
{
    const QString conf = readSmallFile(m_configRoot + QStringLiteral("/ufw/ufw.conf"));
    m_facts.ufwEnabled =
        configValue(conf, QStringLiteral("ENABLED")).compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0;
    if (!m_facts.ufwEnabled)
        return;
    m_facts.ufwInputPolicy = configValue(readSmallFile(m_configRoot + QStringLiteral("/default/ufw")),
                                         QStringLiteral("DEFAULT_INPUT_POLICY"));
    // Usually readable by root only; then the rules stay unknown.
    const QString rules = readSmallFile(m_configRoot + QStringLiteral("/ufw/user.rules"));
    m_facts.ufwRulesReadable = !rules.isNull();
    m_facts.ufwRules = rules;
}

QDBusPendingCallWatcher* FirewallProbeLinux::call(const QString& interface, const QString& method,
                                                  const QVariantList& arguments)
{
    QDBusMessage message =
        QDBusMessage::createMethodCall(QLatin1String(kService), QLatin1String(kPath), interface, method);
    message.setArguments(arguments);
    // Only a firewalld that already runs counts; the query must not start one.
    message.setAutoStartService(false);
    ++m_pending;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message, kCallTimeoutMs), this);
    const int generation = m_generation;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, generation](QDBusPendingCallWatcher* done) {
                done->deleteLater();
                if (generation == m_generation)
                    --m_pending;
            });
    // Replies of an earlier round still end up here; each handler checks the round itself.
    watcher->setProperty("generation", generation);
    return watcher;
}

void FirewallProbeLinux::onDefaultZone(QDBusPendingCallWatcher* watcher)
{
    if (watcher->property("generation").toInt() != m_generation)
        return;
    const QDBusPendingReply<QString> reply = *watcher;
    if (reply.isError()) {
        const QString name = reply.error().name();
        // No such service: firewalld is not running. Anything else (refused, timed out) means it
        // runs but would not tell us.
        m_facts.firewalldRunning = name != QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") &&
                                   name != QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner");
        finishIfDone();
        return;
    }
    m_facts.firewalldRunning = true;
    const QString defaultZone = reply.value();
    QDBusPendingCallWatcher* next = call(QLatin1String(kZoneInterface), QStringLiteral("getActiveZones"), {});
    connect(next, &QDBusPendingCallWatcher::finished, this,
            [this, defaultZone](QDBusPendingCallWatcher* done) { onActiveZones(done, defaultZone); });
    finishIfDone();
}

void FirewallProbeLinux::onActiveZones(QDBusPendingCallWatcher* watcher, const QString& defaultZone)
{
    if (watcher->property("generation").toInt() != m_generation)
        return;
    QStringList zones;
    const QDBusMessage reply = watcher->reply();
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
        const auto active =
            qdbus_cast<QMap<QString, QMap<QString, QStringList>>>(reply.arguments().constFirst());
        zones = active.keys();
    }
    // With no interface or source bound to a zone, the default zone takes everything.
    if (zones.isEmpty() && !defaultZone.isEmpty())
        zones.append(defaultZone);
    m_facts.firewalldAnswered = !zones.isEmpty();
    for (const QString& zone : qAsConst(zones))
        askZone(zone);
    finishIfDone();
}

void FirewallProbeLinux::askZone(const QString& zone)
{
    const int index = m_facts.firewalldZones.size();
    FirewalldZone entry;
    entry.name = zone;
    // The trusted zone accepts everything by definition.
    entry.target = zone == QLatin1String("trusted") ? QStringLiteral("ACCEPT") : QStringLiteral("default");
    m_facts.firewalldZones.append(entry);

    QDBusPendingCallWatcher* services =
        call(QLatin1String(kZoneInterface), QStringLiteral("getServices"), {zone});
    connect(services, &QDBusPendingCallWatcher::finished, this, [this, index](QDBusPendingCallWatcher* done) {
        if (done->property("generation").toInt() != m_generation)
            return;
        const QDBusPendingReply<QStringList> reply = *done;
        if (reply.isError())
            m_facts.firewalldAnswered = false;
        else
            m_facts.firewalldZones[index].services = reply.value();
        finishIfDone();
    });
    QDBusPendingCallWatcher* ports = call(QLatin1String(kZoneInterface), QStringLiteral("getPorts"), {zone});
    connect(ports, &QDBusPendingCallWatcher::finished, this, [this, index](QDBusPendingCallWatcher* done) {
        if (done->property("generation").toInt() != m_generation)
            return;
        const QDBusMessage reply = done->reply();
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
            m_facts.firewalldAnswered = false;
        } else {
            const auto pairs = qdbus_cast<QList<QStringList>>(reply.arguments().constFirst());
            for (const QStringList& pair : pairs) {
                if (pair.size() == 2)
                    m_facts.firewalldZones[index].ports.append(pair.at(0) + QLatin1Char('/') + pair.at(1));
            }
        }
        finishIfDone();
    });
}

void FirewallProbeLinux::finishIfDone()
{
    if (m_pending == 0)
        emit finished(m_facts);
}
