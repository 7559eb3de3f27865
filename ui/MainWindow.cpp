#include "ui/MainWindow.h"
#include "ui_MainWindow.h"

#include "app/ApplicationBase.h"
#include "data/AppService.h"
#include "data/MediaService.h"
#include "platform/DesktopNotifier.h"
#include "platform/TitleBar.h"
#include "remote/PhoneAccess.h"
#include "remote/Server.h"
#include "ui/AboutView.h"
#include "ui/DesktopAppView.h"
#include "ui/MediaLibraryView.h"
#include "ui/MessageBoxView.h"
#include "ui/NavigateService.h"
#include "ui/PhoneConsentView.h"
#include "ui/SettingView.h"
#include "ui/WindowPlacement.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDebug>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QSessionManager>
#include <QSettings>
#include <QTimer>
#include <QUrl>
#include <QWindow>

#include <algorithm>

namespace {

const char* const kAppIconPath = ":/resources/ui/images/default/common/app.ico";
constexpr int kScreenCheckDelayMs = 100;
constexpr int kNavigateId = 0;

// One set per process, shared by every window, as the press pairing and the title-bar colouring are
// about the application, not about one window object.
WindowPlacement::DoublePressDetector g_doublePress;
bool g_titleBarConfigured = false;

// Press times come from a monotonic clock: a wall clock would pair presses across midnight or a
// clock change.
qint64 pressClockMs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

QSettings windowSettings()
{
    return QSettings(QStringLiteral("Orvane"), QStringLiteral("Velmora"));
}

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : MainWindow(parent, Options())
{
}

MainWindow::MainWindow(QWidget* parent, quint16 commandPort)
    : MainWindow(parent, Options{commandPort, [] {
                                     return true;
                                 }})
{
}

MainWindow::MainWindow(QWidget* parent, const Options& options)
    : QMainWindow(parent)
    , m_ui(new Ui::MainWindow)
    , m_commandPort(options.commandPort)
    , m_trayAvailable(options.trayAvailable ? options.trayAvailable : &QSystemTrayIcon::isSystemTrayAvailable)
{
    m_ui->setupUi(this);
    setNotifier(createDesktopNotifier([this](const QString& title, const QString& body) {
        if (m_trayIcon)
            m_trayIcon->showMessage(title, body);
    }));

    qDebug() << "MainWindow: Initializing Server...";
    m_server = new Server(this);
    m_server->setAccess(PhoneAccess::shared(), std::make_unique<PhoneConsentDialogAsker>());

    // The caches must be filled before the server can serve its first command.
    qDebug() << "MainWindow: Loading MediaService...";
    MediaService::instance()->load();
    qDebug() << "MainWindow: Loading AppService...";
    AppService::instance()->load();
    qDebug() << "MainWindow: AppService loaded.";

    if (ApplicationBase* app = ApplicationBase::instance()) {
        qDebug() << "MainWindow: Setting Debug Mode...";
        app->setDebugMode(true);
    } else {
        qCritical() << "MainWindow: DemoApp::get() is NULL!";
    }

    qDebug() << "MainWindow: Setting window size...";
    setMinimumSize(1280, 800);
    if (const ApplicationBase* app = ApplicationBase::instance())
        resize(app->defaultWindowSize());

    ApplicationBase::applyStyleSheet(this, QStringLiteral("mainwindow.css"), false);
    setWindowTitle(QCoreApplication::translate("MainWindow", "DemoApp"));
    setWindowIcon(applicationIcon());

    m_isFirstMove = true;
    m_screenCheckTimer = new QTimer(this);
    m_screenCheckTimer->setSingleShot(true);
    m_screenCheckTimer->setInterval(kScreenCheckDelayMs);
    if (auto* guiApp = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        connect(guiApp, &QGuiApplication::screenAdded, this, [this](QScreen*) { onScreenChanged(); });
        connect(guiApp, &QGuiApplication::screenRemoved, this, [this](QScreen*) { onScreenChanged(); });
        connect(guiApp, &QGuiApplication::primaryScreenChanged, this, &MainWindow::onPrimaryScreenChanged);
        // The session manager's save request is the last word before the session ends.
        connect(guiApp, &QGuiApplication::commitDataRequest, this,
                [this](QSessionManager&) { queryEndSession(); });
        // The autostart entry starts the program with the session; a session manager that
        // restarted it as well would start it twice, and the second start pops the window up.
        connect(guiApp, &QGuiApplication::saveStateRequest, this,
                [](QSessionManager& manager) { manager.setRestartHint(QSessionManager::RestartNever); });
    }
    connect(m_screenCheckTimer, &QTimer::timeout, this, &MainWindow::checkWindowPosition);
    qDebug() << "MainWindow: Restoring window state...";
    restoreWindowState();
    qDebug() << "MainWindow: Window state restored.";

    m_trayPollTimer = new QTimer(this);
    m_trayPollTimer->setInterval(options.trayPollMs);
    connect(m_trayPollTimer, &QTimer::timeout, this, &MainWindow::checkForTray);
    const bool trayAvailable = m_trayAvailable();
    if (trayAvailable)
        createTrayIcon();
    else
        m_trayPollTimer->start();
    m_ui->lbServerState->setText(tr("服务器已停止"));
    m_ui->btnQuit->setText(tr("退出"));
    // Only reachable while the button is on screen, that is in window mode.
    m_ui->btnQuit->setShortcut(QKeySequence::Quit);
    m_ui->btnQuit->setToolTip(tr("停止服务并退出维莫拉"));
    connect(m_ui->btnQuit, &QPushButton::clicked, this, &MainWindow::quitApplication);
    m_ui->frWindowMode->setVisible(!trayAvailable);
    connectSignals();
    onStartServer();

    const auto navigateTo = [](int viewId) {
        NavigateService::instance()->navigate(kNavigateId, viewId, nullptr, 0);
    };
    connect(m_ui->btnNavMediaLibraryView, &QPushButton::clicked, this, [navigateTo] { navigateTo(0); });
    connect(m_ui->btnNavDesktopAppView, &QPushButton::clicked, this, [navigateTo] { navigateTo(1); });
    connect(m_ui->btnNavSettingView, &QPushButton::clicked, this, [navigateTo] { navigateTo(2); });
    connect(m_ui->btnAbout, &QPushButton::clicked, this, [navigateTo] { navigateTo(3); });

    const auto navigateService = NavigateService::instance();
    navigateService->addNavigate(kNavigateId, m_ui->swMainClient);
    const auto addPage = [&navigateService](QWidget* page, QWidget* view) {
        navigateService->addView(kNavigateId, ViewController::embedView(page, view));
    };
    addPage(m_ui->swMediaLibraryViewItem, new MediaLibraryView(m_ui->swMediaLibraryViewItem));
    addPage(m_ui->swDesktopAppViewItem, new DesktopAppView(m_ui->swDesktopAppViewItem));
    addPage(m_ui->swSettingViewItem, new SettingView(m_ui->swSettingViewItem));
    addPage(m_ui->swAboutViewItem, new AboutView(m_ui->swAboutViewItem));
    navigateService->navigate(kNavigateId, 0, nullptr, 0);

    m_ui->frServiceControl->hide();
    setAcceptDrops(true); // files dropped here go to the phone
    QGuiApplication::setQuitOnLastWindowClosed(false);
    if (!trayAvailable)
        enterWindowMode(options.startMinimized);
    qDebug() << "MainWindow: Constructor completed successfully.";
}

MainWindow::~MainWindow()
{
    if (m_windowState != Qt::WindowMinimized)
        saveWindowState();
    NavigateService::instance()->close();
    if (m_server && m_server->isListening())
        m_server->stop();
    if (m_trayIcon) {
        m_trayIcon->setVisible(false);
        delete m_trayIcon;
        m_trayIcon = nullptr;
    }
    delete m_trayMenu;
    m_trayMenu = nullptr;
    m_ui.reset();
}

int MainWindow::serverPort() const
{
    if (!m_server || !m_server->isListening())
        return DefaultCommandPort;
    return m_server->serverPort();
}

// ---- Service
// ----------------------------------------------------------------------------

void MainWindow::onStartServer()
{
    if (m_server->start(m_commandPort)) {
        if (m_trayIcon && m_trayIcon->isVisible()) {
            m_trayIcon->showMessage(tr("远程控制服务器"),
                                    tr("服务器已启动并正在监听端口：%1").arg(serverPort()),
                                    QSystemTrayIcon::Information, 3000);
        }
    } else {
        MessageBoxView::information(tr("无法启动服务器，可能端口已被占用"), QString(), QString());
    }
}

void MainWindow::onStopServer()
{
    m_server->stop();
}

void MainWindow::onServerStatusChanged(bool running)
{
    m_ui->btnStart->setEnabled(!running);
    m_ui->btnStop->setEnabled(running);
    m_ui->statusLabel->setText(running ? tr("服务器状态: 运行中") : tr("服务器状态: 已停止"));
    // The header's state is the tray's middle-click answer, for when there is no tray.
    m_ui->lbServerState->setText(running ? tr("服务器正在运行中") : tr("服务器已停止"));
}

void MainWindow::updateConnectionStatus(bool connected, const QString& clientInfo)
{
    // The connection panel stays empty; the slot is the hook for showing the phone one day.
    Q_UNUSED(connected)
    Q_UNUSED(clientInfo)
}

void MainWindow::connectSignals()
{
    connect(m_ui->btnStart, &QPushButton::clicked, this, &MainWindow::onStartServer);
    connect(m_ui->btnStop, &QPushButton::clicked, this, &MainWindow::onStopServer);
    connect(m_server, &Server::statusChanged, this, &MainWindow::onServerStatusChanged);
    connect(m_server, &Server::clientConnected, this,
            [this](const QString& clientInfo) { updateConnectionStatus(true, clientInfo); });
    connect(m_server, &Server::clientDisconnected, this,
            [this] { updateConnectionStatus(false, QString()); });
}

// ---- Tray icon
// --------------------------------------------------------------------------

QIcon MainWindow::applicationIcon()
{
    const QIcon icon(QString::fromLatin1(kAppIconPath));
    return icon.isNull() ? createFallbackIcon() : icon;
}

QIcon MainWindow::createFallbackIcon()
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 120, 215, 255));
    painter.drawEllipse(2, 2, 12, 12);
    painter.setPen(Qt::white);
    painter.setFont(QFont(QStringLiteral("Arial"), 6, QFont::Bold));
    painter.drawText(pixmap.rect(), Qt::AlignCenter, QStringLiteral("RC"));
    painter.end();
    return QIcon(pixmap);
}

