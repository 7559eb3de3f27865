#include "platform/session/SessionPowerLogind.h"

#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDebug>

namespace {

const QString Login1 = QStringLiteral("org.freedesktop.login1");
const QString Login1Path = QStringLiteral("/org/freedesktop/login1");
const QString Login1Manager = QStringLiteral("org.freedesktop.login1.Manager");

// Errors that say nobody there handles the call: the next way is tried.
bool meansAbsent(const QString& error)
{
    static const QStringList absent = {
        QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown"),
        QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner"),
        QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
        QStringLiteral("org.freedesktop.DBus.Error.UnknownObject"),
        QStringLiteral("org.freedesktop.DBus.Error.UnknownInterface"),
        QStringLiteral("org.freedesktop.DBus.Error.Disconnected"),
        QStringLiteral("org.freedesktop.DBus.Error.NotSupported"),
        QStringLiteral("org.freedesktop.DBus.Error.Spawn.ServiceNotFound"),
    };
    return absent.contains(error);
}

} // namespace

SessionPowerLogind::SessionPowerLogind(const QDBusConnection& system, const QDBusConnection& session,
                                       const QString& sessionId, QObject* parent)
    : QObject(parent)
    , m_system(system)
    , m_session(session)
    , m_sessionId(sessionId.isEmpty() ? QStringLiteral("auto") : sessionId)
{
}

QDBusMessage SessionPowerLogind::logind(const QString& method) const
{
    return QDBusMessage::createMethodCall(Login1, Login1Path, Login1Manager, method);
}

void SessionPowerLogind::request(Action action, Done done)
{
    QList<Attempt> attempts;
    // `true`: polkit may ask the user on the PC, as the desktop's own menu would.
    const QVariant interactive = true;
    switch (action) {
    case Action::Lock:
        attempts << Attempt{false,
                            QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.ScreenSaver"),
                                                           QStringLiteral("/org/freedesktop/ScreenSaver"),
                                                           QStringLiteral("org.freedesktop.ScreenSaver"),
                                                           QStringLiteral("Lock"))};
        attempts << Attempt{true, logind(QStringLiteral("LockSession")) << m_sessionId};
        break;
    case Action::Suspend:
        attempts << Attempt{true, logind(QStringLiteral("Suspend")) << interactive};
        break;
    case Action::Reboot:
        attempts << Attempt{true, logind(QStringLiteral("Reboot")) << interactive};
        break;
    case Action::PowerOff:
        attempts << Attempt{true, logind(QStringLiteral("PowerOff")) << interactive};
        break;
    case Action::Logout:
        // 1: no confirmation dialog on the PC; the phone has asked already.
        attempts << Attempt{false, QDBusMessage::createMethodCall(QStringLiteral("org.gnome.SessionManager"),
                                                                  QStringLiteral("/org/gnome/SessionManager"),
                                                                  QStringLiteral("org.gnome.SessionManager"),
                                                                  QStringLiteral("Logout"))
                                       << uint(1)};
        attempts << Attempt{false, QDBusMessage::createMethodCall(
                                       QStringLiteral("org.kde.Shutdown"), QStringLiteral("/Shutdown"),
                                       QStringLiteral("org.kde.Shutdown"), QStringLiteral("logout"))};
        attempts << Attempt{true, logind(QStringLiteral("TerminateSession")) << m_sessionId};
        break;
    }
    tryInTurn(std::move(attempts), std::move(done));
}

void SessionPowerLogind::tryInTurn(QList<Attempt> attempts, Done done)
{
    if (attempts.isEmpty()) {
        done(Outcome::Unavailable, QStringLiteral("no service"));
        return;
    }
    const Attempt attempt = attempts.takeFirst();
    QDBusConnection bus = attempt.onSystem ? m_system : m_session;
    if (!bus.isConnected()) {
        tryInTurn(std::move(attempts), std::move(done));
        return;
    }
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(attempt.call, AuthorisationTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, attempts = std::move(attempts), done = std::move(done),
             method = attempt.call.member()]() mutable {
                watcher->deleteLater();
                const QDBusPendingReply<> reply = *watcher;
                if (!reply.isError()) {
                    done(Outcome::Done, method);
                    return;
                }
                const QString error = reply.error().name();
                if (meansAbsent(error)) {
                    tryInTurn(std::move(attempts), std::move(done));
                    return;
                }
                done(Outcome::Refused, error);
            });
}
