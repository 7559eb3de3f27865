#include "web/HttpServer.h"

#include "platform/FileIdentity.h"
#include "platform/FileSender.h"
#include "web/FileResponseCache.h"
#include "web/HostCheck.h"
#include "web/HttpRequestParser.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QMimeDatabase>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <algorithm>

namespace {

// Files up to this size go out in one write (and are kept for the next request); larger ones
// go out in steps, so that a big file never sits whole in memory and one fast reader cannot
// hold the event loop for long.
constexpr qint64 WholeFileLimit = FileResponseCache::MaxBodyBytes;
constexpr qint64 ChunkBytes = 64 * 1024;
constexpr qint64 SendStepBytes = 512 * 1024;
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
    head += "\r\n"; // no CORS header: no other site's page may read what is served here
    head += extraHeaders;
    head += "\r\n";
    return head;
}

// The MIME database's answer for a regular file, by its name and, where the name does not
// decide, by its content: the bytes already read, or the open file (which keeps its position).
// The answer is kept with the file's cached response, which goes with any change of the file.
QByteArray mimeTypeName(const QString& fileName, const QByteArray& content)
{
    static const QMimeDatabase database;
    return database.mimeTypeForFileNameAndData(fileName, content).name().toUtf8();
}
QByteArray mimeTypeName(const QString& fileName, QIODevice* file)
{
    static const QMimeDatabase database;
    return database.mimeTypeForFileNameAndData(fileName, file).name().toUtf8();
}

// Refusals of one kind from one address are logged once in this time, so that a flood of them
// cannot flood the log as well.
constexpr qint64 kRefusalNoteMs = 60000;

// One text for an address whether it came in over IPv4 or IPv4-mapped on the dual-stack
// listener, so that switching families does not double a host's share.
QString addressKey(const QHostAddress& address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4).toString() : address.toString();
}

// A header value as it may appear in the log: short, and quoted with its escapes by QDebug.
QString shown(const QByteArray& value)
{
    return QString::fromLatin1(value.left(80));
}

QString absoluteClean(const QString& folder)
{
    // Only a relative name needs the working directory (a system call) to be made absolute.
    return QDir::cleanPath(QDir::isAbsolutePath(folder) ? folder : QDir(folder).absolutePath());
}

} // namespace

struct HttpServer::Connection
{
    // Parented to the socket, so it goes with it; stopped whenever the connection is forgotten.
    QTimer* deadline = nullptr;
    std::unique_ptr<QFile> file; // the file being sent, if any
    qint64 offset = 0;           // where its next bytes start
    qint64 remaining = 0;        // its bytes still to queue
    // Parented to the socket; enabled while a sent file waits for room in the socket.
    QSocketNotifier* writable = nullptr;
    bool handling = false; // inside handleRequest, where a flush may call back into us
    bool closing = false;  // the last answer is going out; nothing more is read
    QString address;       // the peer's, as counted against its share
};

HttpServer::HttpServer(QObject* parent)
    : QObject(parent)
    , m_clientFolders(defaultClientFolders())
    , m_fileSender(createFileSender())
    , m_fileCache(std::make_unique<FileResponseCache>())
    , m_nowMs([] { return QDateTime::currentMSecsSinceEpoch(); })
    , m_hostCheck(std::make_shared<HostCheck>())
{
}

HttpServer::~HttpServer()
{
    stop();
    m_buffers.clear();
}

void HttpServer::setFileSender(std::unique_ptr<FileSender> sender)
{
    m_fileSender = std::move(sender);
}

QStringList HttpServer::defaultClientFolders()
{
    // The folder beside the program (a build), then that of an installed program.
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
    m_openPerAddress.clear();
    m_buffers.clear();
    delete m_server;
    m_server = nullptr;
}

quint16 HttpServer::port() const
{
    return m_server ? m_server->serverPort() : 0;
}