void MainWindow::createTrayIcon()
{
    m_trayMenu = new QMenu(this);
    m_showAction = new QAction(tr("显示"), this);
    m_quitAction = new QAction(tr("退出"), this);
    connect(m_showAction, &QAction::triggered, this, &MainWindow::bringToFront);
    connect(m_quitAction, &QAction::triggered, this, &MainWindow::quitApplication);
    m_sendFilesAction = new QAction(tr("发送文件到手机…"), this);
    connect(m_sendFilesAction, &QAction::triggered, this, &MainWindow::chooseFilesToSend);
    m_trayMenu->addAction(m_showAction);
    m_trayMenu->addAction(m_sendFilesAction);
    m_trayMenu->addSeparator();
    m_trayMenu->addAction(m_quitAction);

    m_trayIcon = new QSystemTrayIcon(this);
    qDebug() << "创建QSystemTrayIcon实例";
    const QIcon icon = applicationIcon();
    qDebug() << "图标是否为空:" << icon.isNull();
    qDebug() << "图标可用大小:" << icon.availableSizes();
    m_trayIcon->setIcon(icon);
    m_trayIcon->setToolTip(tr("维莫拉"));
    connect(m_trayIcon, &QSystemTrayIcon::messageClicked, this, [this] {
        if (!m_receivedFolder.isEmpty())
            QDesktopServices::openUrl(QUrl::fromLocalFile(m_receivedFolder));
    });
    m_trayIcon->setContextMenu(m_trayMenu);
    connect(m_trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::onTrayIconActivated);
    m_trayIcon->setVisible(true);
    qDebug() << "托盘图标显示调用完成";
    qDebug() << "托盘图标可见性:" << m_trayIcon->isVisible();
}

