// A stand-in for GNOME Mutter's own remote-desktop and screen-cast interfaces on a private session
// bus. It behaves as Mutter does where that matters to us: a stream of the primary monitor can be
// recorded, but a session with a stream fails to start where PipeWire is missing (told by
// SetStreams(false), closing the session before Start fails); and the keyboard appears with the first key,
// which is lost together with every key of the next 50 ms (and their releases, however late). Once told its
// monitors (SetMonitors), it also answers DisplayConfig's GetCurrentState and says MonitorsChanged. Every
// call but that question is written to stdout, one line each. Reset (each test case starts with it) returns
// it to its first behaviour and writes "reset".
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QHash>
#include <QSet>

#include <cstdio>

namespace {

const QString kSessions = QStringLiteral("/org/gnome/Mutter/RemoteDesktop/Session");
const QString kCastSessions = QStringLiteral("/org/gnome/Mutter/ScreenCast/Session");

void record(const QString& line)
{
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

// DisplayConfig's GetCurrentState answer, in its D-Bus form.
struct MonitorName
{
    QString connector, vendor = QStringLiteral("MetaVendor"), product = QStringLiteral("MetaVirtualMonitor"),
                       serial = QStringLiteral("0x00");
};
struct Mode
{
    QString id;
    int width = 0, height = 0;
    double refresh = 60, preferredScale = 1;
    QList<double> scales{1.0};
    QVariantMap properties;
};
struct MonitorInfo
{
    MonitorName name;
    QList<Mode> modes;
    QVariantMap properties;
};
struct LogicalMonitor
{
    int x = 0, y = 0;
    double scale = 1;
    uint transform = 0;
    bool primary = false;
    QList<MonitorName> monitors;
    QVariantMap properties;
};

} // namespace

Q_DECLARE_METATYPE(MonitorName)
Q_DECLARE_METATYPE(Mode)
Q_DECLARE_METATYPE(MonitorInfo)
Q_DECLARE_METATYPE(LogicalMonitor)

QDBusArgument& operator<<(QDBusArgument& a, const MonitorName& n)
{
    a.beginStructure();
    a << n.connector << n.vendor << n.product << n.serial;
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, MonitorName& n)
{
    a.beginStructure();
    a >> n.connector >> n.vendor >> n.product >> n.serial;
    a.endStructure();
    return a;
}
QDBusArgument& operator<<(QDBusArgument& a, const Mode& m)
{
    a.beginStructure();
    a << m.id << m.width << m.height << m.refresh << m.preferredScale << m.scales << m.properties;
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, Mode& m)
{
    a.beginStructure();
    a >> m.id >> m.width >> m.height >> m.refresh >> m.preferredScale >> m.scales >> m.properties;
    a.endStructure();
    return a;
}
QDBusArgument& operator<<(QDBusArgument& a, const MonitorInfo& m)
{
    a.beginStructure();
    a << m.name << m.modes << m.properties;
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, MonitorInfo& m)
{
    a.beginStructure();
    a >> m.name >> m.modes >> m.properties;
    a.endStructure();
    return a;
}
QDBusArgument& operator<<(QDBusArgument& a, const LogicalMonitor& m)
{
    a.beginStructure();
    a << m.x << m.y << m.scale << m.transform << m.primary << m.monitors << m.properties;
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, LogicalMonitor& m)
{
    a.beginStructure();
    a >> m.x >> m.y >> m.scale >> m.transform >> m.primary >> m.monitors >> m.properties;
    a.endStructure();
    return a;
}

namespace {

struct Behaviour
{
    QList<MonitorInfo> monitors;
    QList<LogicalMonitor> layout;
    int streamCount = 0;
    bool streams = true;
    int sessions = 0;
    int casts = 0;
    QHash<QString, QString> castOf; // remote-desktop session id -> its screen-cast session
    QSet<QString> castsWithStream;  // screen-cast sessions that record a stream
    QElapsedTimer keyboardSince;    // started by the first key of a session
    QSet<uint> lostPresses;         // keys whose press was lost: their release is lost too
    QString lastSession;
};

Behaviour behaviour;

QString show(const QVariant& v)
{
    if (v.userType() == QMetaType::Bool)
        return v.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    return v.toString();
}

} // namespace

class RemoteDesktop final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.gnome.Mutter.RemoteDesktop")
public slots:
    QDBusObjectPath CreateSession()
    {
        record(QStringLiteral("CreateSession"));
        behaviour.lastSession = kSessions + QStringLiteral("/u%1").arg(++behaviour.sessions);
        behaviour.keyboardSince.invalidate();
        behaviour.lostPresses.clear();
        return QDBusObjectPath(behaviour.lastSession);
    }
};

