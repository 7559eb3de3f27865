// Files between the phone and the PC through the real HTTP server: what arrives, under which
// name, that nothing half-written is ever left under a real name, and the PC's offered files;
// for a phone app too, whose permissions come over the command port.

#include "TransferTestSupport.h"
#include "platform/input/InputBackendFake.h"
#include "remote/FileHandler.h"
#include "remote/Server.h"
#include "support/LogCapture.h"
#include "web/ReceivedFileName.h"

#include <QtTest>

#include <csignal>
#include <sys/resource.h>

namespace {

// The next line a phone app receives on the command port, parsed; empty when none comes.
QJsonObject nextLine(LoopbackClient& phone)
{
    if (!phone.spin([&phone] { return phone.in.contains('\n'); }))
        return QJsonObject();
    const int end = phone.in.indexOf('\n');
    const QJsonObject object = QJsonDocument::fromJson(phone.in.left(end)).object();
    phone.in.remove(0, end + 1);
    return object;
}

} // namespace

class TestFileTransfer : public QObject, public TransferFixture
{
    Q_OBJECT
    // The command server with this test's files, for a phone app on loopback.
    std::unique_ptr<Server> commandServer()
    {
        auto server = std::make_unique<Server>(std::make_unique<InputBackendFake>(), nullptr);
        server->setPhoneFiles(m_transfer.get());
        return server->start(0) ? std::move(server) : nullptr;
    }
    // A phone app asks for a ticket; the answer's params.
    static QJsonObject askTicket(LoopbackClient& phone, const QByteArray& params)
    {
        phone.send(R"({"command":"uploadticket","params":)" + params + "}\n");
        const QJsonObject answer = nextLine(phone);
        return answer.value("command").toString() == QLatin1String("uploadticket")
                   ? answer.value("params").toObject()
                   : QJsonObject{{"unexpected", answer}};
    }
private slots:
    void init() { QVERIFY(setUp()); }
    void cleanup() { tearDown(); }

