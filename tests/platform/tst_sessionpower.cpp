// Power and session requests against a logind, a screen saver and session managers of our own,
// on two private buses standing for the system and the session bus; and the phone's commands
// on a recording fake, with the user's setting on and off.
#include "platform/session/SessionPowerFake.h"
#include "platform/session/SessionPowerLogind.h"
#include "remote/PowerHandler.h"
#include "support/LogCapture.h"
#include "support/PrivateBus.h"
#include "support/RecordingContext.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusError>
#include <QHostAddress>
#include <QJsonObject>
#include <QTest>

#include <optional>

// Records each call as "Method argument"; answers with the error `refuse` names, if any.
class FakeService : public QObject, protected QDBusContext
{
    Q_OBJECT
public:
    QStringList calls;
    QString refuse;

protected:
    void record(const QString& call)
    {
        calls << call;
        if (!refuse.isEmpty())
            sendErrorReply(refuse, QStringLiteral("refused by the test"));
    }
};

class FakeLogind final : public FakeService
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public slots:
    void Suspend(bool interactive) { record(QStringLiteral("Suspend %1").arg(interactive)); }
    void Reboot(bool interactive) { record(QStringLiteral("Reboot %1").arg(interactive)); }
    void PowerOff(bool interactive) { record(QStringLiteral("PowerOff %1").arg(interactive)); }
    void LockSession(const QString& id) { record(QStringLiteral("LockSession ") + id); }
    void TerminateSession(const QString& id) { record(QStringLiteral("TerminateSession ") + id); }
};

class FakeScreenSaver final : public FakeService
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public slots:
    void Lock() { record(QStringLiteral("Lock")); }
};

class FakeGnomeSession final : public FakeService
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.gnome.SessionManager")
public slots:
    void Logout(uint mode) { record(QStringLiteral("Logout %1").arg(mode)); }
};

using Outcome = SessionPower::Outcome;
using Action = SessionPower::Action;

class tst_SessionPower : public QObject
{
    Q_OBJECT

    PrivateBus m_system;
    PrivateBus m_session;
    int m_connections = 0;
    std::unique_ptr<FakeLogind> m_logind;
    std::unique_ptr<FakeScreenSaver> m_screenSaver;
    std::unique_ptr<FakeGnomeSession> m_gnome;
    QStringList m_ownedNames;

    QDBusConnection connectTo(const PrivateBus& bus)
    {
        return QDBusConnection::connectToBus(bus.address(), QStringLiteral("power%1").arg(++m_connections));
    }
    // Each service on a connection of its own, as a separate process would have.
    template <class Service>
    void publish(Service* service, const PrivateBus& bus, const QString& name, const QString& path)
    {
        QDBusConnection connection = connectTo(bus);
        QVERIFY(connection.registerObject(path, service, QDBusConnection::ExportAllSlots));
        QVERIFY(connection.registerService(name));
        m_ownedNames << connection.name();
    }
    // The outcome of one request, once it has come.
    std::pair<Outcome, QString> run(SessionPower& power, Action action)
    {
        std::optional<std::pair<Outcome, QString>> result;
        power.request(action, [&result](Outcome outcome, const QString& detail) {
            result = {outcome, detail};
        });
        if (!QTest::qWaitFor([&result] { return result.has_value(); }, 10000))
            return {Outcome::Unavailable, QStringLiteral("no answer within 10 s")};
        return *result;
    }

private slots:
    void initTestCase()
    {
        if (PrivateBus::daemon().isEmpty())
            QSKIP("dbus-daemon is not installed (Debian package dbus-daemon)");
        QString error;
        QVERIFY2(m_system.start(&error), qPrintable(error));
        QVERIFY2(m_session.start(&error), qPrintable(error));
    }

    void init()
    {
        m_logind = std::make_unique<FakeLogind>();
        m_screenSaver = std::make_unique<FakeScreenSaver>();
        m_gnome = std::make_unique<FakeGnomeSession>();
    }
    void cleanup()
    {
        for (const QString& name : qAsConst(m_ownedNames))
            QDBusConnection::disconnectFromBus(name);
        m_ownedNames.clear();
    }

