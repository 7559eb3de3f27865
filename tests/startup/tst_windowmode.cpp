#include "support/VelmoraProcess.h"

#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QtTest>

bool sendCloseRequest(const char* display, unsigned long window);

namespace {

bool listening(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    return socket.waitForConnected(2000);
}

} // namespace

// The real program on a display of its own: an X server and a window manager, and a tray host
// only when a test starts one. (The display that scripts/test provides always has a tray.)
class TestWindowMode : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();
    void withoutTrayRunsInAWindow();
    void trayStartedLaterTakesOver();
    void autostartEntryStartsMinimised();

private:
    QString x(const QString& program, const QStringList& arguments) const;
    QString mainWindow() const;
    bool viewable(const QString& id) const;
    QString windowState(const QString& id) const; // "Normal", "Iconic", or empty when withdrawn
    QPoint trayIconCentre() const;
    void startProgram(VelmoraProcess& velmora, const QStringList& arguments = {});

    QProcess m_xserver;
    QProcess m_windowManager;
    QProcess m_trayHost;
    QString m_display;
    QString m_window; // the program's main window, once startProgram() has found it
};

QString TestWindowMode::x(const QString& program, const QStringList& arguments) const
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), m_display);
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

QString TestWindowMode::mainWindow() const
{
    // The one the window manager has taken on (the title is the window's source text).
    for (const QString& id : x(QStringLiteral("xdotool"), {"search", "--name", "^DemoApp$"}).split('\n')) {
        if (!id.isEmpty() && !windowState(id).isEmpty())
            return id;
    }
    return QString();
}

bool TestWindowMode::viewable(const QString& id) const
{
    return x(QStringLiteral("xwininfo"), {"-id", id}).contains(QLatin1String("IsViewable"));
}

QString TestWindowMode::windowState(const QString& id) const
{
    const QString state = x(QStringLiteral("xprop"), {"-id", id, "WM_STATE"});
    const auto match = QRegularExpression(QStringLiteral("window state: (\\w+)")).match(state);
    return match.hasMatch() && match.captured(1) != QLatin1String("Withdrawn") ? match.captured(1)
                                                                               : QString();
}

QPoint TestWindowMode::trayIconCentre() const
{
    // Lines look like: 0x200006 "维莫拉": ("velmora" "维莫拉")  22x22+0+0  +1897+1
    const QRegularExpression icon(
        QStringLiteral("\\(\"velmora\" \"[^\"]*\"\\)\\s+(\\d+)x(\\d+)\\S*\\s+\\+(-?\\d+)\\+(-?\\d+)"));
    for (const QString& panel : x(QStringLiteral("xdotool"), {"search", "--class", "trayer"}).split('\n')) {
        const auto m = icon.match(x(QStringLiteral("xwininfo"), {"-tree", "-id", panel}));
        if (m.hasMatch() && m.captured(1).toInt() > 1)
            return QPoint(m.captured(3).toInt() + m.captured(1).toInt() / 2,
                          m.captured(4).toInt() + m.captured(2).toInt() / 2);
    }
    return QPoint();
}

void TestWindowMode::initTestCase()
{
    for (const char* tool : {"Xvfb", "openbox", "trayer", "xdotool", "xprop", "xwininfo"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            QSKIP(qPrintable(QStringLiteral("needs %1 (scripts/packages.txt)").arg(QLatin1String(tool))));
    }
    // The server picks a free display and names it on its output. Without -noreset it starts
    // over whenever its last client leaves, and drops a client that came meanwhile: the
    // window manager, now and then, right after its start.
    m_xserver.start(QStringLiteral("Xvfb"),
                    {"-displayfd", "1", "-screen", "0", "1600x1000x24", "-nolisten", "tcp", "-noreset"});
    QVERIFY(m_xserver.waitForReadyRead(10000));
    m_display = QLatin1Char(':') + QString::fromLatin1(m_xserver.readLine()).trimmed();

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), m_display);
    environment.insert(QStringLiteral("HOME"), QDir::tempPath()); // no user settings of the manager
    m_windowManager.setProcessEnvironment(environment);
    m_trayHost.setProcessEnvironment(environment);
    m_windowManager.setProcessChannelMode(QProcess::MergedChannels);
    m_windowManager.start(QStringLiteral("openbox"), {"--sm-disable"});
    QVERIFY(m_windowManager.waitForStarted(10000));
    const bool managed = QTest::qWaitFor(
        [this] {
            return m_windowManager.state() != QProcess::Running ||
                   x(QStringLiteral("xprop"), {"-root", "_NET_SUPPORTING_WM_CHECK"})
                       .contains(QLatin1String("window id"));
        },
        20000);
    QVERIFY2(managed && m_windowManager.state() == QProcess::Running,
             qPrintable(m_display + QLatin1Char(' ') + QString::fromLocal8Bit(m_windowManager.readAll())));
}

void TestWindowMode::cleanup()
{
    if (m_trayHost.state() != QProcess::NotRunning) {
        m_trayHost.kill();
        m_trayHost.waitForFinished(5000);
    }
}

void TestWindowMode::cleanupTestCase()
{
    for (QProcess* process : {&m_windowManager, &m_xserver}) {
        if (process->state() != QProcess::NotRunning) {
            process->terminate();
            if (!process->waitForFinished(5000))
                process->kill();
        }
    }
}

