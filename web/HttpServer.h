#pragma once

#include "web/HttpAdmission.h"
#include "web/StaticFileRoute.h"
#include "web/UpgradeRoute.h"

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

class FileResponseCache;
class FileSender;
class HostCheck;
class HttpBodySink;
struct HttpConnection;
struct HttpRequest;
class HttpRoute;
class QFile;
class QHostAddress;
class QTcpServer;
class QTcpSocket;

// The small HTTP/1.1 server that hands the phone's browser the web client. It keeps the
// connections (admission, limits, deadlines, keep-alive, the hand-over of an upgrade); what is
// served is up to its table of routes: the browser channel's upgrade, the client's files for
// GET, a reserved JSON route for POST, and whatever is added; other requests get 405.
// Everything runs on the owning thread's event loop.
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
    // use up the process's file descriptors (and with them the phone's command connection);
    // except that a host holding fewer than another takes the oldest waiting place of that one.
    static constexpr int MaxConnections = 256;
    // Open connections from one host at most (IPv6 counted by /64); more are closed at once, so
    // that one host cannot take the slots of every other (a browser opens six or so).
    static constexpr int MaxConnectionsPerAddress = 16;
    // A request's head must be complete this long after its first byte; a new connection must
    // send its first request within it too.
    static constexpr int DefaultHeaderTimeoutMs = 10000;

    explicit HttpServer(QObject* parent = nullptr);
    ~HttpServer() override;

    // Listens on all addresses; false when already listening or the port cannot be bound.
    bool start(quint16 port);
    void stop();
    bool isListening() const { return m_server != nullptr; }
    // The bound port (useful after start(0)); 0 while stopped.
    quint16 port() const;

    void setUpgradeHandler(UpgradeHandler handler) { m_upgradeRoute->setHandler(std::move(handler)); }
    // Asked before the built-in routes, in the order added.
    void addRoute(std::unique_ptr<HttpRoute> route);
    // Connections the filter turns down are closed at once, before a byte is read.
    void setPeerFilter(PeerFilter filter) { m_admission->setPeerFilter(std::move(filter)); }
    void setStallTimeout(int milliseconds) { m_stallTimeoutMs = milliseconds; }
    void setHeaderTimeout(int milliseconds) { m_headerTimeoutMs = milliseconds; }
    void setIdleTimeout(int milliseconds) { m_idleTimeoutMs = milliseconds; }
    // The folders files are served from, searched in order; by default the "mobile" folder
    // beside the program and the one of an installed program. Never the current directory.
    void setClientFolders(const QStringList& folders) { m_fileRoute->setClientFolders(folders); }
    QStringList clientFolders() const { return m_fileRoute->clientFolders(); }
    static QStringList defaultClientFolders() { return StaticFileRoute::defaultClientFolders(); }

    // Large files go to the socket through `sender`; without one (null) they are read and
    // written in chunks through memory. By default the platform's sender, where there is one.
    void setFileSender(std::unique_ptr<FileSender> sender);
    // Recently served files; the clock (milliseconds since the epoch) decides which have settled.
    FileResponseCache& fileCache() { return m_fileRoute->fileCache(); }
    void setClock(std::function<qint64()> nowMs) { m_nowMs = std::move(nowMs); }
    // The names requests must be addressed to ("Host"); the WebSocket channel checks "Origin"
    // against the same. By default this system's names.
    std::shared_ptr<HostCheck> hostCheck() const { return m_admission->hostCheck(); }
    void setHostCheck(std::shared_ptr<HostCheck> check) { m_admission->setHostCheck(std::move(check)); }
    // Open HTTP connections, in all and from one address (as the peer filter sees it).
    int connectionCount() const { return static_cast<int>(m_connections.size()); }
    int connectionCount(const QHostAddress& peer) const { return m_admission->connectionCount(peer); }

    // A whole error answer: the status line, the usual headers plus `extraHeaders` (each
    // ending in CRLF), and the indented JSON body {"error": true, "message": message}.
    static QByteArray errorResponse(int statusCode, const QString& message,
                                    const QByteArray& extraHeaders = QByteArray());

private slots:
    void newConnection();

private:
    class Exchange;
    friend class Exchange;

    void handleRequest(QTcpSocket* socket, QByteArray& buffer);

    // What routes do with a connection, through the Exchange.
    void sendResponse(QTcpSocket* socket, const QByteArray& response);
    void sendErrorResponse(QTcpSocket* socket, int statusCode, const QString& message);
    void sendFile(QTcpSocket* socket, const QByteArray& head, std::unique_ptr<QFile> file, qint64 offset,
                  qint64 length);
    // Writes the last answer of a connection, which then closes once it is out.
    void closeWith(QTcpSocket* socket, const QByteArray& response);
    void receiveBody(QTcpSocket* socket, qint64 length, std::unique_ptr<HttpBodySink> sink,
                     const QByteArray& first);
    void takeBody(QTcpSocket* socket, HttpConnection& connection);
    QTcpSocket* handOver(QTcpSocket* socket);
    // Every place is taken: closes a waiting connection of a host holding more than `host`;
    // false when there is none.
    bool makeRoomFor(const QString& host);

    void receive(QTcpSocket* socket);
    void onBytesWritten(QTcpSocket* socket);
    void pumpFile(QTcpSocket* socket, HttpConnection& connection);
    void sendFileStep(QTcpSocket* socket, HttpConnection& connection);
    void continueAfterOutput(QTcpSocket* socket, HttpConnection& connection);
    void rearm(QTcpSocket* socket, HttpConnection& connection);
    void dropConnection(QTcpSocket* socket, const char* reason);
    void forget(QTcpSocket* socket);

    QTcpServer* m_server = nullptr;
    QMap<QTcpSocket*, QByteArray> m_buffers;
    std::unordered_map<QTcpSocket*, std::unique_ptr<HttpConnection>> m_connections;
    quint64 m_arrivals = 0;
    std::unique_ptr<FileSender> m_fileSender;
    std::function<qint64()> m_nowMs;
    // The table: added routes first, then the built-in ones; the first that matches answers.
    std::vector<std::unique_ptr<HttpRoute>> m_routes;
    std::size_t m_addedRoutes = 0;
    UpgradeRoute* m_upgradeRoute = nullptr;
    StaticFileRoute* m_fileRoute = nullptr;
    std::unique_ptr<HttpAdmission> m_admission;
    int m_headerTimeoutMs = DefaultHeaderTimeoutMs;
    int m_stallTimeoutMs = DefaultStallTimeoutMs;
    int m_idleTimeoutMs = DefaultIdleTimeoutMs;
};
