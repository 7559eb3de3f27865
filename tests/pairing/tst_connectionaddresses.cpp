#include "pairing/ConnectionAddresses.h"

#include <QtTest>

namespace {

const QNetworkInterface::InterfaceFlags kWorking =
    QNetworkInterface::IsUp | QNetworkInterface::IsRunning | QNetworkInterface::CanBroadcast;

NetworkAdapter adapter(const QString& name, const QString& label, const QStringList& addresses,
                       QNetworkInterface::InterfaceFlags flags = kWorking)
{
    NetworkAdapter a;
    a.name = name;
    a.humanReadableName = label;
    a.flags = flags;
    for (const QString& text : addresses)
        a.addresses.append(QHostAddress(text));
    return a;
}

QList<QHostAddress> hosts(const QStringList& texts)
{
    QList<QHostAddress> result;
    for (const QString& text : texts)
        result.append(QHostAddress(text));
    return result;
}

ConnectionAddressList entries(std::initializer_list<ConnectionAddress> list)
{
    return ConnectionAddressList(list);
}

} // namespace

Q_DECLARE_METATYPE(NetworkAdapter)

class TestConnectionAddresses : public QObject
{
    Q_OBJECT
private slots:
    void adapterFilter_data();
    void adapterFilter();
    void addressFilterAndDuplicates();
    void fallback();
    void preferred_data();
    void preferred();
};

// Each row: one adapter that must contribute nothing, beside a plain LAN adapter.
void TestConnectionAddresses::adapterFilter_data()
{
    QTest::addColumn<NetworkAdapter>("rejected");
    const QStringList addr{QStringLiteral("192.168.50.2")};
    QTest::newRow("up but not running") << adapter("eth1", "Ethernet 2", addr, QNetworkInterface::IsUp);
    QTest::newRow("running but down") << adapter("eth1", "Ethernet 2", addr, QNetworkInterface::IsRunning);
    QTest::newRow("loopback flag") << adapter("lo9", "Local", addr, kWorking | QNetworkInterface::IsLoopBack);
    QTest::newRow("point to point") << adapter("ppp0", "Dial-up", addr,
                                               kWorking | QNetworkInterface::IsPointToPoint);
    QTest::newRow("wsl, mixed case") << adapter("eth9", "vEthernet (WSL)", addr);
    QTest::newRow("tap in readable name") << adapter("eth9", "TAP-Windows Adapter V9", addr);
    QTest::newRow("bluetooth") << adapter("eth9", "Bluetooth Network Connection", addr);
    QTest::newRow("keyword only in system name") << adapter("docker0", "Bridge", addr);
    QTest::newRow("last keyword") << adapter("eth9", "My OpenVPN link", addr);
    QTest::newRow("substring inside a word") << adapter("eth9", "Startap LAN", addr);
}

void TestConnectionAddresses::adapterFilter()
{
    QFETCH(NetworkAdapter, rejected);
    const NetworkAdapter lan = adapter("wlan0", "Wi-Fi", {QStringLiteral("192.168.1.20")});
    const ConnectionAddressList expected = entries({{"192.168.1.20", "Wi-Fi"}});
    QCOMPARE(collectConnectionAddresses({rejected, lan}, hosts({"192.168.50.2", "192.168.1.20"})), expected);
    QCOMPARE(collectConnectionAddresses({lan, rejected}, {}), expected);
}

void TestConnectionAddresses::addressFilterAndDuplicates()
{
    const QList<NetworkAdapter> adapters{
        adapter(
            "eth0", "Ethernet",
            {"169.254.10.1", "fe80::1", "127.0.0.1", "0.0.0.0", "192.168.0.7", "192.168.0.7", "10.1.2.3"}),
        adapter("wlan0", "Wi-Fi", {"10.1.2.3", "172.16.0.4"}),
    };
    const ConnectionAddressList expected =
        entries({{"192.168.0.7", "Ethernet"}, {"10.1.2.3", "Ethernet"}, {"172.16.0.4", "Wi-Fi"}});
    QCOMPARE(collectConnectionAddresses(adapters, hosts({"8.8.8.8"})), expected);

    // Labels keep the adapter's own letter case.
    QCOMPARE(collectConnectionAddresses({adapter("en0", "HOME lan", {"192.168.3.3"})}, {}),
             entries({{"192.168.3.3", "HOME lan"}}));
}

void TestConnectionAddresses::fallback()
{
    // Every adapter filtered out: all plausible addresses, labelled "IPv4", including those
    // of adapters the keyword filter rejected.
    const QList<NetworkAdapter> filtered{
        adapter("docker0", "docker0", {"172.17.0.1"}),
        adapter("eth0", "Ethernet", {"192.168.1.5"}, QNetworkInterface::IsUp)};
    const QList<QHostAddress> all =
        hosts({"127.0.0.1", "::1", "172.17.0.1", "169.254.3.3", "172.17.0.1", "0.0.0.0", "192.168.1.5"});
    QCOMPARE(collectConnectionAddresses(filtered, all),
             entries({{"172.17.0.1", "IPv4"}, {"192.168.1.5", "IPv4"}}));

    // One usable adapter address is enough to skip the fallback.
    QCOMPARE(collectConnectionAddresses({adapter("eth0", "Ethernet", {"10.0.0.9"})}, all),
             entries({{"10.0.0.9", "Ethernet"}}));

    // Nothing usable anywhere.
    const ConnectionAddressList none =
        collectConnectionAddresses(filtered, hosts({"127.0.0.1", "169.254.1.1"}));
    QVERIFY(none.isEmpty());
    QCOMPARE(preferredConnectionAddress(none), QString());
    QVERIFY(collectConnectionAddresses({}, {}).isEmpty());
}

void TestConnectionAddresses::preferred_data()
{
    QTest::addColumn<ConnectionAddressList>("list");
    QTest::addColumn<QString>("expected");
    QTest::newRow("list order, not prefix rank")
        << entries({{"10.0.0.5", "Wi-Fi"}, {"192.168.1.9", "Ethernet"}}) << "10.0.0.5";
    QTest::newRow("skips public addresses")
        << entries({{"8.8.4.4", "a"}, {"100.64.0.2", "b"}, {"192.168.1.9", "c"}}) << "192.168.1.9";
    QTest::newRow("plain 172. prefix") << entries({{"172.217.3.4", "a"}, {"8.8.4.4", "b"}}) << "172.217.3.4";
    QTest::newRow("no match: first") << entries({{"100.64.0.2", "a"}, {"8.8.4.4", "b"}}) << "100.64.0.2";
    QTest::newRow("prefix needs the dot") << entries({{"1.2.3.4", "a"}, {"100.1.1.1", "b"}}) << "1.2.3.4";
    QTest::newRow("empty") << ConnectionAddressList() << QString();
}

void TestConnectionAddresses::preferred()
{
    QFETCH(ConnectionAddressList, list);
    QFETCH(QString, expected);
    QCOMPARE(preferredConnectionAddress(list), expected);
}

QTEST_GUILESS_MAIN(TestConnectionAddresses)
#include "tst_connectionaddresses.moc"
