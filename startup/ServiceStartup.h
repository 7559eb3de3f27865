#pragma once

#include <memory>

class FileTransfer;
class HttpServer;
class MainWindow;
class ServiceAdvertiser;
class WebClientChannel;

// Brings the services up and down in three phases at fixed points of main: A opens the
// data, B creates the main window and the web server, C releases them after the event loop.
class ServiceStartup final
{
public:
    ServiceStartup();
    ~ServiceStartup();
    ServiceStartup(const ServiceStartup&) = delete;
    ServiceStartup& operator=(const ServiceStartup&) = delete;

    // Without a tray, phase B's window starts minimised instead of shown.
    void setStartMinimized(bool minimized) { m_startMinimized = minimized; }

    // Databases and configuration; false: main returns -1.
    bool phaseA();
    // Main window, then the HTTP server on 6888; false: main returns 1.
    bool phaseB();
    // Main window gone first, then the HTTP server stopped, then the database registry released.
    void phaseC();

    // The window of phase B until phase C deletes it; null before and after.
    MainWindow* mainWindow() const { return m_mainWindow; }
    // The files between the paired browser and this PC, from phase B on.
    FileTransfer* fileTransfer() const { return m_fileTransfer.get(); }

    // Settings of the receiving side (the ConfigService's keys).
    // Quiet time after a received file before the user is told of the files that came.
    static constexpr int ReceivedNoticeDelayMs = 1500;

private:
    // Browsers reach the main window's command server through the HTTP server's "/ws".
    void connectWebClients();
    // The receive folder and size limit as the settings hold them now.
    void applyReceiveSettings();

    bool m_startMinimized = false;
    MainWindow* m_mainWindow = nullptr;
    std::unique_ptr<HttpServer> m_httpServer;
    std::unique_ptr<WebClientChannel> m_webChannel;
    std::unique_ptr<FileTransfer> m_fileTransfer;
    std::unique_ptr<ServiceAdvertiser> m_advertiser;
};
