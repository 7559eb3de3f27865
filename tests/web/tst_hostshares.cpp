// How the web port shares its places between hosts: one host cannot crowd out another, many
// hosts cannot fill it against a newcomer, and a host is counted as the address it controls.

#include "LoopbackClient.h"
#include "support/LogCapture.h"
#include "web/HttpAdmission.h"
#include "web/HttpServer.h"

#include <QtTest>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

const QByteArray Index = "<!DOCTYPE html><html><body>index</body></html>\n";
const QByteArray Page = httpResponse("200 OK", "text/html", Index);

} // namespace

class TestHostShares : public QObject
{
    Q_OBJECT
    QTemporaryDir m_root;
    std::unique_ptr<HttpServer> m_server;

private slots:
    void initTestCase()
    {
        QFile index(m_root.path() + QStringLiteral("/index.html"));
        QVERIFY(index.open(QIODevice::WriteOnly) && index.write(Index) == Index.size());
    }
    void init()
    {
        m_server = std::make_unique<HttpServer>();
        m_server->setClientFolders({m_root.path()});
        QVERIFY(m_server->start(0));
    }
    void cleanup() { m_server.reset(); }

    void oneHostCannotCrowdOutAnother()
    {
        // A stranger floods from another address; the user's phone still gets the page, and the
        // flood is logged once, not per connection.
        LogCapture log;
        std::vector<std::unique_ptr<QTcpSocket>> flood;
        for (int i = 0; i < 300; ++i) {
            flood.push_back(std::make_unique<QTcpSocket>());
            if (!flood.back()->bind(QHostAddress(QStringLiteral("127.0.0.2")), 0))
                QSKIP("this system cannot bind a client socket to 127.0.0.2");
            flood.back()->connectToHost(QHostAddress::LocalHost, m_server->port());
        }
        const QHostAddress stranger(QStringLiteral("127.0.0.2"));
        // The kernel's accept queue overflows, so some of the flood still waits there meanwhile.
        QVERIFY(spinUntil(
            [&] {
                return m_server->connectionCount(stranger) == HttpServer::MaxConnectionsPerAddress &&
                       std::count_if(flood.cbegin(), flood.cend(), [](const auto& socket) {
                           return socket->state() == QAbstractSocket::UnconnectedState;
                       }) >= 50;
            },
            40000)); // refused SYNs are retried after 1, 3, 7, 15 s: slow on a loaded machine
        LoopbackClient phone(m_server->port());
        phone.send(get("/"));
        QCOMPARE(phone.next(), Page);
        QCOMPARE(log.count(QStringLiteral("Too many HTTP connections from one address")), 1);

        // Trickling heads do not keep their slots past the header deadline.
        m_server->setHeaderTimeout(200);
        for (const auto& socket : flood) {
            if (socket->state() == QAbstractSocket::ConnectedState)
                socket->write("G"), socket->flush();
        }
        QTRY_COMPARE(m_server->connectionCount(stranger), 0);
        QVERIFY(phone.open());
    }

    // Many hosts fill every place with sockets that send nothing: each such socket goes after
    // the head deadline, and meanwhile a host holding fewer places (the phone, or this PC's own
    // browser) takes the oldest waiting place of a host holding the most.
    void manyHostsCannotFillThePort()
    {
        LogCapture log;
        m_server->setHeaderTimeout(60000);
        std::vector<std::unique_ptr<QTcpSocket>> flood;
        const auto hostAddress = [](int host) {
            return QHostAddress(QStringLiteral("127.0.0.%1").arg(host));
        };
        for (int host = 2; host < 19; ++host) { // 17 hosts of 16: more than there are places
            for (int i = 0; i < HttpServer::MaxConnectionsPerAddress; ++i) {
                flood.push_back(std::make_unique<QTcpSocket>());
                if (!flood.back()->bind(hostAddress(host), 0))
                    QSKIP("this system cannot bind client sockets to 127.0.0.x");
                flood.back()->connectToHost(QHostAddress::LocalHost, m_server->port());
            }
            // Host by host, so that the kernel's accept queue never overflows.
            QVERIFY(spinUntil([&] {
                return m_server->connectionCount(hostAddress(host)) == HttpServer::MaxConnectionsPerAddress;
            }));
        }
        QCOMPARE(m_server->connectionCount(), HttpServer::MaxConnections);
        QCOMPARE(m_server->connectionCount(hostAddress(2)), HttpServer::MaxConnectionsPerAddress - 1);
        LoopbackClient phone(m_server->port());
        phone.send(get("/"));
        QCOMPARE(phone.next(), Page);
        QCOMPARE(m_server->connectionCount(), HttpServer::MaxConnections);
        QVERIFY(log.count(
                    QStringLiteral("Closing HTTP connection: its place went to a host holding fewer")) >= 1);

        m_server->setHeaderTimeout(200);
        LoopbackClient silent(m_server->port());
        QVERIFY(silent.waitClosed());
        QVERIFY(phone.open()); // idle after its answer: the longer idle time applies
    }

    // Places are counted per host: an IPv6 host by its /64, since it may use any address in it.
    void hostsAreCountedByTheirPrefix_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("host");
        QTest::newRow("IPv4") << "192.168.1.20"
                              << "192.168.1.20";
        QTest::newRow("IPv4-mapped") << "::ffff:192.168.1.20"
                                     << "192.168.1.20";
        QTest::newRow("global IPv6") << "2001:db8:1:2:aaaa:bbbb:cccc:dddd"
                                     << "2001:db8:1:2::/64";
        QTest::newRow("another in its /64") << "2001:db8:1:2::7"
                                            << "2001:db8:1:2::/64";
        QTest::newRow("unique local") << "fd77::1"
                                      << "fd77::/64";
        QTest::newRow("link-local") << "fe80::1234" // every host has fe80::/64
                                    << "fe80::1234";
        QTest::newRow("loopback") << "::1"
                                  << "::1";
    }
    void hostsAreCountedByTheirPrefix()
    {
        QFETCH(QString, address);
        QFETCH(QString, host);
        QCOMPARE(HttpAdmission::hostKey(QHostAddress(address)), host);
    }
};

QTEST_GUILESS_MAIN(TestHostShares)
#include "tst_hostshares.moc"
