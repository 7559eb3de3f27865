#include "ui/MainWindow.h"
#include "ui_MainWindow.h"

#include "app/ApplicationBase.h"
#include "data/AppService.h"
#include "data/MediaService.h"
#include "platform/session/DesktopNotifier.h"
#include "remote/PhoneAccess.h"
#include "remote/Server.h"
#include "ui/AboutView.h"
#include "ui/DesktopAppView.h"
#include "ui/MediaLibraryView.h"
#include "ui/MessageBoxView.h"
#include "ui/NavigateService.h"
#include "ui/PhoneConsentView.h"
#include "ui/SettingView.h"

#include <QApplication>
#include <QDebug>
#include <QMenu>
#include <QScreen>
#include <QSessionManager>
#include <QTimer>

// The window's jobs live in files of their own: MainWindowTray.cpp (tray, window mode, the end of
// the session), MainWindowDrops.cpp (files to and from the phone) and MainWindowPlacement.cpp
// (where the window sits on the screens). This file builds the window, its pages and the service.

namespace {

constexpr int kScreenCheckDelayMs = 100;
constexpr int kNavigateId = 0;

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

    createPages();

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

// ---- Pages
// ------------------------------------------------------------------------------

void MainWindow::createPages()
{
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
}
