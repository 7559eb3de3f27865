#include "app/ApplicationBase.h"
#include "data/SqlDatabase.h"
#include "remote/Server.h"
#include "ui/MainWindow.h"
#include "ui/NavigateItem.h"
#include "ui/NavigateService.h"
#include "ui/ViewController.h"
#include "ui/WindowPlacement.h"

#include <QAction>
#include <QButtonGroup>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QStackedWidget>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// Program folder with the template databases, a temporary data folder, and the last
// rectangle the window reported.
class WindowTestContext final : public ApplicationBase
{
public:
    WindowTestContext()
    {
        QDir(m_program.path()).mkpath(QStringLiteral("Data"));
        for (const QString name : {"cfg.db", "log.db", "data.db"})
            QFile::copy(QStringLiteral(VELMORA_BUILD_DIR "/Data/") + name,
                        m_program.path() + QStringLiteral("/Data/") + name);
    }
    QString applicationDirPath() const override { return m_program.path(); }
    QString writableLocation() const override { return m_home.path(); }
    QSize defaultWindowSize() const override { return QSize(1152, 624); }
    void setMainWindowRect(const QRect& rect) override { m_rect = rect; }
    QRect mainWindowRect() const override { return m_rect; }

private:
    QTemporaryDir m_program;
    QTemporaryDir m_home;
    QRect m_rect;
};

QSettings store()
{
    return QSettings(QStringLiteral("Orvane"), QStringLiteral("Velmora"));
}

template <typename T = QWidget> T* child(const QWidget& window, const char* name = nullptr)
{
    return window.findChild<T*>(name ? QLatin1String(name) : QString());
}
QSystemTrayIcon* tray(const QWidget& window)
{
    return child<QSystemTrayIcon>(window);
}
Server* server(const QWidget& window)
{
    return child<Server>(window);
}

// Runs `action` inside the application's event loop; true when it made the application quit.
// (The application loop, not a local one: after a quit, Qt refuses to start local loops until
// the application loop has run again, which would break the modal dialogs of later tests.)
bool quitsTheEventLoop(const std::function<void()>& action)
{
    QTimer::singleShot(0, action);
    QTimer fallback;
    QObject::connect(&fallback, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    fallback.start(5000);
    return QCoreApplication::exec() == 0;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void startsHiddenInTheTrayWithTheServerRunning();
    void serviceButtonsAndPagesFollowTheState();
    void busyPortLeavesAWorkingWindow();
    void trayActivationAndCloseToTray();
    void sessionEndCleansUpAndQuits();
    void stateIsSavedAndRestored();
    void dragDoublePressAndScreens();

private:
    QTemporaryDir m_settingsDir;
    std::unique_ptr<WindowTestContext> m_context;
};

void TestMainWindow::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
    m_context = std::make_unique<WindowTestContext>();
    ApplicationBase::setInstance(m_context.get());
    SqlDatabase::createRegistry();
    QVERIFY(openDatabases());
}

void TestMainWindow::init()
{
    store().clear();
    // Presses of the previous test must not pair with the first press of this one.
    QTest::qWait(600);
}

void TestMainWindow::cleanupTestCase()
{
    SqlDatabase::destroyRegistry();
    ApplicationBase::setInstance(nullptr);
}

void TestMainWindow::startsHiddenInTheTrayWithTheServerRunning()
{
    MainWindow window(nullptr, 0);
    QVERIFY(!window.isVisible());
    QVERIFY(tray(window)->isVisible());
    QVERIFY(server(window)->isListening());
    QCOMPARE(window.serverPort(), int(server(window)->serverPort()));
    QCOMPARE(child<QLabel>(window, "statusLabel")->text(), QStringLiteral("服务器状态: 运行中"));
    QVERIFY(child(window, "frServiceControl")->isHidden());

    // The pages find the port through their window.
    auto* about = child(window, "swAboutViewItem")->window();
    QCOMPARE(dynamic_cast<ServerPortProvider*>(about)->serverPort(), window.serverPort());

    // The start-up size is the preferred size on the work area, grown to the minimum from its
    // top-left corner.
    const QRect placed = WindowPlacement::restoredGeometry(
        QGuiApplication::primaryScreen()->availableGeometry(), m_context->defaultWindowSize());
    QCOMPARE(window.geometry(), QRect(placed.topLeft(), placed.size().expandedTo(QSize(1280, 800))));
}

void TestMainWindow::serviceButtonsAndPagesFollowTheState()
{
    MainWindow window(nullptr, 0);
    auto* start = child<QPushButton>(window, "btnStart");
    auto* stop = child<QPushButton>(window, "btnStop");
    auto* status = child<QLabel>(window, "statusLabel");
    QVERIFY(!start->isEnabled() && stop->isEnabled());

    stop->click();
    QVERIFY(!server(window)->isListening());
    QCOMPARE(window.serverPort(), 8888);
    QCOMPARE(status->text(), QStringLiteral("服务器状态: 已停止"));
    QVERIFY(start->isEnabled() && !stop->isEnabled());
    start->click();
    QVERIFY(server(window)->isListening());
    QCOMPARE(status->text(), QStringLiteral("服务器状态: 运行中"));

    // Navigation buttons switch the stacked widget; the group keeps one checked.
    window.show();
    auto* pages = child<QStackedWidget>(window, "swMainClient");
    const auto navigation = NavigateService::instance()->item(0);
    QCOMPARE(pages->currentIndex(), 0);
    const char* buttons[] = {"btnNavDesktopAppView", "btnNavSettingView", "btnAbout",
                             "btnNavMediaLibraryView"};
    const int indexes[] = {1, 2, 3, 0};
    for (int i = 0; i < 4; ++i) {
        auto* button = child<QPushButton>(window, buttons[i]);
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(pages->currentIndex(), indexes[i]);
        QCOMPARE(button->group()->checkedButton(), button);
        QCOMPARE(navigation->currentView(), navigation->views().at(indexes[i]));
    }
}

