// A stand-in for the desktop's RemoteDesktop portal on a private session bus. It answers the
// session set-up as a desktop would (or refuses, when told to), loses the first keys of a session
// as GNOME's does, lets calls in flight together overtake each other as the real one does, leaves
// its question unanswered when told to (as a dialog nobody answers, until AnswerLate), and
// writes every call it gets to stdout, one line each, for the portal tests
// to check. Tests steer it through /control; Reset returns it to its first behaviour, so that a
// case left half way does not change the next. What it leaves unanswered, it says on stderr.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QSet>
#include <QTimer>
#include <QVariantMap>

#include <cstdio>

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");

void record(const QString& line)
{
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

QString senderPart(const QDBusMessage& message)
{
    QString sender = message.service().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return sender;
}

struct Behaviour
{
    uint version = 2;
    uint answer = 0;    // 0 granted, 1 declined by the user, 2 other failure, 3 no answer
    QString unanswered; // the request of a Start left unanswered
    int tokens = 0;
    QString lastSession;
    QElapsedTimer keyboardSince; // started by the first key of a session
    QSet<int> lostPresses;       // keys whose press was lost: their release is lost too
};

Behaviour behaviour;

// Answers through a Request object, after the method's own reply has gone out.
void respond(const QString& requestPath, uint response, const QVariantMap& results)
{
    QTimer::singleShot(0, [=] {
        QDBusMessage signal = QDBusMessage::createSignal(
            requestPath, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
        signal << response << results;
        QDBusConnection::sessionBus().send(signal);
    });
}

// GNOME's portal keeps a request's object after its answer, and cannot make another at the same
// path: a request whose handle a caller used before is one the caller cannot withdraw. Kept
// across Reset, as the portal keeps them for the caller's whole connection.
QString claimed(const QString& path)
{
    static QSet<QString> used;
    if (used.contains(path))
        record(QStringLiteral("ReusedHandle ") + path.section(QLatin1Char('/'), -1));
    used.insert(path);
    return path;
}

QString requestPath(const QVariantMap& options, const QDBusMessage& message)
{
    return claimed(QStringLiteral("/org/freedesktop/portal/desktop/request/") + senderPart(message) +
                   QLatin1Char('/') + options.value(QStringLiteral("handle_token")).toString());
}

QString show(const QVariant& v)
{
    return v.isValid() ? v.toString() : QStringLiteral("-");
}

} // namespace

class RemoteDesktop final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.RemoteDesktop")
    Q_PROPERTY(uint version READ version)
    Q_PROPERTY(uint AvailableDeviceTypes READ availableDeviceTypes)
public:
    uint version() const { return behaviour.version; }
    uint availableDeviceTypes() const { return 7; }

public slots:
    QDBusObjectPath CreateSession(const QVariantMap& options, const QDBusMessage& message)
    {
        record(QStringLiteral("CreateSession"));
        behaviour.keyboardSince.invalidate();
        behaviour.lostPresses.clear();
        const QString path = requestPath(options, message);
        behaviour.lastSession =
            claimed(QStringLiteral("/org/freedesktop/portal/desktop/session/") + senderPart(message) +
                    QLatin1Char('/') + options.value(QStringLiteral("session_handle_token")).toString());
        respond(path, 0, {{QStringLiteral("session_handle"), behaviour.lastSession}});
        return QDBusObjectPath(path);
    }
    QDBusObjectPath SelectDevices(const QDBusObjectPath& session, const QVariantMap& options,
                                  const QDBusMessage& message)
    {
        Q_UNUSED(session)
        record(QStringLiteral("SelectDevices types=%1 persist=%2 token=%3")
                   .arg(show(options.value(QStringLiteral("types"))),
                        show(options.value(QStringLiteral("persist_mode"))),
                        show(options.value(QStringLiteral("restore_token")))));
        const QString path = requestPath(options, message);
        respond(path, 0, {});
        return QDBusObjectPath(path);
    }
    QDBusObjectPath Start(const QDBusObjectPath& session, const QString& parent, const QVariantMap& options,
                          const QDBusMessage& message)
    {
        Q_UNUSED(parent)
        record(QStringLiteral("Start"));
        const QString path = requestPath(options, message);
        QVariantMap results;
        if (behaviour.answer == 0) {
            results.insert(QStringLiteral("devices"), 3u);
            if (behaviour.version >= 2)
                results.insert(QStringLiteral("restore_token"),
                               QStringLiteral("token-%1").arg(++behaviour.tokens));
        }
        if (behaviour.answer == 3) {
            std::fprintf(stderr, "fakeportal: Start left unanswered as told (SetAnswer 3), until "
                                 "AnswerLate or Reset\n");
            behaviour.unanswered = path;
        } else {
            respond(path, behaviour.answer, results);
            // As GNOME's: a refused session is closed right after the answer.
            if (behaviour.answer != 0)
                QTimer::singleShot(0, [session] {
                    QDBusConnection::sessionBus().send(QDBusMessage::createSignal(
                        session.path(), QStringLiteral("org.freedesktop.portal.Session"),
                        QStringLiteral("Closed")));
                });
        }
        return QDBusObjectPath(path);
    }
    void NotifyPointerMotion(const QDBusObjectPath&, const QVariantMap&, double dx, double dy,
                             const QDBusMessage& message)
    {
        handle(message, QStringLiteral("NotifyPointerMotion %1 %2").arg(dx).arg(dy));
    }
    void NotifyPointerButton(const QDBusObjectPath&, const QVariantMap&, int button, uint state,
                             const QDBusMessage& message)
    {
        handle(message, QStringLiteral("NotifyPointerButton %1 %2").arg(button).arg(state));
    }
    void NotifyPointerAxis(const QDBusObjectPath&, const QVariantMap& options, double dx, double dy,
                           const QDBusMessage& message)
    {
        handle(message, QStringLiteral("NotifyPointerAxis %1 %2 finish=%3")
                            .arg(dx)
                            .arg(dy)
                            .arg(show(options.value(QStringLiteral("finish")))));
    }
    void NotifyPointerAxisDiscrete(const QDBusObjectPath&, const QVariantMap&, uint axis, int steps,
                                   const QDBusMessage& message)
    {
        handle(message, QStringLiteral("NotifyPointerAxisDiscrete %1 %2").arg(axis).arg(steps));
    }
    void NotifyKeyboardKeysym(const QDBusObjectPath&, const QVariantMap&, int keysym, uint state,
                              const QDBusMessage& message)
    {
        // As GNOME's: the first key makes the seat's keyboard; it and those right after it
        // are lost. A release is lost with its press, however late it comes on a busy machine.
        if (!behaviour.keyboardSince.isValid())
            behaviour.keyboardSince.start();
        bool lost = false;
        if (state != 0) {
            lost = behaviour.keyboardSince.elapsed() < 50;
            if (lost)
                behaviour.lostPresses.insert(keysym);
        } else {
            lost = behaviour.lostPresses.remove(keysym);
        }
        handle(message, QStringLiteral("NotifyKeyboardKeysym 0x%1 %2%3")
                            .arg(keysym, 0, 16)
                            .arg(state)
                            .arg(lost ? QStringLiteral(" lost") : QString()));
    }

public:
    // Records and answers the calls in flight, latest first.
    void flush()
    {
        while (!m_inFlight.isEmpty()) {
            const auto call = m_inFlight.takeLast();
            record(call.second);
            QDBusConnection::sessionBus().send(call.first.createReply());
        }
    }

private:
    // As the real portal, which handles each call on a thread of its own: calls in flight
    // together reach the desktop in any order, here the latest first.
    void handle(const QDBusMessage& message, const QString& line)
    {
        message.setDelayedReply(true);
        m_inFlight.append({message, line});
        QTimer::singleShot(2, this, [this] { flush(); });
    }

    QVector<QPair<QDBusMessage, QString>> m_inFlight;
};

