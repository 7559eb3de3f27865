#include "WsTestSupport.h"
#include "remote/RemoteTestSupport.h"

#include "data/AppService.h"
#include "platform/InputBackendFake.h"
#include "remote/Server.h"
#include "web/HttpServer.h"
#include "web/WebClientChannel.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>

#include <memory>

namespace {

const QString kToken = QStringLiteral("00112233445566778899aabbccddeeff");

QString move(int dx)
{
    return QStringLiteral("{\"command\":\"mousemove\",\"params\":{\"dx\":%1}}").arg(dx);
}

} // namespace

// A browser phone on the command server: the channel in front of the HTTP server hands
// authenticated sockets to the same Server that serves TCP phones.
class tst_ServerWebSocket : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Server> m_server;
    std::unique_ptr<HttpServer> m_http;
    std::unique_ptr<WebClientChannel> m_channel;
    InputBackendFake* m_fake = nullptr;
    QStringList m_events;

    bool attachTcp(Phone& phone)
    {
        QSignalSpy connected(m_server.get(), &Server::clientConnected);
        return phone.connectTo(m_server->serverPort()) && (connected.count() > 0 || connected.wait(5000));
    }
    bool attachWeb(WsPhone& phone)
    {
        QSignalSpy connected(m_server.get(), &Server::clientConnected);
        return phone.open(m_http->port(), kToken) && (connected.count() > 0 || connected.wait(5000));
    }

private slots:
    void init()
    {
        auto fake = std::make_unique<InputBackendFake>();
        m_fake = fake.get();
        m_server = std::make_unique<Server>(std::move(fake), nullptr);
        connect(m_server.get(), &Server::statusChanged, this,
                [this](bool running) { m_events << QStringLiteral("status:%1").arg(running); });
        connect(m_server.get(), &Server::clientConnected, this,
                [this] { m_events << QStringLiteral("connected"); });
        connect(m_server.get(), &Server::clientDisconnected, this,
                [this] { m_events << QStringLiteral("disconnected"); });
        QVERIFY(m_server->start(0));
        m_http = std::make_unique<HttpServer>();
        QVERIFY(m_http->start(0));
        m_channel = std::make_unique<WebClientChannel>([](const QString& token) { return token == kToken; });
        m_channel->attachTo(m_http.get());
        m_channel->setPhoneHandler(
            [server = m_server.get()](QWebSocket* socket) { server->acceptWebSocket(socket); });
        m_events.clear();
    }
    void cleanup()
    {
        m_channel.reset();
        m_http.reset();
        m_server.reset();
        AppService::instance()->apps().clear();
    }

    void messagesGoThroughTheCommandDispatcher()
    {
        auto app = std::make_shared<DesktopApp>();
        app->setName(QStringLiteral("Editor"));
        AppService::instance()->apps().append(app);
        LogCapture log;
        WsPhone phone;
        QVERIFY(attachWeb(phone));

        phone.send(move(5));
        phone.send(QStringLiteral("not json"));
        phone.socket().sendBinaryMessage(move(9).toUtf8()); // commands are text
        phone.send(move(7) + QLatin1Char('\n'));            // a line feed is white space, as on TCP
        phone.send(QStringLiteral("{\"command\":\"appexplore\",\"params\":{}}"));
        QVERIFY(phone.waitMessages(1));
        QCOMPARE(m_fake->records(), (QVector<InputRecord>{InputRecord::mouse(InputRecord::MouseMove, 5, 0),
                                                          InputRecord::mouse(InputRecord::MouseMove, 7, 0)}));
        QCOMPARE(log.count(QStringLiteral("接收到无效的JSON数据")), 2);
        // The reply is one message, without the line feed of the TCP framing.
        QCOMPARE(phone.messages(),
                 QStringList(QStringLiteral("{\"command\":\"appexplore\",\"params\":{\"apps\":[{"
                                            "\"args\":\"\",\"name\":\"Editor\",\"path\":\"\","
                                            "\"workdir\":\"\"}]}}")));
        QVERIFY(phone.isOpen());

        // Messages that arrived before the goodbye still run.
        phone.send(move(1));
        phone.send(move(2));
        phone.socket().close();
        QTRY_COMPARE(m_fake->batchCount(), 4);
        QTRY_COMPARE(m_events, (QStringList{QStringLiteral("connected"), QStringLiteral("disconnected")}));
    }

    void onePhoneAcrossBothTransports()
    {
        Phone tcp;
        QVERIFY(attachTcp(tcp));
        WsPhone web;
        QVERIFY(attachWeb(web));
        QTRY_VERIFY(!tcp.isConnected()); // the browser displaced the TCP phone
        Phone tcp2;
        QVERIFY(attachTcp(tcp2));
        QVERIFY(web.waitClosed()); // and a TCP phone displaces the browser, telling it why
        QCOMPARE(web.closeCode(), Server::CloseReplaced);

        WsPhone first;
        QVERIFY(attachWeb(first));
        WsPhone second;
        QVERIFY(attachWeb(second));
        QVERIFY(first.waitClosed());
        QCOMPARE(first.closeCode(), Server::CloseReplaced);
        QTRY_VERIFY(!tcp2.isConnected());
        QCOMPARE(m_events, (QStringList{QStringLiteral("connected"), QStringLiteral("disconnected"),
                                        QStringLiteral("connected"), QStringLiteral("disconnected"),
                                        QStringLiteral("connected"), QStringLiteral("disconnected"),
                                        QStringLiteral("connected"), QStringLiteral("disconnected"),
                                        QStringLiteral("connected")}));
        // Only the newest phone is heard.
        first.send(move(1));
        second.send(move(2));
        QTRY_COMPARE(m_fake->batchCount(), 1);
        QTest::qWait(50);
        QCOMPARE(m_fake->records(), QVector<InputRecord>{InputRecord::mouse(InputRecord::MouseMove, 2, 0)});
    }

    void stoppingAndRevokingEndTheBrowser()
    {
        WsPhone web;
        QVERIFY(attachWeb(web));
        m_server->dropWebSocketPhone(Server::CloseRevoked);
        QVERIFY(web.waitClosed());
        QCOMPARE(web.closeCode(), Server::CloseRevoked);

        WsPhone again;
        QVERIFY(attachWeb(again));
        m_server->stop();
        QVERIFY(again.waitClosed());
        QCOMPARE(again.closeCode(), Server::CloseGoingAway);
        WsPhone late; // nobody gets in while stopped
        late.open(m_http->port(), kToken);
        QVERIFY(late.waitClosed());
        QCOMPARE(late.closeCode(), Server::CloseServiceStopped);
        QCOMPARE(m_events, (QStringList{QStringLiteral("connected"), QStringLiteral("disconnected"),
                                        QStringLiteral("connected"), QStringLiteral("status:0")}));
    }
};

QTEST_GUILESS_MAIN(tst_ServerWebSocket)
#include "tst_serverwebsocket.moc"
