#include "RemoteTestSupport.h"

#include "platform/InputBackendFake.h"
#include "remote/LocalNetwork.h"
#include "remote/PhoneAccess.h"

#include <QSettings>
#include <QTemporaryDir>

namespace {

QByteArray moveLine(int dx)
{
    return "{\"command\":\"mousemove\",\"params\":{\"dx\":" + QByteArray::number(dx) + "}}\n";
}

// Answers like the user would, when the test says so.
class FakeAsker final : public PhoneConsentAsker
{
public:
    QStringList asked; // every address asked about, in order
    int cancelled = 0;

    void ask(const QString& address, Callback answered) override
    {
        asked << address;
        m_answered = std::move(answered);
    }
    void cancel() override
    {
        ++cancelled;
        m_answered = nullptr;
    }
    bool waiting() const { return m_answered != nullptr; }
    void answer(Answer answer)
    {
        Callback answered = std::move(m_answered);
        m_answered = nullptr;
        answered(answer);
    }

private:
    Callback m_answered;
};

// A phone connecting from a chosen loopback address (127.0.0.2 is another machine here).
struct TestPhone
{
    QTcpSocket socket;

    explicit TestPhone(quint16 port, const char* from = "127.0.0.1")
    {
        socket.bind(QHostAddress(QString::fromLatin1(from)));
        socket.connectToHost(QHostAddress::LocalHost, port);
        socket.waitForConnected(5000);
    }
    void send(const QByteArray& bytes) { socket.write(bytes), socket.flush(); }
    // The server shares this thread, so waiting must keep the event loop turning.
    bool closedByServer()
    {
        return QTest::qWaitFor([this] { return socket.state() == QAbstractSocket::UnconnectedState; }, 5000);
    }
};

} // namespace

// Who may be the phone: the local-network rule as a pure function, and the consent a new
// phone needs before its commands run, with the user played by a fake asker.
class tst_PhoneAccess : public QObject
{
    Q_OBJECT
    QTemporaryDir m_settingsDir;
    std::unique_ptr<PhoneAccess> m_access;
    std::unique_ptr<Server> m_server;
    InputBackendFake* m_fake = nullptr;
    FakeAsker* m_asker = nullptr;
    QStringList m_events;
    qint64 m_now = 1000000;

    // A server as the program sets it up, except that loopback phones need consent too.
    void makeServer()
    {
        m_server.reset();
        auto fake = std::make_unique<InputBackendFake>();
        m_fake = fake.get();
        m_server = std::make_unique<Server>(std::move(fake), nullptr);
        auto asker = std::make_unique<FakeAsker>();
        m_asker = asker.get();
        m_server->setAccess(m_access.get(), std::move(asker));
        m_server->setLoopbackTrusted(false);
        m_server->setClock([this] { return m_now; });
        recordServerEvents(m_server.get(), this, &m_events);
        QVERIFY(m_server->start(0));
        m_events.clear();
    }
    quint16 port() const { return m_server->serverPort(); }
    int moves() const { return m_fake->records().size(); }

private slots:
    void initTestCase()
    {
        // Settings go to a file of the test's own, never the user's.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
    }
    void init()
    {
        QFile::remove(QSettings(QStringLiteral("Orvane"), QStringLiteral("Velmora")).fileName());
        m_access = std::make_unique<PhoneAccess>();
        m_access->setPrefixSource([] { return QList<InterfacePrefix>{}; });
        makeServer();
    }
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

    void unknownPhoneRunsNothingUntilAllowed()
    {
        LogCapture log;
        TestPhone phone(port());
        QTRY_COMPARE(m_asker->asked, QStringList{QStringLiteral("127.0.0.1")});
        phone.send(moveLine(1) + moveLine(2));
        QTest::qWait(50);
        // Reconnecting, even in a flood, raises no second question; the newest one waits.
        std::vector<std::unique_ptr<TestPhone>> again;
        for (int i = 0; i < 5; ++i)
            again.emplace_back(new TestPhone(port()))->send(moveLine(3));
        QTest::qWait(50);
        QVERIFY(phone.closedByServer());
        // Another newcomer meanwhile is closed at once: one question on the screen at a time.
        TestPhone other(port(), "127.0.0.2");
        QVERIFY(other.closedByServer());
        QCOMPARE(log.count(QStringLiteral("another new phone is waiting for consent: 127.0.0.2")), 1);
        QCOMPARE(m_asker->asked.size(), 1);
        QCOMPARE(moves(), 0);
        QVERIFY(m_events.isEmpty()); // not the phone yet: the window shows nobody

        m_asker->answer(PhoneConsentAsker::Answer::Allow);
        QCOMPARE(m_events,
                 QStringList{
                     QStringLiteral("connected:::ffff:127.0.0.1:%1").arg(again.back()->socket.localPort())});
        QCOMPARE(moves(), 0); // what it sent while waiting was dropped, not queued
        again.back()->send(moveLine(4));
        QTRY_COMPARE(m_fake->records(),
                     QVector<InputRecord>{InputRecord::mouse(InputRecord::MouseMove, 4, 0)});
        for (int i = 0; i + 1 < int(again.size()); ++i)
            QVERIFY(again[i]->closedByServer());

        // "Allow" was for this connection only: the next one asks again.
        TestPhone later(port());
        QTRY_COMPARE(m_asker->asked.size(), 2);
        later.socket.abort(); // gone before the answer: the question is withdrawn
        QTRY_COMPARE(m_asker->cancelled, 1);
        QVERIFY(!m_asker->waiting());
    }

    void refusalHoldsTheAddressOffForAMinute()
    {
        TestPhone phone(port());
        QTRY_VERIFY(m_asker->waiting());
        m_asker->answer(PhoneConsentAsker::Answer::Refuse);
        QVERIFY(phone.closedByServer());
        m_now += Server::RefusalHoldMs - 1;
        TestPhone soon(port());
        QVERIFY(soon.closedByServer());
        TestPhone elsewhere(port(), "127.0.0.2"); // only that address is held off
        QTRY_COMPARE(m_asker->asked, (QStringList{QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.2")}));
        m_asker->answer(PhoneConsentAsker::Answer::Refuse);
        m_now += 1;
        TestPhone afterwards(port());
        QTRY_COMPARE(m_asker->asked.size(), 3);
        QCOMPARE(moves(), 0);
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
};

QTEST_GUILESS_MAIN(tst_PhoneAccess)
#include "tst_phoneaccess.moc"
