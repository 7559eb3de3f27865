#include "web/LoopbackClient.h"

#include "platform/InputBackendFake.h"
#include "remote/Server.h"
#include "support/LogCapture.h"
#include "web/HttpServer.h"
#include "web/WebClientChannel.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageAuthenticationCode>
#include <QWebSocket>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

const QString kToken = QStringLiteral("0123456789abcdef0123456789abcdef");

QString move(int dx)
{
    return QStringLiteral("{\"command\":\"mousemove\",\"params\":{\"dx\":%1}}").arg(dx);
}
InputRecord moved(int dx)
{
    return InputRecord::mouse(InputRecord::MouseMove, dx, 0);
}

// A browser phone on ws://127.0.0.1:<port>/ws, recording what comes back. It answers the
// challenge with `token` (or with `fixedAnswer` when set), and counts as joined on "paired".
struct WsPhone : QWebSocket
{
    QStringList messages;
    QByteArray challenge; // the last one received
    QString token = kToken;
    QString fixedAnswer;
    bool paired = false;
    int code = -1; // the close code, once closed

    explicit WsPhone(const QString& origin = QString())
        : QWebSocket(origin)
    {
        connect(this, &QWebSocket::textMessageReceived, [this](const QString& m) {
            const QJsonObject object = QJsonDocument::fromJson(m.toUtf8()).object();
            const QString command = object.value(QLatin1String("command")).toString();
            const QJsonObject params = object.value(QLatin1String("params")).toObject();
            if (command == QLatin1String("challenge")) {
                challenge = params.value(QLatin1String("challenge")).toString().toLatin1();
                sendTextMessage(
                    answerMessage(fixedAnswer.isEmpty() ? answerFor(token, challenge) : fixedAnswer));
            } else if (command == QLatin1String("paired")) {
                paired = true;
            } else {
                messages << m;
            }
        });
        connect(this, &QWebSocket::disconnected, [this] { code = closeCode(); });
    }
    // QWebSocket's destructor still signals; by then the members above are gone.
    ~WsPhone() override { QObject::disconnect(this, nullptr, nullptr, nullptr); }
    static QString answerFor(const QString& key, const QByteArray& challenge)
    {
        return QString::fromLatin1(
            QMessageAuthenticationCode::hash(challenge, key.toUtf8(), QCryptographicHash::Sha256).toHex());
    }
    static QString answerMessage(const QString& answer)
    {
        return QStringLiteral("{\"command\":\"answer\",\"params\":{\"answer\":\"%1\"}}").arg(answer);
    }
    bool join(quint16 port)
    {
        open(QUrl(QStringLiteral("ws://127.0.0.1:%1/ws").arg(port)));
        spinUntil([this] { return code >= 0 || paired; });
        return paired;
    }
    int waitClosed()
    {
        return spinUntil([this] { return code >= 0; }) ? code : -1;
    }
};

} // namespace

// The browser's live channel: the "/ws" upgrade behind the HTTP server, who gets in and how
// fast, and the phone it hands to the same command server that serves TCP phones.
class tst_WebClientChannel : public QObject
{
    Q_OBJECT
    std::unique_ptr<Server> m_server;
    std::unique_ptr<HttpServer> m_http;
    std::unique_ptr<WebClientChannel> m_channel;
    InputBackendFake* m_fake = nullptr;
    QStringList m_events;

    quint16 port() const { return m_http->port(); }
    // A browser's opening handshake for `target`.
    QByteArray handshake(const QByteArray& target, const QByteArray& extraHeaders = QByteArray()) const
    {
        return QByteArray("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port()) +
                          "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
                          "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n" +
                          extraHeaders + "\r\n");
    }
    int statusOf(const QByteArray& request)
    {
        LoopbackClient client(port());
        client.send(request);
        return client.waitClosed() ? client.in.mid(9, 3).toInt() : 0;
    }

private slots:
    void init()
    {
        auto fake = std::make_unique<InputBackendFake>();
        m_fake = fake.get();
        m_server = std::make_unique<Server>(std::move(fake), nullptr);
        connect(m_server.get(), &Server::clientConnected, this, [this] { m_events << QStringLiteral("in"); });
        connect(m_server.get(), &Server::clientDisconnected, this,
                [this] { m_events << QStringLiteral("out"); });
        m_http = std::make_unique<HttpServer>();
        QVERIFY(m_server->start(0) && m_http->start(0));
        // Two free failures, then a hold of 300 ms that doubles up to 600 ms.
        m_channel = std::make_unique<WebClientChannel>(
            [](const QByteArray& challenge, const QString& answer) {
                return WebClientChannel::sameAnswer(WebClientChannel::challengeAnswer(kToken, challenge),
                                                    answer);
            },
            AuthThrottle::Policy{2, 60000, 300, 600, 256}, nullptr);
        m_channel->attachTo(m_http.get());
        m_channel->setPhoneHandler([this](QWebSocket* socket) { m_server->acceptWebSocket(socket); });
        m_events.clear();
    }
    void cleanup() { m_channel.reset(), m_http.reset(), m_server.reset(); }

