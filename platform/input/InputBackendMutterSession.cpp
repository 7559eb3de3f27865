#include "platform/input/InputBackendMutterSession.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QDebug>

// The life of a session with Mutter: created with a screen-cast stream per monitor where
// Mutter records them (without one where it cannot), started, and begun anew when the
// monitors change.

namespace {

QString pathOf(const QDBusMessage& reply)
{
    const QVariant v = reply.arguments().value(0);
    return v.canConvert<QDBusObjectPath>() ? v.value<QDBusObjectPath>().path() : v.toString();
}

} // namespace

InputBackendMutter::Session::Session(const QDBusConnection& bus, DesktopSurroundings surroundings)
    : m_bus(bus)
    , m_surroundings(std::move(surroundings))
{
    m_bus.connect(MutterBus::DisplayService, MutterBus::DisplayPath, MutterBus::DisplayService,
                  QStringLiteral("MonitorsChanged"), this, SLOT(onMonitorsChanged()));
    m_warmUp.setSingleShot(true);
    m_warmUp.setInterval(KeyboardWarmUpMs);
    connect(&m_warmUp, &QTimer::timeout, this, [this] {
        m_warming = false;
        replay();
    });
}

void InputBackendMutter::Session::start()
{
    close();
    // The monitors decide the streams and the span of absolute moves; without an answer
    // the application's screens stand in.
    readLayout([this](const QVector<Monitor>& monitors) {
        m_layout = monitors;
        createSession();
    });
}

void InputBackendMutter::Session::createSession()
{
    call(MutterBus::Service, MutterBus::Path, MutterBus::Service, QStringLiteral("CreateSession"), {},
         [this](const QDBusMessage& reply) {
             m_session = pathOf(reply);
             m_bus.connect(MutterBus::Service, m_session, MutterBus::SessionInterface,
                           QStringLiteral("Closed"), this, SLOT(onClosed(QDBusMessage)));
             if (m_tryStream)
                 linkScreenCast();
             else
                 startSession();
         });
}

void InputBackendMutter::Session::close()
{
    m_calls.forgetPending();
    if (!m_session.isEmpty()) {
        releaseHeld();
        m_bus.disconnect(MutterBus::Service, m_session, MutterBus::SessionInterface, QStringLiteral("Closed"),
                         this, SLOT(onClosed(QDBusMessage)));
        m_bus.send(QDBusMessage::createMethodCall(MutterBus::Service, m_session, MutterBus::SessionInterface,
                                                  QStringLiteral("Stop")));
    }
    m_session.clear();
    m_streams.clear();
    m_ready = false;
    m_warming = false;
    m_warmUp.stop();
    m_pointer.reset();
}

// The span of absolute positions: all monitors together.
QSize InputBackendMutter::Session::absoluteSize() const
{
    if (!m_streams.isEmpty())
        return unionOf(m_streams).size();
    return RelativePointer::desktopSize(screens());
}

void InputBackendMutter::Session::onClosed(const QDBusMessage& message)
{
    // A session we left already may still report its end.
    if (message.path() != m_session)
        return;
    if (!m_ready && !m_streams.isEmpty()) {
        // Mutter closes a session whose stream cannot start (no PipeWire) before it
        // answers Start: once more without a stream.
        qInfo("Mutter input: the session with a stream was closed; starting one without");
        m_session.clear();
        m_tryStream = false;
        start();
        return;
    }
    const bool hadStreams = !m_streams.isEmpty();
    m_session.clear();
    close();
    if (!hadStreams)
        return endedByDesktop();
    // Mutter ends a session whose recorded monitor went away: a new one for the new
    // monitors, unless they are the same and the desktop meant it.
    readLayout([this](const QVector<Monitor>& monitors) {
        if (monitors.isEmpty() || monitors == m_layout)
            return endedByDesktop();
        qInfo("Mutter input: the monitors changed; starting a new session for them");
        start();
    });
}

void InputBackendMutter::Session::onMonitorsChanged()
{
    if (m_session.isEmpty())
        return;
    readLayout([this](const QVector<Monitor>& monitors) {
        if (monitors == m_layout)
            return;
        qInfo("Mutter input: the monitors changed; starting a new session for them");
        start();
    });
}

// Where the pointer may go: the monitors Mutter told, or else the application's screens.
QVector<QRect> InputBackendMutter::Session::screens() const
{
    if (m_layout.isEmpty())
        return m_surroundings.screens();
    QVector<QRect> areas;
    for (const Monitor& m : m_layout)
        areas << m.area;
    return areas;
}

void InputBackendMutter::Session::endedByDesktop()
{
    qWarning("Mutter input: the desktop closed the remote-control session");
    setState(InputBackendStatus::State::Unavailable,
             QString::fromUtf8(QT_TRANSLATE_NOOP("InputBackendChoice", "the desktop ended the session")));
}

