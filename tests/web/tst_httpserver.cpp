#include "web/HttpServer.h"

#include <QLoggingCategory>
#include <QPointer>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <unistd.h>

namespace {

// A raw loopback client on the server's own event loop: every wait spins that loop.
struct Client
{
    QTcpSocket socket;
    QByteArray in;
    explicit Client(quint16 port)
    {
        socket.connectToHost(QStringLiteral("127.0.0.1"), port), spin(&Client::open);
    }
    void send(const QByteArray& bytes) { socket.write(bytes), socket.flush(); }
    bool open() const { return socket.state() == QAbstractSocket::ConnectedState; }
    bool closed() const { return !open(); }
    bool whole() const
    {
        return in.indexOf("\r\n\r\n") >= 0 && in.size() >= in.indexOf("\r\n\r\n") + 4 + length();
    }
    qint64 length() const
    {
        const int at = in.indexOf("Content-Length: ");
        return at < 0 ? 0 : in.mid(at + 16, in.indexOf('\r', at) - at - 16).toLongLong();
    }
    bool spin(bool (Client::*done)() const, int ms = 5000)
    {
        QElapsedTimer timer;
        for (timer.start(); !(this->*done)() && timer.elapsed() < ms; in += socket.readAll())
            QTest::qWait(2);
        return (this->*done)();
    }
    // The next whole response as head and body; empty when none comes.
    QPair<QByteArray, QByteArray> next(int ms = 5000)
    {
        if (!spin(&Client::whole, ms))
            return {};
        const int end = in.indexOf("\r\n\r\n") + 4, size = int(length());
        const QPair<QByteArray, QByteArray> reply{in.left(end), in.mid(end, size)};
        in.remove(0, end + size);
        return reply;
    }
};

QStringList g_log;
QByteArray get(const QByteArray& target)
{
    return QByteArray("GET " + target + " HTTP/1.1\r\nHost: phone\r\n\r\n");
}
QByteArray errorBody(const QByteArray& message)
{
    return QByteArray("{\n    \"error\": true,\n    \"message\": \"" + message + "\"\n}\n");
}
QByteArray head(int status, const QByteArray& type, qint64 length)
{
    const QByteArray reason = QMap<int, QByteArray>{{200, "OK"},
                                                    {400, "Bad Request"},
                                                    {404, "Not Found"},
                                                    {405, "Method Not Allowed"},
                                                    {500, "Internal Server Error"}}[status];
    return QByteArray("HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\nContent-Type: " + type +
                      "\r\nContent-Length: " + QByteArray::number(length) +
                      "\r\nAccess-Control-Allow-Origin: *\r\n\r\n");
}
void writeFile(const QString& name, const QByteArray& content)
{
    QFile file(name);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
}
const QByteArray Index = "<!DOCTYPE html><html><body>index</body></html>\n";

} // namespace

class TestHttpServer : public QObject
{
    Q_OBJECT
    QTemporaryDir m_root;
    QString m_work;
    std::unique_ptr<HttpServer> m_server;

private slots:
    void initTestCase()
    {
        m_work = m_root.path() + QStringLiteral("/work");
        QVERIFY(QDir().mkpath(m_work + QStringLiteral("/mobile/sub")));
        using Pair = std::pair<const char*, QByteArray>;
        for (const Pair& file : {Pair{"mobile/index.html", Index}, Pair{"mobile/hello world.txt", "hello\n"},
                                 Pair{"mobile/probe.txt", "probe\n"}, Pair{"mobile/locked.txt", ""},
                                 Pair{"secret.txt", ""}, Pair{"mobile-private.txt", ""}})
            writeFile(m_work + QLatin1Char('/') + QLatin1String(file.first), file.second);
        QVERIFY(QFile::setPermissions(m_work + QStringLiteral("/mobile/locked.txt"), {}));
        for (const Pair& link :
             {Pair{"inside.html", "index.html"}, Pair{"leak.txt", "../secret.txt"}, Pair{"up", ".."}})
            QVERIFY(
                QFile::link(QString::fromUtf8(link.second), m_work + "/mobile/" + QLatin1String(link.first)));
    }

