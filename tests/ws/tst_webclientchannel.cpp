#include "WsTestSupport.h"

#include "web/HttpServer.h"
#include "web/WebClientChannel.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>

#include <memory>
#include <vector>

namespace {

const QString kToken = QStringLiteral("0123456789abcdef0123456789abcdef");

} // namespace

// The "/ws" upgrade behind the HTTP server: who gets in, who is refused, and how fast.
class tst_WebClientChannel : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<HttpServer> m_http;
    std::unique_ptr<WebClientChannel> m_channel;
    std::vector<std::unique_ptr<QWebSocket>> m_phones; // what the channel handed over

    void makeChannel(const AuthThrottle::Policy& policy = AuthThrottle::Policy())
    {
        m_channel = std::make_unique<WebClientChannel>([](const QString& token) { return token == kToken; },
                                                       policy, nullptr);
        m_channel->attachTo(m_http.get());
        m_channel->setPhoneHandler([this](QWebSocket* socket) {
            // An echo shows the framing working both ways.
            connect(socket, &QWebSocket::textMessageReceived, socket, [socket](const QString& text) {
                socket->sendTextMessage(QStringLiteral("echo ") + text);
            });
            m_phones.emplace_back(socket);
        });
    }

    quint16 port() const { return m_http->port(); }

    int statusFor(const QByteArray& request)
    {
        RawExchange exchange;
        return exchange.start(port(), request) ? RawExchange::status(exchange.finish()) : 0;
    }

