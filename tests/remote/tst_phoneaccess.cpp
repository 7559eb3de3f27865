#include "PhoneAccessTestSupport.h"

#include "platform/network/SocketOwnerFake.h"
#include "platform/network/SocketOwnerLinux.h"

#include <QProcess>
#include <QTcpServer>

#include <unistd.h>

// Who may be the phone: the local-network rule as a pure function, the owner of a connection
// from this PC, the phones always allowed and the two switches.
class tst_PhoneAccess : public PhoneAccessFixture
{
    Q_OBJECT
private slots:
    void initTestCase() { useOwnSettings(); }
    void init() { startClean(); }
    void cleanup() { m_server.reset(), m_access.reset(); }

    void localNetworkRule_data()
    {
        QTest::addColumn<QString>("peer");
        QTest::addColumn<bool>("local");
        const auto row = [](const char* name, const char* peer, bool local) {
            QTest::newRow(name) << QString::fromLatin1(peer) << local;
        };
        row("IPv4 loopback", "127.0.0.1", true);
        row("IPv4 loopback, other address", "127.3.2.1", true);
        row("IPv6 loopback", "::1", true);
        row("IPv4 link-local", "169.254.10.20", true);
        row("IPv6 link-local", "fe80::1234", true);
        row("same IPv4 subnet", "192.168.1.77", true);
        row("same subnet's edges", "192.168.1.255", true);
        row("next IPv4 subnet", "192.168.2.1", false);
        row("other private network", "10.0.0.5", false);
        row("public IPv4", "8.8.8.8", false);
        row("IPv4-mapped, same subnet", "::ffff:192.168.1.9", true);
        row("IPv4-mapped, other subnet", "::ffff:203.0.113.9", false);
        row("IPv4-mapped loopback", "::ffff:127.0.0.1", true);
        row("same IPv6 prefix", "2001:db8:1:2:aaaa:bbbb:cccc:dddd", true);
        row("global IPv6 outside every prefix", "2001:db8:1:3::1", false);
        row("unique local IPv6 elsewhere", "fd00::1", false);
        row("the point-to-point peer", "10.8.0.2", false);
        row("the point-to-point address", "10.8.0.1", true);
        row("a /0 prefix proves nothing", "198.51.100.1", false);
        row("no address", "", false);
    }
    void localNetworkRule()
    {
        QFETCH(QString, peer);
        QFETCH(bool, local);
        const QList<InterfacePrefix> machine{
            {QHostAddress(QStringLiteral("192.168.1.10")), 24},
            {QHostAddress(QStringLiteral("2001:db8:1:2::10")), 64},
            {QHostAddress(QStringLiteral("10.8.0.1")), 32},   // a VPN's own end
            {QHostAddress(QStringLiteral("0.0.0.0")), 0},     // nonsense some drivers report
            {QHostAddress(QStringLiteral("172.16.0.1")), -1}, // length unknown
        };
        QCOMPARE(isLocalNetworkPeer(QHostAddress(peer), machine), local);
        // One name per phone whichever way its address was written.
        if (peer.startsWith(QLatin1String("::ffff:")))
            QCOMPARE(peerAddressKey(QHostAddress(peer)), peer.mid(7));
    }

    // Any user may connect from any of the PC's own addresses to any other, so every one of
    // them is this machine, not only loopback and the address connected to.
    void addressesOfThisMachine()
    {
        const QList<InterfacePrefix> machine{{QHostAddress(QStringLiteral("192.168.1.10")), 24},
                                             {QHostAddress(QStringLiteral("10.78.0.1")), 32},
                                             {QHostAddress(QStringLiteral("fd77::1")), 64},
                                             {QHostAddress(QStringLiteral("fe80::1%2")), 64}};
        for (const char* own : {"127.0.0.1", "127.9.9.9", "::1", "::ffff:127.0.0.1", "192.168.1.10",
                                "::ffff:192.168.1.10", "10.78.0.1", "fd77::1", "fe80::1"})
            QVERIFY2(isAddressOfThisMachine(QHostAddress(QString::fromLatin1(own)), machine), own);
        for (const char* other :
             {"192.168.1.77", "::ffff:192.168.1.77", "10.78.0.2", "fd77::2", "fe80::2", ""})
            QVERIFY2(!isAddressOfThisMachine(QHostAddress(QString::fromLatin1(other)), machine), other);
    }