void MainWindow::quitApplication()
{
    if (m_trayIcon)
        m_trayIcon->setVisible(false);
    if (m_server && m_server->isListening())
        m_server->stop();
    QCoreApplication::quit();
}

void MainWindow::bringToFront()
{
    // show() alone would map a minimised window minimised again, out of reach from the tray.
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void MainWindow::enterWindowMode(bool minimized)
{
    // Nothing else would ever bring a hidden window back, so it is on screen from the start
    // (maximised already when it was at the last save).
    if (minimized)
        showMinimized();
    else if (!isVisible())
        show();
}

void MainWindow::checkForTray()
{
    if (!m_trayAvailable())
        return;
    m_trayPollTimer->stop();
    qInfo() << "系统托盘已可用，转入托盘模式";
    m_ui->frWindowMode->hide();
    createTrayIcon();
}

void MainWindow::onTrayIconActivated(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::DoubleClick:
    case QSystemTrayIcon::Trigger:
        // A minimised window counts as out of sight: the click brings it back.
        if (isVisible() && !isMinimized())
            hide();
        else
            bringToFront();
        break;
    case QSystemTrayIcon::MiddleClick:
        if (!m_trayIcon)
            break;
        if (m_server && m_server->isListening())
            m_trayIcon->showMessage(tr("服务器状态"), tr("服务器正在运行中"), QSystemTrayIcon::Information,
                                    2000);
        else
            m_trayIcon->showMessage(tr("服务器状态"), tr("服务器已停止"), QSystemTrayIcon::Warning, 2000);
        break;
    case QSystemTrayIcon::Context:
    case QSystemTrayIcon::Unknown:
        break;
    }
}