class ScreenCast final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.gnome.Mutter.ScreenCast")
public slots:
    QDBusObjectPath CreateSession(const QVariantMap& properties)
    {
        const QString id = properties.value(QStringLiteral("remote-desktop-session-id")).toString();
        record(QStringLiteral("CreateCastSession %1").arg(id));
        const QString path = kCastSessions + QStringLiteral("/u%1").arg(++behaviour.casts);
        behaviour.castOf.insert(id, path);
        return QDBusObjectPath(path);
    }
};

// Remote-desktop sessions: Start, Stop, the Notify* calls and their SessionId property.
class Sessions final : public QDBusVirtualObject
{
public:
    QString introspect(const QString&) const override { return QString(); }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        const QString id = message.path().section(QLatin1Char('/'), -1);
        const QString member = message.member();
        if (member == QLatin1String("Get")) {
            connection.send(message.createReply(QVariant::fromValue(QDBusVariant(id))));
            return true;
        }
        if (member == QLatin1String("Start")) {
            const bool stream = behaviour.castsWithStream.contains(behaviour.castOf.value(id));
            record(QStringLiteral("Start stream=%1").arg(stream ? "yes" : "no"));
            if (stream && !behaviour.streams) {
                // As Mutter does: the session is closed first, then Start fails.
                connection.send(QDBusMessage::createSignal(
                    message.path(), QStringLiteral("org.gnome.Mutter.RemoteDesktop.Session"),
                    QStringLiteral("Closed")));
                connection.send(
                    message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.Failed"),
                                             QStringLiteral("Couldn't connect pipewire context")));
                return true;
            }
            connection.send(message.createReply());
            return true;
        }
        QStringList args;
        for (const QVariant& v : message.arguments())
            args << show(v);
        if (member == QLatin1String("NotifyKeyboardKeysym")) {
            args[0] = QStringLiteral("0x") + QString::number(message.arguments().value(0).toUInt(), 16);
            // The first key makes the seat's keyboard; it and those right after it are lost.
            if (!behaviour.keyboardSince.isValid())
                behaviour.keyboardSince.start();
            const uint keysym = message.arguments().value(0).toUInt();
            bool lost = false;
            if (message.arguments().value(1).toBool()) {
                lost = behaviour.keyboardSince.elapsed() < 50;
                if (lost)
                    behaviour.lostPresses.insert(keysym);
            } else {
                lost = behaviour.lostPresses.remove(keysym);
            }
            if (lost)
                args << QStringLiteral("lost");
        }
        record(QString(member + QLatin1Char(' ') + args.join(QLatin1Char(' '))).trimmed());
        if (message.isReplyRequired())
            connection.send(message.createReply());
        return true;
    }
};

// Screen-cast sessions: RecordMonitor gives a stream.
class CastSessions final : public QDBusVirtualObject
{
public:
    QString introspect(const QString&) const override { return QString(); }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.member() != QLatin1String("RecordMonitor"))
            return false;
        const QString connector = message.arguments().value(0).toString();
        record(QString(QStringLiteral("RecordMonitor ") + connector).trimmed());
        behaviour.castsWithStream.insert(message.path());
        connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(
            QStringLiteral("/org/gnome/Mutter/ScreenCast/Stream/u%1").arg(++behaviour.streamCount)))));
        return true;
    }
};

class DisplayConfig final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.gnome.Mutter.DisplayConfig")
public slots:
    uint GetCurrentState(const QDBusMessage& message)
    {
        QDBusMessage reply = message.createReply();
        reply << 1u << QVariant::fromValue(behaviour.monitors) << QVariant::fromValue(behaviour.layout)
              << QVariantMap{{QStringLiteral("layout-mode"), 2u}};
        QDBusConnection::sessionBus().send(reply);
        message.setDelayedReply(true);
        return 0;
    }
