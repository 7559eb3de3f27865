#include "RemoteTestSupport.h"

#include "platform/InputBackendFake.h"
#include "remote/InputSimulator.h"
#include "remote/Server.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTcpServer>
#include <QThread>
#include <QTimer>

using R = InputRecord;

class tst_Server : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Server> m_server;
    InputBackendFake* m_fake = nullptr;
    QStringList m_events; // signals of the server, in order

    void startServer()
    {
        auto fake = std::make_unique<InputBackendFake>();
        m_fake = fake.get();
        m_server = std::make_unique<Server>(std::move(fake), nullptr);
        connect(m_server.get(), &Server::statusChanged, this,
                [this](bool running) { m_events << QStringLiteral("status:%1").arg(running); });
        connect(m_server.get(), &Server::clientConnected, this,
                [this](const QString& info) { m_events << QStringLiteral("connected:") + info; });
        connect(m_server.get(), &Server::clientDisconnected, this,
                [this] { m_events << QStringLiteral("disconnected"); });
        QVERIFY(m_server->start(0));
        QVERIFY(m_server->serverPort() != 0);
        m_events.clear();
    }

    // Connects a phone and waits until the server has taken it.
    bool attach(Phone& phone)
    {
        QSignalSpy connected(m_server.get(), &Server::clientConnected);
        return phone.connectTo(m_server->serverPort()) && (connected.count() > 0 || connected.wait(5000));
    }

    static QVector<R> move(int dx, int dy) { return {R::mouse(R::MouseMove, dx, dy)}; }

