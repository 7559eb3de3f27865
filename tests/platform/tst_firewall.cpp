#include "platform/network/FirewallProbeLinux.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// ufw's own rule comments, as `ufw allow ...` writes them into user.rules.
const char kAllowProfile[] = "### tuple ### allow tcp 6888,8888 0.0.0.0/0 any 0.0.0.0/0 Velmora - in\n"
                             "-A ufw-user-input -p tcp -m multiport --dports 6888,8888 -j ACCEPT\n";
const char kAllow8888[] = "### tuple ### allow tcp 8888 0.0.0.0/0 any 0.0.0.0/0 in\n";
const char kAllowRange[] = "### tuple ### allow tcp 6000:9000 0.0.0.0/0 any 192.168.1.0/24 in\n";
const char kAllowUdp[] = "### tuple ### allow udp 6888,8888 0.0.0.0/0 any 0.0.0.0/0 in\n";
const char kDenyBoth[] = "### tuple ### deny tcp 6888,8888 0.0.0.0/0 any 0.0.0.0/0 in\n";
const char kAllowOut[] = "### tuple ### allow tcp 6888,8888 0.0.0.0/0 any 0.0.0.0/0 out\n";

FirewallFacts ufw(const QString& policy, const char* rules)
{
    FirewallFacts facts;
    facts.ufwEnabled = true;
    facts.ufwInputPolicy = policy;
    facts.ufwRulesReadable = rules != nullptr;
    facts.ufwRules = QString::fromLatin1(rules);
    return facts;
}

FirewallFacts firewalld(bool answered, const QList<FirewalldZone>& zones)
{
    FirewallFacts facts;
    facts.firewalldRunning = true;
    facts.firewalldAnswered = answered;
    facts.firewalldZones = zones;
    return facts;
}

void write(const QString& fileName, const QByteArray& text)
{
    QDir().mkpath(QFileInfo(fileName).absolutePath());
    QFile file(fileName);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

using ActiveZones = QMap<QString, QMap<QString, QStringList>>;
using PortPairs = QList<QStringList>;

// firewalld's D-Bus interface as far as the probe asks it, answering from what a test sets.
class FakeFirewalld final : public QDBusVirtualObject
{
public:
    QString defaultZone = QStringLiteral("public");
    ActiveZones active;
    QMap<QString, QStringList> services;
    QMap<QString, PortPairs> ports;
    QString refusal; // an error name to answer every call with, as a denying policy would

    QString introspect(const QString&) const override { return QString(); }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        const QString member = message.member();
        const QString zone = message.arguments().value(0).toString();
        QVariant answer;
        if (!refusal.isEmpty())
            return connection.send(message.createErrorReply(refusal, QStringLiteral("not for you")));
        if (member == QLatin1String("getDefaultZone"))
            answer = defaultZone;
        else if (member == QLatin1String("getActiveZones"))
            answer = QVariant::fromValue(active);
        else if (member == QLatin1String("getServices"))
            answer = services.value(zone);
        else if (member == QLatin1String("getPorts"))
            answer = QVariant::fromValue(ports.value(zone));
        else
            return false;
        return connection.send(message.createReply(answer));
    }
};

} // namespace

Q_DECLARE_METATYPE(FirewallFacts)

class TestFirewall : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { qRegisterMetaType<FirewallFacts>(); }
    void advice_data();
    void advice();
    void readsUfwAsAUser();
    void asksFirewalldOverTheBus();
};

