#include "LoopbackClient.h"
#include "web/HttpServer.h"

#include <QtTest>

#include <memory>

namespace {

QByteArray get(const QByteArray& target)
{
    return QByteArray("GET " + target + " HTTP/1.1\r\nHost: phone\r\n\r\n");
}
void writeFile(const QString& name, const QByteArray& content)
{
    QFile file(name);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
}
const QByteArray Index = "<!DOCTYPE html><html><body>index</body></html>\n";
const QByteArray Page = httpResponse("200 OK", "text/html", Index);
const QByteArray Probe = httpResponse("200 OK", "text/plain", "probe\n");

} // namespace

class TestHttpServer : public QObject
{
    Q_OBJECT
    QTemporaryDir m_root;
    QString m_work = m_root.path() + QStringLiteral("/work");
    std::unique_ptr<HttpServer> m_server;

private slots:
    void initTestCase()
    {
        QVERIFY(QDir().mkpath(m_work + QStringLiteral("/mobile/sub")));
        using Pair = std::pair<const char*, QByteArray>;
        for (const Pair& file :
             {Pair{"mobile/index.html", Index}, Pair{"mobile/hello world.txt", "hello\n"},
              Pair{"mobile/probe.txt", "probe\n"}, Pair{"secret.txt", ""}, Pair{"mobile-private.txt", ""}})
            writeFile(m_work + QLatin1Char('/') + QLatin1String(file.first), file.second);
        for (const Pair& link :
             {Pair{"inside.html", "index.html"}, Pair{"leak.txt", "../secret.txt"}, Pair{"up", ".."}})
            QVERIFY(QFile::link(QString(link.second), m_work + "/mobile/" + link.first));
    }
    void init()
    {
        QVERIFY(QDir::setCurrent(m_work));
        m_server = std::make_unique<HttpServer>();
        m_server->setFallbackFolders({});
        QVERIFY(m_server->start(0));
    }
    void cleanup() { m_server.reset(); }

