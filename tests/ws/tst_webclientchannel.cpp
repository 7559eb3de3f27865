#include "WsTestSupport.h"
#include "web/HttpTestClient.h"

#include "web/HttpServer.h"
#include "web/WebClientChannel.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QWebSocket>

#include <memory>
#include <vector>

namespace {

const QString kToken = QStringLiteral("0123456789abcdef0123456789abcdef");

} // namespace

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
            // An echo, so that a test sees the framing work in both directions.
            connect(socket, &QWebSocket::textMessageReceived, socket, [socket](const QString& text) {
                socket->sendTextMessage(QStringLiteral("echo ") + text);
            });
            m_phones.emplace_back(socket);
        });
    }

    quint16 port() const { return m_http->port(); }

    // Sends a handshake on a raw socket and returns the answer's status (0: none).
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
        QTRY_COMPARE(m_phones.size(), std::size_t(1));
        phone.send(QStringLiteral("{\"command\":\"mousemove\"}"));
        QVERIFY(phone.waitMessages(1));
        QCOMPARE(phone.messages(), QStringList(QStringLiteral("echo {\"command\":\"mousemove\"}")));
        // Plain HTTP keeps working beside the channel.
        HttpTestClient plain;
        QVERIFY(plain.connectTo(port()));
        plain.send("GET /missing.txt HTTP/1.1\r\n\r\n");
        QCOMPARE(plain.next().status(), 404);
    }

    void handshakeInPiecesStillUpgrades()
    {
        // The HTTP server has read the head before handing the socket over; the handshake
        // must reach Qt WebSockets intact however it was cut.
        const QByteArray request = handshake("/ws?token=" + kToken.toLatin1());
        HttpTestClient client;
        QVERIFY(client.connectTo(port()));
        client.send(request.left(20));
        QTest::qWait(30);
        client.send(request.mid(20, 40));
        QTest::qWait(30);
        client.send(request.mid(60));
        QVERIFY(client.spinUntil([&] { return client.received().contains("\r\n\r\n"); }));
        QVERIFY2(client.received().startsWith("HTTP/1.1 101"), client.received().constData());
        QVERIFY(client.received().contains("s3pPLMBiTxaQ9kYGzzhZRbK+xOo=")); // the key's answer
        QTRY_COMPARE(m_phones.size(), std::size_t(1));
    }

    void badTokensAreRefusedBeforeTheUpgrade_data()
    {
        QTest::addColumn<QByteArray>("target");
        QTest::newRow("no token") << QByteArray("/ws");
        QTest::newRow("empty token") << QByteArray("/ws?token=");
        QTest::newRow("wrong token") << QByteArray("/ws?token=0123456789abcdef0123456789abcdee");
        QTest::newRow("prefix of the token") << QByteArray("/ws?token=0123456789abcdef");
        QTest::newRow("upper case") << QByteArray("/ws?token=0123456789ABCDEF0123456789ABCDEF");
        QTest::newRow("token in another key") << QByteArray("/ws?tok=0123456789abcdef0123456789abcdef");
    }
    void badTokensAreRefusedBeforeTheUpgrade()
    {
        QFETCH(QByteArray, target);
        RawExchange exchange;
        // A first frame sent along with the handshake must not be read either.
        QVERIFY(exchange.start(port(), handshake(target) + QByteArray("\x81\x85\x00\x00\x00\x00hello", 11)));
        const QByteArray response = exchange.finish();
        QCOMPARE(RawExchange::status(response), 401);
        const int bodyAt = response.indexOf("\r\n\r\n") + 4;
        QVERIFY(response.left(bodyAt).contains("Content-Type: application/json\r\n"));
        QVERIFY(response.left(bodyAt).contains("Content-Length: 53\r\n"));
        const QJsonObject body = QJsonDocument::fromJson(response.mid(bodyAt)).object();
        QCOMPARE(body.value(QStringLiteral("error")).toBool(), true);
        QCOMPARE(body.value(QStringLiteral("message")).toString(), QStringLiteral("Unauthorized"));
        QCOMPARE(exchange.socket().state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(m_phones.size(), std::size_t(0));
        // A browser sees the refusal as a failed handshake.
        WsPhone phone;
        QVERIFY(!phone.open(port(), QString::fromLatin1(target.mid(10))));
        QCOMPARE(m_phones.size(), std::size_t(0));
    }

    void repeatedFailuresAreSlowedDown()
    {
        AuthThrottle::Policy policy;
        policy.freeFailures = 2;
        policy.firstHoldMs = 250;
        policy.maxHoldMs = 500;
        makeChannel(policy);
        const QByteArray wrong = handshake("/ws?token=ffffffffffffffffffffffffffffffff");

        QElapsedTimer timer;
        timer.start();
        QCOMPARE(statusFor(wrong), 401);
        QCOMPARE(statusFor(wrong), 401);
        QVERIFY2(timer.elapsed() < 200, "the first failures cost nothing");

        timer.restart();
        QCOMPARE(statusFor(wrong), 401);
        QVERIFY2(timer.elapsed() >= 240, "the third attempt waits for the first hold");
        timer.restart();
        QCOMPARE(statusFor(wrong), 401);
        QVERIFY2(timer.elapsed() >= 490, "the hold doubles");

        // Guesses in parallel do not get around the hold: only a few wait, the rest are
        // turned away unread; the waiting ones are still answered after the hold.
        std::vector<std::unique_ptr<RawExchange>> clients;
        for (int i = 0; i < WebClientChannel::MaxHeldPerAddress + 2; ++i) {
            clients.push_back(std::make_unique<RawExchange>());
            QVERIFY(clients.back()->start(port(), wrong));
        }
        QTRY_COMPARE(m_channel->heldCount(), WebClientChannel::MaxHeldPerAddress);
        int tooMany = 0;
        int unauthorized = 0;
        for (auto& client : clients) {
            const int status = RawExchange::status(client->finish(3000));
            tooMany += status == 429 ? 1 : 0;
            unauthorized += status == 401 ? 1 : 0;
        }
        QCOMPARE(tooMany, 2);
        QCOMPARE(unauthorized, WebClientChannel::MaxHeldPerAddress);

        // The right token still gets in (after its hold), and the address starts afresh.
        WsPhone phone;
        QVERIFY(phone.open(port(), kToken));
        QCOMPARE(m_channel->throttle().failures(QStringLiteral("127.0.0.1"), 0), 0);
        timer.restart();
        QCOMPARE(statusFor(wrong), 401);
        QVERIFY(timer.elapsed() < 200);
    }

    void heldAttemptThatGoesAwayIsForgotten()
    {
        AuthThrottle::Policy policy;
        policy.freeFailures = 0;
        policy.firstHoldMs = 300;
        makeChannel(policy);
        {
            HttpTestClient client;
            QVERIFY(client.connectTo(port()));
            client.send(handshake("/ws?token=" + kToken.toLatin1()));
            QTRY_COMPARE(m_channel->heldCount(), 1);
        }
        QTRY_COMPARE(m_channel->heldCount(), 0);
        QTest::qWait(400); // the hold ends with nothing left to look at
        QCOMPARE(m_phones.size(), std::size_t(0));
    }

    void originMustBeThisServer()
    {
        const QByteArray target = "/ws?token=" + kToken.toLatin1();
        auto request = [&](const QByteArray& headers) {
            return handshake(target, headers)
                .replace("Host: 127.0.0.1\r\n", "Host: 127.0.0.1:" + QByteArray::number(port()) + "\r\n");
        };
        QCOMPARE(statusFor(request("Origin: http://evil.example\r\n")), 403);
        QCOMPARE(statusFor(request("Origin: http://127.0.0.1\r\n")), 403); // another port
        QCOMPARE(statusFor(request("Origin: null\r\n")), 403);
        QCOMPARE(m_channel->throttle().failures(QStringLiteral("127.0.0.1"), 0), 0);

        WsPhone samePage(QStringLiteral("http://127.0.0.1:%1").arg(port()));
        QVERIFY(samePage.open(port(), kToken));
        WsPhone noBrowser; // no Origin at all: the token alone decides
        QVERIFY(noBrowser.open(port(), kToken));
    }

    void withoutPhoneHandlerNothingIsUpgraded()
    {
        m_channel->setPhoneHandler(nullptr);
        QCOMPARE(statusFor(handshake("/ws?token=" + kToken.toLatin1())), 503);
        QCOMPARE(statusFor(handshake("/ws?token=bad")), 401);
    }

    void oversizedMessagesEndTheChannel()
    {
        WsPhone phone;
        QVERIFY(phone.open(port(), kToken));
        phone.send(QString(int(WebClientChannel::MaxMessageBytes) + 1, QLatin1Char('x')));
        QVERIFY(phone.waitClosed());
        QCOMPARE(phone.closeCode(), int(QWebSocketProtocol::CloseCodeTooMuchData));
    }

    void channelGoneBeforeTheServer()
    {
        m_channel.reset();
        HttpTestClient client;
        QVERIFY(client.connectTo(port()));
        client.send(handshake("/ws?token=" + kToken.toLatin1()));
        QVERIFY(client.waitClosed());
    }
};

QTEST_GUILESS_MAIN(tst_WebClientChannel)
#include "tst_webclientchannel.moc"
