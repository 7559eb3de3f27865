#include "HttpTestClient.h"
#include "web/HttpServer.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QPointer>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <unistd.h>

namespace {

QStringList g_log;
void captureLog(QtMsgType, const QMessageLogContext&, const QString& message)
{
    g_log << message;
}

QByteArray get(const QByteArray& target)
{
    return QByteArray("GET " + target + " HTTP/1.1\r\nHost: phone\r\n\r\n");
}

QByteArray errorBody(const QByteArray& message)
{
    return QByteArray("{\n    \"error\": true,\n    \"message\": \"" + message + "\"\n}\n");
}

QByteArray expectedHead(int status, const QByteArray& type, qint64 length)
{
    static const QMap<int, QByteArray> reasons{{200, "OK"},
                                               {400, "Bad Request"},
                                               {404, "Not Found"},
                                               {405, "Method Not Allowed"},
                                               {500, "Internal Server Error"}};
    return QByteArray("HTTP/1.1 " + QByteArray::number(status) + ' ' + reasons.value(status) +
                      "\r\nContent-Type: " + type + "\r\nContent-Length: " + QByteArray::number(length) +
                      "\r\nAccess-Control-Allow-Origin: *\r\n\r\n");
}

void writeFile(const QString& name, const QByteArray& content)
{
    QFile file(name);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

const QByteArray Index = "<!DOCTYPE html><html><body>index</body></html>\n";

} // namespace

class TestHttpServer : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void answers_data();
    void answers();
    void startAndStop();
    void framingAndStalls();
    void largeFilesAreStreamed();
    void folderBesideTheProgramIsSearchedLast();
    void upgradeRequestsAreHandedOff();
    void unreadableFileIs500();

private:
    QTemporaryDir m_root;
    QString m_work;
    std::unique_ptr<HttpServer> m_server;
};

void TestHttpServer::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    m_work = m_root.path() + QStringLiteral("/work");
    QVERIFY(QDir().mkpath(m_work + QStringLiteral("/mobile/sub")));
    writeFile(m_work + QStringLiteral("/mobile/index.html"), Index);
    writeFile(m_work + QStringLiteral("/mobile/hello world.txt"), "hello\n");
    writeFile(m_work + QStringLiteral("/mobile/probe.txt"), "probe\n");
    writeFile(m_work + QStringLiteral("/mobile/sub/a.txt"), "a\n");
    writeFile(m_work + QStringLiteral("/secret.txt"), "secret\n");
    writeFile(m_work + QStringLiteral("/mobile-private.txt"), "private\n");
    QVERIFY(QFile::link(QStringLiteral("index.html"), m_work + QStringLiteral("/mobile/inside.html")));
    QVERIFY(QFile::link(QStringLiteral("../secret.txt"), m_work + QStringLiteral("/mobile/leak.txt")));
    QVERIFY(QFile::link(QStringLiteral(".."), m_work + QStringLiteral("/mobile/up")));
    // The documented sizes of the error documents.
    QCOMPARE(errorBody("Not Found").size(), 50);
    QCOMPARE(errorBody("Bad Request").size(), 52);
    QCOMPARE(errorBody("Method Not Allowed").size(), 59);
    QCOMPARE(errorBody("Internal Server Error").size(), 62);
}

void TestHttpServer::init()
{
    QVERIFY(QDir::setCurrent(m_work));
    m_server = std::make_unique<HttpServer>();
    m_server->setFallbackFolders({});
    QVERIFY(m_server->start(0));
}

void TestHttpServer::cleanup()
{
    m_server.reset();
}

