#include "platform/input/InputBackendMutter.h"

#include "platform/input/InputBackendStatus.h"
#include "platform/input/KeymapKeys.h"
#include "platform/input/Keysyms.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QDebug>
#include <QHash>
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
const QString kDisplayService = QStringLiteral("org.gnome.Mutter.DisplayConfig");
const QString kDisplayPath = QStringLiteral("/org/gnome/Mutter/DisplayConfig");

// Tapped once so the seat gets a keyboard before the first real key.
constexpr quint32 kWarmUpKeysym = 0xffe1; // Shift_L

QString pathOf(const QDBusMessage& reply)
{
    const QVariant v = reply.arguments().value(0);
    return v.canConvert<QDBusObjectPath>() ? v.value<QDBusObjectPath>().path() : v.toString();
}

// The connector, vendor, product and serial that name a monitor.
QString readMonitorName(const QDBusArgument& arg)
{
    QString connector, vendor, product, serial;
    arg.beginStructure();
    arg >> connector >> vendor >> product >> serial;
    arg.endStructure();
    return connector;
}

// The current mode's size of each monitor, by connector, from GetCurrentState's monitors:
// a((ssss)a(siiddada{sv})a{sv}).
QHash<QString, QSize> readModeSizes(const QDBusArgument& arg)
{
    QHash<QString, QSize> sizes;
    arg.beginArray();
    while (!arg.atEnd()) {
        arg.beginStructure();
        const QString connector = readMonitorName(arg);
        arg.beginArray();
        while (!arg.atEnd()) {
            QString id;
            int width = 0, height = 0;
            double refresh = 0, preferredScale = 0;
            QList<double> scales;
            QVariantMap properties;
            arg.beginStructure();
            arg >> id >> width >> height >> refresh >> preferredScale >> scales >> properties;
            arg.endStructure();
            if (properties.value(QStringLiteral("is-current")).toBool())
                sizes.insert(connector, QSize(width, height));
        }
        arg.endArray();
        QVariantMap properties;
        arg >> properties;
        arg.endStructure();
    }
    arg.endArray();
    return sizes;
}

} // namespace

QVector<InputBackendMutter::Monitor> InputBackendMutter::monitorsOf(const QDBusMessage& state)
{
    // (u serial, monitors, logical monitors a(iiduba(ssss)a{sv}), properties a{sv})
    const QVariantList args = state.arguments();
    // Read only in the form this code knows: another one would be read wrongly.
    if (args.size() < 4 || !args.at(1).canConvert<QDBusArgument>() ||
        !args.at(2).canConvert<QDBusArgument>() ||
        args.at(1).value<QDBusArgument>().currentSignature() !=
            QLatin1String("a((ssss)a(siiddada{sv})a{sv})") ||
        args.at(2).value<QDBusArgument>().currentSignature() != QLatin1String("a(iiduba(ssss)a{sv})"))
        return {};
    const QHash<QString, QSize> sizes = readModeSizes(args.at(1).value<QDBusArgument>());
    const QVariantMap properties = qdbus_cast<QVariantMap>(args.at(3));
    // In the logical layout monitors are placed in logical pixels and a stream counts physical
    // ones; in the physical layout both count physical pixels.
    constexpr uint kLogicalLayout = 1;
    const bool logical = properties.value(QStringLiteral("layout-mode")).toUInt() == kLogicalLayout;
    QVector<Monitor> monitors;
    const QDBusArgument arg = args.at(2).value<QDBusArgument>();
    arg.beginArray();
    while (!arg.atEnd()) {
        int x = 0, y = 0;
        double scale = 1;
        uint transform = 0;
        bool primary = false;
        QStringList connectors;
        arg.beginStructure();
        arg >> x >> y >> scale >> transform >> primary;
        arg.beginArray();
        while (!arg.atEnd())
            connectors << readMonitorName(arg);
        arg.endArray();
        QVariantMap logicalProperties;
        arg >> logicalProperties;
        arg.endStructure();
        // Mirrored monitors share one place; the first one's stream stands for it.
        QSize size = sizes.value(connectors.value(0));
        if (size.isEmpty() || !(scale > 0) || scale > 16)
            continue;
        const double factor = logical ? scale : 1.0;
        // Turned by a quarter (90° or 270°, flipped or not): width and height swap.
        if (transform % 2 == 1)
            size.transpose();
        Monitor m;
        m.connector = connectors.value(0);
        m.area =
            QRect(x, y, int(std::lround(size.width() / factor)), int(std::lround(size.height() / factor)));
        m.streamScale = factor;
        if (primary)
            monitors.prepend(m);
        else
            monitors.append(m);
    }
    arg.endArray();
    return monitors;
}

class InputBackendMutter::Session final : public QObject
{
    Q_OBJECT
public:
    Session(const QDBusConnection& bus, DesktopSurroundings surroundings)
        : m_bus(bus)
        , m_surroundings(std::move(surroundings))
    {
        m_bus.connect(kDisplayService, kDisplayPath, kDisplayService, QStringLiteral("MonitorsChanged"), this,
                      SLOT(onMonitorsChanged()));
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
        // The monitors decide the streams and the span of absolute moves; without an answer
        // the application's screens stand in.
        readLayout([this](const QVector<Monitor>& monitors) {
            m_layout = monitors;
            createSession();
        });
    }

    void createSession()
    {
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
        m_streams.clear();
        m_ready = false;
        m_warming = false;
        m_warmUp.stop();
        m_pointer.reset();
    }

