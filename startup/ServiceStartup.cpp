#include "startup/ServiceStartup.h"

#include "app/ApplicationBase.h"
#include "data/ConfigService.h"
#include "data/SqlDatabase.h"
#include "data/UserButtonService.h"
#include "web/DownloadRoute.h"
#include "web/FileTransfer.h"
#include "web/HttpServer.h"
#include "web/UploadRoute.h"

#include "pairing/PairingToken.h"
#include "platform/files/PrivateFiles.h"
#include "platform/network/ServiceAdvertiser.h"
#include "remote/PhoneAccess.h"
#include "remote/Server.h"
#include "ui/MainWindow.h"
#include "ui/SettingView.h"
#include "web/WebClientChannel.h"

#include "remote/PhoneLink.h"
#include <QDateTime>
#include <QDebug>
#include <QHostInfo>
#include <QPointer>
#include <QTimer>

#include <memory>

ServiceStartup::ServiceStartup() = default;
ServiceStartup::~ServiceStartup()
{
    // Phase B can fail after the window exists; it goes while the application object still does.
    delete m_mainWindow;
}

bool ServiceStartup::phaseA()
{
    // Before anything writes them: the settings hold the pairing token, the data folder the
    // user's lists, and no other user of this PC may read either.
    makeFilePrivate(userSettingsFileName());
    if (const ApplicationBase* app = ApplicationBase::instance()) {
        makeFolderPrivate(app->writableLocation());
        makeFolderPrivate(app->writableLocation() + QStringLiteral("/Data"));
    }
    SqlDatabase::createRegistry();
    if (!openDatabases())
        return false;
    ConfigService::instance()->load();
    UserButtonService::instance()->load();
    return true;
}

bool ServiceStartup::phaseB()
{
    // The window loads the caches, starts the command server on 8888 and shows the tray icon
    // (or, without a tray, itself).
    MainWindow::Options options;
    options.startMinimized = m_startMinimized;
    m_mainWindow = new MainWindow(nullptr, options);
    qDebug() << "应用程序已启动成功。";

    m_httpServer = std::make_unique<HttpServer>(nullptr);
    if (!m_httpServer->start(6888)) {
        qCritical() << "无法启动HTTP服务器";
        return false;
    }
    qInfo() << "HTTP服务器已启动，监听端口6888";
    connectWebClients();
    // Phones then find the web client by the PC's name, wherever its address moves.
    m_advertiser = createServiceAdvertiser();
    m_advertiser->advertiseWeb(QStringLiteral("Velmora on %1").arg(QHostInfo::localHostName()), 6888);
    return true;
}

