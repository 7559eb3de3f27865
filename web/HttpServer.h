#pragma once

#include "platform/FileIdentity.h"

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <unordered_map>

class FileResponseCache;
class FileSender;
class QHostAddress;
class QTcpServer;
class QTcpSocket;

// The small HTTP/1.1 server that hands the phone's browser the web client: files from the
// "mobile" folder for GET, a reserved JSON route for POST, JSON error documents otherwise.
// Connections stay open between requests; everything runs on the owning thread's event loop.
class HttpServer : public QObject
{
    Q_OBJECT
public:
    // Takes a socket whose request asks for the WebSocket protocol on "/ws", with the raw
    // bytes read from it so far; the socket no longer has a parent and the callee owns it.
    using UpgradeHandler = std::function<void(QTcpSocket* socket, const QByteArray& request)>;
    // Whether a connection from the address may be served at all.
    using PeerFilter = std::function<bool(const QHostAddress& peer)>;

    // A half-received request, or a response the peer stops reading, is closed after this.
    static constexpr int DefaultStallTimeoutMs = 30000;
    // A connection with nothing in flight is closed after this; browsers simply reconnect.
    static constexpr int DefaultIdleTimeoutMs = 120000;
    // Beyond this many open connections new ones are refused, so a flood of idle sockets cannot
    // use up the process's file descriptors (and with them the phone's command connection).
    static constexpr int MaxConnections = 256;

    explicit HttpServer(QObject* parent = nullptr);
    ~HttpServer() override;

    // Listens on all addresses; false when already listening or the port cannot be bound.
    bool start(quint16 port);
    void stop();
    bool isListening() const { return m_server != nullptr; }
    // The bound port (useful after start(0)); 0 while stopped.
    quint16 port() const;

    void setUpgradeHandler(UpgradeHandler handler) { m_upgradeHandler = std::move(handler); }
    // Connections the filter turns down are closed at once, before a byte is read.
    void setPeerFilter(PeerFilter filter) { m_peerFilter = std::move(filter); }
    void setStallTimeout(int milliseconds) { m_stallTimeoutMs = milliseconds; }
    void setIdleTimeout(int milliseconds) { m_idleTimeoutMs = milliseconds; }
    // Folders searched after the two working-directory candidates; by default the "mobile"
    // folder beside the program and the one of an installed program.
    void setFallbackFolders(const QStringList& folders) { m_fallbackFolders = folders; }
    QStringList fallbackFolders() const { return m_fallbackFolders; }
    static QStringList defaultFallbackFolders();

    // Large files go to the socket through `sender`; without one (null) they are read and
    // written in chunks through memory. By default the platform's sender, where there is one.
    void setFileSender(std::unique_ptr<FileSender> sender);
    // Recently served files; the clock (milliseconds since the epoch) decides which have settled.
    FileResponseCache& fileCache() { return *m_fileCache; }
    void setClock(std::function<qint64()> nowMs) { m_nowMs = std::move(nowMs); }

    // A whole error answer: the status line, the usual headers plus `extraHeaders` (each
    // ending in CRLF), and the indented JSON body {"error": true, "message": message}.
    static QByteArray errorResponse(int statusCode, const QString& message,
                                    const QByteArray& extraHeaders = QByteArray());

private slots:
    void newConnection();

private:
    struct Connection;

    void handleRequest(QTcpSocket* socket, QByteArray& buffer);
    void serveStaticFile(QTcpSocket* socket, const QString& path);
    void sendErrorResponse(QTcpSocket* socket, int statusCode, const QString& message);
    void sendResponse(QTcpSocket* socket, const QByteArray& response);

    void receive(QTcpSocket* socket);
    void onBytesWritten(QTcpSocket* socket);
    void sendFile(QTcpSocket* socket, const QString& fileName, const QString& absolute,
                  const FileIdentity& found);
    void pumpFile(QTcpSocket* socket, Connection& connection);
    void streamFile(QTcpSocket* socket, Connection& connection);
    void sendFileStep(QTcpSocket* socket, Connection& connection);
    void continueAfterOutput(QTcpSocket* socket, Connection& connection);
    void rearm(QTcpSocket* socket, Connection& connection);
    bool isBusy(QTcpSocket* socket, const Connection& connection) const;
    void dropConnection(QTcpSocket* socket, const char* reason);
    void forget(QTcpSocket* socket);
    // The found file's name as searched (empty when none), its absolute name and its identity.
    QString findFile(const QString& path, const QString& currentPath, bool logging, QString* absolute,
                     FileIdentity* identity) const;
    bool isInsideFolder(const QString& folder, const QString& relative) const;
    // The folder's canonical name, resolved again whenever the name leads to another directory.
    QString folderRoot(const QString& folder) const;

    QTcpServer* m_server = nullptr;
    QMap<QTcpSocket*, QByteArray> m_buffers;
    std::unordered_map<QTcpSocket*, std::unique_ptr<Connection>> m_connections;
    UpgradeHandler m_upgradeHandler;
    PeerFilter m_peerFilter;
    QStringList m_fallbackFolders;
    std::unique_ptr<FileSender> m_fileSender;
    std::unique_ptr<FileResponseCache> m_fileCache;
    std::function<qint64()> m_nowMs;
    mutable QHash<QString, std::pair<FileIdentity, QString>> m_folderRoots;
    int m_stallTimeoutMs = DefaultStallTimeoutMs;
    int m_idleTimeoutMs = DefaultIdleTimeoutMs;
};
