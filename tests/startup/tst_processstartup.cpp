#include "support/VelmoraProcess.h"

#include <QtTest>

class TestProcessStartup : public QObject
{
    Q_OBJECT
private slots:
    void offscreenRunsWithoutTrayOrDisplay();
    void signalEndsTheEventLoopInOrder_data();
    void signalEndsTheEventLoopInOrder();
};

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

QTEST_GUILESS_MAIN(TestProcessStartup)
#include "tst_processstartup.moc"