// The monitors as Mutter lays them out; none where its display interface does not answer.
void InputBackendMutter::Session::readLayout(const std::function<void(const QVector<Monitor>&)>& done)
{
    call(
        MutterBus::DisplayService, MutterBus::DisplayPath, MutterBus::DisplayService,
        QStringLiteral("GetCurrentState"), {}, [done](const QDBusMessage& reply) { done(monitorsOf(reply)); },
        [done](const QString&) { done({}); });
}

// Every set-up call is asynchronous: Mutter may be slow, and the window must not wait.
void InputBackendMutter::Session::call(const QString& service, const QString& path, const QString& interface,
                                       const QString& method, const QVariantList& args, const Reply& ok,
                                       const Failure& failed)
{
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(args);
    m_calls.call(message, [this, ok, failed, method](QDBusPendingCallWatcher& answer) {
        const QDBusMessage reply = answer.reply();
        if (reply.type() != QDBusMessage::ReplyMessage) {
            if (failed)
                return failed(reply.errorMessage());
            qWarning().noquote() << "Mutter input:" << method << "failed:" << reply.errorMessage();
            m_waiting.clear();
            setState(InputBackendStatus::State::Unavailable, reply.errorMessage());
            return;
        }
        ok(reply);
    });
}

// Absolute moves need a screen-cast stream of the same session; Mutter records one only
// where PipeWire runs, so any failure here means relative moves instead.
void InputBackendMutter::Session::linkScreenCast()
{
    const Failure withoutStream = [this](const QString& why) {
        qInfo().noquote() << "Mutter input: no screen-cast stream (" + why + "); absolute moves are relative";
        m_tryStream = false;
        start();
    };
    call(
        MutterBus::Service, m_session, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"), {MutterBus::SessionInterface, QStringLiteral("SessionId")},
        [this, withoutStream](const QDBusMessage& reply) {
            const QString id = reply.arguments().value(0).value<QDBusVariant>().variant().toString();
            const QVariantMap properties{{QStringLiteral("remote-desktop-session-id"), id}};
            call(
                MutterBus::CastService, MutterBus::CastPath, MutterBus::CastService,
                QStringLiteral("CreateSession"), {properties},
                [this](const QDBusMessage& cast) { recordMonitors(pathOf(cast), 0); }, withoutStream);
        },
        withoutStream);
}

// One stream per monitor, so that an absolute move can name the monitor it lands on.
// Where the monitors are unknown, an empty connector records the primary one.
void InputBackendMutter::Session::recordMonitors(const QString& cast, int next)
{
    if (next > 0 && next >= m_layout.size())
        return startSession();
    Monitor monitor;
    if (next < m_layout.size()) {
        monitor = m_layout.at(next);
    } else {
        const QVector<QRect> screens = m_surroundings.screens();
        monitor.area = screens.isEmpty() ? QRect(0, 0, 1920, 1080) : screens.constFirst();
    }
    call(
        MutterBus::CastService, cast, MutterBus::CastSessionInterface, QStringLiteral("RecordMonitor"),
        {monitor.connector, QVariantMap()},
        [this, cast, next, monitor](const QDBusMessage& stream) {
            m_streams.append(Stream{pathOf(stream), monitor.area, monitor.streamScale});
            recordMonitors(cast, next + 1);
        },
        [this](const QString& why) {
            qInfo().noquote() << "Mutter input: no screen-cast stream (" + why +
                                     "); absolute moves are relative";
            m_streams.clear();
            m_tryStream = false;
            start();
        });
}

void InputBackendMutter::Session::startSession()
{
    call(
        MutterBus::Service, m_session, MutterBus::SessionInterface, QStringLiteral("Start"), {},
        [this](const QDBusMessage&) {
            m_ready = true;
            if (m_streams.isEmpty())
                qInfo("Mutter input: remote-control session started (relative pointer)");
            else
                qInfo("Mutter input: remote-control session started (absolute pointer, monitor streams: "
                      "%d)",
                      int(m_streams.size()));
            setState(InputBackendStatus::State::Ready, QString());
            // The seat has no keyboard yet and Mutter drops the key that makes one; nor a
            // pointer, and the first move can be dropped the same way, so a click right after
            // one jump would land where the pointer was. A move by nothing makes both.
            keysym(WarmUpKeysym, true);
            keysym(WarmUpKeysym, false);
            motion(0, 0);
            m_warming = true;
            m_warmUp.start();
        },
        [this](const QString& why) {
            if (!m_streams.isEmpty()) {
                // Recording fails at Start without PipeWire: once more without a stream.
                qInfo().noquote() << "Mutter input: the session with a stream did not start (" + why +
                                         "); starting one without";
                m_tryStream = false;
                start();
                return;
            }
            qWarning().noquote() << "Mutter input: the session did not start:" << why;
            m_waiting.clear();
            setState(InputBackendStatus::State::Unavailable, why);
        });
}

void InputBackendMutter::Session::replay()
{
    while (m_ready && !m_warming && !m_waiting.empty()) {
        const InputRecord r = m_waiting.front();
        m_waiting.pop_front();
        inject(r);
    }
}
