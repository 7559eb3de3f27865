#include "platform/InputBackendMutter.h"

#include "platform/InputBackendStatus.h"
#include "platform/Keysyms.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QDebug>
#include <QSet>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <deque>
#include <functional>

namespace {

const QString kService = QStringLiteral("org.gnome.Mutter.RemoteDesktop");
const QString kPath = QStringLiteral("/org/gnome/Mutter/RemoteDesktop");
const QString kSessionInterface = QStringLiteral("org.gnome.Mutter.RemoteDesktop.Session");
const QString kCastService = QStringLiteral("org.gnome.Mutter.ScreenCast");
const QString kCastPath = QStringLiteral("/org/gnome/Mutter/ScreenCast");
const QString kCastSessionInterface = QStringLiteral("org.gnome.Mutter.ScreenCast.Session");

// Tapped once so the seat gets a keyboard before the first real key.
constexpr quint32 kWarmUpKeysym = 0xffe1; // Shift_L

QString pathOf(const QDBusMessage& reply)
{
    const QVariant v = reply.arguments().value(0);
    return v.canConvert<QDBusObjectPath>() ? v.value<QDBusObjectPath>().path() : v.toString();
}

} // namespace

class InputBackendMutter::Session final : public QObject
{
    Q_OBJECT
public:
    Session(const QDBusConnection& bus, DesktopSurroundings surroundings)
        : m_bus(bus)
        , m_surroundings(std::move(surroundings))
    {
        m_warmUp.setSingleShot(true);
        m_warmUp.setInterval(KeyboardWarmUpMs);
        connect(&m_warmUp, &QTimer::timeout, this, [this] {
            m_warming = false;
            replay();
        });
    }

    ~Session() override { close(); }

    void start()
    {
        close();
        call(kService, kPath, kService, QStringLiteral("CreateSession"), {},
             [this](const QDBusMessage& reply) {
                 m_session = pathOf(reply);
                 m_bus.connect(kService, m_session, kSessionInterface, QStringLiteral("Closed"), this,
                               SLOT(onClosed(QDBusMessage)));
                 if (m_tryStream)
                     linkScreenCast();
                 else
                     startSession();
             });
    }

    void close()
    {
        ++m_generation;
        if (!m_session.isEmpty()) {
            releaseHeld();
            m_bus.disconnect(kService, m_session, kSessionInterface, QStringLiteral("Closed"), this,
                             SLOT(onClosed(QDBusMessage)));
            m_bus.send(QDBusMessage::createMethodCall(kService, m_session, kSessionInterface,
                                                      QStringLiteral("Stop")));
        }
        m_session.clear();
        m_stream.clear();
        m_ready = false;
        m_warming = false;
        m_warmUp.stop();
        m_pointer.reset();
    }

    bool ready() const { return m_ready; }
    bool hasStream() const { return m_ready && !m_stream.isEmpty(); }
    // The span of absolute positions: the recorded monitor, or else all screens together.
    QSize absoluteSize() const
    {
        const QVector<QRect> screens = m_surroundings.screens();
        if (!m_stream.isEmpty() && !screens.isEmpty())
            return screens.constFirst().size();
        return RelativePointer::desktopSize(screens);
    }

    void send(const QVector<InputRecord>& records)
    {
        if (m_ready && !m_warming && m_waiting.empty()) {
            for (const InputRecord& r : records)
                inject(r);
            return;
        }
        // Until the session runs and the seat's keyboard is there, events wait in order.
        for (const InputRecord& r : records) {
            if (m_waiting.size() >= size_t(MaxWaitingRecords))
                m_waiting.pop_front();
            m_waiting.push_back(r);
        }
    }

private slots:
    void onClosed(const QDBusMessage& message)
    {
        // A session we left already may still report its end.
        if (message.path() != m_session)
            return;
        if (!m_ready && !m_stream.isEmpty()) {
            // Mutter closes a session whose stream cannot start (no PipeWire) before it
            // answers Start: once more without a stream.
            qInfo("Mutter input: the session with a stream was closed; starting one without");
            m_session.clear();
            m_tryStream = false;
            start();
            return;
        }
        qWarning("Mutter input: the desktop closed the remote-control session");
        m_session.clear();
        close();
        setState(InputBackendStatus::State::Unavailable,
                 QString::fromUtf8(QT_TRANSLATE_NOOP("InputBackendChoice", "the desktop ended the session")));
    }

private:
    using Reply = std::function<void(const QDBusMessage&)>;
    using Failure = std::function<void(const QString&)>;

