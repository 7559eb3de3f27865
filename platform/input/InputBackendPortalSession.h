#pragma once

#include "platform/input/InputBackendPortal.h"
#include "platform/input/RemoteDesktopSession.h"

#include <QHash>
#include <QObject>
#include <QSettings>
#include <QTimer>
#include <atomic>

#include <deque>
#include <functional>
#include <vector>

class QDBusMessage;

// The names of the RemoteDesktop portal on the session bus, and the values it speaks in.
namespace PortalBus {
inline const QString Service = QStringLiteral("org.freedesktop.portal.Desktop");
inline const QString Path = QStringLiteral("/org/freedesktop/portal/desktop");
inline const QString Interface = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
inline const QString RequestInterface = QStringLiteral("org.freedesktop.portal.Request");
inline const QString SessionInterface = QStringLiteral("org.freedesktop.portal.Session");
constexpr uint DeviceKeyboard = 1;
constexpr uint DevicePointer = 2;
} // namespace PortalBus

// One remote-control session through the portal. Its life cycle (the desktop's question, the
// restore token, the end) is in InputBackendPortalSession.cpp; the events it sends, one at a
// time, in InputBackendPortalEvents.cpp.
class InputBackendPortal::Session final : public QObject
{
    Q_OBJECT
public:
    Session(const QDBusConnection& bus, std::unique_ptr<QSettings> settings, Surroundings surroundings);
    ~Session() override { close(); }

    void setAnswerTimeout(int milliseconds) { m_answerTimeout.setInterval(milliseconds); }
    void start();
    void close();
    void whenDelivered(std::function<void()> done);
    bool ready() const { return m_ready && !m_warmUp.isActive(); }
    QSize desktopSize() const { return RelativePointer::desktopSize(m_surroundings.screens()); }
    void send(const QVector<InputRecord>& records);

private slots:
    void onResponse(uint response, const QVariantMap& results, const QDBusMessage& message);
    void onSessionClosed(const QDBusMessage& message);

private:
    using Handler = std::function<void(uint, const QVariantMap&)>;
    struct Outgoing
    {
        QString method;
        QVariantList args;
        bool joinable = false;
        QVariantMap options;
    };

    // Life cycle.
    void createSession();
    void runDelivered();
    // Counted across every session of the program, not per session: GNOME's portal keeps a
    // request's object after its answer, so a handle used again on the same connection (a
    // backend made anew) gets no object of its own, and its dialog could not be withdrawn.
    static QString token()
    {
        static std::atomic<quint64> counter{0};
        return QStringLiteral("velmora%1").arg(++counter);
    }
    QString requestPath(const QString& handleToken) const;
    void listen(const QString& path, const Handler& handler);
    void request(const QString& method, QVariantList args, QVariantMap options, const Handler& handler);
    void refused(uint response);
    void selectDevices();
    void startSession();
    void setState(InputBackendStatus::State state, const QString& detail)
    {
        reportSessionState(InputBackendKind::Portal, state, detail);
    }

    // Events.
    void inject(const InputRecord& r);
    void notify(const QString& method, const QVariantList& args, bool joinable = false,
                const QVariantMap& options = {});
    QDBusMessage notifyCall(const Outgoing& o) const;
    void sendNext();
    void keysym(quint32 sym, bool down);
    void key(const InputRecord& r);
    void button(quint32 code, bool down);
    bool wheelAsDistance() const;
    void motion(double dx, double dy, bool joinable);
    void mouse(const InputRecord& r);
    void releaseHeld();

    QDBusConnection m_bus;
    SessionCalls m_calls{m_bus, this};
    std::unique_ptr<QSettings> m_settings;
    uint m_version = 0;
    QString m_session;
    QHash<QString, Handler> m_pending;
    bool m_ready = false;
    bool m_warnedNotReady = false;
    Surroundings m_surroundings;
    RelativePointer m_pointer;
    HeldInput m_held;
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