    void aPairedBrowserIsThePhone()
    {
        WsPhone phone(QStringLiteral("http://127.0.0.1:%1").arg(port())); // the page this server gave out
        QVERIFY(phone.join(port()));
        phone.sendTextMessage(move(5));
        phone.sendTextMessage(QStringLiteral("not json"));
        phone.sendBinaryMessage(move(9).toUtf8());          // commands are text
        phone.sendTextMessage(move(7) + QLatin1Char('\n')); // a line feed is white space, as on TCP
        phone.sendTextMessage(QStringLiteral("{\"command\":\"mediaexplore\",\"params\":{}}"));
        phone.sendTextMessage(QStringLiteral("{\"command\":\"appexplore\",\"params\":{}}"));
        const QByteArray withToken = "/ws";
        QCOMPARE(statusOf(handshake(withToken, "Origin: http://evil.example\r\n")), 403); // another site
        QTRY_COMPARE(phone.messages.size(), 2);
        // One reply per message, without the line feed of the TCP framing.
        QVERIFY(phone.messages[0].startsWith(QLatin1String("{\"command\":\"mediaexplore\",\"params\":{")));
        QCOMPARE(phone.messages[1], QLatin1String("{\"command\":\"appexplore\",\"params\":{\"apps\":[]}}"));
        QCOMPARE(m_fake->records(), (QVector<InputRecord>{moved(5), moved(7)}));

        phone.sendTextMessage(move(1)); // what arrived before the goodbye still runs
        phone.close();
        QTRY_COMPARE(m_fake->records().size(), 3);
        QTRY_COMPARE(m_events.join(' '), QStringLiteral("in out"));

        // The HTTP server has read the head before the hand-off; however it was cut, the
        // handshake must reach Qt WebSockets whole.
        const QByteArray request = handshake(withToken);
        LoopbackClient raw(port());
        for (int at = 0; at < request.size(); at += 40)
            raw.send(request.mid(at, 40)), QTest::qWait(20);
        QVERIFY(raw.spin([&] { return raw.in.contains("\r\n\r\n"); }) && raw.in.startsWith("HTTP/1.1 101"));
        QVERIFY(raw.in.contains("s3pPLMBiTxaQ9kYGzzhZRbK+xOo="));            // the key's proof
        QVERIFY(raw.spin([&] { return raw.in.contains("\"challenge\""); })); // its first message
        QCOMPARE(m_events.join(' '), QStringLiteral("in out")); // not the phone before it answers
        raw.socket.abort();

        // Handed-off phones outlive the HTTP server; messages beyond the bound end them.
        WsPhone next;
        QVERIFY(next.join(port()));
        m_http->stop();
        next.sendTextMessage(move(3));
        QTRY_COMPARE(m_fake->records().size(), 4);
        QCOMPARE(m_events.join(' '), QStringLiteral("in out in"));
        next.sendTextMessage(QString(int(WebClientChannel::MaxMessageBytes) + 1, QLatin1Char('x')));
        QCOMPARE(next.waitClosed(), int(QWebSocketProtocol::CloseCodeTooMuchData));
    }

    // What a browser phone types stays out of the log, and the button it holds is released
    // when it leaves.
    void aBrowserPhoneLeavesNoTrace()
    {
        LogCapture log;
        WsPhone phone;
        QVERIFY(phone.join(port()));
        const QString secret = QStringLiteral("s3cret-Passw0rd");
        phone.sendTextMessage(
            QStringLiteral("{\"command\":\"keyinput\",\"params\":{\"text\":\"%1\"}}").arg(secret));
        phone.sendTextMessage(QStringLiteral("{\"command\":\"mousedown\"}"));
        QTRY_COMPARE(m_fake->records().size(), 2 * secret.size() + 1);
        phone.close();
        QTRY_COMPARE(m_fake->records().size(), 2 * secret.size() + 2);
        QVERIFY(m_fake->records().constLast() == InputRecord::mouse(InputRecord::LeftUp));
        QCOMPARE(log.count(secret.left(6)), 0);
        QCOMPARE(log.count(QStringLiteral("\"textLength\":15")), 1);
    }

