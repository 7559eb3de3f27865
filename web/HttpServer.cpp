#include "web/HttpServer.h"

#include "web/HttpRequestParser.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeDatabase>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

namespace {

// Files up to this size go out in one write; larger ones are streamed in chunks so that a
// big file never sits whole in memory.
constexpr qint64 WholeFileLimit = 256 * 1024;
constexpr qint64 ChunkBytes = 64 * 1024;
// A connection stops taking requests, and a stream stops reading its file, while this much
// is still queued for the peer.
constexpr qint64 WriteHighWater = 256 * 1024;

QByteArray responseHead(const QByteArray& statusLine, const QByteArray& contentType, qint64 contentLength,
                        const QByteArray& extraHeaders = QByteArray())
{
    QByteArray head;
    head.reserve(160);
    head += statusLine;
    head += "\r\nContent-Type: ";
    head += contentType;
    head += "\r\nContent-Length: ";
    head += QByteArray::number(contentLength);
    head += "\r\nAccess-Control-Allow-Origin: *\r\n";
    head += extraHeaders;
    head += "\r\n";
    return head;
}

// The file's canonical name lies below the folder's: no symlink and no relative trick leads out.
bool isInsideFolder(const QFileInfo& file, const QString& folder)
{
    const QString root = QFileInfo(folder).canonicalFilePath();
    if (root.isEmpty())
        return false;
    return file.canonicalFilePath().startsWith(root + QLatin1Char('/'));
}

// The MIME database's answer for a file. Matching the name against every glob pattern costs
// more than the rest of a request, so where the name alone decides (one pattern matches, and
// the database then never looks at the content) the answer is kept by name.
QByteArray mimeTypeName(const QFileInfo& file)
{
    static const QMimeDatabase database;
    thread_local QHash<QString, QByteArray> decidedByName;
    const QString name = file.fileName();
    const auto known = decidedByName.constFind(name);
    if (known != decidedByName.cend())
        return *known;
    const QByteArray type = database.mimeTypeForFile(file, QMimeDatabase::MatchDefault).name().toUtf8();
    if (database.mimeTypesForFileName(name).size() == 1) {
        if (decidedByName.size() >= 1024)
            decidedByName.clear();
        decidedByName.insert(name, type);
    }
    return type;
}

QString absoluteClean(const QString& folder)
{
    return QDir::cleanPath(QDir(folder).absolutePath());
}

} // namespace

struct HttpServer::Connection
{
    // Parented to the socket, so it goes with it; stopped whenever the connection is forgotten.
    QTimer* deadline = nullptr;
    std::unique_ptr<QFile> file; // the file being streamed, if any
    qint64 remaining = 0;        // its bytes still to queue
    bool handling = false;       // inside handleRequest, where a flush may call back into us
};

HttpServer::HttpServer(QObject* parent)
    : QObject(parent)
    , m_fallbackFolders(defaultFallbackFolders())
{
}

HttpServer::~HttpServer()
{
    stop();
    m_buffers.clear();
}

QStringList HttpServer::defaultFallbackFolders()
{
    // The working directory moves whenever a player or an application is launched, so the
    // folder beside the program (and that of an installed program) is searched as well.
    const QString programDir = QCoreApplication::applicationDirPath();
    QStringList folders{programDir + QStringLiteral("/mobile")};
    folders << QDir::cleanPath(programDir + QLatin1Char('/') +
                               QStringLiteral(VELMORA_INSTALLED_MOBILE_FROM_BINARY));
    folders.removeDuplicates();
    return folders;
}

bool HttpServer::start(quint16 port)
{
    if (m_server)
        return false;
    m_server = new QTcpServer(this);
    connect(m_server, &QTcpServer::newConnection, this, &HttpServer::newConnection);
    if (!m_server->listen(QHostAddress::Any, port)) {
        delete m_server;
        m_server = nullptr;
        return false;
    }
    return true;
}

void HttpServer::stop()
{
    if (!m_server)
        return;
    m_server->close();
    // The listener takes its client sockets with it; they must not call back while they go.
    for (QTcpSocket* socket : m_server->findChildren<QTcpSocket*>())
        socket->disconnect(this);
    m_connections.clear();
    m_buffers.clear();
    delete m_server;
    m_server = nullptr;
}

quint16 HttpServer::port() const
{
    return m_server ? m_server->serverPort() : 0;
}