    bool ready() const { return m_ready; }
    int streamCount() const { return m_ready ? int(m_streams.size()) : 0; }
    // The span of absolute positions: all monitors together.
    QSize absoluteSize() const
    {
        if (!m_streams.isEmpty())
            return unionOf(m_streams).size();
        return RelativePointer::desktopSize(screens());
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

    void onMonitorsChanged()
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

private:
    using Reply = std::function<void(const QDBusMessage&)>;
    using Failure = std::function<void(const QString&)>;

    struct Stream
    {
        QString path;
        QRect area;
        double scale = 1;
    };

    static QRect unionOf(const QVector<Stream>& streams)
    {
        QRect all;
        for (const Stream& s : streams)
            all |= s.area;
        return all;
    }

    // Where the pointer may go: the monitors Mutter told, or else the application's screens.
    QVector<QRect> screens() const
    {
        if (m_layout.isEmpty())
            return m_surroundings.screens();
        QVector<QRect> areas;
        for (const Monitor& m : m_layout)
            areas << m.area;
        return areas;
    }

    void endedByDesktop()
    {
        qWarning("Mutter input: the desktop closed the remote-control session");
        setState(InputBackendStatus::State::Unavailable,
                 QString::fromUtf8(QT_TRANSLATE_NOOP("InputBackendChoice", "the desktop ended the session")));
    }

    // The monitors as Mutter lays them out; none where its display interface does not answer.
    void readLayout(const std::function<void(const QVector<Monitor>&)>& done)
    {
        call(
            kDisplayService, kDisplayPath, kDisplayService, QStringLiteral("GetCurrentState"), {},
            [done](const QDBusMessage& reply) { done(monitorsOf(reply)); },
            [done](const QString&) { done({}); });
    }

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
                    [this](const QDBusMessage& cast) { recordMonitors(pathOf(cast), 0); }, withoutStream);
            },
            withoutStream);
    }

    // One stream per monitor, so that an absolute move can name the monitor it lands on.
    // Where the monitors are unknown, an empty connector records the primary one.
    void recordMonitors(const QString& cast, int next)
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
            kCastService, cast, kCastSessionInterface, QStringLiteral("RecordMonitor"),
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

    void startSession()
    {
        call(
            kService, m_session, kSessionInterface, QStringLiteral("Start"), {},
            [this](const QDBusMessage&) {
                m_ready = true;
                if (m_streams.isEmpty())
                    qInfo("Mutter input: remote-control session started (relative pointer)");
                else
                    qInfo("Mutter input: remote-control session started (absolute pointer, monitor streams: "
                          "%d)",
                          int(m_streams.size()));
                setState(InputBackendStatus::State::Ready, QString());
                // The seat has no keyboard yet and Mutter drops the key that makes one.
                keysym(kWarmUpKeysym, true);
                keysym(kWarmUpKeysym, false);
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

    // Positions span all monitors together; the move goes through the stream of the monitor
    // under the point, in that stream's pixels. A point between monitors of unequal size goes
    // to the nearest edge of the closest one.
    void absoluteMotion(qint32 x, qint32 y)
    {
        const QRect all = unionOf(m_streams);
        const auto toPixel = [](qint32 v, int start, int extent) {
            const double p = std::round(v * ((extent - 1) / double(InputRecord::AbsoluteMax)));
            return start + int(std::clamp(p, 0.0, double(std::max(extent - 1, 0))));
        };
        const QPoint point(toPixel(x, all.x(), all.width()), toPixel(y, all.y(), all.height()));
        const Stream* best = nullptr;
        qint64 bestDistance = 0;
        QPoint bestPoint;
        for (const Stream& s : qAsConst(m_streams)) {
            const QPoint inside(std::clamp(point.x(), s.area.left(), s.area.right()),
                                std::clamp(point.y(), s.area.top(), s.area.bottom()));
            const QPoint away = inside - point;
            const qint64 distance = qint64(away.x()) * away.x() + qint64(away.y()) * away.y();
            if (best == nullptr || distance < bestDistance) {
                best = &s;
                bestDistance = distance;
                bestPoint = inside;
            }
        }
        notify(QStringLiteral("NotifyPointerMotionAbsolute"),
               {best->path, (bestPoint.x() - best->area.x()) * best->scale,
                (bestPoint.y() - best->area.y()) * best->scale});
    }

    void mouse(const InputRecord& r)
    {
        const std::uint32_t f = r.flags;
        if (f & InputRecord::MouseMove) {
            const qint64 now = m_surroundings.monotonicMs();
            if ((f & InputRecord::Absolute) && !m_streams.isEmpty()) {
                absoluteMotion(r.dx, r.dy);
            } else if (f & InputRecord::Absolute) {
                for (const QPoint& m : m_pointer.moveTo(r.dx, r.dy, screens(), now))
                    motion(m.x(), m.y());
            } else if (r.dx != 0 || r.dy != 0) {
                motion(r.dx, r.dy);
                m_pointer.moved(r.dx, r.dy, screens(), now);
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
    QVector<Monitor> m_layout;
    QVector<Stream> m_streams;
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
    return d->streamCount() > 0;
}

int InputBackendMutter::streamCount() const
{
    return d->streamCount();
}

void InputBackendMutter::restart()
{
    d->start();
}

#include "InputBackendMutter.moc"

bool InputBackendMutter::typesCharacter(char32_t character)
{
    return KeymapKeys::defaultLayout().holdsCharacter(character);
}
