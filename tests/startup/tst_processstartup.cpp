#include "support/VelmoraProcess.h"

#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

class TestProcessStartup : public QObject
{
    Q_OBJECT
private slots:
    void offscreenRunsWithoutTrayOrDisplay();
    void signalEndsTheEventLoopInOrder_data();
    void signalEndsTheEventLoopInOrder();
    void burstIsLoggedInOrderAndKeptAtSignal();
    void linesBeforeFatalMessageAreWritten();
};

namespace {

// The program on Qt's offscreen platform, without a display: its input commands are only logged.
void startOffscreen(VelmoraProcess& velmora)
{
    velmora.environment().insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    velmora.environment().remove(QStringLiteral("DISPLAY"));
    velmora.environment().remove(QStringLiteral("WAYLAND_DISPLAY"));
    velmora.start();
}

} // namespace

void TestProcessStartup::offscreenRunsWithoutTrayOrDisplay()
{
    // Qt's offscreen platform has neither a tray nor a screen anyone sees: the phone service still
    // runs (its window drawn nowhere), and a signal is the way to end it. This is the one start of
    // the real program that needs no X display, so it runs wherever the tests do.
    VelmoraProcess velmora;
    velmora.environment().insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    velmora.start();
    QVERIFY2(velmora.waitForLog(QStringLiteral("HTTP服务器已启动，监听端口6888"), 60000),
             qPrintable(velmora.log()));
    const QString started = velmora.log();
    QVERIFY(started.indexOf(QStringLiteral("系统托盘可用性: false")) <
            started.indexOf(QStringLiteral("没有系统托盘，以窗口模式运行")));
    QVERIFY(started.contains(QStringLiteral("应用程序已启动成功。")));

    velmora.signal(SIGINT);
    QCOMPARE(velmora.waitForExit(), 0);
    QVERIFY2(inOrder(velmora.log(), {"收到Ctrl+C信号，准备退出程序", "服务关闭: 数据库连接已释放",
                                     "Windows控制台事件处理器已取消注册"}),
             qPrintable(velmora.log()));
}

void TestProcessStartup::signalEndsTheEventLoopInOrder_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<QString>("logLine");
    // SIGINT is the offscreen case above.
    QTest::newRow("SIGTERM") << int(SIGTERM) << QStringLiteral("收到系统关机事件，准备退出程序");
    QTest::newRow("SIGHUP") << int(SIGHUP) << QStringLiteral("收到控制台关闭事件，准备退出程序");
}

void TestProcessStartup::signalEndsTheEventLoopInOrder()
{
    if (!haveDisplay())
        QSKIP("needs the X display with a tray host that scripts/test starts");
    QFETCH(int, signalNumber);
    QFETCH(QString, logLine);

    VelmoraProcess velmora;
    velmora.start();
    QVERIFY2(velmora.waitForLog(QStringLiteral("应用程序已启动成功。")), qPrintable(velmora.log()));
    QVERIFY(velmora.log().contains(QStringLiteral("系统托盘可用性: true")));
    QVERIFY(velmora.log().contains(QStringLiteral("Windows控制台事件处理器注册成功")));

    velmora.signal(signalNumber);
    QCOMPARE(velmora.waitForExit(), 0);
    QVERIFY2(inOrder(velmora.log(), {logLine, QStringLiteral("应用程序即将退出，执行清理操作"),
                                     QStringLiteral("Windows控制台事件处理器已取消注册")}),
             qPrintable(velmora.log()));
}

void TestProcessStartup::burstIsLoggedInOrderAndKeptAtSignal()
{
    VelmoraProcess velmora;
    startOffscreen(velmora);
    QVERIFY2(velmora.waitForLog(QStringLiteral("HTTP服务器已启动，监听端口6888"), 60000),
             qPrintable(velmora.log()));

    // Many messages in one write, and the signal at once after them: the log holds one intact
    // line per message that ran, in the order sent, and the shutdown's lines after them.
    constexpr int count = 2000;
    QByteArray burst;
    for (int i = 0; i < count; ++i)
        burst += R"({"command":"mousemove","params":{"dx":)" + QByteArray::number(i) + R"(,"dy":0}})" + '\n';
    QTcpSocket phone;
    phone.connectToHost(QHostAddress::LocalHost, 8888);
    QVERIFY(phone.waitForConnected(10000));
    QVERIFY(velmora.waitForLog(QStringLiteral("新客户端连接")));
    phone.write(burst);
    while (phone.bytesToWrite() > 0)
        QVERIFY(phone.waitForBytesWritten(10000));
    QVERIFY(velmora.waitForLog(QStringLiteral("\"dx\":0,")));
    velmora.signal(SIGTERM);
    QCOMPARE(velmora.waitForExit(), 0);

    const QString log = velmora.log();
    const QRegularExpression received(QStringLiteral(R"(^Receive =>  QJsonObject\(\{"command":"mousemove",)"
                                                     R"("params":\{"dx":(\d+),"dy":0\}\}\)$)"));
    int next = 0;
    for (const QString& line : log.split(QLatin1Char('\n'))) {
        if (!line.contains(QLatin1String("Receive =>")))
            continue;
        const QRegularExpressionMatch match = received.match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));
        QCOMPARE(match.captured(1).toInt(), next);
        ++next;
    }
    QVERIFY(next > 0);
    QVERIFY2(inOrder(log, {QStringLiteral("收到系统关机事件，准备退出程序"),
                           QStringLiteral("服务关闭: 数据库连接已释放"),
                           QStringLiteral("Windows控制台事件处理器已取消注册")}),
             qPrintable(log.right(2000)));
}

void TestProcessStartup::linesBeforeFatalMessageAreWritten()
{
    // With the web port taken, start-up reports a critical message; made fatal, it ends the
    // program at once, with what was logged before it and the message itself in the log.
    QTcpServer holder;
    QVERIFY2(holder.listen(QHostAddress::Any, 6888), qPrintable(holder.errorString()));
    VelmoraProcess velmora;
    velmora.environment().insert(QStringLiteral("QT_FATAL_CRITICALS"), QStringLiteral("1"));
    startOffscreen(velmora);
    QCOMPARE(velmora.waitForExit(60000), -3); // aborted
    QVERIFY2(inOrder(velmora.log(),
                     {QStringLiteral("Windows控制台事件处理器注册成功"),
                      QStringLiteral("服务器已启动，监听端口: 8888"), QStringLiteral("应用程序已启动成功。"),
                      QStringLiteral("无法启动HTTP服务器")}),
             qPrintable(velmora.log()));
}

QTEST_GUILESS_MAIN(TestProcessStartup)
#include "tst_processstartup.moc"
