#include "remote/Server.h"
#include "ui/MainWindow.h"
#include "ui/NavigateItem.h"
#include "ui/NavigateService.h"
#include "ui/WindowPlacement.h"
#include "ui/tools/ScratchContext.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTcpServer>
#include <QtTest>

namespace {

// Runs `action` in the application's event loop; true when it made the application quit. (After a
// quit Qt refuses local loops, so the modal dialogs of later tests, until that loop has run again.)
bool quitsTheEventLoop(const std::function<void()>& action)
{
    QTimer::singleShot(0, action);
    QTimer::singleShot(5000, [] { QCoreApplication::exit(99); });
    return QCoreApplication::exec() == 0;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(m_context.open()); }
    void startsHiddenInTheTrayAndFollowsTheServer();
    void busyPortLeavesAWorkingWindow();
    void trayActivationCloseAndQuit();
    void sessionEndCleansUpAndQuits();
    void placementIsKeptSavedAndRestored();
    void windowModeStartsOnScreen_data();
    void windowModeStartsOnScreen();
    void windowModeClosingMinimisesAndQuitEnds();
    void trayAppearingLaterTakesOver();

private:
    static QSystemTrayIcon* tray(const QWidget& window) { return window.findChild<QSystemTrayIcon*>(); }
    static Server* server(const QWidget& window) { return window.findChild<Server*>(); }
    static QString status(const QWidget& window) { return window.findChild<QLabel*>("statusLabel")->text(); }
    static QString headerState(const QWidget& window)
    {
        return window.findChild<QLabel*>("lbServerState")->text();
    }
    static bool headerControlsShown(const QWidget& window)
    {
        return window.findChild<QWidget*>("frWindowMode")->isVisibleTo(&window);
    }
    // Without a tray, asking again every 20 ms; `tray` may turn true later.
    static MainWindow::Options noTray(const bool* tray, bool startMinimized = false)
    {
        MainWindow::Options options;
        options.commandPort = 0;
        options.trayAvailable = [tray] {
            return *tray;
        };
        options.trayPollMs = 20;
        options.startMinimized = startMinimized;
        return options;
    }

    ScratchContext m_context{QSize(1152, 624)};
};

void TestMainWindow::startsHiddenInTheTrayAndFollowsTheServer()
{
    MainWindow window(nullptr, 0);
    QVERIFY(!window.isVisible());
    QVERIFY(tray(window)->isVisible());
    QVERIFY(server(window)->isListening());
    QCOMPARE(window.serverPort(), int(server(window)->serverPort()));
    QCOMPARE(status(window), QStringLiteral("服务器状态: 运行中"));

    auto* start = window.findChild<QPushButton*>("btnStart");
    auto* stop = window.findChild<QPushButton*>("btnStop");
    QVERIFY(!start->isEnabled() && stop->isEnabled());
    stop->click();
    QVERIFY(!server(window)->isListening());
    QCOMPARE(status(window), QStringLiteral("服务器状态: 已停止"));
    QVERIFY(start->isEnabled() && !stop->isEnabled());
    start->click();
    QVERIFY(server(window)->isListening());
    QCOMPARE(status(window), QStringLiteral("服务器状态: 运行中"));
}

void TestMainWindow::busyPortLeavesAWorkingWindow()
{
    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::Any, 0));
    // The notice is modal; answer it as the user would.
    QString notice;
    QTimer answer;
    connect(&answer, &QTimer::timeout, [&] {
        if (QWidget* dialog = QApplication::activeModalWidget()) {
            for (const QLabel* label : dialog->findChildren<QLabel*>())
                notice += label->text();
            dialog->findChild<QPushButton*>(QStringLiteral("btnSure"))->click();
        }
    });
    answer.start(50);

    MainWindow window(nullptr, holder.serverPort());
    QVERIFY2(notice.contains(QStringLiteral("无法启动服务器，可能端口已被占用")), qPrintable(notice));
    QVERIFY(!server(window)->isListening());
    QCOMPARE(window.serverPort(), 8888);
    QVERIFY(tray(window)->isVisible());
}

void TestMainWindow::trayActivationCloseAndQuit()
{
    MainWindow window(nullptr, 0);
    window.onTrayIconActivated(QSystemTrayIcon::Trigger);
    QVERIFY(window.isVisible());
    window.onTrayIconActivated(QSystemTrayIcon::DoubleClick);
    QVERIFY(!window.isVisible());
    window.onTrayIconActivated(QSystemTrayIcon::Trigger);
    window.showMinimized(); // a click brings a minimised window back rather than hiding it
    window.onTrayIconActivated(QSystemTrayIcon::Trigger);
    QVERIFY(window.isVisible() && !window.isMinimized());

    // Closing hides into the tray; the service keeps running.
    QVERIFY(!window.close());
    QVERIFY(!window.isVisible());
    QVERIFY(server(window)->isListening());
    // A second start always shows the window, where a tray click on a shown one would hide it.
    for (int i = 0; i < 2; ++i) {
        window.bringToFront();
        QVERIFY(window.isVisible() && !window.isMinimized());
    }

    // "退出" stops the service and ends the event loop.
    QAction* quit = tray(window)->contextMenu()->actions().constLast();
    QCOMPARE(quit->text(), QStringLiteral("退出"));
    QVERIFY(quitsTheEventLoop([quit] { quit->trigger(); }));
    QVERIFY(!server(window)->isListening());
    QVERIFY(!tray(window)->isVisible());
}

