#include "support/VelmoraProcess.h"

#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace {

QString run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
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
    return run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                           QStringLiteral("--name"), QStringLiteral("^DemoApp$")})
        .trimmed();
}

// The centre of the program's icon once the tray host has embedded it, or a null point.
QPoint trayIconCentre()
{
    // Lines look like: 0x200006 "维莫拉": ("velmora" "维莫拉")  22x22+0+0  +1897+1
    const auto windows = [](const QString& tree, const QString& windowClass) {
        QList<QRect> rects;
        const QRegularExpression line(
            QStringLiteral("\\(%1\\)\\s+(\\d+)x(\\d+)\\+-?\\d+\\+-?\\d+\\s+\\+(-?\\d+)\\+(-?\\d+)")
                .arg(windowClass));
        auto matches = line.globalMatch(tree);
        while (matches.hasNext()) {
            const auto m = matches.next();
            rects << QRect(m.captured(3).toInt(), m.captured(4).toInt(), m.captured(1).toInt(),
                           m.captured(2).toInt());
        }
        return rects;
    };
    const QString tree = run(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")});
    const QList<QRect> panels = windows(tree, QStringLiteral("\"panel\" \"trayer\""));
    for (const QRect& icon : windows(tree, QStringLiteral("\"velmora\" \"[^\"]*\""))) {
        // Before it is embedded the icon is a window of its own, where a click would miss it.
        for (const QRect& panel : panels)
            if (icon.width() > 1 && panel.contains(icon))
                return icon.center();
    }
    return QPoint();
}

// "x:321 y:123 screen:0 window:..." for the X pointer.
QString pointer()
{
    return run(QStringLiteral("xdotool"), {QStringLiteral("getmouselocation")});
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
    QVERIFY(listening(8888));
    QVERIFY(listening(6888));

    // Started into the tray: no window, but an icon in the tray host.
    QVERIFY(visibleMainWindows().isEmpty());
    QPoint icon;
    QTRY_VERIFY_WITH_TIMEOUT(!(icon = trayIconCentre()).isNull(), 10000);

    // A click on the icon shows the window.
    run(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QString::number(icon.x()),
                                    QString::number(icon.y()), QStringLiteral("click"), QStringLiteral("1")});
    QTRY_VERIFY_WITH_TIMEOUT(!visibleMainWindows().isEmpty(), 10000);

    // The phone moves the pointer.
    QTcpSocket phone;
    phone.connectToHost(QStringLiteral("127.0.0.1"), 8888);
    QVERIFY(phone.waitForConnected(5000));
    phone.write("{\"command\":\"mousemove\",\"params\":{\"dx\":321,\"dy\":123,\"absolute\":true}}\n");
    QVERIFY(phone.waitForBytesWritten(5000));
    QTRY_VERIFY_WITH_TIMEOUT(pointer().startsWith(QStringLiteral("x:321 y:123 ")), 10000);

    // The end of the session: the window cleans up, then the services go in order.
    velmora.signal(SIGTERM);
    QCOMPARE(velmora.waitForExit(), 0);
    const QString log = velmora.log();
    const QStringList order{
        QStringLiteral("收到系统关机事件，准备退出程序"),
        QStringLiteral("开始执行Windows系统关机清理操作"),
        QStringLiteral("托盘图标已隐藏"),
        QStringLiteral("服务器已停止"),
        QStringLiteral("Windows系统关机清理操作完成"),
        QStringLiteral("应用程序即将退出，执行清理操作"),
        QStringLiteral("服务关闭: 主窗口已销毁"),
        QStringLiteral("服务关闭: HTTP服务器已停止"),
        QStringLiteral("服务关闭: 数据库连接已释放"),
        QStringLiteral("Windows控制台事件处理器已取消注册"),
    };
    int previous = -1;
    for (const QString& text : order) {
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
    QVERIFY(!velmora.log().contains(QStringLiteral("HTTP服务器已启动")));
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
    const QString log = velmora.log();
    QVERIFY2(!log.contains(QStringLiteral("服务器已启动")), qPrintable(log));
    QVERIFY(!log.contains(QStringLiteral("MainWindow: Initializing Server...")));
    QVERIFY(!listening(8888));
    QVERIFY(!listening(6888));
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
