#include "platform/input/InputBackendPortal.h"

#include "platform/files/PrivateFiles.h"
#include "platform/input/InputBackendStatus.h"
#include "platform/input/InputDecoding.h"
#include "platform/input/KeymapKeys.h"
#include "platform/input/Keysyms.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QDebug>
#include <QHash>
#include <QSet>
#include <QSettings>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <deque>
#include <functional>
#include <vector>

#include <linux/input-event-codes.h>

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString kSessionInterface = QStringLiteral("org.freedesktop.portal.Session");

constexpr uint kDeviceKeyboard = 1;
constexpr uint kDevicePointer = 2;
// Remembered until the user revokes it.
constexpr uint kPersistUntilRevoked = 2;
// Tapped once so the seat gets a keyboard before the first real key.
constexpr quint32 kWarmUpKeysym = 0xffe1; // Shift_L
// The interface version that knows persist_mode and restore tokens.
constexpr uint kPersistenceVersion = 2;

} // namespace

const char* const InputBackendPortal::RestoreTokenKey = "input/portalRestoreToken";

class InputBackendPortal::Session final : public QObject
{
    Q_OBJECT
public:
    Session(const QDBusConnection& bus, std::unique_ptr<QSettings> settings, Surroundings surroundings)
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

    void setAnswerTimeout(int milliseconds) { m_answerTimeout.setInterval(milliseconds); }

    ~Session() override { close(); }