    void alwaysAllowSurvivesARestartAndRemovalEndsTheConnection()
    {
        TestPhone phone(port(), "127.0.0.2");
        QTRY_VERIFY(m_asker->waiting());
        m_asker->answer(PhoneConsentAsker::Answer::AlwaysAllow);
        QCOMPARE(m_events.size(), 1);

        // Restarted: a fresh store reading the same settings file, a fresh server.
        m_access = std::make_unique<PhoneAccess>();
        m_access->setPrefixSource([] { return QList<InterfacePrefix>{}; });
        makeServer();
        QVERIFY(phone.closedByServer());
        const QList<RememberedPhone> remembered = m_access->rememberedPhones();
        QCOMPARE(remembered.size(), 1);
        QCOMPARE(remembered.first().address, QStringLiteral("127.0.0.2"));
        QVERIFY(qAbs(remembered.first().lastSeen.secsTo(QDateTime::currentDateTimeUtc())) < 60);

        TestPhone back(port(), "127.0.0.2");
        back.send(moveLine(7));
        QTRY_COMPARE(moves(), 1);
        QVERIFY(m_asker->asked.isEmpty());

        m_access->forget(QStringLiteral("127.0.0.9")); // someone else: nothing happens
        QVERIFY(back.socket.state() == QAbstractSocket::ConnectedState);
        m_access->forget(QStringLiteral("127.0.0.2"));
        QVERIFY(back.closedByServer());
        QCOMPARE(m_events.last(), QStringLiteral("disconnected"));
        QVERIFY(m_access->rememberedPhones().isEmpty());
        TestPhone asksAgain(port(), "127.0.0.2");
        QTRY_COMPARE(m_asker->asked.size(), 1);
    }

    void settingsOffRestoreTheOpenDoor()
    {
        LogCapture log;
        m_access->setAskBeforeNewPhone(false);
        TestPhone phone(port(), "127.0.0.2");
        phone.send(moveLine(1));
        QTRY_COMPARE(moves(), 1);
        QVERIFY(m_asker->asked.isEmpty());

        // Only the local network: with no interface around, a non-loopback peer is out.
        m_server->setLoopbackTrusted(true);
        QVERIFY(m_access->admitsPeer(QHostAddress(QStringLiteral("::1"))));
        QVERIFY(!m_access->admitsPeer(QHostAddress(QStringLiteral("192.168.1.20"))));
        m_access->setLocalNetworkOnly(false);
        QVERIFY(m_access->admitsPeer(QHostAddress(QStringLiteral("192.168.1.20"))));
        m_access->setLocalNetworkOnly(true);
        m_access->setPrefixSource([] {
            return QList<InterfacePrefix>{{QHostAddress(QStringLiteral("192.168.1.1")), 24}};
        });
        QVERIFY(m_access->admitsPeer(QHostAddress(QStringLiteral("192.168.1.20"))));

        // Both settings are kept for the next start, and consent is on by default.
        PhoneAccess restarted;
        QVERIFY(!restarted.askBeforeNewPhone() && restarted.localNetworkOnly());
        QFile::remove(QSettings(QStringLiteral("Orvane"), QStringLiteral("Velmora")).fileName());
        PhoneAccess fresh;
        QVERIFY(fresh.askBeforeNewPhone() && fresh.localNetworkOnly());
    }