    void arrivesByteForByte_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::newRow("empty") << qint64(0);
        QTest::newRow("one byte") << qint64(1);
        QTest::newRow("15 MiB + 1") << qint64(15 * 1024 * 1024 + 1);
    }
    void arrivesByteForByte()
    {
        QFETCH(qint64, size);
        const QByteArray content = bytesOf(size, quint32(size));
        QSignalSpy received(m_transfer.get(), &FileTransfer::fileReceived);
        const QByteArray reply = upload("clip.mp4", content);
        QCOMPARE(statusOf(reply), 200);
        QVERIFY(reply.endsWith("{\"name\":\"clip.mp4\",\"size\":" + QByteArray::number(size) + "}"));
        QCOMPARE(names(), QStringList{"clip.mp4"});
        QVERIFY(read(QStringLiteral("clip.mp4")) == content);
        QCOMPARE(received.count(), 1);
        QCOMPARE(m_transfer->recentFiles().size(), 1);
        QCOMPARE(m_transfer->recentFiles().constFirst().path, m_folder + QStringLiteral("/clip.mp4"));
        QCOMPARE(m_transfer->recentFiles().constFirst().size, size);
    }

    // The folder is changed in the settings while a file arrives: it ends where it began, and
    // is reported there.
    void folderChangedMidwayKeepsTheFile()
    {
        const QByteArray content = bytesOf(1024 * 1024, 3);
        auto client = std::make_unique<LoopbackClient>(m_server->port());
        client->send(uploadHead(ticket(), "song.ogg", content.size()) + content.left(1000));
        QVERIFY(spinUntil([this] { return openPartials() == 1; }));
        QSignalSpy received(m_transfer.get(), &FileTransfer::fileReceived);
        m_transfer->setFolder(m_root.path() + QStringLiteral("/elsewhere"));
        client->send(content.mid(1000));
        QVERIFY(received.wait(5000));
        QCOMPARE(received.constFirst().constFirst().toString(), m_folder + QStringLiteral("/song.ogg"));
        QVERIFY(read(QStringLiteral("song.ogg")) == content);
    }

    // Twenty at once (from two addresses, as a phone has only so many connections), all with
    // one name: each arrives whole under its own name, none overwritten.
    void manyAtOnceWithOneName()
    {
        std::vector<std::unique_ptr<LoopbackClient>> clients;
        QList<QByteArray> contents;
        for (int i = 0; i < 20; ++i) {
            const QHostAddress from(i % 2 ? QStringLiteral("127.0.0.2") : QStringLiteral("127.0.0.1"));
            contents << bytesOf(200000 + i, quint32(i));
            clients.push_back(std::make_unique<LoopbackClient>(m_server->port(), from));
            clients.back()->send(
                uploadHead(m_transfer->issueTicket(from), "photo.jpg", contents.last().size()) +
                contents.last());
        }
        QSet<QByteArray> arrived;
        for (auto& client : clients)
            QCOMPARE(statusOf(client->next(20000)), 200);
        const QStringList landed = names();
        QCOMPARE(landed.size(), 20);
        QVERIFY(landed.contains("photo.jpg") && landed.contains("photo (2).jpg") &&
                landed.contains("photo (20).jpg"));
        for (const QString& name : landed)
            arrived.insert(read(name));
        for (const QByteArray& content : contents)
            QVERIFY(arrived.contains(content));
    }

    void hostileNamesBecomeSafe_data()
    {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("expected");
        QTest::newRow("climbing") << "../../.config/autostart/x.desktop"
                                  << "x.desktop";
        QTest::newRow("backslashes") << "..\\..\\win.ini"
                                     << "win.ini";
        QTest::newRow("dots only") << ".."
                                   << "file";
        QTest::newRow("empty") << ""
                               << "file";
        QTest::newRow("hidden") << ".bashrc"
                                << "bashrc";
        QTest::newRow("control characters") << "a\x01\nb\x7f.txt "
                                            << "ab.txt";
        QTest::newRow("line separators") << QString::fromUtf8("a\u2028b\u2029c.txt") << "a b c.txt";
        QTest::newRow("direction override") << QString::fromUtf8("invoice\u202Egpj.exe") << "invoicegpj.exe";
        QTest::newRow("plain unicode") << QString::fromUtf8("照片 1.jpg") << QString::fromUtf8("照片 1.jpg");
    }
    void hostileNamesBecomeSafe()
    {
        QFETCH(QString, given);
        QFETCH(QString, expected);
        QCOMPARE(ReceivedFileName::sanitized(given), expected);
        // And through the server, where the name arrives percent-encoded.
        QCOMPARE(statusOf(upload(given.toUtf8(), "x")), 200);
        QCOMPARE(names(), QStringList{expected});
    }

    // Over 255 bytes: shortened on a character boundary, keeping the extension, with room for
    // the number a taken name gets.
    void longNamesStayWithinTheLimit()
    {
        const QString longName = QString(200, QChar(0x00e9)) + QStringLiteral(".jpeg");
        const QString safe = ReceivedFileName::sanitized(longName);
        QVERIFY(safe.toUtf8().size() <= 255 && safe.endsWith(QStringLiteral(".jpeg")));
        QCOMPARE(statusOf(upload(longName.toUtf8(), "1")), 200);
        QCOMPARE(statusOf(upload(longName.toUtf8(), "2")), 200);
        const QStringList landed = names();
        QCOMPARE(landed.size(), 2);
        for (const QString& name : landed)
            QVERIFY(name.toUtf8().size() <= 255 && name.endsWith(QStringLiteral(".jpeg")));
        QVERIFY(landed.filter(QStringLiteral(" (2).jpeg")).size() == 1);
    }

    // A connection that ends before the last byte (cut, or the page's cancel) leaves nothing,
    // hidden or not; so does the server stopping (the program quitting) mid-way.
    void unfinishedLeavesNothing_data()
    {
        QTest::addColumn<int>("how");
        QTest::newRow("cut") << 0;
        QTest::newRow("cancel") << 1;
        QTest::newRow("quit") << 2;
    }
    void unfinishedLeavesNothing()
    {
        QFETCH(int, how);
        const QByteArray content = bytesOf(4 * 1024 * 1024, 7);
        auto client = std::make_unique<LoopbackClient>(m_server->port());
        client->send(uploadHead(ticket(), "movie.mkv", content.size()) + content.left(content.size() / 2));
        // The partial is open, and nothing of it has a real name (where the file system can,
        // it has no name at all until complete).
        QVERIFY(spinUntil([this] { return openPartials() == 1; }));
        QVERIFY(names().filter(QRegularExpression(QStringLiteral("^[^.]"))).isEmpty());
        if (how == 0)
            client->socket.abort();
        else if (how == 1)
            client->socket.disconnectFromHost();
        else
            m_server->stop();
        QVERIFY(spinUntil([this] { return names().isEmpty() && openPartials() == 0; }));
    }

    // The disk fills up mid-way (a file-size limit stands in for it): the connection ends and
    // nothing is left. A file the free space cannot take, or over the size limit, is refused
    // before its first byte, and the page is told so when it asks for the ticket.
    void noRoomLeavesNothing()
    {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit before{};
        QVERIFY(getrlimit(RLIMIT_FSIZE, &before) == 0);
        rlimit small = before;
        small.rlim_cur = 1024 * 1024;
        QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
        const QByteArray reply = upload("big.bin", bytesOf(3 * 1024 * 1024, 3));
        QVERIFY(setrlimit(RLIMIT_FSIZE, &before) == 0);
        QVERIFY2(reply == "closed" || statusOf(reply) == 507, reply.constData());
        QVERIFY(spinUntil([this] { return names().isEmpty(); }));

        m_transfer->setFreeSpace([](const QString&) { return qint64(1000); });
        QCOMPARE(statusOf(upload("a.bin", "12345")), 507);
        m_transfer->setFreeSpace([](const QString&) { return qint64(1) << 40; });
        m_transfer->setMaxBytes(4);
        QCOMPARE(statusOf(upload("a.bin", "12345")), 413);
        QCOMPARE(statusOf(upload("a.bin", "1234")), 200);

        RecordingLink link;
        QVERIFY(m_transfer->handleMessage(R"({"command":"uploadticket","params":{"id":7,"size":5}})", &link));
        QVERIFY(m_transfer->handleMessage(R"({"command":"uploadticket","params":{"id":8,"size":4}})", &link));
        QVERIFY(
            m_transfer->handleMessage(R"({"command":"uploadticket","params":{"id":9,"size":1e300}})", &link));
        QVERIFY(!m_transfer->handleMessage(R"({"command":"mouseclick","params":{}})", &link));
        QCOMPARE(link.sent.size(), 3);
        QVERIFY(link.sent.at(2).contains(R"("error":"tooLarge","id":9)"));
        QVERIFY(link.sent.at(0).contains(R"("error":"tooLarge","id":7)"));
        QVERIFY(link.sent.at(1).contains(R"("id":8,)") && link.sent.at(1).contains(R"("ticket":")"));
    }

    // Only a fresh ticket issued to this address, once; and only from the local network.
    void ticketsAreSingleUseShortLivedAndOwnAddress()
    {
        const QByteArray first = ticket();
        QCOMPARE(statusOf(upload("a.txt", "a", first)), 200);
        QCOMPARE(statusOf(upload("b.txt", "b", first)), 403);                              // reused
        QCOMPARE(statusOf(upload("c.txt", "c", "0123456789abcdef0123456789abcdef")), 403); // forged
        QCOMPARE(statusOf(upload("d.txt", "d", "")), 403);                                 // none
        const QByteArray late = ticket();
        m_now += FileTransfer::TicketLifetimeMs + 1;
        QCOMPARE(statusOf(upload("e.txt", "e", late)), 403); // expired
        const QByteArray elsewhere = m_transfer->issueTicket(QHostAddress(QStringLiteral("192.168.1.9")));
        QCOMPARE(statusOf(upload("f.txt", "f", elsewhere)), 403); // other host
        QCOMPARE(names(), QStringList{"a.txt"});

        m_server->setPeerFilter([](const QHostAddress&) { return false; }); // outside the subnet
        QCOMPARE(upload("g.txt", "g"), QByteArray("closed"));
        QCOMPARE(names(), QStringList{"a.txt"});
    }

    // An offered file: a card for the browser, then the file as an attachment, resumable with
    // Range; the link serves only the address that used it first, and only for ten minutes.
    void offeredFileDownloadsAndResumes()
    {
        const QString path = m_root.path() + QStringLiteral("/report \"final\" 月.pdf");
        const QByteArray content = bytesOf(300000, 11);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        file.close();
        QVERIFY(!m_transfer->offerFile(path)); // no browser yet
        RecordingLink link;
        m_transfer->setLink(&link);
        QVERIFY(m_transfer->offerFile(path));
        const QJsonObject offer = QJsonDocument::fromJson(link.sent.value(0)).object();
        QCOMPARE(offer.value("command").toString(), QStringLiteral("fileoffer"));
        const QByteArray url = offer.value("params").toObject().value("url").toString().toLatin1();
        QVERIFY(url.startsWith("download/"));

        const auto get = [this, &url](const QByteArray& range, const QHostAddress& from = QHostAddress()) {
            LoopbackClient client(m_server->port(), from);
            client.send("GET /" + url + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + range + "\r\n");
            return client.next(20000);
        };
        const QByteArray whole = get("");
        QVERIFY(whole.startsWith(
            "HTTP/1.1 200 OK\r\nContent-Type: application/pdf\r\nContent-Length: 300000\r\n"));
        QVERIFY(whole.contains("Content-Disposition: attachment; filename=\"report _final_ _.pdf\"; "
                               "filename*=UTF-8''report%20%22final%22%20%E6%9C%88.pdf\r\n"));
        QVERIFY(whole.endsWith("\r\n\r\n" + content));
        const QByteArray rest = get("Range: bytes=123456-\r\n");
        QVERIFY(rest.startsWith("HTTP/1.1 206 Partial Content\r\n"));
        QVERIFY(rest.contains("Content-Length: 176544\r\nContent-Disposition") &&
                rest.contains("Content-Range: bytes 123456-299999/300000\r\n"));
        QVERIFY(rest.endsWith("\r\n\r\n" + content.mid(123456)));
        QVERIFY(get("Range: bytes=-10\r\n").endsWith("\r\n\r\n" + content.right(10)));
        QVERIFY(get("Range: bytes=300000-\r\n").startsWith("HTTP/1.1 416 Range Not Satisfiable\r\n"));
        QVERIFY(get("Range: bytes=5-3\r\n") == whole); // invalid, so ignored
        QVERIFY(get("", QHostAddress(QStringLiteral("127.0.0.2"))).startsWith("HTTP/1.1 404 Not Found"));
        m_now += FileTransfer::OfferLifetimeMs + 1;
        QVERIFY(get("").startsWith("HTTP/1.1 404 Not Found"));
    }

    // A phone app asks for its ticket on the command port and uploads here with it; the ticket
    // works once, within its minute, from that address only, and never shows in the log.
    void phoneAppUploadsWithATicketFromTheCommandPort()
    {
        LogCapture log;
        const std::unique_ptr<Server> commands = commandServer();
        QVERIFY(commands);
        LoopbackClient phone(commands->serverPort());
        const QByteArray content = bytesOf(2 * 1024 * 1024 + 3, 5);
        const QJsonObject answer = askTicket(phone, R"({"id":1,"size":2097155})");
        QCOMPARE(answer.value("id").toInt(), 1);
        QCOMPARE(answer.value("maxBytes").toDouble(), double(FileTransfer::DefaultMaxBytes));
        const QByteArray first = answer.value("ticket").toString().toLatin1();
        QCOMPARE(first.size(), 32);
        QCOMPARE(statusOf(upload("video.mp4", content, first)), 200);
        QVERIFY(read(QStringLiteral("video.mp4")) == content);
        QCOMPARE(statusOf(upload("again.mp4", "x", first)), 403); // reused

        const QByteArray second =
            askTicket(phone, R"({"id":"b","size":1})").value("ticket").toString().toLatin1();
        LoopbackClient stranger(m_server->port(), QHostAddress(QStringLiteral("127.0.0.2")));
        stranger.send(uploadHead(second, "other.txt", 1) + "x");
        QCOMPARE(statusOf(stranger.next(20000)), 403); // another address
        const QByteArray third =
            askTicket(phone, R"({"id":3,"size":1})").value("ticket").toString().toLatin1();
        m_now += FileTransfer::TicketLifetimeMs + 1;
        QCOMPARE(statusOf(upload("late.txt", "x", third)), 403); // expired
        QCOMPARE(names(), QStringList{"video.mp4"});

        QCOMPARE(log.count(QStringLiteral(R"("command":"uploadticket","params":{"id":1,"maxBytes":)")), 1);
        for (const QByteArray& ticket : {first, second, third})
            QCOMPARE(log.count(QString::fromLatin1(ticket)), 0);
    }

    // The user sends a file while a phone app is connected: it is pushed an offer whose link
    // serves that phone's address alone (another host cannot claim it first), resumably.
    void fileOfferedToPhoneAppServesItsAddressOnly()
    {
        LogCapture log;
        const QString path = m_root.path() + QStringLiteral("/notes.txt");
        const QByteArray content = bytesOf(100000, 13);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        file.close();
        const std::unique_ptr<Server> commands = commandServer();
        QVERIFY(commands);
        QVERIFY(!commands->offerFile(path)); // nobody connected
        auto phone = std::make_unique<LoopbackClient>(commands->serverPort());
        QTRY_VERIFY(commands->offerFile(path));
        const QJsonObject push = nextLine(*phone);
        QCOMPARE(push.value("command").toString(), QStringLiteral("fileoffer"));
        const QJsonObject offer = push.value("params").toObject();
        QCOMPARE(offer.value("name").toString(), QStringLiteral("notes.txt"));
        QCOMPARE(offer.value("size").toDouble(), 100000.0);
        const QByteArray url = offer.value("url").toString().toLatin1();
        QVERIFY(url.startsWith("download/") && url.size() == 9 + 32);
        QVERIFY(!commands->offerFile(m_root.path() + QStringLiteral("/missing.txt")));

        const auto get = [this, &url](const QByteArray& range, const QHostAddress& from) {
            LoopbackClient client(m_server->port(), from);
            client.send("GET /" + url + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + range + "\r\n");
            return client.next(20000);
        };
        QVERIFY(get("", QHostAddress(QStringLiteral("127.0.0.2"))).startsWith("HTTP/1.1 404 Not Found"));
        QVERIFY(get("", QHostAddress(QStringLiteral("127.0.0.1"))).endsWith("\r\n\r\n" + content));
        const QByteArray rest = get("Range: bytes=99000-\r\n", QHostAddress(QStringLiteral("127.0.0.1")));
        QVERIFY(rest.startsWith("HTTP/1.1 206 Partial Content\r\n"));
        QVERIFY(rest.endsWith("\r\n\r\n" + content.mid(99000)));
        QCOMPARE(log.count(QString::fromLatin1(url.mid(9))), 0);

        phone.reset();
        QTRY_VERIFY(!commands->offerFile(path)); // gone
    }

    // Malformed requests are logged and ignored; a size that cannot be taken is answered with
    // the reason, as the web client is.
    void phoneAppTicketRequests_data()
    {
        QTest::addColumn<QByteArray>("params");
        QTest::addColumn<QString>("answer"); // "ticket", an error, or empty: ignored
        QTest::newRow("fits") << QByteArray(R"({"id":1,"size":500})") << "ticket";
        QTest::newRow("empty file") << QByteArray(R"({"id":"a","size":0})") << "ticket";
        QTest::newRow("over the limit") << QByteArray(R"({"id":1,"size":1001})") << "tooLarge";
        QTest::newRow("huge") << QByteArray(R"({"id":1,"size":1e300})") << "tooLarge";
        QTest::newRow("no room") << QByteArray(R"({"id":1,"size":501})") << "noSpace";
        QTest::newRow("no id") << QByteArray(R"({"size":5})") << "";
        QTest::newRow("id true") << QByteArray(R"({"id":true,"size":5})") << "";
        QTest::newRow("id object") << QByteArray(R"({"id":{},"size":5})") << "";
        QTest::newRow("id too long") << QByteArray(R"({"id":")" +
                                                   QByteArray(FileHandler::MaxIdLength + 1, 'x') +
                                                   R"(","size":5})")
                                     << "";
        QTest::newRow("no size") << QByteArray(R"({"id":1})") << "";
        QTest::newRow("negative") << QByteArray(R"({"id":1,"size":-1})") << "";
        QTest::newRow("text size") << QByteArray(R"({"id":1,"size":"5"})") << "";
        QTest::newRow("fraction") << QByteArray(R"({"id":1,"size":4.5})") << "";
        QTest::newRow("params not object") << QByteArray(R"([1,5])") << "";
    }
    void phoneAppTicketRequests()
    {
        QFETCH(QByteArray, params);
        QFETCH(QString, answer);
        m_transfer->setMaxBytes(1000);
        m_transfer->setFreeSpace([](const QString&) { return 500 + FileTransfer::SpareBytes; });
        const std::unique_ptr<Server> commands = commandServer();
        QVERIFY(commands);
        LoopbackClient phone(commands->serverPort());
        LogCapture log;
        // A request after it: an ignored one leaves its answer the first to come.
        phone.send(R"({"command":"uploadticket","params":)" + params + "}\n");
        const QJsonObject got = askTicket(phone, R"({"id":"next","size":2000})");
        if (answer.isEmpty()) {
            QCOMPARE(got.value("id").toString(), QStringLiteral("next"));
            QCOMPARE(log.count(QStringLiteral("uploadticket: invalid request ignored")), 1);
            return;
        }
        QVERIFY(got.value("id").toString() != QLatin1String("next"));
        QCOMPARE(got.value("maxBytes").toDouble(), 1000.0);
        if (answer == QLatin1String("ticket"))
            QVERIFY(got.value("ticket").toString().size() == 32 && !got.contains("error"));
        else
            QCOMPARE(got.value("error").toString(), answer);
    }
};

QTEST_GUILESS_MAIN(TestFileTransfer)
#include "tst_filetransfer.moc"