void TestHttpServer::answers_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("status"); // 0: nothing written, -1: the server closes the connection
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<QByteArray>("body");
    const QByteArray html = "text/html", json = "application/json", text = "text/plain";
    const QByteArray notFound = errorBody("Not Found");
    QTest::newRow("root") << get("/") << 200 << html << Index;
    QTest::newRow("index") << get("/index.html") << 200 << html << Index;
    QTest::newRow("query ignored") << get("/?v=2&x") << 200 << html << Index;
    QTest::newRow("%20 decoded") << get("/hello%20world.txt") << 200 << text << QByteArray("hello\n");
    QTest::newRow("symlink inside") << get("/inside.html") << 200 << html << Index;
    QTest::newRow("sub-folder") << get("/sub") << 404 << json << notFound;
    QTest::newRow("sub-folder slash") << get("/sub/") << 404 << json << notFound;
    QTest::newRow("empty target") << QByteArray("GET  HTTP/1.1\r\n\r\n") << 404 << json << notFound;
    QTest::newRow("lower-case get") << QByteArray("get / HTTP/1.1\r\n\r\n") << 405 << json
                                    << errorBody("Method Not Allowed");
    QTest::newRow("OPTIONS") << QByteArray("OPTIONS / HTTP/1.1\r\n\r\n") << 405 << json
                             << errorBody("Method Not Allowed");
    QTest::newRow("POST {} reserved")
        << QByteArray("POST /api/xxx HTTP/1.1\r\n\r\n{}") << 0 << text << QByteArray();
    QTest::newRow("POST []") << QByteArray("POST /api/xxx HTTP/1.1\r\n\r\n[]") << 400 << json
                             << errorBody("Bad Request");
    QTest::newRow("POST text") << QByteArray("POST /api/xxx HTTP/1.1\r\n\r\nhi") << 400 << json
                               << errorBody("Bad Request");
    QTest::newRow("POST empty") << QByteArray("POST /api/xxx HTTP/1.1\r\n\r\n") << 400 << json
                                << errorBody("Bad Request");
    QTest::newRow("POST {} elsewhere")
        << QByteArray("POST /api/yyy HTTP/1.1\r\n\r\n{}") << 404 << json << notFound;
    for (const char* target :
         {"/../secret.txt", "/%2e%2e/secret.txt", "/..%2fsecret.txt", "/%252e%252e/secret.txt",
          "/..%5csecret.txt", "/sub/..%5c..%5csecret.txt", "/index.html%00.txt", "/leak.txt",
          "/up/secret.txt", "-private.txt", "http://phone/../secret.txt"})
        QTest::newRow(target) << get(target) << 404 << json << notFound;
    QTest::newRow("malformed line") << QByteArray("HELLO\r\n\r\n") << -1 << json << QByteArray();
    QTest::newRow("endless head") << QByteArray(70 * 1024, 'a') << -1 << json << QByteArray();
    QTest::newRow("huge head") << get("/" + QByteArray(65 * 1024, 'a')) << -1 << json << QByteArray();
}

void TestHttpServer::answers()
{
    QFETCH(QByteArray, request);
    QFETCH(int, status);
    QFETCH(QByteArray, type);
    QFETCH(QByteArray, body);
    HttpTestClient client;
    QVERIFY(client.connectTo(m_server->port()));
    client.send(request);
    if (status == -1) {
        QVERIFY(client.waitClosed());
        return;
    }
    if (status == 0) {
        // Silence shows as the next request's answer coming first.
        QTest::qWait(100);
        client.send(get("/probe.txt"));
        status = 200;
        body = "probe\n";
    }
    const HttpReply reply = client.next();
    QCOMPARE(reply.head, expectedHead(status, type, body.size()));
    QCOMPARE(reply.body, body);
}

void TestHttpServer::startAndStop()
{
    const quint16 port = m_server->port();
    QVERIFY(!m_server->start(0));
    QCOMPARE(m_server->port(), port);
    HttpServer other;
    QVERIFY(!other.start(port));
    QVERIFY(!other.isListening());

    HttpTestClient client;
    QVERIFY(client.connectTo(port));
    client.send("GET / HTT");
    QTest::qWait(50);
    m_server->stop();
    QVERIFY(client.waitClosed());
    QCOMPARE(m_server->port(), quint16(0));
    QVERIFY(m_server->start(0));
}

void TestHttpServer::framingAndStalls()
{
    m_server->setStallTimeout(300);
    HttpTestClient client;
    QVERIFY(client.connectTo(m_server->port()));
    client.send("GET /probe.txt HTTP/1.1\r\nHost: phone\r\n");
    QTest::qWait(100);
    QVERIFY(client.received().isEmpty());
    client.send("\r\n");
    QCOMPARE(client.next().body, QByteArray("probe\n"));

    // Two requests in one segment: only the first is answered.
    client.send(get("/probe.txt") + get("/index.html"));
    QCOMPARE(client.next().body, QByteArray("probe\n"));
    QTest::qWait(100);
    client.send(get("/hello%20world.txt"));
    QCOMPARE(client.next().body, QByteArray("hello\n"));

    // Idle between requests the connection stays; inside a request it does not, even trickling.
    QTest::qWait(700);
    QVERIFY(client.isOpen());
    for (int i = 0; i < 15 && client.isOpen(); ++i) {
        client.send("G");
        QTest::qWait(100);
    }
    QVERIFY(client.waitClosed(1000));
}