    // Loopback is trusted only for programs of the user the service runs as: another user's,
    // or one whose owner cannot be found, is asked about like a new phone, whatever the
    // settings, and "Always Allow" does not let every local user in later.
    void otherUsersOnLoopbackNeedConsent()
    {
        LogCapture log;
        m_server->setLoopbackTrusted(true);
        auto owner = std::make_unique<SocketOwnerFake>(1000);
        SocketOwnerFake* owners = owner.get();
        m_server->setSocketOwner(std::move(owner));
        m_access->setAskBeforeNewPhone(false);

        TestPhone own(port(), "127.0.0.1",
                      [owners](quint16 localPort) { owners->setOwner(localPort, 1000); });
        own.send(moveLine(1));
        QTRY_COMPARE(moves(), 1);
        QVERIFY(m_asker->asked.isEmpty());

        TestPhone other(port(), "127.0.0.1",
                        [owners](quint16 localPort) { owners->setOwner(localPort, 1001); });
        QTRY_COMPARE(m_asker->asked, QStringList{QStringLiteral("127.0.0.1")});
        QCOMPARE(
            log.count(QStringLiteral("Connection from another user's program on this PC, it needs consent: "
                                     "127.0.0.1 port %1 user 1001")
                          .arg(other.socket.localPort())),
            1);
        QVERIFY(m_asker->otherUser);
        m_asker->answer(PhoneConsentAsker::Answer::AlwaysAllow);
        other.send(moveLine(3));
        QTRY_COMPARE(moves(), 2);
        QVERIFY(m_access->rememberedPhones().isEmpty());

        // No owner found (the port of an earlier phone may come round again).
        TestPhone unknown(port(), "127.0.0.1",
                          [owners](quint16 localPort) { owners->clearOwner(localPort); });
        QTRY_COMPARE(m_asker->asked.size(), 2);
        unknown.send(moveLine(4));
        QTest::qWait(20);
        QCOMPARE(moves(), 2);
        QCOMPARE(log.count(QStringLiteral("user unknown")), 1);
    }

    // The owner of the other end of a real loopback connection, over IPv4 and IPv6, whether
    // the listener is dual-stack or not; and the fallback table read as the kernel writes it.
    void socketOwnerOnThisMachine()
    {
        SocketOwnerLinux owners;
        for (const auto& [listen, connectTo] :
             {std::pair{QHostAddress::Any, QHostAddress::LocalHost},
              std::pair{QHostAddress::Any, QHostAddress::LocalHostIPv6},
              std::pair{QHostAddress::LocalHost, QHostAddress::LocalHost}}) {
            QTcpServer listener;
            QVERIFY(listener.listen(listen));
            QTcpSocket client;
            client.connectToHost(connectTo, listener.serverPort());
            QVERIFY(client.waitForConnected(5000) && listener.waitForNewConnection(5000));
            std::unique_ptr<QTcpSocket> accepted(listener.nextPendingConnection());
            const auto owner = owners.ownerOf(accepted->peerAddress(), accepted->peerPort(),
                                              accepted->localAddress(), accepted->localPort());
            QCOMPARE(owner, std::optional<quint32>(owners.currentUser()));
            QCOMPARE(owners.kernelOwnerOf(accepted->peerAddress(), accepted->peerPort(),
                                          accepted->localAddress(), accepted->localPort()),
                     owner);
            // The listener's side is no socket of the peer's.
            QCOMPARE(owners.ownerOf(accepted->peerAddress(), quint16(accepted->peerPort() ^ 1),
                                    accepted->localAddress(), accepted->localPort()),
                     std::nullopt);
        }

        const QByteArray tcp =
            "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  "
            "timeout inode\n"
            "   0: 0100007F:22B8 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1000  "
            "      0 1 1 0000000000000000 100 0 0 10 0\n"
            "   1: 0100007F:C350 0100007F:22B8 01 00000000:00000000 00:00000000 00000000  1001  "
            "      0 2 1 0000000000000000 20 4 30 10 -1\n";
        const QHostAddress v4(QStringLiteral("127.0.0.1"));
        const QHostAddress mapped(QStringLiteral("::ffff:127.0.0.1"));
        QCOMPARE(ownerInProcNetTable(tcp, v4, 50000, v4, 8888), std::optional<quint32>(1001));
        QCOMPARE(ownerInProcNetTable(tcp, mapped, 50000, mapped, 8888), std::optional<quint32>(1001));
        QCOMPARE(ownerInProcNetTable(tcp, v4, 8888, v4, 50000), std::nullopt);
        const QByteArray tcp6 =
            "  sl  local_address                         remote_address                        st "
            "tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n"
            "   0: 00000000000000000000000001000000:C351 00000000000000000000000001000000:22B8 "
            "01 00000000:00000000 00:00000000 00000000   0        0 3 1\n"
            "   1: garbage\n   2: 0000:ZZ 1:2 01 0 0 0 7\n";
        const QHostAddress v6(QStringLiteral("::1"));
        QCOMPARE(ownerInProcNetTable(tcp6, v6, 50001, v6, 8888), std::optional<quint32>(0));
        QCOMPARE(ownerInProcNetTable(tcp6, v4, 50001, v4, 8888), std::nullopt);
    }

