#include "platform/input/Keysyms.h"
#include "platform/input/RemoteDesktopSession.h"
#include "support/PrivateBus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QTest>

#include <memory>

// What the Mutter and portal sessions share: answers that must not reach a session started
// after their call, the keys and buttons to let go when a session ends, and the state report.
class TestRemoteDesktopSession : public QObject
{
    Q_OBJECT

    PrivateBus m_bus;

    static QDBusConnection bus() { return QDBusConnection(QStringLiteral("session-test")); }

    // A call the bus daemon answers by itself.
    static QDBusMessage getId()
    {
        return QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetId"));
    }

    using Sent = QVector<QPair<quint32, bool>>;

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(m_bus.start(&error), qPrintable(error));
        QVERIFY(QDBusConnection::connectToBus(m_bus.address(), QStringLiteral("session-test")).isConnected());
    }

    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("session-test"));
        m_bus.stop();
    }

    // An answer to a call made before the session moved on is dropped; one to a later call
    // arrives; a session object that is gone hears nothing, whatever comes back.
    void answersGoOnlyToTheSessionThatAsked()
    {
        QObject context;
        SessionCalls calls(bus(), &context);
        QStringList heard;
        calls.call(getId(), [&](QDBusPendingCallWatcher&) { heard << QStringLiteral("old"); });
        calls.forgetPending();
        calls.call(getId(), [&](QDBusPendingCallWatcher& answer) {
            heard << (answer.isError() ? QStringLiteral("error") : QStringLiteral("new"));
        });
        QTRY_COMPARE(heard, QStringList{QStringLiteral("new")});

        // Answers come back in order on the one connection: once a later call is answered,
        // the earlier one has been too, dropped or not.
        bool afterForget = false;
        calls.call(getId(), [&](QDBusPendingCallWatcher&) { afterForget = true; });
        calls.forgetPending();
        bool fence = false;
        calls.call(getId(), [&](QDBusPendingCallWatcher&) { fence = true; });
        QTRY_VERIFY(fence);
        QVERIFY(!afterForget);

        auto gone = std::make_unique<QObject>();
        SessionCalls orphaned(bus(), gone.get());
        bool reached = false;
        orphaned.call(getId(), [&](QDBusPendingCallWatcher&) { reached = true; });
        gone.reset();
        fence = false;
        calls.call(getId(), [&](QDBusPendingCallWatcher&) { fence = true; });
        QTRY_VERIFY(fence);
        QVERIFY(!reached);
    }

    // Only what is held is let go, each once; forgetting sends nothing.
    void releasesExactlyWhatIsHeld()
    {
        HeldInput held;
        Sent keys, buttons;
        const KeysymKeys::Send key = [&](quint32 sym, bool down) {
            keys.append({sym, down});
        };
        const HeldInput::Button button = [&](quint32 code, bool down) {
            buttons.append({code, down});
        };
        const quint32 shift = quint32(keysymForVirtualKey(0x10));
        const quint32 a = quint32(keysymForVirtualKey(0x41));

        held.keys().take(InputRecord::key(0x10, 0, 0), key);
        held.keys().take(InputRecord::key(0x41, 0, 0), key);
        held.keys().take(InputRecord::key(0x41, 0, InputRecord::KeyUp), key);
        held.button(272, true, button);
        held.button(273, true, button);
        held.button(273, false, button);
        QCOMPARE(keys, (Sent{{shift, true}, {a, true}, {a, false}}));
        QCOMPARE(buttons, (Sent{{272, true}, {273, true}, {273, false}}));

        keys.clear();
        buttons.clear();
        held.releaseAll(key, button);
        QCOMPARE(keys, (Sent{{shift, false}}));
        QCOMPARE(buttons, (Sent{{272, false}}));
        held.releaseAll(key, button);
        QCOMPARE(keys.size(), 1);
        QCOMPARE(buttons.size(), 1);

        // The session is not there to tell: nothing goes out, and nothing is held afterwards.
        held.keys().take(InputRecord::key(0x10, 0, 0), key);
        held.button(272, true, button);
        keys.clear();
        buttons.clear();
        held.forget();
        held.releaseAll(key, button);
        QVERIFY(keys.isEmpty());
        QVERIFY(buttons.isEmpty());
        // A key let go after being forgotten is not sent either: it is not held.
        held.keys().take(InputRecord::key(0x10, 0, InputRecord::KeyUp), key);
        QVERIFY(keys.isEmpty());
    }

    // A session reports only while its backend is the one in use; an empty detail keeps the
    // reason given before.
    void reportsOnlyForTheBackendInUse()
    {
        auto* status = InputBackendStatus::instance();
        status->set(InputBackendKind::Portal, InputBackendStatus::State::WaitingForPermission,
                    QStringLiteral("chosen"));
        reportSessionState(InputBackendKind::Mutter, InputBackendStatus::State::Ready,
                           QStringLiteral("mutter"));
        QCOMPARE(status->state(), InputBackendStatus::State::WaitingForPermission);
        QCOMPARE(status->detail(), QStringLiteral("chosen"));

        reportSessionState(InputBackendKind::Portal, InputBackendStatus::State::Ready, QString());
        QCOMPARE(status->state(), InputBackendStatus::State::Ready);
        QCOMPARE(status->detail(), QStringLiteral("chosen"));
        reportSessionState(InputBackendKind::Portal, InputBackendStatus::State::Refused,
                           QStringLiteral("the user declined"));
        QCOMPARE(status->state(), InputBackendStatus::State::Refused);
        QCOMPARE(status->detail(), QStringLiteral("the user declined"));
    }
};

QTEST_GUILESS_MAIN(TestRemoteDesktopSession)
#include "tst_remotedesktopsession.moc"
