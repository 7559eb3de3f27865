#include "data/DataTestSupport.h"
#include "web/LoopbackClient.h"

#include "data/MediaFolder.h"
#include "data/MediaService.h"
#include "platform/clipboard/ClipboardFake.h"
#include "platform/input/InputBackendFake.h"
#include "remote/Server.h"
#include "support/LogCapture.h"
#include "web/HttpServer.h"
#include "web/SealedChannel.h"
#include "web/SealedPhoneLink.h"
#include "web/WebClientChannel.h"

#include <QCryptographicHash>
#include <QHostInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageAuthenticationCode>
#include <QTcpServer>
#include <QTemporaryDir>
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
// challenge with `token` (or with `fixedAnswer` when set), and counts as joined once the
// sealed "paired" opens. Commands go out sealed with send(); `old` speaks the clear
// handshake of pages from before sealing.
struct WsPhone : QWebSocket
{
    QStringList messages;
    QByteArray challenge; // the last one received
    QString token = kToken;
    QString fixedAnswer;
    bool old = false;
    bool paired = false;
    int code = -1; // the close code, once closed
    SealedChannel::Key key{};
    std::unique_ptr<SealedChannel::Seal> seal;
    QList<QByteArray> framesIn, framesOut; // sealed, as they travelled

    explicit WsPhone(const QString& origin = QString())
        : QWebSocket(origin)
    {
        connect(this, &QWebSocket::textMessageReceived, [this](const QString& m) {
            const QJsonObject object = QJsonDocument::fromJson(m.toUtf8()).object();
            const QString command = object.value(QLatin1String("command")).toString();
            const QJsonObject params = object.value(QLatin1String("params")).toObject();
            if (command == QLatin1String("challenge")) {
                challenge = params.value(QLatin1String("challenge")).toString().toLatin1();
                const QByteArray pageRandom = QByteArray::fromHex(WebClientChannel::newChallenge());
                key = SealedChannel::deriveKey(token, QByteArray::fromHex(challenge), pageRandom);
                seal = std::make_unique<SealedChannel::Seal>(key, SealedChannel::Direction::ToPc);
                const QString answer = fixedAnswer.isEmpty() ? answerFor(token, challenge) : fixedAnswer;
                sendTextMessage(old ? answerMessage(answer) : answerMessage(answer, pageRandom.toHex()));
            } else {
                messages << m; // nothing but the challenge may come in clear
            }
        });
        connect(this, &QWebSocket::binaryMessageReceived, [this](const QByteArray& frame) {
            framesIn << frame;
            const std::optional<QByteArray> message = seal ? seal->open(frame) : std::nullopt;
            if (message && message->startsWith("{\"command\":\"paired\""))
                paired = true;
            else
                messages << (message ? QString::fromUtf8(*message) : QStringLiteral("<unopened>"));
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
    static QString answerMessage(const QString& answer, const QByteArray& nonce = QByteArray())
    {
        if (nonce.isEmpty())
            return QStringLiteral("{\"command\":\"answer\",\"params\":{\"answer\":\"%1\"}}").arg(answer);
        return QStringLiteral("{\"command\":\"answer\",\"params\":{\"answer\":\"%1\",\"nonce\":\"%2\","
                              "\"version\":%3}}")
            .arg(answer, QString::fromLatin1(nonce))
            .arg(SealedChannel::Version);
    }
    void send(const QString& command) { sendFrame(seal->seal(command.toUtf8())); }
    void sendFrame(const QByteArray& frame)
    {
        framesOut << frame;
        sendBinaryMessage(frame);
    }
    bool join(quint16 port, quint16 via = 0)
    {
        open(QUrl(QStringLiteral("ws://127.0.0.1:%1/ws").arg(via ? via : port)));
        spinUntil([this] { return code >= 0 || paired; });
        return paired;
    }
    int waitClosed()
    {
        return spinUntil([this] { return code >= 0; }) ? code : -1;
    }
};

// Passes one connection through to `target` and keeps every byte of both directions, as a
// listener on the network would see them.
struct Wiretap : QTcpServer
{
    QByteArray toServer, toClient;
    QList<QTcpSocket*> sockets;

    explicit Wiretap(quint16 target)
    {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, [this, target] {
            QTcpSocket* client = nextPendingConnection();
            auto* server = new QTcpSocket(this);
            server->connectToHost(QHostAddress::LocalHost, target);
            sockets << client << server;
            connect(client, &QTcpSocket::readyRead, [this, client, server] {
                const QByteArray bytes = client->readAll();
                toServer += bytes;
                if (server->state() != QAbstractSocket::ConnectedState)
                    server->waitForConnected(2000);
                server->write(bytes);
            });
            connect(server, &QTcpSocket::readyRead, [this, client, server] {
                const QByteArray bytes = server->readAll();
                toClient += bytes;
                client->write(bytes);
            });
            connect(server, &QTcpSocket::disconnected, client, &QTcpSocket::disconnectFromHost);
            connect(client, &QTcpSocket::disconnected, server, &QTcpSocket::disconnectFromHost);
        });
    }
    // The payloads of the WebSocket frames after the HTTP handshake, unmasked.
    static QByteArray payloads(const QByteArray& stream)
    {
        QByteArray out;
        int at = stream.indexOf("\r\n\r\n") + 4;
        while (at > 3 && at + 2 <= stream.size()) {
            const auto byte = [&](int i) {
                return static_cast<unsigned char>(stream.at(i));
            };
            const bool masked = byte(at + 1) & 0x80;
            quint64 length = byte(at + 1) & 0x7f;
            int head = 2;
            if (length >= 126) {
                const int bytes = length == 126 ? 2 : 8;
                length = 0;
                for (int i = 0; i < bytes; ++i)
                    length = (length << 8) | byte(at + 2 + i);
                head += bytes;
            }
            const int maskAt = at + head;
            head += masked ? 4 : 0;
            if (at + head + qint64(length) > stream.size())
                break;
            for (int i = 0; i < int(length); ++i)
                out += char(byte(at + head + i) ^ (masked ? byte(maskAt + i % 4) : 0));
            at += head + int(length);
        }
        return out;
    }
};

// A frame as a client sends it (masked), `first` holding FIN and the opcode; short payloads only.
QByteArray maskedFrame(int first, const QByteArray& payload)
{
    const QByteArray mask("\x01\x02\x03\x04", 4);
    QByteArray out(1, char(first));
    out += char(0x80 | payload.size());
    out += mask;
    for (int i = 0; i < payload.size(); ++i)
        out += char(payload.at(i) ^ mask.at(i % 4));
    return out;
}

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
            [] { return kToken; }, AuthThrottle::Policy{2, 60000, 300, 600, 256}, nullptr);
        m_channel->attachTo(m_http.get());
        m_channel->setPhoneHandler([this](PhoneLink* link) { m_server->acceptWebSocket(link); });
        m_events.clear();
    }
    void cleanup() { m_channel.reset(), m_http.reset(), m_server.reset(); }

    void aPairedBrowserIsThePhone()
    {
        WsPhone phone(QStringLiteral("http://127.0.0.1:%1").arg(port())); // the page this server gave out
        QVERIFY(phone.join(port()));
        phone.send(move(5));
        phone.send(QStringLiteral("not json"));
        phone.send(move(7) + QLatin1Char('\n')); // a line feed is white space, as on TCP
        phone.send(QStringLiteral("{\"command\":\"mediaexplore\",\"params\":{}}"));
        phone.send(QStringLiteral("{\"command\":\"appexplore\",\"params\":{}}"));
        const QByteArray withToken = "/ws";
        QCOMPARE(statusOf(handshake(withToken, "Origin: http://evil.example\r\n")), 403); // another site
        QTRY_COMPARE(phone.messages.size(), 2);
        // One reply per message, without the line feed of the TCP framing.
        QVERIFY(phone.messages[0].startsWith(QLatin1String("{\"command\":\"mediaexplore\",\"params\":{")));
        QCOMPARE(phone.messages[1], QLatin1String("{\"command\":\"appexplore\",\"params\":{\"apps\":[]}}"));
        QCOMPARE(m_fake->records(), (QVector<InputRecord>{moved(5), moved(7)}));

        phone.send(move(1)); // what arrived before the goodbye still runs
        phone.close();
        QTRY_COMPARE(m_fake->records().size(), 3);
        QTRY_COMPARE(m_events.join(' '), QStringLiteral("in out"));

        // The HTTP server has read the head before the hand-off; however it was cut, the
        // handshake is answered whole.
        const QByteArray request = handshake(withToken);
        LoopbackClient raw(port());
        for (int at = 0; at < request.size(); at += 40)
            raw.send(request.mid(at, 40)), QTest::qWait(20);
        QVERIFY(raw.spin([&] { return raw.in.contains("\r\n\r\n"); }) && raw.in.startsWith("HTTP/1.1 101"));
        QVERIFY(raw.in.contains("s3pPLMBiTxaQ9kYGzzhZRbK+xOo=")); // the key's proof
        // No CORS header on this answer either.
        const QByteArray head = raw.in.left(raw.in.indexOf("\r\n\r\n") + 4);
        QVERIFY2(!head.toLower().contains("access-control-"), head.constData());
        QVERIFY(head.contains("\r\nUpgrade: websocket\r\n") && head.endsWith("\r\n\r\n"));
        QVERIFY(raw.spin([&] { return raw.in.contains("\"challenge\""); })); // its first message
        QCOMPARE(m_events.join(' '), QStringLiteral("in out")); // not the phone before it answers
        raw.socket.abort();

        // Handed-off phones outlive the HTTP server; messages beyond the bound end them.
        WsPhone next;
        QVERIFY(next.join(port()));
        m_http->stop();
        next.send(move(3));
        QTRY_COMPARE(m_fake->records().size(), 4);
        QCOMPARE(m_events.join(' '), QStringLiteral("in out in"));
        next.send(QString(int(WebClientChannel::MaxMessageBytes) + 1, QLatin1Char('x')));
        QCOMPARE(next.waitClosed(), int(QWebSocketProtocol::CloseCodeTooMuchData));
    }

    // A peer speaking the protocol by hand: a frame sent along with the handshake is read, a
    // ping is answered and a close echoed; a breach is closed with the protocol's code.
    void theProtocolHoldsForAPeerByHand()
    {
        LoopbackClient raw(port());
        raw.send(handshake("/ws") + maskedFrame(0x89, "hi"));
        QVERIFY(raw.spin([&] { return raw.in.contains("\x8a\x02hi"); })); // the pong
        QVERIFY(raw.in.startsWith("HTTP/1.1 101") && raw.in.contains("\"challenge\""));
        raw.send(maskedFrame(0x88, "\x0f\xa0")); // close, 4000
        QVERIFY(raw.waitClosed());
        QVERIFY(raw.in.endsWith(QByteArray("\x88\x02\x0f\xa0", 4)));
        QTRY_COMPARE(m_channel->unansweredCount(), 0);

        LoopbackClient breach(port());
        breach.send(handshake("/ws") + QByteArray("\x82\x03"
                                                  "abc",
                                                  5)); // not masked
        QVERIFY(breach.waitClosed());
        QVERIFY(breach.in.endsWith(QByteArray("\x88\x02\x03\xea", 4))); // 1002
        QByteArray oldVersion = handshake("/ws");
        oldVersion.replace("Version: 13", "Version: 8");
        QCOMPARE(statusOf(oldVersion), 400);
        QVERIFY(m_events.isEmpty());
    }

    // A page that pings is answered at once, outside the command log. Frames that reach the
    // PC after a longer gap than a page allows itself run nothing, and a page that falls
    // silent is dropped. A page that never pings (one from before the heartbeat) is left
    // alone however quiet it is.
    void aSilentPageIsDropped()
    {
        LogCapture log;
        HttpServer otherHttp;
        QVERIFY(otherHttp.start(0));
        Server otherServer(std::make_unique<InputBackendFake>(), nullptr);
        QVERIFY(otherServer.start(0));
        QSignalSpy otherGone(&otherServer, &Server::clientDisconnected);
        WebClientChannel otherChannel([] { return kToken; });
        otherChannel.attachTo(&otherHttp);
        otherChannel.setPhoneHandler([&](PhoneLink* link) { otherServer.acceptWebSocket(link); });
        WsPhone quiet;
        QVERIFY(quiet.join(otherHttp.port()));

        // Pings once, then its frames are held up by the network past the gap a page allows.
        WsPhone late;
        QVERIFY(late.join(port()));
        const std::optional<QByteArray> paired =
            SealedChannel::Seal(late.key, SealedChannel::Direction::ToPc).open(late.framesIn.value(0));
        QVERIFY(paired && paired->contains("\"heartbeat\":true"));
        // Where the page may look for the PC should its address change.
        const QJsonObject pairedParams =
            QJsonDocument::fromJson(*paired).object().value(QLatin1String("params")).toObject();
        QCOMPARE(pairedParams.value(QLatin1String("host")).toString(), QHostInfo::localHostName());
        QVERIFY(pairedParams.value(QLatin1String("addresses")).isArray());
        late.send(QStringLiteral("{\"command\":\"ping\",\"params\":{\"seq\":41}}"));
        late.send(move(4));
        late.send(QStringLiteral("{\"command\":\"ping\",\"params\":{\"seq\":\"x\"}}"));
        QTRY_COMPARE(late.messages.size(), 2);
        QElapsedTimer gap;
        gap.start();
        QCOMPARE(late.messages[0], QLatin1String("{\"command\":\"pong\",\"params\":{\"seq\":41}}"));
        QCOMPARE(late.messages[1], QLatin1String("{\"command\":\"pong\",\"params\":{}}"));
        QTRY_COMPARE(m_fake->records(), QVector<InputRecord>{moved(4)});
        QCOMPARE(log.count(QStringLiteral("\"ping\"")), 0);
        // The clock itself is the stimulus here: the gap can only grow on a busy machine.
        QTRY_VERIFY_WITH_TIMEOUT(gap.elapsed() > SealedPhoneLink::StaleGapMs + 500, 10000);
        late.send(move(5));
        late.send(QStringLiteral("{\"command\":\"ping\",\"params\":{\"seq\":2}}"));
        QCOMPARE(late.waitClosed(), SealedPhoneLink::CloseSilent);
        QCOMPARE(late.messages.size(), 2);
        QCOMPARE(log.count(QStringLiteral("too late to run; connection dropped: 127.0.0.1")), 1);
        QTRY_COMPARE(m_events.join(' '), QStringLiteral("in out"));

        WsPhone phone;
        QVERIFY(phone.join(port()));
        phone.send(QStringLiteral("{\"command\":\"ping\",\"params\":{\"seq\":1}}"));
        QTRY_COMPARE(phone.messages.size(), 1);
        QElapsedTimer silence;
        silence.start();
        QTRY_COMPARE_WITH_TIMEOUT(m_events.join(' '), QStringLiteral("in out in out"),
                                  SealedPhoneLink::SilenceLimitMs + 5000);
        QVERIFY(silence.elapsed() >= SealedPhoneLink::SilenceLimitMs - 1000);
        QCOMPARE(log.count(QStringLiteral("Web client went silent for 10 s, connection dropped: 127.0.0.1")),
                 1);
        if (phone.state() == QAbstractSocket::ConnectedState)
            phone.send(move(9)); // held back by the network until now: too late
        QCOMPARE(phone.waitClosed(), SealedPhoneLink::CloseSilent);
        QCOMPARE(m_fake->records(), QVector<InputRecord>{moved(4)});

        QCOMPARE(quiet.code, -1);
        QCOMPARE(otherGone.count(), 0);
    }

    // The user's own buttons go through the sealed channel as through TCP: made, listed, refused
    // with a reason, pressed.
    void aBrowserMakesAndPressesItsOwnButton()
    {
        TestContext context;
        QVERIFY(startDatabases());
        UserButtonService::instance()->load();
        {
            WsPhone phone(QStringLiteral("http://127.0.0.1:%1").arg(port()));
            QVERIFY(phone.join(port()));
            phone.send(QStringLiteral(R"({"command":"buttonchange","params":{"action":"add","button":)"
                                      R"({"label":"Undo","steps":[[17,90]]}}})"));
            phone.send(QStringLiteral(R"({"command":"buttonchange","params":{"action":"add","button":)"
                                      R"({"label":"","steps":[[17,90]]}}})"));
            phone.send(QStringLiteral(R"({"command":"buttonlist"})"));
            QTRY_COMPARE(phone.messages.size(), 3);
            const QJsonObject made = QJsonDocument::fromJson(phone.messages[0].toUtf8()).object();
            QCOMPARE(made.value("params").toObject().value("ok"), true);
            QVERIFY(phone.messages[1].contains(R"("error":"badLabel")"));
            QVERIFY(phone.messages[2].startsWith(R"({"command":"buttonlist","params":{"buttons":[{)"));
            const int id = made.value("params").toObject().value("id").toInt();
            phone.send(QStringLiteral(R"({"command":"buttonpress","params":{"id":%1}})").arg(id));
            QTRY_COMPARE(m_fake->records(),
                         (QVector<InputRecord>{InputRecord::key(17, 0, 0), InputRecord::key(90, 0, 0),
                                               InputRecord::key(90, 0, InputRecord::KeyUp),
                                               InputRecord::key(17, 0, InputRecord::KeyUp)}));
        }
        releaseDatabases();
    }

    // Characters that could be neither typed nor pasted are told to a browser phone as to a
    // TCP one.
    void untypedCharactersAreToldToABrowser()
    {
        m_fake->setTypingPause(0);
        m_fake->setUntypeable([](char32_t c) { return c >= 0x80; });
        auto clipboard = std::make_unique<ClipboardFake>();
        clipboard->read = ClipboardRead{ClipboardRead::Result::NotText, QString()}; // cannot come back
        m_server->setClipboard(std::move(clipboard), [] { return false; });
        WsPhone phone;
        QVERIFY(phone.join(port()));
        phone.send(QStringLiteral("{\"command\":\"keyinput\",\"params\":{\"text\":\"a\\u4e16b\"}}"));
        QTRY_COMPARE(phone.messages.size(), 1);
        QCOMPARE(phone.messages[0], QLatin1String("{\"command\":\"keyinput\",\"params\":{\"positions\":[1],"
                                                  "\"reason\":\"clipboardBusy\",\"untyped\":1}}"));
    }

    // What a browser phone types stays out of the log, and the button it holds is released
    // when it leaves.
    void aBrowserPhoneLeavesNoTrace()
    {
        LogCapture log;
        WsPhone phone;
        QVERIFY(phone.join(port()));
        const QString secret = QStringLiteral("s3cret-Passw0rd");
        phone.send(QStringLiteral("{\"command\":\"keyinput\",\"params\":{\"text\":\"%1\"}}").arg(secret));
        phone.send(QStringLiteral("{\"command\":\"mousedown\"}"));
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

    // The same vectors as tests/mobile/seal.test.mjs, where TweetNaCl must agree; the key was
    // computed apart from both (Python's hmac module).
    void keyAndSealMatchKnownAnswers()
    {
        QByteArray pcRandom, pageRandom;
        for (int i = 0; i < 32; ++i)
            pcRandom += char(i), pageRandom += char(32 + i);
        const SealedChannel::Key key = SealedChannel::deriveKey(kToken, pcRandom, pageRandom);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(key.data()), int(key.size())).toHex(),
                 QByteArray("197c31fe97987975eaceb9f2956e6f27065eb7209d1e945635880d9c325c4809"));

        const QByteArray typed = R"({"command":"keyinput","params":{"text":"secret123"}})";
        const QByteArray paired = R"({"command":"paired","params":{"version":2}})";
        SealedChannel::Seal page(key, SealedChannel::Direction::ToPc),
            pc(key, SealedChannel::Direction::ToPage);
        const QByteArray first = page.seal(typed);
        QCOMPARE(first.toHex(),
                 QByteArray("3b057d918652ffff3e0c2a191095307d58e7f889d9ff13e71541aea5072f77c0571d940a"
                            "d7599fe753848549b67fc6be7e33ae83956d88974b604957cc360ec3bdda290a"));
        QCOMPARE(
            pc.seal(paired).toHex(),
            QByteArray("fee81024fced8eb78e6cbcfe4c6c8047631dc6033fad500dfeaf330b873af799e5b91e2e2ffc443905ab"
                       "a8e279e18da604649c6cf959318eb3b240"));
        QCOMPARE(pc.open(first).value_or("-"), typed);
        for (int i = 1; i < 258; ++i)
            page.seal(QByteArray());
        // Frame 258 (0x0102): the counter's bytes go big-endian into the nonce's tail.
        QCOMPARE(
            page.seal(typed).toHex(),
            QByteArray("85b4fc6420ce3fd6e38052c5d388bcbf3e6c7ac157fccb50581e2077c0a4c3382bfb4f7a52d11e335d"
                       "bf480dfb678dacc896264221229a414332d3f6aa2cd76d0be3ae3a"));
        // The handshake's answer: only lowercase hex of the right length is a random value.
        const auto answer = [](const QByteArray& params) {
            return SealedChannel::parseAnswer("{\"command\":\"answer\",\"params\":{" + params + "}}");
        };
        const QByteArray nonce = QByteArray(64, 'a');
        QCOMPARE(answer("\"answer\":\"x\",\"nonce\":\"" + nonce + "\",\"version\":2").pageRandom,
                 QByteArray(32, '\xaa'));
        QVERIFY(answer("\"nonce\":\"" + nonce.toUpper() + "\"").pageRandom.isEmpty());
        QVERIFY(answer("\"nonce\":\"" + nonce.left(62) + "\"").pageRandom.isEmpty());
        QCOMPARE(answer("\"answer\":\"x\"").version, 1); // a page from before sealing
        QCOMPARE(answer("\"version\":2.5").version, 0);
        QCOMPARE(answer("\"version\":\"2\"").version, 0);
    }

    // What a listener on the network sees of a whole session: the handshake, then only
    // sealed frames, with none of the typed text or the listed names in them.
    void aCapturedSessionHidesCommandsAndReplies()
    {
        QTemporaryDir media;
        QVERIFY(QDir(media.path()).mkpath(QStringLiteral("HolidayAlbum")));
        auto folder = std::make_shared<MediaFolder>();
        folder->setName(QStringLiteral("PrivateMusicFolder"));
        folder->setPath(media.path());
        MediaService::instance()->folders().append(folder);

        Wiretap tap(port());
        WsPhone phone;
        QVERIFY(phone.join(port(), tap.serverPort()));
        const QString typing =
            QStringLiteral("{\"command\":\"keyinput\",\"params\":{\"text\":\"secret123\"}}");
        phone.send(typing);
        phone.send(QStringLiteral("{\"command\":\"mediaexplore\",\"params\":{}}"));
        phone.send(
            QStringLiteral("{\"command\":\"mediaexplore\",\"params\":{\"path\":\"%1\"}}").arg(media.path()));
        QTRY_COMPARE(phone.messages.size(), 2);
        MediaService::instance()->folders().removeAll(folder);
        QVERIFY(phone.messages.join(' ').contains(QLatin1String("PrivateMusicFolder")) &&
                phone.messages.join(' ').contains(QLatin1String("HolidayAlbum")));
        QTRY_VERIFY(!m_fake->records().isEmpty()); // "secret123" was typed

        const QByteArray wire = Wiretap::payloads(tap.toServer) + Wiretap::payloads(tap.toClient);
        QVERIFY(wire.contains("\"challenge\"")); // the parser did see the frames
        for (const char* secret : {"secret", "keyinput", "PrivateMusic", "HolidayAlbum", "mediaexplore"})
            QVERIFY2(!wire.contains(secret) && !tap.toServer.contains(secret) &&
                         !tap.toClient.contains(secret),
                     secret);
        // One binary frame per message, each its plaintext plus the authenticator.
        QCOMPARE(phone.framesOut.size(), 3);
        QCOMPARE(phone.framesOut[0].size(), typing.size() + SealedChannel::MacBytes);
    }

    // Frames that were tampered with, replayed or misplaced end the session; nothing they
    // carry runs, nor does anything after them, and the log keeps no plaintext.
    void tamperedFramesCloseTheSession_data()
    {
        QTest::addColumn<QString>("how");
        for (const char* how : {"flipped bit", "replayed", "other direction", "old session", "dropped one",
                                "cut short", "in clear", "clear binary"})
            QTest::newRow(how) << QString::fromLatin1(how);
    }
    void tamperedFramesCloseTheSession()
    {
        QFETCH(QString, how);
        SealedChannel::Key oldKey{};
        {
            WsPhone earlier;
            QVERIFY(earlier.join(port()));
            oldKey = earlier.key;
        }
        QTRY_COMPARE(m_events.join(' '), QStringLiteral("in out"));
        static QStringList warnings;
        warnings.clear();
        const QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
                if (type == QtWarningMsg)
                    warnings << text;
            });
        WsPhone phone;
        QVERIFY(phone.join(port()));
        phone.send(QStringLiteral("{\"command\":\"appexplore\",\"params\":{}}"));
        QTRY_COMPARE(phone.messages.size(), 1); // the reply is the PC's frame 1

        const QByteArray secret = move(5).toUtf8();
        if (how == QLatin1String("flipped bit")) {
            QByteArray frame = phone.seal->seal(secret);
            frame[20] = char(frame.at(20) ^ 0x04);
            phone.sendFrame(frame);
        } else if (how == QLatin1String("replayed")) {
            phone.sendFrame(phone.framesOut.first());
        } else if (how == QLatin1String("other direction")) {
            phone.sendFrame(phone.framesIn.at(1)); // sealed by the PC with the counter it expects
        } else if (how == QLatin1String("old session")) {
            SealedChannel::Seal stale(oldKey, SealedChannel::Direction::ToPc);
            stale.seal(QByteArray());
            phone.sendFrame(stale.seal(secret));
        } else if (how == QLatin1String("dropped one")) {
            phone.seal->seal(secret); // frame 1 never arrives; frame 2 does
            phone.send(move(4));
        } else if (how == QLatin1String("cut short")) {
            phone.sendFrame(phone.seal->seal(secret).left(SealedChannel::MacBytes - 1));
        } else if (how == QLatin1String("in clear")) {
            phone.sendTextMessage(move(5));
        } else {
            phone.sendBinaryMessage(secret);
        }
        // The frame the PC expects next: had the bad one merely been skipped, this would run.
        SealedChannel::Seal next(phone.key, SealedChannel::Direction::ToPc);
        next.seal(QByteArray());
        phone.sendFrame(next.seal(move(6).toUtf8()));

        QCOMPARE(phone.waitClosed(), SealedPhoneLink::CloseBadSeal);
        qInstallMessageHandler(previous);
        QTRY_COMPARE(m_events.join(' '), QStringLiteral("in out in out"));
        QVERIFY(m_fake->records().isEmpty());
        QCOMPARE(phone.messages.size(), 1); // nor did a reflected request get an answer
        QCOMPARE(warnings.size(), 1);
        QVERIFY2(warnings[0].contains(QLatin1String("connection closed")) &&
                     !warnings[0].contains(QLatin1String("mousemove")),
                 qPrintable(warnings[0]));
    }

    // A page cached from before sealing gets a close code that says "reload", not a session in clear.
    void anOutdatedPageIsToldToReload()
    {
        WsPhone phone;
        phone.old = true;
        QVERIFY(!phone.join(port()));
        QCOMPARE(phone.waitClosed(), int(WebClientChannel::CloseOutdatedClient));
        QVERIFY(m_events.isEmpty() && phone.messages.isEmpty());
        QCOMPARE(m_channel->throttle().failures(QStringLiteral("127.0.0.1"), 0), 0); // it knew the token
        WsPhone current;
        QVERIFY(current.join(port()));
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
        tcp2.send("{\"command\":\"none\"}\n");             // a TCP phone takes over with its first command
        QCOMPARE(web.waitClosed(), Server::CloseReplaced); // and displaces the browser, telling it why
        QVERIFY(first.join(port()));
        QTRY_VERIFY(!tcp2.open());
        QVERIFY(second.join(port()));
        QCOMPARE(first.waitClosed(), Server::CloseReplaced);
        second.send(move(2));
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
