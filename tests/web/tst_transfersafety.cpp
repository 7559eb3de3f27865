// What keeps a file transfer whole and its permissions with their owner: a name taken at the
// last moment, tickets tried from elsewhere or asked for in a loop, a new pairing code, and
// ranges that cannot be served as asked.

#include "TransferTestSupport.h"
#include "platform/files/UnnamedFileFake.h"

#include <QtTest>

class TestTransferSafety : public QObject, public TransferFixture
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(setUp()); }
    void cleanup() { tearDown(); }

    // The name is taken by someone else between its choice and the link: the file, still open,
    // goes under the next free name, and the other file is left as it was.
    void aNameTakenMeanwhileIsSkipped()
    {
        QStringList tried;
        m_transfer->setFileMaker([&tried] {
            return std::make_unique<UnnamedFileFake>(
                [](const QString& folder, const QString& name) {
                    QFile other(folder + QLatin1Char('/') + name);
                    if (name == QLatin1String("a.txt") && other.open(QIODevice::WriteOnly))
                        other.write("theirs");
                },
                &tried);
        });
        const QByteArray reply = upload("a.txt", "mine");
        QCOMPARE(statusOf(reply), 200);
        QVERIFY2(reply.endsWith(R"({"name":"a (2).txt","size":4})"), reply.constData());
        QCOMPARE(tried, (QStringList{"a.txt", "a (2).txt"}));
        QCOMPARE(names(), (QStringList{"a (2).txt", "a.txt"}));
        QCOMPARE(read("a (2).txt"), QByteArray("mine"));
        QCOMPARE(read("a.txt"), QByteArray("theirs"));
        QCOMPARE(openPartials(), 0);
    }

    // A ticket tried from another address stays good for its own (whoever overheard it cannot
    // spoil the phone's upload); a phone asking in a loop uses up only its own tickets; a new
    // pairing code ends every ticket and link given out before it.
    void ticketsBelongToTheirAddress()
    {
        const QByteArray phones = ticket();
        LoopbackClient thief(m_server->port(), QHostAddress(QStringLiteral("127.0.0.2")));
        if (!thief.open())
            QSKIP("this system cannot bind client sockets to 127.0.0.2");
        thief.send(uploadHead(phones, "x.txt", 1) + "x");
        QCOMPARE(statusOf(thief.next()), 403);
        for (int i = 0; i < 3 * FileTransfer::MaxTickets; ++i)
            m_transfer->issueTicket(QHostAddress(QStringLiteral("192.168.1.9")));
        QCOMPARE(statusOf(upload("a.txt", "a", phones)), 200);
        QCOMPARE(names(), QStringList{"a.txt"});

        // An address's own oldest ticket makes room for its next.
        const QByteArray oldest = ticket();
        for (int i = 0; i < FileTransfer::MaxTickets; ++i)
            ticket();
        QCOMPARE(statusOf(upload("b.txt", "b", oldest)), 403);

        const QString path = m_root.path() + QStringLiteral("/offered.txt");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("offered") == 7);
        file.close();
        const QByteArray url =
            m_transfer->offerTo(path, QHostAddress::LocalHost).value("url").toString().toLatin1();
        const QByteArray pending = ticket();
        m_transfer->revokeAll();
        QCOMPARE(statusOf(upload("c.txt", "c", pending)), 403);
        LoopbackClient fetch(m_server->port());
        fetch.send("GET /" + url + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        QCOMPARE(statusOf(fetch.next()), 404);
    }

    // What a Range asks for; an invalid one (its end before its start) is ignored like an
    // unknown form, while one wholly past the end cannot be served.
    void rangesOfAFile_data()
    {
        QTest::addColumn<QByteArray>("range");
        QTest::addColumn<bool>("servable");
        QTest::addColumn<qint64>("first");
        QTest::addColumn<qint64>("last");
        QTest::newRow("none") << QByteArray() << true << qint64(0) << qint64(99);
        QTest::newRow("from") << QByteArray("bytes=10-") << true << qint64(10) << qint64(99);
        QTest::newRow("between") << QByteArray("bytes=5-9") << true << qint64(5) << qint64(9);
        QTest::newRow("one byte") << QByteArray("bytes=5-5") << true << qint64(5) << qint64(5);
        QTest::newRow("end past the file") << QByteArray("bytes=90-500") << true << qint64(90) << qint64(99);
        QTest::newRow("last n") << QByteArray("bytes=-10") << true << qint64(90) << qint64(99);
        QTest::newRow("end before start") << QByteArray("bytes=5-3") << true << qint64(0) << qint64(99);
        QTest::newRow("end before start, far")
            << QByteArray("bytes=500-3") << true << qint64(0) << qint64(99);
        QTest::newRow("several") << QByteArray("bytes=0-1,5-6") << true << qint64(0) << qint64(99);
        QTest::newRow("other unit") << QByteArray("items=1-2") << true << qint64(0) << qint64(99);
        QTest::newRow("start past the end") << QByteArray("bytes=100-") << false << qint64(0) << qint64(0);
        QTest::newRow("no last bytes") << QByteArray("bytes=-0") << false << qint64(0) << qint64(0);
    }
    void rangesOfAFile()
    {
        QFETCH(QByteArray, range);
        QFETCH(bool, servable);
        QFETCH(qint64, first);
        QFETCH(qint64, last);
        qint64 from = -1, to = -1;
        QCOMPARE(DownloadRoute::parseRange(range, 100, &from, &to), servable);
        if (servable)
            QCOMPARE((QPair<qint64, qint64>(from, to)), (QPair<qint64, qint64>(first, last)));
    }
};

QTEST_GUILESS_MAIN(TestTransferSafety)
#include "tst_transfersafety.moc"
