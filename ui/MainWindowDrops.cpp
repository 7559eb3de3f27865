#include "ui/MainWindow.h"

#include "platform/session/DesktopNotifier.h"

#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QMimeData>
#include <QSystemTrayIcon>
#include <QUrl>

#include <algorithm>

// Files to the phone (the tray menu's choice, files dropped on the window) and the word that
// files from the phone arrived.

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
