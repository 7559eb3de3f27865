#include "platform/FirewallProbeLinux.h"

#include <QSignalSpy>
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

} // namespace

Q_DECLARE_METATYPE(FirewallFacts)

class TestFirewall : public QObject
{
    Q_OBJECT
private slots:
    void advice_data();
    void advice();
    void readsUfwAsAUser();
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

QTEST_GUILESS_MAIN(TestFirewall)
#include "tst_firewall.moc"
