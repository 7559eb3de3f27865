#include "support/VelmoraProcess.h"

#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace {

// Runs a command line (split at spaces) and returns what it printed.
QString run(const QString& command)
{
    QStringList arguments = QProcess::splitCommand(command);
    QProcess process;
    process.start(arguments.takeFirst(), arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

bool listening(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    return socket.waitForConnected(2000);
}

// Ids of the visible windows titled like the main window (the title is its source text).
QString visibleMainWindows()
{
    return run(QStringLiteral("xdotool search --onlyvisible --name ^DemoApp$")).trimmed();
}

// The centre of the program's icon once the tray host's panel has embedded it, or a null point.
// (Before that the icon is a window of its own, where a click would miss it.)
QPoint trayIconCentre()
{
    // Lines look like: 0x200006 "维莫拉": ("velmora" "维莫拉")  22x22+0+0  +1897+1
    const QRegularExpression icon(
        QStringLiteral("\\(\"velmora\" \"[^\"]*\"\\)\\s+(\\d+)x(\\d+)\\S*\\s+\\+(-?\\d+)\\+(-?\\d+)"));
    for (const QString& panel :
         run(QStringLiteral("xdotool search --class trayer")).split(QLatin1Char('\n'))) {
        const auto m = icon.match(run(QStringLiteral("xwininfo -tree -id ") + panel));
        if (m.hasMatch() && m.captured(1).toInt() > 1)
            return QPoint(m.captured(3).toInt() + m.captured(1).toInt() / 2,
                          m.captured(4).toInt() + m.captured(2).toInt() / 2);
    }
    return QPoint();
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void runsInTheTrayAndEndsInOrder();
    void busyWebPortEndsWithOne();
    void missingTemplatesEndWithMinusOne();
};

void TestEndToEnd::init()
{
    if (!haveDisplay())
        QSKIP("needs the X display with a tray host that scripts/test starts");
}

void TestEndToEnd::runsInTheTrayAndEndsInOrder()
{
    VelmoraProcess velmora;
    velmora.start();
    QVERIFY2(velmora.waitForLog(QStringLiteral("HTTP服务器已启动，监听端口6888")), qPrintable(velmora.log()));
    QVERIFY(listening(8888) && listening(6888));

    // Started into the tray: no window, but an icon in the tray host; a click on it shows the window.
    QVERIFY(visibleMainWindows().isEmpty());
    QPoint icon;
    QTRY_VERIFY_WITH_TIMEOUT(!(icon = trayIconCentre()).isNull(), 10000);
    run(QStringLiteral("xdotool mousemove %1 %2 click 1").arg(icon.x()).arg(icon.y()));
    QTRY_VERIFY_WITH_TIMEOUT(!visibleMainWindows().isEmpty(), 10000);

    // The phone moves the pointer.
    QTcpSocket phone;
    phone.connectToHost(QStringLiteral("127.0.0.1"), 8888);
    QVERIFY(phone.waitForConnected(5000));
    phone.write("{\"command\":\"mousemove\",\"params\":{\"dx\":321,\"dy\":123,\"absolute\":true}}\n");
    QVERIFY(phone.waitForBytesWritten(5000));
    QTRY_VERIFY_WITH_TIMEOUT(run(QStringLiteral("xdotool getmouselocation")).startsWith("x:321 y:123 "),
                             10000);

    // The end of the session: the window cleans up and goes first, the databases last.
    velmora.signal(SIGTERM);
    QCOMPARE(velmora.waitForExit(), 0);
    const QString log = velmora.log();
    int previous = -1;
    for (const QString text :
         {"收到系统关机事件，准备退出程序", "托盘图标已隐藏", "服务器已停止", "服务关闭: 主窗口已销毁",
          "服务关闭: HTTP服务器已停止", "服务关闭: 数据库连接已释放"}) {
        const int at = log.indexOf(text, previous + 1);
        QVERIFY2(at > previous, qPrintable(text + QStringLiteral(" out of order in:\n") + log));
        previous = at;
    }
}

void TestEndToEnd::busyWebPortEndsWithOne()
{
    QTcpServer holder;
    holder.listen(QHostAddress::Any, 6888); // if someone else holds it, so much the better
    VelmoraProcess velmora;
    velmora.start();
    QCOMPARE(velmora.waitForExit(), 1);
    QVERIFY2(velmora.log().contains(QStringLiteral("无法启动HTTP服务器")), qPrintable(velmora.log()));
    QVERIFY(visibleMainWindows().isEmpty());
}

void TestEndToEnd::missingTemplatesEndWithMinusOne()
{
    // The program looks for its templates beside itself: a copy in an empty folder has none.
    QTemporaryDir folder;
    const QString copy = folder.filePath(QStringLiteral("velmora"));
    QVERIFY(QFile::copy(QStringLiteral(VELMORA_BINARY), copy));
    VelmoraProcess velmora;
    velmora.start(copy);
    QCOMPARE(velmora.waitForExit(), 255);
    QVERIFY(!listening(8888) && !listening(6888));
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
