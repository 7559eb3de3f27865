#include "RemoteTestSupport.h"

#include "platform/input/InputBackendFake.h"
#include "remote/InputSimulator.h"
#include "remote/PhoneNewcomers.h"
#include "remote/PhoneSession.h"
#include "remote/ProtocolGuard.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QThread>
#include <QTimer>

#include <climits>

#include <sys/socket.h>

using R = InputRecord;

// The command server over loopback TCP and its commands, on the recording input backend
// whose clocks only move when it sleeps: timings are exact and nothing really waits.
class tst_Server : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Server> m_server;
    InputBackendFake* m_fake = nullptr;
    QStringList m_events; // signals of the server, in order

    static QVector<R> move(int dx, int dy = 0) { return {R::mouse(R::MouseMove, dx, dy)}; }
    static R key(int vk, std::uint32_t flags) { return R::key(std::uint16_t(vk), 0, flags); }
    static R unit(int u, std::uint32_t up) { return R::key(0, std::uint16_t(u), R::Unicode | up); }
    static QByteArray moveLine(int dx)
    {
        return "{\"command\":\"mousemove\",\"params\":{\"dx\":" + QByteArray::number(dx) + "}}\n";
    }
    // Connects a phone and forgets the signals so far.
    bool attach(Phone& phone) { return phone.attach(*m_server) && (m_events.clear(), true); }