void ServiceStartup::connectWebClients()
{
    PairingToken* token = PairingToken::shared();
    token->token(); // created now, so that the settings store holds it from the first start
    m_webChannel = std::make_unique<WebClientChannel>([token] { return token->token(); });
    m_webChannel->attachTo(m_httpServer.get());
    m_fileTransfer = std::make_unique<FileTransfer>();
    applyReceiveSettings();
    m_webChannel->setFileTransfer(m_fileTransfer.get());
    // A new pairing code ends what the old one let a browser (or anyone who overheard it) do.
    QObject::connect(token, &PairingToken::tokenChanged, m_fileTransfer.get(), &FileTransfer::revokeAll);
    m_httpServer->addRoute(std::make_unique<UploadRoute>(m_fileTransfer.get()));
    m_httpServer->addRoute(std::make_unique<DownloadRoute>(m_fileTransfer.get()));
    if (m_mainWindow) {
        // Files that arrive together are told of once, when none has followed for a moment.
        auto* quiet = new QTimer(m_fileTransfer.get());
        quiet->setSingleShot(true);
        quiet->setInterval(ReceivedNoticeDelayMs);
        auto arrived = std::make_shared<int>(0);
        QObject::connect(m_fileTransfer.get(), &FileTransfer::fileReceived, quiet, [quiet, arrived] {
            ++*arrived;
            quiet->start();
        });
        QPointer<MainWindow> window(m_mainWindow);
        QObject::connect(quiet, &QTimer::timeout, m_fileTransfer.get(), [window, arrived, this] {
            if (window)
                window->announceReceivedFiles(*arrived, m_fileTransfer->folder());
            *arrived = 0;
        });
        if (auto* settings = m_mainWindow->findChild<SettingView*>()) {
            settings->setDefaultReceiveFolder(FileTransfer::defaultFolder());
            QObject::connect(settings, &SettingView::receiveSettingsChanged, m_fileTransfer.get(),
                             [this] { applyReceiveSettings(); });
            QObject::connect(m_fileTransfer.get(), &FileTransfer::fileReceived, settings, [this, settings] {
                QVector<SettingView::ReceivedFile> files;
                for (const FileTransfer::Received& file : m_fileTransfer->recentFiles())
                    files.append({file.path, file.size, QDateTime::fromMSecsSinceEpoch(file.timeMs)});
                settings->setRecentFiles(files);
            });
        }
    }
    m_httpServer->setPeerFilter(
        [](const QHostAddress& peer) { return PhoneAccess::shared()->admitsPeer(peer); });

    // The main window owns the command server as its child.
    Server* server = m_mainWindow ? m_mainWindow->findChild<Server*>() : nullptr;
    if (m_mainWindow) {
        // A file goes to whichever phone is connected: a browser gets its card over its own
        // channel, a phone app a push with a link of its own address.
        QPointer<FileTransfer> transfer(m_fileTransfer.get());
        QPointer<Server> commands(server);
        m_mainWindow->setFileOffer([transfer, commands](const QStringList& paths) {
            int offered = 0;
            for (const QString& path : paths) {
                const bool toBrowser = transfer && transfer->offerFile(path);
                const bool toApp = commands && commands->offerFile(path);
                offered += toBrowser || toApp ? 1 : 0;
            }
            return offered;
        });
    }
    if (!server) {
        qWarning() << "No command server: browsers cannot connect";
        return; // the channel answers 503 without a phone handler
    }
    server->setPhoneFiles(m_fileTransfer.get());
    QPointer<Server> guarded(server);
    m_webChannel->setPhoneHandler([guarded](PhoneLink* link) {
        if (guarded)
            guarded->acceptWebSocket(link);
        else
            link->closeAndRelease(Server::CloseServiceStopped);
    });
    // A new token revokes the old one: the browser that used it must pair again.
    QObject::connect(token, &PairingToken::tokenChanged, server,
                     [server] { server->dropWebSocketPhone(Server::CloseRevoked); });
}

void ServiceStartup::applyReceiveSettings()
{
    const ConfigService* config = ConfigService::instance();
    m_fileTransfer->setFolder(config->value(QLatin1String(SettingView::ReceiveFolderKey), QString()));
    m_fileTransfer->setMaxBytes(
        config->value(QLatin1String(SettingView::ReceiveMaxBytesKey), QString()).toLongLong());
    qDebug().noquote() << "Files from the phone go to" << m_fileTransfer->folder() << "up to"
                       << m_fileTransfer->maxBytes() << "bytes each";
}

void ServiceStartup::phaseC()
{
    // Saves the window state, unloads the page, stops the command server, removes the tray icon.
    delete m_mainWindow;
    m_mainWindow = nullptr;
    qDebug() << "服务关闭: 主窗口已销毁";
    m_advertiser.reset();
    if (m_httpServer)
        m_httpServer->stop();
    qDebug() << "服务关闭: HTTP服务器已停止";
    m_webChannel.reset();
    m_fileTransfer.reset();
    PhoneAccess::shared()->flush(); // "last seen" times kept in memory so far
    SqlDatabase::destroyRegistry();
    qDebug() << "服务关闭: 数据库连接已释放";
}