    void init()
    {
        QVERIFY(QDir::setCurrent(m_work));
        m_server = std::make_unique<HttpServer>();
        m_server->setFallbackFolders({});
        QVERIFY(m_server->start(0));
    }
    void cleanup() { m_server.reset(); }

    void answers_data();
    void answers();
    void startAndStop();
    void framingAndStalls();
    void largeFilesAreStreamed();
    void folderBesideTheProgramIsSearchedLast();
    void upgradeRequestsAreHandedOff();
};

void TestHttpServer::answers_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("status"); // 0: nothing written, -1: the server closes the connection
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<QByteArray>("body");
    const QByteArray html = "text/html", json = "application/json", notFound = errorBody("Not Found");
    const QByteArray badRequest = errorBody("Bad Request"), notAllowed = errorBody("Method Not Allowed");
    QTest::newRow("root") << get("/") << 200 << html << Index;
    QTest::newRow("index") << get("/index.html") << 200 << html << Index;
    QTest::newRow("query ignored") << get("/?v=2&x") << 200 << html << Index;
    QTest::newRow("%20") << get("/hello%20world.txt") << 200 << QByteArray("text/plain")
                         << QByteArray("hello\n");
    QTest::newRow("link inside") << get("/inside.html") << 200 << html << Index;
    QTest::newRow("sub-folder") << get("/sub/") << 404 << json << notFound;
    QTest::newRow("empty target") << QByteArray("GET  HTTP/1.1\r\n\r\n") << 404 << json << notFound;
    QTest::newRow("get") << QByteArray("get / HTTP/1.1\r\n\r\n") << 405 << json << notAllowed;
    QTest::newRow("OPTIONS") << QByteArray("OPTIONS / HTTP/1.1\r\n\r\n") << 405 << json << notAllowed;
    QTest::newRow("POST {} reserved")
        << QByteArray("POST /api/xxx HTTP/1.1\r\n\r\n{}") << 0 << json << QByteArray();
    QTest::newRow("POST []") << QByteArray("POST /api/xxx HTTP/1.1\r\n\r\n[]") << 400 << json << badRequest;
    QTest::newRow("POST text") << QByteArray("POST /api/xxx HTTP/1.1\r\n\r\nhi") << 400 << json << badRequest;
    QTest::newRow("POST {} elsewhere")
        << QByteArray("POST /api/y HTTP/1.1\r\n\r\n{}") << 404 << json << notFound;
    for (const char* target : {"/../secret.txt", "/%2e%2e/secret.txt", "/..%2fsecret.txt",
                               "/%252e%252e/secret.txt", "/sub/..%5c..%5csecret.txt", "/index.html%00.txt",
                               "/leak.txt", "/up/secret.txt", "-private.txt", "http://phone/../secret.txt"})
        QTest::newRow(target) << get(target) << 404 << json << notFound;
    if (geteuid() != 0) // root opens any file
        QTest::newRow("unreadable") << get("/locked.txt") << 500 << json
                                    << errorBody("Internal Server Error");
    QTest::newRow("malformed line") << QByteArray("HELLO\r\n\r\n") << -1 << json << QByteArray();
    QTest::newRow("endless head") << QByteArray(70 * 1024, 'a') << -1 << json << QByteArray();
}

void TestHttpServer::answers()
{
    QFETCH(QByteArray, request);
    QFETCH(int, status);
    QFETCH(QByteArray, type);
    QFETCH(QByteArray, body);
    QCOMPARE(errorBody("Not Found").size(), 50); // the documented sizes: 404 50, 400 52, 405 59, 500 62
    Client client(m_server->port());
    client.send(request);
    if (status == -1) {
        QVERIFY(client.spin(&Client::closed));
        return;
    }
    if (status == 0) { // silence shows as the next request's answer coming first
        QTest::qWait(100);
        client.send(get("/probe.txt"));
        status = 200, type = "text/plain", body = "probe\n";
    }
    const auto reply = client.next();
    QCOMPARE(reply.first, head(status, type, body.size()));
    QCOMPARE(reply.second, body);
}

