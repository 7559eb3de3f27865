#include "LoopbackClient.h"
#include "support/VelmoraProcess.h"

#include <QTcpServer>
#include <QtTest>

static QString xdotool(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

class TestHttpStartup : public QObject
{
    Q_OBJECT
private slots:
    // Also: the settings and data it keeps are private to the user.
    void servesBesideTheProgramAndHoldsThePort();
};

void TestHttpStartup::servesBesideTheProgramAndHoldsThePort()
{
    if (!haveDisplay())
        QSKIP("needs the X display with a tray host that scripts/test starts");
    VelmoraProcess velmora; // its working directory is a fresh home, whose "mobile" is not served
    QVERIFY(QDir(velmora.home()).mkdir(QStringLiteral("mobile")));
    QFile own(velmora.home() + QStringLiteral("/mobile/index.html"));
    QVERIFY(own.open(QIODevice::WriteOnly) && own.write("private\n") == 8);
    own.close();
    // Settings left readable by everyone (the umask's default) are tightened at start.
    const QString settings = velmora.home() + QStringLiteral("/.config/Orvane/Velmora.conf");
    QVERIFY(QDir().mkpath(QFileInfo(settings).absolutePath()));
    QFile stored(settings);
    QVERIFY(stored.open(QIODevice::WriteOnly) && stored.write("[window]\nmaximized=false\n") > 0);
    stored.close();
    QVERIFY(QFile::setPermissions(settings, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                                QFile::ReadOther));
    velmora.start();
    QVERIFY2(velmora.waitForLog(QStringLiteral("HTTP服务器已启动，监听端口6888")), qPrintable(velmora.log()));

    QFile index(QStringLiteral(VELMORA_BUILD_DIR "/mobile/index.html"));
    QVERIFY(index.open(QIODevice::ReadOnly));
    LoopbackClient client(6888);
    client.send("GET / HTTP/1.1\r\nHost: 127.0.0.1:6888\r\n\r\n");
    QCOMPARE(client.next(), httpResponse("200 OK", "text/html", index.readAll()));

    velmora.signal(SIGTERM);
    QCOMPARE(velmora.waitForExit(), 0);
    // The settings (which now hold the pairing token) and the data are this user's alone.
    const auto mode = [](const QString& path) {
        return int(QFile::permissions(path) & 0x7777);
    };
    QCOMPARE(mode(settings), 0x6600);
    QVERIFY(QFile(settings).size() > 30);
    for (const QString& folder : {velmora.dataFolder(), QFileInfo(velmora.dataFolder()).absolutePath()})
        QCOMPARE(mode(folder), 0x7700);

    // Another program holds both ports. The window's notice about 8888 waits for the user; once
    // that is dismissed, the web port's failure ends the program with 1.
    QTcpServer commandHolder;
    QTcpServer webHolder;
    QVERIFY(commandHolder.listen(QHostAddress::Any, 8888) && webHolder.listen(QHostAddress::Any, 6888));
    VelmoraProcess blocked;
    blocked.start();
    QVERIFY2(blocked.waitForLog(QStringLiteral("服务器启动失败")), qPrintable(blocked.log()));
    QString notice;
    QTRY_VERIFY_WITH_TIMEOUT(
        !(notice = xdotool({"search", "--onlyvisible", "--name", "^MessageBox$"})).isEmpty(), 10000);
    xdotool({QStringLiteral("windowfocus"), notice.section(QLatin1Char('\n'), 0, 0)});
    xdotool({"key", "Escape"});
    QCOMPARE(blocked.waitForExit(), 1);
    QVERIFY2(blocked.log().contains(QStringLiteral("无法启动HTTP服务器")), qPrintable(blocked.log()));
}

QTEST_GUILESS_MAIN(TestHttpStartup)
#include "tst_httpstartup.moc"
