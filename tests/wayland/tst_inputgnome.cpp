#include "ProbeSession.h"

#include "platform/InputBackendMutter.h"
#include "platform/InputBackendStatus.h"
#include "remote/InputSimulator.h"

#include <QDBusConnection>

// Phone messages through the command server drive a real headless GNOME Mutter through its own
// remote-desktop interface; our Wayland client on that Mutter reports what really arrived.
class tst_InputGnome : public QObject
{
    Q_OBJECT

private:
    ProbeSession m_s;
    Server* m_server = nullptr;

private slots:
    void initTestCase()
    {
        // Only the Mutter the script started: injected input would take over a real desktop.
        const QString bus = qEnvironmentVariable("VELMORA_TEST_MUTTER_BUS");
        if (bus.isEmpty() || qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
            QSKIP("needs the headless Mutter of scripts/test.d/gnome");
        const QDBusConnection connection = QDBusConnection::connectToBus(bus, QStringLiteral("mutter"));
        QVERIFY(connection.isConnected());
        QVERIFY(InputBackendMutter::available(connection));
        DesktopSurroundings surroundings = DesktopSurroundings::real();
        surroundings.screens = [] {
            return QVector<QRect>{QRect(0, 0, 1280, 720)};
        };
        InputBackendStatus::instance()->set(InputBackendKind::Mutter, InputBackendStatus::State::Ready,
                                            QStringLiteral("test"));
        auto backend = std::make_unique<InputBackendMutter>(connection, surroundings);
        auto* mutter = backend.get();
        QTRY_VERIFY_WITH_TIMEOUT(mutter->isReady(), 10000);
        // With PipeWire in the session, absolute moves go through a stream of the monitor; it
        // need not be read for Mutter to take them.
        if (qEnvironmentVariable("VELMORA_TEST_MUTTER_PIPEWIRE") == QLatin1String("1"))
            QVERIFY(mutter->hasStream());
        m_server = new Server(std::move(backend), this);
        QVERIFY(m_server->start(0) && m_s.m_phone.attach(*m_server));
        QVERIFY(m_s.startProbe());
        // The pointer enters the fullscreen surface with the first move.
        m_s.send(ProbeSession::absolute(640, 360));
        QTRY_VERIFY_WITH_TIMEOUT(m_s.m_events.contains(QStringLiteral("motion 640 360")) ||
                                     m_s.m_events.contains(QStringLiteral("enter 640 360")),
                                 5000);
        qInfo().noquote() << "probe:" << m_s.m_events.join(QLatin1String(" | "));
        // Mutter zooms a new window in from its centre (a move to 100, 200 landed on 97, 199).
        QVERIFY2(m_s.waitUntilMovesLand(), qPrintable(m_s.m_events.join(QLatin1String(" | "))));
    }

    void cleanupTestCase()
    {
        delete m_server;
        m_server = nullptr;
    }

    // Through a stream absolute moves go straight there; without one they are found from the
    // bottom-right corner, and the probe sees only where the pointer ends up.
    void pointer_data() { ProbeSession::addPointerRows(); }
    void pointer()
    {
        QFETCH(QByteArrayList, messages);
        QFETCH(QStringList, expected);
        m_s.checkPointer(messages, expected);
    }

    void keyCombination_data() { ProbeSession::addKeyRows(); }
    void keyCombination()
    {
        QFETCH(QByteArray, keycodes);
        QFETCH(QString, expected);
        m_s.checkKeys(keycodes, expected);
    }

    void typesText()
    {
        m_s.m_events.clear();
        m_s.send(ProbeSession::text(QString::fromUtf8("Hello, wörld 世界 😀\n")));
        QTRY_VERIFY_WITH_TIMEOUT(m_s.typed().endsWith(QLatin1Char('\n')), 5000);
        QTest::qWait(100);
        // Mutter types a keysym only where a key of the layout (US here) has it, so ö, 世, 界
        // and 😀 are dropped; everything else arrives in order.
        QCOMPARE(m_s.typed(), QStringLiteral("Hello, wrld  \n"));
    }
};

QTEST_GUILESS_MAIN(tst_InputGnome)
#include "tst_inputgnome.moc"
