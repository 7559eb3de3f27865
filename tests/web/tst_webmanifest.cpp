// "Add to Home screen": the web client's manifest and icons as the HTTP server serves them from
// the repository's mobile/ folder, and that they say what a phone's browser needs.
#include "LoopbackClient.h"
#include "web/HttpServer.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

namespace {

struct Reply
{
    QByteArray status;
    QByteArray type;
    QByteArray body;
};

Reply fetch(quint16 port, const QByteArray& target)
{
    LoopbackClient client(port);
    client.send("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    const QByteArray response = client.next();
    const int end = response.indexOf("\r\n\r\n");
    const int typeAt = response.indexOf("\r\nContent-Type: ") + 16;
    return {response.left(response.indexOf("\r\n")),
            typeAt < 16 ? QByteArray() : response.mid(typeAt, response.indexOf('\r', typeAt) - typeAt),
            end < 0 ? QByteArray() : response.mid(end + 4)};
}

} // namespace

class TestWebManifest : public QObject
{
    Q_OBJECT

private slots:
    void manifestAndIconsAreServedAndHoldTogether()
    {
        HttpServer server;
        server.setClientFolders({QStringLiteral(VELMORA_SOURCE_DIR "/mobile")});
        QVERIFY(server.start(0));

        const Reply page = fetch(server.port(), "/");
        QCOMPARE(page.status, QByteArray("HTTP/1.1 200 OK"));
        QVERIFY(page.body.contains(R"(<link rel="manifest" href="manifest.json">)"));
        QVERIFY(page.body.contains(R"(<link rel="apple-touch-icon" href="icons/apple-touch-icon.png">)"));

        const Reply manifest = fetch(server.port(), "/manifest.json");
        QCOMPARE(manifest.status, QByteArray("HTTP/1.1 200 OK"));
        QCOMPARE(manifest.type, QByteArray("application/json"));
        QJsonParseError error;
        const QJsonObject object = QJsonDocument::fromJson(manifest.body, &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(object.value("name").toString(), QStringLiteral("Velmora"));
        QCOMPARE(object.value("short_name").toString(), QStringLiteral("Velmora"));
        QCOMPARE(object.value("display").toString(), QStringLiteral("fullscreen"));
        // Relative, so the installed app opens on whichever address the phone paired with; never
        // the pairing token, which the page keeps to itself.
        QCOMPARE(object.value("start_url").toString(), QStringLiteral("./"));
        QVERIFY(!manifest.body.contains("token"));
        QVERIFY(QColor::isValidColor(object.value("theme_color").toString()));
        QVERIFY(QColor::isValidColor(object.value("background_color").toString()));

        // Chromium wants an icon of at least 144 px for installing, and a launcher's own shape a
        // maskable one; every icon must be the size it claims.
        QStringList purposes;
        int largest = 0;
        for (const QJsonValue& entry : object.value("icons").toArray()) {
            const QJsonObject icon = entry.toObject();
            const QString src = icon.value("src").toString();
            QVERIFY2(!src.startsWith('/') && !src.contains(".."), qPrintable(src));
            const Reply file = fetch(server.port(), "/" + src.toUtf8());
            QCOMPARE(file.status, QByteArray("HTTP/1.1 200 OK"));
            QCOMPARE(file.type, QByteArray("image/png"));
            QCOMPARE(icon.value("type").toString(), QStringLiteral("image/png"));
            const QImage image = QImage::fromData(file.body, "PNG");
            QVERIFY2(!image.isNull(), qPrintable(src));
            QCOMPARE(QStringLiteral("%1x%2").arg(image.width()).arg(image.height()),
                     icon.value("sizes").toString());
            purposes << icon.value("purpose").toString(QStringLiteral("any"));
            if (purposes.last() == QLatin1String("maskable"))
                QVERIFY2(image.pixelColor(0, 0).alpha() == 255, "a maskable icon fills its square");
            largest = std::max(largest, image.width());
        }
        QVERIFY(purposes.contains("any") && purposes.contains("maskable"));
        QVERIFY(largest >= 512);
        const Reply touch = fetch(server.port(), "/icons/apple-touch-icon.png");
        QCOMPARE(QImage::fromData(touch.body, "PNG").size(), QSize(180, 180));
    }
};

QTEST_GUILESS_MAIN(TestWebManifest)
#include "tst_webmanifest.moc"
