#include "pairing/ConnectionAddresses.h"

#include <QtTest>

namespace {

const QNetworkInterface::InterfaceFlags kWorking = QNetworkInterface::IsUp | QNetworkInterface::IsRunning;

NetworkAdapter adapter(const QString& name, const QString& label, const QStringList& addresses,
                       QNetworkInterface::InterfaceFlags flags = kWorking)
{
    NetworkAdapter a{name, label, flags, {}};
    for (const QString& text : addresses)
        a.addresses.append(QHostAddress(text));
    return a;
}

QList<QHostAddress> hosts(const QStringList& texts)
{
    return adapter(QString(), QString(), texts).addresses;
}

} // namespace

Q_DECLARE_METATYPE(NetworkAdapter)

class TestConnectionAddresses : public QObject
{
    Q_OBJECT
private slots:
    void rejectedAdapters_data();
    void rejectedAdapters();
    void addressFilterAndDuplicates();
    void fallback();
    void preferred();
};

void TestConnectionAddresses::rejectedAdapters_data()
{
    QTest::addColumn<NetworkAdapter>("rejected");
    const QStringList addr{QStringLiteral("192.168.50.2")};
    QTest::newRow("up, not running") << adapter("eth1", "Ethernet 2", addr, QNetworkInterface::IsUp);
    QTest::newRow("point to point") << adapter("ppp0", "Dial-up", addr,
                                               kWorking | QNetworkInterface::IsPointToPoint);
    QTest::newRow("wsl, mixed case") << adapter("eth9", "vEthernet (WSL)", addr);
    QTest::newRow("tap") << adapter("eth9", "TAP-Windows Adapter V9", addr);
    QTest::newRow("only the system name") << adapter("docker0", "Bridge", addr);
    QTest::newRow("last keyword") << adapter("eth9", "My OpenVPN link", addr);
}

void TestConnectionAddresses::rejectedAdapters()
{
    QFETCH(NetworkAdapter, rejected);
    const NetworkAdapter lan = adapter("wlan0", "Wi-Fi", {"192.168.1.20"});
    const ConnectionAddressList expected{{"192.168.1.20", "Wi-Fi"}};
    QCOMPARE(collectConnectionAddresses({rejected, lan}, hosts({"192.168.50.2"})), expected);
}

void TestConnectionAddresses::addressFilterAndDuplicates()
{
    const QList<NetworkAdapter> adapters{
        adapter("eth0", "Ethernet",
                {"169.254.10.1", "fe80::1", "127.0.0.1", "0.0.0.0", "192.168.0.7", "10.1.2.3"}),
        adapter("wlan0", "HOME wifi", {"10.1.2.3", "172.16.0.4"}),
    };
    const ConnectionAddressList expected{
        {"192.168.0.7", "Ethernet"}, {"10.1.2.3", "Ethernet"}, {"172.16.0.4", "HOME wifi"}};
    QCOMPARE(collectConnectionAddresses(adapters, hosts({"8.8.8.8"})), expected);
}

void TestConnectionAddresses::fallback()
{
    // Every adapter filtered out: the machine's plausible addresses, labelled "IPv4", even
    // those of adapters the keyword filter rejected; never the unspecified address.
    const QList<NetworkAdapter> filtered{
        adapter("docker0", "docker0", {"172.17.0.1"}),
        adapter("eth0", "Ethernet", {"192.168.1.5"}, QNetworkInterface::IsUp)};
    const QList<QHostAddress> all =
        hosts({"127.0.0.1", "::1", "172.17.0.1", "169.254.3.3", "172.17.0.1", "0.0.0.0", "192.168.1.5"});
    const ConnectionAddressList expected{{"172.17.0.1", "IPv4"}, {"192.168.1.5", "IPv4"}};
    QCOMPARE(collectConnectionAddresses(filtered, all), expected);

    const ConnectionAddressList none =
        collectConnectionAddresses(filtered, hosts({"127.0.0.1", "169.254.1.1"}));
    QVERIFY(none.isEmpty());
    QCOMPARE(preferredConnectionAddress(none), QString());
}

void TestConnectionAddresses::preferred()
{
    // List order decides between the prefixes; "172." is a plain text prefix.
    QCOMPARE(
        preferredConnectionAddress({{"8.8.4.4", "a"}, {"10.0.0.5", "Wi-Fi"}, {"192.168.1.9", "Ethernet"}}),
        QStringLiteral("10.0.0.5"));
    QCOMPARE(preferredConnectionAddress({{"172.217.3.4", "a"}, {"8.8.4.4", "b"}}),
             QStringLiteral("172.217.3.4"));
    // No match: the first entry; "100." does not pass for "10.".
    QCOMPARE(preferredConnectionAddress({{"100.64.0.2", "a"}, {"8.8.4.4", "b"}}),
             QStringLiteral("100.64.0.2"));
}

QTEST_GUILESS_MAIN(TestConnectionAddresses)
#include "tst_connectionaddresses.moc"
