#include "web/HttpServer.h"

#include "platform/files/FileSender.h"
#include "web/HttpAdmission.h"
#include "web/HttpConnection.h"
#include "web/HttpRequestParser.h"
#include "web/HttpResponse.h"
#include "web/HttpRoute.h"
#include "web/HttpServerExchange.h"
#include "web/StaticFileRoute.h"
#include "web/UpgradeRoute.h"

#include <QDateTime>
#include <QDebug>
#include <QFile>
#include <QHash>
#include <QHostAddress>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <algorithm>

HttpServer::HttpServer(QObject* parent)
    : QObject(parent)
    , m_fileSender(createFileSender())
    , m_nowMs([] { return QDateTime::currentMSecsSinceEpoch(); })
    , m_admission(std::make_unique<HttpAdmission>(MaxConnections, MaxConnectionsPerAddress,
                                                  [this] { return m_nowMs(); }))
{
    auto upgrade = std::make_unique<UpgradeRoute>();
    auto files = std::make_unique<StaticFileRoute>([this] { return m_nowMs(); });
    m_upgradeRoute = upgrade.get();
    m_fileRoute = files.get();
    m_routes.push_back(std::move(upgrade));
    m_routes.push_back(std::move(files));
    m_routes.push_back(std::make_unique<ApiRoute>());
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

void HttpServer::addRoute(std::unique_ptr<HttpRoute> route)
{
    m_routes.insert(m_routes.begin() + static_cast<std::ptrdiff_t>(m_addedRoutes++), std::move(route));
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
    m_admission->clear();
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
        const QString host = HttpAdmission::hostKey(socket->peerAddress());
        HttpAdmission::Verdict verdict =
            m_admission->admit(socket->peerAddress(), static_cast<int>(m_connections.size()));
        if (verdict == HttpAdmission::Verdict::Full && makeRoomFor(host))
            verdict = m_admission->admit(socket->peerAddress(), static_cast<int>(m_connections.size()));
        if (verdict != HttpAdmission::Verdict::Admitted) {
            if (verdict == HttpAdmission::Verdict::Full)
                m_admission->noteFull(host);
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // Unread bytes stay bounded; beyond this TCP flow control holds the peer back.
        socket->setReadBufferSize(HttpRequestParser::MaxHeadBytes);
        auto connection = std::make_unique<HttpConnection>(socket, host);
        connection->arrival = m_arrivals++;
        connect(connection->deadline, &QTimer::timeout, this, [this, socket] {
            const auto found = m_connections.find(socket);
            if (m_buffers.contains(socket))
                dropConnection(socket, "request head not complete in time");
            else if (found != m_connections.end() && found->second->body)
                dropConnection(socket, "request body stalled");
            else
                dropConnection(socket, socket->bytesToWrite() == 0 ? "idle" : "response stalled");
        });
        // A connection that never sends a byte holds its place no longer than a slow request.
        connection->deadline->start(m_headerTimeoutMs);
        m_connections[socket] = std::move(connection);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { receive(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            forget(socket);
            socket->deleteLater();
        });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] { onBytesWritten(socket); });
    }
}

bool HttpServer::makeRoomFor(const QString& host)
{
    // The oldest connection waiting for a request of the host holding the most places, if that
    // is more than `host` holds: hosts that fill the port cannot keep out one holding fewer
    // (the phone, or this PC's own browser), and none takes more than an equal share this way.
    const int held = m_admission->hostCount(host);
    const HttpConnection* chosen = nullptr;
    int chosenHolds = held;
    for (const auto& entry : m_connections) {
        const HttpConnection& candidate = *entry.second;
        if (candidate.handling || candidate.closing || candidate.body || candidate.file ||
            candidate.socket->bytesToWrite() > 0)
            continue; // an answer is under way
        const int holds = m_admission->hostCount(candidate.address);
        if (holds > chosenHolds ||
            (chosen != nullptr && holds == chosenHolds && candidate.arrival < chosen->arrival)) {
            chosen = &candidate;
            chosenHolds = holds;
        }
    }
    if (chosen == nullptr)
        return false;
    dropConnection(chosen->socket, "its place went to a host holding fewer");
    return true;
}

void HttpServer::receive(QTcpSocket* socket)
{
    const auto found = m_connections.find(socket);
    if (found == m_connections.end())
        return;
    HttpConnection& connection = *found->second;
    // While an answer is still going out, further requests wait in the socket (bounded).
    if (connection.handling || connection.closing || connection.isBusy())
        return;
    if (connection.body) {
        takeBody(socket, connection);
        return;
    }
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
    if (after->second->body)
        takeBody(socket, *after->second);
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
    const QByteArray refusal =
        m_admission->refusalFor(request, socket->peerAddress(), socket->localAddress());
    if (!refusal.isEmpty()) {
        closeWith(socket, refusal);
        return;
    }

    const auto route = std::find_if(m_routes.cbegin(), m_routes.cend(), [&request](const auto& candidate) {
        return candidate->matches(request);
    });
    // The request is taken; bytes after it in the same buffer go with the entry. The entry
    // goes before anything is written, since a failed write can end the connection at once.
    // A route taking the socket over gets the raw bytes read so far.
    const QByteArray raw = buffer;
    m_buffers.remove(socket);
    if (const auto found = m_connections.find(socket); found != m_connections.end())
        found->second->deadline->stop();

    Exchange exchange(this, socket, &raw, request.body.size());
    if (route != m_routes.cend())
        (*route)->handle(request, exchange);
    else
        sendErrorResponse(socket, 405, QStringLiteral("Method Not Allowed"));
}