    // Each action on the service that does it, with polkit allowed to ask on the PC.
    void eachActionReachesItsService()
    {
        publish(m_logind.get(), m_system, "org.freedesktop.login1", "/org/freedesktop/login1");
        publish(m_screenSaver.get(), m_session, "org.freedesktop.ScreenSaver",
                "/org/freedesktop/ScreenSaver");
        publish(m_gnome.get(), m_session, "org.gnome.SessionManager", "/org/gnome/SessionManager");
        SessionPowerLogind power(connectTo(m_system), connectTo(m_session), QStringLiteral("c7"));
        for (Action action :
             {Action::Lock, Action::Suspend, Action::Reboot, Action::PowerOff, Action::Logout})
            QCOMPARE(run(power, action).first, Outcome::Done);
        QCOMPARE(m_screenSaver->calls, QStringList({"Lock"}));
        QCOMPARE(m_logind->calls, QStringList({"Suspend 1", "Reboot 1", "PowerOff 1"}));
        QCOMPARE(m_gnome->calls, QStringList({"Logout 1"}));
    }

    // Without a screen saver or a session manager, logind locks and ends our own session.
    void logindStandsInForTheSession()
    {
        publish(m_logind.get(), m_system, "org.freedesktop.login1", "/org/freedesktop/login1");
        SessionPowerLogind power(connectTo(m_system), connectTo(m_session), QStringLiteral("c7"));
        QCOMPARE(run(power, Action::Lock).first, Outcome::Done);
        QCOMPARE(run(power, Action::Logout).first, Outcome::Done);
        QCOMPARE(m_logind->calls, QStringList({"LockSession c7", "TerminateSession c7"}));
    }

    // A refusal is a refusal (never passed on to the next way); no service at all is unavailable.
    void refusalsAndAbsenceAreToldApart()
    {
        publish(m_logind.get(), m_system, "org.freedesktop.login1", "/org/freedesktop/login1");
        publish(m_screenSaver.get(), m_session, "org.freedesktop.ScreenSaver",
                "/org/freedesktop/ScreenSaver");
        SessionPowerLogind power(connectTo(m_system), connectTo(m_session), QString());
        m_logind->refuse = QStringLiteral("org.freedesktop.DBus.Error.InteractiveAuthorizationRequired");
        QCOMPARE(
            run(power, Action::PowerOff),
            std::make_pair(Outcome::Refused,
                           QStringLiteral("org.freedesktop.DBus.Error.InteractiveAuthorizationRequired")));
        m_logind->refuse = QStringLiteral("org.freedesktop.login1.OperationInProgress");
        QCOMPARE(run(power, Action::Suspend).first, Outcome::Refused);
        m_screenSaver->refuse = QStringLiteral("org.freedesktop.DBus.Error.AccessDenied");
        QCOMPARE(run(power, Action::Lock).first, Outcome::Refused);
        QCOMPARE(m_logind->calls, QStringList({"PowerOff 1", "Suspend 1"}));

        SessionPowerLogind nobody(connectTo(m_session), QDBusConnection(QStringLiteral("not connected")),
                                  QString());
        QCOMPARE(run(nobody, Action::Reboot).first, Outcome::Unavailable);
        QCOMPARE(run(nobody, Action::Lock).first, Outcome::Unavailable);
    }

    // The phone's commands: nothing reaches the desktop while the setting is off; the
    // desktop's answer goes back as it came.
    void thePhoneIsToldWhatHappened()
    {
        auto owned = std::make_unique<SessionPowerFake>();
        SessionPowerFake* power = owned.get();
        bool allowed = false;
        PowerHandler handler;
        handler.setPower(std::move(owned), [&allowed] { return allowed; });
        RecordingContext phone;
        LogCapture log;
        const auto ask = [&](const char* action) {
            phone.answers.clear();
            handler.handle(QStringLiteral("power"), QJsonObject{{"action", action}}, phone);
            return phone.answers.value(0).second;
        };
        handler.handle(QStringLiteral("powerstatus"), {}, phone);
        QCOMPARE(phone.answers.value(0).second, QJsonObject({{"allowed", false}}));
        QCOMPARE(ask("suspend").value("error"), "off");
        QVERIFY(power->calls().isEmpty());

        allowed = true;
        QCOMPARE(ask("lock"), QJsonObject({{"ok", true}, {"action", "lock"}}));
        power->setOutcome(Outcome::Refused);
        QCOMPARE(ask("poweroff").value("error"), "refused");
        power->setOutcome(Outcome::Unavailable);
        QCOMPARE(ask("logout").value("error"), "unavailable");
        QCOMPARE(ask("hibernate").value("error"), "badRequest");
        QCOMPARE(ask("").value("error"), "badRequest");
        QCOMPARE(power->calls(), QStringList({"lock", "poweroff", "logout"}));
        phone.answers.clear();
        handler.handle(QStringLiteral("powerstatus"), {}, phone);
        QCOMPARE(phone.answers.value(0).second, QJsonObject({{"allowed", true}}));
    }
};

QTEST_GUILESS_MAIN(tst_SessionPower)
#include "tst_sessionpower.moc"