    void wrongAnswersRunNothing_data()
    {
        QTest::addColumn<QString>("first"); // the first message after the challenge
        const QString other = QStringLiteral("fedcba9876543210fedcba9876543210");
        QTest::newRow("another token") << WsPhone::answerMessage(WsPhone::answerFor(other, "x"));
        QTest::newRow("the token itself") << WsPhone::answerMessage(kToken);
        QTest::newRow("a command first") << move(5);
        QTest::newRow("an empty answer") << WsPhone::answerMessage(QString());
        QTest::newRow("not json") << QStringLiteral("answer");
    }
    void wrongAnswersRunNothing()
    {
        QFETCH(QString, first);
        WsPhone phone;
        // Answers by hand: the wrong first message, then a command that must never run.
        disconnect(&phone, &QWebSocket::textMessageReceived, nullptr, nullptr);
        connect(&phone, &QWebSocket::textMessageReceived, &phone, [&phone, first](const QString&) {
            phone.sendTextMessage(first);
            phone.sendTextMessage(move(6));
        });
        phone.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/ws").arg(port())));
        QCOMPARE(phone.waitClosed(), int(WebClientChannel::CloseWrongAnswer));
        QVERIFY(m_events.isEmpty() && m_fake->records().isEmpty());
        QCOMPARE(m_channel->unansweredCount(), 0);
    }

    void anAnswerFitsOnlyItsOwnChallenge()
    {
        WsPhone first;
        QVERIFY(first.join(port()));
        const QString seen = WsPhone::answerFor(kToken, first.challenge); // what a sniffer saw
        WsPhone replay;
        replay.fixedAnswer = seen;
        QVERIFY(!replay.join(port()));
        QCOMPARE(replay.waitClosed(), int(WebClientChannel::CloseWrongAnswer));
        QVERIFY(replay.challenge != first.challenge &&
                replay.challenge.size() == 2 * WebClientChannel::ChallengeBytes);
        QVERIFY(first.state() == QAbstractSocket::ConnectedState); // the phone stays
    }

    void repeatedFailuresAreSlowedDown()
    {
        // The first failures cost nothing; then each attempt waits, and the wait doubles.
        QElapsedTimer timer;
        for (const qint64 atLeast : {0, 0, 300, 600}) {
            timer.start();
            WsPhone guess;
            guess.token = QStringLiteral("ffffffffffffffffffffffffffffffff");
            QVERIFY(!guess.join(port()));
            QCOMPARE(guess.waitClosed(), int(WebClientChannel::CloseWrongAnswer));
            QVERIFY2(atLeast ? timer.elapsed() >= atLeast - 10 : timer.elapsed() < 290,
                     qPrintable(QString::number(timer.elapsed())));
        }
        // Guessing in parallel does not get around the hold: a few wait, the rest are turned away.
        std::vector<std::unique_ptr<LoopbackClient>> guesses;
        QMap<int, int> statuses;
        for (int i = 0; i < WebClientChannel::MaxHeldPerAddress + 2; ++i)
            guesses.emplace_back(new LoopbackClient(port()))->send(handshake("/ws"));
        for (auto& guess : guesses)
            guess->spin([&] { return guess->in.size() >= 12 || !guess->open(); }),
                ++statuses[guess->in.mid(9, 3).toInt()];
        QCOMPARE(statuses, (QMap<int, int>{{101, WebClientChannel::MaxHeldPerAddress}, {429, 2}}));
        guesses.clear();

        WsPhone phone; // the right token still gets in, after its wait
        QVERIFY(phone.join(port()));

        // The table of addresses stays bounded: the stalest makes room.
        AuthThrottle throttle({3, 60000, 1000, 8000, 4}); // four addresses at most
        for (int i = 0; i < 1000; ++i)
            throttle.recordFailure(QStringLiteral("10.1.%1.%2").arg(i / 256).arg(i % 256), 70000 + i);
        QVERIFY(throttle.size() == 4 && throttle.failures(QStringLiteral("10.1.3.231"), 71000) == 1);
    }