void TestMainWindow::busyPortLeavesAWorkingWindow()
{
    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::Any, 0));
    QString notice;
    // The notice is modal; answer it as the user would.
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
    answer.stop();
    QVERIFY2(notice.contains(QStringLiteral("无法启动服务器，可能端口已被占用")), qPrintable(notice));
    QVERIFY(!server(window)->isListening());
    QCOMPARE(window.serverPort(), 8888);
    QCOMPARE(child<QLabel>(window, "statusLabel")->text(), QString());
    QVERIFY(tray(window)->isVisible());
}

void TestMainWindow::trayActivationAndCloseToTray()
{
    MainWindow window(nullptr, 0);
    window.onTrayIconActivated(QSystemTrayIcon::Trigger);
    QVERIFY(window.isVisible());
    window.onTrayIconActivated(QSystemTrayIcon::DoubleClick);
    QVERIFY(!window.isVisible());
    window.onTrayIconActivated(QSystemTrayIcon::Trigger);
    QVERIFY(window.isVisible());

    // Closing hides into the tray; the service keeps running.
    QCloseEvent close;
    QApplication::sendEvent(&window, &close);
    QVERIFY(!close.isAccepted());
    QVERIFY(!window.isVisible());
    QVERIFY(server(window)->isListening());

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
    QVERIFY(navigation->currentView());

    window.endSession(false); // the session goes on: nothing happens
    QVERIFY(server(window)->isListening());

    QVERIFY(window.queryEndSession());
    QVERIFY(!tray(window)->isVisible());
    QVERIFY(!server(window)->isListening());
    QVERIFY(!navigation->currentView());
    // From now on a close request is not turned into hiding.
    window.show();
    QCloseEvent close;
    QApplication::sendEvent(&window, &close);
    QVERIFY(close.isAccepted());

    // The second round (the end itself) finds everything done and still quits.
    QVERIFY(quitsTheEventLoop([&window] { window.endSession(true); }));
}

void TestMainWindow::stateIsSavedAndRestored()
{
    {
        MainWindow window(nullptr, 0);
        window.show();
        store().clear();
        window.showMinimized();
        QVERIFY(store().allKeys().isEmpty());
    }
    QVERIFY(store().allKeys().isEmpty());

    QRect geometry;
    {
        MainWindow window(nullptr, 0);
        window.show();
        geometry = window.geometry();
    }
    QCOMPARE(store().value(QStringLiteral("window/geometry")).toRect(), geometry);
    QVERIFY(store().contains(QStringLiteral("window/state")));
    QCOMPARE(store().value(QStringLiteral("window/maximized")).toBool(), false);

    // A stored maximised flag opens the window at once, maximised.
    store().setValue(QStringLiteral("window/maximized"), true);
    MainWindow window(nullptr, 0);
    QVERIFY(window.isVisible() && window.isMaximized());
}

void TestMainWindow::dragDoublePressAndScreens()
{
    MainWindow window(nullptr, 0);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QPoint start = window.pos();
    const auto mouse = [&window](QEvent::Type type, Qt::MouseButton button, const QPoint& local,
                                 const QPoint& global) {
        QMouseEvent event(type, local, global, button, type == QEvent::MouseMove ? Qt::LeftButton : button,
                          Qt::NoModifier);
        QApplication::sendEvent(&window, &event);
    };
    const QPoint grip(300, 10);
    const QPoint globalGrip = start + grip;
    mouse(QEvent::MouseButtonPress, Qt::LeftButton, grip, globalGrip);
    mouse(QEvent::MouseMove, Qt::NoButton, grip, globalGrip + QPoint(40, 25));
    QCOMPARE(window.pos(), start + QPoint(40, 25));
    QCOMPARE(m_context->mainWindowRect(), window.geometry());
    mouse(QEvent::MouseButtonRelease, Qt::LeftButton, grip, globalGrip + QPoint(40, 25));
    mouse(QEvent::MouseMove, Qt::NoButton, grip, globalGrip + QPoint(90, 90));
    QCOMPARE(window.pos(), start + QPoint(40, 25));

    // Two quick left presses at nearly the same place toggle the maximised state, and back.
    QTest::qWait(600);
    for (const bool maximised : {true, false}) {
        mouse(QEvent::MouseButtonPress, Qt::LeftButton, grip, window.pos() + grip);
        mouse(QEvent::MouseButtonRelease, Qt::LeftButton, grip, window.pos() + grip);
        mouse(QEvent::MouseButtonPress, Qt::LeftButton, grip + QPoint(3, 3), window.pos() + grip);
        mouse(QEvent::MouseButtonRelease, Qt::LeftButton, grip, window.pos() + grip);
        QCOMPARE(window.isMaximized(), maximised);
    }

    // Shortly after a move off every screen, the window is back on one.
    window.move(20000, 20000);
    QTRY_VERIFY(QGuiApplication::primaryScreen()->geometry().contains(window.geometry().topLeft()));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