void TestFirewall::advice_data()
{
    QTest::addColumn<FirewallFacts>("facts");
    QTest::addColumn<int>("firewall");
    QTest::addColumn<int>("verdict");
    const int ufwKind = FirewallAdvice::Ufw;
    const int fwd = FirewallAdvice::Firewalld;
    QTest::newRow("nothing on") << FirewallFacts() << int(FirewallAdvice::None) << int(FirewallAdvice::Open);
    QTest::newRow("ufw, no rules") << ufw("DROP", "") << ufwKind << int(FirewallAdvice::Blocked);
    QTest::newRow("ufw, the profile allowed")
        << ufw("DROP", kAllowProfile) << ufwKind << int(FirewallAdvice::Open);
    QTest::newRow("ufw, one of the two ports")
        << ufw("DROP", kAllow8888) << ufwKind << int(FirewallAdvice::Blocked);
    QTest::newRow("ufw, a range from the LAN")
        << ufw("REJECT", kAllowRange) << ufwKind << int(FirewallAdvice::Open);
    QTest::newRow("ufw, only UDP") << ufw("DROP", kAllowUdp) << ufwKind << int(FirewallAdvice::Blocked);
    QTest::newRow("ufw, denied") << ufw("DROP", kDenyBoth) << ufwKind << int(FirewallAdvice::Blocked);
    QTest::newRow("ufw, outgoing only") << ufw("DROP", kAllowOut) << ufwKind << int(FirewallAdvice::Blocked);
    QTest::newRow("ufw, rules unreadable") << ufw("DROP", nullptr) << ufwKind << int(FirewallAdvice::Unknown);
    QTest::newRow("ufw accepting everything")
        << ufw("ACCEPT", nullptr) << ufwKind << int(FirewallAdvice::Open);

    const FirewalldZone bare{"public", "default", {"ssh", "dhcpv6-client"}, {}};
    const FirewalldZone service{"home", "default", {"velmora"}, {}};
    const FirewalldZone ports{"public", "default", {}, {"8888/tcp", "6000-7000/tcp"}};
    const FirewalldZone udpPorts{"public", "default", {}, {"8888/udp", "6888/udp"}};
    const FirewalldZone trusted{"trusted", "ACCEPT", {}, {}};
    QTest::newRow("firewalld, bare zone") << firewalld(true, {bare}) << fwd << int(FirewallAdvice::Blocked);
    QTest::newRow("firewalld, service") << firewalld(true, {service}) << fwd << int(FirewallAdvice::Open);
    QTest::newRow("firewalld, ports") << firewalld(true, {ports}) << fwd << int(FirewallAdvice::Open);
    QTest::newRow("firewalld, UDP ports")
        << firewalld(true, {udpPorts}) << fwd << int(FirewallAdvice::Blocked);
    QTest::newRow("firewalld, trusted") << firewalld(true, {trusted}) << fwd << int(FirewallAdvice::Open);
    QTest::newRow("firewalld, one zone of two")
        << firewalld(true, {service, bare}) << fwd << int(FirewallAdvice::Blocked);
    QTest::newRow("firewalld, no answer") << firewalld(false, {}) << fwd << int(FirewallAdvice::Unknown);
    FirewallFacts both = firewalld(true, {service});
    both.ufwEnabled = true; // an installed but stale ufw configuration beside a running firewalld
    QTest::newRow("firewalld runs, ufw file says on") << both << fwd << int(FirewallAdvice::Open);
}

void TestFirewall::advice()
{
    QFETCH(FirewallFacts, facts);
    QFETCH(int, firewall);
    QFETCH(int, verdict);
    const FirewallAdvice advice = adviseFirewall(facts);
    QCOMPARE(int(advice.firewall), firewall);
    QCOMPARE(int(advice.verdict), verdict);
    if (verdict == FirewallAdvice::Open)
        QVERIFY(advice.command.isEmpty());
    else if (firewall == FirewallAdvice::Ufw)
        QCOMPARE(advice.command, QStringLiteral("sudo ufw allow Velmora"));
    else
        QCOMPARE(advice.command,
                 QStringLiteral(
                     "sudo firewall-cmd --permanent --add-service=velmora && sudo firewall-cmd --reload"));
}

void TestFirewall::readsUfwAsAUser()
{
    QTemporaryDir etc;
    FirewallProbeLinux probe(etc.path(), QDBusConnection(QStringLiteral("none")));
    QSignalSpy finished(&probe, &FirewallProbe::finished);
    const auto facts = [&] {
        probe.probe();
        return finished.takeLast().at(0).value<FirewallFacts>();
    };
    QVERIFY(!facts().ufwEnabled); // not installed

    write(etc.filePath("ufw/ufw.conf"), "# comment\nENABLED=yes\nLOGLEVEL=low\n");
    write(etc.filePath("default/ufw"), "IPV6=yes\nDEFAULT_INPUT_POLICY=\"DROP\"\n");
    FirewallFacts seen = facts();
    QVERIFY(seen.ufwEnabled);
    QCOMPARE(seen.ufwInputPolicy, QStringLiteral("DROP"));
    QVERIFY(!seen.ufwRulesReadable);
    QVERIFY(!seen.firewalldRunning);

    write(etc.filePath("ufw/user.rules"), "");
    seen = facts();
    QVERIFY(seen.ufwRulesReadable); // empty, yet read: no rules at all
    QCOMPARE(adviseFirewall(seen).verdict, FirewallAdvice::Blocked);

    write(etc.filePath("ufw/ufw.conf"), "ENABLED=no\n");
    QVERIFY(!facts().ufwEnabled);
}

