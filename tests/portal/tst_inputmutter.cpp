#include "remote/RemoteTestSupport.h"
#include "support/PrivateBus.h"

#include "platform/input/InputBackendMutter.h"
#include "platform/input/InputBackendStatus.h"
#include "remote/InputSimulator.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>

#include <cmath>

using State = InputBackendStatus::State;

// GNOME's own remote-desktop interface, against a recording Mutter of ours on a private bus:
// the session with and without a screen-cast stream, the calls each phone command makes, the
// first key that Mutter loses, and a session the desktop ends.
class tst_InputMutter : public QObject
{
    Q_OBJECT

private:
    PrivateBus m_bus;
    QProcess m_mutter;
    QStringList m_calls;
    Phone m_phone;
    Server* m_server = nullptr;
    qint64 m_now = 1000;

    QDBusConnection bus() const { return QDBusConnection(QStringLiteral("mutter-test")); }
    void control(const QString& method, const QVariantList& args = {})
    {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.gnome.Mutter.RemoteDesktop"), QStringLiteral("/control"),
            QStringLiteral("org.velmora.test.FakeMutter"), method);
        call.setArguments(args);
        QCOMPARE(bus().call(call).type(), QDBusMessage::ReplyMessage);
    }
    std::unique_ptr<InputBackendMutter> backend()
    {
        InputBackendStatus::instance()->set(InputBackendKind::Mutter, State::Ready, QStringLiteral("test"));
        DesktopSurroundings surroundings;
        surroundings.monotonicMs = [this] {
            return m_now;
        };
        surroundings.screens = [] {
            return QVector<QRect>{QRect(0, 0, 1280, 720)};
        };
        return std::make_unique<InputBackendMutter>(bus(), surroundings);
    }
    QStringList takeCalls()
    {
        const QStringList calls = m_calls;
        m_calls.clear();
        return calls;
    }
    // Sets up a session and returns the calls it took, the modifier tap and the move by
    // nothing that give the seat its keyboard and pointer included.
    QStringList settle(InputBackendMutter& mutter)
    {
        [&] {
            QTRY_VERIFY(mutter.isReady());
        }();
        [&] {
            QTRY_VERIFY(m_calls.contains(QStringLiteral("NotifyPointerMotionRelative 0 0")));
        }();
        return takeCalls();
    }

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(m_bus.start(&error), qPrintable(error));
        QVERIFY(QDBusConnection::connectToBus(m_bus.address(), QStringLiteral("mutter-test")).isConnected());
        QVERIFY(!InputBackendMutter::available(bus()));
        QVERIFY(m_bus.startService(&m_mutter, QStringLiteral(FAKE_MUTTER), &m_calls));
        m_calls.clear();
        QVERIFY(InputBackendMutter::available(bus()));
    }

    // Each case starts with streams that work and nothing of an earlier case still to come (a
    // session ended at the end of a case reaches the fake after the case).
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
        m_mutter.kill();
        m_mutter.waitForFinished();
        m_bus.stop();
    }

    void startsWithAStreamAndNoPrompt()
    {
        auto mutter = backend();
        // Keys sent at once wait until the seat's keyboard is there, and none is lost.
        mutter->send({InputRecord::key(0x41, 0, 0), InputRecord::key(0x41, 0, InputRecord::KeyUp)});
        QCOMPARE(settle(*mutter),
                 (QStringList{"CreateSession", "CreateCastSession u1", "RecordMonitor", "Start stream=yes",
                              "NotifyKeyboardKeysym 0xffe1 1 lost", "NotifyKeyboardKeysym 0xffe1 0 lost",
                              "NotifyPointerMotionRelative 0 0"}));
        QVERIFY(mutter->hasStream());
        QCOMPARE(InputBackendStatus::instance()->state(), State::Ready);
        QTRY_COMPARE(m_calls.size(), 2);
        QCOMPARE(takeCalls(), (QStringList{"NotifyKeyboardKeysym 0x61 1", "NotifyKeyboardKeysym 0x61 0"}));
        m_server = new Server(std::move(mutter), nullptr);
        QVERIFY(m_server->start(0) && m_phone.attach(*m_server));
    }

    void commands_data()
    {
        QTest::addColumn<QByteArrayList>("messages");
        QTest::addColumn<QStringList>("calls");
        const QString stream = QStringLiteral("/org/gnome/Mutter/ScreenCast/Stream/u1");
        QTest::newRow("absolute moves on the stream")
            << QByteArrayList{R"({"command":"mousemove","params":{"absolute":true,"dx":0,"dy":0}})",
                              R"({"command":"mousemove","params":{"absolute":true,"dx":1279,"dy":719}})"}
            << QStringList{"NotifyPointerMotionAbsolute " + stream + " 0 0",
                           "NotifyPointerMotionAbsolute " + stream + " 1279 719"};
        QTest::newRow("relative move")
            << QByteArrayList{R"({"command":"mousemove","params":{"dx":25,"dy":-7}})"}
            << QStringList{"NotifyPointerMotionRelative 25 -7"};
        QTest::newRow("double click")
            << QByteArrayList{R"({"command":"mouseclick","params":{"double":true}})"}
            << QStringList{"NotifyPointerButton 272 1", "NotifyPointerButton 272 0",
                           "NotifyPointerButton 272 1", "NotifyPointerButton 272 0"};
        QTest::newRow("one notch is one step")
            << QByteArrayList{R"({"command":"mousewheel","params":{"amount":1}})"}
            << QStringList{"NotifyPointerAxisDiscrete 0 -1"};
        // Fingers: from a finger source (4), ten to a notch, down positive; the lift finishes (1).
        QTest::newRow("finger wheel") << QByteArrayList{R"({"command":"mousewheel","params":{"fine":60}})",
                                                        R"({"command":"mousewheel","params":{"end":true}})"}
                                      << QStringList{"NotifyPointerAxis 0 -5 4", "NotifyPointerAxis 0 0 5"};
        QTest::newRow("ctrl+c") << QByteArrayList{R"({"command":"keyinput","params":{"keycodes":[17,67]}})"}
                                << QStringList{"NotifyKeyboardKeysym 0xffe3 1", "NotifyKeyboardKeysym 0x63 1",
                                               "NotifyKeyboardKeysym 0x63 0",
                                               "NotifyKeyboardKeysym 0xffe3 0"};
        // ö and 世 are not on the layout (US): not sent as keysyms, which Mutter would drop, but
        // pasted (here there is no clipboard to read, so they are reported).
        QTest::newRow("text") << QByteArrayList{R"({"command":"keyinput","params":{"text":"aö世\n"}})"}
                              << QStringList{"NotifyKeyboardKeysym 0x61 1", "NotifyKeyboardKeysym 0x61 0",
                                             "NotifyKeyboardKeysym 0xff0d 1",
                                             "NotifyKeyboardKeysym 0xff0d 0"};
    }
    void commands()
    {
        QFETCH(QByteArrayList, messages);
        QFETCH(QStringList, calls);
        QVERIFY(m_server != nullptr);
        m_calls.clear();
        for (const QByteArray& m : messages)
            m_phone.send(m + '\n');
        QTRY_VERIFY(m_calls.size() >= calls.size());
        QTest::qWait(50); // and nothing more
        QCOMPARE(takeCalls().join(QLatin1String(" | ")), calls.join(QLatin1String(" | ")));
    }

    void withoutPipeWireAbsoluteMovesAreRelative()
    {
        delete m_server;
        m_server = nullptr;
        QTRY_VERIFY(m_calls.contains(QStringLiteral("Stop")));
        m_calls.clear();
        control(QStringLiteral("SetStreams"), {false});
        auto mutter = backend();
        // The session with a stream fails to start (Mutter closes it first); one without
        // follows.
        const QStringList setUp = settle(*mutter);
        QCOMPARE(setUp.mid(0, 6), (QStringList{"CreateSession", "CreateCastSession u2", "RecordMonitor",
                                               "Start stream=yes", "CreateSession", "Start stream=no"}));
        QVERIFY(!mutter->hasStream());
        const auto to = [](int x, int y) {
            return InputRecord::mouse(InputRecord::MouseMove | InputRecord::Absolute, x, y);
        };
        mutter->send({to(0, 0), to(65535, 65535)});
        QTRY_COMPARE(m_calls.size(), 3);
        QCOMPARE(takeCalls(), (QStringList{"NotifyPointerMotionRelative 100000 100000",
                                           "NotifyPointerMotionRelative -1279 -719",
                                           "NotifyPointerMotionRelative 1279 719"}));
        control(QStringLiteral("SetStreams"), {true});

        // The desktop ends the session: nothing goes out, until the user asks for a new one.
        control(QStringLiteral("CloseSession"));
        QTRY_COMPARE(InputBackendStatus::instance()->state(), State::Unavailable);
        QVERIFY(InputBackendStatus::instance()->canAskAgain());
        m_calls.clear();
        mutter->send({InputRecord::mouse(InputRecord::LeftDown)});
        QTest::qWait(50);
        QCOMPARE(takeCalls(), QStringList());
        InputBackendStatus::instance()->askAgain();
        QTRY_COMPARE(InputBackendStatus::instance()->state(), State::Ready);
        QTRY_VERIFY(mutter->isReady());
    }

    // Two monitors of unequal size: a stream each, positions across both, each move through the
    // stream of the monitor under it; a new session when the monitors change, whether Mutter
    // says so first or ends the session first.
    void followsTheMonitors()
    {
        control(QStringLiteral("SetMonitors"),
                {QStringLiteral("Meta-0 0 0 1280 720;Meta-1 1280 0 1024 768"), false});
        m_calls.clear();
        auto mutter = backend();
        const QStringList setUp = settle(*mutter);
        QCOMPARE(setUp.mid(2, 3),
                 (QStringList{"RecordMonitor Meta-0", "RecordMonitor Meta-1", "Start stream=yes"}));
        QCOMPARE(mutter->streamCount(), 2);
        QCOMPARE(mutter->primaryScreenSize(), QSize(2304, 768));
        const auto to = [](int x, int y) {
            return InputRecord::mouse(InputRecord::MouseMove | InputRecord::Absolute,
                                      int(std::lround(x * 65535.0 / 2303)),
                                      int(std::lround(y * 65535.0 / 767)));
        };
        mutter->send({to(1380, 300), to(2303, 767), to(100, 767), to(1279, 0)});
        QTRY_COMPARE(m_calls.size(), 4);
        const QStringList moves = takeCalls();
        const QString first = moves.value(2).section(QLatin1Char(' '), 1, 1);
        const QString second = moves.value(0).section(QLatin1Char(' '), 1, 1);
        QVERIFY(first != second);
        // Below the shorter monitor: its nearest point.
        QCOMPARE(moves, (QStringList{"NotifyPointerMotionAbsolute " + second + " 100 300",
                                     "NotifyPointerMotionAbsolute " + second + " 1023 767",
                                     "NotifyPointerMotionAbsolute " + first + " 100 719",
                                     "NotifyPointerMotionAbsolute " + first + " 1279 0"}));

        // A monitor goes away: Mutter says so, and the session follows.
        control(QStringLiteral("SetMonitors"), {QStringLiteral("Meta-0 0 0 1280 720"), true});
        QTRY_VERIFY(m_calls.contains(QStringLiteral("Start stream=yes")));
        QCOMPARE(m_calls.mid(0, 2), (QStringList{"Stop", "CreateSession"}));
        QCOMPARE(m_calls.mid(3, 2), (QStringList{"RecordMonitor Meta-0", "Start stream=yes"}));
        QTRY_VERIFY(mutter->isReady());
        QCOMPARE(mutter->primaryScreenSize(), QSize(1280, 720));
        QCOMPARE(InputBackendStatus::instance()->state(), State::Ready);

        // Mutter ends the session for a monitor that went away before it says so: a new one too.
        settle(*mutter);
        control(QStringLiteral("SetMonitors"), {QStringLiteral("Meta-1 0 0 1024 768"), false});
        control(QStringLiteral("CloseSession"));
        QTRY_VERIFY(m_calls.contains(QStringLiteral("Start stream=yes")));
        QVERIFY(m_calls.contains(QStringLiteral("RecordMonitor Meta-1")));
        QTRY_VERIFY(mutter->isReady());
        QCOMPARE(InputBackendStatus::instance()->state(), State::Ready);

        // The same monitors: the desktop meant to end it.
        settle(*mutter);
        control(QStringLiteral("CloseSession"));
        QTRY_COMPARE(InputBackendStatus::instance()->state(), State::Unavailable);
        QTest::qWait(50);
        QVERIFY(!m_calls.contains(QStringLiteral("CreateSession")));
    }
};

QTEST_GUILESS_MAIN(tst_InputMutter)
#include "tst_inputmutter.moc"
