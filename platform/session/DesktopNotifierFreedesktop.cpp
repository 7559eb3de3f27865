#include "platform/session/DesktopNotifierFreedesktop.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDebug>
#include <QFileInfo>
#include <QVariantMap>

namespace {
const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString Interface = QStringLiteral("org.freedesktop.Notifications");
// Milliseconds a notice stays; -1 leaves it to the service.
constexpr int ExpireTimeout = -1;
} // namespace

DesktopNotifierFreedesktop::DesktopNotifierFreedesktop(const QDBusConnection& bus, NotifierFallback fallback,
                                                       QObject* parent)
    : DesktopNotifier(parent)
    , m_bus(bus)
    , m_fallback(std::move(fallback))
{
    if (!m_bus.isConnected())
        return;
    // Qt follows the name to whichever process owns it, also when the service starts later.
    m_bus.connect(Service, Path, Interface, QStringLiteral("ActionInvoked"), this,
                  SLOT(onActionInvoked(uint, QString)));
    m_bus.connect(Service, Path, Interface, QStringLiteral("NotificationClosed"), this,
                  SLOT(onNotificationClosed(uint, uint)));
}

DesktopNotifierFreedesktop::~DesktopNotifierFreedesktop() = default;

void DesktopNotifierFreedesktop::notify(const QString& title, const QString& body, const QString& actionLabel)
{
    const quint64 sequence = ++m_sequence;
    m_actionId = 0;
    const auto fallBack = [this, title, body, sequence] {
        if (sequence != m_sequence || !m_fallback)
            return;
        m_fallback(title, body);
    };
    if (!m_bus.isConnected()) {
        fallBack();
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("Notify"));
    QStringList actions;
    if (!actionLabel.isEmpty()) {
        // "default" is what a click on the notice itself invokes, where the service has no buttons.
        actions << QLatin1String(ActionKey) << actionLabel << QStringLiteral("default") << actionLabel;
    }
    call << QStringLiteral("Velmora") << uint(0) << QStringLiteral("velmora") << title << body << actions
         << QVariantMap{{QStringLiteral("category"), QStringLiteral("transfer.complete")}} << ExpireTimeout;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, sequence, fallBack, hasAction = !actionLabel.isEmpty()] {
                watcher->deleteLater();
                const QDBusPendingReply<uint> reply = *watcher;
                if (reply.isError()) {
                    qDebug() << "Desktop notification failed, the tray shows it:" << reply.error().name();
                    fallBack();
                    return;
                }
                if (sequence == m_sequence && hasAction)
                    m_actionId = reply.value();
            });
}

void DesktopNotifierFreedesktop::onActionInvoked(uint id, const QString& actionKey)
{
    // Other programs' notices come through the same signal.
    if (id == 0 || id != m_actionId)
        return;
    if (actionKey != QLatin1String(ActionKey) && actionKey != QLatin1String("default"))
        return;
    emit actionInvoked();
}

void DesktopNotifierFreedesktop::onNotificationClosed(uint id, uint)
{
    // The service emits ActionInvoked before the close; once closed, the id may be reused.
    if (id == m_actionId)
        m_actionId = 0;
}

std::unique_ptr<DesktopNotifier> createDesktopNotifier(NotifierFallback fallback)
{
    // Without a session bus every notice goes to the fallback; asking libdbus for one anyway
    // could make it start a bus of its own.
    const QString runtimeBus = qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/bus");
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") &&
        (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") || !QFileInfo::exists(runtimeBus)))
        return std::make_unique<DesktopNotifierFreedesktop>(QDBusConnection(QStringLiteral("velmora-no-bus")),
                                                            std::move(fallback));
    return std::make_unique<DesktopNotifierFreedesktop>(QDBusConnection::sessionBus(), std::move(fallback));
}
