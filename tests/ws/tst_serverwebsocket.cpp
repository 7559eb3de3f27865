#include "WsTestSupport.h"
#include "remote/RemoteTestSupport.h"

#include "data/AppService.h"
#include "platform/InputBackendFake.h"
#include "remote/Server.h"
#include "web/HttpServer.h"
#include "web/WebClientChannel.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>

#include <memory>

namespace {

const QString kToken = QStringLiteral("00112233445566778899aabbccddeeff");

} // namespace

// The command server with a browser phone: the web channel in front of the HTTP server
// hands authenticated sockets to the same Server that serves TCP phones.
class tst_ServerWebSocket : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Server> m_server;
    std::unique_ptr<HttpServer> m_http;
    std::unique_ptr<WebClientChannel> m_channel;
    InputBackendFake* m_fake = nullptr;
    QStringList m_events;

    quint16 webPort() const { return m_http->port(); }

    bool attachTcp(Phone& phone)
    {
        QSignalSpy connected(m_server.get(), &Server::clientConnected);
        return phone.connectTo(m_server->serverPort()) && (connected.count() > 0 || connected.wait(5000));
    }
    bool attachWeb(WsPhone& phone)
    {
        QSignalSpy connected(m_server.get(), &Server::clientConnected);
        return phone.open(webPort(), kToken) && (connected.count() > 0 || connected.wait(5000));
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
                [this](const QString& info) { m_events << QStringLiteral("connected:") + info; });
        connect(m_server.get(), &Server::clientDisconnected, this,
                [this] { m_events << QStringLiteral("disconnected"); });
        QVERIFY(m_server->start(0));

        m_http = std::make_unique<HttpServer>();
        QVERIFY(m_http->start(0));
        m_channel = std::make_unique<WebClientChannel>([](const QString& token) { return token == kToken; });
        m_channel->attachTo(m_http.get());
        Server* server = m_server.get();
        m_channel->setPhoneHandler([server](QWebSocket* socket) { server->acceptWebSocket(socket); });
        m_events.clear();
    }
    void cleanup()
    {
        m_channel.reset();
        m_http.reset();
        m_server.reset();
        AppService::instance()->apps().clear();
    }

    void messagesRunThroughTheCommandDispatcher()
    {
        LogCapture log;
        WsPhone phone;
        QVERIFY(attachWeb(phone));
        QCOMPARE(m_events.size(), 1);
        QVERIFY(m_events.at(0).startsWith(QStringLiteral("connected:")));
        QVERIFY(m_events.at(0).endsWith(QLatin1Char(':') + QString::number(phone.socket().localPort())));

        phone.send(QStringLiteral("{\"command\":\"mousemove\",\"params\":{\"dx\":5,\"dy\":-2}}"));
        phone.send(QStringLiteral("not json"));
        phone.send(QStringLiteral("[1]"));
        phone.socket().sendBinaryMessage("{\"command\":\"mousemove\",\"params\":{\"dx\":1}}");
        // A trailing line feed is JSON white space, as on TCP.
        phone.send(QStringLiteral("{\"command\":\"mousemove\",\"params\":{\"dy\":7}}\n"));
        QTRY_COMPARE(m_fake->batchCount(), 2);
        QCOMPARE(m_fake->records(), (QVector<InputRecord>{InputRecord::mouse(InputRecord::MouseMove, 5, -2),
                                                          InputRecord::mouse(InputRecord::MouseMove, 0, 7)}));
        QCOMPARE(log.count(QStringLiteral("接收到无效的JSON数据")), 3);
        QVERIFY(phone.isOpen());                   // bad messages are skipped, not punished
        QCOMPARE(phone.messages(), QStringList()); // nothing but the listings is answered
    }

    void listingRepliesComeBackAsTextMessages()
    {
        auto app = std::make_shared<DesktopApp>();
        app->setName(QStringLiteral("Editor"));
        app->setPath(QStringLiteral("/usr/bin/editor"));
        app->setWorkDir(QStringLiteral("/tmp"));
        app->setParam(QStringLiteral("--new"));
        AppService::instance()->apps().append(app);

        WsPhone phone;
        QVERIFY(attachWeb(phone));
        phone.send(QStringLiteral("{\"command\":\"appexplore\",\"params\":{}}"));
        QVERIFY(phone.waitMessages(1));
        const QString reply = phone.messages().at(0);
        QVERIFY(!reply.endsWith(QLatin1Char('\n'))); // the message is the frame
        const QJsonObject object = QJsonDocument::fromJson(reply.toUtf8()).object();
        QCOMPARE(object.value(QStringLiteral("command")).toString(), QStringLiteral("appexplore"));
        const QJsonArray apps =
            object.value(QStringLiteral("params")).toObject().value(QStringLiteral("apps")).toArray();
        QCOMPARE(apps.size(), 1);
        QCOMPARE(apps.at(0).toObject().value(QStringLiteral("args")).toString(), QStringLiteral("--new"));

        phone.send(QStringLiteral("{\"command\":\"mediaexplore\",\"params\":{\"path\":\"/\"}}"));
        QVERIFY(phone.waitMessages(2));
        QVERIFY(phone.messages().at(1).startsWith(QStringLiteral("{\"command\":\"mediaexplore\"")));
    }

    void onePhoneAcrossBothTransports()
    {
        Phone tcp;
        QVERIFY(attachTcp(tcp));
        WsPhone web;
        QVERIFY(attachWeb(web));
        // The browser displaced the TCP phone.
        QTRY_VERIFY(!tcp.isConnected());
        QCOMPARE(m_events.size(), 3);
        QCOMPARE(m_events.at(1), QStringLiteral("disconnected"));
        QVERIFY(m_events.at(2).startsWith(QStringLiteral("connected:")));

        // A TCP phone displaces the browser, which is told why.
        Phone tcp2;
        QVERIFY(attachTcp(tcp2));
        QVERIFY(web.waitClosed());
        QCOMPARE(web.closeCode(), Server::CloseReplaced);
        QCOMPARE(m_events.mid(3), (QStringList{QStringLiteral("disconnected"), m_events.last()}));
        // Its commands are the ones that count now.
        tcp2.send("{\"command\":\"mousemove\",\"params\":{\"dx\":1}}\n");
        QTRY_COMPARE(m_fake->batchCount(), 1);

        // Browser after browser: the newer one wins.
        WsPhone first;
        QVERIFY(attachWeb(first));
        QTRY_VERIFY(!tcp2.isConnected());
        WsPhone second;
        QVERIFY(attachWeb(second));
        QVERIFY(first.waitClosed());
        QCOMPARE(first.closeCode(), Server::CloseReplaced);
        first.send(QStringLiteral("{\"command\":\"mousemove\",\"params\":{\"dx\":1}}"));
        second.send(QStringLiteral("{\"command\":\"mousemove\",\"params\":{\"dx\":2}}"));
        QTRY_COMPARE(m_fake->batchCount(), 2);
        QTest::qWait(50);
        QCOMPARE(m_fake->batchCount(), 2);
        QCOMPARE(m_fake->records().last(), InputRecord::mouse(InputRecord::MouseMove, 2, 0));

        // Leaving: one clientDisconnected, and no phone any more.
        m_events.clear();
        second.socket().close();
        QTRY_COMPARE(m_events, QStringList(QStringLiteral("disconnected")));
    }

    void stoppedServerTurnsBrowsersAway()
    {
        WsPhone web;
        QVERIFY(attachWeb(web));
        m_events.clear();
        m_server->stop();
        QVERIFY(web.waitClosed());
        QCOMPARE(web.closeCode(), Server::CloseGoingAway);
        QCOMPARE(m_events, QStringList(QStringLiteral("status:0")));

        WsPhone late;
        late.open(webPort(), kToken);
        QVERIFY(late.waitClosed());
        QCOMPARE(late.closeCode(), Server::CloseServiceStopped);
        QCOMPARE(m_events, QStringList(QStringLiteral("status:0")));

        QVERIFY(m_server->start(0));
        WsPhone again;
        QVERIFY(attachWeb(again));
    }

    void revokingDropsOnlyTheBrowser()
    {
        WsPhone web;
        QVERIFY(attachWeb(web));
        m_events.clear();
        m_server->dropWebSocketPhone(Server::CloseRevoked);
        QVERIFY(web.waitClosed());
        QCOMPARE(web.closeCode(), Server::CloseRevoked);
        QCOMPARE(m_events, QStringList(QStringLiteral("disconnected")));

        Phone tcp;
        QVERIFY(attachTcp(tcp));
        m_server->dropWebSocketPhone(Server::CloseRevoked);
        QTest::qWait(50);
        QVERIFY(tcp.isConnected());
    }

    void messagesBeforeTheGoodbyeStillRun()
    {
        WsPhone phone;
        QVERIFY(attachWeb(phone));
        for (int i = 1; i <= 3; ++i)
            phone.send(QStringLiteral("{\"command\":\"mousemove\",\"params\":{\"dx\":%1}}").arg(i));
        phone.socket().close();
        QTRY_COMPARE(m_fake->batchCount(), 3);
    }
};

QTEST_GUILESS_MAIN(tst_ServerWebSocket)
#include "tst_serverwebsocket.moc"