    void onePhoneAcrossBothTransports()
    {
        LoopbackClient tcp(m_server->serverPort());
        QTRY_COMPARE(m_events.size(), 1);
        WsPhone web, first, second, late;
        QVERIFY(web.join(port()));
        QTRY_VERIFY(!tcp.open()); // the browser displaced the TCP phone
        LoopbackClient tcp2(m_server->serverPort());
        QCOMPARE(web.waitClosed(), Server::CloseReplaced); // and a TCP phone the browser, telling it why
        QVERIFY(first.join(port()));
        QTRY_VERIFY(!tcp2.open());
        QVERIFY(second.join(port()));
        QCOMPARE(first.waitClosed(), Server::CloseReplaced);
        second.sendTextMessage(move(2));
        QTRY_COMPARE(m_fake->records(), QVector<InputRecord>{moved(2)});

        m_server->dropWebSocketPhone(Server::CloseRevoked); // as when the token is regenerated
        QCOMPARE(second.waitClosed(), Server::CloseRevoked);
        m_server->stop();
        late.join(port()); // nobody gets in while stopped
        QCOMPARE(late.waitClosed(), Server::CloseServiceStopped);
        QCOMPARE(m_events.join(' '), QStringLiteral("in out ").repeated(5).trimmed());
    }

    void foreignOriginsAndNamesAreRefused()
    {
        // Only the page this server gave out, under the name it was asked for; a name someone
        // else's DNS points at this PC is turned away before the channel sees it.
        const QByteArray here = "127.0.0.1:" + QByteArray::number(port());
        const QList<QByteArray> origins{
            "https://" + here,      "http://127.0.0.1:1", "http://localhost:" + here.mid(10), "null",
            "http://" + here + "/", "http://evil.example"};
        for (const QByteArray& origin : origins) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Web client refused: foreign origin"));
            QCOMPARE(statusOf(handshake("/ws", "Origin: " + origin + "\r\n")), 403);
        }
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("^HTTP request refused, addressed to another host"));
        QByteArray rebound = handshake("/ws", "Origin: http://evil.example\r\n");
        rebound.replace("Host: 127.0.0.1", "Host: evil.example");
        QCOMPARE(statusOf(rebound), 421);
        QCOMPARE(m_channel->unansweredCount(), 0);
    }

    void strangersHoldingSocketsDoNotKeepThePageOut()
    {
        // Sixteen other hosts keep four sockets each open without answering, which fills the
        // channel; the user's page, from yet another address, still pairs.
        std::vector<std::unique_ptr<LoopbackClient>> silent;
        for (int host = 2; host < 18; ++host) {
            for (int i = 0; i < WebClientChannel::MaxUnansweredPerAddress; ++i) {
                silent.emplace_back(
                    new LoopbackClient(port(), QHostAddress(QStringLiteral("127.0.0.%1").arg(host))));
                if (!silent.back()->open())
                    QSKIP("this system cannot bind client sockets to 127.0.0.x");
                silent.back()->send(handshake("/ws"));
            }
        }
        for (const auto& client : silent)
            QVERIFY(client->spin([&] { return client->in.contains("\"challenge\""); }));
        QCOMPARE(m_channel->unansweredCount(), WebClientChannel::MaxUnanswered);
        // One more from a full address is still refused.
        LoopbackClient fifth(port(), QHostAddress(QStringLiteral("127.0.0.2")));
        fifth.send(handshake("/ws"));
        QVERIFY(fifth.waitClosed() && !fifth.in.contains("\"challenge\""));

        WsPhone phone;
        QVERIFY(phone.join(port()));
        QCOMPARE(m_channel->unansweredCount(), WebClientChannel::MaxUnanswered - 1);

        // The same sharing holds for attempts held back after wrong answers.
        AddressQuota<int> held(2, 4);
        int evicted = -1;
        for (const int item : {1, 2, 3, 4})
            held.add(item < 3 ? QStringLiteral("a") : QStringLiteral("b"), item);
        QVERIFY(held.admit(QStringLiteral("a"), &evicted) == AddressQuota<int>::Verdict::Refuse);
        QVERIFY(held.admit(QStringLiteral("c"), &evicted) == AddressQuota<int>::Verdict::AdmitAfterEvicting &&
                evicted == 1); // the oldest of the fullest
        QVERIFY(held.remove(1));
        held.add(QStringLiteral("c"), 5);
        QVERIFY(held.admit(QStringLiteral("a"), &evicted) == AddressQuota<int>::Verdict::AdmitAfterEvicting &&
                evicted == 3);
        QVERIFY(held.admit(QStringLiteral("c"), &evicted) == AddressQuota<int>::Verdict::AdmitAfterEvicting &&
                evicted == 3);
        QVERIFY(held.remove(3) && held.remove(5) && !held.remove(5) && held.size() == 2);
    }
};

QTEST_GUILESS_MAIN(tst_WebClientChannel)
#include "tst_webclientchannel.moc"