void TestHttpServer::largeFilesAreStreamed()
{
    m_server->setStallTimeout(500);
    QByteArray content(32 * 1024 * 1024 + 7, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(content.data()), content.size() / 4);
    writeFile(m_work + QStringLiteral("/mobile/big.bin"), content);

    HttpTestClient reader;
    QVERIFY(reader.connectTo(m_server->port()));
    reader.send(get("/big.bin"));
    const HttpReply reply = reader.next(30000);
    QVERIFY(reply.head.contains("\r\nContent-Length: " + QByteArray::number(content.size()) + "\r\n"));
    QVERIFY(reply.body == content);
    reader.send(get("/probe.txt"));
    QCOMPARE(reader.next().body, QByteArray("probe\n"));
    reader.socket().abort();
    QTRY_COMPARE(m_server->findChildren<QTcpSocket*>().size(), 0);

    // A peer that stops reading is let go once nothing moves for the timeout.
    HttpTestClient stuck;
    stuck.socket().setReadBufferSize(4096);
    QVERIFY(stuck.connectTo(m_server->port()));
    stuck.send(get("/big.bin"));
    QTRY_COMPARE(m_server->findChildren<QTcpSocket*>().size(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(m_server->findChildren<QTcpSocket*>().size(), 0, 10000);
    QVERIFY(QFile::remove(m_work + QStringLiteral("/mobile/big.bin")));
}

void TestHttpServer::folderBesideTheProgramIsSearchedLast()
{
    QTemporaryDir program, elsewhere;
    QVERIFY(QDir(program.path()).mkdir(QStringLiteral("mobile")));
    writeFile(program.path() + QStringLiteral("/mobile/index.html"), "beside\n");
    m_server->setFallbackFolders({program.path() + QStringLiteral("/mobile")});
    HttpTestClient client;
    QVERIFY(client.connectTo(m_server->port()));

    client.send(get("/"));
    QCOMPARE(client.next().body, Index);

    // Launching a player moved the working directory away from the web client.
    QVERIFY(QDir::setCurrent(elsewhere.path()));
    g_log.clear();
    const QtMessageHandler previous = qInstallMessageHandler(captureLog);
    client.send(get("/"));
    const HttpReply reply = client.next();
    qInstallMessageHandler(previous);
    QCOMPARE(reply.body, QByteArray("beside\n"));
    const QString cwd = QDir::currentPath();
    if (QLoggingCategory::defaultCategory()->isDebugEnabled())
        QCOMPARE(g_log.filter(QStringLiteral("Trying path:")),
                 QStringList({QStringLiteral("Trying path: \"mobile/index.html\""),
                              QStringLiteral("Trying path: \"%1/mobile/index.html\"").arg(cwd),
                              QStringLiteral("Trying path: \"%1/mobile/index.html\"").arg(program.path())}));

    const QStringList defaults = HttpServer::defaultFallbackFolders();
    QCOMPARE(defaults.value(0), QCoreApplication::applicationDirPath() + QStringLiteral("/mobile"));
    QVERIFY(defaults.value(1).endsWith(QStringLiteral("/share/velmora/mobile")));
}

void TestHttpServer::upgradeRequestsAreHandedOff()
{
    const QByteArray upgrade =
        "GET /ws?token=ab HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n\r\n";
    HttpTestClient plain;
    QVERIFY(plain.connectTo(m_server->port()));
    plain.send(upgrade);
    QCOMPARE(plain.next().status(), 404);

    QPointer<QTcpSocket> taken;
    QByteArray raw;
    m_server->setUpgradeHandler([&](QTcpSocket* socket, const QByteArray& request) {
        taken = socket;
        raw = request;
        socket->write("switched");
    });
    HttpTestClient client;
    QVERIFY(client.connectTo(m_server->port()));
    client.send(upgrade);
    QVERIFY(client.spinUntil([&] { return client.received() == "switched"; }));
    QCOMPARE(raw, upgrade);
    QVERIFY(taken && !taken->parent());
    m_server->stop();
    QVERIFY(taken && client.isOpen());
    delete taken;
}

void TestHttpServer::unreadableFileIs500()
{
    if (geteuid() == 0)
        QSKIP("root opens any file");
    const QString name = m_work + QStringLiteral("/mobile/locked.txt");
    writeFile(name, "locked\n");
    QVERIFY(QFile::setPermissions(name, QFileDevice::Permissions()));
    HttpTestClient client;
    QVERIFY(client.connectTo(m_server->port()));
    client.send(get("/locked.txt"));
    const HttpReply reply = client.next();
    QFile::remove(name);
    QCOMPARE(reply.head, expectedHead(500, "application/json", 62));
    QCOMPARE(reply.body, errorBody("Internal Server Error"));
}

QTEST_GUILESS_MAIN(TestHttpServer)
#include "tst_httpserver.moc"