private slots:
    void init()
    {
        m_http = std::make_unique<HttpServer>();
        QVERIFY(m_http->start(0));
        makeChannel();
    }
    void cleanup()
    {
        m_phones.clear();
        m_channel.reset();
        m_http.reset();
    }

    void theRightTokenOpensTheChannel()
    {
        WsPhone phone;
        QVERIFY(phone.open(port(), kToken));
        phone.send(QStringLiteral("{\"command\":\"mousemove\"}"));
        QVERIFY(phone.waitMessages(1));
        QCOMPARE(phone.messages(), QStringList(QStringLiteral("echo {\"command\":\"mousemove\"}")));

        // The HTTP server has read the head before the hand-off; however it was cut, the
        // handshake must reach Qt WebSockets whole.
        const QByteArray request = handshake("/ws?token=" + kToken.toLatin1());
        QTcpSocket raw;
        raw.connectToHost(QStringLiteral("127.0.0.1"), port());
        QVERIFY(raw.waitForConnected(5000));
        for (int at = 0; at < request.size(); at += 40) {
            raw.write(request.mid(at, 40));
            raw.flush();
            QTest::qWait(20);
        }
        QVERIFY(spinUntil([&] { return raw.bytesAvailable() > 0 && raw.peek(512).contains("\r\n\r\n"); }));
        const QByteArray answer = raw.readAll();
        QVERIFY2(answer.startsWith("HTTP/1.1 101"), answer.constData());
        QVERIFY(answer.contains("s3pPLMBiTxaQ9kYGzzhZRbK+xOo=")); // the key's proof
        QTRY_COMPARE(m_phones.size(), std::size_t(2));

        // Frames beyond the bound end the channel.
        phone.send(QString(int(WebClientChannel::MaxMessageBytes) + 1, QLatin1Char('x')));
        QVERIFY(phone.waitClosed());
        QCOMPARE(phone.closeCode(), int(QWebSocketProtocol::CloseCodeTooMuchData));
    }

    void badTokensAreRefusedBeforeTheUpgrade_data()
    {
        QTest::addColumn<QByteArray>("target");
        QTest::newRow("none") << QByteArray("/ws");
        QTest::newRow("empty") << QByteArray("/ws?token=");
        QTest::newRow("last digit") << QByteArray("/ws?token=0123456789abcdef0123456789abcdee");
        QTest::newRow("prefix") << QByteArray("/ws?token=0123456789abcdef");
        QTest::newRow("other key") << QByteArray("/ws?tok=0123456789abcdef0123456789abcdef");
    }
    void badTokensAreRefusedBeforeTheUpgrade()
    {
        QFETCH(QByteArray, target);
        RawExchange exchange;
        // A first frame sent along with the handshake is never read either.
        QVERIFY(exchange.start(port(), handshake(target) + QByteArray("\x81\x85\x00\x00\x00\x00hello", 11)));
        const QByteArray response = exchange.finish();
        QCOMPARE(RawExchange::status(response), 401);
        const int bodyAt = response.indexOf("\r\n\r\n") + 4;
        QVERIFY(response.left(bodyAt).contains("Content-Type: application/json\r\nContent-Length: 53\r\n"));
        QCOMPARE(QJsonDocument::fromJson(response.mid(bodyAt))
                     .object()
                     .value(QStringLiteral("message"))
                     .toString(),
                 QStringLiteral("Unauthorized"));
        QCOMPARE(m_phones.size(), std::size_t(0));
    }

    void repeatedFailuresAreSlowedDown()
    {
        AuthThrottle::Policy policy;
        policy.freeFailures = 2;
        policy.firstHoldMs = 300;
        policy.maxHoldMs = 600;
        makeChannel(policy);
        const QByteArray wrong = handshake("/ws?token=ffffffffffffffffffffffffffffffff");
        auto timedStatus = [&](qint64* elapsed) {
            QElapsedTimer timer;
            timer.start();
            const int status = statusFor(wrong);
            *elapsed = timer.elapsed();
            return status;
        };

        // The first failures cost nothing; then each attempt waits, and the wait doubles.
        const QList<qint64> atLeast{0, 0, 300, 600};
        for (int i = 0; i < atLeast.size(); ++i) {
            qint64 elapsed = 0;
            QCOMPARE(timedStatus(&elapsed), 401);
            QVERIFY2(atLeast.at(i) ? elapsed >= atLeast.at(i) - 10 : elapsed < 290,
                     qPrintable(QString::number(elapsed)));
        }

        // Guessing in parallel does not get around the hold: a few wait, the rest are
        // turned away unread.
        std::vector<std::unique_ptr<RawExchange>> guesses;
        for (int i = 0; i < WebClientChannel::MaxHeldPerAddress + 2; ++i) {
            guesses.push_back(std::make_unique<RawExchange>());
            QVERIFY(guesses.back()->start(port(), wrong));
        }
        QTRY_COMPARE(m_channel->heldCount(), WebClientChannel::MaxHeldPerAddress);
        QMap<int, int> statuses;
        for (auto& guess : guesses)
            ++statuses[RawExchange::status(guess->finish())];
        QCOMPARE(statuses, (QMap<int, int>{{401, WebClientChannel::MaxHeldPerAddress}, {429, 2}}));

        // The right token still gets in, after its wait, and the address starts afresh.
        WsPhone phone;
        QVERIFY(phone.open(port(), kToken));
        qint64 elapsed = 0;
        QCOMPARE(timedStatus(&elapsed), 401);
        QVERIFY(elapsed < 290);
    }

    void throttleForgetsQuietAddressesAndStaysBounded()
    {
        AuthThrottle::Policy policy;
        policy.maxAddresses = 4;
        AuthThrottle throttle(policy); // 3 free failures, forgotten after a quiet minute
        const QString a = QStringLiteral("10.0.0.0");
        for (int i = 0; i < 3; ++i)
            throttle.recordFailure(a, 100);
        QCOMPARE(throttle.holdFor(a, 100 + 60000), 1000);
        QCOMPARE(throttle.holdFor(a, 101 + 60000), 0);
        throttle.recordFailure(a, 101 + 60000); // counts from one again
        QCOMPARE(throttle.failures(a, 101 + 60000), 1);

        for (int i = 1; i < 4; ++i)
            throttle.recordFailure(QStringLiteral("10.0.0.%1").arg(i), 60000 + i);
        throttle.recordFailure(QStringLiteral("10.0.0.9"), 60200); // the stalest (10.0.0.1) makes room
        QCOMPARE(throttle.size(), 4);
        QCOMPARE(throttle.failures(QStringLiteral("10.0.0.1"), 60200), 0);
        QCOMPARE(throttle.failures(a, 60200), 1);
        for (int i = 0; i < 1000; ++i)
            throttle.recordFailure(QStringLiteral("10.1.%1.%2").arg(i / 256).arg(i % 256), 70000 + i);
        QCOMPARE(throttle.size(), 4);
    }

    void otherOriginsAndMissingHandlerAreRefused()
    {
        const QByteArray target = "/ws?token=" + kToken.toLatin1();
        const QByteArray host = "Host: 127.0.0.1:" + QByteArray::number(port()) + "\r\n";
        for (const QByteArray origin : {"http://evil.example", "http://127.0.0.1", "null"})
            QCOMPARE(
                statusFor(
                    handshake(target, "Origin: " + origin + "\r\n").replace("Host: 127.0.0.1\r\n", host)),
                403);
        QCOMPARE(m_channel->throttle().failures(QStringLiteral("127.0.0.1"), 0), 0); // not a guess
        WsPhone samePage(QStringLiteral("http://127.0.0.1:%1").arg(port()));
        QVERIFY(samePage.open(port(), kToken));

        m_channel->setPhoneHandler(nullptr);
        QCOMPARE(statusFor(handshake(target)), 503);
    }
};

QTEST_GUILESS_MAIN(tst_WebClientChannel)
#include "tst_webclientchannel.moc"