// Sessions live below one path; only Close is called on them.
class Sessions final : public QDBusVirtualObject
{
public:
    explicit Sessions(RemoteDesktop& portal)
        : m_portal(portal)
    {
    }
    QString introspect(const QString&) const override { return QString(); }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.member() != QLatin1String("Close"))
            return false;
        // What was sent before the session ended is recorded before its end: a test that waits
        // for "Close" has then seen every call of the session.
        m_portal.flush();
        record(QStringLiteral("Close"));
        connection.send(message.createReply());
        return true;
    }

private:
    RemoteDesktop& m_portal;
};

// Requests live below one path; only Close is called on them.
class Requests final : public QDBusVirtualObject
{
public:
    QString introspect(const QString&) const override { return QString(); }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.member() != QLatin1String("Close"))
            return false;
        record(QStringLiteral("CloseRequest"));
        connection.send(message.createReply());
        return true;
    }
};

class Control final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.velmora.test.FakePortal")
public:
    explicit Control(RemoteDesktop& portal)
        : m_portal(portal)
    {
    }

public slots:
    // Records what is in flight, then "reset", and answers as at the start again (the restore
    // tokens keep counting, and the latest session stays open).
    void Reset()
    {
        m_portal.flush();
        if (!behaviour.unanswered.isEmpty())
            std::fprintf(stderr, "fakeportal: reset drops the unanswered Start\n");
        behaviour.version = 2;
        behaviour.answer = 0;
        behaviour.unanswered.clear();
        record(QStringLiteral("reset"));
    }
    void SetVersion(uint version) { behaviour.version = version; }
    void SetAnswer(uint answer) { behaviour.answer = answer; }
    // The user grants the Start left unanswered, however late.
    void AnswerLate()
    {
        respond(behaviour.unanswered, 0, {{QStringLiteral("devices"), 3u}});
        behaviour.unanswered.clear();
    }
    // The desktop ends the latest session, as when the user stops sharing.
    void CloseSession()
    {
        QDBusConnection::sessionBus().send(QDBusMessage::createSignal(
            behaviour.lastSession, QStringLiteral("org.freedesktop.portal.Session"),
            QStringLiteral("Closed")));
    }

private:
    RemoteDesktop& m_portal;
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    RemoteDesktop portal;
    Sessions sessions(portal);
    Requests requests;
    Control control(portal);
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties) ||
        !bus.registerVirtualObject(QStringLiteral("/org/freedesktop/portal/desktop/session"), &sessions,
                                   QDBusConnection::SubPath) ||
        !bus.registerVirtualObject(QStringLiteral("/org/freedesktop/portal/desktop/request"), &requests,
                                   QDBusConnection::SubPath) ||
        !bus.registerObject(QStringLiteral("/control"), &control, QDBusConnection::ExportAllSlots) ||
        !bus.registerService(kService)) {
        std::fprintf(stderr, "fakeportal: cannot register on the bus\n");
        return 1;
    }
    record(QStringLiteral("ready"));
    return app.exec();
}

#include "fakeportal.moc"
