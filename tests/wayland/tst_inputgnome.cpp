#include "remote/RemoteTestSupport.h"

#include "platform/InputBackendMutter.h"
#include "platform/InputBackendStatus.h"
#include "remote/InputSimulator.h"

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

// Phone messages through the command server drive a real headless GNOME Mutter through its own
// remote-desktop interface; our Wayland client on that Mutter reports what really arrived.
class tst_InputGnome : public QObject
{
    Q_OBJECT

private:
    Phone m_phone;
    Server* m_server = nullptr;
    QProcess m_probe;
    QStringList m_events;
    QSize m_size{1280, 720};

    void send(const QByteArray& message) { m_phone.send(message + '\n'); }
    static QByteArray absolute(int x, int y)
    {
        return R"({"command":"mousemove","params":{"absolute":true,"dx":)" + QByteArray::number(x) +
               ",\"dy\":" + QByteArray::number(y) + "}}";
    }
    // The probe's lines with one of `prefixes`, waiting until `count` came and, when given,
    // `last` among them (a move may arrive in steps, the final one later on a loaded machine),
    // or 5 s passed, and a moment longer for any that should not come.
    QStringList collect(const QStringList& prefixes, int count, const QString& last = QString())
    {
        QStringList got;
        QElapsedTimer timer;
        timer.start();
        const auto take = [&] {
            for (const QString& line : qAsConst(m_events)) {
                for (const QString& prefix : prefixes) {
                    if (line.startsWith(prefix + QLatin1Char(' '))) {
                        got << line;
                        break;
                    }
                }
            }
            m_events.clear();
        };
        while ((got.size() < count || (!last.isEmpty() && !got.contains(last))) && timer.elapsed() < 5000) {
            QTest::qWait(10);
            take();
        }
        QTest::qWait(100);
        take();
        return got;
    }
    QString typed() const
    {
        QByteArray bytes;
        for (const QString& line : m_events) {
            if (line.startsWith(QLatin1String("text ")))
                bytes += QByteArray::fromHex(line.mid(5).toLatin1());
        }
        return QString::fromUtf8(bytes);
    }

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
        surroundings.screens = [this] {
            return QVector<QRect>{QRect(QPoint(0, 0), m_size)};
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
        QVERIFY(m_server->start(0) && m_phone.attach(*m_server));

        connect(&m_probe, &QProcess::readyReadStandardOutput, this, [this] {
            while (m_probe.canReadLine())
                m_events << QString::fromUtf8(m_probe.readLine()).trimmed();
        });
        m_probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_probe.start(QStringLiteral(WAYLAND_PROBE), QStringList());
        QVERIFY(m_probe.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(!m_events.filter(QStringLiteral("ready")).isEmpty(), 10000);
        // The pointer enters the fullscreen surface with the first move.
        send(absolute(640, 360));
        QTRY_VERIFY_WITH_TIMEOUT(m_events.contains(QStringLiteral("motion 640 360")) ||
                                     m_events.contains(QStringLiteral("enter 640 360")),
                                 5000);
        qInfo().noquote() << "probe:" << m_events.join(QLatin1String(" | "));
        // Mutter zooms a new window in from its centre: until that ends, positions inside the
        // surface come out scaled (a move to 100, 200 lands on 97, 199). Moves away from the
        // centre land exactly once it is over.
        QElapsedTimer opening;
        opening.start();
        bool settled = false;
        for (int i = 0; !settled && opening.elapsed() < 5000; ++i) {
            m_events.clear();
            send(absolute(100 + i % 2, 100));
            const QString wanted = QStringLiteral("motion %1 100").arg(100 + i % 2);
            settled = QTest::qWaitFor([&] { return m_events.contains(wanted); }, 100);
        }
        QVERIFY2(settled, qPrintable(m_events.join(QLatin1String(" | "))));
        m_events.clear();
    }

    void cleanupTestCase()
    {
        if (m_probe.state() != QProcess::NotRunning) {
            m_probe.kill();
            m_probe.waitForFinished();
        }
        delete m_server;
        m_server = nullptr;
    }

    void pointer_data()
    {
        QTest::addColumn<QByteArrayList>("messages");
        QTest::addColumn<QStringList>("expected");
        // Through a stream absolute moves go straight there; without one they are found from
        // the bottom-right corner, and the probe sees only where the pointer ends up.
        QTest::newRow("absolute") << QByteArrayList{absolute(100, 200)} << QStringList{"motion 100 200"};
        QTest::newRow("relative") << QByteArrayList{absolute(300, 300),
                                                    R"({"command":"mousemove","params":{"dx":25,"dy":-7}})"}
                                  << QStringList{"motion 300 300", "motion 325 293"};
        QTest::newRow("click") << QByteArrayList{R"({"command":"mouseclick"})"}
                               << QStringList{"button 272 1", "button 272 0"};
        QTest::newRow("double click")
            << QByteArrayList{R"({"command":"mouseclick","params":{"double":true}})"}
            << QStringList{"button 272 1", "button 272 0", "button 272 1", "button 272 0"};
        // One notch away from the user: one step up.
        QTest::newRow("wheel notch") << QByteArrayList{R"({"command":"mousewheel","params":{"amount":1}})"}
                                     << QStringList{"discrete 0 -1"};
    }
    void pointer()
    {
        QFETCH(QByteArrayList, messages);
        QFETCH(QStringList, expected);
        m_events.clear();
        for (const QByteArray& m : messages)
            send(m);
        const QStringList wantedMoves = expected.filter(QStringLiteral("motion "));
        QStringList got = collect({"motion", "button", "discrete"}, expected.size(),
                                  wantedMoves.isEmpty() ? QString() : wantedMoves.constLast());
        // Moves on the way (the push into the corner) may show; where the pointer ends counts.
        QStringList moves = got.filter(QStringLiteral("motion "));
        QStringList rest = got;
        rest.erase(std::remove_if(rest.begin(), rest.end(),
                                  [](const QString& l) { return l.startsWith(QLatin1String("motion ")); }),
                   rest.end());
        QStringList wantedRest = expected;
        wantedRest.erase(
            std::remove_if(wantedRest.begin(), wantedRest.end(),
                           [](const QString& l) { return l.startsWith(QLatin1String("motion ")); }),
            wantedRest.end());
        QCOMPARE(rest.join(QLatin1String(" | ")), wantedRest.join(QLatin1String(" | ")));
        for (const QString& move : wantedMoves)
            QVERIFY2(moves.contains(move), qPrintable(moves.join(QLatin1String(" | "))));
        if (!wantedMoves.isEmpty())
            QCOMPARE(moves.constLast(), wantedMoves.constLast());
    }

    void keyCombination()
    {
        m_events.clear();
        send(R"({"command":"keyinput","params":{"keycodes":[17,67]}})");
        const QStringList keys = collect({"key"}, 4);
        QCOMPARE(keys.join(QLatin1String(" | ")),
                 QStringLiteral("key Control_L 1 0 | key c 1 4 | key c 0 4 | key Control_L 0 4"));
    }

    void typesText()
    {
        m_events.clear();
        const QString text = QString::fromUtf8("Hello, wörld 世界 😀\n");
        send(R"({"command":"keyinput","params":)" +
             QJsonDocument(QJsonObject{{"text", text}}).toJson(QJsonDocument::Compact) + "}");
        QTRY_VERIFY_WITH_TIMEOUT(typed().endsWith(QLatin1Char('\n')), 5000);
        QTest::qWait(100);
        // Mutter types a keysym only where a key of the layout (US here) has it, so ö, 世, 界
        // and 😀 are dropped; everything else arrives in order.
        qInfo().noquote() << "typed on Mutter:" << typed();
        QCOMPARE(typed(), QStringLiteral("Hello, wrld  \n"));
    }
};

QTEST_GUILESS_MAIN(tst_InputGnome)
#include "tst_inputgnome.moc"