    // Every set-up call is asynchronous: Mutter may be slow, and the window must not wait.
    void call(const QString& service, const QString& path, const QString& interface, const QString& method,
              const QVariantList& args, const Reply& ok, const Failure& failed = Failure())
    {
        QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
        message.setArguments(args);
        auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message), this);
        const quint64 generation = m_generation;
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [this, watcher, generation, ok, failed, method] {
                    watcher->deleteLater();
                    if (generation != m_generation)
                        return;
                    const QDBusMessage reply = watcher->reply();
                    if (reply.type() != QDBusMessage::ReplyMessage) {
                        if (failed)
                            return failed(reply.errorMessage());
                        qWarning().noquote()
                            << "Mutter input:" << method << "failed:" << reply.errorMessage();
                        m_waiting.clear();
                        setState(InputBackendStatus::State::Unavailable, reply.errorMessage());
                        return;
                    }
                    ok(reply);
                });
    }

    // Absolute moves need a screen-cast stream of the same session; Mutter records one only
    // where PipeWire runs, so any failure here means relative moves instead.
    void linkScreenCast()
    {
        const Failure withoutStream = [this](const QString& why) {
            qInfo().noquote() << "Mutter input: no screen-cast stream (" + why +
                                     "); absolute moves are relative";
            m_tryStream = false;
            start();
        };
        call(
            kService, m_session, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
            {kSessionInterface, QStringLiteral("SessionId")},
            [this, withoutStream](const QDBusMessage& reply) {
                const QString id = reply.arguments().value(0).value<QDBusVariant>().variant().toString();
                const QVariantMap properties{{QStringLiteral("remote-desktop-session-id"), id}};
                call(
                    kCastService, kCastPath, kCastService, QStringLiteral("CreateSession"), {properties},
                    [this, withoutStream](const QDBusMessage& cast) {
                        // An empty connector records the primary monitor.
                        call(
                            kCastService, pathOf(cast), kCastSessionInterface,
                            QStringLiteral("RecordMonitor"), {QString(), QVariantMap()},
                            [this](const QDBusMessage& stream) {
                                m_stream = pathOf(stream);
                                startSession();
                            },
                            withoutStream);
                    },
                    withoutStream);
            },
            withoutStream);
    }

    void startSession()
    {
        call(
            kService, m_session, kSessionInterface, QStringLiteral("Start"), {},
            [this](const QDBusMessage&) {
                m_ready = true;
                qInfo("Mutter input: remote-control session started (%s)",
                      m_stream.isEmpty() ? "relative pointer" : "absolute pointer through a stream");
                setState(InputBackendStatus::State::Ready, QString());
                // The seat has no keyboard yet and Mutter drops the key that makes one.
                keysym(kWarmUpKeysym, true);
                keysym(kWarmUpKeysym, false);
                m_warming = true;
                m_warmUp.start();
            },
            [this](const QString& why) {
                if (!m_stream.isEmpty()) {
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

    void replay()
    {
        while (m_ready && !m_warming && !m_waiting.empty()) {
            const InputRecord r = m_waiting.front();
            m_waiting.pop_front();
            inject(r);
        }
    }

    static void setState(InputBackendStatus::State state, const QString& detail)
    {
        auto* status = InputBackendStatus::instance();
        if (status->kind() == InputBackendKind::Mutter)
            status->setState(state, detail.isEmpty() ? status->detail() : detail);
    }

    void notify(const QString& method, const QVariantList& args)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(kService, m_session, kSessionInterface, method);
        call.setArguments(args);
        // No answer is awaited: events go out in order on the one connection.
        m_bus.send(call);
    }

    void keysym(quint32 sym, bool down) { notify(QStringLiteral("NotifyKeyboardKeysym"), {sym, down}); }

    void inject(const InputRecord& r)
    {
        if (r.type == InputRecord::Keyboard)
            key(r);
        else
            mouse(r);
    }

    void key(const InputRecord& r)
    {
        m_keys.take(r, [this](quint32 sym, bool down) { keysym(sym, down); });
    }

    void motion(double dx, double dy) { notify(QStringLiteral("NotifyPointerMotionRelative"), {dx, dy}); }

    void mouse(const InputRecord& r)
    {
        const std::uint32_t f = r.flags;
        if (f & InputRecord::MouseMove) {
            const qint64 now = m_surroundings.monotonicMs();
            if ((f & InputRecord::Absolute) && !m_stream.isEmpty()) {
                // The stream is the primary monitor; positions are its pixels.
                const QVector<QRect> screens = m_surroundings.screens();
                const QSize size = screens.isEmpty() ? QSize(1920, 1080) : screens.constFirst().size();
                const auto toPixel = [](qint32 v, int extent) {
                    const double p = std::round(v * ((extent - 1) / double(InputRecord::AbsoluteMax)));
                    return std::clamp(p, 0.0, double(std::max(extent - 1, 0)));
                };
                notify(QStringLiteral("NotifyPointerMotionAbsolute"),
                       {m_stream, toPixel(r.dx, size.width()), toPixel(r.dy, size.height())});
            } else if (f & InputRecord::Absolute) {
                for (const QPoint& m : m_pointer.moveTo(r.dx, r.dy, m_surroundings.screens(), now))
                    motion(m.x(), m.y());
            } else if (r.dx != 0 || r.dy != 0) {
                motion(r.dx, r.dy);
                m_pointer.moved(r.dx, r.dy, m_surroundings.screens(), now);
            }
        }
        for (const ButtonChange& b : buttonChanges(f)) {
            notify(QStringLiteral("NotifyPointerButton"), {int(b.code), b.down});
            if (b.down)
                m_heldButtons.insert(b.code);
            else
                m_heldButtons.remove(b.code);
        }
        if ((f & InputRecord::Wheel) && (f & InputRecord::WheelSmooth)) {
            smoothWheel(r);
        } else if (f & InputRecord::Wheel) {
            // Positive notches scroll away from the user: up, which is negative on the axis.
            if (const int steps = m_wheel.take(r.mouseData))
                notify(QStringLiteral("NotifyPointerAxisDiscrete"), {uint(0), -steps});
        }
    }

    // Fingers on the phone: the distance as it came (ten to a notch), from a finger source so
    // that applications scroll smoothly, the lift as the scroll's finish.
    void smoothWheel(const InputRecord& r)
    {
        constexpr uint kFinish = 1, kSourceFinger = 4;
        constexpr double kNotchDistance = 10.0;
        m_wheel.take(r.mouseData);
        const bool end = (r.flags & InputRecord::WheelEnd) != 0;
        if (r.mouseData == 0 && !end)
            return;
        const double notches =
            std::clamp(r.mouseData / double(InputRecord::WheelDelta), -double(WheelSteps::MaxStepsPerRecord),
                       double(WheelSteps::MaxStepsPerRecord));
        notify(QStringLiteral("NotifyPointerAxis"),
               {0.0, -notches * kNotchDistance, kSourceFinger | (end ? kFinish : 0u)});
    }

    void releaseHeld()
    {
        if (m_ready) {
            m_keys.releaseAll([this](quint32 sym, bool down) { keysym(sym, down); });
            for (quint32 code : qAsConst(m_heldButtons))
                notify(QStringLiteral("NotifyPointerButton"), {int(code), false});
        } else {
            m_keys.releaseAll({});
        }
        m_heldButtons.clear();
        m_waiting.clear();
    }

    QDBusConnection m_bus;
    DesktopSurroundings m_surroundings;
    QString m_session;
    QString m_stream;
    bool m_tryStream = true;
    bool m_ready = false;
    bool m_warming = false;
    quint64 m_generation = 0;
    QTimer m_warmUp;
    std::deque<InputRecord> m_waiting;
    QSet<quint32> m_heldButtons;
    RelativePointer m_pointer;
    KeysymKeys m_keys;
    WheelSteps m_wheel;
};

bool InputBackendMutter::available(const QDBusConnection& bus)
{
    if (!bus.isConnected() || bus.interface() == nullptr)
        return false;
    return bus.interface()->isServiceRegistered(kService).value();
}

InputBackendMutter::InputBackendMutter(const QDBusConnection& bus, DesktopSurroundings surroundings)
    : d(std::make_unique<Session>(bus, std::move(surroundings)))
{
    QObject::connect(InputBackendStatus::instance(), &InputBackendStatus::askAgainRequested, d.get(),
                     [this] { restart(); });
    d->start();
}

InputBackendMutter::~InputBackendMutter() = default;

void InputBackendMutter::send(const QVector<InputRecord>& records)
{
    d->send(records);
}

QSize InputBackendMutter::primaryScreenSize()
{
    return d->absoluteSize();
}

bool InputBackendMutter::isReady() const
{
    return d->ready();
}

bool InputBackendMutter::hasStream() const
{
    return d->hasStream();
}

void InputBackendMutter::restart()
{
    d->start();
}

#include "InputBackendMutter.moc"