QTcpSocket* HttpServer::handOver(QTcpSocket* socket)
{
    const auto found = m_connections.find(socket);
    if (found != m_connections.end()) {
        m_admission->release(found->second->address);
        delete found->second->deadline;
        found->second->deadline = nullptr;
        m_connections.erase(found);
    }
    socket->disconnect(this);
    socket->setReadBufferSize(0);
    socket->setParent(nullptr);
    return socket;
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

void HttpServer::receiveBody(QTcpSocket* socket, qint64 length, std::unique_ptr<HttpBodySink> sink,
                             const QByteArray& first)
{
    const auto found = m_connections.find(socket);
    if (found == m_connections.end())
        return;
    const QByteArray failure = found->second->startBody(std::move(sink), length, first);
    if (!failure.isEmpty())
        closeWith(socket, failure);
    else
        found->second->deadline->start(m_stallTimeoutMs);
}

void HttpServer::takeBody(QTcpSocket* socket, HttpConnection& connection)
{
    const QByteArray failure = connection.readBody(m_stallTimeoutMs);
    if (!failure.isEmpty()) {
        closeWith(socket, failure);
        return;
    }
    if (connection.bodyRemaining > 0)
        return;
    const std::unique_ptr<HttpBodySink> sink = std::move(connection.body);
    connection.handling = true;
    Exchange exchange(this, socket, nullptr, 0);
    sink->finish(exchange);
    const auto after = m_connections.find(socket);
    if (after == m_connections.end())
        return;
    after->second->handling = false;
    continueAfterOutput(socket, *after->second);
}

void HttpServer::sendFile(QTcpSocket* socket, const QByteArray& head, std::unique_ptr<QFile> file,
                          qint64 offset, qint64 length)
{
    const auto found = m_connections.find(socket);
    if (found == m_connections.end())
        return;
    found->second->startFile(std::move(file), offset, length);
    socket->write(head);
    if (!m_fileSender) {
        if (const char* failure = found->second->streamStep()) {
            dropConnection(socket, failure);
            return;
        }
        socket->flush();
        return;
    }
    // The head must be out before the file's bytes go past Qt's buffer. Its bytesWritten
    // normally takes the first step, but not when we are inside another bytesWritten already.
    socket->flush();
    const auto after = m_connections.find(socket);
    if (after != m_connections.end() && after->second->file && after->second->offset == offset)
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

void HttpServer::pumpFile(QTcpSocket* socket, HttpConnection& connection)
{
    if (m_fileSender) {
        sendFileStep(socket, connection);
    } else if (const char* failure = connection.streamStep()) {
        dropConnection(socket, failure);
    }
}

void HttpServer::sendFileStep(QTcpSocket* socket, HttpConnection& connection)
{
    const char* failure = connection.sendStep(*m_fileSender, m_stallTimeoutMs, [this, socket] {
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
    if (failure != nullptr)
        dropConnection(socket, failure);
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

void HttpServer::continueAfterOutput(QTcpSocket* socket, HttpConnection& connection)
{
    if (connection.handling)
        return;
    rearm(socket, connection);
    if (!connection.isBusy() && socket->bytesAvailable() > 0)
        receive(socket);
}

QByteArray HttpServer::errorResponse(int statusCode, const QString& message, const QByteArray& extraHeaders)
{
    return HttpResponse::error(statusCode, message, extraHeaders);
}

void HttpServer::sendErrorResponse(QTcpSocket* socket, int statusCode, const QString& message)
{
    socket->write(errorResponse(statusCode, message));
    socket->flush();
}

void HttpServer::rearm(QTcpSocket* socket, HttpConnection& connection)
{
    if (connection.closing)
        return; // its deadline runs until the last answer is out
    if (m_buffers.contains(socket))
        return; // a request is coming in: its deadline runs from its first byte
    if (connection.body) {
        connection.deadline->start(m_stallTimeoutMs); // its body is coming in
        return;
    }
    // Progress on the way out: the peer is reading, so it gets a fresh allowance.
    if (connection.file || socket->bytesToWrite() > 0)
        connection.deadline->start(m_stallTimeoutMs);
    else
        connection.deadline->start(m_idleTimeoutMs);
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
    m_admission->release(found->second->address);
    m_connections.erase(found);
}