void HttpServer::newConnection()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        if (m_peerFilter && !m_peerFilter(socket->peerAddress())) {
            // An IPv4 peer reaches the dual-stack listener IPv4-mapped; it is logged as IPv4.
            bool isV4 = false;
            const quint32 v4 = socket->peerAddress().toIPv4Address(&isV4);
            qWarning().noquote() << "Connection refused, not from the local network:"
                                 << (isV4 ? QHostAddress(v4) : socket->peerAddress()).toString();
            socket->abort();
            socket->deleteLater();
            continue;
        }
        if (m_connections.size() >= MaxConnections) {
            qWarning() << "Too many HTTP connections, refusing one from" << socket->peerAddress().toString();
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // Unread bytes stay bounded; beyond this TCP flow control holds the peer back.
        socket->setReadBufferSize(HttpRequestParser::MaxHeadBytes);
        auto connection = std::make_unique<Connection>();
        connection->deadline = new QTimer(socket);
        connection->deadline->setSingleShot(true);
        connect(connection->deadline, &QTimer::timeout, this, [this, socket] {
            const bool idle = !m_buffers.contains(socket) && socket->bytesToWrite() == 0;
            dropConnection(socket, idle ? "idle" : "request or response stalled");
        });
        connection->deadline->start(m_idleTimeoutMs);
        m_connections[socket] = std::move(connection);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { receive(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            forget(socket);
            socket->deleteLater();
        });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] { onBytesWritten(socket); });
    }
}

void HttpServer::receive(QTcpSocket* socket)
{
    const auto found = m_connections.find(socket);
    if (found == m_connections.end())
        return;
    Connection& connection = *found->second;
    // While an answer is still going out, further requests wait in the socket (bounded).
    if (connection.handling || isBusy(socket, connection))
        return;
    const QByteArray bytes = socket->readAll();
    if (bytes.isEmpty())
        return;

    auto entry = m_buffers.find(socket);
    if (entry == m_buffers.end()) {
        entry = m_buffers.insert(socket, bytes);
        // Counted from the first byte: trickling a byte now and then does not keep it open.
        connection.deadline->start(m_stallTimeoutMs);
    } else {
        entry->append(bytes);
    }

    connection.handling = true;
    handleRequest(socket, *entry);

    // A failed flush may have dropped the connection meanwhile.
    const auto after = m_connections.find(socket);
    if (after == m_connections.end())
        return;
    after->second->handling = false;
    rearm(socket, *after->second);
}

void HttpServer::handleRequest(QTcpSocket* socket, QByteArray& buffer)
{
    HttpRequest request;
    switch (HttpRequestParser::parse(buffer, &request)) {
    case HttpRequestParser::Result::Incomplete:
        return;
    case HttpRequestParser::Result::TooLarge:
        dropConnection(socket, "request head too large");
        return;
    case HttpRequestParser::Result::Malformed:
        // Nothing later on this connection could be told apart from the bad line.
        dropConnection(socket, "malformed request line");
        return;
    case HttpRequestParser::Result::Complete:
        break;
    }

    // The request is taken; bytes after it in the same buffer go with the entry. The entry
    // goes before anything is written, since a failed write can end the connection at once.
    const bool upgrade = m_upgradeHandler && request.isWebSocketUpgrade();
    const QByteArray raw = upgrade ? buffer : QByteArray();
    m_buffers.remove(socket);
    if (const auto found = m_connections.find(socket); found != m_connections.end())
        found->second->deadline->stop();

    if (upgrade) {
        const auto found = m_connections.find(socket);
        delete found->second->deadline;
        m_connections.erase(found);
        socket->disconnect(this);
        socket->setReadBufferSize(0);
        socket->setParent(nullptr);
        m_upgradeHandler(socket, raw);
        return;
    }

    if (request.method == QLatin1String("GET")) {
        serveStaticFile(socket, request.path);
    } else if (request.method == QLatin1String("POST")) {
        const QJsonDocument document = QJsonDocument::fromJson(request.body);
        if (document.isNull() || !document.isObject())
            sendErrorResponse(socket, 400, QStringLiteral("Bad Request"));
        else if (request.path != QLatin1String("/api/xxx"))
            sendErrorResponse(socket, 404, QStringLiteral("Not Found"));
        // "/api/xxx" is reserved for the client; nothing handles it yet, so nothing is written.
    } else {
        sendErrorResponse(socket, 405, QStringLiteral("Method Not Allowed"));
    }
}

void HttpServer::serveStaticFile(QTcpSocket* socket, const QString& path)
{
    qDebug() << "Requested path:" << path;
    qDebug() << "Current directory:" << QDir::currentPath();
    qDebug() << "Application directory:" << QCoreApplication::applicationDirPath();

    const QString fileName = findFile(path);
    if (fileName.isEmpty()) {
        qDebug() << "File not found for path:" << path;
        sendErrorResponse(socket, 404, QStringLiteral("Not Found"));
        return;
    }
    qDebug() << "File found at:" << fileName;
    sendFile(socket, fileName);
}

