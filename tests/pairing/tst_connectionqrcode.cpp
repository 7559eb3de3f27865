#include "pairing/ConnectionQrCode.h"

#include <QtTest>

#include <QZXing.h>

namespace {

QString decode(const QImage& image)
{
    QZXing decoder;
    decoder.setDecoder(QZXing::DecoderFormat_QR_CODE);
    return decoder.decodeImage(image);
}

} // namespace

class TestConnectionQrCode : public QObject
{
    Q_OBJECT
private slots:
    void firstPlaceholderOfARun(); // must stay first: it needs the run's first placeholder
    void payload();
    void encodesAndDecodes();
    void unencodableTextGetsPlaceholder();
    void placeholderDegenerateSizes();
};

void TestConnectionQrCode::firstPlaceholderOfARun()
{
    const QImage first = createPlaceholderQrImage(QString(), QSize(400, 400));
    QVERIFY(first != createPlaceholderQrImage(QString(), QSize(400, 400)));

    // A fresh process of this test, running only this function, saves its first picture.
    const QByteArray childOutput = qgetenv("VELMORA_PLACEHOLDER_OUTPUT");
    if (!childOutput.isEmpty()) {
        QVERIFY(first.save(QString::fromLocal8Bit(childOutput)));
        return;
    }
    QTemporaryDir dir;
    const QString output = dir.filePath(QStringLiteral("first.png"));
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VELMORA_PLACEHOLDER_OUTPUT"), output);
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("firstPlaceholderOfARun")});
    QVERIFY(child.waitForFinished(60000));
    QCOMPARE(child.exitCode(), 0);
    QCOMPARE(QImage(output).convertToFormat(QImage::Format_ARGB32), first);
}

void TestConnectionQrCode::payload()
{
    const QString text = connectionPayload(QStringLiteral("10.0.0.5"), 8888);
    QCOMPARE(text, QStringLiteral(R"({"ip":"10.0.0.5","port":8888,"type":"remote_control_server"})"));
    QCOMPARE(text.size(), 60);
    QCOMPARE(connectionPayload(QString(), 9000),
             QStringLiteral(R"({"ip":"","port":9000,"type":"remote_control_server"})"));
}

void TestConnectionQrCode::encodesAndDecodes()
{
    const QStringList texts{connectionPayload(QStringLiteral("10.0.0.5"), 8888),
                            connectionPayload(QStringLiteral("255.255.255.255"), 65535),
                            QStringLiteral("http://192.168.100.200:6888/?token=0123456789abcdef0123456789")};
    for (const QString& text : texts) {
        const QImage image = renderQrImage(text);
        QCOMPARE(image.size(), QSize(400, 400));
        QCOMPARE(decode(image), text); // needs the quiet border
        QCOMPARE(image.pixel(0, 0), qRgba(255, 255, 255, 255));
    }
}

void TestConnectionQrCode::unencodableTextGetsPlaceholder()
{
    // Beyond any QR version at level M: the encoder gives up and the placeholder stands in.
    const QImage image = renderQrImage(QString(4000, QLatin1Char('x')));
    QCOMPARE(image.size(), QSize(400, 400));
    QVERIFY(decode(image).isEmpty());
    QCOMPARE(qGray(image.pixel(0, 200)), 0); // its black frame, where a QR code has white
}

void TestConnectionQrCode::placeholderDegenerateSizes()
{
    QVERIFY(createPlaceholderQrImage(QString(), QSize(0, 0)).isNull());
    QVERIFY(createPlaceholderQrImage(QString(), QSize(-5, 10)).isNull());
    // No room for dots between the margins: no division by zero.
    QCOMPARE(createPlaceholderQrImage(QString(), QSize(700, 200)).size(), QSize(700, 200));
    QCOMPARE(createPlaceholderQrImage(QString(), QSize(3, 3)).size(), QSize(3, 3));
}

QTEST_MAIN(TestConnectionQrCode)
#include "tst_connectionqrcode.moc"
