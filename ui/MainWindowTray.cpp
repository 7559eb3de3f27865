#include "ui/MainWindow.h"
#include "ui_MainWindow.h"

#include "remote/Server.h"
#include "ui/NavigateService.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDebug>
#include <QDesktopServices>
#include <QMenu>
#include <QPainter>
#include <QTimer>
#include <QUrl>

// The tray icon and its menu, window mode while the desktop has none, and the ways out: closing,
// quitting, the end of the session.

namespace {

const char* const kAppIconPath = ":/resources/ui/images/default/common/app.ico";

} // namespace

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
