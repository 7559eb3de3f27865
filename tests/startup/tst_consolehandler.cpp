#include "platform/session/ConsoleEventsFake.h"
#include "platform/session/ConsoleEventsUnix.h"
#include "startup/ConsoleHandler.h"

#include <QtTest>

#include <csignal>

class TestConsoleHandler : public QObject
{
    Q_OBJECT
private slots:
    void knownEventsQuitAfterPause_data();
    void knownEventsQuitAfterPause();
    void unknownEventIsNotHandled();
    void signalsArriveOnTheEventLoop();
};

void TestConsoleHandler::knownEventsQuitAfterPause_data()
{
    QTest::addColumn<int>("event");
    QTest::addColumn<QString>("logLine");
    QTest::newRow("ctrl+c") << 0 << QStringLiteral("收到Ctrl+C信号，准备退出程序");
    QTest::newRow("break") << 1 << QStringLiteral("收到Ctrl+Break信号，准备退出程序");
    QTest::newRow("close") << 2 << QStringLiteral("收到控制台关闭事件，准备退出程序");
    QTest::newRow("logoff") << 5 << QStringLiteral("收到用户注销事件，准备退出程序");
    QTest::newRow("shutdown") << 6 << QStringLiteral("收到系统关机事件，准备退出程序");
}

void TestConsoleHandler::knownEventsQuitAfterPause()
{
    QFETCH(int, event);
    QFETCH(QString, logLine);
    int delay = -1;
    std::function<void()> pending;
    QTest::ignoreMessage(QtDebugMsg, logLine.toUtf8().constData());
    QVERIFY(consoleCtrlHandler(event, [&](int ms, std::function<void()> callback) {
        delay = ms;
        pending = std::move(callback);
    }));
    QCOMPARE(delay, 500);
    QVERIFY(pending);
}

void TestConsoleHandler::unknownEventIsNotHandled()
{
    bool scheduled = false;
    QTest::ignoreMessage(QtDebugMsg, "收到未知控制台事件: 3");
    QVERIFY(!consoleCtrlHandler(3, [&](int, std::function<void()>) { scheduled = true; }));
    QVERIFY(!scheduled);
}

void TestConsoleHandler::signalsArriveOnTheEventLoop()
{
    ConsoleEventsUnix events;
    QVERIFY(events.install());
    QSignalSpy spy(&events, &ConsoleEvents::eventReceived);
    ::raise(SIGHUP);
    ::raise(SIGTERM);
    ::raise(SIGINT);
    QTRY_COMPARE(spy.count(), 3);
    QCOMPARE(spy.at(0).at(0).toInt(), int(ConsoleEvents::Close));
    QCOMPARE(spy.at(1).at(0).toInt(), int(ConsoleEvents::Shutdown));
    QCOMPARE(spy.at(2).at(0).toInt(), int(ConsoleEvents::CtrlC));
    events.uninstall();

    // A second source can take over once the first has let go.
    ConsoleEventsUnix again;
    QVERIFY(again.install());
    QSignalSpy spyAgain(&again, &ConsoleEvents::eventReceived);
    ::raise(SIGTERM);
    QTRY_COMPARE(spyAgain.count(), 1);
}

QTEST_GUILESS_MAIN(TestConsoleHandler)
#include "tst_consolehandler.moc"
