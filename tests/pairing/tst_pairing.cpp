#include "pairing/ConnectionAddresses.h"
#include "pairing/ConnectionQrCode.h"
#include "pairing/TerminalQrCode.h"
#include "support/TerminalQr.h"

#include <QtTest>

#include <QZXing.h>

namespace {

QList<QHostAddress> hosts(const QStringList& texts)
{
    QList<QHostAddress> result;
    for (const QString& text : texts)
        result << QHostAddress(text);
    return result;
}

NetworkAdapter adapter(const QString& name, const QString& label, const QStringList& addresses,
                       QNetworkInterface::InterfaceFlags flags = QNetworkInterface::IsUp |
                                                                 QNetworkInterface::IsRunning)
{
    return NetworkAdapter{name, label, flags, hosts(addresses)};
}

} // namespace

class TestPairing : public QObject
{
    Q_OBJECT
private slots:
    void firstPlaceholderOfARun() // must stay first: it needs the run's first placeholder
    {
        const QImage first = createPlaceholderQrImage(QString(), QSize(400, 400));
        QVERIFY(first != createPlaceholderQrImage(QString(), QSize(400, 400)));

        // A fresh process of this test, running only this function, saves its first picture.
        const QString childOutput = qEnvironmentVariable("VELMORA_PLACEHOLDER_OUTPUT");
        if (!childOutput.isEmpty()) {
            QVERIFY(first.save(childOutput));
            return;
        }
        QTemporaryDir dir;
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("VELMORA_PLACEHOLDER_OUTPUT", dir.filePath("first.png"));
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {"firstPlaceholderOfARun"});
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitCode(), 0);
        QCOMPARE(QImage(dir.filePath("first.png")).convertToFormat(QImage::Format_ARGB32), first);
    }

    void payloadAndFailures()
    {
        const QString text = connectionPayload("10.0.0.5", 8888);
        QCOMPARE(text, QStringLiteral(R"({"ip":"10.0.0.5","port":8888,"type":"remote_control_server"})"));
        QCOMPARE(text.size(), 60);

        // Beyond any QR version at level M: the encoder gives up and the placeholder stands in.
        const QImage image = renderQrImage(QString(4000, 'x'));
        QCOMPARE(image.size(), QSize(400, 400));
        QZXing decoder;
        decoder.setDecoder(QZXing::DecoderFormat_QR_CODE);
        QVERIFY(decoder.decodeImage(image).isEmpty());
        QCOMPARE(qGray(image.pixel(0, 200)), 0); // its black frame, where a QR code has white

        // Sizes without room for an image or for the dots: a null image, or no division by zero.
        QVERIFY(createPlaceholderQrImage(QString(), QSize(-5, 10)).isNull());
        QCOMPARE(createPlaceholderQrImage(QString(), QSize(700, 200)).size(), QSize(700, 200));
    }

    void terminalCodeScans_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("smallest symbol") << QStringLiteral("hi");
        QTest::newRow("web client link")
            << QStringLiteral("http://192.168.178.100:6888/#token=0123456789abcdef0123456789abcdef");
        QTest::newRow("a link ZXing reads at some sizes only")
            << QStringLiteral("http://10.77.0.1:6888/#token=f31d2155b524dba184224106e3098210");
        QTest::newRow("large symbol") << QString(600, QLatin1Char('q'));
    }
    void terminalCodeScans()
    {
        QFETCH(QString, text);
        const QStringList lines = terminalQrCode(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY(!lines.isEmpty());
        QCOMPARE(decodeQr(terminalQrImage(lines, 0)), text);
        // The quiet zone is drawn, not left to the terminal's own background; every line
        // resets the colours before its end so the terminal does not stay painted.
        const QString blank = QStringLiteral("\x1b[30;107m") +
                              QString(lines.first().size() - 13, QLatin1Char(' ')) +
                              QStringLiteral("\x1b[0m");
        QCOMPARE(lines.first(), blank);
        for (const QString& line : lines)
            QVERIFY(line.endsWith(QLatin1String("\x1b[0m")));
        QCOMPARE(terminalQrCode(QString(4000, 'x')), QString());
    }

    void addresses()
    {
        // Not running, or a keyword in either name: the adapter is left out. Link-local, loopback
        // and 0.0.0.0 addresses are skipped; a repeated one keeps its first label.
        const QList<NetworkAdapter> adapters{
            adapter("eth1", "Ethernet 2", {"192.168.50.2"}, QNetworkInterface::IsUp),
            adapter("eth9", "vEthernet (WSL)", {"192.168.50.3"}),
            adapter("docker0", "Bridge", {"192.168.50.4"}),
            adapter("eth0", "Ethernet", {"169.254.10.1", "127.0.0.1", "0.0.0.0", "8.8.4.4", "10.1.2.3"}),
            adapter("wlan0", "HOME wifi", {"10.1.2.3", "192.168.0.7"})};
        const ConnectionAddressList found{
            {"8.8.4.4", "Ethernet"}, {"10.1.2.3", "Ethernet"}, {"192.168.0.7", "HOME wifi"}};
        QCOMPARE(collectConnectionAddresses(adapters, hosts({"8.8.8.8"})), found);
        QCOMPARE(preferredConnectionAddress(found), QStringLiteral("10.1.2.3")); // list order decides

        // No adapter left: the machine's plausible addresses once each, labelled "IPv4", even those
        // of adapters the keyword filter rejected; never 0.0.0.0.
        const QList<NetworkAdapter> rejected = adapters.mid(0, 3);
        const ConnectionAddressList fallback{{"192.168.50.4", "IPv4"}, {"192.168.1.5", "IPv4"}};
        QCOMPARE(collectConnectionAddresses(rejected, hosts({"127.0.0.1", "192.168.50.4", "169.254.3.3",
                                                             "0.0.0.0", "192.168.50.4", "192.168.1.5"})),
                 fallback);
        QVERIFY(collectConnectionAddresses(rejected, hosts({"127.0.0.1", "169.254.1.1"})).isEmpty());

        // "172." is a plain text prefix; without any match the first entry; none for no entry.
        QCOMPARE(preferredConnectionAddress({{"8.8.4.4", "a"}, {"172.217.3.4", "b"}}),
                 QStringLiteral("172.217.3.4"));
        QCOMPARE(preferredConnectionAddress({{"100.64.0.2", "a"}, {"8.8.4.4", "b"}}),
                 QStringLiteral("100.64.0.2"));
        QCOMPARE(preferredConnectionAddress({}), QString());
    }
};

QTEST_MAIN(TestPairing)
#include "tst_pairing.moc"