signals:
    void MonitorsChanged();
};

class Control final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.velmora.test.FakeMutter")
public:
    DisplayConfig* display = nullptr;
public slots:
    // "CONNECTOR X Y WIDTH HEIGHT" per monitor, separated by ";", the primary first; Mutter's
    // display interface appears with the first call. `announce`: say MonitorsChanged, as Mutter
    // does, or not, as when its session's end comes first.
    void SetMonitors(const QString& layout, bool announce)
    {
        behaviour.monitors.clear();
        behaviour.layout.clear();
        for (const QString& one : layout.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QStringList f = one.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            MonitorName name;
            name.connector = f.value(0);
            Mode mode;
            mode.width = f.value(3).toInt();
            mode.height = f.value(4).toInt();
            mode.id = QStringLiteral("%1x%2@60.000").arg(mode.width).arg(mode.height);
            mode.properties.insert(QStringLiteral("is-current"), true);
            behaviour.monitors << MonitorInfo{name, {mode}, {}};
            LogicalMonitor logical;
            logical.x = f.value(1).toInt();
            logical.y = f.value(2).toInt();
            logical.primary = behaviour.layout.isEmpty();
            logical.monitors << name;
            behaviour.layout << logical;
        }
        QDBusConnection::sessionBus().registerService(QStringLiteral("org.gnome.Mutter.DisplayConfig"));
        if (announce)
            emit display->MonitorsChanged();
    }

    void SetStreams(bool streams) { behaviour.streams = streams; }
    // Streams work again (the monitors stay as told); "reset" follows every call made before.
    void Reset()
    {
        behaviour.streams = true;
        record(QStringLiteral("reset"));
    }
    // The desktop ends the latest session, as when the user stops sharing.
    void CloseSession()
    {
        QDBusConnection::sessionBus().send(QDBusMessage::createSignal(
            behaviour.lastSession, QStringLiteral("org.gnome.Mutter.RemoteDesktop.Session"),
            QStringLiteral("Closed")));
    }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    RemoteDesktop remoteDesktop;
    ScreenCast screenCast;
    Sessions sessions;
    CastSessions casts;
    qDBusRegisterMetaType<MonitorName>();
    qDBusRegisterMetaType<QList<MonitorName>>();
    qDBusRegisterMetaType<Mode>();
    qDBusRegisterMetaType<QList<Mode>>();
    qDBusRegisterMetaType<MonitorInfo>();
    qDBusRegisterMetaType<QList<MonitorInfo>>();
    qDBusRegisterMetaType<LogicalMonitor>();
    qDBusRegisterMetaType<QList<LogicalMonitor>>();
    qDBusRegisterMetaType<QList<double>>();
    DisplayConfig display;
    Control control;
    control.display = &display;
    if (!bus.registerObject(QStringLiteral("/org/gnome/Mutter/DisplayConfig"), &display,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals) ||
        !bus.registerObject(QStringLiteral("/org/gnome/Mutter/RemoteDesktop"), &remoteDesktop,
                            QDBusConnection::ExportAllSlots) ||
        !bus.registerObject(QStringLiteral("/org/gnome/Mutter/ScreenCast"), &screenCast,
                            QDBusConnection::ExportAllSlots) ||
        !bus.registerVirtualObject(kSessions, &sessions, QDBusConnection::SubPath) ||
        !bus.registerVirtualObject(kCastSessions, &casts, QDBusConnection::SubPath) ||
        !bus.registerObject(QStringLiteral("/control"), &control, QDBusConnection::ExportAllSlots) ||
        !bus.registerService(QStringLiteral("org.gnome.Mutter.ScreenCast")) ||
        !bus.registerService(QStringLiteral("org.gnome.Mutter.RemoteDesktop"))) {
        std::fprintf(stderr, "fakemutter: cannot register on the bus\n");
        return 1;
    }
    record(QStringLiteral("ready"));
    return app.exec();
}

#include "fakemutter.moc"
