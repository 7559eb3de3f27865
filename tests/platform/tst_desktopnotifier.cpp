#include "platform/session/DesktopNotifierFreedesktop.h"
#include "support/PrivateBus.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QSignalSpy>
#include <QTest>

// A notification service of our own: records each notice and answers with ids counting up, or
// refuses every call while `refuse` is set.
class FakeNotifications final : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Notice
    {
        QString appName;
        QString summary;
        QString body;
        QStringList actions;
    };
    QVector<Notice> notices;
    bool refuse = false;
    uint nextId = 41;

public slots:
    uint Notify(const QString& appName, uint, const QString&, const QString& summary, const QString& body,
                const QStringList& actions, const QVariantMap&, int)
    {
        if (refuse) {
            sendErrorReply(QDBusError::AccessDenied, QStringLiteral("no"));
            return 0;
        }
        notices.append({appName, summary, body, actions});
        return ++nextId;
    }

signals:
    void ActionInvoked(uint id, const QString& actionKey);
    void NotificationClosed(uint id, uint reason);
};

class TestDesktopNotifier : public QObject
{
    Q_OBJECT
    PrivateBus m_daemon;
    int m_connections = 0;

    QDBusConnection connect(const QString& role)
    {
        return QDBusConnection::connectToBus(m_daemon.address(), role + QString::number(++m_connections));
    }

private slots:
    void initTestCase()
    {
        if (PrivateBus::daemon().isEmpty())
            QSKIP("dbus-daemon is not installed (Debian package dbus-daemon)");
        QString error;
        QVERIFY2(m_daemon.start(&error), qPrintable(error));
    }

    // The notice reaches the service with our action; only the service's signal for our own
    // notice, with our key or the click on the notice, counts as the user's choice.
    void serviceShowsNoticeAndReportsOnlyOurAction()
    {
        QDBusConnection serviceBus = connect(QStringLiteral("service"));
        FakeNotifications service;
        QVERIFY(
            serviceBus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &service,
                                      QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
        QVERIFY(serviceBus.registerService(QStringLiteral("org.freedesktop.Notifications")));

        QStringList fallbacks;
        DesktopNotifierFreedesktop notifier(
            connect(QStringLiteral("app")),
            [&fallbacks](const QString& t, const QString&) { fallbacks << t; });
        QSignalSpy picked(&notifier, &DesktopNotifier::actionInvoked);
        notifier.notify(QStringLiteral("Velmora"), QStringLiteral("3 files received from the phone"),
                        QStringLiteral("Open folder"));
        QTRY_COMPARE(service.notices.size(), 1);
        const FakeNotifications::Notice notice = service.notices.constFirst();
        QCOMPARE(notice.appName, QStringLiteral("Velmora"));
        QCOMPARE(notice.body, QStringLiteral("3 files received from the phone"));
        QVERIFY(notice.actions.contains(QStringLiteral("open")));
        QCOMPARE(notice.actions.at(notice.actions.indexOf(QStringLiteral("open")) + 1),
                 QStringLiteral("Open folder"));

        // Another program's notice, a key we never offered, and at last ours. The signals come in
        // order after the Notify answer, so the count after the last one tells about the others.
        emit service.ActionInvoked(7, QStringLiteral("open"));
        emit service.ActionInvoked(42, QStringLiteral("reply"));
        emit service.ActionInvoked(42, QStringLiteral("open"));
        QVERIFY(picked.wait(5000));
        QCOMPARE(picked.count(), 1);

        // Once closed, the id is the service's to reuse; a click on the next notice counts.
        emit service.NotificationClosed(42, 2);
        emit service.ActionInvoked(42, QStringLiteral("default"));
        notifier.notify(QStringLiteral("Velmora"), QStringLiteral("1 file"), QStringLiteral("Open folder"));
        QTRY_COMPARE(service.notices.size(), 2);
        emit service.ActionInvoked(43, QStringLiteral("default"));
        QVERIFY(picked.wait(5000));
        QCOMPARE(picked.count(), 2);
        QVERIFY(fallbacks.isEmpty());
        serviceBus.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        serviceBus.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
    }

    // No service on the bus, one that refuses, or no bus at all: the fallback shows the notice.
    void missingOrRefusingServiceFallsBack()
    {
        QStringList fallbacks;
        const auto fallback = [&fallbacks](const QString& t, const QString& b) {
            fallbacks << t + '|' + b;
        };
        {
            DesktopNotifierFreedesktop notifier(connect(QStringLiteral("app")), fallback);
            notifier.notify(QStringLiteral("Velmora"), QStringLiteral("1 file"), QStringLiteral("Open"));
            QTRY_COMPARE(fallbacks, QStringList{QStringLiteral("Velmora|1 file")});
        }
        {
            QDBusConnection serviceBus = connect(QStringLiteral("service"));
            FakeNotifications service;
            service.refuse = true;
            QVERIFY(serviceBus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &service,
                                              QDBusConnection::ExportAllSlots));
            QVERIFY(serviceBus.registerService(QStringLiteral("org.freedesktop.Notifications")));
            DesktopNotifierFreedesktop notifier(connect(QStringLiteral("app")), fallback);
            notifier.notify(QStringLiteral("Velmora"), QStringLiteral("2 files"), QString());
            QTRY_COMPARE(fallbacks.size(), 2);
            QCOMPARE(fallbacks.last(), QStringLiteral("Velmora|2 files"));
            serviceBus.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        }
        DesktopNotifierFreedesktop offline(QDBusConnection(QStringLiteral("not-connected")), fallback);
        offline.notify(QStringLiteral("Velmora"), QStringLiteral("3 files"), QString());
        QCOMPARE(fallbacks.size(), 3);
    }
};

QTEST_GUILESS_MAIN(TestDesktopNotifier)
#include "tst_desktopnotifier.moc"