    // A real second Unix user on this PC connects over loopback: nothing it sends runs without
    // the user's consent, while this user's own connection still needs none.
    void anotherUnixUserIsAStranger()
    {
        if (::geteuid() != 0)
            QSKIP("needs root, to create a second user and run a program as that user");
        const QString user = QStringLiteral("velmora-stranger");
        if (QProcess::execute(QStringLiteral("sh"),
                              {QStringLiteral("-c"), QStringLiteral("id -u %1 >/dev/null").arg(user)}) != 0)
            QCOMPARE(
                QProcess::execute(QStringLiteral("useradd"),
                                  {QStringLiteral("--system"), QStringLiteral("--no-create-home"),
                                   QStringLiteral("--shell"), QStringLiteral("/usr/sbin/nologin"), user}),
                0);
        m_server->setLoopbackTrusted(true);
        m_access->setAskBeforeNewPhone(false);

        QProcess stranger;
        stranger.start(QStringLiteral("setpriv"),
                       {QStringLiteral("--reuid=") + user, QStringLiteral("--regid=") + user,
                        QStringLiteral("--clear-groups"), QStringLiteral("bash"), QStringLiteral("-c"),
                        QStringLiteral("exec 3<>/dev/tcp/127.0.0.1/%1 && printf '%s\\n' '%2' >&3 && sleep 30")
                            .arg(port())
                            .arg(QString::fromLatin1(moveLine(9).chopped(1)))});
        QTRY_COMPARE_WITH_TIMEOUT(m_asker->asked, QStringList{QStringLiteral("127.0.0.1")}, 10000);
        QTest::qWait(100);
        QCOMPARE(moves(), 0);
        m_asker->answer(PhoneConsentAsker::Answer::Refuse);
        stranger.kill();
        stranger.waitForFinished();

        // Refusing the stranger holds off strangers on 127.0.0.1, not this user's programs.
        TestPhone own(port());
        own.send(moveLine(1));
        QTRY_COMPARE(moves(), 1);
        QCOMPARE(m_asker->asked.size(), 1);
    }

    // Seeing an always-allowed phone again is noted in memory; the settings file is written
    // once later (or at quit), not on every connection.
    void lastSeenIsWrittenInBatches()
    {
        const QString file = QSettings(QStringLiteral("Orvane"), QStringLiteral("Velmora")).fileName();
        const QDateTime longAgo(QDate(2025, 1, 1), QTime(0, 0), Qt::UTC);
        m_access->remember(QStringLiteral("127.0.0.2"), longAgo);
        QFile stored(file);
        QVERIFY(stored.open(QIODevice::ReadOnly));
        const QByteArray before = stored.readAll();
        stored.close();
        QVERIFY(before.contains("2025-01-01"));

        for (int i = 0; i < 5; ++i) {
            TestPhone phone(port(), "127.0.0.2");
            phone.send(moveLine(1));
            QTRY_COMPARE(moves(), i + 1);
        }
        QVERIFY(m_asker->asked.isEmpty());
        QVERIFY(stored.open(QIODevice::ReadOnly));
        QCOMPARE(stored.readAll(), before);
        stored.close();
        QVERIFY(m_access->rememberedPhones().first().lastSeen > longAgo);
        auto* write = m_access->findChild<QTimer*>(QStringLiteral("lastSeenWrite"));
        QVERIFY(write && write->isActive() && write->interval() == PhoneAccess::LastSeenWriteMs);

        // Quitting writes it.
        m_server.reset();
        m_access.reset();
        PhoneAccess restarted;
        QVERIFY(qAbs(restarted.rememberedPhones().first().lastSeen.secsTo(QDateTime::currentDateTimeUtc())) <
                60);
    }
};

QTEST_GUILESS_MAIN(tst_PhoneAccess)
#include "tst_phoneaccess.moc"
