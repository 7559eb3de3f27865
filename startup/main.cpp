#include "app/BatchedLog.h"
#include "app/DemoApp.h"
#include "app/Translations.h"
#include "platform/process/DpiAwareness.h"
#include "platform/process/GraphicsSetup.h"
#include "platform/session/ConsoleEvents.h"
#include "startup/ConsoleHandler.h"
#include "startup/PairCommand.h"
#include "startup/ServiceStartup.h"
#include "startup/SingleInstance.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QDebug>
#include <QFont>
#include <QIcon>
#include <QLocale>
#include <QLoggingCategory>
#include <QScreen>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTextStream>

namespace {

QFont applicationFont()
{
    QFont font(QStringLiteral("Microsoft YaHei"), 9);
    font.setHintingPreference(QFont::PreferFullHinting);
    font.setStyleStrategy(QFont::PreferAntialias);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const qreal ratio = screen->devicePixelRatio();
        const qreal logicalDpi = screen->logicalDotsPerInch();
        const qreal physicalDpi = screen->physicalDotsPerInch();
        qDebug().noquote() << QStringLiteral("屏幕DPI信息: 设备像素比=%1, 逻辑DPI=%2, 物理DPI=%3")
                                  .arg(ratio, 0, 'g')
                                  .arg(logicalDpi, 0, 'g')
                                  .arg(physicalDpi, 0, 'g');
        qreal factor = ratio;
        if (physicalDpi > 0 && logicalDpi > 0 && logicalDpi / 96.0 > factor)
            factor = logicalDpi / 96.0;
        // Qt already scales by the device pixel ratio, so the point size stays 9 on every screen.
        font.setPointSize(9);
        qDebug().noquote() << QStringLiteral("字体大小调整: 有效缩放因子=%1, 基础大小=%2, 调整后大小=%3")
                                  .arg(factor, 0, 'g')
                                  .arg(9)
                                  .arg(9);
    }
    return font;
}

// --help and --pair: answered from a terminal, possibly over SSH, so without a display.
int runTerminalRequest(CommandLineRequest request, int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The terminal shows the answer, not the program's progress notes; warnings still go through.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false"));
    Translations translations;
    translations.install(QLocale::system().uiLanguages());
    QTextStream out(stdout);
    QTextStream err(stderr);
    if (request == CommandLineRequest::Help) {
        out << usageText();
        return 0;
    }
    // The same data folder as a full start derives: the running copy is found by it.
    SingleInstance instance(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation));
    if (request == CommandLineRequest::Send)
        return runSendCommand(instance, filesToSend(QCoreApplication::arguments()), out, err);
    return runPairCommand(instance, out, err);
}

} // namespace

int main(int argc, char** argv)
{
    const CommandLineRequest request = commandLineRequest(argc, argv);
    if (request != CommandLineRequest::Run)
        return runTerminalRequest(request, argc, argv);

    setupDpiAwareness();
    preferRasterGraphics();
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps, true);
    QCoreApplication::setAttribute(Qt::AA_DisableWindowContextHelpButton, true);
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);

    QApplication app(argc, argv);
    // Every line logged from here on goes out with the others of its event-loop pass.
    BatchedLog::install();
    struct LogGuard
    {
        ~LogGuard() { BatchedLog::uninstall(); }
    } logGuard;

    const std::unique_ptr<ConsoleEvents> consoleEvents = createConsoleEvents();
    QObject::connect(consoleEvents.get(), &ConsoleEvents::eventReceived,
                     [](int ctrlType) { consoleCtrlHandler(ctrlType); });
    if (consoleEvents->install())
        qDebug() << "Windows控制台事件处理器注册成功";
    else
        qWarning() << "无法注册Windows控制台事件处理器";

    QFont::insertSubstitution(QStringLiteral("Microsoft YaHei"), QStringLiteral("SimSun"));
    QFont::insertSubstitution(QStringLiteral("Microsoft YaHei"), QStringLiteral("SimHei"));
    QFont::insertSubstitution(QStringLiteral("Microsoft YaHei"), QStringLiteral("PMingLiU"));

    // Child processes (players, launched applications) inherit this; our own scaling is already fixed.
    qputenv("QT_AUTO_SCREEN_SCALE_FACTOR", "1");

    qDebug() << "检测到" << QGuiApplication::screens().size() << "个显示器:";
    logScreenDetails();
    QApplication::setFont(applicationFont());

    // Before any window exists: the interface in the user's language, where the program has it.
    Translations translations;
    translations.install(QLocale::system().uiLanguages());

    // A second start shows the running copy's window and leaves the data and the ports to it. The
    // data folder is still named after the executable here, as phase A will use it.
    SingleInstance instance(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation));
    if (!instance.claim()) {
        qInfo() << "维莫拉已在运行";
        if (instance.activateRunning())
            return 0;
        qWarning() << "已运行的实例没有应答";
        return 1;
    }

    ApplicationBase::setInstance(new DemoApp());

    ServiceStartup services;
    if (!services.phaseA())
        return -1;

    // After phase A: the data folder is derived from the executable's name, not this one.
    QCoreApplication::setApplicationName(QStringLiteral("维莫拉"));

    const QIcon icon(QStringLiteral(":/resources/ui/images/default/common/app.ico"));
    if (!icon.isNull())
        QApplication::setWindowIcon(icon);

    const bool trayAvailable = QSystemTrayIcon::isSystemTrayAvailable();
    qDebug() << "系统托盘可用性:" << trayAvailable;
    if (!trayAvailable)
        qInfo() << "没有系统托盘，以窗口模式运行";

    QObject::connect(&app, &QCoreApplication::aboutToQuit, &app, &onAboutToQuit, Qt::DirectConnection);

    // The autostart entry passes --minimized: at login a window-mode window starts minimised.
    services.setStartMinimized(QCoreApplication::arguments().contains(QStringLiteral("--minimized")));
    if (!services.phaseB())
        return 1;

    // Here the session ends with SIGTERM (Shutdown) rather than a window message: the window
    // runs its session-end clean-up and quits, after the handler above has logged the event.
    MainWindow* window = services.mainWindow();
    instance.setPairingLinksProvider(&currentPairingLinks);
    instance.setFileOfferHandler([window](const QStringList& paths) {
        const MainWindow::FileOffer& offer = window->fileOffer();
        return offer ? offer(paths) : 0;
    });
    QObject::connect(&instance, &SingleInstance::activationRequested, window, &MainWindow::bringToFront);
    QObject::connect(consoleEvents.get(), &ConsoleEvents::eventReceived, window, [window](int ctrlType) {
        if (ctrlType == ConsoleEvents::Logoff || ctrlType == ConsoleEvents::Shutdown)
            window->endSession(true);
    });

    const int result = QApplication::exec();

    services.phaseC();
    ApplicationBase::destroyInstance();
    // Out before a signal may end the program without the event loop again.
    BatchedLog::uninstall();
    consoleEvents->uninstall();
    qDebug() << "Windows控制台事件处理器已取消注册";
    return result;
}