private slots:
    void init()
    {
        m_events.clear();
        startServer();
    }
    void cleanup() { m_server.reset(); }

    void framingOverTcp()
    {
        LogCapture log;
        Phone phone;
        QVERIFY(attach(phone));
        // One message in three segments.
        phone.send("{\"command\":\"mouse");
        QTest::qWait(30);
        phone.send("move\",\"params\":{\"dx\":1,");
        QTest::qWait(30);
        QCOMPARE(m_fake->batchCount(), 0);
        phone.send("\"dy\":2}}\n");
        QTRY_COMPARE(m_fake->batchCount(), 1);
        // Several messages in one segment, a CR before the LF, an empty line, a line that is
        // not an object, and a partial message left for later.
        phone.send("{\"command\":\"mousemove\",\"params\":{\"dx\":3}}\r\n\n[1]\n"
                   "{\"command\":\"mousemove\",\"params\":{\"dy\":4}}\n{\"command\":\"mousem");
        QTRY_COMPARE(m_fake->batchCount(), 3);
        QCOMPARE(m_fake->records(), move(1, 2) + move(3, 0) + move(0, 4));
        QCOMPARE(log.count(QStringLiteral("接收到无效的JSON数据")), 2);
        QCOMPARE(log.count(QStringLiteral("Receive => ")), 3);
        QVERIFY(phone.isConnected());
        QCOMPARE(m_events.size(), 1);                 // connected, and nothing since
        QCOMPARE(phone.socket().bytesAvailable(), 0); // nothing is ever acknowledged
    }

    void commands_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QVector<R>>("expected");
        QTest::addColumn<QVector<int>>("sleeps");
        // JSON is written with single quotes here.
        const auto row = [](const char* name, const char* json, const QVector<R>& records,
                            QVector<int> sleeps = {}) {
            QTest::newRow(name) << QByteArray(json).replace('\'', '"') << records << sleeps;
        };
        const auto key = [](int vk, bool up) {
            return R::key(std::uint16_t(vk), 0, up ? R::KeyUp : 0);
        };
        const QVector<R> click{R::mouse(R::LeftDown), R::mouse(R::LeftUp)};
        row("fractional dx is 0", "{'command':'mousemove','params':{'dx':1.5,'dy':-2}}", move(0, -2));
        row("absolute must be a boolean", "{'command':'mousemove','params':{'dx':5,'dy':6,'absolute':1}}",
            move(5, 6));
        row("absolute", "{'command':'mousemove','params':{'dx':1919,'absolute':true}}",
            {R::mouse(R::MouseMove | R::Absolute, 65535, 0)});
        row("out of range dx is 0", "{'command':'mousemove','params':{'dx':3e10,'dy':'4'}}", move(0, 0));
        row("missing params", "{'command':'mousemove'}", move(0, 0));
        row("case-sensitive name", "{'command':'MouseMove','params':{'dx':1}}", {});
        row("command not a string", "{'command':1}", {});
        row("click defaults to left single", "{'command':'mouseclick'}", click, {5, 15});
        row("double right is a single right",
            "{'command':'mouseclick','params':{'button':'right','double':true}}",
            {R::mouse(R::RightDown), R::mouse(R::RightUp)}, {5, 15});
        row("double left", "{'command':'mouseclick','params':{'double':true}}", click + click,
            {5, 15, 350, 15});
        row("unknown button", "{'command':'mouseclick','params':{'button':'Left'}}", {}, {5});
        row("up without down", "{'command':'mouseup'}", {R::mouse(R::LeftUp)});
        row("wheel of zero", "{'command':'mousewheel','params':{'amount':0}}", {R::mouse(R::Wheel, 0, 0, 0)});
        row("text, then keys", "{'command':'keyinput','params':{'keycodes':[17,'x',65.5],'text':'\\u00e9'}}",
            {R::key(0, 0xE9, R::Unicode), R::key(0, 0xE9, R::Unicode | R::KeyUp), key(17, false),
             key(0, false), key(0, false), key(0, true), key(0, true), key(17, true)},
            {5});
        row("no text, no keys", "{'command':'keyinput','params':{'text':3}}", {});
        row("close window", "{'command':'closewindow','params':{'x':1}}",
            {key(18, false), key(115, false), key(115, true), key(18, true)});
        row("repeated key", "{'command':'mousemove','params':{},'params':{'dx':1}}", {});
        QTest::newRow("too deeply nested") << QByteArray(100000, '[') << QVector<R>{} << QVector<int>{};
    }
    void commands()
    {
        QFETCH(QByteArray, line);
        QFETCH(QVector<R>, expected);
        QFETCH(QVector<int>, sleeps);
        m_server->handleMessage(line);
        QCOMPARE(m_fake->records(), expected);
        QCOMPARE(m_fake->sleeps(), sleeps);
    }

    void clickLogs()
    {
        LogCapture log;
        QSignalSpy messages(m_server.get(), &Server::logMessage);
        m_server->handleMessage(R"({"command":"mouseclick"})");
        QVERIFY(log.contains(QStringLiteral("收到单击命令，按钮: left 时间戳: 未提供 时间差: 0 ms")));
        const qint64 ahead = m_fake->wallClockMs() + 250;
        m_server->handleMessage(
            QByteArray(R"({"command":"mouseclick","params":{"button":"x","double":true,"timestamp":)") +
            QByteArray::number(ahead) + ".9}}");
        QVERIFY(log.contains(QStringLiteral("收到双击命令，按钮: x 时间戳: %1 时间差: -250 ms").arg(ahead)));
        QCOMPARE(messages.count(), 2);
        QCOMPARE(messages.at(1).at(0).toString(), QStringLiteral("收到双击命令: x (时间差: -250ms)"));
        // A timestamp beyond any 64-bit value must not crash.
        m_server->handleMessage(R"({"command":"mouseclick","params":{"button":"x","timestamp":1e300}})");
        QCOMPARE(messages.count(), 3);
    }

    void longTextIsCut()
    {
        QString text(5000, QLatin1Char('a'));
        text[4095] = QChar(0xD83D); // a pair across the cut is not split
        text[4096] = QChar(0xDE00);
        QJsonObject params{{QStringLiteral("text"), text}};
        m_server->handleCommand(QJsonObject{{QStringLiteral("command"), QStringLiteral("keyinput")},
                                            {QStringLiteral("params"), params}});
        QCOMPARE(m_fake->batchCount(), 4095);
    }

    void newerPhoneDisplacesOlder()
    {
        LogCapture log;
        Phone first;
        QVERIFY(attach(first));
        first.send(R"({"command":"mousemove","params":{"dx":5,"dy":6)");
        QTest::qWait(50);
        m_events.clear();

        Phone second;
        QVERIFY(attach(second));
        QCOMPARE(m_events.size(), 2);
        QCOMPARE(m_events[0], QStringLiteral("disconnected"));
        QVERIFY(m_events[1].startsWith(QStringLiteral("connected:")));
        QVERIFY(m_events[1].endsWith(QStringLiteral(":%1").arg(second.socket().localPort())));
        QVERIFY(log.contains(QStringLiteral("接收到新连接请求，关闭旧连接并接受新连接")));
        QTRY_VERIFY(!first.isConnected());
        QCOMPARE(first.socket().bytesAvailable(), 0);

        // The first phone's partial message is gone: it is not joined to the second's bytes.
        second.send("}}\n");
        QTRY_COMPARE(log.count(QStringLiteral("接收到无效的JSON数据")), 1);
        second.send(R"({"command":"mousemove","params":{"dx":7}})"
                    "\n");
        QTRY_COMPARE(m_fake->batchCount(), 1);
        QCOMPARE(m_fake->records(), move(7, 0));
        QCOMPARE(m_events.size(), 2);
    }

    void phoneLeaving()
    {
        Phone phone;
        QVERIFY(attach(phone));
        m_events.clear();
        // Lines sent right before closing still run; the unfinished one does not.
        phone.send(R"({"command":"mousemove","params":{"dx":1}})"
                   "\n"
                   R"({"command":"mousemove","params":{"dx":2}})"
                   "\n"
                   R"({"command":"mousemove","params":{"dx":3})");
        phone.socket().disconnectFromHost();
        QTRY_COMPARE(m_events, QStringList{QStringLiteral("disconnected")});
        QCOMPARE(m_fake->records(), move(1, 0) + move(2, 0));

        // A reply after the phone left is logged but goes nowhere.
        LogCapture log;
        m_server->sendReply(QStringLiteral("mediaexplore"), QJsonObject{{QStringLiteral("a"), 1}});
        QVERIFY(log.contains(QStringLiteral("{\"command\":\"mediaexplore\",\"params\":{\"a\":1}}\n")));

        // The next phone works as the first did.
        Phone next;
        QVERIFY(attach(next));
        next.send(R"({"command":"mousemove","params":{"dx":9}})"
                  "\n");
        QTRY_COMPARE(m_fake->batchCount(), 3);
    }

    void oversizedLineEndsConnection()
    {
        LogCapture log;
        Phone phone;
        QVERIFY(attach(phone));
        m_events.clear();
        // A line of exactly the limit is fine.
        QByteArray exact = R"({"command":"mousemove","params":{"dx":4}})";
        exact += QByteArray(LineFramer::MaxLineBytes - exact.size(), ' ');
        phone.send(exact + "\n");
        QTRY_COMPARE(m_fake->batchCount(), 1);
        // One byte more, with no line feed in sight, ends the connection.
        phone.send(QByteArray(LineFramer::MaxLineBytes + 1, ' '));
        QTRY_VERIFY(!phone.isConnected());
        QCOMPARE(m_events, QStringList{QStringLiteral("disconnected")});
        QVERIFY(log.contains(QStringLiteral("接收的消息超过1MiB仍无换行，关闭连接")));
        QVERIFY(m_server->isListening());
    }

    // Messages keep their order, but a long run of slow ones lets the event loop breathe.
    void floodKeepsEventLoopAlive()
    {
        m_fake->setSendHook([](const QVector<R>&) { QThread::msleep(30); });
        Phone phone;
        QVERIFY(attach(phone));
        QByteArray lines;
        for (int i = 1; i <= 12; ++i)
            lines += QByteArray(R"({"command":"mousemove","params":{"dx":)") + QByteArray::number(i) + "}}\n";
        qint64 seenByTimer = -1;
        QTimer timer;
        connect(&timer, &QTimer::timeout, this, [&] {
            if (seenByTimer < 0 && m_fake->batchCount() > 0)
                seenByTimer = m_fake->batchCount();
        });
        timer.start(0);
        phone.send(lines);
        QTRY_COMPARE(m_fake->batchCount(), 12);
        QVERIFY2(seenByTimer > 0 && seenByTimer < 12, qPrintable(QString::number(seenByTimer)));
        QVector<R> expected;
        for (int i = 1; i <= 12; ++i)
            expected += move(i, 0);
        QCOMPARE(m_fake->records(), expected);
    }

    // Without an X display (say, Wayland without XWayland) the service logs why and keeps
    // running on the logging stand-in.
    void fallsBackWithoutDisplay()
    {
        const QByteArray display = qgetenv("DISPLAY");
        qunsetenv("DISPLAY");
        {
            LogCapture log;
            Server server(nullptr);
            qputenv("DISPLAY", display);
            QVERIFY(log.contains(QStringLiteral("cannot open the X display")));
            server.handleMessage(R"({"command":"mousemove","params":{"dx":1}})");
            QVERIFY(log.contains(QStringLiteral("input: mouse flags=0x0001 dx=1 dy=0 data=0")));
        }
        if (display.isEmpty())
            qunsetenv("DISPLAY");
    }

    void startAndStop()
    {
        QSignalSpy status(m_server.get(), &Server::statusChanged);
        QVERIFY(m_server->start(0)); // already listening: nothing happens
        QCOMPARE(status.count(), 0);

        Phone phone;
        QVERIFY(attach(phone));
        m_events.clear();
        m_server->stop();
        QCOMPARE(m_events, QStringList{QStringLiteral("status:0")}); // no clientDisconnected
        QTRY_VERIFY(!phone.isConnected());
        m_server->stop();
        QCOMPARE(m_events.size(), 1);

        // A port someone else holds: false, and no signal.
        QTcpServer other;
        QVERIFY(other.listen(QHostAddress::Any, 0));
        LogCapture log;
        QVERIFY(!m_server->start(other.serverPort()));
        QVERIFY(!m_server->isListening());
        QCOMPARE(m_events.size(), 1);
        QVERIFY(log.contains(QStringLiteral("服务器启动失败:")));

        QVERIFY(m_server->start(0));
        QCOMPARE(m_events.last(), QStringLiteral("status:1"));
        QVERIFY(log.contains(QStringLiteral("服务器已启动，监听端口: 0")));
        // The destructor stops a listening server.
        m_server.reset();
        QCOMPARE(m_events.last(), QStringLiteral("status:0"));
    }
};

QTEST_GUILESS_MAIN(tst_Server)
#include "tst_server.moc"