private slots:
    void init()
    {
        auto fake = std::make_unique<InputBackendFake>();
        m_fake = fake.get();
        m_server = std::make_unique<Server>(std::move(fake), nullptr);
        recordServerEvents(m_server.get(), this, &m_events);
        QVERIFY(m_server->start(0));
    }
    void cleanup() { m_server.reset(); } // also when a test failed half-way

    // The session alone, without a server or an input backend: what it hands on is exactly
    // the lines the phone sent, however they were cut into segments.
    void framingOverTcp()
    {
        LogCapture log;
        QByteArrayList messages;
        PhoneSession session([&messages](const QByteArray& message) { messages << message; }, nullptr, [] {});
        QSignalSpy gone(&session, &PhoneSession::clientDisconnected);
        QTcpServer listener;
        QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
        connect(&listener, &QTcpServer::newConnection, &session,
                [&] { session.takePhone(listener.nextPendingConnection()); });
        Phone phone;
        phone.socket().connectToHost(QHostAddress::LocalHost, listener.serverPort());
        QTRY_VERIFY(session.hasPhone());
        phone.send("{\"command\":\"mousemove\",\"params\":{\"dx\":1,"); // one message in two segments
        QTest::qWait(30);
        QVERIFY(messages.isEmpty());
        phone.send("\"dy\":2}}\n");
        QTRY_COMPARE(messages.size(), 1);
        // Several in one segment: a CR before the LF, an empty line, a line that is not an
        // object, and a line of exactly 1 MiB.
        const QByteArray exact =
            moveLine(4).chopped(1) + QByteArray(LineFramer::MaxLineBytes - moveLine(4).size() + 1, ' ');
        phone.send(moveLine(3).replace("\n", "\r\n") + "\n[1]\n" + exact + "\n");
        QTRY_COMPARE(messages.size(), 5);
        QCOMPARE(messages, (QByteArrayList{"{\"command\":\"mousemove\",\"params\":{\"dx\":1,\"dy\":2}}",
                                           moveLine(3).chopped(1) + "\r", "", "[1]", exact}));
        // A partial message that grows past 1 MiB without a line feed ends the connection.
        phone.send("{\"command\":\"mousem" + QByteArray(LineFramer::MaxLineBytes, ' '));
        QTRY_VERIFY(!phone.isConnected());
        QCOMPARE(gone.count(), 1);
        QCOMPARE(log.count(QStringLiteral("接收的消息超过1MiB仍无换行，关闭连接")), 1);
        QCOMPARE(messages.size(), 5);
    }

    void httpLines_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("http");
        const auto row = [](const char* line, bool http) {
            QTest::newRow(line) << QByteArray(line) << http;
        };
        row("POST / HTTP/1.1\r", true);
        row("GET /index.html?a=b HTTP/1.0", true);
        row("OPTIONS * HTTP/1.1\r", true);
        row("PRI * HTTP/2.0\r", true);
        row("M-SEARCH * HTTP/1.1", true);
        row("Host: 127.0.0.1:8888\r", true);
        row("host:127.0.0.1", true);
        row("ORIGIN: null\r", true);
        row("Content-Type: text/plain\r", true);
        row("Content-Length: 42", true);
        row("User-Agent: Mozilla/5.0 (X11; Linux x86_64)", true);
        row("Accept: text/html,*/*;q=0.8", true);
        row("Accept-Language: en-US", true);
        row("Sec-Fetch-Mode: navigate", true);
        row("Upgrade-Insecure-Requests: 1", true);
        row("Cookie:", true);
        // Commands and everything else a phone might send stay with the JSON parser.
        row("{\"command\":\"mousemove\",\"params\":{\"dx\":1}}", false);
        row(" {\"command\":\"keyinput\",\"params\":{\"text\":\"GET / HTTP/1.1\"}}", false);
        row("{\"Host\": \"x\"}", false);
        row("", false);
        row("\r", false);
        row("a=\r", false);
        row("GET /", false);
        row("GET  HTTP/1.1", false);
        row("POST / HTTP", false);
        row("Hello: world", false);
        row(" Host: x", false);
        row("Host : x", false);
        row("Hostname: x", false);
        row("Accept-", false);
    }
    void httpLines()
    {
        QFETCH(QByteArray, line);
        QFETCH(bool, http);
        QCOMPARE(looksLikeHttp(line), http);
    }

    // A web page makes the browser post command lines to this port: the connection is closed at
    // the first HTTP line and nothing after it runs, however the lines were queued.
    void httpConnectionRunsNothing_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("form post") << QStringLiteral("post");
        QTest::newRow("header after a command") << QStringLiteral("header");
        QTest::newRow("displaced while queued") << QStringLiteral("displaced");
    }
    void httpConnectionRunsNothing()
    {
        QFETCH(QString, how);
        LogCapture log;
        Phone phone, newcomer;
        QVERIFY(attach(phone));
        const QByteArray body = "a=\r\n" + moveLine(999).replace("\n", "\r\n");
        const QByteArray post = "POST / HTTP/1.1\r\nHost: 127.0.0.1:8888\r\nContent-Type: text/plain\r\n"
                                "Content-Length: " +
                                QByteArray::number(body.size()) + "\r\n\r\n" + body;
        QVector<R> expected;
        if (how == QLatin1String("post")) {
            phone.send(post);
        } else if (how == QLatin1String("header")) {
            phone.send(moveLine(1) + "Origin: http://example.com\r\n" + moveLine(999));
            expected = move(1);
        } else {
            m_fake->setSendHook([](const QVector<R>&) { QThread::msleep(2); });
            phone.send(QByteArray("{\"command\":\"mousewheel\",\"params\":{\"amount\":1}}\n").repeated(200) +
                       post);
            QVERIFY(newcomer.takeOver(*m_server, moveLine(7)));
        }
        QTRY_VERIFY(!phone.isConnected());
        if (how == QLatin1String("displaced")) {
            QTRY_VERIFY(!m_fake->records().isEmpty() && m_fake->records().last() == move(7).first());
            QVERIFY(!m_fake->records().contains(move(999).first()));
        } else {
            QCOMPARE(m_fake->records(), expected);
            QCOMPARE(m_events, QStringList{QStringLiteral("disconnected")});
        }
        QCOMPARE(
            log.count(QStringLiteral("Connection closed, it speaks HTTP, not the phone protocol: 127.0.0.1")),
            1);
        QCOMPARE(log.count(QStringLiteral("接收到无效的JSON数据")), 0);
        QVERIFY(m_server->isListening());
    }

    void commands_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QVector<R>>("expected");
        QTest::addColumn<QVector<int>>("sleeps");
        // JSON is written with single quotes here.
        const auto row = [](const char* name, const QByteArray& json, const QVector<R>& records,
                            QVector<int> sleeps = {}) {
            QTest::newRow(name) << QByteArray(json).replace('\'', '"') << records << sleeps;
        };
        const std::uint32_t up = R::KeyUp;
        const QVector<R> click{R::mouse(R::LeftDown), R::mouse(R::LeftUp)};
        row("fractional dx is 0", "{'command':'mousemove','params':{'dx':1.5,'dy':-2}}", move(0, -2));
        row("out of range or text is 0", "{'command':'mousemove','params':{'dx':3e10,'dy':'4'}}", move(0));
        row("absolute must be a boolean", "{'command':'mousemove','params':{'dx':5,'absolute':1}}", move(5));
        row("absolute saturates",
            "{'command':'mousemove','params':{'dx':2147483647,'dy':-2147483648,'absolute':true}}",
            {R::mouse(R::MouseMove | R::Absolute, INT_MAX, INT_MIN)});
        row("missing params", "{'command':'mousemove'}", move(0));
        row("carriage return before the line feed", "{'command':'mousemove','params':{'dx':3}}\r", move(3));
        row("empty line", "", {});
        row("not an object", "[1]", {});
        row("case-sensitive name", "{'command':'MouseMove','params':{'dx':1}}", {});
        row("click defaults to left single", "{'command':'mouseclick'}", click, {5, 15});
        row("double left", "{'command':'mouseclick','params':{'double':true}}", click + click,
            {5, 15, 350, 15});
        row("huge timestamp", "{'command':'mouseclick','params':{'button':'x','timestamp':1e300}}", {}, {5});
        row("press right", "{'command':'mousedown','params':{'button':'right'}}", {R::mouse(R::RightDown)});
        row("wheel wraps like 32-bit arithmetic", "{'command':'mousewheel','params':{'amount':2147483647}}",
            {R::mouse(R::Wheel, 0, 0, -120)});
        const std::uint32_t smooth = R::Wheel | R::WheelSmooth;
        row("finger wheel in 120ths", "{'command':'mousewheel','params':{'fine':-30,'amount':5}}",
            {R::mouse(smooth, 0, 0, -30)});
        row("the fingers lift", "{'command':'mousewheel','params':{'end':true}}",
            {R::mouse(smooth | R::WheelEnd, 0, 0, 0)});
        for (const char* bad :
             {"'fine':1.5", "'fine':12001", "'fine':'3'", "'fine':null", "'fine':1e300", "'end':1"})
            row(bad, "{'command':'mousewheel','params':{" + QByteArray(bad) + "}}", {});
        // Text first, one UTF-16 unit at a time; then the keys, of which only the low 16 bits count.
        row("text, then keys",
            "{'command':'keyinput','params':{'keycodes':[17,'x',65603],'text':'\\ud83d\\ude00'}}",
            {unit(0xD83D, 0), unit(0xD83D, up), unit(0xDE00, 0), unit(0xDE00, up), key(17, 0), key(0, 0),
             key(0x43, 0), key(0x43, up), key(0, up), key(17, up)},
            {5, 5});
        // Qt's parser leaks on repeated keys; they are refused, however spelled.
        row("repeated key", "{'command':'mousemove','params':{},'params':{'dx':1}}", {});
        row("repeated escaped key", "{'command':'mousemove','params':{'dx':1,'d\\u0078':2}}", {});
        row("same key in sibling objects and values",
            "{'command':'mousemove','params':{'dx':1,'s':'{\\'dx\\':2,','p':[{'dx':3},{'dx':4}]}}", move(1));
        QByteArray many = "{'command':'mousemove','params':{'dx':1";
        for (int i = 0; i < 1000; ++i) // past a handful of keys the check works on a set
            many += ",'k" + QByteArray::number(i) + "':0";
        row("many keys, one repeated", many + ",'\\u006b999':0}}", {});
        row("too deeply nested", QByteArray(100000, '['), {});
        // 32 keys at most in one combination.
        row("long combination is cut",
            "{'command':'keyinput','params':{'keycodes':[" + QByteArray("65,").repeated(99999) + "65]}}",
            QVector<R>(32, key(65, 0)) + QVector<R>(32, key(65, up)));
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

    // Left single clicks are spaced by the double-click time plus 50 ms, measured on the
    // monotonic clock: setting the wall clock back or forward changes nothing.
    void simulatorTimings()
    {
        InputSimulator* input = m_server->inputSimulator();
        input->leftClick(); // the first click is never delayed
        m_fake->advance(100 - 15);
        m_fake->setWallClock(m_fake->wallClockMs() - 3600 * 1000);
        input->leftClick(); // 100 ms after the last one started: 450 ms more
        m_fake->advance(100 - 15);
        m_fake->setWallClock(m_fake->wallClockMs() + 7200 * 1000);
        input->leftClick();
        m_fake->advance(600);
        input->leftClick(); // spaced enough: no pause
        m_fake->setDoubleClickTime(501);
        input->leftDoubleClick(); // a gap of 70 %, truncated; the spacing goes on from the last single click
        input->leftClick();
        QCOMPARE(m_fake->sleeps(), (QVector<int>{15, 450, 15, 450, 15, 15, 15, 350, 15, 156, 15}));
        m_fake->setPrimaryScreenSize(QSize(1, 1)); // must not divide by zero
        input->moveAbsolute(0, 1);
        QVERIFY(m_fake->records().last() == R::mouse(R::MouseMove | R::Absolute, 0, 65535));
    }

    void phonesComeAndGo()
    {
        LogCapture log;
        Phone first, second;
        QVERIFY(attach(first));
        first.send("{\"command\":\"mousemove\",\"params\":{\"dx\":5");
        QTest::qWait(50);
        // A newer phone displaces the older with its first command; the first phone's partial
        // message is gone, not joined to the second's bytes.
        QVERIFY(second.takeOver(*m_server, "}}\n" + moveLine(1)));
        QVERIFY(m_events.size() == 2 && m_events[0] == QLatin1String("disconnected") &&
                m_events[1].endsWith(QStringLiteral(":%1").arg(second.socket().localPort())));
        QTRY_VERIFY(!first.isConnected());
        // Lines sent right before closing still run; the unfinished one does not.
        second.send(moveLine(2) + moveLine(3).chopped(2));
        second.socket().disconnectFromHost();
        QTRY_COMPARE(m_events.value(2), QStringLiteral("disconnected"));
        QTRY_COMPARE(m_fake->records(), move(1) + move(2));
        QCOMPARE(log.count(QStringLiteral("接收到无效的JSON数据")), 1);
        // A reply after the phone left is logged but goes nowhere.
        m_server->sendReply(QStringLiteral("mediaexplore"), QJsonObject{{QStringLiteral("a"), 1}});
        QCOMPARE(log.count(QStringLiteral("{\"command\":\"mediaexplore\",\"params\":{\"a\":1}}\n")), 1);
    }

    // A new connection takes over from the phone only with its first command line: a web page
    // that makes the browser connect (an HTTP line), one that says nothing or nothing valid
    // leaves the phone alone. When the phone goes, the newest connection waiting takes over;
    // a crowd of them is bounded.
    void newcomerTakesOverOnlyWithACommand()
    {
        LogCapture log;
        Phone phone, page, idle, last;
        QVERIFY(attach(phone));
        QTcpSocket* browser = &page.socket();
        browser->connectToHost(QHostAddress::LocalHost, m_server->serverPort());
        QVERIFY(browser->waitForConnected(5000));
        page.send("POST / HTTP/1.1\r\nHost: 127.0.0.1:8888\r\n\r\n" + moveLine(9));
        QTRY_VERIFY(!page.isConnected());
        QCOMPARE(log.count(QStringLiteral("Connection closed, it speaks HTTP, not the phone protocol")), 1);
        idle.socket().connectToHost(QHostAddress::LocalHost, m_server->serverPort());
        QVERIFY(idle.socket().waitForConnected(5000));
        idle.send("hello\n[1]\n");
        QTRY_COMPARE(log.count(QStringLiteral("接收到无效的JSON数据")), 2);
        phone.send(moveLine(1));
        QTRY_COMPARE(m_fake->records(), move(1));
        QVERIFY(phone.isConnected() && m_events.isEmpty());

        QVERIFY(last.takeOver(*m_server, moveLine(2)));
        QCOMPARE(
            m_events,
            (QStringList{QStringLiteral("disconnected"),
                         QStringLiteral("connected:::ffff:127.0.0.1:%1").arg(last.socket().localPort())}));
        QTRY_VERIFY(!phone.isConnected());
        QTRY_COMPARE(m_fake->records(), move(1) + move(2));
        QVERIFY(idle.isConnected());

        last.socket().disconnectFromHost(); // the one still waiting takes over, as it is
        QTRY_COMPARE(m_events.size(), 4);
        QCOMPARE(m_events.last(),
                 QStringLiteral("connected:::ffff:127.0.0.1:%1").arg(idle.socket().localPort()));
        idle.send(moveLine(3));
        QTRY_COMPARE(m_fake->records(), move(1) + move(2) + move(3));

        std::vector<std::unique_ptr<QTcpSocket>> crowd;
        for (int i = 0; i <= PhoneNewcomers::MaxWaiting; ++i) {
            crowd.emplace_back(new QTcpSocket);
            crowd.back()->connectToHost(QHostAddress::LocalHost, m_server->serverPort());
            QVERIFY(crowd.back()->waitForConnected(5000));
            QTest::qWait(5);
        }
        QTRY_COMPARE(log.count(QStringLiteral("Too many new connections wait for their first command")), 1);
        QTRY_COMPARE(crowd.front()->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(crowd.back()->state(), QAbstractSocket::ConnectedState);
        QVERIFY(idle.isConnected());
    }

    // Messages keep their order, but a long run of slow ones lets the event loop breathe:
    // a timer started during the first one fires before the last.
    void floodKeepsEventLoopAlive()
    {
        Phone phone;
        QVERIFY(attach(phone));
        bool timerFired = false;
        QVector<bool> firedAtBatch;
        m_fake->setSendHook([&](const QVector<R>&) {
            if (firedAtBatch.isEmpty()) // the phone's socket as context: gone with this test
                QTimer::singleShot(0, &phone.socket(), [&] { timerFired = true; });
            firedAtBatch << timerFired;
            QThread::msleep(30);
        });
        QByteArray lines;
        QVector<R> expected;
        for (int i = 1; i <= 12; ++i)
            lines += moveLine(i), expected += move(i);
        phone.send(lines);
        QTRY_COMPARE(m_fake->records(), expected);
        QVERIFY(firedAtBatch.last());
    }

    // A burst that takes several time slices to run, then the phone goes: every complete
    // line still runs, in order, whether the phone closed, reset, or was displaced by a
    // newcomer (whose lines wait behind them, and who gets no reply meant for the other).
    // Only the trailing partial line is lost.
    void burstThenLeave_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("close") << QStringLiteral("close");
        QTest::newRow("reset") << QStringLiteral("reset");
        QTest::newRow("displaced") << QStringLiteral("displaced");
    }
    void burstThenLeave()
    {
        QFETCH(QString, how);
        LogCapture log;
        Phone phone, newcomer;
        QVERIFY(attach(phone));
        m_fake->setTypingPause(0); // each short text is typed whole: a newcomer finds none half-typed
        m_fake->setSendHook([](const QVector<R>&) { QThread::msleep(2); }); // real time passes
        QByteArray burst;
        QVector<R> expected;
        for (int i = 0; i < 120; ++i) {
            const QByteArray text = "k" + QByteArray::number(i);
            burst += "{\"command\":\"keyinput\",\"params\":{\"text\":\"" + text + "\"}}\n";
            for (const char c : text)
                expected << unit(c, 0) << unit(c, R::KeyUp);
            burst += "{\"command\":\"mouseclick\",\"params\":{\"button\":\"right\"}}\n";
            expected << R::mouse(R::RightDown) << R::mouse(R::RightUp);
        }
        burst += "{\"command\":\"mediaexplore\",\"params\":{\"path\":\"/\"}}\n";
        phone.send(burst + moveLine(1000).chopped(3)); // the last line never ends
        if (how == QLatin1String("close")) {
            phone.socket().disconnectFromHost();
        } else if (how == QLatin1String("reset")) {
            const linger hard{1, 0}; // closing with a zero linger time resets the connection
            QCOMPARE(::setsockopt(int(phone.socket().socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard,
                                  sizeof hard),
                     0);
            phone.socket().abort();
        } else {
            QVERIFY(newcomer.takeOver(*m_server, moveLine(7)));
            expected += move(7);
        }
        QTRY_COMPARE_WITH_TIMEOUT(m_fake->records().size(), expected.size(), 20000);
        QCOMPARE(m_fake->records(), expected);
        QCOMPARE(log.count(QStringLiteral("客户端已断开，丢弃未处理的数据字节数:")), 1);
        QCOMPARE(m_events.first(), QStringLiteral("disconnected"));
        QTest::qWait(20);
        QCOMPARE(newcomer.socket().bytesAvailable(), 0);
    }

    static QByteArray keyinputLine(const QString& text, const QJsonArray& keycodes = {})
    {
        QJsonObject params{{QStringLiteral("text"), text}};
        if (!keycodes.isEmpty())
            params.insert(QStringLiteral("keycodes"), keycodes);
        const QJsonObject command{{QStringLiteral("command"), QStringLiteral("keyinput")},
                                  {QStringLiteral("params"), params}};
        return QJsonDocument(command).toJson(QJsonDocument::Compact) + "\n";
    }
    static QVector<R> typed(const QString& text)
    {
        QVector<R> records;
        for (const QChar u : text)
            records << unit(u.unicode(), 0) << unit(u.unicode(), R::KeyUp);
        return records;
    }

    // 10 000 characters, a quarter of them outside the Basic Multilingual Plane, are typed in
    // full and in order, in parts with turns of the event loop between them (a timer keeps
    // firing). A pointer move sent with the text runs after its first part; more text and a
    // window closing wait for it, and what came after them waits for them. The text's key
    // combination follows its last unit.
    void longTextTypedInParts()
    {
        LogCapture log;
        Phone phone;
        QVERIFY(attach(phone));
        QString text;
        for (int i = 0; i < 10000; ++i)
            text += i % 4 == 3 ? QString::fromUtf8("\xF0\x9F\x98\x80") : QString(QChar('a' + i % 26));

        int ticks = 0;
        QTimer timer;
        timer.setInterval(0);
        connect(&timer, &QTimer::timeout, [&] { ++ticks; });
        timer.start();
        QVector<int> ticksAtBatch;
        m_fake->setSendHook([&](const QVector<R>&) { ticksAtBatch << ticks; });
        phone.send(keyinputLine(text, QJsonArray{17}) + moveLine(3) + keyinputLine(QStringLiteral("Z")) +
                   moveLine(4) + "{\"command\":\"closewindow\"}\n" + moveLine(5));
        const QVector<R> closeWindow{key(18, 0), key(115, 0), key(115, R::KeyUp), key(18, R::KeyUp)};
        const QVector<R> expected = typed(text) + QVector<R>{key(17, 0), key(17, R::KeyUp)} +
                                    typed(QStringLiteral("Z")) + move(4) + closeWindow + move(5);
        QTRY_COMPARE_WITH_TIMEOUT(m_fake->records().size(), expected.size() + 1, 30000);
        QVector<R> records = m_fake->records();
        const int moved = int(records.indexOf(move(3).constFirst()));
        QVERIFY2(moved >= 0 && moved < 40, qPrintable(QString::number(moved))); // after a part or two
        records.remove(moved);
        QCOMPARE(records, expected);
        // At 5 ms a unit, parts of 10 ms: thousands of parts, each followed by a turn.
        const QVector<InputBackendFake::Batch>& batches = m_fake->batches();
        const int lastUnit = int(text.size()); // one batch a unit, and one for the move
        QVERIFY2(ticksAtBatch.at(lastUnit) - ticksAtBatch.first() >= 4000,
                 qPrintable(QString::number(ticksAtBatch.at(lastUnit) - ticksAtBatch.first())));
        for (int i = 0; i < lastUnit; ++i) { // a surrogate pair is never parted by a turn
            if (QChar(batches.at(i).records.constFirst().scan).isHighSurrogate())
                QCOMPARE(ticksAtBatch.at(i + 1), ticksAtBatch.at(i));
        }
        QCOMPARE(log.count(QStringLiteral("输入文本(Unicode模式): ")), 2);
    }

    // A phone stops a runaway text by cancelling it, by another phone taking over, or by the
    // service stopping; what is not typed yet is dropped and counted in the log.
    void typingEnds_data()
    {
        QTest::addColumn<QString>("how");
        for (const char* how : {"cancel", "newcomer", "stop"})
            QTest::newRow(how) << QString::fromLatin1(how);
    }
    void typingEnds()
    {
        QFETCH(QString, how);
        LogCapture log;
        Phone phone, newcomer;
        QVERIFY(attach(phone));
        const QString text(1000, QLatin1Char('x'));
        m_fake->setSendHook([](const QVector<R>&) { QThread::msleep(2); }); // real time passes too
        phone.send(keyinputLine(text, QJsonArray{17}));
        QTRY_VERIFY(m_fake->records().size() >= 20);
        if (how == QLatin1String("cancel")) {
            phone.send("{\"command\":\"keyinput\",\"params\":{\"cancel\":true,\"text\":\"y\"}}\n" +
                       moveLine(1));
        } else if (how == QLatin1String("newcomer")) {
            QVERIFY(newcomer.takeOver(*m_server, moveLine(1)));
        } else {
            m_server->stop();
        }
        if (how != QLatin1String("stop"))
            QTRY_COMPARE(m_fake->records().constLast(), move(1).constFirst());
        QTest::qWait(50); // nothing of the text comes after
        const QVector<R> records = m_fake->records();
        const int typedUnits = (records.size() - (how == QLatin1String("stop") ? 0 : 1)) / 2;
        QVERIFY2(typedUnits < 600, qPrintable(QString::number(typedUnits)));
        QCOMPARE(records.mid(0, 2 * typedUnits), typed(text.left(typedUnits)));
        QCOMPARE(log.count(QStringLiteral("停止输入文本，丢弃未输入的字符数: %1").arg(1000 - typedUnits)), 1);
        QCOMPARE(log.count(QStringLiteral("输入文本(Unicode模式)")), 0);
    }

    // Whatever a phone pressed and did not release is released when it goes, however it goes,
    // once the lines it sent before going have run: a queued release is not doubled and a
    // queued press is not left held.
    void heldButtonsReleased_data()
    {
        QTest::addColumn<QString>("how");
        for (const char* how : {"close", "reset", "displaced", "overflow", "stop", "destroyed"})
            QTest::newRow(how) << QString::fromLatin1(how);
    }
    void heldButtonsReleased()
    {
        QFETCH(QString, how);
        Phone phone, newcomer;
        QVERIFY(attach(phone));
        QVector<R> records; // outlives the server and its backend
        m_fake->setSendHook([&records](const QVector<R>& batch) { records += batch; });
        const QByteArray drag =
            "{\"command\":\"mousedown\"}\n" + moveLine(1) + "{\"command\":\"mouseup\"}\n" +
            "{\"command\":\"mousedown\",\"params\":{\"button\":\"right\"}}\n" +
            "{\"command\":\"mousedown\",\"params\":{\"button\":\"middle\"}}\n" + moveLine(2);
        QVector<R> expected = {R::mouse(R::LeftDown),  move(1).constFirst(),    R::mouse(R::LeftUp),
                               R::mouse(R::RightDown), R::mouse(R::MiddleDown), move(2).constFirst()};
        phone.send(drag);
        if (how == QLatin1String("close")) {
            phone.socket().disconnectFromHost();
        } else if (how == QLatin1String("reset")) {
            const linger hard{1, 0};
            QCOMPARE(::setsockopt(int(phone.socket().socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard,
                                  sizeof hard),
                     0);
            phone.socket().abort();
        } else if (how == QLatin1String("displaced")) {
            QVERIFY(newcomer.takeOver(*m_server, "{\"command\":\"none\"}\n"));
        } else {
            QTRY_COMPARE(records, expected);
            if (how == QLatin1String("overflow"))
                phone.send(QByteArray(LineFramer::MaxLineBytes + 1, ' '));
            else if (how == QLatin1String("stop"))
                m_server->stop();
            else
                m_server.reset();
        }
        expected << R::mouse(R::RightUp) << R::mouse(R::MiddleUp);
        QTRY_COMPARE(records, expected);
        if (m_server) { // nothing more once the next phone has come and gone
            QVERIFY(m_server->isListening() || m_server->start(0));
            Phone next;
            QVERIFY(next.takeOver(*m_server, moveLine(3)));
            next.socket().disconnectFromHost();
            QTRY_COMPARE(records, expected + move(3));
            QTest::qWait(20);
            QCOMPARE(records, expected + move(3));
        }
    }

    // Typed text never reaches the log, whatever way it goes: the command line shows its length,
    // the simulator's line too, and the stand-in backend does not spell out the characters.
    void typedTextStaysOutOfTheLog()
    {
        LogCapture log;
        const QString secret = QStringLiteral("Tr0ub4dor&3-\u00e9\u4e2d");
        Phone phone;
        QVERIFY(attach(phone));
        phone.send(
            keyinputLine(secret, QJsonArray{13}) + "{\"command\":\"keyinput\",\"params\":{\"text\":\"" +
            secret.toUtf8() + "\",\"text\":\"x\"}}\n" + // refused whole for its repeated key
            "{\"command\":\"keyinput\",\"note\":\"" + secret.toUtf8() + "\",\"params\":{\"text\":7}}\n");
        QTRY_COMPARE(m_fake->records().size(), 2 * secret.size() + 2);
        const QByteArray display = qgetenv("DISPLAY");
        qunsetenv("DISPLAY");
        Server standIn(nullptr); // the stand-in backend logs every record
        qputenv("DISPLAY", display);
        standIn.handleMessage(keyinputLine(secret));
        QTRY_COMPARE(log.count(QStringLiteral("输入文本(Unicode模式):  14 个字符")), 2);

        for (const QString& part : {secret, secret.left(4), secret.mid(4, 4), QStringLiteral("0x0054")})
            QCOMPARE(log.count(part), 0);
        QCOMPARE(log.count(QStringLiteral("\"textLength\":14")), 2);
        QCOMPARE(log.count(QStringLiteral("{\"command\":\"keyinput\",\"params\":{\"textLength\":0}}")), 1);
        QCOMPARE(log.count(QStringLiteral("\"keycodes\":[13]")), 1);
    }

    // Without an X display (say, Wayland without XWayland) the service logs why and keeps
    // running on the logging stand-in.
    void fallsBackWithoutDisplay()
    {
        const QByteArray display = qgetenv("DISPLAY");
        qunsetenv("DISPLAY");
        LogCapture log;
        Server(nullptr).handleMessage(moveLine(1));
        qputenv("DISPLAY", display);
        QCOMPARE(log.count(QStringLiteral("cannot open the X display")), 1);
        QCOMPARE(log.count(QStringLiteral("input: mouse flags=0x0001 dx=1 dy=0 data=0")), 1);
    }

    void startAndStop()
    {
        Phone phone;
        QVERIFY(attach(phone));
        m_server->stop(); // statusChanged(false) only: no clientDisconnected
        QTRY_VERIFY(!phone.isConnected());
        QTcpServer other; // a port someone else holds: false, and no signal
        QVERIFY(other.listen(QHostAddress::Any, 0));
        QVERIFY(!m_server->start(other.serverPort()) && !m_server->isListening());
        QVERIFY(m_server->start(0));
        m_server.reset(); // the destructor stops a listening server
        QCOMPARE(m_events.join(' '), QStringLiteral("status:0 status:1 status:0"));
    }
};

QTEST_GUILESS_MAIN(tst_Server)
#include "tst_server.moc"
