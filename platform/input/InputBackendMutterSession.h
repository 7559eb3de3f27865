#pragma once

#include "platform/input/InputBackendMutter.h"
#include "platform/input/RemoteDesktopSession.h"

#include <QObject>
#include <QTimer>

#include <deque>
#include <functional>

class QDBusMessage;

// The names of GNOME's remote desktop, screen cast and display configuration on the session bus.
namespace MutterBus {
inline const QString Service = QStringLiteral("org.gnome.Mutter.RemoteDesktop");
inline const QString Path = QStringLiteral("/org/gnome/Mutter/RemoteDesktop");
inline const QString SessionInterface = QStringLiteral("org.gnome.Mutter.RemoteDesktop.Session");
inline const QString CastService = QStringLiteral("org.gnome.Mutter.ScreenCast");
inline const QString CastPath = QStringLiteral("/org/gnome/Mutter/ScreenCast");
inline const QString CastSessionInterface = QStringLiteral("org.gnome.Mutter.ScreenCast.Session");
inline const QString DisplayService = QStringLiteral("org.gnome.Mutter.DisplayConfig");
inline const QString DisplayPath = QStringLiteral("/org/gnome/Mutter/DisplayConfig");
} // namespace MutterBus

// One remote-control session with Mutter. Its life cycle (creation, screen-cast streams, a new
// session when the monitors change, the end) is in InputBackendMutterSession.cpp; the events it
// sends in InputBackendMutterEvents.cpp.
class InputBackendMutter::Session final : public QObject
{
    Q_OBJECT
public:
    Session(const QDBusConnection& bus, DesktopSurroundings surroundings);
    ~Session() override { close(); }

    void start();
    void close();
    bool ready() const { return m_ready; }
    int streamCount() const { return m_ready ? int(m_streams.size()) : 0; }
    // The span of absolute positions: all monitors together.
    QSize absoluteSize() const;
    void send(const QVector<InputRecord>& records);

private slots:
    void onClosed(const QDBusMessage& message);
    void onMonitorsChanged();

private:
    using Reply = std::function<void(const QDBusMessage&)>;
    using Failure = std::function<void(const QString&)>;

    struct Stream
    {
        QString path;
        QRect area;
        double scale = 1;
    };

    // Life cycle.
    void createSession();
    QVector<QRect> screens() const;
    void endedByDesktop();
    void readLayout(const std::function<void(const QVector<Monitor>&)>& done);
    void call(const QString& service, const QString& path, const QString& interface, const QString& method,
              const QVariantList& args, const Reply& ok, const Failure& failed = Failure());
    void linkScreenCast();
    void recordMonitors(const QString& cast, int next);
    void startSession();
    void replay();
    static void setState(InputBackendStatus::State state, const QString& detail)
    {
        reportSessionState(InputBackendKind::Mutter, state, detail);
    }

    // Events.
    static QRect unionOf(const QVector<Stream>& streams);
    void notify(const QString& method, const QVariantList& args);
    void keysym(quint32 sym, bool down) { notify(QStringLiteral("NotifyKeyboardKeysym"), {sym, down}); }
    void button(quint32 code, bool down) { notify(QStringLiteral("NotifyPointerButton"), {int(code), down}); }
    void inject(const InputRecord& r);
    void key(const InputRecord& r);
    void motion(double dx, double dy) { notify(QStringLiteral("NotifyPointerMotionRelative"), {dx, dy}); }
    void absoluteMotion(qint32 x, qint32 y);
    void mouse(const InputRecord& r);
    void smoothWheel(const InputRecord& r);
    void releaseHeld();

    QDBusConnection m_bus;
    SessionCalls m_calls{m_bus, this};
    DesktopSurroundings m_surroundings;
    QString m_session;
    QVector<Monitor> m_layout;
    QVector<Stream> m_streams;
    bool m_tryStream = true;
    bool m_ready = false;
    bool m_warming = false;
    QTimer m_warmUp;
    std::deque<InputRecord> m_waiting;
    RelativePointer m_pointer;
    HeldInput m_held;
    WheelSteps m_wheel;
};
