#include "platform/input/InputBackendPortalSession.h"

#include "platform/files/PrivateFiles.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QDebug>

// The life of a portal session: the desktop asks the user (once, where the portal remembers
// the answer in a restore token), devices are chosen, the session starts, and it ends by the
// desktop, the user or us.

namespace {

// Remembered until the user revokes it.
constexpr uint kPersistUntilRevoked = 2;
// The interface version that knows persist_mode and restore tokens.
constexpr uint kPersistenceVersion = 2;

} // namespace

InputBackendPortal::Session::Session(const QDBusConnection& bus, std::unique_ptr<QSettings> settings,
                                     Surroundings surroundings)
    : m_bus(bus)
    , m_settings(std::move(settings))
    , m_surroundings(std::move(surroundings))
{
    m_warmUp.setSingleShot(true);
    m_warmUp.setInterval(KeyboardWarmUpMs);
    connect(&m_warmUp, &QTimer::timeout, this, [this] {
        while (!m_waiting.empty()) {
            const InputRecord r = m_waiting.front();
            m_waiting.pop_front();
            inject(r);
        }
    });
    m_answerTimeout.setSingleShot(true);
    m_answerTimeout.setInterval(AnswerTimeoutMs);
    connect(&m_answerTimeout, &QTimer::timeout, this, [this] {
        qWarning("Portal input: the desktop's question went unanswered for %d ms; giving up",
                 m_answerTimeout.interval());
        // The dialog goes away with its request, and an answer given later finds no session.
        close();
        setState(InputBackendStatus::State::Refused,
                 QString::fromUtf8(
                     QT_TRANSLATE_NOOP("InputBackendChoice", "the desktop's question went unanswered")));
    });
}

