#include "LoopbackClient.h"
#include "platform/files/FileSenderFake.h"
#include "web/FileResponseCache.h"
#include "web/HostCheck.h"
#include "web/HttpServer.h"

#include <QtTest>

#include <memory>
#include <vector>

namespace {

void writeFile(const QString& name, const QByteArray& content)
{
    QFile file(name);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
}
QByteArray randomBytes(int size, quint32 stream)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(stream);
    for (char& byte : bytes)
        byte = char(generator.generate());
    return bytes;
}
// Reads a whole response through a receive buffer of `window` bytes, taking at most that much
// per turn of the event loop: with a small window the server's socket fills up and waits.
QByteArray readResponse(LoopbackClient& client, int window)
{
    client.socket.setReadBufferSize(window);
    QByteArray reply;
    const auto complete = [&] {
        const int end = reply.indexOf("\r\n\r\n"), at = reply.indexOf("\r\nContent-Length: ") + 18;
        return end >= 0 && at >= 18 &&
               reply.size() >= end + 4 + reply.mid(at, reply.indexOf('\r', at) - at).toInt();
    };
    spinUntil([&] { return (reply += client.socket.read(window), complete() || !client.open()); }, 60000);
    return reply;
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
        m_server = std::make_unique<HttpServer>();
        m_server->setClientFolders({m_work + QStringLiteral("/mobile")});
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
        const QByteArray head = " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        QTest::newRow("empty target") << QByteArray("GET " + head) << notFound;
        QTest::newRow("get") << QByteArray("get /" + head) << notAllowed;
        QTest::newRow("OPTIONS") << QByteArray("OPTIONS /" + head) << notAllowed;
        QTest::newRow("POST {} reserved") << QByteArray("POST /api/xxx" + head + "{}") << QByteArray();
        QTest::newRow("POST []") << QByteArray("POST /api/xxx" + head + "[]") << badRequest;
        QTest::newRow("POST text") << QByteArray("POST /api/xxx" + head + "hi") << badRequest;
        QTest::newRow("POST {} elsewhere") << QByteArray("POST /api/y" + head + "{}") << notFound;
        for (const char* target :
             {"/../secret.txt", "/%2e%2e/secret.txt", "/..%2fsecret.txt", "/%252e%252e/secret.txt",
              "/sub/..%5c..%5csecret.txt", "/index.html%00.txt", "/leak.txt", "/up/secret.txt",
              "-private.txt", "http://127.0.0.1/../secret.txt"})
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
        m_server->setHeaderTimeout(300);
        LoopbackClient client(m_server->port());
        client.send("GET /probe.txt HTTP/1.1\r\nHost: 127.0.0.1\r\n");
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

    void sendfileAndStreamingAgree_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("window"); // the client's receive window: large reads fast
        for (const int size : {0, 1, 64 * 1024, 64 * 1024 + 1, 5 * 1024 * 1024}) {
            QTest::addRow("%d bytes", size) << size << (1 << 24);
            QTest::addRow("%d bytes, slow reader", size) << size << 4096;
        }
    }

    void sendfileAndStreamingAgree()
    {
        QFETCH(int, size);
        QFETCH(int, window);
        const QByteArray content = randomBytes(size, quint32(size));
        writeFile(m_work + QStringLiteral("/mobile/data.bin"), content);
        const QByteArray type =
            QMimeDatabase().mimeTypeForFile(m_work + QStringLiteral("/mobile/data.bin")).name().toUtf8();
        const QByteArray expected = httpResponse("200 OK", type, content);
        // The kernel's sendfile, the fake one (small steps, a full socket after each) and the
        // copy through memory; twice each, so that the second may come from the cache.
        const std::vector<std::pair<const char*, std::function<std::unique_ptr<FileSender>()>>> senders{
            {"sendfile",
             [] {
                 return createFileSender();
             }},
            {"stepping",
             [] {
                 return std::make_unique<FileSenderFake>();
             }},
            {"streaming", [] {
                 return std::unique_ptr<FileSender>();
             }}};
        for (const auto& sender : senders) {
            m_server->setFileSender(sender.second());
            LoopbackClient client(m_server->port());
            for (int round = 0; round < 2; ++round) {
                client.send(get("/data.bin"));
                const QByteArray reply = readResponse(client, window);
                QVERIFY2(reply == expected, sender.first);
            }
            client.send(get("/probe.txt")); // and the connection goes on
            QVERIFY2(readResponse(client, window) == Probe, sender.first);
        }
        QVERIFY(QFile::remove(m_work + QStringLiteral("/mobile/data.bin")));
    }

    void failedSendingEndsOnlyThatConnection()
    {
        const QByteArray content = randomBytes(1024 * 1024, 1);
        writeFile(m_work + QStringLiteral("/mobile/data.bin"), content);
        m_server->setFileSender(std::make_unique<FileSenderFake>(64 * 1024, 300 * 1024));
        LoopbackClient broken(m_server->port());
        broken.send(get("/data.bin"));
        QVERIFY(broken.waitClosed()); // short of the announced length: the peer must see the end
        QVERIFY(broken.in.size() < content.size());
        LoopbackClient other(m_server->port());
        other.send(get("/probe.txt"));
        QCOMPARE(other.next(), Probe);
        QVERIFY(QFile::remove(m_work + QStringLiteral("/mobile/data.bin")));
    }

    void changedFileIsServedFresh_data()
    {
        QTest::addColumn<bool>("replace");      // a new file renamed over the old, or rewritten in place
        QTest::addColumn<qint64>("clockAhead"); // how far the server's clock runs ahead
        // Written in place within one tick of the file system's clock, size and times stay
        // the same: only files that settled before they were read may be kept.
        QTest::newRow("rewritten in place, same size") << false << qint64(0);
        QTest::newRow("replaced, same size, long settled") << true << qint64(3600 * 1000);
    }

    void changedFileIsServedFresh()
    {
        QFETCH(bool, replace);
        QFETCH(qint64, clockAhead);
        m_server->setClock([clockAhead] { return QDateTime::currentMSecsSinceEpoch() + clockAhead; });
        const QString name = m_work + QStringLiteral("/mobile/page.txt");
        LoopbackClient client(m_server->port());
        for (int version = 0; version < 20; ++version) {
            const QByteArray content = "version " + QByteArray::number(version % 10) + '\n';
            if (replace) {
                writeFile(name + QStringLiteral(".new"), content);
                QVERIFY(QFile::remove(name) || version == 0);
                QVERIFY(QFile::rename(name + QStringLiteral(".new"), name));
            } else {
                writeFile(name, content);
            }
            for (int again = 0; again < 2; ++again) {
                client.send(get("/page.txt"));
                QCOMPARE(client.next(), httpResponse("200 OK", "text/plain", content));
            }
        }
        // A file changed just now is read again every time (its next change might keep its
        // times); one long settled is answered from memory on the second request.
        QCOMPARE(m_server->fileCache().hits(), clockAhead > 0 ? 20 : 0);
        QVERIFY(QFile::remove(name));
    }

    void linkLeadingOutIsRefusedEvenWhenCached()
    {
        m_server->setClock([] { return QDateTime::currentMSecsSinceEpoch() + 3600 * 1000; });
        const QString name = m_work + QStringLiteral("/mobile/swap.txt");
        writeFile(name, "inside\n");
        LoopbackClient client(m_server->port());
        for (int i = 0; i < 2; ++i) {
            client.send(get("/swap.txt"));
            QCOMPARE(client.next(), httpResponse("200 OK", "text/plain", "inside\n"));
        }
        QCOMPARE(m_server->fileCache().hits(), 1);
        QVERIFY(QFile::remove(name) && QFile::link(QStringLiteral("../secret.txt"), name));
        client.send(get("/swap.txt"));
        QCOMPARE(client.next(), httpError(404, "Not Found"));
        QVERIFY(QFile::remove(name));
    }

    void typeFollowsEachFilesContent()
    {
        // ".key" names both presentation files and PGP keys; the content decides between them,
        // so two files of one name in different places may differ in type.
        const QByteArray zip("PK\x03\x04\x14\x00\x00\x00", 8);
        const QByteArray pgp("-----BEGIN PGP PUBLIC KEY BLOCK-----\n\nmQENBF\n");
        QVERIFY(QDir().mkpath(m_work + QStringLiteral("/mobile/a")) &&
                QDir().mkpath(m_work + QStringLiteral("/mobile/b")));
        writeFile(m_work + QStringLiteral("/mobile/a/my.key"), zip);
        writeFile(m_work + QStringLiteral("/mobile/b/my.key"), pgp);
        const QMimeDatabase database;
        const QByteArray zipType =
            database.mimeTypeForFile(m_work + QStringLiteral("/mobile/a/my.key")).name().toUtf8();
        const QByteArray pgpType =
            database.mimeTypeForFile(m_work + QStringLiteral("/mobile/b/my.key")).name().toUtf8();
        if (zipType == pgpType)
            QSKIP("this system's MIME database does not tell the two apart by content");
        LoopbackClient client(m_server->port());
        for (int round = 0; round < 2; ++round) {
            client.send(get("/a/my.key"));
            QCOMPARE(client.next(), httpResponse("200 OK", zipType, zip));
            client.send(get("/b/my.key"));
            QCOMPARE(client.next(), httpResponse("200 OK", pgpType, pgp));
        }
    }

    void currentDirectoryIsNeverServed()
    {
        // A "mobile" folder in the current directory (the home folder, or wherever a launched
        // player lives) is not the web client, whatever the client folders hold.
        QTemporaryDir home, program;
        QVERIFY(QDir(home.path()).mkdir(QStringLiteral("mobile")) &&
                QDir(program.path()).mkdir(QStringLiteral("mobile")));
        writeFile(home.path() + QStringLiteral("/mobile/private.txt"), "private\n");
        writeFile(program.path() + QStringLiteral("/mobile/index.html"), "beside\n");
        const QString ours = QDir::currentPath();
        QVERIFY(QDir::setCurrent(home.path()));
        LoopbackClient client(m_server->port());
        for (const QStringList& folders :
             {QStringList(), QStringList{program.path() + QStringLiteral("/mobile")}}) {
            m_server->setClientFolders(folders);
            client.send(get("/private.txt"));
            QCOMPARE(client.next(), httpError(404, "Not Found"));
        }
        client.send(get("/"));
        QVERIFY(client.next().endsWith("\r\n\r\nbeside\n"));
        QVERIFY(QDir::setCurrent(ours));
    }

    void answersOnlyNamesOfThisPc_data()
    {
        QTest::addColumn<QByteArray>("head"); // request line and headers after "GET /probe.txt"
        QTest::addColumn<int>("status");
        const auto host = [](const QByteArray& value) -> QByteArray {
            return " HTTP/1.1\r\nHost: " + value + "\r\n";
        };
        for (const char* own :
             {"192.168.1.20", "192.168.1.20:6888", "[2001:db8::5]:6888", "[fe80::1]", "Velmora-PC",
              "velmora-pc.local.", "localhost:6888", "127.0.0.1:1"}) // the last: where it came in
            QTest::newRow(own) << host(own) << 200;
        QTest::newRow("HTTP/1.0 without Host") << QByteArray(" HTTP/1.0\r\n") << 200;
        for (const char* foreign : {"evil.example", "192.168.1.20.evil.example", "192.168.1.21",
                                    "2001:db8::5", "[2001:db8::5%eth0]", "localhost:99999", "localhost:80/x",
                                    "user@localhost", "velmora-pc.lan", "localhost\r\nHost: evil.example"})
            QTest::newRow(foreign) << host(foreign) << (QByteArray(foreign).contains('\r') ? 400 : 421);
        QTest::newRow("HTTP/1.1 without Host") << QByteArray(" HTTP/1.1\r\n") << 400;
        QTest::newRow("empty Host") << host("") << 400;
        QTest::newRow("absolute target elsewhere") << QByteArray("x HTTP/1.1\r\nHost: localhost\r\n") << 421;
    }

    void answersOnlyNamesOfThisPc()
    {
        // A name pointed at this PC by someone else's DNS reaches it with that name as Host.
        QFETCH(QByteArray, head);
        QFETCH(int, status);
        m_server->setHostCheck(std::make_shared<HostCheck>(
            [] {
                return QStringList{"localhost",   "192.168.1.20", "fe80::1%eth0",
                                   "2001:db8::5", "velmora-pc",   "velmora-pc.local"};
            },
            [] { return qint64(0); }));
        const QByteArray target = head.startsWith("x ") ? "http://evil.example/probe.txt" : "/probe.txt";
        LoopbackClient client(m_server->port());
        if (status != 200)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^HTTP request refused"));
        client.send("GET " + target + head.mid(head.startsWith("x ") ? 1 : 0) + "\r\n");
        const QByteArray reply = client.next();
        QCOMPARE(reply.mid(9, 3).toInt(), status);
        QVERIFY(!reply.contains("Access-Control")); // no other site's page may read it
        if (status != 200)
            QVERIFY(client.waitClosed() && reply.contains("\r\nConnection: close\r\n"));
    }

    void hostNamesAreReadAgainOnlyNowAndThen()
    {
        int reads = 0;
        qint64 now = 0;
        QStringList names{"localhost"};
        HostCheck check(
            [&] {
                ++reads;
                return names;
            },
            [&] { return now; });
        QVERIFY(check.isOwnHost("LOCALHOST:6888", QHostAddress()) && reads == 1);
        names << "10.0.0.7"; // a new address: seen once the names are a second old
        for (int i = 0; i < 100; ++i)
            QVERIFY(!check.isOwnHost("10.0.0.7", QHostAddress()));
        QCOMPARE(reads, 1);
        now += HostCheck::RefreshMs;
        QVERIFY(check.isOwnHost("10.0.0.7", QHostAddress()) && reads == 2);
        QVERIFY(!check.isOwnHost("10.0.0.8", QHostAddress()) && reads == 2);
        QVERIFY(check.isOwnHost("10.0.0.8:80", QHostAddress("::ffff:10.0.0.8"))); // where it came in
    }
};

QTEST_GUILESS_MAIN(TestHttpServer)
#include "tst_httpserver.moc"