QString HttpServer::findFile(const QString& path) const
{
    if (!isConfinedRequestPath(path)) {
        qDebug() << "Rejected path outside the web folder:" << path;
        return QString();
    }
    QString relative = path == QLatin1String("/") ? QStringLiteral("/index.html") : path;
    relative.replace(QLatin1Char('/'), QDir::separator());

    const QString workingFolder = QDir::currentPath() + QDir::separator() + QStringLiteral("mobile");
    QStringList folders{QStringLiteral("mobile"), workingFolder};
    QStringList seen{absoluteClean(workingFolder)};
    for (const QString& folder : m_fallbackFolders) {
        const QString absolute = absoluteClean(folder);
        if (!seen.contains(absolute)) {
            seen << absolute;
            folders << folder;
        }
    }

    for (const QString& folder : qAsConst(folders)) {
        const QString candidate = folder + relative;
        qDebug() << "Trying path:" << candidate;
        const QFileInfo info(candidate);
        if (info.exists() && info.isFile() && isInsideFolder(info, folder))
            return candidate;
    }
    return QString();
}

void HttpServer::sendFile(QTcpSocket* socket, const QString& fileName)
{
    auto file = std::make_unique<QFile>(fileName);
    if (!file->open(QIODevice::ReadOnly)) {
        sendErrorResponse(socket, 500, QStringLiteral("Internal Server Error"));
        return;
    }
    const QByteArray contentType = mimeTypeName(QFileInfo(fileName));

    const qint64 size = file->size();
    if (size <= WholeFileLimit) {
        const QByteArray content = file->readAll();
        file->close();
        socket->write(responseHead("HTTP/1.1 200 OK", contentType, content.size()) + content);
        socket->flush();
        return;
    }

    const auto found = m_connections.find(socket);
    if (found == m_connections.end())
        return;
    Connection& connection = *found->second;
    connection.file = std::move(file);
    connection.remaining = size;
    socket->write(responseHead("HTTP/1.1 200 OK", contentType, size));
    pumpFile(socket, connection);
    if (m_connections.count(socket))
        socket->flush();
}

void HttpServer::pumpFile(QTcpSocket* socket, Connection& connection)
{
    while (connection.remaining > 0 && socket->bytesToWrite() < WriteHighWater) {
        const QByteArray chunk = connection.file->read(std::min(ChunkBytes, connection.remaining));
        if (chunk.isEmpty()) {
            // The file shrank or failed: the promised length cannot be kept, so the peer must
            // see the connection end rather than take the next response as file content.
            dropConnection(socket, "file ended before its announced length");
            return;
        }
        socket->write(chunk);
        connection.remaining -= chunk.size();
    }
    if (connection.remaining == 0)
        connection.file.reset();
}

void HttpServer::onBytesWritten(QTcpSocket* socket)
{
    auto found = m_connections.find(socket);
    if (found == m_connections.end())
        return;
    if (found->second->file) {
        pumpFile(socket, *found->second);
        found = m_connections.find(socket);
        if (found == m_connections.end())
            return;
    }
    Connection& connection = *found->second;
    if (connection.handling)
        return;
    rearm(socket, connection);
    if (!isBusy(socket, connection) && socket->bytesAvailable() > 0)
        receive(socket);
}

QByteArray HttpServer::errorResponse(int statusCode, const QString& message, const QByteArray& extraHeaders)
{
    QJsonObject object;
    object.insert(QStringLiteral("error"), true);
    object.insert(QStringLiteral("message"), message);
    const QByteArray body = QJsonDocument(object).toJson();
    const QByteArray statusLine = "HTTP/1.1 " + QByteArray::number(statusCode) + ' ' + message.toUtf8();
    return responseHead(statusLine, "application/json", body.size(), extraHeaders) + body;
}

void HttpServer::sendErrorResponse(QTcpSocket* socket, int statusCode, const QString& message)
{
    socket->write(errorResponse(statusCode, message));
    socket->flush();
}

void HttpServer::rearm(QTcpSocket* socket, Connection& connection)
{
    if (m_buffers.contains(socket))
        return; // a request is coming in: its deadline runs from its first byte
    // Progress on the way out: the peer is reading, so it gets a fresh allowance.
    if (connection.file || socket->bytesToWrite() > 0)
        connection.deadline->start(m_stallTimeoutMs);
    else
        connection.deadline->start(m_idleTimeoutMs);
}

bool HttpServer::isBusy(QTcpSocket* socket, const Connection& connection) const
{
    return connection.file != nullptr || socket->bytesToWrite() > WriteHighWater;
}

void HttpServer::dropConnection(QTcpSocket* socket, const char* reason)
{
    qDebug() << "Closing HTTP connection:" << reason;
    forget(socket);
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

void HttpServer::forget(QTcpSocket* socket)
{
    m_buffers.remove(socket);
    const auto found = m_connections.find(socket);
    if (found == m_connections.end())
        return;
    found->second->deadline->stop();
    m_connections.erase(found);
}