void TestWindowMode::startProgram(VelmoraProcess& velmora, const QStringList& arguments)
{
    velmora.environment().insert(QStringLiteral("DISPLAY"), m_display);
    velmora.environment().insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    velmora.start(QStringLiteral(VELMORA_BINARY), arguments);
    QVERIFY2(velmora.waitForLog(QStringLiteral("HTTP服务器已启动，监听端口6888"), 60000),
             qPrintable(velmora.log()));
    QVERIFY2(velmora.log().contains(QStringLiteral("系统托盘可用性: false")), qPrintable(velmora.log()));
    QVERIFY(velmora.log().contains(QStringLiteral("没有系统托盘，以窗口模式运行")));
    QTRY_VERIFY_WITH_TIMEOUT(!(m_window = mainWindow()).isEmpty(), 20000);
}

void TestWindowMode::withoutTrayRunsInAWindow()
{
    VelmoraProcess velmora;
    startProgram(velmora);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(listening(8888) && listening(6888));
    const QString window = m_window;
    QTRY_COMPARE_WITH_TIMEOUT(windowState(window), QStringLiteral("Normal"), 10000);
    QVERIFY(viewable(window));

    // Closing minimises: the service goes on.
    QVERIFY(sendCloseRequest(m_display.toLatin1().constData(), window.toULong()));
    QTRY_COMPARE_WITH_TIMEOUT(windowState(window), QStringLiteral("Iconic"), 10000);
    QVERIFY(!viewable(window));
    QCOMPARE(velmora.process().state(), QProcess::Running);
    QVERIFY(listening(8888) && listening(6888));

    // A second start in the same home shows the first one's window and leaves it the ports.
    VelmoraProcess second;
    second.environment() = velmora.environment();
    second.start();
    QCOMPARE(second.waitForExit(60000), 0);
    QVERIFY2(second.log().contains(QStringLiteral("维莫拉已在运行")), qPrintable(second.log()));
    QVERIFY(!second.log().contains(QStringLiteral("HTTP服务器")));
    QTRY_COMPARE_WITH_TIMEOUT(windowState(window), QStringLiteral("Normal"), 10000);
    QVERIFY(viewable(window));
    QVERIFY(velmora.waitForLog(QStringLiteral("再次启动: 显示已运行实例的窗口")));
    QCOMPARE(velmora.process().state(), QProcess::Running);
    QVERIFY(listening(8888) && listening(6888));

    // "退出" from the window (its shortcut, Ctrl+Q): the tray menu's clean way out.
    x(QStringLiteral("xdotool"), {"windowactivate", "--sync", window, "key", "--clearmodifiers", "ctrl+q"});
    QCOMPARE(velmora.waitForExit(), 0);
    const QString log = velmora.log();
    QVERIFY2(inOrder(log, {"服务器已停止", "应用程序即将退出，执行清理操作", "服务关闭: 主窗口已销毁",
                           "服务关闭: HTTP服务器已停止", "服务关闭: 数据库连接已释放",
                           "Windows控制台事件处理器已取消注册"}),
             qPrintable(log));
    QVERIFY(!listening(8888) && !listening(6888));
}

void TestWindowMode::trayStartedLaterTakesOver()
{
    VelmoraProcess velmora;
    startProgram(velmora);
    if (QTest::currentTestFailed())
        return;
    const QString window = m_window;
    QTRY_VERIFY_WITH_TIMEOUT(viewable(window), 10000);

    m_trayHost.start(QStringLiteral("trayer"), {"--edge", "top", "--align", "right", "--widthtype", "request",
                                                "--height", "24", "--transparent", "false"});
    QVERIFY(velmora.waitForLog(QStringLiteral("系统托盘已可用，转入托盘模式"), 15000));
    QTRY_VERIFY_WITH_TIMEOUT(!trayIconCentre().isNull(), 10000);
    QVERIFY(viewable(window)); // the window stays where the user has it

    // From now on closing hides the window into the tray.
    QVERIFY(sendCloseRequest(m_display.toLatin1().constData(), window.toULong()));
    QTRY_VERIFY_WITH_TIMEOUT(!viewable(window), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(windowState(window).isEmpty(), 10000); // hidden, not minimised
    QCOMPARE(velmora.process().state(), QProcess::Running);

    velmora.signal(SIGTERM);
    QCOMPARE(velmora.waitForExit(), 0);
}

void TestWindowMode::autostartEntryStartsMinimised()
{
    // The command line exactly as the session's autostart runs it.
    QSettings entry(QStringLiteral(VELMORA_SOURCE_DIR "/desktop/velmora-autostart.desktop"),
                    QSettings::IniFormat);
    QStringList command =
        QProcess::splitCommand(entry.value(QStringLiteral("Desktop Entry/Exec")).toString());
    QCOMPARE(command.value(0), QStringLiteral("velmora"));
    command.removeFirst();

    VelmoraProcess velmora;
    startProgram(velmora, command);
    if (QTest::currentTestFailed())
        return;
    const QString window = m_window;
    QTRY_COMPARE_WITH_TIMEOUT(windowState(window), QStringLiteral("Iconic"), 10000);
    QVERIFY(!viewable(window));
    velmora.signal(SIGTERM);
    QCOMPARE(velmora.waitForExit(), 0);
}

QTEST_GUILESS_MAIN(TestWindowMode)
#include "tst_windowmode.moc"