// ---- Closing and the end of the session
// -------------------------------------------------

void MainWindow::chooseFilesToSend()
{
    offerFiles(QFileDialog::getOpenFileNames(nullptr, tr("发送文件到手机")));
}

void MainWindow::offerFiles(const QStringList& paths)
{
    if (paths.isEmpty() || !m_fileOffer)
        return;
    if (m_fileOffer(paths) == 0 && m_trayIcon)
        m_trayIcon->showMessage(tr("维莫拉"), tr("没有已连接的手机：请先在手机上打开网页客户端或手机应用。"));
}

void MainWindow::announceReceivedFiles(int count, const QString& folder)
{
    if (count <= 0)
        return;
    m_receivedFolder = folder;
    m_notifier->notify(tr("维莫拉"), tr("已从手机收到 %n 个文件", nullptr, count), tr("打开文件夹"));
}

void MainWindow::setNotifier(std::unique_ptr<DesktopNotifier> notifier)
{
    m_notifier = std::move(notifier);
    connect(m_notifier.get(), &DesktopNotifier::actionInvoked, this, [this] {
        if (!m_receivedFolder.isEmpty())
            QDesktopServices::openUrl(QUrl::fromLocalFile(m_receivedFolder));
    });
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (m_fileOffer &&
        std::any_of(urls.cbegin(), urls.cend(), [](const QUrl& url) { return url.isLocalFile(); }))
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event)
{
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile())
            paths << url.toLocalFile();
    event->acceptProposedAction();
    offerFiles(paths);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (m_isShuttingDown) {
        event->accept();
        return;
    }
    if (m_trayIcon && m_trayIcon->isVisible()) {
        hide();
        event->ignore();
        return;
    }
    if (!m_trayIcon) {
        // Window mode: a hidden window could never be brought back without a tray.
        showMinimized();
        event->ignore();
        return;
    }
    event->accept();
}

bool MainWindow::queryEndSession()
{
    qDebug() << "收到Windows系统关机查询事件(WM_QUERYENDSESSION)";
    m_isShuttingDown = true;
    performShutdownCleanup();
    return true;
}

void MainWindow::endSession(bool ending)
{
    qDebug() << "收到Windows系统关机事件(WM_ENDSESSION)";
    if (!ending)
        return;
    qDebug() << "系统正在关机，执行最终清理";
    m_isShuttingDown = true;
    performShutdownCleanup();
    QCoreApplication::quit();
}

void MainWindow::performShutdownCleanup()
{
    try {
        qDebug() << "开始执行Windows系统关机清理操作";
        if (m_trayIcon && m_trayIcon->isVisible()) {
            m_trayIcon->setVisible(false);
            qDebug() << "托盘图标已隐藏";
        }
        if (m_server && m_server->isListening()) {
            qDebug() << "正在停止服务器...";
            m_server->stop();
            qDebug() << "服务器已停止";
        }
        NavigateService::instance()->close();
        qDebug() << "导航服务已关闭";
        QCoreApplication::processEvents();
        qDebug() << "Windows系统关机清理操作完成";
    } catch (...) {
        // The session ends whatever happens here; an escaping exception would only crash it.
        qCritical() << "Windows系统关机清理过程中发生异常";
    }
}

// ---- Placement
// --------------------------------------------------------------------------

