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
class HostCheck;
struct HttpRequest;
class QHostAddress;
class QTcpServer;
class QTcpSocket;

// The small HTTP/1.1 server that hands the phone's browser the web client: files from the
// installed "mobile" folder for GET, a reserved JSON route for POST, JSON error documents otherwise.
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
    // Open connections from one address at most; more are closed at once, so that one host
    // cannot take the slots of every other (a browser opens six or so).
    static constexpr int MaxConnectionsPerAddress = 16;
    // A request's head must be complete this long after its first byte.
    static constexpr int DefaultHeaderTimeoutMs = 10000;

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
    void setHeaderTimeout(int milliseconds) { m_headerTimeoutMs = milliseconds; }
    void setIdleTimeout(int milliseconds) { m_idleTimeoutMs = milliseconds; }
    // The folders files are served from, searched in order; by default the "mobile" folder
    // beside the program and the one of an installed program. Never the current directory.
    void setClientFolders(const QStringList& folders) { m_clientFolders = folders; }
    QStringList clientFolders() const { return m_clientFolders; }
    static QStringList defaultClientFolders();

    // Large files go to the socket through `sender`; without one (null) they are read and
    // written in chunks through memory. By default the platform's sender, where there is one.
    void setFileSender(std::unique_ptr<FileSender> sender);
    // Recently served files; the clock (milliseconds since the epoch) decides which have settled.
    FileResponseCache& fileCache() { return *m_fileCache; }
    void setClock(std::function<qint64()> nowMs) { m_nowMs = std::move(nowMs); }
    // The names requests must be addressed to ("Host"); the WebSocket channel checks "Origin"
    // against the same. By default this system's names.
    std::shared_ptr<HostCheck> hostCheck() const { return m_hostCheck; }
    void setHostCheck(std::shared_ptr<HostCheck> check) { m_hostCheck = std::move(check); }
    // Open HTTP connections, in all and from one address (as the peer filter sees it).
    int connectionCount() const { return static_cast<int>(m_connections.size()); }
    int connectionCount(const QHostAddress& peer) const;

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
    // Whether the request is addressed to this PC; if not it is answered and the connection closes.
    bool acceptsHost(QTcpSocket* socket, const HttpRequest& request);
    // Writes the last answer of a connection, which then closes once it is out.
    void closeWith(QTcpSocket* socket, const QByteArray& response);
    // Logs `line` unless a refusal of the same `key` (its kind and address) was logged lately.
    void noteRefusal(const QString& key, const QString& line);

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
    void untrack(const Connection& connection);
    // The found file's name as searched (empty when none), its absolute name and its identity.
    QString findFile(const QString& path, bool logging, QString* absolute, FileIdentity* identity) const;
    bool isInsideFolder(const QString& folder, const QString& relative) const;
    // The folder's canonical name, resolved again whenever the name leads to another directory.
    QString folderRoot(const QString& folder) const;

    QTcpServer* m_server = nullptr;
    QMap<QTcpSocket*, QByteArray> m_buffers;
    std::unordered_map<QTcpSocket*, std::unique_ptr<Connection>> m_connections;
    UpgradeHandler m_upgradeHandler;
    PeerFilter m_peerFilter;
    QStringList m_clientFolders;
    std::unique_ptr<FileSender> m_fileSender;
    std::unique_ptr<FileResponseCache> m_fileCache;
    std::function<qint64()> m_nowMs;
    mutable QHash<QString, std::pair<FileIdentity, QString>> m_folderRoots;
    std::shared_ptr<HostCheck> m_hostCheck;
    QHash<QString, int> m_openPerAddress;
    QHash<QString, qint64> m_refusalNotedMs; // by address, or "*" for the total
    int m_headerTimeoutMs = DefaultHeaderTimeoutMs;
    int m_stallTimeoutMs = DefaultStallTimeoutMs;
    int m_idleTimeoutMs = DefaultIdleTimeoutMs;
};