int HttpServer::connectionCount(const QHostAddress& peer) const
{
    return m_openPerAddress.value(addressKey(peer));
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
        const QString address = addressKey(socket->peerAddress());
        const bool addressFull = m_openPerAddress.value(address) >= MaxConnectionsPerAddress;
        if (addressFull || m_connections.size() >= MaxConnections) {
            if (addressFull)
                noteRefusal(
                    address,
                    QStringLiteral("Too many HTTP connections from one address, closing new ones from ") +
                        address);
            else
                noteRefusal(QStringLiteral("*"),
                            QStringLiteral("Too many HTTP connections, closing new ones; the first from ") +
                                address);
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
            if (m_buffers.contains(socket))
                dropConnection(socket, "request head not complete in time");
            else
                dropConnection(socket, socket->bytesToWrite() == 0 ? "idle" : "response stalled");
        });
        connection->deadline->start(m_idleTimeoutMs);
        connection->address = address;
        ++m_openPerAddress[address];
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
    if (connection.handling || connection.closing || isBusy(socket, connection))
        return;
    const QByteArray bytes = socket->readAll();
    if (bytes.isEmpty())
        return;

    auto entry = m_buffers.find(socket);
    if (entry == m_buffers.end()) {
        entry = m_buffers.insert(socket, bytes);
        // Counted from the first byte: trickling a byte now and then does not keep it open.
        connection.deadline->start(m_headerTimeoutMs);
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
    if (!acceptsHost(socket, request))
        return;

    // The request is taken; bytes after it in the same buffer go with the entry. The entry
    // goes before anything is written, since a failed write can end the connection at once.
    const bool upgrade = m_upgradeHandler && request.isWebSocketUpgrade();
    const QByteArray raw = upgrade ? buffer : QByteArray();
    m_buffers.remove(socket);
    if (const auto found = m_connections.find(socket); found != m_connections.end())
        found->second->deadline->stop();

    if (upgrade) {
        const auto found = m_connections.find(socket);
        untrack(*found->second);
        delete found->second->deadline;
        delete found->second->writable;
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

bool HttpServer::acceptsHost(QTcpSocket* socket, const HttpRequest& request)
{
    // HTTP/1.1 requires exactly one Host; only an HTTP/1.0 client (never a browser) may omit it.
    const QList<QByteArray> hosts = request.headerValues("Host");
    const QByteArray named = hosts.value(0);
    if (hosts.size() > 1 || (hosts.size() == 1 && named.isEmpty()) ||
        (hosts.isEmpty() && request.version != QLatin1String("HTTP/1.0"))) {
        const QString address = addressKey(socket->peerAddress());
        noteRefusal(QStringLiteral("Host ") + address,
                    QStringLiteral("HTTP request refused, not exactly one Host header, from ") + address);
        closeWith(socket, errorResponse(400, QStringLiteral("Bad Request"), "Connection: close\r\n"));
        return false;
    }
    // A target in absolute form names its host too; it must be this PC as well.
    const QString targetHost = QUrl(request.target, QUrl::TolerantMode).host(QUrl::FullyEncoded);
    const QHostAddress local = socket->localAddress();
    const bool own =
        (named.isEmpty() || m_hostCheck->isOwnHost(named, local)) &&
        (targetHost.isEmpty() ||
         m_hostCheck->isOwnHost(
             (targetHost.contains(QLatin1Char(':')) ? '[' + targetHost + ']' : targetHost).toLatin1(),
             local));
    if (own)
        return true;
    const QString address = addressKey(socket->peerAddress());
    QString line;
    QDebug(&line) << "HTTP request refused, addressed to another host:"
                  << shown(named.isEmpty() ? targetHost.toLatin1() : named) << "from" << qPrintable(address);
    noteRefusal(QStringLiteral("Host ") + address, line.trimmed());
    closeWith(socket, errorResponse(421, QStringLiteral("Misdirected Request"), "Connection: close\r\n"));
    return false;
}

void HttpServer::closeWith(QTcpSocket* socket, const QByteArray& response)
{
    m_buffers.remove(socket);
    const auto found = m_connections.find(socket);
    if (found == m_connections.end())
        return;
    // Still counted against its address until it is gone; a peer that does not read is cut off.
    found->second->closing = true;
    found->second->deadline->start(m_stallTimeoutMs);
    socket->write(response);
    socket->disconnectFromHost();
}

void HttpServer::noteRefusal(const QString& key, const QString& line)
{
    const qint64 now = m_nowMs();
    const auto noted = m_refusalNotedMs.constFind(key);
    if (noted != m_refusalNotedMs.cend() && now - *noted >= 0 && now - *noted < kRefusalNoteMs)
        return;
    if (m_refusalNotedMs.size() >= 1024)
        m_refusalNotedMs.clear(); // at worst one more line per address
    m_refusalNotedMs.insert(key, now);
    qWarning().noquote() << line;
}

void HttpServer::serveStaticFile(QTcpSocket* socket, const QString& path)
{
    // The lines are formatted only when they go anywhere, since a disabled qDebug() still
    // builds its text.
    const bool logging = QLoggingCategory::defaultCategory()->isDebugEnabled();
    if (logging) {
        qDebug() << "Requested path:" << path;
        qDebug() << "Application directory:" << QCoreApplication::applicationDirPath();
    }

    QString absolute;
    FileIdentity identity;
    const QString fileName = findFile(path, logging, &absolute, &identity);
    if (fileName.isEmpty()) {
        qDebug() << "File not found for path:" << path;
        sendErrorResponse(socket, 404, QStringLiteral("Not Found"));
        return;
    }
    qDebug() << "File found at:" << fileName;
    sendFile(socket, fileName, absolute, identity);
}

QString HttpServer::folderRoot(const QString& folder) const
{
    FileIdentity identity;
    if (!identifyFile(folder, &identity))
        return QString();
    const auto known = m_folderRoots.constFind(folder);
    if (known != m_folderRoots.cend() && known->first == identity)
        return known->second;
    const QString root = QFileInfo(folder).canonicalFilePath();
    if (m_folderRoots.size() >= 16) // folders may be set anew; old ones need not pile up
        m_folderRoots.clear();
    m_folderRoots.insert(folder, {identity, root});
    return root;
}

bool HttpServer::isInsideFolder(const QString& folder, const QString& relative) const
{
    // The file's canonical name must lie below the folder's: no symlink and no relative trick
    // leads out. Checked on every request, cached answer or not, since a file or a folder on
    // the way may have been replaced by a link meanwhile.
    const QChar separator = QDir::separator();
    if (!relative.startsWith(separator)) // "mobile-private.txt" is no file of "mobile"
        return false;
    const QString root = folderRoot(folder);
    if (root.isEmpty())
        return false;
    // Without a link below the folder (and ".." is refused earlier), the file lies where its
    // name says; only a name with a link on the way needs resolving in full.
    for (int slash = relative.indexOf(separator, 1);; slash = relative.indexOf(separator, slash + 1)) {
        const QString prefix = folder + (slash < 0 ? relative : relative.left(slash));
        if (QFileInfo(prefix).isSymLink())
            return QFileInfo(folder + relative).canonicalFilePath().startsWith(root + separator);
        if (slash < 0)
            return true;
    }
}

QString HttpServer::findFile(const QString& path, bool logging, QString* absolute,
                             FileIdentity* identity) const
{
    if (!isConfinedRequestPath(path)) {
        qDebug() << "Rejected path outside the web folder:" << path;
        return QString();
    }
    QString relative = path == QLatin1String("/") ? QStringLiteral("/index.html") : path;
    relative.replace(QLatin1Char('/'), QDir::separator());

    // Only the installed client folders: whatever lies under our current directory (the home
    // folder, say) is no business of the phone's browser.
    QStringList seen;
    for (const QString& folder : m_clientFolders) {
        const QString clean = absoluteClean(folder);
        if (seen.contains(clean))
            continue;
        seen << clean;
        const QString candidate = folder + relative;
        if (logging)
            qDebug() << "Trying path:" << candidate;
        const QString name = clean + relative;
        if (identifyFile(name, identity) && identity->regular && isInsideFolder(clean, relative)) {
            *absolute = name;
            return candidate;
        }
    }
    return QString();
}

void HttpServer::sendFile(QTcpSocket* socket, const QString& fileName, const QString& absolute,
                          const FileIdentity& seen)
{
    // A small file unchanged since it was last read goes out without being opened.
    const FileResponseCache::Entry* entry = m_fileCache->find(absolute, seen);
    if (entry != nullptr && !entry->response.isEmpty()) {
        sendResponse(socket, entry->response);
        return;
    }
    QByteArray head = entry != nullptr ? entry->head : QByteArray();

    auto file = std::make_unique<QFile>(fileName);
    if (!file->open(QIODevice::ReadOnly)) {
        sendErrorResponse(socket, 500, QStringLiteral("Internal Server Error"));
        return;
    }
    // From here on the identity of what was opened, not of what the name meant a moment ago.
    FileIdentity identity;
    const bool identified = identifyOpenFile(file->handle(), &identity);
    if (!identified || identity != seen)
        head.clear();

    const qint64 size = identified ? identity.size : file->size();
    if (size <= WholeFileLimit) {
        const QByteArray content = file->readAll();
        file->close();
        const bool complete = identified && content.size() == identity.size;
        if (head.isEmpty() || !complete)
            head = responseHead("HTTP/1.1 200 OK", mimeTypeName(fileName, content), content.size());
        const QByteArray response = head + content;
        if (complete)
            m_fileCache->store(absolute, {identity, head, response}, m_nowMs());
        sendResponse(socket, response);
        return;
    }

    if (head.isEmpty()) {
        head = responseHead("HTTP/1.1 200 OK", mimeTypeName(fileName, file.get()), size);
        if (identified)
            m_fileCache->store(absolute, {identity, head, QByteArray()}, m_nowMs());
    }
    const auto found = m_connections.find(socket);
    if (found == m_connections.end())
        return;
    Connection& connection = *found->second;
    connection.file = std::move(file);
    connection.offset = 0;
    connection.remaining = size;
    socket->write(head);
    if (!m_fileSender) {
        streamFile(socket, connection);
        if (m_connections.count(socket))
            socket->flush();
        return;
    }
    // The head must be out before the file's bytes go past Qt's buffer. Its bytesWritten
    // normally takes the first step, but not when we are inside another bytesWritten already.
    socket->flush();
    const auto after = m_connections.find(socket);
    if (after != m_connections.end() && after->second->file && after->second->offset == 0)
        sendFileStep(socket, *after->second);
}

void HttpServer::sendResponse(QTcpSocket* socket, const QByteArray& response)
{
    // Straight to the socket while nothing waits in Qt's buffer: going through it would switch
    // its write notifier on and off again for every answer.
    qint64 sent = 0;
    if (m_fileSender && socket->bytesToWrite() == 0) {
        sent = m_fileSender->sendBytes(socket->socketDescriptor(), response.constData(), response.size());
        if (sent < 0) {
            dropConnection(socket, "sending the answer failed");
            return;
        }
    }
    if (sent < response.size()) {
        socket->write(response.constData() + sent, response.size() - sent);
        socket->flush();
    }
}

void HttpServer::pumpFile(QTcpSocket* socket, Connection& connection)
{
    if (m_fileSender)
        sendFileStep(socket, connection);
    else
        streamFile(socket, connection);
}

void HttpServer::streamFile(QTcpSocket* socket, Connection& connection)
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

void HttpServer::sendFileStep(QTcpSocket* socket, Connection& connection)
{
    // Bytes still in Qt's buffer (the head) go first; their bytesWritten brings us back.
    if (socket->bytesToWrite() > 0)
        return;
    const FileSender::Result result =
        m_fileSender->send(socket->socketDescriptor(), connection.file->handle(), connection.offset,
                           std::min(SendStepBytes, connection.remaining));
    connection.offset += result.bytes;
    connection.remaining -= result.bytes;
    if (result.status == FileSender::Status::Failed) {
        dropConnection(socket, "sending the file failed");
        return;
    }
    if (connection.remaining == 0) {
        connection.file.reset();
        return;
    }
    if (result.status == FileSender::Status::EndOfFile) {
        dropConnection(socket, "file ended before its announced length");
        return;
    }
    if (result.bytes > 0 && !connection.handling)
        connection.deadline->start(m_stallTimeoutMs);
    // The next step waits for room in the socket: at once for a fast reader, whenever a slow
    // one reads. Either way the event loop serves everyone else in between.
    if (connection.writable == nullptr) {
        connection.writable = new QSocketNotifier(socket->socketDescriptor(), QSocketNotifier::Write, socket);
        connect(connection.writable, &QSocketNotifier::activated, this, [this, socket] {
            auto found = m_connections.find(socket);
            if (found == m_connections.end())
                return;
            found->second->writable->setEnabled(false);
            if (found->second->file)
                sendFileStep(socket, *found->second);
            found = m_connections.find(socket);
            if (found != m_connections.end())
                continueAfterOutput(socket, *found->second);
        });
    }
    connection.writable->setEnabled(true);
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
    continueAfterOutput(socket, *found->second);
}

void HttpServer::continueAfterOutput(QTcpSocket* socket, Connection& connection)
{
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
    if (connection.closing)
        return; // its deadline runs until the last answer is out
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
    // Before the socket closes its descriptor, which the notifier would otherwise keep polling.
    delete found->second->writable;
    untrack(*found->second);
    m_connections.erase(found);
}

void HttpServer::untrack(const Connection& connection)
{
    const auto open = m_openPerAddress.find(connection.address);
    if (open != m_openPerAddress.end() && --*open <= 0)
        m_openPerAddress.erase(open);
}