void TestFirewall::asksFirewalldOverTheBus()
{
    const QString daemon = QStandardPaths::findExecutable("dbus-daemon");
    if (daemon.isEmpty())
        QSKIP("dbus-daemon is not installed (Debian package dbus-daemon)");
    // A bus of this test's own, with no service folders: nothing can be started on it.
    QTemporaryDir dir;
    QFile config(dir.filePath("bus.conf"));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                 " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                 "<busconfig><type>session</type><listen>unix:dir=" +
                 QFile::encodeName(dir.path()) +
                 "</listen><auth>EXTERNAL</auth>"
                 "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                 "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy>"
                 "</busconfig>\n");
    config.close();
    QProcess bus;
    bus.start(daemon, {"--config-file=" + config.fileName(), "--nofork", "--nopidfile", "--print-address=1"});
    QVERIFY(bus.waitForReadyRead(5000));
    const QString address = QString::fromUtf8(bus.readLine()).trimmed();

    qDBusRegisterMetaType<QMap<QString, QStringList>>();
    qDBusRegisterMetaType<ActiveZones>();
    qDBusRegisterMetaType<PortPairs>();
    {
        QDBusConnection server = QDBusConnection::connectToBus(address, "firewalld");
        QDBusConnection client = QDBusConnection::connectToBus(address, "probe");
        QVERIFY(server.isConnected() && client.isConnected());
        QTemporaryDir etc; // no ufw
        FirewallProbeLinux probe(etc.path(), client);
        QSignalSpy finished(&probe, &FirewallProbe::finished);
        const auto facts = [&] {
            probe.probe();
            if (!finished.wait(5000) || finished.size() != 1)
                return FirewallFacts();
            return finished.takeFirst().at(0).value<FirewallFacts>();
        };

        QVERIFY(!facts().firewalldRunning); // not on the bus: no firewalld

        FakeFirewalld firewalld;
        firewalld.active = {{"home", {{"interfaces", {"wlan0"}}}}, {"public", {{"sources", {"10.0.0.0/8"}}}}};
        firewalld.services = {{"home", {"ssh", "velmora"}}, {"public", {"ssh"}}};
        firewalld.ports = {{"public", {{"8888", "tcp"}, {"6000-7000", "tcp"}}}};
        QVERIFY(server.registerVirtualObject("/org/fedoraproject/FirewallD1", &firewalld));
        QVERIFY(server.registerService("org.fedoraproject.FirewallD1"));
        FirewallFacts seen = facts();
        QVERIFY(seen.firewalldRunning && seen.firewalldAnswered);
        QCOMPARE(seen.firewalldZones.size(), 2);
        QCOMPARE(seen.firewalldZones.at(0).services, QStringList({"ssh", "velmora"}));
        QCOMPARE(seen.firewalldZones.at(1).ports, QStringList({"8888/tcp", "6000-7000/tcp"}));
        QCOMPARE(adviseFirewall(seen).verdict, FirewallAdvice::Open);

        // No zone bound to anything: the default zone governs.
        firewalld.active.clear();
        firewalld.defaultZone = "public";
        firewalld.ports.clear();
        seen = facts();
        QCOMPARE(seen.firewalldZones.size(), 1);
        QCOMPARE(seen.firewalldZones.at(0).name, QStringLiteral("public"));
        QCOMPARE(adviseFirewall(seen).verdict, FirewallAdvice::Blocked);

        // Running, but it will not tell this user: the hint hedges.
        firewalld.refusal = "org.freedesktop.DBus.Error.AccessDenied";
        seen = facts();
        QVERIFY(seen.firewalldRunning && !seen.firewalldAnswered);
        QCOMPARE(adviseFirewall(seen).verdict, FirewallAdvice::Unknown);

        server.unregisterObject("/org/fedoraproject/FirewallD1");
    }
    // Private connections are closed before their bus goes.
    QDBusConnection::disconnectFromBus("firewalld");
    QDBusConnection::disconnectFromBus("probe");
    bus.kill();
    bus.waitForFinished();
}

QTEST_GUILESS_MAIN(TestFirewall)
#include "tst_firewall.moc"
