#include "pairing/ConnectionQrCode.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <QZXing.h>

namespace {

QString decode(const QImage& image)
{
    QZXing decoder;
    decoder.setDecoder(QZXing::DecoderFormat_QR_CODE);
    return decoder.decodeImage(image);
}

// The bounding box of the dark pixels.
QRect darkArea(const QImage& image)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qGray(image.pixel(x, y)) < 128)
                box |= QRect(x, y, 1, 1);
        }
    }
    return box;
}

} // namespace

class TestConnectionQrCode : public QObject
{
    Q_OBJECT
private slots:
    void placeholderSequence(); // first: it relies on being the run's first placeholder
    void payload();
    void encodesAndDecodes_data();
    void encodesAndDecodes();
    void unencodableTextGetsPlaceholder();
    void placeholderShape();
    void placeholderDegenerateSizes();
};

void TestConnectionQrCode::placeholderSequence()
{
    const QImage first = createPlaceholderQrImage(QStringLiteral("ignored"), QSize(400, 400));
    const QImage second = createPlaceholderQrImage(QStringLiteral("ignored"), QSize(400, 400));
    QVERIFY(first != second);

    // Every run starts from the same picture: a fresh process of this test, running only
    // this function, writes its first placeholder where we can compare it.
    const QByteArray childOutput = qgetenv("VELMORA_PLACEHOLDER_OUTPUT");
    if (!childOutput.isEmpty()) {
        QVERIFY(first.save(QString::fromLocal8Bit(childOutput)));
        return;
    }
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString output = dir.filePath(QStringLiteral("first.png"));
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VELMORA_PLACEHOLDER_OUTPUT"), output);
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("placeholderSequence")});
    QVERIFY(child.waitForFinished(60000));
    QCOMPARE(child.exitCode(), 0);
    const QImage fromOtherRun(output);
    QVERIFY(!fromOtherRun.isNull());
    QCOMPARE(fromOtherRun.convertToFormat(QImage::Format_ARGB32), first);
}

void TestConnectionQrCode::payload()
{
    const QString text = connectionPayload(QStringLiteral("10.0.0.5"), 8888);
    QCOMPARE(text, QStringLiteral(R"({"ip":"10.0.0.5","port":8888,"type":"remote_control_server"})"));
    QCOMPARE(text.size(), 60);

    // No address known: the member is still there, empty.
    QCOMPARE(connectionPayload(QString(), 9000),
             QStringLiteral(R"({"ip":"","port":9000,"type":"remote_control_server"})"));

    // Whatever the address text, the result stays one valid JSON object.
    const QString odd = QStringLiteral("a\"b\\c\n");
    const QJsonObject parsed = QJsonDocument::fromJson(connectionPayload(odd, 1).toUtf8()).object();
    QCOMPARE(parsed.value(QStringLiteral("ip")).toString(), odd);
    QCOMPARE(parsed.size(), 3);
}

void TestConnectionQrCode::encodesAndDecodes_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("pairing payload") << connectionPayload(QStringLiteral("10.0.0.5"), 8888);
    QTest::newRow("empty address") << connectionPayload(QString(), 8888);
    QTest::newRow("longest address") << connectionPayload(QStringLiteral("255.255.255.255"), 65535);
    QTest::newRow("url with token") << QStringLiteral(
        "http://192.168.100.200:6888/?token=0123456789abcdef0123456789");
}

void TestConnectionQrCode::encodesAndDecodes()
{
    QFETCH(QString, text);
    const QImage image = renderQrImage(text);
    QCOMPARE(image.size(), QSize(400, 400));
    QCOMPARE(decode(image), text);

    // Opaque: black modules on white, never transparent.
    QCOMPARE(qAlpha(image.pixel(0, 0)), 255);
    QCOMPARE(qGray(image.pixel(0, 0)), 255);
    // The quiet border: the symbol does not touch the edge of the picture.
    const QRect dark = darkArea(image);
    QVERIFY2(dark.left() > 0 && dark.top() > 0 && dark.right() < 399 && dark.bottom() < 399,
             qPrintable(QStringLiteral("dark area %1,%2 %3x%4")
                            .arg(dark.x())
                            .arg(dark.y())
                            .arg(dark.width())
                            .arg(dark.height())));
}

void TestConnectionQrCode::unencodableTextGetsPlaceholder()
{
    // Beyond the capacity of any QR version at level M: the encoder gives up.
    const QString tooLong(4000, QLatin1Char('x'));
    const QImage image = renderQrImage(tooLong);
    QVERIFY(!image.isNull());
    QCOMPARE(image.size(), QSize(400, 400));
    QVERIFY(decode(image).isEmpty());
    // A QR code keeps a white quiet zone at its edge; the placeholder has a black frame.
    QCOMPARE(qGray(image.pixel(0, 200)), 0);
    QCOMPARE(qGray(image.pixel(399, 200)), 0);
}

void TestConnectionQrCode::placeholderShape()
{
    const QImage image = createPlaceholderQrImage(QString(), QSize(400, 400));
    QCOMPARE(image.size(), QSize(400, 400));
    QCOMPARE(image.format(), QImage::Format_ARGB32);
    // Frame: outline at the edges.
    QCOMPARE(qGray(image.pixel(0, 0)), 0);
    QCOMPARE(qGray(image.pixel(399, 399)), 0);
    // U = 57: the top-left mark's outer black square starts at 57, its centre square is
    // 171..228, and the area left of it stays white.
    QCOMPARE(qGray(image.pixel(30, 30)), 255);
    QCOMPARE(qGray(image.pixel(60, 60)), 0);
    QCOMPARE(qGray(image.pixel(200, 200)), 0);
    QCOMPARE(qAlpha(image.pixel(30, 30)), 255);
}

void TestConnectionQrCode::placeholderDegenerateSizes()
{
    QVERIFY(createPlaceholderQrImage(QString(), QSize(0, 0)).isNull());
    QVERIFY(createPlaceholderQrImage(QString(), QSize(-5, 10)).isNull());
    // Sizes where the dot area has no width or height must not divide by zero.
    QCOMPARE(createPlaceholderQrImage(QString(), QSize(700, 200)).size(), QSize(700, 200));
    QCOMPARE(createPlaceholderQrImage(QString(), QSize(3, 3)).size(), QSize(3, 3));
    QCOMPARE(createPlaceholderQrImage(QString(), QSize(7, 400)).size(), QSize(7, 400));
}

QTEST_MAIN(TestConnectionQrCode)
#include "tst_connectionqrcode.moc"
