#include "support/VelmoraProcess.h"

#include <QFile>
#include <QTcpSocket>
#include <QtTest>

class TestHttpStartup : public QObject
{
    Q_OBJECT
private slots:
    void servesBesideTheProgramAndHoldsThePort();
};

void TestHttpStartup::servesBesideTheProgramAndHoldsThePort()
{
    if (!haveDisplay())
        QSKIP("needs the X display with a tray host that scripts/test starts");
    VelmoraProcess velmora; // its working directory is a fresh home without a "mobile" folder
    velmora.start();
    QVERIFY2(velmora.waitForLog(QStringLiteral("HTTP服务器已启动，监听端口6888")), qPrintable(velmora.log()));

    QFile index(QStringLiteral(VELMORA_BUILD_DIR "/mobile/index.html"));
    QVERIFY(index.open(QIODevice::ReadOnly));
    const QByteArray expected = index.readAll();
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), 6888);
    socket.write("GET / HTTP/1.1\r\nHost: phone\r\n\r\n");
    QByteArray reply;
    while (!reply.endsWith(expected) && socket.waitForReadyRead(5000))
        reply += socket.readAll();
    QVERIFY2(reply.startsWith("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n"), reply.left(200).constData());
    QVERIFY(reply.endsWith(expected));

    // A second instance cannot have the port: it says so and ends with 1.
    VelmoraProcess second;
    second.start();
    QCOMPARE(second.waitForExit(), 1);
    QVERIFY2(second.log().contains(QStringLiteral("无法启动HTTP服务器")), qPrintable(second.log()));

    velmora.signal(SIGTERM);
    QCOMPARE(velmora.waitForExit(), 0);
}

QTEST_GUILESS_MAIN(TestHttpStartup)
#include "tst_httpstartup.moc"