void TestHttpServer::startAndStop()
{
    const quint16 port = m_server->port();
    QVERIFY(!m_server->start(0));
    QCOMPARE(m_server->port(), port);
    HttpServer other;
    QVERIFY(!other.start(port) && !other.isListening());
    Client client(port);
    client.send("GET / HTT");
    QTest::qWait(50);
    m_server->stop();
    QVERIFY(client.spin(&Client::closed));
    QVERIFY(m_server->port() == 0 && m_server->start(0));
}

void TestHttpServer::framingAndStalls()
{
    m_server->setStallTimeout(300);
    Client client(m_server->port());
    client.send("GET /probe.txt HTTP/1.1\r\nHost: phone\r\n");
    QTest::qWait(100);
    QVERIFY(client.in.isEmpty());
    client.send("\r\n");
    QCOMPARE(client.next().second, QByteArray("probe\n"));
    client.send(get("/probe.txt") + get("/index.html")); // one segment: the second is dropped
    QCOMPARE(client.next().second, QByteArray("probe\n"));
    QTest::qWait(100);
    client.send(get("/hello%20world.txt"));
    QCOMPARE(client.next().second, QByteArray("hello\n"));

    // Idle between requests the connection stays; inside one it does not, even trickling.
    QTest::qWait(700);
    QVERIFY(client.open());
    for (int i = 0; i < 15 && client.open(); ++i) {
        client.send("G");
        QTest::qWait(100);
    }
    QVERIFY(!client.open());
}

void TestHttpServer::largeFilesAreStreamed()
{
    m_server->setStallTimeout(500);
    QByteArray content(32 * 1024 * 1024 + 7, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(content.data()), content.size() / 4);
    writeFile(m_work + QStringLiteral("/mobile/big.bin"), content);
    {
        Client reader(m_server->port());
        reader.send(get("/big.bin"));
        const auto reply = reader.next(30000);
        QVERIFY(reply.first.contains("\r\nContent-Length: " + QByteArray::number(content.size()) + "\r\n"));
        QVERIFY(reply.second == content);
        reader.send(get("/probe.txt"));
        QCOMPARE(reader.next().second, QByteArray("probe\n"));
    }
    // A peer that stops reading is let go once nothing moves for the timeout.
    QTRY_COMPARE(m_server->findChildren<QTcpSocket*>().size(), 0);
    Client stuck(m_server->port());
    stuck.socket.setReadBufferSize(4096);
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
    Client client(m_server->port());
    client.send(get("/"));
    QCOMPARE(client.next().second, Index);

    QVERIFY(QDir::setCurrent(elsewhere.path())); // as after launching a player
    g_log.clear();
    const auto previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& m) { g_log << m; });
    client.send(get("/"));
    const auto reply = client.next();
    qInstallMessageHandler(previous);
    QCOMPARE(reply.second, QByteArray("beside\n"));
    if (QLoggingCategory::defaultCategory()->isDebugEnabled())
        QCOMPARE(
            g_log.filter(QStringLiteral("Trying path:")),
            QStringList({QStringLiteral("Trying path: \"mobile/index.html\""),
                         QStringLiteral("Trying path: \"%1/mobile/index.html\"").arg(QDir::currentPath()),
                         QStringLiteral("Trying path: \"%1/mobile/index.html\"").arg(program.path())}));
    QVERIFY(HttpServer::defaultFallbackFolders().value(1).endsWith(QStringLiteral("/share/velmora/mobile")));
}

void TestHttpServer::upgradeRequestsAreHandedOff()
{
    const QByteArray upgrade = "GET /ws?t=1 HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n\r\n";
    Client plain(m_server->port());
    plain.send(upgrade);
    QCOMPARE(plain.next().first, head(404, "application/json", 50)); // no taker: an ordinary GET

    QPointer<QTcpSocket> taken;
    QByteArray raw;
    m_server->setUpgradeHandler([&](QTcpSocket* socket, const QByteArray& request) {
        taken = socket, raw = request;
        socket->write("switched");
    });
    Client client(m_server->port());
    client.send(upgrade);
    QTRY_COMPARE(client.in += client.socket.readAll(), QByteArray("switched"));
    QVERIFY(raw == upgrade && taken && !taken->parent());
    m_server->stop();
    QVERIFY(taken && client.open());
    delete taken;
}

QTEST_GUILESS_MAIN(TestHttpServer)
#include "tst_httpserver.moc"
