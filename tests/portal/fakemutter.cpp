// A stand-in for GNOME Mutter's own remote-desktop and screen-cast interfaces on a private session
// bus. It behaves as Mutter does where that matters to us: a stream of the primary monitor can be
// recorded, but a session with a stream fails to start where PipeWire is missing (told by
// SetStreams(false), closing the session before Start fails); and the keyboard appears with the first key,
// which is lost together with every key of the next 50 ms. Every call is written to stdout, one line each.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
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

struct Behaviour
{
    bool streams = true;
    int sessions = 0;
    int casts = 0;
    QHash<QString, QString> castOf; // remote-desktop session id -> its screen-cast session
    QSet<QString> castsWithStream;  // screen-cast sessions that record a stream
    QElapsedTimer keyboardSince;    // started by the first key of a session
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
            if (behaviour.keyboardSince.elapsed() < 50)
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
        record(QStringLiteral("RecordMonitor"));
        behaviour.castsWithStream.insert(message.path());
        connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(
            QStringLiteral("/org/gnome/Mutter/ScreenCast/Stream/u%1").arg(behaviour.casts)))));
        return true;
    }
};

class Control final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.velmora.test.FakeMutter")
public slots:
    void SetStreams(bool streams) { behaviour.streams = streams; }
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
    Control control;
    if (!bus.registerObject(QStringLiteral("/org/gnome/Mutter/RemoteDesktop"), &remoteDesktop,
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
