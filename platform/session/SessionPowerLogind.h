#pragma once

#include "platform/session/SessionPower.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QStringList>

// Power through systemd-logind (org.freedesktop.login1 on the system bus), with polkit asking
// the user where its rules say so; the screen locked by the session's screen saver, else by
// logind's LockSession; logging out through the session manager (GNOME's interface, which
// other desktops implement too, then KDE's), else by ending the logind session.
class SessionPowerLogind final : public QObject, public SessionPower
{
    Q_OBJECT
public:
    // `sessionId` is logind's id of our session ("auto": the caller's own).
    SessionPowerLogind(const QDBusConnection& system, const QDBusConnection& session,
                       const QString& sessionId, QObject* parent = nullptr);

    void request(Action action, Done done) override;

    // A polkit dialog on the PC may wait for the user this long.
    static constexpr int AuthorisationTimeoutMs = 120000;

private:
    struct Attempt
    {
        bool onSystem;
        QDBusMessage call;
    };
    // Tries each call in turn while the one before finds no service; the first that answers decides.
    void tryInTurn(QList<Attempt> attempts, Done done);
    QDBusMessage logind(const QString& method) const;

    QDBusConnection m_system;
    QDBusConnection m_session;
    QString m_sessionId;
};