void TestMainWindow::sessionEndCleansUpAndQuits()
{
    MainWindow window(nullptr, 0);
    const auto navigation = NavigateService::instance()->item(0);
    window.endSession(false); // the session goes on: nothing happens
    QVERIFY(server(window)->isListening());

    QVERIFY(window.queryEndSession());
    QVERIFY(!tray(window)->isVisible());
    QVERIFY(!server(window)->isListening());
    QVERIFY(!navigation->currentView());
    // From now on a close request is not turned into hiding.
    window.show();
    QVERIFY(window.close());
    // The second round (the end itself) finds everything done and still quits.
    QVERIFY(quitsTheEventLoop([&window] { window.endSession(true); }));
}

void TestMainWindow::placementIsKeptSavedAndRestored()
{
    QSettings store(QStringLiteral("Orvane"), QStringLiteral("Velmora"));
    {
        MainWindow window(nullptr, 0);
        // Computed on the work area, then grown to the minimum size from its top-left corner.
        const QRect placed = WindowPlacement::restoredGeometry(
            QGuiApplication::primaryScreen()->availableGeometry(), m_context.defaultWindowSize());
        QCOMPARE(window.geometry(), QRect(placed.topLeft(), placed.size().expandedTo(QSize(1280, 800))));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        // A press on the surface drags the window, which reports where it is; a release ends it.
        const QPoint start = window.pos();
        const QPoint grip(300, 10);
        const auto mouse = [&](QEvent::Type type, const QPoint& moved) {
            QMouseEvent event(type, grip, start + grip + moved, Qt::LeftButton, Qt::LeftButton,
                              Qt::NoModifier);
            QApplication::sendEvent(&window, &event);
        };
        mouse(QEvent::MouseButtonPress, {});
        mouse(QEvent::MouseMove, {40, 25});
        QCOMPARE(window.pos(), start + QPoint(40, 25));
        QCOMPARE(m_context.mainWindowRect(), window.geometry());
        mouse(QEvent::MouseButtonRelease, {40, 25});
        mouse(QEvent::MouseMove, {90, 90});
        QCOMPARE(window.pos(), start + QPoint(40, 25));

        // Shortly after a move off every screen, the window is back on one.
        window.move(20000, 20000);
        QTRY_VERIFY(QGuiApplication::primaryScreen()->geometry().contains(window.geometry().topLeft()));

        store.clear();
        window.showMinimized(); // a minimised window saves nothing, now or when destroyed
    }
    QVERIFY(store.allKeys().isEmpty());
    store.setValue(QStringLiteral("window/maximized"), true);
    {
        MainWindow window(nullptr, 0);
        QVERIFY(window.isVisible() && window.isMaximized());
    }
    QVERIFY(store.contains(QStringLiteral("window/state"))); // saved when destroyed
    store.clear();                                           // the next windows open normally
}

void TestMainWindow::windowModeStartsOnScreen_data()
{
    QTest::addColumn<bool>("startMinimized");
    QTest::newRow("started by the user") << false;
    QTest::newRow("started with the session") << true;
}

void TestMainWindow::windowModeStartsOnScreen()
{
    QFETCH(bool, startMinimized);
    const bool trayHost = false;
    MainWindow window(nullptr, noTray(&trayHost, startMinimized));
    // No tray icon to reach it by: the window itself is there, in the task bar at least.
    QVERIFY(!window.inTray());
    QVERIFY(!tray(window));
    QVERIFY(window.isVisible());
    QCOMPARE(window.isMinimized(), startMinimized);
    QVERIFY(server(window)->isListening());

    // The header answers what the tray's middle click would, and follows the server.
    QVERIFY(headerControlsShown(window));
    QCOMPARE(headerState(window), QStringLiteral("服务器正在运行中"));
    window.onStopServer();
    QCOMPARE(headerState(window), QStringLiteral("服务器已停止"));
    window.onStartServer();
    QCOMPARE(headerState(window), QStringLiteral("服务器正在运行中"));
}

void TestMainWindow::windowModeClosingMinimisesAndQuitEnds()
{
    const bool trayHost = false;
    MainWindow window(nullptr, noTray(&trayHost));
    QVERIFY(!window.close());
    QVERIFY(window.isVisible() && window.isMinimized());
    QVERIFY(server(window)->isListening());
    window.bringToFront();
    QVERIFY(window.isVisible() && !window.isMinimized());

    auto* quit = window.findChild<QPushButton*>("btnQuit");
    QCOMPARE(quit->text(), QStringLiteral("退出"));
    QCOMPARE(quit->shortcut(), QKeySequence(QKeySequence::Quit));
    QVERIFY(quitsTheEventLoop([quit] { quit->click(); }));
    QVERIFY(!server(window)->isListening());
}

void TestMainWindow::trayAppearingLaterTakesOver()
{
    bool trayHost = false;
    MainWindow window(nullptr, noTray(&trayHost));
    QTest::qWait(60); // a few polls without a tray change nothing
    QVERIFY(!window.inTray() && window.isVisible());

    trayHost = true;
    QTRY_VERIFY(window.inTray());
    QVERIFY(tray(window)->isVisible());
    QVERIFY(!headerControlsShown(window));
    QVERIFY(window.isVisible()); // not taken away from under the user
    // From now on the tray rules hold: closing hides, a click brings it back.
    QVERIFY(!window.close());
    QVERIFY(!window.isVisible());
    window.onTrayIconActivated(QSystemTrayIcon::Trigger);
    QVERIFY(window.isVisible());
    trayHost = false; // once in the tray, the window no longer asks
    QTest::qWait(60);
    QVERIFY(window.inTray());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