void InputBackendPortal::Session::start()
{
    close();
    setState(InputBackendStatus::State::WaitingForPermission, QString());
    m_answerTimeout.start();
    // The version decides whether the portal can remember; asked without blocking the
    // window, since a portal that is starting up may take seconds to answer.
    QDBusMessage get = QDBusMessage::createMethodCall(PortalBus::Service, PortalBus::Path,
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << PortalBus::Interface << QStringLiteral("version");
    m_calls.call(
        get,
        [this](QDBusPendingCallWatcher& answer) {
            const QDBusPendingReply<QDBusVariant> reply = answer;
            // Without an answer the portal is taken for the oldest kind.
            m_version = reply.isError() ? 0u : reply.value().variant().toUInt();
            createSession();
        },
        5000);
}

void InputBackendPortal::Session::createSession()
{
    QVariantMap options{{QStringLiteral("session_handle_token"), token()}};
    request(QStringLiteral("CreateSession"), {}, options, [this](uint response, const QVariantMap& results) {
        if (response != 0)
            return refused(response);
        const QVariant handle = results.value(QStringLiteral("session_handle"));
        m_session =
            handle.canConvert<QDBusObjectPath>() ? handle.value<QDBusObjectPath>().path() : handle.toString();
        m_bus.connect(PortalBus::Service, m_session, PortalBus::SessionInterface, QStringLiteral("Closed"),
                      this, SLOT(onSessionClosed(QDBusMessage)));
        selectDevices();
    });
}

void InputBackendPortal::Session::close()
{
    // A question still open (a dialog on the screen) is withdrawn first, so that no answer
    // to it comes later.
    for (auto it = m_pending.cbegin(); it != m_pending.cend(); ++it) {
        m_bus.disconnect(PortalBus::Service, it.key(), PortalBus::RequestInterface,
                         QStringLiteral("Response"), this, SLOT(onResponse(uint, QVariantMap, QDBusMessage)));
        m_bus.send(QDBusMessage::createMethodCall(PortalBus::Service, it.key(), PortalBus::RequestInterface,
                                                  QStringLiteral("Close")));
    }
    m_pending.clear();
    if (!m_session.isEmpty()) {
        releaseHeld();
        // What waits (the releases above among it) goes out at once: the session ends.
        for (const Outgoing& o : m_outgoing)
            m_bus.send(notifyCall(o));
        m_bus.disconnect(PortalBus::Service, m_session, PortalBus::SessionInterface, QStringLiteral("Closed"),
                         this, SLOT(onSessionClosed(QDBusMessage)));
        m_bus.send(QDBusMessage::createMethodCall(PortalBus::Service, m_session, PortalBus::SessionInterface,
                                                  QStringLiteral("Close")));
    }
    m_session.clear();
    m_ready = false;
    m_warmUp.stop();
    m_answerTimeout.stop();
    m_waiting.clear();
    m_outgoing.clear();
    m_inFlight = false;
    m_pointer.reset();
    m_calls.forgetPending();
    runDelivered(); // nothing more goes out
}

void InputBackendPortal::Session::whenDelivered(std::function<void()> done)
{
    m_delivered.push_back(std::move(done));
    if (m_waiting.empty() && m_outgoing.empty() && !m_inFlight)
        runDelivered();
}

void InputBackendPortal::Session::runDelivered()
{
    std::vector<std::function<void()>> due;
    due.swap(m_delivered);
    for (const auto& done : due)
        done();
}

void InputBackendPortal::Session::onResponse(uint response, const QVariantMap& results,
                                             const QDBusMessage& message)
{
    const auto handler = m_pending.take(message.path());
    m_bus.disconnect(PortalBus::Service, message.path(), PortalBus::RequestInterface,
                     QStringLiteral("Response"), this, SLOT(onResponse(uint, QVariantMap, QDBusMessage)));
    if (handler)
        handler(response, results);
}

void InputBackendPortal::Session::onSessionClosed(const QDBusMessage& message)
{
    // GNOME's portal closes a session it refused right after saying so; that one, or any
    // session we left already, is no news.
    if (m_session.isEmpty() || message.path() != m_session)
        return;
    qWarning("Portal input: the desktop closed the remote-control session");
    m_session.clear();
    m_ready = false;
    setState(InputBackendStatus::State::Refused,
             QString::fromUtf8(QT_TRANSLATE_NOOP("InputBackendChoice", "the desktop ended the session")));
}

QString InputBackendPortal::Session::requestPath(const QString& handleToken) const
{
    QString sender = m_bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return QStringLiteral("/org/freedesktop/portal/desktop/request/") + sender + QLatin1Char('/') +
           handleToken;
}

void InputBackendPortal::Session::listen(const QString& path, const Handler& handler)
{
    m_pending.insert(path, handler);
    m_bus.connect(PortalBus::Service, path, PortalBus::RequestInterface, QStringLiteral("Response"), this,
                  SLOT(onResponse(uint, QVariantMap, QDBusMessage)));
}

// Calls a portal method that answers through a Request object. The answer's path is
// known before the call, so no Response can slip past.
void InputBackendPortal::Session::request(const QString& method, QVariantList args, QVariantMap options,
                                          const Handler& handler)
{
    const QString handleToken = token();
    options.insert(QStringLiteral("handle_token"), handleToken);
    const QString expected = requestPath(handleToken);
    listen(expected, handler);
    QDBusMessage call =
        QDBusMessage::createMethodCall(PortalBus::Service, PortalBus::Path, PortalBus::Interface, method);
    args << options;
    call.setArguments(args);
    m_calls.call(call, [this, expected, handler, method](QDBusPendingCallWatcher& answer) {
        const QDBusPendingReply<QDBusObjectPath> reply = answer;
        if (reply.isError()) {
            qWarning().noquote() << "Portal input:" << method << "failed:" << reply.error().message();
            m_pending.remove(expected);
            setState(InputBackendStatus::State::Unavailable, reply.error().message());
            return;
        }
        // Older portals choose the request path themselves.
        const QString actual = reply.value().path();
        if (actual != expected && m_pending.contains(expected)) {
            m_pending.remove(expected);
            listen(actual, handler);
        }
    });
}

void InputBackendPortal::Session::refused(uint response)
{
    qWarning("Portal input: the desktop refused remote control (answer %u)", response);
    close();
    setState(InputBackendStatus::State::Refused,
             response == 1
                 ? QString::fromUtf8(QT_TRANSLATE_NOOP("InputBackendChoice", "the user declined"))
                 : QString::fromUtf8(QT_TRANSLATE_NOOP("InputBackendChoice", "the desktop declined")));
}

void InputBackendPortal::Session::selectDevices()
{
    QVariantMap options{{QStringLiteral("types"), PortalBus::DeviceKeyboard | PortalBus::DevicePointer}};
    if (m_version >= kPersistenceVersion) {
        options.insert(QStringLiteral("persist_mode"), kPersistUntilRevoked);
        const QString saved = m_settings->value(QLatin1String(RestoreTokenKey)).toString();
        if (!saved.isEmpty())
            options.insert(QStringLiteral("restore_token"), saved);
    }
    request(QStringLiteral("SelectDevices"), {QVariant::fromValue(QDBusObjectPath(m_session))}, options,
            [this](uint response, const QVariantMap&) {
                if (response != 0)
                    return refused(response);
                startSession();
            });
}

void InputBackendPortal::Session::startSession()
{
    request(QStringLiteral("Start"), {QVariant::fromValue(QDBusObjectPath(m_session)), QString()}, {},
            [this](uint response, const QVariantMap& results) {
                if (response != 0)
                    return refused(response);
                const uint devices = results.value(QStringLiteral("devices"), 0u).toUInt();
                if ((devices & (PortalBus::DeviceKeyboard | PortalBus::DevicePointer)) == 0 &&
                    results.contains(QStringLiteral("devices"))) {
                    close();
                    setState(InputBackendStatus::State::Refused,
                             QString::fromUtf8(QT_TRANSLATE_NOOP(
                                 "InputBackendChoice", "the desktop granted neither keyboard nor pointer")));
                    return;
                }
                // Each token is good for one start; the portal hands out the next one.
                const QString next = results.value(QStringLiteral("restore_token")).toString();
                if (!next.isEmpty()) {
                    m_settings->setValue(QLatin1String(RestoreTokenKey), next);
                    m_settings->sync();
                    makeFilePrivate(m_settings->fileName());
                }
                m_ready = true;
                m_warnedNotReady = false;
                m_answerTimeout.stop();
                qInfo("Portal input: remote control granted (interface version %u)", m_version);
                setState(InputBackendStatus::State::Ready, QString());
                // GNOME's portal loses the key that gives the seat its keyboard: a modifier
                // goes first, and events wait a moment.
                keysym(WarmUpKeysym, true);
                keysym(WarmUpKeysym, false);
                m_warmUp.start();
            });
}
