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
    // A second probe on the second monitor, where the desktop has one.
    ProbeSession m_right;
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
        // A probe on the second monitor first, so that the first one, mapped last, has the
        // keyboard. (In our tries a probe mapped later, over the first, got no pointer events.)
        const QVector<QRect> monitors = ProbeSession::monitors();
        if (monitors.size() > 1) {
            m_right.m_via = &m_s.m_phone;
            QVERIFY(m_right.startProbe(monitors.at(1).topLeft()));
        }
        QVERIFY(m_s.startProbe());
        auto backend = std::make_unique<InputBackendMutter>(connection, surroundings);
        auto* mutter = backend.get();
        QTRY_VERIFY_WITH_TIMEOUT(mutter->isReady(), 10000);
        // With PipeWire in the session, absolute moves go through a stream of the monitor; it
        // need not be read for Mutter to take them.
        if (qEnvironmentVariable("VELMORA_TEST_MUTTER_PIPEWIRE") == QLatin1String("1"))
            QCOMPARE(mutter->streamCount(), ProbeSession::monitors().size());
        // Positions span all monitors together.
        QCOMPARE(QRect(QPoint(), mutter->primaryScreenSize()), unite(ProbeSession::monitors()));
        m_server = new Server(std::move(backend), this);
        QVERIFY(m_server->start(0) && m_s.m_phone.attach(*m_server));
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

    static QRect unite(const QVector<QRect>& rects)
    {
        QRect all;
        for (const QRect& r : rects)
            all |= r;
        return all;
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

    void smoothScroll() { m_s.checkSmoothScroll(); }

    void keyCombination_data() { ProbeSession::addKeyRows(); }
    void keyCombination()
    {
        QFETCH(QByteArray, keycodes);
        QFETCH(QString, expected);
        m_s.checkKeys(keycodes, expected);
    }

    // Absolute moves land on the monitor under the point, and relative ones cross over.
    void secondMonitor()
    {
        const QVector<QRect> monitors = ProbeSession::monitors();
        if (monitors.size() < 2)
            QSKIP("the desktop has one monitor");
        if (qEnvironmentVariable("VELMORA_TEST_MUTTER_PIPEWIRE") != QLatin1String("1"))
            QSKIP("without PipeWire absolute moves are relative, found from a corner of one monitor");
        const QRect left = monitors.at(0), right = monitors.at(1);
        QVERIFY2(m_right.waitUntilMovesLand(right.topLeft()), qPrintable(m_right.m_events.join(" | ")));
        // The pointer enters a probe's surface with its position, or moves within it.
        const auto landsOn = [](ProbeSession& on, const QString& wanted) {
            QVERIFY2(QTest::qWaitFor(
                         [&] {
                             return on.m_events.contains("motion " + wanted) ||
                                    on.m_events.contains("enter " + wanted);
                         },
                         5000),
                     qPrintable(wanted + ": " + on.m_events.join(" | ")));
            on.m_events.clear();
        };
        m_s.m_events.clear();
        m_right.m_events.clear();
        m_s.send(ProbeSession::absolute(right.x() + 100, 300));
        landsOn(m_right, "100 300");
        // The far corner of the right monitor, which is the taller one.
        m_s.send(ProbeSession::absolute(right.right(), right.bottom()));
        landsOn(m_right, QStringLiteral("%1 %2").arg(right.width() - 1).arg(right.height() - 1));
        // Below the shorter monitor there is no screen: the nearest point of it.
        m_s.m_events.clear();
        if (left.height() < right.height()) {
            m_s.send(ProbeSession::absolute(100, right.bottom()));
            landsOn(m_s, QStringLiteral("100 %1").arg(left.height() - 1));
        }
        // Across the edge, relatively.
        m_s.send(ProbeSession::absolute(left.right() - 10, 100));
        landsOn(m_s, QStringLiteral("%1 100").arg(left.width() - 11));
        m_right.m_events.clear();
        m_s.send(R"({"command":"mousemove","params":{"dx":30,"dy":5}})");
        landsOn(m_right, "19 105");
        m_s.send(R"({"command":"mousemove","params":{"dx":-30,"dy":-5}})");
        landsOn(m_s, QStringLiteral("%1 100").arg(left.width() - 11));
        // Back on the left monitor for the tests after this one.
        m_s.send(ProbeSession::absolute(640, 360));
        landsOn(m_s, "640 360");
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
