#include "remote/RemoteTestSupport.h"
#include "support/PrivateBus.h"

#include "platform/input/InputBackendPortal.h"
#include "platform/input/InputBackendStatus.h"
#include "remote/InputSimulator.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>

#include <csignal>
#include <optional>

using State = InputBackendStatus::State;

// The portal backend against a recording RemoteDesktop portal of ours on a private bus:
// session set-up, the calls each phone command makes, the restore token, and refusals.
class tst_InputPortal : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    PrivateBus m_bus;
    QProcess m_portal;
    QString m_address;
    QStringList m_calls;
    Phone m_phone;
    Server* m_server = nullptr;
    int m_settingsCount = 0;
    qint64 m_now = 1000;
    QVector<QRect> m_screens{QRect(0, 0, 1920, 1080)};

    QDBusConnection bus() const { return QDBusConnection(QStringLiteral("portal-test")); }
    std::unique_ptr<QSettings> settings(const QString& name)
    {
        return std::make_unique<QSettings>(m_dir.filePath(name + QStringLiteral(".ini")),
                                           QSettings::IniFormat);
    }
    void control(const QString& method, std::optional<uint> value = std::nullopt)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.portal.Desktop"), QStringLiteral("/control"),
            QStringLiteral("org.velmora.test.FakePortal"), method);
        if (value)
            call << *value;
        QCOMPARE(bus().call(call).type(), QDBusMessage::ReplyMessage);
    }
    static State state() { return InputBackendStatus::instance()->state(); }
    std::unique_ptr<InputBackendPortal> backend(const QString& settingsName,
                                                const QString& desktop = QString())
    {
        InputBackendStatus::instance()->set(InputBackendKind::Portal, State::WaitingForPermission, QString());
        InputBackendPortal::Surroundings surroundings;
        surroundings.monotonicMs = [this] {
            return m_now;
        };
        surroundings.screens = [this] {
            return m_screens;
        };
        surroundings.desktop = desktop;
        return std::make_unique<InputBackendPortal>(bus(), settings(settingsName), surroundings);
    }
    // Waits for the grant and the moment after it, and returns the calls so far, less the
    // modifier tap that gives the seat its keyboard (which the portal, like GNOME's, loses).
    QStringList granted(InputBackendPortal& portal)
    {
        const QString down = QStringLiteral("NotifyKeyboardKeysym 0xffe1 1 lost");
        const QString up = QStringLiteral("NotifyKeyboardKeysym 0xffe1 0 lost");
        // A failure names what the portal heard, which says where the set-up stopped.
        [&] {
            QTRY_VERIFY2(portal.isReady(), qPrintable(m_calls.join(QLatin1Char('|'))));
        }();
        [&] {
            QTRY_VERIFY2(m_calls.contains(up), qPrintable(m_calls.join(QLatin1Char('|'))));
        }();
        QStringList calls = takeCalls();
        const int at = calls.indexOf(down);
        if (at < 0 || calls.value(at + 1) != up)
            return calls << QStringLiteral("(no keyboard tap)");
        calls.erase(calls.begin() + at, calls.begin() + at + 2);
        return calls;
    }
    QStringList takeCalls()
    {
        const QStringList calls = m_calls;
        m_calls.clear();
        return calls;
    }
    // Ends a granted session and waits for the portal to hear of it, so no late call spills
    // into the next case.
    void finish(std::unique_ptr<InputBackendPortal> portal)
    {
        m_calls.clear();
        portal.reset();
        QTRY_VERIFY(m_calls.contains(QStringLiteral("Close")));
        m_calls.clear();
    }
    QString token(const QString& settingsName)
    {
        return settings(settingsName)->value("input/portalRestoreToken").toString();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QString error;
        QVERIFY2(m_bus.start(&error), qPrintable(error));
        m_address = m_bus.address();
        QVERIFY(QDBusConnection::connectToBus(m_address, QStringLiteral("portal-test")).isConnected());
        // The machine's own portal (or anything else installed) is never started on this bus.
        const QDBusMessage names = bus().call(QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListActivatableNames")));
        QCOMPARE(names.arguments().value(0).toStringList(), QStringList{"org.freedesktop.DBus"});

        QVERIFY(!InputBackendPortal::available(bus())); // nothing answers yet

        QVERIFY(m_bus.startService(&m_portal, QStringLiteral(FAKE_PORTAL), &m_calls));
        m_calls.clear();
        QVERIFY(InputBackendPortal::available(bus()));
    }

    // Each case starts from the portal's first behaviour, with nothing of an earlier case still
    // in flight (a case that failed half way leaves its answer and its calls behind).
    void init()
    {
        control(QStringLiteral("Reset"));
        QTRY_VERIFY(m_calls.contains(QStringLiteral("reset")));
        m_calls = m_calls.mid(m_calls.indexOf(QStringLiteral("reset")) + 1);
    }

    void cleanupTestCase()
    {
        delete m_server;
        m_server = nullptr;
        m_portal.kill();
        m_portal.waitForFinished();
        m_bus.stop();
    }

    void setUpAsksOnceAndKeepsTheToken()
    {
        auto portal = backend(QStringLiteral("main"));
        QCOMPARE(state(), State::WaitingForPermission);
        QTRY_COMPARE(state(), State::Ready);
        // A key right after the grant waits for the seat's keyboard, and is not lost.
        portal->send({InputRecord::key(0x41, 0, 0), InputRecord::key(0x41, 0, InputRecord::KeyUp)});
        QStringList calls = granted(*portal);
        QTRY_VERIFY(calls.size() + m_calls.size() >= 5);
        calls += takeCalls();
        QCOMPARE(calls, (QStringList{"CreateSession", "SelectDevices types=3 persist=2 token=-", "Start",
                                     "NotifyKeyboardKeysym 0x61 1", "NotifyKeyboardKeysym 0x61 0"}));
        QCOMPARE(token(QStringLiteral("main")), QStringLiteral("token-1"));
        m_server = new Server(std::move(portal), nullptr);
        QVERIFY(m_server->start(0) && m_phone.attach(*m_server));
    }

    void commands_data()
    {
        QTest::addColumn<QByteArrayList>("messages");
        QTest::addColumn<QStringList>("calls");
        // Without a stream the first absolute move finds the pointer in the bottom-right
        // corner (1919, 1079 here); later ones move from the last position. Moves that wait
        // while the portal handles the push are joined into one: (-1819, -979) and (50, -10).
        QTest::newRow("absolute moves")
            << QByteArrayList{R"({"command":"mousemove","params":{"absolute":true,"dx":100,"dy":100}})",
                              R"({"command":"mousemove","params":{"absolute":true,"dx":150,"dy":90}})"}
            << QStringList{"NotifyPointerMotion 100000 100000", "NotifyPointerMotion -1769 -989"};
        QTest::newRow("relative then absolute")
            << QByteArrayList{R"({"command":"mousemove","params":{"dx":25,"dy":-7}})",
                              R"({"command":"mousemove","params":{"absolute":true,"dx":150,"dy":90}})"}
            << QStringList{"NotifyPointerMotion 25 -7", "NotifyPointerMotion -25 7"};
        QTest::newRow("click") << QByteArrayList{R"({"command":"mouseclick"})"}
                               << QStringList{"NotifyPointerButton 272 1", "NotifyPointerButton 272 0"};
        QTest::newRow("middle press and release")
            << QByteArrayList{R"({"command":"mousedown","params":{"button":"middle"}})",
                              R"({"command":"mouseup","params":{"button":"middle"}})"}
            << QStringList{"NotifyPointerButton 274 1", "NotifyPointerButton 274 0"};
        QTest::newRow("wheel") << QByteArrayList{R"({"command":"mousewheel","params":{"amount":2}})"}
                               << QStringList{"NotifyPointerAxisDiscrete 0 -2"};
        // Fingers: the distance as it came, ten to a notch, down positive; the lift finishes it.
        QTest::newRow("finger wheel")
            << QByteArrayList{R"({"command":"mousewheel","params":{"fine":30}})",
                              R"({"command":"mousewheel","params":{"fine":-6,"end":true}})"}
            << QStringList{"NotifyPointerAxis 0 -2.5 finish=false", "NotifyPointerAxis 0 0.5 finish=true"};
        // In order, though the portal lets calls in flight together overtake each other.
        QTest::newRow("ctrl+c") << QByteArrayList{R"({"command":"keyinput","params":{"keycodes":[17,67]}})"}
                                << QStringList{"NotifyKeyboardKeysym 0xffe3 1", "NotifyKeyboardKeysym 0x63 1",
                                               "NotifyKeyboardKeysym 0x63 0",
                                               "NotifyKeyboardKeysym 0xffe3 0"};
        // Characters the layout (US) lacks are not sent as keysyms, which the desktop would
        // drop: they go through the clipboard (here there is none to read, so they are reported).
        QTest::newRow("unicode text")
            << QByteArrayList{R"({"command":"keyinput","params":{"text":"é世😀\r\n"}})"}
            << QStringList{"NotifyKeyboardKeysym 0xff0d 1", "NotifyKeyboardKeysym 0xff0d 0"};
    }
    void commands()
    {
        QFETCH(QByteArrayList, messages);
        QFETCH(QStringList, calls);
        QVERIFY(m_server != nullptr);
        m_calls.clear();
        // In one write, as a phone's burst: the server takes them in one go.
        m_phone.send(messages.join('\n') + '\n');
        QTRY_VERIFY(m_calls.size() >= calls.size());
        QTest::qWait(50); // and nothing more
        QCOMPARE(takeCalls().join(QLatin1String(" | ")), calls.join(QLatin1String(" | ")));
    }

    void aLaterStartReusesTheToken()
    {
        delete m_server; // closes the first session
        m_server = nullptr;
        QTRY_VERIFY(m_calls.contains(QStringLiteral("Close")));
        m_calls.clear();
        auto portal = backend(QStringLiteral("main"));
        QCOMPARE(granted(*portal),
                 (QStringList{"CreateSession", "SelectDevices types=3 persist=2 token=token-1", "Start"}));
        // Tokens are good for one start each: the new one replaces it.
        QCOMPARE(token(QStringLiteral("main")), QStringLiteral("token-2"));
        finish(std::move(portal));
    }

    void refusalAndAskingAgain_data()
    {
        QTest::addColumn<uint>("answer");
        QTest::newRow("user declined") << 1u;
        QTest::newRow("desktop failed") << 2u;
    }
    void refusalAndAskingAgain()
    {
        QFETCH(uint, answer);
        control(QStringLiteral("SetAnswer"), answer);
        auto portal = backend(QStringLiteral("refused") + QString::number(answer));
        QTRY_COMPARE(state(), State::Refused);
        QVERIFY(InputBackendStatus::instance()->canAskAgain());
        QTRY_VERIFY(m_calls.contains(QStringLiteral("Close")));
        // The portal's closing of the refused session that follows is no news.
        QTest::qWait(50);
        QCOMPARE(InputBackendStatus::instance()->detail(),
                 answer == 1 ? QStringLiteral("the user declined") : QStringLiteral("the desktop declined"));
        m_calls.clear();
        // Events meanwhile go nowhere, and nothing breaks.
        portal->send({InputRecord::mouse(InputRecord::LeftDown)});
        QTest::qWait(50);
        QCOMPARE(takeCalls(), QStringList());
        QVERIFY(token(QStringLiteral("refused") + QString::number(answer)).isEmpty());

        control(QStringLiteral("SetAnswer"), 0);
        InputBackendStatus::instance()->askAgain();
        QCOMPARE(granted(*portal),
                 (QStringList{"CreateSession", "SelectDevices types=3 persist=2 token=-", "Start"}));
        portal->send({InputRecord::mouse(InputRecord::LeftDown)});
        QTRY_VERIFY2(m_calls.contains(QStringLiteral("NotifyPointerButton 272 1")),
                     qPrintable(m_calls.join('|')));
        finish(std::move(portal));
    }

    // Nobody answers the dialog: the question is withdrawn after a while, the session closed,
    // an answer that comes later is ignored, and asking again works.
    void anUnansweredQuestionIsWithdrawn()
    {
        control(QStringLiteral("SetAnswer"), 3);
        auto portal = backend(QStringLiteral("unanswered"));
        // The clock runs out only once the dialog is up, however slowly the set-up went.
        portal->setAnswerTimeout(60000);
        QTRY_VERIFY(m_calls.contains(QStringLiteral("Start")));
        QCOMPARE(state(), State::WaitingForPermission);
        portal->setAnswerTimeout(1);
        QTRY_COMPARE(state(), State::Refused);
        QCOMPARE(InputBackendStatus::instance()->detail(),
                 QStringLiteral("the desktop's question went unanswered"));
        QVERIFY(InputBackendStatus::instance()->canAskAgain());
        QTRY_VERIFY(m_calls.contains(QStringLiteral("Close")));
        QCOMPARE(
            takeCalls().join(QLatin1Char('|')),
            QStringLiteral("CreateSession|SelectDevices types=3 persist=2 token=-|Start|CloseRequest|Close"));
        control(QStringLiteral("AnswerLate"));
        QTest::qWait(50);
        portal->send({InputRecord::mouse(InputRecord::LeftDown)});
        QTest::qWait(50);
        QVERIFY(!portal->isReady());
        QCOMPARE(state(), State::Refused);
        QCOMPARE(takeCalls(), QStringList());

        portal->setAnswerTimeout(60000);
        control(QStringLiteral("SetAnswer"), 0);
        InputBackendStatus::instance()->askAgain();
        QCOMPARE(granted(*portal),
                 (QStringList{"CreateSession", "SelectDevices types=3 persist=2 token=-", "Start"}));
        // A grant stops the clock (a running one would restart with the new interval).
        portal->setAnswerTimeout(1);
        QTest::qWait(50);
        QCOMPARE(state(), State::Ready);
        finish(std::move(portal));
    }

    void theDesktopEndsTheSession()
    {
        auto portal = backend(QStringLiteral("ended"));
        granted(*portal);
        control(QStringLiteral("CloseSession"));
        QTRY_COMPARE(state(), State::Refused);
        m_calls.clear();
        portal->send({InputRecord::key(0x41, 0, 0)});
        QTest::qWait(50);
        QVERIFY(takeCalls().isEmpty());
    }

    void anOldPortalIsNotAskedToRemember()
    {
        control(QStringLiteral("SetVersion"), 1);
        auto portal = backend(QStringLiteral("old"));
        QCOMPARE(granted(*portal),
                 (QStringList{"CreateSession", "SelectDevices types=3 persist=- token=-", "Start"}));
        QVERIFY(token(QStringLiteral("old")).isEmpty());
        control(QStringLiteral("SetVersion"), 2);
        finish(std::move(portal));
    }

    void absoluteMovesFindThePointerAgainAfterAPause()
    {
        // Two screens side by side, the right one taller: absolute positions span both, and
        // the push home ends in the right one's bottom-right corner (2879, 1199).
        m_screens = {QRect(0, 0, 1920, 1080), QRect(1920, 0, 960, 1200)};
        auto portal = backend(QStringLiteral("screens"));
        QCOMPARE(granted(*portal),
                 (QStringList{"CreateSession", "SelectDevices types=3 persist=2 token=-", "Start"}));
        const auto to = [](int x, int y) {
            return InputRecord::mouse(InputRecord::MouseMove | InputRecord::Absolute, x, y);
        };
        // Each move once the last has arrived, so none are joined.
        portal->send({to(0, 0)});
        QTRY_COMPARE(m_calls.size(), 2);
        m_now += 100; // a drag: no push in between
        portal->send({to(65535, 65535)});
        QTRY_COMPARE(m_calls.size(), 3);
        // The user's own mouse may have moved meanwhile: the next absolute move pushes again.
        m_now += InputBackendPortal::RehomeAfterIdleMs + 1;
        portal->send({to(0, 0)});
        QTRY_COMPARE(m_calls.size(), 5);
        QCOMPARE(takeCalls(),
                 (QStringList{"NotifyPointerMotion 100000 100000", "NotifyPointerMotion -2879 -1199",
                              "NotifyPointerMotion 2879 1199", "NotifyPointerMotion 100000 100000",
                              "NotifyPointerMotion -2879 -1199"}));
        m_screens = {QRect(0, 0, 1920, 1080)};
        finish(std::move(portal));
    }

    void aKdeWheelNotchIsAScrollDistance()
    {
        // KDE's portal scrolls one pixel per discrete step, and up for a positive distance.
        auto portal = backend(QStringLiteral("kde"), QStringLiteral("KDE"));
        granted(*portal);
        portal->send({InputRecord::mouse(InputRecord::Wheel, 0, 0, InputRecord::WheelDelta),
                      InputRecord::mouse(InputRecord::Wheel, 0, 0, -2 * InputRecord::WheelDelta)});
        QTRY_COMPARE(m_calls.size(), 2);
        QCOMPARE(takeCalls(),
                 (QStringList{"NotifyPointerAxis 0 15 finish=true", "NotifyPointerAxis 0 -30 finish=true"}));
        finish(std::move(portal));
    }

    void aSlowPortalDoesNotBlockTheWindow()
    {
        // A portal that does not answer yet (starting, or busy): the backend is made at once
        // and the session follows when the portal answers.
        QVERIFY(::kill(pid_t(m_portal.processId()), SIGSTOP) == 0);
        QElapsedTimer timer;
        timer.start();
        auto portal = backend(QStringLiteral("slow"));
        const qint64 took = timer.elapsed();
        QVERIFY(::kill(pid_t(m_portal.processId()), SIGCONT) == 0);
        // A call that waited for the stopped portal would take its whole 5 s time limit; a
        // busy machine may well spend a second on the rest.
        QVERIFY2(took < 4000, qPrintable(QString::number(took)));
        QCOMPARE(state(), State::WaitingForPermission);
        QCOMPARE(granted(*portal),
                 (QStringList{"CreateSession", "SelectDevices types=3 persist=2 token=-", "Start"}));
        finish(std::move(portal));
    }
};

QTEST_GUILESS_MAIN(tst_InputPortal)
#include "tst_inputportal.moc"