void MainWindow::restoreWindowState()
{
    QSettings settings = windowSettings();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const ApplicationBase* app = ApplicationBase::instance();
        const QSize preferred = app ? app->defaultWindowSize() : size();
        // The minimum size still applies: a smaller rectangle keeps its corner and grows.
        setGeometry(WindowPlacement::restoredGeometry(screen->availableGeometry(), preferred));
    }
    if (settings.contains(QStringLiteral("window/state")))
        restoreState(settings.value(QStringLiteral("window/state")).toByteArray(), 0);
    if (settings.value(QStringLiteral("window/maximized"), false).toBool())
        showMaximized();
}

void MainWindow::saveWindowState()
{
    QSettings settings = windowSettings();
    settings.setValue(QStringLiteral("window/geometry"), geometry());
    settings.setValue(QStringLiteral("window/state"), saveState(0));
    settings.setValue(QStringLiteral("window/maximized"), isMaximized());
}

void MainWindow::reportGeometry()
{
    if (ApplicationBase* app = ApplicationBase::instance())
        app->setMainWindowRect(geometry());
}

QRect MainWindow::adjustGeometryToScreens(const QRect& rect) const
{
    QList<QRect> screens;
    const QList<QScreen*> all = QGuiApplication::screens();
    for (const QScreen* screen : all)
        screens.append(screen->geometry());
    const QScreen* primary = QGuiApplication::primaryScreen();
    const QRect primaryArea = primary ? primary->availableGeometry() : QRect();
    return WindowPlacement::adjustToScreens(rect, screens, primary ? &primaryArea : nullptr);
}

void MainWindow::checkWindowPosition()
{
    if (!isVisible())
        return;
    const QRect current = geometry();
    const QRect adjusted = adjustGeometryToScreens(current);
    if (adjusted == current)
        return;
    qDebug() << "调整窗口位置从" << current << "到" << adjusted;
    setGeometry(adjusted);
}

void MainWindow::onScreenChanged()
{
    qDebug() << "检测到屏幕配置变化";
    m_screenCheckTimer->start();
    qDebug() << "当前显示器数量:" << QGuiApplication::screens().size();
    logScreenDetails();
}

void MainWindow::onPrimaryScreenChanged(QScreen* screen)
{
    if (!screen)
        return;
    qDebug().noquote() << "主屏幕已变化到:" << screen->name();
    const QRect target = WindowPlacement::placeForNewPrimary(geometry(), isVisible(), screen->geometry(),
                                                             screen->availableGeometry());
    if (target != geometry())
        setGeometry(target);
}

bool MainWindow::event(QEvent* event)
{
    if (event->type() == QEvent::WindowStateChange) {
        m_windowState = windowState();
        // A minimised window's geometry says nothing about where the user wants it.
        if (!(m_windowState & Qt::WindowMinimized))
            saveWindowState();
    }
    return QMainWindow::event(event);
}

void MainWindow::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        m_isDragging = true;
        if (g_doublePress.press(pressClockMs(), event->pos())) {
            qDebug() << "检测到双击标题栏";
            if (isMaximized())
                showNormal();
            else
                showMaximized();
            m_isDragging = false;
            return;
        }
        // A Wayland compositor ignores positions a window sets; it moves one only on request.
        if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")) &&
            windowHandle() != nullptr && windowHandle()->startSystemMove()) {
            m_isDragging = false;
            return;
        }
    }
    m_dragOffset = event->globalPos() - pos();
}

void MainWindow::mouseMoveEvent(QMouseEvent* event)
{
    if (m_isDragging && !m_dragOffset.isNull()) {
        move(event->globalPos() - m_dragOffset);
        reportGeometry();
    }
}

void MainWindow::mouseReleaseEvent(QMouseEvent* event)
{
    Q_UNUSED(event)
    m_isDragging = false;
}

void MainWindow::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    if (m_isFirstMove) {
        m_isFirstMove = false;
        reportGeometry();
        return;
    }
    // A burst of moves leads to one check, shortly after the last of them.
    m_screenCheckTimer->start();
    reportGeometry();
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
}

void MainWindow::showEvent(QShowEvent* event)
{
    reportGeometry();
    if (!g_titleBarConfigured) {
        // The native window must exist before its title bar can be coloured.
        QTimer::singleShot(0, this, &MainWindow::configureDwm);
        g_titleBarConfigured = true;
    }
    QMainWindow::showEvent(event);
}

void MainWindow::configureDwm()
{
    qDebug() << "MainWindow::showEvent: Configuring DWM...";
    // The caption takes the window body's colour, "#191c23", with white text.
    colourTitleBar(this, QColor(25, 28, 35), Qt::white);
    qDebug() << "MainWindow::showEvent: DWM Configured.";
}
