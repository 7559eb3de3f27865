#pragma once

#include "pairing/ServerPortProvider.h"

#include <QMainWindow>
#include <QPoint>
#include <QRect>
#include <QScopedPointer>
#include <QString>
#include <QSystemTrayIcon>

#include <functional>
#include <memory>

class DesktopNotifier;
class QAction;
class QMenu;
class QScreen;
class QTimer;
class Server;

namespace Ui {
class MainWindow;
}

// The one top-level window and the owner of the running service: it starts the phone's
// command server, hosts the four pages behind the header's navigation buttons, lives in the
// system tray (closing only hides it) and ends the application from the tray menu or when
// the desktop session ends. Where the desktop has no tray it runs in window mode instead: it
// stays on screen, closing only minimises it, its header offers the server state and "退出",
// and it moves into the tray as soon as one appears. It also remembers and guards its own
// placement on the screens.
class MainWindow final : public QMainWindow, public ServerPortProvider
{
    Q_OBJECT
public:
    static constexpr quint16 DefaultCommandPort = 8888;

    struct Options
    {
        // 0: any free port, so that tests can build the window beside a running instance.
        quint16 commandPort = DefaultCommandPort;
        // Whether the desktop offers a system tray now; empty: ask Qt. Without one the window is
        // shown at once and asks again every `trayPollMs`, since Qt tells nobody when a tray appears.
        std::function<bool()> trayAvailable;
        int trayPollMs = 3000;
        // Started with the session: without a tray the window starts minimised rather than
        // covering the desktop. (In the tray it starts hidden anyway.)
        bool startMinimized = false;
    };

    explicit MainWindow(QWidget* parent = nullptr);
    MainWindow(QWidget* parent, const Options& options);
    // In the tray, with the command server on another port (tests and tools beside a running
    // instance; 0: any free port).
    MainWindow(QWidget* parent, quint16 commandPort);
    ~MainWindow() override;

    // 8888 while the command server is not listening; otherwise the port it listens on.
    int serverPort() const override;

    // Offers files to the connected browser; returns how many were offered.
    using FileOffer = std::function<int(const QStringList& paths)>;
    // "发送文件到手机…" in the tray menu, and files dropped onto the window, go here.
    void setFileOffer(FileOffer offer) { m_fileOffer = std::move(offer); }
    const FileOffer& fileOffer() const { return m_fileOffer; }
    // Tells the user that `count` files from the phone arrived in `folder`, with an action that
    // opens the folder: a desktop notification, else the tray's message.
    void announceReceivedFiles(int count, const QString& folder);
    // Replaces the desktop's notifier (tests give a recording one).
    void setNotifier(std::unique_ptr<DesktopNotifier> notifier);
    DesktopNotifier* notifier() const { return m_notifier.get(); }
    // False while in window mode, for lack of a tray.
    bool inTray() const { return m_trayIcon != nullptr; }
    // Unminimised, shown, raised and active: a tray click, or a second start of the program.
    void bringToFront();

    // The session manager asks whether the session may end: clean up now (tray icon, server,
    // pages) and let every later close request through. Always agrees.
    bool queryEndSession();
    // The session ends (`ending`) or was called off: on the end, clean up and quit.
    void endSession(bool ending);

public slots:
    void onScreenChanged();
    void onPrimaryScreenChanged(QScreen* screen);
    void onTrayIconActivated(QSystemTrayIcon::ActivationReason reason);
    void onServerStatusChanged(bool running);
    void updateConnectionStatus(bool connected, const QString& clientInfo);
    void onStartServer();
    void onStopServer();

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // Pages and service (MainWindow.cpp).
    void createPages();
    void connectSignals();

    // Tray, window mode and the end of the session (MainWindowTray.cpp).
    void createTrayIcon();
    static QIcon createFallbackIcon();
    static QIcon applicationIcon();
    void performShutdownCleanup();
    // "退出" from the tray menu or the window's header: the clean way out.
    void quitApplication();
    void enterWindowMode(bool minimized);
    void checkForTray();

    // Files to and from the phone (MainWindowDrops.cpp).
    void chooseFilesToSend();
    void offerFiles(const QStringList& paths);

    // Placement on the screens (MainWindowPlacement.cpp).
    void restoreWindowState();
    void saveWindowState();
    void checkWindowPosition();
    QRect adjustGeometryToScreens(const QRect& rect) const;
    void configureDwm();
    void reportGeometry();

    QSystemTrayIcon* m_trayIcon = nullptr;
    QMenu* m_trayMenu = nullptr;
    QAction* m_showAction = nullptr;
    QAction* m_quitAction = nullptr;
    QAction* m_sendFilesAction = nullptr;
    FileOffer m_fileOffer;
    QString m_receivedFolder; // opened when the last message is clicked
    std::unique_ptr<DesktopNotifier> m_notifier;
    Server* m_server = nullptr;
    QTimer* m_screenCheckTimer = nullptr;
    bool m_isFirstMove = true;
    bool m_isShuttingDown = false;
    bool m_isDragging = false;
    QPoint m_dragOffset;
    Qt::WindowStates m_windowState = Qt::WindowNoState;
    QScopedPointer<Ui::MainWindow> m_ui;
    quint16 m_commandPort = DefaultCommandPort;
    std::function<bool()> m_trayAvailable;
    QTimer* m_trayPollTimer = nullptr;
};