    void start()
    {
        close();
        setState(InputBackendStatus::State::WaitingForPermission, QString());
        m_answerTimeout.start();
        // The version decides whether the portal can remember; asked without blocking the
        // window, since a portal that is starting up may take seconds to answer.
        QDBusMessage get = QDBusMessage::createMethodCall(
            kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        get << kInterface << QStringLiteral("version");
        auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(get, 5000), this);
        const quint64 generation = m_generation;
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, generation] {
            watcher->deleteLater();
            if (generation != m_generation)
                return;
            const QDBusPendingReply<QDBusVariant> reply = *watcher;
            // Without an answer the portal is taken for the oldest kind.
            m_version = reply.isError() ? 0u : reply.value().variant().toUInt();
            createSession();
        });
    }

    void createSession()
    {
        QVariantMap options{{QStringLiteral("session_handle_token"), token()}};
        request(QStringLiteral("CreateSession"), {}, options,
                [this](uint response, const QVariantMap& results) {
                    if (response != 0)
                        return refused(response);
                    const QVariant handle = results.value(QStringLiteral("session_handle"));
                    m_session = handle.canConvert<QDBusObjectPath>() ? handle.value<QDBusObjectPath>().path()
                                                                     : handle.toString();
                    m_bus.connect(kService, m_session, kSessionInterface, QStringLiteral("Closed"), this,
                                  SLOT(onSessionClosed(QDBusMessage)));
                    selectDevices();
                });
    }

    void close()
    {
        // A question still open (a dialog on the screen) is withdrawn first, so that no answer
        // to it comes later.
        for (auto it = m_pending.cbegin(); it != m_pending.cend(); ++it) {
            m_bus.disconnect(kService, it.key(), kRequestInterface, QStringLiteral("Response"), this,
                             SLOT(onResponse(uint, QVariantMap, QDBusMessage)));
            m_bus.send(QDBusMessage::createMethodCall(kService, it.key(), kRequestInterface,
                                                      QStringLiteral("Close")));
        }
        m_pending.clear();
        if (!m_session.isEmpty()) {
            releaseHeld();
            // What waits (the releases above among it) goes out at once: the session ends.
            for (const Outgoing& o : m_outgoing)
                m_bus.send(notifyCall(o));
            m_bus.disconnect(kService, m_session, kSessionInterface, QStringLiteral("Closed"), this,
                             SLOT(onSessionClosed(QDBusMessage)));
            m_bus.send(QDBusMessage::createMethodCall(kService, m_session, kSessionInterface,
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
        ++m_generation;
        runDelivered(); // nothing more goes out
    }

    void whenDelivered(std::function<void()> done)
    {
        m_delivered.push_back(std::move(done));
        if (m_waiting.empty() && m_outgoing.empty() && !m_inFlight)
            runDelivered();
    }

    void runDelivered()
    {
        std::vector<std::function<void()>> due;
        due.swap(m_delivered);
        for (const auto& done : due)
            done();
    }

    bool ready() const { return m_ready && !m_warmUp.isActive(); }
    QSize desktopSize() const { return RelativePointer::desktopSize(m_surroundings.screens()); }

    void send(const QVector<InputRecord>& records)
    {
        if (!m_ready) {
            if (!m_warnedNotReady)
                qDebug("Portal input: no permission yet; events are dropped");
            m_warnedNotReady = true;
            return;
        }
        for (const InputRecord& r : records) {
            if (!m_warmUp.isActive()) {
                inject(r);
            } else if (m_waiting.size() < size_t(MaxWaitingRecords)) {
                m_waiting.push_back(r);
            }
        }
    }

    void inject(const InputRecord& r)
    {
        if (r.type == InputRecord::Keyboard)
            key(r);
        else
            mouse(r);
    }

private slots:
    void onResponse(uint response, const QVariantMap& results, const QDBusMessage& message)
    {
        const auto handler = m_pending.take(message.path());
        m_bus.disconnect(kService, message.path(), kRequestInterface, QStringLiteral("Response"), this,
                         SLOT(onResponse(uint, QVariantMap, QDBusMessage)));
        if (handler)
            handler(response, results);
    }

    void onSessionClosed(const QDBusMessage& message)
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

private:
    using Handler = std::function<void(uint, const QVariantMap&)>;
    struct Outgoing
    {
        QString method;
        QVariantList args;
        bool joinable = false;
        QVariantMap options;
    };

    QString token() { return QStringLiteral("velmora%1").arg(++m_tokenCounter); }

    QString requestPath(const QString& handleToken) const
    {
        QString sender = m_bus.baseService().mid(1);
        sender.replace(QLatin1Char('.'), QLatin1Char('_'));
        return QStringLiteral("/org/freedesktop/portal/desktop/request/") + sender + QLatin1Char('/') +
               handleToken;
    }

    void listen(const QString& path, const Handler& handler)
    {
        m_pending.insert(path, handler);
        m_bus.connect(kService, path, kRequestInterface, QStringLiteral("Response"), this,
                      SLOT(onResponse(uint, QVariantMap, QDBusMessage)));
    }

    // Calls a portal method that answers through a Request object. The answer's path is
    // known before the call, so no Response can slip past.
    void request(const QString& method, QVariantList args, QVariantMap options, const Handler& handler)
    {
        const QString handleToken = token();
        options.insert(QStringLiteral("handle_token"), handleToken);
        const QString expected = requestPath(handleToken);
        listen(expected, handler);
        QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
        args << options;
        call.setArguments(args);
        auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
        const quint64 generation = m_generation;
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [this, watcher, expected, handler, method, generation] {
                    watcher->deleteLater();
                    if (generation != m_generation)
                        return;
                    const QDBusPendingReply<QDBusObjectPath> reply = *watcher;
                    if (reply.isError()) {
                        qWarning().noquote()
                            << "Portal input:" << method << "failed:" << reply.error().message();
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

    void refused(uint response)
    {
        qWarning("Portal input: the desktop refused remote control (answer %u)", response);
        close();
        setState(InputBackendStatus::State::Refused,
                 response == 1
                     ? QString::fromUtf8(QT_TRANSLATE_NOOP("InputBackendChoice", "the user declined"))
                     : QString::fromUtf8(QT_TRANSLATE_NOOP("InputBackendChoice", "the desktop declined")));
    }

    void selectDevices()
    {
        QVariantMap options{{QStringLiteral("types"), kDeviceKeyboard | kDevicePointer}};
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

    void startSession()
    {
        request(QStringLiteral("Start"), {QVariant::fromValue(QDBusObjectPath(m_session)), QString()}, {},
                [this](uint response, const QVariantMap& results) {
                    if (response != 0)
                        return refused(response);
                    const uint devices = results.value(QStringLiteral("devices"), 0u).toUInt();
                    if ((devices & (kDeviceKeyboard | kDevicePointer)) == 0 &&
                        results.contains(QStringLiteral("devices"))) {
                        close();
                        setState(
                            InputBackendStatus::State::Refused,
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
                    keysym(kWarmUpKeysym, true);
                    keysym(kWarmUpKeysym, false);
                    m_warmUp.start();
                });
    }

    void setState(InputBackendStatus::State state, const QString& detail)
    {
        auto* status = InputBackendStatus::instance();
        if (status->kind() == InputBackendKind::Portal)
            status->setState(state, detail.isEmpty() ? status->detail() : detail);
    }

    // xdg-desktop-portal handles each call on a thread of its own, so calls that are in flight
    // together may reach the desktop in any order (a Ctrl press after the C). Each event goes
    // out once the portal has answered the one before; moves that wait meanwhile are joined.
    // `joinable`: a move that may be added to one waiting before it (any but the push into the
    // corner, which must reach the edge on its own).
    void notify(const QString& method, const QVariantList& args, bool joinable = false,
                const QVariantMap& options = {})
    {
        if (joinable && !m_outgoing.empty() && m_outgoing.back().joinable) {
            Outgoing& last = m_outgoing.back();
            last.args[0] = last.args[0].toDouble() + args.value(0).toDouble();
            last.args[1] = last.args[1].toDouble() + args.value(1).toDouble();
            return;
        }
        if (m_outgoing.size() >= size_t(MaxWaitingRecords)) {
            if (!m_warnedFull)
                qWarning("Portal input: the portal does not keep up; events are dropped");
            m_warnedFull = true;
            return;
        }
        m_outgoing.push_back(Outgoing{method, args, joinable, options});
        sendNext();
    }

    QDBusMessage notifyCall(const Outgoing& o) const
    {
        QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, o.method);
        QVariantList all{QVariant::fromValue(QDBusObjectPath(m_session)), o.options};
        all += o.args;
        call.setArguments(all);
        return call;
    }

    void sendNext()
    {
        if (!m_inFlight && m_outgoing.empty() && m_waiting.empty())
            runDelivered();
        if (m_inFlight || m_outgoing.empty() || m_session.isEmpty())
            return;
        const QDBusMessage call = notifyCall(m_outgoing.front());
        m_outgoing.pop_front();
        m_inFlight = true;
        auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, NotifyTimeoutMs), this);
        const quint64 generation = m_generation;
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, generation] {
            watcher->deleteLater();
            if (generation != m_generation)
                return;
            m_inFlight = false;
            m_warnedFull = false;
            sendNext();
        });
    }

    void keysym(quint32 sym, bool down)
    {
        notify(QStringLiteral("NotifyKeyboardKeysym"), {int(sym), uint(down ? 1 : 0)});
    }

    void key(const InputRecord& r)
    {
        m_keys.take(r, [this](quint32 sym, bool down) { keysym(sym, down); });
    }

    void button(quint32 code, bool down)
    {
        notify(QStringLiteral("NotifyPointerButton"), {int(code), uint(down ? 1 : 0)});
        if (down)
            m_heldButtons.insert(code);
        else
            m_heldButtons.remove(code);
    }

    // KDE's portal turns a discrete wheel step into one pixel of scrolling, a fraction of a
    // notch; there a notch goes as the distance a wheel's notch scrolls.
    bool wheelAsDistance() const
    {
        return m_surroundings.desktop.split(QLatin1Char(':'))
            .contains(QLatin1String("KDE"), Qt::CaseInsensitive);
    }

    void motion(double dx, double dy, bool joinable)
    {
        notify(QStringLiteral("NotifyPointerMotion"), {dx, dy}, joinable);
    }

    void mouse(const InputRecord& r)
    {
        const std::uint32_t f = r.flags;
        if (f & InputRecord::MouseMove) {
            if (f & InputRecord::Absolute) {
                for (const QPoint& m :
                     m_pointer.moveTo(r.dx, r.dy, m_surroundings.screens(), m_surroundings.monotonicMs()))
                    motion(m.x(), m.y(), std::abs(m.x()) < RelativePointer::HomingReach);
            } else if (r.dx != 0 || r.dy != 0) {
                motion(r.dx, r.dy, true);
                m_pointer.moved(r.dx, r.dy, m_surroundings.screens(), m_surroundings.monotonicMs());
            }
        }
        for (const ButtonChange& b : buttonChanges(f))
            button(b.code, b.down);
        if ((f & InputRecord::Wheel) && (f & InputRecord::WheelSmooth)) {
            // Fingers on the phone: the distance as it came, the lift as the scroll's finish.
            m_wheel.take(r.mouseData);
            const bool end = (f & InputRecord::WheelEnd) != 0;
            if (r.mouseData != 0 || end) {
                const double notches =
                    std::clamp(r.mouseData / double(InputRecord::WheelDelta),
                               -double(WheelSteps::MaxStepsPerRecord), double(WheelSteps::MaxStepsPerRecord));
                // KDE's portal turns the sign of this axis (see below).
                const double dy =
                    wheelAsDistance() ? notches * WheelNotchDistance : -notches * SmoothNotchDistance;
                notify(QStringLiteral("NotifyPointerAxis"), {0.0, dy}, false,
                       {{QStringLiteral("finish"), end}});
            }
        } else if (f & InputRecord::Wheel) {
            // Positive notches scroll away from the user: up, which is negative on the axis.
            const int steps = m_wheel.take(r.mouseData);
            if (steps != 0 && wheelAsDistance()) {
                // KDE's portal turns the sign of this axis: positive scrolls up there. The scroll
                // ends here, a notch being one whole gesture.
                notify(QStringLiteral("NotifyPointerAxis"), {0.0, double(steps) * WheelNotchDistance}, false,
                       {{QStringLiteral("finish"), true}});
            } else if (steps != 0) {
                notify(QStringLiteral("NotifyPointerAxisDiscrete"), {uint(0), -steps});
            }
        }
    }

    void releaseHeld()
    {
        if (!m_ready)
            return;
        m_keys.releaseAll([this](quint32 sym, bool down) { keysym(sym, down); });
        for (quint32 code : qAsConst(m_heldButtons))
            notify(QStringLiteral("NotifyPointerButton"), {int(code), uint(0)});
        m_heldButtons.clear();
    }

    QDBusConnection m_bus;
    std::unique_ptr<QSettings> m_settings;
    uint m_version = 0;
    QString m_session;
    QHash<QString, Handler> m_pending;
    quint64 m_tokenCounter = 0;
    quint64 m_generation = 0;
    bool m_ready = false;
    bool m_warnedNotReady = false;
    Surroundings m_surroundings;
    RelativePointer m_pointer;
    QSet<quint32> m_heldButtons;
    KeysymKeys m_keys;
    WheelSteps m_wheel;
    QTimer m_warmUp;
    QTimer m_answerTimeout;
    std::vector<std::function<void()>> m_delivered; // whenDelivered callbacks due
    std::deque<InputRecord> m_waiting;
    // A portal that stops answering holds events up this long each.
    static constexpr int NotifyTimeoutMs = 1000;
    std::deque<Outgoing> m_outgoing;
    bool m_inFlight = false;
    bool m_warnedFull = false;
};

InputBackendPortal::Probe InputBackendPortal::probe(const QDBusConnection& bus)
{
    Probe probe;
    if (!bus.isConnected())
        return probe;
    QDBusMessage getAll = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"));
    getAll << kInterface;
    const QDBusMessage reply = bus.call(getAll, QDBus::Block, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return probe;
    const QVariantMap properties = qdbus_cast<QVariantMap>(reply.arguments().constFirst());
    const QVariant types = properties.value(QStringLiteral("AvailableDeviceTypes"));
    probe.available = types.isValid() && (types.toUInt() & (kDeviceKeyboard | kDevicePointer)) != 0;
    probe.version = properties.value(QStringLiteral("version")).toUInt();
    return probe;
}

InputBackendPortal::InputBackendPortal(const QDBusConnection& bus, std::unique_ptr<QSettings> settings,
                                       Surroundings surroundings)
    : d(std::make_unique<Session>(bus, std::move(settings), std::move(surroundings)))
{
    QObject::connect(InputBackendStatus::instance(), &InputBackendStatus::askAgainRequested, d.get(),
                     [this] { restart(); });
    d->start();
}

InputBackendPortal::~InputBackendPortal() = default;

void InputBackendPortal::send(const QVector<InputRecord>& records)
{
    d->send(records);
}

QSize InputBackendPortal::primaryScreenSize()
{
    // Absolute positions span all screens together.
    return d->desktopSize();
}

void InputBackendPortal::restart()
{
    d->start();
}

void InputBackendPortal::setAnswerTimeout(int milliseconds)
{
    d->setAnswerTimeout(milliseconds);
}

void InputBackendPortal::whenDelivered(std::function<void()> done)
{
    d->whenDelivered(std::move(done));
}

bool InputBackendPortal::isReady() const
{
    return d->ready();
}

#include "InputBackendPortal.moc"

bool InputBackendPortal::typesCharacter(char32_t character)
{
    return KeymapKeys::defaultLayout().holdsCharacter(character);
}