    void answers_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("expected"); // empty: nothing is written
        const QByteArray notFound = httpError(404, "Not Found"), badRequest = httpError(400, "Bad Request"),
                         notAllowed = httpError(405, "Method Not Allowed");
        QTest::newRow("root") << get("/") << Page;
        QTest::newRow("index") << get("/index.html") << Page;
        QTest::newRow("query ignored") << get("/?v=2&x") << Page;
        QTest::newRow("link inside") << get("/inside.html") << Page;
        QTest::newRow("%20") << get("/hello%20world.txt") << httpResponse("200 OK", "text/plain", "hello\n");
        QTest::newRow("sub-folder") << get("/sub/") << notFound;
        QTest::newRow("empty target") << QByteArray("GET  HTTP/1.1\r\n\r\n") << notFound;
        QTest::newRow("get") << QByteArray("get / HTTP/1.1\r\n\r\n") << notAllowed;
        QTest::newRow("OPTIONS") << QByteArray("OPTIONS / HTTP/1.1\r\n\r\n") << notAllowed;
        QTest::newRow("POST {} reserved") << QByteArray("POST /api/xxx HTTP/1.1\r\n\r\n{}") << QByteArray();
        QTest::newRow("POST []") << QByteArray("POST /api/xxx HTTP/1.1\r\n\r\n[]") << badRequest;
        QTest::newRow("POST text") << QByteArray("POST /api/xxx HTTP/1.1\r\n\r\nhi") << badRequest;
        QTest::newRow("POST {} elsewhere") << QByteArray("POST /api/y HTTP/1.1\r\n\r\n{}") << notFound;
        for (const char* target :
             {"/../secret.txt", "/%2e%2e/secret.txt", "/..%2fsecret.txt", "/%252e%252e/secret.txt",
              "/sub/..%5c..%5csecret.txt", "/index.html%00.txt", "/leak.txt", "/up/secret.txt",
              "-private.txt", "http://phone/../secret.txt"})
            QTest::newRow(target) << get(target) << notFound;
    }

    void answers()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, expected);
        QVERIFY(httpError(404, "Not Found").contains("\r\nContent-Length: 50\r\n")); // the documented size
        LoopbackClient client(m_server->port());
        client.send(request);
        if (expected.isEmpty()) { // silence shows as the next request's answer coming first
            QTest::qWait(100);
            client.send(get("/probe.txt"));
            expected = Probe;
        }
        QCOMPARE(client.next(), expected);
    }

    void framingStallsAndStops()
    {
        m_server->setStallTimeout(300);
        LoopbackClient client(m_server->port());
        client.send("GET /probe.txt HTTP/1.1\r\nHost: phone\r\n");
        QVERIFY(client.next(100).isEmpty());
        client.send("\r\n");
        QCOMPARE(client.next(), Probe);
        client.send(get("/probe.txt") + get("/index.html")); // one segment: the second is dropped
        QCOMPARE(client.next(), Probe);
        QVERIFY(client.next(100).isEmpty());

        // Idle between requests the connection stays; inside one it does not, even trickling.
        QTest::qWait(600);
        QVERIFY(client.open());
        for (int i = 0; i < 15 && client.open(); ++i)
            client.send("G"), QTest::qWait(100);
        QVERIFY(!client.open());
        // A malformed line or an endless head is closed at once.
        for (const QByteArray& bad : {QByteArray("HELLO\r\n\r\n"), QByteArray(70 * 1024, 'a')}) {
            LoopbackClient other(m_server->port());
            other.send(bad);
            QVERIFY(other.waitClosed() && other.in.isEmpty());
        }

        // A connection with nothing in flight is let go after the idle time, unused or not.
        m_server->setIdleTimeout(200);
        LoopbackClient unused(m_server->port()), used(m_server->port());
        used.send(get("/probe.txt"));
        QCOMPARE(used.next(), Probe);
        QVERIFY(unused.waitClosed() && used.waitClosed());

        // Started twice it keeps its port; stopped, it closes what is open and can start again.
        const quint16 port = m_server->port();
        QVERIFY(!m_server->start(0) && m_server->port() == port);
        LoopbackClient half(port);
        half.send("GET / HTT");
        QTest::qWait(50);
        m_server->stop();
        QVERIFY(half.waitClosed() && m_server->port() == 0 && m_server->start(0));
    }

    void largeFilesAreStreamed()
    {
        m_server->setStallTimeout(500);
        QByteArray content(32 * 1024 * 1024 + 7, Qt::Uninitialized);
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(content.data()), content.size() / 4);
        writeFile(m_work + QStringLiteral("/mobile/big.bin"), content);
        {
            LoopbackClient reader(m_server->port());
            reader.send(get("/big.bin"));
            QVERIFY(reader.next(30000).endsWith(QByteArray("\r\n\r\n" + content))); // framed by its length
            reader.send(get("/probe.txt"));
            QCOMPARE(reader.next(), Probe);
        }
        // A peer that stops reading is let go once nothing moves for the timeout.
        QTRY_COMPARE(m_server->findChildren<QTcpSocket*>().size(), 0);
        LoopbackClient stuck(m_server->port());
        stuck.socket.setReadBufferSize(4096);
        stuck.send(get("/big.bin"));
        QTRY_COMPARE(m_server->findChildren<QTcpSocket*>().size(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(m_server->findChildren<QTcpSocket*>().size(), 0, 10000);
        QVERIFY(QFile::remove(m_work + QStringLiteral("/mobile/big.bin")));
    }

    void folderBesideTheProgramIsSearchedLast()
    {
        QTemporaryDir program, elsewhere;
        QVERIFY(QDir(program.path()).mkdir(QStringLiteral("mobile")));
        writeFile(program.path() + QStringLiteral("/mobile/index.html"), "beside\n");
        m_server->setFallbackFolders({program.path() + QStringLiteral("/mobile")});
        LoopbackClient client(m_server->port());
        client.send(get("/"));
        QCOMPARE(client.next(), Page);               // the working directory's folder comes first
        QVERIFY(QDir::setCurrent(elsewhere.path())); // as after launching a player
        client.send(get("/"));
        QVERIFY(client.next().endsWith("\r\n\r\nbeside\n"));
    }
};

QTEST_GUILESS_MAIN(TestHttpServer)
#include "tst_httpserver.moc"
