#include "support/VelmoraProcess.h"

#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

class TestHttpStartup : public QObject
{
    Q_OBJECT
private slots:
    void busyPortEndsTheProgram();
    void servesTheClientBesideTheProgram();
};

void TestHttpStartup::busyPortEndsTheProgram()
{
    if (!haveDisplay())
        QSKIP("needs the X display with a tray host that scripts/test starts");
    QTcpServer holder;
    holder.listen(QHostAddress::Any, 6888); // if someone else holds it, so much the better
    VelmoraProcess velmora;
    velmora.start();
    QCOMPARE(velmora.waitForExit(), 1);
    QVERIFY2(velmora.log().contains(QStringLiteral("无法启动HTTP服务器")), qPrintable(velmora.log()));
    QVERIFY(!velmora.log().contains(QStringLiteral("HTTP服务器已启动")));
}

void TestHttpStartup::servesTheClientBesideTheProgram()
{
    if (!haveDisplay())
        QSKIP("needs the X display with a tray host that scripts/test starts");
    VelmoraProcess velmora; // its working directory is a fresh home without a "mobile" folder
    velmora.start();
    QVERIFY2(velmora.waitForLog(QStringLiteral("HTTP服务器已启动，监听端口6888")), qPrintable(velmora.log()));

    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), 6888);
    QVERIFY(socket.waitForConnected(5000));
    socket.write("GET / HTTP/1.1\r\nHost: phone\r\n\r\n");
    QByteArray reply;
    QFile index(QStringLiteral(VELMORA_BUILD_DIR "/mobile/index.html"));
    const QByteArray expected = index.open(QIODevice::ReadOnly) ? index.readAll() : QByteArray();
    while (socket.waitForReadyRead(5000)) {
        reply += socket.readAll();
        if (reply.endsWith(expected.isEmpty() ? QByteArray("}\n") : expected))
            break;
    }
    QVERIFY2(reply.startsWith(expected.isEmpty() ? "HTTP/1.1 404" : "HTTP/1.1 200 OK"), reply.constData());
    QVERIFY(reply.endsWith(expected.isEmpty() ? QByteArray("}\n") : expected));

    velmora.signal(SIGTERM);
    QCOMPARE(velmora.waitForExit(), 0);
}

QTEST_GUILESS_MAIN(TestHttpStartup)
#include "tst_httpstartup.moc"
